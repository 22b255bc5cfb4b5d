// The sequence of glibc's rand(), made here so that every platform draws the
// same numbers: an additive lagged-Fibonacci generator, lags 3 and 31.
//
// After srand(S) glibc's rand() gives o_k = r_(k+344) >> 1 for k = 0, 1, ...,
// where r_0 = S, r_i = 16807 r_(i-1) mod (2^31 - 1) for i = 1..30 (taken as a
// signed 32-bit number, with a negative remainder made positive),
// r_i = r_(i-31) for i = 31..33, and r_i = r_(i-31) + r_(i-3) mod 2^32 from
// i = 34 on. A seed of 0 is taken as 1, and the process starts as after
// srand(1). Unlike rand(), it takes no lock.
#pragma once

#include <cstdint>

struct additive_generator {
  std::uint32_t words[31]; // the last 31 words r_(i-31) .. r_(i-1)
  int oldest;              // where r_(i-31) is; r_(i-3) is 28 places on
};

// The next word r_i: the sum of the words 31 and 3 places back, written over
// the oldest.
constexpr std::uint32_t next_word(additive_generator &g) {
  const int three_back = g.oldest < 3 ? g.oldest + 28 : g.oldest - 3;
  const std::uint32_t word = g.words[g.oldest] + g.words[three_back];
  g.words[g.oldest] = word;
  g.oldest = g.oldest == 30 ? 0 : g.oldest + 1;
  return word;
}

// The next value, from 0 to 2147483647, as rand() would give it.
constexpr std::int32_t next_value(additive_generator &g) {
  return static_cast<std::int32_t>(next_word(g) >> 1);
}

// The state after srand(seed).
constexpr additive_generator seeded_generator(std::uint32_t seed) {
  additive_generator g{{}, 0};
  constexpr std::int64_t modulus = 2147483647;
  // The seed as glibc keeps it: a signed 32-bit number, never 0.
  std::int64_t word = seed == 0 ? 1 : static_cast<std::int32_t>(seed);
  g.words[0] = static_cast<std::uint32_t>(word);
  for (int i = 1; i < 31; ++i) {
    word = 16807 * word % modulus;
    if (word < 0) {
      word += modulus;
    }
    g.words[i] = static_cast<std::uint32_t>(word);
  }
  // r_31..r_33 repeat r_0..r_2, so r_34 = r_3 + r_31 = r_3 + r_0: the ring
  // of r_0..r_30 with r_(i-31) at r_3 continues the sequence from r_34.
  g.oldest = 3;
  for (int i = 34; i < 344; ++i) {
    next_word(g);
  }
  return g;
}
