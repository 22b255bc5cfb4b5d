// The console dialogue that both programs share.
#pragma once

#include "simulation/coincidences.h"

#include <cstdint>

// The programs take no arguments but --help and --version, which print and
// end the process; anything else is refused with exit status 2. Returns only
// when there are no arguments.
void read_dialogue_arguments(int argc, char **argv, zenith_law law);

// Whether a muon count typed is one the programs run: a signed 32-bit
// count, 2147483647 the largest (a negative one runs no trials).
bool count_in_range(long long muons);

// Writes the banner, asks for the distance and the muon count, simulates
// under `law` and writes the coincidence count and the efficiency. A value
// that cannot be read, or output that cannot be written, ends the process
// with exit status 1.
void run_dialogue(zenith_law law);
