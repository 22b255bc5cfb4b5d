// The built page served on 127.0.0.1 and Debian's chromium, headless,
// driven by puppeteer-core: for the page's tests and its benchmark. Nothing
// here downloads a browser.
import fs from 'node:fs';
import http from 'node:http';
import os from 'node:os';
import path from 'node:path';
import puppeteer from 'puppeteer-core';

const types = {
  '.html': 'text/html; charset=utf-8',
  '.js': 'text/javascript; charset=utf-8',
  '.css': 'text/css; charset=utf-8',
  '.wasm': 'application/wasm',
};

// Serves the files of `dir` on 127.0.0.1 at a free port; `close()` stops it.
// A test may set `alter(name, request, file)` to answer a request in the
// file's place, with {status, body}, or with nothing to serve the file.
export async function servePage(dir) {
  const root = path.resolve(dir);
  const served = {};
  const server = http.createServer((request, response) => {
    const name = new URL(request.url, 'http://localhost').pathname;
    const altered = served.alter?.(name, request, path.join(root, name));
    if (altered) {
      response.writeHead(altered.status, {'content-type': types[path.extname(name)] || 'text/plain'})
        .end(altered.body);
      return;
    }
    const file = path.join(root, path.normalize(name === '/' ? '/index.html' : name));
    if (!file.startsWith(root + path.sep) || !fs.existsSync(file)) {
      response.writeHead(404).end();
      return;
    }
    response.writeHead(200, {'content-type': types[path.extname(file)] || 'application/octet-stream'});
    fs.createReadStream(file).pipe(response);
  });
  await new Promise((resolve) => server.listen(0, '127.0.0.1', resolve));
  return Object.assign(served, {
    origin: `http://127.0.0.1:${server.address().port}`,
    close: () => new Promise((resolve) => server.close(resolve)),
  });
}

// Debian's chromium, headless, with a profile of its own that is removed
// on close, and with nothing of its own that reaches out to the network.
export async function launchBrowser() {
  const profile = fs.mkdtempSync(path.join(os.tmpdir(), 'velmora-chromium-'));
  const browser = await puppeteer.launch({
    executablePath: process.env.CHROMIUM || '/usr/bin/chromium',
    headless: true,
    userDataDir: profile,
    // --disable-dev-shm-usage: a bootstrapped Debian root has no /dev/shm.
    args: ['--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
      '--disable-dev-shm-usage',
      '--disable-background-networking', '--disable-component-update', '--disable-sync',
      '--disable-default-apps', '--disable-extensions'],
  });
  const close = browser.close.bind(browser);
  browser.close = async () => {
    await close();
    fs.rmSync(profile, {recursive: true, force: true});
  };
  return browser;
}

// Opens `url` in a new page and waits until the simulation is loaded; the
// page's console errors and uncaught exceptions gather in `page.errors`.
export async function openPage(browser, url, width = 1280) {
  const page = await browser.newPage();
  page.errors = [];
  page.on('console', (message) => message.type() === 'error' && page.errors.push(message.text()));
  page.on('pageerror', (error) => page.errors.push(error.message));
  await page.setViewport({width, height: 900});
  await page.goto(url);
  await page.waitForFunction(() => document.getElementById('status').textContent !== 'Loading the simulation…');
  return page;
}

// Waits for the run of the panel whose elements' ids start with `prefix`
// (the curve's none, the fit's fit-) to end and returns the status it ends
// with.
export async function waitForRun(page, timeout = 120000, prefix = '') {
  await page.waitForFunction((prefix) => !document.getElementById(`${prefix}run`).disabled &&
    /^(Done|Nothing|Cancelled|The (run|fit) failed)/.test(document.getElementById(`${prefix}status`).textContent),
  {timeout}, prefix);
  return page.$eval(`#${prefix}status`, (node) => node.textContent);
}
