#include "simulation/matter.h"
#include "simulation/effective_exponent.h"
#include "simulation/muon_spectrum.h"
#include "simulation/sky.h"
#include "simulation/soft_component.h"

#include <algorithm>
#include <cmath>

namespace {

// y at x beyond a table's end, by the power through its last two points
// there (first/second: the end's point and its neighbour).
double extended(double x, double x_end, double y_end, double x_next,
                double y_next) {
  const double power = std::log(y_next / y_end) / std::log(x_next / x_end);
  return y_end * std::pow(x / x_end, power);
}

// The kinetic energy whose range is `grams_cm2`, the tables carried beyond
// their ends as range_g_cm2 carries them.
double kinetic_of_range(const range_table &t, double grams_cm2) {
  if (!(grams_cm2 > 0.0)) {
    return 0.0;
  }
  const int last = t.size - 1;
  double mev = 0.0;
  if (grams_cm2 < t.range_g_cm2[0]) {
    mev = extended(grams_cm2, t.range_g_cm2[0], t.kinetic_mev[0],
                   t.range_g_cm2[1], t.kinetic_mev[1]);
  } else if (grams_cm2 > t.range_g_cm2[last]) {
    mev = extended(grams_cm2, t.range_g_cm2[last], t.kinetic_mev[last],
                   t.range_g_cm2[last - 1], t.kinetic_mev[last - 1]);
  } else {
    mev = log_log_interpolate(t.range_g_cm2, t.kinetic_mev, t.size, grams_cm2);
  }
  return 1e-3 * mev;
}

double kinetic_of_range(material m, double grams_cm2) {
  return kinetic_of_range(table_of(m), grams_cm2);
}

// The grams per cm^2 of a box that a track crosses, its chord in depth over
// the cosine of its angle to the axis, times the density.
double grams_through(const muon_track &track, const track_slopes &slopes,
                     const layer &box, material what) {
  if (box.thickness_cm == 0.0) {
    return 0.0;
  }
  const depth_span span = footprint_span(track, slopes, box);
  const double chord = lesser(box.depth_cm + box.thickness_cm, span.high) -
                       greater(box.depth_cm, span.low);
  return chord > 0.0 ? chord / track.axis_cosine * density_g_cm3(what) : 0.0;
}

// The box and material of slab k of an order.
struct slab {
  const layer &box;
  material what;
  int layer_index; // -1 for an absorber
};

slab slab_of(const telescope &scope, int k) {
  if (k < layers_max) {
    return {scope.layers[k], scintillator, k};
  }
  const absorber &a = scope.absorbers[k - layers_max];
  return {a.box, a.what, -1};
}

} // namespace

double range_g_cm2(material m, double kinetic_gev) {
  if (!(kinetic_gev > 0.0)) {
    return 0.0;
  }
  const range_table t = table_of(m);
  const int last = t.size - 1;
  const double mev = 1e3 * kinetic_gev;
  if (mev < t.kinetic_mev[0]) {
    return extended(mev, t.kinetic_mev[0], t.range_g_cm2[0], t.kinetic_mev[1],
                    t.range_g_cm2[1]);
  }
  if (mev > t.kinetic_mev[last]) {
    return extended(mev, t.kinetic_mev[last], t.range_g_cm2[last],
                    t.kinetic_mev[last - 1], t.range_g_cm2[last - 1]);
  }
  return log_log_interpolate(t.kinetic_mev, t.range_g_cm2, t.size, mev);
}

double kinetic_after(material m, double kinetic_gev, double grams_cm2) {
  if (grams_cm2 == 0.0) {
    return kinetic_gev;
  }
  const double left = range_g_cm2(m, kinetic_gev) - grams_cm2;
  return left > 0.0 ? kinetic_of_range(m, left) : left;
}

double overburden_kinetic(const sky_model &sky, double cos_zenith,
                          double below_gev) {
  double kinetic = below_gev;
  for (int k = sky.overburden_count - 1; k >= 0; --k) {
    const overburden_slab &s = sky.overburden[k];
    kinetic = kinetic_of_range(s.what, s.grams_cm2 / cos_zenith +
                                           range_g_cm2(s.what, kinetic));
  }
  return kinetic;
}

