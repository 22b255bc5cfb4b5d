// Runs a built program behind pipes, the way a script or a terminal would.
#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

// Where a child's standard output goes.
enum class output_to {
  pipe,        // back to the test
  full_device, // /dev/full: every write fails with ENOSPC
  closed,      // no descriptor 1 at all, as after >&-
};

struct child_process {
  pid_t pid;
  int in;  // the child's standard input, ours to write
  int out; // its standard output
  int err; // its standard error
};

struct child_result {
  bool timed_out; // killed at the deadline
  int status;     // exit status, or -1 if it did not exit normally
  std::string out;
  std::string err;
};

// Starts `command` (the program's path, then its arguments) with LC_ALL=C.
// Its standard input is a pipe, or the file `stdin_file` when one is named.
child_process start_child(const std::vector<std::string> &command,
                          const char *stdin_file = nullptr,
                          output_to out = output_to::pipe);

// Reads the child's standard output into `out` until it ends with `suffix`;
// false if the output ends or `timeout_ms` passes first.
bool read_until(child_process &child, std::string &out,
                const std::string &suffix, int timeout_ms);

// Writes all of `text` to the child's standard input.
void write_input(child_process &child, const std::string &text);

// Closes the child's standard input, collects both outputs until it exits,
// and kills it if it is still running after `timeout_ms`.
child_result finish_child(child_process &child, int timeout_ms);

// start_child, write_input and finish_child in one call.
child_result run_program(const std::vector<std::string> &command,
                         const std::string &input, int timeout_ms,
                         const char *stdin_file = nullptr,
                         output_to out = output_to::pipe);
