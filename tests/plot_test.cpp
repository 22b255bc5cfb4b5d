// End-to-end tests of velmora-plot: what each command line and CSV draws,
// refuses and reports, hostile text included.
#include "command_table.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fcntl.h>
#include <fstream>
#include <ostream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr int timeout_ms = 20000;
const std::string plot = VELMORA_PLOT_PATH;
const std::string figures_csv = VELMORA_SOURCE_DIR "/docs/efficiency.csv";
const std::string tilt_csv = VELMORA_SOURCE_DIR "/docs/tilt.csv";
// The tests' own files, and their working folder, for relative names.
const std::string files = VELMORA_PLOT_FILES;

// The CSV as velmora-curve wrote it before the tilt: still read.
const std::string header_without_tilt =
    "law,distance_cm,muons,coincidences,efficiency,std_error,rate_per_minute"
    "\n";
const std::string header =
    "law,distance_cm,muons,coincidences,efficiency,std_error,rate_per_minute,"
    "tilt_deg\n";
// The current form: more columns, always at the end.
const std::string full_header =
    "law,distance_cm,muons,coincidences,efficiency,std_error,rate_per_minute,"
    "tilt_deg,efficiency_low,efficiency_high,require,rate_detected_per_minute,"
    "accidentals_per_minute,counting_time_s,singles_per_minute_1,"
    "singles_per_minute_2,singles_per_minute_3,singles_per_minute_4,"
    "singles_per_minute_5,singles_per_minute_6,singles_per_minute_7,"
    "singles_per_minute_8,flux_per_cm2_min,tilt_azimuth_deg,telescope,"
    "detection,noise_hz,min_path_cm,window_ns,method\n";

// A row of the current form: the first eight columns, then those that the
// tests vary; the rest as velmora-curve leaves them without noise.
std::string row(const std::string &first, const std::string &interval,
                const std::string &require, const std::string &telescope,
                const std::string &method = "mc") {
  return first + "," + interval + "," + require + ",19,,,,,,,,,,,1,0," +
         telescope + ",1;0.95,0;0,,," + method + "\n";
}

// Two 5 x 5 cm pairs under a cos^1.85 sky, the lower paddle shifted in the
// second; then, appended with its header, a quadrature of three layers with
// two ways to require them.
const std::string two_pairs = full_header +
                              row("cos^1.85,1,1000,800,0.8,0.0126,20,0",
                                  "0.787,0.812", "all", "5x5|5x5@d:0:0") +
                              row("cos^1.85,3,1000,500,0.5,0.0158,12.5,0",
                                  "0.484,0.516", "all", "5x5|5x5@d:0:0") +
                              row("cos^1.85,1,1000,700,0.7,0.0145,17.5,0",
                                  "0.685,0.714", "all", "5x5|5x5@d:1.5:-2") +
                              row("cos^1.85,3,1000,400,0.4,0.0155,10,0",
                                  "0.384,0.416", "all", "5x5|5x5@d:1.5:-2");
const std::string three_layers =
    full_header +
    row("cos_squared,4,,,0.81234567,,20.3,0", ",", "2",
        "5x5x1|5x5x1@3:0:0|5x5x1@d:1.5:-2", "integral") +
    row("cos_squared,6,,,0.5123,,12.8,0", ",", "2",
        "5x5x1|5x5x1@3:0:0|5x5x1@d:1.5:-2", "integral") +
    row("cos_squared,4,,,0.61234567,,15.3,0", ",", "1+3",
        "5x5x1|5x5x1@3:0:0|5x5x1@d:1.5:-2", "integral");
// One tilt scan at 10 cm, and a curve against distance of another law.
const std::string scan_and_curve =
    header + "cos_squared,10,100,48,0.48,0.05,148.8,0\n" +
    "cos_squared,10,100,47,0.47,0.05,145.7,30\n" + header +
    "cos^1.85,10,100,48,0.48,0.05,148.8,0\n" +
    "cos^1.85,20,100,25,0.25,0.04,77.5,0\n";
// The rate's standard error, a column that joined last.
const std::string with_rate_error =
    "law,distance_cm,muons,coincidences,efficiency,std_error,rate_per_minute,"
    "tilt_deg,rate_error_per_minute\n";
