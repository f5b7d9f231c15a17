// The page's module for the benchmark (bench/bench_web.cpp starts it):
//   node web_bench.mjs CELLS.wasm PICTURE.raw WIDTH HEIGHT
// reads a size a line and answers with the seconds of the module's cells over
// the whole RGB picture and a 32-bit FNV-1a hash of what it wrote.
import fs from 'node:fs';
import readline from 'node:readline';

const [wasm, pictureFile, width, height] = process.argv.slice(2).map((a, i) => (i < 2 ? a : Number(a)));
const {instance} = await WebAssembly.instantiate(fs.readFileSync(wasm));
const kernel = instance.exports;
const picture = fs.readFileSync(pictureFile);
const input = kernel.reserve(picture.length), output = kernel.reserve(picture.length);
new Uint8Array(kernel.memory.buffer).set(picture, input);

function fnv(bytes) {
  let h = 2166136261;
  for (let i = 0; i < bytes.length; i++) h = Math.imul(h ^ bytes[i], 16777619);
  return h >>> 0;
}
for await (const line of readline.createInterface({input: process.stdin})) {
  const size = Number(line);
  const t0 = process.hrtime.bigint();
  kernel.cells(input, output, width, height, 3, size, 0, height);
  const seconds = Number(process.hrtime.bigint() - t0) / 1e9;
  process.stdout.write(`${seconds} ${fnv(new Uint8Array(kernel.memory.buffer, output, picture.length))}\n`);
}
