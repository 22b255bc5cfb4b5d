#include "programs/command_line.h"
#include "programs/output.h"

#include <algorithm>
#include <cerrno> // program_invocation_short_name
#include <cstdio>
#include <cstdlib>
#include <sched.h>
#include <thread>

void finish_help() {
  flush_or_exit("the help");
  std::exit(0);
}

void print_version() {
  std::printf("%s %s\n", program_invocation_short_name, VELMORA_VERSION);
  flush_or_exit("the version");
  std::exit(0);
}

void refuse_command_line(const char *problem) {
  std::fprintf(stderr, "%s: %s\nTry '%s --help' for more information.\n",
               program_invocation_short_name, problem,
               program_invocation_short_name);
  std::exit(2);
}

// The cores this process may run on, as taskset or a container limits them.
unsigned usable_cores() {
  cpu_set_t set;
  // The set holds 1024 CPUs: the call fails only where the kernel counts
  // more.
  if (sched_getaffinity(0, sizeof set, &set) == 0) { // GCOVR_EXCL_BR_LINE
    return static_cast<unsigned>(CPU_COUNT(&set));
  }
  return std::max(1U, std::thread::hardware_concurrency()); // GCOVR_EXCL_LINE
}
