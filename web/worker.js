// The page's worker: decodes the picture, runs the cells in the WebAssembly
// module band by band, and encodes what is saved, all off the page's thread.
// Messages are answered in order; a newer "cells" request makes the one in
// progress stop at its next band.
'use strict';

let kernel = null; // the module's exports
// {width, height, planes (1 grey, 2 grey and alpha, 3 colour, 4 colour and
// alpha), bits (8 or 16), input, output (addresses in the module's memory),
// chunks (a PNG's colour and EXIF chunks, carried into what is saved), notes
// (what the saved picture cannot keep, one line each)}
let picture = null;
let done = null; // {generation, size}: the output as the last finished run left it
let latest = 0; // the newest generation asked for
let work = Promise.resolve(); // the job in progress, which the next one waits for
let stopped = 0; // runs that a newer size stopped part way
let pause = 0; // ms after each band, for scripts that act while a run is under way

// The most pixels a picture may have: its pixels twice (in and out) must fit
// the module's 4 GB beside the decoder's, and the page shows it in a canvas
// the browser holds twice. 2^27, about 134 megapixels: a 50-megapixel photo
// with room to spare.
const MAX_PIXELS = 2 ** 27;
const MAX_SIDE = 32767;
const BAND_PIXELS = 1 << 19; // about 3 ms a band: moving the slider again stops the run that soon

class Refusal extends Error {}

const megapixels = (w, h) => (w * h / 1e6).toFixed(w * h < 1e7 ? 1 : 0);
function checkSize(width, height) {
  if (width * height > MAX_PIXELS || width > MAX_SIDE || height > MAX_SIDE)
    throw new Refusal(`This picture is too large for the page: ${width} x ${height} pixels ` +
      `(${megapixels(width, height)} megapixels). It takes pictures up to ${Math.floor(MAX_PIXELS / 1e6)} ` +
      `megapixels and ${MAX_SIDE} pixels a side.`);
}

function reserve(bytes) {
  const at = kernel.reserve(bytes);
  if (!at) throw new Refusal('This picture is too large for the memory the browser gives this page.');
  return at;
}
const memory = () => new Uint8Array(kernel.memory.buffer);

function forget() {
  if (picture) {
    kernel.release(picture.input);
    kernel.release(picture.output);
  }
  picture = null;
  done = null;
}

// The picture's pixels as a bitmap the page draws without work of its own
// thread (colour multiplied by alpha there, as a canvas shows it anyway).
// Fitted to the window, a picture is shown at most FITTED pixels a side, made
// smaller in the module by whole blocks of pixels: a browser that draws a
// 50-megapixel bitmap scaled took seconds a frame (Firefox, 11 s for a new
// size), and its own resizing of the bitmap as long. At 1:1 it is shown whole.
const FITTED = 4096;
let whole = false; // the page shows the picture 1:1
function shown(at) {
  const {width, height} = picture;
  const k = whole ? 1 : Math.ceil(Math.max(width, height) / FITTED);
  const [w, h] = [Math.ceil(width / k), Math.ceil(height / k)];
  return createImageBitmap(new ImageData(new Uint8ClampedArray(rgba(at, k)), w, h));
}
// The pixels at `at` as 8-bit RGBA, `k` times smaller.
function rgba(at, k = 1) {
  const {width, height, planes, bits} = picture;
  const bytes = Math.ceil(width / k) * Math.ceil(height / k) * 4;
  if (planes === 4 && bits === 8 && k === 1) return memory().slice(at, at + bytes).buffer;
  const wide = reserve(bytes);
  try {
    kernel.to_rgba(at, wide, width, height, planes, bits, k);
    return memory().slice(wide, wide + bytes).buffer;
  } finally {
    kernel.release(wide);
  }
}

