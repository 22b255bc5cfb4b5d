#include "simulation/sky.h"
#include "simulation/altitude.h"
#include "simulation/matter.h"
#include "simulation/muon_spectrum.h"
#include "simulation/quadrature.h"

#include <algorithm>
#include <cmath>
#include <vector>

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

namespace {

// Points of the spectrum's tables: enough that their interpolation errs by
// far less than any run's statistics can tell.
constexpr int zenith_points = 4097;
constexpr int energy_points = 8193;
// Muons above this many GeV are so few (a ten-billionth) that the energy
// table stops there.
constexpr double highest_gev = 1e5;

// The integral of f over [a, b] by Gauss-Legendre's five points.
template <class F> double five_points(F f, double a, double b) {
  static constexpr double x[3] = {0.0, 0.5384693101056831, 0.9061798459386640};
  static constexpr double w[3] = {0.5688888888888889, 0.4786286704993665,
                                  0.2369268850561891};
  const double mid = (a + b) / 2, half = (b - a) / 2;
  double sum = w[0] * f(mid);
  for (int i = 1; i < 3; ++i) {
    sum += w[i] * (f(mid - half * x[i]) + f(mid + half * x[i]));
  }
  return sum * half;
}

} // namespace

namespace {

// The inverse, at `points` even steps of y from y[0] to y.back(), of a
// rising table of y against x at even steps of x from x0 by dx, each step
// linear.
std::vector<double> inverted(const std::vector<double> &y, double x0, double dx,
                             int points) {
  std::vector<double> x(static_cast<std::size_t>(points));
  const double first = y.front(), span = y.back() - y.front();
  std::size_t k = 0;
  for (int j = 0; j < points; ++j) {
    const double target = first + span * j / (points - 1);
    while (k + 2 < y.size() && y[k + 1] < target) {
      ++k;
    }
    const double f = (target - y[k]) / (y[k + 1] - y[k]);
    x[static_cast<std::size_t>(j)] =
        x0 + dx * (static_cast<double>(k) + std::clamp(f, 0.0, 1.0));
  }
  return x;
}

// Linear interpolation in a table at even steps over [0, 1] of `at`.
double between(const std::vector<double> &table, double at) {
  const double place = at * static_cast<double>(table.size() - 1);
  const auto k = std::min(static_cast<std::size_t>(place), table.size() - 2);
  const double f = place - static_cast<double>(k);
  return table[k] + f * (table[k + 1] - table[k]);
}

} // namespace

sky_sampler sampler_of(const sky_model &sky) {
  sky_sampler s;
  s.sky = sky;
  s.power = 1.0 / (sky.exponent + 1.0);
  if (sky.law == sky_law::cos_power) {
    return s;
  }
  // The zenith law's cumulative share at even steps of the cosine, each
  // step's by quadrature (a table finer than the inverse's, so that linear
  // steps of it err by far less than the inverse's own).
  const int fine = 4 * zenith_points;
  const double step = 1.0 / (fine - 1);
  const auto law = [&](double c) { return zenith_factor(c, sky.exponent); };
  std::vector<double> share(static_cast<std::size_t>(fine), 0.0);
  for (int k = 1; k < fine; ++k) {
    share[static_cast<std::size_t>(k)] =
        share[static_cast<std::size_t>(k - 1)] +
        five_points(law, (k - 1) * step, k * step);
  }
  s.cosine_at_share = inverted(share, 0.0, step, zenith_points);
  // The energies: ln of the share above each, from the sky's least, its
  // negative rising.
  const double lowest = sky_least_energy_gev(sky);
  const double above_lowest = site_intensity_above(sky, lowest);
  const double span = std::log(highest_gev / lowest);
  const int energies = 4 * energy_points;
  std::vector<double> falling(static_cast<std::size_t>(energies), 0.0);
  for (int j = 1; j < energies; ++j) {
    const double e = lowest * std::exp(span * j / (energies - 1));
    falling[static_cast<std::size_t>(j)] =
        -std::log(site_intensity_above(sky, e) / above_lowest);
  }
  s.log_above_last = -falling.back();
  s.log_energy_at =
      inverted(falling, std::log(lowest), span / (energies - 1), energy_points);
  return s;
}

