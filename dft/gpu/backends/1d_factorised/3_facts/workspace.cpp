// Workspace of the three-factor backend: the class-1 and class-2 tables of
// each prepared direction (forward first), then the temporary area, in the
// backend's own USM allocations or in the caller's buffer or USM workspace.
#include <vector>

#include "dft/api/status_codes.hpp"
#include "dft/gpu/backends/1d_factorised/3_facts/plan.hpp"
#include "dft/gpu/core/backend_protocol.hpp"
#include "dft/gpu/core/block_internal_workspace.hpp"
#include "dft/gpu/core/workspace_slices.hpp"

namespace ulmara::qez::dft::three_factor {

namespace {

template <class T>
bool table_present(const block<T>* b, table_class c, direction d) {
  return b->workspace_kind == workspace_buffer ? b->table_buffers[c][d] != nullptr
                                               : b->table_pointers[c][d] != nullptr;
}

}  // namespace

template <class T>
void bkd_free_buffers(block<T>* b, std::uint32_t mode) {
  if (covers_twiddle_part(mode)) {
    for (auto& per_class : b->table_events)
      for (sycl::event*& e : per_class) finish_event(e);
    for (auto& per_class : b->table_buffers)
      for (byte_buffer*& s : per_class) release_view(s);
    free_device_area_after_queue(*b->queue, b->internal_tables);
    for (auto& per_class : b->table_pointers)
      for (void*& p : per_class) p = nullptr;
  }
  if (covers_scratch_part(mode)) {
    finish_event(b->last_compute);
    release_view(b->temporary_buffer);
    free_device_area_after_queue(*b->queue, b->internal_temporary);
    b->temporary_pointer = nullptr;
  }
}

template <class T>
int add_workspace(void* workspace, int kind, std::uint64_t offset, DFTI_DESCRIPTOR* record, std::uint32_t part,
                  void* events) {
  block<T>* b = block_of<T>(record);
  const int taken = take_workspace(b, workspace, kind, part);
  if (taken != status_success) return taken;

  workspace_slicer slices{workspace, b->workspace_kind == workspace_buffer, offset};
  if (covers_twiddle_part(part)) {
    for (direction d : {dir_forward, dir_backward}) {
      if (!serves(b->directions, d)) continue;
      for (table_class c : {class_1, class_2})
        slices.take(b->class_bytes[c], &b->table_pointers[c][d], &b->table_buffers[c][d]);
    }
    for (direction d : {dir_forward, dir_backward}) {
      if (!serves(b->directions, d)) continue;
      for (table_class c : {class_1, class_2}) {
        if (!table_present(b, c, d)) return status_no_workspace;
        keep_event(b->table_events[c][d], bkd_write_twiddle_table_on_device(*b, c, d));
      }
    }
    if (events != nullptr) {
      auto* list = static_cast<std::vector<sycl::event>*>(events);
      for (direction d : {dir_forward, dir_backward})
        for (table_class c : {class_1, class_2})
          if (b->table_events[c][d] != nullptr) list->push_back(*b->table_events[c][d]);
    }
  }
  if (covers_scratch_part(part)) slices.take(b->temporary_bytes, &b->temporary_pointer, &b->temporary_buffer);
  return status_success;
}

template <class T>
int create_and_initialize_internal_workspaces(DFTI_DESCRIPTOR* record) {
  return create_block_internal_workspace(record, block_of<T>(record), add_workspace<T>, &block<T>::internal_tables,
                                         &block<T>::internal_temporary);
}

QEZ_FOR_EACH_PRECISION(QEZ_INSTANTIATE_BLOCK_WORKSPACE_ENTRIES)

}  // namespace ulmara::qez::dft::three_factor
