// The runners that share a curve's blocks and a fit's settings among
// threads: the same rows and fit as one thread a step at a time, on any
// number of threads, and a stop wherever the watch asks for it.
#include "programs/run_threads.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

namespace {

// The words' arguments as the command reads them.
template <class Command, class Reader>
Command read(Reader reader, std::vector<std::string> words) {
  std::vector<char *> argv;
  argv.reserve(words.size() + 1);
  for (std::string &word : words) {
    argv.push_back(word.data());
  }
  argv.push_back(nullptr);
  return reader(static_cast<int>(words.size()), argv.data());
}

curve_arguments curve_of(const std::vector<std::string> &words) {
  std::vector<std::string> line = {"velmora-curve"};
  line.insert(line.end(), words.begin(), words.end());
  const curve_command c = read<curve_command>(read_curve_command, line);
  EXPECT_EQ(c.problem, "");
  return c.arguments;
}

// The rows as the page's worker makes them, a block at a time.
std::string rows_a_block_at_a_time(const curve_arguments &a) {
  curve_run run = start_curve_run(a);
  std::string csv;
  while (run_slice(run, csv)) {
  }
  return csv;
}

const std::chrono::milliseconds never(3600000), always(0);

struct curve_case {
  std::vector<std::string> words;
  unsigned threads;
  unsigned threads_run; // what curve_threads makes of them
};

// Four tilts, four groups, their passes of three blocks.
const std::vector<std::string> four_groups = {"--muons", "150000", "--tilt",
                                              "0,20,40,60", "0,7,3"};

const curve_case curve_cases[] = {
    {four_groups, 1, 1},
    {four_groups, 2, 2},
    {four_groups, 7, 7},
    {four_groups, 100, 10}, // no more threads than blocks' worth of muons
    {{"--muons", "1", "10"}, 2, 1},
    {{"--method", "integral", "--tilt", "0,30", "5,10"}, 2, 1}, // no blocks
};

TEST(run_curve, gives_the_rows_of_one_thread_on_any) {
  for (const curve_case &c : curve_cases) {
    const curve_plan plan = plan_curve(curve_of(c.words));
    EXPECT_EQ(curve_threads(plan, c.threads), c.threads_run);
    std::string rows;
    EXPECT_TRUE(run_curve(
        plan, c.threads, [&](const std::string &r) { rows += r; }, never,
        [](double) { return false; }));
    EXPECT_EQ(rows, rows_a_block_at_a_time(plan.arguments)) << c.threads;
  }
  // Every core unless told, but no more than there are blocks.
  const curve_plan plan = plan_curve(curve_of({"--muons", "1000000", "5"}));
  EXPECT_EQ(curve_threads(plan, 0), std::min(usable_cores(), 32U));
}

// The watch, looked at as often as it can be, says stop at its n-th look:
// the run gives the rows of whole groups, in order, up to where it stopped,
// and says whether it gave them all (a stop after the last rows stops
// nothing).
TEST(run_curve, stops_where_the_watch_says) {
  for (const unsigned threads : {1U, 2U}) {
    for (int stop_at = 1; stop_at <= 16; ++stop_at) {
      const curve_plan plan = plan_curve(curve_of(four_groups));
      const std::string all = rows_a_block_at_a_time(plan.arguments);
      std::string rows;
      int looks = 0;
      double last_share = 0.0;
      const bool finished = run_curve(
          plan, threads, [&](const std::string &r) { rows += r; }, always,
          [&](double share) {
            EXPECT_GE(share, last_share);
            EXPECT_LE(share, 1.0);
            last_share = share;
            return ++looks < stop_at;
          });
      EXPECT_EQ(all.compare(0, rows.size(), rows), 0);
      EXPECT_EQ(finished, rows == all) << threads << " " << stop_at;
      if (!finished) {
        EXPECT_EQ(looks, stop_at) << threads;
      }
    }
  }
}

// Told to stop as soon as rows were given: the run gives those of the first
// group alone, on one thread or on several.
TEST(run_curve, stops_after_the_rows_of_a_group) {
  const curve_plan plan = plan_curve(curve_of(four_groups));
  const std::string all = rows_a_block_at_a_time(plan.arguments);
  for (const unsigned threads : {1U, 2U}) {
    std::string rows;
    EXPECT_FALSE(run_curve(
        plan, threads, [&](const std::string &r) { rows += r; }, always,
        [&](double) { return rows.empty(); }));
    EXPECT_FALSE(rows.empty());
    EXPECT_EQ(all.compare(0, rows.size(), rows), 0);
    EXPECT_LT(rows.size(), all.size()) << threads;
  }
}

// The integral's work is in its rows: a long group of them stops within a
// distance of being told, and a stop after the first group's rows gives
// those rows alone.
TEST(run_curve, stops_the_integral_within_its_rows) {
  const curve_plan plan = plan_curve(
      curve_of({"--method", "integral", "--tilt", "0,30", "0:50:0.05"}));
  int looks = 0;
  EXPECT_FALSE(run_curve(
      plan, 1, [](const std::string &) { ADD_FAILURE(); }, always,
      [&](double share) {
        EXPECT_EQ(share, 0.0);
        return ++looks < 2;
      }));
  std::string rows;
  EXPECT_FALSE(run_curve(
      plan, 1, [&](const std::string &r) { rows += r; }, always,
      [&](double) { return rows.empty(); }));
  const curve_plan first = plan_curve(
      curve_of({"--method", "integral", "--tilt", "0", "0:50:0.05"}));
  EXPECT_EQ(rows, rows_a_block_at_a_time(first.arguments));
}

fit_command fit_of(std::vector<std::string> words) {
  words.insert(words.begin(), "velmora-fit");
  words.emplace_back("-");
  fit_command c = read<fit_command>(read_fit_command, words);
  EXPECT_EQ(c.problem, "");
  return c;
}

// A fit whose Monte Carlo draws the most muons a setting may: seconds.
const char many_counts[] = "tilt_deg,distance_cm,coincidences,live_time_s\n"
                           "0,10,1000000,600\n30,10,700000,600\n"
                           "60,10,200000,600\n";
const char few_counts[] = "tilt_deg,distance_cm,coincidences,live_time_s\n"
                          "0,10,176,600\n30,10,117,600\n60,10,32,600\n";

std::string fitted(fit_run &run, unsigned threads) {
  while (true) {
    EXPECT_TRUE(
        model_settings(run, threads, never, [](double) { return false; }));
    const fit_step step = fit_models(run);
    if (step != fit_step::draw_again) {
      EXPECT_EQ(step, fit_step::done);
      return fit_csv(run);
    }
  }
}

TEST(model_settings, fit_the_same_on_any_number_of_threads) {
  const fit_command command = fit_of({"--method", "mc", "--paddles", "10x31"});
  std::string first;
  for (const unsigned threads : {1U, 2U, 5U, 0U}) {
    std::istringstream in(few_counts);
    fit_run run;
    ASSERT_EQ(start_fit(command, in, "data", run), "");
    const std::string csv = fitted(run, threads);
    EXPECT_EQ(csv, first.empty() ? csv : first) << threads;
    first = csv;
  }
}

// Told at once, the models stop: no setting is begun after the watch said
// stop, and the one begun stops drawing within a block of muons.
TEST(model_settings, stop_where_the_watch_says) {
  const fit_command command = fit_of({"--method", "mc", "--paddles", "10x31"});
  for (const unsigned threads : {1U, 2U}) {
    std::istringstream in(many_counts);
    fit_run run;
    ASSERT_EQ(start_fit(command, in, "data", run), "");
    int looks = 0;
    EXPECT_FALSE(model_settings(run, threads, always, [&](double share) {
      EXPECT_EQ(share, 0.0);
      return ++looks < 2;
    }));
    EXPECT_EQ(run.problem.models.back().muons, 0.0) << threads;
    EXPECT_EQ(run.stop, nullptr);
  }
}

} // namespace
