#include "simulation/tilted.h"

#include <cmath>

namespace {

constexpr double pi = 3.14159265358979323846;
constexpr double degree = pi / 180.0;

// [0, 1) from the top 53 bits: the standard leaves uniform_real_distribution
// to each library, this is the same everywhere.
double draw(std::mt19937_64 &generator) {
  // Converted as signed: it fits, and unsigned 64-bit conversion is slow.
  return static_cast<double>(static_cast<std::int64_t>(generator() >> 11)) *
         0x1.0p-53;
}

// The telescope's frame as the sky sees it: the world's vertical (e3) and
// two horizontal directions (e1, e2), each in the telescope's coordinates.
// Leaning the axis toward +x tips the paddles' +x side down, so the vertical
// leans toward -x.
struct sky_frame {
  double e1[3], e2[3], e3[3];
};

sky_frame frame_of(const tilt &lean) {
  const double a = lean.angle_deg * degree, b = lean.azimuth_deg * degree;
  const double sa = std::sin(a), ca = std::cos(a);
  const double sb = std::sin(b), cb = std::cos(b);
  return {{ca * cb, ca * sb, sa}, {-sb, cb, 0.0}, {-sa * cb, -sa * sb, ca}};
}

// Draws a direction (toward where the muon comes from) until one crosses the
// upper paddle, then its entry point; returns the track as the landing test
// takes it, with t = -1/u_z, so that it lands at p - d (u_x, u_y) / u_z.
muon_track draw_tilted_track(const telescope &scope, const sky_frame &f,
                             double power, std::mt19937_64 &generator) {
  for (;;) {
    const double c = std::pow(draw(generator), power);
    // A uniform point (v1, v2) of the unit disc, from the two halves of one
    // draw: its angle is the azimuth, at less cost than a sine and a
    // cosine, and its r^2, uniform and independent of the angle, decides
    // whether the direction is kept. At the centre, r^2 = 0 makes u_z NaN,
    // which is never kept.
    double v1 = 0.0, v2 = 0.0, r2 = 0.0;
    do {
      const std::uint64_t bits = generator();
      v1 = static_cast<double>(static_cast<std::int64_t>(bits >> 32)) *
               0x1.0p-31 -
           1.0;
      v2 = static_cast<double>(static_cast<std::int64_t>(bits & 0xffffffff)) *
               0x1.0p-31 -
           1.0;
      r2 = v1 * v1 + v2 * v2;
    } while (r2 > 1.0);
    const double scale = std::sqrt((1.0 - c * c) / r2);
    const double w1 = scale * v1, w2 = scale * v2;
    const double uz = f.e1[2] * w1 + f.e3[2] * c; // e2 is horizontal
    if (r2 < std::fabs(uz)) {
      const double ux = f.e1[0] * w1 + f.e2[0] * w2 + f.e3[0] * c;
      const double uy = f.e1[1] * w1 + f.e2[1] * w2 + f.e3[1] * c;
      const double x = draw(generator) * scope.top_width_cm;
      const double y = draw(generator) * scope.top_length_cm;
      return {x, y, -1.0 / uz, ux, uy};
    }
  }
}

// The integral of f over [a, b] by the tanh-sinh rule, which keeps its
// accuracy where f has a square-root or power singularity at an end.
template <class Function> double tanh_sinh(Function f, double a, double b) {
  const double half = (b - a) / 2;
  double h = 1.0, sum = f(a + half) * (pi / 2), estimate = 0.0;
  for (int level = 0; level < 12; ++level) {
    // Each level halves h and adds the new abscissae only, the odd
    // multiples of h. Up to t = 4 they stay apart from the ends (1 - x is
    // about 1e-37 there) and the weights have long fallen below 1e-16.
    const int stride = level == 0 ? 1 : 2;
    for (int k = 1; k * h <= 4.0; k += stride) {
      const double t = k * h;
      const double u = (pi / 2) * std::sinh(t);
      const double from_end = 1.0 / (std::exp(u) * std::cosh(u)); // 1 - x
      const double weight =
          (pi / 2) * std::cosh(t) / (std::cosh(u) * std::cosh(u));
      sum += weight * (f(a + half * from_end) + f(b - half * from_end));
    }
    const double next = half * h * sum;
    if (level > 3 && std::fabs(next - estimate) <= 1e-13 * std::fabs(next)) {
      return next;
    }
    estimate = next;
    h /= 2;
  }
  return estimate;
}

} // namespace

void simulate_tilted_curve(const telescope &scope, const tilt &lean,
                           double exponent, std::mt19937_64 &generator,
                           const double *distances_cm, std::size_t count,
                           std::int32_t muons, std::int32_t *coincidences) {
  const landing_area area = lower_paddle(scope);
  const sky_frame f = frame_of(lean);
  // cos(theta) of the sky's own law: density (n+1) c^n on [0, 1].
  const double power = 1.0 / (exponent + 1.0);
  for (std::int32_t done = 0; done < muons; ++done) {
    const muon_track track = draw_tilted_track(scope, f, power, generator);
    for (std::size_t k = 0; k < count; ++k) {
      coincidences[k] += lands_on_paddle(track, area, distances_cm[k]);
    }
  }
}

double tilted_flux_share(double tilt_deg, double exponent) {
  if (tilt_deg == 0.0) {
    return 1.0;
  }
  const double alpha = tilt_deg * degree;
  const double n = exponent;
  // Over the azimuth, |u . axis| = |a + b cos(phi)| with a = cos(alpha)
  // cos(theta), b = sin(alpha) sin(theta). Where a >= b (theta up to
  // pi/2 - alpha) its integral is 2 pi a, which integrates in closed form:
  const double steep =
      std::cos(alpha) * (1.0 - std::pow(std::sin(alpha), n + 2));
  // Beyond, the sign changes at phi0 = acos(-a/b):
  //   4 a phi0 + 4 sqrt(b^2 - a^2) - 2 pi a.
  const auto shallow = [&](double theta) {
    const double a = std::cos(alpha) * std::cos(theta);
    const double b = std::sin(alpha) * std::sin(theta);
    const double phi0 = std::acos(std::fmax(-1.0, -a / b));
    const double around = 4 * a * phi0 +
                          4 * std::sqrt(std::fmax(0.0, b * b - a * a)) -
                          2 * pi * a;
    return std::sin(theta) * std::pow(std::cos(theta), n) * around;
  };
  return steep +
         (n + 2) / (2 * pi) * tanh_sinh(shallow, pi / 2 - alpha, pi / 2);
}
