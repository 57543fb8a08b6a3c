// Workspace of the four-factor column-batch backend. The twiddle part holds
// table 1, table 2 and the cross table of each prepared direction (forward
// first); the temporary part holds one launch's pass-1 results. Both live
// in the backend's own USM allocations or in the caller's buffer or USM
// workspace.
#include <vector>

#include "dft/api/status_codes.hpp"
#include "dft/gpu/backends/1d_factorised/4_facts_colbatch/plan.hpp"
#include "dft/gpu/core/backend_definition.hpp"
#include "dft/gpu/core/internal_workspace.hpp"

namespace ulmara {
namespace qez {
namespace dft {
namespace four_factor_colbatch {

namespace {

bool holds_tables(std::uint32_t part) { return part == workspace_part_twiddles || part == workspace_part_both; }
bool holds_temporary(std::uint32_t part) { return part == workspace_part_scratch || part == workspace_part_both; }

sycl::detail::code_location location(unsigned long line) {
  return sycl::detail::code_location(__FILE__, "add_workspace", line, 0);
}

void release_buffer(byte_buffer*& buffer) {
  try {
    delete buffer;
  } catch (...) {
    // The view is gone for the block either way.
  }
  buffer = nullptr;
}

// Slices of one workspace, one after the other from `offset`.
struct slice_maker {
  void* workspace;
  std::uint32_t kind;
  std::uint64_t offset;

  void take(std::uint64_t bytes, void** pointer, byte_buffer** buffer) {
    if (kind == workspace_buffer)
      *buffer = new byte_buffer(*static_cast<byte_buffer*>(workspace), sycl::id<1>(offset), sycl::range<1>(bytes),
                                location(__LINE__));
    else
      *pointer = static_cast<char*>(workspace) + offset;
    offset += bytes;
  }
};

// Events of the table writers for a caller who collects them: the cross
// tables first, then the pass tables.
template <class T>
void hand_over_events(const four_fact_colbatch_state<T>& s, void* events) {
  if (events == nullptr) return;
  auto* list = static_cast<std::vector<sycl::event>*>(events);
  for (int slot : {event_cross_forward, event_cross_backward, event_table_1, event_table_2})
    if (s.twiddle_event[slot] != nullptr) list->push_back(*s.twiddle_event[slot]);
}

}  // namespace

template <class T>
void bkd_free_buffers(four_fact_colbatch_state<T>* s, std::uint32_t part) {
  if (holds_tables(part)) {
    for (sycl::event*& e : s->twiddle_event) finish_event(e);
    release_buffer(s->table1_buf);
    release_buffer(s->table2_buf);
    for (byte_buffer*& b : s->cross_buf) release_buffer(b);
    free_device_area_after_queue(*s->queue, s->internal_twiddle_alloc);
    s->table1_ptr = nullptr;
    s->table2_ptr = nullptr;
    for (void*& p : s->cross_ptr) p = nullptr;
  }
  if (holds_temporary(part)) {
    finish_event(s->last_compute);
    release_buffer(s->temp_buf);
    free_device_area_after_queue(*s->queue, s->internal_temp_alloc);
    s->temp_ptr = nullptr;
  }
}

template <class T>
int add_workspace(void* workspace, int kind, std::uint64_t offset, DFTI_DESCRIPTOR* record, std::uint32_t part,
                  void* events) {
  four_fact_colbatch_state<T>* s = state_of<T>(record);
  if (s == nullptr) return status_invalid_configuration;
  s->workspace_base = workspace;
  s->workspace_kind = kind == workspace_buffer ? workspace_buffer : workspace_usm;
  // Tables still being written and computes still reading go first.
  bkd_free_buffers(s, part);
  if (workspace == nullptr) return status_no_workspace;

  slice_maker slices{workspace, s->workspace_kind, offset};
  if (holds_tables(part)) {
    slices.take(s->pass[pass_1].sub_table_bytes, &s->table1_ptr, &s->table1_buf);
    slices.take(s->pass[pass_2].sub_table_bytes, &s->table2_ptr, &s->table2_buf);
    for (direction d : {dir_forward, dir_backward})
      if (serves(s->direction_mode, d)) slices.take(s->cross_table_bytes, &s->cross_ptr[d], &s->cross_buf[d]);
    const int written = bkd_write_twiddle_tables(s);
    if (written != status_success) return written;
    hand_over_events(*s, events);
  }
  if (holds_temporary(part)) slices.take(s->temp_bytes, &s->temp_ptr, &s->temp_buf);
  return status_success;
}

template <class T>
int create_and_initialize_internal_workspaces(DFTI_DESCRIPTOR* record) {
  if (record->workspace_internal == 0) return status_bad_descriptor;
  four_fact_colbatch_state<T>* s = state_of<T>(record);
  if (s == nullptr) return status_invalid_configuration;
  const std::uint64_t largest = largest_device_allocation(*s->queue);
  std::vector<sycl::event> written;

  internal_allocation tables(s->queue);
  int status = tables.allocate(record->workspace_bytes[0], largest);
  if (status == status_success) {
    status = add_workspace<T>(tables.get(), workspace_usm, 0, record, workspace_part_twiddles, &written);
    // Recorded whatever the status: the block's release waits for the writes.
    s->internal_twiddle_alloc = tables.release();
  }
  if (status == status_success) {
    internal_allocation temporary(s->queue);
    status = temporary.allocate(record->workspace_bytes[1], largest);
    if (status == status_success) {
      status = add_workspace<T>(temporary.get(), workspace_usm, 0, record, workspace_part_scratch, &written);
      s->internal_temp_alloc = temporary.release();
      s->workspace_kind = workspace_internal;
    }
  }
  for (sycl::event& e : written) e.wait();
  return status;
}

#define QEZ_INSTANTIATE(T)                                                                          \
  template void bkd_free_buffers<T>(four_fact_colbatch_state<T>*, std::uint32_t);                  \
  template int add_workspace<T>(void*, int, std::uint64_t, DFTI_DESCRIPTOR*, std::uint32_t, void*); \
  template int create_and_initialize_internal_workspaces<T>(DFTI_DESCRIPTOR*);
QEZ_FOR_EACH_PRECISION(QEZ_INSTANTIATE)
#undef QEZ_INSTANTIATE

}  // namespace four_factor_colbatch
}  // namespace dft
}  // namespace qez
}  // namespace ulmara
