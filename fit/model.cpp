#include "fit/model.h"
#include "integral/exact_rates.h"
#include "simulation/counter.h"
#include "simulation/curve_pass.h"
#include "simulation/sky.h"

#include <algorithm>
#include <cmath>
#include <random>

namespace {

constexpr double pi = 3.14159265358979323846;
constexpr double seconds_per_minute = 60.0;

// The Chebyshev points of the first kind on [0, N_max], and their weights
// in the barycentric formula.
double point(int k) {
  return model_exponent_max / 2 *
         (1.0 + std::cos(pi * (k + 0.5) / model_points));
}

double weight(int k) {
  return (k % 2 == 0 ? 1.0 : -1.0) *
         std::sin(pi * (2 * k + 1) / (2.0 * model_points));
}

// The polynomial through (N + 1) value(k) at the points, at n, over n + 1.
template <class Value> double interpolated(Value value, double n) {
  double above = 0.0, below = 0.0;
  for (int k = 0; k < model_points; ++k) {
    const double gap = n - point(k);
    const double smoothed = (point(k) + 1.0) * value(k);
    if (gap == 0.0) {
      return value(k);
    }
    above += weight(k) / gap * smoothed;
    below += weight(k) / gap;
  }
  return above / below / (n + 1.0);
}

tilt lean_of(const setting &s) {
  return {s.tilt_deg, s.tilt_azimuth_deg};
}

// Throws `muons` muons through layer `source` at exponent n0 and adds, for
// each set of layers crossed at the setting's distance, the weights of its
// tracks at every Chebyshev point: c^(N - n0) each.
// Of the tracks that meet the requirement, `meeting` counts them and
// weights[k], squares[k] add up their weights at each point and the weights'
// squares.
struct meeting_tracks {
  double count;
  double weights[model_points], squares[model_points];
};

void weighted_tracks(const telescope &scope, const setting &s, int source,
                     double n0, std::uint32_t seed, std::uint32_t stream,
                     double muons, std::vector<double> (&sums)[model_points],
                     meeting_tracks &meeting, const std::atomic<bool> *stop) {
  const sky_frame frame = frame_of(lean_of(s));
  const sky_sampler sky = sampler_of(cos_sky(n0));
  const int bottom = bottom_of(scope);
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
      const muon_track track =
          draw_box_track(scope.layers[source], frame, sky, generator);
      const track_slopes slopes = slopes_of(track, scope.min_path_cm);
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
        set |= hits.crossed ? 1U << k : 0U;
      }
      if (!counted) {
        continue;
      }
      const bool meets = requirement_met(s.rule, set);
      meeting.count += meets ? 1.0 : 0.0;
      const double log_cosine = std::log(track.sky_cosine);
      for (int k = 0; k < model_points; ++k) {
        const double w = std::exp((point(k) - n0) * log_cosine);
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

setting_model model_setting(const telescope &scope, const counters &c,
                            const setting &s, model_method method, double n0,
                            std::uint32_t seed, std::uint32_t stream,
                            double muons_max, const std::atomic<bool> *stop) {
  setting_model m{};
  const std::size_t sets = std::size_t{1} << scope.count;
  const tilt lean = lean_of(s);
  for (int k = 0; k < model_points; ++k) {
    m.per_set[k].assign(sets, 0.0);
    for (int i = 0; i < scope.count; ++i) {
      m.box[k][i] =
          box_firing_area(scope.layers[i], lean, point(k), scope.min_path_cm) /
          seconds_per_minute;
    }
  }
  if (method == model_method::integral) {
    for (int k = 0; k < model_points; ++k) {
      const std::vector<double> per_minute = exact_crossings(
          scope, s.distance_cm, lean, point(k), zenith_law::cos_squared);
      for (std::size_t set = 0; set < sets; ++set) {
        m.per_set[k][set] = per_minute[set] / seconds_per_minute;
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
  weighted_tracks(scope, s, 0, n0, seed, stream + 0x8000, block_muons, pilot,
                  pilot_meeting, stop);
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
    weighted_tracks(scope, s, source, n0, seed, stream, m.muons, sums, meeting,
                    stop);
    // Each track stands for the box's muons at n0 over the muons drawn,
    // weighted to each point.
    const double per_track = box_flux_area(scope.layers[source], lean, n0) /
                             seconds_per_minute / m.muons;
    for (int k = 0; k < model_points; ++k) {
      const double factor = per_track * (point(k) + 2.0) / (n0 + 2.0);
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
  return interpolated([&](int k) { return m.own_error[k]; }, exponent);
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
    per_set[set] =
        j * interpolated([&](int k) { return m.per_set[k][set]; }, exponent);
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
    singles_hz[i] =
        j * interpolated([&](int k) { return m.box[k][i]; }, exponent) *
            c.detection[i] +
        c.noise_hz[i];
  }
  std::vector<double> events(sets);
  chance_events(per_set.data(), singles_hz, c.detection, count, events.data());
  return rate +
         accidental_rate(s.rule, events.data(), count, c.window_ns * 1e-9);
}
