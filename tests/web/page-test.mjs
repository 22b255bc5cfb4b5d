// The page in a real browser, served and as the single file opened from
// the file system: filled in or opened from a link, on any number of
// workers, it must show and let download the very CSV of the native
// velmora-curve, and the very report and CSV of velmora-fit for the same
// measurements; a bad value, a bad file or a link it would not write must
// show its message and run nothing; a run that fails must say so and mark
// the earlier results; Cancel must stop a run; the table must show what the
// fields asked for, and a command line break between options only; a
// phone must show it whole; the console must stay free of errors; and no
// request may leave for another host. velmora-fit is taken from beside
// velmora-curve.
//   node page-test.mjs PAGE_DIR SINGLE_FILE NATIVE_VELMORA_CURVE SCREENSHOT.png
import assert from 'node:assert/strict';
import {spawnSync} from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import {pathToFileURL} from 'node:url';
import {launchBrowser, openPage, servePage, waitForRun} from './browser.mjs';

const [pageDir, singleFile, nativePath, screenshot] = process.argv.slice(2);
// Absolute: velmora-fit runs in the folder of the measurements.
const native = path.resolve(nativePath);

// What the command writes, or the first line of its refusal; run in `cwd`,
// where a file of measurements may be.
function natively(words, command = native, cwd = undefined) {
  const r = spawnSync(command, words, {encoding: 'utf8', env: {LC_ALL: 'C'}, maxBuffer: 1 << 26, cwd});
  return r.status === 0 ? r.stdout : r.stderr.split('\n')[0].replace(/^velmora-(curve|fit): /, '');
}

// Clicks a download link and returns what was saved.
async function download(page, link = '#download', name = 'velmora-curve.csv') {
  const file = path.join(downloads, name);
  fs.rmSync(file, {force: true});
  await page.click(link);
  // Chrome writes to a .crdownload file beside an empty one of the name.
  const writing = () => !fs.existsSync(file) ||
    fs.readdirSync(downloads).some((name) => name.endsWith('.crdownload'));
  for (let wait = 0; wait < 100 && writing(); ++wait) {
    await new Promise((resolve) => setTimeout(resolve, 100));
  }
  return fs.readFileSync(file, 'utf8');
}

// The table with every column as CSV text: header cells, then one line per
// row.
async function tableText(page) {
  await page.$eval('#all-columns', (box) => box.checked || box.click());
  return page.$eval('#table', (table) => [...table.rows]
    .map((row) => [...row.cells].map((cell) => cell.textContent).join(',') + '\n').join(''));
}

const text = (page, selector) => page.$eval(selector, (node) => node.textContent);
const texts = (page, selector) => page.$$eval(selector, (nodes) => nodes.map((node) => node.textContent));

// Closes a page that must have left nothing in its console.
async function close(page) {
  assert.deepEqual(page.errors, []);
  await page.close();
}

// Each error bar's ends, low and high, read back through the y axis' grid.
async function errorBars(page) {
  return page.$eval('#plot svg', (svg) => {
    const all = (selector, f) => [...svg.querySelectorAll(selector)].map(f);
    const ticks = all('.tick-y', (node) => Number(node.textContent));
    const ys = all('.grid-y', (node) => Number(node.getAttribute('y1')));
    const value = (y) => ticks[0] + (y - ys[0]) * (ticks[1] - ticks[0]) / (ys[1] - ys[0]);
    return all('.error-bar', (bar) => [value(Number(bar.getAttribute('y1'))),
      value(Number(bar.getAttribute('y2')))].sort((a, b) => a - b));
  });
}

// Whether each drawn error bar is one of `bars`, as [low, high], and there
// are as many.
function sameBars(drawn, bars) {
  const byLow = (a, b) => a[0] - b[0];
  drawn.sort(byLow);
  bars.sort(byLow);
  assert.equal(drawn.length, bars.length);
  bars.forEach((bar, i) => assert.ok(bar.every((end, k) => Math.abs(drawn[i][k] - end) < 1e-9),
    `an error bar from ${drawn[i]} for ${bar}`));
}

// The CSV's rows as objects of its columns, found by the header's names.
function csvRows(csv) {
  const [header, ...rows] = csv.trim().split('\n').map((line) => line.split(','));
  return rows.map((row) => Object.fromEntries(header.map((name, i) => [name, row[i]])));
}

// Where a command line shown in `selector` breaks as it must not: inside
// a word (an option's name above all), or between an option and its value
// where the two would fit on one line.
function badBreaks(page, selector) {
  return page.$eval(selector, (code) => {
    const lines = (node) => new Set([...node.getClientRects()].map((r) => Math.round(r.bottom))).size;
    const split = [];
    const words = document.createTreeWalker(code, NodeFilter.SHOW_TEXT);
    while (words.nextNode()) {
      for (const word of words.currentNode.data.matchAll(/\S+/g)) {
        const range = document.createRange();
        range.setStart(words.currentNode, word.index);
        range.setEnd(words.currentNode, word.index + word[0].length);
        if (lines(range) > 1) {
          split.push(word[0]);
        }
      }
    }
    const room = code.parentElement.clientWidth - 20;
    const parted = [...code.querySelectorAll('.piece')]
      .filter((piece) => piece.getBoundingClientRect().width < room && lines(piece) > 1)
      .map((piece) => piece.textContent);
    return {split, parted};
  });
}

