// The browser page in Debian's Chromium and Firefox, headless, opened from
// its file:// address as a person opens it, against the plug-in's own bytes.
//   node page_test.mjs PAGE PLUGIN_CELLS ARTIFACTS
// Each engine is pointed at a proxy on a loopback port that nothing listens
// on, so nothing it sends can leave the machine; the page's own requests are
// counted by interception. Every check runs in each engine (WEB_ENGINES
// chooses); ends with "web: N passed, N failed" over both.
import {spawnSync} from 'node:child_process';
import fs from 'node:fs';
import net from 'node:net';
import os from 'node:os';
import path from 'node:path';
import zlib from 'node:zlib';
import puppeteer from 'puppeteer-core';
import {chunk, claimPng, exifOrientation, header, readPng, writePng} from './png.mjs';

const [pagePath, pluginCells, artifacts] = process.argv.slice(2).map((p) => path.resolve(p));
const pageUrl = 'file://' + pagePath;
const work = fs.mkdtempSync(path.join(os.tmpdir(), 'cellumbra-web-'));
fs.mkdirSync(artifacts, {recursive: true});

let passed = 0, failed = 0;
const only = process.env.WEB_TESTS_ONLY && new RegExp(process.env.WEB_TESTS_ONLY); // which checks to run, when debugging
async function check(name, body) {
  if (only && !only.test(name)) return;
  try {
    await body();
    console.log(`ok: [${engine}] ${name}`);
    passed++;
  } catch (e) {
    console.log(`FAILED: [${engine}] ${name}\n  ${e.stack || e}`);
    failed++;
  }
}
function expect(condition, message) {
  if (!condition) throw new Error(message);
}

// Every position its own colour; alpha of every kind, colour under alpha 0.
function pattern(width, height, planes, seed) {
  const p = new Uint8Array(width * height * planes);
  let s = seed >>> 0;
  for (let i = 0; i < p.length; i++) {
    s = (Math.imul(s, 1664525) + 1013904223) >>> 0;
    p[i] = s >>> 24;
  }
  if (planes === 4) for (let i = 3; i < p.length; i += 16) p[i] = 0; // every fourth pixel fully transparent
  return p;
}

function pluginBytes(width, height, planes, pixels, size) {
  const run = spawnSync(pluginCells, [width, height, planes, size].map(String), {input: pixels, maxBuffer: 1 << 30});
  if (run.status !== 0) throw new Error(`plugin_cells ${width} ${height} ${planes} ${size}: ${run.stderr}`);
  return run.stdout;
}
function firstDifference(got, want, width, planes) {
  if (got.length !== want.length) return `${got.length} bytes, not ${want.length}`;
  for (let i = 0; i < got.length; i++)
    if (got[i] !== want[i]) {
      const pixel = Math.floor(i / planes);
      return `pixel (${pixel % width}, ${Math.floor(pixel / width)}) plane ${i % planes}: ${got[i]}, not ${want[i]}`;
    }
  return null;
}

// A port nothing listens on, for the proxy.
const closedPort = await new Promise((resolve) => {
  const server = net.createServer().listen(0, '127.0.0.1', () => {
    const {port} = server.address();
    server.close(() => resolve(port));
  });
});
// Each engine as Debian packages it: Chromium over its own protocol, Firefox
// over WebDriver BiDi. Both go through a proxy that nothing listens on and
// download into their own folder without asking.
let engine = '';
let browser = null;
let downloads = '';
async function launch() {
  downloads = path.join(work, `downloads-${engine}`);
  fs.mkdirSync(downloads);
  if (engine === 'firefox') {
    browser = await puppeteer.launch({
      browser: 'firefox',
      executablePath: process.env.FIREFOX || '/usr/bin/firefox-esr',
      headless: true,
      extraPrefsFirefox: {
        'network.proxy.type': 1, 'network.proxy.share_proxy_settings': true,
        'network.proxy.http': '127.0.0.1', 'network.proxy.http_port': closedPort,
        'network.proxy.ssl': '127.0.0.1', 'network.proxy.ssl_port': closedPort,
        'browser.download.folderList': 2, 'browser.download.dir': downloads, 'browser.download.useDownloadDir': true,
        'browser.download.always_ask_before_handling_new_types': false, 'browser.download.alwaysOpenPanel': false,
        'browser.download.start_downloads_in_tmp_dir': false,
      },
    });
    return;
  }
  browser = await puppeteer.launch({
    executablePath: process.env.CHROMIUM || '/usr/bin/chromium',
    headless: true,
    args: [`--proxy-server=127.0.0.1:${closedPort}`, '--no-first-run', '--disable-background-networking',
      ...(process.getuid && process.getuid() === 0 ? ['--no-sandbox'] : [])],
  });
  const cdp = await browser.target().createCDPSession();
  await cdp.send('Browser.setDownloadBehavior', {behavior: 'allow', downloadPath: downloads, eventsEnabled: true});
}

const requests = [];
const pageErrors = [];
// A tab of its own for each group of checks that saves: here the browser let
// one tab download ten pictures in quick succession and held back the
// eleventh.
let page = null;
async function freshPage() {
  if (page) await page.close();
  page = await browser.newPage();
  await page.setViewport({width: 1100, height: 720});
  await page.setRequestInterception(true);
  page.on('request', (request) => {
    // The page file itself, and the page's own objects in memory (its worker, its downloads).
    if (request.url() !== pageUrl && !request.url().startsWith('blob:')) requests.push(request.url());
    request.continue();
  });
  page.on('pageerror', (e) => pageErrors.push(e.message));
  // The worker's requests pass outside the page's interception: its own
  // session reports them, from the moment the worker has started.
  if (engine === 'chromium') page.on('workercreated', (worker) => {
    worker.client.on('Network.requestWillBeSent', ({request}) => {
      if (!request.url.startsWith('blob:')) requests.push(request.url);
    });
    worker.client.send('Network.enable').catch(() => {});
  });
  await page.goto(pageUrl);
}
// Bounded polling for what the page says.
async function waitForStatus(pattern, timeout = 60000) {
  const until = Date.now() + timeout;
  let text = '';
  while (Date.now() < until) {
    text = await page.$eval('#status', (s) => s.textContent);
    if (pattern.test(text)) return text;
    await new Promise((r) => setTimeout(r, 25));
  }
  throw new Error(`the page says "${text}", not ${pattern}`);
}
async function openFile(file) {
  const input = await page.$('#file');
  await input.uploadFile(file);
}
async function typeSize(size) {
  // Its text selected, as a triple click selects it (which BiDi's clicks do not).
  await page.$eval('#size-value', (field) => { field.focus(); field.select(); });
  await page.keyboard.type(String(size));
  await page.keyboard.press('Enter');
}
async function download(name, timeout = 60000) {
  const file = path.join(downloads, name);
  const until = Date.now() + timeout;
  while (Date.now() < until) {
    if (fs.existsSync(file) && !fs.readdirSync(downloads).some((f) => /\.(crdownload|part)$/.test(f))) {
      const bytes = fs.readFileSync(file);
      fs.unlinkSync(file); // the next download of that name keeps it
      return bytes;
    }
    await new Promise((r) => setTimeout(r, 25));
  }
  const said = await page.$eval('#status', (s) => s.textContent);
  throw new Error(`no download ${name}; the folder holds ${fs.readdirSync(downloads).join(', ') || 'nothing'}; the page says "${said}"`);
}
const write = (name, bytes) => {
  const file = path.join(work, name);
  fs.writeFileSync(file, bytes);
  return file;
};

