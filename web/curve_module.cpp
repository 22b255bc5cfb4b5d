// What the page calls in the WebAssembly module: velmora-curve's own checks
// of its command line and its own passes. Each of the page's workers throws
// its share of the blocks, every workers-th one, and hands its tallies to
// the page, which adds them up and has the rows written: the counts do not
// depend on how many workers share the blocks. Strings returned stay valid
// until the next call.
#include "programs/curve_arguments.h"
#include "programs/curve_run.h"
#include "programs/fit_run.h"

#include <emscripten/emscripten.h>

#include <algorithm>
#include <sstream>
#include <string>
#include <vector>

namespace {

std::vector<std::string> words = {"velmora-curve"};
curve_command command;
curve_run run;
std::uint64_t next_block; // this worker's next block
std::uint64_t stride;     // the number of workers
double muons_done;
std::string csv;
std::string answer;
fit_command fit_line;
fit_run fitting;

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

// Starts the run that velmora_read read, as worker `worker` of `workers`:
// it throws blocks worker, worker + workers, ... With no workers at all it
// only sets up the tallies, for the page to add the workers' into.
EMSCRIPTEN_KEEPALIVE void velmora_start(int worker, int workers) {
  run = start_curve_run(command.arguments);
  next_block = static_cast<std::uint64_t>(worker);
  stride = static_cast<std::uint64_t>(std::max(workers, 1));
  if (workers == 0) {
    next_block = block_count(run.plan);
  }
  muons_done = 0.0;
}

// Throws this worker's next block; 1 while it has more to throw.
EMSCRIPTEN_KEEPALIVE int velmora_run_next() {
  const curve_plan &plan = run.plan;
  if (next_block < block_count(plan)) {
    run_block(plan, next_block, run.tallies.data());
    muons_done += muons_in_block(plan, next_block);
    next_block += stride;
  }
  return next_block < block_count(plan) ? 1 : 0;
}

// The muons this worker has thrown, and those of the whole run.
EMSCRIPTEN_KEEPALIVE double velmora_muons_done() {
  return muons_done;
}

EMSCRIPTEN_KEEPALIVE double velmora_muons_total() {
  return static_cast<double>(run.plan.passes.size()) * run.plan.arguments.muons;
}

// This worker's tallies: where they start in the module's memory, and how
// many 32-bit numbers they are. The page adds every worker's into those of
// a module started with no workers.
EMSCRIPTEN_KEEPALIVE std::int32_t *velmora_tallies() {
  return run.tallies.data();
}

EMSCRIPTEN_KEEPALIVE int velmora_tally_length() {
  return static_cast<int>(run.tallies.size());
}

// The CSV of the whole run, from tallies that hold every block: the header
// and every row.
EMSCRIPTEN_KEEPALIVE const char *velmora_csv() {
  csv = curve_header;
  for (std::size_t g = 0; g < run.plan.groups; ++g) {
    csv += group_rows(run.plan, g, run.tallies.data());
  }
  return csv.c_str();
}

// velmora-fit's command line, from the words as velmora_read takes them
// (the first, the command's name, is set here): "" when it can run,
// otherwise the option the problem concerns, a tab and the problem.
EMSCRIPTEN_KEEPALIVE const char *velmora_fit_read() {
  words[0] = "velmora-fit";
  std::vector<char *> argv;
  for (std::string &word : words) {
    argv.push_back(word.data());
  }
  argv.push_back(nullptr);
  fit_line = read_fit_command(static_cast<int>(words.size()), argv.data());
  words[0] = "velmora-curve";
  answer =
      fit_line.problem.empty() ? "" : fit_line.option + "\t" + fit_line.problem;
  return answer.c_str();
}

// Reads the measurements, CSV text named `name` in messages: "" when the
// fit can go ahead, else what is wrong, with the line and field.
EMSCRIPTEN_KEEPALIVE const char *velmora_fit_start(const char *text,
                                                   const char *name) {
  std::istringstream in(text);
  fitting = fit_run{};
  answer = start_fit(fit_line, in, name, fitting);
  return answer.c_str();
}

EMSCRIPTEN_KEEPALIVE int velmora_fit_settings() {
  return static_cast<int>(models_to_work_out(fitting));
}

// Works out the model of setting i; once every setting's is worked out,
// velmora_fit_fit fits: 1 when the fit is done, 0 when every model must be
// worked out again first (the Monte Carlo drew too far from the fit's N),
// -1 when the counts cannot be fitted, velmora_fit_report then saying why.
EMSCRIPTEN_KEEPALIVE void velmora_fit_model(int i) {
  model_setting_of(fitting, static_cast<std::size_t>(i));
}

EMSCRIPTEN_KEEPALIVE int velmora_fit_fit() {
  const fit_step step = fit_models(fitting);
  return step == fit_step::done ? 1 : step == fit_step::draw_again ? 0 : -1;
}

EMSCRIPTEN_KEEPALIVE const char *velmora_fit_report() {
  answer = fitting.refusal.empty() ? fit_report(fitting) : fitting.refusal;
  return answer.c_str();
}

EMSCRIPTEN_KEEPALIVE const char *velmora_fit_csv() {
  answer = fit_csv(fitting);
  return answer.c_str();
}

// velmora-fit's help, for the page to show what the file holds.
EMSCRIPTEN_KEEPALIVE const char *velmora_fit_usage() {
  answer = fit_usage("velmora-fit");
  return answer.c_str();
}

EMSCRIPTEN_KEEPALIVE const char *velmora_version() {
  return VELMORA_VERSION;
}
}
