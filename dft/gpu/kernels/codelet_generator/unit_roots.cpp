#include "unit_roots.hpp"

#include <cmath>

namespace qez_codelets {

namespace {

const long double half_pi = 1.570796326794896619231321691639751442L;

// cos and sin of (pi/2)*r/n for 0 <= r < n, taking the complement above the
// octant so both members of a symmetric pair come from the same evaluation.
unit_root first_quadrant(std::int64_t r, std::int64_t n) {
  if (r == 0) return {1.0L, 0.0L};
  if (2 * r == n) {
    const long double h = std::sqrt(0.5L);
    return {h, h};
  }
  if (2 * r > n) {
    const long double a = half_pi * static_cast<long double>(n - r) / static_cast<long double>(n);
    return {std::sin(a), std::cos(a)};
  }
  const long double a = half_pi * static_cast<long double>(r) / static_cast<long double>(n);
  return {std::cos(a), std::sin(a)};
}

}  // namespace

unit_root root_of_unity(std::int64_t m, std::int64_t n) {
  const std::int64_t reduced = ((m % n) + n) % n;
  // 2*pi*m/n = (pi/2) * (quadrant + r/n) with 4*m = quadrant*n + r.
  const std::int64_t quadrant = (4 * reduced) / n;
  const std::int64_t r = (4 * reduced) % n;
  const unit_root q = first_quadrant(r, n);
  switch (quadrant) {
    case 0: return q;
    case 1: return {-q.sine, q.cosine};
    case 2: return {-q.cosine, -q.sine};
    default: return {q.sine, -q.cosine};
  }
}

}  // namespace qez_codelets
