#include "fit/fit.h"
#include "simulation/muon_spectrum.h"
#include "simulation/sky.h"

#include <boost/math/special_functions/gamma.hpp>
#include <boost/math/tools/minima.hpp>
#include <boost/math/tools/roots.hpp>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <utility>

namespace {

constexpr double pi = 3.14159265358979323846;
constexpr int bits = 48; // of the minimisers' precision
constexpr double seconds_per_minute = 60.0;
// log J (or log I) runs within these: e^700 is near the largest double.
constexpr double log_flux_lowest = -700.0, log_flux_highest = 700.0;
// A least closer than this share of its range to an end lies at the end.
constexpr double at_the_end = 1e-6;

// The rows of each setting pooled: the counts and live times added, which
// gives the same likelihood of the sky as the rows one by one.
struct pooled_rows {
  std::vector<double> counts, seconds;
  std::vector<std::size_t> first_row; // of each group
};

pooled_rows pool(const fit_problem &p) {
  pooled_rows pooled;
  const std::size_t groups =
      p.group.empty() ? p.settings.size() : p.models.size();
  pooled.counts.assign(groups, 0.0);
  pooled.seconds.assign(groups, 0.0);
  pooled.first_row.assign(groups, p.settings.size());
  for (std::size_t i = 0; i < p.settings.size(); ++i) {
    const std::size_t g = group_of(p, i);
    pooled.counts[g] += p.settings[i].coincidences;
    pooled.seconds[g] += p.settings[i].live_time_s;
    pooled.first_row[g] = std::min(pooled.first_row[g], i);
  }
  return pooled;
}

const counters &counters_of(const fit_problem &p, const setting &s) {
  return s.own_counters ? s.counter : p.counter;
}

// The rate of group g in Hz at the sky (x, N), x the parameter fitted.
double group_hz(const fit_problem &p, const pooled_rows &pooled, std::size_t g,
                double x, double exponent) {
  const setting &s = p.settings[pooled.first_row[g]];
  return expected_hz(p.models[g], p.scope, counters_of(p, s), s,
                     p.intensity ? flux_of_intensity(x, exponent) : x,
                     exponent);
}

// -ln L up to a constant, as half the deviance of the pooled counts: it is
// near 0 at the least, so that counts of a trillion keep digits enough to
// tell a rise of 1/2.
double half_deviance(const pooled_rows &pooled, const std::vector<double> &hz,
                     double background_hz) {
  double sum = 0.0;
  for (std::size_t g = 0; g < hz.size(); ++g) {
    const double n = pooled.counts[g];
    const double mu = pooled.seconds[g] * (hz[g] + background_hz);
    if (n > 0.0) {
      if (!(mu > 0.0)) {
        return std::numeric_limits<double>::infinity();
      }
      sum += mu - n - n * std::log(mu / n);
    } else {
      sum += mu;
    }
  }
  return sum;
}

// The background that fits best at given model rates, in Hz, 0 or more:
// -ln L is convex in it, so its derivative, sum T - n / (rate + B), rises
// through 0 at most once, below sum n / sum T.
double best_background_hz(const pooled_rows &pooled,
                          const std::vector<double> &hz) {
  double seconds = 0.0, counts = 0.0;
  for (std::size_t g = 0; g < hz.size(); ++g) {
    seconds += pooled.seconds[g];
    counts += pooled.counts[g];
  }
  const auto slope = [&](double b) {
    double s = seconds;
    for (std::size_t g = 0; g < hz.size(); ++g) {
      s -= pooled.counts[g] / (hz[g] + b);
    }
    return s;
  };
  if (!(slope(0.0) < 0.0)) {
    return 0.0; // it would be below 0
  }
  const double highest = counts / seconds;
  if (!(slope(highest) > 0.0)) {
    return highest;
  }
  std::uintmax_t iterations = 200;
  const auto [a, b] = boost::math::tools::toms748_solve(
      slope, 0.0, highest, boost::math::tools::eps_tolerance<double>(bits),
      iterations);
  return (a + b) / 2;
}

// The likelihood at (x, N), the background as the problem has it or, where
// it is free and not held at `held_background` (per minute, NaN when not
// held), at its best.
struct point_fit {
  double value, background_per_minute;
};

point_fit at_sky(const fit_problem &p, const pooled_rows &pooled, double x,
                 double exponent, double held_background) {
  std::vector<double> hz(pooled.counts.size());
  for (std::size_t g = 0; g < hz.size(); ++g) {
    hz[g] = group_hz(p, pooled, g, x, exponent);
  }
  double b = 0.0;
  if (!std::isnan(held_background)) {
    b = held_background / seconds_per_minute;
  } else if (p.background == background_kind::fixed) {
    b = p.background_per_minute / seconds_per_minute;
  } else if (p.background == background_kind::free) {
    b = best_background_hz(pooled, hz);
  }
  return {half_deviance(pooled, hz, b), b * seconds_per_minute};
}

// Where f is least: from `start`, outward by doubling steps until it rises
// on both sides, then Brent's method between; never beyond [lowest,
// highest], where a least at an end says so.
struct least {
  double at, value;
  bool at_end;
};

template <class F>
least minimise_outward(F f, double start, double step, double lowest,
                       double highest) {
  double middle = std::clamp(start, lowest, highest);
  double f_middle = f(middle);
  double direction = 1.0;
  if (f(std::min(highest, middle + step)) > f_middle) {
    direction = -1.0;
  }
  double behind = middle, ahead = middle;
  for (;;) {
    ahead = std::clamp(middle + direction * step, lowest, highest);
    const double f_ahead = f(ahead);
    if (!(f_ahead <= f_middle) || ahead == middle) {
      break;
    }
    behind = middle;
    middle = ahead;
    f_middle = f_ahead;
    step *= 2;
  }
  // Where it never rose behind (the start), look behind it as far.
  if (behind == middle) {
    behind = std::clamp(middle - direction * step, lowest, highest);
  }
  std::uintmax_t iterations = 200;
  const auto [at, value] = boost::math::tools::brent_find_minima(
      f, std::min(behind, ahead), std::max(behind, ahead), bits, iterations);
  const double tolerance = at_the_end * (highest - lowest);
  return {at, value, at - lowest < tolerance || highest - at < tolerance};
}

// Brent's method over a parameter's whole range, its least at an end said.
template <class F> least minimise_over(F f, double lowest, double highest) {
  std::uintmax_t iterations = 200;
  const auto [at, value] = boost::math::tools::brent_find_minima(
      f, lowest, highest, bits, iterations);
  const double tolerance = at_the_end * (highest - lowest);
  return {at, value, at - lowest < tolerance || highest - at < tolerance};
}

// The parameter fitted that fits best at a given exponent (and background
// held, or not), and its -ln L: searched in log x from where the counts
// over the times and the model's rates at x = 1 point.
least best_flux(const fit_problem &p, const pooled_rows &pooled,
                double exponent, double held_background) {
  double counts = 0.0, expected = 0.0;
  for (std::size_t g = 0; g < pooled.counts.size(); ++g) {
    counts += pooled.counts[g];
    expected += pooled.seconds[g] * group_hz(p, pooled, g, 1.0, exponent);
  }
  const double guess = counts / expected;
  const double start = std::isfinite(std::log(guess)) ? std::log(guess) : 0.0;
  const least l = minimise_outward(
      [&](double log_x) {
        return at_sky(p, pooled, std::exp(log_x), exponent, held_background)
            .value;
      },
      start, 1.0, log_flux_lowest, log_flux_highest);
  return {std::exp(l.at), l.value, l.at_end};
}

// The best exponent for a held x: over N's range, or N itself when fixed.
double least_over_exponent(const fit_problem &p, const pooled_rows &pooled,
                           bool fixed, double exponent, double x,
                           double held_background) {
  if (fixed) {
    return at_sky(p, pooled, x, exponent, held_background).value;
  }
  return minimise_over(
             [&](double n) {
               return at_sky(p, pooled, x, n, held_background).value;
             },
             range_of(p.sky).low, range_of(p.sky).high)
      .value;
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
interval profile_interval(Profile profile, double least_value, double best,
                          double step, double lowest, double highest) {
  const auto above = [&](double x) { return profile(x) - least_value - 0.5; };
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

// An interval of log x made one of x.
interval exponentiated(const interval &i) {
  return {std::exp(i.low), std::exp(i.high), i.low_at_limit, i.high_at_limit};
}

} // namespace

double other_per_unit(const fit_problem &p, double exponent) {
  if (p.sky.law == sky_law::spectrum) {
    sky_model at = p.sky;
    at.exponent = exponent;
    return site_intensity_above(at, total_energy_of_momentum_gev(1.0));
  }
  // I per unit of J: J = 2 pi I / (N + 2), in their units.
  return 1.0 / flux_of_intensity(1.0, exponent);
}

std::size_t group_of(const fit_problem &p, std::size_t i) {
  return p.group.empty() ? i : p.group[i];
}

double model_hz(const fit_problem &p, std::size_t i, double flux,
                double exponent) {
  const setting &s = p.settings[i];
  return expected_hz(p.models[group_of(p, i)], p.scope, counters_of(p, s), s,
                     p.intensity ? flux_of_intensity(flux, exponent) : flux,
                     exponent);
}

fit_result fit_sky(const fit_problem &p, bool exponent_fixed, double exponent) {
  const pooled_rows pooled = pool(p);
  const exponent_range range = range_of(p.sky);
  const double free = NAN; // no background held
  fit_result r{};
  r.exponent_fixed = exponent_fixed;
  double least_value = 0.0;
  if (exponent_fixed) {
    r.exponent = exponent;
    const least l = best_flux(p, pooled, exponent, free);
    r.flux = l.at;
    least_value = l.value;
  } else {
    const least l = minimise_over(
        [&](double n) { return best_flux(p, pooled, n, free).value; },
        range.low, range.high);
    r.exponent = l.at;
    least_value = l.value;
    r.exponent_edge = !l.at_end                             ? 0
                      : l.at < (range.low + range.high) / 2 ? -1
                                                            : 1;
    r.flux = best_flux(p, pooled, r.exponent, free).at;
  }
  const double j = r.flux, n = r.exponent;
  r.background = at_sky(p, pooled, j, n, free).background_per_minute;
  // The curvature at the least: -ln L's second derivatives, whose inverse
  // is the covariance; a free background is fitted anew at each point.
  const double hj = 1e-4 * r.flux, hn = 1e-4;
  const auto nll = [&](double x, double e) {
    return at_sky(p, pooled, x, e, free).value;
  };
  const double fjj =
      (nll(j + hj, n) - 2 * least_value + nll(j - hj, n)) / (hj * hj);
  if (exponent_fixed) {
    r.flux_error = 1.0 / std::sqrt(fjj);
    r.correlation = std::numeric_limits<double>::quiet_NaN();
  } else {
    const double n_low = std::max(range.low, n - hn),
                 n_high = std::min(range.high, n + hn);
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
    r.exponent_range = profile_interval(
        [&](double x) { return best_flux(p, pooled, x, free).value; },
        least_value, n, r.exponent_error, range.low, range.high);
  }
  // The flux's interval from its profile over the exponent, searched in
  // log J: the flux cannot reach 0 where counts were seen, and -ln L grows
  // without bound on the way there.
  r.flux_range = exponentiated(profile_interval(
      [&](double log_x) {
        return least_over_exponent(p, pooled, exponent_fixed, n,
                                   std::exp(log_x), free);
      },
      least_value, std::log(j), r.flux_error / j, log_flux_lowest,
      log_flux_highest));
  // The other figure's: I held where J is fitted (J = 2 pi I / (N + 2)),
  // or J held where I is, the exponent fitted anew; under the spectrum the
  // vertical intensity above 1 GeV/c held.
  const auto x_of_other = [&](double other, double e) {
    const double per_unit = other_per_unit(p, e);
    return p.intensity ? other * per_unit : other / per_unit;
  };
  const double other =
      p.intensity ? j / other_per_unit(p, n) : j * other_per_unit(p, n);
  r.other_range = exponentiated(profile_interval(
      [&](double log_other) {
        const auto at = [&](double e) {
          return at_sky(p, pooled, x_of_other(std::exp(log_other), e), e, free)
              .value;
        };
        return exponent_fixed ? at(n)
                              : minimise_over(at, range.low, range.high).value;
      },
      least_value, std::log(other), r.flux_error / j, log_flux_lowest,
      log_flux_highest));
  if (p.background == background_kind::fixed) {
    r.background = p.background_per_minute;
  } else if (p.background == background_kind::free) {
    // Its profile: the sky fitted anew at each background held.
    const auto held = [&](double b) {
      if (exponent_fixed) {
        return best_flux(p, pooled, n, b).value;
      }
      return minimise_over(
                 [&](double e) { return best_flux(p, pooled, e, b).value; },
                 range.low, range.high)
          .value;
    };
    const double hb = std::max(1e-3, 1e-3 * r.background);
    const double b0 = std::max(r.background, hb);
    const double fbb =
        (held(b0 + hb) - 2 * held(b0) + held(b0 - hb)) / (hb * hb);
    r.background_error = fbb > 0.0 ? 1.0 / std::sqrt(fbb) : NAN;
    double counts = 0.0, seconds = 0.0;
    for (std::size_t g = 0; g < pooled.counts.size(); ++g) {
      counts += pooled.counts[g];
      seconds += pooled.seconds[g];
    }
    r.background_range = profile_interval(
        held, least_value, r.background, r.background_error, 0.0,
        // Every count and more: no background beyond makes sense.
        10.0 * std::max(1.0, counts) / seconds * seconds_per_minute);
  }
  // The deviance against a model that gives every row its own count.
  double deviance = 0.0;
  for (std::size_t i = 0; i < p.settings.size(); ++i) {
    const setting &s = p.settings[i];
    const double mu = s.live_time_s * (model_hz(p, i, j, n) +
                                       r.background / seconds_per_minute);
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
  r.degrees_of_freedom = static_cast<int>(p.settings.size()) -
                         (exponent_fixed ? 1 : 2) -
                         (p.background == background_kind::free ? 1 : 0);
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
    r.counted_at_90 += s.tilt_deg == 90.0 && s.coincidences > 0.0 ? 1 : 0;
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
  const least l = minimise_over(half_chi2, 0.0, naive_exponent_max);
  r.exponent = l.at;
  r.at_edge = l.at_end && l.at > naive_exponent_max / 2;
  chi2(l.at, rate);
  r.rate_per_minute = rate * seconds_per_minute;
  r.exponent_range =
      profile_interval(half_chi2, l.value, l.at, 0.05, 0.0, naive_exponent_max);
  return r;
}
