#include "simulation/muon_spectrum.h"
#include "simulation/quadrature.h"

#include <array>
#include <cmath>
#include <limits>

// Shukla and Sankrith, Int. J. Mod. Phys. A 33 (2018) 1850175, eq. (10):
//
//   I(E, theta) = I0 N (E0 + E)^-n (1 + E/eps)^-1 D(theta)^-(n-1),
//   N = (n - 1) (E0 + Ec)^(n-1),
//
// with D(theta) of eq. (7), the path ratio through an atmosphere of height d
// over an Earth of radius R,
//
//   D = sqrt((R/d)^2 cos^2 theta + 2 R/d + 1) - (R/d) cos theta.
//
// Parameters of their Table 1 for the vertical sea-level spectrum measured
// at Tsukuba (BESS), the fit above Ec: I0 = 70.7 m^-2 s^-1 sr^-1,
// n = 3.01, E0 = 4.29 GeV, eps = 854 GeV, Ec = 0.5 GeV; and of Table 2 for
// the zenith law, R/d = 174. N normalises the power law so that I0 is the
// vertical intensity above Ec when eps is infinite.
//
// Chosen over Guan et al. (arXiv:1509.06176) because its zenith law comes
// from the path through a round Earth's atmosphere and holds to 90 degrees,
// its energy and angle separate, and its integral above a threshold has a
// closed form, so the exact curve and the sampler need no table.

namespace {

constexpr double pi = 3.14159265358979323846;

constexpr double i0 = 70.7;
constexpr double n = 3.01;
constexpr double e0 = 4.29;
constexpr double eps = 854.0;
constexpr double ec = spectrum_fit_lowest_gev;
constexpr double r_over_d = 174.0;

// The integral of u^-n / (u + a) from u1 to infinity, a = eps - E0 > 0:
// with u = E0 + E it is the spectrum's integral above E, over eps.
constexpr double a = eps - e0;

// For u1 <= a/2: the integral over (0, infinity), a^-n pi / sin(pi n)
// continued to s = 1 - n < 0, less the part over (0, u1), whose series in
// u1/a continues term by term. n is not an integer, so no term is singular.
double tail_small(double u1) {
  const double r = u1 / a;
  double power = std::pow(r, 1.0 - n); // r^(k + 1 - n) at k = 0
  double sum = 0.0, sign = 1.0;
  for (int k = 0; k < 200; ++k) {
    const double term = sign * power / (k + 1.0 - n);
    sum += term;
    if (k > 3 && std::fabs(term) <= 1e-17 * std::fabs(sum)) {
      break;
    }
    power *= r;
    sign = -sign;
  }
  return std::pow(a, -n) * (pi / std::sin(pi * n) - sum);
}

// For u1 >= 2a: 1/(u + a) expanded in a/u.
double tail_large(double u1) {
  const double q = -a / u1;
  double power = 1.0, sum = 0.0;
  for (int k = 0; k < 200; ++k) {
    const double term = power / (n + k);
    sum += term;
    if (std::fabs(term) <= 1e-17 * std::fabs(sum)) {
      break;
    }
    power *= q;
  }
  return std::pow(u1, -n) * sum;
}

double tail(double u1) {
  if (u1 <= 0.5 * a) {
    return tail_small(u1);
  }
  if (u1 >= 2.0 * a) {
    return tail_large(u1);
  }
  // Between, where neither series converges fast, the smooth integrand
  // over [u1, 2a] by quadrature, and the rest by the large series.
  const double head = tanh_sinh(
      [](double u) { return std::pow(u, -n) / (u + a); }, u1, 2.0 * a, 1e-14);
  return head + tail_large(2.0 * a);
}

// I0 N eps: the factor that turns tail() into an intensity.
double scale() {
  return i0 * (n - 1.0) * std::pow(e0 + ec, n - 1.0) * eps;
}

double angular_factor(double cos_zenith) {
  return std::pow(atmosphere_path_ratio(cos_zenith), -(n - 1.0));
}

} // namespace

double total_energy_of_momentum_gev(double momentum_gev) {
  return std::hypot(momentum_gev, muon_mass_gev);
}

double total_energy_of_kinetic_gev(double kinetic_gev) {
  return kinetic_gev + muon_mass_gev;
}

double atmosphere_path_ratio(double cos_zenith) {
  const double rc = r_over_d * cos_zenith;
  return std::sqrt(rc * rc + 2.0 * r_over_d + 1.0) - rc;
}

double muon_intensity_gev(double energy_gev, double cos_zenith) {
  if (!(cos_zenith > 0.0) || !(energy_gev >= muon_mass_gev)) {
    return 0.0;
  }
  return i0 * (n - 1.0) * std::pow(e0 + ec, n - 1.0) *
         std::pow(e0 + energy_gev, -n) / (1.0 + energy_gev / eps) *
         angular_factor(cos_zenith);
}

