// The options of velmora-curve and velmora-fit, each once: getopt_long's
// table, the usage and the page's checks are all made from this table.
#pragma once

#include "programs/option_reading.h"

#include <array>
#include <string>

// Which commands take an option.
constexpr unsigned curve_only = 1, fit_only = 2, both_commands = 3;

struct curve_option {
  const char *name;
  const char *value; // the value's name in the usage; nullptr for none
  const char *help;  // lines after the first are indented to match
  std::string (*read)(const char *text, reading &r);
  unsigned commands;
  // Given once for each of its values, as --layer is, rather than once with
  // a list: what a program that writes command lines needs to know.
  bool repeated = false;
};
constexpr bool once_per_value = true;

constexpr int option_count = 30;
extern const curve_option options[option_count];

// Which options a command line gave, by their place in the table.
using options_given = std::array<bool, option_count>;

// The option of that name that `commands` take, or -1.
int option_index(const char *name, unsigned commands = curve_only);

// What a command line says when it says nothing.
reading defaults();

// DISTANCES operands: a number, a list or a range, added to the run's.
std::string add_distances(const char *text, reading &r);

// Reads the options of `argv` that `commands` take into `r`, noting each
// given; the index of the first operand, or -1 with `problem` and
// `concerned` (the option's long name) set, or with `request` set to help
// or version.
int read_options(unsigned commands, int argc, char **argv, reading &r,
                 options_given &given, curve_request &request,
                 std::string &problem, std::string &concerned);

// The options of `commands`, a column of names and values and one of help;
// `help_of` may give an option other words for one command.
std::string options_usage(unsigned commands,
                          const char *(*help_of)(const curve_option &));
