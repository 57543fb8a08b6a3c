// Workspace estimate of the large one-dimensional backend: its column and
// row children (8192 x 8192 split) and its matrix.
#include "dft/gpu/core/workspace/estimate_support.hpp"

namespace ulmara::qez::dft {

template <class T>
std::int64_t dft_c2c_large_1d_gpu_bkd<T>::workspace_estimate(dft_estimate_config c) const {
  const std::int64_t n = c.lengths[0];
  if (!complex_rank1(c) || !packed_batch(c) || !is_power_of_two(n) || n < (1 << 21) ||
      n > (1 << 26))
    return estimate_declined;
  constexpr std::int64_t side = 8192;
  const dft_estimate_config columns =
      complex_1d_child(side, side, side, 1, 1, side, c.direction_count, c.in_place != 0);
  const dft_estimate_config rows =
      complex_1d_child(side, 1, 1, side, side, side, c.direction_count, false);
  const std::int64_t e = complex_bytes<T>();
  return estimate_c2c_1d<T>(columns) + dft_c2c_n_facts_gpu_bkd<T>().workspace_estimate(rows) +
         r128(e * c.fwd_distance) + r128(e * n);
}

template class dft_c2c_large_1d_gpu_bkd<float>;
template class dft_c2c_large_1d_gpu_bkd<double>;

}  // namespace ulmara::qez::dft
