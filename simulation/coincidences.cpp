#include "simulation/coincidences.h"
#include "simulation/telescope.h"

namespace {

// The process starts where glibc's rand() starts, as after srand(1).
additive_generator uniform_generator = seeded_generator(1);

} // namespace

void seed_uniform(std::uint32_t seed) {
  uniform_generator = seeded_generator(seed);
}

double draw_uniform() {
  return draw_uniform(uniform_generator);
}

std::int32_t simulate_coincidences(double distance_cm, std::int32_t muons,
                                   zenith_law law) {
  constexpr landing_area area = area_of(paddle_pair.layers[1]);
  const double power = cosine_power(2.0);
  std::int32_t coincidences = 0;
  // Counting the trials done, rather than 1..n inclusive, keeps the counter
  // within range even for the largest count.
  for (std::int32_t done = 0; done < muons; ++done) {
    coincidences +=
        lands_on_paddle(draw_track(uniform_generator, law, power,
                                   paddle_width_cm, paddle_length_cm),
                        area, distance_cm);
  }
  return coincidences;
}
