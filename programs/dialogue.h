// The console dialogue that both programs share.
#pragma once

#include "simulation/coincidences.h"

// Writes the banner, asks for the distance and the muon count, simulates
// under `law` and writes the coincidence count and the efficiency. A value
// that cannot be read, or output that cannot be written, ends the process
// with exit status 1.
void run_dialogue(zenith_law law);
