// The sky's flux J and exponent N from counts, by Poisson maximum
// likelihood with the telescope's acceptance in the model, and intervals
// from the profile likelihood; with, where asked, a background that no sky
// explains.
#pragma once

#include "fit/model.h"

#include <cstddef>
#include <vector>

// A rate of coincidences that no straight muon makes (air showers,
// correlated noise), the same at every setting: none, a known one, or one
// fitted with the sky.
enum class background_kind { none, fixed, free };

// Everything the likelihood needs: the settings, their counts and times,
// and the model of each.
struct fit_problem {
  // Whether the parameter fitted is the vertical intensity I in m^-2 s^-1
  // sr^-1 rather than the flux J: the two differ by 2 pi / (N + 2), so
  // each has its own profile.
  bool intensity;
  telescope scope;
  counters counter; // of the rows without counters of their own
  std::vector<setting> settings;
  // One per setting of the telescope: group[i] is row i's. Rows that repeat
  // a setting (hourly counts at one tilt) share one. Empty: a model a row.
  std::vector<setting_model> models;
  std::vector<std::size_t> group = {};
  background_kind background = background_kind::none;
  double background_per_minute = 0.0; // when fixed
  // The sky's law, the site's air and the overburden; its exponent is what
  // the fit finds.
  sky_model sky = {};
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
  // The interval of the other figure of the sky: I where J is fitted, J
  // where I is.
  interval other_range;
  double flux_error, exponent_error; // from the curvature, for comparison
  // Of J and N, from the curvature; NaN when N is fixed or the curvature
  // has none.
  double correlation;
  double deviance, p_value; // goodness of fit
  int degrees_of_freedom;
  bool exponent_fixed;
  // -1 or 1 where the best N lies at the bottom or the top of its range,
  // where the likelihood would take it further; else 0.
  int exponent_edge;
  // Per minute, fitted (with its interval and the curvature's error), or
  // as given; 0 with none.
  double background;
  interval background_range;
  double background_error;
};

// The fit. With `exponent_fixed`, N is held at `exponent` and only J is
// fitted.
fit_result fit_sky(const fit_problem &p, bool exponent_fixed, double exponent);

// The rate in Hz that the sky (J, N), or (I, N), gives row i, the
// background left out.
double model_hz(const fit_problem &p, std::size_t i, double flux,
                double exponent);

// The other figure of the sky per unit of the parameter fitted, at an
// exponent: under cos^N the vertical intensity I (m^-2 s^-1 sr^-1) per unit
// of the flux J (cm^-2 min^-1); under the spectrum the vertical intensity of
// its muons above 1 GeV/c per unit of its normalisation.
double other_per_unit(const fit_problem &p, double exponent);

// Row i's group, as fit_problem::group gives it.
std::size_t group_of(const fit_problem &p, std::size_t i);

// What fitting R0 cos^N(tilt) to the rates gives, the telescope taken as
// infinitely narrow and free of accidentals, by least squares with each
// rate's Poisson variance, as a student would; its interval where chi^2
// rises by 1. `valid` is false when the settings have fewer than two tilts.
struct naive_fit {
  bool valid;
  double rate_per_minute, exponent;
  interval exponent_range;
  // Where the best N lies at the top of the naive fit's range, and the rows
  // at 90 degrees that counted, where cos^N is 0 and no N fits them.
  bool at_edge;
  int counted_at_90;
};

// The naive fit's exponent runs beyond the sky's, as a wide telescope's
// tilt scan falls more slowly than any sky.
constexpr double naive_exponent_max = 30.0;

naive_fit fit_naively(const std::vector<setting> &settings);
