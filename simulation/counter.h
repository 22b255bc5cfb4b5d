// What a counter of several layers shows for muons that cross a given set of
// layers: the coincidences its logic asks for, each layer seeing a muon with
// its own probability, and the chance coincidences of independent signals.
#pragma once

#include <cstdint>
#include <vector>

// Which layers must give a signal for a coincidence: every layer in
// `needed` (bit i for layer i + 1, top first), and at least `at_least`
// layers in all.
struct requirement {
  std::uint32_t needed;
  int at_least;
};

bool requirement_met(const requirement &r, std::uint32_t fired);

// The layers of a telescope of `count` layers that the muons must be drawn
// through so that every track that can meet one of `rules` is counted
// once: the top, and each layer between the paddles through which a track
// can meet one while missing every layer above it; all of them when chance
// coincidences are counted, which tracks that miss the top may take part
// in.
std::vector<int> source_layers(int count, const std::vector<requirement> &rules,
                               bool accidentals);

// How many layers a set holds.
inline int bits_in(std::uint32_t set) {
  int n = 0;
  for (; set != 0; set &= set - 1) {
    ++n;
  }
  return n;
}

// The probability that of the layers `crossed`, each giving a signal with
// its probability detection[i] and independently of the others, exactly
// those in `fired` do (0 unless fired is within crossed).
double fires_exactly(std::uint32_t fired, std::uint32_t crossed,
                     const double *detection, int layers);

// The probability that a muon crossing the layers `crossed` gives a
// coincidence that meets `r`.
double detected_share(const requirement &r, std::uint32_t crossed,
                      const double *detection, int layers);

// The rate of chance coincidences that meet `r`, in Hz: signals of m >= 2
// independent events (muons, or a layer's own noise) that each fire a set
// of layers, none of which meets r alone, but which meet it together within
// the window. events_hz[G] is the rate of events that fire exactly the set
// G (bit i for layer i + 1). To first order in each overlap, m independent
// Poisson streams of rates rho_1..rho_m all fall within a window tau at the
// rate m tau^(m-1) rho_1 ... rho_m: the stream whose signal comes last
// closes the coincidence, and each other stream has had a signal in the
// tau before it with probability rho_j tau (Eckart and Shonka, Phys. Rev.
// 53 (1938) 752; Janossy, Phys. Rev. 64 (1943) 149). For two layers this is
// 2 tau R1 R2. A set S of layers that meets r with no layer to spare is met
// by independent events in as many ways as S has partitions into m >= 2
// blocks, each block B being covered by events that fire B within S:
//   A = sum over such S, sum over partitions {B_1..B_m} of S, m >= 2, of
//       m tau^(m-1) prod_b rho(B_b),
//   rho(B) = sum of events_hz[G] over G with G & S = B that do not meet r.
double accidental_rate(const requirement &r, const double *events_hz,
                       int layers, double window_s);

// The counting time, in s, after which the true rate `rate_hz`, taken as
// the counts less the accidentals expected at `accidental_hz`, is known to
// the relative precision `precision`: the counts are Poisson,
// sigma = sqrt((R + A) t), so t = (R + A) / (precision^2 R^2).
double counting_time(double rate_hz, double accidental_hz, double precision);
