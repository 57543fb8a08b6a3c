// Workspace of the very large backend. From the given offset it holds the
// children's first workspaces in slot order, then the intermediate matrix T;
// the children's own scratch parts are empty. The backend's internal areas
// are USM allocations made at commit.
#include <exception>
#include <vector>

#include "dft/api/status_codes.hpp"
#include "dft/gpu/backends/1d_slm_large/very_large_1d/plan.hpp"
#include "dft/gpu/core/internal_workspace.hpp"

namespace ulmara {
namespace qez {
namespace dft {
namespace very_large_1d {

namespace {

bool holds_children(std::uint32_t part) { return part == workspace_part_twiddles || part == workspace_part_both; }
bool holds_intermediate(std::uint32_t part) {
  return part == workspace_part_scratch || part == workspace_part_both;
}

sycl::detail::code_location location(const char* function, unsigned long line) {
  return sycl::detail::code_location(__FILE__, function, line, 0);
}

void release_buffer(byte_buffer*& buffer) {
  // A failing release would leave the storage in an unknown state that no
  // later compute could trust.
  try {
    delete buffer;
  } catch (...) {
    std::terminate();
  }
  buffer = nullptr;
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
    b->intermediate_buffer = new byte_buffer(*static_cast<byte_buffer*>(workspace), sycl::id<1>(offset),
                                             sycl::range<1>(b->intermediate_bytes), location("add_workspace", __LINE__));
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
  if (holds_children(part)) free_device_area_after_queue(*b->queue, b->internal_first);
  if (holds_intermediate(part)) {
    free_device_area_after_queue(*b->queue, b->internal_second);
    release_buffer(b->intermediate_buffer);
    b->intermediate_pointer = nullptr;
  }
}

int add_workspace(void* workspace, int kind, std::uint64_t offset, DFTI_DESCRIPTOR* record, std::uint32_t part,
                  void* events) {
  block* b = block_of(record);
  if (b == nullptr) return status_invalid_configuration;
  b->workspace_kind = kind;
  b->workspace_base = workspace;
  bkd_free_buffers(b, part);
  // A workspace the parts need must be there.
  const bool needed = (holds_children(part) && record->workspace_bytes[0] != 0) ||
                      (holds_intermediate(part) && b->intermediate_bytes != 0);
  if (workspace == nullptr && needed) return status_no_workspace;

  if (holds_children(part)) {
    if (int status = hand_to_children(b, workspace, kind, offset, workspace_part_twiddles, events)) return status;
    if (part == workspace_part_twiddles) return status_success;
  }
  if (holds_intermediate(part)) {
    place_intermediate(b, record, workspace, kind, offset);
    return hand_to_children(b, workspace, kind, offset, workspace_part_scratch, events);
  }
  return status_success;
}

int create_and_initialize_internal_workspaces(DFTI_DESCRIPTOR* record) {
  if (record->workspace_internal == 0) return status_bad_descriptor;
  block* b = block_of(record);
  if (b == nullptr) return status_invalid_configuration;
  const std::uint64_t largest = largest_device_allocation(*b->queue);
  std::vector<sycl::event> written;

  internal_allocation first(b->queue);
  int status = first.allocate(record->workspace_bytes[0], largest);
  if (status == status_success) {
    status = add_workspace(first.get(), workspace_usm, 0, record, workspace_part_twiddles, &written);
    // Kept whatever the status: the block's release waits for the children's writes.
    b->internal_first = first.release();
  }
  if (status == status_success) {
    internal_allocation second(b->queue);
    status = second.allocate(record->workspace_bytes[1], largest);
    if (status == status_success) {
      status = add_workspace(second.get(), workspace_usm, 0, record, workspace_part_scratch, &written);
      b->internal_second = second.release();
      b->workspace_kind = workspace_internal;
    }
  }
  for (sycl::event& e : written) e.wait();
  return status;
}

}  // namespace very_large_1d
}  // namespace dft
}  // namespace qez
}  // namespace ulmara
