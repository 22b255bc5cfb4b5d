// End-to-end tests of both programs, run behind pipes as a script runs them.
#include "child_process.h"
#include "programs/dialogue.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <ostream>
#include <stdexcept>
#include <string>

namespace {

const char *const velmora = VELMORA_PATH;
const char *const velmorauni = VELMORAUNI_PATH;

constexpr int timeout_ms = 20000;

// Everything a run writes before its result: banner and both prompts.
const std::string before_result =
    "\n PROGRAM THAT CALCULATES THE GEOMETRIC EFFICIENCY"
    "\n   FOR A FIXED DISTANCE BETWEEN SCINTILLATORS"
    "\n\t   (SCINTILLATORS DIMENSIONS: 10x31 cm2)\n"
    "\n Distance between scintillators in cm: "
    " Number of muons to simulate: ";

std::string transcript(const char *coincidences, const char *efficiency) {
  return before_result + "\n Number of coicidences = " + coincidences +
         "\n Geometric Efficiency  = " + efficiency + "\n\n";
}

std::string digits(char first, size_t count) {
  return first + std::string(count - 1, '0');
}

enum class outcome {
  transcript, // exit 0, exactly this standard output, silent standard error
  refused,    // exit 1, this text on standard error, no result line
  sigpipe,    // ended by SIGPIPE, silent standard error
};

// Fields in the order a row reads best, not the most compact one.
struct dialogue_case { // NOLINT(clang-analyzer-optin.performance.Padding)
  const char *name;
  const char *program;
  std::string input;
  outcome expected;
  std::string text; // standard output, or what standard error must say
  child_options options = {};
};

const child_options full_device{nullptr, output_to::full_device};
const child_options output_closed{nullptr, output_to::closed};
// A reader that takes one byte and goes away, as `| head -c 1` does.
const child_options reader_leaves{nullptr, output_to::pipe, "C", 1};
// A locale that writes 5,5 for 5.5: the programs must not take it up.
const char comma_locale[] = "de_DE.UTF-8";
const child_options in_comma_locale{nullptr, output_to::pipe, comma_locale};

// Names a failing row by its name rather than by its bytes.
void PrintTo(const dialogue_case &c, std::ostream *os) {
  *os << c.name;
}

// How many of the two result lines the output holds.
int result_lines(const std::string &out) {
  return (out.find("\n Number of coicidences = ") != std::string::npos) +
         (out.find("\n Geometric Efficiency  = ") != std::string::npos);
}

// The pinned counts were cross-checked against an independent rewrite of the
// trial in Python that calls the same libc rand() and libm pow, sqrt, sin and
// cos through ctypes; they also agree with the analytic acceptance (0.6994
// for the cos^2 law at 5 cm) within binomial error. A change in the order of
// the draws or in the arithmetic of a trial shows here at once.
const dialogue_case cases[] = {
    {"velmora_full_transcript", velmora, "5\n100000\n", outcome::transcript,
     "\n PROGRAM THAT CALCULATES THE GEOMETRIC EFFICIENCY\n   FOR A FIXED "
     "DISTANCE BETWEEN SCINTILLATORS\n\t   (SCINTILLATORS DIMENSIONS: 10x31 "
     "cm2)\n\n Distance between scintillators in cm:  Number of muons to "
     "simulate: \n Number of coicidences = 69921\n Geometric Efficiency  = "
     "0.699\n\n"},
    {"velmorauni_full_transcript", velmorauni, "5\n100000\n",
     outcome::transcript, transcript("37198", "0.372")},
    {"velmora_pinned_far", velmora, "40\n10000\n", outcome::transcript,
     transcript("945", "0.095")},
    {"velmorauni_pinned_far", velmorauni, "40\n10000\n", outcome::transcript,
     transcript("284", "0.028")},
    {"velmorauni_pinned_near", velmorauni, "5\n1000\n", outcome::transcript,
     transcript("358", "0.358")},
    // 0/0 is written as the platform writes the NaN its division yields:
    // -nan on x86-64, nan on ARM; either is accepted.
    {"count_zero", velmora, "5\n0\n", outcome::transcript,
     transcript("0", "-nan")},
    {"count_negative", velmorauni, "5\n-7\n", outcome::transcript,
     transcript("0", "-0.000")},
    {"count_smallest", velmora, "5\n-2147483648\n", outcome::transcript,
     transcript("0", "-0.000")},
    {"count_one", velmora, "10\n1\n", outcome::transcript,
     transcript("1", "1.000")},
    {"velmora_distance_zero", velmora, "0\n1000\n", outcome::transcript,
     transcript("1000", "1.000")},
    {"velmorauni_distance_zero", velmorauni, "0\n1000\n", outcome::transcript,
     transcript("1000", "1.000")},
    // Only blanks may follow the count on its line; the lines after it are
    // never read.
    {"count_signed_with_blanks_after", velmora, "5\n\n+1000 \t\nmore\n",
     outcome::transcript, transcript("707", "0.707")},
    {"crlf_line_ends", velmora, "5\r\n1000\r\n", outcome::transcript,
     transcript("707", "0.707")},
    {"last_line_without_newline", velmora, "5\n1000", outcome::transcript,
     transcript("707", "0.707")},
    {"both_numbers_on_one_line", velmora, "5 1000\n", outcome::transcript,
     transcript("707", "0.707")},
    // The locale of the environment is not taken up: 5.5 is five and a half.
    {"comma_decimal_locale", velmora, "5.5\n1000\n", outcome::transcript,
     transcript("684", "0.684"), in_comma_locale},
    {"distance_hexadecimal", velmora, "0x0p+0\n1000\n", outcome::transcript,
     transcript("1000", "1.000")},
    // Infinite or NaN distances put every landing point off the paddle.
    {"distance_inf", velmora, "inf\n1000\n", outcome::transcript,
     transcript("0", "0.000")},
    {"distance_nan", velmorauni, "nan\n1000\n", outcome::transcript,
     transcript("0", "0.000")},
    {"distance_overflows_to_inf", velmora, "1e999\n1000\n", outcome::transcript,
     transcript("0", "0.000")},
    {"distance_of_10000_digits", velmora, digits('1', 10000) + "\n1000\n",
     outcome::transcript, transcript("0", "0.000")},
    // Mirrored tracks: the same draws as at +5 cm land elsewhere.
    {"distance_negative", velmora, "-5\n1000\n", outcome::transcript,
     transcript("711", "0.711")},

    {"empty_input", velmora, "", outcome::refused,
     "could not read the distance between scintillators: the input ended"},
    {"white_space_only", velmorauni, " \n\t \r\n", outcome::refused,
     "could not read the distance between scintillators: the input ended"},
    {"minus_alone", velmora, "-", outcome::refused,
     "could not read the distance between scintillators"},
    {"plus_alone", velmora, "+\n1000\n", outcome::refused,
     "could not read the distance between scintillators: not a number"},
    {"distance_is_a_word", velmora, "far", outcome::refused,
     "could not read the distance between scintillators: \"far\" is not a "
     "number"},
    // Control bytes are masked so that they never reach the user's terminal.
    {"binary_bytes", velmora, std::string("\x01\x1b[2J\xff\0\n", 8),
     outcome::refused,
     "could not read the distance between scintillators: \"?\?[2J??\" is "
     "not a number"},
    // What "%d" would have read as 1 or 10 muons is refused, whole.
    {"count_with_trailing_text", velmora, "5\n1000 and more\nlines\n",
     outcome::refused,
     "number of muons to simulate: \"1000 and more\" is not a whole number "
     "written in digits"},
    {"count_in_exponent_notation", velmora, "5\n1e6\n", outcome::refused,
     "\"1e6\" is not a whole number"},
    {"count_with_commas", velmora, "5\n1,000,000\r\n", outcome::refused,
     "\"1,000,000\" is not a whole number"},
    {"count_with_spaces", velmorauni, "5\n1 000 000\n", outcome::refused,
     "\"1 000 000\" is not a whole number"},
    {"count_as_a_power", velmora, "5\n10^6", outcome::refused,
     "\"10^6\" is not a whole number"},
    {"count_with_decimals", velmora, "5\n1.5\n", outcome::refused,
     "\"1.5\" is not a whole number"},
    {"count_sign_alone", velmora, "5\n-\n", outcome::refused,
     "number of muons to simulate: \"-\" is not a number"},
    // A word after the distance on its own line belongs to the distance.
    {"distance_with_unit", velmora, "25 cm\n1000\n", outcome::refused,
     "could not read the distance between scintillators: \"25 cm\" is not a "
     "number"},
    {"distance_with_unit_attached", velmorauni, "2.5e1cm\n1000\n",
     outcome::refused, "distance between scintillators: \"25cm\" is not"},
    {"count_is_a_word_at_the_end", velmora, "5\nmany", outcome::refused,
     "could not read the number of muons to simulate: \"many\" is not a "
     "number"},
    {"count_missing", velmora, "5\n", outcome::refused,
     "could not read the number of muons to simulate: the input ended"},
    {"count_missing_after_an_unended_line", velmorauni, "5", outcome::refused,
     "could not read the number of muons to simulate: the input ended"},
    {"count_is_a_long_word", velmorauni,
     "5\nabcdefghijklmnopqrstuvwxyz0123456789\n", outcome::refused,
     "could not read the number of muons to simulate: "
     "\"abcdefghijklmnopqrstuvwx\" is not a number"},
    // "%d" would wrap these into unrelated counts (3000000000 would run
    // -1294967296 trials, -3000000000 would run 1294967296).
    {"count_one_past_largest", velmora, "5\n2147483648\n", outcome::refused,
     "out of range: the largest allowed count is 2147483647"},
    {"count_one_below_smallest", velmora, "5\n-2147483649\n", outcome::refused,
     "out of range: the largest allowed count is 2147483647"},
    {"count_three_billion", velmorauni, "5\n3000000000\n", outcome::refused,
     "out of range"},
    {"count_minus_three_billion", velmora, "5\n-3000000000\n", outcome::refused,
     "out of range"},
    {"count_of_10000_digits", velmora, "5\n" + digits('9', 10000) + "\n",
     outcome::refused, "out of range"},
    // Digits after the smallest count, or after the largest one with a
    // sign, once read as that count: a run of -2147483648 or -2147483647.
    {"count_smallest_then_a_digit", velmora, "5\n-21474836480\n",
     outcome::refused, "out of range"},
    {"count_largest_then_a_digit", velmorauni, "5\n-21474836470\n",
     outcome::refused, "out of range"},
    // A result that never reached its reader is no success.
    {"output_to_a_full_device", velmora, "5\n100\n", outcome::refused,
     "velmora: could not write the prompt: No space left on device",
     full_device},
    {"output_closed", velmorauni, "5\n100\n", outcome::refused,
     "velmorauni: could not write the prompt: Bad file descriptor",
     output_closed},
    // As any filter: `velmora | head -c 1` ends the program by SIGPIPE.
    {"reader_goes_away", velmora, "5\n100\n", outcome::sigpipe, "",
     reader_leaves},
};

// What the row expects with 0/0 written as ARM writes it.
std::string with_unsigned_nan(std::string text) {
  const size_t at = text.find("-nan");
  return at == std::string::npos ? text : text.erase(at, 1);
}

class dialogue : public testing::TestWithParam<dialogue_case> {};

TEST_P(dialogue, gives_the_documented_output) {
  const dialogue_case &c = GetParam();
  if (!locale_installed(c.options.locale)) {
    // CI installs it and sets VELMORA_REQUIRE_LOCALES: no skipping there.
    ASSERT_EQ(std::getenv("VELMORA_REQUIRE_LOCALES"), nullptr)
        << c.options.locale << " is not installed";
    GTEST_SKIP() << c.options.locale << " is not installed";
  }
  const child_result r =
      run_program({c.program}, c.input, timeout_ms, c.options);
  ASSERT_FALSE(r.timed_out);
  switch (c.expected) {
  case outcome::transcript:
    EXPECT_EQ(r.status, 0);
    if (r.out != with_unsigned_nan(c.text)) {
      EXPECT_EQ(r.out, c.text);
    }
    EXPECT_EQ(r.err, "");
    break;
  case outcome::sigpipe:
    EXPECT_EQ(r.signal, SIGPIPE) << r.status;
    EXPECT_EQ(r.err, "");
    break;
  case outcome::refused:
    EXPECT_EQ(r.status, 1);
    // One line of our own; a sanitizer's report would make more.
    EXPECT_NE(r.err.find(c.text), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << r.err;
    EXPECT_EQ(result_lines(r.out), 0) << r.out;
    break;
  }
}

INSTANTIATE_TEST_SUITE_P(table, dialogue, testing::ValuesIn(cases),
                         [](const testing::TestParamInfo<dialogue_case> &i) {
                           return i.param.name;
                         });

// A read error (here: standard input is a directory) is not taken for the
// end of the input.
// Guards the ends of the counts a run takes, which only the largest-count
// run otherwise reaches: 2147483647 is run, one more is refused.
TEST(count_in_range, holds_both_ends) {
  EXPECT_TRUE(count_in_range(2147483647LL));
  EXPECT_FALSE(count_in_range(2147483648LL));
  EXPECT_TRUE(count_in_range(-2147483648LL));
  EXPECT_FALSE(count_in_range(-2147483649LL));
}

TEST(input, that_cannot_be_read_is_refused) {
  const child_result r = run_program({velmorauni}, "", timeout_ms, {"/"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "velmorauni: could not read the distance between "
                   "scintillators: the input could not be read\n");
}

// Guards against prompts left in the output buffer: with standard input
// still open, each prompt must arrive before its answer is written.
TEST(prompts, are_flushed_before_each_read) {
  for (const char *program : {velmora, velmorauni}) {
    child_process child({program}, {});
    std::string out;
    ASSERT_TRUE(read_until(child, out, "in cm: ", timeout_ms)) << out;
    write_input(child, "5\n");
    ASSERT_TRUE(read_until(child, out, "to simulate: ", timeout_ms)) << out;
    write_input(child, "10\n");
    const child_result r = finish_child(child, timeout_ms);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(result_lines(r.out), 2) << r.out;
  }
}

// At a terminal the distance's line is checked as soon as it is typed: a
// line that holds no count after the distance is refused before the count
// is asked for, with the input still open.
TEST(prompts, none_after_a_distance_line_that_is_refused) {
  for (const char *line : {"3 cm\n", "5 1000 and more\n"}) {
    child_process child({velmora}, {});
    std::string out;
    ASSERT_TRUE(read_until(child, out, "in cm: ", timeout_ms)) << out;
    write_input(child, line);
    EXPECT_FALSE(read_until(child, out, "to simulate: ", timeout_ms)) << line;
    const child_result r = finish_child(child, timeout_ms);
    EXPECT_EQ(r.status, 1) << line;
    EXPECT_EQ(r.err.find("velmora: could not read "), 0U) << r.err;
  }
}

// How many descriptors this process has open.
int open_descriptors() {
  int count = 0;
  for (int fd = 0; fd < 1024; ++fd) {
    count += fcntl(fd, F_GETFD) != -1;
  }
  return count;
}

// Some runners start their tests with SIGCHLD ignored: the kernel then reaps
// each child itself and its status is lost. The harness takes the default
// back, and a status it cannot collect is an error, never an exit 0.
TEST(harness, never_takes_a_lost_status_for_success) {
  std::signal(SIGCHLD, SIG_IGN);
  const child_result refused = run_program({velmora}, "far\n", timeout_ms);
  EXPECT_EQ(refused.status, 1);
  const child_result killed =
      run_program({velmorauni}, "5\n100\n", timeout_ms, reader_leaves);
  EXPECT_EQ(killed.signal, SIGPIPE);
  child_process child({velmora}, {});
  std::signal(SIGCHLD, SIG_IGN); // while the child waits for its input
  EXPECT_THROW(finish_child(child, timeout_ms), std::runtime_error);
  std::signal(SIGCHLD, SIG_DFL);
}

// A child that cannot be started leaves no descriptor of its set-up open:
// here the input file fails to open after all three pipes are made. (A
// program that cannot be spawned is no test of it: under qemu-user the
// spawn succeeds and the child exits 127.)
TEST(harness, closes_everything_when_a_child_cannot_start) {
  const int before = open_descriptors();
  EXPECT_THROW(child_process child({velmora}, {"/nonexistent/input"}),
               std::runtime_error);
  EXPECT_EQ(open_descriptors(), before);
}

// The largest count runs every trial without the loop counter overflowing.
// At distance 0 only the rare edge draws (the generator at its maximum for x
// or y, or 0 for the cos^2 law's cosine) could fail to count.
TEST(largest_count, runs_every_trial) {
  const child_result r =
      run_program({velmora}, "0\n2147483647\n", 3 * 3600 * 1000);
  ASSERT_FALSE(r.timed_out);
  EXPECT_EQ(r.status, 0);
  // None of the rare edge draws occurs in this stretch of the sequence.
  EXPECT_EQ(r.out, transcript("2147483647", "1.000"));
}

} // namespace
