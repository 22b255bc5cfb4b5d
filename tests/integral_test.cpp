// The integral over directions against closed forms that owe nothing to it,
// and against the Monte Carlo.
#include "integral/exact_rates.h"
#include "integral/spectrum_weight.h"
#include "pass_runner.h"
#include "simulation/altitude.h"
#include "simulation/matter.h"
#include "simulation/muon_range.h"
#include "simulation/muon_spectrum.h"
#include "simulation/sky.h"

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
  sky_model sky;
  double distance_cm;
  zenith_law law;
};

telescope three(double middle_depth, double dx, double dy) {
  telescope scope = pair(10, 10, 10, 10, 1, -1);
  scope.count = 3;
  scope.layers[2] = scope.layers[1];
  scope.layers[1] = {6, 8, 0, dx, dy, middle_depth};
  return scope;
}

// The sea-level spectrum under `grams_cm2` of `what` (none: 0).
sky_model spectrum_under(material what, double grams_cm2) {
  sky_model sky;
  sky.law = sky_law::spectrum;
  sky.exponent = paper_index;
  sky.overburden_count = grams_cm2 > 0.0 ? 1 : 0;
  sky.overburden[0] = {what, grams_cm2};
  return sky;
}

// 30 cm of shielding concrete, 2.3 g/cm^3.
const sky_model under_concrete =
    spectrum_under(material::shielding_concrete, 69);

// A slab across the whole telescope, as --absorber MATERIAL:T@DEPTH lays it.
telescope with_slab(telescope scope, material what, double thickness_cm,
                    double depth_cm) {
  scope.absorbers[scope.absorber_count++] = {
      what,
      {2 * absorber_across_cm, 2 * absorber_across_cm, thickness_cm,
       -absorber_across_cm, -absorber_across_cm, depth_cm}};
  return scope;
}

// Three 20 x 20 cm layers 8 cm apart and the bottom at 35 cm, with 5 cm of
// lead below the top and 20 cm below the middle.
telescope leaded_three() {
  telescope scope = pair(20, 20, 20, 20, 2, -1);
  scope.count = 3;
  scope.layers[2] = scope.layers[1];
  scope.layers[1] = {20, 20, 0, 1, 1, 8};
  return with_slab(with_slab(scope, material::lead, 5, 1), material::lead, 20,
                   10);
}

