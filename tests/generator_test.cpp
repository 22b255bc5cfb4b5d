// The project's generator against the C library's rand() on glibc: the
// counts of the programs were published with glibc's sequence, which every
// platform must now draw from the project's own generator.
#include "simulation/additive_generator.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>

namespace {

constexpr long long outputs = 100000000;

// The first index at which the two sequences part, or -1.
long long first_difference(additive_generator g) {
  for (long long k = 0; k < outputs; ++k) {
    if (next_value(g) != std::rand()) {
      return k;
    }
  }
  return -1;
}

// Alone in its program, so that nothing has called rand() before: the
// default start comes first, then srand(S) for 0 (which glibc takes as 1),
// 1, and seeds that glibc keeps as negative 32-bit numbers.
TEST(additive_generator, gives_the_sequence_of_glibc_rand) {
  EXPECT_EQ(first_difference(seeded_generator(1)), -1) << "default start";
  for (const std::uint32_t seed :
       {0U, 1U, 2U, 123456789U, 2147483647U, 2147483648U, 4294967295U}) {
    std::srand(seed);
    EXPECT_EQ(first_difference(seeded_generator(seed)), -1) << "seed " << seed;
  }
}

} // namespace
