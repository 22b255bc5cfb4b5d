#include "fit/measurements.h"
#include "text/fields.h"
#include "text/requirement_text.h"

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace {

// More rows than this are no lab's measurement.
constexpr std::size_t settings_max = 10000;

// A number as the commands read numbers: whatever "%lf" converts, as long
// as it converts the whole field.
bool read_number(const std::string &text, double &value) {
  int used = 0;
  return std::sscanf(text.c_str(), "%lf%n", &value, &used) == 1 &&
         static_cast<std::size_t>(used) == text.size() &&
         std::isspace(static_cast<unsigned char>(text[0])) == 0;
}

enum column {
  tilt_column,
  azimuth,
  distance,
  counted,
  live_time,
  require,
  detection,
  noise,
  window,
  columns
};
const char *const column_names[columns] = {
    "tilt_deg",     "tilt_azimuth_deg", "distance_cm",
    "coincidences", "live_time_s",      "require",
    "detection",    "noise_hz",         "window_ns"};

// What the counters' columns may hold, as velmora-curve's options do.
constexpr double noise_max_hz = 1e9;
constexpr double window_max_ns = 1e9;

// A value per layer joined by ';', each from `low` to `high`.
bool read_per_layer(const std::string &text, int layers, double low,
                    double high, double *to) {
  const std::vector<std::string> parts = split(text, ';');
  if (parts.size() != static_cast<std::size_t>(layers)) {
    return false;
  }
  for (std::size_t i = 0; i < parts.size(); ++i) {
    if (!read_number(parts[i], to[i]) || !(to[i] >= low && to[i] <= high)) {
      return false;
    }
  }
  return true;
}

} // namespace