double intensity_above(double threshold_gev, double cos_zenith) {
  if (!(cos_zenith > 0.0)) {
    return 0.0;
  }
  const double e = std::fmax(threshold_gev, muon_mass_gev);
  if (std::isinf(e)) {
    return 0.0;
  }
  return scale() * tail(e0 + e) * angular_factor(cos_zenith);
}

double flux_above_m2_s(double threshold_gev) {
  // The zenith law alone, integrated once: cos(theta) D^-(n-1) over cos.
  const double weight = tanh_sinh(
      [](double c) { return c * angular_factor(c); }, 0.0, 1.0, 1e-14);
  return 2.0 * pi * weight * intensity_above(threshold_gev, 1.0);
}

double sample_energy_gev(double uniform, double lowest_gev) {
  const double lowest = std::fmax(lowest_gev, muon_mass_gev);
  if (!(uniform > 0.0)) {
    return lowest;
  }
  if (!(uniform < 1.0)) {
    return std::numeric_limits<double>::infinity();
  }
  // Solve tail(u) = (1 - uniform) tail(u_lowest) for y = ln u. Without the
  // (1 + E/eps) factor tail(u) is u^(1-n)/(a (n-1)) for u << a, which gives
  // the start; Newton's steps then converge quadratically, since ln tail is
  // smooth and decreasing in y.
  const double u_lowest = e0 + lowest;
  const double target = std::log1p(-uniform) + std::log(tail(u_lowest));
  double y = std::log(u_lowest) - std::log1p(-uniform) / (n - 1.0);
  for (int step = 0; step < 60; ++step) {
    const double u = std::exp(y);
    const double t = tail(u);
    // d ln tail / dy = -u^(1-n) / ((u + a) tail)
    const double slope = -std::pow(u, 1.0 - n) / ((u + a) * t);
    const double dy = (std::log(t) - target) / slope;
    y -= dy;
    // Newton's error squares at each step (times |f''/2f'|, below 1 here):
    // a step under 1e-8 leaves an error under 1e-16, so stop without the
    // step that would confirm it.
    if (std::fabs(dy) <= 1e-8) {
      break;
    }
  }
  return std::exp(y) - e0;
}

namespace {

// The inverse of ln tail(u) as y = ln u on an even grid in w = ln tail, from
// the muon's mass to 10^4 GeV, with dy/dw at each node.
constexpr int nodes = 4097;

struct inverse_table {
  double w_first, step;
  std::array<double, nodes> y, slope;
};

double log_tail_slope(double u) {
  // d ln tail / d ln u
  return -std::pow(u, 1.0 - n) / ((u + a) * tail(u));
}

inverse_table make_inverse_table() {
  inverse_table t{};
  const double w_first = std::log(tail(e0 + muon_mass_gev));
  const double w_last = std::log(tail(e0 + 1e4));
  t.w_first = w_first;
  t.step = (w_last - w_first) / (nodes - 1);
  double y = std::log(e0 + muon_mass_gev);
  for (int k = 0; k < nodes; ++k) {
    const double w = w_first + t.step * k;
    // Newton from the previous node's y, to full precision.
    for (int step = 0; step < 60; ++step) {
      const double u = std::exp(y);
      const double dy = (std::log(tail(u)) - w) / log_tail_slope(u);
      y -= dy;
      if (std::fabs(dy) <= 1e-15 * std::fabs(y)) {
        break;
      }
    }
    t.y[k] = y;
    t.slope[k] = 1.0 / log_tail_slope(std::exp(y));
  }
  return t;
}

const inverse_table &table() {
  static const inverse_table t = make_inverse_table();
  return t;
}

} // namespace

energy_sampler energy_sampler_above(double lowest_gev) {
  const double lowest = std::fmax(lowest_gev, muon_mass_gev);
  return {lowest, std::log(tail(e0 + lowest))};
}

double sample_energy_gev(const energy_sampler &sampler, double uniform) {
  const inverse_table &t = table();
  const double w = sampler.log_tail_lowest + std::log1p(-uniform);
  const double x = (w - t.w_first) / t.step;
  if (!(x >= 0.0 && x < nodes - 1)) {
    return sample_energy_gev(uniform, sampler.lowest_gev);
  }
  const int k = static_cast<int>(x);
  const double s = x - k, h = t.step;
  // Cubic Hermite on [k, k + 1].
  const double s2 = s * s, s3 = s2 * s;
  const double y =
      (2 * s3 - 3 * s2 + 1) * t.y[k] + (s3 - 2 * s2 + s) * h * t.slope[k] +
      (-2 * s3 + 3 * s2) * t.y[k + 1] + (s3 - s2) * h * t.slope[k + 1];
  return std::exp(y) - e0;
}