double zenith_cosine_of(const sky_sampler &s, double uniform) {
  if (s.sky.law == sky_law::cos_power) {
    return std::pow(uniform, s.power);
  }
  return between(s.cosine_at_share, uniform);
}

double energy_of(const sky_sampler &s, double uniform) {
  // ln of the share above the energy drawn, from 0 down; beyond the table's
  // last (fewer than one muon in 1e10), its highest energy.
  const double place = std::log1p(-uniform) / s.log_above_last;
  if (!(place < 1.0)) {
    return highest_gev;
  }
  return std::exp(between(s.log_energy_at, place));
}

muon_track draw_box_track(const layer &source, const sky_frame &f,
                          const sky_sampler &sampler,
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
    // Toward where the muon comes from: cos(theta) of the sky's own law.
    const double c = zenith_cosine_of(sampler, draw(generator));
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
    const double energy = sampler.sky.law == sky_law::spectrum
                              ? energy_of(sampler, draw(generator))
                              : HUGE_VAL;
    return {source.x_cm + x - ux * (depth * t),
            source.y_cm + y - uy * (depth * t),
            t,
            ux,
            uy,
            std::fabs(uz),
            c,
            energy,
            uz < 0.0};
  }
}

namespace {

// The share of the muons of a zenith law `weight` (intensity per solid
// angle, a function of the zenith angle) that cross a plane tilted by
// alpha, through both faces, against a horizontal one: over the azimuth,
// |u . normal| = |a + b cos(phi)| with a = cos(alpha) cos(theta), b =
// sin(alpha) sin(theta); where a >= b (theta up to pi/2 - alpha) its
// integral is 2 pi a, beyond it changes sign at phi0 = acos(-a/b) and
// gives 4 a phi0 + 4 sqrt(b^2 - a^2) - 2 pi a.
double around_the_azimuth(double alpha, double theta) {
  const double a = std::cos(alpha) * std::cos(theta);
  const double b = std::sin(alpha) * std::sin(theta);
  const double phi0 = std::acos(std::fmax(-1.0, -a / b));
  return 4 * a * phi0 + 4 * std::sqrt(std::fmax(0.0, b * b - a * a)) -
         2 * pi * a;
}

} // namespace

namespace {

// The integral over the sky above the horizon of weight(cos theta)
// |u . normal| d(Omega), for a plane tilted by alpha: over the azimuth
// 2 pi a up to pi/2 - alpha, around_the_azimuth beyond.
template <class Weight> double plane_integral(double alpha, Weight weight) {
  const double steep = tanh_sinh(
      [&](double theta) {
        return std::sin(theta) * weight(std::cos(theta)) * 2 * pi *
               std::cos(alpha) * std::cos(theta);
      },
      0.0, pi / 2 - alpha, 1e-12);
  const double shallow =
      alpha == 0.0 ? 0.0
                   : tanh_sinh(
                         [&](double theta) {
                           return std::sin(theta) * weight(std::cos(theta)) *
                                  around_the_azimuth(alpha, theta);
                         },
                         pi / 2 - alpha, pi / 2, 1e-12);
  return steep + shallow;
}

// A box's faces, each's area times what `per_plane` gives for its tilt.
template <class PerPlane>
double over_the_faces(const layer &l, const tilt &lean, PerPlane per_plane) {
  // The angle of each face's normal to the vertical, from the vertical's
  // components in the telescope's frame (e3 of frame_of).
  const sky_frame f = frame_of(lean);
  const auto share = [&](double vertical_component) {
    const double c = std::fmin(1.0, std::fabs(vertical_component));
    return per_plane(std::fmin(90.0, std::acos(c) / degree));
  };
  const double top = l.width_cm * l.length_cm;
  const double flux_top = top * per_plane(lean.angle_deg);
  if (l.thickness_cm == 0.0) {
    return flux_top;
  }
  return flux_top + l.length_cm * l.thickness_cm * share(f.e3[0]) +
         l.width_cm * l.thickness_cm * share(f.e3[1]);
}

} // namespace

