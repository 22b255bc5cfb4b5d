#include "programs/curve_run.h"
#include "integral/exact_rates.h"
#include "programs/sky_readers.h"
#include "simulation/curve_pass.h"
#include "simulation/matter.h"
#include "text/shortest_text.h"

#include <boost/math/distributions/binomial.hpp>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <numeric>

const char curve_header[] =
    "law,distance_cm,muons,coincidences,efficiency,std_error,rate_per_minute,"
    "tilt_deg,efficiency_low,efficiency_high,require,rate_detected_per_minute,"
    "accidentals_per_minute,counting_time_s,singles_per_minute_1,"
    "singles_per_minute_2,singles_per_minute_3,singles_per_minute_4,"
    "singles_per_minute_5,singles_per_minute_6,singles_per_minute_7,"
    "singles_per_minute_8,flux_per_cm2_min,tilt_azimuth_deg,telescope,"
    "detection,noise_hz,min_path_cm,window_ns,method,rate_error_per_minute,"
    "sky,threshold_gev,soft_per_minute\n";

namespace {

constexpr double seconds_per_minute = 60.0;

std::string law_name(zenith_law law, const sky_model &sky) {
  if (law == zenith_law::isotropic) {
    return "isotropic";
  }
  if (sky.law == sky_law::spectrum) {
    return "spectrum";
  }
  const double exponent = sky.exponent;
  if (exponent == 2.0) {
    return "cos_squared";
  }
  return "cos^" + shortest(exponent);
}

// The layers the muons of `law` are drawn through.
std::vector<int> sources_of(const curve_arguments &a, zenith_law law) {
  if (law == zenith_law::isotropic) {
    return {0}; // no flux to add passes up with
  }
  std::vector<requirement> rules;
  for (const curve_requirement &q : a.requirements) {
    rules.push_back(q.rule);
  }
  return source_layers(a.scope.count, rules, !std::isnan(a.window_ns));
}

// The deepest layer a requirement asks for: of `needed`, the deepest; of K
// layers, the K-th from the top, the least deep set's last.
int last_required(const requirement &rule) {
  int last = rule.at_least - 1;
  for (int i = 0; i < layers_max; ++i) {
    last = (rule.needed >> i & 1U) != 0 ? std::max(last, i) : last;
  }
  return last;
}

// The numbers joined by ';', one per layer.
std::string per_layer(const double *values, int count) {
  std::string text;
  for (int i = 0; i < count; ++i) {
    text += (i == 0 ? "" : ";") + shortest(values[i]);
  }
  return text;
}

// A 68% Clopper-Pearson interval for k of n: central, 16% beyond each end,
// except where k is 0 or n and the interval can only reach out on one side,
// which then holds all of the 32%.
void efficiency_interval(std::int64_t k, std::int64_t n, double &low,
                         double &high) {
  using binomial = boost::math::binomial_distribution<double>;
  const auto trials = static_cast<double>(n);
  const auto successes = static_cast<double>(k);
  const double tail = k == 0 || k == n ? 0.32 : 0.16;
  low = k == 0 ? 0.0 : binomial::find_lower_bound_on_p(trials, successes, tail);
  high =
      k == n ? 1.0 : binomial::find_upper_bound_on_p(trials, successes, tail);
}

} // namespace

curve_plan plan_curve(const curve_arguments &arguments) {
  curve_plan plan;
  plan.arguments = arguments;
  const std::vector<double> &distances = arguments.distances_cm;
  std::vector<std::size_t> order(distances.size());
  std::iota(order.begin(), order.end(), std::size_t{0});
  std::stable_sort(order.begin(), order.end(),
                   [&](std::size_t a, std::size_t b) {
                     return distances[a] < distances[b];
                   });
  plan.position.resize(distances.size());
  for (std::size_t k = 0; k < order.size(); ++k) {
    plan.sorted.push_back(distances[order[k]]);
    plan.position[order[k]] = k;
  }
  plan.groups = 0;
  for (const zenith_law law : arguments.laws) {
    for (const double tilt_deg : arguments.tilts_deg) {
      plan.group_list.push_back({law, tilt_deg});
      // The integral needs no muons.
      for (const int source : arguments.method == curve_method::monte_carlo
                                  ? sources_of(arguments, law)
                                  : std::vector<int>{}) {
        plan.passes.push_back({law, tilt_deg, source, plan.groups});
      }
      ++plan.groups;
    }
  }
  plan.blocks_per_pass =
      (static_cast<std::uint64_t>(arguments.muons) + block_muons - 1) /
      block_muons;
  plan.tally_size = tally_size(arguments.scope, distances.size());
  // Only the passes draw muons: the integral needs none of the spectrum's
  // tables, whose making costs more than its rows.
  if (!plan.passes.empty()) {
    plan.sampler = sampler_of(arguments.sky);
  }
  return plan;
}

