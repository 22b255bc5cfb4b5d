// The simulation against the generator's sequence and against the analytic
// acceptance of the telescope.
#include "simulation/additive_generator.h"
#include "simulation/coincidences.h"
#include "simulation/curve_pass.h"
#include "simulation/quadrature.h"
#include "simulation/telescope.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <iterator>
#include <limits>
#include <vector>

namespace {

// Geometry and angles restated here on purpose: the expected values must not
// come from the code under test.
constexpr double width_cm = 10.0;
constexpr double length_cm = 31.0;
constexpr double pi = 3.14159265358979323846;

struct generator_case {
  zenith_law law;
  std::int32_t muons;
};

// Guards against extra, missing or conditional draws: whatever the law and
// count, a run leaves the generator exactly four values per trial further
// on.
TEST(simulation, takes_four_draws_per_trial) {
  const generator_case cases[] = {
      {zenith_law::cos_squared, -3}, {zenith_law::cos_squared, 0},
      {zenith_law::cos_squared, 1},  {zenith_law::cos_squared, 2500},
      {zenith_law::isotropic, 1},    {zenith_law::isotropic, 2500},
  };
  for (const generator_case &c : cases) {
    additive_generator g = seeded_generator(1);
    for (std::int32_t i = 0; i < 4 * std::max(c.muons, 0); ++i) {
      next_value(g);
    }
    const double expected_next = next_value(g) / 2147483647.0;
    seed_uniform(1);
    const std::int32_t hits = simulate_coincidences(10.0, c.muons, c.law);
    EXPECT_EQ(draw_uniform(), expected_next) << "muons " << c.muons;
    EXPECT_TRUE(hits >= 0 && hits <= std::max(c.muons, 0)) << hits;
  }
}

// Guards against a curve whose arithmetic, draws or blocks drift from the
// single run's: every distance of a pass through the programs' telescope,
// block after block, must count exactly what a separate run at that
// distance counts, even where the landing point overflows.
TEST(curve_pass, counts_what_separate_runs_count) {
  constexpr std::int32_t muons = 150000; // three blocks
  const double distances[] = {-1e300, -7.5, 0.0, 3.0, 40.0, 1e300};
  constexpr std::size_t count = std::size(distances);
  for (const zenith_law law :
       {zenith_law::cos_squared, zenith_law::isotropic}) {
    const sky_sampler sky = sampler_of(cos_sky(2.0));
    const pass_setup pass{paddle_pair, law, &sky,      {0.0, 0.0},
                          0,           1,   distances, count};
    std::vector<std::int32_t> tally(tally_size(paddle_pair, count));
    for (std::uint64_t block = 0; block * block_muons < muons; ++block) {
      simulate_block(pass, block,
                     std::min<std::int32_t>(
                         block_muons, muons - static_cast<std::int32_t>(block) *
                                                  block_muons),
                     tally.data());
    }
    const pass_counts counts = finish_tally(paddle_pair, count, tally.data());
    for (std::size_t k = 0; k < count; ++k) {
      seed_uniform(1);
      EXPECT_EQ(counts.crossing[count + k],
                simulate_coincidences(distances[k], muons, law))
          << "distance " << distances[k];
    }
  }
}

// Jumped k words from a seed, the generator must give the words that
// stepping k times gives.
void expect_jump_lands_where_stepping_lands(
    std::uint32_t seed, const std::vector<std::uint64_t> &jumps) {
  additive_generator stepped = seeded_generator(seed);
  std::uint64_t at = 0;
  for (const std::uint64_t k : jumps) {
    for (; at < k; ++at) {
      next_word(stepped);
    }
    additive_generator jumped = seeded_generator(seed);
    jump_generator(jumped, k);
    additive_generator reference = stepped;
    for (int i = 0; i < 40; ++i) {
      ASSERT_EQ(next_word(jumped), next_word(reference))
          << "seed " << seed << ", jump " << k << ", word " << i;
    }
  }
}

// Guards against a jump that lands a block of a curve anywhere but where
// the sequence stands after the earlier blocks' draws: for many k up to a
// few million, and for k past 2^31 through jumps made of two halves, each
// of which the smaller k check.
TEST(jump_generator, lands_where_stepping_lands) {
  for (const std::uint32_t seed : {1U, 7U}) {
    expect_jump_lands_where_stepping_lands(
        seed, {0, 1, 2, 3, 28, 30, 31, 32, 33, 61, 62, 1000, 262144, 4194304});
  }
  for (std::uint64_t k = 1U << 22; k <= 1ULL << 33; k *= 2) {
    additive_generator whole = seeded_generator(1), halves = whole;
    jump_generator(whole, 2 * k + 3);
    jump_generator(halves, k);
    jump_generator(halves, k + 3);
    for (int i = 0; i < 40; ++i) {
      ASSERT_EQ(next_word(whole), next_word(halves)) << "jump " << 2 * k + 3;
    }
  }
}

// The same, stepped one word at a time past 2^31: seconds at full speed,
// so it runs with the largest-count test.
TEST(largest_jump, lands_where_stepping_lands) {
  expect_jump_lands_where_stepping_lands(
      1, {(1ULL << 31) - 1, 1ULL << 31, (1ULL << 31) + 262147});
}

struct edge_case {
  double x, y; // where a vertical track lands
  std::int32_t counts;
};

// Guards against an edge test that is off at a boundary: a vertical track
// landing on a lower edge or corner counts, one on an upper edge does not,
// nor one a hair outside; and with no lateral move, it is over a box's
// footprint at every depth or at none, by the same edges.
TEST(lands_on_paddle, takes_lower_edges_and_leaves_upper_ones) {
  const double below = -std::numeric_limits<double>::denorm_min();
  const edge_case cases[] = {
      {0.0, 0.0, 1},        {0.0, 15.0, 1},      {5.0, 0.0, 1},
      {0.0, 30.9999999, 1}, {9.9999999, 0.0, 1}, {9.9999999, 30.9999999, 1},
      {width_cm, 15.0, 0},  {5.0, length_cm, 0}, {width_cm, length_cm, 0},
      {width_cm, 0.0, 0},   {0.0, length_cm, 0}, {below, 15.0, 0},
      {5.0, below, 0},      {below, below, 0},
  };
  for (const edge_case &c : cases) {
    const muon_track vertical{c.x, c.y, 0.0, 1.0, 0.0, 1.0, 1.0};
    EXPECT_EQ(lands_on_paddle(vertical, area_of(paddle_pair.layers[1]), 10.0),
              c.counts)
        << "(" << c.x << ", " << c.y << ")";
    const depth_span over = footprint_span(vertical, slopes_of(vertical, 0.0),
                                           paddle_pair.layers[1]);
    EXPECT_EQ(over.low == -HUGE_VAL && over.high == HUGE_VAL, c.counts == 1);
    EXPECT_EQ(over.low > over.high, c.counts == 0);
  }
}

// Fraction of the lower paddle's footprint that the upper one still covers
// when shifted by rho in a uniformly random azimuth: the chance that a track
// through a uniform point of the upper paddle lands on the lower one.
double overlap_over_azimuth(double rho) {
  constexpr int steps = 2000;
  double sum = 0.0;
  for (int k = 0; k < steps; ++k) {
    // The overlap is the same in all four quadrants of the azimuth.
    const double phi = (k + 0.5) * (pi / 2) / steps;
    sum += std::max(0.0, 1.0 - rho * std::cos(phi) / width_cm) *
           std::max(0.0, 1.0 - rho * std::sin(phi) / length_cm);
  }
  return sum / steps;
}

// Acceptance by midpoint quadrature over the zenith angle, with |cos(theta)|
// of density 4c^3 for the cos^2 law (cos^2 intensity times the cos
// projection of a horizontal paddle) and uniform on (0, 1] for isotropic
// directions. A downward and an upward track through the same point give
// the same overlap.
double acceptance(zenith_law law, double distance_cm) {
  constexpr int steps = 2000;
  const double step = (pi / 2) / steps;
  double sum = 0.0;
  for (int j = 0; j < steps; ++j) {
    const double theta = (j + 0.5) * step;
    const double c = std::cos(theta);
    const double density = law == zenith_law::cos_squared ? 4 * c * c * c : 1;
    sum += density * std::sin(theta) *
           overlap_over_azimuth(std::fabs(distance_cm) * std::tan(theta));
  }
  return sum * step;
}

// Closed form of the cos^2 acceptance for two a x b rectangles a distance l
// apart.
double cos_squared_closed_form(double l) {
  const double a = width_cm, b = length_cm;
  const double sa = std::sqrt(a * a + l * l), sb = std::sqrt(b * b + l * l);
  const double g = a * (2 * b * b + l * l) / (2 * sb) * std::atan(a / sb) +
                   b * (2 * a * a + l * l) / (2 * sa) * std::atan(b / sa) -
                   a * l / 2 * std::atan(a / l) - b * l / 2 * std::atan(b / l);
  return 2 * g / (pi * a * b);
}

// The quadrature that the physics test trusts must itself be right.
TEST(acceptance, quadrature_matches_the_closed_form) {
  EXPECT_NEAR(cos_squared_closed_form(5.0), 0.69940, 5e-6);
  for (const double d : {2.0, 5.0, 10.0, 40.0, 100.0}) {
    EXPECT_NEAR(acceptance(zenith_law::cos_squared, d),
                cos_squared_closed_form(d), 2e-5)
        << "distance " << d;
  }
}

// The rule takes an inverse square root at an end in its stride; an
// interval of no width is 0, without a look at its singular end.
TEST(tanh_sinh, takes_a_singular_end) {
  const auto f = [](double x) { return 1 / std::sqrt(x); };
  EXPECT_NEAR(tanh_sinh(f, 0.0, 4.0), 4.0, 1e-12);
  EXPECT_EQ(tanh_sinh(f, 0.0, 0.0), 0.0);
}

struct physics_case {
  zenith_law law;
  double distance_cm;
};

// Guards against a wrong zenith law, swapped paddle axes, a wrong angle or a
// wrong edge test: each efficiency must agree with the acceptance within four
// binomial standard deviations.
TEST(simulation, efficiency_matches_the_acceptance) {
  const physics_case cases[] = {
      {zenith_law::cos_squared, 2.0},   {zenith_law::cos_squared, 10.0},
      {zenith_law::cos_squared, 40.0},  {zenith_law::isotropic, 2.0},
      {zenith_law::isotropic, 10.0},    {zenith_law::isotropic, 40.0},
      {zenith_law::cos_squared, -10.0},
  };
  constexpr std::int32_t muons = 1000000;
  for (const physics_case &c : cases) {
    const double expected = acceptance(c.law, c.distance_cm);
    const double sigma = std::sqrt(expected * (1 - expected) / muons);
    const double efficiency =
        simulate_coincidences(c.distance_cm, muons, c.law) /
        static_cast<double>(muons);
    EXPECT_NEAR(efficiency, expected, 4 * sigma)
        << (c.law == zenith_law::cos_squared ? "cos^2" : "isotropic") << " at "
        << c.distance_cm << " cm";
  }
}

} // namespace
