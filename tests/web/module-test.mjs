// The WebAssembly module alone, under Node.js: for the same command line,
// its blocks shared among three modules as among the page's workers, it
// must write the very CSV, and refuse with the very words, of the native
// velmora-curve.
//   node module-test.mjs PAGE_DIR NATIVE_VELMORA_CURVE
import assert from 'node:assert/strict';
import {spawnSync} from 'node:child_process';
import {createRequire} from 'node:module';
import path from 'node:path';

const [pageDir, native] = process.argv.slice(2);
const require = createRequire(import.meta.url);
const create = require(path.resolve(pageDir, 'velmora-curve.js'));
const modules = await Promise.all([0, 1, 2].map(() => create()));
const calls = modules.map((module) => (name, returns, takes) => module.cwrap(name, returns, takes));
const check = calls[0]('velmora_check', 'string', ['string', 'string']);

// Reads the command line in the module of `call`: "" or the problem.
function read(call, words) {
  call('velmora_clear_words', null, [])();
  words.forEach((word) => call('velmora_add_word', null, ['string'])(word));
  return call('velmora_read', 'string', [])();
}

function inModule(words) {
  const problem = read(calls[0], words);
  if (problem) {
    return {problem: problem.split('\t')[1]};
  }
  // Each module throws its share, as a worker of the page; the first then
  // adds them all up, as the page does.
  const shares = modules.map((module, i) => {
    const call = calls[i];
    read(call, words);
    call('velmora_start', null, ['number', 'number'])(i, modules.length);
    while (call('velmora_run_next', 'number', [])()) {
      // Block after block of this share.
    }
    const at = call('velmora_tallies', 'number', [])() >>> 2;
    return module.HEAP32.slice(at, at + call('velmora_tally_length', 'number', [])());
  });
  read(calls[0], words);
  calls[0]('velmora_start', null, ['number', 'number'])(0, 0);
  const at = calls[0]('velmora_tallies', 'number', [])() >>> 2;
  const sums = modules[0].HEAP32.subarray(at, at + shares[0].length);
  shares.forEach((share) => share.forEach((count, k) => { sums[k] += count; }));
  return {csv: calls[0]('velmora_csv', 'string', [])()};
}

function natively(words) {
  const r = spawnSync(native, words, {encoding: 'utf8', env: {LC_ALL: 'C'},
    maxBuffer: 1 << 28});
  if (r.status === 0) {
    return {csv: r.stdout};
  }
  return {problem: r.stderr.split('\n')[0].replace(/^velmora-curve: /, '')};
}

const runs = [
  ['--muons', '20000', '0:40:10', '2.5'],
  ['--law', 'isotropic', '--top', '25x25', '--bottom', '20x30', '--offset', '2,-3',
    '--muons', '20000', '0,15,30'],
  ['--tilt', '0:90:30', '--tilt-azimuth', '30', '--exponent', '1.85', '--top', '5x5',
    '--bottom', '5x5', '--offset', '1,0', '--muons', '20000', '1,10'],
  ['--seed', '4294967295', '--flux', '0.8', '--muons', '30000', '--', '-5,5', '1e1'],
  ['--muons', '5000', '100:5099:1'], // many distances: many slices
  ['--paddles', '10x31x1', '--layer', '10x31x1@5', '--layer', '10x31@8,1,0', '--require',
    'all,2,1+3', '--detection', '0.9,0.8,0.95,0.9', '--noise', '100,50,20,10', '--window', '50',
    '--precision', '0.05', '--muons', '20000', '10,20'],
  ['--method', 'integral', '--intensity', '70', '--tilt', '0:90:30', '--paddles', '5x5', '3'],
];
const refusals = [
  ['--top', '0x31', '5'], ['--tilt', '95', '5'], ['--law', 'both', '--tilt', '5', '5'],
  ['5cm'], ['--til', '5', '5'], ['--seed', '-1', '5'], ['--muons'], ['--muons', '10'],
  ['--top', '5x5', '5'], ['--layer', '5x5@3', '--layer', '5x5@1', '5'], ['--detection', '0.9', '5'],
];
const fields = [['top', '0x31'], ['offset', '1'], ['distances', '0:10:0'],
  ['tilt', '0:100:10'], ['seed', '4294967296'], ['exponent', '2'], ['muons', '1e6'],
  ['layer', '5x5'], ['require', '1+1'], ['window', '-1']];

let failed = 0;
function expect(name, test) {
  try {
    test();
    console.log(`ok ${name}`);
  } catch (error) {
    failed += 1;
    console.log(`not ok ${name}\n${error.message}`);
  }
}

for (const words of [...runs, ...refusals]) {
  expect(words.join(' '), () => assert.deepEqual(inModule(words), natively(words)));
}
// A field alone is checked as the command checks that option.
for (const [name, value] of fields) {
  expect(`field ${name} ${value}`, () => {
    const words = name === 'distances' ? [value] : [`--${name}`, value, '5'];
    assert.equal(check(name, value), natively(words).problem || '');
  });
}
process.exit(failed === 0 ? 0 : 1);
