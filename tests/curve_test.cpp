// End-to-end tests of the commands: the curve's rows against the programs
// themselves, and what each command line writes, refuses and reports.
#include "command_table.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fcntl.h>
#include <ostream>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

const std::string curve = VELMORA_CURVE_PATH;
const std::string fit = VELMORA_FIT_PATH;
// Three tilts of the programs' pair at 10 cm, counted for ten minutes.
const std::string columns = "tilt_deg,distance_cm,coincidences,live_time_s\n";
const std::string measured =
    columns + "0,10,1490,600\n45,10,1000,600\n90,10,150,600\n";
// Two distances at one tilt through thick 5x5x1 paddles, what J = 1 and
// N = 2 give in ten minutes.
const std::string one_tilt = columns + "0,3,130,600\n0,10,32,600\n";
// Rows at 0 and 45 degrees with counters of their own, two alike at 90, and
// one there with a window where the others may have none.
const std::string own_counters =
    "tilt_deg,distance_cm,coincidences,live_time_s,detection,noise_hz,window_"
    "ns\n"
    "0,10,1490,600,,,\n0,10,1400,600,0.95;0.95,,\n45,10,1000,600,,20;20,\n"
    "45,10,990,600,,,200\n90,10,150,600,,,\n90,10,140,600,,,\n90,10,145,600,,,"
    "200\n";
constexpr int timeout_ms = 60000;

const char header[] =
    "law,distance_cm,muons,coincidences,efficiency,std_error,rate_per_minute,"
    "tilt_deg,efficiency_low,efficiency_high,require,rate_detected_per_minute,"
    "accidentals_per_minute,counting_time_s,singles_per_minute_1,"
    "singles_per_minute_2,singles_per_minute_3,singles_per_minute_4,"
    "singles_per_minute_5,singles_per_minute_6,singles_per_minute_7,"
    "singles_per_minute_8,flux_per_cm2_min,tilt_azimuth_deg,telescope,"
    "detection,noise_hz,min_path_cm,window_ns,method,rate_error_per_minute,"
    "sky,threshold_gev,soft_per_minute\n";
// What every row of the programs' pair at J = 1 ends with: the flux, the
// azimuth, the telescope, its counters, and the method.
const char pair_tail[] = "1,0,10x31|10x31@d:0:0,1;1,0;0,0,,mc,0,cos,,";
// An isotropic row's, with no flux.
const char isotropic_tail[] =
    ",,,,,,,,,,0,10x31|10x31@d:0:0,1;1,0;0,0,,mc,,cos,,\n";

// Guards against a curve that counts or rounds differently from the programs
// a user would run one distance at a time: each row's count must be the
// program's own, and its efficiency rounded to three places the program's.
// The 5000 further distances split each pass into several slices, which must
// continue one stream of tracks.
TEST(curve, rows_are_what_the_programs_print) {
  const child_result r = run_program({curve, "--law", "both", "--muons", "5000",
                                      "3,-4.5", "0x1.4p+5", "100:5099:1"},
                                     "", timeout_ms);
  ASSERT_EQ(r.status, 0) << r.err;
  std::istringstream rows(r.out);
  std::string row;
  std::getline(rows, row); // the header
  for (const char *program : {VELMORA_PATH, VELMORAUNI_PATH}) {
    for (const char *distance : {"3", "-4.5", "40"}) {
      std::getline(rows, row);
      if (distance == std::string("3")) {
        ASSERT_EQ(row.rfind(program == std::string(VELMORA_PATH)
                                ? "cos_squared,3,"
                                : "isotropic,3,",
                            0),
                  0U)
            << row;
      }
      int coincidences = 0;
      double efficiency = 0;
      ASSERT_EQ(std::sscanf(row.c_str(), "%*[^,],%*[^,],5000,%d,%lf",
                            &coincidences, &efficiency),
                2)
          << row;
      char printed[96];
      std::snprintf(printed, sizeof printed,
                    "\n Number of coicidences = %d\n Geometric Efficiency  = "
                    "%3.3lf\n\n",
                    coincidences, efficiency);
      const child_result run = run_program(
          {program}, std::string(distance) + "\n5000\n", timeout_ms);
      EXPECT_NE(run.out.find(printed), std::string::npos) << row << run.out;
    }
    for (int k = 0; k < 5000; ++k) {
      std::getline(rows, row);
    }
  }
}

// Every default spelled out changes no byte: the programs' telescope and
// seed are the defaults, and a pass at tilt 0 is the horizontal one.
TEST(curve, defaults_spelled_out_change_nothing) {
  const std::vector<std::string> telescope = {
      "--top",      "10x31", "--bottom",    "10x31", "--offset",       "0,0",
      "--require",  "all",   "--detection", "1,1",   "--noise",        "0,0",
      "--min-path", "0",     "--threads",   "1",     "--method",       "mc",
      "--seed",     "1",     "--flux",      "1",     "--tilt-azimuth", "0"};
  const std::vector<std::vector<std::string>> pairs[] = {
      {{curve, "--muons", "20000", "3,40"},
       {curve, "--muons", "20000", "--law", "both", "3,40"}},
      {{curve, "--law", "cos_squared", "--muons", "20000", "3,40"},
       {curve, "--law", "cos_squared", "--muons", "20000", "--exponent", "2",
        "--tilt", "0", "3,40"}},
  };
  for (const auto &pair : pairs) {
    std::vector<std::string> spelled = pair[1];
    spelled.insert(spelled.begin() + 1, telescope.begin(), telescope.end());
    const child_result plain = run_program(pair[0], "", timeout_ms);
    const child_result full = run_program(spelled, "", timeout_ms);
    EXPECT_EQ(plain.status, 0);
    EXPECT_EQ(plain.out, full.out);
  }
}