slab_order order_of(const telescope &scope, const sky_model &sky,
                    double distance_cm) {
  slab_order order{};
  const auto depth_of = [&](int k) {
    return k < layers_max ? scope.layers[k].depth_cm
                          : scope.absorbers[k - layers_max].box.depth_cm;
  };
  for (int i = 0; i < bottom_of(scope); ++i) {
    order.index[order.count++] = i;
  }
  for (int k = 0; k < scope.absorber_count; ++k) {
    order.index[order.count++] = layers_max + k;
  }
  std::stable_sort(order.index, order.index + order.count,
                   [&](int a, int b) { return depth_of(a) < depth_of(b); });
  // The absorbers at or below the bottom's upper face lie below it, at
  // this distance as at every other of a run, deeper than every layer above
  // the bottom: the last of the order.
  order.below = order.count;
  for (int k = 0; k < scope.absorber_count; ++k) {
    order.below -= scope.absorbers[k].box.depth_cm >= distance_cm ? 1 : 0;
  }
  const range_table plastic = table_of(scintillator);
  std::copy(plastic.range_g_cm2, plastic.range_g_cm2 + range_rows,
            order.least_range);
  const auto take = [&](material m) {
    const range_table t = table_of(m);
    for (int j = 0; j < range_rows; ++j) {
      order.least_range[j] = lesser(order.least_range[j], t.range_g_cm2[j]);
    }
  };
  for (int k = 0; k < scope.absorber_count; ++k) {
    take(scope.absorbers[k].what);
  }
  for (int k = 0; k < sky.overburden_count; ++k) {
    take(sky.overburden[k].what);
  }
  order.slab_grams = 0.0;
  for (int k = 0; k < order.count; ++k) {
    const slab s = slab_of(scope, order.index[k]);
    order.slab_grams += s.box.thickness_cm * density_g_cm3(s.what);
  }
  order.overburden_grams = 0.0;
  for (int k = 0; k < sky.overburden_count; ++k) {
    order.overburden_grams += sky.overburden[k].grams_cm2;
  }
  order.grams_cap = 4.0 * (order.slab_grams + order.overburden_grams);
  const range_table least{plastic.kinetic_mev, order.least_range, range_rows};
  order.spare_kinetic_gev = 1.1 * kinetic_of_range(least, order.grams_cap);
  return order;
}

std::uint32_t reached_layers(const telescope &scope, const sky_model &sky,
                             const slab_order &order, const muon_track &track,
                             const track_slopes &slopes) {
  const int bottom = bottom_of(scope);
  const std::uint32_t all = (1U << scope.count) - 1;
  double kinetic = track.energy_gev - muon_mass_gev;
  // A chord is never longer than its slab's thickness over the track's
  // cosine to the axis.
  const double most_grams = order.slab_grams / track.axis_cosine +
                            order.overburden_grams / track.sky_cosine;
  if (most_grams <= order.grams_cap && kinetic > order.spare_kinetic_gev) {
    return all;
  }
  // The grams on its way, slab by slab, in the order the track meets them
  // (see matter.h): up the axis those below the bottom first.
  double grams[layers_max + absorbers_max];
  int crossed[layers_max + absorbers_max];
  int n = 0, bottom_after = 0;
  double all_grams = 0.0;
  const auto add = [&](int k) {
    const slab s = slab_of(scope, order.index[k]);
    crossed[n] = k;
    grams[n] = grams_through(track, slopes, s.box, s.what);
    all_grams += grams[n++];
  };
  if (!track.upward) {
    for (int k = 0; k < order.below; ++k) {
      add(k);
    }
    bottom_after = n;
  } else {
    for (int k = order.count - 1; k >= order.below; --k) {
      add(k);
    }
    bottom_after = n;
    for (int k = order.below - 1; k >= 0; --k) {
      add(k);
    }
  }
  for (int k = 0; k < sky.overburden_count; ++k) {
    all_grams += sky.overburden[k].grams_cm2 / track.sky_cosine;
  }
  // Most muons have energy to spare for all of it: with a tenth more than
  // the most stopping of the materials would take for all the grams, where
  // their tables cross, it gets everywhere.
  const range_table least{table_of(scintillator).kinetic_mev, order.least_range,
                          range_rows};
  if (kinetic > 1.1 * kinetic_of_range(least, all_grams)) {
    return all;
  }
  for (int k = 0; k < sky.overburden_count; ++k) {
    const overburden_slab &s = sky.overburden[k];
    kinetic = kinetic_after(s.what, kinetic, s.grams_cm2 / track.sky_cosine);
    if (!(kinetic > 0.0)) {
      return 0;
    }
  }
  std::uint32_t reached = 0;
  for (int j = 0; j < n; ++j) {
    if (j == bottom_after) {
      reached |= 1U << bottom;
    }
    const slab s = slab_of(scope, order.index[crossed[j]]);
    if (s.layer_index >= 0) {
      reached |= 1U << s.layer_index;
    }
    kinetic = kinetic_after(s.what, kinetic, grams[j]);
    if (!(kinetic > 0.0)) {
      return reached;
    }
  }
  return bottom_after == n ? reached | 1U << bottom : reached;
}

