#include "child_process.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using steady = std::chrono::steady_clock;

int ms_left(steady::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
      deadline - steady::now());
  return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

// Appends what is readable on `fd` to `to`; false at end of file.
bool drain(int fd, std::string &to) {
  char buffer[4096];
  const ssize_t n = read(fd, buffer, sizeof buffer);
  if (n > 0) {
    to.append(buffer, static_cast<size_t>(n));
    return true;
  }
  return n < 0 && errno == EINTR;
}

void close_fd(int &fd) {
  if (fd >= 0) {
    close(fd);
    fd = -1;
  }
}

} // namespace

child_process start_child(const std::vector<std::string> &command,
                          const char *stdin_file, output_to out_to) {
  // A child that exits before reading all its input must not kill the test.
  std::signal(SIGPIPE, SIG_IGN);
  int in[2], out[2], err[2];
  if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0 ||
      pipe2(err, O_CLOEXEC) != 0) {
    throw std::runtime_error("pipe failed");
  }
  std::vector<char *> argv; // built before fork: the child only execs
  argv.reserve(command.size() + 1);
  for (const std::string &word : command) {
    argv.push_back(const_cast<char *>(word.c_str()));
  }
  argv.push_back(nullptr);
  const pid_t pid = fork();
  if (pid < 0) {
    throw std::runtime_error("fork failed");
  }
  if (pid == 0) {
    dup2(stdin_file ? open(stdin_file, O_RDONLY) : in[0], 0);
    dup2(err[1], 2);
    switch (out_to) {
    case output_to::pipe:
      dup2(out[1], 1);
      break;
    case output_to::full_device:
      dup2(open("/dev/full", O_WRONLY), 1);
      break;
    case output_to::closed:
      close(1);
      break;
    }
    setenv("LC_ALL", "C", 1);
    execv(argv[0], argv.data());
    _exit(127);
  }
  close(in[0]);
  close(out[1]);
  close(err[1]);
  return {pid, in[1], out[0], err[0]};
}

bool read_until(child_process &child, std::string &out,
                const std::string &suffix, int timeout_ms) {
  const auto deadline = steady::now() + std::chrono::milliseconds(timeout_ms);
  while (out.size() < suffix.size() ||
         out.compare(out.size() - suffix.size(), suffix.size(), suffix) != 0) {
    pollfd p{child.out, POLLIN, 0};
    if (poll(&p, 1, ms_left(deadline)) <= 0 || !drain(child.out, out)) {
      return false;
    }
  }
  return true;
}

void write_input(child_process &child, const std::string &text) {
  size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = write(child.in, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) {
      continue;
    }
    if (n <= 0) {
      return; // the child has closed its input: the rest is not wanted
    }
    done += static_cast<size_t>(n);
  }
}

child_result finish_child(child_process &child, int timeout_ms) {
  const auto deadline = steady::now() + std::chrono::milliseconds(timeout_ms);
  close_fd(child.in);
  child_result result{false, -1, {}, {}};
  while (child.out >= 0 || child.err >= 0) {
    pollfd p[2] = {{child.out, POLLIN, 0}, {child.err, POLLIN, 0}};
    if (poll(p, 2, ms_left(deadline)) <= 0) {
      result.timed_out = true;
      kill(child.pid, SIGKILL);
      break;
    }
    if (p[0].revents != 0 && !drain(child.out, result.out)) {
      close_fd(child.out);
    }
    if (p[1].revents != 0 && !drain(child.err, result.err)) {
      close_fd(child.err);
    }
  }
  close_fd(child.out);
  close_fd(child.err);
  int status = 0;
  waitpid(child.pid, &status, 0);
  if (!result.timed_out && WIFEXITED(status)) {
    result.status = WEXITSTATUS(status);
  }
  return result;
}

child_result run_program(const std::vector<std::string> &command,
                         const std::string &input, int timeout_ms,
                         const char *stdin_file, output_to out_to) {
  child_process child = start_child(command, stdin_file, out_to);
  // Every input in the tests fits the pipe's buffer, so writing it all
  // before reading cannot deadlock.
  write_input(child, input);
  return finish_child(child, timeout_ms);
}
