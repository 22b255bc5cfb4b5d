// The weight that the muon spectrum gives a direction, as a function of its
// zenith cosine: how many of the muons a Monte Carlo pass draws come from
// it with the energy to get through the matter above a layer. The integral
// asks for it at some 1e5 directions a row, so it is made once a call as a
// table.
#pragma once

#include "simulation/muon_range.h"
#include "simulation/sky_model.h"

#include <cmath>
#include <cstddef>
#include <vector>

// A horizontal slab above a layer: a muon of zenith cosine c crosses
// grams_cm2 / c of it.
struct flat_slab {
  material what;
  double grams_cm2;
};

// w(c), per unit solid angle and per unit of the flux that a pass draws,
//   zenith_factor(c) I(E(c)) / (I(E_least) zenith_flux_share),
// with I(E) the site's vertical intensity above the total energy E, E(c)
// what a muon of zenith cosine c needs to get through the sky's overburden
// and then through `below` (from the top down), E_least the sky's least
// energy (sky_least_energy_gev). The range tables, interpolated linearly in
// log-log, make the slope of w jump wherever the energy a muon needs at the
// foot of a slab is one of their rows' (and where E(c) is an edge of the
// altitude's bands): its kinks. Between them (and 0 and 1) each piece has
// values at even steps of its own, read by cubic interpolation within the
// piece, to about 1e-12 of w(1). Behind matter w falls as a power of c
// toward the horizon: there the pieces halve, from the first kink down to
// 2^-40 of it, so that each is read to better than 1e-7 of its own values
// (measured: 5e-8 near c = 1e-3), still about 1e-12 of w(1).
struct zenith_weight {
  std::vector<double> kinks;  // ascending, in (0, 1)
  std::vector<double> breaks; // of the pieces: 0, ..., 1, the kinks among
  // Of each piece: where its values start in `values`, and how many
  // steps it has (values: steps + 1).
  std::vector<std::size_t> first;
  std::vector<double> steps;
  std::vector<double> values;
};

zenith_weight spectrum_weight(const sky_model &sky,
                              const std::vector<flat_slab> &below);

// The piece that holds c, 0 <= c <= 1 (at a kink, either side's).
std::size_t piece_of(const zenith_weight &w, double c);

// w(c) read from the table's piece `piece`.
inline double weight_in(const zenith_weight &w, std::size_t piece, double c) {
  const double from = w.breaks[piece], to = w.breaks[piece + 1];
  const double n = w.steps[piece];
  // The four values around c, all of the piece: at its ends the stencil
  // shifts inward rather than reach across a kink.
  const double place = (c - from) / (to - from) * n;
  const double start = place < 1.0       ? 0.0
                       : place > n - 2.0 ? n - 3.0
                                         : std::floor(place) - 1.0;
  const double *y = &w.values[w.first[piece] + static_cast<std::size_t>(start)];
  const double u = place - start;
  const double a = u, b = u - 1.0, d = u - 2.0, e = u - 3.0;
  return (-y[0] * b * d * e + 3.0 * y[1] * a * d * e - 3.0 * y[2] * a * b * e +
          y[3] * a * b * d) /
         6.0;
}

inline double weight_at(const zenith_weight &w, double c) {
  return weight_in(w, piece_of(w, c), c);
}
