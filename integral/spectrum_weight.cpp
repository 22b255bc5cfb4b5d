#include "integral/spectrum_weight.h"
#include "simulation/altitude.h"
#include "simulation/matter.h"
#include "simulation/muon_spectrum.h"
#include "simulation/sky.h"

#include <algorithm>
#include <cmath>

namespace {

// Steps of the table over [0, 1]: its cubic interpolation errs by about
// step^4 |w''''| / 128, some 1e-13 of w(1) for the spectrum's zenith law,
// whose scale in c is sqrt(2 R/d) / (R/d), 0.1. Behind matter, w changes
// on the scale of c itself near the horizon (the energy needed grows as
// 1/c, and w falls as a power of it), so that a piece also takes at least
// this many steps over the span from 0 to its upper end.
constexpr double steps_over_all = 2048.0;
constexpr double steps_to_the_horizon = 64.0;

// The matter above a layer, from the top down: the sky's overburden, then
// the slabs below it, each with its grams along the vertical.
std::vector<flat_slab> matter_of(const sky_model &sky,
                                 const std::vector<flat_slab> &below) {
  std::vector<flat_slab> all;
  all.reserve(static_cast<std::size_t>(sky.overburden_count) + below.size());
  for (int k = 0; k < sky.overburden_count; ++k) {
    all.push_back({sky.overburden[k].what, sky.overburden[k].grams_cm2});
  }
  all.insert(all.end(), below.begin(), below.end());
  // A slab of no grams takes no energy: a muon crosses it unchanged, as
  // kinetic_after leaves it.
  all.erase(
      std::remove_if(all.begin(), all.end(),
                     [](const flat_slab &s) { return s.grams_cm2 == 0.0; }),
      all.end());
  return all;
}

// The kinetic energy a muon of zenith cosine c needs at the top of slab
// `upto` to come out of the last one with some left: slab by slab from the
// bottom up, as overburden_kinetic goes through the overburden.
double kinetic_needed(const std::vector<flat_slab> &matter, std::size_t upto,
                      double c) {
  double kinetic = 0.0;
  sky_model one;
  one.overburden_count = 1;
  for (std::size_t k = matter.size(); k-- > upto;) {
    one.overburden[0] = {matter[k].what, matter[k].grams_cm2};
    kinetic = overburden_kinetic(one, c, kinetic);
  }
  return kinetic;
}

// The zenith cosine at which the kinetic energy needed at the top of slab
// `upto`, falling as c rises, is `kinetic_gev`; 0 where it is beyond 1e-12
// (where w is nothing) or needs no c below 1.
double cosine_needing(const std::vector<flat_slab> &matter, std::size_t upto,
                      double kinetic_gev) {
  double high = 1.0;
  if (!(kinetic_needed(matter, upto, high) < kinetic_gev)) {
    return 0.0;
  }
  double low = 0.5;
  while (!(kinetic_needed(matter, upto, low) > kinetic_gev)) {
    high = low;
    low /= 2;
    if (low < 1e-12) {
      return 0.0;
    }
  }
  for (int i = 0; i < 200 && high - low > 1e-16 * high; ++i) {
    const double middle = (low + high) / 2;
    (kinetic_needed(matter, upto, middle) > kinetic_gev ? low : high) = middle;
  }
  return (low + high) / 2;
}

// Whether two skies and stacks of slabs give the same weight.
bool same_matter(const sky_model &a, const std::vector<flat_slab> &a_below,
                 const sky_model &b, const std::vector<flat_slab> &b_below) {
  bool same = a.law == b.law && a.exponent == b.exponent &&
              a.air_g_cm2 == b.air_g_cm2 &&
              a.overburden_count == b.overburden_count &&
              a_below.size() == b_below.size();
  for (int k = 0; same && k < a.overburden_count; ++k) {
    same = a.overburden[k].what == b.overburden[k].what &&
           a.overburden[k].grams_cm2 == b.overburden[k].grams_cm2;
  }
  for (std::size_t k = 0; same && k < a_below.size(); ++k) {
    same = a_below[k].what == b_below[k].what &&
           a_below[k].grams_cm2 == b_below[k].grams_cm2;
  }
  return same;
}

zenith_weight made_weight(const sky_model &sky,
                          const std::vector<flat_slab> &below);

} // namespace

