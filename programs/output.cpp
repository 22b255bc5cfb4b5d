#include "programs/output.h"

#include <cerrno> // program_invocation_short_name
#include <cstdio>
#include <cstdlib>
#include <cstring>

void flush_or_exit(const char *what) {
  if (std::fflush(stdout) == 0 && !std::ferror(stdout)) {
    return;
  }
  std::fprintf(stderr, "%s: could not write %s: %s\n",
               program_invocation_short_name, what, std::strerror(errno));
  std::exit(1);
}
