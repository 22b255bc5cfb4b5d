#include "programs/run_assembly.h"
#include "programs/number_readers.h"
#include "programs/option_checks.h"

#include <algorithm>
#include <string>

namespace {

// The telescope from its paddles, their offset and the layers between.
void put_telescope_together(reading &r) {
  telescope &scope = r.arguments.scope;
  const double min_path = scope.min_path_cm;
  scope = paddle_telescope(r.top, r.bottom, r.offset[0], r.offset[1]);
  scope.min_path_cm = min_path;
  scope.count = static_cast<int>(r.between.size()) + 2;
  scope.layers[bottom_of(scope)] = scope.layers[1];
  for (std::size_t i = 0; i < r.between.size(); ++i) {
    scope.layers[i + 1] = r.between[i];
  }
  scope.absorber_count = static_cast<int>(r.absorbers.size());
  std::copy(r.absorbers.begin(), r.absorbers.end(), scope.absorbers);
  r.arguments.altitude_m = r.altitude_m;
}

// Each layer's counter, from the lists or their defaults.
void put_counters_together(reading &r) {
  curve_arguments &a = r.arguments;
  for (int i = 0; i < a.scope.count; ++i) {
    const auto k = static_cast<std::size_t>(i);
    a.detection[i] = r.detection.empty() ? 1.0 : r.detection[k];
    a.noise_hz[i] = r.noise_hz.empty() ? 0.0 : r.noise_hz[k];
  }
}

// The checks in the order their problems are reported, each step of the
// assembly between them.
std::string run_checks(std::initializer_list<cross_check> checks, reading &r,
                       const options_given &given, unsigned commands,
                       const char *&option) {
  for (const cross_check check : checks) {
    std::string problem = check(r, given, commands, option);
    if (!problem.empty()) {
      return problem;
    }
  }
  return "";
}

curve_command refused(curve_command &command, std::string problem,
                      const char *option) {
  command.problem = std::move(problem);
  command.option = option;
  return command;
}

} // namespace

std::string assemble(reading &r, const options_given &given,
                     const char *&option, unsigned commands) {
  std::string problem =
      run_checks({check_paddle_options}, r, given, commands, option);
  if (!problem.empty()) {
    return problem;
  }
  put_telescope_together(r);
  problem = run_checks({check_layer_order, check_min_path, check_distances,
                        check_absorbers, check_per_layer_lists},
                       r, given, commands, option);
  if (!problem.empty()) {
    return problem;
  }
  put_counters_together(r);
  problem = run_checks({check_requirements, check_sky_law, choose_laws,
                        check_integral, check_sky_flux, check_run_size},
                       r, given, commands, option);
  if (problem.empty()) {
    option = "";
  }
  return problem;
}

curve_command read_curve_command(int argc, char **argv) {
  curve_command command;
  command.request = curve_request::run;
  reading r = defaults();
  options_given given = {};
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
  // velmora-curve's option, or velmora-fit's of that name (its value-less
  // --intensity is no field).
  int i = option_index(name.c_str());
  if (i < 0) {
    i = option_index(name.c_str(), fit_only);
  }
  if (i < 0 || options[i].read == nullptr) {
    return "unknown option " + quoted("--" + name);
  }
  return options[i].read(value.c_str(), scratch);
}
