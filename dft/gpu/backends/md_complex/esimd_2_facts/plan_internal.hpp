// What the engine's files share beyond the public plan: the executable
// bundle of a pass, the layout of the record's slices and the table writers.
#pragma once

#include <sycl/sycl.hpp>

#include "dft/gpu/backends/md_complex/esimd_2_facts/plan.hpp"
#include "dft/gpu/backends/md_complex/esimd_2_facts/plan_geometry.hpp"

namespace ulmara::qez::dft::esimd_2_facts {

struct pass_bundle {
  sycl::kernel_bundle<sycl::bundle_state::executable> bundle;
};

// Slice of pass d and direction D, and its place in the events vector.
inline int slice_of(std::uint64_t pass, int direction) { return static_cast<int>(2 * pass) + direction; }
inline std::uint64_t event_of(std::uint64_t rank, std::uint64_t pass, int direction) {
  return direction == 0 ? pass : rank + pass;
}

// fact1 rounded up to a multiple of the 8 complex lanes of a vector.
inline std::uint64_t padded_factor(std::uint32_t fact) { return ceil_div(fact, lanes) * lanes; }

// Complex entries of one table of pass d.
template <class T>
std::uint64_t table_entries(const esimd_2_facts_plan<T>& p, std::uint64_t pass) {
  return p.column_batch[pass] ? lanes * p.fact0[pass] * p.fact1[pass] : p.fact0[pass] * padded_factor(p.fact1[pass]);
}

// Builds the executable bundle of pass d (its four kernels and the pass's
// specialization constants) into the plan.
template <class T>
void build_pass_bundle(esimd_2_facts_plan<T>& p, std::uint64_t pass, const pass_geometry& g);

}  // namespace ulmara::qez::dft::esimd_2_facts
