// The integral over a rectangle of slopes taken ring by ring of zenith
// angle, for sky weights whose slope in the zenith cosine jumps: the
// spectrum's behind matter, whose range tables give it kinks along curves
// that no rectangle's rules can follow. Over a ring (a zenith cosine c and
// every azimuth) the weight is one number, so the kinks only cut the
// integral over c; what is left on a ring is geometry: the arcs of it whose
// lines have slopes in the rectangle.
#pragma once

#include "integral/spectrum_weight.h"
#include "simulation/telescope.h"

#include <vector>

// The weights of the energies above the thresholds of a telescope's levels
// (layers below none, one, ... of its absorbers), rising: band a is the
// energies between level a's threshold and level a + 1's, its weight
// levels[a] less levels[a + 1] (the last level's whole).
struct weight_bands {
  std::vector<zenith_weight> levels;
  std::vector<double> kinks; // of every level, ascending
};

constexpr int bands_max = absorbers_max + 1;

// For each band a, at 4 a to 4 a + 3: integrals of its weight times 1, kx,
// ky and kx ky.
struct band_moments {
  double m[4 * bands_max];
};

// Over the directions u (from the sky above the horizon, u.e3 = c >= 0)
// of the lines whose slopes (kx, ky) = -(u_x, u_y) / u_z, in the frame of
// the telescope leaning as `lean`, lie in [kx0, kx1] x [ky0, ky1]: for
// each band, the integral of its weight times |u_z| and 1, kx, ky, kx ky,
// over d(Omega) = dc d(azimuth). To about 1e-10 of each band's.
band_moments zenith_moments(const tilt &lean, const weight_bands &bands,
                            double kx0, double kx1, double ky0, double ky1);

// The same over every direction, times 1 only: the muons through a plane
// square to the axis, per unit of its area.
band_moments plane_moments(const tilt &lean, const weight_bands &bands);
