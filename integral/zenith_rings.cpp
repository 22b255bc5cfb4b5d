#include "integral/zenith_rings.h"

#include "integral/gauss_legendre.h"
#include "integral/moments.h"
#include "simulation/sky.h"

#include <algorithm>
#include <cmath>
#include <utility>

namespace {

constexpr double pi = 3.14159265358979323846;
// Each piece's integrals to this share of themselves, or to what the
// slopes of its lines allow (zenith_moments).
constexpr double least_tolerance = 1e-10;

struct rectangle {
  double kx0, kx1, ky0, ky1;
};

bool holds(const rectangle &r, double kx, double ky) {
  return kx >= r.kx0 && kx <= r.kx1 && ky >= r.ky0 && ky <= r.ky1;
}

// Sorts the few crossings of a ring with a rectangle's sides in place, by
// insertion: at most eight.
template <class T, class Less> void sort_few(T *at, int n, Less less) {
  for (int i = 1; i < n; ++i) {
    for (int j = i; j > 0 && less(at[j], at[j - 1]); --j) {
      std::swap(at[j], at[j - 1]);
    }
  }
}

double dot(const double *a, const double *b) {
  return a[0] * b[0] + a[1] * b[1] + a[2] * b[2];
}

// A number that rises with the angle of (x, y) from +x, from 0 to 4: as
// good as the angle for putting points of a circle in order, without a
// call of atan2.
double rising_with_angle(double x, double y) {
  const double p = x / (std::fabs(x) + std::fabs(y));
  return y >= 0.0 ? 1.0 - p : 3.0 + p;
}

// An upright telescope's ring of zenith cosine c is the circle |k| = s / c:
// its arcs in the rectangle in closed form, in the polar angle phi of k.
// Over an arc, the integrals of 1, r cos(phi), r sin(phi) and r^2 cos(phi)
// sin(phi) are the turn and the changes of y, -x and y^2 / 2 between its
// ends.
moments circle_in(double radius, const rectangle &r) {
  struct point {
    double order, x, y;
  };
  point at[8];
  int n = 0;
  const auto add = [&](double x, double y) {
    at[n++] = {rising_with_angle(x, y), x, y};
  };
  for (const double x : {r.kx0, r.kx1}) {
    if (radius > std::fabs(x)) {
      const double y = std::sqrt((radius - x) * (radius + x));
      for (const double yy : {y, -y}) {
        if (yy >= r.ky0 && yy <= r.ky1) {
          add(x, yy);
        }
      }
    }
  }
  for (const double y : {r.ky0, r.ky1}) {
    if (radius > std::fabs(y)) {
      const double x = std::sqrt((radius - y) * (radius + y));
      for (const double xx : {x, -x}) {
        if (xx >= r.kx0 && xx <= r.kx1) {
          add(xx, y);
        }
      }
    }
  }
  // No crossing, or a ring that only touches a side: all of it or none,
  // as its point across from the touch tells.
  if (n < 2) {
    const double x = n == 0 ? radius : -at[0].x, y = n == 0 ? 0.0 : -at[0].y;
    return holds(r, x, y) ? moments{{2 * pi, 0.0, 0.0, 0.0}} : moments{};
  }
  sort_few(at, n,
           [](const point &p, const point &q) { return p.order < q.order; });
  moments sum{};
  for (int i = 0; i < n; ++i) {
    const point &p = at[i], &q = at[(i + 1) % n];
    // Counterclockwise from p to q: less than half a turn where p x q > 0.
    const double cross = p.x * q.y - p.y * q.x;
    const double along = p.x * q.x + p.y * q.y;
    // The arc's middle, along p + q (or against it, the long way round;
    // square to p half a turn on).
    double mx = p.x + q.x, my = p.y + q.y;
    if (cross < 0.0) {
      mx = -mx;
      my = -my;
    } else if (cross == 0.0) {
      if (along > 0.0) {
        continue; // the same point twice, where a ring meets a corner
      }
      mx = -p.y;
      my = p.x;
    }
    const double scale = radius / std::sqrt(mx * mx + my * my);
    if (!holds(r, mx * scale, my * scale)) {
      continue;
    }
    // Half a turn exactly where p and q lie across the centre (whatever the
    // sign of a zero cross product).
    const double turn = cross == 0.0  ? pi
                        : cross < 0.0 ? std::atan2(cross, along) + 2 * pi
                                      : std::atan2(cross, along);
    sum = sum +
          moments{{turn, q.y - p.y, p.x - q.x, (q.y * q.y - p.y * p.y) / 2}};
  }
  return sum;
}

// A tilted telescope's ring: u = s cos(psi) e1 + s sin(psi) e2 + c e3.
struct ring_point {
  double u[3];
};

ring_point on_ring(const sky_frame &f, double c, double s, double cosine,
                   double sine) {
  const double a = s * cosine, b = s * sine;
  return {{a * f.e1[0] + b * f.e2[0] + c * f.e3[0],
           a * f.e1[1] + b * f.e2[1] + c * f.e3[1],
           a * f.e1[2] + b * f.e2[2] + c * f.e3[2]}};
}

ring_point on_ring(const sky_frame &f, double c, double s, double psi) {
  return on_ring(f, c, s, std::cos(psi), std::sin(psi));
}

// |u_z| times 1, kx, ky and kx ky over psi from `from` to `to`, where the
// lines stay in the rectangle: Gauss-Legendre orders that must agree, and
// halves where they do not. Each half turn or less is taken in t = tan((psi -
// middle) / 2), from -1 to 1 at most, whose cosine and sine are rational:
// no call of sin and cos at every point.
moments along_arc(const sky_frame &f, double c, double s, double from,
                  double to, double tolerance, int depth) {
  const double middle = (from + to) / 2;
  if (to - from > pi) {
    return along_arc(f, c, s, from, middle, tolerance, depth) +
           along_arc(f, c, s, middle, to, tolerance, depth);
  }
  const double cm = std::cos(middle), sm = std::sin(middle);
  const double reach = std::tan((to - from) / 4);
  const auto rule_sum = [&](const auto &r) {
    moments sum{};
    for (std::size_t i = 0; i < r.x.size(); ++i) {
      const double t = reach * r.x[i];
      const double q = 1.0 / (1.0 + t * t);
      const double cosine = (1.0 - t * t) * q, sine = 2.0 * t * q;
      const ring_point p =
          on_ring(f, c, s, cm * cosine - sm * sine, sm * cosine + cm * sine);
      const double kx = -p.u[0] / p.u[2], ky = -p.u[1] / p.u[2];
      const double g = std::fabs(p.u[2]) * r.w[i] * 2.0 * q;
      sum = sum + moments{{g, g * kx, g * ky, g * kx * ky}};
    }
    return sum * reach;
  };
  const auto agree = [&](const moments &low, const moments &high) {
    return magnitude(high + low * -1.0) <=
           0.1 * tolerance * magnitude(high) + 1e-18;
  };
  // Five points and ten, and where they disagree ten and twenty.
  const moments ten = rule_sum(legendre<10>());
  if (agree(rule_sum(legendre<5>()), ten)) {
    return ten;
  }
  const moments twenty = rule_sum(legendre<20>());
  if (depth == 0 || agree(ten, twenty)) {
    return twenty;
  }
  return along_arc(f, c, s, from, middle, tolerance, depth - 1) +
         along_arc(f, c, s, middle, to, tolerance, depth - 1);
}

moments ring_in(const sky_frame &f, double c, const rectangle &r,
                double tolerance) {
  const double s = std::sqrt((1.0 - c) * (1.0 + c));
  // Where the ring crosses the lines of the rectangle's sides, n.u = 0:
  // kx = x is u_x + x u_z = 0.
  const double sides[4][3] = {
      {1, 0, r.kx0}, {1, 0, r.kx1}, {0, 1, r.ky0}, {0, 1, r.ky1}};
  double at[8];
  int n = 0;
  for (const auto &side : sides) {
    const double p = dot(side, f.e1), q = dot(side, f.e2), z = dot(side, f.e3);
    const double across = s * std::sqrt(p * p + q * q);
    if (across > std::fabs(c * z)) {
      const double base = std::atan2(q, p), turn = std::acos(-c * z / across);
      for (const double psi : {base + turn, base - turn}) {
        at[n++] = psi - 2 * pi * std::floor(psi / (2 * pi));
      }
    }
  }
  const auto inside = [&](double psi) {
    const ring_point p = on_ring(f, c, s, psi);
    return p.u[2] != 0.0 && holds(r, -p.u[0] / p.u[2], -p.u[1] / p.u[2]);
  };
  if (n == 0) {
    return inside(0.0) ? along_arc(f, c, s, 0.0, 2 * pi, tolerance, 12)
                       : moments{};
  }
  sort_few(at, n, [](double p, double q) { return p < q; });
  moments sum{};
  for (int i = 0; i < n; ++i) {
    const double from = at[i], to = i + 1 < n ? at[i + 1] : at[0] + 2 * pi;
    if (to > from && inside((from + to) / 2)) {
      sum = sum + along_arc(f, c, s, from, to, tolerance, 12);
    }
  }
  return sum;
}

// The integral over [c1, c2] of each band's weight times the ring's moments
// numbers, with c = c1 + (c2 - c1)(3 t^2 - 2 t^3) over t in [t0, t1]: the
// ring's arcs grow as the square root of the distance from a cosine where
// it first touches a side, which this makes smooth at both ends.
// Gauss-Legendre orders that must agree, and halves where they do not.
template <class Ring>
void add_piece(const Ring &ring, const weight_bands &bands, double c1,
               double c2, double t0, double t1, double tolerance, int depth,
               band_moments &sum) {
  const std::size_t levels = bands.levels.size();
  band_moments low{}, high{};
  const auto add_rule = [&](const auto &r, band_moments &to) {
    const double h = (t1 - t0) / 2, m = (t0 + t1) / 2;
    for (std::size_t i = 0; i < r.x.size(); ++i) {
      const double t = m + h * r.x[i];
      const double c = c1 + (c2 - c1) * t * t * (3.0 - 2.0 * t);
      const double stretch = 6.0 * (c2 - c1) * t * (1.0 - t) * h * r.w[i];
      const moments g = ring(c);
      double next = 0.0; // the weight above the next level's threshold
      for (std::size_t a = levels; a-- > 0;) {
        const double above = weight_at(bands.levels[a], c);
        const double f = (above - next) * stretch;
        next = above;
        for (int j = 0; j < 4; ++j) {
          to.m[4 * a + j] += f * g.m[j];
        }
      }
    }
  };
  // Relative to the piece's own integrals, or to a floor far below what a
  // rate of the rectangle's size could show, as the rectangles' rules.
  const auto agree = [&]() {
    double apart = 0.0, size = 0.0;
    for (std::size_t k = 0; k < 4 * levels; ++k) {
      apart = std::max(apart, std::fabs(high.m[k] - low.m[k]));
      size = std::max(size, std::fabs(high.m[k]));
    }
    return apart <= tolerance * size + 1e-17;
  };
  // Most pieces lie between kinks a few hundredths apart, where five
  // points and ten already agree; the others take ten and twenty.
  add_rule(legendre<5>(), low);
  add_rule(legendre<10>(), high);
  if (!agree()) {
    low = high;
    high = band_moments{};
    add_rule(legendre<20>(), high);
  }
  if (depth == 0 || agree()) {
    for (std::size_t k = 0; k < 4 * levels; ++k) {
      sum.m[k] += high.m[k];
    }
    return;
  }
  const double m = (t0 + t1) / 2;
  add_piece(ring, bands, c1, c2, t0, m, tolerance, depth - 1, sum);
  add_piece(ring, bands, c1, c2, m, t1, tolerance, depth - 1, sum);
}

// The integral over c from `low` to `high`, cut at `cuts` and at every
// kink of the bands' weights, where the rules would see no smooth
// function.
template <class Ring>
band_moments over_zenith(const Ring &ring, const weight_bands &bands,
                         double low, double high, std::vector<double> cuts,
                         double tolerance) {
  cuts.insert(cuts.end(), bands.kinks.begin(), bands.kinks.end());
  cuts.push_back(low);
  cuts.push_back(high);
  cuts.erase(std::remove_if(cuts.begin(), cuts.end(),
                            [&](double c) { return !(c >= low && c <= high); }),
             cuts.end());
  std::sort(cuts.begin(), cuts.end());
  cuts.erase(std::unique(cuts.begin(), cuts.end()), cuts.end());
  band_moments sum{};
  for (std::size_t k = 0; k + 1 < cuts.size(); ++k) {
    add_piece(ring, bands, cuts[k], cuts[k + 1], 0.0, 1.0, tolerance, 12, sum);
  }
  return sum;
}

} // namespace

