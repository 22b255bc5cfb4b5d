#include "programs/curve_arguments.h"
#include "programs/command_line.h"

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <getopt.h>
#include <string>

namespace {

// More distances than this are a typing error rather than a curve.
constexpr std::size_t distances_max = 100000;
constexpr std::int32_t default_muons = 1000000;

const char usage_text[] =
    "usage: %s [--law cos_squared|isotropic|both] [--muons N] [--flux J] "
    "DISTANCES...\n"
    "Writes the geometric efficiency of the two-paddle telescope at each "
    "distance as\nCSV, with its binomial standard error and, for the cos^2 "
    "law, the coincidence\nrate to expect.\n"
    "  --law LAW   cos_squared (as velmora), isotropic (as velmorauni) or "
    "both;\n"
    "              default both\n"
    "  --muons N   muons per distance, 1 to 2147483647; default 1000000\n"
    "  --flux J    muon flux through a horizontal surface in cm^-2 min^-1;\n"
    "              default 1, about the sea-level figure\n"
    "  -h, --help  print this help and exit\n"
    "  --version   print the version and exit\n"
    "DISTANCES are in cm, each a number, a comma-separated list (2,5,10) or\n"
    "FROM:TO:STEP (0:100:2). Put -- before a distance that starts with a "
    "minus sign.\n";

[[noreturn]] void refuse(const std::string &problem) {
  refuse_command_line(problem.c_str());
}

// `text` in quotes, for a message.
std::string quoted(const std::string &text) {
  return "'" + text + "'";
}

// A distance is read as the programs read theirs: whatever "%lf" converts,
// as long as it converts the whole text.
bool read_number(const char *text, double &value) {
  int used = 0;
  return std::sscanf(text, "%lf%n", &value, &used) == 1 && text[used] == '\0';
}

double read_distance(const std::string &text) {
  double value = 0.0;
  if (!read_number(text.c_str(), value)) {
    refuse("distance " + quoted(text) + " is not a number");
  }
  return value;
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

// FROM:TO:STEP, both ends included when STEP divides the span.
void add_range(const char *text, std::vector<double> &distances) {
  const std::vector<std::string> parts = split(text, ':');
  if (parts.size() != 3) {
    refuse("range " + quoted(text) + " is not FROM:TO:STEP");
  }
  const double from = read_distance(parts[0]);
  const double to = read_distance(parts[1]);
  const double step = read_distance(parts[2]);
  const double steps = (to - from) / step;
  for (const double end : {from, to, step}) {
    if (!std::isfinite(end)) {
      refuse("range " + quoted(text) + " does not have finite ends and step");
    }
  }
  if (step == 0.0) {
    refuse("range " + quoted(text) + " has a STEP of 0");
  }
  if (steps < 0.0) {
    refuse("range " + quoted(text) + " has a STEP that leads away from TO");
  }
  // The slack keeps TO itself when STEP divides the span but rounding puts
  // the quotient a hair below a whole number (0:0.3:0.1).
  if (steps + 1e-9 >= static_cast<double>(distances_max)) {
    refuse("range " + quoted(text) + " gives more than " +
           std::to_string(distances_max) + " distances");
  }
  const auto last = static_cast<std::size_t>(steps + 1e-9);
  for (std::size_t k = 0; k <= last; ++k) {
    // from + k*step rather than repeated addition, so that no rounding creeps
    // in; written to 15 digits and read back, so that 0:1:0.1 gives 0.3
    // rather than 0.30000000000000004, the distance a user would type.
    char rounded[32];
    std::snprintf(rounded, sizeof rounded, "%.15g",
                  from + static_cast<double>(k) * step);
    distances.push_back(read_distance(rounded));
  }
}

void add_distances(const char *text, std::vector<double> &distances) {
  if (std::strchr(text, ':') != nullptr) {
    add_range(text, distances);
  } else {
    for (const std::string &entry : split(text, ',')) {
      if (entry.empty()) {
        refuse("distance list " + quoted(text) + " has an empty entry");
      }
      distances.push_back(read_distance(entry));
    }
  }
  if (distances.size() > distances_max) {
    refuse(quoted(text) + " brings the distances to more than " +
           std::to_string(distances_max));
  }
}

std::int32_t read_muons(const char *text) {
  errno = 0;
  char *end = nullptr;
  const long long muons = std::strtoll(text, &end, 10);
  if (!std::isdigit(static_cast<unsigned char>(text[0])) || *end != '\0' ||
      errno == ERANGE || muons < 1 || muons > INT32_MAX) {
    refuse("muon count " + quoted(text) + " is not a whole number from 1 to " +
           std::to_string(INT32_MAX));
  }
  return static_cast<std::int32_t>(muons);
}

double read_flux(const char *text) {
  double flux = 0.0;
  if (!read_number(text, flux) || !std::isfinite(flux) || flux < 0.0) {
    refuse("flux " + quoted(text) + " is not a number of 0 or more");
  }
  return flux;
}

std::vector<zenith_law> read_laws(const char *text) {
  if (std::strcmp(text, "cos_squared") == 0) {
    return {zenith_law::cos_squared};
  }
  if (std::strcmp(text, "isotropic") == 0) {
    return {zenith_law::isotropic};
  }
  if (std::strcmp(text, "both") == 0) {
    return {zenith_law::cos_squared, zenith_law::isotropic};
  }
  refuse("law " + quoted(text) + " is not cos_squared, isotropic or both");
}

} // namespace

curve_arguments parse_curve_arguments(int argc, char **argv) {
  // Long options only: their codes lie beyond every character.
  enum { law = 256, muons, flux, help, version };
  const option options[] = {
      {"law", required_argument, nullptr, law},
      {"muons", required_argument, nullptr, muons},
      {"flux", required_argument, nullptr, flux},
      {"help", no_argument, nullptr, help},
      {"version", no_argument, nullptr, version},
      {nullptr, 0, nullptr, 0},
  };
  curve_arguments arguments{
      {zenith_law::cos_squared, zenith_law::isotropic}, default_muons, 1.0, {}};
  // A leading ':' makes a missing value its own case; opterr off, so that
  // every complaint is ours and comes in the same form.
  opterr = 0;
  for (int c; (c = getopt_long(argc, argv, ":h", options, nullptr)) != -1;) {
    switch (c) {
    case law:
      arguments.laws = read_laws(optarg);
      break;
    case muons:
      arguments.muons = read_muons(optarg);
      break;
    case flux:
      arguments.flux = read_flux(optarg);
      break;
    case 'h':
    case help:
      std::printf(usage_text, program_invocation_short_name);
      finish_help();
    case version:
      print_version();
    case ':':
      refuse("option " + quoted(argv[optind - 1]) + " needs a value");
    default:
      if (optopt != 0) { // a short option: getopt may be inside a cluster
        refuse("unknown option " + quoted({'-', static_cast<char>(optopt)}) +
               " (put -- before a negative distance)");
      }
      refuse("unknown option " + quoted(argv[optind - 1]));
    }
  }
  if (optind == argc) {
    refuse("no distances given");
  }
  for (int i = optind; i < argc; ++i) {
    add_distances(argv[i], arguments.distances_cm);
  }
  return arguments;
}
