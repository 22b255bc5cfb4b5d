#include "text/shortest_text.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

std::size_t shortest_text(double value, char (&text)[32]) {
  if (!std::isfinite(value)) {
    return static_cast<std::size_t>(
        std::snprintf(text, sizeof text, "%s%s", std::signbit(value) ? "-" : "",
                      std::isnan(value) ? "nan" : "inf"));
  }
  // The fewest significant digits that read back (17 always do); printf
  // rounds them correctly, so they are the nearest such digits to the value.
  // No fewer than the shortest digits that read back, which to_chars finds
  // at once, can do: the search starts there, a printf or two instead of up
  // to seventeen, where the library has to_chars for doubles (the page's
  // has not).
  char scientific[32];
#ifdef __cpp_lib_to_chars
  const std::to_chars_result shortest_digits =
      std::to_chars(scientific, scientific + sizeof scientific, value,
                    std::chars_format::scientific);
  const char *const first = scientific;
  const char *const last = shortest_digits.ptr;
  const char *const exponent_mark = std::find(first, last, 'e');
  const auto digit_count = std::count_if(
      first, exponent_mark, [](char c) { return c >= '0' && c <= '9'; });
  int precision = static_cast<int>(digit_count) - 2;
#else
  int precision = -1;
#endif
  do {
    ++precision;
    std::snprintf(scientific, sizeof scientific, "%.*e", precision, value);
  } while (std::strtod(scientific, nullptr) != value);
  // d.ddde[+-]XX: the digits without the point, and the exponent.
  const bool negative = scientific[0] == '-';
  const char *mantissa = scientific + (negative ? 1 : 0);
  const char *e = std::strchr(mantissa, 'e');
  const int exponent = std::atoi(e + 1);
  char digits[20];
  std::size_t count = 0;
  for (const char *c = mantissa; c != e; ++c) {
    if (*c != '.') {
      digits[count++] = *c;
    }
  }
  // The same digits in fixed notation, where that can be the shorter.
  const std::size_t scientific_length = std::strlen(scientific);
  if (exponent < -24 || exponent > 24) {
    std::memcpy(text, scientific, scientific_length + 1);
    return scientific_length;
  }
  char fixed[48];
  std::size_t length = 0;
  if (negative) {
    fixed[length++] = '-';
  }
  if (exponent < 0) {
    fixed[length++] = '0';
    fixed[length++] = '.';
    for (int zeros = -exponent - 1; zeros > 0; --zeros) {
      fixed[length++] = '0';
    }
    std::memcpy(fixed + length, digits, count);
    length += count;
  } else if (static_cast<std::size_t>(exponent) + 1 < count) {
    const auto whole = static_cast<std::size_t>(exponent) + 1;
    std::memcpy(fixed + length, digits, whole);
    fixed[length + whole] = '.';
    std::memcpy(fixed + length + whole + 1, digits + whole, count - whole);
    length += count + 1;
  } else {
    // A whole number: rather than the digits padded with zeros, its exact
    // digits, as long and nearer the value.
    length = static_cast<std::size_t>(
        std::snprintf(fixed, sizeof fixed, "%.0f", value));
  }
  const char *shorter = length <= scientific_length ? fixed : scientific;
  const std::size_t chosen = std::min(length, scientific_length);
  std::memcpy(text, shorter, chosen);
  text[chosen] = '\0';
  return chosen;
}

std::string shortest(double value) {
  char text[32];
  return {text, shortest_text(value, text)};
}

std::string formatted(const char *format, double value) {
  char text[64];
  std::snprintf(text, sizeof text, format, value);
  return text;
}
