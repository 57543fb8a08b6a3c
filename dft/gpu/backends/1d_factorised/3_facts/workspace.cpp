// Workspace of the three-factor backend: the class-1 and class-2 tables of
// each prepared direction (forward first), then the temporary area, in the
// backend's own USM allocations or in the caller's buffer or USM workspace.
#include <vector>

#include "dft/api/status_codes.hpp"
#include "dft/gpu/backends/1d_factorised/3_facts/plan.hpp"
#include "dft/gpu/core/backend_definition.hpp"
#include "dft/gpu/core/internal_workspace.hpp"

namespace ulmara {
namespace qez {
namespace dft {
namespace three_factor {

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

template <class T>
bool table_present(const block<T>* b, table_class c, direction d) {
  return b->workspace_kind == workspace_buffer ? b->table_buffers[c][d] != nullptr
                                               : b->table_pointers[c][d] != nullptr;
}

void keep_event(sycl::event*& slot, const sycl::event& e) {
  delete slot;
  slot = new sycl::event(e);
}

}  // namespace

template <class T>
void bkd_free_buffers(block<T>* b, std::uint32_t mode) {
  if (holds_tables(mode)) {
    for (auto& per_class : b->table_events)
      for (sycl::event*& e : per_class) finish_event(e);
    for (auto& per_class : b->table_buffers)
      for (byte_buffer*& s : per_class) release_buffer(s);
    free_device_area_after_queue(*b->queue, b->internal_tables);
    for (auto& per_class : b->table_pointers)
      for (void*& p : per_class) p = nullptr;
  }
  if (holds_temporary(mode)) {
    finish_event(b->last_compute);
    release_buffer(b->temporary_buffer);
    free_device_area_after_queue(*b->queue, b->internal_temporary);
    b->temporary_pointer = nullptr;
  }
}

template <class T>
int add_workspace(void* workspace, int kind, std::uint64_t offset, DFTI_DESCRIPTOR* record, std::uint32_t part,
                  void* events) {
  block<T>* b = block_of<T>(record);
  if (b == nullptr) return status_invalid_configuration;
  b->workspace = workspace;
  b->workspace_kind = kind == workspace_buffer ? workspace_buffer : workspace_usm;
  // Tables still being written and computes still reading go first.
  bkd_free_buffers(b, part);
  if (workspace == nullptr) return status_no_workspace;

  slice_maker slices{workspace, b->workspace_kind, offset};
  if (holds_tables(part)) {
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
  if (holds_temporary(part)) slices.take(b->temporary_bytes, &b->temporary_pointer, &b->temporary_buffer);
  return status_success;
}

template <class T>
int create_and_initialize_internal_workspaces(DFTI_DESCRIPTOR* record) {
  if (record->workspace_internal == 0) return status_bad_descriptor;
  block<T>* b = block_of<T>(record);
  if (b == nullptr) return status_invalid_configuration;
  const std::uint64_t largest = largest_device_allocation(*b->queue);
  std::vector<sycl::event> written;

  internal_allocation tables(b->queue);
  int status = tables.allocate(record->workspace_bytes[0], largest);
  if (status == status_success) {
    status = add_workspace<T>(tables.get(), workspace_usm, 0, record, workspace_part_twiddles, &written);
    // Recorded whatever the status: the block's release waits for the writes.
    b->internal_tables = tables.release();
  }
  if (status == status_success) {
    internal_allocation temporary(b->queue);
    status = temporary.allocate(record->workspace_bytes[1], largest);
    if (status == status_success) {
      status = add_workspace<T>(temporary.get(), workspace_usm, 0, record, workspace_part_scratch, &written);
      b->internal_temporary = temporary.release();
      b->workspace_kind = workspace_internal;
    }
  }
  for (sycl::event& e : written) e.wait();
  return status;
}

#define QEZ_INSTANTIATE(T)                                                                          \
  template void bkd_free_buffers<T>(block<T>*, std::uint32_t);                                      \
  template int add_workspace<T>(void*, int, std::uint64_t, DFTI_DESCRIPTOR*, std::uint32_t, void*); \
  template int create_and_initialize_internal_workspaces<T>(DFTI_DESCRIPTOR*);
QEZ_FOR_EACH_PRECISION(QEZ_INSTANTIATE)
#undef QEZ_INSTANTIATE

}  // namespace three_factor
}  // namespace dft
}  // namespace qez
}  // namespace ulmara
