#include "programs/fit_run.h"
#include "integral/exact_rates.h"
#include "simulation/sky.h"
#include "text/shortest_text.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <tuple>

const char fit_header[] =
    "tilt_deg,tilt_azimuth_deg,distance_cm,require,coincidences,live_time_s,"
    "rate_per_minute,rate_error_per_minute,model_per_minute,naive_per_minute,"
    "flux_per_cm2_min,flux_low,flux_high,intensity_per_m2_s_sr,intensity_low,"
    "intensity_high,exponent,exponent_low,exponent_high,exponent_fixed,"
    "correlation,deviance,degrees_of_freedom,p_value,naive_rate_per_minute,"
    "naive_exponent,naive_exponent_low,naive_exponent_high,method,telescope\n";

namespace {

constexpr double seconds_per_minute = 60.0;
// The Monte Carlo model draws at most this many muons per setting and pass.
constexpr double muons_max = 33554432.0;
// It draws again when the fit lands further than this from where it drew,
// at most this many times.
constexpr double drawn_too_far = 0.25;
constexpr int redraws_max = 3;
// A fit this unlikely is called poor.
constexpr double poor_p_value = 0.01;

// The vertical intensity in m^-2 s^-1 sr^-1 of a flux J in cm^-2 min^-1.
double intensity_of(double flux, double exponent) {
  return flux / flux_of_intensity(1.0, exponent);
}

double pi_degrees(double degrees) {
  return degrees * 3.14159265358979323846 / 180;
}

double naive_hz(const naive_fit &n, const setting &s) {
  // cos(90 degrees) is 6e-17 in doubles, and nothing in the sky.
  const double c = s.tilt_deg == 90.0 ? 0.0 : std::cos(pi_degrees(s.tilt_deg));
  return n.rate_per_minute / seconds_per_minute * std::pow(c, n.exponent);
}

// The sky's flux and intensity at the fit, each with its interval where it
// was the parameter fitted.
struct sky_figures {
  double flux, intensity;
  interval flux_range, intensity_range;
};

sky_figures sky_of(const fit_run &run) {
  const fit_result &r = run.result;
  sky_figures s{};
  if (run.problem.intensity) {
    s.intensity = r.flux;
    s.intensity_range = r.flux_range;
    s.flux = flux_of_intensity(r.flux, r.exponent);
  } else {
    s.flux = r.flux;
    s.flux_range = r.flux_range;
    s.intensity = intensity_of(r.flux, r.exponent);
  }
  return s;
}

// A value with as many decimals as show its error to two digits.
std::string to_error(double value, double error) {
  // Only an interval with an end that is not a number gives an error that
  // is not a positive number here; no test keeps such an interval.
  // GCOVR_EXCL_BR_START
  const int decimals =
      error > 0.0 && std::isfinite(error)
          ? std::clamp(1 - static_cast<int>(std::floor(std::log10(error))), 0,
                       12)
          : 4;
  // GCOVR_EXCL_BR_STOP
  char text[64];
  std::snprintf(text, sizeof text, "%.*f", decimals, value);
  return text;
}

// "value unit" and, on the next line, "68% interval [low, high]; from the
// curvature +-e", an end that reached its parameter's range marked.
std::string with_interval(double value, const char *unit, const interval &i,
                          double curvature) {
  // The side that did not stop at the parameter's range tells the error;
  // where both stopped, the range's half width is all there is to tell.
  const double shown_to =
      i.low_at_limit && i.high_at_limit ? (i.high - i.low) / 2
      : i.low_at_limit                  ? i.high - value
      : i.high_at_limit                 ? value - i.low
                        : std::min(value - i.low, i.high - value);
  // Its untested branches only clean up after an allocation that throws.
  // GCOVR_EXCL_BR_START
  return to_error(value, shown_to) + unit + "\n  68% interval [" +
         (i.low_at_limit ? std::string("at most ") : "") +
         to_error(i.low, shown_to) + ", " +
         (i.high_at_limit ? std::string("at least ") : "") +
         to_error(i.high, shown_to) + "]" +
         (curvature > 0.0
              ? "; from the curvature +-" + formatted("%.2g", curvature)
              : std::string("; no curvature to tell an error")) +
         "\n";
  // GCOVR_EXCL_BR_STOP
}

// A setting that counted coincidences where the model gives no rate at
// any exponent the fit may take (a layer that detects nothing, a Monte
// Carlo sample of which no muon crossed): no sky explains it, and the
// likelihood would be 0 everywhere. "" when there is none.
std::string unseen_counts(const fit_run &run) {
  const fit_problem &p = run.problem;
  const fit_command &c = run.command;
  for (std::size_t i = 0; i < p.settings.size(); ++i) {
    const setting &s = p.settings[i];
    bool seen = s.coincidences == 0.0;
    // The exponent held, or each whole one the fit may take.
    const int tries =
        c.exponent_fixed ? 1 : 1 + static_cast<int>(model_exponent_max);
    for (int t = 0; !seen && t < tries; ++t) {
      const double n = c.exponent_fixed ? c.arguments.exponent : t;
      seen = model_hz(p, i, 1.0, n) > 0.0;
    }
    if (!seen && run.method == model_method::monte_carlo) {
      // A sample that no track of the setting met may only be too small
      // for a telescope that sees little.
      return at_line(run.name, s.line) + shortest(s.coincidences) +
             " coincidences counted where none of the Monte Carlo's " +
             shortest(p.models[i].muons) +
             " muons gives one: the telescope as described sees nothing "
             "(check its detection, noise and layers), or too little for so "
             "few muons (for thin layers, try --method integral)";
    }
    if (!seen) {
      return at_line(run.name, s.line) + shortest(s.coincidences) +
             " coincidences counted where the telescope as described sees "
             "nothing, whatever the sky: check its detection, noise and "
             "layers";
    }
  }
  return "";
}

} // namespace

