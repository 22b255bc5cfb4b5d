// Runs velmora-curve's passes a slice at a time, away from the page, and
// reports the share done between slices. Cancelling ends the worker.
'use strict';
importScripts('velmora-curve.js');

const ready = createVelmoraModule();

onmessage = async (event) => {
  const module = await ready;
  const call = (name, returns, takes) => module.cwrap(name, returns, takes);
  const addWord = call('velmora_add_word', null, ['string']);
  call('velmora_clear_words', null, [])();
  event.data.words.forEach((word) => addWord(word));
  const problem = call('velmora_read', 'string', [])();
  if (problem) {
    postMessage({type: 'refused', problem: problem.split('\t')[1]});
    return;
  }
  call('velmora_start', null, [])();
  const runSlice = call('velmora_run_slice', 'number', []);
  const shareDone = call('velmora_share_done', 'number', []);
  let shown = 0;
  while (runSlice()) {
    const now = performance.now();
    if (now - shown > 100) {
      postMessage({type: 'progress', share: shareDone()});
      shown = now;
    }
  }
  postMessage({type: 'done', csv: call('velmora_csv', 'string', [])()});
};
