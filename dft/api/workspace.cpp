#include "dft/api/workspace.hpp"

#include "dft/api/descriptor_state.hpp"

namespace ulmara::qez::dft {
namespace {

const char* const workspace_operation = "set_workspace";

void check_committed(const DFTI_DESCRIPTOR* record) {
  ensure_initialized(record, workspace_operation);
  if (record->commit_status != dfti_committed) throw uncommitted_descriptor_exception();
}

void attach(DFTI_DESCRIPTOR* record, void* container, container_kind kind) {
  throw_on_dfti_status(record->methods->set_workspace(record, container,
                                                       static_cast<std::uint32_t>(kind)));
}

// USM allocations of the queue's context that a device can use as scratch.
bool usable_usm(const void* pointer, const sycl::queue& queue) {
  switch (sycl::get_pointer_type(pointer, queue.get_context())) {
    case sycl::usm::alloc::device:
    case sycl::usm::alloc::shared: return true;
    case sycl::usm::alloc::host: return false;
    default: return queue.get_device().has(sycl::aspect::usm_system_allocations);
  }
}

}  // namespace

void set_buffer_workspace(DFTI_DESCRIPTOR* record, sycl::buffer<char, 1>& workspace,
                          bool is_sub_buffer) {
  check_committed(record);
  const std::uint64_t required = required_workspace_bytes(record);
  if (required == 0) return;
  if (is_sub_buffer)
    throw ulmara::qez::invalid_argument("FFT", workspace_operation,
                                        "Sub-buffer workspaces are not supported.");
  if (required > workspace.size()) throw no_workspace_exception();
  attach(record, &workspace, container_buffer);
}

void set_usm_workspace(DFTI_DESCRIPTOR* record, void* workspace) {
  check_committed(record);
  if (required_workspace_bytes(record) == 0) return;
  const sycl::queue* queue = record_queue(record);
  if (workspace == nullptr || queue == nullptr || !usable_usm(workspace, *queue))
    throw no_workspace_exception();
  attach(record, workspace, container_usm);
}

}  // namespace ulmara::qez::dft
