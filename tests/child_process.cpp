#include "child_process.h"

#include <cerrno>
#include <chrono>
#include <clocale>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <poll.h>
#include <spawn.h>
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

[[noreturn]] void fail(const std::string &what) {
  throw std::runtime_error(what + ": " + std::strerror(errno));
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

// poll, retried when a signal interrupts it; the number of ready
// descriptors, 0 at the deadline.
int poll_until(pollfd *fds, nfds_t count, steady::time_point deadline) {
  for (;;) {
    const int ready = poll(fds, count, ms_left(deadline));
    if (ready >= 0) {
      return ready;
    }
    if (errno != EINTR) {
      fail("poll");
    }
  }
}

void close_fd(int &fd) {
  if (fd >= 0) {
    close(fd);
    fd = -1;
  }
}

// Waits for the child to end, retrying when a signal interrupts the wait;
// false if its status cannot be had (ECHILD once something else reaped it).
// The pid is given up either way: it may already belong to another process.
bool wait_for(pid_t &pid, int &status) {
  int result = 0;
  while ((result = waitpid(pid, &status, 0)) < 0 && errno == EINTR) {
  }
  pid = -1;
  return result >= 0;
}

// A descriptor that is closed when it goes out of scope unless released.
class owned_fd {
public:
  owned_fd() = default;
  owned_fd(const owned_fd &) = delete;
  owned_fd &operator=(const owned_fd &) = delete;
  ~owned_fd() {
    close_fd(fd_);
  }
  void reset(int fd) {
    close_fd(fd_);
    fd_ = fd;
  }
  int get() const {
    return fd_;
  }
  int release() {
    const int fd = fd_;
    fd_ = -1;
    return fd;
  }

private:
  int fd_ = -1;
};

// Both ends of a close-on-exec pipe; each is closed unless released.
struct owned_pipe {
  owned_fd read_end, write_end;
  owned_pipe() {
    int ends[2];
    if (pipe2(ends, O_CLOEXEC) != 0) {
      fail("pipe");
    }
    read_end.reset(ends[0]);
    write_end.reset(ends[1]);
  }
};

// A cross build's test programs run the built programs through the
// emulator named at configure time (qemu-user); scripts run as they are.
std::vector<std::string>
with_emulator(const std::vector<std::string> &command) {
  std::vector<std::string> words;
#ifdef VELMORA_TEST_EMULATOR
  char magic[4] = {};
  std::ifstream(command.at(0), std::ios::binary).read(magic, sizeof magic);
  if (std::memcmp(magic,
                  "\x7f"
                  "ELF",
                  4) == 0) {
    const std::string emulator = VELMORA_TEST_EMULATOR;
    for (std::size_t start = 0, end = 0; end != std::string::npos;
         start = end + 1) {
      end = emulator.find(' ', start);
      words.push_back(emulator.substr(start, end - start));
    }
  }
#endif
  words.insert(words.end(), command.begin(), command.end());
  return words;
}

// The environment the child gets: ours, with LC_ALL set to `locale`. Built
// before the child exists, so that nothing but exec happens in it.
std::vector<std::string> child_environment(const char *locale) {
  std::vector<std::string> variables;
  for (char **v = environ; *v != nullptr; ++v) {
    if (std::strncmp(*v, "LC_ALL=", 7) != 0) {
      variables.emplace_back(*v);
    }
  }
  variables.push_back(std::string("LC_ALL=") + locale);
  return variables;
}

std::vector<char *> pointers(std::vector<std::string> &words) {
  std::vector<char *> p;
  p.reserve(words.size() + 1);
  for (std::string &word : words) {
    p.push_back(word.data());
  }
  p.push_back(nullptr);
  return p;
}

int open_checked(const char *path, int flags) {
  const int fd = open(path, flags | O_CLOEXEC);
  if (fd < 0) {
    fail(std::string("open ") + path);
  }
  return fd;
}

} // namespace

