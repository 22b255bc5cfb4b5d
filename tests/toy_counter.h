// A counter in time, written apart from the project's formulas: muons that
// cross given sets of layers arrive as Poisson streams, each layer fires
// with its probability when crossed, each layer has Poisson noise of its
// own, and every signal holds its layer's gate open for the window (a
// later signal in the same layer holds it again). The coincidence logic
// looks at the open gates: a coincidence is each moment it becomes true.
// One that a single event brings about alone is a muon's own; the others
// are the chance coincidences.
#pragma once

#include "simulation/counter.h"

#include <algorithm>
#include <cstdint>
#include <random>
#include <vector>

struct toy_counter {
  int layers;
  std::vector<double> crossing_hz; // muons crossing exactly each set
  std::vector<double> detection;   // per layer
  std::vector<double> noise_hz;    // per layer
};

struct toy_counts {
  double chance, own; // coincidences
  double seconds;
};

inline toy_counts run_toy_counter(const toy_counter &c, const requirement &r,
                                  double window_s, double seconds,
                                  std::uint64_t seed) {
  struct signal {
    double time;
    std::uint32_t fired;
  };
  std::mt19937_64 random(seed);
  std::uniform_real_distribution<double> uniform(0.0, 1.0);
  std::vector<signal> signals;
  signals.reserve(1 << 20);
  // Poisson arrivals of a stream of `rate` over the run.
  const auto arrivals = [&](double rate, auto &&each) {
    if (!(rate > 0.0)) {
      return;
    }
    std::exponential_distribution<double> gap(rate);
    // The arrival times grow by a drawn gap each: a running sum, not a
    // loop counter.
    double t = gap(random);
    while (t < seconds) {
      each(t);
      t += gap(random);
    }
  };
  for (std::uint32_t set = 1; set < c.crossing_hz.size(); ++set) {
    arrivals(c.crossing_hz[set], [&](double t) {
      std::uint32_t fired = 0;
      for (int i = 0; i < c.layers; ++i) {
        if ((set >> i & 1U) != 0 && uniform(random) < c.detection[i]) {
          fired |= 1U << i;
        }
      }
      if (fired != 0) {
        signals.push_back({t, fired});
      }
    });
  }
  for (int i = 0; i < c.layers; ++i) {
    arrivals(c.noise_hz[i], [&](double t) { signals.push_back({t, 1U << i}); });
  }
  std::sort(signals.begin(), signals.end(),
            [](const signal &a, const signal &b) { return a.time < b.time; });
  std::vector<double> last(static_cast<std::size_t>(c.layers), -1e300);
  toy_counts counts{0.0, 0.0, seconds};
  for (const signal &s : signals) {
    std::uint32_t open = 0;
    for (int i = 0; i < c.layers; ++i) {
      open |=
          s.time - last[static_cast<std::size_t>(i)] < window_s ? 1U << i : 0U;
    }
    if (!requirement_met(r, open) && requirement_met(r, open | s.fired)) {
      (requirement_met(r, s.fired) ? counts.own : counts.chance) += 1.0;
    }
    for (int i = 0; i < c.layers; ++i) {
      if ((s.fired >> i & 1U) != 0) {
        last[static_cast<std::size_t>(i)] = s.time;
      }
    }
  }
  return counts;
}

// The events of the toy's counter as the formula takes them: each layer's
// singles are the muons that cross it and fire it, and its noise.
inline std::vector<double> toy_events(const toy_counter &c) {
  std::vector<double> singles(static_cast<std::size_t>(c.layers));
  for (int i = 0; i < c.layers; ++i) {
    const auto k = static_cast<std::size_t>(i);
    for (std::uint32_t set = 1; set < c.crossing_hz.size(); ++set) {
      singles[k] +=
          (set >> i & 1U) != 0 ? c.crossing_hz[set] * c.detection[k] : 0.0;
    }
    singles[k] += c.noise_hz[k];
  }
  std::vector<double> events(c.crossing_hz.size());
  chance_events(c.crossing_hz.data(), singles.data(), c.detection.data(),
                c.layers, events.data());
  return events;
}
