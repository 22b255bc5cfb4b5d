#include "programs/fit_run.h"
#include "integral/exact_rates.h"
#include "programs/sky_readers.h"
#include "simulation/matter.h"
#include "simulation/muon_spectrum.h"
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
    "naive_exponent,naive_exponent_low,naive_exponent_high,method,telescope,"
    "detection,noise_hz,window_ns,sky,background_per_minute,background_low,"
    "background_high,background_fitted,normalisation,normalisation_low,"
    "normalisation_high,matching_exponent\n";

namespace {

constexpr double seconds_per_minute = 60.0;
// The Monte Carlo model draws at most this many muons per setting and pass.
constexpr double muons_max = 33554432.0;
// It draws again when the fit lands further than this from where it drew,
// or where its weighted error passes the tenth of the data's that its
// muons were chosen for, at most this many times.
constexpr double drawn_too_far = 0.25;
constexpr double promised_share = 0.1;
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

// The sky's flux and intensity at the fit, with their intervals.
struct sky_figures {
  double flux, intensity;
  interval flux_range, intensity_range;
};

sky_figures sky_of(const fit_run &run) {
  const fit_result &r = run.result;
  sky_figures s{};
  const fit_problem &p = run.problem;
  if (p.sky.law == sky_law::spectrum) {
    // The normalisation's muons: those above the sky's least energy, and
    // the vertical intensity above 1 GeV/c, with its own interval.
    sky_model at = p.sky;
    at.exponent = r.exponent;
    s.flux = r.flux * drawn_flux(at);
    s.flux_range = {NAN, NAN, false, false};
    s.intensity = r.flux * other_per_unit(p, r.exponent);
    s.intensity_range = r.other_range;
    return s;
  }
  if (run.problem.intensity) {
    s.intensity = r.flux;
    s.intensity_range = r.flux_range;
    s.flux = flux_of_intensity(r.flux, r.exponent);
    s.flux_range = r.other_range;
  } else {
    s.flux = r.flux;
    s.flux_range = r.flux_range;
    s.intensity = intensity_of(r.flux, r.exponent);
    s.intensity_range = r.other_range;
  }
  return s;
}

// The rate per minute that the fit gives row i: the sky's and the
// background.
double model_per_minute(const fit_run &run, std::size_t i) {
  const fit_result &r = run.result;
  return model_hz(run.problem, i, r.flux, r.exponent) * seconds_per_minute +
         r.background;
}

const counters &counters_of(const fit_problem &p, const setting &s) {
  return s.own_counters ? s.counter : p.counter;
}

// The cos^N that stands best for the fitted spectrum's muons that reach the
// deepest layer the first row's requirement asks for.
double matching_exponent_of(const fit_run &run) {
  const fit_problem &p = run.problem;
  const setting &s = p.settings.front();
  sky_model at = p.sky;
  at.exponent = run.result.exponent;
  int last = s.rule.at_least - 1;
  for (int i = 0; i < layers_max; ++i) {
    last = (s.rule.needed >> i & 1U) != 0 ? std::max(last, i) : last;
  }
  return matching_exponent(p.scope, at, last, s.distance_cm);
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

// The error an interval tells: the side that did not stop at the
// parameter's range; where both stopped, the range's half width is all
// there is to tell.
double shown_error(double value, const interval &i) {
  return i.low_at_limit && i.high_at_limit ? (i.high - i.low) / 2
         : i.low_at_limit                  ? i.high - value
         : i.high_at_limit                 ? value - i.low
                           : std::min(value - i.low, i.high - value);
}

// "  68% interval [low, high]", an end that reached its parameter's range
// marked.
std::string interval_text(const interval &i, double error) {
  // Its untested branches only clean up after an allocation that throws.
  // GCOVR_EXCL_BR_START
  return "  68% interval [" + (i.low_at_limit ? std::string("at most ") : "") +
         to_error(i.low, error) + ", " +
         (i.high_at_limit ? std::string("at least ") : "") +
         to_error(i.high, error) + "]";
  // GCOVR_EXCL_BR_STOP
}

// "value unit" and, on the next line, its interval and "from the curvature
// +-e". A best value at an end of its parameter's range reads as what it
// is, with `relation` ("<= ", ">= ") and the range in `edge`: N >= 10.00
// (at the edge of 0 to 10).
std::string with_interval(double value, const char *unit, const interval &i,
                          double curvature, const char *relation = "= ",
                          const char *edge = "") {
  const double error = shown_error(value, i);
  // Its untested branches only clean up after an allocation that throws.
  // GCOVR_EXCL_BR_START
  std::string text = relation + to_error(value, error) + unit;
  if (*edge != '\0') {
    text += std::string(" (") + edge + ")";
  }
  return text + "\n" + interval_text(i, error) +
         (curvature > 0.0
              ? "; from the curvature +-" + formatted("%.2g", curvature)
              : std::string("; no curvature to tell an error")) +
         "\n";
  // GCOVR_EXCL_BR_STOP
}

// The sky as the report names it.
std::string sky_words(const sky_model &sky) {
  if (sky.law == sky_law::cos_power) {
    return "cos^N of the zenith angle";
  }
  std::string words = "the muon spectrum of Shukla and Sankrith (2018)";
  if (sky.air_g_cm2 > 0.0) {
    words += " under " + formatted("%.0f", sky.air_g_cm2) + " g/cm^2 of air";
  }
  for (int k = 0; k < sky.overburden_count; ++k) {
    words += std::string(k == 0 ? ", below " : " and ") +
             name_of(sky.overburden[k].what) + " of " +
             shortest(sky.overburden[k].grams_cm2) + " g/cm^2";
  }
  return words;
}

// The values per layer joined by ';', as velmora-curve writes them.
std::string per_layer(const double *values, int count) {
  std::string text;
  for (int i = 0; i < count; ++i) {
    text += (i == 0 ? "" : ";") + shortest(values[i]);
  }
  return text;
}

std::string window_text(const counters &c) {
  return std::isnan(c.window_ns) ? std::string() : shortest(c.window_ns);
}

// A setting that counted coincidences where the model gives no rate at
// any exponent the fit may take (a layer that detects nothing, a Monte
// Carlo sample of which no muon crossed): no sky explains it, and the
// likelihood would be 0 everywhere. A background explains anything. ""
// when there is none.
std::string unseen_counts(const fit_run &run) {
  const fit_problem &p = run.problem;
  const fit_command &c = run.command;
  if (p.background != background_kind::none &&
      !(p.background == background_kind::fixed &&
        p.background_per_minute == 0.0)) {
    return "";
  }
  for (std::size_t i = 0; i < p.settings.size(); ++i) {
    const setting &s = p.settings[i];
    bool seen = s.coincidences == 0.0;
    // The exponent held, or each whole one the fit may take.
    const exponent_range r = range_of(p.sky);
    const int tries =
        c.exponent_fixed ? 1 : 1 + static_cast<int>(r.high - r.low);
    for (int t = 0; !seen && t < tries; ++t) {
      const double n = c.exponent_fixed ? c.arguments.sky.exponent : r.low + t;
      seen = model_hz(p, i, 1.0, n) > 0.0;
    }
    if (!seen && run.method == model_method::monte_carlo) {
      // A sample that no track of the setting met may only be too small
      // for a telescope that sees little.
      return at_line(run.name, s.line) + shortest(s.coincidences) +
             " coincidences counted where none of the Monte Carlo's " +
             shortest(p.models[group_of(p, i)].muons) +
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

// Whether two rows are one setting of the telescope: the same geometry, a
// requirement that takes the same layers, and the same counters. Lying
// level, the telescope has no azimuth to tell apart.
bool same_setting(const fit_problem &p, const setting &a, const setting &b,
                  bool counters_too) {
  const auto geometry = [](const setting &s) {
    return std::make_tuple(s.tilt_deg,
                           s.tilt_deg == 0.0 ? 0.0 : s.tilt_azimuth_deg,
                           s.distance_cm);
  };
  if (geometry(a) != geometry(b) ||
      !same_requirement(a.rule, b.rule, p.scope.count)) {
    return false;
  }
  if (!counters_too) {
    return true;
  }
  const counters &x = counters_of(p, a), &y = counters_of(p, b);
  return std::equal(x.detection, x.detection + p.scope.count, y.detection) &&
         std::equal(x.noise_hz, x.noise_hz + p.scope.count, y.noise_hz) &&
         (x.window_ns == y.window_ns ||
          (std::isnan(x.window_ns) && std::isnan(y.window_ns)));
}

// The largest of the Monte Carlo model's weighted errors at the fit's N,
// each as a share of its setting's data's, 1/sqrt(counts).
double model_share(const fit_run &run) {
  const fit_problem &p = run.problem;
  double share = 0.0;
  std::vector<double> counts(p.models.size(), 0.0);
  for (std::size_t i = 0; i < p.settings.size(); ++i) {
    counts[group_of(p, i)] += p.settings[i].coincidences;
  }
  for (std::size_t g = 0; g < p.models.size(); ++g) {
    share = std::max(share, model_error(p.models[g], run.result.exponent) *
                                std::sqrt(std::max(counts[g], 1.0)));
  }
  return share;
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
  p.sky = a.sky;
  std::copy(a.detection, a.detection + layers_max, p.counter.detection);
  std::copy(a.noise_hz, a.noise_hz + layers_max, p.counter.noise_hz);
  p.counter.window_ns = a.window_ns;
  p.background = command.background_free ? background_kind::free
                 : std::isnan(command.background_per_minute)
                     ? background_kind::none
                     : background_kind::fixed;
  p.background_per_minute = command.background_per_minute;
  const setting_defaults defaults{a.tilt_azimuth_deg, a.requirements[0].rule,
                                  a.requirements[0].text, p.counter};
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
    const std::string refusal =
        integral_refusal(p.scope, s.distance_cm, p.sky, s.tilt_deg);
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
  // Rows that repeat one setting add counts, not a lever on N.
  const setting &first = p.settings.front();
  const bool one_setting =
      std::all_of(p.settings.begin(), p.settings.end(), [&](const setting &s) {
        return same_setting(p, s, first, false);
      });
  if (!command.exponent_fixed && one_setting) {
    return name +
           (p.settings.size() < 2 ? ": one setting"
                                  : ": its rows are all one setting, which") +
           " cannot tell J from N: give more, or fix N with --exponent";
  }
  // Rows of one setting, counters and all, share one model: a lab's log of
  // hourly counts at a handful of tilts costs a handful of models.
  std::vector<std::size_t> representative;
  p.group.resize(p.settings.size());
  for (std::size_t i = 0; i < p.settings.size(); ++i) {
    std::size_t g = 0;
    while (
        g < representative.size() &&
        !same_setting(p, p.settings[representative[g]], p.settings[i], true)) {
      ++g;
    }
    if (g == representative.size()) {
      representative.push_back(i);
    }
    p.group[i] = g;
  }
  // The Monte Carlo draws first at the sky's usual exponent: N = 2, or the
  // spectrum's paper's index.
  run.drawn_at = command.exponent_fixed           ? a.sky.exponent
                 : a.sky.law == sky_law::spectrum ? paper_index
                                                  : 2.0;
  run.redraws = 0;
  // Its untested branches only clean up after an allocation that throws.
  // GCOVR_EXCL_BR_START
  p.models.assign(representative.size(), setting_model{});
  // GCOVR_EXCL_BR_STOP
  return "";
}

std::size_t models_to_work_out(const fit_run &run) {
  return run.problem.models.size();
}

void model_setting_of(fit_run &run, std::size_t g) {
  fit_problem &p = run.problem;
  // The group's first row stands for it, with the counts of all its rows,
  // for the muons the Monte Carlo draws.
  std::size_t first = p.settings.size();
  double counts = 0.0;
  for (std::size_t i = 0; i < p.settings.size(); ++i) {
    if (p.group[i] == g) {
      first = std::min(first, i);
      counts += p.settings[i].coincidences;
    }
  }
  setting s = p.settings[first];
  s.coincidences = counts;
  p.models[g] =
      model_setting(p.scope, counters_of(p, s), s, p.sky, run.method,
                    run.drawn_at, run.command.arguments.seed,
                    static_cast<std::uint32_t>(g), muons_max, run.stop);
}

fit_step fit_models(fit_run &run) {
  const fit_command &c = run.command;
  run.refusal = unseen_counts(run);
  if (!run.refusal.empty()) {
    return fit_step::refused;
  }
  run.result = fit_sky(run.problem, c.exponent_fixed, c.arguments.sky.exponent);
  run.naive = fit_naively(run.problem.settings);
  static_assert(redraws_max > 0);
  if (run.method != model_method::monte_carlo || c.exponent_fixed ||
      run.redraws >= redraws_max) {
    return fit_step::done;
  }
  // Drawn far from the fit, or weighted so far that its tracks count for
  // fewer than its muons were chosen to give: drawn again at the fit's N.
  const double off = std::fabs(run.result.exponent - run.drawn_at);
  if (off > drawn_too_far ||
      (off > 1e-3 && model_share(run) > promised_share)) {
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
  const std::size_t rows = p.settings.size(), settings = p.models.size();
  // Its untested branches only clean up after an allocation that throws.
  // GCOVR_EXCL_BR_START
  std::string report =
      "velmora-fit: " +
      (rows == settings ? std::to_string(rows) + " settings"
                        : std::to_string(rows) + " rows at " +
                              std::to_string(settings) + " settings") +
      " from " + run.name + "; telescope " + telescope_text(p.scope) + "\n";
  // GCOVR_EXCL_BR_STOP
  if (run.method == model_method::integral) {
    report += "model: the integral over directions, exact to about 1e-10\n";
  } else {
    double fewest = muons_max, most = 0.0;
    for (const setting_model &m : p.models) {
      fewest = std::min(fewest, m.muons);
      most = std::max(most, m.muons);
    }
    // Its untested branches only clean up after an allocation that throws.
    // GCOVR_EXCL_BR_START
    report +=
        "model: the Monte Carlo, " + formatted("%.0f", fewest) +
        (most > fewest ? " to " + formatted("%.0f", most) : "") +
        " muons a setting, drawn at N = " + formatted("%.3f", run.drawn_at) +
        "\n  and weighted to each N; its error is at most " +
        formatted("%.2g", model_share(run)) + " of the data's at any setting\n";
    // GCOVR_EXCL_BR_STOP
  }
  // What was assumed, so that a report says what it was made for.
  const counters &c = p.counter;
  std::size_t own = 0;
  for (const setting &s : p.settings) {
    own += s.own_counters ? 1 : 0;
  }
  // Its untested branches only clean up after an allocation that throws.
  // GCOVR_EXCL_BR_START
  report +=
      "counters: detection " + per_layer(c.detection, p.scope.count) +
      ", noise " + per_layer(c.noise_hz, p.scope.count) + " Hz, " +
      (std::isnan(c.window_ns) ? std::string("no coincidence window")
                               : "window " + shortest(c.window_ns) + " ns") +
      (own > 0 ? "; " + std::to_string(own) + " rows give their own"
               : std::string()) +
      "\nsky: " + sky_words(p.sky) + "; background: " +
      (p.background == background_kind::none ? std::string("none")
       : p.background == background_kind::fixed
           ? shortest(p.background_per_minute) + " a minute, held"
           : std::string("fitted")) +
      "\n";
  // GCOVR_EXCL_BR_STOP
  report += "\n";
  const double sky_error = r.flux_error;
  const bool spectrum = p.sky.law == sky_law::spectrum;
  if (spectrum) {
    report += "normalisation A of the spectrum " +
              with_interval(r.flux, " (1: as its paper gives it)", r.flux_range,
                            sky_error);
    const double error = shown_error(sky.intensity, sky.intensity_range);
    report +=
        "vertical intensity above 1 GeV/c = " + to_error(sky.intensity, error) +
        " m^-2 s^-1 sr^-1\n" + interval_text(sky.intensity_range, error) + "\n";
    report += "flux of its muons through a horizontal surface = " +
              formatted("%.4g", sky.flux) + " cm^-2 min^-1\n";
  } else if (p.intensity) {
    report += "intensity I, vertically " +
              with_interval(sky.intensity, " m^-2 s^-1 sr^-1",
                            sky.intensity_range, sky_error);
    const double error = shown_error(sky.flux, sky.flux_range);
    report +=
        "flux J through a horizontal surface = " + to_error(sky.flux, error) +
        " cm^-2 min^-1\n" + interval_text(sky.flux_range, error) + "\n";
  } else {
    report +=
        "flux J through a horizontal surface " +
        with_interval(sky.flux, " cm^-2 min^-1", sky.flux_range, sky_error);
    const double error = shown_error(sky.intensity, sky.intensity_range);
    report += "intensity I, vertically = " + to_error(sky.intensity, error) +
              " m^-2 s^-1 sr^-1\n" + interval_text(sky.intensity_range, error) +
              "\n";
  }
  const char *const exponent_name = spectrum ? "index n" : "exponent N";
  const exponent_range range = range_of(p.sky);
  if (r.exponent_fixed) {
    report +=
        std::string(exponent_name) + " = " + shortest(r.exponent) + ", fixed\n";
  } else {
    const int edge = r.exponent_edge;
    const std::string range_text =
        "at the edge of " + shortest(range.low) + " to " + shortest(range.high);
    report +=
        exponent_name +
        (" " + with_interval(r.exponent, "", r.exponent_range, r.exponent_error,
                             edge < 0   ? "<= "
                             : edge > 0 ? ">= "
                                        : "= ",
                             edge != 0 ? range_text.c_str() : ""));
    if (!std::isnan(r.correlation)) {
      report += "correlation of " +
                std::string(spectrum      ? "A and n"
                            : p.intensity ? "I and N"
                                          : "J and N") +
                ": " + formatted("%.2f", r.correlation) + "\n";
    }
  }
  if (spectrum) {
    report += "the cos^N it matches best at the telescope's threshold: N = " +
              formatted("%.2f", matching_exponent_of(run)) + "\n";
  }
  if (p.background == background_kind::free) {
    const bool at_zero = r.background_range.low_at_limit &&
                         r.background < 1e-6 * r.background_range.high;
    report += "background B " +
              with_interval(r.background, " min^-1", r.background_range,
                            r.background_error, "= ",
                            at_zero ? "at its edge: it cannot be below 0" : "");
  }
  report += r.exponent_fixed && p.background != background_kind::free
                ? "interval where -2 ln L rises by 1\n"
                : "intervals where -2 ln L rises by 1, the "
                  "other parameters fitted anew\n";
  report += "deviance " + formatted("%.3g", r.deviance) + " for " +
            std::to_string(r.degrees_of_freedom) +
            (r.degrees_of_freedom == 1 ? " degree" : " degrees") +
            " of freedom";
  // Its untested branches only clean up after an allocation that throws.
  // GCOVR_EXCL_BR_START
  report += r.degrees_of_freedom > 0 ? ", p = " + formatted("%.2g", r.p_value)
                                     : std::string(": no test of the fit");
  // GCOVR_EXCL_BR_STOP
  if (r.degrees_of_freedom > 0 && r.p_value >= poor_p_value) {
    report += ":\n  the counts scatter about the model as Poisson counts "
              "should";
  }
  report += "\n";
  if (r.degrees_of_freedom > 0 && r.p_value < poor_p_value) {
    report += "warning: a poor fit: counts this far from the model come by "
              "chance less than once in a hundred;\n  check the telescope, "
              "its detection probabilities and its noise\n";
    // The row furthest from the model, in its own standard deviations; at
    // the largest tilt, where the sky gives least, a background that no
    // sky gives may be what is missing.
    std::size_t worst = 0;
    double worst_pull = -1.0, largest_tilt = 0.0;
    for (std::size_t i = 0; i < p.settings.size(); ++i) {
      const setting &s = p.settings[i];
      const double mu =
          s.live_time_s * model_per_minute(run, i) / seconds_per_minute;
      const double pull =
          std::fabs(s.coincidences - mu) / std::sqrt(std::max(mu, 1.0));
      largest_tilt = std::max(largest_tilt, s.tilt_deg);
      if (pull > worst_pull) {
        worst_pull = pull;
        worst = i;
      }
    }
    if (p.background == background_kind::none &&
        p.settings[worst].tilt_deg == largest_tilt && largest_tilt > 0.0) {
      report += "  the row furthest from the model lies at the largest tilt, " +
                shortest(largest_tilt) +
                " degrees:\n  coincidences that no sky gives (air showers, "
                "correlated noise) may be\n  missing from the model: try "
                "--background free\n";
    }
  }
  if (run.naive.valid) {
    const naive_fit &n = run.naive;
    const double half = (n.exponent_range.high - n.exponent_range.low) / 2;
    report += "\nthe naive fit of R0 cos^N(tilt) to the rates, as if the "
              "telescope were\ninfinitely narrow: N " +
              std::string(n.at_edge ? ">= " : "= ") +
              to_error(n.exponent, half) +
              (n.at_edge ? " (at the edge of 0 to 30)" : "") +
              ", 68% interval [" + to_error(n.exponent_range.low, half) + ", " +
              to_error(n.exponent_range.high, half) + "]";
    if (p.sky.law == sky_law::spectrum) {
      // The spectrum's index is no cos^N exponent: the naive N stands
      // beside the cos^N that the fitted sky matches, which has no interval.
      const double off = n.exponent - matching_exponent_of(run);
      report += ";\n  " + formatted("%.3g", std::fabs(off)) +
                (off > 0 ? " above" : " below") +
                " the cos^N the fitted sky matches";
    } else if (!r.exponent_fixed) {
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
    if (n.counted_at_90 > 0) {
      report += "  cos^N is 0 at 90 degrees, where " +
                std::to_string(n.counted_at_90) +
                (n.counted_at_90 == 1
                     ? " row counted: no N fits it, and the naive fit keeps it"
                     : " rows counted: no N fits them, and the naive fit keeps "
                       "them") +
                "\n";
    }
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
                  model_per_minute(run, i),
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
  const auto range = [&](const interval &i) {
    return std::isnan(i.low) ? std::string(",")
                             : found(i.low) + "," + found(i.high);
  };
  const auto exponents = [&](const interval &i, bool given) {
    return given ? exponent(i.low) + "," + exponent(i.high) : std::string(",");
  };
  const bool fitted_background = p.background == background_kind::free;
  const std::string fitted =
      found(sky.flux) + "," + range(sky.flux_range) + "," +
      found(sky.intensity) + "," + range(sky.intensity_range) + "," +
      (r.exponent_fixed ? shortest(r.exponent) : exponent(r.exponent)) + "," +
      exponents(r.exponent_range, !r.exponent_fixed) + "," +
      (r.exponent_fixed ? "1" : "0") + "," +
      (std::isnan(r.correlation) ? std::string() : rough(r.correlation)) + "," +
      found(r.deviance) + "," + std::to_string(r.degrees_of_freedom) + "," +
      (r.degrees_of_freedom > 0 ? rough(r.p_value) : std::string()) + "," +
      (n.valid ? found(n.rate_per_minute) + "," + exponent(n.exponent) + "," +
                     exponents(n.exponent_range, true)
               : std::string(",,,")) +
      "," + (run.method == model_method::integral ? "integral" : "mc") + "," +
      telescope_text(p.scope) + ",";
  const bool spectrum = p.sky.law == sky_law::spectrum;
  const std::string background =
      "," +
      (spectrum ? sky_text(p.sky, run.command.arguments.altitude_m)
                : std::string("cos^N")) +
      "," + found(r.background) + "," +
      (fitted_background ? range(r.background_range) : std::string(",")) + "," +
      (fitted_background ? "1" : "0") + "," +
      (spectrum ? found(r.flux) + "," + range(r.flux_range) + "," +
                      formatted("%.3f", matching_exponent_of(run))
                : std::string(",,,")) +
      "\n";
  // GCOVR_EXCL_BR_STOP
  std::string csv = fit_header;
  for (std::size_t i = 0; i < p.settings.size(); ++i) {
    const setting &s = p.settings[i];
    const counters &c = counters_of(p, s);
    const auto field = [&csv](const std::string &text) {
      csv += text;
      csv += ',';
    };
    field(shortest(s.tilt_deg));
    field(shortest(s.tilt_azimuth_deg));
    field(shortest(s.distance_cm));
    field(s.require_text);
    field(shortest(s.coincidences));
    field(shortest(s.live_time_s));
    field(found(s.coincidences / s.live_time_s * seconds_per_minute));
    field(found(std::sqrt(std::max(s.coincidences, 1.0)) / s.live_time_s *
                seconds_per_minute));
    field(found(model_per_minute(run, i)));
    field(n.valid ? found(naive_hz(n, s) * seconds_per_minute) : std::string());
    csv += fitted;
    field(per_layer(c.detection, p.scope.count));
    field(per_layer(c.noise_hz, p.scope.count));
    csv += window_text(c);
    csv += background;
  }
  return csv;
}
