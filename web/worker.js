// The page's worker: decodes the picture, runs the cells in the WebAssembly
// module band by band, and encodes what is saved, all off the page's thread.
// Messages are answered in order; a newer "cells" request makes the one in
// progress stop at its next band.
'use strict';

let kernel = null; // the module's exports
let picture = null; // {width, height, planes, input, output} (addresses in the module's memory)
let done = null; // {generation, size}: the output as the last finished run left it
let latest = 0; // the newest generation asked for
let work = Promise.resolve(); // the job in progress, which the next one waits for
let stopped = 0; // runs that a newer size stopped part way

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

// The picture's pixels, RGBA, for the page to show.
// The picture's pixels as a bitmap the page draws without work of its own
// thread (colour multiplied by alpha there, as a canvas shows it anyway).
function shown(at) {
  const {width, height} = picture;
  return createImageBitmap(new ImageData(new Uint8ClampedArray(rgba(at)), width, height));
}
function rgba(at) {
  const {width, height, planes} = picture;
  const n = width * height;
  if (planes === 4) return memory().slice(at, at + n * 4).buffer;
  const wide = reserve(n * 4);
  try {
    kernel.opaque_rgba(at, wide, n);
    return memory().slice(wide, wide + n * 4).buffer;
  } finally {
    kernel.release(wide);
  }
}

// Pixels in the module's memory, with their planes: PNG through its own
// decoder (colour under transparency kept), every other format through the
// browser, which also turns a photo upright by its EXIF orientation.
async function decode(file) {
  const bytes = new Uint8Array(await file.arrayBuffer());
  if (bytes.length === 0) throw new Refusal('The file is empty.');
  const png = bytes.length >= 8 && [137, 80, 78, 71, 13, 10, 26, 10].every((b, i) => bytes[i] === b);
  if (png) {
    // The header's size first: the decoder refuses a large picture without saying why.
    if (bytes.length >= 24 && String.fromCharCode(...bytes.subarray(12, 16)) === 'IHDR') {
      const header = new DataView(bytes.buffer, 16, 8);
      checkSize(header.getUint32(0), header.getUint32(4));
    }
    const data = reserve(bytes.length);
    memory().set(bytes, data);
    const info = reserve(12);
    try {
      if (!kernel.png_info(data, bytes.length, info))
        throw new Refusal('This PNG file is damaged or of a kind the page cannot read.');
      const [width, height, planes] = new Int32Array(kernel.memory.buffer, info, 3);
      checkSize(width, height);
      const pixels = kernel.png_decode(data, bytes.length, planes);
      if (!pixels) throw new Refusal('This PNG file is damaged, or too large for the memory the browser gives this page.');
      return upright({width, height, planes, input: pixels}, pngOrientation(bytes));
    } finally {
      kernel.release(info);
      kernel.release(data);
    }
  }
  const claimed = jpegSize(bytes);
  if (claimed) checkSize(claimed.width, claimed.height);
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
    return fromRaw(width, height, opaque ? 3 : 4, opaque ? dropAlpha(data) : data);
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

// The EXIF orientation in a PNG's eXIf chunk (before its pixels), 1 without one.
function pngOrientation(bytes) {
  const view = new DataView(bytes.buffer, bytes.byteOffset, bytes.length);
  for (let at = 8; at + 12 <= bytes.length;) {
    const length = view.getUint32(at);
    const type = String.fromCharCode(...bytes.subarray(at + 4, at + 8));
    if (type === 'IDAT' || at + 12 + length > bytes.length) break;
    if (type === 'eXIf') return exifOrientation(new DataView(bytes.buffer, bytes.byteOffset + at + 8, length));
    at += 12 + length;
  }
  return 1;
}
function exifOrientation(tiff) {
  try {
    const little = tiff.getUint16(0) === 0x4949;
    const ifd = tiff.getUint32(4, little);
    const entries = tiff.getUint16(ifd, little);
    for (let i = 0; i < entries; i++) {
      const entry = ifd + 2 + i * 12;
      if (tiff.getUint16(entry, little) === 0x0112 && tiff.getUint16(entry + 2, little) === 3) {
        const value = tiff.getUint16(entry + 8, little);
        return value >= 1 && value <= 8 ? value : 1;
      }
    }
  } catch (e) {
    // A damaged block: the pixels as stored.
  }
  return 1;
}
function upright(p, orientation) {
  if (orientation === 1) return p;
  const bytes = p.width * p.height * p.planes;
  let turned = 0;
  try {
    turned = reserve(bytes);
    kernel.orient(p.input, turned, p.width, p.height, p.planes, orientation);
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
  return {width, height, planes, input};
}

function adopt(p) {
  forget();
  const bytes = p.width * p.height * p.planes;
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
  const {width, height, planes, input, output} = picture;
  const rows = Math.max(1, Math.floor(BAND_PIXELS / width));
  for (let top = 0; top < height; top += rows) {
    if (generation !== latest) {
      if (top > 0) stopped += 1;
      return false;
    }
    kernel.cells(input, output, width, height, planes, size, top, Math.min(height, top + rows));
    postMessage({type: 'progress', generation, done: Math.min(height, top + rows) / height});
    await breathe();
  }
  done = {generation, size};
  return generation === latest;
}

// PNG, 8 bits a sample, RGB or RGBA as the picture has it, written here so
// that colour under transparent pixels is kept; rows filtered "up", the
// browser's own deflate.
const crcTable = new Uint32Array(256).map((_, n) => {
  let c = n;
  for (let k = 0; k < 8; k++) c = c & 1 ? 0xedb88320 ^ (c >>> 1) : c >>> 1;
  return c >>> 0;
});
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
async function encodePng(width, height, planes, pixels) {
  const header = new Uint8Array(13);
  const view = new DataView(header.buffer);
  view.setUint32(0, width), view.setUint32(4, height);
  header[8] = 8, header[9] = planes === 4 ? 6 : 2; // 8 bits; RGBA or RGB
  const stream = new CompressionStream('deflate');
  const compressed = new Response(stream.readable).arrayBuffer();
  const writer = stream.writable.getWriter();
  const row = width * planes;
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
  const parts = [new Uint8Array([137, 80, 78, 71, 13, 10, 26, 10]), chunk('IHDR', header)];
  for (let i = 0; i < data.length; i += 1 << 24) parts.push(chunk('IDAT', data.subarray(i, i + (1 << 24))));
  parts.push(chunk('IEND', new Uint8Array(0)));
  return new Blob(parts, {type: 'image/png'});
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
      const {width, height, planes} = picture;
      const original = await shown(picture.input);
      return {type: 'opened', width, height, planes, original, transfer: [original]};
    }
    case 'cells': {
      if (!picture || m.generation !== latest) return null;
      if (!(await cells(m.size, m.generation))) return null;
      const {width, height, planes, output} = picture;
      const result = m.raw ? memory().slice(output, output + width * height * planes).buffer : await shown(output);
      return {type: 'result', generation: m.generation, size: m.size, raw: !!m.raw, stopped, result, transfer: [result]};
    }
    case 'save': {
      if (!picture || !done || done.generation !== latest) return {type: 'error', message: 'Nothing to save yet.'};
      const {width, height, planes, output} = picture;
      const blob = m.format === 'jpeg' ? await encodeJpeg(width, height, m.quality)
        : await encodePng(width, height, planes, memory().subarray(output, output + width * height * planes));
      return {type: 'saved', blob, size: done.size, format: m.format};
    }
  }
  return null;
}

onmessage = (event) => {
  const m = event.data;
  // A newer size, or another picture, stops the run in progress at its next band.
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
