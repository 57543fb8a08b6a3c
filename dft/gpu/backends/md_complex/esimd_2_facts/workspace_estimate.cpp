// Workspace estimate of the ESIMD two-factor engine, from the engine's own
// factor pairs: one table per pass and direction.
#include "dft/gpu/backends/md_complex/esimd_2_facts/plan_geometry.hpp"
#include "dft/gpu/core/workspace/estimate_support.hpp"

namespace ulmara::qez::dft {

namespace {

// Complex values of one pass's table, or 0 when its length has no pair.
std::int64_t pass_table_entries(std::int64_t n) {
  esimd_2_facts::factor_pair p{};
  if (n % 2 != 0 || !esimd_2_facts::choose_factor_pair(n, &p)) return 0;
  return std::int64_t{p.fact0} * round_up(p.fact1, 8);
}

}  // namespace

// The engine's own estimate applies to real-domain configurations only; the
// complex combinations ask it and always hear "declined", so its workspace
// is accounted for by the multi-dimensional classes that own the engine.
template <class T>
std::int64_t dft_c2c_esimd_2_facts_gpu_bkd<T>::workspace_estimate(dft_estimate_config c) const {
  if (c.rank > 3 || !c.real_domain || !packed_batch(c)) return estimate_declined;
  const std::int64_t inner = pass_table_entries(c.lengths[0]);
  if (inner == 0) return estimate_declined;
  const std::int64_t e = complex_bytes<T>();
  const auto slack = static_cast<std::int64_t>(esimd_2_facts::workspace_offset_slack(sizeof(T)));
  if (c.rank == 2) {
    const std::int64_t outer = pass_table_entries(c.lengths[1]);
    if (outer == 0) return estimate_declined;
    return 2 * (r128(e * inner) + r128(e * outer)) + slack;
  }
  return 2 * r128(e * inner) + slack;
}

template class dft_c2c_esimd_2_facts_gpu_bkd<float>;
template class dft_c2c_esimd_2_facts_gpu_bkd<double>;

}  // namespace ulmara::qez::dft
