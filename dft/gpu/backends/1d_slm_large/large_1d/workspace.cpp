// Workspace of the large one-dimensional backend. The first part holds what
// survives between computes: the children's tables one after another, and
// the matrix when a child needs scratch space of its own; the second part
// holds the matrix otherwise, and every child's scratch from the same
// offset.
#include <vector>

#include "dft/api/status_codes.hpp"
#include "dft/gpu/backends/1d_slm_large/large_1d/plan.hpp"
#include "dft/gpu/core/backend_protocol.hpp"
#include "dft/gpu/core/block_internal_workspace.hpp"
#include "dft/gpu/core/workspace_slices.hpp"

namespace ulmara::qez::dft::large_1d {

namespace {

// The matrix lies in the first part (true) or in the second.
template <class T>
bool matrix_in(const block<T>* b, bool first) {
  return (b->matrix_in_first_part != 0) == first;
}

template <class T>
void release_matrix_views(block<T>* b) {
  release_view(b->ws_buffer);
  b->ws_usm = nullptr;
}

// The matrix at `offset`: a view of a buffer workspace, or an address in a
// USM one (with a buffer of its own for buffer computes when the workspace
// is the library's).
template <class T>
void take_matrix(block<T>* b, void* workspace, int kind, std::uint64_t offset, bool internal) {
  if (kind == workspace_buffer) {
    b->ws_buffer = workspace_sub_buffer(*static_cast<byte_buffer*>(workspace), offset, b->matrix_bytes);
    return;
  }
  b->ws_usm = static_cast<char*>(workspace) + offset;
  if (internal) b->ws_buffer = new byte_buffer(sycl::range<1>(b->matrix_bytes));
}

template <class T>
DFTI_DESCRIPTOR* const* children_in_order(const block<T>* b, DFTI_DESCRIPTOR* (&out)[4]) {
  out[0] = b->col_child;
  out[1] = b->col_tail_child;
  out[2] = b->row_child;
  out[3] = b->row_tail_child;
  return out;
}

int child_add_workspace(DFTI_DESCRIPTOR* child, void* workspace, int kind, std::uint64_t offset,
                        std::uint32_t part, void* events) {
  if (child->backend == nullptr) return status_invalid_configuration;
  return child->backend->add_workspace(workspace, kind, offset, child, part, events);
}

// One part of the workspace from `offset` (moved past what the part takes):
// the matrix where it belongs to the part, then each child's slice of the
// part. The children's tables lie one after another; their scratch areas
// all start at the same offset.
template <class T>
int lay_out_part(block<T>* b, void* workspace, int kind, std::uint64_t& offset, std::uint32_t part, bool internal,
                 void* events) {
  const bool first = part == workspace_part_twiddles;
  if (matrix_in(b, first)) {
    take_matrix(b, workspace, kind, offset, internal);
    offset += b->matrix_bytes;
  }
  DFTI_DESCRIPTOR* children[4];
  children_in_order(b, children);
  for (DFTI_DESCRIPTOR* child : children) {
    if (child == nullptr) continue;
    const int status = child_add_workspace(child, workspace, kind, offset, part, events);
    if (status != status_success) return status;
    if (first) offset += child->workspace_bytes[0];
  }
  return status_success;
}

}  // namespace

template <class T>
void bkd_free_buffers(block<T>* b, std::uint32_t part) {
  if (covers_twiddle_part(part)) {
    free_device_area_after_queue(*b->queue, b->internal_first);
    if (matrix_in(b, true)) release_matrix_views(b);
  }
  if (covers_scratch_part(part)) {
    free_device_area_after_queue(*b->queue, b->internal_second);
    if (matrix_in(b, false)) release_matrix_views(b);
  }
}

template <class T>
int add_workspace(void* workspace, int kind, std::uint64_t offset, DFTI_DESCRIPTOR* record, std::uint32_t part,
                  void* events) {
  block<T>* b = block_of<T>(record);
  if (b == nullptr) return status_invalid_configuration;
  b->workspace_kind = static_cast<std::uint32_t>(kind);
  bkd_free_buffers(b, part);
  if (!covers_twiddle_part(part) && !covers_scratch_part(part)) return status_success;
  if (workspace == nullptr) return status_no_workspace;
  const bool internal = record->workspace_internal != 0;
  if (covers_twiddle_part(part)) {
    const int status = lay_out_part(b, workspace, kind, offset, workspace_part_twiddles, internal, events);
    if (status != status_success) return status;
  }
  if (covers_scratch_part(part))
    return lay_out_part(b, workspace, kind, offset, workspace_part_scratch, internal, events);
  return status_success;
}

template <class T>
int create_and_initialize_internal_workspaces(DFTI_DESCRIPTOR* record) {
  block<T>* b = block_of<T>(record);
  const int refused = internal_workspace_refusal(record, b);
  if (refused != status_success) return refused;
  std::vector<sycl::event> written;
  const std::uint64_t largest = largest_device_allocation(*b->queue);
  int status = status_success;

  // Part 0, then part 1; each area is the block's as soon as it exists.
  for (std::uint32_t part : {std::uint32_t{workspace_part_twiddles}, std::uint32_t{workspace_part_scratch}}) {
    internal_allocation area(b->queue);
    status = area.allocate(record->workspace_bytes[part], largest);
    if (status != status_success) break;
    void* address = area.release();
    if (address == nullptr) continue;
    status = add_workspace<T>(address, workspace_usm, 0, record, part, &written);
    (part == workspace_part_twiddles ? b->internal_first : b->internal_second) = address;
    if (status != status_success) break;
  }
  b->workspace_kind = workspace_internal;
  for (sycl::event& e : written) e.wait();
  return status;
}

QEZ_FOR_EACH_PRECISION(QEZ_INSTANTIATE_BLOCK_WORKSPACE_ENTRIES)

}  // namespace ulmara::qez::dft::large_1d
