// A run put together from what its command line said: the telescope from
// its boxes and layers, its counters from their lists, each step checked
// across the options.
#pragma once

#include "programs/option_table.h"

#include <string>

// Puts the run together in `r.arguments`: "" or the first problem, with
// `option` set to the long name of the option it concerns.
std::string assemble(reading &r, const options_given &given,
                     const char *&option, unsigned commands);
