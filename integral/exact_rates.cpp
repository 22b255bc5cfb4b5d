#include "integral/exact_rates.h"
#include "integral/gauss_legendre.h"
#include "integral/moments.h"
#include "integral/zenith_rings.h"
#include "simulation/counter.h"
#include "simulation/matter.h"
#include "simulation/quadrature.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <utility>

namespace {

constexpr double pi = 3.14159265358979323846;
// Each rectangle's integrals to this share of themselves.
constexpr double tolerance = 1e-10;

// The weight of the lines of slope k: the sky's intensity along them times
// the area across them of a unit of depth-0 plane, per d^2k.
struct sky_weight {
  bool flux;         // the flux law; else directions uniform per track
  double exponent;   // N
  double vx, vy, vz; // the vertical, in the telescope's frame
  bool smooth;       // no horizon to cross, or an even N
  // The spectrum's weight in the zenith cosine, of one piece (no matter
  // in the way); none under cos^N.
  const zenith_weight *spectrum;

  double operator()(double kx, double ky) const {
    const double q = 1.0 + kx * kx + ky * ky;
    if (!flux) {
      return 1.0 / (q * std::sqrt(q));
    }
    const double z = std::fabs(vz - kx * vx - ky * vy);
    if (spectrum != nullptr) {
      return weight_in(*spectrum, 0, z / std::sqrt(q)) / (q * q);
    }
    return std::pow(z, exponent) * std::pow(q, -2.0 - exponent / 2);
  }
  // Where z, and the weight's smoothness, ends.
  double z(double kx, double ky) const {
    return vz - kx * vx - ky * vy;
  }
};

template <unsigned n, class Point>
moments tensor(Point f, double a, double b, double c, double e) {
  const rule<n> &r = legendre<n>();
  const double hx = (b - a) / 2, mx = (a + b) / 2;
  const double hy = (e - c) / 2, my = (c + e) / 2;
  moments sum{};
  for (unsigned i = 0; i < n; ++i) {
    const double kx = mx + hx * r.x[i];
    for (unsigned j = 0; j < n; ++j) {
      const double ky = my + hy * r.x[j];
      const double w = r.w[i] * r.w[j] * f(kx, ky);
      sum = sum + moments{{w, w * kx, w * ky, w * kx * ky}};
    }
  }
  return sum * (hx * hy);
}

// The moments over [a, b] x [c, e] of a smooth weight: two Gauss-Legendre
// orders, and quarters of the rectangle where they disagree.
moments smooth_moments(const sky_weight &w, double a, double b, double c,
                       double e, int depth) {
  const moments low = tensor<10>(w, a, b, c, e);
  const moments high = tensor<20>(w, a, b, c, e);
  // Relative to the rectangle's own integrals, or to a floor far below
  // what a rate of the rectangle's size could show.
  if (magnitude(high - low) <= tolerance * magnitude(high) + 1e-17 ||
      depth == 0) {
    return high;
  }
  const double mx = (a + b) / 2, my = (c + e) / 2;
  return smooth_moments(w, a, mx, c, my, depth - 1) +
         smooth_moments(w, mx, b, c, my, depth - 1) +
         smooth_moments(w, a, mx, my, e, depth - 1) +
         smooth_moments(w, mx, b, my, e, depth - 1);
}

// The integral of a smooth f of one variable giving several numbers: two
// Gauss-Legendre orders, and halves of the interval where they disagree.
template <class F> moments adaptive_line(F f, double a, double b, int depth) {
  const auto rule_sum = [&](const auto &r) {
    const double h = (b - a) / 2, m = (a + b) / 2;
    moments sum{};
    for (std::size_t i = 0; i < r.x.size(); ++i) {
      sum = sum + f(m + h * r.x[i]) * r.w[i];
    }
    return sum * h;
  };
  const moments low = rule_sum(legendre<10>());
  const moments high = rule_sum(legendre<20>());
  if (magnitude(high - low) <= tolerance * magnitude(high) + 1e-17 ||
      depth == 0) {
    return high;
  }
  const double m = (a + b) / 2;
  return adaptive_line(f, a, m, depth - 1) + adaptive_line(f, m, b, depth - 1);
}

// The moments over a rectangle that the horizon crosses: along the axis in
// which the horizon leans less (the inner one), the tanh-sinh rule on each
// side of where it crosses; along the other, Gauss-Legendre, cut where the
// crossing enters or leaves the rectangle.
moments crossed_moments(const sky_weight &w, double a, double b, double c,
                        double e) {
  const bool inner_y = std::fabs(w.vy) >= std::fabs(w.vx);
  // In (outer, inner) coordinates.
  const double o0 = inner_y ? a : c, o1 = inner_y ? b : e;
  const double i0 = inner_y ? c : a, i1 = inner_y ? e : b;
  const double v_outer = inner_y ? w.vx : w.vy;
  const double v_inner = inner_y ? w.vy : w.vx;
  const auto point = [&](double outer, double inner) {
    return inner_y ? std::pair{outer, inner} : std::pair{inner, outer};
  };
  const auto integrand = [&](double outer, double inner) {
    const auto [kx, ky] = point(outer, inner);
    const double f = w(kx, ky);
    return moments{{f, f * kx, f * ky, f * kx * ky}};
  };
  const auto crossing = [&](double outer) {
    return (w.vz - outer * v_outer) / v_inner;
  };
  const auto inner = [&](double outer) {
    const double at = crossing(outer);
    const auto along = [&](double inner_value) {
      return integrand(outer, inner_value);
    };
    if (at > i0 && at < i1) {
      return tanh_sinh(along, i0, at, tolerance) +
             tanh_sinh(along, at, i1, tolerance);
    }
    return tanh_sinh(along, i0, i1, tolerance);
  };
  std::vector<double> cuts = {o0, o1};
  if (v_outer != 0.0) {
    for (const double edge : {i0, i1}) {
      const double outer = (w.vz - edge * v_inner) / v_outer;
      if (outer > o0 && outer < o1) {
        cuts.push_back(outer);
      }
    }
  }
  std::sort(cuts.begin(), cuts.end());
  // Between the cuts the inner integral is smooth in the outer variable.
  moments sum{};
  for (std::size_t k = 0; k + 1 < cuts.size(); ++k) {
    sum = sum + adaptive_line(inner, cuts[k], cuts[k + 1], 12);
  }
  return sum;
}

moments rectangle_moments(const sky_weight &w, double a, double b, double c,
                          double e) {
  if (!w.smooth) {
    const double corners[4] = {w.z(a, c), w.z(a, e), w.z(b, c), w.z(b, e)};
    const double lowest = *std::min_element(corners, corners + 4);
    const double highest = *std::max_element(corners, corners + 4);
    // The horizon through the rectangle, or beyond it by less than the
    // rectangle's own span of z: there the weight's |z|^N has no
    // derivatives of every order, and nearby they grow so fast that
    // polynomial rules converge slowly. The tanh-sinh rule across it does
    // not mind.
    const double span = highest - lowest;
    if (lowest <= span && highest >= -span) {
      return crossed_moments(w, a, b, c, e);
    }
  }
  return smooth_moments(w, a, b, c, e, 12);
}

// One axis of the telescope: each layer's extent along it, and its depth.
struct extent {
  double from, to, depth;
};

// Along one axis, between two values of the slope at which no two of the
// grid's lines cross: the stretches between consecutive lines, each with
// the layers it lies within and its length alpha + beta k.
struct stretch {
  std::uint32_t layers;
  double alpha, beta;
};

std::vector<stretch> stretches_at(const std::vector<extent> &layers, double k) {
  struct line {
    double at, edge, depth;
  };
  std::vector<line> lines;
  for (const extent &l : layers) {
    lines.push_back({l.from - k * l.depth, l.from, l.depth});
    lines.push_back({l.to - k * l.depth, l.to, l.depth});
  }
  std::sort(lines.begin(), lines.end(),
            [](const line &p, const line &q) { return p.at < q.at; });
  std::vector<stretch> out;
  for (std::size_t q = 0; q + 1 < lines.size(); ++q) {
    const double middle = (lines[q].at + lines[q + 1].at) / 2;
    std::uint32_t within = 0;
    for (std::size_t i = 0; i < layers.size(); ++i) {
      const extent &l = layers[i];
      if (l.from - k * l.depth <= middle && middle <= l.to - k * l.depth) {
        within |= 1U << i;
      }
    }
    out.push_back({within, lines[q + 1].edge - lines[q].edge,
                   -(lines[q + 1].depth - lines[q].depth)});
  }
  return out;
}

// Cuts of the slopes at +-1, +-2, +-4, ... inside the grid's span, up to
// 2^40: the weight falls as |k|^-3 or faster, on a scale of |k| itself, so
// rules on each [2^j, 2^(j+1)] see it smooth. Layers a hair apart span
// slopes of 1e6 and more, where Gauss-Legendre over the whole span would
// miss the weight's peak near 0 altogether. Beyond 2^40 the weight's share
// is below 1e-12.
void cut_by_octaves(std::vector<double> &k) {
  const auto [from, to] = std::minmax_element(k.begin(), k.end());
  const double low = *from, high = *to;
  for (int octave = 0; octave <= 40; ++octave) {
    const double cut = std::ldexp(1.0, octave);
    for (const double at : {-cut, cut}) {
      if (at > low && at < high) {
        k.push_back(at);
      }
    }
  }
  std::sort(k.begin(), k.end());
  k.erase(std::unique(k.begin(), k.end()), k.end());
}

// The slopes at which two lines of different depths meet, in order.
std::vector<double> crossings_of(const std::vector<extent> &layers) {
  std::vector<double> k;
  for (std::size_t i = 0; i < layers.size(); ++i) {
    for (std::size_t j = i + 1; j < layers.size(); ++j) {
      const double dh = layers[i].depth - layers[j].depth;
      if (dh == 0.0) {
        continue;
      }
      for (const double a : {layers[i].from, layers[i].to}) {
        for (const double b : {layers[j].from, layers[j].to}) {
          k.push_back((a - b) / dh);
        }
      }
    }
  }
  if (!k.empty()) {
    cut_by_octaves(k);
  }
  return k;
}

// Whether an absorber's box lies across the whole telescope, as
// --absorber MATERIAL:T@DEPTH lays it: every line that crosses the layers
// crosses all of its thickness.
bool across_the_telescope(const layer &box) {
  return box.width_cm == 2 * absorber_across_cm &&
         box.length_cm == 2 * absorber_across_cm &&
         box.x_cm == -absorber_across_cm && box.y_cm == -absorber_across_cm;
}

double depth_of(const telescope &scope, int i, double distance_cm) {
  // The top's lower face is depth 0, thin or not.
  return i == 0                  ? 0.0
         : i == bottom_of(scope) ? distance_cm
                                 : scope.layers[i].depth_cm;
}

// The telescope's levels under the spectrum: the layers below none, one,
// ... of the absorbers above the bottom (all across it, the telescope
// upright), each level with the weight of the energies that get through
// the overburden and its absorbers, and the layers that fire with them
// (those of its level and above).
struct energy_levels {
  weight_bands bands;
  std::vector<std::uint32_t> fires;
  // An overburden, or absorbers between the layers: the weights have
  // kinks, and rings of zenith angle take the integral.
  bool rings;
};

energy_levels levels_of(const telescope &scope, double distance_cm,
                        const sky_model &sky) {
  std::vector<absorber> above;
  for (int k = 0; k < scope.absorber_count; ++k) {
    if (scope.absorbers[k].box.depth_cm < distance_cm) {
      above.push_back(scope.absorbers[k]);
    }
  }
  std::stable_sort(above.begin(), above.end(),
                   [](const absorber &a, const absorber &b) {
                     return a.box.depth_cm < b.box.depth_cm;
                   });
  // How many absorbers lie above each layer, and the distinct counts.
  int below_of[layers_max] = {};
  std::vector<int> counts;
  for (int i = 0; i < scope.count; ++i) {
    const double h = depth_of(scope, i, distance_cm);
    for (const absorber &a : above) {
      below_of[i] += a.box.depth_cm < h ? 1 : 0;
    }
    counts.push_back(below_of[i]);
  }
  std::sort(counts.begin(), counts.end());
  counts.erase(std::unique(counts.begin(), counts.end()), counts.end());
  energy_levels levels{};
  for (const int count : counts) {
    std::vector<flat_slab> slabs;
    for (int k = 0; k < count; ++k) {
      const absorber &a = above[static_cast<std::size_t>(k)];
      slabs.push_back({a.what, a.box.thickness_cm * density_g_cm3(a.what)});
    }
    levels.bands.levels.push_back(spectrum_weight(sky, slabs));
    const zenith_weight &w = levels.bands.levels.back();
    levels.bands.kinks.insert(levels.bands.kinks.end(), w.kinks.begin(),
                              w.kinks.end());
    std::uint32_t fires = 0;
    for (int i = 0; i < scope.count; ++i) {
      fires |= below_of[i] <= count ? 1U << i : 0U;
    }
    levels.fires.push_back(fires);
  }
  std::sort(levels.bands.kinks.begin(), levels.bands.kinks.end());
  levels.rings =
      sky.overburden_count > 0 || counts.size() > 1 || counts.front() > 0;
  return levels;
}

} // namespace

