// A run of velmora-curve: its passes, one per law and tilt, done in slices
// so that progress can be shown between them, and its rows as CSV.
#pragma once

#include "programs/curve_arguments.h"

#include <cstddef>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

extern const char curve_header[];

struct curve_run {
  curve_arguments arguments;
  std::size_t pass;  // laws x tilts, all tilts of a law in turn
  std::int32_t done; // muons thrown in this pass
  std::vector<std::int32_t> coincidences; // of this pass, per distance
  std::mt19937_64 tilted_generator;
};

curve_run start_curve_run(const curve_arguments &arguments);

// Throws the next slice of muons, a few million landing tests; when that
// ends a pass, appends its rows to `csv`. False once every pass has ended.
bool run_slice(curve_run &run, std::string &csv);

// The share of the run done, from 0 to 1.
double share_done(const curve_run &run);
