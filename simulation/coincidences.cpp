#include "simulation/coincidences.h"

#include <cmath>
#include <cstdlib>

namespace {

// Paddle footprint in cm: width along x, length along y.
constexpr double paddle_width_cm = 10.0;
constexpr double paddle_length_cm = 31.0;

// The azimuth factor and the rand() divisor are part of the defined results:
// published counts were made with exactly these, so they are not replaced by
// full-precision 2*pi or RAND_MAX.
constexpr double azimuth_factor = 6.283185308;
constexpr double rand_divisor = 2147483647.0;

// Cosine of the zenith angle from one uniform variate under `law`.
double zenith_cosine(zenith_law law, double u) {
  if (law == zenith_law::cos_squared) {
    // Inverse of the cumulative c^4 of the density 4c^3 on [0, 1].
    return std::pow(u, 0.25);
  }
  return 1.0 - (u + u);
}

// Whether a landing point lies on the lower paddle. Lower edges belong to it,
// upper edges do not; infinities and NaN fail every comparison. The four
// tests are combined with & rather than && so that no branch depends on the
// random landing point: a mispredicted branch per trial cost about a fifth
// of the run time.
bool on_paddle(double x, double y) {
  return (x >= 0.0) & (x < paddle_width_cm) & (y >= 0.0) &
         (y < paddle_length_cm);
}

} // namespace

double draw_uniform() {
  return static_cast<double>(std::rand()) / rand_divisor;
}

std::int32_t simulate_coincidences(double distance_cm, std::int32_t muons,
                                   zenith_law law) {
  std::int32_t coincidences = 0;
  // Counting the trials done, rather than 1..n inclusive, keeps the counter
  // within range even for the largest count.
  for (std::int32_t done = 0; done < muons; ++done) {
    // One statement per draw keeps their order fixed. Drawing all four
    // before any arithmetic measured about a tenth faster: the long
    // pow-sqrt-divide chain then no longer sits between generator calls.
    const double u1 = draw_uniform();
    const double u2 = draw_uniform();
    const double u3 = draw_uniform();
    const double u4 = draw_uniform();
    const double x = u1 * paddle_width_cm;
    const double y = u2 * paddle_length_cm;
    const double c = zenith_cosine(law, u3);
    // tan(theta) carrying the sign of c; +inf for c = 0.
    const double t = std::sqrt(1.0 - c * c) / c;
    const double phi = u4 * azimuth_factor;
    const double r = distance_cm * t;
    coincidences += on_paddle(std::cos(phi) * r + x, std::sin(phi) * r + y);
  }
  return coincidences;
}