std::string integral_refusal(const telescope &scope, double distance_cm,
                             const sky_model &sky, double tilt_deg) {
  for (int i = 0; i < scope.count; ++i) {
    if (scope.layers[i].thickness_cm > 0.0) {
      return "--method integral needs thin layers: layer " +
             std::to_string(i + 1) + " is thick";
    }
  }
  // Beyond 10 km the rate falls as 1/d^2 to where the weight's products
  // underflow long before doubles run out: no telescope is built there.
  if (!(distance_cm >= 0.0 && distance_cm <= 1e6)) {
    return "--method integral needs distances from 0 to 1e6 cm";
  }
  bool one_depth = true, shared = false;
  for (int i = 0; i < scope.count; ++i) {
    for (int j = i + 1; j < scope.count; ++j) {
      const bool same =
          depth_of(scope, i, distance_cm) == depth_of(scope, j, distance_cm);
      one_depth = one_depth && same;
      shared = shared || same;
    }
  }
  if (shared && !one_depth) {
    return "--method integral needs the layers at different depths, or all "
           "at one";
  }
  // Under cos^N the muons have no energies, and absorbers stop none.
  if (sky.law != sky_law::spectrum) {
    return "";
  }
  for (int k = 0; k < scope.absorber_count; ++k) {
    const layer &box = scope.absorbers[k].box;
    const std::string name = "absorber " + std::to_string(k + 1);
    // Tilted, a muon crosses an absorber along its slant to the axis, not
    // to the vertical, and comes up the axis through those below the
    // bottom: the matter in its way is no function of its zenith angle.
    if (tilt_deg != 0.0) {
      return "--method integral under --sky spectrum takes absorbers only "
             "with the telescope upright: tilted, the matter a muon crosses "
             "in " +
             name + " depends on more than its zenith angle";
    }
    // An upright telescope's muons all come down, past the bottom before
    // they reach an absorber below it.
    if (box.depth_cm < distance_cm && !across_the_telescope(box)) {
      return "--method integral under --sky spectrum takes only absorbers "
             "across the whole telescope (MATERIAL:T@DEPTH): " +
             name +
             " has edges, so that its threshold varies across the lines of a "
             "direction";
    }
  }
  return "";
}

