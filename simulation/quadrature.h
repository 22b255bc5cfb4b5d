// The integral of a smooth function, or of one with a power or square-root
// singularity at an end, to about 13 digits.
#pragma once

#include <cmath>

// The size of a value, for telling when two estimates agree; a type of
// several numbers at once declares its own.
inline double magnitude(double value) {
  return std::fabs(value);
}

// The integral of f over [a, b] by the tanh-sinh rule, which keeps its
// accuracy where f has a square-root or power singularity at an end. Levels
// are added until two agree to `tolerance` relative to the estimate, or to
// the size `scale` of a larger sum that the estimate is a part of. f may
// give a number, or several at once in a type with +, * by a number and
// magnitude().
template <class Function>
auto tanh_sinh(Function f, double a, double b, double tolerance = 1e-13,
               double scale = 0.0) {
  constexpr double pi = 3.14159265358979323846;
  const double half = (b - a) / 2;
  using value = decltype(f(a));
  if (half == 0.0) {
    return value{};
  }
  double h = 1.0;
  value sum = f(a + half) * (pi / 2), estimate{};
  for (int level = 0; level < 12; ++level) {
    // Each level halves h and adds the new abscissae only, the odd
    // multiples of h. Up to t = 4 they stay apart from the ends (1 - x is
    // about 1e-37 there) and the weights have long fallen below 1e-16.
    const int stride = level == 0 ? 1 : 2;
    for (int k = 1; k * h <= 4.0; k += stride) {
      const double t = k * h;
      const double u = (pi / 2) * std::sinh(t);
      const double from_end = 1.0 / (std::exp(u) * std::cosh(u)); // 1 - x
      const double weight =
          (pi / 2) * std::cosh(t) / (std::cosh(u) * std::cosh(u));
      sum = sum + (f(a + half * from_end) + f(b - half * from_end)) * weight;
    }
    const value next = sum * (half * h);
    if (level > 3 &&
        magnitude(next - estimate) <= tolerance * (magnitude(next) + scale)) {
      return next;
    }
    estimate = next;
    h /= 2;
  }
  return estimate;
}
