// Runs: the curve thrown by a worker per core, the fit in a worker of its
// own; each panel's button, progress, status and Cancel.
import {$, checkFields, curveFields, distanceWords, flat, optionPairs, placeProblem,
  showProblem} from './form.js';
import {linkedWorkers, saveAddress} from './links.js';
import {showResults} from './results.js';
import {call, heap32, readWords} from './simulation.js';

// One per core is the default, up to 16: more would hold more memory than
// they save time.
const workersByDefault = 16;

// Each panel's run: its workers, while it runs, and its elements, named
// with its prefix.
export const curve = {prefix: '', workers: [], started: 0, failed: 'The run failed',
  stopped: 'nothing was computed'};
export const fit = {prefix: 'fit-', workers: [], started: 0, failed: 'The fit failed',
  stopped: 'nothing was fitted'};
export const part = (panel, name) => $(`${panel.prefix}${name}`);

export function status(panel, text) {
  part(panel, 'status').textContent = text;
}

export function setRunning(panel, running) {
  part(panel, 'run').disabled = running;
  part(panel, 'cancel').disabled = !running;
  if (!running) {
    part(panel, 'progress').value = 0;
  }
}

// Ends a panel's run, however it ended: its workers are stopped and its
// button is back.
export function endRun(panel, text) {
  panel.workers.forEach((worker) => worker.terminate());
  panel.workers = [];
  setRunning(panel, false);
  status(panel, text);
}

// Results shown while the fields may no longer give them: from the moment
// Run is pressed until new results replace them.
export function markStale(panel, stale) {
  part(panel, 'results').classList.toggle('stale', stale);
  part(panel, 'stale-note').hidden = !stale;
}

// The workers' script. The served page's is worker.js beside it, which
// loads the module beside it. The page as a single file holds the module
// and the worker's code in elements of its own (velmora-module and
// velmora-worker): a page opened from a file may start no worker from a
// file, so its workers start from the two, joined in a Blob.
let inlineWorker = null;
function workerScript() {
  const code = $('velmora-worker');
  if (!code) {
    return 'worker.js';
  }
  inlineWorker ??= URL.createObjectURL(new Blob([$('velmora-module').textContent, '\n',
    code.textContent], {type: 'text/javascript'}));
  return inlineWorker;
}

// A worker of a panel's run, with `handle` for its messages; any worker's
// failure fails the run.
export function startWorker(panel, handle) {
  const worker = new Worker(workerScript());
  worker.onmessage = (event) => {
    // A message posted before the run ended, by Cancel or another worker's
    // failure, belongs to no run.
    if (!panel.workers.includes(worker)) {
      return;
    }
    if (event.data.type === 'failed') {
      endRun(panel, `${panel.failed}: ${event.data.problem}. ${panel.stopped[0].toUpperCase()}${panel.stopped.slice(1)}.`);
    } else {
      handle(event.data);
    }
  };
  // The worker posts its own failures; this is for those it cannot catch,
  // such as its script failing to load.
  worker.onerror = (event) => {
    event.preventDefault();
    if (panel.workers.includes(worker)) {
      endRun(panel, `${panel.failed}: ${event.message || 'the worker could not start'}.`);
    }
  };
  panel.workers.push(worker);
  return worker;
}

function workerCount() {
  return linkedWorkers() || Math.min(workersByDefault, Math.max(1, navigator.hardwareConcurrency || 1));
}

// The CSV of the whole run from every worker's tallies, added into those of
// the page's own module.
function curveCsv(words, tallies) {
  const problem = readWords('velmora_read', words);
  if (problem) {
    throw new Error(problem.split('\t')[1]);
  }
  call('velmora_start', null, ['number', 'number'])(0, 0);
  const at = call('velmora_tallies', 'number', [])() >>> 2;
  const length = call('velmora_tally_length', 'number', [])();
  const sums = heap32().subarray(at, at + length);
  for (const share of tallies) {
    if (share.length !== length) {
      throw new Error('a worker counted a run of another size');
    }
    for (let k = 0; k < length; ++k) {
      sums[k] += share[k];
    }
  }
  return call('velmora_csv', 'string', [])();
}

// The curve: every field checked, then the command line as a whole, so
// that a problem runs nothing; then thrown on the workers.
export function runCurve() {
  $('link-problem').textContent = '';
  if (!$('results').hidden) {
    markStale(curve, true);
  }
  const fields = curveFields();
  showProblem('general', '');
  for (const list of ['layers', 'overburdens', 'absorbers']) {
    showProblem(list, '');
  }
  if (!checkFields(fields)) {
    status(curve, 'Nothing was run: a field needs mending.');
    return;
  }
  const pairs = optionPairs(fields);
  const distances = distanceWords();
  const words = [...flat(pairs), '--', ...distances];
  const problem = readWords('velmora_read', words);
  if (problem) {
    const [option, text] = problem.split('\t');
    placeProblem(option, text, fields, 'general');
    status(curve, 'Nothing was run: the fields do not go together.');
    return;
  }
  saveAddress();
  const count = workerCount();
  const done = new Array(count).fill(0);
  const tallies = [];
  curve.started = performance.now();
  setRunning(curve, true);
  status(curve, 'Running…');
  for (let i = 0; i < count; ++i) {
    const worker = startWorker(curve, (message) => {
      done[i] = message.done;
      // The integral throws no muons.
      $('progress').value = message.total > 0 ? done.reduce((a, b) => a + b, 0) / message.total : 0;
      if (message.type === 'tallies') {
        tallies.push(message.tallies);
        if (tallies.length === count) {
          finishCurve(words, pairs, distances, tallies, count);
        }
      }
    });
    worker.postMessage({type: 'curve', words, worker: i, workers: count});
  }
}

function finishCurve(words, pairs, distances, tallies, count) {
  const seconds = (performance.now() - curve.started) / 1000;
  endRun(curve, '');
  try {
    const csv = curveCsv(words, tallies);
    document.body.dataset.lastRunSeconds = seconds.toFixed(3);
    document.body.dataset.lastRunWorkers = count;
    showResults(csv, pairs, distances);
    markStale(curve, false);
    status(curve, `Done in ${seconds.toFixed(2)} s.`);
  } catch (error) {
    $('results').hidden = true;
    status(curve, `The run failed: its results could not be shown (${error.message}).`);
  }
}