// Pixels in the module's memory, with their planes: PNG and JPEG through its
// own decoders (colour under transparency, and the stored values that the
// browser would convert by the photo's profile, kept) and turned upright by
// their EXIF orientation as browsers show them; every other format through
// the browser, which turns it too.
async function decode(file) {
  const bytes = new Uint8Array(await file.arrayBuffer());
  if (bytes.length === 0) throw new Refusal('The file is empty.');
  const png = bytes.length >= 8 && [137, 80, 78, 71, 13, 10, 26, 10].every((b, i) => bytes[i] === b);
  const jpeg = bytes.length >= 3 && bytes[0] === 0xff && bytes[1] === 0xd8 && bytes[2] === 0xff;
  const kind = png ? 'PNG' : 'JPEG';
  if (png || jpeg) {
    // The header's size first: the decoder refuses a large picture without saying why.
    if (png && bytes.length >= 24 && String.fromCharCode(...bytes.subarray(12, 16)) === 'IHDR') {
      const header = new DataView(bytes.buffer, 16, 8);
      checkSize(header.getUint32(0), header.getUint32(4));
    }
    const claimed = jpeg && jpegSize(bytes);
    if (claimed) checkSize(claimed.width, claimed.height);
    const data = reserve(bytes.length);
    memory().set(bytes, data);
    const info = reserve(16);
    try {
      if (!kernel.image_info(data, bytes.length, info))
        throw new Refusal(png ? 'This PNG file is damaged or of a kind the page cannot read.'
          : 'This JPEG file is damaged or of a kind the page cannot read (arithmetic coding, 12 bits a sample).');
      const [width, height, planes, bits] = new Int32Array(kernel.memory.buffer, info, 4);
      checkSize(width, height);
      const pixels = kernel.image_decode(data, bytes.length, planes, bits);
      if (!pixels) throw new Refusal(`This ${kind} file is damaged, or too large for the memory the browser gives this page.`);
      const {chunks, notes, orientation, profile, exif} = png ? await pngChunks(bytes) : jpegSegments(bytes);
      if (png && bytes[25] === 3) notes.push(`Its palette is saved as ${planes === 4 ? 'RGBA' : 'RGB'} colours.`);
      if (chunks.some((c) => c.type === 'acTL')) notes.push('Only the first frame of this animated PNG is kept.');
      return upright({width, height, planes, bits, input: pixels, notes, profile, exif, kind,
        chunks: chunks.filter((c) => c.type !== 'acTL')}, orientation);
    } finally {
      kernel.release(info);
      kernel.release(data);
    }
  }
  let bitmap;
  try {
    bitmap = await createImageBitmap(file, {imageOrientation: 'from-image', premultiplyAlpha: 'none'});
  } catch (e) {
    throw new Refusal('This file is not a picture the browser can read, or too large for it.');
  }
  const {width, height} = bitmap;
  try {
    checkSize(width, height);
    const canvas = new OffscreenCanvas(width, height);
    const context = canvas.getContext('2d', {willReadFrequently: true});
    context.drawImage(bitmap, 0, 0);
    const data = context.getImageData(0, 0, width, height).data;
    let opaque = true;
    for (let i = 3; i < data.length; i += 4) if (data[i] !== 255) { opaque = false; break; }
    const notes = [];
    if (animated(bytes)) notes.push('Only the first frame of this animation is kept.');
    if (!opaque) notes.push('The browser decodes this format and keeps no colour under its fully transparent pixels.');
    return {...fromRaw(width, height, opaque ? 3 : 4, opaque ? dropAlpha(data) : data), notes};
  } finally {
    bitmap.close();
  }
}

// The size a JPEG's frame header gives, so that a photo too large is refused
// before the browser tries to decode it; null for anything else.
function jpegSize(bytes) {
  if (bytes[0] !== 0xff || bytes[1] !== 0xd8) return null;
  for (let at = 2; at + 9 <= bytes.length && bytes[at] === 0xff;) {
    const marker = bytes[at + 1];
    const length = (bytes[at + 2] << 8) | bytes[at + 3];
    // Start of frame: every kind but the table markers C4, C8 and CC.
    if (marker >= 0xc0 && marker <= 0xcf && marker !== 0xc4 && marker !== 0xc8 && marker !== 0xcc)
      return {height: (bytes[at + 5] << 8) | bytes[at + 6], width: (bytes[at + 7] << 8) | bytes[at + 8]};
    at += 2 + length;
  }
  return null;
}

