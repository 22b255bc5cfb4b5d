// The cos^N law that best stands for the spectrum's zenith dependence above
// a threshold, for the project's cos^N sky and for comparison with measured
// exponents.
#pragma once

#include "simulation/muon_range.h"

// N of the least-squares line ln I = ln I_v + N ln(cos theta) through the
// intensity above `threshold_gev` (total energy) at 15 zenith cosines evenly
// spaced from 0.3 to 1 (0 to 72.5 degrees, where a counter sees nearly all
// its muons).
double effective_exponent(double threshold_gev);

// The same for muons that cross `thickness_cm` of a horizontal slab of
// `m` overhead: a muon at zenith angle theta crosses thickness / cos(theta)
// of it and must arrive with the kinetic energy to cross that.
double effective_exponent_under(material m, double thickness_cm);
