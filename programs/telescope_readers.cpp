#include "programs/telescope_readers.h"
#include "programs/number_readers.h"
#include "programs/sky_readers.h"
#include "text/fields.h"
#include "text/requirement_text.h"
#include "text/shortest_text.h"

#include <cctype>
#include <cmath>
#include <cstdio>

namespace {

const char *const size_range = "sizes run from 1e-6 to 1e6 cm";
const char *const place_range = "depths and offsets run up to 1e6 cm";
// No counter counts faster than a gigahertz.
constexpr double noise_max_hz = 1e9;

// WxL or WxLxT: positive finite numbers joined by a lower-case x, and a
// thickness of 0 or more. Each number is read as "%lf" reads it, so that
// 0x1p3 is 8.
std::string read_box(const char *text, const char *what, layer &to) {
  double size[3] = {0.0, 0.0, 0.0};
  int parts = 0;
  bool good = true;
  for (const char *at = text; good;) {
    int used = 0;
    good = parts < 3 && std::sscanf(at, "%lf%n", &size[parts], &used) == 1 &&
           std::isfinite(size[parts]);
    ++parts;
    at += used;
    if (!good || *at == '\0') {
      break;
    }
    good = *at == 'x' && !std::isspace(static_cast<unsigned char>(at[1]));
    ++at;
  }
  if (!good || parts < 2 || std::isspace(static_cast<unsigned char>(text[0]))) {
    return refusal(what, text,
                   "is not a width and a length, and maybe a thickness, in "
                   "cm joined by x, as 10x31 or 5x5x1");
  }
  for (int i = 0; i < parts; ++i) {
    // Only a thickness may be 0: a thin layer.
    if (size[i] > place_max_cm ||
        (size[i] < size_min_cm && !(i == 2 && size[i] == 0.0))) {
      return std::string(what) + " " + quoted(text) + ": " + size_range;
    }
  }
  to = {size[0], size[1], size[2], 0.0, 0.0, 0.0};
  return "";
}

// DX,DY: two finite numbers joined by a comma.
bool read_pair(const std::string &text, double (&pair)[2]) {
  const std::vector<std::string> parts = split(text, ',');
  return parts.size() == 2 && read_number(parts[0].c_str(), pair[0]) &&
         read_number(parts[1].c_str(), pair[1]) && std::isfinite(pair[0]) &&
         std::isfinite(pair[1]);
}

// Comma-separated numbers from `low` to `high`, one per layer.
std::string read_per_layer(const char *text, const char *what, double low,
                           double high, std::vector<double> &to) {
  to.clear();
  const std::vector<std::string> parts = split(text, ',');
  for (const std::string &part : parts) {
    double value = 0.0;
    if (!read_number(part.c_str(), value) || !(value >= low && value <= high)) {
      // Its untested branches only clean up after an allocation that throws.
      // GCOVR_EXCL_BR_START
      return std::string(what) + " " + quoted(part) + " in " + quoted(text) +
             " is not a number from " + shortest(low) + " to " + shortest(high);
    } // GCOVR_EXCL_BR_STOP
    to.push_back(value);
  }
  if (parts.size() > static_cast<std::size_t>(layers_max)) {
    return std::string(what) + " " + quoted(text) + " has more than " +
           std::to_string(layers_max) + " values, one per layer";
  }
  return "";
}

// "all", a number K of layers, or layer numbers joined by +; checked
// against the number of layers once the telescope is known.
std::string add_requirement(const std::string &text, reading &r) {
  curve_requirement q{{0, 0}, text};
  std::string problem = read_requirement(text, layers_max, q.rule);
  if (problem.empty()) {
    r.arguments.requirements.push_back(q);
  }
  return problem;
}

} // namespace

std::string read_top(const char *text, reading &r) {
  r.given_top = true;
  return read_box(text, "top paddle", r.top);
}

std::string read_bottom(const char *text, reading &r) {
  r.given_bottom = true;
  return read_box(text, "bottom paddle", r.bottom);
}

std::string read_paddles(const char *text, reading &r) {
  r.given_paddles = true;
  std::string problem = read_box(text, "paddle", r.top);
  r.bottom = r.top;
  return problem;
}

