// velmora-curve: the efficiency curve of a muon telescope against distance
// (and tilt), as CSV, the passes' blocks of muons shared among threads.
#include "programs/command_line.h"
#include "programs/curve_arguments.h"
#include "programs/curve_run.h"
#include "programs/output.h"
#include "programs/run_threads.h"

#include <cerrno> // program_invocation_short_name
#include <chrono>
#include <cstdio>
#include <string>
#include <unistd.h>

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

  // The share done shows on a terminal a few times a second at most.
  const curve_plan plan = plan_curve(command.arguments);
  bool progress_shown = false;
  run_curve(
      plan, command.arguments.threads,
      [](const std::string &rows) { std::fputs(rows.c_str(), stdout); },
      std::chrono::milliseconds(250),
      [&](double share) {
        // Called only in runs longer than the tests', and needs a terminal,
        // which the tests do not have. GCOVR_EXCL_START
        if (show_progress) {
          std::fprintf(stderr, "\r%s: %3d%%", program_invocation_short_name,
                       static_cast<int>(100.0 * share));
          progress_shown = true;
        }
        return true;
        // GCOVR_EXCL_STOP
      });
  // GCOVR_EXCL_START
  if (progress_shown) {
    std::fputs("\r\033[K", stderr); // leave the terminal line as it was
  }
  // GCOVR_EXCL_STOP
  flush_or_exit("the curve");
  return 0;
}
