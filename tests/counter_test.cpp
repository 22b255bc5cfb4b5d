// What a counter of several layers shows: its requirement with each
// layer's detection probability, against closed forms, and the chance
// coincidences and the counting time, against toy experiments of Poisson
// signals written here.
#include "simulation/counter.h"
#include "toy_counter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

namespace {

struct detection_case {
  requirement rule;
  std::uint32_t crossed;
  double share;
};

// Guards against a requirement that counts the wrong sets of signals or a
// probability that is not that of independent layers.
TEST(detected_share, matches_closed_forms) {
  const double p[3] = {0.9, 0.8, 0.7};
  const double p1 = p[0], p2 = p[1], p3 = p[2];
  const detection_case cases[] = {
      {{3, 0}, 3, p1 * p2},      // a pair, both crossed
      {{3, 0}, 1, 0},            // one of the pair missed
      {{7, 0}, 7, p1 * p2 * p3}, // all three
      {{0, 2},
       7, // two of three
       p1 * p2 + p1 * p3 + p2 * p3 - 2 * p1 * p2 * p3},
      {{0, 2}, 5, p1 * p3}, // two of the two crossed
      {{5, 0}, 7, p1 * p3}, // 1+3, whatever 2 does
      {{5, 0}, 6, 0},       // 1+3 without layer 1
      {{0, 3}, 7, p1 * p2 * p3},
  };
  for (const detection_case &c : cases) {
    EXPECT_NEAR(detected_share(c.rule, c.crossed, p, 3), c.share, 1e-15)
        << "needed " << c.rule.needed << ", at least " << c.rule.at_least
        << ", crossed " << c.crossed;
  }
}

// A toy counter: independent Poisson streams of events, each firing a set
// of layers, for `seconds`; counts the events that complete a coincidence
// with the events of the window before them, none of which meets the
// requirement alone.
double toy_accidentals(const requirement &r, const std::vector<double> &rates,
                       double window_s, double seconds, std::uint64_t seed) {
  struct event {
    double time;
    std::uint32_t fired;
  };
  std::mt19937_64 random(seed);
  std::vector<event> events;
  for (std::uint32_t g = 1; g < rates.size(); ++g) {
    if (rates[g] == 0) {
      continue;
    }
    std::exponential_distribution<double> gap(rates[g]);
    double t = gap(random);
    while (t < seconds) {
      events.push_back({t, g});
      t += gap(random);
    }
  }
  std::sort(events.begin(), events.end(),
            [](const event &a, const event &b) { return a.time < b.time; });
  double completed = 0;
  for (std::size_t i = 0, first = 0; i < events.size(); ++i) {
    while (events[i].time - events[first].time >= window_s) {
      ++first;
    }
    std::uint32_t before = 0;
    for (std::size_t j = first; j < i; ++j) {
      before |= requirement_met(r, events[j].fired) ? 0 : events[j].fired;
    }
    if (!requirement_met(r, events[i].fired) && !requirement_met(r, before) &&
        requirement_met(r, before | events[i].fired)) {
      ++completed;
    }
  }
  return completed / seconds;
}

struct accidental_case {
  const char *name;
  requirement rule;
  std::vector<double> rates; // Hz, of events firing exactly each set
  double window_s;
  double seconds; // of the toy: a few thousand chance coincidences
};

// Guards against a wrong order of the window, a missing way of meeting the
// requirement, or a genuine coincidence taken for a chance one: the
// first-order rate against the toy counter, within four standard
// deviations and 3% for the toy's overlaps of higher order (rho tau, at
// most 1% here).
TEST(accidental_rate, matches_a_toy_counter) {
  // Each toy lasts for a thousand chance coincidences or more.
  const accidental_case cases[] = {
      {"two layers, 2 tau R1 R2",
       {3, 0},
       {0, 2000, 3000, 0, 0, 0, 0, 0},
       1e-6,
       100},
      {"three layers, noise alone",
       {7, 0},
       {0, 2e4, 2e4, 0, 2e4, 0, 0, 0},
       5e-7,
       200},
      // A true pair and a noise signal in the third layer, beside three
      // lone noise signals and genuine triples.
      {"three layers, a true pair",
       {7, 0},
       {0, 1e4, 1e4, 300, 1e4, 0, 0, 50},
       1e-6,
       120},
      {"two of three beside true pairs",
       {0, 2},
       {0, 4000, 5000, 2000, 6000, 0, 0, 10},
       1e-6,
       20},
      {"1+3 beside pairs of 1 and 2, 2 and 3",
       {5, 0},
       {0, 5000, 3000, 200, 4000, 0, 100, 0},
       1e-6,
       30},
      // As many pairs as lone signals: a set with a layer to spare, 1+2+3,
      // would count each of their chance coincidences a second time.
      {"1+3 beside many pairs",
       {5, 0},
       {0, 5000, 3000, 2000, 4000, 0, 2000, 0},
       1e-6,
       12},
  };
  for (const accidental_case &c : cases) {
    const double expected =
        accidental_rate(c.rule, c.rates.data(), 3, c.window_s);
    const double toy =
        toy_accidentals(c.rule, c.rates, c.window_s, c.seconds, 7);
    const double sigma = std::sqrt(expected / c.seconds);
    EXPECT_NEAR(toy, expected, 4 * sigma + 0.03 * expected) << c.name;
  }
}

struct leading_case { // NOLINT(clang-analyzer-optin.performance.Padding)
  const char *name;
  int layers;
  requirement rule;
  std::vector<double> events_hz; // of each set fired
  double leading;                // over tau^(m-1), m events
  int m;
};

// Guards against a combination left out or counted twice: to leading order
// in the window, the sum over the smallest combinations of m events whose
// union meets the requirement of m tau^(m-1) prod rho, worked out by hand.
TEST(accidental_rate, leads_with_the_smallest_combinations) {
  std::vector<double> three(8), four(16), singles(16);
  three[3] = 20, three[6] = 30, three[4] = 50, three[1] = 70; // 12 23 3 1
  four[3] = 40, four[12] = 60;                                // 12 34
  singles[1] = 2, singles[2] = 3, singles[4] = 5, singles[8] = 7;
  const leading_case cases[] = {
      {"two layers", 2, {3, 0}, {0, 2000, 3000, 0}, 2 * 2000 * 3000, 2},
      // 12+23, 12+3 and 1+23 make chance triples.
      {"three layers, overlapping pairs",
       3,
       {7, 0},
       three,
       2 * (20 * 30 + 20 * 50 + 70 * 30),
       2},
      // 12 and 34 meet three of four layers in four ways, as one
      // coincidence.
      {"three of four, two pairs", 4, {0, 3}, four, 2 * 40 * 60, 2},
      {"four lone signals", 4, {15, 0}, singles, 4 * 2 * 3 * 5 * 7, 4},
      {"2+4 of four lone signals", 4, {10, 0}, singles, 2 * 3 * 7, 2},
  };
  constexpr double tau = 1e-12;
  for (const leading_case &c : cases) {
    EXPECT_NEAR(accidental_rate(c.rule, c.events_hz.data(), c.layers, tau) /
                    std::pow(tau, c.m - 1),
                c.leading, 1e-6 * c.leading)
        << c.name;
  }
}

struct counter_case {
  const char *name;
  toy_counter counter;
  requirement rule;
  double window_s; // tau sum(R) about 5e-3: the next order is below 1%
  double seconds;  // of the toy: about 1500 chance coincidences
};

// Guards against chance coincidences left out (events that share a layer,
// one firing 1+2 and another 2+3), counted more than once (1+2 and 3+4
// meet three of four layers in four ways, but make one coincidence), or
// taken for a muon's own: the leading order against the counter in time,
// within four standard deviations and 1.5% for the next order.
TEST(accidental_rate, matches_a_counter_in_time) {
  const toy_counter stack3{
      3, {0, 300, 100, 200, 300, 0, 200, 400}, {1, 1, 1}, {0, 0, 0}};
  const toy_counter noisy3{
      3, {0, 0, 0, 100, 0, 0, 100, 300}, {0.9, 0.8, 0.9}, {400, 400, 400}};
  // Pairs 1+2, 2+3 and 3+4 of muons, a few through all, and noise.
  std::vector<double> pairs(16);
  pairs[3] = pairs[6] = pairs[12] = 200;
  pairs[15] = 100;
  const toy_counter stack4{4, pairs, {1, 1, 1, 1}, {200, 200, 200, 200}};
  const toy_counter seen4{4, pairs, {0.9, 0.9, 0.9, 0.9}, {30, 30, 30, 30}};
  // Mostly pairs 1+2 and 3+4, which together meet three of four layers in
  // four ways.
  std::vector<double> apart(16);
  apart[3] = apart[12] = 400;
  apart[6] = 100;
  apart[15] = 50;
  const toy_counter split4{4, apart, {1, 1, 1, 1}, {50, 50, 50, 50}};
  const counter_case cases[] = {
      {"two layers, noise",
       {2, {0, 0, 0, 5}, {1, 1}, {1500, 2500}},
       {3, 0},
       1.25e-6,
       160},
      {"three layers, muons alone", stack3, {7, 0}, 3.3e-6, 1400},
      {"three layers, detection and noise", noisy3, {7, 0}, 3e-6, 2500},
      {"three layers, 1+3", noisy3, {5, 0}, 3e-6, 1000},
      {"four layers, three of four", split4, {0, 3}, 3e-6, 800},
      {"four layers, two of four", stack4, {0, 2}, 3e-6, 1200},
      {"four layers, 2+3, detection", seen4, {6, 0}, 5e-6, 3000},
      {"four layers, all four, detection", seen4, {15, 0}, 5e-6, 4000},
  };
  for (const counter_case &c : cases) {
    const std::vector<double> events = toy_events(c.counter);
    const double expected =
        accidental_rate(c.rule, events.data(), c.counter.layers, c.window_s);
    const toy_counts toy =
        run_toy_counter(c.counter, c.rule, c.window_s, c.seconds, 5);
    const double sigma = std::sqrt(expected / c.seconds);
    EXPECT_NEAR(toy.chance / c.seconds, expected, 4 * sigma + 0.015 * expected)
        << c.name << ": " << toy.chance << " chance coincidences";
  }
}

// Guards against a counting time that is not the one asked for: repeated
// toy experiments of that length, each counting Poisson signals and
// subtracting the accidentals expected, scatter by the precision asked.
TEST(counting_time, gives_the_precision_asked_for) {
  std::mt19937_64 random(11);
  struct case_ {
    double rate_hz, accidental_hz, precision;
  };
  for (const case_ c :
       {case_{0.3, 0.0, 0.05}, case_{2.0, 1.5, 0.02}, case_{0.05, 0.2, 0.1}}) {
    const double t = counting_time(c.rate_hz, c.accidental_hz, c.precision);
    std::poisson_distribution<long long> counts((c.rate_hz + c.accidental_hz) *
                                                t);
    constexpr int experiments = 4000;
    double sum = 0, squares = 0;
    for (int i = 0; i < experiments; ++i) {
      const double estimate =
          static_cast<double>(counts(random)) / t - c.accidental_hz;
      sum += estimate;
      squares += estimate * estimate;
    }
    const double mean = sum / experiments;
    const double spread = std::sqrt(squares / experiments - mean * mean);
    // The spread of a spread of 4000 experiments is about 1.1% of it.
    EXPECT_NEAR(spread / c.rate_hz, c.precision, 0.05 * c.precision)
        << c.rate_hz << " Hz beside " << c.accidental_hz << " Hz";
  }
}

} // namespace
