#include "programs/option_checks.h"
#include "integral/exact_rates.h"
#include "programs/number_readers.h"
#include "programs/telescope_readers.h"
#include "simulation/muon_spectrum.h"
#include "simulation/sky.h"
#include "text/shortest_text.h"

#include <tuple>

namespace {

// The passes' tallies of one run, in 32-bit counts: 16 MiB for each thread.
constexpr std::size_t tally_entries_max = std::size_t{1} << 22;

// "1 tilt", "91 tilts".
std::string counted(std::size_t n, const char *what) {
  return std::to_string(n) + " " + what + (n == 1 ? "" : "s");
}

} // namespace

std::string check_paddle_options(reading &r, const options_given & /*given*/,
                                 unsigned /*commands*/, const char *&option) {
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
  return "";
}

std::string check_layer_order(reading &r, const options_given & /*given*/,
                              unsigned /*commands*/, const char *&option) {
  // From the top down, each layer's upper face at or below the lower face of
  // the one above.
  const telescope &scope = r.arguments.scope;
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
  return "";
}

std::string check_min_path(reading &r, const options_given & /*given*/,
                           unsigned /*commands*/, const char *&option) {
  const telescope &scope = r.arguments.scope;
  bool thin = false;
  for (int i = 0; i < scope.count; ++i) {
    thin = thin || scope.layers[i].thickness_cm == 0.0;
  }
  option = "min-path";
  if (scope.min_path_cm > 0.0 && thin) {
    return "--min-path needs every layer to have a thickness (WxLxT)";
  }
  return "";
}

std::string check_distances(reading &r, const options_given & /*given*/,
                            unsigned /*commands*/, const char *&option) {
  // Every distance puts the lower paddle below every layer.
  option = "distances";
  for (const double d : r.arguments.distances_cm) {
    std::string problem = distance_refusal(r.arguments.scope, d);
    if (!problem.empty()) {
      return problem;
    }
  }
  return "";
}

std::string check_absorbers(reading &r, const options_given & /*given*/,
                            unsigned /*commands*/, const char *&option) {
  const curve_arguments &a = r.arguments;
  const telescope &scope = a.scope;
  option = "absorber";
  for (int k = 0; k < scope.absorber_count; ++k) {
    const layer &box = scope.absorbers[k].box;
    const double from = box.depth_cm, to = box.depth_cm + box.thickness_cm;
    const std::string name = "absorber " + std::to_string(k + 1);
    // Between the layers: no layer above the bottom takes its depths (the
    // top reaches from its thickness above 0 to 0).
    for (int i = 0; i < bottom_of(scope); ++i) {
      const layer &l = scope.layers[i];
      const double top = i == 0 ? -l.thickness_cm : l.depth_cm;
      const double bottom = i == 0 ? 0.0 : l.depth_cm + l.thickness_cm;
      if (from < bottom && to > top) {
        return name + " at depths " + shortest(from) + " to " + shortest(to) +
               " would lie in " + layer_name(i) +
               ": an absorber lies between the layers or below them";
      }
    }
    // Wholly above the bottom at every distance, or wholly below.
    const layer &lower = scope.layers[bottom_of(scope)];
    int side = 0; // -1 above, 1 below
    for (const double d : a.distances_cm) {
      const int here = to <= d ? -1 : from >= d + lower.thickness_cm ? 1 : 0;
      if (here == 0) {
        return name + " at depths " + shortest(from) + " to " + shortest(to) +
               " would lie in the lower paddle at distance " + shortest(d);
      }
      if (side != 0 && here != side) {
        return name + " would lie above the lower paddle at some distances "
                      "and below it at others: keep it at one side of the "
                      "lower paddle for every distance";
      }
      side = here;
    }
  }
  return "";
}

std::string check_per_layer_lists(reading &r, const options_given & /*given*/,
                                  unsigned /*commands*/, const char *&option) {
  const int count = r.arguments.scope.count;
  for (const auto &[values, what, name] :
       {std::tuple{&r.detection, "detection probabilities", "detection"},
        std::tuple{&r.noise_hz, "noise rates", "noise"}}) {
    option = name;
    if (!values->empty() && values->size() != static_cast<std::size_t>(count)) {
      return "--" + std::string(name) + " gives " +
             std::to_string(values->size()) + " " + what + " for " +
             std::to_string(count) + " layers";
    }
  }
  return "";
}

std::string check_requirements(reading &r, const options_given & /*given*/,
                               unsigned /*commands*/, const char *&option) {
  const int count = r.arguments.scope.count;
  option = "require";
  const std::uint32_t all = (1U << count) - 1;
  for (curve_requirement &q : r.arguments.requirements) {
    if (q.text == "all") {
      q.rule.needed = all;
    }
    if (q.rule.at_least > count || (q.rule.needed & ~all) != 0) {
      return "requirement " + quoted(q.text) + " asks for more than the " +
             std::to_string(count) + " layers of the telescope";
    }
  }
  return "";
}

