// The WebAssembly module alone, under Node.js: for the same command line it
// must write the very CSV, and refuse with the very words, of the native
// velmora-curve.
//   node module-test.mjs PAGE_DIR NATIVE_VELMORA_CURVE
import assert from 'node:assert/strict';
import {spawnSync} from 'node:child_process';
import {createRequire} from 'node:module';
import path from 'node:path';

const [pageDir, native] = process.argv.slice(2);
const require = createRequire(import.meta.url);
const module = await require(path.resolve(pageDir, 'velmora-curve.js'))();
const call = (name, returns, takes) => module.cwrap(name, returns, takes);
const check = call('velmora_check', 'string', ['string', 'string']);
const addWord = call('velmora_add_word', null, ['string']);
const clearWords = call('velmora_clear_words', null, []);
const read = call('velmora_read', 'string', []);
const start = call('velmora_start', null, ['number', 'number']);
const runNext = call('velmora_run_next', 'number', []);
const csv = call('velmora_csv', 'string', []);

function inModule(words) {
  clearWords();
  words.forEach((word) => addWord(word));
  const problem = read();
  if (problem) {
    return {problem: problem.split('\t')[1]};
  }
  start(0, 1);
  while (runNext()) {
    // Block after block, as a lone worker runs them.
  }
  return {csv: csv()};
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
];
const refusals = [
  ['--top', '0x31', '5'], ['--tilt', '95', '5'], ['--law', 'both', '--tilt', '5', '5'],
  ['5cm'], ['--til', '5', '5'], ['--seed', '-1', '5'], ['--muons'], ['--muons', '10'],
];
const fields = [['top', '0x31'], ['offset', '1'], ['distances', '0:10:0'],
  ['tilt', '0:100:10'], ['seed', '4294967296'], ['exponent', '2'], ['muons', '1e6']];

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