// Guards against a set given the wrong cells, a tilt the wrong way, a
// horizon split in the wrong place, the isotropic law's weight, or under
// the spectrum a wrong energy's weight, matter crossed the wrong way, an
// absorber's layers firing with the wrong energies, or a ring of zenith
// angle given the wrong arcs: the rate of every set of two or more layers
// against the Monte Carlo's, from every pass it needs, within four
// standard deviations.
TEST(exact_crossings, agrees_with_the_monte_carlo) {
  const monte_carlo_case cases[] = {
      {"10x31 pair",
       paddle_pair,
       {0, 0},
       cos_sky(2),
       10,
       zenith_law::cos_squared},
      {"different sizes, shifted",
       pair(10, 31, 20, 20, 3, -4),
       {0, 0},
       cos_sky(1.85),
       15,
       zenith_law::cos_squared},
      {"tilted, shifted",
       pair(10, 31, 20, 20, 3, -4),
       {40, 30},
       cos_sky(1.85),
       15,
       zenith_law::cos_squared},
      {"on its side",
       pair(5, 5, 5, 5, 2, 0),
       {90, 0},
       cos_sky(2.2),
       3,
       zenith_law::cos_squared},
      {"across the horizon",
       pair(10, 10, 10, 10, 8, 0),
       {70, 10},
       cos_sky(1.5),
       4,
       zenith_law::cos_squared},
      {"three layers",
       three(3, 2, 1),
       {0, 0},
       cos_sky(2),
       7,
       zenith_law::cos_squared},
      {"three layers, tilted",
       three(2, -1, 3),
       {35, 200},
       cos_sky(1.85),
       6,
       zenith_law::cos_squared},
      {"directions uniform per track",
       pair(10, 31, 8, 8, 1, 5),
       {0, 0},
       cos_sky(2),
       10,
       zenith_law::isotropic},
      {"spectrum, across the horizon",
       pair(10, 10, 10, 10, 8, 0),
       {70, 10},
       spectrum_under(material::water, 0),
       4,
       zenith_law::cos_squared},
      {"behind concrete",
       paddle_pair,
       {0, 0},
       under_concrete,
       10,
       zenith_law::cos_squared},
      {"behind concrete, tilted",
       pair(10, 31, 20, 20, 3, -4),
       {40, 30},
       under_concrete,
       15,
       zenith_law::cos_squared},
      {"behind concrete, on its side",
       pair(10, 10, 10, 10, 8, 0),
       {80, 10},
       under_concrete,
       4,
       zenith_law::cos_squared},
      {"5 cm of lead between a pair",
       with_slab(pair(20, 20, 20, 20, 3, 1), material::lead, 5, 1),
       {0, 0},
       spectrum_under(material::water, 0),
       15,
       zenith_law::cos_squared},
      {"lead 5 and 20 cm between three, behind concrete",
       leaded_three(),
       {0, 0},
       under_concrete,
       35,
       zenith_law::cos_squared},
  };
  constexpr std::int32_t muons = 400000;
  for (const monte_carlo_case &c : cases) {
    const std::vector<double> exact =
        exact_crossings(c.scope, c.distance_cm, c.lean, c.sky, c.law);
    const bool flux = c.law == zenith_law::cos_squared;
    std::vector<double> rate(exact.size()), variance(exact.size());
    for (int source = 0; source < (flux ? c.scope.count - 1 : 1); ++source) {
      // Per muon: the flux through the layer's box (of the muons drawn),
      // or a share of the muons through the top.
      const double per_muon =
          (flux ? box_flux_area(c.scope.layers[source], c.lean, c.sky) : 1.0) /
          muons;
      const std::vector<std::int64_t> sets = run_pass(
          c.scope, c.law, c.sky, c.lean, source, {c.distance_cm}, muons)[0];
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

// The flux through a horizontal surface, cm^-2 min^-1, of the sea-level
// muons that get through `grams_cm2` of `what`, by quadrature over the
// zenith cosine of the intensity above each direction's threshold: 2 pi
// times the integral of I(m + T(grams / c), c) c, T from the range table
// as muon_range.h inverts it. The range tables' rows make kinks in c,
// which 4096 five-point panels take to far below 1e-6; beyond the tables'
// last row (c below 0.002 here) lie some 1e-11 of the flux, left out.
// Tilted by alpha, a ring's |u.axis| = |a + b cos(psi)|, a = c cos(alpha),
// b = s sin(alpha), takes the place of c: over psi its mean is a where a >=
// b, else (2/pi)(a asin(a/b) + sqrt(b^2 - a^2)).
double flux_behind(material what, double grams_cm2, double index,
                   double tilt_deg) {
  constexpr int panels = 4096;
  static constexpr double x[3] = {0.0, 0.5384693101056831, 0.9061798459386640};
  static constexpr double w[3] = {0.5688888888888889, 0.4786286704993665,
                                  0.2369268850561891};
  const double up = std::cos(tilt_deg * pi / 180);
  const double aside = std::sin(tilt_deg * pi / 180);
  const auto f = [&](double c) {
    const double kinetic = kinetic_energy_to_cross_gev(what, grams_cm2 / c);
    const double a = c * up, b = std::sqrt(1 - c * c) * aside;
    const double across =
        a >= b ? a : 2 / pi * (a * std::asin(a / b) + std::sqrt(b * b - a * a));
    return std::isnan(kinetic)
               ? 0.0
               : intensity_above(muon_mass_gev + kinetic, c, index) * across;
  };
  double sum = 0.0;
  for (int k = 0; k < panels; ++k) {
    const double half = 0.5 / panels, middle = (k + 0.5) / panels;
    sum += half * w[0] * f(middle);
    for (int i = 1; i < 3; ++i) {
      sum += half * w[i] * (f(middle - half * x[i]) + f(middle + half * x[i]));
    }
  }
  return 2 * pi * sum * per_cm2_min_of_per_m2_s;
}

struct overburden_case {
  const char *name;
  material what;
  double grams_cm2, index;
  double dx, dy; // the lower paddle's shift
  double tilt_deg;
};

// Guards against a wrong threshold in zenith angle, a wrong weight's
// normalisation to the muons drawn, or a table of the weight read wrong
// between its kinks: two thin paddles at distance 0 count the flux through
// their common area of the muons that get through the overburden.
TEST(exact_crossings, behind_an_overburden_at_no_distance) {
  const overburden_case cases[] = {
      {"concrete, 30 cm", material::shielding_concrete, 69, paper_index, 0, 0,
       0},
      {"rock, 1 m", material::standard_rock, 265, paper_index, 0, 0, 0},
      {"water, 2 m, a steeper spectrum", material::water, 200, 3.6, 0, 0, 0},
      {"lead, 10 cm, shifted by 3 and 11 cm", material::lead, 113.5, 2.5, 3, 11,
       0},
      // Rings below c = sin(60 degrees) cross the paddles' plane.
      {"concrete, 30 cm, tilted 60 degrees", material::shielding_concrete, 69,
       paper_index, 0, 0, 60},
  };
  for (const overburden_case &c : cases) {
    sky_model sky = spectrum_under(c.what, c.grams_cm2);
    sky.exponent = c.index;
    const telescope scope = pair(10, 31, 10, 31, c.dx, c.dy);
    const double rate =
        drawn_flux(sky) * exact_crossings(scope, 0, {c.tilt_deg, 20}, sky,
                                          zenith_law::cos_squared)[3];
    const double expected =
        (10 - c.dx) * (31 - c.dy) *
        flux_behind(c.what, c.grams_cm2, c.index, c.tilt_deg);
    EXPECT_NEAR(rate, expected, 1e-6 * expected) << c.name;
  }
}

// Guards against the levels' bands fired on the wrong layers, or the rings
// of zenith angle that take the integral behind matter erring against the
// rectangles' rules, upright (in closed form) or tilted: a slab of no
// thickness, across the stack or above it, changes no rate, to 1e-9, nor
// the Monte Carlo's counts. One of 1e-6 cm of lead raises the threshold of
// the layers below it by the 7 keV that a muon needs to get through it at
// all (the range tables' power law near no energy): behind 30 cm of
// concrete, some 4e-9 of their rate.
TEST(exact_crossings, a_slab_of_no_thickness_changes_no_rate) {
  telescope stack = three(4, 2, 1);
  stack.layers[1].depth_cm = 6;
  const sky_model open_sky = spectrum_under(material::water, 0);
  sky_model no_grams = open_sky;
  no_grams.overburden_count = 1;
  const struct {
    const char *name;
    telescope bare, slab;
    sky_model sky, slab_sky;
    tilt lean;
    double tolerance;
  } cases[] = {
      {"none across",
       stack,
       with_slab(stack, material::lead, 0, 2),
       open_sky,
       open_sky,
       {0, 0},
       1e-9},
      {"none across, behind concrete",
       stack,
       with_slab(stack, material::lead, 0, 2),
       under_concrete,
       under_concrete,
       {0, 0},
       1e-9},
      // The rings about slopes of 0, at the corners of four rectangles.
      {"none across a pair lined up",
       paddle_pair,
       with_slab(paddle_pair, material::iron, 0, 2),
       open_sky,
       open_sky,
       {0, 0},
       1e-9},
      {"none above, tilted", stack, stack, open_sky, no_grams, {40, 30}, 1e-9},
      {"none above a pair lined up, on its side",
       paddle_pair,
       paddle_pair,
       open_sky,
       no_grams,
       {90, 0},
       1e-9},
      {"1e-6 cm of lead across, behind concrete",
       stack,
       with_slab(stack, material::lead, 1e-6, 2),
       under_concrete,
       under_concrete,
       {0, 0},
       1e-8},
  };
  for (const auto &c : cases) {
    const std::vector<double> without =
        exact_crossings(c.bare, 9, c.lean, c.sky, zenith_law::cos_squared);
    const std::vector<double> with =
        exact_crossings(c.slab, 9, c.lean, c.slab_sky, zenith_law::cos_squared);
    for (std::size_t set = 3; set < with.size(); ++set) {
      EXPECT_NEAR(with[set], without[set], c.tolerance * without[set])
          << c.name << ", layers " << set;
    }
    for (int source = 0; source + 1 < c.bare.count; ++source) {
      EXPECT_EQ(run_pass(c.bare, zenith_law::cos_squared, c.sky, c.lean, source,
                         {9}, 100000),
                run_pass(c.slab, zenith_law::cos_squared, c.slab_sky, c.lean,
                         source, {9}, 100000))
          << c.name << ", through layer " << source + 1;
    }
  }
}

// Guards against a kink of the weight's table left out (where a slab's
// threshold meets a range table's row, or the total needed an edge of the
// altitude's bands) or too few steps toward the horizon: the table read at
// 4000 zenith cosines against the weight worked out directly, the energy
// needed through the overburden and the slabs below it as one stack, to
// 1e-10 of the vertical weight and 1e-6 of its own value.
TEST(spectrum_weight, table_reads_the_weight_between_its_kinks) {
  const struct {
    const char *name;
    double altitude_m;
    material what;
    double grams_cm2;
    std::vector<flat_slab> below;
  } cases[] = {
      {"1 m of rock at 2600 m", 2600, material::standard_rock, 265, {}},
      {"concrete, 5 cm of lead below",
       0,
       material::shielding_concrete,
       69,
       {{material::lead, 56.75}}},
      {"10 cm of lead below at 2000 m",
       2000,
       material::water,
       0,
       {{material::lead, 113.5}}},
  };
  for (const auto &c : cases) {
    sky_model sky = spectrum_under(c.what, c.grams_cm2);
    sky.air_g_cm2 =
        c.altitude_m > 0 ? atmospheric_depth_g_cm2(c.altitude_m) : 0;
    sky_model stack = sky;
    for (const flat_slab &s : c.below) {
      stack.overburden[stack.overburden_count++] = {s.what, s.grams_cm2};
    }
    const double per_drawn =
        1 / (site_intensity_above(sky, sky_least_energy_gev(sky)) *
             zenith_flux_share(paper_index));
    const auto direct = [&](double cosine) {
      return zenith_factor(cosine) *
             site_intensity_above(sky, muon_mass_gev +
                                           overburden_kinetic(stack, cosine)) *
             per_drawn;
    };
    const zenith_weight w = spectrum_weight(sky, c.below);
    for (int k = 0; k < 4000; ++k) {
      const double cosine = (k + 0.5) / 4000;
      EXPECT_NEAR(weight_at(w, cosine), direct(cosine),
                  1e-10 * direct(1.0) + 1e-6 * direct(cosine))
          << c.name << " at " << cosine;
    }
  }
}

} // namespace
