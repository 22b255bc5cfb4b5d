#include "programs/curve_arguments.h"
#include "fit/fields.h"
#include "fit/measurements.h"
#include "integral/exact_rates.h"
#include "programs/shortest_text.h"
#include "simulation/sky.h"

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <getopt.h>
#include <iterator>
#include <tuple>

namespace {

// More rows than this are a typing error rather than a curve.
constexpr std::size_t rows_max = 100000;
// The passes' tallies of one run, in 32-bit counts: 16 MiB for each thread.
constexpr std::size_t tally_entries_max = std::size_t{1} << 22;
constexpr std::int32_t default_muons = 1000000;
// Measured exponents run from about 1.8 to 2.2, and steep spectra behind
// absorbers reach about 4. The limit keeps every pass's work per muon
// bounded: the tilted sampler keeps a direction with a probability that
// falls as the sky narrows toward the zenith (about 1 in 9 at N = 10 with
// the axis horizontal, and without end as N grows).
constexpr double exponent_max = 10.0;
constexpr unsigned threads_max = 256;
// A window of this many nanoseconds is no coincidence window any more.
constexpr double window_max_ns = 1e9;
// A million times the sea level's flux, and its intensity, are beyond every
// sky; no counter counts faster than a gigahertz. Within them the rates of
// the largest telescope stay far from overflow.
constexpr double flux_max = 1e6;      // cm^-2 min^-1
constexpr double intensity_max = 1e8; // m^-2 s^-1 sr^-1
constexpr double noise_max_hz = 1e9;
// Sizes, depths and offsets of a telescope, in cm: from 10 nm to 10 km
// covers every detector, and keeps the sampler's areas (products of two
// sizes) and their squares far from overflow and underflow.
constexpr double size_min_cm = 1e-6;
constexpr double place_max_cm = 1e6;
const char *const size_range = "sizes run from 1e-6 to 1e6 cm";
const char *const place_range = "depths and offsets run up to 1e6 cm";

std::string quoted(const std::string &text) {
  return "'" + text + "'";
}

// A number is read as the programs read a distance: whatever "%lf"
// converts, as long as it converts the whole text.
bool read_number(const char *text, double &value) {
  int used = 0;
  return std::sscanf(text, "%lf%n", &value, &used) == 1 && text[used] == '\0';
}

// "<what> '<text>' <is not ...>", with a word on the comma when the text
// holds one where one number was expected: 1,85 for 1.85, or 1,000 for a
// whole number.
std::string refusal(const std::string &what, const std::string &text,
                    const std::string &expected, bool whole = false) {
  const char *comma = whole ? " (write it without separators)"
                            : " (write the decimal point as '.')";
  return what + " " + quoted(text) + " " + expected +
         (text.find(',') != text.npos ? comma : "");
}

// FROM:TO:STEP, both ends included when STEP divides the span; `what` names
// one value in messages ("distance", "tilt").
std::string add_range(const std::string &text, const char *what,
                      std::vector<double> &values) {
  const std::vector<std::string> parts = split(text, ':');
  if (parts.size() != 3) {
    return "range " + quoted(text) + " is not FROM:TO:STEP";
  }
  double ends[3];
  for (int i = 0; i < 3; ++i) {
    if (!read_number(parts[i].c_str(), ends[i])) {
      return std::string(what) + " " + quoted(parts[i]) + " is not a number";
    }
    if (!std::isfinite(ends[i])) {
      return std::string(what) + " " + quoted(parts[i]) +
             " is not a finite number";
    }
  }
  const double from = ends[0], to = ends[1], step = ends[2];
  const double steps = (to - from) / step;
  if (step == 0.0) {
    return "range " + quoted(text) + " has a STEP of 0";
  }
  if (steps < 0.0) {
    return "range " + quoted(text) + " has a STEP that leads away from TO";
  }
  // The slack keeps TO itself when STEP divides the span but rounding puts
  // the quotient a hair below a whole number (0:0.3:0.1).
  if (steps + 1e-9 >= static_cast<double>(rows_max)) {
    return "range " + quoted(text) + " gives more than " +
           std::to_string(rows_max) + " " + what + "s";
  }
  const auto last = static_cast<std::size_t>(steps + 1e-9);
  const std::size_t first = values.size();
  for (std::size_t k = 0; k <= last; ++k) {
    // from + k*step rather than repeated addition, so that no rounding creeps
    // in; written to 15 digits and read back, so that 0:1:0.1 gives 0.3
    // rather than 0.30000000000000004, the value a user would type.
    char rounded[32];
    std::snprintf(rounded, sizeof rounded, "%.15g",
                  from + static_cast<double>(k) * step);
    values.push_back(std::strtod(rounded, nullptr));
    // A step below the numbers' resolution would give rows that repeat one
    // value while claiming to be a range.
    if (k > 0 && values.back() == values[values.size() - 2]) {
      values.resize(first);
      return "range " + quoted(text) + " has a STEP too small to tell its " +
             what + "s apart";
    }
  }
  return "";
}

// A number, a comma-separated list or a range, added to `values`.
std::string add_values(const std::string &text, const char *what,
                       std::vector<double> &values) {
  if (text.find(':') != text.npos) {
    return add_range(text, what, values);
  }
  for (const std::string &entry : split(text, ',')) {
    if (entry.empty()) {
      return std::string(what) + " list " + quoted(text) +
             " has an empty entry";
    }
    double value = 0.0;
    if (!read_number(entry.c_str(), value)) {
      return std::string(what) + " " + quoted(entry) + " is not a number";
    }
    if (!std::isfinite(value)) {
      return std::string(what) + " " + quoted(entry) +
             " is not a finite number";
    }
    values.push_back(value);
  }
  return "";
}

// What the options say about the telescope before it is put together: the
// two paddles, the layers between them, and each layer's counter.
struct reading {
  curve_arguments arguments;
  layer top, bottom;
  std::vector<layer> between;
  double offset[2];
  std::vector<double> detection, noise_hz;
  bool given_top, given_bottom, given_paddles;
  bool report_intensity, csv_wanted; // velmora-fit's flags
};

std::string add_distances(const char *text, reading &r) {
  std::vector<double> &distances = r.arguments.distances_cm;
  std::string problem = add_values(text, "distance", distances);
  if (problem.empty() && distances.size() > rows_max) {
    problem = quoted(text) + " brings the distances to more than " +
              std::to_string(rows_max);
  }
  return problem;
}

std::string read_law(const char *text, reading &r) {
  std::vector<zenith_law> &laws = r.arguments.laws;
  if (std::strcmp(text, "cos_squared") == 0) {
    laws = {zenith_law::cos_squared};
  } else if (std::strcmp(text, "isotropic") == 0) {
    laws = {zenith_law::isotropic};
  } else if (std::strcmp(text, "both") == 0) {
    laws = {zenith_law::cos_squared, zenith_law::isotropic};
  } else {
    return "law " + quoted(text) + " is not cos_squared, isotropic or both";
  }
  return "";
}

// A whole number from `low` to `high`, both included, for an option that
// counts.
std::string read_count(const char *text, const char *what,
                       unsigned long long low, unsigned long long high,
                       unsigned long long &to) {
  // Its untested branches only clean up after an allocation that throws
  // (of the text's copy, or of the message).
  // GCOVR_EXCL_BR_START
  const bool good = read_whole(text, high, to);
  // GCOVR_EXCL_BR_STOP
  if (!good || to < low) {
    // GCOVR_EXCL_BR_START
    return refusal(what, text,
                   "is not a whole number from " + std::to_string(low) +
                       " to " + std::to_string(high),
                   true);
  } // GCOVR_EXCL_BR_STOP
  return "";
}

std::string read_muons(const char *text, reading &r) {
  unsigned long long muons = 0;
  std::string problem = read_count(text, "muon count", 1, INT32_MAX, muons);
  if (problem.empty()) {
    r.arguments.muons = static_cast<std::int32_t>(muons);
  }
  return problem;
}

// A number from `low` to `high`, both included, for an option that takes
// one.
std::string read_bounded(const char *text, const char *what, double low,
                         double high, double &to) {
  double value = 0.0;
  if (!read_number(text, value) || !(value >= low && value <= high)) {
    // Its untested branches only clean up after an allocation that throws.
    // GCOVR_EXCL_BR_START
    return refusal(what, text,
                   "is not a number from " + shortest(low) + " to " +
                       shortest(high));
  } // GCOVR_EXCL_BR_STOP
  to = value;
  return "";
}

std::string read_flux(const char *text, reading &r) {
  return read_bounded(text, "flux", 0.0, flux_max, r.arguments.flux);
}

std::string read_intensity(const char *text, reading &r) {
  return read_bounded(text, "intensity", 0.0, intensity_max,
                      r.arguments.intensity);
}

// WxL or WxLxT: positive finite numbers joined by a lower-case x, and a
// thickness of 0 or more. Each number is read as "%lf" reads it, so that
// 0x1p3 is 8.
std::string read_box(const char *text, const char *what, layer &to) {
  double size[3] = {0.0, 0.0, 0.0};
  int parts = 0;
  bool good = true;
  for (const char *at = text; good;) {
    int used = 0;
    good = parts < 3 && std::sscanf(at, "%lf%n", &size[parts], &used) == 1 &&
           std::isfinite(size[parts]);
    ++parts;
    at += used;
    if (!good || *at == '\0') {
      break;
    }
    good = *at == 'x' && !std::isspace(static_cast<unsigned char>(at[1]));
    ++at;
  }
  if (!good || parts < 2 || std::isspace(static_cast<unsigned char>(text[0]))) {
    return refusal(what, text,
                   "is not a width and a length, and maybe a thickness, in "
                   "cm joined by x, as 10x31 or 5x5x1");
  }
  for (int i = 0; i < parts; ++i) {
    // Only a thickness may be 0: a thin layer.
    if (size[i] > place_max_cm ||
        (size[i] < size_min_cm && !(i == 2 && size[i] == 0.0))) {
      return std::string(what) + " " + quoted(text) + ": " + size_range;
    }
  }
  to = {size[0], size[1], size[2], 0.0, 0.0, 0.0};
  return "";
}

std::string read_top(const char *text, reading &r) {
  r.given_top = true;
  return read_box(text, "top paddle", r.top);
}

std::string read_bottom(const char *text, reading &r) {
  r.given_bottom = true;
  return read_box(text, "bottom paddle", r.bottom);
}

std::string read_paddles(const char *text, reading &r) {
  r.given_paddles = true;
  std::string problem = read_box(text, "paddle", r.top);
  r.bottom = r.top;
  return problem;
}

// DX,DY: two finite numbers joined by a comma.
bool read_pair(const std::string &text, double (&pair)[2]) {
  const std::vector<std::string> parts = split(text, ',');
  return parts.size() == 2 && read_number(parts[0].c_str(), pair[0]) &&
         read_number(parts[1].c_str(), pair[1]) && std::isfinite(pair[0]) &&
         std::isfinite(pair[1]);
}

std::string read_offset(const char *text, reading &r) {
  if (!read_pair(text, r.offset)) {
    return "offset " + quoted(text) +
           " is not two numbers joined by a comma, as 0,0";
  }
  if (std::fabs(r.offset[0]) > place_max_cm ||
      std::fabs(r.offset[1]) > place_max_cm) {
    return "offset " + quoted(text) + ": " + place_range;
  }
  return "";
}

// WxL[xT]@DEPTH[,DX,DY]: a layer between the paddles, its upper face DEPTH
// below the upper paddle's lower face, its corner at DX,DY.
std::string read_layer(const char *text, reading &r) {
  const std::string whole = text;
  const std::size_t at = whole.find('@');
  const std::string expected =
      "is not a layer WxL[xT]@DEPTH[,DX,DY] in cm, as 10x31x1@5 or "
      "5x5@3,2.5,0";
  if (at == whole.npos) {
    return "layer " + quoted(whole) + " " + expected;
  }
  layer l{};
  const std::string box = read_box(whole.substr(0, at).c_str(), "layer", l);
  if (!box.empty()) {
    // Its untested branches only clean up after an allocation that throws.
    // GCOVR_EXCL_BR_START
    return box.find(size_range) != box.npos
               ? "layer " + quoted(whole) + ": " + size_range
               : "layer " + quoted(whole) + " " + expected;
  } // GCOVR_EXCL_BR_STOP
  const std::vector<std::string> place = split(whole.substr(at + 1), ',');
  double depth = 0.0, corner[2] = {0.0, 0.0};
  // Its untested branches only clean up after an allocation that throws.
  // GCOVR_EXCL_BR_START
  const bool good =
      (place.size() == 1 || place.size() == 3) &&
      read_number(place[0].c_str(), depth) && std::isfinite(depth) &&
      depth >= 0.0 &&
      (place.size() == 1 || read_pair(place[1] + "," + place[2], corner));
  // GCOVR_EXCL_BR_STOP
  if (!good) {
    return "layer " + quoted(whole) + " " + expected +
           ", with a DEPTH of 0 or more";
  }
  if (depth > place_max_cm || std::fabs(corner[0]) > place_max_cm ||
      std::fabs(corner[1]) > place_max_cm) {
    return "layer " + quoted(whole) + ": " + place_range;
  }
  if (r.between.size() == static_cast<std::size_t>(layers_max - 2)) {
    return "layer " + quoted(whole) + " is one too many: at most " +
           std::to_string(layers_max - 2) + " layers lie between the paddles";
  }
  l.depth_cm = depth;
  l.x_cm = corner[0];
  l.y_cm = corner[1];
  r.between.push_back(l);
  return "";
}

std::string read_min_path(const char *text, reading &r) {
  return read_bounded(text, "least path", 0.0, place_max_cm,
                      r.arguments.scope.min_path_cm);
}

// Comma-separated numbers from `low` to `high`, one per layer.
std::string read_per_layer(const char *text, const char *what, double low,
                           double high, std::vector<double> &to) {
  to.clear();
  const std::vector<std::string> parts = split(text, ',');
  for (const std::string &part : parts) {
    double value = 0.0;
    if (!read_number(part.c_str(), value) || !(value >= low && value <= high)) {
      // Its untested branches only clean up after an allocation that throws.
      // GCOVR_EXCL_BR_START
      return std::string(what) + " " + quoted(part) + " in " + quoted(text) +
             " is not a number from " + shortest(low) + " to " + shortest(high);
    } // GCOVR_EXCL_BR_STOP
    to.push_back(value);
  }
  if (parts.size() > static_cast<std::size_t>(layers_max)) {
    return std::string(what) + " " + quoted(text) + " has more than " +
           std::to_string(layers_max) + " values, one per layer";
  }
  return "";
}

std::string read_detection(const char *text, reading &r) {
  return read_per_layer(text, "detection probability", 0.0, 1.0, r.detection);
}

std::string read_noise(const char *text, reading &r) {
  return read_per_layer(text, "noise rate", 0.0, noise_max_hz, r.noise_hz);
}

std::string read_window(const char *text, reading &r) {
  return read_bounded(text, "window", 0.0, window_max_ns,
                      r.arguments.window_ns);
}

std::string read_precision(const char *text, reading &r) {
  double precision = 0.0;
  if (!read_number(text, precision) || !(precision > 0.0 && precision < 1.0)) {
    return refusal("precision", text,
                   "is not a relative precision above 0 and below 1, as 0.05");
  }
  r.arguments.precision = precision;
  return "";
}

// "all", a number K of layers, or layer numbers joined by +; checked
// against the number of layers once the telescope is known.
std::string add_requirement(const std::string &text, reading &r) {
  curve_requirement q{{0, 0}, text};
  std::string problem = read_requirement(text, layers_max, q.rule);
  if (problem.empty()) {
    r.arguments.requirements.push_back(q);
  }
  return problem;
}

std::string read_require(const char *text, reading &r) {
  r.arguments.requirements.clear();
  for (const std::string &part : split(text, ',')) {
    std::string problem = add_requirement(part, r);
    if (!problem.empty()) {
      return problem;
    }
  }
  return "";
}

std::string read_exponent(const char *text, reading &r) {
  return read_bounded(text, "exponent", 0.0, exponent_max,
                      r.arguments.exponent);
}

std::string read_tilts(const char *text, reading &r) {
  std::vector<double> tilts;
  std::string problem = add_values(text, "tilt", tilts);
  for (const double tilt : tilts) {
    if (problem.empty() && !(tilt >= 0.0 && tilt <= 90.0)) {
      problem = "tilt " + quoted(text) + " is not from 0 to 90 degrees";
    }
  }
  r.arguments.tilts_deg = tilts;
  return problem;
}

std::string read_tilt_azimuth(const char *text, reading &r) {
  double azimuth = 0.0;
  if (!read_number(text, azimuth) || !std::isfinite(azimuth)) {
    return refusal("tilt azimuth", text, "is not a number of degrees");
  }
  r.arguments.tilt_azimuth_deg = azimuth;
  return "";
}

std::string read_seed(const char *text, reading &r) {
  unsigned long long seed = 0;
  std::string problem = read_count(text, "seed", 0, UINT32_MAX, seed);
  if (problem.empty()) {
    r.arguments.seed = static_cast<std::uint32_t>(seed);
  }
  return problem;
}

std::string read_threads(const char *text, reading &r) {
  unsigned long long threads = 0;
  std::string problem =
      read_count(text, "thread count", 1, threads_max, threads);
  if (problem.empty()) {
    r.arguments.threads = static_cast<unsigned>(threads);
  }
  return problem;
}

std::string read_method(const char *text, reading &r) {
  if (std::strcmp(text, "mc") == 0) {
    r.arguments.method = curve_method::monte_carlo;
  } else if (std::strcmp(text, "integral") == 0) {
    r.arguments.method = curve_method::integral;
  } else {
    return "method " + quoted(text) + " is not mc or integral";
  }
  return "";
}

// Each option once: getopt_long's table and the usage are made from this.
std::string read_report_intensity(const char * /*text*/, reading &r) {
  r.report_intensity = true;
  return "";
}

std::string read_csv_wanted(const char * /*text*/, reading &r) {
  r.csv_wanted = true;
  return "";
}

// Which commands take an option.
constexpr unsigned curve_only = 1, fit_only = 2, both_commands = 3;

struct curve_option {
  const char *name;
  const char *value; // the value's name in the usage; nullptr for none
  const char *help;  // lines after the first are indented to match
  std::string (*read)(const char *text, reading &r);
  unsigned commands;
};

const curve_option options[] = {
    {"law", "LAW",
     "cos_squared (flux through a surface, as velmora), isotropic "
     "(directions uniform per track, as velmorauni) or both; "
     "default both, but cos_squared alone with --tilt, --exponent "
     "or a thick upper paddle",
     read_law, curve_only},
    {"muons", "N",
     "muons per distance and tilt, 1 to 2147483647; default 1000000",
     read_muons, curve_only},
    {"flux", "J",
     "muon flux through a horizontal surface in cm^-2 min^-1 "
     "(not an intensity per steradian); default 1, about "
     "the sea-level figure",
     read_flux, curve_only},
    {"intensity", "I",
     "instead of --flux: the vertical intensity in m^-2 s^-1 sr^-1, "
     "about 70 above 1 GeV/c at sea level; J = 2 pi I / (N + 2)",
     read_intensity, curve_only},
    {"paddles", "WxL[xT]",
     "both paddles' width (along x), length (along y) and "
     "thickness in cm; default 10x31, thin",
     read_paddles, both_commands},
    {"top", "WxL[xT]", "the upper paddle's, with --bottom", read_top,
     both_commands},
    {"bottom", "WxL[xT]", "the lower paddle's, with --top", read_bottom,
     both_commands},
    {"offset", "DX,DY",
     "where the lower paddle's corner lies from the upper one's, in cm along "
     "x and y; default 0,0",
     read_offset, both_commands},
    {"layer", "WxL[xT]@DEPTH[,DX,DY]",
     "a counter between the paddles, its upper face DEPTH cm "
     "below the upper paddle's lower face, its corner at DX,DY; "
     "repeat for up to 6, from the top down",
     read_layer, both_commands},
    {"min-path", "CM",
     "a thick layer whose chord along the track is shorter "
     "does not count it; default 0",
     read_min_path, both_commands},
    {"require", "LIST",
     "which layers must fire, comma-separated, one set of rows "
     "each: all, a number K (at least K layers) or layers "
     "joined by + (1+3); layers are numbered from 1 at the top; "
     "default all",
     read_require, both_commands},
    {"detection", "P1,P2,...",
     "each layer's probability of a signal when crossed; default 1 each",
     read_detection, both_commands},
    {"noise", "R1,R2,...",
     "each layer's own singles in Hz (dark counts, radioactivity); default "
     "0 each",
     read_noise, both_commands},
    {"window", "NS", "the coincidence window in ns, for the accidental rate",
     read_window, both_commands},
    {"precision", "P", "the relative precision, as 0.05, for the counting time",
     read_precision, curve_only},
    {"exponent", "N",
     "the sky's intensity goes as cos^N of the zenith angle, 0 to 10; "
     "default 2",
     read_exponent, both_commands},
    {"tilt", "ANGLES",
     "the axis's tilt from the vertical in degrees, 0 to 90, "
     "as for DISTANCES; one row per law, tilt and distance; default 0",
     read_tilts, curve_only},
    {"tilt-azimuth", "DEG",
     "which way the axis leans: 0 toward +x, 90 toward +y; default 0",
     read_tilt_azimuth, both_commands},
    {"seed", "S",
     "where the random numbers start, 0 to 4294967295; default 1, "
     "where the programs start (0 gives the same as 1 through a thin "
     "upper paddle lying level)",
     read_seed, both_commands},
    {"threads", "N",
     "threads to run on, 1 to 256; default every core the "
     "process may use; the counts do not depend on it",
     read_threads, both_commands},
    {"method", "METHOD",
     "mc (Monte Carlo, the default) or integral (exact, for thin layers)",
     read_method, both_commands},
    {"intensity", nullptr,
     "report the vertical intensity I in m^-2 s^-1 sr^-1 rather "
     "than the flux J",
     read_report_intensity, fit_only},
    {"csv", nullptr,
     "write the settings, the model and the fit as CSV rather than a report",
     read_csv_wanted, fit_only},
    {"help", nullptr, "print this help and exit (also -h)", nullptr,
     both_commands},
    {"version", nullptr, "print the version and exit", nullptr, both_commands},
};
constexpr int option_count = static_cast<int>(std::size(options));

// The option of that name that `commands` take.
int option_index(const char *name, unsigned commands = curve_only) {
  for (int i = 0; i < option_count; ++i) {
    if ((options[i].commands & commands) != 0 &&
        std::strcmp(options[i].name, name) == 0) {
      return i;
    }
  }
  return -1;
}

reading defaults() {
  reading r{};
  curve_arguments &a = r.arguments;
  a.laws = {zenith_law::cos_squared, zenith_law::isotropic};
  a.muons = default_muons;
  a.flux = 1.0;
  a.intensity = NAN;
  a.scope = paddle_pair;
  a.exponent = 2.0;
  a.tilts_deg = {0.0};
  a.tilt_azimuth_deg = 0.0;
  a.seed = 1;
  // Its untested branches only clean up after an allocation that throws.
  a.requirements = {{{~std::uint32_t{0}, 0}, "all"}}; // GCOVR_EXCL_BR_LINE
  a.window_ns = NAN;
  a.precision = NAN;
  a.threads = 0;
  a.method = curve_method::monte_carlo;
  r.top = paddle_pair.layers[0];
  r.bottom = paddle_pair.layers[1];
  r.top.depth_cm = 0.0;
  return r;
}

// What getopt_long refused in `word`: an unknown or an ambiguous option, or
// a value given to an option that takes none.
std::string unknown_option(const char *word, unsigned commands) {
  if (optopt >= 256) { // the code of a long option, as --help=x
    return "option " + quoted(std::string("--") + options[optopt - 256].name) +
           " takes no value";
  }
  if (optopt != 0) { // a short option: getopt may be inside a cluster
    return "unknown option " + quoted({'-', static_cast<char>(optopt)}) +
           " (put -- before a negative distance)";
  }
  const std::string given(word);
  const std::string name = given.substr(2, given.find('=') - 2);
  std::string matches;
  for (const curve_option &o : options) {
    if ((o.commands & commands) != 0 &&
        std::strncmp(o.name, name.c_str(), name.size()) == 0) {
      matches += (matches.empty() ? "" : ", ") + std::string("--") + o.name;
    }
  }
  if (matches.find(',') != matches.npos) {
    return "option " + quoted(given) + " is ambiguous: " + matches;
  }
  return "unknown option " + quoted(given);
}

curve_command refused(curve_command &command, std::string problem,
                      const char *option) {
  command.problem = std::move(problem);
  command.option = option;
  return command;
}

// "1 tilt", "91 tilts".
std::string counted(std::size_t n, const char *what) {
  return std::to_string(n) + " " + what + (n == 1 ? "" : "s");
}

std::string layer_name(int i) {
  return "layer " + std::to_string(i + 1);
}

// Puts the telescope together from what the options said, and checks what
// no single option can: `option` is set to the one the problem concerns.
std::string assemble(reading &r, const bool (&given)[option_count],
                     const char *&option, unsigned commands) {
  curve_arguments &a = r.arguments;
  option = "paddles";
  if (r.given_paddles && (r.given_top || r.given_bottom)) {
    return "--paddles gives both paddles: it takes no --top or --bottom";
  }
  if (r.given_top != r.given_bottom) {
    option = r.given_top ? "top" : "bottom";
    return std::string("--") + option + " needs --" +
           (r.given_top ? "bottom" : "top") +
           " too; --paddles gives both paddles one size";
  }
  telescope &scope = a.scope;
  const double min_path = scope.min_path_cm;
  scope = paddle_telescope(r.top, r.bottom, r.offset[0], r.offset[1]);
  scope.min_path_cm = min_path;
  scope.count = static_cast<int>(r.between.size()) + 2;
  scope.layers[bottom_of(scope)] = scope.layers[1];
  for (std::size_t i = 0; i < r.between.size(); ++i) {
    scope.layers[i + 1] = r.between[i];
  }
  // From the top down, each layer's upper face at or below the lower face of
  // the one above.
  option = "layer";
  double reaches = 0.0;
  for (int i = 1; i < bottom_of(scope); ++i) {
    const layer &l = scope.layers[i];
    if (l.depth_cm < reaches) {
      return layer_name(i) + " at depth " + shortest(l.depth_cm) +
             " would lie in " + layer_name(i - 1) + ", which reaches depth " +
             shortest(reaches) + ": give the layers from the top down";
    }
    reaches = l.depth_cm + l.thickness_cm;
  }
  bool thin = false;
  for (int i = 0; i < scope.count; ++i) {
    thin = thin || scope.layers[i].thickness_cm == 0.0;
  }
  option = "min-path";
  if (min_path > 0.0 && thin) {
    return "--min-path needs every layer to have a thickness (WxLxT)";
  }
  // Every distance puts the lower paddle below every layer.
  option = "distances";
  for (const double d : a.distances_cm) {
    std::string problem = distance_refusal(scope, d);
    if (!problem.empty()) {
      return problem;
    }
  }
  for (const auto &[values, what, name] :
       {std::tuple{&r.detection, "detection probabilities", "detection"},
        std::tuple{&r.noise_hz, "noise rates", "noise"}}) {
    option = name;
    if (!values->empty() &&
        values->size() != static_cast<std::size_t>(scope.count)) {
      return "--" + std::string(name) + " gives " +
             std::to_string(values->size()) + " " + what + " for " +
             std::to_string(scope.count) + " layers";
    }
  }
  for (int i = 0; i < scope.count; ++i) {
    const auto k = static_cast<std::size_t>(i);
    a.detection[i] = r.detection.empty() ? 1.0 : r.detection[k];
    a.noise_hz[i] = r.noise_hz.empty() ? 0.0 : r.noise_hz[k];
  }
  option = "require";
  const std::uint32_t all = (1U << scope.count) - 1;
  for (curve_requirement &q : a.requirements) {
    if (q.text == "all") {
      q.rule.needed = all;
    }
    if (q.rule.at_least > scope.count || (q.rule.needed & ~all) != 0) {
      return "requirement " + quoted(q.text) + " asks for more than the " +
             std::to_string(scope.count) + " layers of the telescope";
    }
  }
  // The flux law alone unless the isotropic one was asked for; it has no
  // tilt, no sky's exponent and no flux through a thick box. A fit is of
  // the flux law's sky.
  const bool flux_law_only = given[option_index("tilt")] ||
                             given[option_index("exponent", commands)] ||
                             scope.layers[0].thickness_cm > 0.0 ||
                             commands == fit_only;
  option = "law";
  if (flux_law_only && !given[option_index("law")]) {
    a.laws = {zenith_law::cos_squared};
  } else if (flux_law_only && a.laws.back() == zenith_law::isotropic) {
    const char *law = a.laws.size() == 2 ? "both" : "isotropic";
    return std::string("--law ") + law +
           " takes no --tilt, --exponent or thick upper paddle: the "
           "isotropic law draws directions for each track through a thin "
           "paddle, not a flux through a surface";
  }
  option = "method";
  if (a.method == curve_method::integral) {
    for (const double d : a.distances_cm) {
      std::string problem = integral_refusal(scope, d);
      if (!problem.empty()) {
        // Its untested branches only clean up after an allocation that throws.
        // GCOVR_EXCL_BR_START
        // Thick layers are refused at any distance; the rest at this one.
        return problem + (problem.find("thin layers") != problem.npos
                              ? ""
                              : " (distance " + shortest(d) + ")");
      } // GCOVR_EXCL_BR_STOP
    }
  }
  option = "intensity";
  if (given[option_index("intensity")] && given[option_index("flux")]) {
    return "--intensity and --flux both give the sky's flux: give one";
  }
  if (given[option_index("intensity")]) {
    a.flux = flux_of_intensity(a.intensity, a.exponent);
  }
  // Rows, and the tallies they are counted in: each tilt's passes through
  // the layers above the bottom keep a count per pattern of those layers
  // and per distance.
  const std::size_t laws = a.laws.size(), tilts = a.tilts_deg.size();
  const std::size_t rows =
      laws * tilts * a.requirements.size() * a.distances_cm.size();
  option = laws > 1 ? "law" : "tilt";
  if (rows > rows_max) {
    std::vector<std::string> parts;
    if (laws > 1) {
      parts.push_back(counted(laws, "law"));
    }
    if (tilts > 1 || laws == 1) {
      parts.push_back(counted(tilts, "tilt"));
    }
    if (a.requirements.size() > 1) {
      parts.push_back(counted(a.requirements.size(), "requirement"));
    }
    parts.push_back(counted(a.distances_cm.size(), "distance"));
    std::string list = parts[0];
    for (std::size_t i = 1; i < parts.size(); ++i) {
      list += (i + 1 == parts.size() ? " and " : ", ") + parts[i];
    }
    return list + " give more than " + std::to_string(rows_max) + " rows";
  }
  const std::size_t patterns = std::size_t{1} << bottom_of(scope);
  const std::size_t entries = laws * tilts *
                              static_cast<std::size_t>(bottom_of(scope)) *
                              patterns * (a.distances_cm.size() + 2);
  option = "distances";
  if (entries > tally_entries_max) {
    return "a telescope of " + std::to_string(scope.count) + " layers takes " +
           "at most " +
           std::to_string(
               tally_entries_max /
                   (static_cast<std::size_t>(bottom_of(scope)) * patterns) -
               2) +
           " distances in all its laws and tilts";
  }
  option = "";
  return "";
}

} // namespace

