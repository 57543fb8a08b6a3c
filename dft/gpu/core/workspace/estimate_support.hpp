// Helpers of the estimators: layout tests, stride sides and child
// configurations. Each backend's estimator lives beside the backend.
#pragma once

#include "dft/gpu/core/workspace/estimate_config.hpp"

namespace ulmara::qez::dft {

enum estimate_direction : int { estimate_forward = 0, estimate_backward = 1 };

inline bool forward_backward_mode(const dft_estimate_config& c) {
  return c.fwd_strides[0] != 0 && c.bwd_strides[0] != 0 && c.input_strides[0] == 0 &&
         c.output_strides[0] == 0;
}

// The strides a transform in `direction` reads (first) and writes (second).
struct stride_sides {
  const std::int64_t* read;
  const std::int64_t* write;
};

inline stride_sides sides_of(const dft_estimate_config& c, int direction) {
  if (forward_backward_mode(c)) return {c.fwd_strides, c.bwd_strides};
  if (direction == estimate_forward) return {c.input_strides, c.output_strides};
  return {c.output_strides, c.input_strides};
}

// One complex transform dimension.
inline bool complex_rank1(const dft_estimate_config& c) { return !c.real_domain && c.rank == 1; }
// Unit innermost strides and packed rows on both sides, without and with
// the batch distances.
inline bool packed(const dft_estimate_config& c) { return is_packed_layout(c, estimate_forward, false); }
inline bool packed_batch(const dft_estimate_config& c) {
  return is_packed_layout(c, estimate_forward, true);
}
inline bool both_distances_one(const dft_estimate_config& c) {
  return c.fwd_distance == 1 && c.bwd_distance == 1;
}
inline bool is_power_of_two(std::int64_t n) { return n > 0 && (n & (n - 1)) == 0; }

// The two sides agree in every dimension and in distance.
bool same_layout_both_sides(const dft_estimate_config& c);

// A rank-1 child along `axis` of a multi-dimensional parent, seen from the
// sides of `direction`.
dft_estimate_config axis_child(const dft_estimate_config& parent, int axis, int direction);

// The complex multi-dimensional composites: the children along every axis,
// for both directions at once when the two sides agree, else per direction.
template <class T>
std::int64_t complex_md_estimate(const dft_estimate_config& c);

// A rank-1 complex configuration with forward/backward strides and distances.
dft_estimate_config complex_1d_child(std::int64_t length, std::int64_t fwd_stride,
                                     std::int64_t bwd_stride, std::int64_t fwd_distance,
                                     std::int64_t bwd_distance, std::int64_t count,
                                     std::int32_t direction_count, bool in_place);

}  // namespace ulmara::qez::dft