child_process::child_process(const std::vector<std::string> &command,
                             const child_options &options) {
  // A child that exits before reading all its input must not kill the test;
  // the child itself gets the default disposition back below.
  std::signal(SIGPIPE, SIG_IGN);
  // Ignored SIGCHLD, inherited from a runner, would have the kernel reap
  // every child at once and leave no status to collect.
  std::signal(SIGCHLD, SIG_DFL);
  // Every descriptor opened here is owned until the end of the constructor:
  // if it throws half-way, none is left open behind it (the destructor does
  // not run for an object that was never made).
  owned_pipe in_pipe, out_pipe, err_pipe;
  owned_fd input_file, full_device;
  if (options.stdin_file) {
    input_file.reset(open_checked(options.stdin_file, O_RDONLY));
  }
  if (options.out == output_to::full_device) {
    full_device.reset(open_checked("/dev/full", O_WRONLY));
  }
  // Descriptors of the parent's that the child takes as 0, 1 and 2; all are
  // close-on-exec, so only the dup2 copies reach the program.
  const int child_in =
      options.stdin_file ? input_file.get() : in_pipe.read_end.get();
  const int child_out = options.out == output_to::full_device
                            ? full_device.get()
                            : out_pipe.write_end.get();

  std::vector<std::string> words = with_emulator(command);
  std::vector<std::string> variables = child_environment(options.locale);
  const std::vector<char *> argv = pointers(words);
  const std::vector<char *> envp = pointers(variables);

  posix_spawn_file_actions_t actions;
  posix_spawnattr_t attributes;
  posix_spawn_file_actions_init(&actions);
  posix_spawnattr_init(&attributes);
  posix_spawn_file_actions_adddup2(&actions, child_in, 0);
  if (options.out == output_to::closed) {
    posix_spawn_file_actions_addclose(&actions, 1);
  } else {
    posix_spawn_file_actions_adddup2(&actions, child_out, 1);
  }
  posix_spawn_file_actions_adddup2(&actions, err_pipe.write_end.get(), 2);
  // The program, and whatever it starts and waits for, gets the default
  // dispositions whatever ours are.
  sigset_t default_signals;
  sigemptyset(&default_signals);
  sigaddset(&default_signals, SIGPIPE);
  sigaddset(&default_signals, SIGCHLD);
  posix_spawnattr_setsigdefault(&attributes, &default_signals);
  posix_spawnattr_setpgroup(&attributes, 0);
  posix_spawnattr_setflags(&attributes,
                           POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETPGROUP);
  const int spawned = posix_spawnp(&pid, argv[0], &actions, &attributes,
                                   argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  if (spawned != 0) {
    pid = -1;
    errno = spawned;
    fail("spawn " + words[0]);
  }
  // Ours from here on; the child's ends close as the constructor returns.
  in = in_pipe.write_end.release();
  out = out_pipe.read_end.release();
  err = err_pipe.read_end.release();
}

child_process::~child_process() {
  if (pid > 0) {
    kill(-pid, SIGKILL);
    int status = 0;
    wait_for(pid, status); // nothing more to do if it fails here
  }
  close_fd(in);
  close_fd(out);
  close_fd(err);
}

bool read_until(child_process &child, std::string &out,
                const std::string &suffix, int timeout_ms) {
  const auto deadline = steady::now() + std::chrono::milliseconds(timeout_ms);
  while (out.size() < suffix.size() ||
         out.compare(out.size() - suffix.size(), suffix.size(), suffix) != 0) {
    pollfd p{child.out, POLLIN, 0};
    if (poll_until(&p, 1, deadline) == 0 || !drain(child.out, out)) {
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
  child_result result{false, -1, 0, {}, {}};
  while (child.out >= 0 || child.err >= 0) {
    pollfd p[2] = {{child.out, POLLIN, 0}, {child.err, POLLIN, 0}};
    if (poll_until(p, 2, deadline) == 0) {
      result.timed_out = true;
      kill(-child.pid, SIGKILL);
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
  if (!wait_for(child.pid, status)) {
    fail("waitpid: how the child ended is lost");
  }
  if (!result.timed_out && WIFEXITED(status)) {
    result.status = WEXITSTATUS(status);
  }
  if (WIFSIGNALED(status)) {
    result.signal = WTERMSIG(status);
  }
  return result;
}

child_result run_program(const std::vector<std::string> &command,
                         const std::string &input, int timeout_ms,
                         const child_options &options) {
  child_process child(command, options);
  std::string first;
  if (options.reader_leaves_after > 0) {
    const auto deadline = steady::now() + std::chrono::milliseconds(timeout_ms);
    while (first.size() < options.reader_leaves_after) {
      pollfd p{child.out, POLLIN, 0};
      if (poll_until(&p, 1, deadline) == 0 || !drain(child.out, first)) {
        break;
      }
    }
    close_fd(child.out);
  }
  // Every input in the tests fits the pipe's buffer, so writing it all
  // before reading cannot deadlock.
  write_input(child, input);
  child_result result = finish_child(child, timeout_ms);
  result.out.insert(0, first);
  return result;
}

bool locale_installed(const char *locale) {
  const locale_t l = newlocale(LC_ALL_MASK, locale, nullptr);
  if (l != nullptr) {
    freelocale(l);
  }
  return l != nullptr;
}
