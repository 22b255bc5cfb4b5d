// A table of command lines, each with its standard input and the exact
// status, standard error and standard output it must give: the end-to-end
// tests of the commands and of the plot script share it.
#pragma once

#include "child_process.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <fcntl.h>
#include <initializer_list>
#include <ostream>
#include <string>
#include <unistd.h>
#include <vector>

// Pieces that standard output must hold besides its start: one, or several
// in braces.
struct output_pieces : std::vector<std::string> {
  output_pieces() = default;
  output_pieces(const char *one) : std::vector<std::string>{one} {}
  output_pieces(std::initializer_list<std::string> several)
      : std::vector<std::string>(several) {}
};

struct command_case {
  const char *name;
  std::vector<std::string> command; // the program, then its arguments
  // How standard error begins: every line of a refusal but the last's end.
  std::string err_start;
  // How standard output begins; nothing may follow a failure. The
  // initialisers let rows leave these out without clang's missing-field
  // warning.
  std::string out{}; // NOLINT(readability-redundant-string-init)
  int status = 2;    // a refusal unless the row says otherwise
  child_options options = {};
  // Standard input. A row with input refuses data, in one line; one without
  // refuses its command line, and ends with a pointer to --help.
  std::string input{}; // NOLINT(readability-redundant-string-init)
  output_pieces out_has{};
};

inline void PrintTo(const command_case &c, std::ostream *os) {
  *os << c.name;
}

// Runs the row's command and checks all the row says. A row that needs a
// locale CI installs, or a terminal on standard input, is skipped where
// there is none (CI sets VELMORA_REQUIRE_LOCALES: no skipping there).
inline void check_command(const command_case &c, int timeout_ms) {
  if (!locale_installed(c.options.locale)) {
    ASSERT_EQ(std::getenv("VELMORA_REQUIRE_LOCALES"), nullptr)
        << c.options.locale << " is not installed";
    GTEST_SKIP() << c.options.locale << " is not installed";
  }
  if (c.options.stdin_file != nullptr &&
      std::string(c.options.stdin_file) == "/dev/ptmx") {
    const int fd = open(c.options.stdin_file, O_RDONLY | O_CLOEXEC);
    const bool terminal = fd >= 0 && isatty(fd) != 0;
    if (fd >= 0) {
      close(fd);
    }
    if (!terminal) {
      GTEST_SKIP() << c.options.stdin_file << " is not a terminal here";
    }
  }
  const child_result r = run_program(c.command, c.input, timeout_ms, c.options);
  ASSERT_FALSE(r.timed_out);
  EXPECT_EQ(r.status, c.status) << r.err;
  // A good run writes nothing else on standard error, progress included.
  if (c.status == 0) {
    EXPECT_EQ(r.err, c.err_start);
  }
  EXPECT_EQ(r.err.rfind(c.err_start, 0), 0U) << r.err;
  EXPECT_EQ(r.out.rfind(c.out, 0), 0U) << r.out;
  for (const std::string &piece : c.out_has) {
    EXPECT_NE(r.out.find(piece), std::string::npos) << piece << "\n" << r.out;
  }
  if (c.status != 0) {
    EXPECT_EQ(r.out, "");
  }
  if (c.status == 2 && !c.input.empty()) {
    EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << r.err;
  } else if (c.status == 2) {
    // As many lines as the row spells out, then where to find help.
    const std::string name = c.command[0].substr(c.command[0].rfind('/') + 1);
    const std::string pointer =
        "\nTry '" + name + " --help' for more information.\n";
    ASSERT_GE(r.err.size(), pointer.size()) << r.err;
    const std::string before = r.err.substr(0, r.err.size() - pointer.size());
    EXPECT_EQ(std::count(before.begin(), before.end(), '\n'),
              std::count(c.err_start.begin(), c.err_start.end(), '\n'))
        << r.err;
    EXPECT_EQ(r.err.substr(before.size()), pointer) << r.err;
  }
}