// Guards against counts that depend on how the blocks are shared: every
// thread count gives the very same rows, horizontal and tilted, thin and
// thick, through one pass or several.
TEST(curve, counts_do_not_depend_on_threads) {
  const std::vector<std::string> runs[] = {
      {"--muons", "300000", "0:40:5"},
      {"--tilt", "0,35", "--paddles", "5x5x1", "--layer", "5x5x1@2",
       "--require", "all,2", "--muons", "200000", "4,9"},
  };
  for (const std::vector<std::string> &run : runs) {
    std::string first;
    for (const char *threads : {"1", "2", "3", "7"}) {
      std::vector<std::string> command = {curve, "--threads", threads};
      command.insert(command.end(), run.begin(), run.end());
      const child_result r = run_program(command, "", timeout_ms);
      ASSERT_EQ(r.status, 0) << r.err;
      if (first.empty()) {
        first = r.out;
      }
      EXPECT_EQ(r.out, first) << threads << " threads";
    }
  }
}

const child_options full_device{nullptr, output_to::full_device};
const child_options output_closed{nullptr, output_to::closed};
// A locale that writes 5,5 for 5.5: no command may take it up.
const child_options in_comma_locale{nullptr, output_to::pipe, "de_DE.UTF-8"};
// The master side of a new pseudo-terminal: a terminal that never types.
const child_options from_a_terminal{"/dev/ptmx"};

const std::string velmora = VELMORA_PATH;
const std::string velmorauni = VELMORAUNI_PATH;