const server = await servePage(pageDir);
// The single file, as a double click opens it, and the served page.
const single = pathToFileURL(path.resolve(singleFile));
const at = {served: `${server.origin}/`, single: single.href};
const browser = await launchBrowser();
const downloads = fs.mkdtempSync(path.join(os.tmpdir(), 'velmora-downloads-'));
const folder = fs.mkdtempSync(path.join(os.tmpdir(), 'velmora-measured-'));
const session = await browser.target().createCDPSession();
await session.send('Browser.setDownloadBehavior', {behavior: 'allow', downloadPath: downloads});
const requests = [];
browser.on('targetcreated', async (target) => {
  const page = await target.page();
  page?.on('request', (request) => requests.push(request.url()));
});
// A request that starts a worker: the served page's script, or a Blob of
// the single file's.
const startsWorker = (url) => url.endsWith('/worker.js') || url.startsWith('blob:');
// A request of the served page's worker.
const fromWorker = (request) => request.headers.referer?.endsWith('/worker.js');

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

// Each row of `rows` in both forms of the page, as [form, row].
const inBoth = (rows) => ['served', 'single'].flatMap((form) => rows.map((row) => [form, row]));

try {
  await expect('a filled-in form gives the native table, CSV and command line', async () => {
    const page = await openPage(browser, at.served);
    await page.type('#distances', '0:40:10 2.5');
    await page.type('#muons', '20000');
    await page.type('#seed', '   '); // blank: the default
    await page.keyboard.press('Enter');
    assert.match(await waitForRun(page), /^Done/);
    // The focus is on the results, without a box round their heading.
    assert.deepEqual(await page.evaluate(() => [document.activeElement.id,
      getComputedStyle(document.activeElement).outlineStyle]), ['results-heading', 'none']);
    const expected = natively(['--muons', '20000', '0:40:10', '2.5']);
    // Each error bar reaches efficiency ± std_error.
    sameBars(await errorBars(page), csvRows(expected).filter((r) => Number(r.std_error) > 0)
      .map((r) => [r.efficiency - r.std_error, Number(r.efficiency) + Number(r.std_error)]));
    // velmora's own pair of paddles: its laws are named after velmora's.
    assert.deepEqual(await texts(page, '#plot .legend text'),
      ['cos²θ law (as velmora)', 'directions uniform per crossing track (as velmorauni)']);
    assert.equal(await text(page, '#column-count'), String(expected.split('\n')[0].split(',').length));
    assert.equal(await tableText(page), expected);
    assert.equal(await text(page, '#command'), 'velmora-curve --muons 20000 0:40:10 2.5');
    assert.equal(await download(page), expected);
    // The address now holds the inputs: a link gives the same run.
    assert.equal(new URL(page.url()).search, '?distances=0%3A40%3A10+2.5&muons=20000');
    await close(page);
  });

  await expect('an empty Run asks for the distances, the one field with no default to show', async () => {
    const page = await openPage(browser, at.served);
    assert.equal(await page.$eval('#distances', (node) => node.placeholder), '');
    await page.click('#run');
    assert.match(await waitForRun(page), /^Nothing was run/);
    assert.equal(await text(page, '#distances-problem'), natively([]));
    assert.deepEqual(await page.$$eval('.problem', (nodes) => nodes
      .filter((node) => node.textContent !== '').map((node) => node.id)), ['distances-problem']);
    await close(page);
  });

  // The address, the native command's words, the command line shown, the
  // plot's title and its legend: a telescope other than velmora's pair has
  // the law without velmora's name.
  const links = [
    ['law=isotropic&top=25x25&bottom=20x30&offset=2,-3&muons=20000&distances=0,15,30',
      ['--law', 'isotropic', '--muons', '20000', '--top', '25x25', '--bottom', '20x30',
        '--offset', '2,-3', '0,15,30'],
      'velmora-curve --law isotropic --muons 20000 --top 25x25 --bottom 20x30 --offset 2,-3 0,15,30',
      'Geometric efficiency against distance', ['directions uniform per crossing track']],
    ['tilt=0:90:10&tilt-azimuth=30&exponent=1.85&muons=50000&distances=10,30&seed=7',
      ['--exponent', '1.85', '--tilt', '0:90:10', '--tilt-azimuth', '30', '--seed', '7',
        '--muons', '50000', '10,30'],
      'velmora-curve --muons 50000 --exponent 1.85 --tilt 0:90:10 --tilt-azimuth 30 --seed 7 10,30',
      'Coincidence rate against the tilt',
      ['10 cm', '30 cm', 'cosᴺα, N = 1.85: an infinitely narrow telescope']],
    ['tilt=30&muons=20000&distances=0:40:20', ['--muons', '20000', '--tilt', '30', '0:40:20'],
      'velmora-curve --muons 20000 --tilt 30 0:40:20',
      'Geometric efficiency against distance, the axis tilted 30°', ['cos²θ law']],
    ['offset=1,%20-2&muons=20000&distances=-5,5+1e1',
      ['--muons', '20000', '--offset', '1, -2', '--', '-5,5', '1e1'],
      "velmora-curve --muons 20000 --offset '1, -2' -- -5,5 1e1",
      'Geometric efficiency against distance', ['cos²θ law', 'directions uniform per crossing track']],
    // On 3, 1 and 2 workers; the rows above on one per core.
    ['paddles=10x31x1&layer=10x31x1@5&layer=10x31@8,1,0&require=all,2,1%2B3&detection=0.9,0.8,0.95,0.9&noise=100,50,20,10&window=50&precision=0.05&muons=20000&distances=10,20&workers=3',
      ['--muons', '20000', '--paddles', '10x31x1', '--layer', '10x31x1@5', '--layer', '10x31@8,1,0',
        '--require', 'all,2,1+3', '--detection', '0.9,0.8,0.95,0.9', '--noise', '100,50,20,10',
        '--window', '50', '--precision', '0.05', '10,20'],
      'velmora-curve --muons 20000 --paddles 10x31x1 --layer 10x31x1@5 --layer 10x31@8,1,0 --require all,2,1+3 --detection 0.9,0.8,0.95,0.9 --noise 100,50,20,10 --window 50 --precision 0.05 10,20',
      'Geometric efficiency against distance', ['require all', 'require 2', 'require 1+3']],
    ['top=10x31x2&bottom=10x31x1&min-path=0.5&tilt=0,30&muons=20000&distances=0:20:10&workers=1',
      ['--top', '10x31x2', '--bottom', '10x31x1', '--min-path', '0.5', '--tilt', '0,30', '--muons',
        '20000', '0:20:10'],
      'velmora-curve --muons 20000 --top 10x31x2 --bottom 10x31x1 --min-path 0.5 --tilt 0,30 0:20:10',
      'Coincidence rate against the tilt',
      ['0 cm', '10 cm', '20 cm', 'cos²α: an infinitely narrow telescope']],
    ['method=integral&intensity=70&exponent=2.1&paddles=5x5&distances=3,10&workers=2',
      ['--method', 'integral', '--intensity', '70', '--exponent', '2.1', '--paddles', '5x5', '3,10'],
      'velmora-curve --intensity 70 --paddles 5x5 --exponent 2.1 --method integral 3,10',
      'Geometric efficiency against distance', ['cosᴺθ law, N = 2.1']],
    // The muon spectrum under a roof, a slab of lead below the paddles; a
    // tilt scan of it, high up under rock and water, an iron slab between
    // the paddles: no cosᴺα to draw beside it.
    ['sky=spectrum&overburden=concrete:30&absorber=lead:5@40&paddles=10x31x1&muons=20000&distances=10,20&workers=2',
      ['--sky', 'spectrum', '--overburden', 'concrete:30', '--absorber', 'lead:5@40', '--paddles',
        '10x31x1', '--muons', '20000', '10,20'],
      'velmora-curve --muons 20000 --paddles 10x31x1 --absorber lead:5@40 --sky spectrum --overburden concrete:30 10,20',
      'Geometric efficiency against distance', ['muon spectrum']],
    ['sky=spectrum&altitude=1500&overburden=rock:2500g&overburden=water:100&absorber=iron:20x40x5@30,-5,-5&exponent=3&tilt=0:90:45&muons=10000&distances=40&workers=3',
      ['--altitude', '1500', '--overburden', 'rock:2500g', '--overburden', 'water:100', '--absorber',
        'iron:20x40x5@30,-5,-5', '--exponent', '3', '--tilt', '0:90:45', '--muons', '10000',
        '--sky', 'spectrum', '40'],
      'velmora-curve --muons 10000 --absorber iron:20x40x5@30,-5,-5 --exponent 3 --sky spectrum --altitude 1500 --overburden rock:2500g --overburden water:100 --tilt 0:90:45 40',
      'Coincidence rate against the tilt', ['40 cm']],
  ];
  for (const [form, [query, words, command, title, legend]] of inBoth(links)) {
    await expect(`a link runs as it loads (${form}): ${query}`, async () => {
      const page = await openPage(browser, `${at[form]}?${query}&run=1`);
      assert.match(await waitForRun(page), /^Done/);
      const workers = new URLSearchParams(query).get('workers');
      if (workers) {
        assert.equal(await page.evaluate(() => document.body.dataset.lastRunWorkers), workers);
      }
      assert.equal(await text(page, '#command'), command);
      assert.equal(await text(page, '#plot svg title'), title);
      assert.deepEqual(await texts(page, '#plot .legend text'), legend);
      assert.equal(await tableText(page), natively(words));
      assert.equal(await download(page), natively(words));
      if (words.includes('0:90:10')) {
        await page.screenshot({path: screenshot.replace(/\.png$/, form === 'single' ? '-single.png' : '.png'),
          fullPage: true});
      }
      if (words.includes('lead:5@40') && form === 'served') {
        await page.click('input[value="rate"]');
        await page.screenshot({path: screenshot.replace(/\.png$/, '-spectrum.png'), fullPage: true});
      }
      await close(page);
    });
  }

  // The columns of the quantities a run's fields ask for are in the table
  // without asking for all of them, whatever their values; at a laptop's
  // 1280 px they fit, every header whole. All 30 do not: the table then
  // says it scrolls. The plot's legend: velmora's law is not velmora's
  // where the telescope is not velmora's pair; and that of the rate, with
  // the spectrum its soft component dashed beside it, which the spectrum's
  // columns give, with the energy a muon needs.
  const keyColumns = [
    ['paddles=20x20&layer=20x20@5&law=cos_squared&noise=100,100,100&window=50&precision=0.05&muons=20000&distances=5,10',
      ['distance_cm', 'rate_per_minute', 'accidentals_per_minute', 'counting_time_s',
        'singles_per_minute_1', 'singles_per_minute_2', 'singles_per_minute_3', 'efficiency',
        'std_error'], ['cos²θ law'], ['cos²θ law']],
    ['detection=1,1&require=all&tilt=0&law=cos_squared&muons=20000&distances=5,10',
      ['distance_cm', 'tilt_deg', 'require', 'rate_per_minute', 'rate_detected_per_minute',
        'efficiency', 'std_error'], ['cos²θ law (as velmora)'], ['cos²θ law (as velmora)']],
    ['intensity=70&method=integral&tilt=10&tilt-azimuth=45&distances=5,10',
      ['distance_cm', 'tilt_deg', 'tilt_azimuth_deg', 'rate_per_minute', 'flux_per_cm2_min',
        'efficiency'], ['cos²θ law'], ['cos²θ law']],
    ['sky=spectrum&overburden=concrete:30&muons=20000&distances=5,10',
      ['distance_cm', 'rate_per_minute', 'soft_per_minute', 'flux_per_cm2_min', 'threshold_gev',
        'efficiency', 'std_error'], ['muon spectrum'],
      ['muon spectrum', 'soft component (electrons, photons)']],
  ];
  for (const [query, columns, legend, rateLegend] of keyColumns) {
    await expect(`the columns asked for: ${query}`, async () => {
      const page = await openPage(browser, `${at.served}?${query}&run=1`, 1280);
      assert.match(await waitForRun(page), /^Done/);
      const fit = () => page.evaluate(() => {
        const box = document.querySelector('.table-scroll');
        return {scrolls: box.scrollWidth > box.clientWidth, note: !document.getElementById('scroll-note').hidden,
          cut: [...box.querySelectorAll('th')].filter((th) => th.scrollWidth > th.clientWidth ||
            th.getBoundingClientRect().right > box.getBoundingClientRect().right).map((th) => th.textContent)};
      });
      assert.deepEqual(await texts(page, '#table th'), columns);
      assert.deepEqual(await texts(page, '#plot .legend text'), legend);
      assert.deepEqual(await fit(), {scrolls: false, note: false, cut: []});
      await page.click('input[value="rate"]');
      assert.deepEqual(await texts(page, '#plot .legend text'), rateLegend);
      await page.click('#all-columns');
      assert.equal((await fit()).note, true);
      assert.equal(await page.$eval('.table-scroll', (box) => box.classList.contains('more-right')), true);
      await close(page);
    });
  }

  // A link the page would not write runs nothing and says why, at the
  // field or above the form.
  const badLinks = [
    ['law=bogus&distances=5&run=1', 'law', /^law 'bogus' is not cos_squared, isotropic or both$/],
    ['distance=3&run=1', 'link', /“distance” is not one of its keys/],
    ['distances=5&run=yes', 'link', /run=“yes”: only run=1/],
    ['distances=5&muons=1000&muons=2000&run=1', 'link', /“muons” is given twice/],
    ['layer=5x5&distances=5&run=1', 'layer-2', /^layer '5x5' is not a layer WxL\[xT\]@DEPTH/],
    ['paddles=5x5&top=5x5&bottom=5x5&distances=5&run=1', 'link', /“paddles” and “top” and “bottom” are two ways/],
    ['workers=0&distances=5&run=1', 'link', /workers=“0”: a number of workers from 1/],
    ['sky=sun&distances=5&run=1', 'sky', /^sky 'sun' is not cos or spectrum$/],
    ['sky=spectrum&altitude=5000&distances=5&run=1', 'altitude', /^altitude '5000' is not a number from 0 to 4000$/],
    ['sky=spectrum&overburden=concrete:30&overburden=marble:3&distances=5&run=1', 'overburden-2',
      /^overburden 'marble:3' is not MATERIAL:THICKNESS, the material one of lead, iron/],
    // Good alone, but across the layer between the paddles: found on Run.
    ['sky=spectrum&layer=10x31x1@2&absorber=lead:5@2.5&distances=10&run=1', 'absorber-1',
      /^absorber 1 at depths 2.5 to 7.5 would lie in layer 2: an absorber lies between the layers/],
    ['absorber=lead:5@3&distances=5&run=1', 'link', /“absorber” needs sky=spectrum/],
    ['sky=spectrum&intensity=70&distances=5&run=1', 'link', /“intensity” is not for sky=spectrum/],
    [`sky=spectrum${'&overburden=water:1'.repeat(5)}&distances=5&run=1`, 'link', /“overburden” is given more than 4 times/],
  ];
  for (const [form, [query, where, problem]] of inBoth(badLinks)) {
    await expect(`a link is refused (${form}): ${query}`, async () => {
      const before = requests.length;
      const page = await openPage(browser, `${at[form]}?${query}`);
      assert.match(await waitForRun(page), /^Nothing was run/);
      assert.match(await text(page, `#${where}-problem`), problem);
      assert.equal(await page.$eval('#results', (node) => node.hidden), true);
      assert.deepEqual(requests.slice(before).filter(startsWorker), []);
      await close(page);
    });
  }

  await expect('a bad value shows its message and runs nothing', async () => {
    const before = requests.length;
    const page = await openPage(browser, `${server.origin}/?distances=10`);
    await page.type('#paddles', '0x31');
    await page.click('#run');
    assert.equal(await page.$eval('#paddles-problem', (node) => node.textContent),
      natively(['--paddles', '0x31', '10']));
    assert.equal(await page.$eval('#paddles', (node) => node.getAttribute('aria-invalid')), 'true');
    assert.equal(await page.evaluate(() => document.activeElement.id), 'paddles');
    // Fields good one by one, but not together.
    await page.$eval('#paddles', (node) => { node.value = ''; });
    await page.select('#law', 'both');
    await page.type('#tilt', '20');
    await page.click('#run');
    assert.equal(await page.$eval('#law-problem', (node) => node.textContent),
      natively(['--law', 'both', '--tilt', '20', '10']));
    assert.match(await page.$eval('#status', (node) => node.textContent), /^Nothing was run/);
    // A layer added, and the paddles given apart: the upper one alone, then
    // both, with the layer below the lower one.
    await page.select('#law', '');
    await page.click('#add-layer');
    await page.keyboard.type('5x5@30');
    await page.click('input[value="apart"]');
    await page.type('#top', '5x5');
    await page.click('#run');
    const words = ['--layer', '5x5@30', '--tilt', '20', '10'];
    assert.equal(await text(page, '#top-problem'), natively(['--top', '5x5', ...words]));
    await page.type('#bottom', '5x5');
    await page.click('#run');
    assert.equal(await text(page, '#distances-problem'),
      natively(['--top', '5x5', '--bottom', '5x5', ...words]));
    assert.equal(await page.$eval('#results', (node) => node.hidden), true);
    assert.equal(requests.slice(before).filter(startsWorker).length, 0);
    // Removed, the layer leaves the command line.
    await page.click('#layer-rows button');
    await page.click('#run');
    assert.match(await waitForRun(page), /^Done/);
    assert.equal(await text(page, '#command'), 'velmora-curve --top 5x5 --bottom 5x5 --tilt 20 10');
    await page.close();
  });


  // Measurements fitted, from a file or pasted, as velmora-fit fits them;
  // a bad file shows the command's message and runs nothing. The columns
  // are what velmora-curve gives for the counts of ten minutes. The forms
  // of the page, the file (or null: pasted), the link that gives the
  // telescope, the fit's own fields clicked or typed in, velmora-fit's
  // words.
  const measured = 'tilt_deg,distance_cm,coincidences,live_time_s\n0,3,129,600\n15,3,122,600\n' +
    '30,3,103,600\n45,3,76,600\n60,3,50,600\n75,3,30,600\n90,3,23,600\n';
  const fitNatively = (words, name) => natively([...words, name], path.join(path.dirname(native), 'velmora-fit'), folder);
  const fits = [
    ['a file opened, N fitted by the integral', ['served', 'single'], 'counts.csv', measured,
      'paddles=5x5', [], ['--paddles', '5x5']],
    ['pasted, thick paddles, N fixed, I reported', ['served'], null, measured, 'paddles=5x5x1',
      [['input[value="fixed"]'], ['#fit-intensity']], ['--paddles', '5x5x1', '--exponent', '2', '--intensity']],
    ['a file with a bad count', ['served', 'single'], 'bad.csv', measured.replace('76', '7x6'),
      'paddles=5x5', [], ['--paddles', '5x5']],
    ['pasted, the counters described, a long command line', ['single'], null, measured,
      'paddles=5x5&detection=0.95,0.9&noise=10,12&window=50', [['#fit-tilt-azimuth', '30'], ['#fit-seed', '3']],
      ['--paddles', '5x5', '--detection', '0.95,0.9', '--noise', '10,12', '--window', '50',
        '--tilt-azimuth', '30', '--seed', '3']],
    // The spectrum's normalisation and index in the report and the CSV.
    ['the muon spectrum under a roof, its index fitted', ['served', 'single'], null, measured,
      'paddles=5x5&sky=spectrum&overburden=concrete:30', [],
      ['--paddles', '5x5', '--sky', 'spectrum', '--overburden', 'concrete:30']],
    ['the muon spectrum, its index fixed at its paper\'s', ['served'], null, measured,
      'paddles=5x5&sky=spectrum', [['input[value="fixed"]']],
      ['--paddles', '5x5', '--exponent', '3.01', '--sky', 'spectrum']],
  ];
  for (const [name, forms, file, data, query, steps, words] of fits) {
    for (const form of forms) {
      await expect(`a fit (${form}): ${name}`, async () => {
        const before = requests.length;
        const page = await openPage(browser, `${at[form]}?${query}`);
        await page.click('#fit-tab');
        const saved = file || 'measurements.csv';
        fs.writeFileSync(path.join(folder, saved), data);
        if (file) {
          await (await page.$('#fit-file')).uploadFile(path.join(folder, file));
          await page.waitForFunction(() => document.getElementById('fit-data').value !== '');
        } else {
          await page.$eval('#fit-data', (node, value) => { node.value = value; }, data);
        }
        for (const [selector, typed] of steps) {
          await (typed ? page.type(selector, typed) : page.click(selector));
        }
        await page.click('#fit-run');
        const report = fitNatively(words, saved);
        if (!report.startsWith('velmora-fit:')) {
          assert.match(await waitForRun(page, 10000, 'fit-'), /^Nothing was fitted/);
          assert.equal(await text(page, '#fit-data-problem'), report);
          assert.equal(await page.$eval('#fit-results', (node) => node.hidden), true);
          assert.deepEqual(requests.slice(before).filter(startsWorker), []);
          await close(page);
          return;
        }
        assert.match(await waitForRun(page, 120000, 'fit-'), /^Done/);
        assert.equal(await text(page, '#fit-report'), report);
        assert.equal(await download(page, '#fit-download', 'velmora-fit.csv'), fitNatively([...words, '--csv'], saved));
        assert.equal(await text(page, '#fit-command'), `velmora-fit ${words.join(' ')} ${saved}`);
        assert.equal(await text(page, '#fit-plot svg title'), 'Your coincidence rates and the fit against the tilt');
        assert.deepEqual(await badBreaks(page, '#fit-command'), {split: [], parted: []});
        if (file && form === 'served') {
          await page.screenshot({path: screenshot.replace(/\.png$/, '-fit.png'), fullPage: true});
        }
        if (query.includes('overburden') && form === 'served') {
          await page.screenshot({path: screenshot.replace(/\.png$/, '-fit-spectrum.png'), fullPage: true});
        }
        if (file || words.length > 6) {
          await page.setViewport({width: 380, height: 900});
          await new Promise((resolve) => setTimeout(resolve, 500));
          assert.ok(await page.evaluate(() => document.documentElement.scrollWidth) <= 380);
          assert.deepEqual(await badBreaks(page, '#fit-command'), {split: [], parted: []});
          await page.screenshot({path: screenshot.replace(/\.png$/, `-fit-phone${form === 'single' ? '-single' : ''}.png`),
            fullPage: true});
        }
        await close(page);
      });
    }
  }

  // The rate's error bars: from the CSV's rate_error_per_minute where it
  // has a value, else from the efficiency's relative error. The page's own
  // module gives a CSV whose rate_error_per_minute is made 0.5, and empty
  // at 40 cm.
  const rateErrors = `;createVelmoraModule = ((create) => () => create().then((module) => {
    const cwrap = module.cwrap;
    const withErrors = (csv) => {
      const [header, ...rows] = csv.trim().split('\\n');
      const [rate, error, distance] = ['rate_per_minute', 'rate_error_per_minute', 'distance_cm']
        .map((name) => header.split(',').indexOf(name));
      return [header, ...rows.map((row) => {
        const cells = row.split(',');
        cells[error] = cells[rate] === '' || cells[distance] === '40' ? '' : '0.5';
        return cells.join(',');
      })].join('\\n') + '\\n';
    };
    module.cwrap = (name, ...rest) => (name === 'velmora_csv'
      ? () => withErrors(cwrap(name, ...rest)()) : cwrap(name, ...rest));
    return module;
  }))(createVelmoraModule);`;
  await expect('the rate\'s error bars from the CSV\'s rate_error_per_minute, where it has them', async () => {
    server.alter = (name, request, file) => name === '/velmora-curve.js' && !fromWorker(request) &&
      {status: 200, body: fs.readFileSync(file) + rateErrors};
    const page = await openPage(browser, `${at.served}?muons=20000&distances=0:40:20&run=1`);
    server.alter = null;
    assert.match(await waitForRun(page), /^Done/);
    const expected = natively(['--muons', '20000', '0:40:20']);
    assert.equal(await text(page, '#column-count'), String(expected.split('\n')[0].split(',').length));
    await page.click('input[value="rate"]');
    sameBars(await errorBars(page), csvRows(expected).filter((r) => r.rate_per_minute !== '').map((r) => {
      const error = r.distance_cm === '40' ? r.rate_per_minute * r.std_error / r.efficiency : 0.5;
      return [r.rate_per_minute - error, Number(r.rate_per_minute) + error];
    }));
    await close(page);
  });

  // A Run that fails, in the worker or before it, says so, leaves no worker
  // behind and marks the results of the run before; the next Run works.
  const abortSlices = `;createVelmoraModule = ((create) => () => create().then((module) => {
    const cwrap = module.cwrap;
    module.cwrap = (name, ...rest) => (name === 'velmora_run_next'
      ? () => { throw new WebAssembly.RuntimeError('Aborted(OOM)'); } : cwrap(name, ...rest));
    return module;
  }))(createVelmoraModule);`;
  const failures = [
    ['the module does not load in the worker', (name, request) => name === '/velmora-curve.wasm' &&
      fromWorker(request) && {status: 404, body: ''}, '', /^The run failed: .*Aborted/],
    ['the simulation aborts in the worker', (name, request, file) => name === '/velmora-curve.js' &&
      fromWorker(request) && {status: 200, body: fs.readFileSync(file) + abortSlices}, '',
    /^The run failed: Aborted\(OOM\)/],
    ['the worker is missing', (name) => name === '/worker.js' && {status: 404, body: ''}, '',
      /^The run failed/],
    ['a field is refused', null, '0x31', /^Nothing was run/],
  ];
  for (const [name, alter, paddles, failed] of failures) {
    await expect(`a failed run: ${name}`, async () => {
      const page = await openPage(browser, `${server.origin}/?distances=5,10&muons=2000&run=1`);
      assert.match(await waitForRun(page), /^Done/);
      const earlier = await text(page, '#command');
      server.alter = alter;
      await page.type('#paddles', paddles);
      await page.click('#run');
      assert.match(await waitForRun(page, 10000), failed);
      server.alter = null;
      for (let wait = 0; wait < 50 && page.workers().length > 0; ++wait) {
        await new Promise((resolve) => setTimeout(resolve, 100));
      }
      assert.equal(page.workers().length, 0);
      assert.equal(await page.$eval('#stale-note', (node) => node.hidden), false);
      assert.equal(await text(page, '#command'), earlier);
      await page.$eval('#paddles', (node) => { node.value = ''; });
      await page.click('#run');
      assert.match(await waitForRun(page), /^Done/);
      assert.equal(await page.$eval('#stale-note', (node) => node.hidden), true);
      await page.close();
    });
  }

  // The spectrum's fields by keyboard, on a phone: shown with the spectrum
  // alone, the flux hidden then; a slab and an absorber added from their
  // buttons; a bad value shown at its field with the command's message;
  // Enter in any of them runs; each in the command line and the link.
  await expect('the spectrum\'s fields by keyboard on a phone', async () => {
    const page = await openPage(browser, `${server.origin}/?muons=20000&distances=10`, 380);
    const hidden = () => page.$$eval('#altitude, #add-overburden, #add-absorber, #flux, #intensity',
      (nodes) => nodes.map((node) => node.offsetParent === null));
    assert.deepEqual(await hidden(), [true, true, true, false, true]);
    await page.focus('#sky');
    await page.keyboard.press('ArrowDown');
    await page.keyboard.press('ArrowDown');
    assert.equal(await page.$eval('#sky', (node) => node.value), 'spectrum');
    assert.deepEqual(await hidden(), [false, false, false, true, true]);
    assert.equal(await page.$eval('#exponent', (node) => node.placeholder), '3.01');
    const enter = async (id, typed) => {
      await page.$eval(`#${id}`, (node) => { node.value = ''; });
      await page.focus(`#${id}`);
      await page.keyboard.type(typed);
      await page.keyboard.press('Enter');
      return waitForRun(page);
    };
    await page.focus('#add-overburden');
    await page.keyboard.press('Enter');
    assert.match(await enter('overburden-1', 'marble:3'), /^Nothing was run/);
    const words = ['--muons', '20000', '--sky', 'spectrum', '10'];
    assert.equal(await text(page, '#overburden-1-problem'), natively(['--overburden', 'marble:3', ...words]));
    assert.equal(await page.evaluate(() => document.activeElement.id), 'overburden-1');
    await page.focus('#add-absorber');
    await page.keyboard.press('Enter');
    await page.keyboard.type('lead:5@3');
    assert.match(await enter('altitude', '5000'), /^Nothing was run/);
    assert.equal(await text(page, '#altitude-problem'), natively(['--altitude', '5000', ...words]));
    await page.$eval('#altitude', (node) => { node.value = ''; });
    assert.match(await enter('overburden-1', 'concrete:30'), /^Done/);
    const given = ['--muons', '20000', '--absorber', 'lead:5@3', '--sky', 'spectrum', '--overburden',
      'concrete:30', '10'];
    assert.equal(await text(page, '#command'), `velmora-curve ${given.join(' ')}`);
    assert.equal(await tableText(page), natively(given));
    assert.equal(new URL(page.url()).search,
      '?distances=10&muons=20000&absorber=lead%3A5%403&sky=spectrum&overburden=concrete%3A30');
    assert.ok(await page.evaluate(() => document.documentElement.scrollWidth) <= 380);
    assert.deepEqual(await page.$$eval('input, select, textarea', (nodes) => nodes
      .filter((node) => node.type !== 'radio' && node.labels.length === 0).map((node) => node.id)), []);
    await page.screenshot({path: screenshot.replace(/\.png$/, '-spectrum-phone.png'), fullPage: true});
    // Back to the cosᴺθ sky: its fields alone run.
    await page.select('#sky', 'cos');
    await page.click('#run');
    assert.match(await waitForRun(page), /^Done/);
    assert.equal(await text(page, '#command'), 'velmora-curve --muons 20000 --sky cos 10');
    await close(page);
  });

  await expect('a result of 100000 rows: 1000 in the table, all in the download, all plotted', async () => {
    const page = await openPage(browser, `${server.origin}/?law=cos_squared&muons=1&distances=0:99999:1&run=1`);
    assert.match(await waitForRun(page), /^Done/);
    assert.equal(await page.$eval('#table', (table) => table.tBodies[0].rows.length), 1000);
    assert.match(await text(page, '#table-note'), /first 1000 of the 100000 rows/);
    assert.ok(await download(page) === natively(['--law', 'cos_squared', '--muons', '1', '0:99999:1']),
      'the download is not the native CSV');
    await page.click('input[value="rate"]');
    assert.equal(await text(page, '#plot svg title'), 'Coincidence rate against distance');
    await close(page);
  });

  await expect('Cancel stops a long run', async () => {
    const page = await openPage(browser, `${server.origin}/?muons=2000000000&distances=0:100:1&run=1`);
    await page.waitForFunction(() => document.getElementById('progress').value > 0);
    await page.click('#cancel');
    assert.match(await waitForRun(page, 10000), /^Cancelled/);
    // The browser lists a worker ended for a while, seconds on a machine
    // whose cores other builds keep busy.
    for (let wait = 0; wait < 50 && page.workers().length > 0; ++wait) {
      await new Promise((resolve) => setTimeout(resolve, 100));
    }
    assert.equal(page.workers().length, 0);
    assert.equal(await page.$eval('#progress', (node) => node.value), 0);
    assert.equal(await page.$eval('#results', (node) => node.hidden), true);
    // The worker is gone: a run straight after gives its own result.
    await page.$eval('#muons', (node) => { node.value = '1000'; });
    await page.click('#run');
    assert.match(await waitForRun(page), /^Done/);
    await page.close();
  });

  await expect('on a phone: every field labelled, the plot\'s text apart, the rates in view', async () => {
    const page = await openPage(browser, `${server.origin}/?tilt=0:90:10&exponent=1.85&paddles=5x5&layer=5x5@2&require=all,2&detection=0.9,0.9,0.9&muons=20000&distances=10,30&run=1`, 380);
    assert.match(await waitForRun(page), /^Done/);
    const unlabelled = await page.$$eval('input, select, textarea', (nodes) => nodes
      .filter((node) => node.type !== 'radio' && node.labels.length === 0).map((node) => node.id));
    assert.deepEqual(unlabelled, []);
    const width = await page.evaluate(() => document.documentElement.scrollWidth);
    assert.ok(width <= 380, `the page is ${width} px wide`);
    const layout = await page.evaluate(() => {
      const box = (node) => node.getBoundingClientRect();
      const overlap = (a, b) => a.left < b.right && b.left < a.right && a.top < b.bottom && b.top < a.bottom;
      const inside = (a, b) => a.left >= b.left && a.right <= b.right && a.top >= b.top && a.bottom <= b.bottom;
      const svg = document.querySelector('#plot svg');
      const legend = box(svg.querySelector('.legend'));
      const rate = [...document.querySelectorAll('#table th')].find((th) => th.textContent === 'rate_detected_per_minute');
      return {
        underLegend: [...svg.querySelectorAll('text, .frame')].filter((node) => !node.closest('.legend') &&
          overlap(box(node), legend)).map((node) => node.textContent || 'the frame'),
        cut: [...svg.querySelectorAll('text, .legend line')].filter((node) => !inside(box(node), box(svg)))
          .map((node) => node.textContent || 'a swatch'),
        swatches: svg.querySelectorAll('.legend line').length,
        rateBeyond: box(rate).right - box(document.querySelector('.table-scroll')).right,
      };
    });
    assert.deepEqual(layout, {underLegend: [], cut: [], swatches: 5, rateBeyond: layout.rateBeyond});
    assert.deepEqual(await badBreaks(page, '#command'), {split: [], parted: []});
    assert.ok(layout.rateBeyond <= 0, `rate_detected_per_minute ends ${layout.rateBeyond} px out of view`);
    await page.screenshot({path: screenshot.replace(/\.png$/, '-phone.png'), fullPage: true});
    await close(page);
  });

  await expect('no request leaves for another host', async () => {
    assert.ok(requests.length > 0);
    // The single file asks the file system for itself alone.
    const elsewhere = requests.filter((url) => !url.startsWith(`${server.origin}/`) &&
      !url.startsWith('blob:') && !url.startsWith('data:') &&
      !(url.startsWith('file:') && new URL(url).pathname === single.pathname));
    assert.deepEqual(elsewhere, []);
    assert.ok(requests.some((url) => url.startsWith(single.href)));
  });
} finally {
  await browser.close();
  await server.close();
  fs.rmSync(downloads, {recursive: true, force: true});
  fs.rmSync(folder, {recursive: true, force: true});
}
const bytes = fs.readdirSync(pageDir).reduce((sum, name) => sum + fs.statSync(path.join(pageDir, name)).size, 0);
console.log(`# the page is ${bytes} bytes, the single file ${fs.statSync(singleFile).size}; screenshot: ${screenshot}`);
process.exit(failed === 0 ? 0 : 1);
