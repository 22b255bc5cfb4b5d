#include "simulation/effective_exponent.h"
#include "simulation/muon_spectrum.h"

#include <cmath>

double effective_exponent(double threshold_gev) {
  return fitted_slope(
      [threshold_gev](double c) { return intensity_above(threshold_gev, c); });
}

double effective_exponent_under(material m, double thickness_cm) {
  const double column = thickness_cm * density_g_cm3(m);
  return fitted_slope([m, column](double c) {
    const double kinetic = kinetic_energy_to_cross_gev(m, column / c);
    return intensity_above(total_energy_of_kinetic_gev(kinetic), c);
  });
}
