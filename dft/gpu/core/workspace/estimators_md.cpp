// Estimators of the composite multi-dimensional backends: they split the
// configuration into the child configurations their backends commit and ask
// the one-dimensional combinations again.
#include <algorithm>

#include "dft/gpu/core/workspace/estimate_support.hpp"

namespace ulmara {
namespace qez {
namespace dft {
namespace {

template <class T>
std::int64_t sum_of_axis_children(const dft_estimate_config& c, int direction,
                                  std::int32_t direction_count) {
  std::int64_t total = 0;
  for (int axis = 0; axis < c.rank; ++axis) {
    dft_estimate_config child = axis_child(c, axis, direction);
    child.direction_count = direction_count;
    total += estimate_c2c_1d<T>(child);
  }
  return total;
}

// Shared by the 2D and 3D complex classes.
template <class T>
std::int64_t complex_md_estimate(const dft_estimate_config& c) {
  const bool same = same_layout_both_sides(c);
  const std::int64_t fwd = sum_of_axis_children<T>(c, estimate_forward, same ? c.direction_count : 1);
  if (same) return fwd;
  const std::int64_t bwd = sum_of_axis_children<T>(c, estimate_backward, 1);
  return c.direction_count == 1 ? std::max(fwd, bwd) : fwd + bwd;
}

// Row counts the real composites' complex passes see.
std::int64_t half_row(const dft_estimate_config& c) { return c.lengths[0] / 2 + 1; }

}  // namespace

template <class T>
std::int64_t dft_c2c_2d_main_gpu_bkd<T>::workspace_estimate(dft_estimate_config c) const {
  if (c.real_domain || c.rank != 2) return estimate_declined;
  std::int64_t bytes = complex_md_estimate<T>(c);
  constexpr std::int64_t huge_side = 16384;
  if (sizeof(T) == sizeof(float) && c.lengths[0] == huge_side && c.lengths[1] == huge_side &&
      c.number_of_transforms == 1 && is_packed_layout(c, estimate_forward, true))
    bytes += r128(8 * huge_side * huge_side);
  return bytes;
}

template <class T>
std::int64_t dft_c2c_3d_main_gpu_bkd<T>::workspace_estimate(dft_estimate_config c) const {
  if (c.real_domain || c.rank != 3) return estimate_declined;
  return complex_md_estimate<T>(c);
}

template <class T>
std::int64_t dft_c2c_3d_padded_gpu_bkd<T>::workspace_estimate(dft_estimate_config c) const {
  if (c.real_domain || c.rank != 3) return estimate_declined;
  const std::int64_t n = c.lengths[0];
  if ((n != 512 && n != 1024) || c.lengths[1] != n || c.lengths[2] != n) return estimate_declined;
  const bool fb = forward_backward_mode(c);
  const std::int64_t* first = fb ? c.fwd_strides : c.input_strides;
  const std::int64_t* second = fb ? c.bwd_strides : c.output_strides;
  const std::int64_t expected[3] = {1, n, n * n};
  for (int k = 0; k < 3; ++k)
    if (first[k] != expected[k] || second[k] != expected[k]) return estimate_declined;
  const std::int64_t m = c.number_of_transforms;
  if (m >= 2 && (c.fwd_distance != n * n * n || c.bwd_distance != n * n * n))
    return estimate_declined;

  const std::int64_t pad = sizeof(T) == sizeof(float) ? 2 : 1;  // 16 bytes per row
  const std::int64_t row = n + pad;
  const std::int32_t d = c.direction_count;
  const dft_estimate_config c1 = complex_1d_child(n, 1, 1, n, row, n * n * m, d, false);
  const dft_estimate_config c2 = complex_1d_child(n, n * row, n * row, 1, 1, n * row, d, true);
  const dft_estimate_config c3 = complex_1d_child(n, row, n, 1, 1, n, d, false);
  const std::int64_t e = complex_bytes<T>();
  return saturating_mul((e * n + 16) * n * n, m) + estimate_c2c_1d<T>(c1) +
         saturating_mul(m, estimate_c2c_1d<T>(c2)) + saturating_mul(n * m, estimate_c2c_1d<T>(c3));
}

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

template std::int64_t r2c_intermediate_bytes<float>(const dft_estimate_config&);
template std::int64_t r2c_intermediate_bytes<double>(const dft_estimate_config&);
#define QEZ_INSTANTIATE(name) \
  template class name<float>; \
  template class name<double>;
QEZ_INSTANTIATE(dft_c2c_2d_main_gpu_bkd)
QEZ_INSTANTIATE(dft_c2c_3d_main_gpu_bkd)
QEZ_INSTANTIATE(dft_c2c_3d_padded_gpu_bkd)
QEZ_INSTANTIATE(dft_r2c_2d_main_gpu_bkd)
QEZ_INSTANTIATE(dft_r2c_3d_main_gpu_bkd)
#undef QEZ_INSTANTIATE

}  // namespace dft
}  // namespace qez
}  // namespace ulmara