std::string read_offset(const char *text, reading &r) {
  if (!read_pair(text, r.offset)) {
    return "offset " + quoted(text) +
           " is not two numbers joined by a comma, as 0,0";
  }
  if (std::fabs(r.offset[0]) > place_max_cm ||
      std::fabs(r.offset[1]) > place_max_cm) {
    return "offset " + quoted(text) + ": " + place_range;
  }
  return "";
}

namespace {

// WxL[xT]@DEPTH[,DX,DY], `text`, into `l`, a box placed in the telescope;
// `what` names it in messages, which quote `whole` and say it is not
// `expected`.
std::string read_placed_box(const std::string &whole, const std::string &text,
                            const char *what, const std::string &expected,
                            layer &l) {
  const std::size_t at = text.find('@');
  if (at == whole.npos) {
    return what + (" " + quoted(whole)) + " " + expected;
  }
  const std::string box = read_box(text.substr(0, at).c_str(), what, l);
  if (!box.empty()) {
    // Its untested branches only clean up after an allocation that throws.
    // GCOVR_EXCL_BR_START
    return box.find(size_range) != box.npos
               ? what + (" " + quoted(whole)) + ": " + size_range
               : what + (" " + quoted(whole)) + " " + expected;
  } // GCOVR_EXCL_BR_STOP
  const std::vector<std::string> place = split(text.substr(at + 1), ',');
  double depth = 0.0, corner[2] = {0.0, 0.0};
  // Its untested branches only clean up after an allocation that throws.
  // GCOVR_EXCL_BR_START
  const bool good =
      (place.size() == 1 || place.size() == 3) &&
      read_number(place[0].c_str(), depth) && std::isfinite(depth) &&
      depth >= 0.0 &&
      (place.size() == 1 || read_pair(place[1] + "," + place[2], corner));
  // GCOVR_EXCL_BR_STOP
  if (!good) {
    return what + (" " + quoted(whole)) + " " + expected +
           ", with a DEPTH of 0 or more";
  }
  if (depth > place_max_cm || std::fabs(corner[0]) > place_max_cm ||
      std::fabs(corner[1]) > place_max_cm) {
    return what + (" " + quoted(whole)) + ": " + place_range;
  }
  l.depth_cm = depth;
  l.x_cm = corner[0];
  l.y_cm = corner[1];
  return "";
}

} // namespace

// WxL[xT]@DEPTH[,DX,DY]: a layer between the paddles, its upper face DEPTH
// below the upper paddle's lower face, its corner at DX,DY.
std::string read_layer(const char *text, reading &r) {
  const std::string whole = text;
  layer l{};
  std::string problem = read_placed_box(
      whole, whole, "layer",
      "is not a layer WxL[xT]@DEPTH[,DX,DY] in cm, as 10x31x1@5 or "
      "5x5@3,2.5,0",
      l);
  if (!problem.empty()) {
    return problem;
  }
  if (r.between.size() == static_cast<std::size_t>(layers_max - 2)) {
    return "layer " + quoted(whole) + " is one too many: at most " +
           std::to_string(layers_max - 2) + " layers lie between the paddles";
  }
  r.between.push_back(l);
  return "";
}

// MATERIAL:WxLxT@DEPTH[,DX,DY], placed as a layer is, or MATERIAL:T@DEPTH,
// a slab across the whole telescope.
std::string read_absorber(const char *text, reading &r) {
  const std::string whole = text;
  const std::size_t colon = whole.find(':');
  absorber a{};
  // Without a colon, the whole text: no material's name has one.
  const std::string name = whole.substr(0, colon);
  if (colon == whole.npos || !material_named(name, a.what)) {
    return "absorber " + quoted(whole) +
           " is not MATERIAL:WxLxT@DEPTH[,DX,DY] or MATERIAL:T@DEPTH, the "
           "material one of " +
           material_names;
  }
  const std::string rest = whole.substr(colon + 1);
  const std::size_t at = rest.find('@');
  // Without an '@', the whole text twice (npos + 1 is 0): unread.
  const std::string before = rest.substr(0, at), after = rest.substr(at + 1);
  double thickness = 0.0, depth = 0.0;
  if (at != rest.npos && rest.find('x') > at &&
      read_number(before.c_str(), thickness) &&
      read_number(after.c_str(), depth)) {
    // Across the telescope: as wide as any layer may lie from the top.
    if (!(thickness >= 0.0 && thickness <= place_max_cm && depth >= 0.0 &&
          depth <= place_max_cm)) {
      return "absorber " + quoted(whole) +
             " has no THICKNESS and DEPTH from 0 to 1e6 cm";
    }
    a.box = {2 * absorber_across_cm, 2 * absorber_across_cm, thickness,
             -absorber_across_cm,    -absorber_across_cm,    depth};
  } else {
    std::string problem = read_placed_box(
        whole, rest, "absorber",
        "is not MATERIAL:WxLxT@DEPTH[,DX,DY] or MATERIAL:T@DEPTH in cm, as "
        "lead:20x20x5@3 or lead:5@3",
        a.box);
    if (!problem.empty()) {
      return problem;
    }
  }
  if (r.absorbers.size() == static_cast<std::size_t>(absorbers_max)) {
    return "absorber " + quoted(whole) + " is one too many: at most " +
           std::to_string(absorbers_max) + " absorbers";
  }
  r.absorbers.push_back(a);
  return "";
}

