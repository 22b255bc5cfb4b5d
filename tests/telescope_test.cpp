// Telescopes of any size, offset and tilt, under any cos^N sky, against
// closed forms that owe nothing to the code under test.
#include "pass_runner.h"
#include "simulation/telescope.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <random>

namespace {

constexpr double pi = 3.14159265358979323846;

double cos_deg(double degrees) {
  return std::cos(degrees * pi / 180);
}

// Two thin paddles: the upper one's width and length, the lower one's, and
// where the lower one's corner lies from the upper one's.
struct pair_spec {
  double top_width_cm, top_length_cm, bottom_width_cm, bottom_length_cm;
  double offset_x_cm, offset_y_cm;
};

telescope pair(const pair_spec &p) {
  return paddle_telescope({p.top_width_cm, p.top_length_cm, 0, 0, 0, 0},
                          {p.bottom_width_cm, p.bottom_length_cm, 0, 0, 0, 0},
                          p.offset_x_cm, p.offset_y_cm);
}

// The efficiency of one pass through the upper paddle, as velmora-curve
// throws it: the horizontal trial at tilt 0, the tilted sampler otherwise.
double efficiency(const telescope &scope, const tilt &lean, double exponent,
                  double distance_cm, std::int32_t muons) {
  const std::size_t both = (std::size_t{1} << scope.count) - 1;
  return static_cast<double>(run_pass(scope, zenith_law::cos_squared, exponent,
                                      lean, 0, {distance_cm}, muons)[0][both]) /
         muons;
}

double binomial_sigma(double p, std::int32_t muons) {
  return std::sqrt(p * (1 - p) / muons);
}

struct overlap_case {
  pair_spec scope;
  tilt lean;
  double overlap_cm2; // of the two footprints
};

// Guards against a wrong offset, swapped footprints or an entry point drawn
// on the wrong paddle: at distance 0 a track lands where it enters, so the
// efficiency is the overlap over the upper paddle's area, tilted or not.
TEST(telescope, efficiency_at_distance_0_is_the_overlap) {
  const overlap_case cases[] = {
      {{10, 31, 10, 31, 3, -5}, {0, 0}, 7 * 26},
      {{10, 31, 6, 20, 2, 4}, {0, 0}, 6 * 20},
      {{10, 31, 6, 20, 2, 4}, {40, 30}, 6 * 20},
      {{5, 5, 5, 5, 2.5, 0}, {70, 0}, 2.5 * 5},
      {{5, 5, 5, 5, 6, 0}, {0, 0}, 0},
  };
  constexpr std::int32_t muons = 200000;
  for (const overlap_case &c : cases) {
    const double expected =
        c.overlap_cm2 / (c.scope.top_width_cm * c.scope.top_length_cm);
    EXPECT_NEAR(efficiency(pair(c.scope), c.lean, 2, 0, muons), expected,
                4 * binomial_sigma(expected, muons) + 1e-12)
        << "offset " << c.scope.offset_x_cm << "," << c.scope.offset_y_cm
        << " tilt " << c.lean.angle_deg;
  }
}

// Sullivan's geometric factor of two identical parallel a x b rectangles l
// apart, over pi a b: the efficiency for an isotropic sky (N = 0), whose
// flux through a plane goes as cos(theta).
double sullivan_efficiency(double a, double b, double l) {
  const double x = a / l, y = b / l;
  const double sx = std::sqrt(1 + x * x), sy = std::sqrt(1 + y * y);
  return 2 / (pi * x * y) *
         (std::log(sx * sy / std::sqrt(1 + x * x + y * y)) +
          x * sy * std::atan(x / sy) + y * sx * std::atan(y / sx) -
          x * std::atan(x) - y * std::atan(y));
}

TEST(telescope, isotropic_sky_matches_sullivans_formula) {
  constexpr std::int32_t muons = 1000000;
  for (const double l : {5.0, 20.0, 60.0}) {
    const double expected = sullivan_efficiency(10, 31, l);
    EXPECT_NEAR(efficiency(paddle_pair, {0, 0}, 0, l, muons), expected,
                4 * binomial_sigma(expected, muons))
        << "distance " << l;
  }
}

struct narrow_case {
  tilt lean;
  double exponent;
  double offset_x_cm, offset_y_cm;
  double rate_ratio; // R(tilted) / R(horizontal, no offset)
};

// Guards against a wrong sky law, a wrong frame or a lean the wrong way: a
// telescope of 1 cm paddles 10 cm apart sees one direction only. Tilted,
// its rate follows cos^N of the tilt. Sheared so that the line through the
// centres stays vertical (the lower paddle moved ahead of the lean), both
// paddles tilted by alpha to that line, its rate is cos^4(alpha) of the
// untilted one, whatever N.
TEST(telescope, narrow_telescope_follows_the_sky) {
  constexpr std::int32_t muons = 1000000;
  constexpr double l = 10;
  const double shear = l * std::tan(30 * pi / 180);
  const narrow_case cases[] = {
      {{45, 0}, 2, 0, 0, std::pow(cos_deg(45), 2)},
      {{60, 0}, 1.85, 0, 0, std::pow(cos_deg(60), 1.85)},
      {{75, 90}, 2, 0, 0, std::pow(cos_deg(75), 2)},
      {{30, 0}, 2, shear, 0, std::pow(cos_deg(30), 4)},
      {{30, 90}, 2, 0, shear, std::pow(cos_deg(30), 4)},
      {{30, 180}, 1.85, -shear, 0, std::pow(cos_deg(30), 4)},
  };
  for (const narrow_case &c : cases) {
    const telescope scope = pair({1, 1, 1, 1, c.offset_x_cm, c.offset_y_cm});
    const telescope upright = pair({1, 1, 1, 1, 0, 0});
    const double e0 = efficiency(upright, {0, 0}, c.exponent, l, muons);
    const double e = efficiency(scope, c.lean, c.exponent, l, muons);
    // The rate is the efficiency times the flux through the upper paddle.
    const double ratio =
        e * tilted_flux_share(c.lean.angle_deg, c.exponent) / e0;
    const double sigma = ratio * std::sqrt(1 / (e * muons) + 1 / (e0 * muons));
    EXPECT_NEAR(ratio, c.rate_ratio, 4 * sigma)
        << "tilt " << c.lean.angle_deg << " toward " << c.lean.azimuth_deg
        << ", N " << c.exponent;
  }
}

struct reciprocity_case {
  const char *name;
  pair_spec first, second; // the second: the paddles swapped
  tilt first_lean, second_lean;
};

// Guards against a track counted in one order only, or a geometry that is
// not what it claims: the rate of a pair cannot depend on how it is
// described. A mirror image through the middle plane swaps the paddles and
// negates the offset; it keeps the sky of a horizontal telescope, and that
// of a tilted one when the lean turns by 180 degrees. A half turn about the
// midpoint keeps every line and so the sky: the paddles swap and the
// centres' offset stays.
TEST(telescope, swapping_the_paddles_keeps_the_rate) {
  const reciprocity_case cases[] = {
      {"mirror, horizontal",
       {10, 31, 20, 20, 3, -4},
       {20, 20, 10, 31, -3, 4},
       {0, 0},
       {0, 0}},
      {"mirror, tilted",
       {10, 31, 20, 20, 3, -4},
       {20, 20, 10, 31, -3, 4},
       {40, 30},
       {40, 210}},
      // A mirror image across the plane x-z keeps a lean toward +x: the
      // sky must send as many muons toward +y as toward -y.
      {"mirror across y, tilted",
       {10, 31, 10, 31, 0, 8},
       {10, 31, 10, 31, 0, -8},
       {30, 0},
       {30, 0}},
      {"half turn, tilted",
       {10, 31, 20, 20, 3, -4},
       {20, 20, 10, 31, 3 + 20 - 10, -4 + 20 - 31},
       {40, 30},
       {40, 30}},
  };
  constexpr std::int32_t muons = 1000000;
  constexpr double l = 15;
  for (const reciprocity_case &c : cases) {
    const double e1 = efficiency(pair(c.first), c.first_lean, 2, l, muons);
    const double e2 = efficiency(pair(c.second), c.second_lean, 2, l, muons);
    const double a1 = c.first.top_width_cm * c.first.top_length_cm;
    const double a2 = c.second.top_width_cm * c.second.top_length_cm;
    const double sigma = std::hypot(a1 * binomial_sigma(e1, muons),
                                    a2 * binomial_sigma(e2, muons));
    EXPECT_NEAR(e1 * a1, e2 * a2, 4 * sigma) << c.name;
  }
}

struct flux_case {
  double exponent, tilt_deg, share;
};

// The flux through a tilted paddle against closed forms: (1 + cos^2)/2 for
// N = 2; 1 at every tilt for N = 0 (either face of any plane sees half of
// an isotropic sky); and, standing upright, (N+2)(2/pi) times the integral
// of sin^2 cos^N, which is sqrt(pi)/4 Gamma((N+1)/2) / Gamma(N/2 + 2).
TEST(tilted_flux_share, matches_its_closed_forms) {
  const auto cos_squared = [](double a) {
    return (1 + cos_deg(a) * cos_deg(a)) / 2;
  };
  const auto upright = [](double n) {
    return (n + 2) * (2 / pi) * (std::sqrt(pi) / 4) * std::tgamma((n + 1) / 2) /
           std::tgamma(n / 2 + 2);
  };
  const flux_case cases[] = {
      {2, 0, 1},
      {2, 1e-6, cos_squared(1e-6)},
      {2, 30, cos_squared(30)},
      {2, 60, cos_squared(60)},
      {2, 89.9, cos_squared(89.9)},
      {2, 90, 0.5},
      {0, 50, 1},
      {0, 90, 1},
      {1, 90, 2 / pi},
      {1.85, 90, upright(1.85)},
      {3, 90, upright(3)},
      {0.5, 90, upright(0.5)},
  };
  for (const flux_case &c : cases) {
    EXPECT_NEAR(tilted_flux_share(c.tilt_deg, c.exponent), c.share,
                1e-9 * c.share)
        << "N " << c.exponent << " at " << c.tilt_deg;
  }
}

} // namespace
