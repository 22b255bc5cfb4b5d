// What the page calls in the WebAssembly module: velmora-curve's own checks
// of its command line and its own passes, run a slice at a time so that the
// worker can report progress between slices. Strings returned stay valid
// until the next call.
#include "programs/curve_arguments.h"
#include "programs/curve_run.h"

#include <emscripten/emscripten.h>

#include <string>
#include <vector>

namespace {

std::vector<std::string> words = {"velmora-curve"};
curve_command command;
curve_run run;
std::string csv;
std::string answer;

} // namespace

extern "C" {

// The problem with one option's value (its long name, or "distances" for
// the operands separated by blanks), or "" when it is good.
EMSCRIPTEN_KEEPALIVE const char *velmora_check(const char *name,
                                               const char *value) {
  answer = check_curve_option(name, value);
  return answer.c_str();
}

// The command line, a word at a time, as it would be typed after
// velmora-curve.
EMSCRIPTEN_KEEPALIVE void velmora_clear_words() {
  words.resize(1);
}

EMSCRIPTEN_KEEPALIVE void velmora_add_word(const char *word) {
  words.emplace_back(word);
}

// Reads the command line; "" when it can run, otherwise the option the
// problem concerns, a tab and the problem.
EMSCRIPTEN_KEEPALIVE const char *velmora_read() {
  std::vector<char *> argv;
  for (std::string &word : words) {
    argv.push_back(word.data());
  }
  argv.push_back(nullptr);
  command = read_curve_command(static_cast<int>(words.size()), argv.data());
  answer =
      command.problem.empty() ? "" : command.option + "\t" + command.problem;
  return answer.c_str();
}

// Starts the run that velmora_read read.
EMSCRIPTEN_KEEPALIVE void velmora_start() {
  run = start_curve_run(command.arguments);
  csv = curve_header;
}

// Runs the next slice; 1 while there is more to do.
EMSCRIPTEN_KEEPALIVE int velmora_run_slice() {
  return run_slice(run, csv) ? 1 : 0;
}

EMSCRIPTEN_KEEPALIVE double velmora_share_done() {
  return share_done(run);
}

// The CSV so far: the header and the rows of every finished pass.
EMSCRIPTEN_KEEPALIVE const char *velmora_csv() {
  return csv.c_str();
}

EMSCRIPTEN_KEEPALIVE const char *velmora_version() {
  return VELMORA_VERSION;
}
}
