// The soft component at sea level: electrons, positrons and photons, which
// a counter under little matter sees beside the muons, and which a few
// radiation lengths of matter remove.
#pragma once

// Vertical intensity of electrons plus positrons above `energy_gev`,
// m^-2 s^-1 sr^-1, through the Particle Data Group's three figures (see
// soft_component.cpp), a power law between each two, 10 MeV to 1 GeV (the
// end segments' powers outside).
double soft_electron_intensity_above(double energy_gev);

// Vertical intensity of photons above `energy_gev`, the electrons' times the
// photon-to-electron ratio the PDG gives.
double soft_photon_intensity_above(double energy_gev);

// The flux through a horizontal surface of electrons, positrons and photons
// above `energy_gev`, m^-2 s^-1, under a cos^N zenith law: 2 pi I / (N + 2).
// The PDG calls the angular dependence complex; N = 2 as for muons is the
// default, a steeper law gives less.
double soft_flux_above_m2_s(double energy_gev, double zenith_exponent = 2.0);

// The fraction of the soft component left after `thickness_g_cm2` of a
// material of radiation length `radiation_length_g_cm2`: exp(-X / lambda)
// with lambda = 9/7 X0, the mean free path of a high-energy photon for pair
// production.
double soft_transmission(double thickness_g_cm2, double radiation_length_g_cm2);
