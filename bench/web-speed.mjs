// The page against the native command, timed in Debian's chromium from Run
// to the results and as a whole velmora-curve process, medians of five: a
// 51-point curve at 10^6 muons (both laws, 0 to 100 cm in steps of 2), the
// page on a worker per core; and the same curve at 10^7 muons, the page on
// one worker and on two, for what the second core gives: the two are timed
// in turn, so that a machine busy with something else slows both alike.
// Given the single file too, the 51-point curve from it, opened from the
// file system, in turn with the served page's: its workers start from the
// module's base64 text rather than from a fetched .wasm.
//   node bench/web-speed.mjs build/web/page build/release/velmora-curve [build/web/velmora.html]
import {spawnSync} from 'node:child_process';
import path from 'node:path';
import {pathToFileURL} from 'node:url';
import {launchBrowser, openPage, servePage, waitForRun} from '../tests/web/browser.mjs';

const [pageDir, native, singleFile] = process.argv.slice(2);
const runs = 5;
const median = (values) => values.sort((a, b) => a - b)[Math.floor(values.length / 2)];

function nativeSeconds(muons) {
  const seconds = [];
  for (let i = 0; i < runs; ++i) {
    const start = process.hrtime.bigint();
    spawnSync(native, ['--muons', muons, '0:100:2'], {stdio: 'ignore'});
    seconds.push(Number(process.hrtime.bigint() - start) / 1e9);
  }
  return median(seconds);
}

const server = await servePage(pageDir);
const browser = await launchBrowser();
// The medians of each query's seconds, the queries run in turn; a query
// is run by the served page, or by the page at the address it starts with.
async function pageSeconds(...queries) {
  const seconds = queries.map(() => []);
  for (let i = 0; i < runs; ++i) {
    for (const [k, query] of queries.entries()) {
      const address = query.includes('?') ? query : `${server.origin}/?${query}`;
      const page = await openPage(browser, `${address}&distances=0:100:2&run=1`);
      await waitForRun(page);
      seconds[k].push(Number(await page.evaluate(() => document.body.dataset.lastRunSeconds)));
      await page.close();
    }
  }
  return seconds.map(median);
}

try {
  const [web] = await pageSeconds('muons=1000000');
  const cli = nativeSeconds('1000000');
  console.log(`10^6 muons: page ${web.toFixed(3)} s, velmora-curve ${cli.toFixed(3)} s, ratio ${(web / cli).toFixed(2)}`);
  if (singleFile) {
    const [served, single] = await pageSeconds('muons=1000000',
      `${pathToFileURL(path.resolve(singleFile)).href}?muons=1000000`);
    console.log(`10^6 muons: served page ${served.toFixed(3)} s, single file ${single.toFixed(3)} s`);
  }
  const [one, two] = await pageSeconds('muons=10000000&workers=1', 'muons=10000000&workers=2');
  console.log(`10^7 muons: page on 1 worker ${one.toFixed(3)} s, on 2 ${two.toFixed(3)} s, ` +
    `${(one / two).toFixed(2)} times as fast; velmora-curve ${nativeSeconds('10000000').toFixed(3)} s`);
} finally {
  await browser.close();
  await server.close();
}
