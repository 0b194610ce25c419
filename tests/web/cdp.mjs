// A headless Chromium driven over --remote-debugging-pipe (the DevTools
// protocol as NUL-separated JSON on file descriptors 3 and 4), so the page
// tests need nothing from npm.
import { spawn } from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';

// `fileAccess` lets pages from file:// read other files (for ?open=).
export async function launch({ fileAccess = false } = {}) {
  const profile = fs.mkdtempSync(path.join(os.tmpdir(), 'vld-chromium-'));
  const child = spawn('chromium', [
    '--headless', '--no-sandbox', '--remote-debugging-pipe', ...(fileAccess ? ['--allow-file-access-from-files'] : []),
    '--user-data-dir=' + profile, '--no-first-run', '--no-default-browser-check', '--disable-gpu',
    '--hide-scrollbars', '--force-color-profile=srgb', '--disable-extensions', 'about:blank'
  ], { stdio: ['ignore', 'ignore', 'pipe', 'pipe', 'pipe'] });
  let stderr = '';
  child.stdio[2].on('data', (d) => { stderr += d; });
  const waiting = new Map(), listeners = [];
  let nextId = 1, buffered = '';
  child.stdio[4].on('data', (data) => {
    buffered += data.toString('utf8');
    let end;
    while ((end = buffered.indexOf('\0')) >= 0) {
      const message = JSON.parse(buffered.slice(0, end));
      buffered = buffered.slice(end + 1);
      if (message.id && waiting.has(message.id)) {
        const { resolve, reject, method } = waiting.get(message.id);
        waiting.delete(message.id);
        if (message.error) reject(new Error(method + ': ' + message.error.message));
        else resolve(message.result);
      } else if (message.method) {
        for (const listener of listeners) listener(message);
      }
    }
  });
  const exited = new Promise((resolve) => child.on('exit', resolve));
  exited.then(() => {
    for (const { reject } of waiting.values()) reject(new Error('chromium exited: ' + stderr.slice(-2000)));
  });

  function send(method, params = {}, sessionId) {
    return new Promise((resolve, reject) => {
      const id = nextId++;
      waiting.set(id, { resolve, reject, method });
      child.stdio[3].write(JSON.stringify({ id, method, params, sessionId }) + '\0');
    });
  }

  async function close() {
    send('Browser.close').catch(() => {});
    const timer = setTimeout(() => child.kill('SIGKILL'), 5000);
    await exited;
    clearTimeout(timer);
    fs.rmSync(profile, { recursive: true, force: true });
  }

  // A new tab: send() bound to its session, plus the page's errors.
  async function newPage(width, height, mobile = false) {
    const { targetId } = await send('Target.createTarget', { url: 'about:blank' });
    const { sessionId } = await send('Target.attachToTarget', { targetId, flatten: true });
    const page = {
      errors: [],
      send: (method, params) => send(method, params, sessionId),
      on: (method, handler) => listeners.push((m) => { if (m.sessionId === sessionId && m.method === method) handler(m.params); })
    };
    page.on('Runtime.exceptionThrown', (p) => page.errors.push(p.exceptionDetails.exception?.description || p.exceptionDetails.text));
    page.on('Runtime.consoleAPICalled', (p) => { if (p.type === 'error') page.errors.push(p.args.map((a) => a.value).join(' ')); });
    await page.send('Runtime.enable');
    await page.send('Page.enable');
    await page.send('Emulation.setDeviceMetricsOverride', { width, height, deviceScaleFactor: 1, mobile });
    page.evaluate = async (expression) => {
      const { result, exceptionDetails } = await page.send('Runtime.evaluate', { expression, awaitPromise: true, returnByValue: true });
      if (exceptionDetails) throw new Error(expression + ': ' + (exceptionDetails.exception?.description || exceptionDetails.text));
      return result.value;
    };
    page.waitFor = async (expression, what, seconds = 20) => {
      const until = Date.now() + seconds * 1000;
      for (;;) {
        const value = await page.evaluate(expression);
        if (value) return value;
        if (Date.now() > until) throw new Error('timed out waiting for ' + what + (page.errors.length ? ': ' + page.errors.join('; ') : ''));
        await new Promise((r) => setTimeout(r, 50));
      }
    };
    page.navigate = async (url) => {
      const loaded = new Promise((resolve) => page.on('Page.loadEventFired', resolve));
      await page.send('Page.navigate', { url });
      await loaded;
    };
    page.screenshot = async () => Buffer.from((await page.send('Page.captureScreenshot', { format: 'png' })).data, 'base64');
    page.click = async (x, y) => {
      for (const type of ['mousePressed', 'mouseReleased'])
        await page.send('Input.dispatchMouseEvent', { type, x, y, button: 'left', clickCount: 1 });
    };
    page.key = async (key, code, keyCode) => {
      for (const type of ['keyDown', 'keyUp'])
        await page.send('Input.dispatchKeyEvent', { type, key, code, windowsVirtualKeyCode: keyCode });
    };
    return page;
  }

  // Browser-wide events, such as downloads.
  const on = (method, handler) => listeners.push((m) => { if (!m.sessionId && m.method === method) handler(m.params); });
  return { send, on, close, newPage, pid: child.pid };
}
