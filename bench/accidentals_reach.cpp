// How far the chance coincidences' formula holds: a counter simulated in
// time against it, as the window grows to a fifth of the mean time between
// signals.
//   build/release/bench/accidentals_reach
#include "../tests/toy_counter.h"

#include <cmath>
#include <cstdio>
#include <vector>

int main() {
  struct study {
    const char *name;
    toy_counter counter;
    requirement rule;
  };
  std::vector<double> apart(16);
  apart[3] = apart[12] = 400;
  apart[6] = 100;
  apart[15] = 50;
  const study studies[] = {
      {"2 layers, noise, all", {2, {0, 0, 0, 5}, {1, 1}, {1500, 2500}}, {3, 0}},
      {"3 layers, muon pairs 1+2 and 2+3, all",
       {3, {0, 300, 100, 200, 300, 0, 200, 400}, {1, 1, 1}, {0, 0, 0}},
       {7, 0}},
      {"4 layers, pairs 1+2 and 3+4, 3 of 4",
       {4, apart, {1, 1, 1, 1}, {50, 50, 50, 50}},
       {0, 3}},
  };
  std::printf("%-40s %6s %10s %10s %20s %8s %8s\n", "counter", "tau*R",
              "first/s", "formula/s", "toy/s", "toy/first", "toy/formula");
  for (const study &s : studies) {
    double total = 0;
    for (const double r : s.counter.crossing_hz) {
      total += r;
    }
    for (const double r : s.counter.noise_hz) {
      total += r;
    }
    const std::vector<double> events = toy_events(s.counter);
    // The first order in the window: pairs of events, whose rate grows as
    // tau (these counters have no chance coincidence of fewer events).
    const double tiny = 1e-9 / total;
    const double per_window =
        accidental_rate(s.rule, events.data(), s.counter.layers, tiny) / tiny;
    for (const double reach : {0.001, 0.01, 0.05, 0.2}) {
      const double window = reach / total;
      const double formula =
          accidental_rate(s.rule, events.data(), s.counter.layers, window);
      // Some 20000 chance coincidences.
      const double seconds = 20000 / formula;
      const toy_counts toy =
          run_toy_counter(s.counter, s.rule, window, seconds, 3);
      const double rate = toy.chance / seconds;
      std::printf("%-40s %6.3f %10.4g %10.4g %10.4g +- %-6.2g %8.3f %8.3f\n",
                  s.name, reach, per_window * window, formula, rate,
                  std::sqrt(toy.chance) / seconds, rate / (per_window * window),
                  rate / formula);
    }
  }
  return 0;
}
