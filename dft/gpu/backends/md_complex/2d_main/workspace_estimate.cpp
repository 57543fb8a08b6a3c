// Workspace estimate of the 2D main backend: its axis children and, for
// the single-precision 16384 x 16384 transform, the transposition buffer.
#include "dft/gpu/core/workspace/estimate_support.hpp"

namespace ulmara::qez::dft {

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

template class dft_c2c_2d_main_gpu_bkd<float>;
template class dft_c2c_2d_main_gpu_bkd<double>;

}  // namespace ulmara::qez::dft
