// The matter a muon crosses on its way to each counter, and whether it
// gets there: the slabs above the site (the overburden), the counters above
// it (plastic scintillator) and the absorbers, each slowing it down by its
// continuous-slowing-down range.
#pragma once

#include "simulation/muon_range.h"
#include "simulation/sky_model.h"
#include "simulation/telescope.h"

#include <cstdint>

// The counters' material.
constexpr material scintillator = material::polyvinyltoluene;

// The CSDA range in g/cm^2 of a muon of kinetic energy `kinetic_gev`: the
// tables' below their first row carried down to 0 by the power that their
// first two rows give (as kinetic_energy_to_cross_gev does), and above
// their last by the power of their last two.
double range_g_cm2(material m, double kinetic_gev);

// The kinetic energy left after `grams_cm2` of the material, from
// `kinetic_gev`; 0 or less when the muon stops in it.
double kinetic_after(material m, double kinetic_gev, double grams_cm2);

// The kinetic energy a muon needs above the overburden to come out under
// it with `below_gev` left, from a zenith angle of cosine `cos_zenith`.
double overburden_kinetic(const sky_model &sky, double cos_zenith,
                          double below_gev = 0.0);

// The layers (but the bottom) and absorbers by depth, as a track crosses
// them going down the axis; worked out once for a telescope.
struct slab_order {
  int count;
  int index[layers_max + absorbers_max]; // a layer's, or layers_max + k
  int below;                             // those from here on lie below
                                         // the bottom
  // At each of the range tables' energies, the least range of the
  // materials the telescope and the sky hold: a muon with more energy than
  // this table gives for all the grams on its way gets everywhere.
  double least_range[range_rows];
  // The most grams a track along directions within about 75 degrees of
  // both the axis and the zenith can meet, every slab crossed whole, and
  // the kinetic energy that takes it past all of them with a tenth to
  // spare in the most stopping material: most muons are past everything
  // at the cost of two divisions.
  double slab_grams, overburden_grams, grams_cap, spare_kinetic_gev;
};

// `distance_cm`, any of a run's, tells the absorbers below the bottom.
slab_order order_of(const telescope &scope, const sky_model &sky,
                    double distance_cm);

// The layers that `track` reaches with energy left, bit i for layer i + 1
// (the bottom's bit included, at whatever distance it lies): it loses its
// energy through the overburden, then through the slabs it crosses before
// each layer, in the order it crosses them. A track that comes up the axis
// meets the absorbers below the bottom first; the bottom's own plastic is
// then left out of the loss to the layers above it, whose depth depends on
// the distance (a few MeV, against the GeV of most muons).
std::uint32_t reached_layers(const telescope &scope, const sky_model &sky,
                             const slab_order &order, const muon_track &track,
                             const track_slopes &slopes);

// The total energy in GeV a muon needs to reach layer i (the bottom at
// `distance_cm`) coming down the telescope's axis tilted by `tilt_deg`:
// through the overburden at that zenith angle, and through every layer and
// absorber above it whole, as if each covered the axis.
double axis_threshold_gev(const telescope &scope, const sky_model &sky,
                          int layer, double tilt_deg, double distance_cm);

// The N of the cos^N law that stands best for the spectrum's muons that
// reach layer i of the telescope lying level (the bottom at `distance_cm`),
// from their zenith angles of cosine 0.3 to 1: each from cosine c needing
// the energy to cross the overburden and the slabs above the layer, each
// 1/c times its thickness.
double matching_exponent(const telescope &scope, const sky_model &sky,
                         int layer, double distance_cm);

// The flux through a horizontal surface, cm^-2 min^-1, of the soft
// component at sea level (soft_component.h) that reaches layer i coming
// down the axis as axis_threshold_gev takes it: electrons and positrons
// with the energy to cross that matter by ionisation (2 MeV per g/cm^2,
// 10 MeV at least), and photons that convert in the top layer, each
// attenuated by the radiation lengths of the matter crossed; under a cos^2
// zenith law.
double soft_flux_reaching(const telescope &scope, const sky_model &sky,
                          int layer, double tilt_deg, double distance_cm);
