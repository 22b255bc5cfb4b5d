#include "simulation/curve_pass.h"
#include "simulation/additive_generator.h"
#include "simulation/matter.h"
#include "simulation/sky.h"

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

namespace {

// The approximate ends of a run of distances are widened by this share of
// their size and of the size of the numbers they came from: far beyond the
// rounding of either computation (a few units in 1e16), far below any gap
// between distances a user would ask for.
constexpr double slack = 1e-9;

// The sorted distances, with buckets of equal width over their span, each
// holding the index of the first distance at or beyond its start: a search
// starts from the bucket the value falls in and takes the last steps
// without a branch, which a range or a spread-out list needs at most; a
// search that these steps do not finish falls back to bisection. The
// distances are kept between -inf and +inf, so that no step leaves them.
struct distance_index {
  std::vector<double> padded; // -inf, the distances, +inf
  const double *d;            // the first distance
  std::size_t n;
  double first, per_bucket;
  std::vector<std::uint32_t> bucket;
};

distance_index index_of(const double *d, std::size_t n) {
  distance_index x{{}, nullptr, n, d[0], 0.0, {}};
  x.padded.reserve(n + 2);
  x.padded.push_back(-HUGE_VAL);
  x.padded.insert(x.padded.end(), d, d + n);
  x.padded.push_back(HUGE_VAL);
  x.d = x.padded.data() + 1;
  const std::size_t buckets = std::min<std::size_t>(2 * n, 65536);
  if (d[n - 1] > d[0]) {
    x.per_bucket = static_cast<double>(buckets) / (d[n - 1] - d[0]);
  }
  x.bucket.resize(buckets + 1);
  std::size_t i = 0;
  for (std::size_t j = 0; j <= buckets; ++j) {
    const double start = x.first + static_cast<double>(j) / x.per_bucket;
    while (i < n && d[i] < start) {
      ++i;
    }
    x.bucket[j] = static_cast<std::uint32_t>(i);
  }
  return x;
}

// The first index whose distance is at least v, or above v when `above`.
template <bool above>
inline std::size_t first_index(const distance_index &x, double v) {
  const auto before = [v](double d) { return above ? d <= v : d < v; };
  // Before all, or beyond all: the ends of most runs of a curve from 0.
  if (!before(x.first)) {
    return 0;
  }
  if (before(x.d[x.n - 1])) {
    return x.n;
  }
  // Written so that NaN, from an infinite v and buckets of no width, gives
  // the first bucket.
  const double place = (v - x.first) * x.per_bucket;
  const double last = static_cast<double>(x.bucket.size() - 1);
  // Past the returns above v lies within the distances' span: the clamps and
  // the step back catch only rounding at an end or at a bucket's edge, where
  // no test's track lands.
  // GCOVR_EXCL_BR_START
  std::size_t i =
      x.bucket[place > 0.0
                   ? static_cast<std::size_t>(place < last ? place : last)
                   : 0];
  i += before(x.d[i]) ? 1 : 0;
  i += before(x.d[i]) ? 1 : 0;
  i -= before(x.d[i - 1]) ? 0 : 1;
  if (before(x.d[i]) || !before(x.d[i - 1])) {
    // GCOVR_EXCL_BR_STOP
    const double *end = x.d + x.n;
    return static_cast<std::size_t>((above ? std::upper_bound(x.d, end, v)
                                           : std::lower_bound(x.d, end, v)) -
                                    x.d);
  }
  return i;
}

// Adds the run of sorted distances at which `crosses` holds to the
// difference array `difference`. The distances at which a track crosses the
// bottom form one run (the landing point, and each end of a chord, moves
// monotonically with the distance, also as rounded), and [low, high] holds
// it: the run is found by searching for the ends of [low, high], then
// shrinking with the very test of a single distance until both ends pass
// it. The counts are therefore those of testing every distance.
template <class Crosses>
void add_run(const distance_index &x, double low, double high, Crosses crosses,
             std::int32_t *difference) {
  if (!(low <= high)) {
    return;
  }
  std::size_t a = first_index<false>(x, low);
  std::size_t b = first_index<true>(x, high);
  while (a < b && !crosses(x.d[a])) {
    ++a;
  }
  while (b > a && !crosses(x.d[b - 1])) {
    --b;
  }
  // Without a branch: a == b adds nothing.
  const std::int32_t crossing = a < b ? 1 : 0;
  difference[a] += crossing;
  difference[b] -= crossing;
}

// Widens [low, high] by the slack, `scale` being the size of the numbers
// the ends were computed from.
depth_span widened(depth_span span, double scale) {
  return {span.low - slack * (std::fabs(span.low) + scale),
          span.high + slack * (std::fabs(span.high) + scale)};
}

// Tracks drawn before they are tallied.
constexpr std::int32_t batch_size = 64;

// Up to this many distances, testing each costs less than searching.
constexpr std::size_t tested_one_by_one = 6;

// Everything a block needs that does not change from track to track.
struct block_plan {
  const pass_setup &pass;
  const distance_index &index;
  const telescope &scope;
  const layer &bottom;
  int bottom_index;
  int pattern_count;
  std::int32_t *tracks;
  std::int32_t *crossing;
  bool energies;    // the spectrum's: layers a muon reaches with energy left
  slab_order order; // of the layers and absorbers, for the energies
};

// Tallies one track.
void tally_track(const block_plan &p, const muon_track &track) {
  const telescope &scope = p.scope;
  const track_slopes s = slopes_of(track, scope.min_path_cm);
  // The layers it gets to with energy left; all under a sky of directions.
  const std::uint32_t reached =
      p.energies ? reached_layers(scope, p.pass.sky->sky, p.order, track, s)
                 : ~std::uint32_t{0};
  int pattern = 0;
  for (int i = 0; i < p.bottom_index; ++i) {
    const layer &l = scope.layers[i];
    layer_hits hits{true, true};
    if (i != p.pass.source) {
      hits = hits_of(track, s, l, l.depth_cm);
    } else if (l.thickness_cm > 0.0 && scope.min_path_cm > 0.0) {
      // Drawn through this box, it touches it; a short chord may still not
      // count.
      hits.crossed = crosses_box(footprint_span(track, s, l), l.thickness_cm,
                                 l.depth_cm, s.least_depth_chord);
    }
    if (i < p.pass.source && hits.touched) {
      return; // the pass through layer i counts this track
    }
    pattern |= hits.crossed && (reached >> i & 1U) != 0 ? 1 << i : 0;
  }
  ++p.tracks[pattern];
  if ((reached >> p.bottom_index & 1U) == 0) {
    return; // it crosses the bottom at no distance
  }
  std::int32_t *difference =
      p.crossing + static_cast<std::size_t>(pattern) * (p.pass.count + 1);
  const layer &bottom = p.bottom;
  if (bottom.thickness_cm == 0.0) {
    const landing_area area = area_of(bottom);
    const std::size_t count = p.pass.count;
    const double *distances = p.pass.distances_cm;
    if (count <= tested_one_by_one) {
      for (std::size_t k = 0; k < count; ++k) {
        const std::int32_t lands = lands_on_paddle(track, area, distances[k]);
        difference[k] += lands;
        difference[k + 1] -= lands;
      }
      return;
    }
    // Where the track is over the paddle's footprint, as near as a division
    // tells; where that cannot tell, everywhere.
    depth_span run{-HUGE_VAL, HUGE_VAL};
    // Only a track with no lateral move, a draw of one in 2^31 or rarer, has
    // an infinite inverse: no test's stream holds one.
    // GCOVR_EXCL_BR_START
    if (std::fabs(s.inverse_kx) < HUGE_VAL &&
        std::fabs(s.inverse_ky) < HUGE_VAL) {
      // GCOVR_EXCL_BR_STOP
      const double scale = (std::fabs(track.x) + std::fabs(area.x_low) +
                            std::fabs(area.x_high)) *
                               std::fabs(s.inverse_kx) +
                           (std::fabs(track.y) + std::fabs(area.y_low) +
                            std::fabs(area.y_high)) *
                               std::fabs(s.inverse_ky);
      run = widened(footprint_span(track, s, bottom), scale);
    }
    add_run(
        p.index, run.low, run.high,
        [&](double d) { return lands_on_paddle(track, area, d) != 0; },
        difference);
    return;
  }
  const depth_span over = footprint_span(track, s, bottom);
  const double thickness = bottom.thickness_cm;
  const double least = s.least_depth_chord;
  if (p.pass.count <= tested_one_by_one) {
    for (std::size_t k = 0; k < p.pass.count; ++k) {
      const std::int32_t crosses =
          crosses_box(over, thickness, p.pass.distances_cm[k], least) ? 1 : 0;
      difference[k] += crosses;
      difference[k + 1] -= crosses;
    }
    return;
  }
  if (!chord_counts(thickness, least) ||
      !chord_counts(over.high - over.low, least)) {
    return;
  }
  // The chord's ends: the bottom's upper face must lie above where the
  // track leaves the footprint, its lower face below where it enters.
  const depth_span run =
      widened({over.low - thickness + least, over.high - least},
              std::fabs(over.low) + std::fabs(over.high) + thickness + least);
  add_run(
      p.index, run.low, run.high,
      [&](double d) { return crosses_box(over, thickness, d, least); },
      difference);
}

// Tallies a batch of tracks of a thin pair drawn through its upper paddle,
// where every track crosses the top: the common case, in two sweeps. The
// first works out, for all the batch's tracks, where each is over the lower
// paddle's footprint (a loop without branches that the compiler turns into
// vector instructions, divisions included); the second searches and
// checks each track's run of distances.
void tally_pair_batch(const block_plan &p, const muon_track *tracks, int n) {
  const landing_area area = area_of(p.bottom);
  const double edges_x = std::fabs(area.x_low) + std::fabs(area.x_high);
  const double edges_y = std::fabs(area.y_low) + std::fabs(area.y_high);
  double low[batch_size], high[batch_size];
  for (int i = 0; i < n; ++i) {
    const muon_track &t = tracks[i];
    const double ix = 1.0 / (t.dir_x * t.t), iy = 1.0 / (t.dir_y * t.t);
    const double ax = (area.x_low - t.x) * ix, bx = (area.x_high - t.x) * ix;
    const double ay = (area.y_low - t.y) * iy, by = (area.y_high - t.y) * iy;
    const double lo = greater(lesser(ax, bx), lesser(ay, by));
    const double hi = lesser(greater(ax, bx), greater(ay, by));
    const double scale = (std::fabs(t.x) + edges_x) * std::fabs(ix) +
                         (std::fabs(t.y) + edges_y) * std::fabs(iy);
    low[i] = lo - slack * (std::fabs(lo) + scale);
    high[i] = hi + slack * (std::fabs(hi) + scale);
  }
  p.tracks[1] += n;
  std::int32_t *difference = p.crossing + (p.pass.count + 1);
  for (int i = 0; i < n; ++i) {
    const muon_track &t = tracks[i];
    // A track with no lateral move along an axis (or one too small to
    // divide by) gives no ends: every distance is looked at. Such a draw is
    // one in 2^31 or rarer, and no test's stream holds one.
    // GCOVR_EXCL_BR_START
    const bool ends =
        std::fabs(low[i]) < HUGE_VAL && std::fabs(high[i]) < HUGE_VAL;
    add_run(
        p.index, ends ? low[i] : -HUGE_VAL, ends ? high[i] : HUGE_VAL,
        [&](double d) { return lands_on_paddle(t, area, d) != 0; }, difference);
    // GCOVR_EXCL_BR_STOP
  }
}

} // namespace