// More than one frame: a GIF's second image, a WebP's animation chunk.
function animated(bytes) {
  const text = (from, to) => String.fromCharCode(...bytes.subarray(from, to));
  if (text(0, 4) === 'RIFF' && text(8, 12) === 'WEBP') return text(12, 16) === 'VP8X' && (bytes[20] & 2) !== 0;
  if (text(0, 3) !== 'GIF') return false;
  // Past the screen's colour table, count the images until the trailer.
  let at = 13 + (bytes[10] & 0x80 ? 3 << ((bytes[10] & 7) + 1) : 0), images = 0;
  const blocks = () => { while (at < bytes.length && bytes[at]) at += bytes[at] + 1; at += 1; };
  while (at < bytes.length && images < 2) {
    if (bytes[at] === 0x21) { at += 2; blocks(); }
    else if (bytes[at] === 0x2c) {
      images += 1;
      at += 10 + (bytes[at + 9] & 0x80 ? 3 << ((bytes[at + 9] & 7) + 1) : 0) + 1;
      blocks();
    } else break;
  }
  return images > 1;
}

// The chunks a saved PNG carries as the GEGL operation keeps them: the colour
// information (iCCP, sRGB, gAMA, cHRM) and the EXIF block (eXIf, its
// orientation made 1 once the pixels are turned); acTL only to say that an
// animation loses its other frames. A chunk whose check sum fails, or a
// profile that does not inflate, is left out and said. Also the orientation
// an eXIf chunk before the pixels gives, as browsers read it.
const CARRIED = ['iCCP', 'sRGB', 'gAMA', 'cHRM', 'eXIf', 'acTL'];
async function pngChunks(bytes) {
  const view = new DataView(bytes.buffer, bytes.byteOffset, bytes.length);
  const chunks = [], notes = [];
  let orientation = 1, pixelsSeen = false, profile = null, exif = null;
  for (let at = 8; at + 12 <= bytes.length;) {
    const length = view.getUint32(at);
    const type = String.fromCharCode(...bytes.subarray(at + 4, at + 8));
    if (at + 12 + length > bytes.length) break;
    if (type === 'IDAT') pixelsSeen = true;
    if (CARRIED.includes(type)) {
      const data = bytes.slice(at + 8, at + 8 + length);
      const intact = crc32(bytes.subarray(at + 4, at + 8 + length)) === view.getUint32(at + 8 + length);
      let chunk = intact ? {type, data} : null;
      if (chunk && type === 'iCCP') chunk = (profile = await inflatedProfile(data)) ? chunk : null;
      if (chunk && type === 'eXIf') {
        const exif = exifOrientation(new DataView(data.buffer, 0, data.length));
        if (exif.lies) chunk = null;
        else if (!pixelsSeen) orientation = exif.value;
        if (chunk && exif.at >= 0) exif.little ? (data[exif.at] = 1, data[exif.at + 1] = 0) : (data[exif.at] = 0, data[exif.at + 1] = 1);
      }
      if (chunk && type === 'eXIf') exif = data;
      if (chunk) chunks.push(chunk);
      else notes.push(`Its ${type} chunk is damaged and is left out of the saved picture.`);
    }
    at += 12 + length;
  }
  return {chunks, notes, orientation, profile, exif};
}

// The colour space an ICC profile describes ('RGB ', 'GRAY', 'CMYK', ...).
const space = (profile) => String.fromCharCode(...profile.subarray(16, 20));

