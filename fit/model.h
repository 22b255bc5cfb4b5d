// What a telescope counts at each setting, for any flux J and exponent N of
// the sky: the model velmora-fit fits.
//
// For each setting, the rates of lines that cross exactly each set of
// layers, per unit of J, are worked out at Chebyshev points of N over
// [0, 10] and interpolated between them: the rates are smooth in N. Near
// the horizon a tilted telescope's rate gathers the integral of |z|^N,
// which goes as 1/(N + 1): (N + 1) times the rate is what is interpolated,
// which converges far faster. They
// come from the integral over directions where the layers are thin, else
// from one Monte Carlo sample per setting, drawn at one exponent N0 and
// weighted to any other: a track of zenith cosine c that stands for a rate
// r at N0 stands for r (N+2)/(N0+2) c^(N-N0) at N, so the model is smooth
// in N and the fit converges.
#pragma once

#include "fit/measurements.h"
#include "simulation/sky_model.h"
#include "simulation/telescope.h"

#include <atomic>
#include <cstdint>
#include <vector>

enum class model_method { integral, monte_carlo };

constexpr int model_points = 24;            // Chebyshev points of N
constexpr double model_exponent_max = 10.0; // N runs over [0, this]

// The range the fit's exponent runs over: N of cos^N over [0, 10], the
// spectrum's index n over [2, 5].
struct exponent_range {
  double low, high;
};
exponent_range range_of(const sky_model &sky);

// One setting's rates at the Chebyshev points: per set of layers (bit i for
// layer i + 1) per unit of J in Hz, and each layer's singles from the muons
// through its box per unit of J in Hz.
struct setting_model {
  exponent_range range; // of its points
  std::vector<double> per_set[model_points];
  double box[model_points][layers_max];
  double muons; // drawn for it, 0 for the integral
  // The Monte Carlo's relative error on the rate of the tracks that meet
  // the requirement at each point: tracks weighted to another sky count
  // for less than their number, (sum w)^2 / sum w^2 of them (Kish's
  // effective count); 0 for the integral.
  double own_error[model_points];
};

// The Monte Carlo's relative error on a setting's rate at exponent N.
double model_error(const setting_model &m, double exponent);

// Works out one setting's rates under `sky` (its law, air and overburden;
// its exponent is each point's). The Monte Carlo draws at exponent `n0`
// with enough muons that its relative error on the setting's rate is at
// most a tenth of the data's, 1/sqrt(counts), up to `muons_max`; `stream`
// keeps each setting's random numbers apart. Once `stop` (when given)
// is set, the Monte Carlo draws no further block and the model is of no
// use: the run that asked is being abandoned.
setting_model model_setting(const telescope &scope, const counters &c,
                            const setting &s, const sky_model &sky,
                            model_method method, double n0, std::uint32_t seed,
                            std::uint32_t stream, double muons_max,
                            const std::atomic<bool> *stop = nullptr);

// The rate in Hz that a setting shows for a sky of flux J (cm^-2 min^-1)
// and exponent N (under the spectrum, its normalisation, 1 for its paper's,
// and index n): its true coincidences seen with the layers' probabilities,
// and the accidentals of its window.
double expected_hz(const setting_model &m, const telescope &scope,
                   const counters &c, const setting &s, double flux,
                   double exponent);