std::string distance_refusal(const telescope &scope, double distance_cm) {
  // Every layer between the paddles reaches no deeper than the last one.
  double reaches = 0.0;
  bool thick = false;
  for (int i = 0; i < scope.count; ++i) {
    const layer &l = scope.layers[i];
    thick = thick || l.thickness_cm > 0.0;
    if (i > 0 && i < bottom_of(scope)) {
      reaches = l.depth_cm + l.thickness_cm;
    }
  }
  if (scope.count > 2 && distance_cm < reaches) {
    return "distance " + shortest(distance_cm) +
           " would put the lower paddle above " +
           layer_name(bottom_of(scope) - 1) + ", which reaches depth " +
           shortest(reaches);
  }
  if (thick && distance_cm < 0.0) {
    return "distance " + shortest(distance_cm) +
           " would put the lower paddle into the upper one";
  }
  return "";
}

std::string telescope_text(const telescope &scope) {
  std::string text;
  for (int i = 0; i < scope.count; ++i) {
    const layer &l = scope.layers[i];
    text += (i == 0 ? "" : "|") + shortest(l.width_cm) + "x" +
            shortest(l.length_cm);
    if (l.thickness_cm > 0.0) {
      text += "x" + shortest(l.thickness_cm);
    }
    if (i > 0) {
      // Its untested branches only clean up after an allocation that throws.
      // GCOVR_EXCL_BR_START
      text += "@" + (i == bottom_of(scope) ? "d" : shortest(l.depth_cm)) + ":" +
              shortest(l.x_cm) + ":" + shortest(l.y_cm);
    } // GCOVR_EXCL_BR_STOP
  }
  return text;
}

