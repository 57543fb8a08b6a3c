// Workspace estimate of the four-factor backend: the batch temporary (at
// least what fits whole in 64 MiB) and the tables of both directions.
#include <algorithm>

#include "dft/gpu/core/workspace/estimate_support.hpp"

namespace ulmara::qez::dft {

template <class T>
std::int64_t dft_c2c_4_facts_gpu_bkd<T>::workspace_estimate(dft_estimate_config c) const {
  const std::int64_t n = c.lengths[0];
  if (!complex_rank1(c) || !packed(c) || n < 2048 || n > 1048576) return estimate_declined;
  const std::int64_t e = complex_bytes<T>();
  const std::int64_t transform = e * n;
  const std::int64_t whole_in_64mib = ((std::int64_t{1} << 26) / transform) * transform;
  return r128(std::max(saturating_mul(c.number_of_transforms, transform), whole_in_64mib)) +
         2 * (r128(transform) + r128(2 * transform));
}

template class dft_c2c_4_facts_gpu_bkd<float>;
template class dft_c2c_4_facts_gpu_bkd<double>;

}  // namespace ulmara::qez::dft
