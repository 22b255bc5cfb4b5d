#include "simulation/effective_exponent.h"
#include "simulation/muon_spectrum.h"

#include <cmath>

namespace {

constexpr int points = 15;
constexpr double lowest_cos = 0.3;

// The least-squares slope of ln I(c) against ln c, I given as a function of
// the zenith cosine.
template <class Intensity> double fitted_slope(Intensity intensity) {
  double sx = 0.0, sy = 0.0, sxx = 0.0, sxy = 0.0;
  for (int k = 0; k < points; ++k) {
    const double c = lowest_cos + (1.0 - lowest_cos) * k / (points - 1);
    const double x = std::log(c), y = std::log(intensity(c));
    sx += x;
    sy += y;
    sxx += x * x;
    sxy += x * y;
  }
  return (points * sxy - sx * sy) / (points * sxx - sx * sx);
}

} // namespace

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
