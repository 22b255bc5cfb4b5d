// Gauss-Legendre rules of a fixed number of points on [-1, 1], made once
// from Boost's half rules.
#pragma once

#include <boost/math/quadrature/gauss.hpp>

#include <array>
#include <cstddef>

template <unsigned n> struct rule { std::array<double, n> x, w; };

template <unsigned n> const rule<n> &legendre() {
  static const rule<n> r = [] {
    using gauss = boost::math::quadrature::gauss<double, n>;
    rule<n> made{};
    const auto &x = gauss::abscissa();
    const auto &w = gauss::weights();
    unsigned k = 0;
    for (std::size_t i = 0; i < x.size(); ++i) {
      made.x[k] = x[i];
      made.w[k++] = w[i];
      if (x[i] != 0.0) {
        made.x[k] = -x[i];
        made.w[k++] = w[i];
      }
    }
    return made;
  }();
  return r;
}
