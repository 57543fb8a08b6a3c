// Workspace estimate of the two-factor backend: one twiddle table per
// direction, sized by the backend's own factor choice and paddings.
#include "dft/gpu/backends/1d_basic/two_factor/plan.hpp"
#include "dft/gpu/core/plan_basics.hpp"
#include "dft/gpu/core/workspace/estimate_support.hpp"

namespace ulmara::qez::dft {

namespace {

// The backend's length rules that do not read the batch layout: even N up
// to the longest length, and the double-precision cap of the size test.
bool length_taken(std::int64_t n, bool double_precision) {
  if (n % 2 != 0 || n > two_factor::max_length) return false;
  return !double_precision || two_factor::size_test_passes(true, n, two_factor::batch_layout{}, 0);
}

}  // namespace

template <class T>
std::int64_t dft_c2c_2_facts_gpu_bkd<T>::workspace_estimate(dft_estimate_config c) const {
  const std::int64_t n = c.lengths[0];
  if (!complex_rank1(c) || !packed(c) || !length_taken(n, plan_basics::is_double<T>()))
    return estimate_declined;
  const two_factor::factors f = two_factor::choose_factors(n);
  if (!f.found) return estimate_declined;
  const two_factor::geometry g = two_factor::plan_geometry(f, sizeof(T));
  if (!two_factor::geometry_fits(g)) return estimate_declined;
  return c.direction_count * r128(two_factor::raw_table_bytes(f, g.padfact1, sizeof(T)));
}

template class dft_c2c_2_facts_gpu_bkd<float>;
template class dft_c2c_2_facts_gpu_bkd<double>;

}  // namespace ulmara::qez::dft
