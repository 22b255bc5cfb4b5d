// The sky's flux J and exponent N from counts, by Poisson maximum
// likelihood with the telescope's acceptance in the model, and intervals
// from the profile likelihood.
#pragma once

#include "fit/model.h"

#include <vector>

// Everything the likelihood needs: the settings, their counts and times,
// and the model of each.
struct fit_problem {
  // Whether the parameter fitted is the vertical intensity I in m^-2 s^-1
  // sr^-1 rather than the flux J: the two differ by 2 pi / (N + 2), so
  // each has its own profile.
  bool intensity;
  telescope scope;
  counters counter;
  std::vector<setting> settings;
  std::vector<setting_model> models;
};

// A 68% interval from where the profile likelihood is 1/2 above its least
// (-2 ln L up by 1); an end that reaches the parameter's range says so.
struct interval {
  double low, high;
  bool low_at_limit, high_at_limit;
};

struct fit_result {
  double flux, exponent; // J in cm^-2 min^-1 (or I), N
  interval flux_range, exponent_range;
  double flux_error, exponent_error; // from the curvature, for comparison
  // Of J and N, from the curvature; NaN when N is fixed or the curvature
  // has none.
  double correlation;
  double deviance, p_value; // goodness of fit
  int degrees_of_freedom;
  bool exponent_fixed;
};

// The fit. With `exponent_fixed`, N is held at `exponent` and only J is
// fitted.
fit_result fit_sky(const fit_problem &p, bool exponent_fixed, double exponent);

// The expected rate in Hz of setting i at (J, N), or (I, N).
double model_hz(const fit_problem &p, std::size_t i, double flux,
                double exponent);

// What fitting R0 cos^N(tilt) to the rates gives, the telescope taken as
// infinitely narrow and free of accidentals, by least squares with each
// rate's Poisson variance, as a student would; its interval where chi^2
// rises by 1. `valid` is false when the settings have fewer than two tilts.
struct naive_fit {
  bool valid;
  double rate_per_minute, exponent;
  interval exponent_range;
};

naive_fit fit_naively(const std::vector<setting> &settings);
