// The sky a telescope meets: a cos^N law of directions alone, or the
// sea-level muon spectrum in energy and zenith angle, at the site's altitude
// and under the matter above it.
#pragma once

#include "simulation/muon_range.h"

enum class sky_law {
  // Intensity per solid angle as cos^N of the zenith angle; no energies,
  // so matter stops nothing.
  cos_power,
  // The muon spectrum of muon_spectrum.h, each muon with its energy.
  spectrum,
};

// A horizontal slab above the telescope: a roof, floors, a hill. It stays
// horizontal whatever the telescope's tilt, and a muon from zenith angle
// theta crosses grams / cos(theta) of it.
struct overburden_slab {
  material what;
  double grams_cm2;
};

constexpr int overburden_max = 4;

// The spectrum's index may run over these: its zenith law D^-(n-1) then
// spans about cos^1 to cos^4, every sky a lab meets.
constexpr double spectrum_index_min = 2.0, spectrum_index_max = 5.0;

struct sky_model {
  sky_law law = sky_law::cos_power;
  // N of the cos^N law; for the spectrum its power-law index n, which sets
  // the shape in energy and the zenith law D(theta)^-(n-1) both.
  double exponent = 2.0;
  // The air above the site, g/cm^2: sea level's, or an altitude's.
  double air_g_cm2 = 0.0; // 0: sea level
  int overburden_count = 0;
  overburden_slab overburden[overburden_max] = {};
};

// The cos^N sky of exponent N.
constexpr sky_model cos_sky(double exponent) {
  sky_model sky;
  sky.exponent = exponent;
  return sky;
}
