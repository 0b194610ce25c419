// The page in headless Chromium, used as a person uses it: pictures opened
// with ?open= must be on the screen pixel for pixel, and a conversion made
// with the page's controls must download what vldtool encode writes.
//
//   node page_test.mjs GROUP SITE_DIR VLDTOOL SAMPLES_DIR SCREENSHOT_DIR
import assert from 'node:assert/strict';
import { execFileSync, spawn, spawnSync } from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { pathToFileURL } from 'node:url';
import { launch } from './cdp.mjs';
import { readPng, writePalettePng, writeRgbaPng } from './png.mjs';

const [group, site, vldtool, samplesDir, shots] = process.argv.slice(2).map((a, i) => (i ? path.resolve(a) : a));
const pageUrl = pathToFileURL(path.join(site, 'index.html')).href;
const scratch = fs.mkdtempSync(path.join(os.tmpdir(), 'vld-page-'));
// Only ?open= needs file access; converting must work from file:// as it is.
const browser = await launch({ fileAccess: group !== 'convert' });

function nativePng(file, ...args) {
  const out = path.join(scratch, path.basename(file) + '.png');
  execFileSync(vldtool, ['decode', file, '-o', out, ...args]);
  return readPng(fs.readFileSync(out));
}

// The picture canvas's pixels in a screenshot, with its place on the page.
async function shownPixels(page) {
  const box = await page.evaluate(`(() => { const r = document.getElementById('picture').getBoundingClientRect();
    return { x: r.left, y: r.top, width: r.width, height: r.height, screen: innerHeight }; })()`);
  const shot = readPng(await page.screenshot());
  const rgba = new Uint8Array(box.width * box.height * 4);
  for (let y = 0; y < box.height; ++y) {
    const from = ((box.y + y) * shot.width + box.x) * 4;
    rgba.set(shot.rgba.subarray(from, from + box.width * 4), y * box.width * 4);
  }
  return { box, rgba };
}

// Clicks a download button as a person would; the file the browser saves.
async function download(page, selector, folder) {
  await browser.send('Browser.setDownloadBehavior', { behavior: 'allow', downloadPath: folder, eventsEnabled: true });
  const done = new Promise((resolve) => browser.on('Browser.downloadProgress', (p) => { if (p.state === 'completed') resolve(); }));
  const button = await page.evaluate(`(() => { const b = document.querySelector('${selector}'); b.scrollIntoView();
    const r = b.getBoundingClientRect(); return { x: r.left + r.width / 2, y: r.top + r.height / 2 }; })()`);
  await page.click(button.x, button.y);
  await Promise.race([done, new Promise((r) => setTimeout(r, 10000))]);
  const saved = fs.existsSync(folder) ? fs.readdirSync(folder) : [];
  assert.equal(saved.length, 1, `one file from ${selector}`);
  return { name: saved[0], bytes: fs.readFileSync(path.join(folder, saved[0])) };
}

// The README's way to publish the site: the folder as it is on a static
// server, here Python's, on a port of its own; the picture beside the page.
async function served(file) {
  const folder = fs.mkdtempSync(path.join(scratch, 'site-'));
  fs.cpSync(site, folder, { recursive: true });
  fs.copyFileSync(file, path.join(folder, path.basename(file)));
  const server = spawn('python3', ['-u', '-m', 'http.server', '0', '--bind', '127.0.0.1', '-d', folder],
                       { stdio: ['ignore', 'pipe', 'ignore'] });
  const port = await new Promise((resolve) => server.stdout.on('data', (d) => {
    const m = /port (\d+)/.exec(String(d));
    if (m) resolve(m[1]);
  }));
  return { url: `http://127.0.0.1:${port}/`, stop: () => server.kill() };
}

// A page at a phone's or a desktop's width, in Japanese or in English.
async function pageFor(form, lang) {
  const page = await browser.newPage(form === 'phone' ? 390 : 1280, form === 'phone' ? 844 : 900, form === 'phone');
  const locale = lang === 'ja' ? 'ja-JP' : 'en-GB';
  await page.send('Emulation.setLocaleOverride', { locale });
  await page.send('Emulation.setUserAgentOverride', { userAgent: 'Mozilla/5.0', acceptLanguage: locale });
  return page;
}
const box = (page, selector) => page.evaluate(`(() => { const r = document.querySelector('${selector}').getBoundingClientRect();
  return { x: r.left, y: r.top, width: r.width, height: r.height, right: r.right, bottom: r.bottom, room: innerWidth, screen: innerHeight }; })()`);
const drag = async (page, from, to) => {
  for (const [type, [x, y]] of [['mousePressed', from], ['mouseMoved', to], ['mouseReleased', to]])
    await page.send('Input.dispatchMouseEvent', { type, x, y, button: 'left', buttons: type === 'mouseReleased' ? 0 : 1, clickCount: 1 });
};

