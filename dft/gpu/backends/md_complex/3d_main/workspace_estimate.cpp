// Workspace estimate of the 3D main backend: its axis children.
#include "dft/gpu/core/workspace/estimate_support.hpp"

namespace ulmara::qez::dft {

template <class T>
std::int64_t dft_c2c_3d_main_gpu_bkd<T>::workspace_estimate(dft_estimate_config c) const {
  if (c.real_domain || c.rank != 3) return estimate_declined;
  return complex_md_estimate<T>(c);
}

template class dft_c2c_3d_main_gpu_bkd<float>;
template class dft_c2c_3d_main_gpu_bkd<double>;

}  // namespace ulmara::qez::dft
