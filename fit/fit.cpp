#include "fit/fit.h"
#include "simulation/sky.h"

#include <boost/math/special_functions/gamma.hpp>
#include <boost/math/tools/minima.hpp>
#include <boost/math/tools/roots.hpp>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <numeric>

namespace {

constexpr double pi = 3.14159265358979323846;
constexpr int bits = 48; // of the minimisers' precision
constexpr double seconds_per_minute = 60.0;
// The naive fit's exponent may run beyond the sky's, as a wide telescope's
// tilt scan falls more slowly than any sky.
constexpr double naive_exponent_max = 30.0;

// -ln L up to a constant: the sum over settings of mu - n ln mu.
double negative_log_likelihood(const fit_problem &p, double flux,
                               double exponent) {
  double sum = 0.0;
  for (std::size_t i = 0; i < p.settings.size(); ++i) {
    const setting &s = p.settings[i];
    const double mu = s.live_time_s * model_hz(p, i, flux, exponent);
    if (s.coincidences > 0.0) {
      if (!(mu > 0.0)) {
        return std::numeric_limits<double>::infinity();
      }
      sum += mu - s.coincidences * std::log(mu);
    } else {
      sum += mu;
    }
  }
  return sum;
}

// The flux that fits best at a given exponent, and its -ln L. The counts
// over the times and the model's rate at J = 1 give where to look.
std::pair<double, double> best_flux(const fit_problem &p, double exponent) {
  double counts = 0.0, expected = 0.0;
  for (std::size_t i = 0; i < p.settings.size(); ++i) {
    counts += p.settings[i].coincidences;
    expected += p.settings[i].live_time_s * model_hz(p, i, 1.0, exponent);
  }
  const double guess = counts / expected;
  const auto nll = [&](double log_flux) {
    return negative_log_likelihood(p, std::exp(log_flux), exponent);
  };
  std::uintmax_t iterations = 200;
  const auto [at, value] = boost::math::tools::brent_find_minima(
      nll, std::log(guess) - 5.0, std::log(guess) + 3.0, bits, iterations);
  return {std::exp(at), value};
}

// Where f, which is below 0 at `inside` and grows outward, reaches 0 toward
// `outside`; `at_limit` when it does not before `outside`.
template <class F>
double crossing(F f, double inside, double outside, bool &at_limit) {
  at_limit = f(outside) < 0.0;
  if (at_limit) {
    return outside;
  }
  // A profile whose fit anew at `inside` lies half a unit or more above the
  // least (its inner minimiser lost the least, or it is not a number) has
  // no crossing to look for: the side is left at `inside`.
  if (!(f(inside) < 0.0)) {
    return inside;
  }
  std::uintmax_t iterations = 200;
  const auto [a, b] = boost::math::tools::toms748_solve(
      f, std::min(inside, outside), std::max(inside, outside),
      boost::math::tools::eps_tolerance<double>(bits), iterations);
  return (a + b) / 2;
}

// The profile's crossing of 1/2 above its least on each side of `best`,
// within [lowest, highest], the outward steps first found by doubling
// `step` while the profile stays below.
template <class Profile>
interval profile_interval(Profile profile, double least, double best,
                          double step, double lowest, double highest) {
  const auto above = [&](double x) { return profile(x) - least - 0.5; };
  interval r{};
  if (!(step > 0.0 && step < 1e300)) {
    step = 0.1 * std::max(1.0, std::fabs(best));
  }
  const auto reach = [&](double direction, double limit) {
    double outer = best;
    // A step below 1e300 doubles past any limit in fewer than 2100 steps.
    for (int doubling = 0; doubling < 2100; ++doubling) {
      outer = best + direction * std::ldexp(step, doubling);
      if ((direction < 0 ? outer <= limit : outer >= limit) ||
          above(outer) >= 0.0) {
        break;
      }
    }
    return direction < 0 ? std::max(outer, limit) : std::min(outer, limit);
  };
  r.low = crossing(above, best, reach(-1.0, lowest), r.low_at_limit);
  r.high = crossing(above, best, reach(1.0, highest), r.high_at_limit);
  return r;
}

} // namespace

double model_hz(const fit_problem &p, std::size_t i, double flux,
                double exponent) {
  return expected_hz(p.models[i], p.scope, p.counter, p.settings[i],
                     p.intensity ? flux_of_intensity(flux, exponent) : flux,
                     exponent);
}

