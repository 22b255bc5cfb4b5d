// The command line of velmora-curve, and the telescope options that
// velmora-fit shares with it. It is read here without printing or ending
// anything, so that the commands, their tests and the page in the browser
// all check it with the same code.
#pragma once

#include "simulation/counter.h"
#include "simulation/sky_model.h"
#include "simulation/telescope.h"

#include <cstdint>
#include <string>
#include <vector>

// A requirement of --require and its text as the CSV writes it: all, 2,
// 1+3.
struct curve_requirement {
  requirement rule;
  std::string text;
};

// How the efficiency is computed: by the Monte Carlo, or by the integral
// over directions, exact for thin layers.
enum class curve_method { monte_carlo, integral };

struct curve_arguments {
  std::vector<zenith_law> laws;  // one pass each per tilt, in this order
  std::int32_t muons;            // per distance and tilt
  double flux;                   // J: muons per cm^2 per minute, horizontal
  double intensity;              // I in m^-2 s^-1 sr^-1 when given, else NaN
  telescope scope;               // the bottom's depth is each distance
  sky_model sky;                 // the flux law's: cos^N, or the spectrum
  double altitude_m;             // the site's, for the sky's air
  std::vector<double> tilts_deg; // of the axis from the vertical
  double tilt_azimuth_deg;
  std::uint32_t seed;
  std::vector<double> distances_cm;
  std::vector<curve_requirement> requirements; // one set of rows each
  double detection[layers_max];                // each layer's, 0 to 1
  double noise_hz[layers_max];                 // each layer's own singles
  double window_ns;                            // NaN when not given
  double precision;                            // NaN when not given
  unsigned threads;                            // 0: every core the process has
  curve_method method;
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

// The command line of velmora-fit: the telescope's options, as velmora-curve
// reads them, and one file of measurements.
struct fit_command {
  curve_request request;
  // The telescope and its counters; the sky's exponent when it is fixed;
  // the requirement and azimuth of rows that do not give theirs.
  curve_arguments arguments;
  bool exponent_fixed;   // --exponent given: N is not fitted
  bool method_given;     // else the integral where it is exact
  bool report_intensity; // --intensity
  bool csv;              // --csv
  // --background: fitted beside the sky, or held at a rate per minute (NaN
  // for none).
  bool background_free;
  double background_per_minute;
  std::string file; // "-" for standard input
  std::string problem, option;
};

fit_command read_fit_command(int argc, char **argv);
std::string fit_usage(const char *program);

// Why the lower paddle cannot lie `distance_cm` below the upper one of
// `scope`, or "".
std::string distance_refusal(const telescope &scope, double distance_cm);

// Checks the value of one option (its long name) or of "distances" (the
// operands, separated by blanks) as the command line would read it: the
// problem, or "" when the value is good.
std::string check_curve_option(const std::string &name,
                               const std::string &value);

// The telescope as one CSV field without commas, quotes or blanks: the
// layers from top to bottom joined by '|', the top as WxL or WxLxT, each
// further one as WxL[xT]@DEPTH:DX:DY, the bottom's DEPTH written d; then
// each absorber as MATERIAL:WxLxT@DEPTH:DX:DY, or MATERIAL:T@DEPTH across
// the whole telescope.
std::string telescope_text(const telescope &scope);
