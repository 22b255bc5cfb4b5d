// Away from the page: a worker's share of velmora-curve's blocks, its
// tallies handed back for the page to add up; or velmora-fit, a setting's
// model at a time. Each reports how far it is between steps; cancelling
// ends the worker. Every failure, the module's own loading included, is
// posted to the page as {type: 'failed'}: an exception in an async handler
// would otherwise end as an unhandled rejection, which the page never hears
// of.
'use strict';

function fail(error) {
  // An abort's message ends with advice for whoever builds the module.
  const problem = String(error && error.message ? error.message : error);
  postMessage({type: 'failed', problem: problem.replace(/\. Build with .*$/, '')});
}

// The served page's worker loads the module from beside it; the single
// file's starts with the module's code already in it.
let ready;
try {
  if (typeof createVelmoraModule === 'undefined') {
    importScripts('velmora-curve.js');
  }
  ready = createVelmoraModule();
} catch (error) {
  ready = Promise.reject(error);
}
// Held until a run asks for it; its failure is reported then.
ready.catch(() => {});
addEventListener('unhandledrejection', (event) => fail(event.reason));

// The module, its command line read with `read` from `words`: null, the
// failure posted, when it cannot run.
async function readWords(words, read) {
  const module = await ready;
  const call = (name, returns, takes) => module.cwrap(name, returns, takes);
  const addWord = call('velmora_add_word', null, ['string']);
  call('velmora_clear_words', null, [])();
  words.forEach((word) => addWord(word));
  const problem = call(read, 'string', [])();
  if (problem) {
    fail(problem.split('\t')[1]);
    return null;
  }
  return {module, call};
}

// At most one report of progress every tenth of a second.
function every100ms(report) {
  let shown = 0;
  return () => {
    const now = performance.now();
    if (now - shown > 100) {
      report();
      shown = now;
    }
  };
}

// Throws blocks worker, worker + workers, … of the run, and hands its
// tallies to the page.
async function throwShare({words, worker, workers}) {
  const {module, call} = await readWords(words, 'velmora_read') || {};
  if (!module) {
    return;
  }
  call('velmora_start', null, ['number', 'number'])(worker, workers);
  const runNext = call('velmora_run_next', 'number', []);
  const muonsDone = call('velmora_muons_done', 'number', []);
  const total = call('velmora_muons_total', 'number', [])();
  const progress = every100ms(() => postMessage({type: 'progress', done: muonsDone(), total}));
  while (runNext()) {
    progress();
  }
  // Read only now: the module's memory may have moved as it grew.
  const at = call('velmora_tallies', 'number', [])() >>> 2;
  const tallies = module.HEAP32.slice(at, at + call('velmora_tally_length', 'number', [])());
  postMessage({type: 'tallies', tallies, done: muonsDone(), total}, [tallies.buffer]);
}

// Works out every setting's model, fits, and again while the Monte Carlo
// must draw nearer the exponent found.
async function fitMeasurements({words, text, name}) {
  const {call} = await readWords(words, 'velmora_fit_read') || {};
  if (!call) {
    return;
  }
  const problem = call('velmora_fit_start', 'string', ['string', 'string'])(text, name);
  if (problem) {
    fail(problem);
    return;
  }
  const settings = call('velmora_fit_settings', 'number', [])();
  const model = call('velmora_fit_model', null, ['number']);
  const fitModels = call('velmora_fit_fit', 'number', []);
  for (let round = 0; ; ++round) {
    let i = 0;
    const progress = every100ms(() => postMessage({type: 'progress', share: i / settings, round}));
    for (; i < settings; ++i) {
      progress();
      model(i);
    }
    const step = fitModels();
    if (step < 0) {
      fail(call('velmora_fit_report', 'string', [])());
      return;
    }
    if (step > 0) {
      break;
    }
  }
  postMessage({type: 'fitted', report: call('velmora_fit_report', 'string', [])(),
    csv: call('velmora_fit_csv', 'string', [])()});
}

onmessage = (event) => {
  (event.data.type === 'fit' ? fitMeasurements : throwShare)(event.data).catch(fail);
};
