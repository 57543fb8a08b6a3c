// The ESIMD strategy of the 2D main backend. The two-factor ESIMD plan is
// not available to this backend yet: the strategy reports that it does not
// fit, so bkd_init goes on to the next strategy, and the block never holds a
// plan.
#include "dft/gpu/backends/md_complex/2d_main/esimd_strategy.hpp"

#include "dft/api/status_codes.hpp"

namespace ulmara {
namespace qez {
namespace dft {
namespace c2c_2d_main {

template <class T>
bool try_esimd_strategy(bkd_data&, DFTI_DESCRIPTOR*) {
  return false;
}

void destroy_esimd_plan(bkd_data& block) { block.esimd_plan = nullptr; }

int esimd_add_workspace(bkd_data&, void*, int, std::uint64_t, std::uint32_t, void*) {
  return status_internal_error;
}

void esimd_set_queue(bkd_data&, sycl::queue*) {}

template <class T>
int esimd_compute(bkd_data&, void*, void*, void*, std::uint64_t, void*, frame::direction) {
  return status_internal_error;
}

template bool try_esimd_strategy<float>(bkd_data&, DFTI_DESCRIPTOR*);
template bool try_esimd_strategy<double>(bkd_data&, DFTI_DESCRIPTOR*);
template int esimd_compute<float>(bkd_data&, void*, void*, void*, std::uint64_t, void*, frame::direction);
template int esimd_compute<double>(bkd_data&, void*, void*, void*, std::uint64_t, void*, frame::direction);

}  // namespace c2c_2d_main
}  // namespace dft
}  // namespace qez
}  // namespace ulmara
