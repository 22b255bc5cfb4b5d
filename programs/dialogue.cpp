#include "programs/dialogue.h"
#include "programs/command_line.h"
#include "programs/output.h"
#include "text/shortest_text.h"

#include <cctype>
#include <cerrno> // program_invocation_short_name
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

const char help_format[] =
    "usage: %s [--help | --version]\n"
    "Asks for the distance in cm between two 10 cm x 31 cm scintillator "
    "paddles,\none above the other, and for a number of muons; throws that "
    "many muons\nthrough the upper paddle and writes how many also cross the "
    "lower one (the\ncoincidences) and the geometric efficiency.\n%s"
    "The answers may come from a pipe: printf '5\\n1000000\\n' | %s\n"
    "  --help      print this help and exit\n"
    "  --version   print the version and exit\n";

// How each program draws the zenith angle. The law of velmorauni keeps the
// name it has in the code and in velmora-curve's CSV, but what it draws is
// no isotropic sky: tracks uniform in cos(zenith) through a flat paddle are
// what a sky of intensity 1/cos sends, while an isotropic one sends them
// weighted by their cosine.
const char cos_squared_help[] =
    "Zenith angles: the cos^2 law of sea-level muons, intensity cos^2 per "
    "solid\nangle, seen through a horizontal paddle.\n";
const char uniform_cosine_help[] =
    "Zenith angles: the cosine of each track through the paddle is uniform "
    "(the\nlaw named isotropic), as from a sky of intensity 1/cos per solid "
    "angle; an\nisotropic sky would weight each track by its cosine.\n";

const char distance_what[] = "the distance between scintillators";
const char count_what[] = "the number of muons to simulate";
const char count_prompt[] = " Number of muons to simulate: ";

// Longest piece of unreadable input quoted back in an error message.
constexpr int quoted_max = 24;

// Input kept to be quoted back: at most quoted_max bytes, with bytes that
// are not printable ASCII masked so that no control sequence reaches the
// terminal.
struct typed_text {
  char text[quoted_max + 1];
  int length;
};

void keep(typed_text &typed, int ch) {
  if (typed.length < quoted_max) {
    typed.text[typed.length++] = std::isprint(ch) ? static_cast<char>(ch) : '?';
  }
  typed.text[typed.length] = '\0';
}

// Says on standard error why `what` could not be read and ends the process;
// nothing is simulated from a value that was never set.
[[noreturn]] void refuse(const char *what, const char *reason) {
  std::fprintf(stderr, "%s: could not read %s: %s\n",
               program_invocation_short_name, what, reason);
  std::exit(1);
}

[[noreturn]] void refuse_typed(const char *what, const typed_text &typed,
                               const char *problem) {
  char reason[quoted_max + 64];
  std::snprintf(reason, sizeof reason, "\"%s\" %s", typed.text, problem);
  refuse(what, reason);
}

// The input ended or failed where `what` was expected.
[[noreturn]] void refuse_missing(const char *what) {
  refuse(what, std::ferror(stdin) ? "the input could not be read"
                                  : "the input ended");
}

// After "%lf" failed: quotes the word that stands where the number should.
[[noreturn]] void refuse_unread(const char *what) {
  if (std::ferror(stdin) || std::feof(stdin)) {
    refuse_missing(what);
  }
  typed_text word{{}, 0};
  for (int ch = std::getchar(); ch != EOF && !std::isspace(ch);
       ch = std::getchar()) {
    keep(word, ch);
  }
  if (word.length == 0) {
    // A lone sign, say, with the line end straight after it.
    refuse(what, "not a number");
  }
  refuse_typed(what, word, "is not a number");
}

// Writes a prompt and makes it visible before the program waits for input.
// Output that cannot be written ends the run here, before any simulating.
void prompt(const char *text) {
  std::printf("%s", text);
  flush_or_exit("the prompt");
}

// Reads the distance with "%lf": any value that converts is used as typed.
double read_distance() {
  double distance_cm = 0.0;
  if (std::scanf("%lf", &distance_cm) != 1) {
    refuse_unread(distance_what);
  }
  return distance_cm;
}

