// What a counter of several layers shows: its requirement with each
// layer's detection probability, against closed forms, and the chance
// coincidences and the counting time, against toy experiments of Poisson
// signals written here.
#include "simulation/counter.h"

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
  // For two layers it is the textbook 2 tau R1 R2.
  const double two[4] = {0, 2000, 3000, 0};
  EXPECT_DOUBLE_EQ(accidental_rate({3, 0}, two, 2, 1e-6),
                   2 * 1e-6 * 2000 * 3000);
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
