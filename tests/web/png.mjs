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
export function chunk(type, data) {
  const out = Buffer.alloc(12 + data.length);
  out.writeUInt32BE(data.length, 0);
  out.write(type, 4, 'latin1');
  data.copy(out, 8);
  out.writeUInt32BE(crc(out.subarray(4, 8 + data.length)), 8 + data.length);
  return out;
}
const signature = Buffer.from([137, 80, 78, 71, 13, 10, 26, 10]);

const colourTypes = [0, 0, 4, 2, 6]; // by planes: grey, grey and alpha, RGB, RGBA
export function header(width, height, planes, bits = 8) {
  const h = Buffer.alloc(13);
  h.writeUInt32BE(width, 0);
  h.writeUInt32BE(height, 4);
  h[8] = bits;
  h[9] = colourTypes[planes];
  return h;
}

// An EXIF block holding only the orientation tag, in Motorola's byte order
// (big-endian) or Intel's, which phones write.
export function exifOrientation(orientation, intel = false) {
  const block = Buffer.from([0x4d, 0x4d, 0, 42, 0, 0, 0, 8, 0, 1, 0x01, 0x12, 0, 3, 0, 0, 0, 1, 0, orientation, 0, 0, 0, 0, 0, 0, 0, 0]);
  if (!intel) return block;
  const little = Buffer.alloc(block.length);
  little.write('II', 0, 'latin1');
  little.writeUInt16LE(42, 2), little.writeUInt32LE(8, 4), little.writeUInt16LE(1, 8);
  little.writeUInt16LE(0x0112, 10), little.writeUInt16LE(3, 12), little.writeUInt32LE(1, 14), little.writeUInt16LE(orientation, 18);
  return little;
}

// Unfiltered rows, 8 bits a sample (pixels as bytes) or 16 (pixels a
// Uint16Array), grey to RGBA by planes; with an eXIf chunk when an
// orientation is given, and `chunks` ([type, data]) before the pixels.
export function writePng(width, height, planes, pixels, level = 6, orientation = 0, {bits = 8, intel = false, chunks = []} = {}) {
  const row = width * planes * bits / 8;
  const raw = Buffer.alloc((row + 1) * height);
  for (let y = 0; y < height; y++)
    if (bits === 16)
      for (let x = 0; x < width * planes; x++) raw.writeUInt16BE(pixels[y * width * planes + x], y * (row + 1) + 1 + 2 * x);
    else Buffer.from(pixels.buffer, pixels.byteOffset + y * row, row).copy(raw, y * (row + 1) + 1);
  return Buffer.concat([signature, chunk('IHDR', header(width, height, planes, bits)),
    ...(orientation ? [chunk('eXIf', exifOrientation(orientation, intel))] : []),
    ...chunks.map(([type, data]) => chunk(type, data)),
    chunk('IDAT', zlib.deflateSync(raw, {level})), chunk('IEND', Buffer.alloc(0))]);
}

// A PNG whose header claims width x height, its pixels left out.
export function claimPng(width, height) {
  return Buffer.concat([signature, chunk('IHDR', header(width, height, 3)), chunk('IEND', Buffer.alloc(0))]);
}

// Grey to RGBA, 8 or 16 bits, not interlaced, any filter: what the page
// writes. 16-bit samples come back as a Uint16Array; the chunks besides
// IHDR, IDAT and IEND as they are.
export function readPng(file) {
  if (!file.subarray(0, 8).equals(signature)) throw new Error('not a PNG');
  let width = 0, height = 0, planes = 0, bits = 8;
  const idat = [], chunks = [];
  for (let at = 8; at < file.length;) {
    const length = file.readUInt32BE(at), type = file.toString('latin1', at + 4, at + 8);
    const data = file.subarray(at + 8, at + 8 + length);
    if (crc(file.subarray(at + 4, at + 8 + length)) !== file.readUInt32BE(at + 8 + length)) throw new Error(`bad CRC in ${type}`);
    if (type === 'IHDR') {
      width = data.readUInt32BE(0), height = data.readUInt32BE(4);
      bits = data[8];
      planes = colourTypes.lastIndexOf(data[9]);
      if ((bits !== 8 && bits !== 16) || planes < 1 || data[12] !== 0) throw new Error(`colour type ${data[9]}, ${bits} bits: not the page's`);
    } else if (type === 'IDAT') idat.push(data);
    else if (type !== 'IEND') chunks.push({type, data: Buffer.from(data)});
    at += 12 + length;
  }
  const raw = zlib.inflateSync(Buffer.concat(idat));
  const step = planes * bits / 8; // bytes a pixel, the filters' distance
  const row = width * step;
  const pixels = Buffer.alloc(row * height);
  for (let y = 0; y < height; y++) {
    const filter = raw[y * (row + 1)];
    for (let x = 0; x < row; x++) {
      const v = raw[y * (row + 1) + 1 + x];
      const a = x >= step ? pixels[y * row + x - step] : 0;
      const b = y > 0 ? pixels[(y - 1) * row + x] : 0;
      const c = x >= step && y > 0 ? pixels[(y - 1) * row + x - step] : 0;
      const p = a + b - c, pa = Math.abs(p - a), pb = Math.abs(p - b), pc = Math.abs(p - c);
      const predicted = [0, a, b, (a + b) >> 1, pa <= pb && pa <= pc ? a : pb <= pc ? b : c][filter];
      pixels[y * row + x] = v + predicted;
    }
  }
  if (bits === 16) {
    const wide = new Uint16Array(pixels.length / 2);
    for (let i = 0; i < wide.length; i++) wide[i] = pixels.readUInt16BE(2 * i);
    return {width, height, planes, bits, pixels: wide, chunks};
  }
  return {width, height, planes, bits, pixels, chunks};
}
