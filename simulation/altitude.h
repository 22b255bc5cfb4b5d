// The air above a site, and how the muons above an energy scale with it.
#pragma once

// The atmospheric depth (the mass of air per area above) at sea level and
// at a geometric altitude in the troposphere, 0 to 11 000 m, of the U.S.
// Standard Atmosphere 1976 (ISO 2533 agrees below 32 km), g/cm^2.
double atmospheric_depth_g_cm2(double altitude_m);

double sea_level_depth_g_cm2();

// The intensity of muons above `threshold_gev` (total energy) under
// `depth_g_cm2` of air, over the sea-level one, for the same zenith angle.
// Valid to about 4000 m (depth 630 g/cm^2), uncertain by about 15% there
// (see altitude.cpp).
double altitude_intensity_ratio(double depth_g_cm2, double threshold_gev);

// The total energies, GeV, that part altitude_intensity_ratio's bands: the
// intensity above a threshold changes its slope in the threshold there.
constexpr double altitude_band_low_gev = 2.0, altitude_band_high_gev = 3.0;

// The attenuation lengths in air behind altitude_intensity_ratio, g/cm^2:
// of muons below 2 GeV and of muons of 3 GeV and above.
double low_energy_attenuation_g_cm2();
double high_energy_attenuation_g_cm2();
