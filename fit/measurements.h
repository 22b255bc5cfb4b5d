// The counts a lab measured with its telescope, one row per setting, as
// velmora-fit reads them from CSV.
#pragma once

#include "simulation/counter.h"
#include "simulation/telescope.h"

#include <cstdint>
#include <istream>
#include <string>
#include <vector>

// The counters of the telescope: each layer's detection probability and
// noise, and the coincidence window (NaN: no accidentals).
struct counters {
  double detection[layers_max];
  double noise_hz[layers_max];
  double window_ns;
};

// The most a row can hold that the fit can honour: beyond a trillion
// counts -2 ln L would need more digits than a double has to tell a rise
// of 1, and beyond ten billion seconds (317 years) or below a millisecond
// a rate leaves the range the model and the naive fit are computed in.
constexpr double coincidences_max = 1e12;
constexpr double live_time_max_s = 1e10;
constexpr double live_time_min_s = 1e-3;

// One setting of the telescope and what was counted there.
struct setting {
  double tilt_deg, tilt_azimuth_deg, distance_cm;
  requirement rule;
  std::string require_text; // all, 2, 1+3
  double coincidences;      // whole, 0 or more
  double live_time_s;       // above 0
  int line;                 // of the file, for messages
  // The row's own counters, from its detection, noise_hz or window_ns
  // columns; otherwise those of the command line.
  bool own_counters = false;
  counters counter = {};
};

// What rows that leave out an optional column take.
struct setting_defaults {
  double tilt_azimuth_deg;
  requirement rule;
  std::string require_text;
  counters counter;
};

// Reads CSV with a header naming the columns tilt_deg, distance_cm,
// coincidences and live_time_s, and maybe tilt_azimuth_deg, require,
// detection, noise_hz and window_ns (the last three per layer joined by
// ';', as velmora-curve writes them), in any order; blank lines and lines
// that start with # are skipped, and so is a byte-order mark. Every field
// is checked as data: a problem names `name`, the line and the field, and
// quotes the text with anything unprintable masked; a distance is also
// checked by `distance_problem` against the telescope. Returns "" when
// every row is good.
std::string
read_settings(std::istream &in, const std::string &name, const telescope &scope,
              const setting_defaults &defaults,
              std::string (*distance_problem)(const telescope &, double),
              std::vector<setting> &settings);

// "name:line: ", as a message about a line of the measurements begins.
std::string at_line(const std::string &name, int line);

// Whether two requirements take the same sets of layers on a telescope of
// `layers` layers (on two layers, all, 1+2 and 2 are one).
bool same_requirement(const requirement &a, const requirement &b, int layers);
