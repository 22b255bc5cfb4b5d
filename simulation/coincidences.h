// Monte Carlo of cosmic-ray muons crossing two stacked scintillator paddles.
#pragma once

#include <cstddef>
#include <cstdint>

// Footprint of each paddle in cm: width along x, length along y.
constexpr double paddle_width_cm = 10.0;
constexpr double paddle_length_cm = 31.0;

// How a muon's zenith angle is drawn; each program fixes its own.
enum class zenith_law {
  cos_squared, // intensity ~ cos^2(theta), as seen by a horizontal paddle
  isotropic,   // directions uniform over the whole sphere
};

// One muon through the upper paddle: everything about it that does not
// depend on how far below the lower paddle lies.
struct muon_track {
  double x, y;             // entry point on the upper paddle, cm
  double t;                // tan(theta) carrying the sign of c; +inf for c = 0
  double cos_phi, sin_phi; // direction of the displacement
};

// Whether `track` crosses the lower paddle `distance_cm` below: 1 or 0. The
// landing point is the product first, then the sum. Lower edges belong to
// the paddle, upper edges do not; infinities and NaN fail every comparison.
// The four tests are combined with & rather than && so that no branch
// depends on the random landing point: a mispredicted branch per trial cost
// about a fifth of the run time.
inline std::int32_t lands_on_paddle(const muon_track &track,
                                    double distance_cm) {
  const double r = distance_cm * track.t;
  const double x = track.cos_phi * r + track.x;
  const double y = track.sin_phi * r + track.y;
  return (x >= 0.0) & (x < paddle_width_cm) & (y >= 0.0) &
         (y < paddle_length_cm);
}

// The next value of glibc's rand() sequence, made by the project's own
// generator on every platform, divided by 2147483647.0: on [0, 1], both ends
// included.
double draw_uniform();

// Starts the sequence of draw_uniform() afresh, as srand(seed) starts glibc's
// rand(). A process starts as after seed_uniform(1).
void seed_uniform(std::uint32_t seed);

// Throws `muons` tracks through the upper paddle and returns how many of them
// also cross the lower one, `distance_cm` below it. A count of 0 or less
// throws none. Takes exactly four draws per track.
std::int32_t simulate_coincidences(double distance_cm, std::int32_t muons,
                                   zenith_law law);

// Throws `muons` tracks exactly as simulate_coincidences does and tests each
// against all `count` distances, adding the coincidences at distances_cm[k]
// to coincidences[k]. Every distance sees the same tracks, so from the same
// generator state each count equals that of a separate simulate_coincidences
// call; calls in succession continue one stream of tracks.
void simulate_curve(const double *distances_cm, std::size_t count,
                    std::int32_t muons, zenith_law law,
                    std::int32_t *coincidences);
