#include "simulation/counter.h"

#include <algorithm>
#include <cmath>

namespace {

// Adds, for every partition of the layers in `rest` joined to the blocks
// already made, m tau^(m-1) prod rho over the blocks, into `sum`. Blocks
// are built as restricted growth: the lowest layer left opens a new block
// or joins one already open.
struct partitions {
  const double *rho; // [block]
  double window_s;
  double sum;
};

void add_partitions(partitions &p, std::uint32_t rest, std::uint32_t *blocks,
                    int open) {
  if (rest == 0) {
    if (open < 2) {
      return;
    }
    double product = open * std::pow(p.window_s, open - 1);
    for (int b = 0; b < open; ++b) {
      product *= p.rho[blocks[b]];
    }
    p.sum += product;
    return;
  }
  const std::uint32_t lowest = rest & (~rest + 1);
  for (int b = 0; b <= open; ++b) {
    blocks[b] |= lowest;
    add_partitions(p, rest & ~lowest, blocks, b == open ? open + 1 : open);
    blocks[b] &= ~lowest;
  }
}

} // namespace

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

double accidental_rate(const requirement &r, const double *events_hz,
                       int layers, double window_s) {
  const std::uint32_t all = (1U << layers) - 1;
  const int size = std::max(r.at_least, bits_in(r.needed));
  double sum = 0.0;
  for (std::uint32_t s = 1; s <= all; ++s) {
    if ((s & r.needed) != r.needed || bits_in(s) != size) {
      continue;
    }
    double rho[1U << 8] = {};
    for (std::uint32_t g = 1; g <= all; ++g) {
      if (!requirement_met(r, g)) {
        rho[g & s] += events_hz[g];
      }
    }
    partitions p{rho, window_s, 0.0};
    std::uint32_t blocks[8] = {};
    add_partitions(p, s, blocks, 0);
    sum += p.sum;
  }
  return sum;
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