std::string open_measurements(const std::string &file, std::ifstream &in) {
  in.open(file);
  if (!in) {
    return "cannot read '" + file + "': " + std::strerror(errno);
  }
  return "";
}

std::string start_fit(const fit_command &command, std::istream &in,
                      const std::string &name, fit_run &run) {
  run.command = command;
  run.name = name;
  const curve_arguments &a = command.arguments;
  fit_problem &p = run.problem;
  p.intensity = command.report_intensity;
  p.scope = a.scope;
  std::copy(a.detection, a.detection + layers_max, p.counter.detection);
  std::copy(a.noise_hz, a.noise_hz + layers_max, p.counter.noise_hz);
  p.counter.window_ns = a.window_ns;
  const setting_defaults defaults{a.tilt_azimuth_deg, a.requirements[0].rule,
                                  a.requirements[0].text};
  std::string problem =
      read_settings(in, name, p.scope, defaults, distance_refusal, p.settings);
  if (!problem.empty()) {
    return problem;
  }
  double counted = 0.0;
  for (const setting &s : p.settings) {
    counted += s.coincidences;
  }
  if (counted == 0.0) {
    return name + ": no coincidences were counted: there is nothing to fit";
  }
  // The integral where it is exact, unless the command line chose.
  run.method = model_method::integral;
  for (const setting &s : p.settings) {
    const std::string refusal = integral_refusal(p.scope, s.distance_cm);
    if (!refusal.empty()) {
      if (command.method_given && a.method == curve_method::integral) {
        return at_line(name, s.line) + refusal;
      }
      run.method = model_method::monte_carlo;
    }
  }
  if (command.method_given && a.method == curve_method::monte_carlo) {
    run.method = model_method::monte_carlo;
  }
  // Rows that repeat one setting add counts, not a lever on N. Lying
  // level, the telescope has no azimuth to tell apart.
  const auto geometry = [](const setting &s) {
    return std::make_tuple(s.tilt_deg,
                           s.tilt_deg == 0.0 ? 0.0 : s.tilt_azimuth_deg,
                           s.distance_cm, s.require_text);
  };
  const auto first = geometry(p.settings.front());
  const bool one_setting =
      std::all_of(p.settings.begin(), p.settings.end(),
                  [&](const setting &s) { return geometry(s) == first; });
  if (!command.exponent_fixed && one_setting) {
    return name +
           (p.settings.size() < 2 ? ": one setting"
                                  : ": its rows are all one setting, which") +
           " cannot tell J from N: give more, or fix N with --exponent";
  }
  run.drawn_at = command.exponent_fixed ? a.exponent : 2.0;
  run.redraws = 0;
  // Its untested branches only clean up after an allocation that throws.
  p.models.assign(p.settings.size(), setting_model{}); // GCOVR_EXCL_BR_LINE
  return "";
}

void model_setting_of(fit_run &run, std::size_t i) {
  fit_problem &p = run.problem;
  p.models[i] =
      model_setting(p.scope, p.counter, p.settings[i], run.method, run.drawn_at,
                    run.command.arguments.seed, static_cast<std::uint32_t>(i),
                    muons_max, run.stop);
}

fit_step fit_models(fit_run &run) {
  const fit_command &c = run.command;
  run.refusal = unseen_counts(run);
  if (!run.refusal.empty()) {
    return fit_step::refused;
  }
  run.result = fit_sky(run.problem, c.exponent_fixed, c.arguments.exponent);
  run.naive = fit_naively(run.problem.settings);
  static_assert(redraws_max > 0);
  // A Monte Carlo model draws a block of muons at least, so that the test
  // of its muons is never false: no test has a model without.
  // GCOVR_EXCL_BR_START
  if (run.method == model_method::monte_carlo && !c.exponent_fixed &&
      std::fabs(run.result.exponent - run.drawn_at) > drawn_too_far &&
      run.problem.models[0].muons > 0.0 && run.redraws < redraws_max) {
    // GCOVR_EXCL_BR_STOP
    run.drawn_at = run.result.exponent;
    ++run.redraws;
    return fit_step::draw_again;
  }
  return fit_step::done;
}