// A JPEG's EXIF block (APP1, "Exif" and two zeros, then TIFF) and ICC profile
// (APP2 "ICC_PROFILE", a zero, then its parts numbered from 1, each saying
// how many there are), before its pixels; the orientation the block gives.
// A profile with a part missing, repeated or numbered wrong, or a block that
// lies about its offsets, is left out and said.
function jpegSegments(bytes) {
  const notes = [], parts = [];
  let exif = null, orientation = 1;
  const text = (from, to) => String.fromCharCode(...bytes.subarray(from, to));
  for (let at = 2; at + 4 <= bytes.length && bytes[at] === 0xff;) {
    const marker = bytes[at + 1], length = (bytes[at + 2] << 8) | bytes[at + 3];
    if (marker === 0xda || marker === 0xd9 || at + 2 + length > bytes.length) break;
    const body = bytes.subarray(at + 4, at + 2 + length);
    if (marker === 0xe1 && !exif && text(at + 4, at + 10) === 'Exif\0\0') {
      const tiff = body.slice(6);
      const found = exifOrientation(new DataView(tiff.buffer));
      if (found.lies) notes.push('Its EXIF block is damaged and is left out of the saved picture.');
      else {
        orientation = found.value;
        if (found.at >= 0) found.little ? (tiff[found.at] = 1, tiff[found.at + 1] = 0) : (tiff[found.at] = 0, tiff[found.at + 1] = 1);
        exif = tiff;
      }
    }
    if (marker === 0xe2 && text(at + 4, at + 16) === 'ICC_PROFILE\0') parts.push(body.subarray(12));
    at += 2 + length;
  }
  let profile = null;
  if (parts.length) {
    const count = parts[0][1];
    const ordered = [];
    for (const part of parts) if (part.length > 2 && part[1] === count && part[0] >= 1 && part[0] <= count) ordered[part[0] - 1] ??= part.subarray(2);
    if (ordered.length === count && parts.length === count && !ordered.includes(undefined)) {
      profile = new Uint8Array(ordered.reduce((n, p) => n + p.length, 0));
      ordered.reduce((at, p) => (profile.set(p, at), at + p.length), 0);
    } else notes.push('Its ICC profile is damaged and is left out of the saved picture.');
  }
  // stb gives a CMYK photo's pixels as RGB, which its profile does not describe.
  if (profile && space(profile) === 'CMYK') {
    notes.push('Its CMYK colour profile does not fit the RGB pixels the page makes and is left out.');
    profile = null;
  }
  return {chunks: [], notes, orientation, profile, exif};
}
// An iCCP chunk's profile: a name of 1 to 79 bytes, a zero, method 0, then
// the profile deflated; null when any of it is wrong.
async function inflatedProfile(data) {
  const end = data.indexOf(0);
  if (end < 1 || end > 79 || data[end + 1] !== 0) return null;
  try {
    const stream = new Blob([data.subarray(end + 2)]).stream().pipeThrough(new DecompressionStream('deflate'));
    const profile = new Uint8Array(await new Response(stream).arrayBuffer());
    return profile.length >= 128 ? profile : null;
  } catch (e) {
    return null;
  }
}
// The orientation (1 to 8) an EXIF block gives, the offset of its value (-1
// without one) and its byte order, Intel's (phones) or Motorola's; `lies`
// when its offsets point outside it.
function exifOrientation(tiff) {
  const found = {value: 1, at: -1, little: false, lies: false};
  try {
    const order = tiff.getUint16(0);
    if (order !== 0x4949 && order !== 0x4d4d) throw new RangeError('no byte order');
    const little = found.little = order === 0x4949;
    const ifd = tiff.getUint32(4, little);
    const entries = tiff.getUint16(ifd, little);
    if (ifd + 2 + entries * 12 > tiff.byteLength) throw new RangeError('entries outside the block');
    for (let i = 0; i < entries; i++) {
      const entry = ifd + 2 + i * 12;
      if (tiff.getUint16(entry, little) === 0x0112 && tiff.getUint16(entry + 2, little) === 3) {
        const value = tiff.getUint16(entry + 8, little);
        found.at = entry + 8;
        found.value = value >= 1 && value <= 8 ? value : 1;
      }
    }
  } catch (e) {
    // A damaged block: the pixels as stored, and the block not carried.
    found.lies = true;
  }
  return found;
}
function upright(p, orientation) {
  if (orientation === 1) return p;
  const pixelBytes = p.planes * p.bits / 8;
  let turned = 0;
  try {
    turned = reserve(p.width * p.height * pixelBytes);
    kernel.orient(p.input, turned, p.width, p.height, pixelBytes, orientation);
  } finally {
    kernel.release(p.input);
  }
  return orientation >= 5 ? {...p, width: p.height, height: p.width, input: turned} : {...p, input: turned};
}

