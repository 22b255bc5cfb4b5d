// Thick layers, stacks and the search over distances, against an integral
// over the sky written here from scratch: for each direction, the lines
// that cross a box are those through its shadow on a plane across the
// direction, so the rate of lines that cross a set of boxes is the area
// where their shadows overlap, weighted by the sky.
#include "pass_runner.h"
#include "simulation/muon_range.h"
#include "simulation/muon_spectrum.h"
#include "simulation/sky.h"
#include "simulation/telescope.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>
#include <tuple>
#include <vector>

namespace {

constexpr double pi = 3.14159265358979323846;

struct vec3 {
  double x, y, z;
};

vec3 operator*(double a, vec3 v) {
  return {a * v.x, a * v.y, a * v.z};
}
vec3 operator+(vec3 a, vec3 b) {
  return {a.x + b.x, a.y + b.y, a.z + b.z};
}
double dot(vec3 a, vec3 b) {
  return a.x * b.x + a.y * b.y + a.z * b.z;
}
vec3 cross(vec3 a, vec3 b) {
  return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}
vec3 unit(vec3 v) {
  return (1 / std::sqrt(dot(v, v))) * v;
}

struct point {
  double u, v;
};

using polygon = std::vector<point>;

double cross2(point o, point a, point b) {
  return (a.u - o.u) * (b.v - o.v) - (a.v - o.v) * (b.u - o.u);
}

// The convex hull, counter-clockwise (Andrew's monotone chain).
polygon hull(polygon p) {
  std::sort(p.begin(), p.end(), [](point a, point b) {
    return a.u < b.u || (a.u == b.u && a.v < b.v);
  });
  polygon h(2 * p.size());
  std::size_t k = 0;
  for (std::size_t i = 0; i < p.size(); ++i) {
    while (k >= 2 && cross2(h[k - 2], h[k - 1], p[i]) <= 0) {
      --k;
    }
    h[k++] = p[i];
  }
  for (std::size_t i = p.size() - 1, t = k + 1; i-- > 0;) {
    while (k >= t && cross2(h[k - 2], h[k - 1], p[i]) <= 0) {
      --k;
    }
    h[k++] = p[i];
  }
  h.resize(k > 0 ? k - 1 : 0);
  return h;
}

// The part of `subject` inside the convex, counter-clockwise `clip`
// (Sutherland and Hodgman).
polygon clipped(const polygon &subject, const polygon &clip) {
  polygon out = subject;
  for (std::size_t i = 0; i < clip.size() && !out.empty(); ++i) {
    const point a = clip[i], b = clip[(i + 1) % clip.size()];
    const polygon in = out;
    out.clear();
    for (std::size_t j = 0; j < in.size(); ++j) {
      const point p = in[j], q = in[(j + 1) % in.size()];
      const double sp = cross2(a, b, p), sq = cross2(a, b, q);
      if (sp >= 0) {
        out.push_back(p);
      }
      if ((sp >= 0) != (sq >= 0)) {
        const double f = sp / (sp - sq);
        out.push_back({p.u + f * (q.u - p.u), p.v + f * (q.v - p.v)});
      }
    }
  }
  return out;
}

double area(const polygon &p) {
  double a = 0;
  for (std::size_t i = 0; i < p.size(); ++i) {
    const point s = p[i], t = p[(i + 1) % p.size()];
    a += s.u * t.v - t.u * s.v;
  }
  return std::fabs(a) / 2;
}

// A box in the telescope's frame (z up the axis): x, y and z from, to.
struct box {
  double from[3], to[3];
};

box box_of(const layer &l, double depth) {
  return {{l.x_cm, l.y_cm, -depth - l.thickness_cm},
          {l.x_cm + l.width_cm, l.y_cm + l.length_cm, -depth}};
}

// The points p of the box with p + m u in it too: a line along u has a
// chord of at least m through the box if and only if it meets these.
box shrunk(box b, vec3 u, double m) {
  const double shift[3] = {m * u.x, m * u.y, m * u.z};
  for (int i = 0; i < 3; ++i) {
    b.from[i] = std::max(b.from[i], b.from[i] - shift[i]);
    b.to[i] = std::min(b.to[i], b.to[i] - shift[i]);
  }
  return b;
}

// The box's shadow along u on the plane spanned by e1, e2.
polygon shadow(const box &b, vec3 e1, vec3 e2) {
  polygon corners;
  for (int c = 0; c < 8; ++c) {
    const vec3 p{(c & 1) != 0 ? b.to[0] : b.from[0],
                 (c & 2) != 0 ? b.to[1] : b.from[1],
                 (c & 4) != 0 ? b.to[2] : b.from[2]};
    corners.push_back({dot(p, e1), dot(p, e2)});
  }
  return hull(corners);
}

// For each set of layers S (bit i for layer i + 1), the rate per minute of
// the lines that cross at least the layers of S, with chords of at least
// `min_path` where it is not 0, from a sky of flux J = 1 through a
// horizontal surface and intensity cos^N: (N+2)/(2 pi) integral over the
// sky of cos^N(theta) times the area where the shadows overlap. Midpoint
// rule in theta and the azimuth.
std::vector<double> sky_integral(const telescope &scope, const tilt &lean,
                                 double exponent, double distance_cm) {
  const double a = lean.angle_deg * pi / 180, b = lean.azimuth_deg * pi / 180;
  // The world's vertical in the telescope's frame, and two horizontals.
  const vec3 vertical{-std::sin(a) * std::cos(b), -std::sin(a) * std::sin(b),
                      std::cos(a)};
  const vec3 h1 =
      unit(std::fabs(vertical.z) > 0.5 ? cross(vec3{0, 1, 0}, vertical)
                                       : cross(vec3{0, 0, 1}, vertical));
  const vec3 h2 = cross(vertical, h1);
  const int count = scope.count;
  std::vector<double> at_least(std::size_t{1} << count, 0.0);
  constexpr int thetas = 200, phis = 400;
  for (int i = 0; i < thetas; ++i) {
    const double theta = (i + 0.5) * (pi / 2) / thetas;
    for (int j = 0; j < phis; ++j) {
      const double phi = (j + 0.5) * 2 * pi / phis;
      const vec3 u = std::cos(theta) * vertical +
                     std::sin(theta) * std::cos(phi) * h1 +
                     std::sin(theta) * std::sin(phi) * h2;
      const vec3 e1 = unit(std::fabs(u.z) < 0.9 ? cross(u, vec3{0, 0, 1})
                                                : cross(u, vec3{1, 0, 0}));
      const vec3 e2 = cross(u, e1);
      std::vector<polygon> shadows;
      for (int k = 0; k < count; ++k) {
        const layer &l = scope.layers[k];
        box bx = box_of(l, k == count - 1 ? distance_cm : l.depth_cm);
        if (scope.min_path_cm > 0) {
          bx = shrunk(bx, u, scope.min_path_cm);
        }
        const bool empty = bx.from[0] >= bx.to[0] || bx.from[1] >= bx.to[1] ||
                           bx.from[2] > bx.to[2];
        shadows.push_back(empty ? polygon{} : shadow(bx, e1, e2));
      }
      const double weight =
          (exponent + 2) / (2 * pi) * std::pow(std::cos(theta), exponent) *
          std::sin(theta) * (pi / 2 / thetas) * (2 * pi / phis);
      for (std::size_t s = 1; s < at_least.size(); ++s) {
        polygon common;
        bool first = true;
        for (int k = 0; k < count; ++k) {
          if ((s >> k & 1U) != 0) {
            common = first ? shadows[k] : clipped(common, shadows[k]);
            first = false;
          }
        }
        at_least[s] += weight * area(common);
      }
    }
  }
  return at_least;
}

// The rate of lines that cross exactly each set, from the rates of those
// that cross at least each set.
std::vector<double> exactly(const std::vector<double> &at_least) {
  std::vector<double> exact(at_least.size(), 0.0);
  for (std::size_t m = 1; m < at_least.size(); ++m) {
    for (std::size_t s = m; s < at_least.size(); ++s) {
      if ((s & m) == m) {
        const int extra = __builtin_popcount(static_cast<unsigned>(s & ~m));
        exact[m] += (extra % 2 == 0 ? 1 : -1) * at_least[s];
      }
    }
  }
  return exact;
}

layer slab(double w, double l, double t, double x, double y, double depth) {
  return {w, l, t, x, y, depth};
}

// The shadows' integral must itself be right: for thin paddles under the
// cos^2 sky it gives the closed form of the acceptance, and for one box
// the sum over its faces.
TEST(sky_integral, matches_closed_forms) {
  const double a = 10, b = 31, l = 10;
  const double sa = std::sqrt(a * a + l * l), sb = std::sqrt(b * b + l * l);
  const double g = a * (2 * b * b + l * l) / (2 * sb) * std::atan(a / sb) +
                   b * (2 * a * a + l * l) / (2 * sa) * std::atan(b / sa) -
                   a * l / 2 * std::atan(a / l) - b * l / 2 * std::atan(b / l);
  const double closed = 2 * g / (pi * a * b) * a * b;
  const std::vector<double> thin = sky_integral(paddle_pair, {0, 0}, 2, l);
  EXPECT_NEAR(thin[3], closed, 2e-4 * closed);
  EXPECT_NEAR(thin[1], a * b, 2e-4 * a * b);
}

struct singles_case {
  layer box;
  tilt lean;
  double exponent;
};

// A box's muons against its faces' projected areas, each times the share
// of the flux through a plane so tilted: horizontal and tilted, thin and
// thick, under several skies.
TEST(box_flux_area, matches_the_integral_over_the_sky) {
  const singles_case cases[] = {
      {slab(5, 5, 1, 0, 0, -1), {0, 0}, 2},
      {slab(10, 31, 2, 0, 0, -2), {0, 0}, 1.85},
      {slab(10, 31, 2, 0, 0, -2), {35, 20}, 2},
      {slab(4, 9, 3, 0, 0, -3), {90, 0}, 0},
      {slab(4, 9, 3, 0, 0, -3), {60, 120}, 3.5},
      {slab(25, 25, 0, 0, 0, 0), {45, 0}, 2},
  };
  for (const singles_case &c : cases) {
    telescope one = paddle_telescope(c.box, c.box, 0, 0);
    one.count = 1;
    const double expected = sky_integral(one, c.lean, c.exponent, 0)[1];
    EXPECT_NEAR(box_flux_area(one.layers[0], c.lean, c.exponent), expected,
                3e-4 * expected)
        << c.box.width_cm << "x" << c.box.length_cm << "x" << c.box.thickness_cm
        << " tilted " << c.lean.angle_deg;
  }
}

struct firing_case {
  layer box;
  tilt lean;
  double exponent, min_path_cm;
};

// Guards against singles that count muons too short in a box to fire it,
// or a kink of the shrunk box missed by the quadrature: the muons through
// a box with a chord of at least the least path against the integral over
// the sky of the shrunk box's shadow.
TEST(box_firing_area, matches_the_integral_over_the_sky) {
  const firing_case cases[] = {
      {slab(10, 10, 3, 0, 0, -3), {0, 0}, 2, 2},
      {slab(5, 5, 1, 0, 0, -1), {0, 0}, 2, 0.5},
      {slab(10, 31, 2, 0, 0, -2), {35, 20}, 2, 1.5},
      {slab(4, 9, 3, 0, 0, -3), {90, 0}, 1.85, 2.5},
      {slab(4, 9, 3, 0, 0, -3), {60, 120}, 3.5, 5},
  };
  for (const firing_case &c : cases) {
    telescope one = paddle_telescope(c.box, c.box, 0, 0);
    one.count = 1;
    one.min_path_cm = c.min_path_cm;
    const double expected = sky_integral(one, c.lean, c.exponent, 0)[1];
    EXPECT_NEAR(
        box_firing_area(one.layers[0], c.lean, c.exponent, c.min_path_cm),
        expected, 5e-4 * expected)
        << c.box.width_cm << "x" << c.box.length_cm << "x" << c.box.thickness_cm
        << " tilted " << c.lean.angle_deg << ", least path " << c.min_path_cm;
  }
  // A 1 cm slab and a least path of 2 cm: the tracks steeper than 60
  // degrees are all too short, those just below it all long enough, a
  // jump the midpoint rule above blurs. The shrunk box's shadow integrated
  // by Simpson's rule from 60 degrees (200 steps in each angle) gives
  // 17.4481978.
  EXPECT_NEAR(box_firing_area(slab(10, 31, 1, 0, 0, -1), {0, 0}, 2, 2),
              17.4481978, 1e-6);
  // No least path: every muon through the box.
  const layer box = slab(4, 9, 3, 0, 0, -3);
  EXPECT_EQ(box_firing_area(box, {60, 120}, 3.5, 0),
            box_flux_area(box, {60, 120}, 3.5));
  // Under the spectrum, an overburden of next to nothing stops no muon: the
  // faces take the sky's own law.
  sky_model open;
  open.law = sky_law::spectrum;
  open.exponent = paper_index;
  sky_model covered = open;
  covered.overburden_count = 1;
  covered.overburden[0] = {material::standard_rock, 1e-9};
  const double bare = box_flux_area(box, {60, 120}, open);
  EXPECT_NEAR(box_firing_area(box, {60, 120}, covered, 0), bare, 1e-6 * bare);
}

struct stack_case {
  const char *name;
  telescope scope;
  tilt lean;
  double distance_cm;
  std::uint32_t required; // every set that holds these layers counts
  int at_least;
};

telescope stack(std::vector<layer> layers, double min_path = 0) {
  telescope scope = paddle_telescope(layers.front(), layers.back(),
                                     layers.back().x_cm, layers.back().y_cm);
  scope.count = static_cast<int>(layers.size());
  for (std::size_t i = 1; i < layers.size(); ++i) {
    scope.layers[i] = layers[i];
  }
  scope.min_path_cm = min_path;
  return scope;
}

// Guards against a wrong chord, a wrong side entry, a wrong face of a
// tilted box, a pass that counts a track twice or not at all, and a
// requirement met by the wrong sets: the rate of each telescope, from
// every pass its requirement needs, against the shadows' integral, within
// four standard deviations of the Monte Carlo.
TEST(stack, rates_match_the_integral_over_the_sky) {
  const layer thick = slab(5, 5, 1, 0, 0, 0);
  const layer paddle = slab(10, 31, 2, 0, 0, 0);
  const stack_case cases[] = {
      {"two 5x5x1 at 3 cm", stack({thick, thick}), {0, 0}, 3, 3, 0},
      {"two 5x5x1 lying on each other", stack({thick, thick}), {0, 0}, 0, 3, 0},
      {"10x31x2 pair, offset, tilted",
       stack({paddle, slab(10, 31, 2, 3, -4, 0)}),
       {40, 30},
       15,
       3,
       0},
      {"5x5x1 pair on its side",
       stack({thick, slab(5, 5, 1, 1, 0, 0)}),
       {90, 0},
       2,
       3,
       0},
      {"three 5x5x1, all",
       stack({thick, slab(5, 5, 1, 0, 0, 3), thick}),
       {20, 0},
       6,
       7,
       0},
      {"three 5x5x1, top and bottom",
       stack({thick, slab(5, 5, 1, 0, 0, 3), thick}),
       {0, 0},
       6,
       5,
       0},
      {"three 5x5x1, two of three",
       stack({thick, slab(5, 5, 1, 1, 0, 3), thick}),
       {0, 0},
       6,
       0,
       2},
      {"three 5x5x1, the lower two",
       stack({thick, slab(5, 5, 1, -1, 1, 3), thick}),
       {30, 90},
       6,
       6,
       0},
      {"5x5x1 pair, at least 0.8 cm in each",
       stack({thick, thick}, 0.8),
       {0, 0},
       2,
       3,
       0},
      {"three, 1.5 cm in each, two of three",
       stack({thick, slab(5, 5, 1, 0, 0, 3), thick}, 1.5),
       {50, 0},
       6,
       0,
       2},
      // Many tracks clip the top's corner, too short to count, on their way
      // to the lower two.
      {"three, 0.4 cm in each, the lower two",
       stack({slab(10, 10, 0.5, 0, 0, 0), slab(10, 10, 0.5, 6, 0, 1),
              slab(10, 10, 0.5, 8, 0, 0)},
             0.4),
       {0, 0},
       2,
       6,
       0},
  };
  constexpr std::int32_t muons = 400000;
  for (const stack_case &c : cases) {
    const std::vector<double> exact =
        exactly(sky_integral(c.scope, c.lean, 2, c.distance_cm));
    std::vector<double> rate(exact.size()), variance(exact.size());
    for (int source = 0; source < c.scope.count - 1; ++source) {
      const double per_muon =
          box_flux_area(c.scope.layers[source], c.lean, 2) / muons;
      const std::vector<std::int64_t> sets =
          run_pass(c.scope, zenith_law::cos_squared, 2, c.lean, source,
                   {c.distance_cm}, muons)[0];
      for (std::size_t set = 1; set < sets.size(); ++set) {
        rate[set] += per_muon * static_cast<double>(sets[set]);
        variance[set] += per_muon * per_muon * static_cast<double>(sets[set]);
      }
    }
    // Each set that meets the requirement, on its own: a track counted by
    // two passes shows in the set it is counted in.
    for (std::size_t set = 1; set < exact.size(); ++set) {
      const auto layers = static_cast<std::uint32_t>(set);
      if ((layers & c.required) == c.required &&
          __builtin_popcount(layers) >= c.at_least) {
        EXPECT_NEAR(rate[set], exact[set],
                    4 * std::sqrt(variance[set]) + 1e-3 * exact[set])
            << c.name << ", layers " << set;
      }
    }
  }
}

// Two identical boxes lying on each other, horizontal: every line through
// the face they share crosses both, and no other line does, so the rate
// is J W L for every sky, and the efficiency that over the muons through
// the upper box, W L + s(N) (W + L) T with s(N) the share of the flux
// through an upright plane.
TEST(stack, boxes_lying_on_each_other_count_their_shared_face) {
  constexpr std::int32_t muons = 400000;
  for (const double exponent : {0.0, 1.85, 2.0, 4.0}) {
    for (const layer &l : {slab(5, 5, 1, 0, 0, 0), slab(10, 31, 2, 0, 0, 0)}) {
      const telescope scope = stack({l, l});
      const double w = l.width_cm, len = l.length_cm, t = l.thickness_cm;
      const double expected =
          w * len / (w * len + tilted_flux_share(90, exponent) * (w + len) * t);
      const double e =
          static_cast<double>(run_pass(scope, zenith_law::cos_squared, exponent,
                                       {0, 0}, 0, {0.0}, muons)[0][3]) /
          muons;
      EXPECT_NEAR(e, expected, 4 * std::sqrt(expected * (1 - expected) / muons))
          << "N " << exponent << ", " << w << "x" << len << "x" << t;
      EXPECT_NEAR(e * box_flux_area(scope.layers[0], {0, 0}, exponent), w * len,
                  4 * std::sqrt(expected * (1 - expected) / muons) *
                      box_flux_area(scope.layers[0], {0, 0}, exponent))
          << "N " << exponent;
    }
  }
}

// Thin limits, count for count on the programs' own tracks: a bottom paddle
// 1e-9 cm thick counts as a thin one but for tracks within that of an edge;
// a thin middle layer like the paddles and aligned with them is crossed by
// every track that crosses both; and 1+3 of that stack is the pair.
TEST(stack, thin_limits_keep_the_counts) {
  constexpr std::int32_t muons = 200000;
  const std::vector<double> distances = {0, 2, 10, 40};
  const layer thin = paddle_pair.layers[0];
  const auto pair_counts = run_pass(paddle_pair, zenith_law::cos_squared, 2,
                                    {0, 0}, 0, distances, muons);
  const auto barely =
      run_pass(stack({thin, slab(10, 31, 1e-9, 0, 0, 0)}),
               zenith_law::cos_squared, 2, {0, 0}, 0, distances, muons);
  const layer middle = slab(10, 31, 0, 0, 0, 1.5);
  const auto three =
      run_pass(stack({thin, middle, thin}), zenith_law::cos_squared, 2, {0, 0},
               0, distances, muons);
  for (std::size_t k = 0; k < distances.size(); ++k) {
    EXPECT_NEAR(barely[k][3], pair_counts[k][3], 2) << distances[k];
    if (distances[k] >= 1.5) {
      EXPECT_EQ(three[k][7], pair_counts[k][3]) << distances[k];
      EXPECT_EQ(three[k][7] + three[k][5], pair_counts[k][3]) << distances[k];
    }
  }
}

// Guards against an interval search that rounds differently from testing
// one distance at a time: for random telescopes and random unsorted lists
// of distances with repeats, and distances at which tracks of the stream
// land exactly on an edge or a hair beside it, every count of a curve is
// that of a run at its distance alone.
TEST(curve_pass, searching_counts_what_each_distance_counts) {
  std::mt19937 random(12345);
  const auto uniform = [&](double a, double b) {
    return std::uniform_real_distribution<double>(a, b)(random);
  };
  constexpr std::int32_t muons = 3000;
  for (int trial = 0; trial < 16; ++trial) {
    const int count = 2 + trial % 3;
    const bool thick = trial % 4 >= 2;
    std::vector<layer> layers;
    double depth = 0;
    for (int i = 0; i < count; ++i) {
      const double t = thick ? uniform(0.3, 2) : 0.0;
      layers.push_back(slab(uniform(1, 30), uniform(1, 30), t,
                            i == 0 ? 0 : uniform(-5, 5),
                            i == 0 ? 0 : uniform(-5, 5), i == 0 ? -t : depth));
      depth += uniform(0, 4) + (i == 0 ? 0 : t);
    }
    const telescope scope = stack(layers, thick && trial % 2 == 1 ? 0.4 : 0);
    const tilt lean{trial % 3 == 0 ? 0 : uniform(0, 90), uniform(0, 360)};
    std::vector<double> distances;
    distances.reserve(26);
    for (int k = 0; k < 24; ++k) {
      distances.push_back(depth + uniform(0, 60));
    }
    distances.push_back(distances[3]);
    distances.push_back(depth);
    // Where the first tracks of the stream of each pass meet the bottom's
    // edges, and the distances next to those.
    const sky_sampler cos_two = sampler_of(cos_sky(2.0));
    for (int source = 0; source < count - 1; ++source) {
      additive_generator g = seeded_generator(1);
      std::mt19937_64 box_generator(block_seed(1, source, 0));
      for (int i = 0; i < 12; ++i) {
        const muon_track track =
            source == 0 && lean.angle_deg == 0 && !thick
                ? draw_track(g, zenith_law::cos_squared, 0.25,
                             layers[0].width_cm, layers[0].length_cm)
                : draw_box_track(scope.layers[source], frame_of(lean), cos_two,
                                 box_generator);
        const layer &bottom = layers.back();
        for (const auto &[p, k, edge] :
             {std::tuple{track.x, track.dir_x * track.t, bottom.x_cm},
              std::tuple{track.x, track.dir_x * track.t,
                         bottom.x_cm + bottom.width_cm},
              std::tuple{track.y, track.dir_y * track.t, bottom.y_cm},
              std::tuple{track.y, track.dir_y * track.t,
                         bottom.y_cm + bottom.length_cm}}) {
          const double d = (edge - p) / k;
          if (d > depth && d < 1e4) {
            distances.insert(distances.end(), {d, std::nextafter(d, 0.0),
                                               std::nextafter(d, 1e9)});
          }
        }
      }
    }
    for (int source = 0; source < count - 1; ++source) {
      const auto curve = run_pass(scope, zenith_law::cos_squared, 2, lean,
                                  source, distances, muons);
      for (std::size_t k = 0; k < distances.size(); ++k) {
        EXPECT_EQ(curve[k], run_pass(scope, zenith_law::cos_squared, 2, lean,
                                     source, {distances[k]}, muons)[0])
            << "telescope " << trial << ", source " << source << ", distance "
            << distances[k];
      }
    }
  }
  // A least path longer than the bottom is thick: a steep track cannot
  // count there at any distance, and the search passes it by.
  const telescope steep =
      stack({slab(5, 5, 1, 0, 0, -1), slab(5, 5, 0.5, 0, 0, 0)}, 0.8);
  const std::vector<double> distances = {0, 1, 2, 3, 5, 8, 13, 21};
  const auto curve =
      run_pass(steep, zenith_law::cos_squared, 2, {0, 0}, 0, distances, muons);
  for (std::size_t k = 0; k < distances.size(); ++k) {
    EXPECT_EQ(curve[k], run_pass(steep, zenith_law::cos_squared, 2, {0, 0}, 0,
                                 {distances[k]}, muons)[0])
        << "distance " << distances[k];
  }
}

} // namespace
