#include "programs/output.h"

#include <cerrno> // program_invocation_short_name
#include <cstdio>
#include <cstdlib>
#include <cstring>

void flush_or_exit(const char *what) {
  // ferror catches a write that failed inside an earlier printf even when
  // this flush succeeds; the tests' devices fail every write, so only the
  // flush's own failure is seen there.
  if (std::fflush(stdout) == 0 && !std::ferror(stdout)) { // GCOVR_EXCL_BR_LINE
    return;
  }
  std::fprintf(stderr, "%s: could not write %s: %s\n",
               program_invocation_short_name, what, std::strerror(errno));
  std::exit(1);
}
