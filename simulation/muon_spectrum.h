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
double total_energy_of_kinetic_gev(double kinetic_gev);

// D(theta): the path from the ground to the muons' production height along
// the zenith angle, over the vertical one, for a spherical Earth.
double atmosphere_path_ratio(double cos_zenith);

// dI/dE at total energy E and zenith cosine, in m^-2 s^-1 sr^-1 GeV^-1. 0
// below the muon's mass and for directions at or below the horizon.
double muon_intensity_gev(double energy_gev, double cos_zenith);

// The intensity of muons of total energy above `threshold_gev` from that
// zenith cosine, m^-2 s^-1 sr^-1: the integral of muon_intensity_gev to
// infinity, in closed form (relative accuracy about 1e-13).
double intensity_above(double threshold_gev, double cos_zenith);

// The flux through a horizontal surface of muons above `threshold_gev`
// from the whole upper hemisphere, the integral of intensity_above times
// cos(theta) over the solid angle, in m^-2 s^-1.
double flux_above_m2_s(double threshold_gev);

// A flux in m^-2 s^-1 in the unit labs and velmora-curve use, cm^-2 min^-1.
constexpr double per_cm2_min_of_per_m2_s = 60.0 / 1e4;

// The total energy of a muon drawn from the spectrum above `lowest_gev` at
// any zenith angle (the paper's spectrum has the same shape at every
// angle): the energy above which a fraction 1 - uniform of those muons
// lies, for `uniform` in [0, 1). Inverse of the closed-form integral, by
// Newton's method from the pure power law's inverse; the same bits on every
// platform that rounds as IEEE 754 does.
double sample_energy_gev(double uniform, double lowest_gev);

// The same draw for a Monte Carlo pass, about ten times faster: the inverse
// is interpolated (cubic Hermite, with its exact slope) in a table made once
// for the process, in ln of the integral, to a relative accuracy of about
// 1e-13 in energy; beyond the table (fewer than 1e-7 of draws) it falls back
// on sample_energy_gev. The sampler holds what depends on `lowest_gev`.
struct energy_sampler {
  double lowest_gev;
  double log_tail_lowest;
};
energy_sampler energy_sampler_above(double lowest_gev);
double sample_energy_gev(const energy_sampler &sampler, double uniform);
