// Workspace estimate of the three-factor backend, from the backend's own
// factor choice and temporary-area chunking. Both depend on the device only
// through its architecture, so the estimate is the largest over every
// architecture the backend plans for.
#include <algorithm>

#include "dft/gpu/backends/1d_factorised/3_facts/plan.hpp"
#include "dft/gpu/core/workspace/estimate_support.hpp"

namespace ulmara::qez::dft {

namespace {

constexpr qez_gpu_arch_t planned_architectures[] = {
    QEZ_GPU_ARCH_VEMRA, QEZ_GPU_ARCH_SUTAL, QEZ_GPU_ARCH_DORIK, QEZ_GPU_ARCH_FENWA, QEZ_GPU_ARCH_GULON,
    QEZ_GPU_ARCH_HARIX, QEZ_GPU_ARCH_JORVA, QEZ_GPU_ARCH_LUMET, QEZ_GPU_ARCH_NOPRA};

}  // namespace

template <class T>
std::int64_t dft_c2c_3_facts_gpu_bkd<T>::workspace_estimate(dft_estimate_config c) const {
  using namespace three_factor;
  const std::int64_t n = c.lengths[0];
  if (!complex_rank1(c) || !packed(c) || n % 4 != 0 || n > length_limit<T>()) return estimate_declined;
  std::int64_t second_table_entries = 0;  // F1 x F2
  std::uint64_t temporary = 0;
  for (qez_gpu_arch_t architecture : planned_architectures) {
    factors f;
    if (!choose_factors<T>(n, architecture, &f)) continue;
    second_table_entries = std::max(second_table_entries, f.f[pass_1] * f.f[pass_2]);
    temporary = std::max(temporary, chunk_batch<T>(n, c.number_of_transforms, architecture).temporary_bytes);
  }
  if (second_table_entries == 0) return estimate_declined;
  const std::int64_t e = complex_bytes<T>();
  return r128(static_cast<std::int64_t>(temporary)) +
         c.direction_count * (r128(e * second_table_entries) + r128(e * n));
}

template class dft_c2c_3_facts_gpu_bkd<float>;
template class dft_c2c_3_facts_gpu_bkd<double>;

}  // namespace ulmara::qez::dft