bool uses_programs_trial(const pass_setup &pass) {
  return pass.source == 0 && pass.lean.angle_deg == 0.0 &&
         pass.scope.layers[0].thickness_cm == 0.0 &&
         pass.sky->sky.law == sky_law::cos_power;
}

int patterns(const telescope &scope) {
  return 1 << bottom_of(scope);
}

std::size_t tally_size(const telescope &scope, std::size_t count) {
  const auto n = static_cast<std::size_t>(patterns(scope));
  return n + n * (count + 1);
}

void simulate_block(const pass_setup &pass, std::uint64_t block,
                    std::int32_t muons, std::int32_t *tally) {
  const telescope &scope = pass.scope;
  const int bottom_index = bottom_of(scope);
  const distance_index index = index_of(pass.distances_cm, pass.count);
  // Under the spectrum each muon must get to a layer with energy left.
  const bool energies = pass.sky->sky.law == sky_law::spectrum;
  const block_plan plan{
      pass,         index,
      scope,        scope.layers[bottom_index],
      bottom_index, patterns(scope),
      tally,        tally + patterns(scope),
      energies,     order_of(scope, pass.sky->sky, pass.distances_cm[0])};
  // A pair whose lower paddle is thin, drawn through its upper one (which
  // every track then crosses: thin, or thick with no least path), at more
  // distances than are tested one by one. A pair has no pass but through
  // its top, so that the test of the source always holds.
  // GCOVR_EXCL_BR_START
  const bool pair_of_paddles = scope.count == 2 && pass.source == 0 &&
                               scope.layers[1].thickness_cm == 0.0 &&
                               pass.count > tested_one_by_one && !energies;
  // GCOVR_EXCL_BR_STOP
  // Drawn a batch at a time, then tallied: the tracks of a batch are
  // independent of each other, so the processor overlaps their long chains
  // of arithmetic instead of waiting on one after the other.
  muon_track batch[batch_size];
  const auto tally_batch = [&](std::int32_t now) {
    if (pair_of_paddles) {
      tally_pair_batch(plan, batch, now);
      return;
    }
    for (std::int32_t i = 0; i < now; ++i) {
      tally_track(plan, batch[i]);
    }
  };
  if (uses_programs_trial(pass)) {
    // Four words per muon, as the programs draw them.
    additive_generator generator = seeded_generator(pass.seed);
    jump_generator(generator,
                   4 * static_cast<std::uint64_t>(block_muons) * block);
    const double power = cosine_power(pass.sky->sky.exponent);
    const layer &top = scope.layers[0];
    for (std::int32_t done = 0; done < muons; done += batch_size) {
      const std::int32_t now = std::min(batch_size, muons - done);
      for (std::int32_t i = 0; i < now; ++i) {
        batch[i] =
            draw_track(generator, pass.law, power, top.width_cm, top.length_cm);
      }
      tally_batch(now);
    }
    return;
  }
  std::mt19937_64 generator(block_seed(pass.seed, pass.source, block));
  const sky_frame frame = frame_of(pass.lean);
  const layer &source = scope.layers[pass.source];
  for (std::int32_t done = 0; done < muons; done += batch_size) {
    const std::int32_t now = std::min(batch_size, muons - done);
    for (std::int32_t i = 0; i < now; ++i) {
      batch[i] = draw_box_track(source, frame, *pass.sky, generator);
    }
    tally_batch(now);
  }
}

pass_counts finish_tally(const telescope &scope, std::size_t count,
                         std::int32_t *tally) {
  const int n = patterns(scope);
  std::int32_t *crossing = tally + n;
  for (int m = 0; m < n; ++m) {
    std::int32_t *difference = crossing + static_cast<std::size_t>(m) * count;
    // The difference arrays, count + 1 long, close up into count-long runs
    // of sums in place: each sum is written one place before its last term.
    std::int32_t *from = crossing + static_cast<std::size_t>(m) * (count + 1);
    std::int32_t sum = 0;
    for (std::size_t k = 0; k < count; ++k) {
      sum += from[k];
      difference[k] = sum;
    }
  }
  return {n, count, tally, crossing};
}
