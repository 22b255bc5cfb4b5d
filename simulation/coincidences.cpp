#include "simulation/coincidences.h"
#include "simulation/additive_generator.h"

#include <cmath>

namespace {

// The azimuth factor and the divisor are part of the defined results:
// published counts were made with exactly these, so they are not replaced by
// full-precision 2*pi or the generator's largest value.
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

// Draws the next track: exactly four draws, in this order. One statement per
// draw keeps the order fixed. Drawing all four before any arithmetic
// measured about a tenth faster: the long pow-sqrt-divide chain then no
// longer sits between generator calls.
inline muon_track draw_track(zenith_law law) {
  const double u1 = draw_uniform();
  const double u2 = draw_uniform();
  const double u3 = draw_uniform();
  const double u4 = draw_uniform();
  const double c = zenith_cosine(law, u3);
  const double phi = u4 * azimuth_factor;
  return {u1 * paddle_width_cm, u2 * paddle_length_cm,
          std::sqrt(1.0 - c * c) / c, std::cos(phi), std::sin(phi)};
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
  std::int32_t coincidences = 0;
  // Counting the trials done, rather than 1..n inclusive, keeps the counter
  // within range even for the largest count.
  for (std::int32_t done = 0; done < muons; ++done) {
    coincidences += lands_on_paddle(draw_track(law), distance_cm);
  }
  return coincidences;
}

void simulate_curve(const double *distances_cm, std::size_t count,
                    std::int32_t muons, zenith_law law,
                    std::int32_t *coincidences) {
  for (std::int32_t done = 0; done < muons; ++done) {
    const muon_track track = draw_track(law);
    for (std::size_t k = 0; k < count; ++k) {
      coincidences[k] += lands_on_paddle(track, distances_cm[k]);
    }
  }
}