std::string check_sky_law(reading &r, const options_given &given,
                          unsigned commands, const char *&option) {
  sky_model &sky = r.arguments.sky;
  const bool spectrum = sky.law == sky_law::spectrum;
  for (const char *name : {"absorber", "overburden", "altitude"}) {
    option = name;
    if (!spectrum && given[option_index(name, commands)]) {
      return std::string("--") + name +
             " needs --sky spectrum: a cos^N sky has no energies for matter "
             "or air to take";
    }
  }
  option = "sky";
  if (spectrum &&
      (given[option_index("flux")] ||
       (commands == curve_only && given[option_index("intensity")]))) {
    return "--sky spectrum gives the sky's flux itself: it takes no --flux or "
           "--intensity";
  }
  option = "intensity";
  if (spectrum && commands == fit_only &&
      given[option_index("intensity", commands)]) {
    return "--intensity: with --sky spectrum the fit reports the vertical "
           "intensity above 1 GeV/c beside the spectrum's normalisation";
  }
  option = "exponent";
  if (spectrum && !given[option_index("exponent", commands)]) {
    sky.exponent = paper_index;
  } else if (spectrum && !(sky.exponent >= spectrum_index_min &&
                           sky.exponent <= spectrum_index_max)) {
    return "exponent '" + shortest(sky.exponent) +
           "' is not a spectrum index from 2 to 5";
  }
  return "";
}

std::string choose_laws(reading &r, const options_given &given,
                        unsigned commands, const char *&option) {
  curve_arguments &a = r.arguments;
  // The flux law alone unless the isotropic one was asked for; it has no
  // tilt, no sky's exponent and no flux through a thick box. A fit is of
  // the flux law's sky.
  const bool flux_law_only = given[option_index("tilt")] ||
                             given[option_index("exponent", commands)] ||
                             a.sky.law == sky_law::spectrum ||
                             a.scope.layers[0].thickness_cm > 0.0 ||
                             commands == fit_only;
  option = "law";
  if (flux_law_only && !given[option_index("law")]) {
    a.laws = {zenith_law::cos_squared};
  } else if (flux_law_only && a.laws.back() == zenith_law::isotropic) {
    const char *law = a.laws.size() == 2 ? "both" : "isotropic";
    return std::string("--law ") + law + " takes no " +
           (a.sky.law == sky_law::spectrum
                ? "--sky spectrum"
                : "--tilt, --exponent or thick upper paddle") +
           ": the "
           "isotropic law draws directions for each track through a thin "
           "paddle, not a flux through a surface";
  }
  return "";
}

std::string check_integral(reading &r, const options_given & /*given*/,
                           unsigned /*commands*/, const char *&option) {
  const curve_arguments &a = r.arguments;
  option = "method";
  if (a.method == curve_method::integral) {
    for (const double d : a.distances_cm) {
      std::string problem;
      for (const double tilt_deg : a.tilts_deg) {
        problem = problem.empty()
                      ? integral_refusal(a.scope, d, a.sky, tilt_deg)
                      : problem;
      }
      if (!problem.empty()) {
        // Its untested branches only clean up after an allocation that throws.
        // GCOVR_EXCL_BR_START
        // Thick layers, and absorbers in a tilted telescope, are refused at
        // any distance; the rest at this one.
        return problem + (problem.find("thin layers") != problem.npos ||
                                  problem.find("upright") != problem.npos
                              ? ""
                              : " (distance " + shortest(d) + ")");
      } // GCOVR_EXCL_BR_STOP
    }
  }
  return "";
}

std::string check_sky_flux(reading &r, const options_given &given,
                           unsigned /*commands*/, const char *&option) {
  curve_arguments &a = r.arguments;
  option = "intensity";
  if (given[option_index("intensity")] && given[option_index("flux")]) {
    return "--intensity and --flux both give the sky's flux: give one";
  }
  if (given[option_index("intensity")]) {
    a.flux = flux_of_intensity(a.intensity, a.sky.exponent);
  }
  // The spectrum's rates are of the muons each pass draws.
  if (a.sky.law == sky_law::spectrum) {
    a.flux = drawn_flux(a.sky);
  }
  return "";
}

std::string check_run_size(reading &r, const options_given & /*given*/,
                           unsigned /*commands*/, const char *&option) {
  const curve_arguments &a = r.arguments;
  const telescope &scope = a.scope;
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
  return "";
}
