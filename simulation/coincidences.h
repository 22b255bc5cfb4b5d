// Monte Carlo of cosmic-ray muons crossing two scintillator paddles.
#pragma once

#include <cstddef>
#include <cstdint>

// Footprint of each of the programs' paddles in cm: width along x, length
// along y.
constexpr double paddle_width_cm = 10.0;
constexpr double paddle_length_cm = 31.0;

// Two thin rectangular paddles in parallel planes, the lower one a distance
// below the upper along the telescope's axis. In the plane of each, x runs
// along the width and y along the length; the upper paddle covers
// [0, top_width) x [0, top_length), the lower one the same from its corner
// at (offset_x, offset_y).
struct telescope {
  double top_width_cm, top_length_cm;
  double bottom_width_cm, bottom_length_cm;
  double offset_x_cm, offset_y_cm;
};

// The programs' telescope: two 10 cm x 31 cm paddles, one directly above
// the other.
constexpr telescope paddle_pair = {paddle_width_cm,
                                   paddle_length_cm,
                                   paddle_width_cm,
                                   paddle_length_cm,
                                   0.0,
                                   0.0};

// How a muon's zenith angle is drawn; each program fixes its own.
enum class zenith_law {
  // Through a surface, from a sky whose intensity per solid angle goes as
  // cos^N of the zenith angle: N = 2 (hence the name) unless a telescope's
  // exponent says otherwise.
  cos_squared,
  isotropic, // directions uniform over the whole sphere
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
};

// The lower paddle as a landing test sees it: x in [x_low, x_high) and y in
// [y_low, y_high) of the upper paddle's coordinates.
struct landing_area {
  double x_low, x_high, y_low, y_high;
};

constexpr landing_area lower_paddle(const telescope &scope) {
  return {scope.offset_x_cm, scope.offset_x_cm + scope.bottom_width_cm,
          scope.offset_y_cm, scope.offset_y_cm + scope.bottom_length_cm};
}

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

// Starts the sequence of draw_uniform() afresh, as srand(seed) starts glibc's
// rand(). A process starts as after seed_uniform(1).
void seed_uniform(std::uint32_t seed);

// Throws `muons` tracks through the upper paddle of the programs' telescope
// and returns how many of them also cross the lower one, `distance_cm` below
// it. A count of 0 or less throws none. Takes exactly four draws per track.
std::int32_t simulate_coincidences(double distance_cm, std::int32_t muons,
                                   zenith_law law);

// Throws `muons` tracks through the upper paddle of the horizontal telescope
// `scope`, exactly as simulate_coincidences does for the programs' one, and
// tests each against all `count` distances, adding the coincidences at
// distances_cm[k] to coincidences[k]. Under cos_squared the sky's intensity
// goes as cos^exponent of the zenith angle. Every distance sees the same
// tracks, so from the same generator state each count equals that of a
// separate call with one distance; calls in succession continue one stream
// of tracks.
void simulate_curve(const telescope &scope, zenith_law law, double exponent,
                    const double *distances_cm, std::size_t count,
                    std::int32_t muons, std::int32_t *coincidences);
