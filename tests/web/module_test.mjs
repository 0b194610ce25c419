// The WebAssembly module in node against the native vldtool: it must read
// and write pictures exactly as vldtool does, refuse damaged files with
// vldtool's reasons, and give its memory back.
//
//   node module_test.mjs GROUP SITE_DIR VLDTOOL SAMPLES_DIR
import assert from 'node:assert/strict';
import { execFileSync, spawnSync } from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import vm from 'node:vm';
import zlib from 'node:zlib';
import { readPng, writeRgbaPng } from './png.mjs';

const [group, site, vldtool, samplesDir] = process.argv.slice(2);
const { default: createVld } = await import(path.resolve(site, 'vld.mjs'));
const vld = await createVld({ wasmBinary: fs.readFileSync(path.join(site, 'vld.wasm')) });
const scratch = fs.mkdtempSync(path.join(os.tmpdir(), 'vld-web-'));
process.on('exit', () => fs.rmSync(scratch, { recursive: true, force: true }));

function tool(...args) {
  const directory = args.indexOf('-d');
  if (directory >= 0) fs.mkdirSync(args[directory + 1], { recursive: true });
  return execFileSync(vldtool, args, { stdio: ['ignore', 'pipe', 'pipe'], maxBuffer: 1 << 28 });
}

// Deterministic pseudo-random numbers, so a failure can be repeated.
function random(seed) {
  return () => {
    seed = (seed + 0x6d2b79f5) | 0;
    let t = Math.imul(seed ^ (seed >>> 15), 1 | seed);
    t = (t + Math.imul(t ^ (t >>> 7), 61 | t)) ^ t;
    return ((t ^ (t >>> 14)) >>> 0) / 4294967296;
  };
}

const samples = fs.readdirSync(samplesDir).filter((n) => n.endsWith('.vld')).sort()
  .map((name) => ({ name, bytes: fs.readFileSync(path.join(samplesDir, name)) }));

// Valid code page 932 pieces for comments that survive vldtool's PNG text.
const COMMENT_PIECES = ['a', 'Z', ' ', '~', '\\', '\x82\xa0', '\x8d\xf7', '\x88\xa0', '\xb1', '\xdf', '\x81\x60'];

// Pictures the encoder has to work for: every row kind, widths around the
// groups of eight, copies from four rows up, comments and anchors.
function corpus() {
  const next = random(15);
  const sizes = [[1, 1], [7, 3], [8, 8], [9, 5], [16, 1], [17, 33], [64, 40], [100, 7], [255, 3], [333, 17]];
  const fills = ['noise', 'stripes', 'blocks', 'flat', 'repeats'];
  const pictures = [];
  for (const [width, height] of sizes) {
    for (const fill of fills) {
      const indices = new Uint8Array(width * height);
      for (let y = 0; y < height; ++y) {
        for (let x = 0; x < width; ++x) {
          const i = y * width + x;
          indices[i] = fill === 'noise' ? Math.floor(next() * 4)
            : fill === 'stripes' ? (x >> 3) & 3
            : fill === 'blocks' ? (next() < 0.1 ? Math.floor(next() * 4) : ((x >> 3) + (y >> 2)) & 3)
            : fill === 'flat' ? 2
            : y >= 4 && next() < 0.8 ? indices[i - 4 * width] : Math.floor(next() * 4);
        }
      }
      let comment = '';
      const pieces = Math.floor(next() * 40);
      for (let k = 0; k < pieces; ++k) comment += COMMENT_PIECES[Math.floor(next() * COMMENT_PIECES.length)];
      pictures.push({
        name: `${width}x${height}-${fill}`, width, height, indices,
        anchorX: Math.floor(next() * 800), anchorY: Math.floor(next() * 600),
        palette: [0, 1, 2, 3].map(() => Math.floor(next() * 65536)),
        comment: Buffer.from(comment, 'latin1')
      });
    }
  }
  return pictures;
}

// What vldtool says about files: info's JSON and decode's palette PNG.
function nativeView(files) {
  const out = path.join(scratch, 'decoded');
  fs.rmSync(out, { recursive: true, force: true });
  tool('decode', ...files, '-d', out);
  const info = JSON.parse(tool('info', '--json', ...files).toString());
  return files.map((file, i) => ({
    info: info[i],
    png: readPng(fs.readFileSync(path.join(out, path.basename(file).replace(/\.vld$/, '.png'))))
  }));
}

function assertSameAsNative(picture, native, label) {
  const { info, png } = native;
  assert.deepEqual([picture.width, picture.height, picture.anchorX, picture.anchorY],
                   [info.width, info.height, ...info.anchor], label);
  assert.deepEqual(picture.palette, info.palette.map((p) => p.word), label);
  assert.equal(picture.comment.length, info.comment_length, label);
  assert.deepEqual(Buffer.from(picture.indices), Buffer.from(png.indices), label + ': indices');
  assert.deepEqual(Buffer.from(picture.rgba), Buffer.from(png.rgba), label + ': rgba');
}

