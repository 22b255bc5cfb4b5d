// The exact integral's cost for a curve of 51 distances, 2 cm apart: under
// cos^2 beside the muon spectrum, in the open and behind 30 cm of concrete,
// upright and tilted, and a stack with lead between its layers. The
// spectrum's weights are made at a curve's first distance and kept for the
// rest (velmora-curve makes them once a run): the figures are of a curve
// after the first.
#include "integral/exact_rates.h"
#include "simulation/sky.h"

#include <benchmark/benchmark.h>

namespace {

sky_model spectrum(double concrete_g_cm2) {
  sky_model sky;
  sky.law = sky_law::spectrum;
  sky.exponent = 3.01;
  sky.overburden_count = concrete_g_cm2 > 0.0 ? 1 : 0;
  sky.overburden[0] = {material::shielding_concrete, concrete_g_cm2};
  return sky;
}

// Three 10 x 31 cm layers, the middle one 7 cm down, 5 cm of lead above it
// and 20 cm below it, across the stack.
telescope leaded_stack() {
  telescope scope = paddle_pair;
  scope.count = 3;
  scope.layers[2] = scope.layers[1];
  scope.layers[1] = {10, 31, 0, 0, 0, 7};
  const double across = absorber_across_cm;
  scope.absorber_count = 2;
  scope.absorbers[0] = {material::lead,
                        {2 * across, 2 * across, 5, -across, -across, 1}};
  scope.absorbers[1] = {material::lead,
                        {2 * across, 2 * across, 20, -across, -across, 8}};
  return scope;
}

void curve(benchmark::State &state, const telescope &scope,
           const sky_model &sky, double tilt_deg, double from_cm) {
  for (auto _ : state) { // NOLINT(clang-analyzer-deadcode.DeadStores)
    for (int k = 0; k <= 50; ++k) {
      benchmark::DoNotOptimize(exact_crossings(scope, from_cm + 2.0 * k,
                                               {tilt_deg, 0.0}, sky,
                                               zenith_law::cos_squared));
    }
  }
}

BENCHMARK_CAPTURE(curve, cos_squared, paddle_pair, cos_sky(2), 0.0, 0.0)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(curve, spectrum, paddle_pair, spectrum(0), 0.0, 0.0)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(curve, spectrum_tilted_30, paddle_pair, spectrum(0), 30.0,
                  0.0)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(curve, spectrum_concrete, paddle_pair, spectrum(69), 0.0, 0.0)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(curve, spectrum_concrete_tilted_30, paddle_pair, spectrum(69),
                  30.0, 0.0)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(curve, spectrum_concrete_lead_stack, leaded_stack(),
                  spectrum(69), 0.0, 30.0)
    ->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
