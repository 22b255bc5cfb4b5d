#include "programs/sky_readers.h"
#include "programs/number_readers.h"
#include "simulation/altitude.h"
#include "text/shortest_text.h"

#include <algorithm>
#include <cstring>
#include <iterator>

namespace {

struct named {
  const char *name;
  material what;
};

const named materials[] = {
    {"lead", material::lead},
    {"iron", material::iron},
    {"concrete", material::shielding_concrete},
    {"water", material::water},
    {"rock", material::standard_rock},
    {"plastic", material::polyvinyltoluene},
    {"aluminium", material::aluminium},
};

// More matter than this above a telescope leaves no muon a lab could
// count, and lies beyond the range tables: about 400 m of rock.
constexpr double overburden_max_g_cm2 = 1e5;

} // namespace

const char material_names[] =
    "lead, iron, concrete, water, rock, plastic or aluminium";

bool material_named(const std::string &name, material &to) {
  for (const named &m : materials) {
    if (name == m.name) {
      to = m.what;
      return true;
    }
  }
  return false;
}

const char *name_of(material m) {
  // Every material has a name in the table.
  return std::find_if(std::begin(materials), std::end(materials),
                      [m](const named &n) { return n.what == m; })
      ->name;
}

std::string read_sky(const char *text, reading &r) {
  if (std::strcmp(text, "cos") == 0) {
    r.arguments.sky.law = sky_law::cos_power;
  } else if (std::strcmp(text, "spectrum") == 0) {
    r.arguments.sky.law = sky_law::spectrum;
  } else {
    return "sky " + quoted(text) + " is not cos or spectrum";
  }
  return "";
}

std::string read_altitude(const char *text, reading &r) {
  double metres = 0.0;
  std::string problem =
      read_bounded(text, "altitude", 0.0, altitude_max_m, metres);
  if (problem.empty()) {
    r.altitude_m = metres;
    r.arguments.sky.air_g_cm2 =
        metres == 0.0 ? 0.0 : atmospheric_depth_g_cm2(metres);
  }
  return problem;
}

std::string read_overburden(const char *text, reading &r) {
  sky_model &sky = r.arguments.sky;
  const std::string whole = text;
  const std::size_t colon = whole.find(':');
  material what{};
  // Without a colon, the whole text: no material's name has one.
  const std::string name = whole.substr(0, colon);
  if (colon == whole.npos || !material_named(name, what)) {
    return "overburden " + quoted(whole) +
           " is not MATERIAL:THICKNESS, the material one of " + material_names;
  }
  std::string thickness = whole.substr(colon + 1);
  const bool grams = !thickness.empty() && thickness.back() == 'g';
  if (grams) {
    thickness.pop_back();
  }
  double value = 0.0;
  if (!read_number(thickness.c_str(), value) || !(value > 0.0)) {
    return "overburden " + quoted(whole) +
           " has no THICKNESS above 0, in cm or, ending in g, in g/cm^2";
  }
  const double g_cm2 = grams ? value : value * density_g_cm3(what);
  if (!(g_cm2 <= overburden_max_g_cm2)) {
    return "overburden " + quoted(whole) +
           " is more than 1e5 g/cm^2, about 400 m of rock, beyond which no "
           "muon is left to count";
  }
  if (sky.overburden_count == overburden_max) {
    return "overburden " + quoted(whole) + " is one too many: at most " +
           std::to_string(overburden_max) + " slabs lie above the telescope";
  }
  sky.overburden[sky.overburden_count++] = {what, g_cm2};
  return "";
}

std::string sky_text(const sky_model &sky, double altitude_m) {
  if (sky.law == sky_law::cos_power) {
    return "cos";
  }
  std::string text = "spectrum";
  if (altitude_m > 0.0) {
    text += "@" + shortest(altitude_m) + "m";
  }
  for (int k = 0; k < sky.overburden_count; ++k) {
    const overburden_slab &s = sky.overburden[k];
    text +=
        std::string("+") + name_of(s.what) + ":" + shortest(s.grams_cm2) + "g";
  }
  return text;
}
