#include "programs/curve_run.h"
#include "programs/shortest_text.h"
#include "simulation/tilted.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

const char curve_header[] = "law,distance_cm,muons,coincidences,efficiency,"
                            "std_error,rate_per_minute,tilt_deg\n";

namespace {

// Landing tests per slice of a pass: a few milliseconds of work.
constexpr std::size_t tests_per_slice = std::size_t{1} << 22;

std::size_t pass_count(const curve_arguments &arguments) {
  return arguments.laws.size() * arguments.tilts_deg.size();
}

// The shortest text that reads back as the same double: the value that was
// simulated, and what to type into velmora to see the same count.
std::string shortest(double value) {
  char text[32];
  return {text, shortest_text(value, text)};
}

std::string law_name(zenith_law law, double exponent) {
  if (law == zenith_law::isotropic) {
    return "isotropic";
  }
  if (exponent == 2.0) {
    return "cos_squared";
  }
  return "cos^" + shortest(exponent);
}

void append_rows(const curve_run &run, zenith_law law, double tilt_deg,
                 std::string &csv) {
  const curve_arguments &arguments = run.arguments;
  const telescope &scope = arguments.scope;
  const double muons = arguments.muons;
  // The flux through the upper paddle, tilted or not, per cm^2 and minute.
  const double flux =
      arguments.flux * tilted_flux_share(tilt_deg, arguments.exponent);
  const double area = scope.top_width_cm * scope.top_length_cm;
  const std::string prefix = law_name(law, arguments.exponent) + ",";
  const std::string suffix = "," + shortest(tilt_deg) + "\n";
  for (std::size_t k = 0; k < run.coincidences.size(); ++k) {
    const double efficiency = run.coincidences[k] / muons;
    char row[160];
    std::snprintf(row, sizeof row, "%s,%d,%d,%.6f,%.4g,",
                  shortest(arguments.distances_cm[k]).c_str(), arguments.muons,
                  run.coincidences[k], efficiency,
                  std::sqrt(efficiency * (1.0 - efficiency) / muons));
    csv += prefix + row;
    // Only the flux law weights directions as a flux through a surface; an
    // isotropic efficiency says nothing about a rate.
    if (law == zenith_law::cos_squared) {
      std::snprintf(row, sizeof row, "%.6g", efficiency * flux * area);
      csv += row;
    }
    csv += suffix;
  }
}

} // namespace

curve_run start_curve_run(const curve_arguments &arguments) {
  curve_run run;
  run.arguments = arguments;
  run.pass = 0;
  run.done = 0;
  run.coincidences.assign(arguments.distances_cm.size(), 0);
  return run;
}

bool run_slice(curve_run &run, std::string &csv) {
  const curve_arguments &arguments = run.arguments;
  if (run.pass == pass_count(arguments)) {
    return false;
  }
  const zenith_law law = arguments.laws[run.pass / arguments.tilts_deg.size()];
  const double tilt_deg =
      arguments.tilts_deg[run.pass % arguments.tilts_deg.size()];
  const std::vector<double> &distances = arguments.distances_cm;
  // Every pass starts from the seed, as each program starts its generator:
  // this makes a horizontal pass count exactly what that law's program
  // counts, and every tilt see the same random numbers.
  if (run.done == 0) {
    seed_uniform(arguments.seed);
    run.tilted_generator.seed(arguments.seed);
  }
  const auto slice = static_cast<std::int32_t>(
      std::max<std::size_t>(1, tests_per_slice / distances.size()));
  const std::int32_t now = std::min(slice, arguments.muons - run.done);
  // The slices continue one stream of tracks, so the counts are those of a
  // single call.
  if (tilt_deg == 0.0) {
    simulate_curve(arguments.scope, law, arguments.exponent, distances.data(),
                   distances.size(), now, run.coincidences.data());
  } else {
    simulate_tilted_curve(
        arguments.scope, {tilt_deg, arguments.tilt_azimuth_deg},
        arguments.exponent, run.tilted_generator, distances.data(),
        distances.size(), now, run.coincidences.data());
  }
  run.done += now;
  if (run.done == arguments.muons) {
    append_rows(run, law, tilt_deg, csv);
    run.done = 0;
    std::fill(run.coincidences.begin(), run.coincidences.end(), 0);
    ++run.pass;
  }
  return true;
}

double share_done(const curve_run &run) {
  return (static_cast<double>(run.pass) * run.arguments.muons + run.done) /
         (static_cast<double>(pass_count(run.arguments)) * run.arguments.muons);
}