std::string
read_settings(std::istream &in, const std::string &name, const telescope &scope,
              const setting_defaults &defaults,
              std::string (*distance_problem)(const telescope &, double),
              std::vector<setting> &settings) {
  int where[columns];
  for (int &w : where) {
    w = -1;
  }
  std::size_t fields = 0;
  bool header = false;
  std::string line;
  for (int number = 1; std::getline(in, line); ++number) {
    if (!line.empty() && line.back() == '\r') {
      line.pop_back();
    }
    // A spreadsheet begins its UTF-8 with a byte-order mark.
    if (number == 1 && line.rfind("\xEF\xBB\xBF", 0) == 0) {
      line.erase(0, 3);
    }
    const std::string at = at_line(name, number);
    if (line.find_first_not_of(" \t") == line.npos || line[0] == '#') {
      continue;
    }
    std::vector<std::string> parts = split(line, ',');
    // Blanks around a field, as a hand-written file or a spreadsheet puts
    // them after the commas, are no part of it.
    for (std::string &part : parts) {
      const std::size_t first = part.find_first_not_of(" \t");
      part = first == part.npos
                 ? std::string()
                 : part.substr(first, part.find_last_not_of(" \t") - first + 1);
    }
    if (!header) {
      if (line.find(',') == line.npos && line.find(';') != line.npos) {
        return at + "fields separated by ';': write them with ','";
      }
      for (std::size_t i = 0; i < parts.size(); ++i) {
        int c = 0;
        while (c < columns && parts[i] != column_names[c]) {
          ++c;
        }
        if (c == columns) {
          return at + "column " + shown(parts[i]) +
                 " is not one of tilt_deg, tilt_azimuth_deg, distance_cm, "
                 "coincidences, live_time_s, require, detection, noise_hz "
                 "and window_ns";
        }
        if (where[c] >= 0) {
          return at + "column " + shown(parts[i]) + " is named twice";
        }
        where[c] = static_cast<int>(i);
      }
      for (const column c : {tilt_column, distance, counted, live_time}) {
        if (where[c] < 0) {
          return at + "the header names no column " + column_names[c];
        }
      }
      fields = parts.size();
      header = true;
      continue;
    }
    if (parts.size() != fields) {
      return at + std::to_string(parts.size()) +
             " fields where the header has " + std::to_string(fields);
    }
    if (settings.size() == settings_max) {
      return at + "more than " + std::to_string(settings_max) + " settings";
    }
    const auto field = [&](column c) {
      return parts[static_cast<std::size_t>(where[c])];
    };
    setting s{0,
              defaults.tilt_azimuth_deg,
              0,
              defaults.rule,
              defaults.require_text,
              0,
              0,
              number,
              false,
              defaults.counter};
    const auto bad = [&](column c, const char *what) {
      return at + column_names[c] + " " + shown(field(c)) + " is not " + what;
    };
    if (!read_number(field(tilt_column), s.tilt_deg) ||
        !(s.tilt_deg >= 0.0 && s.tilt_deg <= 90.0)) {
      return bad(tilt_column, "a tilt from 0 to 90 degrees");
    }
    if (where[azimuth] >= 0 &&
        (!read_number(field(azimuth), s.tilt_azimuth_deg) ||
         !std::isfinite(s.tilt_azimuth_deg))) {
      return bad(azimuth, "a finite number of degrees");
    }
    if (!read_number(field(distance), s.distance_cm) ||
        !std::isfinite(s.distance_cm)) {
      return bad(distance, "a finite number of cm");
    }
    std::string problem = distance_problem(scope, s.distance_cm);
    if (!problem.empty()) {
      return at + problem;
    }
    unsigned long long count = 0;
    const std::string &counts = field(counted);
    if (counts.empty() ||
        counts.find_first_not_of("0123456789") != counts.npos) {
      return bad(counted, "a whole number of 0 or more");
    }
    if (!read_whole(counts, static_cast<unsigned long long>(coincidences_max),
                    count)) {
      return at + column_names[counted] + " " + shown(field(counted)) +
             " is more than 1e12, the most a row can hold";
    }
    s.coincidences = static_cast<double>(count);
    if (!read_number(field(live_time), s.live_time_s) ||
        !std::isfinite(s.live_time_s) || !(s.live_time_s > 0.0)) {
      return bad(live_time, "a finite number of seconds above 0");
    }
    if (s.live_time_s > live_time_max_s || s.live_time_s < live_time_min_s) {
      return at + column_names[live_time] + " " + shown(field(live_time)) +
             " is not from 0.001 s to 1e10 s, the times a row can hold";
    }
    if (where[require] >= 0) {
      s.require_text = field(require);
      problem = read_requirement(s.require_text, scope.count, s.rule);
      if (!problem.empty()) {
        return at + problem;
      }
    }
    const int layers = scope.count;
    const auto own = [&](column c) {
      return where[c] >= 0 && !field(c).empty();
    };
    if (own(detection) && !read_per_layer(field(detection), layers, 0.0, 1.0,
                                          s.counter.detection)) {
      return at + "detection " + shown(field(detection)) +
             " is not a probability from 0 to 1 for each of the " +
             std::to_string(layers) + " layers, joined by ';'";
    }
    if (own(noise) && !read_per_layer(field(noise), layers, 0.0, noise_max_hz,
                                      s.counter.noise_hz)) {
      return at + "noise_hz " + shown(field(noise)) +
             " is not a rate from 0 to 1e9 Hz for each of the " +
             std::to_string(layers) + " layers, joined by ';'";
    }
    if (own(window) && (!read_number(field(window), s.counter.window_ns) ||
                        !(s.counter.window_ns >= 0.0 &&
                          s.counter.window_ns <= window_max_ns))) {
      return bad(window, "a window from 0 to 1e9 ns");
    }
    s.own_counters = own(detection) || own(noise) || own(window);
    settings.push_back(s);
  }
  if (in.bad()) {
    return name + ": could not be read";
  }
  if (!header) {
    return name + ": no header and no settings";
  }
  if (settings.empty()) {
    return name + ": no settings below the header";
  }
  return "";
}

std::string at_line(const std::string &name, int line) {
  std::string at = name;
  at += ':';
  at += std::to_string(line);
  at += ": ";
  return at;
}

bool same_requirement(const requirement &a, const requirement &b, int layers) {
  for (std::uint32_t fired = 0; fired < 1U << layers; ++fired) {
    if (requirement_met(a, fired) != requirement_met(b, fired)) {
      return false;
    }
  }
  return true;
}