std::string fit_report(const fit_run &run) {
  const fit_problem &p = run.problem;
  const fit_result &r = run.result;
  const sky_figures sky = sky_of(run);
  std::string report = "velmora-fit: " + std::to_string(p.settings.size()) +
                       " settings from " + run.name + "; telescope " +
                       telescope_text(p.scope) + "\n";
  if (run.method == model_method::integral) {
    report += "model: the integral over directions, exact to about 1e-10\n";
  } else {
    // The model's relative error at each setting against the data's,
    // 1/sqrt(counts): the largest share.
    double fewest = muons_max, most = 0.0, share = 0.0;
    for (std::size_t i = 0; i < p.models.size(); ++i) {
      const setting_model &m = p.models[i];
      fewest = std::min(fewest, m.muons);
      most = std::max(most, m.muons);
      share = std::max(
          share,
          m.own_error * std::sqrt(std::max(p.settings[i].coincidences, 1.0)));
    }
    // Its untested branches only clean up after an allocation that throws.
    // GCOVR_EXCL_BR_START
    report +=
        "model: the Monte Carlo, " + formatted("%.0f", fewest) +
        (most > fewest ? " to " + formatted("%.0f", most) : "") +
        " muons a setting, drawn at N = " + formatted("%.3f", run.drawn_at) +
        "\n  and weighted to each N; its error is at most " +
        formatted("%.2g", share) + " of the data's at any setting\n";
    // GCOVR_EXCL_BR_STOP
  }
  report += "\n";
  if (p.intensity) {
    report += "intensity I, vertically = " +
              with_interval(sky.intensity, " m^-2 s^-1 sr^-1",
                            sky.intensity_range, r.flux_error);
    report +=
        "flux J through a horizontal surface = " + formatted("%.4g", sky.flux) +
        " cm^-2 min^-1\n";
  } else {
    report +=
        "flux J through a horizontal surface = " +
        with_interval(sky.flux, " cm^-2 min^-1", sky.flux_range, r.flux_error);
    report += "intensity I, vertically = " + formatted("%.4g", sky.intensity) +
              " m^-2 s^-1 sr^-1\n";
  }
  if (r.exponent_fixed) {
    report += "exponent N = " + shortest(r.exponent) + ", fixed\n";
  } else {
    report += "exponent N = " +
              with_interval(r.exponent, "", r.exponent_range, r.exponent_error);
    if (!std::isnan(r.correlation)) {
      report += "correlation of " + std::string(p.intensity ? "I" : "J") +
                " and N: " + formatted("%.2f", r.correlation) + "\n";
    }
  }
  report += r.exponent_fixed ? "interval where -2 ln L rises by 1\n"
                             : "intervals where -2 ln L rises by 1, the "
                               "other parameter fitted anew\n";
  report += "deviance " + formatted("%.3g", r.deviance) + " for " +
            std::to_string(r.degrees_of_freedom) +
            (r.degrees_of_freedom == 1 ? " degree" : " degrees") +
            " of freedom";
  // Its untested branches only clean up after an allocation that throws.
  // GCOVR_EXCL_BR_START
  report += r.degrees_of_freedom > 0 ? ", p = " + formatted("%.2g", r.p_value)
                                     : std::string(": no test of the fit");
  // GCOVR_EXCL_BR_STOP
  report += "\n";
  if (r.degrees_of_freedom > 0 && r.p_value < poor_p_value) {
    report += "warning: a poor fit: counts this far from the model come by "
              "chance less than once in a hundred;\n  check the telescope, "
              "its detection probabilities and its noise\n";
  }
  if (run.naive.valid) {
    const naive_fit &n = run.naive;
    const double half = (n.exponent_range.high - n.exponent_range.low) / 2;
    report += "\nthe naive fit of R0 cos^N(tilt) to the rates, as if the "
              "telescope were\ninfinitely narrow: N = " +
              to_error(n.exponent, half) + ", 68% interval [" +
              to_error(n.exponent_range.low, half) + ", " +
              to_error(n.exponent_range.high, half) + "]";
    if (!r.exponent_fixed) {
      const double off = n.exponent - r.exponent;
      // The fit's error on the naive fit's side, or the curvature's where
      // that side stopped at N's range.
      const bool above = off > 0;
      const bool stopped = above ? r.exponent_range.high_at_limit
                                 : r.exponent_range.low_at_limit;
      const double error = stopped ? r.exponent_error
                           : above ? r.exponent_range.high - r.exponent
                                   : r.exponent - r.exponent_range.low;
      report += ";\n  " + formatted("%.3g", std::fabs(off)) +
                (off > 0 ? " above" : " below") + " the fit's N";
      // A fit with no curvature at a stopped end has no error to compare.
      if (error > 0) {
        report += ", " + formatted("%.2g", std::fabs(off) / error) +
                  " times the fit's error";
      }
    }
    report += "\n";
  }
  report += "\n tilt azimuth distance require   counts  time/s  rate/min "
            "model/min naive/min\n";
  for (std::size_t i = 0; i < p.settings.size(); ++i) {
    const setting &s = p.settings[i];
    char row[256];
    // Its untested branches only clean up after an allocation that throws.
    // GCOVR_EXCL_BR_START
    std::snprintf(row, sizeof row,
                  "%5.4g %7.4g %8.4g %-7.7s %8.0f %7.4g %9.4g %9.4g %9s\n",
                  s.tilt_deg, s.tilt_azimuth_deg, s.distance_cm,
                  s.require_text.c_str(), s.coincidences, s.live_time_s,
                  s.coincidences / s.live_time_s * seconds_per_minute,
                  model_hz(p, i, r.flux, r.exponent) * seconds_per_minute,
                  run.naive.valid ? formatted("%.4g", naive_hz(run.naive, s) *
                                                          seconds_per_minute)
                                        .c_str()
                                  : "");
    // GCOVR_EXCL_BR_STOP
    report += row;
  }
  return report;
}

