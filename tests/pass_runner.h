// Runs one pass of a curve, every block of it, for the tests.
#pragma once

#include "simulation/curve_pass.h"

#include <algorithm>
#include <cstdint>
#include <vector>

// For each distance of `distances` (in any order), the muons drawn through
// layer `source` that cross exactly each set of layers (bit i for layer
// i + 1), counted as velmora-curve counts them; the muons that touch a
// layer above the source are in no set.
inline std::vector<std::vector<std::int64_t>>
run_pass(const telescope &scope, zenith_law law, const sky_model &model,
         const tilt &lean, int source, const std::vector<double> &distances,
         std::int32_t muons, std::uint32_t seed = 1) {
  std::vector<double> sorted = distances;
  std::sort(sorted.begin(), sorted.end());
  const sky_sampler sky = sampler_of(model);
  const pass_setup pass{scope,  law,  &sky,          lean,
                        source, seed, sorted.data(), sorted.size()};
  std::vector<std::int32_t> tally(tally_size(scope, sorted.size()));
  for (std::int32_t block = 0, left = muons; left > 0;
       ++block, left -= block_muons) {
    simulate_block(pass, static_cast<std::uint64_t>(block),
                   std::min(left, block_muons), tally.data());
  }
  const pass_counts c = finish_tally(scope, sorted.size(), tally.data());
  const std::size_t bottom = std::size_t{1} << bottom_of(scope);
  std::vector<std::vector<std::int64_t>> sets;
  for (const double d : distances) {
    const auto u = static_cast<std::size_t>(
        std::lower_bound(sorted.begin(), sorted.end(), d) - sorted.begin());
    std::vector<std::int64_t> at(bottom * 2);
    for (int m = 0; m < c.pattern_count; ++m) {
      const std::int32_t crossing = c.crossing[m * sorted.size() + u];
      at[static_cast<std::size_t>(m) | bottom] += crossing;
      at[static_cast<std::size_t>(m)] += c.tracks[m] - crossing;
    }
    sets.push_back(at);
  }
  return sets;
}

// The same under the cos^N sky of `exponent`.
inline std::vector<std::vector<std::int64_t>>
run_pass(const telescope &scope, zenith_law law, double exponent,
         const tilt &lean, int source, const std::vector<double> &distances,
         std::int32_t muons, std::uint32_t seed = 1) {
  return run_pass(scope, law, cos_sky(exponent), lean, source, distances, muons,
                  seed);
}
