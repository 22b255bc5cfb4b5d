// velmora-curve: the efficiency curve of a muon telescope against distance
// (and tilt), as CSV, the passes' blocks of muons shared among threads.
#include "programs/command_line.h"
#include "programs/curve_arguments.h"
#include "programs/curve_run.h"
#include "programs/output.h"

#include <algorithm>
#include <atomic>
#include <cerrno> // program_invocation_short_name
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using steady = std::chrono::steady_clock;
constexpr auto progress_interval = std::chrono::milliseconds(250);

// The blocks handed out in order to whichever thread is free, each thread
// adding to tallies of its own; a group's rows are written once each of its
// blocks is done.
struct shared_run {
  const curve_plan *plan = nullptr;
  std::atomic<std::uint64_t> next_block{0};
  std::atomic<std::uint64_t> muons_done{0};
  std::vector<std::atomic<std::uint64_t>> blocks_left; // per group
  std::mutex mutex;
  std::condition_variable group_done;
};

void work(shared_run &run, std::vector<std::int32_t> &tallies) {
  const curve_plan &plan = *run.plan;
  for (std::uint64_t block = run.next_block++; block < block_count(plan);
       block = run.next_block++) {
    run_block(plan, block, tallies.data());
    run.muons_done += static_cast<std::uint64_t>(muons_in_block(plan, block));
    if (--run.blocks_left[group_of_block(plan, block)] == 0) {
      // Taken under the lock so that the writer cannot miss the wake-up
      // between its check and its wait.
      const std::lock_guard<std::mutex> lock(run.mutex);
      run.group_done.notify_one();
    }
  }
}

} // namespace

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

  const curve_plan plan = plan_curve(command.arguments);
  // More threads than blocks would only hold tallies of their own.
  const unsigned threads = static_cast<unsigned>(std::max<std::uint64_t>(
      1, std::min<std::uint64_t>(command.arguments.threads != 0
                                     ? command.arguments.threads
                                     : usable_cores(),
                                 block_count(plan))));
  shared_run run;
  run.plan = &plan;
  run.blocks_left = std::vector<std::atomic<std::uint64_t>>(plan.groups);
  for (std::size_t g = 0; g < plan.groups; ++g) {
    run.blocks_left[g] = blocks_of_group(plan, g);
  }
  std::vector<std::vector<std::int32_t>> tallies(
      threads,
      std::vector<std::int32_t>(plan.passes.size() * plan.tally_size, 0));
  std::vector<std::thread> workers;
  for (unsigned t = 1; t < threads; ++t) {
    workers.emplace_back(work, std::ref(run), std::ref(tallies[t]));
  }
  // The first thread works too, and writes each group's rows in order as
  // soon as the blocks of that group are in; the share done shows on a
  // terminal a few times a second at most.
  std::thread first(work, std::ref(run), std::ref(tallies[0]));
  const double all_muons =
      static_cast<double>(plan.passes.size()) * plan.arguments.muons;
  bool progress_shown = false;
  for (std::size_t g = 0; g < plan.groups; ++g) {
    std::unique_lock<std::mutex> lock(run.mutex);
    while (!run.group_done.wait_for(lock, progress_interval,
                                    [&] { return run.blocks_left[g] == 0; })) {
      // Needs a terminal, which the tests do not have.
      // GCOVR_EXCL_START
      if (show_progress) {
        std::fprintf(stderr, "\r%s: %3d%%", program_invocation_short_name,
                     static_cast<int>(
                         100.0 * static_cast<double>(run.muons_done.load()) /
                         all_muons));
        progress_shown = true;
      }
      // GCOVR_EXCL_STOP
    }
    lock.unlock();
    // Every thread's tallies of this group, added into the first's.
    const std::size_t from =
        first_block_of_group(plan, g) / plan.blocks_per_pass * plan.tally_size;
    const std::size_t to = from + blocks_of_group(plan, g) /
                                      plan.blocks_per_pass * plan.tally_size;
    for (unsigned t = 1; t < threads; ++t) {
      for (std::size_t i = from; i < to; ++i) {
        tallies[0][i] += tallies[t][i];
      }
    }
    std::fputs(group_rows(plan, g, tallies[0].data()).c_str(), stdout);
  }
  first.join();
  for (std::thread &worker : workers) {
    worker.join();
  }
  // GCOVR_EXCL_START
  if (progress_shown) {
    std::fputs("\r\033[K", stderr); // leave the terminal line as it was
  }
  // GCOVR_EXCL_STOP
  flush_or_exit("the curve");
  return 0;
}
