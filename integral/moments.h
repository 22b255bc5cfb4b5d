// Integrals of a weight times 1, kx, ky and kx ky over a region of slopes:
// what the coincidence area, bilinear in the slopes within a cell, needs of
// the sky there. Summed, differenced and scaled as one.
#pragma once

#include <algorithm>
#include <cmath>

struct moments {
  double m[4];
};

inline moments operator+(const moments &a, const moments &b) {
  return {{a.m[0] + b.m[0], a.m[1] + b.m[1], a.m[2] + b.m[2], a.m[3] + b.m[3]}};
}
inline moments operator-(const moments &a, const moments &b) {
  return {{a.m[0] - b.m[0], a.m[1] - b.m[1], a.m[2] - b.m[2], a.m[3] - b.m[3]}};
}
inline moments operator*(const moments &a, double f) {
  return {{a.m[0] * f, a.m[1] * f, a.m[2] * f, a.m[3] * f}};
}
// The largest of the four, for the rules' tests of agreement.
inline double magnitude(const moments &a) {
  return std::max({std::fabs(a.m[0]), std::fabs(a.m[1]), std::fabs(a.m[2]),
                   std::fabs(a.m[3])});
}