double tilted_flux_share(double tilt_deg, const sky_model &sky) {
  if (tilt_deg == 0.0) {
    return 1.0;
  }
  const double alpha = tilt_deg * degree;
  if (sky.law == sky_law::cos_power) {
    const double n = sky.exponent;
    // Up to pi/2 - alpha the integral of 2 pi a cos^N(theta) sin(theta)
    // has a closed form.
    const double steep =
        std::cos(alpha) * (1.0 - std::pow(std::sin(alpha), n + 2));
    const auto shallow = [&](double theta) {
      return std::sin(theta) * std::pow(std::cos(theta), n) *
             around_the_azimuth(alpha, theta);
    };
    return steep +
           (n + 2) / (2 * pi) * tanh_sinh(shallow, pi / 2 - alpha, pi / 2);
  }
  // The spectrum's zenith law, D(theta)^-(n-1), by quadrature.
  return plane_integral(
             alpha, [&](double c) { return zenith_factor(c, sky.exponent); }) /
         zenith_flux_share(sky.exponent);
}

double box_flux_area(const layer &l, const tilt &lean, const sky_model &sky) {
  return over_the_faces(l, lean, [&](double tilt_deg) {
    return tilted_flux_share(tilt_deg, sky);
  });
}

namespace {

// Where the component i of the direction u(theta, phi) = sin(theta) cos(phi)
// e1 + sin(theta) sin(phi) e2 + cos(theta) e3, in the telescope's frame,
// reaches the value v, as the angles at which the integrand over the sky
// has a kink: the zenith angles where the level of v is touched
// (cos(theta - beta) = v, the rows of the frame being unit vectors), and at
// a zenith angle the azimuths that cross it.
struct component {
  double radial, phase, vertical; // u_i = sin(theta) radial cos(phi - phase)
                                  //       + cos(theta) vertical
};

component component_of(const sky_frame &f, int i) {
  return {std::hypot(f.e1[i], f.e2[i]), std::atan2(f.e2[i], f.e1[i]), f.e3[i]};
}

void add_zenith_kinks(const component &c, double v, std::vector<double> &at) {
  if (std::fabs(v) > 1.0) {
    return;
  }
  for (const double beta :
       {std::atan2(c.radial, c.vertical), std::atan2(-c.radial, c.vertical)}) {
    for (const double theta :
         {beta + std::acos(v), beta - std::acos(v),
          beta + std::acos(v) - 2 * pi, beta - std::acos(v) + 2 * pi}) {
      if (theta > 0.0 && theta < pi / 2) {
        at.push_back(theta);
      }
    }
  }
}

void add_azimuth_kinks(const component &c, double v, double theta,
                       std::vector<double> &at) {
  const double across = std::sin(theta) * c.radial;
  if (!(across > 0.0)) {
    return;
  }
  const double cosine = (v - std::cos(theta) * c.vertical) / across;
  if (std::fabs(cosine) > 1.0) {
    return;
  }
  for (const double phi :
       {c.phase + std::acos(cosine), c.phase - std::acos(cosine)}) {
    at.push_back(phi - 2 * pi * std::floor(phi / (2 * pi)));
  }
}

// The sum of the integrals of f over the pieces of [a, b] between the
// sorted cuts.
template <class F>
double piecewise(F f, double a, double b, std::vector<double> cuts,
                 double tolerance, double scale) {
  cuts.push_back(a);
  cuts.push_back(b);
  std::sort(cuts.begin(), cuts.end());
  double sum = 0.0;
  for (std::size_t i = 0; i + 1 < cuts.size(); ++i) {
    sum += tanh_sinh(f, cuts[i], cuts[i + 1], tolerance, scale);
  }
  return sum;
}

} // namespace

