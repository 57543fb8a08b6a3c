// Workspace estimates of the real 2D and 3D backends: their real row (or
// plane) children, their complex column children and the intermediate
// array.
#include <algorithm>

#include "dft/gpu/core/workspace/estimate_support.hpp"

namespace ulmara::qez::dft {

namespace {

// Row counts the real composites' complex passes see.
std::int64_t half_row(const dft_estimate_config& c) { return c.lengths[0] / 2 + 1; }

// The intermediate complex array between the real rows and the complex
// columns: the packed half-spectrum, or the span the strides give it.
template <class T>
std::int64_t r2c_intermediate_bytes(const dft_estimate_config& c) {
  const std::int64_t e = complex_bytes<T>();
  std::int64_t packed = r128(saturating_mul(half_row(c) * c.number_of_transforms, e));
  for (int k = 1; k < c.rank; ++k) packed = saturating_mul(packed, c.lengths[k]);
  const std::int64_t* s = forward_backward_mode(c) ? c.bwd_strides : c.input_strides;
  std::int64_t span = s[0] * half_row(c);
  for (int k = 1; k < c.rank; ++k) span = std::max(span, saturating_mul(s[k], c.lengths[k]));
  return std::max(r128(saturating_mul(saturating_mul(span, c.number_of_transforms), e)), packed);
}

}  // namespace

template <class T>
std::int64_t dft_r2c_2d_main_gpu_bkd<T>::workspace_estimate(dft_estimate_config c) const {
  if (!c.real_domain || c.rank != 2) return estimate_declined;
  const std::int64_t columns = saturating_mul(c.number_of_transforms, half_row(c));

  dft_estimate_config fwd_rows = axis_child(c, 0, estimate_forward);
  fwd_rows.real_domain = 1;
  fwd_rows.direction_count = 1;
  dft_estimate_config fwd_columns = axis_child(c, 1, estimate_forward);
  fwd_columns.number_of_transforms = columns;
  fwd_columns.direction_count = 1;
  fwd_columns.in_place = 1;
  dft_estimate_config bwd_rows = axis_child(c, 0, estimate_backward);
  bwd_rows.real_domain = 1;
  bwd_rows.direction_count = 1;
  bwd_rows.in_place = 1;
  dft_estimate_config bwd_columns = axis_child(c, 1, estimate_backward);
  bwd_columns.number_of_transforms = columns;
  bwd_columns.direction_count = 1;
  bwd_columns.in_place = c.in_place;

  return estimate_r2c_1d<T>(fwd_rows) + estimate_c2c_1d<T>(fwd_columns) +
         estimate_r2c_1d<T>(bwd_rows) + estimate_c2c_1d<T>(bwd_columns) +
         r2c_intermediate_bytes<T>(c);
}

template <class T>
std::int64_t dft_r2c_3d_main_gpu_bkd<T>::workspace_estimate(dft_estimate_config c) const {
  if (!c.real_domain || c.rank != 3) return estimate_declined;
  const auto plane = [&c](int direction) {
    const stride_sides s = sides_of(c, direction);
    dft_estimate_config p;
    p.rank = 2;
    p.lengths[0] = c.lengths[0];
    p.lengths[1] = c.lengths[1];
    p.fwd_strides[0] = s.read[0];
    p.fwd_strides[1] = s.read[1];
    p.bwd_strides[0] = s.write[0];
    p.bwd_strides[1] = s.write[1];
    p.fwd_distance = s.read[2];
    p.bwd_distance = s.write[2];
    p.number_of_transforms = saturating_mul(c.number_of_transforms, c.lengths[2]);
    p.direction_count = 1;
    p.in_place = c.in_place;
    p.real_domain = 1;
    return p;
  };
  const std::int64_t columns =
      saturating_mul(saturating_mul(c.number_of_transforms, c.lengths[1]), half_row(c));
  const auto depth = [&c, columns](int direction, bool in_place) {
    const stride_sides s = sides_of(c, direction);
    return complex_1d_child(c.lengths[2], s.write[2], s.write[2], s.write[0], s.write[0], columns,
                            1, in_place);
  };
  return estimate_r2c_md<T>(plane(estimate_forward)) +
         estimate_c2c_1d<T>(depth(estimate_forward, true)) +
         estimate_r2c_md<T>(plane(estimate_backward)) +
         estimate_c2c_1d<T>(depth(estimate_backward, c.in_place != 0)) + r2c_intermediate_bytes<T>(c);
}

template class dft_r2c_2d_main_gpu_bkd<float>;
template class dft_r2c_2d_main_gpu_bkd<double>;

template class dft_r2c_3d_main_gpu_bkd<float>;
template class dft_r2c_3d_main_gpu_bkd<double>;

}  // namespace ulmara::qez::dft
