// A telescope of any stack of rectangular counters, and how a straight track
// crosses each of them.
#pragma once

#include "simulation/coincidences.h"
#include "simulation/muon_range.h"
#include "simulation/sky_model.h"

#include <cmath>
#include <cstdint>

// A lab stacks at most this many counters.
constexpr int layers_max = 8;

// One counter, a box in the telescope's frame (x along the widths, y along
// the lengths, depth along the axis, growing downward from the upper
// paddle's lower face). A thickness of 0 makes it a thin plane, as the
// programs' paddles are.
struct layer {
  double width_cm, length_cm, thickness_cm;
  double x_cm, y_cm; // its corner, from the upper paddle's corner
  double depth_cm;   // of its upper face
};

// A slab that counts nothing, between the counters or below them: a box in
// the telescope's frame, as a layer is, of a material that slows the muons
// that cross it. The counters themselves are plastic scintillator.
struct absorber {
  material what;
  layer box;
};

// A lab puts a few absorbers in a stack.
constexpr int absorbers_max = 6;

// Half the width of an absorber across the whole telescope, centred on the
// upper paddle's corner: every layer lies within it.
constexpr double absorber_across_cm = 2e6;

// The layers from top to bottom. The top's upper face lies its thickness
// above depth 0; the bottom's depth is the distance of each row, the gap a
// ruler measures between the upper paddle and the lower one.
struct telescope {
  int count; // 2 to layers_max
  layer layers[layers_max];
  // A thick layer whose chord along the track is shorter than this gives too
  // little light and is not crossed; 0 takes every chord.
  double min_path_cm;
  // Absorbers, each wholly above or wholly below the bottom at every
  // distance, and at depths no layer takes.
  int absorber_count = 0;
  absorber absorbers[absorbers_max] = {};
};

// Two paddles, the lower one's corner at (dx, dy) from the upper one's.
constexpr telescope paddle_telescope(const layer &top, const layer &bottom,
                                     double dx, double dy) {
  telescope scope{
      2,
      {{top.width_cm, top.length_cm, top.thickness_cm, 0.0, 0.0,
        -top.thickness_cm},
       {bottom.width_cm, bottom.length_cm, bottom.thickness_cm, dx, dy, 0.0}},
      0.0};
  return scope;
}

// The programs' telescope: two thin 10 cm x 31 cm paddles, one directly
// above the other.
constexpr telescope paddle_pair =
    paddle_telescope({paddle_width_cm, paddle_length_cm, 0, 0, 0, 0},
                     {paddle_width_cm, paddle_length_cm, 0, 0, 0, 0}, 0, 0);

constexpr int bottom_of(const telescope &scope) {
  return scope.count - 1;
}

// A thin layer as the landing test sees it.
constexpr landing_area area_of(const layer &l) {
  return {l.x_cm, l.x_cm + l.width_cm, l.y_cm, l.y_cm + l.length_cm};
}

// What the tests of thick layers need of a track, worked out once: its
// lateral move per unit of depth, the inverses, and the least chord in
// depth that counts, min_path * |cos| of the track's angle to the axis.
struct track_slopes {
  double kx, ky;
  double inverse_kx, inverse_ky;
  double least_depth_chord;
};

inline track_slopes slopes_of(const muon_track &track, double min_path_cm) {
  const double kx = track.dir_x * track.t, ky = track.dir_y * track.t;
  return {kx, ky, 1.0 / kx, 1.0 / ky, min_path_cm * track.axis_cosine};
}

// The lesser and the greater of two numbers, as plain comparisons: fmin and
// fmax treat NaN with care that costs a library call each, and nothing here
// needs it.
constexpr double lesser(double a, double b) {
  return b < a ? b : a;
}
constexpr double greater(double a, double b) {
  return b > a ? b : a;
}

// The depths at which the track lies within a box's footprint: where both
// its x and its y do. Empty (low > high, or NaN) when it never does.
struct depth_span {
  double low, high;
};

inline depth_span footprint_span(const muon_track &track, const track_slopes &s,
                                 const layer &l) {
  // Along one axis, the depths between the two at which the track meets the
  // box's faces; with no lateral move, all depths or none.
  const auto along = [](double p, double k, double inverse, double from,
                        double to) -> depth_span {
    if (k == 0.0) {
      return p >= from && p < to ? depth_span{-HUGE_VAL, HUGE_VAL}
                                 : depth_span{HUGE_VAL, -HUGE_VAL};
    }
    const double a = (from - p) * inverse, b = (to - p) * inverse;
    return {lesser(a, b), greater(a, b)};
  };
  const depth_span x =
      along(track.x, s.kx, s.inverse_kx, l.x_cm, l.x_cm + l.width_cm);
  const depth_span y =
      along(track.y, s.ky, s.inverse_ky, l.y_cm, l.y_cm + l.length_cm);
  return {greater(x.low, y.low), lesser(x.high, y.high)};
}

