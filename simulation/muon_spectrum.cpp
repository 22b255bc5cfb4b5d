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
double tail_small(double u1, double n) {
  const double r = u1 / a;
  double power = std::pow(r, 1.0 - n); // r^(k + 1 - n) at k = 0
  double sum = 0.0, sign = 1.0;
  // r is at most 1/2, so that the terms fall at least as 2^-k: some 60
  // reach the sum, and a term that is not a number ends it too.
  for (int k = 0;; ++k) {
    const double term = sign * power / (k + 1.0 - n);
    sum += term;
    if (k > 3 && !(std::fabs(term) > 1e-17 * std::fabs(sum))) {
      break;
    }
    power *= r;
    sign = -sign;
  }
  return std::pow(a, -n) * (pi / std::sin(pi * n) - sum);
}

// For u1 >= 2a: 1/(u + a) expanded in a/u.
double tail_large(double u1, double n) {
  const double q = -a / u1;
  double power = 1.0, sum = 0.0;
  // |q| is at most 1/2, as in tail_small.
  for (int k = 0;; ++k) {
    const double term = power / (n + k);
    sum += term;
    if (!(std::fabs(term) > 1e-17 * std::fabs(sum))) {
      break;
    }
    power *= q;
  }
  return std::pow(u1, -n) * sum;
}

// The same by quadrature, for any n above 1: with u = u1 / t it is
// u1^(1-n) times the integral over t in (0, 1] of t^(n-1) / (u1 + a t)
// (du = -u1 dt / t^2), whose only trouble, a power not smooth at t = 0
// for n below 2, the tanh-sinh rule takes.
double tail_by_quadrature(double u1, double n) {
  return std::pow(u1, 1.0 - n) *
         tanh_sinh(
             [&](double t) { return std::pow(t, n - 1.0) / (u1 + a * t); }, 0.0,
             1.0, 1e-14);
}

double tail(double u1, double n) {
  // The series' terms grow without bound as n nears a whole number, where
  // their sum does not: there, quadrature.
  if (std::fabs(n - std::round(n)) < 1e-3) {
    return tail_by_quadrature(u1, n);
  }
  if (u1 <= 0.5 * a) {
    return tail_small(u1, n);
  }
  if (u1 >= 2.0 * a) {
    return tail_large(u1, n);
  }
  // Between, where neither series converges fast, the smooth integrand
  // over [u1, 2a] by quadrature, and the rest by the large series.
  const double head = tanh_sinh(
      [n](double u) { return std::pow(u, -n) / (u + a); }, u1, 2.0 * a, 1e-14);
  return head + tail_large(2.0 * a, n);
}

// I0 N eps: the factor that turns tail() into an intensity.
double scale(double n) {
  return i0 * (n - 1.0) * std::pow(e0 + ec, n - 1.0) * eps;
}

} // namespace

double total_energy_of_momentum_gev(double momentum_gev) {
  return std::hypot(momentum_gev, muon_mass_gev);
}

double atmosphere_path_ratio(double cos_zenith) {
  const double rc = r_over_d * cos_zenith;
  return std::sqrt(rc * rc + 2.0 * r_over_d + 1.0) - rc;
}

double zenith_factor(double cos_zenith, double index) {
  return std::pow(atmosphere_path_ratio(cos_zenith), -(index - 1.0));
}

double muon_intensity_gev(double energy_gev, double cos_zenith, double index) {
  if (!(cos_zenith > 0.0) || !(energy_gev >= muon_mass_gev)) {
    return 0.0;
  }
  const double n = index;
  return i0 * (n - 1.0) * std::pow(e0 + ec, n - 1.0) *
         std::pow(e0 + energy_gev, -n) / (1.0 + energy_gev / eps) *
         zenith_factor(cos_zenith, n);
}

double log_intensity_slope(double energy_gev, double cos_zenith) {
  return std::log((e0 + ec) / (e0 + energy_gev)) -
         std::log(atmosphere_path_ratio(cos_zenith));
}

double vertical_intensity_above(double threshold_gev, double index) {
  const double e = std::fmax(threshold_gev, muon_mass_gev);
  if (std::isinf(e)) {
    return 0.0;
  }
  return scale(index) * tail(e0 + e, index);
}

double intensity_above(double threshold_gev, double cos_zenith, double index) {
  if (!(cos_zenith > 0.0)) {
    return 0.0;
  }
  return vertical_intensity_above(threshold_gev, index) *
         zenith_factor(cos_zenith, index);
}

double zenith_flux_share(double index) {
  // cos(theta) D^-(n-1) integrated over the upper hemisphere.
  return 2.0 * pi *
         tanh_sinh([index](double c) { return c * zenith_factor(c, index); },
                   0.0, 1.0, 1e-14);
}

double flux_above_m2_s(double threshold_gev, double index) {
  return zenith_flux_share(index) *
         vertical_intensity_above(threshold_gev, index);
}
