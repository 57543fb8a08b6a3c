// Workspace estimate of the column-batch backend: per direction the main
// twiddle slice and, for three factors, the sub-slice, from the backend's
// own factor choice.
#include "dft/gpu/backends/1d_factorised/n_fact_colbatch/plan.hpp"
#include "dft/gpu/core/workspace/estimate_support.hpp"

namespace ulmara::qez::dft {

template <class T>
std::int64_t dft_c2c_2_facts_colbatch_gpu_bkd<T>::workspace_estimate(dft_estimate_config c) const {
  if (c.real_domain || c.rank > 1 || c.number_of_transforms < 2 || !both_distances_one(c))
    return estimate_declined;
  const std::int64_t n = c.lengths[0];
  std::int64_t f[n_fact_colbatch::factor_count];
  if (!n_fact_colbatch::choose_factors(n, f)) return estimate_declined;
  const std::int64_t e = complex_bytes<T>();
  const std::int64_t sub_slice = f[2] > 1 ? r128(e * f[1] * f[2]) : 0;
  return c.direction_count * (r128(e * n) + sub_slice);
}

template class dft_c2c_2_facts_colbatch_gpu_bkd<float>;
template class dft_c2c_2_facts_colbatch_gpu_bkd<double>;

}  // namespace ulmara::qez::dft
