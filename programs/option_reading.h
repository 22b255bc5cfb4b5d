// What the options of a command line say before the run is put together,
// as each option's reader leaves it.
#pragma once

#include "programs/curve_arguments.h"

#include <string>
#include <vector>

// What the options say about the telescope before it is put together: the
// two paddles, the layers between them, and each layer's counter.
struct reading {
  curve_arguments arguments;
  layer top, bottom;
  std::vector<layer> between;
  std::vector<absorber> absorbers;
  double altitude_m;
  double offset[2];
  std::vector<double> detection, noise_hz;
  bool given_top, given_bottom, given_paddles;
  bool report_intensity, csv_wanted; // velmora-fit's flags
  bool background_free;              // velmora-fit's --background free
  double background_per_minute;      // or its rate, NaN for none
};

// Reads one option's value into `r`: "" or what is wrong with it, naming
// the bad text.
using option_reader = std::string (*)(const char *text, reading &r);
