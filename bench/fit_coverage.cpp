// Pseudo-experiments of the fit: for three telescopes, counts drawn with
// Poisson noise from a known sky, fitted, and how often the 68% intervals
// hold the truth, how far the fitted N lies from it on average, and what
// the naive fit of cos^N gives beside it; then the same with a background
// beside the sky, and under the muon spectrum, whose normalisation A and
// index n are fitted.
//   build/release/bench/fit_coverage [EXPERIMENTS [TIMES]]
// TIMES multiplies every counting time (1 by default): the bias of maximum
// likelihood goes as 1/counts.
#include "fit/fit.h"
#include "simulation/muon_spectrum.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <vector>

namespace {

struct study {
  const char *name;
  telescope scope;
  double distance_cm, azimuth_deg;
  double seconds; // at each tilt
  // Coincidences a minute that no sky gives, added to every setting and
  // fitted beside the sky where there are any.
  double background_per_minute;
  // The cos^2 sky of J = 1 by default; else the spectrum (A = 1, its
  // paper's index) with its matter.
  sky_model sky = cos_sky(2.0);
};

// The spectrum under `grams_cm2` of concrete.
sky_model spectrum_under(double grams_cm2) {
  sky_model sky;
  sky.law = sky_law::spectrum;
  sky.exponent = paper_index;
  sky.overburden_count = grams_cm2 > 0.0 ? 1 : 0;
  sky.overburden[0] = {material::shielding_concrete, grams_cm2};
  return sky;
}

telescope pair(double w, double l, double dx, double dy) {
  return paddle_telescope({w, l, 0, 0, 0, 0}, {w, l, 0, 0, 0, 0}, dx, dy);
}

} // namespace

int main(int argc, char **argv) {
  const int experiments = argc > 1 ? std::atoi(argv[1]) : 200;
  const double times = argc > 2 ? std::atof(argv[2]) : 1.0;
  const study studies[] = {
      {"5x5 pair at 3 cm", pair(5, 5, 0, 0), 3, 0, 600, 0},
      {"10x31 pair at 20 cm", pair(10, 31, 0, 0), 20, 0, 300, 0},
      {"10x10 pair shifted 4,-2, 8 cm, leaning to 30 deg", pair(10, 10, 4, -2),
       8, 30, 300, 0},
      {"10x31 pair at 20 cm, a background of 2 a minute", pair(10, 31, 0, 0),
       20, 0, 300, 2},
      {"5x5 pair at 3 cm, a background of 1 a minute", pair(5, 5, 0, 0), 3, 0,
       600, 1},
      {"5x5 pair at 3 cm under the spectrum", pair(5, 5, 0, 0), 3, 0, 600, 0,
       spectrum_under(0)},
      {"10x31 pair at 20 cm under the spectrum and 69 g/cm^2 of concrete",
       pair(10, 31, 0, 0), 20, 0, 300, 0, spectrum_under(69)},
  };
  std::printf("%d pseudo-experiments each; truth J = 1 cm^-2 min^-1, N = 2, "
              "or the spectrum's A = 1, n = %g; tilts 0 to 90 in steps of "
              "15\n\n",
              experiments, paper_index);
  for (const study &s : studies) {
    const bool spectrum = s.sky.law == sky_law::spectrum;
    const double flux = 1.0, exponent = s.sky.exponent; // the truth
    counters c{};
    for (double &p : c.detection) {
      p = 1.0;
    }
    c.window_ns = NAN;
    fit_problem p{false, s.scope, c, {}, {}};
    p.sky = s.sky;
    const double background = s.background_per_minute;
    p.background =
        background > 0 ? background_kind::free : background_kind::none;
    for (const double tilt : {0.0, 15.0, 30.0, 45.0, 60.0, 75.0, 90.0}) {
      p.settings.push_back({tilt,
                            s.azimuth_deg,
                            s.distance_cm,
                            {3, 0},
                            "all",
                            0,
                            s.seconds * times,
                            0});
    }
    for (std::size_t i = 0; i < p.settings.size(); ++i) {
      p.models.push_back(model_setting(p.scope, c, p.settings[i], s.sky,
                                       model_method::integral, exponent, 1,
                                       static_cast<std::uint32_t>(i), 0));
    }
    std::vector<double> expected;
    double total = 0;
    for (std::size_t i = 0; i < p.settings.size(); ++i) {
      expected.push_back((model_hz(p, i, flux, exponent) + background / 60) *
                         s.seconds * times);
      total += expected.back();
    }
    std::mt19937_64 random(20261208);
    int flux_in = 0, exponent_in = 0, background_in = 0;
    double background_sum = 0;
    double sum = 0, squares = 0, naive = 0, seconds = 0;
    for (int e = 0; e < experiments; ++e) {
      for (std::size_t i = 0; i < p.settings.size(); ++i) {
        p.settings[i].coincidences = static_cast<double>(
            std::poisson_distribution<long long>(expected[i])(random));
      }
      const auto start = std::chrono::steady_clock::now();
      const fit_result r = fit_sky(p, false, 0);
      seconds += std::chrono::duration<double>(
                     std::chrono::steady_clock::now() - start)
                     .count();
      flux_in += r.flux_range.low <= flux && flux <= r.flux_range.high;
      exponent_in +=
          r.exponent_range.low <= exponent && exponent <= r.exponent_range.high;
      background_in += r.background_range.low <= background &&
                       background <= r.background_range.high;
      background_sum += r.background;
      sum += r.exponent;
      squares += r.exponent * r.exponent;
      naive += fit_naively(p.settings).exponent;
    }
    const double mean = sum / experiments;
    const double spread = std::sqrt(squares / experiments - mean * mean);
    std::printf("%s, %.0f counts an experiment:\n", s.name, total);
    std::printf("  %s's interval holds the truth in %.1f%%, %s's in %.1f%% "
                "(68%% +- %.1f%% expected)\n",
                spectrum ? "A" : "J", 100.0 * flux_in / experiments,
                spectrum ? "n" : "N", 100.0 * exponent_in / experiments,
                100.0 * std::sqrt(0.68 * 0.32 / experiments));
    std::printf("  mean fitted %s %.4f +- %.4f (spread %.3f); naive cos^N "
                "fit's mean N %.3f\n",
                spectrum ? "n" : "N", mean, spread / std::sqrt(experiments),
                spread, naive / experiments);
    if (background > 0) {
      std::printf("  the background's interval holds it in %.1f%%; mean "
                  "fitted background %.3f a minute\n",
                  100.0 * background_in / experiments,
                  background_sum / experiments);
    }
    std::printf("  %.0f ms a fit\n\n", 1000 * seconds / experiments);
  }
  return 0;
}