std::uint64_t block_count(const curve_plan &plan) {
  return plan.passes.size() * plan.blocks_per_pass;
}

std::int32_t muons_in_block(const curve_plan &plan, std::uint64_t block) {
  const std::uint64_t first =
      block % plan.blocks_per_pass * static_cast<std::uint64_t>(block_muons);
  return static_cast<std::int32_t>(std::min<std::uint64_t>(
      block_muons, static_cast<std::uint64_t>(plan.arguments.muons) - first));
}

std::size_t group_of_block(const curve_plan &plan, std::uint64_t block) {
  return plan.passes[block / plan.blocks_per_pass].group;
}

std::uint64_t first_block_of_group(const curve_plan &plan, std::size_t group) {
  std::uint64_t pass = 0;
  while (pass < plan.passes.size() && plan.passes[pass].group < group) {
    ++pass;
  }
  return pass * plan.blocks_per_pass;
}

std::uint64_t blocks_of_group(const curve_plan &plan, std::size_t group) {
  std::uint64_t passes = 0;
  for (const curve_pass &p : plan.passes) {
    passes += p.group == group ? 1 : 0;
  }
  return passes * plan.blocks_per_pass;
}

void run_block(const curve_plan &plan, std::uint64_t block,
               std::int32_t *tallies) {
  const std::uint64_t index = block / plan.blocks_per_pass;
  const curve_pass &p = plan.passes[index];
  const curve_arguments &a = plan.arguments;
  const pass_setup setup{
      a.scope,  p.law,  &plan.sampler,      {p.tilt_deg, a.tilt_azimuth_deg},
      p.source, a.seed, plan.sorted.data(), plan.sorted.size()};
  simulate_block(setup, block % plan.blocks_per_pass,
                 muons_in_block(plan, block),
                 tallies + index * plan.tally_size);
}

namespace {

// What one row is computed from: for each set of layers (bit i for layer
// i + 1), how many of the muons drawn in each pass cross exactly those (the
// Monte Carlo only; the first pass's are drawn through the top), and at
// what rate per minute lines that cross exactly those come, from every
// pass; under the isotropic law, as a share of the tracks through the top.
struct crossings {
  std::vector<std::vector<std::int64_t>> by_pass; // [pass][set]
  std::vector<double> per_minute;
  // The integral's rates per unit of flux (shares, isotropic): its
  // efficiency, whatever the flux, even 0.
  std::vector<double> per_unit;
};

} // namespace

