// Workspace of the 8192-point backend: the twiddle area (per direction in
// use: `twidl_N0`, `twidl_N1`, `twidl`, forward first) and the scratch area,
// laid out in the library's own USM allocations or in the caller's buffer or
// USM workspace.
#include <vector>

#include "dft/api/status_codes.hpp"
#include "dft/gpu/backends/1d_basic/eight_k/plan.hpp"
#include "dft/gpu/core/block_internal_workspace.hpp"
#include "dft/gpu/core/internal_workspace.hpp"
#include "dft/gpu/core/kernel_arguments.hpp"
#include "dft/gpu/core/workspace_slices.hpp"

namespace ulmara::qez::dft::eight_k {

namespace {

// A view is released by the kind it was made with: sub-buffers are heap
// objects of the block, USM views are plain addresses.
void release_view(void*& view, std::uint32_t kind) {
  if (kind == workspace_buffer) delete static_cast<byte_buffer*>(view);
  view = nullptr;
}

// `bytes` at `offset` of the workspace: a new sub-buffer of a buffer
// workspace, else the USM address; none without a workspace.
void* make_view(void* workspace, std::uint32_t kind, std::uint64_t offset, std::uint64_t bytes) {
  if (workspace == nullptr) return nullptr;
  if (kind == workspace_buffer)
    return new byte_buffer(*static_cast<byte_buffer*>(workspace), sycl::id<1>(offset),
                           sycl::range<1>(bytes));
  return static_cast<char*>(workspace) + offset;
}

// Table writes still running are waited for before their memory can go.
template <class T>
void finish_table_writes(block<T>* b) {
  for (auto& per_class : b->table_events)
    for (sycl::event*& e : per_class) finish_event(e);
}

template <class T>
std::uint64_t lay_out_twiddles(block<T>* b, void* workspace, std::uint32_t kind,
                               std::uint64_t offset) {
  b->twiddle_views_kind = kind;
  for (direction d : {dir_forward, dir_backward}) {
    if (!serves(b->directions, d)) continue;
    for (table_class c : {table_n0, table_n1, table_inter}) {
      b->tables[c][d] = make_view(workspace, kind, offset, b->padded_table_bytes[c]);
      offset += b->padded_table_bytes[c];
    }
  }
  return offset;
}

template <class T>
void append_table_events(const block<T>* b, std::vector<sycl::event>* events) {
  for (direction d : {dir_forward, dir_backward})
    for (table_class c : {table_n0, table_n1, table_inter})
      if (b->table_events[c][d] != nullptr) events->push_back(*b->table_events[c][d]);
}

}  // namespace

template <class T>
void bkd_free_buffers(block<T>* b, std::uint32_t part) {
  if (covers_twiddle_part(part)) {
    finish_table_writes(b);
    for (auto& per_class : b->tables)
      for (void*& view : per_class) release_view(view, b->twiddle_views_kind);
    b->twiddle_views_kind = workspace_internal;
    free_device_area_after_queue(*b->queue, b->internal_twiddles);
  }
  if (covers_scratch_part(part)) {
    // No compute may still use the scratch area given up here.
    finish_event(b->last_compute);
    release_view(b->scratch, b->scratch_view_kind);
    b->scratch_view_kind = workspace_internal;
    free_device_area_after_queue(*b->queue, b->internal_scratch);
  }
}

template <class T>
int add_workspace(void* workspace, int container, std::uint64_t offset, DFTI_DESCRIPTOR* record,
                  std::uint32_t part, void* events) {
  block<T>* b = block_of<T>(record);
  if (b == nullptr) return status_invalid_configuration;
  if (part > workspace_part_both) return status_invalid_descriptor;
  b->workspace_kind = static_cast<std::uint32_t>(container);
  b->workspace = workspace;
  // The previous views go by the kind they were made with.
  bkd_free_buffers(b, part);

  const std::uint32_t kind =
      container == workspace_buffer ? workspace_buffer : workspace_usm;
  if (covers_twiddle_part(part)) {
    offset = lay_out_twiddles(b, workspace, kind, offset);
    const int status = bkd_write_twiddle_table_on_device(b);
    if (status != status_success) return status;
    if (events != nullptr) append_table_events(b, static_cast<std::vector<sycl::event>*>(events));
  }
  if (covers_scratch_part(part)) {
    b->scratch_view_kind = kind;
    b->scratch = make_view(workspace, kind, offset, b->padded_scratch_bytes);
  }
  return status_success;
}

template <class T>
int create_and_initialize_internal_workspaces(DFTI_DESCRIPTOR* record) {
  return create_block_internal_workspace(record, block_of<T>(record), add_workspace<T>, &block<T>::internal_twiddles,
                                         &block<T>::internal_scratch);
}

#define QEZ_INSTANTIATE(T)                                                                    \
  template void bkd_free_buffers<T>(block<T>*, std::uint32_t);                                \
  template int add_workspace<T>(void*, int, std::uint64_t, DFTI_DESCRIPTOR*, std::uint32_t,   \
                                void*);                                                        \
  template int create_and_initialize_internal_workspaces<T>(DFTI_DESCRIPTOR*);
QEZ_FOR_EACH_PRECISION(QEZ_INSTANTIATE)
#undef QEZ_INSTANTIATE

}  // namespace ulmara::qez::dft::eight_k
