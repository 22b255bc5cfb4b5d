// The sea-level muon intensity in energy and zenith angle: the modified
// power law of Shukla and Sankrith, "Energy and angular distributions of
// atmospheric muons at the Earth", Int. J. Mod. Phys. A 33 (2018) 1850175
// (arXiv:1606.06907), with its curved-atmosphere zenith law.
//
// Energies are the muon's total energy E in GeV, as the paper writes its
// spectrum; a momentum p gives E = sqrt(p^2 + m^2), a kinetic energy T gives
// E = T + m. Intensities are per m^2, s and sr.
#pragma once

// Particle Data Group, Review of Particle Physics (2022), muon mass.
constexpr double muon_mass_gev = 0.1056583755;

// The paper's fit starts at this energy (its E_c): below it the formula is
// an extrapolation.
constexpr double spectrum_fit_lowest_gev = 0.5;

double total_energy_of_momentum_gev(double momentum_gev);

// D(theta): the path from the ground to the muons' production height along
// the zenith angle, over the vertical one, for a spherical Earth.
double atmosphere_path_ratio(double cos_zenith);

// The spectrum's power-law index n as its paper gives it; the fit takes
// others, which change its shape in energy and its zenith law together.
constexpr double paper_index = 3.01;

// D(theta)^-(n-1): the zenith law, 1 vertically.
double zenith_factor(double cos_zenith, double index = paper_index);

// dI/dE at total energy E and zenith cosine, in m^-2 s^-1 sr^-1 GeV^-1. 0
// below the muon's mass and for directions at or below the horizon.
double muon_intensity_gev(double energy_gev, double cos_zenith,
                          double index = paper_index);

// d ln I / dn at total energy E and zenith cosine, less what the index's
// own factor (n - 1) gives: I at index n is I at n0 times (n - 1)/(n0 - 1)
// exp((n - n0) times this), for weighting a muon drawn at n0 to n.
double log_intensity_slope(double energy_gev, double cos_zenith);

// The intensity of muons of total energy above `threshold_gev` from that
// zenith cosine, m^-2 s^-1 sr^-1: the integral of muon_intensity_gev to
// infinity, in closed form (relative accuracy about 1e-13), by quadrature
// where n is within 1e-3 of a whole number.
double intensity_above(double threshold_gev, double cos_zenith,
                       double index = paper_index);
double vertical_intensity_above(double threshold_gev,
                                double index = paper_index);

// The integral over the upper hemisphere of cos(theta) times the zenith
// law, sr: the flux through a horizontal surface over the vertical
// intensity.
double zenith_flux_share(double index = paper_index);

// The flux through a horizontal surface of muons above `threshold_gev`
// from the whole upper hemisphere, the integral of intensity_above times
// cos(theta) over the solid angle, in m^-2 s^-1.
double flux_above_m2_s(double threshold_gev, double index = paper_index);

// A flux in m^-2 s^-1 in the unit labs and velmora-curve use, cm^-2 min^-1.
constexpr double per_cm2_min_of_per_m2_s = 60.0 / 1e4;