std::string group_rows(const curve_plan &plan, std::size_t group,
                       std::int32_t *tallies, const std::atomic<bool> *stop) {
  const curve_arguments &a = plan.arguments;
  const telescope &scope = a.scope;
  const int count = scope.count;
  const int bottom = bottom_of(scope);
  const std::size_t sets = std::size_t{1} << count;
  const auto muons = static_cast<double>(a.muons);
  const zenith_law law = plan.group_list[group].law;
  const double tilt_deg = plan.group_list[group].tilt_deg;
  const tilt lean{tilt_deg, a.tilt_azimuth_deg};
  const bool rates = law == zenith_law::cos_squared;
  const bool integral = a.method == curve_method::integral;
  // This group's passes, their counts, and what each muon drawn through
  // its layer stands for, in muons per minute.
  std::vector<pass_counts> counts;
  std::vector<double> weight;
  for (std::size_t i = 0; i < plan.passes.size(); ++i) {
    const curve_pass &p = plan.passes[i];
    if (p.group == group) {
      counts.push_back(finish_tally(scope, plan.sorted.size(),
                                    tallies + i * plan.tally_size));
      weight.push_back(
          a.flux * box_flux_area(scope.layers[p.source], lean, a.sky) / muons);
    }
  }
  // Each layer's singles: the muons through its box that fire it (those
  // whose chord is the least path or more) that it sees, and its own noise;
  // and the muons through the top's box.
  std::string singles;
  double singles_hz[layers_max] = {};
  for (int i = 0; i < layers_max; ++i) {
    if (rates && i < count) {
      const double per_minute =
          a.flux *
              box_firing_area(scope.layers[i], lean, a.sky, scope.min_path_cm) *
              a.detection[i] +
          seconds_per_minute * a.noise_hz[i];
      singles_hz[i] = per_minute / seconds_per_minute;
      singles += formatted("%.6g", per_minute);
    }
    singles += ",";
  }
  const double top_per_unit = box_flux_area(scope.layers[0], lean, a.sky);
  // Which telescope and sky the rows are for, and how they were computed.
  const std::string described =
      (!rates                           ? std::string()
       : a.sky.law == sky_law::spectrum ? formatted("%.6g", a.flux)
                                        : shortest(a.flux)) +
      "," + shortest(a.tilt_azimuth_deg) + "," + telescope_text(scope) + "," +
      per_layer(a.detection, count) + "," + per_layer(a.noise_hz, count) + "," +
      shortest(scope.min_path_cm) + "," +
      (std::isnan(a.window_ns) ? std::string() : shortest(a.window_ns)) +
      (integral ? ",integral," : ",mc,");
  const std::string prefix = law_name(law, a.sky) + ",";
  const std::string tilt_text = "," + shortest(tilt_deg) + ",";
  // An exact number is written to ten digits, a counted one to six.
  const char *const rate_format = integral ? "%.10g" : "%.6g";

  // The crossings at each distance, once for all requirements.
  std::vector<crossings> at(
      a.distances_cm.size(),
      {std::vector<std::vector<std::int64_t>>(counts.size(),
                                              std::vector<std::int64_t>(sets)),
       std::vector<double>(sets),
       {}});
  for (std::size_t k = 0; k < a.distances_cm.size(); ++k) {
    crossings &c = at[k];
    if (integral) {
      if (stop != nullptr && *stop) {
        return "";
      }
      const std::vector<double> exact =
          exact_crossings(scope, a.distances_cm[k], lean, a.sky, law);
      for (std::size_t set = 0; set < sets; ++set) {
        c.per_minute[set] = rates ? a.flux * exact[set] : exact[set];
      }
      c.per_unit = exact;
      continue;
    }
    const std::size_t u = plan.position[k];
    for (std::size_t j = 0; j < counts.size(); ++j) {
      const pass_counts &pc = counts[j];
      for (int m = 0; m < pc.pattern_count; ++m) {
        const auto pattern = static_cast<std::size_t>(m);
        const std::int64_t crossing = pc.crossing[pattern * pc.count + u];
        const std::int64_t missing = pc.tracks[m] - crossing;
        const std::size_t with = pattern | std::size_t{1} << bottom;
        c.by_pass[j][with] += crossing;
        c.by_pass[j][pattern] += missing;
        c.per_minute[with] += weight[j] * static_cast<double>(crossing);
        c.per_minute[pattern] += weight[j] * static_cast<double>(missing);
      }
    }
  }

  std::string csv;
  std::vector<double> events_hz(sets), crossing_hz(sets);
  for (const curve_requirement &q : a.requirements) {
    for (std::size_t k = 0; k < a.distances_cm.size(); ++k) {
      const crossings &c = at[k];
      // Each pass's muons that meet the requirement: the first pass's are
      // the coincidences of the muons through the top.
      std::vector<std::int64_t> meeting(c.by_pass.size());
      double rate = 0.0, through = 0.0, detected = 0.0;
      for (std::size_t set = 0; set < sets; ++set) {
        const auto layers = static_cast<std::uint32_t>(set);
        if (requirement_met(q.rule, layers)) {
          for (std::size_t j = 0; j < c.by_pass.size(); ++j) {
            meeting[j] += c.by_pass[j][set];
          }
          rate += c.per_minute[set];
          through += (layers & 1U) != 0 && integral ? c.per_unit[set] : 0.0;
        }
        detected += c.per_minute[set] *
                    detected_share(q.rule, layers, a.detection, count);
      }
      std::int64_t coincidences = 0;
      std::string row = prefix + shortest(a.distances_cm[k]) + ",";
      if (integral) {
        // The share of the muons through the top that meet the
        // requirement; no muons were counted.
        const double efficiency = rates ? through / top_per_unit : through;
        row += ",," + formatted("%.10g", efficiency) + ",,";
      } else {
        coincidences = meeting[0];
        const double efficiency = static_cast<double>(coincidences) / muons;
        char counted[128];
        std::snprintf(counted, sizeof counted, "%d,%lld,%.6f,%.4g,", a.muons,
                      static_cast<long long>(coincidences), efficiency,
                      std::sqrt(efficiency * (1.0 - efficiency) / muons));
        row += counted;
      }
      // Only the flux law weights directions as a flux through a surface;
      // an efficiency of the isotropic law says nothing about a rate.
      row += rates ? formatted(rate_format, rate) : std::string();
      row += tilt_text;
      if (!integral) {
        double low = 0.0, high = 0.0;
        efficiency_interval(coincidences, a.muons, low, high);
        // Decimals enough to show the interval's width to three digits:
        // all ten million muons counted give 0.999999886, not 1.
        const int decimals = std::clamp(
            2 - static_cast<int>(std::floor(std::log10(high - low))), 0, 15);
        char ends[96];
        std::snprintf(ends, sizeof ends, "%.*f,%.*f", decimals, low, decimals,
                      high);
        row += ends;
      } else {
        row += ",";
      }
      row += "," + q.text + ",";
      if (rates) {
        row += formatted(rate_format, detected) + ",";
        double accidental_hz = 0.0;
        if (!std::isnan(a.window_ns)) {
          for (std::size_t set = 0; set < sets; ++set) {
            crossing_hz[set] = c.per_minute[set] / seconds_per_minute;
          }
          chance_events(crossing_hz.data(), singles_hz, a.detection, count,
                        events_hz.data());
          accidental_hz = accidental_rate(q.rule, events_hz.data(), count,
                                          a.window_ns * 1e-9);
          row += formatted("%.6g", accidental_hz * seconds_per_minute);
        }
        row += ",";
        // No time measures a rate of nothing.
        if (!std::isnan(a.precision) && detected > 0.0) {
          row += formatted("%.6g", counting_time(detected / seconds_per_minute,
                                                 accidental_hz, a.precision));
        }
      } else {
        row += ",,"; // no rate, no accidentals, no counting time
      }
      csv += row;
      csv += ',';
      csv += singles;
      csv += described;
      // The Monte Carlo's standard error of the rate: each pass's count of
      // muons meeting the requirement is binomial, and the passes are
      // independent.
      if (rates && !integral) {
        double variance = 0.0;
        for (std::size_t j = 0; j < meeting.size(); ++j) {
          const auto met = static_cast<double>(meeting[j]);
          variance += weight[j] * weight[j] * met * (1.0 - met / muons);
        }
        csv += formatted("%.4g", std::sqrt(variance));
      }
      // The sky, the energy a muon needs down the axis to the deepest layer
      // the requirement asks for, and the soft component's estimate at sea
      // level: the rate per unit of the muons' flux, for the soft
      // component's flux that gets there.
      csv += "," + sky_text(a.sky, a.altitude_m) + ",";
      const int last = last_required(q.rule);
      const double d = a.distances_cm[k];
      if (rates && a.sky.law == sky_law::spectrum) {
        csv += formatted("%.4g",
                         axis_threshold_gev(scope, a.sky, last, tilt_deg, d));
      }
      csv += ",";
      if (rates && a.altitude_m == 0.0 && a.flux > 0.0) {
        csv += formatted(rate_format, rate / a.flux *
                                          soft_flux_reaching(scope, a.sky, last,
                                                             tilt_deg, d));
      }
      csv += '\n';
    }
  }
  return csv;
}

