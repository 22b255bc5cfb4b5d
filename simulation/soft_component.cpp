#include "simulation/soft_component.h"
#include "simulation/muon_range.h"

#include <cmath>

// Particle Data Group, Review of Particle Physics (P.A. Zyla et al., Prog.
// Theor. Exp. Phys. 2020, 083C01), section 29.3.2 of "Cosmic rays" (J.J.
// Beatty, J. Matthews and S.P. Wakely, revised October 2019): at sea level
// "the integral vertical intensity of electrons plus positrons is very
// approximately 30, 6, and 0.2 m^-2 s^-1 sr^-1 above 10, 100, and 1000 MeV",
// and the ratio of photons to electrons plus positrons is about 1.3 above
// 1 GeV and 1.7 below the critical energy. The critical energy of air,
// 87.92 MeV (PDG, properties of air), marks the second; between the two the
// ratio is taken log-linear in energy.
//
// Transmission: the high-energy pair-production cross section of a photon
// is 7/9 of 1/X0 (PDG, "Passage of particles through matter", photon
// energy loss), so a photon's mean free path is 9/7 X0. Electrons lose
// energy as exp(-X/X0) and photons convert as exp(-7X/9X0); the softer of
// the two, the photons, set the attenuation of the component. This leaves
// out the showers the soft particles start in the absorber (whose own
// electrons and photons reach the counter for a few X0 at high energy),
// the soft particles made in the absorber by the muons themselves (knock-on
// electrons, decay electrons of stopped muons), and the coincidences of several
// particles of one air shower; at sea-level energies, near and below the
// critical energies of most absorbers, the showers multiply little, and the
// estimate is good to a factor of 2 behind one to five radiation lengths (our
// estimate, not a published figure): a bound on the primaries' survival, not on
// all a counter sees.

namespace {

constexpr double pi = 3.14159265358979323846;

constexpr double points_gev[3] = {0.01, 0.1, 1.0};
constexpr double electrons[3] = {30.0, 6.0, 0.2};

constexpr double air_critical_gev = 0.08792;

double power_law_through(double e) {
  // The segment whose power is used: inside the table, the one holding e;
  // outside, the end one.
  const int k = e < points_gev[1] ? 0 : 1;
  const double slope = std::log(electrons[k + 1] / electrons[k]) /
                       std::log(points_gev[k + 1] / points_gev[k]);
  return electrons[k] * std::pow(e / points_gev[k], slope);
}

double photon_ratio(double e) {
  if (e <= air_critical_gev) {
    return 1.7;
  }
  if (e >= 1.0) {
    return 1.3;
  }
  const double t =
      std::log(e / air_critical_gev) / std::log(1.0 / air_critical_gev);
  return 1.7 + t * (1.3 - 1.7);
}

} // namespace

double soft_electron_intensity_above(double energy_gev) {
  const double at = log_log_interpolate(points_gev, electrons, 3, energy_gev);
  return std::isnan(at) ? power_law_through(energy_gev) : at;
}

double soft_photon_intensity_above(double energy_gev) {
  return photon_ratio(energy_gev) * soft_electron_intensity_above(energy_gev);
}

double soft_flux_above_m2_s(double energy_gev, double zenith_exponent) {
  const double vertical = soft_electron_intensity_above(energy_gev) +
                          soft_photon_intensity_above(energy_gev);
  return 2.0 * pi * vertical / (zenith_exponent + 2.0);
}

double soft_transmission(double thickness_g_cm2,
                         double radiation_length_g_cm2) {
  return std::exp(-7.0 / 9.0 * thickness_g_cm2 / radiation_length_g_cm2);
}
