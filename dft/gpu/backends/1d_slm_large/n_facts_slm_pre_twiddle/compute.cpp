// Compute entries of the pre-twiddle backend: the n-factor SLM compute
// (one command group over the batch, one work-group per transform, on SYCL
// buffers or USM pointers) with the pre-twiddle table as the kernel's
// trailing argument when the plan reads one.
#include "dft/api/status_codes.hpp"
#include "dft/gpu/backends/1d_slm_large/n_facts_slm_pre_twiddle/plan.hpp"
#include "dft/gpu/core/compute_dispatch.hpp"

namespace ulmara::qez::dft::pretw_slm {

namespace {

// The table in the container kind of the block's other tables.
template <class T>
n_facts_slm::trailing_table pre_twiddle_of(const block<T>& b) {
  const bool buffers = b.slm.workspace_kind == n_facts_slm::workspace_buffer;
  return {buffers ? static_cast<void*>(b.pretw_subbuffer) : b.pretw_table, b.pretw_event};
}

template <class T>
int compute_entry(DFTI_DESCRIPTOR* record, void* input, void* output, void* dependencies,
                  std::uint64_t* container_kind, void* result_event, direction d) {
  block<T>* b = block_of<T>(record);
  if (b == nullptr) return status_invalid_configuration;
  follow_descriptor_queue(record, &b->slm);
  const n_facts_slm::trailing_table table = pre_twiddle_of(*b);
  const std::int64_t data_kind =
      is_buffer_form(container_kind) ? std::int64_t{n_facts_slm::workspace_buffer} : kind_usm_pointer;
  // Without a table the kernel computes the pre-twiddle itself.
  return n_facts_slm::compute_1d_xwd<T>(record, input, output, dependencies, result_event, d, data_kind,
                                        b->pretw_bytes != 0 ? &table : nullptr);
}

}  // namespace

QEZ_DEFINE_COMPUTE_ENTRIES(compute_entry<T>, dir_forward, dir_backward)

}  // namespace ulmara::qez::dft::pretw_slm
