#include "fit/model.h"
#include "integral/exact_rates.h"
#include "simulation/counter.h"
#include "simulation/curve_pass.h"
#include "simulation/matter.h"
#include "simulation/muon_spectrum.h"
#include "simulation/sky.h"

#include <algorithm>
#include <cmath>
#include <random>

namespace {

constexpr double pi = 3.14159265358979323846;
constexpr double seconds_per_minute = 60.0;

// The Chebyshev points of the first kind on the exponent's range, and
// their weights in the barycentric formula.
double point(int k, const exponent_range &r) {
  return r.low +
         (r.high - r.low) / 2 * (1.0 + std::cos(pi * (k + 0.5) / model_points));
}

double weight(int k) {
  return (k % 2 == 0 ? 1.0 : -1.0) *
         std::sin(pi * (2 * k + 1) / (2.0 * model_points));
}

// The polynomial through (x + 1) value(k) at the points, x the exponent
// above the range's low end, at n, over n's x + 1.
template <class Value>
double interpolated(Value value, double n, const exponent_range &r) {
  double above = 0.0, below = 0.0;
  for (int k = 0; k < model_points; ++k) {
    const double gap = n - point(k, r);
    const double smoothed = (point(k, r) - r.low + 1.0) * value(k);
    if (gap == 0.0) {
      return value(k);
    }
    above += weight(k) / gap * smoothed;
    below += weight(k) / gap;
  }
  return above / below / (n - r.low + 1.0);
}

// The sky at point k.
sky_model sky_at(const sky_model &sky, int k, const exponent_range &r) {
  sky_model at = sky;
  at.exponent = point(k, r);
  return at;
}

tilt lean_of(const setting &s) {
  return {s.tilt_deg, s.tilt_azimuth_deg};
}

// Throws `muons` muons through layer `source` from the sky at exponent n0
// and adds, for each set of layers crossed (and, under the spectrum,
// reached with energy left) at the setting's distance, the weights of its
// tracks at every point: under cos^N, c^(N - n0); under the spectrum, the
// ratio of the intensities at the track's energy and zenith angle.
// Of the tracks that meet the requirement, `meeting` counts them and
// weights[k], squares[k] add up their weights at each point and the weights'
// squares.
struct meeting_tracks {
  double count;
  double weights[model_points], squares[model_points];
};

void weighted_tracks(const telescope &scope, const setting &s,
                     const sky_model &sky, const exponent_range &r, int source,
                     double n0, std::uint32_t seed, std::uint32_t stream,
                     double muons, std::vector<double> (&sums)[model_points],
                     meeting_tracks &meeting, const std::atomic<bool> *stop) {
  const sky_frame frame = frame_of(lean_of(s));
  sky_model drawn = sky;
  drawn.exponent = n0;
  const sky_sampler sampler = sampler_of(drawn);
  const bool spectrum = sky.law == sky_law::spectrum;
  const slab_order order = order_of(scope, sky, s.distance_cm);
  const int bottom = bottom_of(scope);
  // The spectrum's own factor (n - 1) of the index, each point's over n0's.
  double index_factor[model_points];
  for (int k = 0; k < model_points; ++k) {
    index_factor[k] = spectrum ? (point(k, r) - 1.0) / (n0 - 1.0) : 1.0;
  }
  for (std::uint64_t block = 0;
       static_cast<double>(block) * block_muons < muons; ++block) {
    if (stop != nullptr && *stop) {
      return;
    }
    std::mt19937_64 generator(
        block_seed(seed, source + 16 * static_cast<int>(stream), block));
    const double left = muons - static_cast<double>(block) * block_muons;
    const auto now = static_cast<std::int32_t>(
        std::min(left, static_cast<double>(block_muons)));
    for (std::int32_t i = 0; i < now; ++i) {
      muon_track track =
          draw_box_track(scope.layers[source], frame, sampler, generator);
      const track_slopes slopes = slopes_of(track, scope.min_path_cm);
      // The layers it gets to with energy left, the bottom at the
      // setting's distance.
      const std::uint32_t reached =
          spectrum ? reached_layers(scope, sky, order, track, slopes)
                   : ~std::uint32_t{0};
      std::uint32_t set = 0;
      bool counted = true;
      for (int k = 0; k < scope.count; ++k) {
        const layer &l = scope.layers[k];
        layer_hits hits{true, true};
        if (k != source) {
          hits = hits_of(track, slopes, l,
                         k == bottom ? s.distance_cm : l.depth_cm);
        } else if (l.thickness_cm > 0.0 && scope.min_path_cm > 0.0) {
          hits.crossed =
              crosses_box(footprint_span(track, slopes, l), l.thickness_cm,
                          l.depth_cm, slopes.least_depth_chord);
        }
        counted = counted && !(k < source && hits.touched);
        set |= hits.crossed && (reached >> k & 1U) != 0 ? 1U << k : 0U;
      }
      if (!counted) {
        continue;
      }
      const bool meets = requirement_met(s.rule, set);
      meeting.count += meets ? 1.0 : 0.0;
      // The log of the weight's growth with the exponent: ln c under
      // cos^N; under the spectrum its energy's and zenith angle's.
      const double slope =
          spectrum ? log_intensity_slope(track.energy_gev, track.sky_cosine)
                   : std::log(track.sky_cosine);
      for (int k = 0; k < model_points; ++k) {
        const double w = index_factor[k] * std::exp((point(k, r) - n0) * slope);
        sums[k][set] += w;
        if (meets) {
          meeting.weights[k] += w;
          meeting.squares[k] += w * w;
        }
      }
    }
  }
}

} // namespace

