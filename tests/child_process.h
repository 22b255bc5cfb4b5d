// Runs a built program behind pipes, the way a script or a terminal would.
#pragma once

#include <cstddef>
#include <string>
#include <sys/types.h>
#include <vector>

// Where a child's standard output goes.
enum class output_to {
  pipe,        // back to the test
  full_device, // /dev/full: every write fails with ENOSPC
  closed,      // no descriptor 1 at all, as after >&-
};

struct child_options {
  const char *stdin_file = nullptr; // standard input from this file, not a pipe
  output_to out = output_to::pipe;
  const char *locale = "C"; // the child's LC_ALL
  // When not 0: standard output is read until this many bytes have come,
  // then its reading end is closed before any input is written, as
  // `| head -c N` does.
  std::size_t reader_leaves_after = 0;
};

// A running child in a process group of its own. Whatever happens to the
// test, the destructor leaves nothing behind: it kills the whole group (the
// program and anything it started), reaps the program and closes the pipes.
// A child that cannot be started throws std::runtime_error, and nothing
// opened for it stays open. SIGCHLD is set to its default for the harness's
// whole process, so that every child's status can be collected.
class child_process {
public:
  child_process(const std::vector<std::string> &command,
                const child_options &options);
  child_process(const child_process &) = delete;
  child_process &operator=(const child_process &) = delete;
  ~child_process();

  pid_t pid = -1; // also the process group's id; -1 once reaped
  int in = -1;    // the child's standard input, ours to write
  int out = -1;   // its standard output
  int err = -1;   // its standard error
};

struct child_result {
  bool timed_out; // the group was killed at the deadline
  int status;     // exit status, or -1 if it did not exit normally
  int signal;     // the signal that ended it, or 0
  std::string out;
  std::string err;
};

// Reads the child's standard output into `out` until it ends with `suffix`;
// false if the output ends or `timeout_ms` passes first.
bool read_until(child_process &child, std::string &out,
                const std::string &suffix, int timeout_ms);

// Writes all of `text` to the child's standard input.
void write_input(child_process &child, const std::string &text);

// Closes the child's standard input, collects both outputs until it exits,
// and kills its group if it is still running after `timeout_ms`. Throws
// std::runtime_error if how the child ended cannot be collected.
child_result finish_child(child_process &child, int timeout_ms);

// Starts `command` (the program's path, then its arguments), writes `input`
// and finishes it.
child_result run_program(const std::vector<std::string> &command,
                         const std::string &input, int timeout_ms,
                         const child_options &options = {});

// Whether the child could run under `locale`: it must be installed (CI
// installs the ones the tests use).
bool locale_installed(const char *locale);
