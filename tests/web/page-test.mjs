// The page in a real browser: filled in or opened from a link, it must show
// and let download the very CSV of the native velmora-curve; a bad value
// must show its message and run nothing; Cancel must stop a run; and no
// request may leave for another host.
//   node page-test.mjs PAGE_DIR NATIVE_VELMORA_CURVE SCREENSHOT.png
import assert from 'node:assert/strict';
import {spawnSync} from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import {launchBrowser, openPage, servePage, waitForRun} from './browser.mjs';

const [pageDir, native, screenshot] = process.argv.slice(2);

function natively(words) {
  const r = spawnSync(native, words, {encoding: 'utf8', env: {LC_ALL: 'C'}});
  return r.status === 0 ? r.stdout : r.stderr.split('\n')[0].replace(/^velmora-curve: /, '');
}

// Clicks the download link and returns what was saved.
async function download(page) {
  const file = path.join(downloads, 'velmora-curve.csv');
  fs.rmSync(file, {force: true});
  await page.click('#download');
  for (let wait = 0; wait < 100 && !fs.existsSync(file); ++wait) {
    await new Promise((resolve) => setTimeout(resolve, 100));
  }
  return fs.readFileSync(file, 'utf8');
}

// The table as CSV text: header cells, then one line per row.
async function tableText(page) {
  return page.$eval('#table', (table) => [...table.rows]
    .map((row) => [...row.cells].map((cell) => cell.textContent).join(',') + '\n').join(''));
}

const server = await servePage(pageDir);
const browser = await launchBrowser();
const downloads = fs.mkdtempSync(path.join(os.tmpdir(), 'velmora-downloads-'));
const session = await browser.target().createCDPSession();
await session.send('Browser.setDownloadBehavior', {behavior: 'allow', downloadPath: downloads});
const requests = [];
browser.on('targetcreated', async (target) => {
  const page = await target.page();
  page?.on('request', (request) => requests.push(request.url()));
});

let failed = 0;
async function expect(name, test) {
  try {
    await test();
    console.log(`ok ${name}`);
  } catch (error) {
    failed += 1;
    console.log(`not ok ${name}\n${error.stack}`);
  }
}

try {
  await expect('a filled-in form gives the native table, CSV and command line', async () => {
    const page = await openPage(browser, `${server.origin}/`);
    await page.type('#distances', '0:40:10 2.5');
    await page.type('#muons', '20000');
    await page.keyboard.press('Enter');
    assert.match(await waitForRun(page), /^Done/);
    const expected = natively(['--muons', '20000', '0:40:10', '2.5']);
    assert.equal(await tableText(page), expected);
    assert.equal(await page.$eval('#command', (node) => node.textContent),
      'velmora-curve --muons 20000 0:40:10 2.5');
    assert.equal(await download(page), expected);
    // The address now holds the inputs: a link gives the same run.
    assert.equal(new URL(page.url()).search, '?distances=0%3A40%3A10+2.5&muons=20000');
    await page.close();
  });

  const links = [
    ['law=isotropic&top=25x25&bottom=20x30&offset=2,-3&muons=20000&distances=0,15,30',
      ['--law', 'isotropic', '--muons', '20000', '--top', '25x25', '--bottom', '20x30',
        '--offset', '2,-3', '0,15,30']],
    ['tilt=0:90:10&tilt-azimuth=30&exponent=1.85&muons=50000&distances=10,30&seed=7',
      ['--exponent', '1.85', '--tilt', '0:90:10', '--tilt-azimuth', '30', '--seed', '7',
        '--muons', '50000', '10,30']],
  ];
  for (const [query, words] of links) {
    await expect(`a link runs as it loads: ${query}`, async () => {
      const page = await openPage(browser, `${server.origin}/?${query}&run=1`);
      assert.match(await waitForRun(page), /^Done/);
      assert.equal(await tableText(page), natively(words));
      assert.equal(await download(page), natively(words));
      if (words.includes('--tilt')) {
        assert.equal(await page.$eval('#plot svg title', (t) => t.textContent),
          'Coincidence rate against the tilt');
        await page.screenshot({path: screenshot, fullPage: true});
      }
      await page.close();
    });
  }

  await expect('a bad value shows its message and runs nothing', async () => {
    const before = requests.length;
    const page = await openPage(browser, `${server.origin}/?distances=10`);
    await page.type('#top', '0x31');
    await page.click('#run');
    assert.equal(await page.$eval('#top-problem', (node) => node.textContent),
      natively(['--top', '0x31', '10']));
    assert.equal(await page.$eval('#top', (node) => node.getAttribute('aria-invalid')), 'true');
    assert.equal(await page.evaluate(() => document.activeElement.id), 'top');
    // Fields good one by one, but not together.
    await page.$eval('#top', (node) => { node.value = ''; });
    await page.select('#law', 'both');
    await page.type('#tilt', '20');
    await page.click('#run');
    assert.equal(await page.$eval('#law-problem', (node) => node.textContent),
      natively(['--law', 'both', '--tilt', '20', '10']));
    assert.match(await page.$eval('#status', (node) => node.textContent), /^Nothing was run/);
    assert.equal(await page.$eval('#results', (node) => node.hidden), true);
    assert.equal(requests.slice(before).filter((url) => url.endsWith('/worker.js')).length, 0);
    await page.close();
  });

  await expect('Cancel stops a long run', async () => {
    const page = await openPage(browser, `${server.origin}/?muons=2000000000&distances=0:100:1&run=1`);
    await page.waitForFunction(() => document.getElementById('progress').value > 0);
    await page.click('#cancel');
    assert.match(await waitForRun(page, 10000), /^Cancelled/);
    await new Promise((resolve) => setTimeout(resolve, 500));
    assert.equal(await page.$eval('#progress', (node) => node.value), 0);
    assert.equal(await page.$eval('#results', (node) => node.hidden), true);
    // The worker is gone: a run straight after gives its own result.
    await page.$eval('#muons', (node) => { node.value = '1000'; });
    await page.click('#run');
    assert.match(await waitForRun(page), /^Done/);
    await page.close();
  });

  await expect('every field is labelled and the page fits a phone', async () => {
    const page = await openPage(browser, `${server.origin}/?distances=5,10&run=1`, 360);
    await waitForRun(page);
    const unlabelled = await page.$$eval('input, select', (nodes) => nodes
      .filter((node) => node.type !== 'radio' && node.labels.length === 0).map((node) => node.id));
    assert.deepEqual(unlabelled, []);
    const width = await page.evaluate(() => document.documentElement.scrollWidth);
    assert.ok(width <= 360, `the page is ${width} px wide`);
    await page.close();
  });

  await expect('no request leaves for another host', async () => {
    assert.ok(requests.length > 0);
    const elsewhere = requests.filter((url) => !url.startsWith(server.origin) &&
      !url.startsWith('blob:') && !url.startsWith('data:'));
    assert.deepEqual(elsewhere, []);
  });
} finally {
  await browser.close();
  await server.close();
  fs.rmSync(downloads, {recursive: true, force: true});
}
const bytes = fs.readdirSync(pageDir).reduce((sum, name) => sum + fs.statSync(path.join(pageDir, name)).size, 0);
console.log(`# the page is ${bytes} bytes; screenshot: ${screenshot}`);
process.exit(failed === 0 ? 0 : 1);
