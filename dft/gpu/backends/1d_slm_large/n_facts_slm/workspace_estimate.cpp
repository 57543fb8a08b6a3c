// Workspace estimate of the shared-local-memory backend: its factor areas
// and the main table of each direction.
#include "dft/gpu/core/workspace/estimate_support.hpp"

namespace ulmara::qez::dft {

template <class T>
std::int64_t dft_c2c_n_facts_gpu_bkd<T>::workspace_estimate(dft_estimate_config c) const {
  // The backend takes every power of two from 512 to 65536; a class that
  // stopped at 8192 would leave its larger plans out of the estimate.
  const std::int64_t n = c.lengths[0];
  const bool slm_length = is_power_of_two(n) && n >= 512 && n <= 65536;
  if (!complex_rank1(c) || !packed(c) || !slm_length) return estimate_declined;
  const std::int64_t e = complex_bytes<T>();
  return c.direction_count * r128(2 * e * n) + 2 * r128(e * n);
}

template class dft_c2c_n_facts_gpu_bkd<float>;
template class dft_c2c_n_facts_gpu_bkd<double>;

}  // namespace ulmara::qez::dft
