// How much matter a muon crosses before it stops: the continuous-slowing-down
// (CSDA) range of muons in the materials a lab puts above or between its
// counters, and each material's density and radiation length.
#pragma once

// The materials whose range tables the program holds.
enum class material {
  polyvinyltoluene, // plastic scintillator, vinyltoluene based
  lead,
  iron,
  shielding_concrete,
  water,
  standard_rock,
  aluminium,
};

constexpr int material_count = 7;

// Rows of every material's table, at the same kinetic energies.
constexpr int range_rows = 65;

// A table of kinetic energies (MeV) and CSDA ranges (g/cm^2), both rising.
struct range_table {
  const double *kinetic_mev;
  const double *range_g_cm2;
  int size;
};

range_table table_of(material m);

double density_g_cm3(material m);
double radiation_length_g_cm2(material m);

// The CSDA range of a muon of kinetic energy `kinetic_gev`, interpolated
// linearly in log range against log energy between the table's points.
// Energies outside the table (10 MeV to 100 GeV) give NaN.
double csda_range_g_cm2(material m, double kinetic_gev);

// The kinetic energy a muon needs to cross `thickness_g_cm2` of the material
// and come out with none left: the inverse of csda_range_g_cm2. 0 for no
// matter; NaN beyond the table's ranges.
double kinetic_energy_to_cross_gev(material m, double thickness_g_cm2);

// y at `at` on the broken line through (x[k], y[k]) in log-log coordinates;
// x rising, `at` within [x[0], x[n-1]], else NaN.
double log_log_interpolate(const double *x, const double *y, int n, double at);
