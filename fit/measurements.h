// The counts a lab measured with its telescope, one row per setting, as
// velmora-fit reads them from CSV.
#pragma once

#include "simulation/counter.h"
#include "simulation/telescope.h"

#include <istream>
#include <string>
#include <vector>

// One setting of the telescope and what was counted there.
struct setting {
  double tilt_deg, tilt_azimuth_deg, distance_cm;
  requirement rule;
  std::string require_text; // all, 2, 1+3
  double coincidences;      // whole, 0 or more
  double live_time_s;       // above 0
  int line;                 // of the file, for messages
};

// What rows that leave out an optional column take.
struct setting_defaults {
  double tilt_azimuth_deg;
  requirement rule;
  std::string require_text;
};

// Reads CSV with a header naming the columns tilt_deg, distance_cm,
// coincidences and live_time_s, and maybe tilt_azimuth_deg and require, in
// any order; blank lines and lines that start with # are skipped. Every
// field is checked as data: a problem names `name`, the line and the
// field, and quotes the text with anything unprintable masked; a distance
// is also checked by `distance_problem` against the telescope. Returns ""
// when every row is good.
std::string
read_settings(std::istream &in, const std::string &name, const telescope &scope,
              const setting_defaults &defaults,
              std::string (*distance_problem)(const telescope &, double),
              std::vector<setting> &settings);

// "name:line: ", as a message about a line of the measurements begins.
std::string at_line(const std::string &name, int line);
