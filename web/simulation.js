// The simulation loaded in the page itself: velmora-curve's and
// velmora-fit's own code, which checks every field and adds up the
// workers' tallies. The workers load their own.
let module = null;
let checkOption = null;

export function useModule(loaded) {
  module = loaded;
  checkOption = call('velmora_check', 'string', ['string', 'string']);
}

// A function of the module's C interface.
export function call(name, returns, takes) {
  return module.cwrap(name, returns, takes);
}

// The command's message for `value` of `option`, or "" when it takes it.
export function check(option, value) {
  return checkOption(option, value);
}

// The module's memory as 32-bit words, read afresh: it moves as it grows.
export function heap32() {
  return module.HEAP32;
}

// Gives the module a command line, a word at a time, and reads it with
// `read` (velmora_read or velmora_fit_read): "" or "option\tproblem".
export function readWords(read, words) {
  call('velmora_clear_words', null, [])();
  const addWord = call('velmora_add_word', null, ['string']);
  words.forEach((word) => addWord(word));
  return call(read, 'string', [])();
}
