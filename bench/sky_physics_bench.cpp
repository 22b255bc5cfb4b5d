// The cost of the physical sky's parts per call: what a `spectrum` pass adds
// per muon (an energy drawn, a range looked up) and what an exact curve adds
// per direction (an intensity above a threshold).
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

void sample(benchmark::State &state) {
  double uniform = 0.0;
  for (auto _ : state) { // NOLINT(clang-analyzer-deadcode.DeadStores)
    benchmark::DoNotOptimize(sample_energy_gev(uniform, muon_mass_gev));
    uniform += 0.6180339887498949;
    uniform -= uniform >= 1.0 ? 1.0 : 0.0;
  }
}

void sample_fast(benchmark::State &state) {
  const energy_sampler sampler = energy_sampler_above(muon_mass_gev);
  double uniform = 0.0;
  for (auto _ : state) { // NOLINT(clang-analyzer-deadcode.DeadStores)
    benchmark::DoNotOptimize(sample_energy_gev(sampler, uniform));
    uniform += 0.6180339887498949;
    uniform -= uniform >= 1.0 ? 1.0 : 0.0;
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
BENCHMARK(sample);
BENCHMARK(sample_fast);
BENCHMARK(range);
BENCHMARK_MAIN();
