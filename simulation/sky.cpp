#include "simulation/sky.h"
#include "simulation/quadrature.h"

#include <cmath>

namespace {

constexpr double pi = 3.14159265358979323846;
constexpr double degree = pi / 180.0;

std::uint64_t splitmix64(std::uint64_t x) {
  std::uint64_t z = x + 0x9e3779b97f4a7c15U;
  z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9U;
  z = (z ^ (z >> 27)) * 0x94d049bb133111ebU;
  return z ^ (z >> 31);
}

} // namespace

sky_frame frame_of(const tilt &lean) {
  const double a = lean.angle_deg * degree, b = lean.azimuth_deg * degree;
  const double sa = std::sin(a), ca = std::cos(a);
  const double sb = std::sin(b), cb = std::cos(b);
  return {{ca * cb, ca * sb, sa}, {-sb, cb, 0.0}, {-sa * cb, -sa * sb, ca}};
}

std::uint64_t block_seed(std::uint32_t seed, int source, std::uint64_t block) {
  return splitmix64(
      splitmix64(splitmix64(seed) + static_cast<std::uint64_t>(source)) +
      block);
}

muon_track draw_box_track(const layer &source, const sky_frame &f, double power,
                          std::mt19937_64 &generator) {
  const double w = source.width_cm, l = source.length_cm;
  const double h = source.thickness_cm;
  // The faces' areas seen along the axis, x and y; their projections along a
  // unit direction u add up to top|u_z| + side_x|u_x| + side_y|u_y|, at
  // most the length of (side_x, side_y, top).
  const double top = w * l, side_x = l * h, side_y = w * h;
  const double largest =
      std::sqrt(top * top + side_x * side_x + side_y * side_y);
  for (;;) {
    // Toward where the muon comes from: cos(theta) of the sky's own law,
    // density (n+1) c^n on [0, 1].
    const double c = std::pow(draw(generator), power);
    // A uniform point (v1, v2) of the unit disc, from the two halves of one
    // draw: its angle is the azimuth, at less cost than a sine and a
    // cosine, and its r^2, uniform and independent of the angle, decides
    // whether the direction is kept. At the centre, r^2 = 0 makes the
    // direction NaN, which is never kept.
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
    const double ux = f.e1[0] * w1 + f.e2[0] * w2 + f.e3[0] * c;
    const double uy = f.e1[1] * w1 + f.e2[1] * w2 + f.e3[1] * c;
    const double uz = f.e1[2] * w1 + f.e3[2] * c; // e2 is horizontal
    const double through_top = top * std::fabs(uz);
    const double through_x = side_x * std::fabs(ux);
    const double shown = through_top + through_x + side_y * std::fabs(uy);
    if (!(r2 * largest < shown)) {
      continue;
    }
    // A face it shows, each as often as its projected area, and a uniform
    // point on it: (x, y) and the depth below the box's upper face.
    const double face = h == 0.0 ? 0.0 : draw(generator) * shown;
    double x = 0.0, y = 0.0, z = 0.0;
    if (face < through_top) {
      x = draw(generator) * w;
      y = draw(generator) * l;
      z = uz > 0.0 ? 0.0 : h;
    } else if (face < through_top + through_x) {
      x = ux > 0.0 ? w : 0.0;
      y = draw(generator) * l;
      z = draw(generator) * h;
    } else {
      x = draw(generator) * w;
      y = uy > 0.0 ? l : 0.0;
      z = draw(generator) * h;
    }
    // Down the axis by one unit of depth, the track moves by -u / u_z.
    const double t = -1.0 / uz;
    const double depth = source.depth_cm + z;
    return {source.x_cm + x - ux * (depth * t),
            source.y_cm + y - uy * (depth * t),
            t,
            ux,
            uy,
            std::fabs(uz),
            c};
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

double box_flux_area(const layer &l, const tilt &lean, double exponent) {
  // The angle of each face's normal to the vertical, from the vertical's
  // components in the telescope's frame (e3 of frame_of).
  const sky_frame f = frame_of(lean);
  const auto share = [&](double vertical_component) {
    const double c = std::fmin(1.0, std::fabs(vertical_component));
    return tilted_flux_share(std::fmin(90.0, std::acos(c) / degree), exponent);
  };
  const double top = l.width_cm * l.length_cm;
  const double flux_top = top * tilted_flux_share(lean.angle_deg, exponent);
  if (l.thickness_cm == 0.0) {
    return flux_top;
  }
  return flux_top + l.length_cm * l.thickness_cm * share(f.e3[0]) +
         l.width_cm * l.thickness_cm * share(f.e3[1]);
}

double flux_of_intensity(double intensity, double exponent) {
  // m^-2 s^-1 into cm^-2 min^-1.
  constexpr double per_cm2_minute = 60.0 / 1e4;
  return 2.0 * pi * intensity / (exponent + 2.0) * per_cm2_minute;
}