// A small curve of the oldest form, for the files named below.
const std::string oldest = header_without_tilt +
                           "cos_squared,0,10,10,1.000000,0,310\n" +
                           "cos_squared,5,10,7,0.7,0.1,217\n";

// velmora-fit --csv of a tilt scan at 3 cm: a setting, its counts and model
// in each row, then the fit, repeated in every row.
const std::string fit_header =
    "tilt_deg,tilt_azimuth_deg,distance_cm,require,coincidences,live_time_s,"
    "rate_per_minute,rate_error_per_minute,model_per_minute,naive_per_minute,"
    "flux_per_cm2_min,flux_low,flux_high,intensity_per_m2_s_sr,intensity_low,"
    "intensity_high,exponent,exponent_low,exponent_high,exponent_fixed,"
    "correlation,deviance,degrees_of_freedom,p_value,naive_rate_per_minute,"
    "naive_exponent,naive_exponent_low,naive_exponent_high,method,telescope\n";
const std::string fitted = "0.99,0.95,1.04,106,,,2.0345,1.767,2.332,0,0.012,"
                           "0.008,5,1,12.36,1.1836,1.044,1.337,integral,"
                           "5x5|5x5@d:0:0\n";
const std::string fit_csv =
    fit_header + "0,0,3,all,129,600,12.9,1.14,12.93,12.36," + fitted +
    "45,0,3,all,76,600,7.6,0.87,7.61,8.2," + fitted +
    "90,0,3,all,23,600,2.3,0.48,2.31,0," + fitted;
// A fit of its own, field by field, for one row at 3 cm.
std::string fit_of(const std::string &fit) {
  return fit_header + "0,0,3,all,129,600,12.9,1.14,12.93,," + fit + "\n";
}

const child_options full_device{nullptr, output_to::full_device};
const child_options output_closed{nullptr, output_to::closed};
// The master side of a new pseudo-terminal: a terminal that never types.
const child_options from_a_terminal{"/dev/ptmx"};