function dropAlpha(data) {
  const out = new Uint8Array(data.length / 4 * 3);
  for (let i = 0, j = 0; i < data.length; i += 4, j += 3) out[j] = data[i], out[j + 1] = data[i + 1], out[j + 2] = data[i + 2];
  return out;
}

function fromRaw(width, height, planes, pixels) {
  checkSize(width, height);
  if ((planes !== 3 && planes !== 4) || pixels.length !== width * height * planes)
    throw new Refusal('These pixels do not match their size.');
  const input = reserve(pixels.length);
  memory().set(pixels, input);
  return {width, height, planes, bits: 8, input, chunks: [], notes: [], profile: null, exif: null};
}

const pictureBytes = (p) => p.width * p.height * p.planes * p.bits / 8;
function adopt(p) {
  forget();
  const bytes = pictureBytes(p);
  let output = 0;
  try {
    output = reserve(bytes);
  } finally {
    if (!output) kernel.release(p.input);
  }
  picture = {...p, output};
}

// A turn of the worker's event loop, so that a newer request can arrive.
const breathe = () => new Promise((resolve) => {
  const channel = new MessageChannel();
  channel.port1.onmessage = resolve;
  channel.port2.postMessage(0);
});

// The cells at `size` into the picture's output, band by band; false when a
// newer request came first.
async function cells(size, generation) {
  const {width, height, planes, bits, input, output} = picture;
  const rows = Math.max(1, Math.floor(BAND_PIXELS / width));
  // Whole pixels moved along the cells' runs, in the picture's own model and depth.
  const bytes = bits / 8, colour = planes === 2 || planes === 4 ? planes - 1 : planes;
  for (let top = 0; top < height; top += rows) {
    if (generation !== latest) {
      if (top > 0) stopped += 1;
      return false;
    }
    kernel.cells_stored(input, output, width, height, planes * bytes, colour * bytes, size, top, Math.min(height, top + rows));
    postMessage({type: 'progress', generation, done: Math.min(height, top + rows) / height});
    await breathe();
    if (pause) await new Promise((resolve) => setTimeout(resolve, pause));
  }
  done = {generation, size};
  return generation === latest;
}

// PNG in the picture's own model and depth (grey, grey and alpha, RGB, RGBA;
// 8 or 16 bits), with the chunks it carries, written here so that colour
// under transparent pixels and every 16-bit value are kept; rows filtered
// "up", the browser's own deflate.
const crcTable = new Uint32Array(256).map((_, n) => {
  let c = n;
  for (let k = 0; k < 8; k++) c = c & 1 ? 0xedb88320 ^ (c >>> 1) : c >>> 1;
  return c >>> 0;
});
function crc32(bytes) {
  let c = 0xffffffff;
  for (let i = 0; i < bytes.length; i++) c = crcTable[(c ^ bytes[i]) & 255] ^ (c >>> 8);
  return (c ^ 0xffffffff) >>> 0;
}
function chunk(type, data) {
  const out = new Uint8Array(12 + data.length);
  const view = new DataView(out.buffer);
  view.setUint32(0, data.length);
  for (let i = 0; i < 4; i++) out[4 + i] = type.charCodeAt(i);
  out.set(data, 8);
  let c = 0xffffffff;
  for (let i = 4; i < 8 + data.length; i++) c = crcTable[(c ^ out[i]) & 255] ^ (c >>> 8);
  view.setUint32(8 + data.length, (c ^ 0xffffffff) >>> 0);
  return out;
}
async function encodePng(width, height, planes, bits, pixels, carried) {
  const header = new Uint8Array(13);
  const view = new DataView(header.buffer);
  view.setUint32(0, width), view.setUint32(4, height);
  header[8] = bits, header[9] = [0, 0, 4, 2, 6][planes];
  if (bits === 16) pixels = bigEndian(pixels);
  const stream = new CompressionStream('deflate');
  const compressed = new Response(stream.readable).arrayBuffer();
  const writer = stream.writable.getWriter();
  const row = width * planes * bits / 8;
  const bandRows = Math.max(1, Math.floor((1 << 22) / row));
  for (let top = 0; top < height; top += bandRows) {
    const bottom = Math.min(height, top + bandRows);
    const band = new Uint8Array((bottom - top) * (row + 1));
    for (let y = top, o = 0; y < bottom; y++, o += row + 1) {
      const p = y * row;
      if (y === 0) {
        band.set(pixels.subarray(p, p + row), o + 1);
        continue;
      }
      band[o] = 2;
      for (let x = 0; x < row; x++) band[o + 1 + x] = pixels[p + x] - pixels[p - row + x];
    }
    await writer.write(band);
  }
  await writer.close();
  const data = new Uint8Array(await compressed);
  const parts = [new Uint8Array([137, 80, 78, 71, 13, 10, 26, 10]), chunk('IHDR', header),
    ...carried.map((c) => chunk(c.type, c.data))];
  for (let i = 0; i < data.length; i += 1 << 24) parts.push(chunk('IDAT', data.subarray(i, i + (1 << 24))));
  parts.push(chunk('IEND', new Uint8Array(0)));
  return new Blob(parts, {type: 'image/png'});
}

