// Workspace of the four-factor column-batch backend. The twiddle part holds
// table 1, table 2 and the cross table of each prepared direction (forward
// first); the temporary part holds one launch's pass-0 results. Both live
// in the backend's own USM allocations or in the caller's buffer or USM
// workspace.
#include <vector>

#include "dft/api/status_codes.hpp"
#include "dft/gpu/backends/1d_factorised/4_facts_colbatch/plan.hpp"
#include "dft/gpu/core/backend_protocol.hpp"
#include "dft/gpu/core/block_internal_workspace.hpp"
#include "dft/gpu/core/workspace_slices.hpp"

namespace ulmara::qez::dft::four_factor_colbatch {

namespace {

// Events of the table writers for a caller who collects them: the cross
// tables first, then the pass tables.
template <class T>
void hand_over_events(const block<T>& s, void* events) {
  if (events == nullptr) return;
  auto* list = static_cast<std::vector<sycl::event>*>(events);
  for (int slot : {event_cross_forward, event_cross_backward, event_table_1, event_table_2})
    if (s.twiddle_event[slot] != nullptr) list->push_back(*s.twiddle_event[slot]);
}

}  // namespace

template <class T>
void bkd_free_buffers(block<T>* s, std::uint32_t part) {
  if (covers_twiddle_part(part)) {
    for (sycl::event*& e : s->twiddle_event) finish_event(e);
    release_view(s->table1_buf);
    release_view(s->table2_buf);
    for (byte_buffer*& b : s->cross_buf) release_view(b);
    free_device_area_after_queue(*s->queue, s->internal_twiddle_alloc);
    s->table1_ptr = nullptr;
    s->table2_ptr = nullptr;
    for (void*& p : s->cross_ptr) p = nullptr;
  }
  if (covers_scratch_part(part)) {
    finish_event(s->last_compute);
    release_view(s->temp_buf);
    free_device_area_after_queue(*s->queue, s->internal_temp_alloc);
    s->temp_ptr = nullptr;
  }
}

template <class T>
int add_workspace(void* workspace, int kind, std::uint64_t offset, DFTI_DESCRIPTOR* record, std::uint32_t part,
                  void* events) {
  block<T>* s = block_of<T>(record);
  const int taken = take_workspace(s, workspace, kind, part);
  if (taken != status_success) return taken;

  workspace_slicer slices{workspace, s->workspace_kind == workspace_buffer, offset};
  if (covers_twiddle_part(part)) {
    slices.take(s->passes[pass_0].sub_table_bytes, &s->table1_ptr, &s->table1_buf);
    slices.take(s->passes[pass_1].sub_table_bytes, &s->table2_ptr, &s->table2_buf);
    for (direction d : {dir_forward, dir_backward})
      if (serves(s->directions, d)) slices.take(s->cross_table_bytes, &s->cross_ptr[d], &s->cross_buf[d]);
    const int written = bkd_write_twiddle_table_on_device(s);
    if (written != status_success) return written;
    hand_over_events(*s, events);
  }
  if (covers_scratch_part(part)) slices.take(s->temp_bytes, &s->temp_ptr, &s->temp_buf);
  return status_success;
}

template <class T>
int create_and_initialize_internal_workspaces(DFTI_DESCRIPTOR* record) {
  return create_block_internal_workspace(record, block_of<T>(record), add_workspace<T>,
                                         &block<T>::internal_twiddle_alloc, &block<T>::internal_temp_alloc);
}

QEZ_FOR_EACH_PRECISION(QEZ_INSTANTIATE_BLOCK_WORKSPACE_ENTRIES)

}  // namespace ulmara::qez::dft::four_factor_colbatch