// clang-format off
const command_case cases[] = {
    {"plot", {plot, figures_csv}, "", "<?xml", 0},
    // A tilt scan is drawn relative to the vertical unless asked otherwise.
    {"tilt_scan", {plot, tilt_csv}, "", "<?xml", 0, {}, "", ">R(α) / R(0)</text>"},
    {"tilt_scan_rate", {plot, "--quantity", "rate", tilt_csv}, "", "<?xml", 0, {}, "",
     ">coincidences per minute</text>"},
    // The isotropic law has no rate: its runs are left out.
    {"rate_against_distance", {plot, "--quantity=rate", figures_csv}, "", "<?xml", 0, {},
     "", ">Coincidence rate of the two-paddle telescope</text>"},
    {"detected_rate", {plot, "--quantity", "detected"}, "", "<?xml", 0, {}, two_pairs,
     ">detected coincidences per minute</text>"},
    // A lone distance: an axis around it, and no warning of an empty range.
    {"one_distance", {plot}, "", "<?xml", 0, {},
     header + "cos_squared,10,100,48,0.48,0.05,148.8,0\n", ""},
    // The rate's own error where the CSV has it: 20 ± 15 reaches past 30,
    // where the efficiency's scaled error (± 2.1) would not.
    {"rate_error_bars", {plot, "--quantity", "rate"}, "", "<?xml", 0, {},
     with_rate_error + "cos_squared,10,100,48,0.48,0.05,20,0,15\n", ">30</text>"},
    // The legend's title names what all curves share, each entry the rest.
    {"legend_title", {plot, tilt_csv}, "", "<?xml", 0, {}, "",
     {">10×31 cm pair, cos²θ law</text>", ">30 cm apart</text>"}},
    // The spectrum's rows: named so, with no cos^N line beside a tilt scan.
    {"spectrum", {plot}, "", "<?xml", 0, {},
     header + "spectrum,10,1000,460,0.46,0.016,105.1,0\nspectrum,10,1000,360,0.36,0.015,80.2,30\n",
     "the muon spectrum</text>"},
    {"log", {plot, figures_csv, "--log"}, "", "<?xml", 0, {}, "", ">0.01</text>"},
    {"labels", {plot, "--xlabel=d (cm)", "--ylabel", "ε(d)", figures_csv}, "", "<?xml", 0,
     {}, "", ">ε(d)</text>"},
    // Nothing in a title can end a quoted string or reach a shell.
    {"hostile_title",
     {plot, "--title", "a\"b'c\\\\n`touch X`$(touch X)@X <&>", figures_csv}, "",
     "<?xml", 0, {}, "", ">a\"b'c\\\\n`touch X`$(touch X)@X &lt;&amp;&gt;</text>"},
    // Nor can it reach mathtext: $...$ and % are characters of the title.
    {"title_not_mathtext", {plot, "--title", "$\\input{/etc/passwd}$ %s", figures_csv}, "",
     "<?xml", 0, {}, "", ">$\\input{/etc/passwd}$ %s</text>"},
    {"png", {plot, "--format", "png", figures_csv}, "", "\x89" "PNG\r\n\x1a\n", 0},
    {"pdf", {plot, "--format=pdf", figures_csv}, "", "%PDF-", 0},
    {"help", {plot, "--help"}, "", "usage: velmora-plot [OPTION...] [CSV...] > plot.svg\n", 0},
    // Legends name what differs: the telescope, the layers required, the
    // method, and the law always; files only where nothing else does.
    {"legend_names_the_telescope", {plot}, "", "<?xml", 0, {}, two_pairs,
     ">5×5 over 5×5 at 1.5,-2, cosᴺθ law, N = 1.85</text>"},
    {"one_curve_per_require", {plot}, "", "<?xml", 0, {}, two_pairs + three_layers,
     "at 1.5,-2, layers 1+3, integral, cos²θ law</text>"},
    {"legend_names_the_file_masked", {plot, "k=v.csv", "k v.csv"}, "", "<?xml", 0, {}, "",
     {">cos²θ law (velmora), k?v.csv (file 1)</text>",
      ">cos²θ law (velmora), k?v.csv (file 2)</text>"}},
    {"absolute_name_with_equals", {plot, files + "/k=v.csv"}, "", "<?xml", 0},
    // A fit: its N with the 68% interval to the error's second digit, and
    // the naive N; against the distance where every row has one tilt.
    {"fit", {plot}, "", "<?xml", 0, {}, fit_csv,
     ">fit: N = 2.03 [1.77, 2.33]</text>"},
    {"fit_naive", {plot}, "", "<?xml", 0, {}, fit_csv,
     ">naive cosᴺα: N = 1.18</text>"},
    {"fit_png", {plot, "--format", "png"}, "", "\x89" "PNG\r\n\x1a\n", 0, {}, fit_csv},
    {"fit_against_distance", {plot}, "", "<?xml", 0, {},
     fit_of("2.9,2.8,3.1,317,,,2,,,1,,0.02,1,1,,,,,integral,5x5|5x5@d:0:0") +
         "0,0,6,all,60,600,6,0.77,6.1,,2.9,2.8,3.1,317,,,2,,,1,,0.02,1,1,,,,,"
         "integral,5x5|5x5@d:0:0\n",
     ">fit: N = 2, fixed</text>"},

    {"plot_to_a_full_device", {plot, figures_csv},
     "velmora-plot: could not write the plot: No space left on device", "", 1,
     full_device},
    {"plot_output_closed", {plot, figures_csv},
     "velmora-plot: could not write the plot: Bad file descriptor", "", 1,
     output_closed},
    {"help_to_a_full_device", {plot, "-h"},
     "velmora-plot: could not write the help: No space left on device", "", 1,
     full_device},
    {"missing_file", {plot, "/nonexistent.csv"},
     "velmora-plot: cannot read '/nonexistent.csv': no such file"},
    {"directory", {plot, "/"}, "velmora-plot: cannot read '/': not a regular file"},
    {"unknown_option", {plot, "--quantiy", "rate"}, "velmora-plot: unknown option '--quantiy'"},
    {"unknown_quantity", {plot, "--quantity", "speed"},
     "velmora-plot: quantity 'speed' is not efficiency"},
    {"unknown_format", {plot, "--format=jpg"}, "velmora-plot: format 'jpg' is not svg"},
    {"option_without_value", {plot, figures_csv, "--title"},
     "velmora-plot: option '--title' needs a value"},
    {"title_with_a_newline", {plot, "--title", "a\nset output", figures_csv},
     "velmora-plot: --title 'a?set output' has a control character"},
    {"label_not_utf8", {plot, "--xlabel", "a\xff", figures_csv},
     "velmora-plot: --xlabel 'a?' is not UTF-8 text"},
    {"terminal_without_files", {plot},
     "velmora-plot: no CSV named, and standard input is a terminal\n"
     "usage: velmora-plot [OPTION...] [CSV...] > plot.svg", "", 2, from_a_terminal},

    // A CSV is data: no text of it may reach a file name, the shell or
    // another program's script, and each field must be a number.
    {"law_that_ends_gnuplot_string", {plot},
     "velmora-plot: standard input:3: law 'cos_squared.dat'; system...'", "", 2, {},
     header_without_tilt + "cos_squared,0,10,10,1.000000,0,310\n"
                           "cos_squared.dat'; system \"touch X\"; #,5,10,7,0.7,0.1,\n"},
    {"law_in_backquotes", {plot}, "velmora-plot: standard input:2: law '`touch X`'",
     "", 2, {}, header_without_tilt + "`touch X`,5,10,7,0.7,0.1,\n"},
    {"law_as_a_path", {plot}, "velmora-plot: standard input:2: law '../X'", "", 2, {},
     header_without_tilt + "../X,5,10,7,0.7,0.1,\n"},
    {"law_exponent_not_a_number", {plot}, "velmora-plot: standard input:2: law 'cos^x'",
     "", 2, {}, header_without_tilt + "cos^x,5,10,7,0.7,0.1,3\n"},
    {"field_not_a_number", {plot},
     "velmora-plot: standard input:2: std_error '0.1\");system(\"touch X' is not", "", 2,
     {}, header_without_tilt + "isotropic,5,10,7,0.7,0.1\");system(\"touch X,\n"},
    {"tilt_not_a_number", {plot},
     "velmora-plot: standard input:2: tilt_deg '0\"; system \"touch X\"; \"' is not", "", 2,
     {}, header + "cos_squared,5,10,7,0.7,0.1,3,0\"; system \"touch X\"; \"\n"},
    {"rate_not_a_number", {plot},
     "velmora-plot: standard input:2: rate_per_minute 'many' is not", "", 2, {},
     header_without_tilt + "cos_squared,5,10,7,0.7,0.1,many\n"},
    {"number_that_overflows", {plot},
     "velmora-plot: standard input:2: distance_cm '1e999' is not a finite number", "", 2,
     {}, header_without_tilt + "cos_squared,1e999,10,7,0.7,0.1,3\n"},
    {"efficiency_above_1", {plot},
     "velmora-plot: standard input:2: efficiency 1.5 is not between 0 and 1", "", 2, {},
     header_without_tilt + "cos_squared,5,10,7,1.5,0.1,3\n"},
    {"muons_not_whole", {plot}, "velmora-plot: standard input:2: muons '1e3'", "", 2,
     {}, header_without_tilt + "isotropic,5,1e3,7,0.7,0.1,\n"},
    {"telescope_with_a_command", {plot},
     "velmora-plot: standard input:2: telescope '5x5|5x5@d:0:0;touch X'", "", 2, {},
     full_header + row("cos_squared,5,10,7,0.7,0.1,3,0", ",", "all",
                       "5x5|5x5@d:0:0;touch X")},
    {"require_not_a_layer_list", {plot},
     "velmora-plot: standard input:2: require '1+' is not", "", 2, {},
     full_header + row("cos_squared,5,10,7,0.7,0.1,3,0", ",", "1+", "5x5|5x5@d:0:0")},
    {"unknown_method", {plot}, "velmora-plot: standard input:2: method 'exact' is not",
     "", 2, {},
     full_header + row("cos_squared,5,10,7,0.7,0.1,3,0", ",", "all", "5x5|5x5@d:0:0",
                       "exact")},
    {"of_another_csv", {plot},
     "velmora-plot: standard input:1: not a CSV that velmora-curve or velmora-fit writes",
     "", 2, {}, "x,y\n1,2\n"},
    {"counts_not_yet_fitted", {plot}, "velmora-plot: standard input:1: counts to fit", "",
     2, {}, "tilt_deg,distance_cm,coincidences,live_time_s\n0,3,129,600\n"},
    {"fit_exponent_that_ends_gnuplot_string", {plot},
     "velmora-plot: standard input:2: exponent '2\"; system \"touch X\"' is not", "", 2, {},
     fit_of("1,1,1,106,,,2\"; system \"touch X\",1,3,0,0,0,0,1,1,1,1,1,mc,5x5|5x5@d:0:0")},
    {"fit_telescope_with_a_command", {plot},
     "velmora-plot: standard input:2: telescope '5x5|5x5@d:0:0`touch X`' is not one that "
     "velmora-fit writes", "", 2, {},
     fit_of("1,1,1,106,,,2,1,3,0,0,0,0,1,1,1,1,1,mc,5x5|5x5@d:0:0`touch X`")},
    // Rows of another fit appended: its N differs.
    {"two_fits", {plot}, "velmora-plot: standard input:5: the fit differs", "", 2, {},
     fit_csv + "0,0,3,all,129,600,12.9,1.14,12.93,12.36," +
         "0.99,0.95,1.04,106,,,1.8,1.5,2.1,0,0.012,0.008,5,1,12.36,1.1836,1.044,1.337,"
         "integral,5x5|5x5@d:0:0\n"},
    {"fit_with_a_quantity", {plot, "--quantity", "rate"},
     "velmora-plot: --quantity is for velmora-curve's CSV", "", 2, {}, fit_csv},
    {"fit_beside_a_curve", {plot},
     "velmora-plot: standard input:5: a fit CSV and velmora-curve's CSV cannot share", "",
     2, {}, fit_csv + oldest},
    {"tilt_scan_beside_a_distance_curve", {plot},
     "velmora-plot: a tilt scan and a curve against distance cannot share one plot", "",
     2, {}, scan_and_curve},
    {"relative_rate_of_a_distance_curve", {plot, "--quantity", "relative"},
     "velmora-plot: the relative rate is for a tilt scan", "", 2, {}, oldest},
    {"rate_error_not_a_number", {plot},
     "velmora-plot: standard input:2: rate_error_per_minute 'x' is not", "", 2, {},
     with_rate_error + "cos_squared,10,100,48,0.48,0.05,20,0,x\n"},
    {"fit_tilt_above_90", {plot},
     "velmora-plot: standard input:2: tilt_deg 95 is not from 0 to 90 degrees", "", 2, {},
     fit_header + "95,0,3,all,129,600,12.9,1.14,12.93,12.36," + fitted},
    {"detected_rate_not_in_the_csv", {plot, "--quantity", "detected"},
     "velmora-plot: standard input:2: rate_detected_per_minute is empty", "", 2, {},
     oldest},
};
// clang-format on

class commands : public testing::TestWithParam<command_case> {
protected:
  // The files the rows name, in a folder that is also the working folder.
  static void SetUpTestSuite() {
    mkdir(files.c_str(), 0755);
    ASSERT_EQ(chdir(files.c_str()), 0) << files;
    for (const char *name : {"k=v.csv", "k v.csv"}) {
      std::ofstream(name) << oldest;
    }
  }
};

TEST_P(commands, give_the_documented_result) {
  check_command(GetParam(), timeout_ms);
}

INSTANTIATE_TEST_SUITE_P(table, commands, testing::ValuesIn(cases),
                         [](const testing::TestParamInfo<command_case> &i) {
                           return i.param.name;
                         });

// The same CSV gives the same bytes: no date, no random id in the file.
TEST(plot_files, are_the_same_every_run) {
  for (const char *format : {"svg", "pdf", "png"}) {
    const std::vector<std::string> command{plot, "--format", format, tilt_csv};
    const child_result first = run_program(command, "", timeout_ms);
    const child_result second = run_program(command, "", timeout_ms);
    ASSERT_EQ(first.status, 0) << first.err;
    EXPECT_FALSE(first.out.empty());
    EXPECT_EQ(first.out, second.out) << format;
  }
}

} // namespace
