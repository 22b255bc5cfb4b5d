// The cost of the physical sky's parts per call: a range looked up, as a
// `spectrum` pass does per slab a muon crosses, and an intensity above a
// threshold worked out, as the sky's tables are made of.
#include "simulation/muon_range.h"
#include "simulation/muon_spectrum.h"

#include <benchmark/benchmark.h>

namespace {

// Thresholds from 0.2 to 200 GeV, as slabs of a few cm to metres give.
void intensity(benchmark::State &state) {
  double threshold = 0.2;
  for (auto _ : state) { // NOLINT(clang-analyzer-deadcode.DeadStores)
    benchmark::DoNotOptimize(intensity_above(threshold, 0.7));
    threshold = threshold < 200.0 ? threshold * 1.01 : 0.2;
  }
}

void range(benchmark::State &state) {
  double thickness = 1.0;
  for (auto _ : state) { // NOLINT(clang-analyzer-deadcode.DeadStores)
    benchmark::DoNotOptimize(
        kinetic_energy_to_cross_gev(material::lead, thickness));
    thickness = thickness < 1e4 ? thickness * 1.01 : 1.0;
  }
}

} // namespace

BENCHMARK(intensity);
BENCHMARK(range);
BENCHMARK_MAIN();
