// Workspace estimate of the four-factor column-batch backend: cross and
// sub tables, and the temporary of half the batch.
#include "dft/gpu/core/plan_basics.hpp"
#include "dft/gpu/core/workspace/estimate_support.hpp"

namespace ulmara::qez::dft {

template <class T>
std::int64_t dft_c2c_4_facts_colbatch_gpu_bkd<T>::workspace_estimate(dft_estimate_config c) const {
  const std::int64_t n = c.lengths[0];
  const std::int64_t min_n = plan_basics::is_double<T>() ? 1025 : 2049;
  const std::int64_t max_n = plan_basics::is_double<T>() ? 1048576 : 4194304;
  if (c.real_domain || c.rank > 1 || c.number_of_transforms < 2 || !both_distances_one(c) ||
      n < min_n || n > max_n)
    return estimate_declined;
  const std::int64_t e = complex_bytes<T>();
  return r256(2 * e * n) + 32 * e * n +
         r128(saturating_mul(8 * e * n, ceil_div(c.number_of_transforms, 2)));
}

template class dft_c2c_4_facts_colbatch_gpu_bkd<float>;
template class dft_c2c_4_facts_colbatch_gpu_bkd<double>;

}  // namespace ulmara::qez::dft