namespace {

// Reads the options of `argv` that `commands` take into `r`, noting each
// given; the index of the first operand, or -1 with `problem` and `option`
// set, or with `request` set to help or version.
int read_options(unsigned commands, int argc, char **argv, reading &r,
                 bool (&given)[option_count], curve_request &request,
                 std::string &problem, std::string &concerned) {
  // getopt_long's table: codes beyond every character, so that no option
  // is taken for a short one.
  struct option long_options[option_count + 1] = {};
  int listed = 0;
  for (int i = 0; i < option_count; ++i) {
    if ((options[i].commands & commands) != 0) {
      long_options[listed++] = {
          options[i].name, options[i].value ? required_argument : no_argument,
          nullptr, 256 + i};
    }
  }
  // getopt_long takes any unique beginning of a name: --tilt would be
  // velmora-fit's --tilt-azimuth. An option that the other command has by
  // that very name is refused instead of taken for another.
  for (int i = 1; i < argc && std::strcmp(argv[i], "--") != 0; ++i) {
    const std::string word = argv[i];
    if (word.rfind("--", 0) != 0) {
      continue;
    }
    const std::string name = word.substr(2, word.find('=') - 2);
    if (option_index(name.c_str(), commands) < 0 &&
        option_index(name.c_str(), both_commands) >= 0) {
      problem = "option " + quoted("--" + name) + " is " +
                (commands == fit_only ? "velmora-curve's" : "velmora-fit's") +
                ", not this command's";
      return -1;
    }
  }
  // From the start, however often it is called; a leading ':' makes a
  // missing value its own case, and opterr off keeps every complaint ours.
  optind = 0;
  opterr = 0;
  for (int c;
       (c = getopt_long(argc, argv, ":h", long_options, nullptr)) != -1;) {
    if (c == 'h') {
      c = 256 + option_index("help", commands);
    }
    if (c == ':') {
      problem = "option " + quoted(argv[optind - 1]) + " needs a value";
      return -1;
    }
    if (c < 256) {
      problem = unknown_option(argv[optind - 1], commands);
      return -1;
    }
    const curve_option &o = options[c - 256];
    given[c - 256] = true;
    if (o.read == nullptr) {
      request = std::strcmp(o.name, "help") == 0 ? curve_request::help
                                                 : curve_request::version;
      return -1;
    }
    problem = o.read(optarg, r);
    if (!problem.empty()) {
      concerned = o.name;
      return -1;
    }
  }
  return optind;
}

} // namespace

