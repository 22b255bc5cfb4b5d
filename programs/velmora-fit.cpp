// velmora-fit: the sky's flux (or intensity) and exponent from coincidences
// counted with a telescope, the settings' models shared among threads.
#include "programs/command_line.h"
#include "programs/fit_run.h"
#include "programs/output.h"
#include "programs/run_threads.h"

#include <cerrno> // program_invocation_short_name
#include <chrono>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <unistd.h>

namespace {

// A problem with the measurements: one line on standard error, status 2.
[[noreturn]] void refuse_data(const std::string &problem) {
  std::fprintf(stderr, "%s: %s\n", program_invocation_short_name,
               problem.c_str());
  std::exit(2);
}

} // namespace

int main(int argc, char **argv) {
  const fit_command command = read_fit_command(argc, argv);
  if (command.request == curve_request::help) {
    std::fputs(fit_usage(program_invocation_short_name).c_str(), stdout);
    finish_help();
  }
  if (command.request == curve_request::version) {
    print_version();
  }
  if (!command.problem.empty()) {
    refuse_command_line(command.problem.c_str());
  }
  const bool from_input = command.file == "-";
  // argc is 0 only for a command started without even its own name, which
  // no shell and no test starts. GCOVR_EXCL_BR_START
  if (from_input && argc > 0 && isatty(STDIN_FILENO) != 0) {
    refuse_command_line("give a FILE of measurements, or pipe them in");
  } // GCOVR_EXCL_BR_STOP
  std::ifstream file;
  if (!from_input) {
    const std::string problem = open_measurements(command.file, file);
    if (!problem.empty()) {
      refuse_command_line(problem.c_str());
    }
  }
  fit_run run;
  // Its untested branches only clean up after an allocation that throws.
  // GCOVR_EXCL_BR_START
  const std::string problem =
      start_fit(command, from_input ? std::cin : file,
                from_input ? "standard input" : command.file, run);
  // GCOVR_EXCL_BR_STOP
  if (!problem.empty()) {
    refuse_data(problem);
  }
  fit_step step = fit_step::draw_again;
  while (step == fit_step::draw_again) {
    model_settings(run, command.arguments.threads,
                   std::chrono::milliseconds(250),
                   [](double /*share*/) { return true; }); // GCOVR_EXCL_LINE
    step = fit_models(run);
  }
  if (step == fit_step::refused) {
    refuse_data(run.refusal);
  }
  std::fputs((command.csv ? fit_csv(run) : fit_report(run)).c_str(), stdout);
  flush_or_exit("the fit");
  return 0;
}