// What a saved PNG carries: a PNG's own chunks as they were; a JPEG's
// profile and EXIF block as iCCP and eXIf.
async function pngCarried(p) {
  if (p.kind !== 'JPEG') return p.chunks;
  const chunks = [];
  if (p.profile) {
    const deflated = await new Response(new Blob([p.profile]).stream().pipeThrough(new CompressionStream('deflate'))).arrayBuffer();
    const name = new TextEncoder().encode('ICC profile\0\0');
    const data = new Uint8Array(name.length + deflated.byteLength);
    data.set(name), data.set(new Uint8Array(deflated), name.length);
    chunks.push({type: 'iCCP', data});
  }
  if (p.exif) chunks.push({type: 'eXIf', data: p.exif});
  return chunks;
}

// The browser's JPEG with the picture's EXIF block (APP1) and ICC profile
// (APP2, in parts of at most 65519 bytes) after its JFIF segment, in place of
// any APP1 or APP2 of the browser's own.
const segment = (marker, ...parts) => {
  const length = parts.reduce((n, p) => n + p.length, 2);
  return [new Uint8Array([0xff, marker, length >> 8, length & 255]), ...parts];
};
async function withMetadata(blob, exif, profile) {
  const bytes = new Uint8Array(await blob.arrayBuffer());
  const kept = [bytes.subarray(0, 2)];
  let at = 2;
  for (; at + 4 <= bytes.length && bytes[at] === 0xff && bytes[at + 1] >= 0xe0 && bytes[at + 1] <= 0xef;) {
    const length = (bytes[at + 2] << 8) | bytes[at + 3];
    if (bytes[at + 1] !== 0xe1 && bytes[at + 1] !== 0xe2) kept.push(bytes.subarray(at, at + 2 + length));
    at += 2 + length;
  }
  const added = [];
  if (exif) added.push(...segment(0xe1, new TextEncoder().encode('Exif\0\0'), exif));
  const PART = 65519, count = profile ? Math.ceil(profile.length / PART) : 0;
  for (let i = 0; i < count; i++)
    added.push(...segment(0xe2, new TextEncoder().encode('ICC_PROFILE\0'), new Uint8Array([i + 1, count]),
      profile.subarray(i * PART, (i + 1) * PART)));
  return new Blob([...kept, ...added, bytes.subarray(at)], {type: 'image/jpeg'});
}

// 16-bit samples as PNG stores them, most significant byte first.
function bigEndian(pixels) {
  const out = new Uint8Array(pixels.length);
  for (let i = 0; i < pixels.length; i += 2) out[i] = pixels[i + 1], out[i + 1] = pixels[i];
  return out;
}

