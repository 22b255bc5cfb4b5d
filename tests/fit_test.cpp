// The fit of the sky's J and N: back to the inputs from counts with no
// noise, honest intervals on a few pseudo-experiments, and the measurements
// read as data.
#include "fit/fit.h"
#include "integral/exact_rates.h"
#include "simulation/sky.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <sstream>
#include <string>
#include <vector>

namespace {

telescope pair(double w, double l, double t, double dx, double dy) {
  return paddle_telescope({w, l, t, 0, 0, 0}, {w, l, t, 0, 0, 0}, dx, dy);
}

counters plain() {
  counters c{};
  for (double &p : c.detection) {
    p = 1.0;
  }
  c.window_ns = NAN;
  return c;
}

std::vector<setting> tilt_scan(double distance, double azimuth,
                               double seconds) {
  std::vector<setting> settings;
  for (const double tilt : {0.0, 15.0, 30.0, 45.0, 60.0, 75.0, 90.0}) {
    settings.push_back({tilt, azimuth, distance, {3, 0}, "all", 0, seconds, 0});
  }
  return settings;
}

fit_problem problem_of(const telescope &scope, const counters &c,
                       std::vector<setting> settings, model_method method,
                       double drawn_at) {
  fit_problem p{false, scope, c, std::move(settings), {}};
  for (std::size_t i = 0; i < p.settings.size(); ++i) {
    p.models.push_back(model_setting(scope, c, p.settings[i], cos_sky(2),
                                     method, drawn_at, 1,
                                     static_cast<std::uint32_t>(i), 2e5));
  }
  return p;
}

// A table row: its layout is the rows' order, not the smallest.
struct exact_case { // NOLINT(clang-analyzer-optin.performance.Padding)
  const char *name;
  telescope scope;
  counters counter;
  std::vector<setting> settings;
  model_method method;
  double flux, exponent;
  bool intensity, exponent_fixed;
};

counters noisy() {
  counters c = plain();
  c.detection[0] = 0.9;
  c.detection[1] = 0.8;
  c.noise_hz[0] = 300;
  c.noise_hz[1] = 500;
  c.window_ns = 200;
  return c;
}

// Guards against a likelihood, a minimiser or an interpolation in N that
// does not give back what made the counts: counts that are the model's
// rates times long times (rounded to whole counts of some 10^8), and no
// noise, return J (or I) and N to 1e-6. For the integral the counts come
// from the integral itself at N, not from the interpolation the fit uses.
TEST(fit_sky, returns_the_inputs_from_counts_without_noise) {
  std::vector<setting> distances;
  for (const double d : {5.0, 10.0, 20.0, 40.0}) {
    distances.push_back({0, 0, d, {3, 0}, "all", 0, 1e8, 0});
  }
  const exact_case cases[] = {
      {"5x5 pair at 3 cm", pair(5, 5, 0, 0, 0), plain(), tilt_scan(3, 0, 1e8),
       model_method::integral, 1.0, 2.0, false, false},
      {"10x31 pair at 20 cm, I", pair(10, 31, 0, 0, 0), plain(),
       tilt_scan(20, 0, 1e8), model_method::integral, 70.0, 1.85, true, false},
      {"tilted offset pair", pair(10, 10, 0, 4, -2), plain(),
       tilt_scan(8, 30, 1e8), model_method::integral, 0.8, 2.3, false, false},
      {"distances, N fixed", paddle_pair, plain(), distances,
       model_method::integral, 1.2, 2.0, false, true},
      {"detection and accidentals", pair(5, 5, 0, 0, 0), noisy(),
       tilt_scan(3, 0, 1e8), model_method::integral, 1.0, 2.0, false, false},
      {"5x5x1 pair, Monte Carlo", pair(5, 5, 1, 0, 0), plain(),
       tilt_scan(3, 0, 1e8), model_method::monte_carlo, 1.0, 2.0, false, false},
      // Some 1e11 counts a row: -2 ln L must still tell a rise of 1.
      {"10x31 pair, the longest times", pair(10, 31, 0, 0, 0), plain(),
       tilt_scan(20, 0, live_time_max_s), model_method::integral, 1.0, 2.0,
       false, false},
  };
  for (const exact_case &c : cases) {
    fit_problem p =
        problem_of(c.scope, c.counter, c.settings, c.method, c.exponent);
    p.intensity = c.intensity;
    const double flux =
        c.intensity ? flux_of_intensity(c.flux, c.exponent) : c.flux;
    for (std::size_t i = 0; i < p.settings.size(); ++i) {
      setting &s = p.settings[i];
      double hz = model_hz(p, i, c.flux, c.exponent);
      if (c.method == model_method::integral &&
          std::isnan(c.counter.window_ns)) {
        hz = flux *
             exact_crossings(c.scope, s.distance_cm,
                             {s.tilt_deg, s.tilt_azimuth_deg}, c.exponent,
                             zenith_law::cos_squared)[3] /
             60;
      }
      s.coincidences = std::round(hz * s.live_time_s);
    }
    const fit_result r = fit_sky(p, c.exponent_fixed, c.exponent);
    EXPECT_NEAR(r.flux, c.flux, 1e-6 * c.flux) << c.name;
    EXPECT_NEAR(r.exponent, c.exponent, 1e-6) << c.name;
    EXPECT_LT(r.deviance, 1e-3) << c.name;
    // Counts this many make -ln L a parabola: each profile interval is the
    // curvature's error either side, and the flux fitted at a nearby fixed
    // N moves along the ridge as -f_JN / f_JJ = rho sigma_J / sigma_N.
    EXPECT_NEAR(r.flux_range.high - r.flux_range.low, 2 * r.flux_error,
                0.02 * r.flux_error)
        << c.name;
    if (!c.exponent_fixed) {
      EXPECT_NEAR(r.exponent_range.high - r.exponent_range.low,
                  2 * r.exponent_error, 0.02 * r.exponent_error)
          << c.name;
      const double ridge =
          (fit_sky(p, true, r.exponent + 1e-3).flux - r.flux) / 1e-3;
      const double scale = r.flux_error / r.exponent_error;
      EXPECT_NEAR(ridge, r.correlation * scale, 0.02 * scale) << c.name;
    }
  }
}

// A few pseudo-experiments of a 5x5 pair at 3 cm tilted from 0 to 90:
// counts drawn from known J and N with Poisson noise, some 2000 each. The
// intervals must contain the truth about as often as 68% would, and the
// fitted N scatter around the truth. (bench/fit-coverage runs hundreds.)
TEST(fit_sky, intervals_cover_the_truth_in_pseudo_experiments) {
  const double flux = 1.0, exponent = 2.0;
  fit_problem p = problem_of(pair(5, 5, 0, 0, 0), plain(), tilt_scan(3, 0, 600),
                             model_method::integral, exponent);
  std::vector<double> expected;
  for (std::size_t i = 0; i < p.settings.size(); ++i) {
    expected.push_back(model_hz(p, i, flux, exponent) * 600 * 30);
  }
  for (setting &s : p.settings) {
    s.live_time_s = 600 * 30;
  }
  std::mt19937_64 random(2026);
  constexpr int experiments = 40;
  int flux_covered = 0, exponent_covered = 0;
  double pull_sum = 0.0;
  for (int e = 0; e < experiments; ++e) {
    for (std::size_t i = 0; i < p.settings.size(); ++i) {
      p.settings[i].coincidences = static_cast<double>(
          std::poisson_distribution<long long>(expected[i])(random));
    }
    const fit_result r = fit_sky(p, false, 0);
    flux_covered += r.flux_range.low <= flux && flux <= r.flux_range.high;
    exponent_covered +=
        r.exponent_range.low <= exponent && exponent <= r.exponent_range.high;
    pull_sum += (r.exponent - exponent) / r.exponent_error;
  }
  // 68% of 40 is 27, with a binomial spread of 3.
  EXPECT_NEAR(flux_covered, 27, 9);
  EXPECT_NEAR(exponent_covered, 27, 9);
  EXPECT_NEAR(pull_sum / experiments, 0, 0.6);
}

struct model_case {
  const char *name;
  telescope scope;
  counters counter;
  setting where;
  double drawn_at, exponent;
};

// Guards against a Monte Carlo model that is right only where it was
// drawn: tracks drawn at one N and weighted to another, and the layers
// below the top that chance coincidences need, against the integral. The
// noise makes the accidentals of layers 2 and 3, crossed by tracks that
// miss the top, a fifth of the third row's rate.
TEST(model_setting, monte_carlo_agrees_with_the_integral) {
  telescope three = pair(5, 5, 0, 0, 0);
  three.count = 3;
  three.layers[1] = {20, 20, 0, -5, -5, 2};
  three.layers[2] = {20, 20, 0, -5, -5, 0};
  counters noise = plain();
  noise.noise_hz[0] = 1e4;
  noise.window_ns = 1000;
  const setting tilted{40, 30, 3, {3, 0}, "all", 0, 1, 0};
  const model_case cases[] = {
      {"5x5 pair tilted, to a wider sky", pair(5, 5, 0, 0, 0), plain(), tilted,
       2, 1},
      {"5x5 pair tilted, to a narrower sky", pair(5, 5, 0, 0, 0), plain(),
       tilted, 2, 3.5},
      {"three layers with accidentals",
       three,
       noise,
       {0, 0, 4, {7, 0}, "all", 0, 1, 0},
       2,
       2},
  };
  for (const model_case &c : cases) {
    const fit_problem mc = problem_of(c.scope, c.counter, {c.where},
                                      model_method::monte_carlo, c.drawn_at);
    const fit_problem exact = problem_of(c.scope, c.counter, {c.where},
                                         model_method::integral, c.drawn_at);
    const double expected = model_hz(exact, 0, 1, c.exponent);
    EXPECT_NEAR(model_hz(mc, 0, 1, c.exponent), expected,
                4 * model_error(mc.models[0], c.exponent) * expected)
        << c.name;
  }
}

struct file_case {
  const char *name;
  std::string text;
  const char *problem; // how the refusal begins, "" when the file is good
};

const std::string header = "tilt_deg,distance_cm,coincidences,live_time_s\n";

// Guards against a field taken that is not what it claims, and against
// text of the file reaching a message unmasked: each refusal names the
// line and the field.
TEST(read_settings, takes_good_files_and_refuses_bad_fields) {
  const file_case cases[] = {
      {"good", header + "0,3,100,60\n30,3,80,60\n", ""},
      {"blanks around fields",
       "tilt_deg, distance_cm,\tcoincidences ,live_time_s\n0, 3, 100, 60\n",
       ""},
      {"blank field", header + "0, ,100,60\n",
       "m.csv:2: distance_cm '' is not"},
      {"columns in any order, optional ones, comments, CRLF",
       "# our telescope\r\nrequire,live_time_s,coincidences,distance_cm,"
       "tilt_azimuth_deg,tilt_deg\r\n\r\nall,60,100,3,90,0\r\n",
       ""},
      {"empty", "", "m.csv: no header and no settings"},
      {"header only", header, "m.csv: no settings below the header"},
      {"missing column", "tilt_deg,distance_cm,coincidences\n0,3,1\n",
       "m.csv:1: the header names no column live_time_s"},
      {"unknown column", header.substr(0, header.size() - 1) + ",live\n",
       "m.csv:1: column 'live' is not one of"},
      {"column twice",
       "tilt_deg,tilt_deg,distance_cm,coincidences,"
       "live_time_s\n",
       "m.csv:1: column 'tilt_deg' is named twice"},
      {"fields", header + "0,3,100\n",
       "m.csv:2: 3 fields where the header has 4"},
      {"tilt beyond", header + "95,3,100,60\n",
       "m.csv:2: tilt_deg '95' is not a tilt from 0 to 90"},
      {"tilt a word", header + "flat,3,100,60\n", "m.csv:2: tilt_deg 'flat'"},
      {"distance not finite", header + "0,inf,100,60\n",
       "m.csv:2: distance_cm 'inf' is not a finite number"},
      {"count negative", header + "0,3,-1,60\n",
       "m.csv:2: coincidences '-1' is not a whole number of 0 or more"},
      {"count not whole", header + "0,3,1.5,60\n",
       "m.csv:2: coincidences '1.5'"},
      {"count in exponent notation", header + "0,3,1e3,60\n",
       "m.csv:2: coincidences '1e3'"},
      {"time 0", header + "0,3,10,0\n",
       "m.csv:2: live_time_s '0' is not a finite number of seconds above 0"},
      {"time with a unit", header + "0,3,10,60s\n",
       "m.csv:2: live_time_s '60s'"},
      {"bytes masked", header + "0,3\x1b[2J,10,60\n",
       "m.csv:2: distance_cm '3?[2J' is not"},
      {"requirement of a layer not there",
       "tilt_deg,distance_cm,coincidences,live_time_s,require\n0,3,1,1,1+3\n",
       "m.csv:2: requirement '1+3' asks for more than the 2 layers"},
      {"requirement of a layer not there, named first",
       "tilt_deg,distance_cm,coincidences,live_time_s,require\n0,3,1,1,3+1\n",
       "m.csv:2: requirement '3+1' asks for more than the 2 layers"},
      {"a distance into the upper box", header + "0,-1,10,60\n",
       "m.csv:2: distance -1 would put the lower paddle into the upper one"},
      {"a spreadsheet's byte-order mark", "\xEF\xBB\xBF" + header + "0,3,1,1\n",
       ""},
      {"fields separated by ';'",
       "tilt_deg;distance_cm;coincidences;live_time_s\n0;3;1;1\n",
       "m.csv:1: fields separated by ';': write them with ','"},
      {"more counts than a fit can honour",
       header + "0,3,9007199254740993,60\n",
       "m.csv:2: coincidences '9007199254740993' is more than 1e12"},
      {"a time beyond", header + "0,3,10,1e300\n",
       "m.csv:2: live_time_s '1e300' is not from 0.001 s to 1e10 s"},
      {"a time too short", header + "0,3,10,1e-300\n",
       "m.csv:2: live_time_s '1e-300' is not from 0.001 s to 1e10 s"},
      {"counters per row",
       "tilt_deg,distance_cm,coincidences,live_time_s,detection,noise_hz,"
       "window_ns\n0,3,1,1,0.9;0.8,30;40,100\n0,3,1,1,,,\n",
       ""},
      {"detection of one layer of two",
       "tilt_deg,distance_cm,coincidences,live_time_s,detection\n0,3,1,1,0.9\n",
       "m.csv:2: detection '0.9' is not a probability from 0 to 1 for each of "
       "the 2 layers"},
      {"noise below 0",
       "tilt_deg,distance_cm,coincidences,live_time_s,noise_hz\n0,3,1,1,1;-1\n",
       "m.csv:2: noise_hz '1;-1' is not a rate"},
      {"a window that is a word",
       "tilt_deg,distance_cm,coincidences,live_time_s,window_ns\n0,3,1,1,"
       "wide\n",
       "m.csv:2: window_ns 'wide' is not a window"},
  };
  const telescope scope = pair(5, 5, 1, 0, 0);
  for (const file_case &c : cases) {
    std::istringstream in(c.text);
    std::vector<setting> settings;
    const std::string problem = read_settings(
        in, "m.csv", scope, {0, {3, 0}, "all", plain()},
        [](const telescope &, double d) -> std::string {
          return d < 0 ? "distance " + std::to_string(static_cast<int>(d)) +
                             " would put the lower paddle into the upper one"
                       : "";
        },
        settings);
    EXPECT_EQ(problem.rfind(c.problem, 0), 0U) << c.name << ": " << problem;
    EXPECT_EQ(problem.empty(), *c.problem == '\0') << c.name;
  }
}

// The naive fit of R0 cos^N(tilt): for rates that are exactly R0 cos^N, it
// gives N back.
TEST(fit_naively, gives_back_a_pure_cos_n) {
  std::vector<setting> settings = tilt_scan(10, 0, 1e6);
  for (setting &s : settings) {
    s.coincidences = std::round(
        1e6 * 0.5 *
        std::pow(std::cos(s.tilt_deg * 3.14159265358979 / 180), 1.7));
  }
  settings.pop_back(); // 90 degrees: nothing expected, nothing counted
  const naive_fit n = fit_naively(settings);
  ASSERT_TRUE(n.valid);
  EXPECT_NEAR(n.exponent, 1.7, 1e-4);
  EXPECT_NEAR(n.rate_per_minute, 30, 1e-3);
  // Its interval is where chi^2 rises by 1: for rates this exact, half its
  // width is the least-squares error of N, from the inverse of the
  // weighted sums of the model's slopes in R0 and N.
  double rr = 0, rn = 0, nn = 0;
  const double r0 = 0.5 / 60 * 1e6 / 1e6 * 60; // per second: 0.5
  for (const setting &s : settings) {
    const double c = std::cos(s.tilt_deg * 3.14159265358979 / 180);
    const double weight = s.live_time_s * s.live_time_s / s.coincidences;
    const double d_r0 = std::pow(c, 1.7), d_n = r0 * d_r0 * std::log(c);
    rr += weight * d_r0 * d_r0;
    rn += weight * d_r0 * d_n;
    nn += weight * d_n * d_n;
  }
  const double error = std::sqrt(rr / (rr * nn - rn * rn));
  EXPECT_NEAR((n.exponent_range.high - n.exponent_range.low) / 2, error,
              0.02 * error);
  EXPECT_FALSE(n.at_edge);
  EXPECT_EQ(n.counted_at_90, 0);
}

// Guards against a Monte Carlo model's error that counts tracks weighted
// to a far sky as if each were one: drawn at N = 2 and weighted to N = 8,
// few tracks carry the rate, and the spread of the model over seeds is
// what its weighted error says.
TEST(model_setting, weighted_error_is_the_spread_over_seeds) {
  const telescope scope = pair(5, 5, 1, 0, 0);
  setting s{60, 0, 3, {3, 0}, "all", 100, 600, 0};
  constexpr int seeds = 16;
  double sum = 0, squares = 0, stated = 0;
  for (int seed = 1; seed <= seeds; ++seed) {
    fit_problem p{false, scope, plain(), {s}, {}};
    p.models.push_back(model_setting(scope, plain(), s, cos_sky(2),
                                     model_method::monte_carlo, 2,
                                     static_cast<std::uint32_t>(seed), 0, 2e5));
    const double hz = model_hz(p, 0, 1, 8);
    sum += hz;
    squares += hz * hz;
    stated += model_error(p.models[0], 8) / seeds;
  }
  const double mean = sum / seeds;
  const double spread =
      std::sqrt((squares / seeds - mean * mean) * seeds / (seeds - 1)) / mean;
  // The spread of 16 samples is known to about 18%.
  EXPECT_NEAR(stated, spread, 0.5 * spread);
}

} // namespace
