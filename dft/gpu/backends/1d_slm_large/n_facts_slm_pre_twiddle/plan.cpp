// Acceptance, planning, commit and release of the pre-twiddle n-factor SLM
// backend, its backend tables and its one-entry list.
#include <sstream>

#include "dft/api/status_codes.hpp"
#include "dft/gpu/backends/1d_slm_large/n_facts_slm_pre_twiddle/plan.hpp"
#include "dft/gpu/core/alloc_hooks.hpp"
#include "dft/gpu/core/backend_protocol.hpp"
#include "dft/gpu/core/commit_policies.hpp"
#include "dft/gpu/core/guarded_step.hpp"
#include "dft/gpu/core/internal_workspace_step.hpp"
#include "dft/gpu/core/record_queue.hpp"

namespace ulmara {
namespace qez {
namespace dft {
namespace pretw_slm {

namespace {

// The pre-twiddle table's share of the workspace, after the n-factor SLM
// tables that plan_on_device sized.
template <class T>
void size_pre_twiddle_table(block<T>* b, DFTI_DESCRIPTOR* record) {
  b->howmany = b->slm.batch.howmany;
  const std::uint64_t raw = pretw_raw_bytes<T>(b->slm.fft_len, b->howmany);
  b->pretw_bytes = raw == 0 ? 0 : pad_to_base_addr_align(raw, b->slm.queue);
  record->workspace_bytes[0] += b->pretw_bytes;
}

}  // namespace

template <class T>
std::string describe(const block<T>& b) {
  std::ostringstream s;
  s << n_facts_slm::describe(b.slm) << " howmany=" << b.howmany
    << " pre_twiddle=" << (b.pretw_bytes != 0 ? "table" : "runtime");
  return s.str();
}

template <class T>
bool accepts(const DFTI_DESCRIPTOR* r) {
  // The same layouts as the n-factor SLM backend, float floors included.
  return n_facts_slm::accepts<T>(r);
}

template <class T>
int bkd_init(DFTI_DESCRIPTOR* record) {
  block<T>* b = create_block<block<T>>(record);
  if (b == nullptr) return status_allocation_failed;
  n_facts_slm::block<T>& slm = b->slm;
  if (!take_record_basics(&slm, record)) return status_internal_error;

  // Device and architecture queries that throw make the device unusable here.
  const int status = status_unless_thrown(status_internal_error, [&] {
    const int planned = n_facts_slm::plan_on_device(&slm, record);
    if (planned == status_success) size_pre_twiddle_table(b, record);
    return planned;
  });
  if (status != status_success) return status;
  return make_workspace_and_kernels(record, b, create_and_initialize_internal_workspaces<T>);
}

template <class T>
void bkd_free_on_failure(DFTI_DESCRIPTOR* record) {
  block<T>* b = block_of<T>(record);
  if (b == nullptr) return;
  if (b->slm.queue != nullptr) bkd_free_buffers(b, workspace_part_both);
  n_facts_slm::release_kernels(&b->slm);
  free_block(b);
  record->bkd_data = nullptr;
}

// The record's tests, then a probe of the device planning, before the
// commit touches the record.
QEZ_DEFINE_1D_BACKEND_POLICY((acceptance_when<accepts<T>, n_facts_slm::plan_fits_device<T>>), bkd_free_on_failure<T>)

#define QEZ_INSTANTIATE(T)                           \
  template bool accepts<T>(const DFTI_DESCRIPTOR*);  \
  QEZ_INSTANTIATE_BLOCK_COMMIT_ENTRIES(T)
QEZ_FOR_EACH_PRECISION(QEZ_INSTANTIATE)
#undef QEZ_INSTANTIATE

}  // namespace pretw_slm

QEZ_DEFINE_BACKEND_TABLES(dft_c2c_n_facts_pre_twiddle_gpu_bkd, pretw_slm)

namespace pretw_slm {

namespace {
const backend_table* const pre_twiddle_list_float[] = {&dft_c2c_n_facts_pre_twiddle_gpu_bkd_table_float, nullptr};
const backend_table* const pre_twiddle_list_double[] = {&dft_c2c_n_facts_pre_twiddle_gpu_bkd_table_double,
                                                        nullptr};
}  // namespace

template <>
backend_list pre_twiddle_backend_list<float>() {
  return pre_twiddle_list_float;
}
template <>
backend_list pre_twiddle_backend_list<double>() {
  return pre_twiddle_list_double;
}

}  // namespace pretw_slm
}  // namespace dft
}  // namespace qez
}  // namespace ulmara
