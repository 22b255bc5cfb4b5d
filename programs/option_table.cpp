#include "programs/option_table.h"
#include "programs/number_readers.h"
#include "programs/sky_readers.h"
#include "programs/telescope_readers.h"
#include "text/fields.h"
#include "text/shortest_text.h"

#include <cmath>
#include <cstring>
#include <getopt.h>
#include <iterator>

namespace {

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
// sky. Within them the rates of the largest telescope stay far from
// overflow.
constexpr double flux_max = 1e6;      // cm^-2 min^-1
constexpr double intensity_max = 1e8; // m^-2 s^-1 sr^-1

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

std::string read_muons(const char *text, reading &r) {
  unsigned long long muons = 0;
  std::string problem = read_count(text, "muon count", 1, INT32_MAX, muons);
  if (problem.empty()) {
    r.arguments.muons = static_cast<std::int32_t>(muons);
  }
  return problem;
}

std::string read_flux(const char *text, reading &r) {
  return read_bounded(text, "flux", 0.0, flux_max, r.arguments.flux);
}

std::string read_intensity(const char *text, reading &r) {
  return read_bounded(text, "intensity", 0.0, intensity_max,
                      r.arguments.intensity);
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

std::string read_exponent(const char *text, reading &r) {
  return read_bounded(text, "exponent", 0.0, exponent_max,
                      r.arguments.sky.exponent);
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

std::string read_report_intensity(const char * /*text*/, reading &r) {
  r.report_intensity = true;
  return "";
}

// No counter's coincidences come faster than a gigahertz.
constexpr double background_max_per_minute = 6e10;

std::string read_background(const char *text, reading &r) {
  if (std::strcmp(text, "free") == 0) {
    r.background_free = true;
    return "";
  }
  r.background_free = false;
  double rate = 0.0;
  if (!read_number(text, rate) ||
      !(rate >= 0.0 && rate <= background_max_per_minute)) {
    return refusal("background", text,
                   "is not free or a rate of coincidences per minute from 0 "
                   "to 6e10");
  }
  r.background_per_minute = rate;
  return "";
}

std::string read_csv_wanted(const char * /*text*/, reading &r) {
  r.csv_wanted = true;
  return "";
}

} // namespace

// Each option once: getopt_long's table and the usage are made from this.
const curve_option options[option_count] = {
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
     read_layer, both_commands, once_per_value},
    {"absorber", "MATERIAL:WxLxT@DEPTH[,DX,DY]",
     "a slab that counts nothing, between the counters or below them, "
     "placed as --layer places one, or MATERIAL:T@DEPTH across the whole "
     "telescope; the material lead, iron, concrete, water, rock, plastic or "
     "aluminium; repeat for up to 6; with --sky spectrum",
     read_absorber, both_commands, once_per_value},
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
    {"sky", "LAW",
     "cos (cos^N of the zenith angle, the default) or spectrum (the "
     "sea-level muon spectrum in energy and zenith angle on a round Earth, "
     "whose muons the matter they cross slows and stops)",
     read_sky, both_commands},
    {"altitude", "M",
     "the site's altitude in m, 0 to 4000, with --sky spectrum; default 0",
     read_altitude, both_commands},
    {"overburden", "MATERIAL:THICKNESS",
     "a horizontal slab above the telescope (a roof, floors), THICKNESS in "
     "cm or, ending in g, in g/cm^2; repeat for up to 4; with --sky "
     "spectrum",
     read_overburden, both_commands, once_per_value},
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
    {"background", "free|R",
     "coincidences per minute that no straight muon makes (air showers, "
     "correlated noise), the same at every setting: free fits them beside "
     "the sky, 0 or more; R holds them at R; default none",
     read_background, fit_only},
    {"csv", nullptr,
     "write the settings, the model and the fit as CSV rather than a report",
     read_csv_wanted, fit_only},
    {"help", nullptr, "print this help and exit (also -h)", nullptr,
     both_commands},
    {"version", nullptr, "print the version and exit", nullptr, both_commands},
};
static_assert(std::size(options) == option_count);

int option_index(const char *name, unsigned commands) {
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
  a.sky = cos_sky(2.0);
  a.tilts_deg = {0.0};
  a.tilt_azimuth_deg = 0.0;
  a.seed = 1;
  // Its untested branches only clean up after an allocation that throws.
  a.requirements = {{{~std::uint32_t{0}, 0}, "all"}}; // GCOVR_EXCL_BR_LINE
  a.window_ns = NAN;
  a.precision = NAN;
  a.threads = 0;
  r.background_per_minute = NAN;
  a.method = curve_method::monte_carlo;
  r.top = paddle_pair.layers[0];
  r.bottom = paddle_pair.layers[1];
  r.top.depth_cm = 0.0;
  return r;
}

std::string add_distances(const char *text, reading &r) {
  std::vector<double> &distances = r.arguments.distances_cm;
  std::string problem = add_values(text, "distance", distances);
  if (problem.empty() && distances.size() > rows_max) {
    problem = quoted(text) + " brings the distances to more than " +
              std::to_string(rows_max);
  }
  return problem;
}

namespace {

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

} // namespace

int read_options(unsigned commands, int argc, char **argv, reading &r,
                 options_given &given, curve_request &request,
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
    const char *other =
        commands == fit_only ? "velmora-curve's" : "velmora-fit's";
    if (option_index(name.c_str(), commands) < 0 &&
        option_index(name.c_str(), both_commands) >= 0) {
      problem = "option " + quoted("--" + name) + " is " + other +
                ", not this command's";
      return -1;
    }
    // Nor is a beginning that would also begin one of the other command's
    // options (velmora-fit's --til, velmora-curve's --tilt), taken for
    // this command's.
    const auto begins = [&](const curve_option &o) {
      return !name.empty() &&
             std::strncmp(o.name, name.c_str(), name.size()) == 0;
    };
    bool begins_ours = false;
    for (const curve_option &o : options) {
      begins_ours = begins_ours || ((o.commands & commands) != 0 && begins(o));
    }
    for (const curve_option &o : options) {
      if (begins_ours && option_index(name.c_str(), commands) < 0 &&
          o.commands == (both_commands & ~commands) &&
          option_index(o.name, commands) < 0 && begins(o)) {
        problem = "option " + quoted("--" + name) + " could be " + other +
                  " --" + o.name + ": write this command's option in full";
        return -1;
      }
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

std::string options_usage(unsigned commands,
                          const char *(*help_of)(const curve_option &)) {
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