std::vector<double> exact_crossings(const telescope &scope, double distance_cm,
                                    const tilt &lean, const sky_model &sky,
                                    zenith_law law) {
  const double exponent = sky.exponent;
  std::vector<extent> xs, ys;
  for (int i = 0; i < scope.count; ++i) {
    const layer &l = scope.layers[i];
    const double h = depth_of(scope, i, distance_cm);
    xs.push_back({l.x_cm, l.x_cm + l.width_cm, h});
    ys.push_back({l.y_cm, l.y_cm + l.length_cm, h});
  }
  const bool flux = law == zenith_law::cos_squared;
  // Under the spectrum, per unit of the flux a Monte Carlo pass draws: the
  // weight of each band of energies between the levels' thresholds, and
  // the layers each fires; under cos^N one band that fires every layer.
  const bool spectrum = flux && sky.law == sky_law::spectrum;
  const energy_levels levels =
      spectrum ? levels_of(scope, distance_cm, sky) : energy_levels{};
  const bool rings = spectrum && levels.rings;
  const std::vector<std::uint32_t> fires =
      rings ? levels.fires
            : std::vector<std::uint32_t>{(1U << scope.count) - 1U};
  const double top_area = scope.layers[0].width_cm * scope.layers[0].length_cm;
  std::vector<double> per_set(std::size_t{1} << scope.count, 0.0);
  // Adds the lines of a cell (in layers `set`) to the sets each band fires.
  const auto add = [&](std::uint32_t set, const double *band_rates) {
    for (std::size_t b = 0; b < fires.size(); ++b) {
      const std::uint32_t fired = set & fires[b];
      if (bits_in(fired) >= 2) {
        per_set[fired] += band_rates[b];
      }
    }
  };
  const std::vector<double> kx = crossings_of(xs), ky = crossings_of(ys);
  if (kx.empty()) {
    // All at one depth: every line crosses the layers it meets at depth 0,
    // whatever its direction.
    double share[bands_max] = {};
    if (rings) {
      const band_moments plane = plane_moments(lean, levels.bands);
      for (std::size_t b = 0; b < fires.size(); ++b) {
        share[b] = plane.m[4 * b];
      }
    } else {
      share[0] = !flux      ? 1.0 / top_area
                 : spectrum ? tilted_flux_share(lean.angle_deg, sky)
                            : tilted_flux_share(lean.angle_deg, exponent);
    }
    for (const stretch &sx : stretches_at(xs, 0.0)) {
      for (const stretch &sy : stretches_at(ys, 0.0)) {
        const std::uint32_t set = sx.layers & sy.layers;
        if (bits_in(set) >= 2) {
          double rates[bands_max];
          for (std::size_t b = 0; b < fires.size(); ++b) {
            rates[b] = sx.alpha * sy.alpha * share[b];
          }
          add(set, rates);
        }
      }
    }
    return per_set;
  }
  const double a = lean.angle_deg * pi / 180, b = lean.azimuth_deg * pi / 180;
  const bool even = std::fmod(exponent, 2.0) == 0.0;
  // The spectrum's weight is no power of the cosine: it does not vanish at
  // the horizon, where its |cos| has a kink.
  const sky_weight w{flux,
                     exponent,
                     -std::sin(a) * std::cos(b),
                     -std::sin(a) * std::sin(b),
                     std::cos(a),
                     !flux || lean.angle_deg == 0.0 || (even && !spectrum),
                     spectrum ? &levels.bands.levels[0] : nullptr};
  const double scale = spectrum ? 1.0
                       : flux   ? (exponent + 2) / (2 * pi)
                                : 1.0 / (2 * pi * top_area);
  // Each rectangle of the grid of slopes: the stretches along x and along y
  // and their products, the cells, for the sets of two or more layers.
  for (std::size_t i = 0; i + 1 < kx.size(); ++i) {
    const std::vector<stretch> along_x =
        stretches_at(xs, (kx[i] + kx[i + 1]) / 2);
    for (std::size_t j = 0; j + 1 < ky.size(); ++j) {
      const std::vector<stretch> along_y =
          stretches_at(ys, (ky[j] + ky[j + 1]) / 2);
      bool any = false;
      for (const stretch &sx : along_x) {
        for (const stretch &sy : along_y) {
          any = any || bits_in(sx.layers & sy.layers) >= 2;
        }
      }
      if (!any) {
        continue;
      }
      band_moments m{};
      if (rings) {
        m = zenith_moments(lean, levels.bands, kx[i], kx[i + 1], ky[j],
                           ky[j + 1]);
      } else {
        const moments one =
            rectangle_moments(w, kx[i], kx[i + 1], ky[j], ky[j + 1]);
        std::copy(one.m, one.m + 4, m.m);
      }
      for (const stretch &sx : along_x) {
        for (const stretch &sy : along_y) {
          const std::uint32_t set = sx.layers & sy.layers;
          if (bits_in(set) >= 2) {
            // (alpha_x + beta_x kx)(alpha_y + beta_y ky) over the rectangle.
            double rates[bands_max];
            for (std::size_t k = 0; k < fires.size(); ++k) {
              const double *o = m.m + 4 * k;
              rates[k] =
                  scale *
                  (sx.alpha * sy.alpha * o[0] + sx.beta * sy.alpha * o[1] +
                   sx.alpha * sy.beta * o[2] + sx.beta * sy.beta * o[3]);
            }
            add(set, rates);
          }
        }
      }
    }
  }
  return per_set;
}
