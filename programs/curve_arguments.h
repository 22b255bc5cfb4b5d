// The command line of velmora-curve.
#pragma once

#include "simulation/coincidences.h"

#include <cstdint>
#include <vector>

struct curve_arguments {
  std::vector<zenith_law> laws; // one pass each, in this order
  std::int32_t muons;           // per distance
  double flux;                  // muons per cm^2 per minute, horizontal
  std::vector<double> distances_cm;
};

// Reads the options and DISTANCES operands. --help and --version print and
// exit 0; anything that cannot be used prints one line naming it and the
// usage on standard error, and exits 2.
curve_arguments parse_curve_arguments(int argc, char **argv);
