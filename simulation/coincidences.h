// Monte Carlo of cosmic-ray muons crossing two scintillator paddles.
#pragma once

#include "simulation/additive_generator.h"

#include <cmath>
#include <cstddef>
#include <cstdint>

// Footprint of each of the programs' paddles in cm: width along x, length
// along y.
constexpr double paddle_width_cm = 10.0;
constexpr double paddle_length_cm = 31.0;

// How a muon's zenith angle is drawn; each program fixes its own.
enum class zenith_law {
  // Through a surface, from a sky whose intensity per solid angle goes as
  // cos^N of the zenith angle: N = 2 (hence the name) unless a telescope's
  // exponent says otherwise.
  cos_squared,
  // Directions uniform over the whole sphere for each track through the
  // upper paddle (cos(theta) uniform on [-1, 1]): a sky whose intensity goes
  // as 1/cos(theta), N = -1 in the flux law's terms, not an isotropic sky
  // (N = 0), whose flux through a plane grows as cos(theta).
  isotropic,
};

// One muon through the upper paddle: everything about it that does not
// depend on how far below the lower paddle lies. It lands on the lower
// paddle's plane, a distance d below, at (x, y) + (dir_x, dir_y) * (d * t).
struct muon_track {
  double x, y; // entry point on the upper paddle, cm
  // For the zenith angle theta and azimuth phi of a horizontal telescope,
  // t = tan(theta) carrying the sign of cos(theta), +inf for cos(theta) = 0,
  // and dir = (cos(phi), sin(phi)).
  double t;
  double dir_x, dir_y;
  // |cos| of the track's angle to the axis: a chord through a box of depth
  // h is h / axis_cosine long.
  double axis_cosine;
  // cos of its zenith angle in the sky, for weighting it to another sky.
  double sky_cosine;
  // Its total energy in GeV under the spectrum's sky, infinite under a sky
  // of directions alone, where matter stops nothing; and whether it comes
  // up the axis, from the bottom's side of a tilted telescope.
  double energy_gev = HUGE_VAL;
  bool upward = false;
};

// The lower paddle as a landing test sees it: x in [x_low, x_high) and y in
// [y_low, y_high) of the upper paddle's coordinates.
struct landing_area {
  double x_low, x_high, y_low, y_high;
};

// Whether `track` crosses the lower paddle, `area`, `distance_cm` below the
// upper one: 1 or 0. The landing point is the product first, then the sum.
// Lower edges belong to the paddle, upper edges do not; infinities and NaN
// fail every comparison. The four tests are combined with & rather than &&
// so that no branch depends on the random landing point: a mispredicted
// branch per trial cost about a fifth of the run time.
inline std::int32_t lands_on_paddle(const muon_track &track,
                                    const landing_area &area,
                                    double distance_cm) {
  const double r = distance_cm * track.t;
  const double x = track.dir_x * r + track.x;
  const double y = track.dir_y * r + track.y;
  return (x >= area.x_low) & (x < area.x_high) & (y >= area.y_low) &
         (y < area.y_high);
}

// The next value of glibc's rand() sequence, made by the project's own
// generator on every platform, divided by 2147483647.0: on [0, 1], both ends
// included.
double draw_uniform();

// The azimuth factor and the divisor are part of the defined results:
// published counts were made with exactly these, so they are not replaced by
// full-precision 2*pi or the generator's largest value.
constexpr double azimuth_factor = 6.283185308;
constexpr double rand_divisor = 2147483647.0;

// The same from a generator of the caller's: a curve's blocks of muons each
// draw from their own place in the sequence.
inline double draw_uniform(additive_generator &generator) {
  return static_cast<double>(next_value(generator)) / rand_divisor;
}

// The exponent of the zenith cosine's draw under cos_squared for a sky of
// intensity cos^n: the inverse of the cumulative c^(n+2) of the density
// (n+2) c^(n+1) on [0, 1]; exactly 0.25 for n = 2.
inline double cosine_power(double exponent) {
  return 1.0 / (exponent + 2.0);
}

// Cosine of the zenith angle from one uniform variate under `law`.
inline double zenith_cosine(zenith_law law, double power, double u) {
  if (law == zenith_law::cos_squared) {
    return std::pow(u, power);
  }
  return 1.0 - (u + u);
}

// Draws the next track through a `width` x `length` horizontal upper paddle:
// exactly four draws, in this order, the programs' trial. `power` is
// cosine_power of the sky's exponent. One statement per draw keeps the
// order fixed. Drawing all four before any arithmetic measured about a tenth
// faster: the long pow-sqrt-divide chain then no longer sits between
// generator calls.
inline muon_track draw_track(additive_generator &generator, zenith_law law,
                             double power, double width, double length) {
  const double u1 = draw_uniform(generator);
  const double u2 = draw_uniform(generator);
  const double u3 = draw_uniform(generator);
  const double u4 = draw_uniform(generator);
  const double c = zenith_cosine(law, power, u3);
  const double phi = u4 * azimuth_factor;
  return {u1 * width,    u2 * length,   std::sqrt(1.0 - c * c) / c,
          std::cos(phi), std::sin(phi), std::fabs(c),
          std::fabs(c)};
}

// Starts the sequence of draw_uniform() afresh, as srand(seed) starts glibc's
// rand(). A process starts as after seed_uniform(1).
void seed_uniform(std::uint32_t seed);

// Throws `muons` tracks through the upper paddle of the programs' telescope
// and returns how many of them also cross the lower one, `distance_cm` below
// it. A count of 0 or less throws none. Takes exactly four draws per track.
std::int32_t simulate_coincidences(double distance_cm, std::int32_t muons,
                                   zenith_law law);
