// Time per trial of the simulation beside the least its platform calls cost,
// and per muon of a curve's pass beside a single run.
#include "simulation/additive_generator.h"
#include "simulation/coincidences.h"
#include "simulation/curve_pass.h"
#include "simulation/muon_spectrum.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <vector>

namespace {

constexpr std::int32_t trials = 100000;

// Reports the time of one trial rather than of a whole batch.
void count_trials(benchmark::State &state, std::int32_t per_iteration) {
  state.counters["per_trial"] = benchmark::Counter(
      per_iteration, benchmark::Counter::kIsIterationInvariantRate |
                         benchmark::Counter::kInvert);
}

void simulation(benchmark::State &state, zenith_law law) {
  for (auto _ : state) { // NOLINT(clang-analyzer-deadcode.DeadStores)
    benchmark::DoNotOptimize(simulate_coincidences(10.0, trials, law));
  }
  count_trials(state, trials);
}

// One pass of a curve, per muon: `count` distances from `from_cm` spread
// over 100 cm (one at 10 cm alone), through `scope` tilted by `tilt_deg`.
void pass(benchmark::State &state, const telescope &scope, double tilt_deg,
          const sky_model &sky, std::size_t count, double from_cm = 0.0) {
  std::vector<double> distances(count, 10.0);
  for (std::size_t k = 0; count > 1 && k < count; ++k) {
    distances[k] = from_cm + 100.0 * static_cast<double>(k) /
                                 static_cast<double>(count - 1);
  }
  const sky_sampler sampler = sampler_of(sky);
  const pass_setup setup{
      scope, zenith_law::cos_squared, &sampler, {tilt_deg, 0.0}, 0,
      1,     distances.data(),        count};
  std::vector<std::int32_t> tally(tally_size(scope, count));
  std::uint64_t block = 0;
  for (auto _ : state) { // NOLINT(clang-analyzer-deadcode.DeadStores)
    simulate_block(setup, block++, block_muons, tally.data());
    benchmark::DoNotOptimize(tally.data());
  }
  count_trials(state, block_muons);
}

// The programs' pair, state.range(0) degrees tilted, over state.range(1)
// distances: a curve's pass to set beside one run of `simulation`.
void curve(benchmark::State &state) {
  pass(state, paddle_pair, static_cast<double>(state.range(0)), cos_sky(2.0),
       static_cast<std::size_t>(state.range(1)));
}

// The most a pass may cost per muon: the narrowest sky accepted, N = 10,
// seen by a telescope lying on its side, keeps about one direction in nine.
void worst_tilted(benchmark::State &state) {
  pass(state, paddle_pair, 90.0, cos_sky(10.0), 1);
}

// A stack of state.range(0) layers of 10 cm x 31 cm, 1 cm thick when
// state.range(1) is 1, the middle ones 2 cm apart, at 51 distances from
// 2 (state.range(0) - 1) cm on; beside the thin pair of the same settings.
void stack(benchmark::State &state) {
  const auto layers = static_cast<int>(state.range(0));
  const double thickness = static_cast<double>(state.range(1));
  const layer box{10, 31, thickness, 0, 0, 0};
  telescope scope = paddle_telescope(box, box, 0, 0);
  scope.count = layers;
  for (int i = 1; i < layers; ++i) {
    scope.layers[i] = box;
    scope.layers[i].depth_cm = 2.0 * i - 1.0;
  }
  // Below the deepest layer between the paddles, which reaches 2 layers - 4.
  pass(state, scope, 0.0, cos_sky(2.0), 51, 2.0 * (layers - 1));
}

// A stack of four 20 cm x 20 cm x 1 cm layers 4 cm apart at 51 distances,
// tilted 30 degrees, under the cos^2 sky (state.range(0) 0), the spectrum
// (1), and the spectrum with 30 cm of concrete above and 3 cm of lead
// between layers 3 and 4 (2): what energies and matter cost a muon.
void sky_cost(benchmark::State &state) {
  const layer box{20, 20, 1, 0, 0, 0};
  telescope scope = paddle_telescope(box, box, 0, 0);
  scope.count = 4;
  scope.layers[1] = {20, 20, 1, 0, 0, 4};
  scope.layers[2] = {20, 20, 1, 0, 0, 9};
  sky_model sky = cos_sky(2.0);
  if (state.range(0) > 0) {
    sky.law = sky_law::spectrum;
    sky.exponent = paper_index;
  }
  if (state.range(0) > 1) {
    sky.overburden_count = 1;
    sky.overburden[0] = {material::shielding_concrete, 69.0};
    scope.absorber_count = 1;
    scope.absorbers[0] = {material::lead, {20, 20, 3, 0, 0, 10.5}};
  }
  pass(state, scope, 30.0, sky, 51, 14.0);
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
  count_trials(state, trials);
}

// The jump that starts each block of the programs' trial in its place.
void jump(benchmark::State &state) {
  additive_generator g = seeded_generator(1);
  for (auto _ : state) { // NOLINT(clang-analyzer-deadcode.DeadStores)
    jump_generator(g, 4 * static_cast<std::uint64_t>(block_muons) * 1000);
    benchmark::DoNotOptimize(g);
  }
}

BENCHMARK_CAPTURE(simulation, cos_squared, zenith_law::cos_squared);
BENCHMARK_CAPTURE(platform_floor, cos_squared, zenith_law::cos_squared);
BENCHMARK_CAPTURE(simulation, isotropic, zenith_law::isotropic);
BENCHMARK_CAPTURE(platform_floor, isotropic, zenith_law::isotropic);
BENCHMARK(curve)->ArgsProduct({{0, 30, 60, 90}, {1, 51, 1001}});
BENCHMARK(worst_tilted);
BENCHMARK(stack)->ArgsProduct({{2, 3, 4, 8}, {0, 1}});
BENCHMARK(sky_cost)->DenseRange(0, 2);
BENCHMARK(jump);

} // namespace

BENCHMARK_MAIN();
