// The sky's options: its law, the site's altitude, the matter above the
// telescope; and the materials that matter is made of, by name.
#pragma once

#include "programs/option_reading.h"

#include <string>

std::string read_sky(const char *text, reading &r);
std::string read_altitude(const char *text, reading &r);
std::string read_overburden(const char *text, reading &r);

// A material by the name the options give it, and the name of one.
bool material_named(const std::string &name, material &to);
const char *name_of(material m);

// The sky as one field: its law, the site's altitude, and the overburden's
// slabs in g/cm^2, as spectrum@1200m+concrete:69g; cos for a cos^N sky.
std::string sky_text(const sky_model &sky, double altitude_m);

// The materials' names, as messages list them.
extern const char material_names[];

// The highest site the altitude's scaling holds for, m.
constexpr double altitude_max_m = 4000.0;
