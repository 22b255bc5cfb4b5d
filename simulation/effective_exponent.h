// The cos^N law that best stands for the spectrum's zenith dependence above
// the thresholds a telescope sets, for the project's cos^N sky and for
// comparison with measured exponents.
#pragma once

#include <cmath>

// The least-squares slope of ln I(c) against ln c at 15 zenith cosines
// evenly spaced from 0.3 to 1, I given as a function of the cosine: the
// N of the cos^N that stands for it best.
template <class Intensity> double fitted_slope(Intensity intensity) {
  constexpr int points = 15;
  constexpr double lowest_cos = 0.3;
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
