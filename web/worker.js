// Runs velmora-curve's passes a block at a time, away from the page, and
// reports the share done between blocks. Cancelling ends the worker.
// Every failure, the module's own loading included, is posted to the page
// as {type: 'failed'}: an exception in an async handler would otherwise end
// as an unhandled rejection, which the page never hears of.
'use strict';

function fail(error) {
  // An abort's message ends with advice for whoever builds the module.
  const problem = String(error && error.message ? error.message : error);
  postMessage({type: 'failed', problem: problem.replace(/\. Build with .*$/, '')});
}

let ready;
try {
  importScripts('velmora-curve.js');
  ready = createVelmoraModule();
} catch (error) {
  ready = Promise.reject(error);
}
// Held until a run asks for it; its failure is reported then.
ready.catch(() => {});
addEventListener('unhandledrejection', (event) => fail(event.reason));

async function runWords(words) {
  const module = await ready;
  const call = (name, returns, takes) => module.cwrap(name, returns, takes);
  const addWord = call('velmora_add_word', null, ['string']);
  call('velmora_clear_words', null, [])();
  words.forEach((word) => addWord(word));
  const problem = call('velmora_read', 'string', [])();
  if (problem) {
    fail(problem.split('\t')[1]);
    return;
  }
  call('velmora_start', null, ['number', 'number'])(0, 1);
  const runNext = call('velmora_run_next', 'number', []);
  const muonsDone = call('velmora_muons_done', 'number', []);
  const muonsTotal = call('velmora_muons_total', 'number', [])();
  let shown = 0;
  while (runNext()) {
    const now = performance.now();
    if (now - shown > 100) {
      postMessage({type: 'progress', share: muonsDone() / muonsTotal});
      shown = now;
    }
  }
  postMessage({type: 'done', csv: call('velmora_csv', 'string', [])()});
}

onmessage = (event) => {
  runWords(event.data.words).catch(fail);
};
