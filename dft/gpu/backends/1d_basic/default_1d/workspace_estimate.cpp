// Workspace estimate of the default one-dimensional backend: its batch
// buffer, capped, once per direction.
#include "dft/gpu/core/workspace/estimate_support.hpp"

namespace ulmara::qez::dft {

template <class T>
std::int64_t dft_c2c_default_gpu_bkd<T>::workspace_estimate(dft_estimate_config c) const {
  if (!complex_rank1(c)) return estimate_declined;
  return 2 * capped(complex_bytes<T>() * c.lengths[0], c.number_of_transforms);
}

template class dft_c2c_default_gpu_bkd<float>;
template class dft_c2c_default_gpu_bkd<double>;

}  // namespace ulmara::qez::dft