std::string read_min_path(const char *text, reading &r) {
  return read_bounded(text, "least path", 0.0, place_max_cm,
                      r.arguments.scope.min_path_cm);
}

std::string read_detection(const char *text, reading &r) {
  return read_per_layer(text, "detection probability", 0.0, 1.0, r.detection);
}

std::string read_noise(const char *text, reading &r) {
  return read_per_layer(text, "noise rate", 0.0, noise_max_hz, r.noise_hz);
}

std::string read_require(const char *text, reading &r) {
  r.arguments.requirements.clear();
  for (const std::string &part : split(text, ',')) {
    std::string problem = add_requirement(part, r);
    if (!problem.empty()) {
      return problem;
    }
  }
  return "";
}

std::string layer_name(int i) {
  return "layer " + std::to_string(i + 1);
}

std::string distance_refusal(const telescope &scope, double distance_cm) {
  // Every layer between the paddles reaches no deeper than the last one.
  double reaches = 0.0;
  bool thick = false;
  for (int i = 0; i < scope.count; ++i) {
    const layer &l = scope.layers[i];
    thick = thick || l.thickness_cm > 0.0;
    if (i > 0 && i < bottom_of(scope)) {
      reaches = l.depth_cm + l.thickness_cm;
    }
  }
  if (scope.count > 2 && distance_cm < reaches) {
    return "distance " + shortest(distance_cm) +
           " would put the lower paddle above " +
           layer_name(bottom_of(scope) - 1) + ", which reaches depth " +
           shortest(reaches);
  }
  if (thick && distance_cm < 0.0) {
    return "distance " + shortest(distance_cm) +
           " would put the lower paddle into the upper one";
  }
  return "";
}

std::string telescope_text(const telescope &scope) {
  std::string text;
  for (int i = 0; i < scope.count; ++i) {
    const layer &l = scope.layers[i];
    text += (i == 0 ? "" : "|") + shortest(l.width_cm) + "x" +
            shortest(l.length_cm);
    if (l.thickness_cm > 0.0) {
      text += "x" + shortest(l.thickness_cm);
    }
    if (i > 0) {
      // Its untested branches only clean up after an allocation that throws.
      // GCOVR_EXCL_BR_START
      text += "@" + (i == bottom_of(scope) ? "d" : shortest(l.depth_cm)) + ":" +
              shortest(l.x_cm) + ":" + shortest(l.y_cm);
    } // GCOVR_EXCL_BR_STOP
  }
  // The absorbers after the layers, each with its material: across the
  // telescope as MATERIAL:T@DEPTH, else placed as a layer is.
  for (int k = 0; k < scope.absorber_count; ++k) {
    const absorber &a = scope.absorbers[k];
    const layer &b = a.box;
    text += std::string("|") + name_of(a.what) + ":";
    if (b.width_cm == 2 * absorber_across_cm) {
      text += shortest(b.thickness_cm) + "@" + shortest(b.depth_cm);
    } else {
      text += shortest(b.width_cm) + "x" + shortest(b.length_cm) + "x" +
              shortest(b.thickness_cm) + "@" + shortest(b.depth_cm) + ":" +
              shortest(b.x_cm) + ":" + shortest(b.y_cm);
    }
  }
  return text;
}