double box_firing_area(const layer &l, const tilt &lean, const sky_model &sky,
                       double min_path_cm) {
  const bool cos_law = sky.law == sky_law::cos_power;
  if (min_path_cm == 0.0 && (cos_law || sky.overburden_count == 0)) {
    return box_flux_area(l, lean, sky);
  }
  // The muons of each zenith angle that fire the box, per unit of J: the
  // sky's law, and under the spectrum the share of the muons drawn (above
  // the least energy of the sky) that get through the overburden at that
  // angle.
  const double lowest = sky_least_energy_gev(sky);
  const double drawn = site_intensity_above(sky, lowest);
  const double normalised = cos_law ? (sky.exponent + 2) / (2 * pi)
                                    : 1.0 / zenith_flux_share(sky.exponent);
  const auto weight = [&](double c) {
    if (cos_law) {
      return std::pow(c, sky.exponent);
    }
    const double through = muon_mass_gev + overburden_kinetic(sky, c);
    return zenith_factor(c, sky.exponent) * site_intensity_above(sky, through) /
           drawn;
  };
  // Every chord counts: each face's projection, integrated over the
  // azimuth in closed form.
  if (min_path_cm == 0.0) {
    return normalised * over_the_faces(l, lean, [&](double tilt_deg) {
             return plane_integral(tilt_deg * degree, weight);
           });
  }
  const sky_frame f = frame_of(lean);
  const double size[3] = {l.width_cm, l.length_cm, l.thickness_cm};
  const component parts[3] = {component_of(f, 0), component_of(f, 1),
                              component_of(f, 2)};
  // The values of each component where the shrunk box's area has a kink:
  // where the component changes sign, and where a side shrinks to nothing.
  std::vector<double> levels[3];
  for (int i = 0; i < 3; ++i) {
    levels[i] = {0.0};
    const double edge = size[i] / min_path_cm;
    levels[i].push_back(edge);
    levels[i].push_back(-edge);
  }
  // The order of the whole ring's integral: pieces far smaller are done
  // when they are known to a share of it.
  const double largest =
      2 * pi * (size[0] * size[1] + size[1] * size[2] + size[0] * size[2]);
  const auto shrunk_area = [&](double theta, double phi) {
    const double s = std::sin(theta), c = std::cos(theta);
    double u[3], side[3];
    for (int i = 0; i < 3; ++i) {
      u[i] = std::fabs(s * parts[i].radial * std::cos(phi - parts[i].phase) +
                       c * parts[i].vertical);
      side[i] = size[i] - min_path_cm * u[i];
      // Every box has a thickness where a least path is asked for.
      if (!(side[i] > 0.0)) {
        return 0.0;
      }
    }
    return side[0] * side[1] * u[2] + side[1] * side[2] * u[0] +
           side[0] * side[2] * u[1];
  };
  const auto around = [&](double theta) {
    std::vector<double> cuts;
    for (int i = 0; i < 3; ++i) {
      for (const double v : levels[i]) {
        add_azimuth_kinks(parts[i], v, theta, cuts);
      }
    }
    const double ring =
        piecewise([&](double phi) { return shrunk_area(theta, phi); }, 0.0,
                  2 * pi, cuts, 1e-11, largest);
    return std::sin(theta) * weight(std::cos(theta)) * ring;
  };
  std::vector<double> cuts;
  for (int i = 0; i < 3; ++i) {
    for (const double v : levels[i]) {
      add_zenith_kinks(parts[i], v, cuts);
    }
  }
  return normalised * piecewise(around, 0.0, pi / 2, cuts, 1e-10, largest);
}

double site_intensity_above(const sky_model &sky, double energy_gev) {
  const double sea = vertical_intensity_above(energy_gev, sky.exponent);
  return sky.air_g_cm2 > 0.0
             ? sea * altitude_intensity_ratio(sky.air_g_cm2, energy_gev)
             : sea;
}

double sky_least_energy_gev(const sky_model &sky) {
  return muon_mass_gev + overburden_kinetic(sky, 1.0);
}

double drawn_flux(const sky_model &sky) {
  if (sky.law == sky_law::cos_power) {
    return 1.0;
  }
  return zenith_flux_share(sky.exponent) *
         site_intensity_above(sky, sky_least_energy_gev(sky)) *
         per_cm2_min_of_per_m2_s;
}

double flux_of_intensity(double intensity, double exponent) {
  // m^-2 s^-1 into cm^-2 min^-1.
  constexpr double per_cm2_minute = 60.0 / 1e4;
  return 2.0 * pi * intensity / (exponent + 2.0) * per_cm2_minute;
}