// Whether a depth chord `chord` is a crossing: some path at all, and at
// least the least that counts.
inline bool chord_counts(double chord, double least) {
  return chord > 0.0 && chord >= least;
}

// Whether the track crosses a thick box whose upper face lies at `depth`:
// min(depth + T, high) - max(depth, low) is its chord in depth, written as
// the four differences it is the least of, each compared on its own. Each
// is monotone in `depth`, so the depths at which a track crosses form one
// run of a sorted list, as the search over distances needs.
inline bool crosses_box(const depth_span &span, double thickness, double depth,
                        double least) {
  return chord_counts(thickness, least) &&
         chord_counts(span.high - span.low, least) &&
         chord_counts(span.high - depth, least) &&
         chord_counts(depth + thickness - span.low, least);
}

// The layers a track crosses, and those it touches at all (a chord of any
// length, or a landing on a thin one).
struct layer_hits {
  bool crossed, touched;
};

inline layer_hits hits_of(const muon_track &track, const track_slopes &s,
                          const layer &l, double depth) {
  if (l.thickness_cm == 0.0) {
    const bool lands = lands_on_paddle(track, area_of(l), depth) != 0;
    return {lands, lands};
  }
  const depth_span span = footprint_span(track, s, l);
  return {crosses_box(span, l.thickness_cm, depth, s.least_depth_chord),
          crosses_box(span, l.thickness_cm, depth, 0.0)};
}

// Which way the telescope's axis points, in its own frame: tilted by
// angle_deg from the vertical, leaning toward the azimuth measured from +x
// toward +y.
struct tilt {
  double angle_deg;
  double azimuth_deg;
};

// The flux of muons through a plane whose normal is tilted by tilt_deg from
// the vertical, through both faces, as a share of the flux J through a
// horizontal one, for the sky's law of zenith angles: under cos^N
//   (N+2)/(2 pi) * integral over the sky above the horizon of
//   cos^N(theta) |u . normal| d(Omega),
// and the same with the spectrum's D(theta)^-(n-1). Computed by quadrature
// to about 1e-12; exactly 1 for a tilt of 0.
double tilted_flux_share(double tilt_deg, const sky_model &sky);

// The muons through a layer's box per unit of J (cm^2): each face's area
// times the share of the flux through it, as the stack leans.
double box_flux_area(const layer &l, const tilt &lean, const sky_model &sky);

// Those of them that fire it: whose chord through the box is at least
// `min_path_cm` (the lines along u with a chord of at least l through the
// box are those through the box shrunk by l |u_i| along each axis i, its
// intersection with itself moved l along u, so each direction adds that
// smaller box's area projected along u), and under the spectrum that get
// through the overburden (the matter of the telescope itself is left out).
// By quadrature over the sky, to about 1e-9; box_flux_area where neither
// takes any.
double box_firing_area(const layer &l, const tilt &lean, const sky_model &sky,
                       double min_path_cm);

// The same under a cos^N sky.
inline double tilted_flux_share(double tilt_deg, double exponent) {
  return tilted_flux_share(tilt_deg, cos_sky(exponent));
}
inline double box_flux_area(const layer &l, const tilt &lean, double exponent) {
  return box_flux_area(l, lean, cos_sky(exponent));
}
inline double box_firing_area(const layer &l, const tilt &lean, double exponent,
                              double min_path_cm) {
  return box_firing_area(l, lean, cos_sky(exponent), min_path_cm);
}

// The spectrum's intensity of muons above `energy_gev` vertically at the
// site, its altitude's air taken in, m^-2 s^-1 sr^-1.
double site_intensity_above(const sky_model &sky, double energy_gev);

// The least total energy a muon of the sky needs to reach the telescope:
// what the overburden takes from a vertical one (the muon's mass without).
double sky_least_energy_gev(const sky_model &sky);

// The flux through a horizontal surface of the muons a pass draws from the
// sky, cm^-2 min^-1: those above the sky's least energy under the
// spectrum; 1 under cos^N, whose rates are per unit of J.
double drawn_flux(const sky_model &sky);
