// The shortest text that reads back as the same double.
#pragma once

#include <cstddef>
#include <string>

// Writes into `text` the shortest decimal that strtod reads back as `value`,
// in fixed notation or in scientific (1e+20, 2.5e-07), whichever is shorter,
// fixed when they tie: what std::to_chars writes, made from printf and
// strtod so that every C library gives the same (some lack to_chars for
// doubles). Returns its length.
std::size_t shortest_text(double value, char (&text)[32]);

// The same as a string: the value that was simulated, as the CSV and the
// messages write it.
std::string shortest(double value);

// `value` written by printf with `format` (one double, as "%.6g").
std::string formatted(const char *format, double value);