async function cases() {
  await freshPage();

  await check('the page\'s kernel gives the plug-in\'s bytes, RGB and RGBA, sizes 1 to 100, sides down to 1 x 1', async () => {
    const sides = [[1, 1], [1, 9], [11, 1], [2, 3], [61, 47], [233, 170]];
    const sizes = [1, 2, 3, 5, 7, 12, 20, 33, 64, 99, 100];
    const problems = [];
    for (const planes of [3, 4])
      for (const [width, height] of sides)
        for (const size of sizes) {
          const pixels = pattern(width, height, planes, width * 7919 + height * 31 + size + planes);
          const got = Buffer.from(await page.evaluate(async (w, h, p, data, s) => {
            const bytes = Uint8Array.from(atob(data), (c) => c.charCodeAt(0));
            const out = await window.cellumbra.cells(w, h, p, bytes, s);
            let text = '';
            for (let i = 0; i < out.length; i += 0x8000) text += String.fromCharCode(...out.subarray(i, i + 0x8000));
            return btoa(text);
          }, width, height, planes, Buffer.from(pixels).toString('base64'), size), 'base64');
          const difference = firstDifference(got, pluginBytes(width, height, planes, pixels, size), width, planes);
          if (difference) problems.push(`${width} x ${height}, ${planes} planes, size ${size}: ${difference}`);
        }
    expect(problems.length === 0, problems.slice(0, 5).join('\n  '));
  });

  // The lines beside the picture that say what the saved file cannot keep.
  const notes = () => page.$$eval('#notes li', (items) => items.map((i) => i.textContent));
  const rgba = {width: 97, height: 61, planes: 4};
  rgba.pixels = pattern(rgba.width, rgba.height, 4, 5);
  await check('an RGBA PNG through the file input, saved as PNG at a typed size, has the plug-in\'s bytes, hidden colours and alpha kept', async () => {
    await openFile(write('hidden.png', writePng(rgba.width, rgba.height, 4, rgba.pixels)));
    await waitForStatus(/^hidden: 97 x 61 pixels, cells of size \d+\.$/);
    await typeSize(7);
    await waitForStatus(/cells of size 7\.$/);
    expect(await page.$eval('#size', (s) => s.value) === '7', 'the slider did not follow the typed size');
    await page.click('#save');
    const saved = readPng(await download('hidden-cells-7.png'));
    expect(saved.planes === 4 && saved.width === 97 && saved.height === 61, `saved ${saved.width} x ${saved.height} x ${saved.planes}`);
    const difference = firstDifference(saved.pixels, pluginBytes(97, 61, 4, rgba.pixels, 7), 97, 4);
    expect(!difference, difference);
  });

  await check('an RGB PNG saved at size 1 and by the slider\'s keys at size 3 is RGB with the plug-in\'s bytes', async () => {
    const pixels = pattern(40, 23, 3, 9);
    await openFile(write('plain.png', writePng(40, 23, 3, pixels)));
    await waitForStatus(/^plain: 40 x 23 pixels, cells of size 7\.$/);
    await page.focus('#size');
    await page.keyboard.press('Home');
    await waitForStatus(/cells of size 1\.$/);
    await page.keyboard.press('ArrowRight');
    await page.keyboard.press('ArrowRight');
    await waitForStatus(/cells of size 3\.$/);
    expect(await page.$eval('#size-value', (s) => s.value) === '3', 'the typed value did not follow the slider');
    await page.keyboard.press('s'); // from the slider itself
    const saved = readPng(await download('plain-cells-3.png'));
    expect(saved.planes === 3, `saved with ${saved.planes} planes`);
    const difference = firstDifference(saved.pixels, pluginBytes(40, 23, 3, pixels, 3), 40, 3);
    expect(!difference, difference);
  });

  // A JPEG stored lying on its side (40 x 20, red left, blue right) whose EXIF
  // orientation 6 says to turn it a quarter clockwise: upright it is 20 x 40,
  // red on top.
  const segment = (marker, ...parts) => {
    const body = Buffer.concat(parts);
    return Buffer.concat([Buffer.from([0xff, marker, (body.length + 2) >> 8, (body.length + 2) & 255]), body]);
  };
  // An ICC profile as a JPEG holds it: APP2 parts of at most 65519 bytes,
  // numbered from 1, each saying how many there are.
  const iccSegments = (profile) => {
    const count = Math.ceil(profile.length / 65519);
    return [...Array(count)].map((_, i) => segment(0xe2, Buffer.from('ICC_PROFILE\0', 'latin1'), Buffer.from([i + 1, count]),
      profile.subarray(i * 65519, (i + 1) * 65519)));
  };
  // A JPEG's APP1 EXIF block and APP2 profile, joined.
  function jpegMetadata(file) {
    let exif = null;
    const parts = [];
    for (let at = 2; at + 4 <= file.length && file[at + 1] !== 0xda;) {
      const length = file.readUInt16BE(at + 2), body = file.subarray(at + 4, at + 2 + length);
      if (file[at + 1] === 0xe1 && body.toString('latin1', 0, 6) === 'Exif\0\0') exif = body.subarray(6);
      if (file[at + 1] === 0xe2 && body.toString('latin1', 0, 12) === 'ICC_PROFILE\0') parts[body[12] - 1] = body.subarray(14);
      at += 2 + length;
    }
    return {exif, profile: parts.length ? Buffer.concat(parts) : null, parts: parts.length};
  }
  async function sidewaysJpeg({intel = false, segments = [], detail = false} = {}) {
    const jpeg = Buffer.from(await page.evaluate(async (detail) => {
      const canvas = new OffscreenCanvas(40, 20);
      const c = canvas.getContext('2d');
      c.fillStyle = '#f00', c.fillRect(0, 0, 20, 20), c.fillStyle = '#00f', c.fillRect(20, 0, 20, 20);
      // Fine detail everywhere, where decoders differ in their rounding.
      if (detail)
        for (let y = 0; y < 20; y++)
          for (let x = 0; x < 40; x++)
            c.fillStyle = `rgba(${(x * 37) % 256}, ${(y * 53) % 256}, ${(x * y * 11) % 256}, 0.35)`, c.fillRect(x, y, 1, 1);
      const blob = await canvas.convertToBlob({type: 'image/jpeg', quality: 0.95});
      return [...new Uint8Array(await blob.arrayBuffer())];
    }, detail));
    const app1 = segment(0xe1, Buffer.from('Exif\0\0', 'latin1'), exifOrientation(6, intel));
    // Without the browser's own APP1 and APP2 (Chromium writes its sRGB profile).
    let at = 2;
    const kept = [];
    for (; jpeg[at + 1] >= 0xe0 && jpeg[at + 1] <= 0xef; at += 2 + jpeg.readUInt16BE(at + 2))
      if (jpeg[at + 1] !== 0xe1 && jpeg[at + 1] !== 0xe2) kept.push(jpeg.subarray(at, at + 2 + jpeg.readUInt16BE(at + 2)));
    return Buffer.concat([jpeg.subarray(0, 2), ...kept, app1, ...segments, jpeg.subarray(at)]);
  }
  function jpegSize(file) {
    for (let at = 2; at < file.length;) {
      const marker = file[at + 1];
      if (marker >= 0xc0 && marker <= 0xc3) return {height: file.readUInt16BE(at + 5), width: file.readUInt16BE(at + 7)};
      at += 2 + file.readUInt16BE(at + 2);
    }
    return null;
  }
  await check('a JPEG with an EXIF orientation is filtered upright and saved as JPEG with the chosen quality', async () => {
    await freshPage();
    await typeSize(3);
    await openFile(write('sideways.jpg', await sidewaysJpeg()));
    await waitForStatus(/^sideways: 20 x 40 pixels, cells of size 3\.$/);
    await page.select('#format', 'jpeg');
    const sizes = [];
    for (const quality of ['40', '100']) {
      await page.$eval('#quality', (q, v) => { q.value = v; }, quality);
      await page.click('#save');
      const name = 'sideways-cells-3.jpg';
      const saved = await download(name);
      expect(saved[0] === 0xff && saved[1] === 0xd8, `${name} is no JPEG`);
      const s = jpegSize(saved);
      expect(s && s.width === 20 && s.height === 40, `${name} is ${s && s.width} x ${s && s.height}, not upright 20 x 40`);
      sizes.push(saved.length);
    }
    expect(sizes[0] < sizes[1], `quality 40 gave ${sizes[0]} bytes, 100 gave ${sizes[1]}`);
    await page.select('#format', 'png');
    await page.click('#save');
    const upright = readPng(await download('sideways-cells-3.png'));
    const at = (x, y) => [...upright.pixels.subarray((y * 20 + x) * 3, (y * 20 + x) * 3 + 3)];
    const [top, bottom] = [at(10, 5), at(10, 34)];
    expect(top[0] > 200 && top[2] < 60 && bottom[2] > 200 && bottom[0] < 60, `top ${top}, bottom ${bottom}: not red over blue`);
  });

  await check('a JPEG is decoded by the page, not the browser (arithmetic coding and 12 bits refused in its words), its profile (two parts) and a phone\'s EXIF carried into PNG and JPEG, a torn profile and a CMYK one said', async () => {
    await freshPage();
    await typeSize(3);
    const profile = Buffer.from(pattern(1, 70000, 1, 29)); // two parts in a JPEG
    const upright = Buffer.from(exifOrientation(1, true));
    await openFile(write('photo.jpg', await sidewaysJpeg({intel: true, segments: iccSegments(profile), detail: true})));
    await waitForStatus(/^photo: 20 x 40 pixels, cells of size 3\.$/);
    expect((await notes()).length === 0, `the page says ${JSON.stringify(await notes())}`);
    await page.click('#save');
    const png = readPng(await download('photo-cells-3.png'));
    // The stored values' cells: the photo as the module's decoder gives it,
    // 40 x 20, turned upright (orientation 6, a quarter turn clockwise).
    const decoded = spawnSync(pluginCells, ['--jpeg'], {input: fs.readFileSync(path.join(work, 'photo.jpg'))}).stdout;
    const turned = Buffer.alloc(20 * 40 * 3);
    for (let y = 0; y < 40; y++)
      for (let x = 0; x < 20; x++) decoded.copy(turned, (y * 20 + x) * 3, ((19 - x) * 40 + y) * 3, ((19 - x) * 40 + y) * 3 + 3);
    const cellsDifference = firstDifference(png.pixels, pluginBytes(20, 40, 3, turned, 3), 20, 3);
    expect(decoded.length === 40 * 20 * 3 && !cellsDifference, `the saved PNG is not the cells of the stored values: ${cellsDifference}`);
    const iccp = png.chunks.find((c) => c.type === 'iCCP'), exif = png.chunks.find((c) => c.type === 'eXIf');
    expect(iccp && zlib.inflateSync(iccp.data.subarray(iccp.data.indexOf(0) + 2)).equals(profile), 'the saved PNG does not hold the profile');
    expect(exif && exif.data.equals(upright), `the saved PNG's EXIF is ${exif && exif.data.toString('hex')}, not the photo's turned upright`);
    await page.select('#format', 'jpeg');
    await page.click('#save');
    const saved = jpegMetadata(await download('photo-cells-3.jpg'));
    expect(saved.parts === 2 && saved.profile.equals(profile), `the saved JPEG holds ${saved.parts} parts of a profile, not the photo's two`);
    expect(saved.exif && saved.exif.equals(upright), `the saved JPEG's EXIF is ${saved.exif && saved.exif.toString('hex')}`);
    await page.select('#format', 'png');
    // The second part of the profile lost; then the frame header made
    // arithmetic coding's (SOF9), and 12 bits a sample.
    await openFile(write('torn.jpg', await sidewaysJpeg({segments: iccSegments(profile).slice(0, 1)})));
    await waitForStatus(/^torn: 20 x 40 pixels, cells of size 3\.$/);
    const torn = (await notes()).join(' | ');
    expect(torn === 'Its ICC profile is damaged and is left out of the saved picture.', `the page says "${torn}"`);
    // A CMYK photo, which the page makes RGB: its CMYK profile would lie.
    const cmyk = spawnSync('convert', ['-size', '16x8', 'xc:red', '-colorspace', 'CMYK', 'jpg:-']).stdout;
    const cmykProfile = Buffer.from(profile.subarray(0, 500));
    cmykProfile.write('CMYK', 16, 'latin1');
    await openFile(write('print.jpg', Buffer.concat([cmyk.subarray(0, 2), ...iccSegments(cmykProfile), cmyk.subarray(2)])));
    await waitForStatus(/^print: 16 x 8 pixels, cells of size 3\.$/);
    const print = (await notes()).join(' | ');
    expect(print === 'Its CMYK colour profile does not fit the RGB pixels the page makes and is left out.', `the page says "${print}"`);
    const plain = await sidewaysJpeg();
    const frame = [...plain.keys()].find((i) => plain[i] === 0xff && plain[i + 1] === 0xc0);
    const arithmetic = Buffer.from(plain), twelve = Buffer.from(plain);
    arithmetic[frame + 1] = 0xc9;
    twelve[frame + 4] = 12;
    for (const [name, bytes] of [['arithmetic.jpg', arithmetic], ['twelve.jpg', twelve]]) {
      await openFile(write(name, bytes));
      await waitForStatus(/^This JPEG file is damaged or of a kind the page cannot read \(arithmetic coding, 12 bits a sample\)\.$/);
      await openFile(write('hidden.png', writePng(rgba.width, rgba.height, 4, rgba.pixels)));
      await waitForStatus(/^hidden: 97 x 61 pixels, cells of size 3\.$/);
    }
  });

  await check('a PNG with an EXIF orientation, in Motorola\'s byte order and a phone\'s (Intel\'s), is filtered upright as the browser shows it, with the plug-in\'s bytes', async () => {
    const pixels = pattern(13, 7, 3, 77);
    const problems = [];
    for (const intel of [false, true]) {
      await freshPage(); // seven downloads a tab
      await typeSize(3);
    for (let orientation = 2; orientation <= 8; orientation++) {
      const png = writePng(13, 7, 3, pixels, 6, orientation, {intel});
      // The browser's own upright picture (opaque, so a canvas keeps it exactly).
      const shown = await page.evaluate(async (data) => {
        const bytes = Uint8Array.from(atob(data), (c) => c.charCodeAt(0));
        const bitmap = await createImageBitmap(new Blob([bytes], {type: 'image/png'}));
        const canvas = new OffscreenCanvas(bitmap.width, bitmap.height);
        canvas.getContext('2d').drawImage(bitmap, 0, 0);
        const rgba = canvas.getContext('2d').getImageData(0, 0, bitmap.width, bitmap.height).data;
        return {width: bitmap.width, height: bitmap.height, rgb: [...rgba].filter((_, i) => i % 4 !== 3)};
      }, png.toString('base64'));
      await openFile(write(`turned${orientation}.png`, png));
      await waitForStatus(new RegExp(`^turned${orientation}: ${shown.width} x ${shown.height} pixels, cells of size 3\\.$`));
      await page.click('#save');
      const saved = readPng(await download(`turned${orientation}-cells-3.png`));
      const want = pluginBytes(shown.width, shown.height, 3, Buffer.from(shown.rgb), 3);
      const difference = firstDifference(saved.pixels, want, shown.width, 3);
      if (difference) problems.push(`orientation ${orientation}${intel ? ', Intel order' : ''}: ${difference}`);
    }
    }
    expect(problems.length === 0, problems.join('\n  '));
  });

  // Which pixel each pixel's colour comes from at `size`, from the plug-in's
  // cells of a picture whose pixels are their own positions: the cells of
  // pictures the plug-in cannot take (16 bits) are those stored values moved
  // so, alpha kept per pixel.
  function storedCells(width, height, planes, pixels, size) {
    const positions = new Uint8Array(width * height * 3);
    for (let i = 0; i < width * height; i++) positions[3 * i] = i & 255, positions[3 * i + 1] = (i >> 8) & 255, positions[3 * i + 2] = i >> 16;
    const moved = pluginBytes(width, height, 3, positions, size);
    const out = new pixels.constructor(pixels.length);
    const colour = planes % 2 === 0 ? planes - 1 : planes;
    for (let i = 0; i < width * height; i++) {
      const from = moved[3 * i] | moved[3 * i + 1] << 8 | moved[3 * i + 2] << 16;
      for (let k = 0; k < planes; k++) out[i * planes + k] = pixels[(k < colour ? from : i) * planes + k];
    }
    return out;
  }
  // Grey (with alpha) as the plug-in takes it, RGB(A), and back.
  const spread = (grey, planes) => Uint8Array.from({length: grey.length / planes * (planes + 2)}, (_, i) => {
    const pixel = Math.floor(i / (planes + 2)), k = i % (planes + 2);
    return grey[pixel * planes + (k < 3 ? 0 : 1)];
  });

  await check('PNGs keep their model and depth: grey, grey with alpha (colours under it kept), 16-bit RGB, RGBA and grey with alpha exact; a palette is said to become RGB', async () => {
    await freshPage();
    await typeSize(3);
    const [width, height, size] = [37, 29, 3];
    const problems = [];
    const sixteen = (planes, seed) => {
      const p = new Uint16Array(width * height * planes);
      let s = seed;
      for (let i = 0; i < p.length; i++) s = (Math.imul(s, 1664525) + 1013904223) >>> 0, p[i] = s >>> 16;
      if (planes % 2 === 0) for (let i = planes - 1; i < p.length; i += planes * 5) p[i] = 0;
      return p;
    };
    const greyAlpha = pattern(width, height, 2, 31);
    for (let i = 1; i < greyAlpha.length; i += 8) greyAlpha[i] = 0; // every fourth pixel fully transparent
    const cases = [
      ['grey', 1, 8, pattern(width, height, 1, 21)],
      ['greyalpha', 2, 8, greyAlpha],
      ['rgb16', 3, 16, sixteen(3, 41)],
      ['rgba16', 4, 16, sixteen(4, 51)],
      ['greyalpha16', 2, 16, sixteen(2, 61)],
    ];
    for (const [name, planes, bits, pixels] of cases) {
      await openFile(write(`${name}.png`, writePng(width, height, planes, pixels, 6, 0, {bits})));
      await waitForStatus(new RegExp(`^${name}: ${width} x ${height} pixels(, with transparency)?, cells of size ${size}\\.$`));
      await page.click('#save');
      const saved = readPng(await download(`${name}-cells-${size}.png`));
      if (saved.planes !== planes || saved.bits !== bits) {
        problems.push(`${name}: saved with ${saved.planes} planes of ${saved.bits} bits, not ${planes} of ${bits}`);
        continue;
      }
      // 8-bit grey against the plug-in's own bytes on the same picture in colour.
      const want = bits === 16 ? storedCells(width, height, planes, pixels, size)
        : pluginBytes(width, height, planes + 2, spread(pixels, planes), size);
      const got = bits === 16 ? saved.pixels : spread(saved.pixels, planes);
      const difference = firstDifference(got, want, width, bits === 16 ? planes : planes + 2);
      if (difference) problems.push(`${name}: ${difference}`);
    }
    // A palette of four colours, the pixels' indices the pattern's.
    const palette = Buffer.from([255, 0, 0, 0, 255, 0, 0, 0, 255, 250, 250, 20]);
    const indices = pattern(width, height, 1, 71).map((v) => v & 3);
    const paletteHeader = header(width, height, 3);
    paletteHeader[9] = 3;
    const raw = Buffer.concat([...Array(height)].map((_, y) => Buffer.concat([Buffer.from([0]), indices.subarray(y * width, (y + 1) * width)])));
    await openFile(write('palette.png', Buffer.concat([Buffer.from([137, 80, 78, 71, 13, 10, 26, 10]), chunk('IHDR', paletteHeader),
      chunk('PLTE', palette), chunk('IDAT', zlib.deflateSync(raw)), chunk('IEND', Buffer.alloc(0))])));
    await waitForStatus(/^palette: 37 x 29 pixels, cells of size 3\.$/);
    const said = await notes();
    if (!said.some((n) => /palette is saved as RGB colours/.test(n))) problems.push(`palette: the page says ${JSON.stringify(said)}`);
    await page.click('#save');
    const saved = readPng(await download(`palette-cells-${size}.png`));
    const rgb = Uint8Array.from({length: width * height * 3}, (_, i) => palette[indices[Math.floor(i / 3)] * 3 + i % 3]);
    const difference = firstDifference(saved.pixels, pluginBytes(width, height, 3, rgb, size), width, 3);
    if (difference) problems.push(`palette: ${difference}`);
    expect(problems.length === 0, problems.join('\n  '));
  });

  await check('a PNG\'s colour profile, gamma, chromaticities and EXIF are carried byte for byte into the saved PNG, into a JPEG the profile and EXIF with the rest said, and a damaged chunk or a lying EXIF block is said and left out', async () => {
    await freshPage();
    await typeSize(5);
    const profile = Buffer.from(pattern(1, 700, 1, 3)); // any bytes: the page carries, never reads, a profile
    const iccp = Buffer.concat([Buffer.from('Wide gamut\0\0', 'latin1'), zlib.deflateSync(profile)]);
    const gama = Buffer.from([0, 0, 0xb1, 0x8f]);
    const chrm = Buffer.from(pattern(1, 32, 1, 9));
    const exif = exifOrientation(1, true);
    const [width, height] = [31, 23];
    const pixels = pattern(width, height, 3, 13);
    const given = [['iCCP', iccp], ['gAMA', gama], ['cHRM', chrm], ['eXIf', exif]];
    await openFile(write('profiled.png', writePng(width, height, 3, pixels, 6, 0, {chunks: given})));
    await waitForStatus(/^profiled: 31 x 23 pixels, cells of size 5\.$/);
    expect((await notes()).length === 0, `the page says ${JSON.stringify(await notes())}`);
    await page.click('#save');
    const saved = readPng(await download('profiled-cells-5.png'));
    const carried = saved.chunks.map((c) => [c.type, c.data.toString('hex')]);
    expect(JSON.stringify(carried) === JSON.stringify(given.map(([t, d]) => [t, d.toString('hex')])),
      `saved with ${saved.chunks.map((c) => c.type).join(', ') || 'no chunks'} besides the pixels, not ${given.map(([t]) => t).join(', ')} as given`);
    const difference = firstDifference(saved.pixels, pluginBytes(width, height, 3, pixels, 5), width, 3);
    expect(!difference, difference);
    await page.select('#format', 'jpeg');
    await page.click('#save');
    const jpeg = jpegMetadata(await download('profiled-cells-5.jpg'));
    expect(jpeg.profile && jpeg.profile.equals(profile) && jpeg.exif && jpeg.exif.equals(exif), 'the saved JPEG does not hold the profile and the EXIF block');
    const said = (await notes()).join(' | ');
    expect(said === 'A JPEG cannot hold the picture\'s gAMA, cHRM: PNG keeps them.', `the page says "${said}"`);
    await page.select('#format', 'png');
    // A profile whose check sum fails, and an EXIF block whose directory lies past its end.
    const badCrc = writePng(width, height, 3, pixels, 6, 0, {chunks: [['iCCP', iccp], ['gAMA', gama]]});
    badCrc[8 + 25 + 8 + 5] ^= 1; // a byte of the profile's compressed data, past IHDR and its own length and type
    const lying = Buffer.from(exif);
    lying.writeUInt32LE(5000, 4);
    for (const [name, png, type, kept] of [['damaged', badCrc, 'iCCP', ['gAMA']],
      ['lying', writePng(width, height, 3, pixels, 6, 0, {chunks: [['eXIf', lying], ['gAMA', gama]]}), 'eXIf', ['gAMA']]]) {
      await openFile(write(`${name}.png`, png));
      await waitForStatus(new RegExp(`^${name}: 31 x 23 pixels, cells of size 5\\.$`));
      const words = (await notes()).join(' | ');
      expect(words === `Its ${type} chunk is damaged and is left out of the saved picture.`, `${name}: the page says "${words}"`);
      await page.click('#save');
      const again = readPng(await download(`${name}-cells-5.png`));
      expect(again.chunks.map((c) => c.type).join() === kept.join(), `${name}: saved with ${again.chunks.map((c) => c.type)}`);
      const difference = firstDifference(again.pixels, pluginBytes(width, height, 3, pixels, 5), width, 3);
      expect(!difference, `${name}: ${difference}`);
    }
  });

  await check('a transparent WebP keeps its transparency with the plug-in\'s bytes, says the colours it lost, and a JPEG of it says it is white there; an animated GIF says it keeps its first frame', async () => {
    await freshPage();
    await typeSize(4);
    const [width, height] = [29, 19];
    const pixels = pattern(width, height, 4, 17);
    for (let i = 3; i < pixels.length; i += 4) if (pixels[i] !== 0) pixels[i] = 255; // alpha 0 or 255: no rounding on the way
    const convert = (args, input) => {
      const run = spawnSync('convert', args, {input, maxBuffer: 1 << 26});
      if (run.status !== 0) throw new Error(`convert ${args.join(' ')}: ${run.stderr}`);
      return run.stdout;
    };
    const webp = convert(['png:-', '-define', 'webp:lossless=true', 'webp:-'], writePng(width, height, 4, pixels));
    expect(webp.toString('latin1', 8, 12) === 'WEBP', 'no WebP made');
    // The browser's own decoding of it, which the page takes.
    const decoded = Buffer.from(await page.evaluate(async (data) => {
      const bytes = Uint8Array.from(atob(data), (c) => c.charCodeAt(0));
      const bitmap = await createImageBitmap(new Blob([bytes], {type: 'image/webp'}), {premultiplyAlpha: 'none'});
      const canvas = new OffscreenCanvas(bitmap.width, bitmap.height);
      canvas.getContext('2d').drawImage(bitmap, 0, 0);
      return [...canvas.getContext('2d').getImageData(0, 0, bitmap.width, bitmap.height).data];
    }, webp.toString('base64')));
    expect(decoded.some((v, i) => i % 4 === 3 && v === 0), 'the browser decoded the WebP without transparency');
    await openFile(write('clear.webp', webp));
    await waitForStatus(/^clear: 29 x 19 pixels, cells of size 4\.$/);
    await page.click('#save');
    const saved = readPng(await download('clear-cells-4.png'));
    expect(saved.planes === 4, `saved with ${saved.planes} planes`);
    const difference = firstDifference(saved.pixels, pluginBytes(width, height, 4, decoded, 4), width, 4);
    expect(!difference, difference);
    const said = (await notes())[0];
    expect(said === 'The browser decodes this format and keeps no colour under its fully transparent pixels.', `the page says "${said}"`);
    await page.select('#format', 'jpeg');
    await page.click('#save');
    await download('clear-cells-4.jpg');
    const white = (await notes()).join(' | ');
    expect(/JPEG holds no transparency: the saved picture is white there\./.test(white), `the page says "${white}"`);
    await page.select('#format', 'png');
    const gif = convert(['-size', '8x6', 'xc:red', 'xc:blue', '-loop', '0', 'gif:-']);
    await openFile(write('moving.gif', gif));
    await waitForStatus(/^moving: 8 x 6 pixels, cells of size 4\.$/);
    const first = (await notes()).join(' | ');
    expect(first === 'Only the first frame of this animation is kept.', `the page says "${first}"`);
  });

  await check('a picture dropped on the page or pasted opens as one chosen with the button', async () => {
    await freshPage();
    await typeSize(3);
    const png = writePng(rgba.width, rgba.height, 4, rgba.pixels).toString('base64');
    for (const [how, name] of [['drop', 'dropped.png'], ['paste', 'pasted.png']]) {
      await page.evaluate((how, name, data) => {
        const transfer = new DataTransfer();
        transfer.items.add(new File([Uint8Array.from(atob(data), (c) => c.charCodeAt(0))], name, {type: 'image/png'}));
        const event = how === 'drop' ? new DragEvent('drop', {dataTransfer: transfer, bubbles: true, cancelable: true})
          : new ClipboardEvent('paste', {clipboardData: transfer, bubbles: true, cancelable: true});
        // Firefox copies only text into a paste a script makes; a person's
        // paste of a file carries the file, as this one then does.
        if (how === 'paste' && event.clipboardData.files.length === 0) Object.defineProperty(event, 'clipboardData', {value: transfer});
        document.getElementById('view').dispatchEvent(event);
      }, how, name, png);
      await waitForStatus(new RegExp(`^${name.replace('.png', '')}: 97 x 61 pixels, cells of size 3\\.$`));
    }
  });

  await check('a file the page cannot decode, an empty file and a huge picture each say so, and the page goes on', async () => {
    await freshPage();
    await typeSize(3);
    const cases = [
      ['noise.png', Buffer.concat([Buffer.from([137, 80, 78, 71, 13, 10, 26, 10]), Buffer.from(pattern(300, 1, 3, 1))]), /PNG file is damaged/],
      ['notes.jpg', Buffer.from('no picture in here\n'), /not a picture the browser can read, or too large for it/],
      ['empty.png', Buffer.alloc(0), /^The file is empty\.$/],
    // A 16-bit PNG whose compressed pixels end half way.
    ['cut16.png', (() => {
      const png = writePng(40, 30, 3, new Uint16Array(40 * 30 * 3).map((_, i) => i * 37), 6, 0, {bits: 16});
      const at = png.indexOf('IDAT') - 4, length = png.readUInt32BE(at);
      return Buffer.concat([png.subarray(0, at), chunk('IDAT', png.subarray(at + 8, at + 8 + (length >> 1))), chunk('IEND', Buffer.alloc(0))]);
    })(), /PNG file is damaged/],
      ['huge.png', claimPng(40000, 40000), /too large for the page: 40000 x 40000 pixels \(1600 megapixels\)/],
      // A JPEG's frame header claiming 30000 x 20000, the rest of it left out.
      ['huge.jpg', Buffer.from([0xff, 0xd8, 0xff, 0xc0, 0, 11, 8, 0x4e, 0x20, 0x75, 0x30, 1, 1, 0x11, 0, 0xff, 0xd9]),
        /too large for the page: 30000 x 20000 pixels \(600 megapixels\)/],
    ];
    for (const [name, bytes, said] of cases) {
      await openFile(write(name, bytes));
      await waitForStatus(said);
      expect(await page.$eval('#status', (s) => s.classList.contains('error')), `${name}: the message is not shown as an error`);
      expect(await page.$eval('#save', (b) => b.disabled), `${name}: saving is still offered`);
    }
    await openFile(write('hidden.png', writePng(rgba.width, rgba.height, 4, rgba.pixels)));
    await waitForStatus(/^hidden: 97 x 61 pixels, cells of size 3\.$/);
  });

  await check('a 50-megapixel picture is filtered with a progress bar, and a newer size abandons the run in progress', async () => {
    await freshPage();
    await typeSize(3);
    const width = 8660, height = 5774;
    const pixels = new Uint8Array(width * height * 3);
    for (let y = 0, i = 0; y < height; y++)
      for (let x = 0; x < width; x++, i += 3) pixels[i] = x, pixels[i + 1] = y, pixels[i + 2] = (x >> 5) ^ (y >> 5);
    await page.evaluate(() => {
      window.progressShown = false;
      new MutationObserver(() => { window.progressShown ||= !document.getElementById('progress').hidden; })
        .observe(document.getElementById('progress'), {attributes: true});
    });
    const file = write('large.png', writePng(width, height, 3, pixels, 1));
    const opening = Date.now();
    await openFile(file);
    await waitForStatus(/^large: 8660 x 5774 pixels, cells of size 3\.$/, 90000);
    console.log(`  (50 megapixels: opened and shown in cells in ${((Date.now() - opening) / 1000).toFixed(1)} s)`);
    // A size, and another once the first has filtered its first band: the
    // first run stops there, and only the second is shown.
    const stoppedBefore = await page.evaluate(() => window.cellumbra.runsStopped);
    // Once the page has drawn the picture (a frame of its own), its thread
    // answers at once.
    await page.evaluate(() => new Promise((r) => requestAnimationFrame(() => requestAnimationFrame(r))));
    await page.evaluate(() => {
      window.sizesShown = [];
      new MutationObserver(() => {
        const m = /cells of size (\d+)\.$/.exec(document.getElementById('status').textContent);
        if (m) window.sizesShown.push(Number(m[1]));
      }).observe(document.getElementById('status'), {childList: true, characterData: true, subtree: true});
      const size = document.getElementById('size');
      // The first run paced, so that it is still under way when the second
      // size comes; the second as fast as it goes.
      window.cellumbra.pauseAfterBands(20);
      size.value = '50';
      size.dispatchEvent(new Event('input'));
      const poll = setInterval(() => {
        if (document.getElementById('progress').value <= 0) return;
        clearInterval(poll);
        window.cellumbra.pauseAfterBands(0);
        size.value = '9';
        size.dispatchEvent(new Event('input'));
      }, 0);
    });
    const resizing = Date.now();
    await waitForStatus(/cells of size 9\.$/, 60000);
    console.log(`  (a new size: ${((Date.now() - resizing) / 1000).toFixed(2)} s, both sizes included)`);
    const shown = await page.evaluate(() => window.sizesShown);
    expect(shown.join() === '9', `sizes shown: ${shown}`);
    const stoppedAfter = await page.evaluate(() => window.cellumbra.runsStopped);
    expect(stoppedAfter === stoppedBefore + 1, `runs stopped part way: ${stoppedBefore}, then ${stoppedAfter}`);
    expect(await page.evaluate(() => window.progressShown), 'no progress bar showed');
    // Rows from the middle of the picture, through the saved PNG, against the
    // plug-in on a band that starts on a tile's top row (tiles are 36 rows at
    // size 9) and holds the 17 rows above and 18 below that the cells reach.
    await page.click('#save');
    const saved = readPng(await download('large-cells-9.png', 90000));
    const start = 36 * 80, reach = 17, rows = 40, row = width * 3;
    const band = pixels.subarray(start * row, (start + reach + rows + 18) * row);
    const want = pluginBytes(width, reach + rows + 18, 3, band, 9).subarray(reach * row, (reach + rows) * row);
    const top = start + reach;
    const got = saved.pixels.subarray(top * row, (top + rows) * row);
    const difference = firstDifference(Buffer.from(got), want, width, 3);
    expect(!difference, difference);
  });

  await check('every control has a name a screen reader reads, and C and Z compare and zoom from the keyboard', async () => {
    const unnamed = [];
    if (engine === 'chromium') {
      const snapshot = await page.accessibility.snapshot({interestingOnly: true});
      (function walk(n) {
        if (['button', 'slider', 'spinbutton', 'combobox'].includes(n.role) && !n.name) unnamed.push(n.role);
        (n.children || []).forEach(walk);
      })(snapshot);
    } else {
      // BiDi has no accessibility tree: the names as a screen reader takes
      // them, from a label, aria-label or the control's own text.
      unnamed.push(...await page.$$eval('button, input:not([hidden]), select', (controls) => controls
        .filter((c) => !(c.getAttribute('aria-label') || [...(c.labels || [])].some((l) => l.textContent.trim()) ||
          (c.tagName === 'BUTTON' && c.textContent.trim())))
        .map((c) => c.id)));
    }
    expect(unnamed.length === 0, `unnamed: ${unnamed}`);
    await page.focus('#view');
    await page.keyboard.press('c');
    expect(await page.$eval('#compare', (b) => b.getAttribute('aria-pressed')) === 'true', 'C did not show the original');
    expect(await page.$eval('#result', (c) => getComputedStyle(c).visibility) === 'hidden', 'the cells still cover the original');
    await page.keyboard.press('c');
    // The 50-megapixel picture: fitted, its bitmaps a third of its width (at
    // most 4096 pixels); at 1:1 its own size at once, and its whole bitmaps
    // once the worker sends them.
    const widths = () => page.$$eval('#view canvas', (cs) => cs.map((c) => `${c.width}/${c.getBoundingClientRect().width}`).join());
    expect(await widths() === '2887/1100,2887/1100', `fitted, the canvases are ${await widths()} (bitmap/shown) wide`);
    await page.keyboard.press('z');
    expect(await page.$eval('#view', (v) => v.classList.contains('actual') && v.scrollWidth === 8660), 'Z did not show 1:1');
    await page.waitForFunction(() => [...document.querySelectorAll('#view canvas')].every((c) => c.width === 8660), {timeout: 60000});
    await page.keyboard.press('z');
    const fitted = await page.$eval('#view', (v) => !v.classList.contains('actual') && v.scrollWidth <= v.clientWidth);
    expect(fitted, 'Z again did not fit the picture to the window');
    await page.waitForFunction(() => [...document.querySelectorAll('#view canvas')].every((c) => c.width === 2887), {timeout: 60000});
    // From the slider and the format list too; in the number field a value
    // being typed takes the keys, and once Enter has applied it they work.
    const pressed = () => page.$eval('#compare', (b) => b.getAttribute('aria-pressed'));
    for (const where of ['#size', '#format']) {
      await page.focus(where);
      await page.keyboard.press('c');
      expect(await pressed() === 'true', `C did not show the original with the focus in ${where}`);
      await page.keyboard.press('c');
    }
    await page.$eval('#size-value', (field) => { field.focus(); field.select(); });
    await page.keyboard.type('1');
    await page.keyboard.press('c');
    expect(await pressed() === 'false', 'C typed in the number field showed the original');
    await page.keyboard.press('Enter');
    await waitForStatus(/cells of size 1\.$/);
    await page.keyboard.press('c');
    expect(await pressed() === 'true', 'C did not show the original from the number field once its value was applied');
    await page.keyboard.press('c');
  });

  await check('another picture opened while the cells run stops the run and shows the new picture', async () => {
    const stoppedBefore = await page.evaluate(() => window.cellumbra.runsStopped);
    // Bands take a fraction of a millisecond: paced, the run is still under
    // way when the new picture arrives, however long the browser takes to read it.
    await page.evaluate(() => window.cellumbra.pauseAfterBands(20));
    const png = writePng(rgba.width, rgba.height, 4, rgba.pixels).toString('base64');
    await page.evaluate((data) => {
      const size = document.getElementById('size');
      size.value = '40';
      size.dispatchEvent(new Event('input'));
      const poll = setInterval(() => {
        if (document.getElementById('progress').value <= 0) return;
        clearInterval(poll);
        const transfer = new DataTransfer();
        transfer.items.add(new File([Uint8Array.from(atob(data), (c) => c.charCodeAt(0))], 'small.png'));
        document.getElementById('view').dispatchEvent(new DragEvent('drop', {dataTransfer: transfer, bubbles: true}));
      }, 0);
    }, png);
    await waitForStatus(/^small: 97 x 61 pixels, cells of size 40\.$/, 60000);
    await page.evaluate(() => window.cellumbra.pauseAfterBands(0));
    const stoppedAfter = await page.evaluate(() => window.cellumbra.runsStopped);
    expect(stoppedAfter === stoppedBefore + 1, `runs stopped part way: ${stoppedBefore}, then ${stoppedAfter}`);
  });

  await check('the page is shown in light and dark and on a phone; a screenshot is kept', async () => {
    await page.setViewport({width: 1000, height: 640});
    await openFile(path.resolve(path.dirname(new URL(import.meta.url).pathname), '../../docs/before.png'));
    await waitForStatus(/^before: 640 x 480 pixels, cells of size \d+\.$/);
    await typeSize(12);
    await waitForStatus(/cells of size 12\.$/);
    await page.evaluate(() => document.activeElement.blur());
    await page.screenshot({path: path.join(artifacts, `page-${engine}.png`)});
    if (engine === 'chromium') {
      await page.emulateMediaFeatures([{name: 'prefers-color-scheme', value: 'dark'}]);
      const dark = await page.evaluate(() => getComputedStyle(document.body).backgroundColor);
      await page.emulateMediaFeatures([{name: 'prefers-color-scheme', value: 'light'}]);
      const light = await page.evaluate(() => getComputedStyle(document.body).backgroundColor);
      expect(dark !== light, `dark ${dark}, light ${light}`);
    } else {
      // BiDi cannot switch the theme: the engine's own parse of the dark
      // rule gives the page's background another colour.
      const [dark, light] = await page.evaluate(() => {
        const rules = [...document.styleSheets].flatMap((sheet) => [...sheet.cssRules]);
        const rule = rules.find((r) => r.media && r.media.mediaText.includes('dark') && r.cssRules[0].style.getPropertyValue('--bg'));
        return [rule && rule.cssRules[0].style.getPropertyValue('--bg').trim(),
          getComputedStyle(document.documentElement).getPropertyValue('--bg').trim()];
      });
      expect(dark && dark !== light, `dark ${dark}, light ${light}`);
    }
    await page.setViewport({width: 390, height: 844, isMobile: true, hasTouch: true});
    const overflow = await page.evaluate(() => document.documentElement.scrollWidth - window.innerWidth);
    expect(overflow <= 0, `the page is ${overflow} pixels wider than a phone`);
    const slider = await page.$eval('#size', (s) => s.getBoundingClientRect().toJSON());
    expect(slider.height >= 44 && slider.width >= 250, `the slider is ${slider.width} x ${slider.height} pixels on a phone`);
    await page.screenshot({path: path.join(artifacts, `page-phone-${engine}.png`)});
  });

  await check('the page made no request beyond its own file, and no script error', async () => {
    expect(requests.length === 0, `requests: ${requests.join(', ')}`);
    expect(pageErrors.length === 0, `errors: ${pageErrors.join('; ')}`);
    const policy = await page.$eval('meta[http-equiv="Content-Security-Policy"]', (m) => m.content);
    expect(/connect-src 'none'/.test(policy) && /default-src 'none'/.test(policy), policy);
  });

}

const engines = (process.env.WEB_ENGINES || 'chromium firefox').split(/[ ,]+/).filter(Boolean);
for (engine of engines) {
  requests.length = pageErrors.length = 0;
  page = null;
  await launch();
  await cases();
  await browser.close();
}
fs.rmSync(work, {recursive: true, force: true});
console.log(`web: ${passed} passed, ${failed} failed`);
process.exit(failed === 0 ? 0 : 1);
