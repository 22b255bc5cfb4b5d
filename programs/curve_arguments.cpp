#include "programs/curve_arguments.h"
#include "programs/shortest_text.h"

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <getopt.h>
#include <iterator>

namespace {

// More rows than this are a typing error rather than a curve.
constexpr std::size_t rows_max = 100000;
// Measured exponents run from about 1.8 to 2.2, and steep spectra behind
// absorbers reach about 4. The limit keeps every pass's work per muon
// bounded: the tilted sampler keeps a direction with a probability that
// falls as the sky narrows toward the zenith (about 1 in 9 at N = 10 with
// the axis horizontal, and without end as N grows).
constexpr double exponent_max = 10.0;
constexpr std::int32_t default_muons = 1000000;

std::string shortest(double value) {
  char text[32];
  return {text, shortest_text(value, text)};
}

std::string quoted(const std::string &text) {
  return "'" + text + "'";
}

// A number is read as the programs read a distance: whatever "%lf"
// converts, as long as it converts the whole text.
bool read_number(const char *text, double &value) {
  int used = 0;
  return std::sscanf(text, "%lf%n", &value, &used) == 1 && text[used] == '\0';
}

// Two numbers joined by `separator`, each read as read_number reads one.
bool read_pair(const char *text, char separator, double &first,
               double &second) {
  int used = 0;
  return std::sscanf(text, "%lf%n", &first, &used) == 1 &&
         text[used] == separator && read_number(text + used + 1, second);
}

std::vector<std::string> split(const std::string &text, char separator) {
  std::vector<std::string> pieces;
  std::size_t start = 0;
  for (std::size_t end; (end = text.find(separator, start)) != text.npos;
       start = end + 1) {
    pieces.push_back(text.substr(start, end - start));
  }
  pieces.push_back(text.substr(start));
  return pieces;
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
    if (values.size() > first + 1 &&
        values.back() == values[values.size() - 2]) {
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

std::string add_distances(const char *text, curve_arguments &arguments) {
  std::vector<double> &distances = arguments.distances_cm;
  std::string problem = add_values(text, "distance", distances);
  if (problem.empty() && distances.size() > rows_max) {
    problem = quoted(text) + " brings the distances to more than " +
              std::to_string(rows_max);
  }
  return problem;
}

std::string read_law(const char *text, curve_arguments &arguments) {
  if (std::strcmp(text, "cos_squared") == 0) {
    arguments.laws = {zenith_law::cos_squared};
  } else if (std::strcmp(text, "isotropic") == 0) {
    arguments.laws = {zenith_law::isotropic};
  } else if (std::strcmp(text, "both") == 0) {
    arguments.laws = {zenith_law::cos_squared, zenith_law::isotropic};
  } else {
    return "law " + quoted(text) + " is not cos_squared, isotropic or both";
  }
  return "";
}

std::string read_muons(const char *text, curve_arguments &arguments) {
  errno = 0;
  char *end = nullptr;
  const long long muons = std::strtoll(text, &end, 10);
  if (!std::isdigit(static_cast<unsigned char>(text[0])) || *end != '\0' ||
      errno == ERANGE || muons < 1 || muons > INT32_MAX) {
    return "muon count " + quoted(text) + " is not a whole number from 1 to " +
           std::to_string(INT32_MAX);
  }
  arguments.muons = static_cast<std::int32_t>(muons);
  return "";
}

std::string read_flux(const char *text, curve_arguments &arguments) {
  double flux = 0.0;
  if (!read_number(text, flux) || !std::isfinite(flux) || flux < 0.0) {
    return "flux " + quoted(text) + " is not a number of 0 or more";
  }
  arguments.flux = flux;
  return "";
}

// WxL: two positive finite numbers joined by a lower-case x.
std::string read_footprint(const char *text, const char *which, double &width,
                           double &length) {
  double w = 0.0, l = 0.0;
  if (!read_pair(text, 'x', w, l) || !std::isfinite(w) || !std::isfinite(l) ||
      w <= 0.0 || l <= 0.0) {
    return std::string(which) + " paddle " + quoted(text) +
           " is not two positive numbers joined by x, as 10x31";
  }
  width = w;
  length = l;
  return "";
}

std::string read_top(const char *text, curve_arguments &arguments) {
  return read_footprint(text, "top", arguments.scope.top_width_cm,
                        arguments.scope.top_length_cm);
}

std::string read_bottom(const char *text, curve_arguments &arguments) {
  return read_footprint(text, "bottom", arguments.scope.bottom_width_cm,
                        arguments.scope.bottom_length_cm);
}

std::string read_offset(const char *text, curve_arguments &arguments) {
  double dx = 0.0, dy = 0.0;
  if (!read_pair(text, ',', dx, dy) || !std::isfinite(dx) ||
      !std::isfinite(dy)) {
    return "offset " + quoted(text) +
           " is not two numbers joined by a comma, as 0,0";
  }
  arguments.scope.offset_x_cm = dx;
  arguments.scope.offset_y_cm = dy;
  return "";
}

std::string read_exponent(const char *text, curve_arguments &arguments) {
  double exponent = 0.0;
  if (!read_number(text, exponent) || !(exponent >= 0.0) ||
      exponent > exponent_max) {
    return "exponent " + quoted(text) + " is not a number from 0 to " +
           shortest(exponent_max);
  }
  arguments.exponent = exponent;
  return "";
}

std::string read_tilts(const char *text, curve_arguments &arguments) {
  std::vector<double> tilts;
  std::string problem = add_values(text, "tilt", tilts);
  for (const double tilt : tilts) {
    if (problem.empty() && !(tilt >= 0.0 && tilt <= 90.0)) {
      problem = "tilt " + quoted(text) + " is not from 0 to 90 degrees";
    }
  }
  arguments.tilts_deg = tilts;
  return problem;
}

std::string read_tilt_azimuth(const char *text, curve_arguments &arguments) {
  double azimuth = 0.0;
  if (!read_number(text, azimuth) || !std::isfinite(azimuth)) {
    return "tilt azimuth " + quoted(text) + " is not a number of degrees";
  }
  arguments.tilt_azimuth_deg = azimuth;
  return "";
}

std::string read_seed(const char *text, curve_arguments &arguments) {
  errno = 0;
  char *end = nullptr;
  const unsigned long long seed = std::strtoull(text, &end, 10);
  if (!std::isdigit(static_cast<unsigned char>(text[0])) || *end != '\0' ||
      errno == ERANGE || seed > UINT32_MAX) {
    return "seed " + quoted(text) + " is not a whole number from 0 to " +
           std::to_string(UINT32_MAX);
  }
  arguments.seed = static_cast<std::uint32_t>(seed);
  return "";
}

// Each option once: getopt_long's table and the usage are made from this.
struct curve_option {
  const char *name;
  const char *value; // the value's name in the usage; nullptr for none
  const char *help;  // lines after the first are indented to match
  std::string (*read)(const char *text, curve_arguments &arguments);
};

const curve_option options[] = {
    {"law", "LAW",
     "cos_squared (flux through a surface, as velmora), isotropic\n"
     "(as velmorauni) or both; default both, but cos_squared alone\n"
     "with --tilt or --exponent",
     read_law},
    {"muons", "N",
     "muons per distance and tilt, 1 to 2147483647;\ndefault 1000000",
     read_muons},
    {"flux", "J",
     "muon flux through a horizontal surface in cm^-2 min^-1;\n"
     "default 1, about the sea-level figure",
     read_flux},
    {"top", "WxL",
     "the upper paddle's width (along x) and length (along y)\nin cm; "
     "default 10x31",
     read_top},
    {"bottom", "WxL", "the lower paddle's, likewise; default 10x31",
     read_bottom},
    {"offset", "DX,DY",
     "where the lower paddle's corner lies from the upper one's,\nin cm along "
     "x and y; default 0,0",
     read_offset},
    {"exponent", "N",
     "the sky's intensity goes as cos^N of the zenith angle,\n0 to 10; "
     "default 2",
     read_exponent},
    {"tilt", "ANGLES",
     "the axis's tilt from the vertical in degrees, 0 to 90,\n"
     "as for DISTANCES; one row per law, tilt and distance;\ndefault 0",
     read_tilts},
    {"tilt-azimuth", "DEG",
     "the way the axis leans: 0 toward +x (the width), 90\ntoward +y (the "
     "length); default 0",
     read_tilt_azimuth},
    {"seed", "S",
     "where the random numbers start, 0 to 4294967295; default 1,\n"
     "where the programs start (0 gives the same as 1 without\n--tilt)",
     read_seed},
    {"help", nullptr, "print this help and exit (also -h)", nullptr},
    {"version", nullptr, "print the version and exit", nullptr},
};
constexpr int option_count = static_cast<int>(std::size(options));

int option_index(const char *name) {
  for (int i = 0; i < option_count; ++i) {
    if (std::strcmp(options[i].name, name) == 0) {
      return i;
    }
  }
  return -1;
}

curve_arguments defaults() {
  return {{zenith_law::cos_squared, zenith_law::isotropic},
          default_muons,
          1.0,
          paddle_pair,
          2.0,
          {0.0},
          0.0,
          1,
          {}};
}

// What getopt_long refused in `word`: an unknown or an ambiguous option, or
// a value given to an option that takes none.
std::string unknown_option(const char *word) {
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
    if (std::strncmp(o.name, name.c_str(), name.size()) == 0) {
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

} // namespace

curve_command read_curve_command(int argc, char **argv) {
  curve_command command;
  command.request = curve_request::run;
  command.arguments = defaults();
  curve_arguments &arguments = command.arguments;
  // getopt_long's table: codes beyond every character, so that no option
  // is taken for a short one.
  option long_options[option_count + 1] = {};
  for (int i = 0; i < option_count; ++i) {
    long_options[i] = {options[i].name,
                       options[i].value ? required_argument : no_argument,
                       nullptr, 256 + i};
  }
  bool given[option_count] = {};
  // From the start, however often it is called; a leading ':' makes a
  // missing value its own case, and opterr off keeps every complaint ours.
  optind = 0;
  opterr = 0;
  for (int c;
       (c = getopt_long(argc, argv, ":h", long_options, nullptr)) != -1;) {
    if (c == 'h') {
      c = 256 + option_index("help");
    }
    if (c == ':') {
      return refused(
          command, "option " + quoted(argv[optind - 1]) + " needs a value", "");
    }
    if (c < 256) {
      return refused(command, unknown_option(argv[optind - 1]), "");
    }
    const curve_option &o = options[c - 256];
    given[c - 256] = true;
    if (o.read == nullptr) {
      command.request = std::strcmp(o.name, "help") == 0
                            ? curve_request::help
                            : curve_request::version;
      return command;
    }
    std::string problem = o.read(optarg, arguments);
    if (!problem.empty()) {
      return refused(command, problem, o.name);
    }
  }
  if (optind == argc) {
    return refused(command, "no distances given", "distances");
  }
  for (int i = optind; i < argc; ++i) {
    std::string problem = add_distances(argv[i], arguments);
    if (!problem.empty()) {
      return refused(command, problem, "distances");
    }
  }
  // The isotropic law describes directions, not a flux through a surface:
  // it has no tilt and no sky's exponent.
  if (given[option_index("tilt")] || given[option_index("exponent")]) {
    if (!given[option_index("law")]) {
      arguments.laws = {zenith_law::cos_squared};
    } else if (arguments.laws.back() == zenith_law::isotropic) {
      const char *law = arguments.laws.size() == 2 ? "both" : "isotropic";
      return refused(command,
                     std::string("--law ") + law +
                         " takes no --tilt or --exponent: the isotropic law "
                         "describes directions, not a flux through a surface",
                     "law");
    }
  }
  const std::size_t laws = arguments.laws.size();
  if (laws * arguments.tilts_deg.size() * arguments.distances_cm.size() >
      rows_max) {
    return refused(
        command,
        (laws > 1 ? std::to_string(laws) + " laws, " : "") +
            std::to_string(arguments.tilts_deg.size()) + " tilts and " +
            std::to_string(arguments.distances_cm.size()) +
            " distances give more than " + std::to_string(rows_max) + " rows",
        laws > 1 ? "law" : "tilt");
  }
  return command;
}

std::string curve_usage(const char *program) {
  std::string usage =
      std::string("usage: ") + program +
      " [OPTION]... DISTANCES...\n"
      "Writes as CSV the geometric efficiency of a two-paddle telescope at "
      "each\ndistance, with its binomial standard error and, for the flux "
      "law, the\ncoincidence rate to expect.\n";
  constexpr std::size_t column = 22;
  for (const curve_option &o : options) {
    std::string head = std::string("  --") + o.name;
    if (o.value != nullptr) {
      head += std::string(" ") + o.value;
    }
    head.resize(column, ' ');
    for (const std::string &line : split(o.help, '\n')) {
      usage += head + line + "\n";
      head.assign(column, ' ');
    }
  }
  return usage +
         "DISTANCES are in cm, each a number, a comma-separated list (2,5,10) "
         "or\nFROM:TO:STEP (0:100:2). Put -- before a distance that starts "
         "with a minus\nsign.\n";
}

std::string check_curve_option(const std::string &name,
                               const std::string &value) {
  curve_arguments scratch = defaults();
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
