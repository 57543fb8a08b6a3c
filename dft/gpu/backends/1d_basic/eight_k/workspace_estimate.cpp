// Workspace estimate of the 8192-point backend: its tables and the batch
// scratch.
#include "dft/gpu/core/workspace/estimate_support.hpp"

namespace ulmara::qez::dft {

template <class T>
std::int64_t dft_c2c_8k_2_facts_gpu_bkd<T>::workspace_estimate(dft_estimate_config c) const {
  constexpr std::int64_t length = 8192;
  if (!complex_rank1(c) || !packed(c) || c.lengths[0] != length) return estimate_declined;
  return saturating_mul(length * complex_bytes<T>(), c.number_of_transforms + 8);
}

template class dft_c2c_8k_2_facts_gpu_bkd<float>;
template class dft_c2c_8k_2_facts_gpu_bkd<double>;

}  // namespace ulmara::qez::dft
