#include "programs/dialogue.h"
#include "programs/output.h"

#include <cctype>
#include <cerrno> // program_invocation_short_name
#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

// Longest piece of unreadable input quoted back in an error message.
constexpr int quoted_max = 24;

// Copies the next word of input into `quoted` (at most quoted_max bytes),
// masking bytes that are not printable ASCII so that no control sequence
// reaches the terminal; returns its length.
int quote_next_word(char (&quoted)[quoted_max + 1]) {
  int length = 0;
  for (int ch = std::getchar(); ch != EOF && !std::isspace(ch);
       ch = std::getchar()) {
    if (length == quoted_max) {
      break;
    }
    quoted[length++] = std::isprint(ch) ? static_cast<char>(ch) : '?';
  }
  quoted[length] = '\0';
  return length;
}

// Says on standard error why `what` could not be read and ends the process;
// nothing is simulated from a value that was never set.
[[noreturn]] void refuse_unread(const char *what) {
  const char *reason = "the input ended";
  char not_a_number[quoted_max + 24];
  if (std::ferror(stdin)) {
    reason = "the input could not be read";
  } else if (!std::feof(stdin)) {
    // An empty word: a lone sign, say, with the line end straight after it.
    reason = "not a number";
    char quoted[quoted_max + 1];
    if (quote_next_word(quoted) > 0) {
      std::snprintf(not_a_number, sizeof not_a_number, "\"%s\" is not a number",
                    quoted);
      reason = not_a_number;
    }
  }
  std::fprintf(stderr, "%s: could not read %s: %s\n",
               program_invocation_short_name, what, reason);
  std::exit(1);
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
    refuse_unread("the distance between scintillators");
  }
  return distance_cm;
}

// Reads the muon count. "%lld" consumes exactly the characters "%d" would,
// but keeps a count beyond 32 bits detectable instead of letting it wrap
// into some unrelated number of trials.
std::int32_t read_muon_count() {
  long long muons = 0;
  if (std::scanf("%lld", &muons) != 1) {
    refuse_unread("the number of muons to simulate");
  }
  // Normally the end of the line typed after the count.
  std::getchar();
  if (muons < INT32_MIN || muons > INT32_MAX) {
    std::fprintf(stderr,
                 "%s: the number of muons to simulate is out of range: "
                 "the largest allowed count is %d\n",
                 program_invocation_short_name, INT32_MAX);
    std::exit(1);
  }
  return static_cast<std::int32_t>(muons);
}

} // namespace

void run_dialogue(zenith_law law) {
  std::printf("\n PROGRAM THAT CALCULATES THE GEOMETRIC EFFICIENCY");
  std::printf("\n   FOR A FIXED DISTANCE BETWEEN SCINTILLATORS");
  std::puts("\n\t   (SCINTILLATORS DIMENSIONS: 10x31 cm2)");

  prompt("\n Distance between scintillators in cm: ");
  const double distance_cm = read_distance();
  prompt(" Number of muons to simulate: ");
  const std::int32_t muons = read_muon_count();

  const std::int32_t coincidences =
      simulate_coincidences(distance_cm, muons, law);
  // 0/0 is NaN and 0/negative is -0.0; both are printed as they come.
  const double efficiency =
      static_cast<double>(coincidences) / static_cast<double>(muons);

  std::printf("\n Number of coicidences = %d", coincidences);
  std::printf("\n Geometric Efficiency  = %3.3lf\n\n", efficiency);
  flush_or_exit("the result");
}
