#include "programs/curve_arguments.h"
#include "programs/number_readers.h"
#include "programs/run_assembly.h"

#include <string>

fit_command read_fit_command(int argc, char **argv) {
  fit_command command;
  command.request = curve_request::run;
  reading r = defaults();
  options_given given = {};
  const int first =
      read_options(fit_only, argc, argv, r, given, command.request,
                   command.problem, command.option);
  command.exponent_fixed = given[option_index("exponent", fit_only)];
  command.method_given = given[option_index("method", fit_only)];
  command.report_intensity = r.report_intensity;
  command.csv = r.csv_wanted;
  command.background_free = r.background_free;
  command.background_per_minute = r.background_per_minute;
  if (first < 0) {
    command.arguments = r.arguments;
    return command;
  }
  if (argc - first > 1) {
    command.problem = "one file of measurements at a time, not " +
                      std::to_string(argc - first);
    // velmora-curve's --intensity I takes the sky's intensity; velmora-fit
    // fits it.
    if (r.report_intensity) {
      double value = 0.0;
      for (int i = first; i < argc; ++i) {
        if (read_number(argv[i], value)) {
          command.problem = "--intensity takes no value here: it reports the "
                            "fitted vertical intensity I rather than the flux "
                            "J; '" +
                            std::string(argv[i]) +
                            "' is not a file of measurements";
        }
      }
    }
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