namespace {

// The total energy a muon needs to reach layer i (the bottom at
// `distance_cm`): through the overburden from a zenith angle of cosine
// `cos_zenith`, and through every layer and absorber above the layer, whole,
// `slant` times its thickness.
double threshold_gev(const telescope &scope, const sky_model &sky,
                     int layer_index, double cos_zenith, double slant,
                     double distance_cm) {
  const int bottom = bottom_of(scope);
  // Going up the slabs above the layer, the energy each needs above it.
  double kinetic = 0.0;
  const slab_order order = order_of(scope, sky, distance_cm);
  const double depth =
      layer_index == bottom ? distance_cm : scope.layers[layer_index].depth_cm;
  for (int k = order.below - 1; k >= 0; --k) {
    const slab s = slab_of(scope, order.index[k]);
    if (s.box.depth_cm < depth) {
      kinetic = kinetic_of_range(s.what, slant * s.box.thickness_cm *
                                                 density_g_cm3(s.what) +
                                             range_g_cm2(s.what, kinetic));
    }
  }
  return muon_mass_gev + overburden_kinetic(sky, cos_zenith, kinetic);
}

} // namespace

double axis_threshold_gev(const telescope &scope, const sky_model &sky,
                          int layer_index, double tilt_deg,
                          double distance_cm) {
  // Tilts run to 90 degrees, whose cosine in doubles is 6e-17, not 0.
  const double cos_tilt = std::cos(tilt_deg * 3.14159265358979323846 / 180);
  return threshold_gev(scope, sky, layer_index, cos_tilt, 1.0, distance_cm);
}

double matching_exponent(const telescope &scope, const sky_model &sky,
                         int layer_index, double distance_cm) {
  return fitted_slope([&](double c) {
    return zenith_factor(c, sky.exponent) *
           site_intensity_above(sky, threshold_gev(scope, sky, layer_index, c,
                                                   1.0 / c, distance_cm));
  });
}

double soft_flux_reaching(const telescope &scope, const sky_model &sky,
                          int layer_index, double tilt_deg,
                          double distance_cm) {
  // Tilts run to 90 degrees, whose cosine in doubles is 6e-17, not 0.
  const double cos_tilt = std::cos(tilt_deg * 3.14159265358979323846 / 180);
  const double slant = 1.0 / cos_tilt;
  const int bottom = bottom_of(scope);
  const double depth =
      layer_index == bottom ? distance_cm : scope.layers[layer_index].depth_cm;
  // Grams and radiation lengths down to the layer: the overburden, then
  // every slab above it.
  double grams = 0.0, lengths = 0.0;
  for (int k = 0; k < sky.overburden_count; ++k) {
    const overburden_slab &s = sky.overburden[k];
    grams += s.grams_cm2 * slant;
    lengths += s.grams_cm2 * slant / radiation_length_g_cm2(s.what);
  }
  const slab_order order = order_of(scope, sky, distance_cm);
  for (int k = 0; k < order.below; ++k) {
    const slab s = slab_of(scope, order.index[k]);
    if (s.box.depth_cm < depth) {
      const double g = s.box.thickness_cm * density_g_cm3(s.what);
      grams += g;
      lengths += g / radiation_length_g_cm2(s.what);
    }
  }
  // Electrons lose about 2 MeV per g/cm^2 by ionisation.
  const double least_gev = std::fmax(0.01, 0.002 * grams);
  const double top_lengths = scope.layers[0].thickness_cm *
                             density_g_cm3(scintillator) /
                             radiation_length_g_cm2(scintillator);
  const double converting = -std::expm1(-7.0 / 9.0 * top_lengths);
  const double vertical = soft_electron_intensity_above(least_gev) +
                          soft_photon_intensity_above(least_gev) * converting;
  // cos^2: the flux through a horizontal surface is 2 pi I / (2 + 2).
  return 2.0 * 3.14159265358979323846 * vertical / 4.0 *
         per_cm2_min_of_per_m2_s * soft_transmission(lengths, 1.0);
}
