#include "simulation/altitude.h"
#include "simulation/muon_spectrum.h"

#include <cmath>

// The troposphere of the U.S. Standard Atmosphere 1976 (NOAA, NASA and
// USAF, Washington 1976): temperature falling linearly with geopotential
// altitude H at L = 6.5 K/km from T0 = 288.15 K, so that hydrostatic
// equilibrium gives
//
//   P = P0 (1 - L H / T0)^(g0 M / (R* L)),
//
// P0 = 101325 Pa, g0 = 9.80665 m/s^2, M = 28.9644 kg/kmol,
// R* = 8.31432 J/(K mol) (the 1976 value), and H = r0 z / (r0 + z) with
// r0 = 6356766 m for a geometric altitude z. The depth is P / g0.
//
// The muon intensity grows with altitude more at low energy, where muons
// lost to decay and to ionisation in the air above sea level are many,
// than at high energy. CAPRICE94's spectra at float and on the ground
// (Boezio et al., Phys. Rev. D 62 (2000) 032007), as analysed by Engel et
// al. (2001) as cited in "Muography: Exploring Earth's Subsurface with
// Elementary Particles" (AGU/Wiley 2022), section 1.2.3: halving the depth from
// sea level (to 500 hPa) multiplies the flux of muons below 2 GeV by 5 and of
// muons of 3 to 20 GeV by 1.5. Each factor gives an attenuation length, L = (X0
// / 2) / ln(factor), 321 and 1274 g/cm^2. The intensity above a threshold is
// the sea-level spectrum's part below 2 GeV scaled with the first, above 3 GeV
// with the second, between 2 and 3 GeV with their geometric mean (and the
// spectrum's shape within each part kept). At 2657 m it gives 254 muons
// m^-2 s^-1 through a horizontal surface, where Borja et al. (Instruments 6
// (2022) 78) measured 255.1 +- 5.8 at Bogota; the two factors are round
// figures, and the spectrum's shape within a band changes with depth, so 15%
// is the uncertainty at 4000 m, less below.

namespace {

constexpr double p0_pa = 101325.0;
constexpr double g0 = 9.80665;
constexpr double molar_mass = 0.0289644;
constexpr double gas_constant = 8.31432;
constexpr double lapse_k_m = 0.0065;
constexpr double t0_k = 288.15;
constexpr double earth_radius_m = 6356766.0;

// kg/m^2 to g/cm^2.
constexpr double g_cm2_of_kg_m2 = 0.1;

} // namespace

double atmospheric_depth_g_cm2(double altitude_m) {
  const double h = earth_radius_m * altitude_m / (earth_radius_m + altitude_m);
  const double exponent = g0 * molar_mass / (gas_constant * lapse_k_m);
  const double p = p0_pa * std::pow(1.0 - lapse_k_m * h / t0_k, exponent);
  return p / g0 * g_cm2_of_kg_m2;
}

double sea_level_depth_g_cm2() {
  return p0_pa / g0 * g_cm2_of_kg_m2;
}

double low_energy_attenuation_g_cm2() {
  return 0.5 * sea_level_depth_g_cm2() / std::log(5.0);
}

double high_energy_attenuation_g_cm2() {
  return 0.5 * sea_level_depth_g_cm2() / std::log(1.5);
}

double altitude_intensity_ratio(double depth_g_cm2, double threshold_gev) {
  const double above = sea_level_depth_g_cm2() - depth_g_cm2;
  const double low = std::exp(above / low_energy_attenuation_g_cm2());
  const double high = std::exp(above / high_energy_attenuation_g_cm2());
  const double middle = std::sqrt(low * high);
  // The vertical sea-level intensity in the three energy bands above the
  // threshold (the zenith factor cancels in the ratio).
  const double from = threshold_gev;
  const double at_low =
      intensity_above(std::fmax(from, altitude_band_low_gev), 1.0);
  const double at_high =
      intensity_above(std::fmax(from, altitude_band_high_gev), 1.0);
  const double all = intensity_above(from, 1.0);
  const double below_low = all - at_low;
  const double between = at_low - at_high;
  return (low * below_low + middle * between + high * at_high) / all;
}
