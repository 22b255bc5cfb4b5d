// The integral over directions against closed forms that owe nothing to it,
// and against the Monte Carlo.
#include "integral/exact_rates.h"
#include "pass_runner.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <vector>

namespace {

constexpr double pi = 3.14159265358979323846;

telescope pair(double w1, double l1, double w2, double l2, double dx,
               double dy) {
  return paddle_telescope({w1, l1, 0, 0, 0, 0}, {w2, l2, 0, 0, 0, 0}, dx, dy);
}

// Rate per minute at J = 1 of lines through both of two identical a x b
// rectangles l apart, under the cos^2 sky: 2G/pi with G of the acceptance's
// closed form.
double cos_squared_pair(double a, double b, double l) {
  const double sa = std::sqrt(a * a + l * l), sb = std::sqrt(b * b + l * l);
  const double g = a * (2 * b * b + l * l) / (2 * sb) * std::atan(a / sb) +
                   b * (2 * a * a + l * l) / (2 * sa) * std::atan(b / sa) -
                   a * l / 2 * std::atan(a / l) - b * l / 2 * std::atan(b / l);
  return 2 * g / pi;
}

// The same under an isotropic sky, N = 0: Sullivan's geometric factor over
// pi, times the flux's 2/(N+2) = 1 per steradian-weighted unit.
double isotropic_sky_pair(double a, double b, double l) {
  const double x = a / l, y = b / l;
  const double sx = std::sqrt(1 + x * x), sy = std::sqrt(1 + y * y);
  return 2 * l * l / pi *
         (std::log(sx * sy / std::sqrt(1 + x * x + y * y)) +
          x * sy * std::atan(x / sy) + y * sx * std::atan(y / sx) -
          x * std::atan(x) - y * std::atan(y));
}

struct closed_case {
  double a, b, l, exponent;
};

// Guards against a wrong weight, a missed cell, a grid line out of place or
// a rule too coarse for the span of slopes: identical paddles against their
// closed forms, to 1e-9. (Far apart, the closed forms themselves lose their
// digits to cancellation in doubles.)
TEST(exact_crossings, matches_closed_forms) {
  const closed_case cases[] = {
      {10, 31, 0.5, 2},
      {10, 31, 5, 2},
      {10, 31, 40, 2},
      {5, 5, 3, 2},
      {25, 25, 30, 2},
      {10, 31, 5, 0},
      {5, 5, 1, 0},
      {40, 3, 12, 0},
      // A hair apart: the slopes span millions.
      {10, 31, 1e-5, 2},
      {10, 31, 1e-5, 0},
      {5, 5, 1e-3, 2},
  };
  for (const closed_case &c : cases) {
    const double expected = c.exponent == 2 ? cos_squared_pair(c.a, c.b, c.l)
                                            : isotropic_sky_pair(c.a, c.b, c.l);
    const double rate =
        exact_crossings(pair(c.a, c.b, c.a, c.b, 0, 0), c.l, {0, 0}, c.exponent,
                        zenith_law::cos_squared)[3];
    EXPECT_NEAR(rate, expected, 1e-9 * expected)
        << c.a << "x" << c.b << " at " << c.l << ", N " << c.exponent;
  }
}

// A narrow telescope sees one direction: tilted, its rate follows cos^N of
// the tilt, to about (N tan(alpha))^2 times the square of its half-opening
// (1/300 rad here), some 5e-4 at most.
TEST(exact_crossings, narrow_telescope_follows_the_sky) {
  const telescope narrow = pair(1, 1, 1, 1, 0, 0);
  for (const double exponent : {1.85, 2.0, 3.3}) {
    const double upright = exact_crossings(narrow, 300, {0, 0}, exponent,
                                           zenith_law::cos_squared)[3];
    for (const double alpha : {20.0, 50.0, 70.0}) {
      const double tilted = exact_crossings(narrow, 300, {alpha, 35}, exponent,
                                            zenith_law::cos_squared)[3];
      const double expected = std::pow(std::cos(alpha * pi / 180), exponent);
      EXPECT_NEAR(tilted / upright, expected, 1e-3 * expected)
          << "N " << exponent << " at " << alpha;
    }
  }
}

struct monte_carlo_case {
  const char *name;
  telescope scope;
  tilt lean;
  double exponent, distance_cm;
  zenith_law law;
};

telescope three(double middle_depth, double dx, double dy) {
  telescope scope = pair(10, 10, 10, 10, 1, -1);
  scope.count = 3;
  scope.layers[2] = scope.layers[1];
  scope.layers[1] = {6, 8, 0, dx, dy, middle_depth};
  return scope;
}

// Guards against a set given the wrong cells, a tilt the wrong way, a
// horizon split in the wrong place or the isotropic law's weight: the rate
// of every set of two or more layers against the Monte Carlo's, from every
// pass it needs, within four standard deviations.
TEST(exact_crossings, agrees_with_the_monte_carlo) {
  const monte_carlo_case cases[] = {
      {"10x31 pair", paddle_pair, {0, 0}, 2, 10, zenith_law::cos_squared},
      {"different sizes, shifted",
       pair(10, 31, 20, 20, 3, -4),
       {0, 0},
       1.85,
       15,
       zenith_law::cos_squared},
      {"tilted, shifted",
       pair(10, 31, 20, 20, 3, -4),
       {40, 30},
       1.85,
       15,
       zenith_law::cos_squared},
      {"on its side",
       pair(5, 5, 5, 5, 2, 0),
       {90, 0},
       2.2,
       3,
       zenith_law::cos_squared},
      {"across the horizon",
       pair(10, 10, 10, 10, 8, 0),
       {70, 10},
       1.5,
       4,
       zenith_law::cos_squared},
      {"three layers", three(3, 2, 1), {0, 0}, 2, 7, zenith_law::cos_squared},
      {"three layers, tilted",
       three(2, -1, 3),
       {35, 200},
       1.85,
       6,
       zenith_law::cos_squared},
      {"directions uniform per track",
       pair(10, 31, 8, 8, 1, 5),
       {0, 0},
       2,
       10,
       zenith_law::isotropic},
  };
  constexpr std::int32_t muons = 400000;
  for (const monte_carlo_case &c : cases) {
    const std::vector<double> exact =
        exact_crossings(c.scope, c.distance_cm, c.lean, c.exponent, c.law);
    const bool flux = c.law == zenith_law::cos_squared;
    std::vector<double> rate(exact.size()), variance(exact.size());
    for (int source = 0; source < (flux ? c.scope.count - 1 : 1); ++source) {
      // Per muon: the flux through the layer's box, or a share of the
      // muons through the top.
      const double per_muon =
          (flux ? box_flux_area(c.scope.layers[source], c.lean, c.exponent)
                : 1.0) /
          muons;
      const std::vector<std::int64_t> sets =
          run_pass(c.scope, c.law, c.exponent, c.lean, source, {c.distance_cm},
                   muons)[0];
      for (std::size_t set = 0; set < sets.size(); ++set) {
        rate[set] += per_muon * static_cast<double>(sets[set]);
        variance[set] += per_muon * per_muon * static_cast<double>(sets[set]);
      }
    }
    for (std::size_t set = 3; set < exact.size(); ++set) {
      if ((set & (set - 1)) != 0 && (flux || (set & 1U) != 0)) {
        EXPECT_NEAR(exact[set], rate[set], 4 * std::sqrt(variance[set]) + 1e-12)
            << c.name << ", layers " << set;
      }
    }
  }
}

} // namespace
