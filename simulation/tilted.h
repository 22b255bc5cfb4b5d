// The telescope tilted: its axis, from the lower paddle to the upper one,
// leans from the vertical, and muons come from the sky above the horizon.
#pragma once

#include "simulation/coincidences.h"

#include <cstddef>
#include <cstdint>
#include <random>

// Which way the telescope's axis points, in its own frame (x along the
// paddles' width, y along their length, z the axis): tilted by angle from
// the vertical, leaning toward the azimuth measured from +x toward +y.
struct tilt {
  double angle_deg;
  double azimuth_deg;
};

// Throws `muons` tracks through the upper paddle of `scope`, tilted as
// `lean`, from a sky whose intensity per solid angle goes as cos^exponent
// of the zenith angle above the horizon and is 0 below it, and tests each
// against all `count` distances, adding the coincidences at distances_cm[k]
// to coincidences[k]. A track counts whichever paddle it crosses first.
//
// The tracks are distributed as the muons that cross the upper paddle: a
// direction is drawn from the sky's own law and kept with a probability of
// |cos| of its angle to the axis (the paddle's projected area), and the
// entry point is drawn uniformly for the kept ones. The draws come from
// `generator`: a fixed number per track would do for the additive generator
// of draw_uniform, but a varying number picks up the correlation of its
// words 3 and 31 places apart.
void simulate_tilted_curve(const telescope &scope, const tilt &lean,
                           double exponent, std::mt19937_64 &generator,
                           const double *distances_cm, std::size_t count,
                           std::int32_t muons, std::int32_t *coincidences);

// The flux of muons through a paddle tilted by tilt_deg, through both faces,
// as a share of the flux J through a horizontal one, for a sky of intensity
// cos^exponent of the zenith angle:
//   (N+2)/(2 pi) * integral over the sky above the horizon of
//   cos^N(theta) |u . axis| d(Omega).
// Computed by quadrature to about 1e-12; exactly 1 for a tilt of 0.
double tilted_flux_share(double tilt_deg, double exponent);
