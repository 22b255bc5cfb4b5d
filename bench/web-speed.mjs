// The page against the native command: a 51-point curve at 10^6 muons (both
// laws, 0 to 100 cm in steps of 2), timed in Debian's chromium from Run to
// the results and as a whole velmora-curve process; medians of five.
//   node bench/web-speed.mjs build/web/page build/release/velmora-curve
import {spawnSync} from 'node:child_process';
import {launchBrowser, openPage, servePage, waitForRun} from '../tests/web/browser.mjs';

const [pageDir, native] = process.argv.slice(2);
const runs = 5;
const median = (values) => values.sort((a, b) => a - b)[Math.floor(values.length / 2)];

const nativeSeconds = [];
for (let i = 0; i < runs; ++i) {
  const start = process.hrtime.bigint();
  spawnSync(native, ['--muons', '1000000', '0:100:2'], {stdio: 'ignore'});
  nativeSeconds.push(Number(process.hrtime.bigint() - start) / 1e9);
}

const server = await servePage(pageDir);
const browser = await launchBrowser();
const pageSeconds = [];
try {
  for (let i = 0; i < runs; ++i) {
    const page = await openPage(browser, `${server.origin}/?muons=1000000&distances=0:100:2&run=1`);
    await waitForRun(page);
    pageSeconds.push(Number(await page.evaluate(() => document.body.dataset.lastRunSeconds)));
    await page.close();
  }
} finally {
  await browser.close();
  await server.close();
}
const [web, cli] = [median(pageSeconds), median(nativeSeconds)];
console.log(`page ${web.toFixed(3)} s, velmora-curve ${cli.toFixed(3)} s, ratio ${(web / cli).toFixed(2)}`);