curve_run start_curve_run(const curve_arguments &arguments) {
  curve_run run;
  run.plan = plan_curve(arguments);
  run.tallies.assign(run.plan.passes.size() * run.plan.tally_size, 0);
  run.done = 0;
  run.written = 0;
  return run;
}

bool run_slice(curve_run &run, std::string &csv) {
  const curve_plan &plan = run.plan;
  if (run.written == plan.groups) {
    return false;
  }
  if (run.done < block_count(plan)) {
    run_block(plan, run.done, run.tallies.data());
    ++run.done;
  }
  while (run.written < plan.groups &&
         first_block_of_group(plan, run.written) +
                 blocks_of_group(plan, run.written) <=
             run.done) {
    csv += group_rows(plan, run.written, run.tallies.data());
    ++run.written;
  }
  return true;
}

double share_done(const curve_run &run) {
  const curve_plan &plan = run.plan;
  // The muons of the passes before, and of the blocks before in this one:
  // all blocks of a pass are full but its last.
  const auto muons_before = [&](std::uint64_t block) {
    const std::uint64_t pass = block / plan.blocks_per_pass;
    const std::uint64_t within = block % plan.blocks_per_pass * block_muons;
    return static_cast<double>(pass) * plan.arguments.muons +
           static_cast<double>(std::min<std::uint64_t>(
               within, static_cast<std::uint64_t>(plan.arguments.muons)));
  };
  const double all = muons_before(block_count(plan));
  return all > 0.0                    ? muons_before(run.done) / all
         : run.written == plan.groups ? 1.0
                                      : 0.0;
}
