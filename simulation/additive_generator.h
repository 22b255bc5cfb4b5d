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

// x^k modulo the recurrence's characteristic polynomial x^31 - x^28 - 1,
// with coefficients modulo 2^32: r_(m+k) = sum over j of c_j r_(m+j) for
// every m, since the words obey r_n = r_(n-31) + r_(n-3) whatever their
// start. Square and multiply: about 31^2 log2(k) multiplications.
inline void power_of_x(std::uint64_t k, std::uint32_t (&c)[31]) {
  // a * b modulo the polynomial, into a: x^31 = x^28 + 1 folds each
  // coefficient of degree d >= 31 into d - 3 and d - 31.
  const auto multiply = [](std::uint32_t(&a)[31], const std::uint32_t(&b)[31]) {
    std::uint32_t product[61] = {};
    for (int i = 0; i < 31; ++i) {
      for (int j = 0; j < 31; ++j) {
        product[i + j] += a[i] * b[j];
      }
    }
    for (int d = 60; d >= 31; --d) {
      product[d - 3] += product[d];
      product[d - 31] += product[d];
    }
    for (int i = 0; i < 31; ++i) {
      a[i] = product[i];
    }
  };
  std::uint32_t base[31] = {0, 1}; // x
  for (std::uint32_t &coefficient : c) {
    coefficient = 0;
  }
  c[0] = 1;
  for (; k != 0; k >>= 1) {
    if ((k & 1) != 0) {
      multiply(c, base);
    }
    multiply(base, base);
  }
}

// Moves g on by `words` words at once, as that many calls of next_word
// would: the state r_(m+k) .. r_(m+k+30) from r_m .. r_(m+60).
inline void jump_generator(additive_generator &g, std::uint64_t words) {
  std::uint32_t c[31];
  power_of_x(words, c);
  std::uint32_t sequence[61];
  additive_generator ahead = g;
  for (int i = 0; i < 31; ++i) {
    sequence[i] = g.words[(g.oldest + i) % 31];
  }
  for (int i = 31; i < 61; ++i) {
    sequence[i] = next_word(ahead);
  }
  for (int l = 0; l < 31; ++l) {
    std::uint32_t word = 0;
    for (int j = 0; j < 31; ++j) {
      word += c[j] * sequence[l + j];
    }
    g.words[l] = word;
  }
  g.oldest = 0;
}
