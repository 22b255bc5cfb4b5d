// Muons from the sky through a box of a tilted stack: the sampler of every
// pass but the programs' own four-draw trial.
#pragma once

#include "simulation/telescope.h"

#include <cstdint>
#include <random>
#include <vector>

// The telescope's frame as the sky sees it: the world's vertical (e3) and
// two horizontal directions (e1, e2), each in the telescope's coordinates.
// Leaning the axis toward +x tips the paddles' +x side down, so the vertical
// leans toward -x.
struct sky_frame {
  double e1[3], e2[3], e3[3];
};

sky_frame frame_of(const tilt &lean);

// [0, 1) from the top 53 bits: the standard leaves uniform_real_distribution
// to each library, this is the same everywhere.
inline double draw(std::mt19937_64 &generator) {
  // Converted as signed: it fits, and unsigned 64-bit conversion is slow.
  return static_cast<double>(static_cast<std::int64_t>(generator() >> 11)) *
         0x1.0p-53;
}

// What drawing muons from a sky needs, worked out once for a run: how a
// uniform draw becomes the cosine of a zenith angle, and under the spectrum
// an energy.
struct sky_sampler {
  sky_model sky;
  double power; // cos^N: c = u^(1/(N+1)), density (N+1) c^N on [0, 1]
  // The spectrum's zenith law D(theta)^-(n-1) inverted: the cosine at
  // even steps of its cumulative share, from 0 to 1.
  std::vector<double> cosine_at_share;
  // Its energies above the sky's least, inverted: ln E at even steps of
  // the ln of the share of the muons above, from 0 down to log_above_last.
  std::vector<double> log_energy_at;
  double log_above_last;
};

sky_sampler sampler_of(const sky_model &sky);

// The zenith cosine, and under the spectrum (whose sampler alone holds
// energies) the total energy in GeV, that a uniform draw on [0, 1) gives.
double zenith_cosine_of(const sky_sampler &s, double uniform);
double energy_of(const sky_sampler &s, double uniform);

// Draws a track through the box `source`, distributed as the muons that
// cross it from the sky above the horizon: a direction is drawn from the
// sky's own law and kept with a probability of the box's area projected
// along it over the largest such area, then a point is drawn uniformly on
// the faces it shows to the track, each face as often as its projected
// area, and under the spectrum an energy. The track is returned as it
// crosses depth 0. The number of draws varies from track to track;
// `generator` is the block's own.
muon_track draw_box_track(const layer &source, const sky_frame &f,
                          const sky_sampler &sampler,
                          std::mt19937_64 &generator);

// A generator's seed for block `block` of the muons drawn through layer
// `source` in a run seeded with `seed`: the mixing function of SplitMix64
// (Steele, Lea and Flood, "Fast splittable pseudorandom number generators",
// OOPSLA 2014) applied in turn to the seed, the layer and the block, so that
// every block has a stream of its own that does not depend on how many
// threads run the blocks or in which order.
std::uint64_t block_seed(std::uint32_t seed, int source, std::uint64_t block);

// The flux J through a horizontal surface in cm^-2 min^-1 that a vertical
// intensity I in m^-2 s^-1 sr^-1 gives under a cos^N sky: the integral of
// I cos^N(theta) cos(theta) over the upper hemisphere, 2 pi I / (N + 2).
double flux_of_intensity(double intensity, double exponent);
