#include "programs/run_threads.h"
#include "simulation/curve_pass.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <sched.h>
#include <thread>
#include <utility>
#include <vector>

unsigned usable_cores() {
  cpu_set_t set;
  // The set holds 1024 CPUs: the call fails only where the kernel counts
  // more.
  if (sched_getaffinity(0, sizeof set, &set) == 0) { // GCOVR_EXCL_BR_LINE
    return static_cast<unsigned>(CPU_COUNT(&set));
  }
  return std::max(1U, std::thread::hardware_concurrency()); // GCOVR_EXCL_LINE
}

namespace {

using steady = std::chrono::steady_clock;

// Calls `watch` once `interval` has passed since it was last called, or
// since the run began: after every block or setting on one thread, at
// every wake-up of the thread that waits on several.
struct watch_clock {
  std::chrono::milliseconds interval;
  const run_watch &watch;
  steady::time_point last = steady::now();

  // False once the watch said to stop.
  bool go_on(double share) {
    const steady::time_point now = steady::now();
    if (now - last < interval) {
      return true;
    }
    last = now;
    return watch(share);
  }
  // How long to wait before the watch is due.
  steady::duration left() const {
    return std::max(steady::duration::zero(), last + interval - steady::now());
  }
};

// The blocks handed out in order to whichever thread is free, each thread
// adding to tallies of its own; a group's rows are written once each of its
// blocks is done.
struct shared_run {
  const curve_plan *plan = nullptr;
  std::atomic<std::uint64_t> next_block{0};
  std::atomic<std::uint64_t> muons_done{0};
  std::atomic<bool> stop{false};
  std::vector<std::atomic<std::uint64_t>> blocks_left; // per group
  std::mutex mutex;
  std::condition_variable group_done;
};

void work(shared_run &run, std::vector<std::int32_t> &tallies) {
  const curve_plan &plan = *run.plan;
  for (std::uint64_t block = run.next_block++;
       block < block_count(plan) && !run.stop; block = run.next_block++) {
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

// Whether every block of `group` is among the first `done`.
bool group_complete(const curve_plan &plan, std::size_t group,
                    std::uint64_t done) {
  return first_block_of_group(plan, group) + blocks_of_group(plan, group) <=
         done;
}

// The share of a run done: of its muons, or of its groups where it throws
// none (the integral).
double share_of(const curve_plan &plan, std::uint64_t muons_done,
                std::size_t groups_written) {
  const double all_muons =
      static_cast<double>(plan.passes.size()) * plan.arguments.muons;
  return all_muons > 0.0 ? static_cast<double>(muons_done) / all_muons
                         : static_cast<double>(groups_written) /
                               static_cast<double>(plan.groups);
}

// The whole run on the calling thread, a block at a time.
bool run_alone(const curve_plan &plan,
               const std::function<void(const std::string &)> &rows,
               watch_clock &clock) {
  std::vector<std::int32_t> tallies(plan.passes.size() * plan.tally_size, 0);
  std::uint64_t muons_done = 0;
  std::size_t written = 0;
  for (std::uint64_t block = 0; block <= block_count(plan); ++block) {
    if (block > 0) {
      run_block(plan, block - 1, tallies.data());
      muons_done += static_cast<std::uint64_t>(muons_in_block(plan, block - 1));
    }
    for (; written < plan.groups && group_complete(plan, written, block);
         ++written) {
      rows(group_rows(plan, written, tallies.data()));
      if (!clock.go_on(share_of(plan, muons_done, written + 1))) {
        return written + 1 == plan.groups;
      }
    }
    if (!clock.go_on(share_of(plan, muons_done, written))) {
      return written == plan.groups;
    }
  }
  return true;
}

// The integral throws no muons: its work is in the rows, which a thread of
// their own works out group by group while this one gives them on and
// watches.
bool run_rows_apart(const curve_plan &plan,
                    const std::function<void(const std::string &)> &rows,
                    watch_clock &clock) {
  std::vector<std::string> made(plan.groups);
  std::size_t done = 0; // groups made, under the lock
  std::atomic<bool> stop{false};
  std::mutex mutex;
  std::condition_variable group_done;
  std::vector<std::int32_t> no_tallies(1);
  const auto make = [&] {
    for (std::size_t g = 0; g < plan.groups && !stop; ++g) {
      std::string group = group_rows(plan, g, no_tallies.data(), &stop);
      const std::lock_guard<std::mutex> lock(mutex);
      made[g] = std::move(group);
      ++done;
      group_done.notify_one();
    }
  };
  std::thread maker(make);
  std::size_t given = 0;
  while (given < plan.groups && !stop) {
    std::unique_lock<std::mutex> lock(mutex);
    if (group_done.wait_for(lock, clock.left(), [&] { return done > given; })) {
      const std::string group = std::move(made[given]);
      lock.unlock();
      rows(group);
      ++given;
    } else {
      lock.unlock();
    }
    stop = given < plan.groups && !clock.go_on(share_of(plan, 0, given));
  }
  stop = true; // a group being made is not wanted
  maker.join();
  return given == plan.groups;
}

} // namespace

unsigned curve_threads(const curve_plan &plan, unsigned threads) {
  const std::uint64_t muons = static_cast<std::uint64_t>(plan.passes.size()) *
                              static_cast<std::uint64_t>(plan.arguments.muons);
  // A block's worth of muons per thread at least.
  const std::uint64_t filled =
      (muons + static_cast<std::uint64_t>(block_muons) - 1) /
      static_cast<std::uint64_t>(block_muons);
  return static_cast<unsigned>(std::max<std::uint64_t>(
      1, std::min<std::uint64_t>(threads != 0 ? threads : usable_cores(),
                                 std::min(block_count(plan), filled))));
}

bool run_curve(const curve_plan &plan, unsigned threads,
               const std::function<void(const std::string &)> &rows,
               std::chrono::milliseconds interval, const run_watch &watch) {
  watch_clock clock{interval, watch};
  if (block_count(plan) == 0) {
    return run_rows_apart(plan, rows, clock);
  }
  const unsigned count = curve_threads(plan, threads);
  if (count == 1) {
    return run_alone(plan, rows, clock);
  }
  shared_run run;
  run.plan = &plan;
  run.blocks_left = std::vector<std::atomic<std::uint64_t>>(plan.groups);
  for (std::size_t g = 0; g < plan.groups; ++g) {
    run.blocks_left[g] = blocks_of_group(plan, g);
  }
  std::vector<std::vector<std::int32_t>> tallies(
      count,
      std::vector<std::int32_t>(plan.passes.size() * plan.tally_size, 0));
  std::vector<std::thread> workers;
  for (unsigned t = 0; t < count; ++t) {
    workers.emplace_back(work, std::ref(run), std::ref(tallies[t]));
  }
  // This thread writes each group's rows in order as soon as the blocks of
  // that group are in, and looks up at the watch between.
  for (std::size_t g = 0; g < plan.groups && !run.stop; ++g) {
    std::unique_lock<std::mutex> lock(run.mutex);
    while (!run.stop && !run.group_done.wait_for(lock, clock.left(), [&] {
      return run.blocks_left[g] == 0;
    })) {
      run.stop = !clock.go_on(share_of(plan, run.muons_done, g));
    }
    lock.unlock();
    if (run.stop) {
      break;
    }
    // Every thread's tallies of this group, added into the first's.
    const std::size_t from =
        first_block_of_group(plan, g) / plan.blocks_per_pass * plan.tally_size;
    const std::size_t to = from + blocks_of_group(plan, g) /
                                      plan.blocks_per_pass * plan.tally_size;
    for (unsigned t = 1; t < count; ++t) {
      for (std::size_t i = from; i < to; ++i) {
        tallies[0][i] += tallies[t][i];
      }
    }
    rows(group_rows(plan, g, tallies[0].data()));
    // The last group's rows end the run: nothing is left to stop.
    run.stop = g + 1 < plan.groups &&
               !clock.go_on(share_of(plan, run.muons_done, g + 1));
  }
  const bool stopped = run.stop;
  run.stop = true; // any block not yet taken is not wanted
  for (std::thread &worker : workers) {
    worker.join();
  }
  return !stopped;
}

bool model_settings(fit_run &run, unsigned threads,
                    std::chrono::milliseconds interval,
                    const run_watch &watch) {
  watch_clock clock{interval, watch};
  const std::size_t settings = models_to_work_out(run);
  const auto share = [&](std::size_t done) {
    return static_cast<double>(done) / static_cast<double>(settings);
  };
  // On threads of their own even when one: a setting of the Monte Carlo
  // may take seconds, and this thread is to look at the watch meanwhile.
  const unsigned count = static_cast<unsigned>(std::max<std::size_t>(
      1, std::min<std::size_t>(threads != 0 ? threads : usable_cores(),
                               settings)));
  std::atomic<std::size_t> next{0}, done{0};
  std::atomic<bool> stop{false};
  std::mutex mutex;
  std::condition_variable all_done;
  const auto work = [&] {
    for (std::size_t i = next++; i < settings && !stop; i = next++) {
      model_setting_of(run, i);
      if (++done == settings) {
        const std::lock_guard<std::mutex> lock(mutex);
        all_done.notify_one();
      }
    }
  };
  // A setting's Monte Carlo stops drawing too.
  run.stop = &stop;
  std::vector<std::thread> workers;
  for (unsigned t = 0; t < count; ++t) {
    workers.emplace_back(work);
  }
  {
    std::unique_lock<std::mutex> lock(mutex);
    while (!stop && !all_done.wait_for(lock, clock.left(),
                                       [&] { return done == settings; })) {
      stop = !clock.go_on(share(done));
    }
  }
  for (std::thread &worker : workers) {
    worker.join();
  }
  run.stop = nullptr;
  return !stop;
}
