// Which layers must fire, as --require and a require column write it.
#pragma once

#include "simulation/counter.h"
#include "simulation/telescope.h"

#include <string>

// Reads a requirement as --require takes one (all, a number K of layers,
// or layer numbers joined by +) for a telescope of `layers` layers; the
// problem, or "".
std::string read_requirement(const std::string &text, int layers,
                             requirement &rule);
