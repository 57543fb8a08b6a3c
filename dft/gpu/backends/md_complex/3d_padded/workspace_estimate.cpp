// Workspace estimate of the padded 3D backend: the padded copy of the cube
// and the children of its three passes.
#include "dft/gpu/core/workspace/estimate_support.hpp"

namespace ulmara::qez::dft {

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

template class dft_c2c_3d_padded_gpu_bkd<float>;
template class dft_c2c_3d_padded_gpu_bkd<double>;

}  // namespace ulmara::qez::dft
