#include "programs/number_readers.h"
#include "text/fields.h"
#include "text/shortest_text.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

std::string quoted(const std::string &text) {
  return "'" + text + "'";
}

bool read_number(const char *text, double &value) {
  int used = 0;
  return std::sscanf(text, "%lf%n", &value, &used) == 1 && text[used] == '\0';
}

std::string refusal(const std::string &what, const std::string &text,
                    const std::string &expected, bool whole) {
  const char *comma = whole ? " (write it without separators)"
                            : " (write the decimal point as '.')";
  return what + " " + quoted(text) + " " + expected +
         (text.find(',') != text.npos ? comma : "");
}

namespace {

// FROM:TO:STEP, both ends included when STEP divides the span; `what` names
// one value in messages ("distance", "tilt").
std::string add_range(const std::string &text, const char *what,
                      std::vector<double> &values) {
  const std::vector<std::string> parts = split(text, ':');
  if (parts.size() != 3) {
    return "range " + quoted(text) + " is not FROM:TO:STEP";
  }
  double ends[3];
  for (int i = 0; i < 3; ++i) {
    if (!read_number(parts[i].c_str(), ends[i])) {
      return std::string(what) + " " + quoted(parts[i]) + " is not a number";
    }
    if (!std::isfinite(ends[i])) {
      return std::string(what) + " " + quoted(parts[i]) +
             " is not a finite number";
    }
  }
  const double from = ends[0], to = ends[1], step = ends[2];
  const double steps = (to - from) / step;
  if (step == 0.0) {
    return "range " + quoted(text) + " has a STEP of 0";
  }
  if (steps < 0.0) {
    return "range " + quoted(text) + " has a STEP that leads away from TO";
  }
  // The slack keeps TO itself when STEP divides the span but rounding puts
  // the quotient a hair below a whole number (0:0.3:0.1).
  if (steps + 1e-9 >= static_cast<double>(rows_max)) {
    return "range " + quoted(text) + " gives more than " +
           std::to_string(rows_max) + " " + what + "s";
  }
  const auto last = static_cast<std::size_t>(steps + 1e-9);
  const std::size_t first = values.size();
  for (std::size_t k = 0; k <= last; ++k) {
    // from + k*step rather than repeated addition, so that no rounding creeps
    // in; written to 15 digits and read back, so that 0:1:0.1 gives 0.3
    // rather than 0.30000000000000004, the value a user would type.
    char rounded[32];
    std::snprintf(rounded, sizeof rounded, "%.15g",
                  from + static_cast<double>(k) * step);
    values.push_back(std::strtod(rounded, nullptr));
    // A step below the numbers' resolution would give rows that repeat one
    // value while claiming to be a range.
    if (k > 0 && values.back() == values[values.size() - 2]) {
      values.resize(first);
      return "range " + quoted(text) + " has a STEP too small to tell its " +
             what + "s apart";
    }
  }
  return "";
}

} // namespace

std::string add_values(const std::string &text, const char *what,
                       std::vector<double> &values) {
  if (text.find(':') != text.npos) {
    return add_range(text, what, values);
  }
  for (const std::string &entry : split(text, ',')) {
    if (entry.empty()) {
      return std::string(what) + " list " + quoted(text) +
             " has an empty entry";
    }
    double value = 0.0;
    if (!read_number(entry.c_str(), value)) {
      return std::string(what) + " " + quoted(entry) + " is not a number";
    }
    if (!std::isfinite(value)) {
      return std::string(what) + " " + quoted(entry) +
             " is not a finite number";
    }
    values.push_back(value);
  }
  return "";
}

std::string read_count(const char *text, const char *what,
                       unsigned long long low, unsigned long long high,
                       unsigned long long &to) {
  // Its untested branches only clean up after an allocation that throws
  // (of the text's copy, or of the message).
  // GCOVR_EXCL_BR_START
  const bool good = read_whole(text, high, to);
  // GCOVR_EXCL_BR_STOP
  if (!good || to < low) {
    // GCOVR_EXCL_BR_START
    return refusal(what, text,
                   "is not a whole number from " + std::to_string(low) +
                       " to " + std::to_string(high),
                   true);
  } // GCOVR_EXCL_BR_STOP
  return "";
}

std::string read_bounded(const char *text, const char *what, double low,
                         double high, double &to) {
  double value = 0.0;
  if (!read_number(text, value) || !(value >= low && value <= high)) {
    // Its untested branches only clean up after an allocation that throws.
    // GCOVR_EXCL_BR_START
    return refusal(what, text,
                   "is not a number from " + shortest(low) + " to " +
                       shortest(high));
  } // GCOVR_EXCL_BR_STOP
  to = value;
  return "";
}
