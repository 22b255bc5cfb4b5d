// The numbers of a command line: one number, one within bounds, a whole
// one, and lists and ranges of them, each refused with the text it was
// given.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

// More rows than this are a typing error rather than a curve.
constexpr std::size_t rows_max = 100000;

// 'text', as messages quote what was given.
std::string quoted(const std::string &text);

// A number is read as the programs read a distance: whatever "%lf"
// converts, as long as it converts the whole text.
bool read_number(const char *text, double &value);

// "<what> '<text>' <is not ...>", with a word on the comma when the text
// holds one where one number was expected: 1,85 for 1.85, or 1,000 for a
// whole number.
std::string refusal(const std::string &what, const std::string &text,
                    const std::string &expected, bool whole = false);

// A number, a comma-separated list or a range FROM:TO:STEP, added to
// `values`; `what` names one value in messages ("distance", "tilt").
std::string add_values(const std::string &text, const char *what,
                       std::vector<double> &values);

// A whole number from `low` to `high`, both included, for an option that
// counts.
std::string read_count(const char *text, const char *what,
                       unsigned long long low, unsigned long long high,
                       unsigned long long &to);

// A number from `low` to `high`, both included, for an option that takes
// one.
std::string read_bounded(const char *text, const char *what, double low,
                         double high, double &to);
