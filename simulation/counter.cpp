#include "simulation/counter.h"
#include "simulation/telescope.h"

#include <algorithm>
#include <cmath>

bool requirement_met(const requirement &r, std::uint32_t fired) {
  return (fired & r.needed) == r.needed && bits_in(fired) >= r.at_least;
}

double fires_exactly(std::uint32_t fired, std::uint32_t crossed,
                     const double *detection, int layers) {
  if ((fired & ~crossed) != 0) {
    return 0.0;
  }
  double p = 1.0;
  for (int i = 0; i < layers; ++i) {
    if ((crossed >> i & 1U) != 0) {
      p *= (fired >> i & 1U) != 0 ? detection[i] : 1.0 - detection[i];
    }
  }
  return p;
}

double detected_share(const requirement &r, std::uint32_t crossed,
                      const double *detection, int layers) {
  double share = 0.0;
  // Every subset of the crossed layers, the empty one last.
  for (std::uint32_t fired = crossed;; fired = (fired - 1) & crossed) {
    if (requirement_met(r, fired)) {
      share += fires_exactly(fired, crossed, detection, layers);
    }
    if (fired == 0) {
      break;
    }
  }
  return share;
}

void chance_events(const double *crossing_hz, const double *singles_hz,
                   const double *detection, int layers, double *events_hz) {
  const std::size_t sets = std::size_t{1} << layers;
  std::fill(events_hz, events_hz + sets, 0.0);
  for (std::size_t set = 3; set < sets; ++set) {
    if ((set & (set - 1)) == 0 || !(crossing_hz[set] > 0.0)) {
      continue; // one layer's muons are in its singles
    }
    for (std::size_t fired = 3; fired < sets; ++fired) {
      if ((fired & (fired - 1)) != 0) {
        events_hz[fired] +=
            crossing_hz[set] * fires_exactly(static_cast<std::uint32_t>(fired),
                                             static_cast<std::uint32_t>(set),
                                             detection, layers);
      }
    }
  }
  for (int i = 0; i < layers; ++i) {
    double alone = singles_hz[i];
    for (std::size_t fired = 3; fired < sets; ++fired) {
      if ((fired & (fired - 1)) != 0 && (fired >> i & 1U) != 0) {
        alone -= events_hz[fired];
      }
    }
    events_hz[std::size_t{1} << i] = std::max(0.0, alone);
  }
}

double accidental_rate(const requirement &r, const double *events_hz,
                       int layers, double window_s) {
  const std::size_t sets = std::size_t{1} << layers;
  // open[W]: the probability that the signals of the last tau fire exactly
  // the layers W, each kind of event having had one with probability
  // 1 - exp(-rate tau), independently: the union of independent random
  // sets, built up a kind at a time. Every term is positive, so even the
  // tiny probabilities of many overlaps keep their digits.
  std::vector<double> open(sets, 0.0), next(sets);
  open[0] = 1.0;
  for (std::size_t kind = 1; kind < sets; ++kind) {
    if (!(events_hz[kind] > 0.0)) {
      continue;
    }
    const double seen = -std::expm1(-events_hz[kind] * window_s);
    std::fill(next.begin(), next.end(), 0.0);
    for (std::size_t w = 0; w < sets; ++w) {
      next[w] += open[w] * (1.0 - seen);
      next[w | kind] += open[w] * seen;
    }
    open.swap(next);
  }
  // An event that does not meet r alone, arriving while the open layers do
  // not meet it but do with its own.
  double rate = 0.0;
  for (std::size_t kind = 1; kind < sets; ++kind) {
    const auto fired = static_cast<std::uint32_t>(kind);
    if (!(events_hz[kind] > 0.0) || requirement_met(r, fired)) {
      continue;
    }
    double closing = 0.0;
    for (std::size_t w = 0; w < sets; ++w) {
      const auto before = static_cast<std::uint32_t>(w);
      if (!requirement_met(r, before) && requirement_met(r, before | fired)) {
        closing += open[w];
      }
    }
    rate += events_hz[kind] * closing;
  }
  return rate;
}

double counting_time(double rate_hz, double accidental_hz, double precision) {
  return (rate_hz + accidental_hz) /
         (precision * precision * rate_hz * rate_hz);
}

std::vector<int> source_layers(int count, const std::vector<requirement> &rules,
                               bool accidentals) {
  std::vector<int> sources = {0};
  const std::uint32_t all = (1U << count) - 1;
  for (int j = 1; j < count - 1; ++j) {
    const std::uint32_t below = all & ~((1U << j) - 1);
    bool needed = accidentals;
    for (const requirement &rule : rules) {
      needed = needed || requirement_met(rule, below);
    }
    if (needed) {
      sources.push_back(j);
    }
  }
  return sources;
}