// Reads the muon count: after white space, as "%d" skips it, a decimal
// whole number with an optional sign, then nothing but blanks up to the end
// of its line or of the input. Read by hand rather than with "%d", which
// would stop at the first character that is no digit and so run 1 muon for
// "1e6" or "1,000,000". On a clean line exactly one character, the line
// end, is consumed after the digits. A count beyond 32 bits is refused
// rather than wrapped into some unrelated number of trials.
//
// The rest of the distance's line is read before the count's prompt is
// written: at a terminal, "3 cm" is refused as soon as it is typed rather
// than after a prompt for a count that will never be taken. When the line
// ends there the prompt is written straight away, before the count's own
// line is waited for; when the count stands on the same line ("5 1000") it
// is written once that count has been read and found in range.
std::int32_t read_muon_count(double distance_cm) {
  bool blank_before = false;
  int ch = std::getchar();
  for (; ch != '\n' && ch != EOF && std::isspace(ch); ch = std::getchar()) {
    blank_before = true;
  }
  const bool on_distance_line = ch != '\n' && ch != EOF;
  if (!on_distance_line) {
    prompt(count_prompt);
    for (; ch != EOF && std::isspace(ch); ch = std::getchar()) {
    }
    if (ch == EOF) {
      refuse_missing(count_what);
    }
  }
  typed_text typed{{}, 0};
  const bool negative = ch == '-';
  if (ch == '+' || ch == '-') {
    keep(typed, ch);
    ch = std::getchar();
  }
  // Grows no further once beyond every count, 2^31 and below in magnitude,
  // so that it cannot overflow however many digits follow.
  constexpr long long beyond_every_count = 1LL << 32;
  long long magnitude = 0;
  bool digits = false;
  for (; std::isdigit(ch); ch = std::getchar()) {
    digits = true;
    keep(typed, ch);
    if (magnitude < beyond_every_count) {
      magnitude = 10 * magnitude + (ch - '0');
    }
  }
  bool clean = digits;
  int quoted_length = typed.length; // what to quote: trailing blanks left off
  for (; ch != '\n' && ch != EOF; ch = std::getchar()) {
    clean = clean && std::isspace(ch);
    keep(typed, ch);
    if (!std::isspace(ch)) {
      quoted_length = typed.length;
    }
  }
  // A read error in the middle of a line; the tests cannot make one.
  if (std::ferror(stdin)) {     // GCOVR_EXCL_BR_LINE
    refuse_missing(count_what); // GCOVR_EXCL_LINE
  }
  typed.length = quoted_length;
  typed.text[quoted_length] = '\0';
  if (!clean && !digits && on_distance_line) {
    // A word on the distance's own line that is no number belongs to the
    // distance: "25 cm".
    typed_text line{{}, 0};
    char distance[32];
    shortest_text(distance_cm, distance);
    for (const char *c = distance; *c != '\0'; ++c) {
      keep(line, *c);
    }
    if (blank_before) {
      keep(line, ' ');
    }
    for (int i = 0; i < typed.length; ++i) {
      keep(line, typed.text[i]);
    }
    refuse_typed(distance_what, line, "is not a number");
  }
  if (!clean) {
    refuse_typed(count_what, typed,
                 digits ? "is not a whole number written in digits"
                        : "is not a number");
  }
  const long long muons = negative ? -magnitude : magnitude;
  if (!count_in_range(muons)) {
    std::fprintf(stderr,
                 "%s: the number of muons to simulate is out of range: "
                 "the largest allowed count is %d\n",
                 program_invocation_short_name, INT32_MAX);
    std::exit(1);
  }
  if (on_distance_line) {
    prompt(count_prompt);
  }
  return static_cast<std::int32_t>(muons);
}

} // namespace

bool count_in_range(long long muons) {
  return muons >= INT32_MIN && muons <= INT32_MAX;
}

void read_dialogue_arguments(int argc, char **argv, zenith_law law) {
  if (argc < 2) {
    return;
  }
  const bool help = std::strcmp(argv[1], "--help") == 0;
  const bool version = std::strcmp(argv[1], "--version") == 0;
  if (argc == 2 && help) {
    std::printf(help_format, program_invocation_short_name,
                law == zenith_law::cos_squared ? cos_squared_help
                                               : uniform_cosine_help,
                program_invocation_short_name);
    finish_help();
  }
  if (argc == 2 && version) {
    print_version();
  }
  char problem[160];
  std::snprintf(problem, sizeof problem,
                "unexpected argument '%.64s' (the program asks for its input "
                "at the prompts)",
                help || version ? argv[2] : argv[1]);
  refuse_command_line(problem);
}

void run_dialogue(zenith_law law) {
  std::printf("\n PROGRAM THAT CALCULATES THE GEOMETRIC EFFICIENCY");
  std::printf("\n   FOR A FIXED DISTANCE BETWEEN SCINTILLATORS");
  std::puts("\n\t   (SCINTILLATORS DIMENSIONS: 10x31 cm2)");

  prompt("\n Distance between scintillators in cm: ");
  const double distance_cm = read_distance();
  const std::int32_t muons = read_muon_count(distance_cm);

  const std::int32_t coincidences =
      simulate_coincidences(distance_cm, muons, law);
  // 0/0 is NaN and 0/negative is -0.0; both are printed as they come.
  const double efficiency =
      static_cast<double>(coincidences) / static_cast<double>(muons);

  std::printf("\n Number of coicidences = %d", coincidences);
  std::printf("\n Geometric Efficiency  = %3.3lf\n\n", efficiency);
  flush_or_exit("the result");
}
