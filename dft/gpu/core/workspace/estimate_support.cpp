#include "dft/gpu/core/workspace/estimate_support.hpp"

#include <array>
#include <cstdlib>

namespace ulmara {
namespace qez {
namespace dft {
namespace {

// Factor candidates, tried as first factor in this order and as second
// factor in the reverse order.
constexpr std::array<std::int64_t, 65> factor_candidates = [] {
  std::array<std::int64_t, 65> t{};
  std::size_t i = 0;
  for (std::int64_t f = 64; f >= 4; --f) t[i++] = f;
  t[i++] = 2;
  t[i++] = 3;
  t[i++] = 2;
  t[i++] = 1;
  return t;
}();

constexpr std::array<std::int64_t, 8> esimd_factors = {64, 32, 25, 16, 12, 10, 9, 8};

std::uint64_t pair_cost(std::int64_t a, std::int64_t b) {
  return static_cast<std::uint64_t>((a + b) * std::llabs(a - b));
}

bool esimd_bounds(std::int64_t, std::int64_t) { return true; }

template <class FirstRange, class SecondRange>
factor_pair search(std::int64_t n, const FirstRange& firsts, const SecondRange& seconds,
                   bool (*bounds)(std::int64_t, std::int64_t)) {
  factor_pair best;
  std::uint64_t best_cost = ~std::uint64_t{0};
  for (std::int64_t a : firsts)
    for (std::int64_t b : seconds) {
      if (a * b != n || !bounds(a, b)) continue;
      const std::uint64_t cost = pair_cost(a, b);
      if (cost < best_cost) {
        best_cost = cost;
        best = factor_pair{true, a, b};
      }
    }
  return best;
}

}  // namespace

bool is_packed_layout(const dft_estimate_config& c, int direction, bool check_batch) {
  const std::int64_t m = c.number_of_transforms;
  if (c.rank < 1) return !(check_batch && m >= 2) || (c.fwd_distance == 1 && c.bwd_distance == 1);
  const bool fb = forward_backward_mode(c);
  const std::int64_t* first = fb ? c.fwd_strides : c.input_strides;
  const std::int64_t* second = fb ? c.bwd_strides : c.output_strides;
  if (first[0] != 1 || second[0] != 1) return false;
  const std::int64_t n = c.lengths[0];
  std::int64_t rf = c.in_place && c.real_domain ? 2 * (n / 2 + 1) : n;
  std::int64_t rb = c.real_domain ? n / 2 + 1 : n;
  for (int k = 1; k < c.rank && k < estimate_max_rank; ++k) {
    if (fb || direction == estimate_forward) {
      if (first[k] != rf || second[k] != rb) return false;
    } else if (second[k] != rf || first[k] != rb) {
      return false;
    }
    rf = saturating_mul(rf, c.lengths[k]);
    rb = saturating_mul(rb, c.lengths[k]);
  }
  if (check_batch && m >= 2) return c.fwd_distance == rf && c.bwd_distance == rb;
  return true;
}

factor_pair find_factor_pair(std::int64_t n, bool (*bounds)(std::int64_t, std::int64_t)) {
  std::array<std::int64_t, 65> reversed = factor_candidates;
  for (std::size_t i = 0; i < reversed.size(); ++i)
    reversed[i] = factor_candidates[factor_candidates.size() - 1 - i];
  return search(n, factor_candidates, reversed, bounds);
}

factor_pair find_esimd_factor_pair(std::int64_t n) {
  std::array<std::int64_t, 8> reversed{};
  for (std::size_t i = 0; i < esimd_factors.size(); ++i)
    reversed[i] = esimd_factors[esimd_factors.size() - 1 - i];
  factor_pair p = search(n, esimd_factors, reversed, esimd_bounds);
  if (p.found && p.b > p.a) std::swap(p.a, p.b);  // the larger factor first
  return p;
}

three_factors choose_3_factors(std::int64_t n, bool double_precision) {
  const std::int64_t largest_first = double_precision ? 40 : 64;
  const std::int64_t limit = double_precision ? 40 : 64;
  three_factors t;
  for (std::int64_t f = largest_first; f >= 4; f -= 4)
    if (n % f == 0) {
      t.f1 = f;
      break;
    }
  if (t.f1 == 0) return t;
  const std::int64_t r = n / t.f1;
  if (r < 4) return t;
  t.f2 = t.f3 = 1;
  for (std::int64_t g = 2; g * g <= r; ++g)
    if (r % g == 0 && r / g <= limit && g <= limit) {
      t.f2 = r / g;
      t.f3 = g;
    }
  t.found = t.f2 >= 2 && t.f2 <= 64 && t.f3 >= 2 && t.f3 <= 64;
  return t;
}

bool same_layout_both_sides(const dft_estimate_config& c) {
  const bool fb = forward_backward_mode(c);
  for (int k = 0; k < c.rank && k < estimate_max_rank; ++k) {
    const bool equal = fb ? c.fwd_strides[k] == c.bwd_strides[k]
                          : c.input_strides[k] == c.output_strides[k];
    if (!equal) return false;
  }
  return c.fwd_distance == c.bwd_distance;
}

dft_estimate_config complex_1d_child(std::int64_t length, std::int64_t fwd_stride,
                                     std::int64_t bwd_stride, std::int64_t fwd_distance,
                                     std::int64_t bwd_distance, std::int64_t count,
                                     std::int32_t direction_count, bool in_place) {
  dft_estimate_config child;
  child.rank = 1;
  child.lengths[0] = length;
  child.fwd_strides[0] = fwd_stride;
  child.bwd_strides[0] = bwd_stride;
  child.fwd_distance = fwd_distance;
  child.bwd_distance = bwd_distance;
  child.number_of_transforms = count;
  child.direction_count = direction_count;
  child.in_place = in_place ? 1 : 0;
  return child;
}

dft_estimate_config axis_child(const dft_estimate_config& parent, int axis, int direction) {
  const stride_sides s = sides_of(parent, direction);
  std::int64_t count = parent.number_of_transforms;
  for (int k = 0; k < parent.rank && k < estimate_max_rank; ++k)
    if (k != axis) count = saturating_mul(count, parent.lengths[k]);
  if (axis == 0)
    return complex_1d_child(parent.lengths[0], s.read[0], s.write[0], s.read[1], s.write[1], count,
                            parent.direction_count, parent.in_place != 0);
  return complex_1d_child(parent.lengths[axis], s.write[axis], s.write[axis], s.write[0],
                          s.write[0], count, parent.direction_count, true);
}

}  // namespace dft
}  // namespace qez
}  // namespace ulmara
