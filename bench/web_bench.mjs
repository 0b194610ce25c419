// Decode and reduce times of the WebAssembly module, in node and in headless
// Chromium, beside the native library doing the same calls
// (build/native/bin/vld_web_native). Medians of REPEATS runs after one
// warm-up; the machine is shared, so compare figures of one run only.
//
//   node bench/web_bench.mjs [SIZE [REPEATS]]     (default 2048 and 9)
import { execFileSync } from 'node:child_process';
import fs from 'node:fs';
import http from 'node:http';
import os from 'node:os';
import path from 'node:path';
import { fileURLToPath } from 'node:url';
import { launch } from '../tests/web/cdp.mjs';

const root = path.resolve(path.dirname(fileURLToPath(import.meta.url)), '..');
const site = path.join(root, 'build/wasm/site');
const size = Number(process.argv[2] || 2048), repeats = Number(process.argv[3] || 9);
const { default: createVld } = await import(path.join(site, 'vld.mjs'));
const vld = await createVld({ wasmBinary: fs.readFileSync(path.join(site, 'vld.wasm')) });

// A real drawing (samples/waves.vld) tiled to SIZE x SIZE, and a smooth
// many-coloured image for the colour reduction.
const waves = vld.decode(fs.readFileSync(path.join(root, 'samples/waves.vld')));
const indices = new Uint8Array(size * size);
for (let y = 0; y < size; ++y)
  for (let x = 0; x < size; ++x) indices[y * size + x] = waves.indices[(y % waves.height) * waves.width + (x % waves.width)];
const file = vld.encode({ width: size, height: size, palette: waves.palette, indices });
const rgba = new Uint8Array(size * size * 4);
for (let i = 0; i < size * size; ++i) {
  const x = i % size, y = Math.floor(i / size);
  rgba.set([128 + 127 * Math.sin(x / 37 + y / 91), 128 + 127 * Math.sin(y / 29), 128 + 127 * Math.cos((x - y) / 53), 255].map(Math.floor), i * 4);
}
const scratch = fs.mkdtempSync(path.join(os.tmpdir(), 'vld-bench-'));
fs.writeFileSync(path.join(scratch, 'picture.vld'), file);
fs.writeFileSync(path.join(scratch, 'image.rgba'), rgba);

const native = JSON.parse(execFileSync(path.join(root, 'build/native/bin/vld_web_native'),
  [path.join(scratch, 'picture.vld'), path.join(scratch, 'image.rgba'), String(size), String(size), String(repeats)]));

// The same measurement, as text so that it runs in node and in the page:
// the library's own calls inside the module, with the input already in its
// memory and the output buffer reused, as the native program does; then the
// module's decode() and reduce(), which also copy into and out of the
// module's memory, into new arrays each time.
const measure = `async (vld, file, rgba, size, repeats) => {
  const median = (f) => { f(); const t = []; for (let i = 0; i < repeats; ++i) { const s = performance.now(); f(); t.push(performance.now() - s); }
    return t.sort((a, b) => a - b)[repeats >> 1]; };
  const input = vld._malloc(file.length), pixels = vld._malloc(rgba.length), out = vld._malloc(size * size * 4);
  vld.HEAPU8.set(file, input);
  vld.HEAPU8.set(rgba, pixels);
  const picture = vld._web_picture_new();
  const core = {
    decodeAlone: median(() => { vld._vld_decode(input, file.length, picture); vld._vld_picture_free(picture); }),
    decode: median(() => { vld._vld_decode(input, file.length, picture); vld._vld_to_rgba(picture, out); vld._vld_picture_free(picture); }),
    reduce: median(() => { vld._web_reduce(pixels, size, size, 0, 0, picture); vld._vld_picture_free(picture); })
  };
  vld._web_picture_delete(picture);
  [input, pixels, out].forEach((p) => vld._free(p));
  const fresh = median(() => new Uint8Array(size * size * 4).fill(1));
  return { fresh, core, api: { decode: median(() => vld.decode(file)), reduce: median(() => vld.reduce(rgba, size, size)) } };
}`;
const inNode = await eval(measure)(vld, file, rgba, size, repeats);

// Chromium loads the site from a local static server, as from any host.
const server = http.createServer((request, response) => {
  const name = decodeURIComponent(new URL(request.url, 'http://x').pathname).slice(1);
  const where = name.startsWith('bench/') ? path.join(scratch, name.slice(6)) : path.join(site, name);
  if (!fs.existsSync(where)) { response.writeHead(404); response.end(); return; }
  const types = { '.mjs': 'text/javascript', '.js': 'text/javascript', '.wasm': 'application/wasm', '.html': 'text/html' };
  response.writeHead(200, { 'content-type': types[path.extname(where)] || 'application/octet-stream' });
  response.end(fs.readFileSync(where));
});
await new Promise((resolve) => server.listen(0, '127.0.0.1', resolve));
const browser = await launch();
let inChromium;
try {
  const page = await browser.newPage(1280, 900);
  await page.navigate(`http://127.0.0.1:${server.address().port}/index.html`);
  inChromium = await page.evaluate(`(async () => {
    const vld = await (await import('/vld.mjs')).default();
    const load = async (n) => new Uint8Array(await (await fetch('/bench/' + n)).arrayBuffer());
    return (${measure})(vld, await load('picture.vld'), await load('image.rgba'), ${size}, ${repeats});
  })()`);
} finally {
  await browser.close();
  server.close();
  fs.rmSync(scratch, { recursive: true, force: true });
}

const ms = (v) => v.toFixed(1).padStart(9);
const row = (label, n, node, chromium) =>
  console.log(label.padEnd(34) + ms(n) + ms(node) + (node / n).toFixed(2).padStart(7) + '×' + ms(chromium) + (chromium / n).toFixed(2).padStart(7) + '×');
console.log(`${size} × ${size}, median of ${repeats} runs (ms); the picture file is ${file.length} bytes`);
console.log(''.padEnd(34) + '   native     node  ratio  Chromium  ratio');
row('decode: vld_decode + vld_to_rgba', native.decodeRgba, inNode.core.decode, inChromium.core.decode);
row('decode(): the same + new arrays', native.decodeRgba, inNode.api.decode, inChromium.api.decode);
row('reduce: vld_reduce', native.reduce, inNode.core.reduce, inChromium.core.reduce);
row('reduce(): the same + copies', native.reduce, inNode.api.reduce, inChromium.api.reduce);
row('vld_decode alone', native.decode, inNode.core.decodeAlone, inChromium.core.decodeAlone);
console.log(`A new array of ${size * size * 4} bytes, filled once, takes ${inNode.fresh.toFixed(1)} ms in node and ` +
            `${inChromium.fresh.toFixed(1)} ms in Chromium on this machine: decode() makes two such arrays (indices and RGBA).`);