curve_command read_curve_command(int argc, char **argv) {
  curve_command command;
  command.request = curve_request::run;
  reading r = defaults();
  bool given[option_count] = {};
  const int first =
      read_options(curve_only, argc, argv, r, given, command.request,
                   command.problem, command.option);
  if (first < 0) {
    command.arguments = r.arguments;
    return command;
  }
  if (first == argc) {
    return refused(command, "no distances given", "distances");
  }
  for (int i = first; i < argc; ++i) {
    std::string problem = add_distances(argv[i], r);
    if (!problem.empty()) {
      return refused(command, problem, "distances");
    }
  }
  const char *option = "";
  std::string problem = assemble(r, given, option, curve_only);
  command.arguments = r.arguments;
  if (!problem.empty()) {
    return refused(command, problem, option);
  }
  return command;
}

fit_command read_fit_command(int argc, char **argv) {
  fit_command command;
  command.request = curve_request::run;
  reading r = defaults();
  bool given[option_count] = {};
  const int first =
      read_options(fit_only, argc, argv, r, given, command.request,
                   command.problem, command.option);
  command.exponent_fixed = given[option_index("exponent", fit_only)];
  command.method_given = given[option_index("method", fit_only)];
  command.report_intensity = r.report_intensity;
  command.csv = r.csv_wanted;
  if (first < 0) {
    command.arguments = r.arguments;
    return command;
  }
  if (argc - first > 1) {
    command.problem = "one file of measurements at a time, not " +
                      std::to_string(argc - first);
    return command;
  }
  command.file = first < argc ? argv[first] : "-";
  const char *option = "";
  command.problem = assemble(r, given, option, fit_only);
  command.option = option;
  if (command.problem.empty() && r.arguments.requirements.size() > 1) {
    command.problem = "--require gives velmora-fit one requirement; a "
                      "require column gives each row its own";
    command.option = "require";
  }
  command.arguments = r.arguments;
  return command;
}

