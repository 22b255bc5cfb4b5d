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

// The events that fire exactly each set of layers, in Hz, into
// events_hz[G] (bit i for layer i + 1), from the rates in Hz of the muons
// that cross exactly each set (crossing_hz, read for sets of two layers or
// more) and each layer's singles: the muons that fire two or more layers,
// each layer seeing them with its probability; and each layer alone, what
// is left of its singles (the muons through its box that fire it, and its
// own noise) once the events that fire it with others are taken out.
void chance_events(const double *crossing_hz, const double *singles_hz,
                   const double *detection, int layers, double *events_hz);

// The rate of chance coincidences that meet `r`, in Hz: signals of
// independent events (a muon seen by some layers, or one layer's noise;
// events_hz[G] is the rate of events that fire exactly the set G, bit i for
// layer i + 1), none of which meets r alone, that meet it together within
// the window. Each signal holds its layer's gate open for the window; a
// chance coincidence is an event G that does not meet r alone arriving
// while the gates held open by the signals of the window before it fire a
// set W that does not meet r but W + G does:
//   A = sum over G of rho(G) sum over such W of P(W),
// with P(W) the probability that the events of a window fire exactly W,
// each kind K present with probability 1 - exp(-rho(K) tau), independently
// (Poisson streams). A gate already meeting r takes no coincidence, as the
// logic does not.
//
// To leading order in tau this is the sum over the smallest combinations of
// m events of different kinds whose union meets r (none to spare: the union
// of any m - 1 of them does not) of m tau^(m-1) rho_1 ... rho_m: each of
// the m closes it in turn, the other m - 1 each present with probability
// rho tau (Eckart and Shonka, Phys. Rev. 53 (1938) 752; Janossy, Phys. Rev.
// 64 (1943) 149). So a pair 1+2 and a pair 2+3 make a chance triple at
// 2 tau R12 R23, and pairs 1+2 and 3+4 make one chance triple of three of
// four layers at 2 tau R12 R34, not four. For two layers, 2 tau R1 R2.
double accidental_rate(const requirement &r, const double *events_hz,
                       int layers, double window_s);

// The counting time, in s, after which the true rate `rate_hz`, taken as
// the counts less the accidentals expected at `accidental_hz`, is known to
// the relative precision `precision`: the counts are Poisson,
// sigma = sqrt((R + A) t), so t = (R + A) / (precision^2 R^2).
double counting_time(double rate_hz, double accidental_hz, double precision);