zenith_weight spectrum_weight(const sky_model &sky,
                              const std::vector<flat_slab> &below) {
  // A curve asks for the same few weights at each of its distances, and
  // behind matter finding the kinks costs a millisecond or more: the last
  // few made on this thread are kept.
  struct made {
    sky_model sky;
    std::vector<flat_slab> below;
    zenith_weight weight;
  };
  thread_local std::vector<made> kept;
  for (const made &m : kept) {
    if (same_matter(m.sky, m.below, sky, below)) {
      return m.weight;
    }
  }
  if (kept.size() == 8) {
    kept.erase(kept.begin());
  }
  kept.push_back({sky, below, made_weight(sky, below)});
  return kept.back().weight;
}

namespace {

zenith_weight made_weight(const sky_model &sky,
                          const std::vector<flat_slab> &below) {
  const std::vector<flat_slab> matter = matter_of(sky, below);
  const double n = sky.exponent;
  const double per_drawn =
      1.0 / (site_intensity_above(sky, sky_least_energy_gev(sky)) *
             zenith_flux_share(n));
  const double open = site_intensity_above(sky, muon_mass_gev) * per_drawn;
  const auto exact = [&](double c) {
    if (matter.empty()) {
      return zenith_factor(c, n) * open;
    }
    // At the horizon the slant through the matter has no end.
    const double energy =
        c > 0.0 ? muon_mass_gev + kinetic_needed(matter, 0, c) : HUGE_VAL;
    return energy < HUGE_VAL ? zenith_factor(c, n) *
                                   site_intensity_above(sky, energy) * per_drawn
                             : 0.0;
  };
  // The kinks: where the energy needed at the top of any slab is a row's
  // of the range tables (all tables share their rows' energies), and where
  // the total needed above the matter is an edge of the altitude's bands.
  zenith_weight w;
  std::vector<double> &kinks = w.kinks;
  const range_table rows = table_of(scintillator);
  for (std::size_t k = 0; k < matter.size(); ++k) {
    for (int j = 0; j < rows.size; ++j) {
      kinks.push_back(cosine_needing(matter, k, 1e-3 * rows.kinetic_mev[j]));
    }
  }
  if (sky.air_g_cm2 > 0.0 && !matter.empty()) {
    for (const double edge : {altitude_band_low_gev, altitude_band_high_gev}) {
      kinks.push_back(cosine_needing(matter, 0, edge - muon_mass_gev));
    }
  }
  // Kinks that fall together make one; those at 0 (none found) none.
  std::sort(kinks.begin(), kinks.end());
  kinks.erase(
      std::unique(kinks.begin(), kinks.end(),
                  [](double a, double b) { return b - a <= 1e-15 * b; }),
      kinks.end());
  kinks.erase(kinks.begin(),
              std::upper_bound(kinks.begin(), kinks.end(), 1e-300));
  w.breaks = {0.0};
  if (!matter.empty()) {
    const double first = kinks.empty() ? 1.0 : kinks.front();
    for (int k = 40; k > 0; --k) {
      w.breaks.push_back(std::ldexp(first, -k));
    }
  }
  w.breaks.insert(w.breaks.end(), kinks.begin(), kinks.end());
  w.breaks.push_back(1.0);
  if (w.breaks.size() > 2 && 1.0 - w.breaks[w.breaks.size() - 2] <= 1e-15) {
    w.breaks.erase(w.breaks.end() - 2);
  }
  // Each piece's values, at least four so that it has a cubic of its own.
  for (std::size_t p = 0; p + 1 < w.breaks.size(); ++p) {
    const double from = w.breaks[p], to = w.breaks[p + 1];
    const double steps =
        std::max({3.0, std::ceil((to - from) * steps_over_all),
                  std::ceil((to - from) / to * steps_to_the_horizon)});
    w.first.push_back(w.values.size());
    w.steps.push_back(steps);
    const auto count = static_cast<long>(steps);
    for (long i = 0; i <= count; ++i) {
      w.values.push_back(exact(
          i == count ? to
                     : from + (to - from) * static_cast<double>(i) / steps));
    }
  }
  w.first.push_back(w.values.size());
  return w;
}

} // namespace

std::size_t piece_of(const zenith_weight &w, double c) {
  if (w.breaks.size() == 2) {
    return 0;
  }
  const auto after =
      std::upper_bound(w.breaks.begin() + 1, w.breaks.end() - 1, c);
  return static_cast<std::size_t>(after - w.breaks.begin()) - 1;
}
