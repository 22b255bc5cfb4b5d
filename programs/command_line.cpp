#include "programs/command_line.h"
#include "programs/output.h"

#include <cerrno> // program_invocation_short_name
#include <cstdio>
#include <cstdlib>

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