// JPEG through the browser's encoder, over white where the picture is
// transparent (JPEG has no transparency).
async function encodeJpeg(width, height, quality) {
  const image = new ImageData(new Uint8ClampedArray(rgba(picture.output)), width, height);
  const bitmap = await createImageBitmap(image, {premultiplyAlpha: 'premultiply'});
  const canvas = new OffscreenCanvas(width, height);
  const context = canvas.getContext('2d');
  context.fillStyle = '#fff';
  context.fillRect(0, 0, width, height);
  context.drawImage(bitmap, 0, 0);
  bitmap.close();
  return canvas.convertToBlob({type: 'image/jpeg', quality: quality / 100});
}

async function handle(m) {
  switch (m.type) {
    case 'init': {
      const {instance} = await WebAssembly.instantiate(m.kernel);
      kernel = instance.exports;
      return {type: 'ready'};
    }
    case 'open': {
      forget();
      const p = m.file ? await decode(m.file) : fromRaw(m.width, m.height, m.planes, new Uint8Array(m.pixels));
      adopt(p);
      const {width, height, planes, bits, notes} = picture;
      const original = await shown(picture.input);
      return {type: 'opened', width, height, planes, bits, notes, original, transfer: [original]};
    }
    case 'cells': {
      if (!picture || m.generation !== latest) return null;
      if (!(await cells(m.size, m.generation))) return null;
      const {output} = picture;
      const result = m.raw ? memory().slice(output, output + pictureBytes(picture)).buffer : await shown(output);
      return {type: 'result', generation: m.generation, size: m.size, raw: !!m.raw, stopped, result, transfer: [result]};
    }
    case 'view': {
      whole = m.whole;
      if (!picture) return null;
      const original = await shown(picture.input);
      const result = done ? await shown(picture.output) : null;
      return {type: 'shown', original, result, transfer: result ? [original, result] : [original]};
    }
    case 'save': {
      if (!picture || !done || done.generation !== latest) return {type: 'error', message: 'Nothing to save yet.'};
      const {width, height, planes, bits, output, chunks, profile, exif} = picture;
      const notes = [];
      if (m.format === 'jpeg') {
        if (planes === 2 || planes === 4) notes.push('JPEG holds no transparency: the saved picture is white there.');
        if (bits === 16) notes.push('JPEG holds 8 bits a sample: the saved picture\'s 16-bit values are rounded to 8.');
        const dropped = chunks.map((c) => c.type).filter((t) => t !== 'iCCP' && t !== 'eXIf');
        if (dropped.length) notes.push(`A JPEG cannot hold the picture's ${dropped.join(', ')}: PNG keeps them.`);
        if (exif && exif.length > 65527) notes.push('The picture\'s EXIF block is too long for a JPEG and is left out: PNG keeps it.');
        if (planes <= 2) notes.push('The JPEG is saved in colour, not grey.');
        if (profile && profile.length > 255 * 65519) notes.push('The picture\'s colour profile is too long for a JPEG and is left out: PNG keeps it.');
        else if (profile && space(profile) === 'GRAY') notes.push('The picture\'s grey colour profile does not fit a colour JPEG and is left out: PNG keeps it.');
      }
      const blob = m.format === 'jpeg'
        ? await withMetadata(await encodeJpeg(width, height, m.quality), exif && exif.length <= 65527 ? exif : null,
          profile && profile.length <= 255 * 65519 && space(profile) !== 'GRAY' ? profile : null)
        : await encodePng(width, height, planes, bits, memory().subarray(output, output + pictureBytes(picture)),
          await pngCarried(picture));
      return {type: 'saved', blob, size: done.size, format: m.format, notes};
    }
  }
  return null;
}

onmessage = (event) => {
  const m = event.data;
  // A newer size, or another picture, stops the run in progress at its next band.
  if (m.type === 'pause') {
    pause = m.ms;
    return;
  }
  if (m.type === 'cells') latest = m.generation;
  else if (m.type === 'open') latest = 0;
  work = work.then(async () => {
    try {
      const answer = await handle(m);
      if (answer) postMessage(answer, answer.transfer || []);
    } catch (e) {
      const refused = e instanceof Refusal;
      if (m.type === 'open') forget();
      postMessage({type: 'error', of: m.type, message: refused ? e.message :
        e instanceof RangeError ? 'This picture is too large for the memory the browser gives this page.' :
        `Something went wrong: ${e.message || e}`});
    }
  });
};