// The resident memory of Chromium's whole process tree, the tab's cost.
function treeMemory() {
  const parents = new Map();
  for (const pid of fs.readdirSync('/proc').filter((n) => /^\d+$/.test(n))) {
    try {
      const stat = fs.readFileSync(`/proc/${pid}/stat`, 'utf8');
      parents.set(Number(pid), Number(stat.slice(stat.lastIndexOf(')') + 2).split(' ')[1]));
    } catch { /* gone */ }
  }
  let total = 0;
  for (const todo = [browser.pid]; todo.length;) {
    const pid = todo.pop();
    try {
      total += Number(/VmRSS:\s+(\d+)/.exec(fs.readFileSync(`/proc/${pid}/status`, 'utf8'))[1]) * 1024;
    } catch { /* gone */ }
    for (const [child, parent] of parents) if (parent === pid) todo.push(child);
  }
  return total;
}

// The highest tree memory while `work` runs, and how long it took.
async function peakWhile(work) {
  let peak = treeMemory();
  const timer = setInterval(() => { peak = Math.max(peak, treeMemory()); }, 50);
  const start = Date.now();
  try {
    await work();
  } finally {
    clearInterval(timer);
  }
  return { peak: Math.max(peak, treeMemory()), ms: Date.now() - start };
}

const groups = {
  async open() {
    const page = await browser.newPage(1280, 900);
    {
      // Each address opens or fails on its own, under the name it was given.
      const file = path.join(samplesDir, 'sakura.vld');
      const server = await served(file);
      const cases = [
        ['sakura.vld', 'sakura.vld', null],
        ['100%.vld', '100%.vld', 'the server has no such file (404)'],
        ['%3Cb%3Enope%3C%2Fb%3E.vld', '<b>nope</b>.vld', 'the server has no such file (404)'],
        ['data:;base64,' + encodeURIComponent(fs.readFileSync(file).toString('base64')), 'Picture in the link', null]
      ];
      try {
        await page.navigate(server.url + '?' + cases.map(([query]) => 'open=' + query).join('&'));
        await page.waitFor(`vldPage.entries.length === ${cases.length} && vldPage.entries.every((e) => e.picture || e.error)`, 'the addresses');
        assert.deepEqual(await page.evaluate(`vldPage.entries.map((e) => [e.name, e.error])`),
                         cases.map(([, name, error]) => [name, error]));
        assert.deepEqual(await page.evaluate(`[...document.querySelectorAll('.entry-name')].map((e) => e.textContent)`),
                         cases.map(([, name]) => name));
        // Fit by default: the largest whole zoom, each pixel a square.
        const { box, rgba } = await shownPixels(page);
        const expected = nativePng(file), zoom = box.width / expected.width;
        assert.ok(zoom >= 2 && Number.isInteger(zoom) && box.height === expected.height * zoom, `a whole zoom: ${zoom}`);
        const at = (i) => (Math.floor((i >> 2) / box.width / zoom) * expected.width + Math.floor((i >> 2) % box.width / zoom)) * 4 + (i & 3);
        assert.equal(rgba.findIndex((v, i) => v !== expected.rgba[at(i)]), -1, 'a served page shows the picture');
      } finally {
        server.stop();
      }
    }
    const samples = fs.readdirSync(samplesDir).filter((n) => n.endsWith('.vld')).sort();
    for (const name of samples) {
      const file = path.join(samplesDir, name);
      await page.navigate(`${pageUrl}?open=${encodeURIComponent(pathToFileURL(file).href)}`);
      await page.waitFor(`vldPage.entries[0] && vldPage.entries[0].picture && document.getElementById('fact-size').textContent`, name);
      await page.evaluate(`(() => { const s = document.getElementById('zoom'); s.value = '1'; s.dispatchEvent(new Event('change')); })()`);
      const expected = nativePng(file);
      const { box, rgba } = await shownPixels(page);
      assert.ok(Number.isInteger(box.x) && Number.isInteger(box.y), `${name}: on whole pixels ${JSON.stringify(box)}`);
      assert.deepEqual([box.width, box.height], [expected.width, expected.height], `${name}: 1:1`);
      assert.ok(box.y + box.height <= box.screen, `${name}: in the first screenful`);
      const wrong = rgba.findIndex((v, i) => v !== expected.rgba[i]);
      assert.equal(wrong, -1, `${name}: the screenshot shows the picture; first wrong pixel ${wrong >> 2}: ${rgba.subarray(wrong & ~3, (wrong & ~3) + 4)} for ${expected.rgba.subarray(wrong & ~3, (wrong & ~3) + 4)}`);
      const info = JSON.parse(execFileSync(vldtool, ['info', '--json', file]))[0];
      assert.equal(await page.evaluate(`document.getElementById('fact-comment').textContent`), info.comment || '(none)', name);
      assert.equal(await page.evaluate(`document.getElementById('fact-anchor').textContent`), info.anchor.join(', '), name);

      // See-through shows the checkerboard exactly where index 0 is.
      const seethrough = await page.evaluate(`!document.getElementById('seethrough').disabled`);
      assert.equal(seethrough, info.seethrough, `${name}: see-through offered`);
      if (!seethrough) continue;
      await page.evaluate(`document.getElementById('seethrough').focus()`);
      await page.key(' ', 'Space', 32);
      const see = await shownPixels(page);
      const clear = nativePng(file, '--transparent');
      for (let i = 0; i < clear.indices.length; ++i) {
        const shown = see.rgba.subarray(i * 4, i * 4 + 3);
        if (clear.indices[i] === 0) assert.ok([0xff, 0xcc].includes(shown[0]) && shown[0] === shown[1], `${name}: checkerboard at ${i}`);
        else assert.deepEqual([...shown], [...expected.rgba.subarray(i * 4, i * 4 + 3)], `${name}: pixel ${i}`);
      }
    }

    // The PNG download is the picture as shown.
    const saved = await download(page, '#download-png', path.join(scratch, 'png'));
    assert.equal(saved.name, samples[samples.length - 1].replace(/\.vld$/, '.png'));
    const last = path.join(samplesDir, samples[samples.length - 1]);
    assert.ok(Buffer.from(readPng(saved.bytes).rgba).equals(Buffer.from(nativePng(last).rgba)), 'the PNG has the picture');

    // Files dropped on the page open as the picker opens them.
    // Known by their first bytes, as the desktop's loaders know them: one without its extension too.
    const dropped = [path.join(samplesDir, samples[0]), path.join(scratch, 'no-extension')];
    fs.copyFileSync(path.join(samplesDir, samples[1]), dropped[1]);
    await page.navigate(pageUrl);
    for (const type of ['dragEnter', 'dragOver', 'drop'])
      await page.send('Input.dispatchDragEvent', { type, x: 400, y: 300, data: { items: [], files: dropped, dragOperationsMask: 1 } });
    await page.waitFor(`document.querySelectorAll('.entry .thumb').length === 2`, 'the dropped files');
    assert.equal(await page.evaluate(`document.getElementById('viewer-name').textContent`), samples[0]);

    // Several files: a list, and a damaged file's reason in it.
    const cut = path.join(scratch, 'cut.vld');
    fs.writeFileSync(cut, fs.readFileSync(path.join(samplesDir, samples[samples.length - 1])).subarray(0, 200));
    const reason = spawnSync(vldtool, ['info', cut], { encoding: 'utf8' }).stderr.trim().replace(/^.*?: .*?: .*?: /, '');
    const urls = [...samples.map((n) => path.join(samplesDir, n)), cut].map((f) => 'open=' + encodeURIComponent(pathToFileURL(f).href));
    await page.navigate(`${pageUrl}?${urls.join('&')}`);
    await page.waitFor(`document.querySelectorAll('.entry .thumb, .entry .entry-error').length === ${samples.length + 1}`, 'the list');
    assert.ok((await page.evaluate(`document.querySelector('.entry-error').textContent`)).endsWith(reason), reason);
    assert.ok(await page.evaluate(`!document.getElementById('picture-list').hidden`));
    fs.mkdirSync(shots, { recursive: true });
    fs.writeFileSync(path.join(shots, 'desktop-open.png'), await page.screenshot());

    // Every control can be reached from the keyboard and has a name.
    const unnamed = await page.evaluate(`[...document.querySelectorAll('input, select, button, [tabindex]')].filter((e) =>
      !(e.labels && e.labels.length) && !e.getAttribute('aria-label') && !e.textContent.trim() || e.tabIndex < 0).map((e) => e.id || e.outerHTML)`);
    assert.deepEqual(unnamed, []);

    // A phone: the page fits the width, in Japanese when the browser is.
    const phone = await browser.newPage(390, 844, true);
    await phone.send('Emulation.setLocaleOverride', { locale: 'ja-JP' });
    await phone.send('Emulation.setUserAgentOverride', { userAgent: 'Mozilla/5.0 (Linux; Android 14) Mobile', acceptLanguage: 'ja-JP,ja' });
    await phone.navigate(`${pageUrl}?${urls.slice(-2).reverse().join('&')}`);
    await phone.waitFor(`document.querySelectorAll('.entry .thumb').length === 1`, 'the phone page');
    assert.equal(await phone.evaluate(`document.documentElement.lang`), 'ja');
    assert.ok(await phone.evaluate(`document.documentElement.scrollWidth <= innerWidth`), 'no sideways scrolling');
    await phone.evaluate(`document.querySelector('.entry:not([aria-current="true"])').click()`);
    fs.writeFileSync(path.join(shots, 'phone-open.png'), await phone.screenshot());
    assert.deepEqual([...page.errors, ...phone.errors], []);
  },

  // What a newcomer meets, at both widths and in both languages.
  async ux() {
    const samples = fs.readdirSync(samplesDir).filter((n) => n.endsWith('.vld')).sort();
    const W = 1000, H = 640, photo = path.join(scratch, 'photo.png'), rgba = new Uint8Array(W * H * 4);
    for (let i = 0; i < W * H; ++i) rgba.set([i % W / 4, i / W / 2.6, 128 + 127 * Math.sin(Math.hypot(i % W - 600, i / W - 300) / 30), 255].map(Math.floor), i * 4);
    fs.writeFileSync(photo, writeRgbaPng(W, H, rgba));
    const plain = path.join(scratch, 'fuji'), notes = path.join(scratch, 'notes.txt'), cut = path.join(scratch, 'cut.vld');
    fs.copyFileSync(path.join(samplesDir, 'fuji-night.vld'), plain);
    fs.writeFileSync(notes, 'not an image');
    fs.writeFileSync(cut, fs.readFileSync(path.join(samplesDir, 'waves.vld')).subarray(0, 300));
    const open = [path.join(samplesDir, 'waves.vld'), path.join(scratch, 'missing.vld'), cut].map((f) => 'open=' + encodeURIComponent(pathToFileURL(f).href));
    const idle = `!vldPage.conversion.busy && !document.getElementById('download-vld').disabled`;
    for (const [form, lang] of [['desktop', 'en'], ['phone', 'ja'], ['desktop', 'ja'], ['phone', 'en']]) {
      const page = await pageFor(form, lang), ja = lang === 'ja', label = `${form}-${lang}`;
      const shot = async (name) => fs.writeFileSync(path.join(shots, `ux-${name}-${label}.png`), await page.screenshot());
      const text = (selector) => page.evaluate(`[...document.querySelectorAll('${selector}')].map((e) => e.offsetHeight ? e.textContent : '').join('|')`);
      await page.navigate(pageUrl);
      // The first screen says what these are, and a sample opens with a click.
      assert.match(await text('[data-t="tagline"]'), ja ? /4色の小さな画像/ : /image in four colours/, label);
      await page.waitFor(`document.querySelectorAll('.sample canvas').length === ${samples.length}`, 'the samples');
      assert.equal(await text('.sample'), samples.join('|'));
      assert.equal(await page.evaluate(`document.querySelector('link[rel="icon"]').getAttribute('href')`), 'icon.svg');
      fs.mkdirSync(shots, { recursive: true });
      await shot('first');
      await page.evaluate(`[...document.querySelectorAll('.sample')].find((b) => b.textContent === 'heart.vld').click()`);
      await page.waitFor(`vldPage.entries[0] && vldPage.entries[0].picture`, 'the heart');
      // A small picture at the largest whole zoom that fits, the checkerboard only behind it.
      const heart = await box(page, '#picture'), stage = await box(page, '.stage');
      const zoom = heart.width / 7;
      assert.ok(Number.isInteger(zoom) && heart.height === 6 * zoom && heart.right <= heart.room && heart.bottom <= heart.screen &&
      ((zoom + 1) * 7 > heart.room - heart.x - 32 || (zoom + 1) * 6 > heart.screen - heart.y - 16), `${label}: zoom ${zoom}`);
      assert.ok(stage.width === heart.width && stage.height === heart.height, `${label}: the checkerboard's stage hugs the picture`);
      assert.equal(await text('#status'), ja ? '1 枚の画像を開きました' : '1 picture opened');
      await shot('heart');
      // A large picture scaled down to fit; reasons in the page's language, where all can read them.
      await page.navigate(`${pageUrl}?${open.join('&')}`);
      await page.waitFor(`document.querySelectorAll('.entry .thumb, .entry .entry-error').length === 3`, 'the list');
      const waves = await box(page, '#picture');
      assert.ok(waves.right <= waves.room && (form === 'phone' ? waves.width < 800 : waves.bottom <= waves.screen), `${label}: ${waves.width}`);
      if (waves.width < 800) assert.equal(await page.evaluate(`getComputedStyle(document.getElementById('picture')).imageRendering`), 'auto', 'scaled down smoothly');
      assert.match(await text('#seethrough-note'), ja ? /完全な黒 \(0x0000\)/ : /exact black \(0x0000\)/);
      assert.match(await text('#fact-palette li'), ja ? /^0: #[0-9a-f]{6} 保存値 0x[0-9A-F]{4}\|/ : /^0: #[0-9a-f]{6} stored as 0x[0-9A-F]{4}\|/);
      const reasons = (await text('.entry-error')).replace(/\w+\.vld/g, '');
      assert.match(reasons, ja ? /^[^A-Za-z]*取得できませんでした\|[^A-Za-z]*行 \d+ の途中/ : /^the file could not be fetched\|the file is cut short: it ends inside row \d+$/, `${label}: ${reasons}`);
      await shot('words');

      // Converting: the download in view, sizes in KB, the preview whole or 1:1.
      const { root } = await page.send('DOM.getDocument');
      const { nodeId } = await page.send('DOM.querySelector', { nodeId: root.nodeId, selector: '#convert-input' });
      await page.send('DOM.setFileInputFiles', { nodeId, files: [photo] });
      await page.waitFor(idle, 'the conversion');
      const button = await box(page, '#download-vld');
      assert.ok(button.y >= 0 && button.bottom <= button.screen && await page.evaluate(`document.getElementById('download-vld').className === 'primary'`), label);
      assert.match(await text('#result-size'), ja ? /^\d+\.\d KB \(元の画像は \d+\.\d KB\)$/ : /^\d+\.\d KB; the original is \d+\.\d KB$/);
      const fit = await box(page, '#compare-inner'), preview = await box(page, '#preview');
      assert.ok(fit.width <= preview.width && fit.width < W && await page.evaluate(`document.getElementById('result').classList.contains('smooth')`), label);
      // The divider moves with the keyboard and with a pointer, on the picture.
      await page.evaluate(`document.getElementById('divider').focus()`);
      await page.key('ArrowRight', 'ArrowRight', 39);
      assert.equal(await page.evaluate(`document.getElementById('divider').getAttribute('aria-valuenow')`), '55');
      const divider = await box(page, '#divider');
      await drag(page, [divider.x + divider.width / 2, divider.y + divider.height / 2], [fit.x + fit.width / 5, divider.y + 10]);
      assert.equal(await page.evaluate(`document.getElementById('divider').getAttribute('aria-valuenow')`), '20');
      assert.equal(await page.evaluate(`document.getElementById('result').style.clipPath`), `inset(0px 0px 0px ${fit.width / 5}px)`);
      await shot('convert');
      await page.evaluate(`document.getElementById('view-actual').click()`);
      const actual = await box(page, '#compare-inner');
      assert.deepEqual([actual.width, actual.height], [768, 492], 'the result 1:1, fitted to the screen');
      await drag(page, [actual.x + 300, actual.y + 100], [actual.x + 250, actual.y + 50]);
      assert.ok(await page.evaluate(`document.getElementById('compare').scrollLeft === 50 && !document.getElementById('result').classList.contains('smooth')`), `${label}: pans`);
      await shot('actual');
      // A colour well used chooses "these four"; a colour picked from the image fills it.
      await page.evaluate(`(() => { const c = document.getElementById('colour-1'); c.focus(); c.value = '#102030'; c.dispatchEvent(new Event('input')); })()`);
      assert.ok(await page.evaluate(`document.querySelector('input[name="colours"][value="given"]').checked`));
      await page.evaluate(`document.getElementById('pick-colour').click(); document.getElementById('compare').scrollIntoView()`);
      const shown = await box(page, '#compare');
      await page.click(shown.x + 10, shown.y + 20);
      const scroll = await page.evaluate(`[document.getElementById('compare').scrollLeft, document.getElementById('compare').scrollTop]`);
      const at = (Math.floor((20 + scroll[1]) * W / 768) * W + Math.floor((10 + scroll[0]) * W / 768)) * 4;
      assert.equal(await page.evaluate(`document.getElementById('colour-1').value`), '#' + [...rgba.subarray(at, at + 3)].map((v) => v.toString(16).padStart(2, '0')).join(''));
      // Every character the comment cannot hold is named, with its stand-in.
      await page.evaluate(`document.getElementById('comment').focus()`);
      await page.send('Input.insertText', { text: '¥〜x€' });
      await page.waitFor(`document.getElementById('comment-fix')`, 'the stand-ins');
      const named = await text('#comment-error');
      for (const piece of ['“¥” (U+00A5)', '“〜” (U+301C)', '“€” (U+20AC)', '“￥”', '“～”']) assert.ok(named.includes(piece), named);
      await page.evaluate(`document.getElementById('comment-fix').click()`);
      await page.key('Backspace', 'Backspace', 8);
      await page.waitFor(`document.getElementById('comment').value === '￥～x' && ${idle}`, 'the replaced comment');
      assert.match(await text('#comment-count'), /^5 /);
      // A failed conversion says why where the preview was, and leaves nothing else.
      for (const [file, why] of [[notes, ja ? /ブラウザでは画像として読めません/ : /cannot read it as an image/], [plain, ja ? /すでに4色画像/ : /already a four-colour picture/]]) {
        await page.send('DOM.setFileInputFiles', { nodeId, files: [file] });
        await page.waitFor(`!document.getElementById('convert-error').hidden && document.getElementById('converter-name').textContent === '${path.basename(file)}'`, 'the failure');
        assert.match(await text('#convert-error'), why);
        assert.equal(await text('#preview, #options, .download-bar, #converter-warning'), '|||');
      }
      await shot('failed');
      await page.evaluate(`document.querySelector('#convert-error button').click()`);
      await page.waitFor(`document.getElementById('viewer-name').textContent === 'fuji'`, 'the picture opened');
      assert.deepEqual(page.errors, []);
    }
  },

  async convert() {
    // Opaque and fully clear pixels only: a canvas keeps those exact.
    const width = 200, height = 150;
    const rgba = new Uint8Array(width * height * 4);
    for (let y = 0; y < height; ++y) {
      for (let x = 0; x < width; ++x) {
        const clear = (x - 150) ** 2 + (y - 40) ** 2 < 600;
        rgba.set([128 + 120 * Math.sin(x / 9), 128 + 120 * Math.sin(y / 13 + x / 30), 128 + 120 * Math.cos((x + y) / 17), clear ? 0 : 255].map(Math.floor), (y * width + x) * 4);
      }
    }
    const png = path.join(scratch, 'photo.png');
    fs.writeFileSync(png, writeRgbaPng(width, height, rgba));

    const page = await browser.newPage(1280, 900);
    await page.navigate(pageUrl);
    const downloads = path.join(scratch, 'downloads');
    const { root } = await page.send('DOM.getDocument');
    const { nodeId } = await page.send('DOM.querySelector', { nodeId: root.nodeId, selector: '#convert-input' });
    await page.send('DOM.setFileInputFiles', { nodeId, files: [png] });
    const idle = `!vldPage.conversion.busy && !document.getElementById('download-vld').disabled`;
    await page.waitFor(idle, 'the first conversion');

    // The options as a person sets them: a select, typing, a click on the screen.
    await page.evaluate(`(() => { const s = document.getElementById('dither'); s.focus(); s.value = 'floyd-steinberg';
      s.dispatchEvent(new Event('input', { bubbles: true })); })()`);
    await page.evaluate(`document.getElementById('comment').focus()`);
    await page.send('Input.insertText', { text: '桜¥' });
    await page.waitFor(`!document.getElementById('comment-error').hidden`, 'the refusal');
    assert.match(await page.evaluate(`document.getElementById('comment-error').textContent`), /“¥” \(U\+00A5\)/);
    assert.ok(await page.evaluate(`document.getElementById('download-vld').disabled`), 'no download of a refused comment');
    await page.key('Backspace', 'Backspace', 8);
    await page.send('Input.insertText', { text: ' の写真' });
    const screen = await page.evaluate(`(() => { const c = document.getElementById('converter-screen'); c.scrollIntoView();
      const r = c.getBoundingClientRect(); return { x: r.left, y: r.top, width: r.width, height: r.height }; })()`);
    // The click's point on the 768 x 512 screen becomes the anchor; an arrow key moves it on.
    const click = [Math.round(screen.x + screen.width / 4), Math.round(screen.y + screen.height / 2)];
    const anchor = [Math.floor((click[0] - screen.x) * 768 / screen.width) + 1, Math.floor((click[1] - screen.y) * 512 / screen.height)];
    await page.click(...click);
    await page.evaluate(`document.getElementById('converter-screen').focus()`);
    await page.key('ArrowRight', 'ArrowRight', 39);
    await page.waitFor(`document.getElementById('anchor-x').value === '${anchor[0]}' && ${idle} && vldPage.conversion.anchorX === ${anchor[0]}`, 'the anchor');
    assert.equal(await page.evaluate(`document.getElementById('anchor-y').value`), String(anchor[1]));
    fs.mkdirSync(shots, { recursive: true });
    await page.evaluate(`scrollTo(0, 0)`);
    fs.writeFileSync(path.join(shots, 'desktop-convert.png'), await page.screenshot());

    // Download with the page's button, as vldtool would write it with `args`.
    const common = ['--dither', 'floyd-steinberg', '--anchor', anchor.join(','), '--comment', '桜 の写真'];
    const checkDownload = async (label, args) => {
      const saved = await download(page, '#download-vld', path.join(downloads, label));
      assert.equal(saved.name, 'photo.vld', label);
      const expected = path.join(scratch, label + '.vld');
      execFileSync(vldtool, ['encode', png, '-o', expected, ...args], { stdio: 'ignore' });
      assert.ok(saved.bytes.equals(fs.readFileSync(expected)), label + ': the download is what vldtool writes');
    };
    await checkDownload('chosen', common);
    const drawn = await page.evaluate(`Array.from(document.getElementById('result').getContext('2d').getImageData(0, 0, ${width}, ${height}).data)`);
    assert.ok(Buffer.from(drawn).equals(Buffer.from(nativePng(path.join(scratch, 'chosen.vld')).rgba)), 'the result shown is the file');

    // Colours by hand start from the chosen ones; one of them changed.
    await page.evaluate(`document.querySelector('input[name="colours"][value="given"]').click()`);
    await page.evaluate(`(() => { const c = document.getElementById('colour-2'); c.value = '#ff8000';
      c.dispatchEvent(new Event('input', { bubbles: true })); })()`);
    await page.waitFor(`${idle} && document.getElementById('result-palette').textContent.includes('#ff8400')`, 'the given colours');
    const picked = await page.evaluate(`[0, 1, 2, 3].map((i) => document.getElementById('colour-' + i).value).join(',')`);
    assert.match(picked, /^#000000,#[0-9a-f]{6},#ff8000,#[0-9a-f]{6}$/);
    await checkDownload('given', [...common, '--palette', picked]);

    const phone = await browser.newPage(390, 844, true);
    await phone.navigate(pageUrl);
    const doc = await phone.send('DOM.getDocument');
    const input = await phone.send('DOM.querySelector', { nodeId: doc.root.nodeId, selector: '#convert-input' });
    // Larger than the reference screen: fitted to it, as vldtool encode --fit
    // fits it, byte for byte; the PNG's own comment and anchor are taken.
    const large = path.join(scratch, 'large.png');
    fs.writeFileSync(large, writeRgbaPng(800, 300, new Uint8Array(800 * 300 * 4).map((_, i) => (i & 3) === 3 ? 255 : i * 7),
      [['tEXt', 'Anchor', '0x10,017'], ['iTXt', 'Comment', '春の海'], ['tEXt', 'Comment', 'damaged']]));
    const crc = fs.readFileSync(large);
    crc[crc.indexOf('damaged') + 7] ^= 1;
    fs.writeFileSync(large, crc);
    await phone.send('DOM.setFileInputFiles', { nodeId: input.nodeId, files: [large] });
    await phone.waitFor(idle, 'the phone conversion');
    assert.equal(await phone.evaluate(`['comment', 'anchor-x', 'anchor-y', 'size-w', 'size-h'].map((id) => document.getElementById(id).value).join('|')`), '春の海|16|17|768|288');
    const sized = async (label, args) => {
      const saved = await download(phone, '#download-vld', path.join(downloads, label));
      execFileSync(vldtool, ['encode', large, '-o', path.join(scratch, label + '.vld'), ...args], { stdio: 'ignore' });
      assert.ok(saved.bytes.equals(fs.readFileSync(path.join(scratch, label + '.vld'))), label + ': what vldtool encode ' + args.join(' ') + ' writes');
    };
    await sized('fit', ['--fit']);
    // A width typed: the height follows the image's shape; the box is unticked.
    await phone.evaluate(`(() => { const w = document.getElementById('size-w'); w.focus(); w.value = '400'; w.dispatchEvent(new Event('input')); })()`);
    await phone.waitFor(`${idle} && document.getElementById('size-h').value === '150' && !document.getElementById('fit-screen').checked`, 'the size typed');
    await sized('typed', ['--resize', '400x']);
    // A size the library could not read back is refused before it takes memory, as vldtool refuses it.
    await phone.evaluate(`(() => { const w = document.getElementById('size-w'); w.value = '40000'; w.dispatchEvent(new Event('input')); })()`);
    await phone.waitFor(`document.getElementById('size-note').textContent.includes('cannot hold')`, 'the refusal');
    assert.notEqual(spawnSync(vldtool, ['encode', large, '-o', path.join(scratch, 'huge.vld'), '--resize', '40000x']).status, 0);
    await phone.evaluate(`(() => { const w = document.getElementById('size-w'); w.value = '400'; w.dispatchEvent(new Event('input')); })()`);
    await phone.waitFor(idle, 'a size again');
    // A picture's PNG from vldtool decode comes back as the same picture:
    // its indices, exact words, comment and anchor are kept.
    for (const name of fs.readdirSync(samplesDir).filter((n) => n.endsWith('.vld'))) {
      const decoded = path.join(scratch, name + '.png');
      execFileSync(vldtool, ['decode', path.join(samplesDir, name), '-o', decoded]);
      await phone.send('DOM.setFileInputFiles', { nodeId: input.nodeId, files: [decoded] });
      await phone.waitFor(`${idle} && document.getElementById('converter-name').textContent === '${name}.png'`, name);
      // Its size as it is, for one larger than the screen too.
      if (await phone.evaluate(`document.getElementById('fit-screen').checked`)) {
        await phone.evaluate(`document.getElementById('fit-screen').click()`);
        await phone.waitFor(`${idle} && vldPage.conversion.picture.width === ${readPng(fs.readFileSync(decoded)).width}`, name + ' unfitted');
      }
      const back = await download(phone, '#download-vld', path.join(downloads, name));
      assert.ok(back.bytes.equals(fs.readFileSync(path.join(samplesDir, name))), name + ' comes back unchanged');
    }
    await phone.send('DOM.setFileInputFiles', { nodeId: input.nodeId, files: [png] });
    await phone.waitFor(`${idle} && document.getElementById('converter-warning').hidden`, 'the second phone conversion');
    assert.ok(await phone.evaluate(`document.documentElement.scrollWidth <= innerWidth`), 'no sideways scrolling');
    fs.writeFileSync(path.join(shots, 'phone-convert-options.png'), await phone.screenshot());
    await phone.evaluate(`scrollTo(0, 0)`);
    fs.writeFileSync(path.join(shots, 'phone-convert.png'), await phone.screenshot());
    assert.deepEqual([...page.errors, ...phone.errors], []);
  }
};

groups.bombs = async function () {
  // Pictures at the size limit from 20 KB files: one row, repeated.
  const { default: createVld } = await import(pathToFileURL(path.join(site, 'vld.mjs')).href);
  const vld = await createVld({ wasmBinary: fs.readFileSync(path.join(site, 'vld.wasm')) });
  const palette = [0, 0x7bde, 0xf800, 0x07c0], colours = palette.map((w) => vld.rgb(w));
  const pattern = (x) => (x * 7 >> 3) & 3;
  const page = await browser.newPage(1280, 900);
  await page.send('Page.addScriptToEvaluateOnNewDocument', { source: `window.longestTask = 0; new PerformanceObserver((list) =>
    list.getEntries().forEach((e) => { longestTask = Math.max(longestTask, e.duration); })).observe({ type: 'longtask' });` });
  const MB = 1 << 20;
  for (const [width, height] of [[65535, 4091], [16376, 16376]]) {
    const indices = new Uint8Array(width * height);
    for (let x = 0; x < width; ++x) indices[x] = pattern(x);
    for (let y = 1; y < height; ++y) indices.copyWithin(y * width, 0, width);
    const file = path.join(scratch, `bomb-${width}x${height}.vld`);
    fs.writeFileSync(file, vld.encode({ width, height, palette, indices }));
    const label = `${width} × ${height} from ${fs.statSync(file).size} bytes`;
    // Opened with the picker in a page already there, so that the growth is the picture's.
    await page.navigate(pageUrl);
    const { root } = await page.send('DOM.getDocument');
    const { nodeId } = await page.send('DOM.querySelector', { nodeId: root.nodeId, selector: '#open-input' });
    await page.send('HeapProfiler.collectGarbage');
    await page.evaluate('longestTask = 0');
    const before = treeMemory();
    const open = await peakWhile(async () => {
      await page.send('DOM.setFileInputFiles', { nodeId, files: [file] });
      await page.waitFor(`vldPage.entries[0] && vldPage.entries[0].picture && document.querySelector('.entry .thumb')`, label, 60);
    });
    const longest = await page.evaluate('longestTask');
    console.log(`${label}: open ${open.ms} ms, longest task ${Math.round(longest)} ms, tab +${Math.round((open.peak - before) / MB)} MB at peak`);
    assert.ok(longest <= 200, `${label}: the page stopped for ${longest} ms`);
    assert.ok(open.peak - before <= width * height + 64 * MB, `${label}: the tab grew by ${open.peak - before} bytes`);
    // What is on screen at 1× is the picture's corner; the thumbnail is small.
    await page.evaluate(`(() => { const z = document.getElementById('zoom'); z.value = '1'; z.dispatchEvent(new Event('change')); })()`);
    fs.mkdirSync(shots, { recursive: true });
    fs.writeFileSync(path.join(shots, `bomb-${width}x${height}.png`), await page.screenshot());
    const { box, rgba } = await shownPixels(page);
    assert.ok(box.width < width && box.height < height, `${label}: only the part on screen is drawn`);
    for (let i = 0; i < box.width * Math.min(box.height, box.screen - box.y); ++i)
      assert.deepEqual([...rgba.subarray(i * 4, i * 4 + 3)], colours[pattern(i % box.width)], `${label}: pixel ${i} of ${JSON.stringify(box)}`);
    const thumb = await page.evaluate(`(() => { const c = document.querySelector('.entry .thumb'); return [c.width, c.height]; })()`);
    assert.ok(thumb[0] <= 256 && thumb[1] <= 128, `${label}: thumbnail ${thumb}`);
    // At 2× and scrolled far in, the part scrolled to, each pixel twice.
    const scrolled = await page.evaluate(`(() => { const z = document.getElementById('zoom'); z.value = '2'; z.dispatchEvent(new Event('change'));
      const stage = document.getElementById('stage'); stage.scrollTo(20001, 0); return new Promise((r) => setTimeout(() => r(stage.scrollLeft), 200)); })()`);
    const zoomed = await shownPixels(page), stage = await page.evaluate(`document.getElementById('stage').getBoundingClientRect().left`);
    for (let x = 0; x < 200; ++x) {
      const at = Math.floor((scrolled + x) / 2), shown = (stage - zoomed.box.x + x) * 4;
      assert.deepEqual([...zoomed.rgba.subarray(shown, shown + 3)], colours[pattern(at)], `${label}: 2× at ${at}`);
    }
    // Zoomed out to fit, it is the average of its colours.
    await page.evaluate(`(() => { const z = document.getElementById('zoom'); z.value = 'fit'; z.dispatchEvent(new Event('change')); })()`);
    const fit = await shownPixels(page), mean = [0, 1, 2].map((c) => {
      let sum = 0;
      for (let x = 0; x < 256; ++x) sum += colours[pattern(x)][c];
      return sum / 256;
    });
    assert.ok(fit.box.width <= 1280 && fit.box.height <= 900 * 0.75, `${label}: fits ${JSON.stringify(fit.box)}`);
    const middle = ((fit.box.height >> 1) * fit.box.width + (fit.box.width >> 1)) * 4;
    assert.ok(mean.every((v, c) => Math.abs(fit.rgba[middle + c] - v) < 24), `${label}: ${fit.rgba.subarray(middle, middle + 3)} for ${mean}`);
    // Closing it gives the memory back.
    await page.evaluate(`document.getElementById('close-picture').click()`);
    await page.send('HeapProfiler.collectGarbage');
    assert.ok(treeMemory() - before <= 64 * MB, `${label}: ${treeMemory() - before} bytes kept after closing`);
  }

  // A palette PNG whose data goes on for 128 MB of zeros after its last row
  // is refused before anything inflates it.
  const bomb = path.join(scratch, 'bomb.png');
  fs.writeFileSync(bomb, writePalettePng(16, 16, [[0, 0, 0], [255, 255, 255]], 128 * MB));
  await page.navigate(pageUrl);
  const { root } = await page.send('DOM.getDocument');
  const { nodeId } = await page.send('DOM.querySelector', { nodeId: root.nodeId, selector: '#convert-input' });
  const refused = await peakWhile(async () => {
    await page.send('DOM.setFileInputFiles', { nodeId, files: [bomb] });
    await page.waitFor(`document.getElementById('convert-error').textContent.includes('bytes of image data')`, 'the PNG refused');
  });
  console.log(`palette PNG bomb: refused in ${refused.ms} ms`);
  assert.ok(refused.ms < 1000, `the PNG took ${refused.ms} ms`);
  assert.deepEqual(page.errors, []);
};

try {
  await groups[group]();
  console.log(group + ': ok');
} finally {
  await browser.close();
  fs.rmSync(scratch, { recursive: true, force: true });
}