exponent_range range_of(const sky_model &sky) {
  return sky.law == sky_law::spectrum
             ? exponent_range{spectrum_index_min, spectrum_index_max}
             : exponent_range{0.0, model_exponent_max};
}

setting_model model_setting(const telescope &scope, const counters &c,
                            const setting &s, const sky_model &sky,
                            model_method method, double n0, std::uint32_t seed,
                            std::uint32_t stream, double muons_max,
                            const std::atomic<bool> *stop) {
  setting_model m{};
  const exponent_range r = range_of(sky);
  m.range = r;
  const std::size_t sets = std::size_t{1} << scope.count;
  const tilt lean = lean_of(s);
  // Under the spectrum the rates are of its muons, its normalisation 1;
  // under cos^N per unit of J.
  double flux[model_points];
  for (int k = 0; k < model_points; ++k) {
    const sky_model at = sky_at(sky, k, r);
    flux[k] = drawn_flux(at);
    m.per_set[k].assign(sets, 0.0);
    for (int i = 0; i < scope.count; ++i) {
      m.box[k][i] =
          flux[k] *
          box_firing_area(scope.layers[i], lean, at, scope.min_path_cm) /
          seconds_per_minute;
    }
  }
  if (method == model_method::integral) {
    for (int k = 0; k < model_points; ++k) {
      const std::vector<double> per_minute =
          exact_crossings(scope, s.distance_cm, lean, sky_at(sky, k, r),
                          zenith_law::cos_squared);
      for (std::size_t set = 0; set < sets; ++set) {
        m.per_set[k][set] = flux[k] * per_minute[set] / seconds_per_minute;
      }
    }
    return m;
  }
  // A first look at how many of the muons meet the requirement, for how
  // many the data's counts call for: a hundred times theirs.
  meeting_tracks pilot_meeting{};
  std::vector<double> pilot[model_points];
  for (std::vector<double> &p : pilot) {
    p.assign(sets, 0.0);
  }
  weighted_tracks(scope, s, sky, r, 0, n0, seed, stream + 0x8000, block_muons,
                  pilot, pilot_meeting, stop);
  const double wanted = 100.0 * std::max(1.0, s.coincidences) /
                        std::max(pilot_meeting.count / block_muons, 1e-9);
  m.muons =
      std::min(muons_max, std::max<double>(block_muons, std::ceil(wanted)));
  double weights[model_points] = {}, squares[model_points] = {};
  for (const int source :
       source_layers(scope.count, {s.rule}, !std::isnan(c.window_ns))) {
    std::vector<double> sums[model_points];
    for (std::vector<double> &p : sums) {
      p.assign(sets, 0.0);
    }
    meeting_tracks meeting{};
    weighted_tracks(scope, s, sky, r, source, n0, seed, stream, m.muons, sums,
                    meeting, stop);
    // Each track stands for the box's muons at n0 over the muons drawn,
    // weighted to each point: under cos^N by the law's normalisation too,
    // under the spectrum within its weight.
    sky_model drawn = sky;
    drawn.exponent = n0;
    const double per_track = drawn_flux(drawn) *
                             box_flux_area(scope.layers[source], lean, drawn) /
                             seconds_per_minute / m.muons;
    for (int k = 0; k < model_points; ++k) {
      const double factor = sky.law == sky_law::spectrum
                                ? per_track
                                : per_track * (point(k, r) + 2.0) / (n0 + 2.0);
      for (std::size_t set = 0; set < sets; ++set) {
        m.per_set[k][set] += factor * sums[k][set];
      }
      weights[k] += factor * meeting.weights[k];
      squares[k] += factor * factor * meeting.squares[k];
    }
  }
  for (int k = 0; k < model_points; ++k) {
    // With no track meeting it, the error of one.
    m.own_error[k] =
        weights[k] > 0.0 ? std::sqrt(squares[k]) / weights[k] : 1.0;
  }
  return m;
}

double model_error(const setting_model &m, double exponent) {
  if (m.muons == 0.0) {
    return 0.0;
  }
  return interpolated([&](int k) { return m.own_error[k]; }, exponent, m.range);
}

double expected_hz(const setting_model &m, const telescope &scope,
                   const counters &c, const setting &s, double flux,
                   double exponent) {
  const int count = scope.count;
  const std::size_t sets = std::size_t{1} << count;
  const double j = flux; // per cm^2 and minute, as the model's rates
  std::vector<double> per_set(sets);
  double rate = 0.0;
  for (std::size_t set = 3; set < sets; ++set) {
    if ((set & (set - 1)) == 0) {
      continue; // sets of one layer are the singles'
    }
    per_set[set] = j * interpolated([&](int k) { return m.per_set[k][set]; },
                                    exponent, m.range);
    rate +=
        per_set[set] * detected_share(s.rule, static_cast<std::uint32_t>(set),
                                      c.detection, count);
  }
  if (std::isnan(c.window_ns)) {
    return rate;
  }
  // Each layer's singles: the muons through its box that it sees, and its
  // noise.
  double singles_hz[layers_max];
  for (int i = 0; i < count; ++i) {
    singles_hz[i] = j *
                        interpolated([&](int k) { return m.box[k][i]; },
                                     exponent, m.range) *
                        c.detection[i] +
                    c.noise_hz[i];
  }
  std::vector<double> events(sets);
  chance_events(per_set.data(), singles_hz, c.detection, count, events.data());
  return rate +
         accidental_rate(s.rule, events.data(), count, c.window_ns * 1e-9);
}
