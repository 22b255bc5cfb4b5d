// One pass of a curve: muons drawn through one layer's box of a telescope at
// one tilt, each tested against every distance at once, in blocks that any
// number of threads can share without changing a count.
#pragma once

#include "simulation/sky.h"
#include "simulation/telescope.h"

#include <cstddef>
#include <cstdint>

// Muons per block. A block is the unit of work of a thread or a page's
// worker, and has its own place in the random numbers: its size fixes the
// counts, so it never depends on how many run at once.
constexpr std::int32_t block_muons = 65536;

struct pass_setup {
  telescope scope; // the bottom's depth is each distance in turn
  zenith_law law;
  const sky_sampler *sky; // the flux law's sky, drawn as it says
  tilt lean;
  // The layer whose box the muons are drawn through. A pass through a layer
  // below the top keeps only the tracks that touch no layer above it, so
  // that the passes of a telescope count each track once.
  int source;
  std::uint32_t seed;
  const double *distances_cm; // ascending, each finite
  std::size_t count;
};

// Whether the pass throws the programs' own four-draw trial: the muons
// through a thin upper paddle of an upright telescope under a sky of
// directions alone, drawn from glibc's sequence, so that its counts are
// those of velmora and velmorauni.
bool uses_programs_trial(const pass_setup &pass);

// The tally of a pass counts, for each pattern of the layers above the
// bottom that a track crosses (bit i for layer i), the tracks with that
// pattern, and among them those that cross the bottom at each distance:
// patterns() numbers, then for each pattern a difference array over the
// sorted distances (count + 1 numbers), whose running sum is the count.
int patterns(const telescope &scope);
std::size_t tally_size(const telescope &scope, std::size_t count);

// Throws block `block` of the pass, `muons` muons, adding to `tally`. The
// programs' trial starts the block where glibc's sequence stands after the
// earlier blocks' draws; every other pass seeds a generator for the block
// alone.
void simulate_block(const pass_setup &pass, std::uint64_t block,
                    std::int32_t muons, std::int32_t *tally);

// What a tally says: the tracks with pattern m, and those of them that
// cross the bottom at the k-th sorted distance.
struct pass_counts {
  int pattern_count;
  std::size_t count;
  const std::int32_t *tracks;   // [pattern]
  const std::int32_t *crossing; // [pattern * count + k]
};

// Turns the difference arrays of `tally` into running sums, in place, and
// returns a view of them.
pass_counts finish_tally(const telescope &scope, std::size_t count,
                         std::int32_t *tally);