std::string fit_csv(const fit_run &run) {
  const fit_problem &p = run.problem;
  const fit_result &r = run.result;
  const naive_fit &n = run.naive;
  const sky_figures sky = sky_of(run);
  // Its untested branches only clean up after an allocation that throws.
  // GCOVR_EXCL_BR_START
  // What the fit found, and the rates of the counts, to seven digits (more
  // than any count gives; 7.6 rather than 7.6000000000000005): the
  // minimisers place a least to about 1e-8 of its value, so further digits
  // would only show the last bits of the maths library, which differ from
  // one processor to another. Exponents to five decimals: near 0, where a
  // fit may stop at its range, their digits are the minimiser's tolerance,
  // not its value. The correlation and p, from differences of -ln L, to
  // four.
  const auto found = [](double value) { return formatted("%.7g", value); };
  const auto exponent = [](double value) { return formatted("%.5f", value); };
  const auto rough = [](double value) { return formatted("%.4g", value); };
  const auto range = [&](const interval &i, bool given) {
    return given ? found(i.low) + "," + found(i.high) : std::string(",");
  };
  const auto exponents = [&](const interval &i, bool given) {
    return given ? exponent(i.low) + "," + exponent(i.high) : std::string(",");
  };
  const std::string fitted =
      found(sky.flux) + "," + range(sky.flux_range, !p.intensity) + "," +
      found(sky.intensity) + "," + range(sky.intensity_range, p.intensity) +
      "," + (r.exponent_fixed ? shortest(r.exponent) : exponent(r.exponent)) +
      "," + exponents(r.exponent_range, !r.exponent_fixed) + "," +
      (r.exponent_fixed ? "1" : "0") + "," +
      (std::isnan(r.correlation) ? std::string() : rough(r.correlation)) + "," +
      found(r.deviance) + "," + std::to_string(r.degrees_of_freedom) + "," +
      (r.degrees_of_freedom > 0 ? rough(r.p_value) : std::string()) + "," +
      (n.valid ? found(n.rate_per_minute) + "," + exponent(n.exponent) + "," +
                     exponents(n.exponent_range, true)
               : std::string(",,,")) +
      "," + (run.method == model_method::integral ? "integral" : "mc") + "," +
      telescope_text(p.scope) + "\n";
  // GCOVR_EXCL_BR_STOP
  std::string csv = fit_header;
  for (std::size_t i = 0; i < p.settings.size(); ++i) {
    const setting &s = p.settings[i];
    csv +=
        shortest(s.tilt_deg) + "," + shortest(s.tilt_azimuth_deg) + "," +
        shortest(s.distance_cm) + "," + s.require_text + "," +
        shortest(s.coincidences) + "," + shortest(s.live_time_s) + "," +
        found(s.coincidences / s.live_time_s * seconds_per_minute) + "," +
        found(std::sqrt(std::max(s.coincidences, 1.0)) / s.live_time_s *
              seconds_per_minute) +
        "," + found(model_hz(p, i, r.flux, r.exponent) * seconds_per_minute) +
        "," +
        (n.valid ? found(naive_hz(n, s) * seconds_per_minute) : std::string()) +
        "," + fitted;
  }
  return csv;
}
