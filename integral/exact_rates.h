// The rates of a telescope of thin layers as a deterministic integral over
// directions, instead of the Monte Carlo.
//
// The straight lines whose lateral move per unit of depth is k = (kx, ky)
// cross depth 0 at points p; such a line crosses a thin layer at depth h
// when p + k h lies in the layer's rectangle. The points p of the lines
// that cross exactly a set of layers make up cells of a grid whose lines
// move linearly with k, so their area A(k) is a sum of products of two
// lengths, each linear in kx or in ky between the values of k at which two
// of the grid's lines meet. The rate of such lines is
//   J (N+2)/(2 pi) integral of |cos theta_sky|^N A(k) / (1 + |k|^2)^2 d^2k,
// the same as J (N+2)/(2 pi) integral of A(s) |u.V|^N d^2/(d^2+s^2)^2 d^2s
// over the shift s = d k at the bottom, with cos theta_sky = (V_z - k.V_xy)
// / sqrt(1 + |k|^2) and V the vertical in the telescope's frame. Each
// rectangle between those values of k needs only the integrals of the
// weight times 1, kx, ky and kx ky: Gauss-Legendre rules, halved until two
// orders agree, and the tanh-sinh rule across the horizon, where |cos|^N
// has no derivatives of every order.
//
// Under the muon spectrum the weight of a direction is a table in its
// zenith cosine (spectrum_weight.h) in place of (N+2)/(2 pi) |cos|^N. Behind
// matter it has kinks along curves of k that no rule over a rectangle
// follows, and rings of zenith angle take each rectangle's integrals
// (zenith_rings.h). Absorbers across an upright telescope part its layers
// into levels, by how many lie above each: the muons with the energy to
// reach level j but not level j + 1 fire the layers of levels up to j of
// the cells they cross.
#pragma once

#include "simulation/telescope.h"

#include <string>
#include <vector>

// Why the integral cannot give the rates of `scope` at `distance_cm` under
// `sky` and tilted by `tilt_deg`, or "" when it can: it needs thin layers,
// distances up to 1e6 cm, layers at different depths (or all at one), and
// under the spectrum a threshold that is the same for every line of a
// direction and depends on its zenith angle alone (absorbers across the
// whole telescope, which stands upright).
std::string integral_refusal(const telescope &scope, double distance_cm,
                             const sky_model &sky, double tilt_deg);

// For each set of two or more layers (bit i for layer i + 1), the rate of
// lines that cross exactly those layers: under the flux law in muons per
// minute for a flux J = 1 through a horizontal surface, cos^exponent sky;
// under the spectrum, of the muons that fire those layers (a set, with
// absorbers, that the muon's energy cuts short) per unit of the flux a
// Monte Carlo pass draws, drawn_flux(sky); under the isotropic law as a
// share of the tracks through the upper paddle, directions uniform per
// track. To about 1e-11 of the largest.
std::vector<double> exact_crossings(const telescope &scope, double distance_cm,
                                    const tilt &lean, const sky_model &sky,
                                    zenith_law law);

// The same under a cos^N sky.
inline std::vector<double> exact_crossings(const telescope &scope,
                                           double distance_cm, const tilt &lean,
                                           double exponent, zenith_law law) {
  return exact_crossings(scope, distance_cm, lean, cos_sky(exponent), law);
}
