#include "simulation/coincidences.h"
#include "simulation/additive_generator.h"

#include <cmath>

namespace {

// The azimuth factor and the divisor are part of the defined results:
// published counts were made with exactly these, so they are not replaced by
// full-precision 2*pi or the generator's largest value.
constexpr double azimuth_factor = 6.283185308;
constexpr double rand_divisor = 2147483647.0;

// The exponent of the zenith cosine's draw under cos_squared for a sky of
// intensity cos^n: the inverse of the cumulative c^(n+2) of the density
// (n+2) c^(n+1) on [0, 1]; exactly 0.25 for n = 2.
double cosine_power(double exponent) {
  return 1.0 / (exponent + 2.0);
}

// Cosine of the zenith angle from one uniform variate under `law`.
double zenith_cosine(zenith_law law, double power, double u) {
  if (law == zenith_law::cos_squared) {
    return std::pow(u, power);
  }
  return 1.0 - (u + u);
}

// Draws the next track through a `width` x `length` upper paddle: exactly
// four draws, in this order. One statement per draw keeps the order fixed.
// Drawing all four before any arithmetic measured about a tenth faster: the
// long pow-sqrt-divide chain then no longer sits between generator calls.
inline muon_track draw_track(zenith_law law, double power, double width,
                             double length) {
  const double u1 = draw_uniform();
  const double u2 = draw_uniform();
  const double u3 = draw_uniform();
  const double u4 = draw_uniform();
  const double c = zenith_cosine(law, power, u3);
  const double phi = u4 * azimuth_factor;
  return {u1 * width, u2 * length, std::sqrt(1.0 - c * c) / c, std::cos(phi),
          std::sin(phi)};
}

// The process starts where glibc's rand() starts, as after srand(1).
additive_generator uniform_generator = seeded_generator(1);

} // namespace

void seed_uniform(std::uint32_t seed) {
  uniform_generator = seeded_generator(seed);
}

double draw_uniform() {
  return static_cast<double>(next_value(uniform_generator)) / rand_divisor;
}

std::int32_t simulate_coincidences(double distance_cm, std::int32_t muons,
                                   zenith_law law) {
  constexpr landing_area area = lower_paddle(paddle_pair);
  const double power = cosine_power(2.0);
  std::int32_t coincidences = 0;
  // Counting the trials done, rather than 1..n inclusive, keeps the counter
  // within range even for the largest count.
  for (std::int32_t done = 0; done < muons; ++done) {
    coincidences += lands_on_paddle(
        draw_track(law, power, paddle_width_cm, paddle_length_cm), area,
        distance_cm);
  }
  return coincidences;
}

void simulate_curve(const telescope &scope, zenith_law law, double exponent,
                    const double *distances_cm, std::size_t count,
                    std::int32_t muons, std::int32_t *coincidences) {
  const landing_area area = lower_paddle(scope);
  const double power = cosine_power(exponent);
  for (std::int32_t done = 0; done < muons; ++done) {
    const muon_track track =
        draw_track(law, power, scope.top_width_cm, scope.top_length_cm);
    for (std::size_t k = 0; k < count; ++k) {
      coincidences[k] += lands_on_paddle(track, area, distances_cm[k]);
    }
  }
}
