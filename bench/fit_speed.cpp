// The fit's cost against the rows of a lab's log and against its distinct
// settings: rows that repeat a setting (hourly counts at a few tilts)
// share its model, so the cost follows the settings.
//   build/release/bench/fit_speed
#include "programs/fit_run.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

namespace {

// `rows` hourly counts at `settings` tilts from 0 to 89.1 degrees, of a
// 10 x 31 cm pair 10 cm apart.
std::string lab_log(int rows, int settings) {
  std::string csv = "tilt_deg,distance_cm,coincidences,live_time_s\n";
  for (int i = 0; i < rows; ++i) {
    const double tilt = 89.1 * (i % settings) / settings;
    const double per_minute =
        150 * std::pow(std::cos(tilt * 3.14159265358979 / 180), 2) + 10;
    char row[96];
    std::snprintf(row, sizeof row, "%.4g,10,%d,3600\n", tilt,
                  static_cast<int>(per_minute * 60));
    csv += row;
  }
  return csv;
}

void fit_of_a_log(benchmark::State &state) {
  const std::string csv = lab_log(static_cast<int>(state.range(0)),
                                  static_cast<int>(state.range(1)));
  std::vector<std::string> words = {"velmora-fit"};
  std::vector<char *> argv = {words[0].data(), nullptr};
  const fit_command command = read_fit_command(1, argv.data());
  for (auto _ : state) { // NOLINT(clang-analyzer-deadcode.DeadStores)
    std::istringstream in(csv);
    fit_run run;
    start_fit(command, in, "log", run);
    for (fit_step step = fit_step::draw_again; step == fit_step::draw_again;) {
      for (std::size_t g = 0; g < models_to_work_out(run); ++g) {
        model_setting_of(run, g);
      }
      step = fit_models(run);
    }
    benchmark::DoNotOptimize(run.result.flux);
  }
  state.counters["rows"] = static_cast<double>(state.range(0));
  state.counters["settings"] = static_cast<double>(state.range(1));
}

} // namespace

// Rows grow at 91 settings; settings grow at 10^4 rows.
BENCHMARK(fit_of_a_log)
    ->Args({100, 91})
    ->Args({1000, 91})
    ->Args({10000, 91})
    ->Args({10000, 10})
    ->Args({10000, 100})
    ->Unit(benchmark::kSecond)
    ->Iterations(1);

BENCHMARK_MAIN();