namespace {

// The options of `commands`, a column of names and values and one of help;
// `help_of` may give an option other words for one command.
template <class Help>
std::string options_usage(unsigned commands, Help help_of) {
  std::string usage;
  constexpr std::size_t column = 24;
  for (const curve_option &o : options) {
    if ((o.commands & commands) == 0) {
      continue;
    }
    std::string head = std::string("  --") + o.name;
    if (o.value != nullptr) {
      head += std::string(" ") + o.value;
    }
    if (head.size() >= column) {
      usage += head + "\n";
      head.clear();
    }
    head.resize(column, ' ');
    // The help's words, filled into lines that end by column 79.
    std::string line;
    for (const std::string &word : split(help_of(o), ' ')) {
      if (!line.empty() && column + line.size() + 1 + word.size() > 79) {
        usage += head + line + "\n";
        head.assign(column, ' ');
        line.clear();
      }
      line += (line.empty() ? "" : " ") + word;
    }
    usage += head + line + "\n";
  }
  return usage;
}

} // namespace

std::string curve_usage(const char *program) {
  return std::string("usage: ") + program +
         " [OPTION]... DISTANCES...\n"
         "Writes as CSV the geometric efficiency of a telescope of two or "
         "more\nscintillator layers at each distance between its paddles, "
         "with its\nbinomial standard error and, for the flux law, the "
         "coincidence rate\nto expect and what the counter will show.\n" +
         options_usage(curve_only,
                       [](const curve_option &o) { return o.help; }) +
         "DISTANCES are the gaps in cm between the upper paddle's lower face "
         "and the\nlower paddle's upper face, each a number, a comma-separated "
         "list (2,5,10)\nor FROM:TO:STEP (0:100:2). Put -- before a distance "
         "that starts with a\nminus sign.\n";
}

