// The command line of velmora-curve. It is read here without printing or
// ending anything, so that the command, its tests and the page in the
// browser all check it with the same code.
#pragma once

#include "simulation/coincidences.h"

#include <cstdint>
#include <string>
#include <vector>

struct curve_arguments {
  std::vector<zenith_law> laws; // one pass each per tilt, in this order
  std::int32_t muons;           // per distance and tilt
  double flux;                  // muons per cm^2 per minute, horizontal
  telescope scope;
  double exponent;               // of the flux law's cos^N sky
  std::vector<double> tilts_deg; // of the axis from the vertical
  double tilt_azimuth_deg;
  std::uint32_t seed;
  std::vector<double> distances_cm;
};

enum class curve_request { run, help, version };

struct curve_command {
  curve_request request;
  curve_arguments arguments;
  // Empty when the command line can be run; otherwise what is wrong with it,
  // naming the bad text, and the long name of the option it concerns
  // ("distances" for the operands, empty when it concerns none).
  std::string problem;
  std::string option;
};

// Reads the options and DISTANCES operands of `argv`.
curve_command read_curve_command(int argc, char **argv);

// The help that --help prints, for `program`.
std::string curve_usage(const char *program);

// Checks the value of one option (its long name) or of "distances" (the
// operands, separated by blanks) as the command line would read it: the
// problem, or "" when the value is good.
std::string check_curve_option(const std::string &name,
                               const std::string &value);
