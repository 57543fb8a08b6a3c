#include "dft/gpu/core/workspace/estimate_support.hpp"

namespace ulmara::qez::dft {

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

}  // namespace ulmara::qez::dft