std::string fit_usage(const char *program) {
  const auto help_of = [](const curve_option &o) -> const char * {
    const std::string name = o.name;
    if (name == "exponent") {
      return "fix the sky's exponent N, 0 to 10, rather than fit it";
    }
    if (name == "require") {
      return "which layers must fire, for rows without a require "
             "column: all, a number K, or layers joined by +; default all";
    }
    if (name == "tilt-azimuth") {
      return "which way the axis leans, for rows without a "
             "tilt_azimuth_deg column: 0 toward +x, 90 toward +y";
    }
    if (name == "method") {
      return "how the model is computed: integral (exact, for thin "
             "layers; the default where it can) or mc (Monte Carlo)";
    }
    if (name == "seed") {
      return "where the Monte Carlo model's random numbers start; "
             "default 1";
    }
    return o.help;
  };
  return std::string("usage: ") + program +
         " [OPTION]... [FILE]\n"
         "Fits the sky's flux J (or intensity I) and exponent N to "
         "coincidences\n"
         "counted with a telescope, by Poisson maximum likelihood, with the\n"
         "telescope's acceptance in the model. FILE (standard input if none, "
         "or\n"
         "-) is CSV with a header and the columns tilt_deg, distance_cm,\n"
         "coincidences and live_time_s, and maybe tilt_azimuth_deg and "
         "require.\n" +
         options_usage(fit_only, help_of);
}

std::string check_curve_option(const std::string &name,
                               const std::string &value) {
  reading scratch = defaults();
  if (name == "distances") {
    std::string problem = "no distances given";
    std::size_t start = value.find_first_not_of(" \t");
    while (start != value.npos) {
      const std::size_t end = value.find_first_of(" \t", start);
      problem =
          add_distances(value.substr(start, end - start).c_str(), scratch);
      if (!problem.empty()) {
        break;
      }
      start = value.find_first_not_of(" \t", end);
    }
    return problem;
  }
  const int i = option_index(name.c_str());
  if (i < 0 || options[i].read == nullptr) {
    return "unknown option " + quoted("--" + name);
  }
  return options[i].read(value.c_str(), scratch);
}
