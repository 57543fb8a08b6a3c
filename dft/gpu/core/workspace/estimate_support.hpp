// Helpers of the estimators: stride sides and child configurations.
#pragma once

#include "dft/gpu/core/workspace/estimate_config.hpp"

namespace ulmara {
namespace qez {
namespace dft {

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

// The two sides agree in every dimension and in distance.
bool same_layout_both_sides(const dft_estimate_config& c);

// A rank-1 child along `axis` of a multi-dimensional parent, seen from the
// sides of `direction`.
dft_estimate_config axis_child(const dft_estimate_config& parent, int axis, int direction);

// A rank-1 complex configuration with forward/backward strides and distances.
dft_estimate_config complex_1d_child(std::int64_t length, std::int64_t fwd_stride,
                                     std::int64_t bwd_stride, std::int64_t fwd_distance,
                                     std::int64_t bwd_distance, std::int64_t count,
                                     std::int32_t direction_count, bool in_place);

}  // namespace dft
}  // namespace qez
}  // namespace ulmara
