// Workspace of the pre-twiddle backend: the n-factor SLM tables (areas 1
// and 2, then the main tables of the prepared directions), followed by the
// pre-twiddle table T(howmany, N) when the plan reads one.
#include <vector>

#include "dft/api/status_codes.hpp"
#include "dft/gpu/backends/1d_slm_large/n_facts_slm/twiddles.hpp"
#include "dft/gpu/backends/1d_slm_large/n_facts_slm_pre_twiddle/plan.hpp"
#include "dft/gpu/core/backend_protocol.hpp"
#include "dft/gpu/core/workspace_slices.hpp"

namespace ulmara::qez::dft::pretw_slm {

namespace {

// Bytes of the n-factor SLM tables in front of the pre-twiddle table.
template <class T>
std::uint64_t slm_table_bytes(const n_facts_slm::block<T>& slm) {
  std::uint64_t bytes = 0;
  for (std::uint64_t a : slm.area_bytes) bytes += a;
  for (direction d : {dir_forward, dir_backward})
    if (n_facts_slm::serves(slm.directions, d)) bytes += slm.main_table_bytes;
  return bytes;
}

template <class T>
void release_pre_twiddle_table(block<T>* b) {
  finish_event(b->pretw_event);
  release_view(b->pretw_subbuffer);
  b->pretw_table = nullptr;
}

// Lays the table out at `offset` and writes it; 11 without a workspace.
template <class T>
int write_pre_twiddle_table(block<T>* b, void* workspace, std::uint64_t offset) {
  if (workspace == nullptr) return status_no_workspace;
  const std::uint32_t kind = b->slm.workspace_kind;
  void* view;
  if (kind == n_facts_slm::workspace_buffer) {
    b->pretw_subbuffer = workspace_sub_buffer(*static_cast<byte_buffer*>(workspace), offset, b->pretw_bytes);
    view = b->pretw_subbuffer;
  } else {
    b->pretw_table = static_cast<char*>(workspace) + offset;
    view = b->pretw_table;
  }
  const sycl::event written = n_facts_slm::init_or_copy_simple_twiddles_on_device<T>(
      view, kind, b->howmany, b->slm.fft_len, *b->slm.queue);
  b->pretw_event = new sycl::event(written);
  return status_success;
}

}  // namespace

template <class T>
void bkd_free_buffers(block<T>* b, std::uint32_t mode) {
  if (covers_twiddle_part(mode)) release_pre_twiddle_table(b);
  n_facts_slm::bkd_free_buffers(&b->slm, mode);
}

template <class T>
int add_workspace(void* workspace, int kind, std::uint64_t offset, DFTI_DESCRIPTOR* record, std::uint32_t mode,
                  void* events) {
  block<T>* b = block_of<T>(record);
  if (b == nullptr) return status_invalid_configuration;
  if (covers_twiddle_part(mode)) release_pre_twiddle_table(b);
  // The n-factor SLM tables first (the block starts with that backend's).
  const int status = n_facts_slm::add_workspace<T>(workspace, kind, offset, record, mode, events);
  if (status != status_success || !covers_twiddle_part(mode) || b->pretw_bytes == 0) return status;
  const int written = write_pre_twiddle_table(b, workspace, offset + slm_table_bytes(b->slm));
  if (written == status_success && events != nullptr)
    static_cast<std::vector<sycl::event>*>(events)->push_back(*b->pretw_event);
  return written;
}

template <class T>
int create_and_initialize_internal_workspaces(DFTI_DESCRIPTOR* record) {
  return n_facts_slm::create_and_initialize_internal_workspaces<T>(record, add_workspace<T>);
}

QEZ_FOR_EACH_PRECISION(QEZ_INSTANTIATE_BLOCK_WORKSPACE_ENTRIES)

}  // namespace ulmara::qez::dft::pretw_slm
