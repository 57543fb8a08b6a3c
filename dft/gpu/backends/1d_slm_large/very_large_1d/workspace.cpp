// Workspace of the very large backend. From the given offset it holds the
// children's first workspaces in slot order, then the intermediate matrix T;
// the children's own scratch parts are empty. The backend's internal areas
// are USM allocations made at commit.
#include <vector>

#include "dft/api/status_codes.hpp"
#include "dft/gpu/backends/1d_slm_large/very_large_1d/plan.hpp"
#include "dft/gpu/core/block_internal_workspace.hpp"
#include "dft/gpu/core/workspace_slices.hpp"

namespace ulmara::qez::dft::very_large_1d {

namespace {

sycl::detail::code_location location(const char* function, unsigned long line) {
  return sycl::detail::code_location(__FILE__, function, line, 0);
}

// Hands every present child its part of the workspace, from `offset` on;
// part 0 advances `offset` past each child's first workspace.
int hand_to_children(block* b, void* workspace, int kind, std::uint64_t& offset, std::uint32_t part,
                     void* events) {
  for (DFTI_DESCRIPTOR* child : b->children) {
    if (child == nullptr) continue;
    if (int status = child->backend->add_workspace(workspace, kind, offset, child, part, events)) return status;
    if (part == workspace_part_twiddles) offset += child->workspace_bytes[0];
  }
  return status_success;
}

void place_intermediate(block* b, const DFTI_DESCRIPTOR* record, void* workspace, int kind, std::uint64_t offset) {
  if (kind == workspace_buffer) {
    b->intermediate_buffer = workspace_sub_buffer(*static_cast<byte_buffer*>(workspace), offset, b->intermediate_bytes);
    return;
  }
  b->intermediate_pointer = static_cast<char*>(workspace) + offset;
  // Buffer-form computes on an internal (USM) workspace need T as a buffer.
  if (record->workspace_internal != 0)
    b->intermediate_buffer = new byte_buffer(sycl::range<1>(b->intermediate_bytes), sycl::property_list{},
                                             location("add_workspace", __LINE__));
}

}  // namespace

void bkd_free_buffers(block* b, std::uint32_t part) {
  if (covers_twiddle_part(part)) free_device_area_after_queue(*b->queue, b->internal_first);
  if (covers_scratch_part(part)) {
    free_device_area_after_queue(*b->queue, b->internal_second);
    release_view(b->intermediate_buffer);
    b->intermediate_pointer = nullptr;
  }
}

int add_workspace(void* workspace, int kind, std::uint64_t offset, DFTI_DESCRIPTOR* record, std::uint32_t part,
                  void* events) {
  block* b = block_of(record);
  if (b == nullptr) return status_invalid_configuration;
  b->workspace_kind = static_cast<std::uint32_t>(kind);
  b->workspace = workspace;
  bkd_free_buffers(b, part);
  // A workspace the parts need must be there.
  const bool needed = (covers_twiddle_part(part) && record->workspace_bytes[0] != 0) ||
                      (covers_scratch_part(part) && b->intermediate_bytes != 0);
  if (workspace == nullptr && needed) return status_no_workspace;

  if (covers_twiddle_part(part)) {
    if (int status = hand_to_children(b, workspace, kind, offset, workspace_part_twiddles, events)) return status;
    if (part == workspace_part_twiddles) return status_success;
  }
  if (covers_scratch_part(part)) {
    place_intermediate(b, record, workspace, kind, offset);
    return hand_to_children(b, workspace, kind, offset, workspace_part_scratch, events);
  }
  return status_success;
}

int create_and_initialize_internal_workspaces(DFTI_DESCRIPTOR* record) {
  return create_block_internal_workspace(record, block_of(record), add_workspace, &block::internal_first,
                                         &block::internal_second);
}

}  // namespace ulmara::qez::dft::very_large_1d
