// velmora-curve: the efficiency curve of a two-paddle telescope against
// distance (and tilt), as CSV, in one pass per zenith law and tilt.
#include "programs/command_line.h"
#include "programs/curve_arguments.h"
#include "programs/curve_run.h"
#include "programs/output.h"

#include <cerrno> // program_invocation_short_name
#include <cstdio>
#include <ctime>
#include <string>
#include <unistd.h>

namespace {

constexpr double progress_interval_s = 0.25;

double seconds_now() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<double>(now.tv_sec) +
         1e-9 * static_cast<double>(now.tv_nsec);
}

} // namespace

int main(int argc, char **argv) {
  const curve_command command = read_curve_command(argc, argv);
  if (!command.problem.empty()) {
    refuse_command_line(command.problem.c_str());
  }
  if (command.request == curve_request::help) {
    std::fputs(curve_usage(program_invocation_short_name).c_str(), stdout);
    finish_help();
  }
  if (command.request == curve_request::version) {
    print_version();
  }
  const bool show_progress = isatty(STDERR_FILENO) != 0;
  std::fputs(curve_header, stdout);
  // Found out now, rather than after the passes, if the rows cannot arrive.
  flush_or_exit("the curve");
  curve_run run = start_curve_run(command.arguments);
  std::string rows;
  double shown = seconds_now();
  bool progress_shown = false;
  while (run_slice(run, rows)) {
    std::fputs(rows.c_str(), stdout);
    rows.clear();
    // Needs a terminal, which the tests do not have: the share done, a few
    // times a second at most.
    // GCOVR_EXCL_START
    if (show_progress && seconds_now() - shown >= progress_interval_s) {
      shown = seconds_now();
      std::fprintf(stderr, "\r%s: %3d%%", program_invocation_short_name,
                   static_cast<int>(100.0 * share_done(run)));
      progress_shown = true;
    }
  }
  if (progress_shown) {
    std::fputs("\r\033[K", stderr); // leave the terminal line as it was
  }
  // GCOVR_EXCL_STOP
  flush_or_exit("the curve");
  return 0;
}
