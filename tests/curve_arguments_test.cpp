// velmora-curve's command line read in-process: the telescope's options,
// what each refuses, and the law they imply.
#include "programs/curve_arguments.h"
#include "programs/curve_run.h"
#include "programs/fit_run.h"
#include "simulation/muon_range.h"
#include "simulation/muon_spectrum.h"
#include "text/shortest_text.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <map>
#include <ostream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

namespace {

curve_command read(std::vector<std::string> words) {
  words.insert(words.begin(), "velmora-curve");
  std::vector<char *> argv;
  argv.reserve(words.size() + 1);
  for (std::string &word : words) {
    argv.push_back(word.data());
  }
  argv.push_back(nullptr);
  return read_curve_command(static_cast<int>(words.size()), argv.data());
}

struct refusal_case {
  std::vector<std::string> words; // options and operands
  const char *problem_start;
  const char *option; // the field the problem concerns
};

void PrintTo(const refusal_case &c, std::ostream *os) {
  for (const std::string &word : c.words) {
    *os << word << ' ';
  }
}

const refusal_case refusals[] = {
    // The sky and the matter it meets.
    {{"--sky", "sun", "5"}, "sky 'sun' is not cos or spectrum", "sky"},
    {{"--sky", "spectrum", "--altitude", "5000", "5"},
     "altitude '5000' is not a number from 0 to 4000",
     "altitude"},
    {{"--sky", "spectrum", "--overburden", "marble:3", "5"},
     "overburden 'marble:3' is not MATERIAL:THICKNESS, the material one of "
     "lead,",
     "overburden"},
    {{"--sky", "spectrum", "--overburden", "rock:0", "5"},
     "overburden 'rock:0' has no THICKNESS above 0",
     "overburden"},
    {{"--sky", "spectrum", "--overburden", "rock:1e5", "5"},
     "overburden 'rock:1e5' is more than 1e5 g/cm^2",
     "overburden"},
    {{"--sky", "spectrum", "--overburden", "rock", "5"},
     "overburden 'rock' is not MATERIAL:THICKNESS",
     "overburden"},
    {{"--sky", "spectrum", "--overburden", "rock:", "5"},
     "overburden 'rock:' has no THICKNESS above 0",
     "overburden"},
    {{"--sky", "spectrum", "--overburden", "rock:g", "5"},
     "overburden 'rock:g' has no THICKNESS above 0",
     "overburden"},
    // Grams are not centimetres: 1e5 g/cm^2 of rock is fine, 1e5 cm not.
    {{"--sky", "spectrum", "--overburden", "rock:1e5g", "--overburden",
      "rock:1e-3", "--overburden", "lead:1", "--overburden", "water:1",
      "--overburden", "iron:1", "5"},
     "overburden 'iron:1' is one too many: at most 4 slabs lie above the "
     "telescope",
     "overburden"},
    {{"--sky", "spectrum", "--exponent", "1.5", "5"},
     "exponent '1.5' is not a spectrum index from 2 to 5",
     "exponent"},
    {{"--sky", "spectrum", "--intensity", "70", "5"},
     "--sky spectrum gives the sky's flux itself",
     "sky"},
    {{"--sky", "spectrum", "--absorber", "lead", "5"},
     "absorber 'lead' is not MATERIAL:WxLxT@DEPTH[,DX,DY] or MATERIAL:T@DEPTH, "
     "the material one of lead,",
     "absorber"},
    {{"--sky", "spectrum", "--absorber", "marble:2@1", "5"},
     "absorber 'marble:2@1' is not MATERIAL",
     "absorber"},
    {{"--sky", "spectrum", "--absorber", "lead:3", "5"},
     "absorber 'lead:3' is not MATERIAL:WxLxT@DEPTH",
     "absorber"},
    {{"--sky", "spectrum", "--absorber", "lead:thick@1", "5"},
     "absorber 'lead:thick@1' is not MATERIAL:WxLxT@DEPTH",
     "absorber"},
    {{"--sky", "spectrum", "--absorber", "lead:2@deep", "5"},
     "absorber 'lead:2@deep' is not MATERIAL:WxLxT@DEPTH",
     "absorber"},
    {{"--sky", "spectrum", "--absorber", "lead:-1@1", "5"},
     "absorber 'lead:-1@1' has no THICKNESS and DEPTH from 0 to 1e6 cm",
     "absorber"},
    {{"--sky", "spectrum", "--absorber", "lead:2e6@1", "5"},
     "absorber 'lead:2e6@1' has no THICKNESS",
     "absorber"},
    {{"--sky", "spectrum", "--absorber", "lead:1@-1", "5"},
     "absorber 'lead:1@-1' has no THICKNESS",
     "absorber"},
    {{"--sky", "spectrum", "--absorber", "lead:1@2e6", "5"},
     "absorber 'lead:1@2e6' has no THICKNESS",
     "absorber"},
    {{"--sky", "spectrum", "--absorber", "lead:0@1", "--absorber", "lead:0@1",
      "--absorber", "lead:0@1", "--absorber", "lead:0@1", "--absorber",
      "lead:0@1", "--absorber", "lead:0@1", "--absorber", "lead:0@2", "5"},
     "absorber 'lead:0@2' is one too many: at most 6 absorbers",
     "absorber"},
    {{"--sky", "spectrum", "--absorber", "lead:20x20x3@-1", "5"},
     "absorber 'lead:20x20x3@-1' is not MATERIAL:WxLxT@DEPTH",
     "absorber"},
    {{"--sky", "spectrum", "--layer", "10x31x2@3", "--absorber", "lead:4@4",
      "10"},
     "absorber 1 at depths 4 to 8 would lie in layer 2",
     "absorber"},
    {{"--sky", "spectrum", "--absorber", "lead:4@4", "3,10"},
     "absorber 1 would lie above the lower paddle at some distances and below "
     "it at others",
     "absorber"},
    {{"--sky", "spectrum", "--absorber", "lead:4@4", "6"},
     "absorber 1 at depths 4 to 8 would lie in the lower paddle at distance 6",
     "absorber"},
    {{"--absorber", "lead:4@4", "10"},
     "--absorber needs --sky spectrum",
     "absorber"},
    {{"--overburden", "rock:10", "5"},
     "--overburden needs --sky spectrum",
     "overburden"},
    {{"--sky", "spectrum", "--flux", "2", "5"},
     "--sky spectrum gives the sky's flux itself",
     "sky"},
    {{"--sky", "spectrum", "--exponent", "6", "5"},
     "exponent '6' is not a spectrum index from 2 to 5",
     "exponent"},
    {{"--sky", "spectrum", "--law", "isotropic", "5"},
     "--law isotropic takes no --sky spectrum",
     "law"},
    {{"--top", "0x31", "5"},
     "top paddle '0x31' is not a width and a length",
     "top"},
    {{"--top", "10x", "5"}, "top paddle '10x'", "top"},
    {{"--bottom", "-5x5", "5"}, "bottom paddle '-5x5'", "bottom"},
    {{"--paddles", "10x31x2x1", "5"}, "paddle '10x31x2x1'", "paddles"},
    {{"--bottom", "nanx5", "5"}, "bottom paddle 'nanx5'", "bottom"},
    {{"--top", "10*31", "5"}, "top paddle '10*31'", "top"},
    {{"--top", "10X31", "5"}, "top paddle '10X31'", "top"},
    {{"--paddles", "5x 5", "3"}, "paddle '5x 5' is not a width", "paddles"},
    {{"--top", " 5x5", "--bottom", "5x5", "3"}, "top paddle ' 5x5'", "top"},
    {{"--offset", "3", "5"}, "offset '3' is not two numbers", "offset"},
    {{"--offset", "3,inf", "5"}, "offset '3,inf'", "offset"},
    {{"--offset", "east,3", "5"}, "offset 'east,3' is not two", "offset"},
    {{"--offset", "3,north", "5"}, "offset '3,north' is not two", "offset"},
    {{"--exponent", "-1", "5"},
     "exponent '-1' is not a number from 0 to 10",
     "exponent"},
    {{"--exponent", "inf", "5"}, "exponent 'inf'", "exponent"},
    // A sky narrower than any measured one would make the tilted sampler
    // reject directions without bound.
    {{"--exponent", "10.5", "5"},
     "exponent '10.5' is not a number from 0 to 10",
     "exponent"},
    {{"--exponent", "1e300", "5"}, "exponent '1e300'", "exponent"},
    {{"--exponent", "nan", "5"}, "exponent 'nan'", "exponent"},
    {{"--help=x", "5"}, "option '--help' takes no value", ""},
    // No name begins every option's, the other command's taken for none.
    {{"--=5", "5"}, "option '--=5' is ambiguous: --law, --muons,", ""},
    {{"--version=", "5"}, "option '--version' takes no value", ""},
    {{"5", "nan"}, "distance 'nan' is not a finite number", "distances"},
    {{"--", "-inf,5"}, "distance '-inf' is not a finite number", "distances"},
    {{"0:inf:1"}, "distance 'inf' is not a finite number", "distances"},
    {{"1:1.00000000000001:1e-15"},
     "range '1:1.00000000000001:1e-15' has a STEP too small to tell its "
     "distances apart",
     "distances"},
    {{"--law", "both", "0:99999:1"},
     "2 laws and 100000 distances give more than 100000 rows",
     "law"},
    {{"--tilt", "91", "5"}, "tilt '91' is not from 0 to 90", "tilt"},
    {{"--tilt", "-5", "5"}, "tilt '-5' is not from 0 to 90", "tilt"},
    {{"--tilt", "0:100:10", "5"},
     "tilt '0:100:10' is not from 0 to 90",
     "tilt"},
    {{"--tilt", "nan", "5"}, "tilt 'nan' is not a finite number", "tilt"},
    {{"--tilt", "steep", "5"}, "tilt 'steep' is not a number", "tilt"},
    {{"--tilt", "10,,20", "5"},
     "tilt list '10,,20' has an empty entry",
     "tilt"},
    {{"--tilt-azimuth", "east", "5"},
     "tilt azimuth 'east' is not a number",
     "tilt-azimuth"},
    {{"--seed", "-1", "5"},
     "seed '-1' is not a whole number from 0 to "
     "4294967295",
     "seed"},
    {{"--seed", "4294967296", "5"}, "seed '4294967296'", "seed"},
    {{"--seed", "1.5", "5"}, "seed '1.5'", "seed"},
    {{"--top", "x5", "5"}, "top paddle 'x5'", "top"},
    {{"--bottom", "5xinf", "5"}, "bottom paddle '5xinf'", "bottom"},
    {{"--top", "5x0", "5"}, "top paddle '5x0': sizes run from 1e-6", "top"},
    {{"--offset", "inf,3", "5"}, "offset 'inf,3'", "offset"},
    {{"--exponent", "two", "5"}, "exponent 'two'", "exponent"},
    {{"--tilt", "0:steep:10", "5"}, "tilt 'steep' is not a number", "tilt"},
    {{"--tilt-azimuth", "inf", "5"}, "tilt azimuth 'inf'", "tilt-azimuth"},
    {{"--seed", "99999999999999999999", "5"},
     "seed '99999999999999999999'",
     "seed"},
    {{"--tilt", "0:90:1", "0:1200:1"},
     "91 tilts and 1201 distances give more than 100000 rows",
     "tilt"},
    {{"--law", "cos_squared", "--require", "all,2", "0:50000:1"},
     "1 tilt, 2 requirements and 50001 distances give more than 100000 rows",
     "tilt"},
    {{"--law", "isotropic", "--tilt", "10", "5"},
     "--law isotropic takes no --tilt, --exponent or thick upper paddle",
     "law"},
    {{"--exponent", "1.8", "--law", "both", "5"},
     "--law both takes no --tilt, --exponent or thick upper paddle",
     "law"},
    {{"--til", "10", "5"},
     "option '--til' is ambiguous: --tilt, --tilt-azimuth",
     ""},
    {{"--csv", "3"}, "option '--csv' is velmora-fit's, not this command's", ""},
    {{"--top"}, "option '--top' needs a value", ""},
    {{"--seed", "7"}, "no distances given", "distances"},
    // The telescope of layers, and what counts.
    {{"--top", "5x5", "3"}, "--top needs --bottom too; --paddles", "top"},
    {{"--bottom", "5x5", "3"}, "--bottom needs --top too", "bottom"},
    {{"--paddles", "5x5", "--top", "5x5", "--bottom", "5x5", "3"},
     "--paddles gives both paddles",
     "paddles"},
    {{"--paddles", "5x5", "--bottom", "5x5", "3"},
     "--paddles gives both paddles",
     "paddles"},
    {{"--paddles", "5x5x-1", "3"},
     "paddle '5x5x-1': sizes run from",
     "paddles"},
    // Sizes whose squares would overflow or underflow the sampler's areas.
    {{"--paddles", "5x5x1e300", "3"},
     "paddle '5x5x1e300': sizes run from 1e-6 to 1e6 cm",
     "paddles"},
    {{"--top", "1e-9x5", "3"},
     "top paddle '1e-9x5': sizes run from 1e-6 to 1e6 cm",
     "top"},
    {{"--offset", "0,-2e6", "3"},
     "offset '0,-2e6': depths and offsets run up to 1e6 cm",
     "offset"},
    {{"--offset", "-2e6,0", "3"}, "offset '-2e6,0': depths", "offset"},
    {{"--offset", "2e6,0", "3"},
     "offset '2e6,0': depths and offsets",
     "offset"},
    {{"--layer", "1x1@1,-2e6,0", "3"}, "layer '1x1@1,-2e6,0': depths", "layer"},
    {{"--layer", "1x1@1,0,2e6", "3"}, "layer '1x1@1,0,2e6': depths", "layer"},
    {{"--layer", "1x1@2e6", "3"},
     "layer '1x1@2e6': depths and offsets run up to 1e6 cm",
     "layer"},
    {{"--layer", "1x1x1e7@2", "3"},
     "layer '1x1x1e7@2': sizes run from 1e-6 to 1e6 cm",
     "layer"},
    {{"--paddles", "5,5x5", "3"},
     "paddle '5,5x5' is not a width and a length, and maybe a thickness, in "
     "cm joined by x, as 10x31 or 5x5x1 (write the decimal point as '.')",
     "paddles"},
    {{"--exponent", "1,85", "3"},
     "exponent '1,85' is not a number from 0 to 10 (write the decimal point "
     "as '.')",
     "exponent"},
    {{"--layer", "5x5", "3"}, "layer '5x5' is not a layer", "layer"},
    {{"--layer", "5x5@-1", "3"}, "layer '5x5@-1' is not a layer", "layer"},
    {{"--layer", "5x5@1,2", "3"}, "layer '5x5@1,2' is not a layer", "layer"},
    {{"--layer", "0x5@2", "3"}, "layer '0x5@2' is not a layer", "layer"},
    {{"--layer", "5x0@2", "3"}, "layer '5x0@2': sizes run from", "layer"},
    {{"--layer", "5x5@deep", "3"}, "layer '5x5@deep' is not a layer", "layer"},
    {{"--layer", "5x5@inf", "3"}, "layer '5x5@inf' is not a layer", "layer"},
    {{"--layer", "5x5@1,2,3,4", "3"}, "layer '5x5@1,2,3,4' is not", "layer"},
    {{"--layer", "5x5@1,2,east", "3"}, "layer '5x5@1,2,east' is not", "layer"},
    {{"--layer", "5x5x1@2", "--layer", "5x5@2.5", "9"},
     "layer 3 at depth 2.5 would lie in layer 2, which reaches depth 3",
     "layer"},
    // A thick layer in a thick one: its lower face must not decide.
    {{"--layer", "5x5x1@2", "--layer", "5x5x1@2.5", "9"},
     "layer 3 at depth 2.5 would lie in layer 2, which reaches depth 3",
     "layer"},
    {{"--layer", "5x5x1@2", "1:5:1"},
     "distance 1 would put the lower paddle above layer 2, which reaches "
     "depth 3",
     "distances"},
    {{"--paddles", "5x5x1", "--", "-1"},
     "distance -1 would put the lower paddle into the upper one",
     "distances"},
    {{"--layer", "1x1@1", "--layer", "1x1@2", "--layer", "1x1@3", "--layer",
      "1x1@4", "--layer", "1x1@5", "--layer", "1x1@6", "--layer", "1x1@7", "9"},
     "layer '1x1@7' is one too many: at most 6",
     "layer"},
    // Eight layers keep 7 x 128 x (distances + 2) counts a pass.
    {{"--law", "cos_squared", "--layer", "1x1@1", "--layer", "1x1@2", "--layer",
      "1x1@3", "--layer", "1x1@4", "--layer", "1x1@5", "--layer", "1x1@6",
      "9:4688:1"},
     "a telescope of 8 layers takes at most 4679 distances",
     "distances"},
    {{"--min-path", "0.5", "3"},
     "--min-path needs every layer to have a thickness",
     "min-path"},
    {{"--min-path", "-1", "3"}, "least path '-1'", "min-path"},
    {{"--min-path", "inf", "3"},
     "least path 'inf' is not a number from 0 to 1e+06",
     "min-path"},
    {{"--require", "all,4", "3"},
     "requirement '4' asks for more than the 2 layers",
     "require"},
    {{"--require", "1+3", "3"},
     "requirement '1+3' asks for more than the 2 layers",
     "require"},
    {{"--require", "1", "3"},
     "requirement '1' is not all, a number",
     "require"},
    {{"--require", "1+1", "3"},
     "requirement '1+1' is not two or more different layer numbers",
     "require"},
    {{"--require", "1+x", "3"}, "requirement '1+x' is not two", "require"},
    {{"--require", "1+0", "3"}, "requirement '1+0' is not two", "require"},
    {{"--require", "", "3"}, "requirement '' is not all", "require"},
    {{"--detection", "0.9", "3"},
     "--detection gives 1 detection probabilities for 2 layers",
     "detection"},
    {{"--detection", "0.9,1.1", "3"},
     "detection probability '1.1' in '0.9,1.1' is not a number from 0 to 1",
     "detection"},
    {{"--detection", "1,1,1,1,1,1,1,1,1", "3"},
     "detection probability '1,1,1,1,1,1,1,1,1' has more than 8 values",
     "detection"},
    {{"--noise", "5,-1", "3"}, "noise rate '-1' in '5,-1'", "noise"},
    {{"--noise", "5,loud", "3"},
     "noise rate 'loud' in '5,loud' is not a number from 0 to 1e+09",
     "noise"},
    {{"--noise", "5,2e9", "3"}, "noise rate '2e9' in '5,2e9'", "noise"},
    // Rates beyond every sky would overflow the largest telescope's.
    {{"--flux", "1e308", "3"},
     "flux '1e308' is not a number from 0 to 1e+06",
     "flux"},
    {{"--intensity", "2e8", "3"},
     "intensity '2e8' is not a number",
     "intensity"},
    {{"--noise", "inf,5", "3"}, "noise rate 'inf' in 'inf,5'", "noise"},
    {{"--window", "1e10", "3"},
     "window '1e10' is not a number from 0 to",
     "window"},
    {{"--precision", "5", "3"},
     "precision '5' is not a relative precision",
     "precision"},
    {{"--precision", "0", "3"}, "precision '0'", "precision"},
    {{"--precision", "high", "3"}, "precision 'high'", "precision"},
    {{"--flux", "2", "--intensity", "70", "3"},
     "--intensity and --flux both give the sky's flux",
     "intensity"},
    {{"--law", "isotropic", "--paddles", "5x5x1", "3"},
     "--law isotropic takes no --tilt, --exponent or thick upper paddle",
     "law"},
    {{"--threads", "0", "3"},
     "thread count '0' is not a whole number from 1",
     "threads"},
    {{"--threads", "many", "3"}, "thread count 'many'", "threads"},
    {{"--method", "exact", "3"},
     "method 'exact' is not mc or integral",
     "method"},
    // The exact integral's refusals, the distance named where it is the
    // cause.
    {{"--method", "integral", "--", "-1"},
     "--method integral needs distances from 0 to 1e6 cm (distance -1)",
     "method"},
    {{"--method", "integral", "0:2e6:1e6"},
     "--method integral needs distances from 0 to 1e6 cm (distance 2e+06)",
     "method"},
    // Thick layers are refused at the first tilt; the others change nothing.
    {{"--method", "integral", "--paddles", "5x5x1", "--tilt", "0,30", "5"},
     "--method integral needs thin layers",
     "method"},
    {{"--method", "integral", "--layer", "10x31@2", "2"},
     "--method integral needs the layers at different depths, or all at one",
     "method"},
    // Under the spectrum, only absorbers whose matter is the same for every
    // line of a direction, and the same at every azimuth.
    {{"--method", "integral", "--sky", "spectrum", "--absorber",
      "lead:10x31x2@1", "5"},
     "--method integral under --sky spectrum takes only absorbers across the "
     "whole telescope (MATERIAL:T@DEPTH): absorber 1 has edges, so that its "
     "threshold varies across the lines of a direction (distance 5)",
     "method"},
    {{"--method", "integral", "--sky", "spectrum", "--absorber", "lead:2@1",
      "--tilt", "0,30", "5"},
     "--method integral under --sky spectrum takes absorbers only with the "
     "telescope upright: tilted, the matter a muon crosses in absorber 1 "
     "depends on more than its zenith angle",
     "method"},
};

class refuses : public testing::TestWithParam<refusal_case> {};

TEST_P(refuses, naming_the_bad_text) {
  const refusal_case &c = GetParam();
  const curve_command command = read(c.words);
  EXPECT_EQ(command.problem.rfind(c.problem_start, 0), 0U) << command.problem;
  EXPECT_EQ(command.option, c.option);
}

INSTANTIATE_TEST_SUITE_P(table, refuses, testing::ValuesIn(refusals));

struct accepted_case {
  std::vector<std::string> words;
  std::vector<double> distances_cm; // as read
};

void PrintTo(const accepted_case &c, std::ostream *os) {
  for (const std::string &word : c.words) {
    *os << word << ' ';
  }
}

// The ends of each option's range are taken, and a range keeps its TO when
// STEP divides the span but rounding puts the quotient a hair below it.
const accepted_case acceptances[] = {
    {{"--muons", "2147483647", "5"}, {5}},
    {{"--exponent", "0", "5"}, {5}},
    {{"--exponent", "10", "5"}, {5}},
    {{"--flux", "0", "5"}, {5}},
    {{"0:0.3:0.1"}, {0, 0.1, 0.2, 0.3}},
    {{"--law", "cos_squared", "0:99999:1"}, {}},
    {{"--paddles", "5x5x0", "--layer", "5x5x1@0", "--layer", "5x5@1", "1"},
     {1}},
    {{"--paddles", "5x5x1", "--layer", "5x5x1@0,1,-1", "1"}, {1}},
    {{"--detection", "0,1", "--noise", "0,1e6", "--window", "0", "3"}, {3}},
    {{"--paddles", "5x5x1", "--min-path", "0.5", "3"}, {3}},
    {{"--sky", "cos", "--exponent", "10", "5"}, {5}},
    {{"--sky", "spectrum", "--exponent", "2", "--altitude", "0", "--overburden",
      "rock:1e5g", "5"},
     {5}},
    {{"--sky", "spectrum", "--exponent", "5", "--altitude", "4000", "5"}, {5}},
};

class accepts : public testing::TestWithParam<accepted_case> {};

TEST_P(accepts, the_ends_of_each_range) {
  const accepted_case &c = GetParam();
  const curve_command command = read(c.words);
  EXPECT_EQ(command.problem, "");
  if (!c.distances_cm.empty()) {
    EXPECT_EQ(command.arguments.distances_cm, c.distances_cm);
  }
}

INSTANTIATE_TEST_SUITE_P(table, accepts, testing::ValuesIn(acceptances));

// A tilt or an exponent asks for the flux law; the isotropic one has none.
TEST(curve_arguments, tilt_or_exponent_alone_means_the_flux_law) {
  for (const char *option : {"--tilt", "--exponent"}) {
    const curve_command command = read({option, "1.5", "0x1p3"});
    EXPECT_EQ(command.problem, "");
    EXPECT_EQ(command.arguments.laws,
              std::vector<zenith_law>{zenith_law::cos_squared});
  }
  const curve_command good =
      read({"--top=5x5", "--bottom", "0x1p1x3", "--offset", "-1,2.5", "--seed",
            "4294967295", "--tilt", "0:30:15", "--tilt-az", "90", "1"});
  ASSERT_EQ(good.problem, "");
  const telescope &s = good.arguments.scope;
  EXPECT_EQ(std::vector<double>({s.layers[0].width_cm, s.layers[0].length_cm,
                                 s.layers[1].width_cm, s.layers[1].length_cm,
                                 s.layers[1].x_cm, s.layers[1].y_cm}),
            std::vector<double>({5, 5, 2, 3, -1, 2.5}));
  EXPECT_EQ(good.arguments.seed, 4294967295U);
  EXPECT_EQ(good.arguments.tilts_deg, std::vector<double>({0, 15, 30}));
  EXPECT_EQ(good.arguments.tilt_azimuth_deg, 90);
  // The page checks one field at a time with the same readers.
  EXPECT_EQ(check_curve_option("distances", " 0:10:5  far"),
            "distance 'far' is not a number");
  EXPECT_EQ(check_curve_option("top", "25x25"), "");
  EXPECT_EQ(check_curve_option("distances", " \t"), "no distances given");
  EXPECT_EQ(check_curve_option("colour", "red"), "unknown option '--colour'");
  EXPECT_EQ(check_curve_option("help", ""), "unknown option '--help'");
  // The page checks velmora-fit's own options with the same code.
  EXPECT_EQ(check_curve_option("background", "free"), "");
  for (const char *rate : {"lots", "-1", "7e10"}) {
    EXPECT_EQ(check_curve_option("background", rate)
                  .rfind("background '" + std::string(rate) +
                             "' is not free or a rate",
                         0),
              0U);
  }
}

// The stack is put together from the top down, and the CSV names it so
// that two saved runs can be told apart.
TEST(curve_arguments, stack_is_read_from_the_top_down) {
  const curve_command command =
      read({"--paddles", "5x5x1", "--layer", "4x6x0.5@2,1,-1", "--offset",
            "0.5,0", "--intensity", "70", "--detection", "0.9,1,0.8", "3"});
  ASSERT_EQ(command.problem, "");
  EXPECT_EQ(telescope_text(command.arguments.scope),
            "5x5x1|4x6x0.5@2:1:-1|5x5x1@d:0.5:0");
  EXPECT_EQ(command.arguments.detection[2], 0.8);
  // J = 2 pi I / (N + 2): 70 m^-2 s^-1 sr^-1 is 0.66 cm^-2 min^-1.
  EXPECT_NEAR(command.arguments.flux, 2 * 3.14159265358979 * 70 / 4 * 60 / 1e4,
              1e-12);
  EXPECT_EQ(command.arguments.laws,
            std::vector<zenith_law>{zenith_law::cos_squared});
}

// The CSV's numbers must read as they always did: what std::to_chars
// writes, which not every C library has.
TEST(shortest_text, writes_what_to_chars_writes) {
  std::vector<double> values = {
      0.0,      -0.0,      1.0,         0.1,    0.3,    100,
      1e20,     1e21,      0.001,       0.0001, 123.5,  1e-5,
      2.5e-7,   -40,       1.0 / 3,     1e308,  5e-324, 2.2250738585072014e-308,
      HUGE_VAL, -HUGE_VAL, std::nan("")};
  std::mt19937_64 bits(7);
  for (int i = 0; i < 50000; ++i) {
    // Random bit patterns cover every exponent; random decimals the values
    // a user types and the ranges make.
    double value = 0.0;
    const std::uint64_t word = bits();
    std::memcpy(&value, &word, sizeof value);
    values.push_back(value);
    values.push_back(static_cast<double>(word % 100000) / 1000.0);
  }
  for (const double value : values) {
    char mine[32], theirs[32];
    const std::size_t length = shortest_text(value, mine);
    *std::to_chars(theirs, theirs + sizeof theirs - 1, value).ptr = '\0';
    ASSERT_EQ(std::string(mine, length), theirs) << value;
  }
}

// The page shows the share done between slices; a run of two passes of
// one slice each is half done after the first, and one of many slices a
// pass grows with every slice.
TEST(curve_run, tells_the_share_done) {
  const curve_command command = read({"--muons", "10", "5"});
  curve_run run = start_curve_run(command.arguments);
  std::string csv;
  std::vector<double> shares = {share_done(run)};
  while (run_slice(run, csv)) {
    shares.push_back(share_done(run));
  }
  EXPECT_EQ(shares, std::vector<double>({0, 0.5, 1}));
  EXPECT_EQ(csv.rfind("cos_squared,5,10,", 0), 0U) << csv;

  curve_run long_run = start_curve_run(
      read({"--law", "cos_squared", "--muons", "200000", "5"}).arguments);
  double before = share_done(long_run);
  int slices = 0;
  while (run_slice(long_run, csv)) {
    ++slices;
    EXPECT_GT(share_done(long_run), before);
    before = share_done(long_run);
  }
  EXPECT_GT(slices, 1);
  EXPECT_EQ(before, 1);

  // The integral draws no muons: nothing is done until its rows are.
  curve_run exact = start_curve_run(
      read({"--method", "integral", "--law", "cos_squared", "5"}).arguments);
  shares = {share_done(exact)};
  while (run_slice(exact, csv)) {
    shares.push_back(share_done(exact));
  }
  EXPECT_EQ(shares, std::vector<double>({0, 1}));
  // Stopped, it gives up before its first distance, with no rows.
  const std::atomic<bool> stopped{true};
  curve_run abandoned = start_curve_run(
      read({"--method", "integral", "--law", "cos_squared", "5"}).arguments);
  EXPECT_EQ(group_rows(abandoned.plan, 0, abandoned.tallies.data(), &stopped),
            "");
}

// Guards against a rate's error that leaves out a pass, or takes the
// efficiency's for the rate's: rates of four-layer requirements, two of
// which are met by tracks that miss the top, spread over independent seeds
// as their stated error says.
TEST(curve_run, rate_error_is_the_spread_over_seeds) {
  constexpr int seeds = 60;
  const char *const require[] = {"2", "3", "2+3"};
  const std::string header = curve_header;
  const auto error_column = static_cast<std::size_t>(std::count(
      header.begin(),
      header.begin() +
          static_cast<std::ptrdiff_t>(header.find("rate_error_per_minute")),
      ','));
  std::vector<double> sum(3), squares(3), stated(3);
  for (int seed = 1; seed <= seeds; ++seed) {
    curve_run run = start_curve_run(
        read({"--paddles", "20x20x1", "--layer", "20x20x1@4", "--layer",
              "20x20x1@9", "--require", "2,3,2+3", "--muons", "3000", "--seed",
              std::to_string(seed), "14"})
            .arguments);
    std::string csv;
    while (run_slice(run, csv)) {
    }
    std::istringstream rows(csv);
    for (std::string row; std::getline(rows, row);) {
      std::vector<std::string> fields;
      std::istringstream split_row(row);
      for (std::string f; std::getline(split_row, f, ',');) {
        fields.push_back(f);
      }
      for (std::size_t r = 0; r < 3; ++r) {
        if (fields[10] == require[r]) {
          const double rate = std::stod(fields[6]);
          sum[r] += rate;
          squares[r] += rate * rate;
          stated[r] += std::stod(fields.at(error_column)) / seeds;
        }
      }
    }
  }
  for (std::size_t r = 0; r < 3; ++r) {
    const double mean = sum[r] / seeds;
    const double spread =
        std::sqrt((squares[r] / seeds - mean * mean) * seeds / (seeds - 1));
    // The spread of 60 samples is known to about 9%.
    EXPECT_NEAR(spread, stated[r], 0.3 * stated[r]) << require[r];
  }
}

// The rows of an in-process velmora-curve run, each field by its column's
// name.
std::vector<std::map<std::string, std::string>>
curve_rows(const std::vector<std::string> &words) {
  curve_run run = start_curve_run(read(words).arguments);
  std::string csv = curve_header;
  while (run_slice(run, csv)) {
  }
  std::istringstream lines(csv);
  std::vector<std::vector<std::string>> table;
  for (std::string line; std::getline(lines, line);) {
    table.emplace_back();
    std::istringstream fields(line + ",");
    for (std::string f; std::getline(fields, f, ',');) {
      table.back().push_back(f);
    }
  }
  std::vector<std::map<std::string, std::string>> rows;
  for (std::size_t r = 1; r < table.size(); ++r) {
    rows.emplace_back();
    for (std::size_t c = 0; c < table[0].size(); ++c) {
      rows.back()[table[0][c]] = c < table[r].size() ? table[r][c] : "";
    }
  }
  return rows;
}

// Guards against the integral's rows under the spectrum scaled by another
// flux than that of the muons the Monte Carlo draws, or its efficiency
// taken over another box: both methods' rates and efficiencies, behind an
// overburden, an absorber across the stack and at altitude, for
// requirements that tracks missing the top meet too, within four standard
// errors.
TEST(curve_run, spectrum_integral_agrees_with_the_monte_carlo) {
  const std::vector<std::string> settings[] = {
      {"--overburden", "concrete:30", "--layer", "10x31@6,2,3", "--absorber",
       "lead:5@1", "--require", "all,2,2+3", "14"},
      {"--overburden", "concrete:30", "--altitude", "1500", "--tilt", "40",
       "--paddles", "20x20", "10"},
  };
  for (const std::vector<std::string> &setting : settings) {
    std::vector<std::string> words = {"--sky", "spectrum"};
    words.insert(words.end(), setting.begin(), setting.end());
    std::vector<std::string> counted = words;
    counted.insert(counted.begin(), {"--muons", "400000"});
    words.insert(words.begin(), {"--method", "integral"});
    const auto exact = curve_rows(words);
    const auto mc = curve_rows(counted);
    ASSERT_EQ(exact.size(), mc.size());
    for (std::size_t i = 0; i < exact.size(); ++i) {
      const auto number = [](const std::string &text) {
        return std::stod(text);
      };
      EXPECT_NEAR(number(exact[i].at("rate_per_minute")),
                  number(mc[i].at("rate_per_minute")),
                  4 * number(mc[i].at("rate_error_per_minute")))
          << setting.back() << ", " << mc[i].at("require");
      EXPECT_NEAR(number(exact[i].at("efficiency")),
                  number(mc[i].at("efficiency")),
                  4 * number(mc[i].at("std_error")))
          << setting.back() << ", " << mc[i].at("require");
    }
  }
}

// velmora-fit run in-process on `csv`.
fit_run fitted(std::vector<std::string> words, const std::string &csv) {
  words.insert(words.begin(), "velmora-fit");
  std::vector<char *> argv;
  argv.reserve(words.size() + 1);
  for (std::string &word : words) {
    argv.push_back(word.data());
  }
  argv.push_back(nullptr);
  const fit_command command =
      read_fit_command(static_cast<int>(words.size()), argv.data());
  EXPECT_EQ(command.problem, "");
  std::istringstream in(csv);
  fit_run run;
  EXPECT_EQ(start_fit(command, in, "data", run), "");
  for (fit_step step = fit_step::draw_again; step == fit_step::draw_again;) {
    for (std::size_t g = 0; g < models_to_work_out(run); ++g) {
      model_setting_of(run, g);
    }
    step = fit_models(run);
  }
  return run;
}

struct curve_fit_case {
  const char *name;
  std::vector<std::string> counter; // the options of both commands
  double background_per_minute;     // added to the counts
  std::vector<std::string> fit;     // velmora-fit's own options
  double flux, exponent;            // what the fit must give: J, or I
};

// Guards against a fit whose model is not the counter velmora-curve
// describes (a layer's singles taken for another's, or per second for per
// minute, moves J by a third), and against a minimiser that stops at the
// edge of its search: counts of 36000 s at each tilt made from
// velmora-curve's exact rates with detection, the accidentals of noise a
// fifth and more of the rate, and a background, fitted back.
TEST(fit_run, fits_counts_made_from_the_curve) {
  const std::vector<std::string> noisy = {"--noise", "1000,1000", "--window",
                                          "500"};
  const curve_fit_case cases[] = {
      {"J", noisy, 0, {}, 0.9424777961, 2},
      // Where the rate at I = 1 holds few of the accidentals, the first
      // guess of I falls far below it.
      {"I", noisy, 0, {"--intensity"}, 100, 2},
      {"J, background held",
       noisy,
       0.5,
       {"--background", "0.5"},
       0.9424777961,
       2},
      {"J, background fitted",
       noisy,
       0.5,
       {"--background", "free"},
       0.9424777961,
       2},
      {"detection",
       {"--detection", "0.9,0.8", "--noise", "3000,200", "--window", "300"},
       0,
       {},
       0.9424777961,
       2},
  };
  for (const curve_fit_case &c : cases) {
    std::vector<std::string> words = {"--method", "integral", "--intensity",
                                      "100",      "--tilt",   "0:90:15"};
    words.insert(words.end(), c.counter.begin(), c.counter.end());
    words.push_back("10");
    std::string csv = "tilt_deg,distance_cm,coincidences,live_time_s\n";
    for (const auto &row : curve_rows(words)) {
      const double per_minute = std::stod(row.at("rate_detected_per_minute")) +
                                std::stod(row.at("accidentals_per_minute")) +
                                c.background_per_minute;
      csv += row.at("tilt_deg") + ",10," +
             std::to_string(std::llround(per_minute * 600)) + ",36000\n";
    }
    std::vector<std::string> fit_words = c.counter;
    fit_words.insert(fit_words.end(), c.fit.begin(), c.fit.end());
    const fit_run run = fitted(fit_words, csv);
    EXPECT_NEAR(run.result.flux, c.flux, 2e-3 * c.flux) << c.name;
    EXPECT_NEAR(run.result.exponent, c.exponent, 2e-3) << c.name;
    EXPECT_NEAR(run.result.background, c.background_per_minute, 0.02) << c.name;
  }
}

// Guards against a fit under the spectrum whose model is not the curve's
// (the air or a slab of the overburden left out, or the index read as a
// cos^N exponent), and against a report that scales the implied intensity
// or names the sky otherwise than the normalisation found: counts of an
// hour at each tilt made from velmora-curve's exact rates behind two slabs
// at 500 m, fitted back to A = 1 and the paper's index.
TEST(fit_run, fits_spectrum_counts_made_from_the_curve) {
  const std::vector<std::string> sky = {
      "--sky",    "spectrum",   "--overburden", "concrete:30", "--overburden",
      "rock:10g", "--altitude", "500",          "--require",   "1+2"};
  std::vector<std::string> words = {"--method", "integral", "--tilt",
                                    "0:90:30"};
  words.insert(words.end(), sky.begin(), sky.end());
  words.push_back("20");
  std::string csv = "tilt_deg,distance_cm,coincidences,live_time_s\n";
  for (const auto &row : curve_rows(words)) {
    csv += row.at("tilt_deg") + ",20," +
           std::to_string(
               std::llround(std::stod(row.at("rate_per_minute")) * 60)) +
           ",3600\n";
  }
  const fit_run run = fitted(sky, csv);
  EXPECT_NEAR(run.result.flux, 1.0, 2e-3);
  EXPECT_NEAR(run.result.exponent, paper_index, 5e-3);
  const std::string report = fit_report(run);
  const auto after = [&](const std::string &text) {
    const std::size_t at = report.find(text);
    EXPECT_NE(at, std::string::npos) << text << '\n' << report;
    return at == std::string::npos ? NAN
                                   : std::stod(report.substr(at + text.size()));
  };
  // 30 cm of concrete at 2.3 g/cm^3; the standard atmosphere's 95461 Pa at
  // 500 m over g0.
  EXPECT_NE(report.find("\nsky: the muon spectrum of Shukla and Sankrith "
                        "(2018) under 973 g/cm^2 of air, below concrete of 69 "
                        "g/cm^2 and rock of 10 g/cm^2; background: none\n"),
            std::string::npos)
      << report;
  EXPECT_NEAR(after("\nnormalisation A of the spectrum = "), 1.0, 2e-3);
  // The PDG's 70 m^-2 s^-1 sr^-1 at sea level, which the spectrum's fit to
  // BESS puts 18% lower, a few percent more at 500 m.
  EXPECT_NEAR(after("\nvertical intensity above 1 GeV/c = "), 70, 0.2 * 70);
  // A threshold of little matter keeps the sky near cos^2, the slabs a
  // muon crosses more of aslant raise it a little.
  const double matching =
      after("\nthe cos^N it matches best at the telescope's threshold: N = ");
  EXPECT_GT(matching, 2.0);
  EXPECT_LT(matching, 2.3);
  EXPECT_NE(report.find(" the cos^N the fitted sky matches\n"),
            std::string::npos);
  // The CSV names the sky as the curve does, with A and its interval.
  std::istringstream lines(fit_csv(run));
  std::string header, row;
  std::getline(lines, header);
  std::getline(lines, row);
  std::map<std::string, std::string> field;
  std::istringstream names(header), values(row);
  for (std::string name, value;
       std::getline(names, name, ',') && std::getline(values, value, ',');) {
    field[name] = value;
  }
  EXPECT_EQ(field["sky"], "spectrum@500m+concrete:69g+rock:10g");
  EXPECT_EQ(field["require"], "1+2");
  EXPECT_NEAR(std::stod(field["normalisation"]), 1.0, 2e-3);
  EXPECT_LT(std::stod(field["normalisation_low"]), 1.0);
  EXPECT_GT(std::stod(field["normalisation_high"]), 1.0);
  EXPECT_NEAR(std::stod(field["matching_exponent"]), matching, 0.006);
}

// Guards against a fit that depends on how a lab split its log: rows that
// repeat a setting, as hourly counts do, fit as their sums do, and share a
// model.
TEST(fit_run, rows_of_one_setting_fit_as_their_sum) {
  const std::string columns = "tilt_deg,distance_cm,coincidences,live_time_s\n";
  const fit_run whole =
      fitted({}, columns + "0,10,1490,600\n45,10,1000,600\n90,10,150,600\n");
  const fit_run split =
      fitted({}, columns + "0,10,700,300\n45,10,480,300\n0,10,790,300\n"
                           "90,10,150,600\n45,10,520,300\n");
  EXPECT_EQ(models_to_work_out(split), 3U);
  EXPECT_NEAR(split.result.flux, whole.result.flux, 1e-7 * whole.result.flux);
  EXPECT_NEAR(split.result.exponent, whole.result.exponent, 1e-6);
  EXPECT_EQ(split.result.degrees_of_freedom, 3);
}

// Guards against muons drawn at the wrong energies or zenith angles, or
// stopped by the wrong matter: two thin paddles at no distance count every
// muon that gets through the overburden to the top, the top's area times
// the flux through a horizontal surface of the spectrum's muons above each
// zenith angle's threshold, integrated here by Simpson's rule, within four
// standard errors.
TEST(curve_run, spectrum_under_an_overburden_is_the_integral_above_it) {
  constexpr double pi = 3.14159265358979323846;
  const double grams = 100 * density_g_cm3(material::shielding_concrete);
  constexpr int steps = 4000;
  double flux = 0.0;
  for (int k = 0; k <= steps; ++k) {
    const double c = static_cast<double>(k) / steps;
    const double threshold =
        c == 0.0 ? HUGE_VAL
                 : muon_mass_gev + kinetic_energy_to_cross_gev(
                                       material::shielding_concrete, grams / c);
    const double f = c == 0.0 ? 0.0 : intensity_above(threshold, c) * c;
    flux += f * (k == 0 || k == steps ? 1 : k % 2 == 1 ? 4 : 2) / (3.0 * steps);
  }
  const double expected = 10 * 31 * 2 * pi * flux * 60 / 1e4;
  const auto row = curve_rows({"--sky", "spectrum", "--overburden",
                               "concrete:100", "--muons", "2000000", "0"})[0];
  const double rate = std::stod(row.at("rate_per_minute"));
  const double error = std::stod(row.at("rate_error_per_minute"));
  EXPECT_NEAR(rate, expected, 4 * error) << error;
}

// Guards against a slab that takes what it should not: one of no
// thickness, across the telescope or placed as a layer, changes no count
// of the spectrum's muons, tilted, through a stack.
TEST(curve_run, slab_of_no_thickness_changes_no_count) {
  const auto counts = [](std::vector<std::string> words) {
    words.insert(words.end(), {"--sky", "spectrum", "--muons", "100000",
                               "--tilt", "30", "--layer", "10x31@4", "10,20"});
    std::string rows;
    for (const auto &row : curve_rows(words)) {
      rows += row.at("coincidences") + "," + row.at("rate_per_minute") + "\n";
    }
    return rows;
  };
  const std::string without = counts({});
  EXPECT_EQ(counts({"--absorber", "lead:0@5"}), without);
  EXPECT_EQ(counts({"--absorber", "lead:10x31x0@5"}), without);
  const std::string behind_lead = counts({"--absorber", "lead:20@5"});
  EXPECT_NE(behind_lead, without);
  // Below the bottom, where the tracks that come up the axis meet it first.
  EXPECT_EQ(counts({"--absorber", "lead:20@5", "--absorber", "lead:0@25"}),
            behind_lead);
}

// The Monte Carlo draws its muons again where the fit lands far from where
// it drew them, but three times at most: after that the fit is taken.
TEST(fit_run, draws_again_three_times_at_most) {
  std::vector<std::string> words = {"velmora-fit", "--method", "mc",
                                    "--paddles", "10x31x1"};
  std::vector<char *> argv;
  argv.reserve(words.size() + 1);
  for (std::string &word : words) {
    argv.push_back(word.data());
  }
  argv.push_back(nullptr);
  const fit_command command =
      read_fit_command(static_cast<int>(words.size()), argv.data());
  // About what J = 0.1 and N = 4 give in ten minutes.
  std::istringstream in("tilt_deg,distance_cm,coincidences,live_time_s\n"
                        "0,10,176,600\n30,10,117,600\n60,10,32,600\n");
  fit_run run;
  ASSERT_EQ(start_fit(command, in, "data", run), "");
  for (std::size_t i = 0; i < run.problem.settings.size(); ++i) {
    model_setting_of(run, i);
  }
  EXPECT_EQ(fit_models(run), fit_step::draw_again);
  EXPECT_EQ(run.drawn_at, run.result.exponent);
  EXPECT_GT(run.drawn_at, 3.5);
  // Landing where it drew, it is taken.
  EXPECT_EQ(fit_models(run), fit_step::done);
  // Landing near, it is taken while the models' weighted error stays
  // within a tenth of the data's; a thousand times the counts, whose error
  // is 30 times smaller, put it beyond, and it draws again.
  run.drawn_at -= 0.1;
  EXPECT_EQ(fit_models(run), fit_step::done);
  for (setting &s : run.problem.settings) {
    s.coincidences *= 1000;
  }
  run.drawn_at -= 0.1;
  EXPECT_EQ(fit_models(run), fit_step::draw_again);
  run.drawn_at = 2.0; // where the models were drawn
  run.redraws = 3;
  EXPECT_EQ(fit_models(run), fit_step::done);
  EXPECT_EQ(run.drawn_at, 2.0);
}

} // namespace
