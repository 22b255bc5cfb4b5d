// Time per trial of the simulation beside the least its platform calls cost.
#include "simulation/additive_generator.h"
#include "simulation/coincidences.h"
#include "simulation/tilted.h"

#include <benchmark/benchmark.h>

#include <cmath>

namespace {

constexpr std::int32_t trials = 100000;

// Reports the time of one trial rather than of a whole batch.
void count_trials(benchmark::State &state) {
  state.counters["per_trial"] =
      benchmark::Counter(trials, benchmark::Counter::kIsIterationInvariantRate |
                                     benchmark::Counter::kInvert);
}

void simulation(benchmark::State &state, zenith_law law) {
  for (auto _ : state) { // NOLINT(clang-analyzer-deadcode.DeadStores)
    benchmark::DoNotOptimize(simulate_coincidences(10.0, trials, law));
  }
  count_trials(state);
}

// A whole efficiency curve, 0 to 100 cm in steps of 2, per track: the cost
// to set beside one run of `simulation` at a single distance.
void curve(benchmark::State &state, zenith_law law) {
  double distances[51];
  for (int k = 0; k < 51; ++k) {
    distances[k] = 2.0 * k;
  }
  std::int32_t coincidences[51] = {};
  for (auto _ : state) { // NOLINT(clang-analyzer-deadcode.DeadStores)
    simulate_curve(paddle_pair, law, 2.0, distances, 51, trials, coincidences);
    benchmark::DoNotOptimize(coincidences);
  }
  count_trials(state);
}

// A pass of velmora-curve under the cos^2 law, per muon, over
// state.range(1) distances from 0 cm in steps of 2, at a tilt of
// state.range(0) degrees: 0 is the horizontal pass, the one to set the
// tilted ones beside.
void pass(benchmark::State &state) {
  const auto tilt_deg = static_cast<double>(state.range(0));
  const auto count = static_cast<std::size_t>(state.range(1));
  double distances[51];
  std::int32_t coincidences[51] = {};
  for (std::size_t k = 0; k < count; ++k) {
    distances[k] = 2.0 * static_cast<double>(k) + (count == 1 ? 10.0 : 0.0);
  }
  std::mt19937_64 generator(1);
  for (auto _ : state) { // NOLINT(clang-analyzer-deadcode.DeadStores)
    if (tilt_deg == 0.0) {
      simulate_curve(paddle_pair, zenith_law::cos_squared, 2.0, distances,
                     count, trials, coincidences);
    } else {
      simulate_tilted_curve(paddle_pair, {tilt_deg, 0.0}, 2.0, generator,
                            distances, count, trials, coincidences);
    }
    benchmark::DoNotOptimize(coincidences);
  }
  count_trials(state);
}

// The floor: per trial only the calls that a trial must make (four values
// of the generator, pow for the cos^2 law, sqrt, sin and cos), their results
// summed. The arguments are scaled onto the ranges a trial gives them, since
// the cost of pow, sin and cos depends on their arguments.
void platform_floor(benchmark::State &state, zenith_law law) {
  constexpr double to_unit = 1.0 / 2147483647.0;
  constexpr double to_angle = 6.283185308 / 2147483647.0;
  additive_generator g = seeded_generator(1);
  for (auto _ : state) { // NOLINT(clang-analyzer-deadcode.DeadStores)
    double sum = 0.0;
    for (std::int32_t i = 0; i < trials; ++i) {
      const double a = next_value(g), b = next_value(g);
      double c = next_value(g) * to_unit;
      const double phi = next_value(g) * to_angle;
      if (law == zenith_law::cos_squared) {
        c = std::pow(c, 0.25);
      }
      sum += a + b + std::sqrt(c) + std::sin(phi) + std::cos(phi);
    }
    benchmark::DoNotOptimize(sum);
  }
  count_trials(state);
}

// The most a tilted pass may cost per muon: the narrowest sky accepted,
// N = 10, seen by a telescope lying on its side, keeps about one direction
// in nine.
void worst_tilted(benchmark::State &state) {
  double distance = 10.0;
  std::int32_t coincidences = 0;
  std::mt19937_64 generator(1);
  for (auto _ : state) { // NOLINT(clang-analyzer-deadcode.DeadStores)
    simulate_tilted_curve(paddle_pair, {90.0, 0.0}, 10.0, generator, &distance,
                          1, trials, &coincidences);
    benchmark::DoNotOptimize(coincidences);
  }
  count_trials(state);
}

BENCHMARK(worst_tilted);
BENCHMARK_CAPTURE(simulation, cos_squared, zenith_law::cos_squared);
BENCHMARK_CAPTURE(platform_floor, cos_squared, zenith_law::cos_squared);
BENCHMARK_CAPTURE(curve, cos_squared, zenith_law::cos_squared);
BENCHMARK_CAPTURE(simulation, isotropic, zenith_law::isotropic);
BENCHMARK_CAPTURE(platform_floor, isotropic, zenith_law::isotropic);
BENCHMARK_CAPTURE(curve, isotropic, zenith_law::isotropic);
BENCHMARK(pass)->ArgsProduct({{0, 1, 30, 60, 90}, {1, 51}});

} // namespace

BENCHMARK_MAIN();
