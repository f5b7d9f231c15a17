// PNG files for the page's tests, written and read here with Node's zlib, so
// that the test knows every byte a picture holds, hidden colours included.
import zlib from 'node:zlib';

const crcTable = new Uint32Array(256).map((_, n) => {
  let c = n;
  for (let k = 0; k < 8; k++) c = c & 1 ? 0xedb88320 ^ (c >>> 1) : c >>> 1;
  return c >>> 0;
});
function crc(bytes) {
  let c = 0xffffffff;
  for (const b of bytes) c = crcTable[(c ^ b) & 255] ^ (c >>> 8);
  return (c ^ 0xffffffff) >>> 0;
}
function chunk(type, data) {
  const out = Buffer.alloc(12 + data.length);
  out.writeUInt32BE(data.length, 0);
  out.write(type, 4, 'latin1');
  data.copy(out, 8);
  out.writeUInt32BE(crc(out.subarray(4, 8 + data.length)), 8 + data.length);
  return out;
}
const signature = Buffer.from([137, 80, 78, 71, 13, 10, 26, 10]);

export function header(width, height, planes) {
  const h = Buffer.alloc(13);
  h.writeUInt32BE(width, 0);
  h.writeUInt32BE(height, 4);
  h[8] = 8;
  h[9] = planes === 4 ? 6 : 2;
  return h;
}

// An EXIF block (big-endian TIFF) holding only the orientation tag.
export function exifOrientation(orientation) {
  return Buffer.from([0x4d, 0x4d, 0, 42, 0, 0, 0, 8, 0, 1, 0x01, 0x12, 0, 3, 0, 0, 0, 1, 0, orientation, 0, 0, 0, 0, 0, 0, 0, 0]);
}

// 8 bits a sample, RGB or RGBA, unfiltered rows; with an eXIf chunk when an
// orientation is given.
export function writePng(width, height, planes, pixels, level = 6, orientation = 0) {
  const row = width * planes;
  const raw = Buffer.alloc((row + 1) * height);
  for (let y = 0; y < height; y++) Buffer.from(pixels.buffer, pixels.byteOffset + y * row, row).copy(raw, y * (row + 1) + 1);
  return Buffer.concat([signature, chunk('IHDR', header(width, height, planes)),
    ...(orientation ? [chunk('eXIf', exifOrientation(orientation))] : []),
    chunk('IDAT', zlib.deflateSync(raw, {level})), chunk('IEND', Buffer.alloc(0))]);
}

// A PNG whose header claims width x height, its pixels left out.
export function claimPng(width, height) {
  return Buffer.concat([signature, chunk('IHDR', header(width, height, 3)), chunk('IEND', Buffer.alloc(0))]);
}

// 8-bit RGB or RGBA, not interlaced, any filter: what the page writes.
export function readPng(file) {
  if (!file.subarray(0, 8).equals(signature)) throw new Error('not a PNG');
  let width = 0, height = 0, planes = 0;
  const idat = [];
  for (let at = 8; at < file.length;) {
    const length = file.readUInt32BE(at), type = file.toString('latin1', at + 4, at + 8);
    const data = file.subarray(at + 8, at + 8 + length);
    if (crc(file.subarray(at + 4, at + 8 + length)) !== file.readUInt32BE(at + 8 + length)) throw new Error(`bad CRC in ${type}`);
    if (type === 'IHDR') {
      width = data.readUInt32BE(0), height = data.readUInt32BE(4);
      if (data[8] !== 8 || (data[9] !== 2 && data[9] !== 6) || data[12] !== 0) throw new Error('not 8-bit RGB(A)');
      planes = data[9] === 6 ? 4 : 3;
    } else if (type === 'IDAT') idat.push(data);
    at += 12 + length;
  }
  const raw = zlib.inflateSync(Buffer.concat(idat));
  const row = width * planes;
  const pixels = Buffer.alloc(row * height);
  for (let y = 0; y < height; y++) {
    const filter = raw[y * (row + 1)];
    for (let x = 0; x < row; x++) {
      const v = raw[y * (row + 1) + 1 + x];
      const a = x >= planes ? pixels[y * row + x - planes] : 0;
      const b = y > 0 ? pixels[(y - 1) * row + x] : 0;
      const c = x >= planes && y > 0 ? pixels[(y - 1) * row + x - planes] : 0;
      const p = a + b - c, pa = Math.abs(p - a), pb = Math.abs(p - b), pc = Math.abs(p - c);
      const predicted = [0, a, b, (a + b) >> 1, pa <= pb && pa <= pc ? a : pb <= pc ? b : c][filter];
      pixels[y * row + x] = v + predicted;
    }
  }
  return {width, height, planes, pixels};
}