fit_result fit_sky(const fit_problem &p, bool exponent_fixed, double exponent) {
  fit_result r{};
  r.exponent_fixed = exponent_fixed;
  double least = 0.0;
  if (exponent_fixed) {
    r.exponent = exponent;
    std::tie(r.flux, least) = best_flux(p, exponent);
  } else {
    const auto profile = [&](double n) { return best_flux(p, n).second; };
    std::uintmax_t iterations = 200;
    std::tie(r.exponent, least) = boost::math::tools::brent_find_minima(
        profile, 0.0, model_exponent_max, bits, iterations);
    r.flux = best_flux(p, r.exponent).first;
  }
  // The curvature at the least: -ln L's second derivatives, whose inverse
  // is the covariance.
  const double hj = 1e-4 * r.flux, hn = 1e-4;
  const auto nll = [&](double j, double n) {
    return negative_log_likelihood(p, j, n);
  };
  const double j = r.flux, n = r.exponent;
  const double fjj = (nll(j + hj, n) - 2 * least + nll(j - hj, n)) / (hj * hj);
  if (exponent_fixed) {
    r.flux_error = 1.0 / std::sqrt(fjj);
    r.correlation = std::numeric_limits<double>::quiet_NaN();
  } else {
    const double n_low = std::max(0.0, n - hn),
                 n_high = std::min(model_exponent_max, n + hn);
    const double dn = (n_high - n_low) / 2, nm = (n_high + n_low) / 2;
    const double fnn =
        (nll(j, n_high) - 2 * nll(j, nm) + nll(j, n_low)) / (dn * dn);
    const double fjn = (nll(j + hj, n_high) - nll(j + hj, n_low) -
                        nll(j - hj, n_high) + nll(j - hj, n_low)) /
                       (4 * hj * dn);
    const double determinant = fjj * fnn - fjn * fjn;
    if (determinant > 0.0 && fnn > 0.0) {
      r.flux_error = std::sqrt(fnn / determinant);
      r.exponent_error = std::sqrt(fjj / determinant);
      r.correlation = -fjn / std::sqrt(fjj * fnn);
    } else {
      // A least on the edge of N's range, where -ln L still falls outward,
      // has no curvature to invert: J's error is then the one with N held.
      r.flux_error = 1.0 / std::sqrt(fjj);
      r.exponent_error = std::numeric_limits<double>::quiet_NaN();
      r.correlation = std::numeric_limits<double>::quiet_NaN();
    }
    r.exponent_range =
        profile_interval([&](double x) { return best_flux(p, x).second; },
                         least, n, r.exponent_error, 0.0, model_exponent_max);
  }
  // The flux's interval from its profile over the exponent.
  const auto flux_profile = [&](double flux) {
    if (exponent_fixed) {
      return nll(flux, n);
    }
    std::uintmax_t iterations = 200;
    return boost::math::tools::brent_find_minima(
               [&](double x) { return nll(flux, x); }, 0.0, model_exponent_max,
               bits, iterations)
        .second;
  };
  // Searched in log J: the flux cannot reach 0 where counts were seen, and
  // -ln L grows without bound on the way there.
  const interval log_range = profile_interval(
      [&](double log_flux) { return flux_profile(std::exp(log_flux)); }, least,
      std::log(j), r.flux_error / j, -700.0, 700.0);
  r.flux_range = {std::exp(log_range.low), std::exp(log_range.high),
                  log_range.low_at_limit, log_range.high_at_limit};
  // The deviance against a model that gives every setting its own count.
  double deviance = 0.0;
  for (std::size_t i = 0; i < p.settings.size(); ++i) {
    const setting &s = p.settings[i];
    const double mu = s.live_time_s * model_hz(p, i, j, n);
    deviance += 2 * (mu - s.coincidences);
    if (s.coincidences > 0.0) {
      deviance += 2 * s.coincidences * std::log(s.coincidences / mu);
    }
  }
  // Where the model meets every count, what is left is rounding: 0.
  if (deviance < 1e-9) {
    deviance = 0.0;
  }
  r.deviance = deviance;
  r.degrees_of_freedom =
      static_cast<int>(p.settings.size()) - (exponent_fixed ? 1 : 2);
  r.p_value =
      r.degrees_of_freedom > 0
          ? boost::math::gamma_q(r.degrees_of_freedom / 2.0, deviance / 2)
          : std::numeric_limits<double>::quiet_NaN();
  return r;
}

naive_fit fit_naively(const std::vector<setting> &settings) {
  naive_fit r{};
  std::vector<double> tilts;
  tilts.reserve(settings.size());
  for (const setting &s : settings) {
    tilts.push_back(s.tilt_deg);
  }
  std::sort(tilts.begin(), tilts.end());
  r.valid = std::unique(tilts.begin(), tilts.end()) - tilts.begin() > 1;
  if (!r.valid) {
    return r;
  }
  // Least squares of R0 cos^N(alpha) to the rates, each weighted by its
  // Poisson variance: for a given N the best R0 is linear. cos(90 degrees)
  // is 6e-17 in doubles: taken as the 0 it is.
  const auto cosine = [](const setting &s) {
    return s.tilt_deg == 90.0 ? 0.0 : std::cos(s.tilt_deg * pi / 180);
  };
  const auto chi2 = [&](double exponent, double &rate) {
    double xy = 0.0, xx = 0.0;
    for (const setting &s : settings) {
      const double x = std::pow(cosine(s), exponent);
      const double variance =
          std::max(s.coincidences, 1.0) / (s.live_time_s * s.live_time_s);
      xy += x * (s.coincidences / s.live_time_s) / variance;
      xx += x * x / variance;
    }
    rate = xy / xx;
    double sum = 0.0;
    for (const setting &s : settings) {
      const double x = std::pow(cosine(s), exponent);
      const double variance =
          std::max(s.coincidences, 1.0) / (s.live_time_s * s.live_time_s);
      const double residual = s.coincidences / s.live_time_s - rate * x;
      sum += residual * residual / variance;
    }
    return sum;
  };
  double rate = 0.0;
  const auto half_chi2 = [&](double n) { return chi2(n, rate) / 2; };
  std::uintmax_t iterations = 200;
  const auto [n, least] = boost::math::tools::brent_find_minima(
      half_chi2, 0.0, naive_exponent_max, bits, iterations);
  r.exponent = n;
  chi2(n, rate);
  r.rate_per_minute = rate * seconds_per_minute;
  r.exponent_range =
      profile_interval(half_chi2, least, n, 0.05, 0.0, naive_exponent_max);
  return r;
}