const groups = {
  // Every sample decodes as vldtool decodes it and encodes to its own bytes.
  samples() {
    const files = samples.map((s) => path.join(samplesDir, s.name));
    const native = nativeView(files);
    samples.forEach((sample, i) => {
      const picture = vld.decode(new Uint8Array(sample.bytes));
      assertSameAsNative(picture, native[i], sample.name);
      assert.deepEqual(Buffer.from(vld.encode(picture)), sample.bytes, sample.name + ': encode');
    });
  },

  // The module's files are the ones vldtool writes for the same picture:
  // vldtool decodes them and encodes them back byte for byte.
  corpus() {
    const pictures = corpus();
    const files = pictures.map((p) => {
      const file = path.join(scratch, p.name + '.vld');
      fs.writeFileSync(file, vld.encode(p));
      return file;
    });
    const native = nativeView(files);
    const again = path.join(scratch, 'again');
    tool('encode', ...fs.readdirSync(path.join(scratch, 'decoded')).map((n) => path.join(scratch, 'decoded', n)), '-d', again);
    pictures.forEach((p, i) => {
      const bytes = fs.readFileSync(files[i]);
      assert.deepEqual(fs.readFileSync(path.join(again, p.name + '.vld')), bytes, p.name + ': vldtool encode');
      const back = vld.decode(bytes);
      assertSameAsNative(back, native[i], p.name);
      assert.deepEqual(Buffer.from(back.comment), p.comment, p.name + ': comment');
    });
  },

  // Cut files fail with vldtool's own reason, wherever they end.
  cut() {
    const cases = [];
    for (const sample of [...samples, { name: 'corpus.vld', bytes: Buffer.from(vld.encode(corpus()[32])) }]) {
      const lengths = new Set([0, 1, 3, 4, 5, 8, 20, 30, 40, sample.bytes.length - 1]);
      for (let n = 41; n < sample.bytes.length; n += Math.max(1, sample.bytes.length >> 5)) lengths.add(n);
      for (const n of lengths) {
        if (n >= sample.bytes.length) continue;
        const file = path.join(scratch, `${sample.name}-${n}`);
        fs.writeFileSync(file, sample.bytes.subarray(0, n));
        cases.push({ file, bytes: sample.bytes.subarray(0, n) });
      }
    }
    const result = spawnSync(vldtool, ['info', ...cases.map((c) => c.file)], { encoding: 'utf8' });
    assert.equal(result.status, 1);
    const reasons = new Map(result.stderr.trim().split('\n').map((line) => {
      const match = /^vldtool: info: (.*?): (.*)$/.exec(line);
      return [match[1], match[2]];
    }));
    assert.equal(reasons.size, cases.length, 'vldtool refuses every cut file');
    for (const { file, bytes } of cases)
      assert.throws(() => vld.decode(new Uint8Array(bytes)), (e) => e instanceof Error && e.message === reasons.get(file), file);
  },

  // reduce and encode give what vldtool encode makes from the same RGBA PNG.
  reduce() {
    const next = random(7);
    const kinds = {
      gradient: (x, y, w, h) => [x * 255 / w, y * 255 / h, (x + y) * 127 / (w + h), 255],
      noise: () => [next() * 256, next() * 256, next() * 256, 255],
      fewColours: (x, y) => [[10, 20, 30, 255], [200, 30, 40, 255], [240, 240, 240, 255]][(x * 7 + y * 3) % 3],
      seeThrough: (x, y, w) => x < w / 3 ? [next() * 256, 0, 0, Math.floor(next() * 128)] : [x * 4, 255 - y * 3, 90, 128 + Math.floor(next() * 128)],
      photo: (x, y) => [128 + 120 * Math.sin(x / 9), 128 + 120 * Math.sin(y / 13 + x / 30), 128 + 120 * Math.cos((x + y) / 17), 255]
    };
    const sizes = [[1, 1], [13, 7], [64, 64], [160, 120]];
    const images = [];
    for (const [kind, colour] of Object.entries(kinds)) {
      for (const [width, height] of sizes) {
        const rgba = new Uint8Array(width * height * 4);
        for (let y = 0; y < height; ++y)
          for (let x = 0; x < width; ++x) rgba.set(colour(x, y, width, height).map(Math.floor), (y * width + x) * 4);
        const name = `${kind}-${width}x${height}`;
        fs.writeFileSync(path.join(scratch, name + '.png'), writeRgbaPng(width, height, rgba));
        images.push({ name, width, height, rgba });
      }
    }
    const optionSets = [
      { options: undefined, args: [] },
      { options: {}, args: [] },
      { options: { dither: 'none' }, args: ['--dither', 'none'] },
      { options: { dither: 'floyd-steinberg' }, args: ['--dither', 'floyd-steinberg'] },
      { options: { dither: 'ordered' }, args: ['--dither', 'ordered'] },
      { options: { palette: [0x0001, 0xffff, 0x07c0, 0xf800] }, args: ['--palette', '0x0001,0xffff,0x07c0,0xf800'] },
      { options: { dither: 'floyd-steinberg', palette: [0, 0x003e, 0x7bde, 0xffff] },
        args: ['--dither', 'floyd-steinberg', '--palette', '0,0x003e,0x7bde,0xffff'] }
    ];
    optionSets.forEach(({ options, args }, k) => {
      const out = path.join(scratch, 'reduced-' + k);
      tool('encode', ...images.map((im) => path.join(scratch, im.name + '.png')), '-d', out, ...args);
      for (const image of images) {
        const q = vld.reduce(image.rgba, image.width, image.height, options);
        const label = `${image.name} ${JSON.stringify(options)}`;
        assert.deepEqual([q.anchorX, q.anchorY, q.comment.length], [0, 0, 0], label);
        assert.deepEqual(Buffer.from(vld.encode(q)), fs.readFileSync(path.join(out, image.name + '.vld')), label);
      }
    });
  },

  // Arguments no picture can hold are refused with an Error, never written.
  errors() {
    const good = { width: 2, height: 1, palette: [0, 1, 2, 3], indices: new Uint8Array([0, 3]) };
    const encodeCases = [
      [{ ...good, indices: new Uint8Array([0, 4]) }, /invalid/i],
      [{ ...good, comment: new Uint8Array([0x41, 0x1a]) }, /invalid/i],
      [{ ...good, indices: new Uint8Array(3) }, /width \* height/],
      [{ ...good, width: 0 }, /width/],
      [{ ...good, height: 65536 }, /height/],
      [{ ...good, palette: [0, 1, 2] }, /four words/],
      [{ ...good, palette: [0, 1, 2, 65536] }, /palette word 3/],
      [{ ...good, anchorX: 65536 }, /anchorX/],
      [{ ...good, indices: 'ab' }, /Uint8Array/]
    ];
    for (const [picture, message] of encodeCases) assert.throws(() => vld.encode(picture), message, JSON.stringify(picture));
    const rgba = new Uint8Array(16);
    const reduceCases = [
      ...['atkinson', 'toString', '__proto__', 'constructor', 'hasOwnProperty', 1, null].map((dither) =>
        [[rgba, 2, 2, { dither }], /^RangeError: dither must be one of none, floyd-steinberg, ordered$/]),
      [[rgba, 3, 2], /width \* height \* 4/],
      [[rgba, 2, 2, { palette: [1, 2] }], /four words/],
      [[rgba, 0, 2], /width/]
    ];
    for (const [args, message] of reduceCases) assert.throws(() => vld.reduce(...args), message);
    assert.throws(() => vld.decode('HK03'), /Uint8Array/);
    const file = vld.encode(good);
    for (const [boxes, message] of [[undefined, /two widths/], [[1, 2, 3, 4, 5], /two widths/], [[1, 2, 0, 4], /box side 2/]])
      assert.throws(() => vld.decodeView(file, boxes), message);
    for (const args of [[256, 0, 0], [0, -1, 0], [0, 0, 1.5]]) assert.throws(() => vld.word(...args), /0 to 255/);
  },

  // Memory is given back on every path: the heap stops growing.
  memory() {
    const big = corpus().find((p) => p.name === '333x17-noise');
    const file = vld.encode(big);
    const cutFile = file.subarray(0, file.length - 9);
    const rgba = vld.decode(file).rgba;
    const round = () => {
      vld.decode(file);
      assert.throws(() => vld.decode(cutFile));
      assert.throws(() => vld.encode({ ...big, indices: big.indices.map(() => 5) }));
    };
    for (let i = 0; i < 100; ++i) round();
    for (let i = 0; i < 10; ++i) vld.encode(vld.reduce(rgba, big.width, big.height, { dither: 'ordered' }));
    const settled = vld.heapBytes();
    for (let i = 0; i < 10000; ++i) round();
    for (let i = 0; i < 200; ++i) vld.encode(vld.reduce(rgba, big.width, big.height, { dither: 'ordered' }));
    assert.equal(vld.heapBytes(), settled);
  },

  // The page's comment conversion stores what vldtool stores, and refuses
  // what vldtool refuses, for every character the table can hold.
  comment() {
    const context = { TextDecoder };
    vm.runInNewContext(fs.readFileSync(path.join(site, 'cp932.js'), 'utf8') + ';this.cp932 = cp932;', context);
    const { cp932 } = context;
    const png = path.join(scratch, 'dot.png');
    fs.writeFileSync(png, writeRgbaPng(1, 1, new Uint8Array([9, 9, 9, 255])));
    const characters = [];
    const decoder = new TextDecoder('shift_jis', { fatal: true });
    for (let lead = 0x81; lead <= 0xfc; ++lead) {
      for (let trail = 0x40; trail <= 0xfc; ++trail) {
        try {
          const text = decoder.decode(new Uint8Array([lead, trail]));
          if (text.length === 1 && !characters.includes(text)) characters.push(text);
        } catch { /* not a character */ }
      }
    }
    for (let code = 0x20; code < 0x7f; ++code) characters.push(String.fromCharCode(code));
    for (let code = 0xff61; code <= 0xff9f; ++code) characters.push(String.fromCharCode(code));
    const stored = (text) => {
      const out = path.join(scratch, 'comment.vld');
      const result = spawnSync(vldtool, ['encode', png, '-o', out, '--comment', text], { encoding: 'utf8' });
      if (result.status !== 0) return { refused: result.stderr };
      return { bytes: Buffer.from(vld.decode(fs.readFileSync(out)).comment) };
    };
    const kept = characters.filter((c) => cp932.encode(c).bytes);
    for (let i = 0; i < kept.length; i += 60) {
      const text = kept.slice(i, i + 60).join('');
      assert.deepEqual(stored(text), { bytes: Buffer.from(cp932.encode(text, 127).bytes) }, text);
    }
    const refused = characters.filter((c) => !cp932.encode(c).bytes).concat(['¥', '‾', '€', '©', '한', '😀', 'é']);
    for (const character of refused) {
      const mine = cp932.encode('a' + character);
      assert.equal(mine.bad.length, 1, character);
      // Named as vldtool names it, with the stand-in vldtool suggests.
      const substitute = vld.substitute(character);
      assert.ok((stored('a' + character).refused || '').includes(`"${character}" (${mine.bad[0].name}` + (substitute ? `; use "${substitute}"` : ')')), character);
    }
    const cases = [['a'.repeat(127), null], ['a'.repeat(128), 'long'], ['桜'.repeat(64), 'long'], ['x\x1a', 'terminator']];
    for (const [text, error] of cases) {
      const r = cp932.encode(text, 127);
      assert.equal(r.bad.length ? 'character' : r.terminator ? 'terminator' : r.bytes ? null : 'long', error, text);
      assert.equal(!!stored(text).refused, error !== null, text);
    }
    // Every character without a code is named once; the stand-ins make a
    // text that vldtool stores.
    const mixed = cp932.encode('¥1〜2¥—€', 127);
    assert.equal(JSON.stringify(mixed.bad.map((b) => [b.character, vld.substitute(b.character)])), JSON.stringify([['¥', '￥'], ['〜', '～'], ['—', '―'], ['€', null]]));
    const pairs = mixed.bad.slice(0, 3).map((b) => ({ character: b.character, replacement: vld.substitute(b.character) }));
    assert.deepEqual(stored(cp932.replaceAll('¥1〜2—', pairs)), { bytes: Buffer.from(cp932.encode('￥1～2―').bytes) });
  },

  // The site holds what a static host needs and stays small.
  site() {
    const files = fs.readdirSync(site);
    for (const name of ['index.html', 'texts.js', 'page.js', 'viewer.js', 'preview.js', 'converter.js', 'files.js', 'style.css', 'cp932.js', 'vld-page.js', 'vld-samples.js', 'icon.svg', 'vld.mjs', 'vld.wasm'])
      assert.ok(files.includes(name), name);
    const html = fs.readFileSync(path.join(site, 'index.html'), 'utf8');
    const sources = [...html.matchAll(/(?:src|href)="([^"]+)"/g)].map((m) => m[1]);
    for (const source of sources) assert.ok(files.includes(source), `${source} is on the site`);
    // What a visitor's browser loads: the page and what it names (the
    // samples included), not the module for node beside it.
    const gzipped = ['index.html', ...sources].reduce((sum, name) => sum + zlib.gzipSync(fs.readFileSync(path.join(site, name)), { level: 9 }).length, 0);
    console.log(`site: ${files.length} files, the page ${gzipped} bytes gzipped`);
    // The module holds vldtool's PNG rules and resize as well as the library.
    assert.ok(gzipped <= 128 * 1024, `${gzipped} bytes gzipped`);
    for (const name of files.filter((n) => /\.(html|js|mjs|css)$/.test(n)))
      assert.doesNotMatch(fs.readFileSync(path.join(site, name), 'utf8'), /https?:\/\/(?!www\.w3\.org)/, name + ' names no other host');
  }
};

if (!groups[group]) throw new Error('unknown group ' + group);
groups[group]();
console.log(group + ': ok');
