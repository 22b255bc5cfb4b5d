// End-to-end tests of velmora-curve: its rows against the programs
// themselves, and its refusals.
#include "child_process.h"

#include <gtest/gtest.h>

#include <ostream>
#include <sstream>
#include <string>
#include <vector>

namespace {

const std::string curve = VELMORA_CURVE_PATH;
constexpr int timeout_ms = 60000;

const char header[] =
    "law,distance_cm,muons,coincidences,efficiency,std_error,rate_per_minute\n";

// The CSV line that `command` writes for `law` at the distance `distance`.
std::string row_of(const std::string &out, const std::string &law,
                   const std::string &distance) {
  std::string start = law;
  start += "," + distance + ",";
  std::istringstream lines(out);
  for (std::string line; std::getline(lines, line);) {
    if (line.rfind(start, 0) == 0) {
      return line;
    }
  }
  return "no row for " + law + " at " + distance;
}

// Guards against a curve that counts, rounds or labels differently from the
// programs a user would run one distance at a time: the count must be the
// program's own, and the efficiency rounded to three places its own.
TEST(curve, rows_are_what_the_programs_print) {
  const child_result r = run_program(
      {curve, "--muons", "5000", "3,-4.5", "0x1.4p+5"}, "", timeout_ms);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out.rfind(header, 0), 0U) << r.out;
  struct {
    const char *law, *program;
  } const laws[] = {{"cos_squared", VELMORA_PATH},
                    {"isotropic", VELMORAUNI_PATH}};
  for (const auto &law : laws) {
    for (const char *distance : {"3", "-4.5", "40"}) {
      const std::string printed =
          run_program({law.program}, std::string(distance) + "\n5000\n",
                      timeout_ms)
              .out;
      const std::string row = row_of(r.out, law.law, distance);
      int coincidences = 0;
      double efficiency = 0;
      ASSERT_EQ(std::sscanf(row.c_str(), "%*[^,],%*[^,],5000,%d,%lf",
                            &coincidences, &efficiency),
                2)
          << row;
      char expected[128];
      std::snprintf(expected, sizeof expected,
                    "\n Number of coicidences = %d\n Geometric Efficiency  = "
                    "%3.3lf\n\n",
                    coincidences, efficiency);
      EXPECT_NE(printed.find(expected), std::string::npos)
          << law.law << " at " << distance << ": " << row << "\n"
          << printed;
    }
  }
}

struct curve_case {
  const char *name;
  std::vector<std::string> arguments;
  std::string err_start; // how standard error begins
  // The whole of standard output. The initialiser lets refusals leave it out
  // without clang's missing-field warning.
  std::string out{}; // NOLINT(readability-redundant-string-init)
  int status = 2;    // a refusal unless the row says otherwise
  output_to out_to = output_to::pipe;
};

void PrintTo(const curve_case &c, std::ostream *os) {
  *os << c.name;
}

const std::string usage = "usage: velmora-curve ";

// clang-format off
const curve_case cases[] = {
    // At distance 0 every cos^2 track counts: the rate is the whole flux
    // through the 310 cm^2 paddle.
    {"rate_at_distance_0", {"--law", "cos_squared", "--muons", "1000", "0"}, "",
     std::string(header) + "cos_squared,0,1000,1000,1.000000,0,310\n", 0},
    {"rate_scales_with_the_flux",
     {"--law=cos_squared", "--muons=1000", "--flux=0.25", "0"}, "",
     std::string(header) + "cos_squared,0,1000,1000,1.000000,0,77.5\n", 0},
    // A range must give the distances a user types: 0.3, not
    // 0.30000000000000004.
    {"range_in_tenths", {"--law", "isotropic", "--muons", "1", "--",
                         "-0.1:0.35:0.1"}, "",
     std::string(header) + "isotropic,-0.1,1,1,1.000000,0,\n"
                           "isotropic,0,1,1,1.000000,0,\n"
                           "isotropic,0.1,1,1,1.000000,0,\n"
                           "isotropic,0.2,1,1,1.000000,0,\n"
                           "isotropic,0.3,1,1,1.000000,0,\n", 0},
    {"help", {"--help"}, "", "", 0},

    {"no_distances", {"--muons", "10"}, "velmora-curve: no distances"},
    {"unknown_option", {"--lwa", "both", "5"},
     "velmora-curve: unknown option '--lwa'"},
    {"negative_distance_without_dashes", {"-10"},
     "velmora-curve: unknown option '-1' (put -- before"},
    {"option_without_value", {"5", "--muons"},
     "velmora-curve: option '--muons' needs a value"},
    {"unknown_law", {"--law", "cos2", "5"}, "velmora-curve: law 'cos2'"},
    {"distance_is_a_word", {"5,far"}, "velmora-curve: distance 'far'"},
    {"distance_with_unit", {"5cm"}, "velmora-curve: distance '5cm'"},
    {"distance_empty", {""}, "velmora-curve: distance list '' has"},
    {"list_with_empty_entry", {"5,,10"},
     "velmora-curve: distance list '5,,10' has an empty entry"},
    {"range_of_two", {"0:10"}, "velmora-curve: range '0:10' is not"},
    {"range_step_0", {"0:10:0"}, "velmora-curve: range '0:10:0' has a STEP of 0"},
    {"range_step_away", {"10:0:1"},
     "velmora-curve: range '10:0:1' has a STEP that leads away"},
    {"range_not_finite", {"0:inf:1"}, "velmora-curve: range '0:inf:1'"},
    {"range_too_long", {"0:100000:1"},
     "velmora-curve: range '0:100000:1' gives more"},
    {"too_many_in_all", {"1:99999:1", "1,2"}, "velmora-curve: '1,2' brings"},
    {"muons_0", {"--muons", "0", "5"}, "velmora-curve: muon count '0'"},
    {"muons_negative", {"--muons=-5", "5"}, "velmora-curve: muon count '-5'"},
    {"muons_not_whole", {"--muons", "1e6", "5"},
     "velmora-curve: muon count '1e6'"},
    {"muons_too_many", {"--muons", "2147483648", "5"},
     "velmora-curve: muon count '2147483648'"},
    {"flux_negative", {"--flux", "-1", "5"}, "velmora-curve: flux '-1'"},
    {"flux_a_word", {"--flux", "high", "5"}, "velmora-curve: flux 'high'"},
};
// clang-format on

class curve_arguments : public testing::TestWithParam<curve_case> {};

TEST_P(curve_arguments, give_the_documented_result) {
  const curve_case &c = GetParam();
  std::vector<std::string> command{curve};
  command.insert(command.end(), c.arguments.begin(), c.arguments.end());
  const child_result r =
      run_program(command, "", timeout_ms, nullptr, c.out_to);
  ASSERT_FALSE(r.timed_out);
  EXPECT_EQ(r.status, c.status) << r.err;
  EXPECT_EQ(r.err.rfind(c.err_start, 0), 0U) << r.err;
  if (c.status == 2) {
    // One line naming the bad text, then the usage.
    EXPECT_EQ(r.err.find('\n') + 1, r.err.find(usage)) << r.err;
  }
  if (c.name == std::string("help")) {
    EXPECT_EQ(r.out.rfind(usage, 0), 0U) << r.out;
  } else {
    EXPECT_EQ(r.out, c.out);
  }
}

INSTANTIATE_TEST_SUITE_P(table, curve_arguments, testing::ValuesIn(cases),
                         [](const testing::TestParamInfo<curve_case> &i) {
                           return i.param.name;
                         });

} // namespace