// clang-format off
const command_case cases[] = {
    // At distance 0 every cos^2 track counts: the rate is the whole flux
    // through the 310 cm^2 paddle.
    {"rate_at_distance_0", {curve, "--law", "cos_squared", "--muons", "1000", "0"}, "",
     std::string(header) + "cos_squared,0,1000,1000,1.000000,0,310,0,0.99886,1.00000,all,310,,,310,310,,,,,,," + pair_tail +
         "87.6504\n", 0},
    // Tilted by 60 degrees, the paddle takes (1 + cos^2)/2 of the flux.
    {"rate_of_a_tilted_paddle", {curve, "--tilt", "60", "--muons", "1000", "0"}, "",
     std::string(header) + "cos_squared,0,1000,1000,1.000000,0,193.75,60,0.99886,1.00000,all,193.75,,,193.75,193.75,,,,,,," +
         pair_tail + "54.7815\n", 0},
    {"law_of_another_exponent",
     {curve, "--exponent", "1.85", "--paddles", "2x5", "--muons", "1000", "0"}, "",
     std::string(header) + "cos^1.85,0,1000,1000,1.000000,0,10,0,0.99886,1.00000,all,10,,,10,10,,,,,,,"
                           "1,0,2x5|2x5@d:0:0,1;1,0;0,0,,mc,0,cos,,2.82743\n", 0},
    // Standing upright under a cos^1 sky, the paddle takes 2/pi of the flux;
    // the law's name carries any exponent but 2.
    {"rate_of_an_upright_paddle_under_cos1",
     {curve, "--tilt", "90", "--exponent", "1", "--muons", "1000", "0"}, "",
     std::string(header) + "cos^1,0,1000,1000,1.000000,0,197.352,90,0.99886,1.00000,all,197.352,,,197.352,"
                           "197.352,,,,,,," + pair_tail + "55.8\n", 0},
    {"law_of_a_steeper_sky", {curve, "--exponent", "3", "--muons", "10", "0"}, "",
     std::string(header) + "cos^3,0,10,10,1.000000,0,310,0,0.892,1.000,all,310,,,310,310,,,,,,," + pair_tail +
         "87.6504\n", 0},
    // Three aligned layers at one depth: every track crosses all three, and
    // each requirement shows what its layers' probabilities give: two of
    // three 0.9 0.8 + 0.9 0.7 + 0.8 0.7 - 2 0.9 0.8 0.7 = 0.902, all 0.504,
    // 1+3 0.63; the singles are each layer's 310 a minute seen.
    {"requirements_with_detection",
     {curve, "--paddles", "10x31", "--layer", "10x31@0", "--require",
      "2,all,1+3", "--detection", "0.9,0.8,0.7", "--muons", "1000", "--law",
      "cos_squared", "0"}, "",
     std::string(header) +
         "cos_squared,0,1000,1000,1.000000,0,310,0,0.99886,1.00000,2,279.62,,,279,248,217,,,,,,"
         "1,0,10x31|10x31@0:0:0|10x31@d:0:0,0.9;0.8;0.7,0;0;0,0,,mc,0,cos,,87.6504\n"
         "cos_squared,0,1000,1000,1.000000,0,310,0,0.99886,1.00000,all,156.24,,,279,248,217,,,,,,"
         "1,0,10x31|10x31@0:0:0|10x31@d:0:0,0.9;0.8;0.7,0;0;0,0,,mc,0,cos,,87.6504\n"
         "cos_squared,0,1000,1000,1.000000,0,310,0,0.99886,1.00000,1+3,195.3,,,279,248,217,,,,,,"
         "1,0,10x31|10x31@0:0:0|10x31@d:0:0,0.9;0.8;0.7,0;0;0,0,,mc,0,cos,,87.6504\n", 0},
    // Lying on each other, 5x5 paddles count 25 a minute; with 100 and
    // 200 Hz of their own beside it, 50 ns give 2 tau R1 R2 = 0.002 Hz by
    // chance, and 5% needs (R + A) / (0.05 R)^2 = 964.6 s.
    {"accidentals_and_counting_time",
     {curve, "--law", "cos_squared", "--paddles", "5x5", "--noise", "100,200",
      "--window", "50", "--precision", "0.05", "--muons", "1000", "0"}, "",
     std::string(header) +
         "cos_squared,0,1000,1000,1.000000,0,25,0,0.99886,1.00000,all,25,0.119999,964.608,6025,12025,,,,,,,"
         "1,0,5x5|5x5@d:0:0,1;1,100;200,0,50,mc,0,cos,,7.06858\n", 0},
    // Layers 2 and 3, 20 cm x 20 cm, lie beside the 10 cm x 10 cm top, all
    // at one depth: no muon through the top counts for 2+3, every one
    // through layer 2 does, at the 400 a minute of its area.
    {"rate_of_layers_beside_the_top",
     {curve, "--top", "10x10", "--bottom", "20x20", "--layer", "20x20@0,20,0", "--offset", "20,0",
      "--require", "2+3", "--law", "cos_squared", "--muons", "1000", "0"}, "",
     std::string(header) + "cos_squared,0,1000,0,0.000000,0,400,0,0.00000,0.00114,2+3,400,,,100,400,400,,,,,,"
                           "1,0,10x10|20x20@0:20:0|20x20@d:20:0,1;1;1,0;0;0,0,,mc,0,cos,,113.097\n", 0},
    {"efficiency_of_layers_beside_the_top_by_the_integral",
     {curve, "--top", "10x10", "--bottom", "20x20", "--layer", "20x20@0,20,0", "--offset", "20,0",
      "--require", "2+3", "--law", "cos_squared", "--method", "integral", "0"}, "",
     std::string(header) + "cos_squared,0,,,0,,400,0,,,2+3,400,,,100,400,400,,,,,,"
                           "1,0,10x10|20x20@0:20:0|20x20@d:20:0,1;1;1,0;0;0,0,,integral,,cos,,113.0973355\n", 0},
    // A least path longer than the boxes' diagonal: no muon fires either
    // layer, so the singles and the chance coincidences are the noise's
    // alone, 2 tau R1 R2 = 12 a minute.
    {"least_path_beyond_every_chord",
     {curve, "--paddles", "10x10x3", "--min-path", "20", "--noise", "1000,1000",
      "--window", "100", "--muons", "1000", "5"}, "",
     std::string(header) + "cos_squared,5,1000,0,0.000000,0,0,0,0.00000,0.00114,all,0,11.9982,,60000,60000,,,,,,,"
                           "1,0,10x10x3|10x10x3@d:0:0,1;1,1000;1000,20,100,mc,0,cos,,0\n", 0},
    // Paddles that no track crosses both of: no counting time for no rate.
    {"no_counting_time_without_a_rate",
     {curve, "--law", "cos_squared", "--paddles", "5x5", "--offset", "100,0", "--precision", "0.05",
      "--muons", "1000", "0"}, "",
     std::string(header) + "cos_squared,0,1000,0,0.000000,0,0,0,0.00000,0.00114,all,0,,,25,25,,,,,,,"
                           "1,0,5x5|5x5@d:100:0,1;1,0;0,0,,mc,0,cos,,0\n", 0},
    // 70 m^-2 s^-1 sr^-1 under cos^3 is J = 2 pi 70 / 5 per m^2 and second.
    {"intensity_gives_the_flux_of_its_sky",
     {curve, "--intensity", "70", "--exponent", "3", "--muons", "1000", "0"}, "",
     std::string(header) +
         "cos^3,0,1000,1000,1.000000,0,163.614,0,0.99886,1.00000,all,163.614,,,163.614,163.614,,,,,,,"
         "0.5277875658030853,0,10x31|10x31@d:0:0,1;1,0;0,0,,mc,0,cos,,87.6504\n", 0},
    // 70 m^-2 s^-1 sr^-1 under cos^2 is J = 2 pi 70 / 4 per m^2 and second.
    {"intensity_gives_the_flux",
     {curve, "--intensity", "70", "--muons", "1000", "0"}, "",
     std::string(header) +
         "cos_squared,0,1000,1000,1.000000,0,204.518,0,0.99886,1.00000,all,204.518,,,204.518,204.518,,,,,,,"
         "0.6597344572538566,0,10x31|10x31@d:0:0,1;1,0;0,0,,mc,0,cos,,87.6504\n", 0},
    // The integral gives the closed form of the acceptance, 148.863158838
    // a minute at 10 cm, and no counts.
    {"integral_gives_the_exact_rate",
     {curve, "--method", "integral", "--law", "cos_squared", "10"}, "",
     std::string(header) +
         "cos_squared,10,,,0.4802037382,,148.8631588,0,,,all,148.8631588,,,310,310,,,,,,,"
         "1,0,10x31|10x31@d:0:0,1;1,0;0,0,,integral,,cos,,42.09006656\n", 0},
    // The exact share of isotropic tracks through the upper paddle that land
    // on the lower one (two million muons count 0.1998 +- 0.0003), and no
    // rate.
    {"integral_of_the_isotropic_law",
     {curve, "--method", "integral", "--law", "isotropic", "10"}, "",
     std::string(header) +
         "isotropic,10,,,0.1995156604,,,0,,,all,,,,,,,,,,,,,0,10x31|10x31@d:0:0,1;1,0;0,0,,integral,,cos,,\n", 0},
    // No flux: no rate, and the same efficiency.
    {"integral_without_flux",
     {curve, "--method", "integral", "--flux", "0", "--law", "cos_squared", "10"}, "",
     std::string(header) +
         "cos_squared,10,,,0.4802037382,,0,0,,,all,0,,,0,0,,,,,,,"
         "0,0,10x31|10x31@d:0:0,1;1,0;0,0,,integral,,cos,,\n", 0},
    // Three aligned layers with 100 Hz of their own each: all three fire by
    // chance 3 tau^2 R^3 = 7.5e-9 times a second in 50 ns.
    {"accidentals_of_three_layers",
     {curve, "--law", "cos_squared", "--paddles", "10x31", "--layer", "10x31@0", "--noise",
      "100,100,100", "--window", "50", "--muons", "1000", "0"}, "",
     std::string(header) +
         "cos_squared,0,1000,1000,1.000000,0,310,0,0.99886,1.00000,all,310,4.49995e-07,,6310,6310,6310,,,,,,"
         "1,0,10x31|10x31@0:0:0|10x31@d:0:0,1;1;1,100;100;100,0,50,mc,0,cos,,87.6504\n", 0},
    // An upper paddle that sees nothing: no rate, and no counting time.
    {"counting_time_of_nothing",
     {curve, "--law", "cos_squared", "--paddles", "10x31", "--layer", "10x31@0", "--detection",
      "0,1,1", "--precision", "0.05", "--muons", "1000", "0"}, "",
     std::string(header) +
         "cos_squared,0,1000,1000,1.000000,0,310,0,0.99886,1.00000,all,0,,,0,310,310,,,,,,"
         "1,0,10x31|10x31@0:0:0|10x31@d:0:0,0;1;1,0;0;0,0,,mc,0,cos,,87.6504\n", 0},
    // velmora-fit reads the counts as data and reports, or writes CSV.
    {"fit_help", {fit, "--help"}, "", "usage: velmora-fit [OPTION]... [FILE]\n", 0},
    {"fit_version", {fit, "--version"}, "", "velmora-fit " VELMORA_VERSION "\n", 0},
    // Three settings, two parameters: one degree of freedom.
    {"fit_report", {fit, "-"}, "",
     "velmora-fit: 3 settings from standard input; telescope "
     "10x31|10x31@d:0:0\nmodel: the integral over directions, exact to about 1e-10\n"
     "counters: detection 1;1, noise 0;0 Hz, no coincidence window\n"
     "sky: cos^N of the zenith angle; background: none\n\n"
     "flux J through a horizontal surface = 1.068 cm^-2 min^-1\n"
     "  68% interval [1.047, 1.089]; from the curvature +-0.021\n"
     "intensity I, vertically = 111.1 m^-2 s^-1 sr^-1\n  68% interval [107.7, 114.6]\n"
     "exponent N = 1.922\n  68% interval [1.834, 2.014]; from the curvature +-0.09\n"
     "correlation of J and N: 0.05\n"
     "intervals where -2 ln L rises by 1, the other parameters fitted anew\n"
     "deviance 23.8 for 1 degree of freedom, p = 1.1e-06\n", 0, {}, measured},
    // Counts of a cos^3.5 sky through thick paddles: the Monte Carlo, drawn
    // at N = 2 first, is drawn again where the fit lands.
    {"fit_draws_again_where_it_lands", {fit, "--paddles", "5x5x1", "-"}, "",
     "velmora-fit: 3 settings from standard input; telescope 5x5x1|5x5x1@d:0:0\n"
     "model: the Monte Carlo, 65536 muons a setting, drawn at N = 3.627\n", 0, {},
     "tilt_deg,distance_cm,coincidences,live_time_s\n0,3,147,600\n45,3,73,600\n90,3,12,600\n"},
    {"fit_csv", {fit, "--csv", "--exponent", "2"}, "",
     "tilt_deg,tilt_azimuth_deg,distance_cm,require,coincidences,live_time_s,"
     "rate_per_minute,rate_error_per_minute,model_per_minute,naive_per_minute,"
     "flux_per_cm2_min,flux_low,flux_high,intensity_per_m2_s_sr,"
     "intensity_low,intensity_high,exponent,exponent_low,exponent_high,"
     "exponent_fixed,correlation,deviance,degrees_of_freedom,p_value,"
     "naive_rate_per_minute,naive_exponent,naive_exponent_low,"
     "naive_exponent_high,method,telescope,detection,noise_hz,window_ns,sky,"
     "background_per_minute,background_low,background_high,background_fitted,"
     "normalisation,normalisation_low,normalisation_high,matching_exponent\n"
     "0,0,10,all,1490,600,149,", 0, {},
     measured,
     // J to seven digits, with the intensity's interval; N fixed: no
     // interval and no correlation; the counters and the sky assumed.
     {",1.068345,1.047687,1.089273,113.3549,111.163,115.5754,2,,,1,,24.50336,2,",
      ",integral,10x31|10x31@d:0:0,1;1,0;0,,cos^N,0,,,0,,,,\n"}},
    // The report of the intensity gives the flux it implies beside it:
    // J = 2 pi I / (N + 2): 2 pi 111.1 / 3.922 m^-2 s^-1 is 1.068 cm^-2 min^-1.
    {"fit_intensity", {fit, "--intensity", "--method", "integral"}, "",
     "velmora-fit: 3 settings from standard input; telescope 10x31|10x31@d:0:0\n"
     "model: the integral over directions, exact to about 1e-10\n", 0, {}, measured,
     {"\nintensity I, vertically = 111.1 m^-2 s^-1 sr^-1\n",
      "\nflux J through a horizontal surface = 1.068 cm^-2 min^-1\n  68% interval [1.047, 1.089]\n",
      "\ncorrelation of I and N: "}},
    // A fit at the top of the exponent's range: its interval ends there and
    // its decimals follow the curvature; two settings leave no degree of
    // freedom; the naive fit's N lies above.
    {"fit_at_the_top_of_the_range", {fit}, "", "velmora-fit: 2 settings", 0, {},
     columns + "0,10,300,600\n45,10,2,600\n",
     {"\nexponent N >= 10.00 (at the edge of 0 to 10)\n  68% interval [9.85, at least 10.00]; "
      "from the curvature +-1.4\n",
      " for 0 degrees of freedom: no test of the fit\n",
      "\n  4.46 above the fit's N, 3.2 times the fit's error\n"}},
    // A narrow telescope and rates that fall faster than any cos^N between
    // 30 and 60 degrees: the naive fit lands above.
    {"fit_naive_above", {fit}, "", "velmora-fit: 3 settings", 0, {},
     columns + "0,100,1000,600\n30,100,950,600\n60,100,100,600\n",
     {"\n  0.0794 above the fit's N, 0.61 times the fit's error\n"}},
    // Lying on its side, the telescope's rate hardly depends on N: the
    // likelihood has no curvature and the interval spans N's whole range,
    // so no error is told and none is compared with the naive fit's.
    {"fit_without_curvature", {fit}, "", "velmora-fit: 2 settings", 0, {},
     columns + "90,0,5,600\n85,0,5,600\n",
     {"; from the curvature +-0.00051\n",
      "\nexponent N <= 0.0 (at the edge of 0 to 10)\n  68% interval [at most 0.0, at least 10.0]; no "
      "curvature to tell an error\nintervals where",
      "below the fit's N\n  cos^N is 0 at 90 degrees, where 1 row counted: no N fits it, and "
      "the naive fit keeps it\n\n"}},
    // Its CSV leaves the correlation empty, as for a fixed N.
    {"fit_without_curvature_csv", {fit, "--csv"}, "", "tilt_deg,", 0, {},
     columns + "90,0,5,600\n85,0,5,600\n", {",0.00000,10.00000,0,,"}},
    // Three counts a setting: the flux's interval still has two ends, found
    // in log J, short of 0, where -ln L has no bound.
    {"fit_of_sparse_counts", {fit}, "", "velmora-fit: 2 settings", 0, {},
     columns + "0,10,3,600\n30,10,3,600\n",
     {"= 0.0030 cm^-2 min^-1\n  68% interval [0.0014, 0.0043]; from the "
      "curvature +-0.0036\n"}},
    // Rates that do not fall with the tilt: N at the bottom of its range,
    // and a good fit, with no warning.
    {"fit_at_the_bottom_of_the_range", {fit}, "", "velmora-fit: 3 settings", 0, {},
     columns + "0,10,176,600\n10,10,176,600\n20,10,176,600\n",
     {"\n  68% interval [at most 0.0, 1.8]; ",
      " for 1 degree of freedom, p = 1:\n  the counts scatter about the model as Poisson counts "
      "should\n\nthe naive fit"}},
    // Thick paddles take the Monte Carlo. Drawn at N = 2 for data of N = 4,
    // it draws again where the fit landed, and more muons for the setting
    // with the most counts.
    {"fit_monte_carlo", {fit, "--method", "mc", "--paddles", "10x31x1", "--threads", "2"}, "",
     "velmora-fit: 3 settings from standard input; telescope 10x31x1|10x31x1@d:0:0\n"
     "model: the Monte Carlo, 65536 to 327170 muons a setting, drawn at N = 3.9", 0, {},
     columns + "0,10,1761,6000\n30,10,117,600\n60,10,32,600\n"},
    // One tilt: no naive fit of cos^N(tilt). With N fixed the Monte Carlo
    // draws once, at N.
    {"fit_of_one_tilt", {fit, "--paddles", "5x5x1", "--exponent", "2"}, "",
     "velmora-fit: 2 settings from standard input; telescope 5x5x1|5x5x1@d:0:0\n"
     "model: the Monte Carlo, 65536 muons a setting, drawn at N = 2.000\n", 0, {}, one_tilt,
     {"\nexponent N = 2, fixed\ninterval where -2 ln L rises by 1\n",
      " for 1 degree of freedom, p = 0.99:\n  the counts scatter about the model as Poisson counts "
      "should\n\n tilt azimuth"}},
    // Fitted, its N goes into the CSV; no degree of freedom is left.
    {"fit_of_one_tilt_csv", {fit, "--csv", "--paddles", "5x5x1"}, "",
     "tilt_deg,tilt_azimuth_deg,distance_cm,", 0, {}, one_tilt,
     {"\n0,0,3,all,130,600,13,1.140175,", ",0,,,,,,mc,5x5x1|5x5x1@d:0:0,1;1,0;0,,cos^N,0,,,0,,,,\n"}},
    {"fit_from_a_terminal", {fit}, "velmora-fit: give a FILE of measurements, or pipe them in",
     "", 2, from_a_terminal},
    // Given a FILE, standard input is left alone.
    {"fit_reads_the_file_not_input", {fit, "/dev/null"},
     "velmora-fit: /dev/null: no header and no settings", "", 2, {}, measured},
    {"fit_two_requirements", {fit, "--require", "all,2"},
     "velmora-fit: --require gives velmora-fit one requirement; a require column gives each "
     "row its own"},
    {"fit_top_alone", {fit, "--top", "5x5", "m.csv"},
     "velmora-fit: --top needs --bottom too; --paddles gives both paddles one size"},
    // --tilt would otherwise be taken for the beginning of --tilt-azimuth.
    {"fit_curve_option", {fit, "--tilt", "5", "m.csv"},
     "velmora-fit: option '--tilt' is velmora-curve's, not this command's"},
    {"fit_one_setting", {fit},
     "velmora-fit: standard input: one setting cannot tell J from N", "", 2, {},
     "tilt_deg,distance_cm,coincidences,live_time_s\n0,10,5,60\n"},
    {"fit_one_setting_repeated", {fit},
     "velmora-fit: standard input: its rows are all one setting, which cannot tell J from N",
     "", 2, {}, columns + "30,3,390,1800\n30,3,300,1800\n"},
    // On two layers, all, 1+2 and 2 take the same layers: one setting.
    {"fit_one_setting_by_its_layers", {fit},
     "velmora-fit: standard input: its rows are all one setting, which cannot tell J from N",
     "", 2, {}, "tilt_deg,distance_cm,coincidences,live_time_s,require\n"
                "30,3,390,1800,all\n30,3,300,1800,1+2\n30,3,310,1800,2\n"},
    // --til would otherwise be taken for --tilt-azimuth.
    {"fit_curve_option_begun", {fit, "--til", "30", "m.csv"},
     "velmora-fit: option '--til' could be velmora-curve's --tilt: write this command's "
     "option in full"},
    {"fit_spectrum_intensity", {fit, "--sky", "spectrum", "--intensity", "m.csv"},
     "velmora-fit: --intensity: with --sky spectrum the fit reports the vertical intensity "
     "above 1 GeV/c beside the spectrum's normalisation"},
    // velmora-curve's --intensity takes a value; velmora-fit's fits one.
    {"fit_intensity_with_a_value", {fit, "--intensity", "70", "scan.csv"},
     "velmora-fit: --intensity takes no value here: it reports the fitted vertical intensity I "
     "rather than the flux J; '70' is not a file of measurements"},
    {"fit_background_word", {fit, "--background", "lots", "m.csv"},
     "velmora-fit: background 'lots' is not free or a rate of coincidences per minute from 0 "
     "to 6e10"},
    // A background fitted beside the sky: the counts of a 5x5 pair with a
    // cos^2 sky show none, so it stays at its edge, 0.
    {"fit_background_free", {fit, "--paddles", "5x5", "--background", "free"}, "",
     "velmora-fit: 7 settings from standard input; telescope 5x5|5x5@d:0:0\n", 0, {},
     columns + "0,3,422,1800\n15,3,380,1800\n30,3,335,1800\n45,3,259,1800\n"
               "60,3,169,1800\n75,3,115,1800\n90,3,85,1800\n",
     {"\nsky: cos^N of the zenith angle; background: fitted\n",
      "\nbackground B = 0.0 min^-1 (at its edge: it cannot be below 0)\n"
      "  68% interval [at most 0.0, 1.6]; ",
      " for 4 degrees of freedom, p = 0.91:\n"}},
    // A background the fit leaves out shows where the sky gives least.
    {"fit_missing_a_background", {fit}, "", "velmora-fit: 7 settings", 0, {},
     columns + "0,20,4828,3600\n15,20,4562,3600\n30,20,3653,3600\n45,20,2622,3600\n"
               "60,20,1439,3600\n75,20,626,3600\n90,20,347,3600\n",
     {"\n  the row furthest from the model lies at the largest tilt, 90 degrees:\n"
      "  coincidences that no sky gives (air showers, correlated noise) may be\n"
      "  missing from the model: try --background free\n"}},
    // Rows that give their own counters are settings of their own, but for
    // those that repeat one; a background held leaves no hint of one after
    // the warning.
    {"fit_rows_with_their_own_counters",
     {fit, "--noise", "10,10", "--window", "100", "--background", "0.5"}, "",
     "velmora-fit: 7 rows at 6 settings from standard input; telescope 10x31|10x31@d:0:0\n", 0, {},
     own_counters,
     {"\ncounters: detection 1;1, noise 10;10 Hz, window 100 ns; 4 rows give their own\n"
      "sky: cos^N of the zenith angle; background: 0.5 a minute, held\n",
      "check the telescope, its detection probabilities and its noise\n\nthe naive fit",
      "where 3 rows counted: no N fits them, and the naive fit keeps them\n"}},
    {"fit_rows_with_their_own_counters_csv", {fit, "--csv", "--noise", "10,10", "--window", "100"},
     "", "tilt_deg,", 0, {}, own_counters,
     {",integral,10x31|10x31@d:0:0,1;1,10;10,100,cos^N,",
      ",integral,10x31|10x31@d:0:0,0.95;0.95,10;10,100,cos^N,",
      ",integral,10x31|10x31@d:0:0,1;1,10;10,200,cos^N,"}},
    // N held and a background fitted: the background's interval is profiled.
    {"fit_of_a_fixed_n_and_a_background", {fit, "--exponent", "2", "--background", "free"}, "",
     "velmora-fit: 7 rows at 6 settings", 0, {}, own_counters,
     {"\nexponent N = 2, fixed\nbackground B = 0.00 min^-1 (at its edge: it cannot be below 0)\n",
      "\nintervals where -2 ln L rises by 1, the other parameters fitted anew\n"}},
    // A background above 0 whose interval reaches 0 is not at its edge.
    {"fit_of_a_background_near_0", {fit, "--paddles", "5x5", "--background", "free"}, "",
     "velmora-fit: 7 settings", 0, {},
     columns + "0,3,442,1800\n15,3,400,1800\n30,3,355,1800\n45,3,279,1800\n"
               "60,3,189,1800\n75,3,135,1800\n90,3,105,1800\n",
     {"\nbackground B = 0.3 min^-1\n  68% interval [at most 0.0, 2.3]; "}},
    // No count at 85 degrees: the naive N runs to the top of its range.
    {"fit_naive_at_its_edge", {fit}, "", "velmora-fit: 2 settings", 0, {},
     columns + "0,10,1000,600\n85,10,0,600\n",
     {"\ninfinitely narrow: N >= 30 (at the edge of 0 to 30), 68% interval [3, 30];\n"}},
    // A poor fit of one tilt has no largest tilt to blame.
    {"fit_poor_at_one_tilt", {fit}, "", "velmora-fit: 3 settings", 0, {},
     columns + "0,3,1000,600\n0,10,1000,600\n0,30,1000,600\n",
     {"check the telescope, its detection probabilities and its noise\n\n tilt azimuth"}},
    // At sea level no air is named; a narrow telescope's naive N lies above
    // the cos^N the spectrum matches.
    {"fit_spectrum_at_sea_level", {fit, "--sky", "spectrum"}, "", "velmora-fit: 3 settings", 0,
     {}, columns + "0,100,1000,600\n30,100,950,600\n60,100,100,600\n",
     {"\nsky: the muon spectrum of Shukla and Sankrith (2018); background: none\n",
      "\n  0.109 above the cos^N the fitted sky matches\n"}},
    // Rows at one tilt that ask for different layers are settings apart.
    {"fit_requirements_apart", {fit, "--layer", "10x31@5", "--exponent", "2"}, "",
     "velmora-fit: 2 settings", 0, {},
     "tilt_deg,distance_cm,coincidences,live_time_s,require\n0,10,1490,600,all\n"
     "0,10,1600,600,2\n"},
    {"fit_two_files", {fit, "a.csv", "b.csv"},
     "velmora-fit: one file of measurements at a time, not 2"},
    {"fit_missing_file", {fit, "/nonexistent.csv"},
     "velmora-fit: cannot read '/nonexistent.csv': No such file or directory"},
    {"fit_bad_field", {fit}, "velmora-fit: standard input:3: tilt_deg '95'", "", 2,
     {}, "tilt_deg,distance_cm,coincidences,live_time_s\n0,10,5,60\n95,10,5,60\n"},
    {"fit_nothing_counted", {fit}, "velmora-fit: standard input: no coincidences "
     "were counted", "", 2, {},
     "tilt_deg,distance_cm,coincidences,live_time_s\n0,10,0,60\n"},
    // A paddle that detects nothing: no sky gives the counts.
    {"fit_of_a_blind_telescope", {fit, "--detection", "0,1"},
     "velmora-fit: standard input:2: 1490 coincidences counted where the "
     "telescope as described sees nothing", "", 2, {}, measured},
    // A background held at 0 explains nothing either.
    {"fit_of_a_blind_telescope_without_background", {fit, "--detection", "0,1", "--background", "0"},
     "velmora-fit: standard input:2: 1490 coincidences counted where the "
     "telescope as described sees nothing", "", 2, {}, measured},
    // Thick layers take the Monte Carlo, whose sample may only be too small.
    {"fit_of_a_blind_thick_telescope", {fit, "--paddles", "5x5x1", "--detection", "0,1"},
     "velmora-fit: standard input:2: 130 coincidences counted where none of the Monte "
     "Carlo's 65536 muons gives one", "", 2, {}, one_tilt},
    {"fit_integral_of_thick_paddles",
     {fit, "--method", "integral", "--paddles", "5x5x1"},
     "velmora-fit: standard input:2: --method integral needs thin layers", "", 2,
     {}, "tilt_deg,distance_cm,coincidences,live_time_s\n0,3,5,60\n"},
    {"fit_to_a_full_device", {fit, "--exponent", "2"},
     "velmora-fit: could not write the fit: No space left on device", "", 1,
     full_device, measured},
    {"help_takes_no_value", {curve, "--help=x"},
     "velmora-curve: option '--help' takes no value"},
    {"rate_scales_with_the_flux",
     {curve, "--law=cos_squared", "--muons=1000", "--flux=0.25", "0"}, "",
     std::string(header) + "cos_squared,0,1000,1000,1.000000,0,77.5,0,0.99886,1.00000,all,77.5,,,77.5,77.5,,,,,,,"
                           "0.25,0,10x31|10x31@d:0:0,1;1,0;0,0,,mc,0,cos,,87.6504\n", 0},
    // A range must give the distances a user types: 0.3, not
    // 0.30000000000000004.
    {"range_in_tenths", {curve, "--law", "isotropic", "--muons", "1", "--",
                         "-0.1:0.35:0.1"}, "",
     std::string(header) + "isotropic,-0.1,1,1,1.000000,0,,0,0.320,1.000,all,,," + isotropic_tail +
         "isotropic,0,1,1,1.000000,0,,0,0.320,1.000,all,,," + isotropic_tail +
         "isotropic,0.1,1,1,1.000000,0,,0,0.320,1.000,all,,," + isotropic_tail +
         "isotropic,0.2,1,1,1.000000,0,,0,0.320,1.000,all,,," + isotropic_tail +
         "isotropic,0.3,1,1,1.000000,0,,0,0.320,1.000,all,,," + isotropic_tail, 0},
    {"help", {curve, "--help"}, "", "usage: velmora-curve ", 0},
    {"help_short", {curve, "-h"}, "", "usage: velmora-curve ", 0},
    {"curve_in_a_comma_decimal_locale",
     {curve, "--law", "cos_squared", "--muons", "1000", "--flux", "0.5", "5.5"}, "",
     std::string(header) + "cos_squared,5.5,1000,684,0.684000,0.0147,106.02,0,0.6687,0.6989,all,"
                           "106.02,,,155,155,,,,,,,0.5,0,10x31|10x31@d:0:0,1;1,0;0,0,,mc,2.279,cos,,59.9529\n", 0,
     in_comma_locale},
    // The programs take their input at the prompts: their command line has
    // --help and --version, which never start the dialogue, and nothing else.
    {"velmora_help", {velmora, "--help"}, "", "usage: velmora [--help | --version]\n", 0},
    {"velmorauni_help", {velmorauni, "--help"}, "", "usage: velmorauni [--help", 0},
    {"velmora_version", {velmora, "--version"}, "", "velmora " VELMORA_VERSION "\n", 0},
    {"velmora_argument", {velmora, "10"}, "velmora: unexpected argument '10'"},
    {"velmorauni_argument_after_help", {velmorauni, "--help", "-v"},
     "velmorauni: unexpected argument '-v'"},
    {"velmora_argument_after_version", {velmora, "--version", "5"},
     "velmora: unexpected argument '5'"},
    {"version", {curve, "--version"}, "", "velmora-curve " VELMORA_VERSION "\n",
     0},

    {"no_distances", {curve, "--muons", "10"}, "velmora-curve: no distances"},
    {"unknown_option", {curve, "--lwa", "both", "5"},
     "velmora-curve: unknown option '--lwa'"},
    {"negative_distance_without_dashes", {curve, "-10"},
     "velmora-curve: unknown option '-1' (put -- before"},
    {"option_without_value", {curve, "5", "--muons"},
     "velmora-curve: option '--muons' needs a value"},
    {"unknown_law", {curve, "--law", "cos2", "5"}, "velmora-curve: law 'cos2'"},
    {"distance_is_a_word", {curve, "5,far"}, "velmora-curve: distance 'far'"},
    {"distance_with_unit", {curve, "5cm"}, "velmora-curve: distance '5cm'"},
    {"distance_empty", {curve, ""}, "velmora-curve: distance list '' has"},
    {"list_with_empty_entry", {curve, "5,,10"},
     "velmora-curve: distance list '5,,10' has an empty entry"},
    {"range_of_two", {curve, "0:10"}, "velmora-curve: range '0:10' is not"},
    {"range_step_0", {curve, "0:10:0"}, "velmora-curve: range '0:10:0' has a STEP of 0"},
    {"range_step_away", {curve, "10:0:1"},
     "velmora-curve: range '10:0:1' has a STEP that leads away"},
    {"range_not_finite", {curve, "0:inf:1"},
     "velmora-curve: distance 'inf' is not a finite number"},
    {"range_too_long", {curve, "0:100000:1"},
     "velmora-curve: range '0:100000:1' gives more"},
    {"too_many_in_all", {curve, "1:99999:1", "1,2"}, "velmora-curve: '1,2' brings"},
    {"muons_0", {curve, "--muons", "0", "5"}, "velmora-curve: muon count '0'"},
    {"muons_negative", {curve, "--muons=-5", "5"}, "velmora-curve: muon count '-5'"},
    {"muons_not_whole", {curve, "--muons", "1e6", "5"},
     "velmora-curve: muon count '1e6'"},
    {"muons_too_many", {curve, "--muons", "2147483648", "5"},
     "velmora-curve: muon count '2147483648'"},
    {"muons_beyond_64_bits", {curve, "--muons", "99999999999999999999", "5"},
     "velmora-curve: muon count '99999999999999999999'"},
    {"flux_negative", {curve, "--flux", "-1", "5"}, "velmora-curve: flux '-1'"},
    {"flux_a_word", {curve, "--flux", "high", "5"}, "velmora-curve: flux 'high'"},
    {"flux_with_unit", {curve, "--flux", "1/cm2", "5"},
     "velmora-curve: flux '1/cm2'"},
    {"flux_infinite", {curve, "--flux", "inf", "5"}, "velmora-curve: flux 'inf'"},

    // A result that never reached its reader is no success.
    {"curve_to_a_full_device", {curve, "--muons", "10", "5"},
     "velmora-curve: could not write the curve: No space left on device", "",
     1, full_device},
    {"curve_output_closed", {curve, "--muons", "10", "5"},
     "velmora-curve: could not write the curve: Bad file descriptor", "", 1,
     output_closed},
};
// clang-format on

class commands : public testing::TestWithParam<command_case> {};

TEST_P(commands, give_the_documented_result) {
  check_command(GetParam(), timeout_ms);
}

INSTANTIATE_TEST_SUITE_P(table, commands, testing::ValuesIn(cases),
                         [](const testing::TestParamInfo<command_case> &i) {
                           return i.param.name;
                         });

} // namespace
