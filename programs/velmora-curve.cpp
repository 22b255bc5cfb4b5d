// velmora-curve: the efficiency curve of the paddle telescope against
// distance, as CSV, in one pass per zenith law.
#include "programs/curve_arguments.h"
#include "programs/output.h"
#include "simulation/coincidences.h"

#include <algorithm>
#include <cerrno> // program_invocation_short_name
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <unistd.h>
#include <vector>

namespace {

constexpr double paddle_area_cm2 = paddle_width_cm * paddle_length_cm;
// Landing tests per slice of a pass: a few milliseconds of work, so that
// progress can be shown that often.
constexpr std::size_t tests_per_slice = std::size_t{1} << 22;
constexpr double progress_interval_s = 0.25;

const char *law_name(zenith_law law) {
  return law == zenith_law::cos_squared ? "cos_squared" : "isotropic";
}

double seconds_now() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<double>(now.tv_sec) +
         1e-9 * static_cast<double>(now.tv_nsec);
}

// Runs one law's pass over every distance. The slices continue one stream
// of tracks, so the counts are those of a single call; between them the
// share done is shown on a terminal, at most a few times a second.
std::vector<std::int32_t> run_pass(const curve_arguments &arguments,
                                   zenith_law law, bool show_progress) {
  const std::vector<double> &distances = arguments.distances_cm;
  std::vector<std::int32_t> coincidences(distances.size(), 0);
  const auto slice = static_cast<std::int32_t>(
      std::max<std::size_t>(1, tests_per_slice / distances.size()));
  double shown = seconds_now();
  bool progress_shown = false;
  for (std::int32_t done = 0; done < arguments.muons;) {
    const std::int32_t now = std::min(slice, arguments.muons - done);
    simulate_curve(distances.data(), distances.size(), now, law,
                   coincidences.data());
    done += now;
    // Needs a terminal, which the tests do not have.
    // GCOVR_EXCL_START
    if (show_progress && seconds_now() - shown >= progress_interval_s) {
      shown = seconds_now();
      std::fprintf(stderr, "\r%s: %s %3d%%", program_invocation_short_name,
                   law_name(law),
                   static_cast<int>(100.0 * done / arguments.muons));
      progress_shown = true;
    }
  }
  if (progress_shown) {
    std::fputs("\r\033[K", stderr); // leave the terminal line as it was
  }
  // GCOVR_EXCL_STOP
  return coincidences;
}

// The shortest text that reads back as the same double: the distance that
// was simulated, and what to type into velmora to see the same count.
const char *distance_text(double distance_cm, char (&text)[32]) {
  *std::to_chars(text, text + sizeof text - 1, distance_cm).ptr = '\0';
  return text;
}

void print_rows(const curve_arguments &arguments, zenith_law law,
                const std::vector<std::int32_t> &coincidences) {
  const double muons = arguments.muons;
  for (std::size_t k = 0; k < coincidences.size(); ++k) {
    const double efficiency = coincidences[k] / muons;
    char distance[32];
    std::printf("%s,%s,%d,%d,%.6f,%.4g,", law_name(law),
                distance_text(arguments.distances_cm[k], distance),
                arguments.muons, coincidences[k], efficiency,
                std::sqrt(efficiency * (1.0 - efficiency) / muons));
    // Only the cos^2 law weights directions as a flux through a horizontal
    // plane; an isotropic efficiency says nothing about a rate.
    if (law == zenith_law::cos_squared) {
      std::printf("%.6g", efficiency * arguments.flux * paddle_area_cm2);
    }
    std::putchar('\n');
  }
}

} // namespace

int main(int argc, char **argv) {
  const curve_arguments arguments = parse_curve_arguments(argc, argv);
  const bool show_progress = isatty(STDERR_FILENO) != 0;
  std::puts("law,distance_cm,muons,coincidences,efficiency,std_error,"
            "rate_per_minute");
  // Found out now, rather than after the passes, if the rows cannot arrive.
  flush_or_exit("the curve");
  for (const zenith_law law : arguments.laws) {
    // Each program starts its generator as after seed 1: so does every pass,
    // which makes it count exactly what that law's program counts.
    seed_uniform(1);
    print_rows(arguments, law, run_pass(arguments, law, show_progress));
  }
  flush_or_exit("the curve");
  return 0;
}