band_moments zenith_moments(const tilt &lean, const weight_bands &bands,
                            double kx0, double kx1, double ky0, double ky1) {
  const rectangle r{kx0, kx1, ky0, ky1};
  const sky_frame f = frame_of(lean);
  const double *v = f.e3;
  // The zenith cosines of the rectangle's lines, least and greatest: at
  // its corners, where a side's line comes nearest the zenith (if on the
  // side), 1 if it holds the zenith, 0 if the horizon crosses it. The
  // rings change their form at each corner, where they touch each side's
  // line, and where they touch the layers' plane.
  double low = 1.0, high = 0.0;
  bool above = false, below = false;
  std::vector<double> cuts = {std::hypot(f.e1[2], f.e2[2])};
  for (const double kx : {kx0, kx1}) {
    for (const double ky : {ky0, ky1}) {
      const double z = v[2] - kx * v[0] - ky * v[1];
      const double c = std::fabs(z) / std::sqrt(1.0 + kx * kx + ky * ky);
      low = std::min(low, c);
      high = std::max(high, c);
      above = above || z >= 0.0;
      below = below || z <= 0.0;
      cuts.push_back(c);
    }
  }
  if (above && below) {
    low = 0.0;
  }
  const double sides[4][3] = {
      {1, 0, kx0}, {1, 0, kx1}, {0, 1, ky0}, {0, 1, ky1}};
  for (int k = 0; k < 4; ++k) {
    const double *n = sides[k];
    const double along = dot(n, v) / dot(n, n);
    const double u[3] = {v[0] - along * n[0], v[1] - along * n[1],
                         v[2] - along * n[2]};
    const double c = std::sqrt(std::max(0.0, dot(u, u)));
    cuts.push_back(c);
    if (u[2] != 0.0) {
      const double other = k < 2 ? -u[1] / u[2] : -u[0] / u[2];
      const bool on_side =
          k < 2 ? other >= ky0 && other <= ky1 : other >= kx0 && other <= kx1;
      high = on_side ? std::max(high, c) : high;
    }
  }
  if (v[2] > 0.0 && holds(r, -v[0] / v[2], -v[1] / v[2])) {
    high = 1.0;
  }
  // The lines of slopes k lie 1/|k| from the layers' plane: a ring's points,
  // as angles of the sky, give their slopes to about 1e-16 |k| of
  // themselves, and the rules are asked no more. The rectangles so far out
  // carry some |k|^-3 of the rate.
  const double reach = std::max(
      {std::fabs(kx0), std::fabs(kx1), std::fabs(ky0), std::fabs(ky1)});
  const double tolerance = std::max(least_tolerance, 1e-15 * reach);
  if (lean.angle_deg == 0.0) {
    return over_zenith(
        [&](double c) {
          const double s = std::sqrt((1.0 - c) * (1.0 + c));
          return circle_in(s / c, r) * c;
        },
        bands, low, high, cuts, tolerance);
  }
  return over_zenith([&](double c) { return ring_in(f, c, r, tolerance); },
                     bands, low, high, cuts, tolerance);
}

band_moments plane_moments(const tilt &lean, const weight_bands &bands) {
  const double tilted = std::sin(lean.angle_deg * pi / 180);
  const double upright = std::cos(lean.angle_deg * pi / 180);
  // Over a ring, |u_z| = |a + b cos(psi)| with a = c cos(tilt) and b = s
  // sin(tilt): 2 pi a where a >= b, else it changes sign at psi0 =
  // acos(-a/b), which happens below c = sin(tilt).
  return over_zenith(
      [&](double c) {
        const double a = c * upright;
        const double b = std::sqrt((1.0 - c) * (1.0 + c)) * tilted;
        const double whole = a >= b ? 2 * pi * a
                                    : 4 * a * std::acos(-a / b) +
                                          4 * std::sqrt((b - a) * (b + a)) -
                                          2 * pi * a;
        return moments{{whole, 0.0, 0.0, 0.0}};
      },
      bands, 0.0, 1.0, {tilted}, least_tolerance);
}
