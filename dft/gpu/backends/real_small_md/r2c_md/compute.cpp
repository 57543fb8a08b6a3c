// Workspace of the composite real backends (the intermediate temp, then the
// children's persistent parts at consecutive offsets; the children's scratch
// parts all at one offset) and their compute entries, which run the two
// children of a direction one after the other.
#include <vector>

#include "dft/api/status_codes.hpp"
#include "dft/gpu/backends/real_small_md/r2c_md/plan.hpp"
#include "dft/gpu/core/submitted_work.hpp"

namespace ulmara::qez::dft::r2c_md {

namespace {

// A sub-buffer of a caller's buffer workspace (which must not itself be a
// sub-buffer, and must hold the slice).
std::unique_ptr<byte_buffer> slice_of(void* workspace, std::uint64_t offset, std::uint64_t bytes) {
  auto* parent = static_cast<byte_buffer*>(workspace);
  if (parent == nullptr) return nullptr;
  if (parent->is_sub_buffer())
    throw sycl::exception(sycl::make_error_code(sycl::errc::invalid), "Cannot create sub buffer from sub buffer.");
  if (offset + bytes > parent->byte_size())
    throw sycl::exception(sycl::make_error_code(sycl::errc::invalid),
                          "Requested sub-buffer size exceeds the size of the parent buffer");
  return std::make_unique<byte_buffer>(*parent, sycl::id<1>(offset), sycl::range<1>(bytes),
                                       sycl::detail::code_location(__FILE__, "add_workspace", __LINE__, 0));
}

// The children whose workspace this parent carries, in order, each once.
std::vector<DFTI_DESCRIPTOR*> counted_children(const block& b) {
  std::vector<DFTI_DESCRIPTOR*> out;
  if (b.forward_committed) {
    out.push_back(b.children[forward_real]);
    out.push_back(b.children[forward_complex]);
  }
  if (b.backward_committed) {
    for (child_slot s : {backward_real, backward_complex}) {
      const child_slot twin = s == backward_real ? forward_real : forward_complex;
      if (b.forward_committed && b.children[s] == b.children[twin]) continue;
      out.push_back(b.children[s]);
    }
  }
  return out;
}

int hand_to_child(DFTI_DESCRIPTOR* child, void* workspace, int kind, std::uint64_t offset,
                  std::uint32_t phase, void* events) {
  return child->backend->add_workspace(workspace, kind, offset, child, phase, events);
}

void hand_queue_to(DFTI_DESCRIPTOR* record, DFTI_DESCRIPTOR* real, DFTI_DESCRIPTOR* complex) {
  for (DFTI_DESCRIPTOR* c : {real, complex}) {
    c->offload_mode = record->offload_mode;
    c->queue = record->queue;
  }
}

// Checks shared by both directions: 2 without a block or without the
// direction's children, 5 or 11 for a missing workspace.
int ready(DFTI_DESCRIPTOR* record, plan_basics::direction d) {
  block* b = block_of(record);
  if (b == nullptr) return status_invalid_configuration;
  const int ws = workspace_status(record, b->internal_persistent.get(), b->internal_scratch.get(),
                                         b->workspace_kind);
  if (ws != status_success) return ws;
  // A direction the commit made no children for cannot run.
  const bool committed = d == plan_basics::dir_forward ? b->forward_committed : b->backward_committed;
  return committed ? status_success : status_invalid_configuration;
}

// Runs `first` then `second`, the second waiting for the first's event.
int run_pair(DFTI_DESCRIPTOR* first, compute_entry first_entry, void* input, void* middle,
             DFTI_DESCRIPTOR* second, compute_entry second_entry, void* output, void* dependencies,
             std::uint64_t* container_kind, void* result_event) {
  sycl::event first_done;
  submitted_work work;
  int status = first_entry(first, input, middle, dependencies, container_kind, &first_done);
  if (status != status_success) return status;
  std::vector<sycl::event> after_first{work.add(first_done)};
  sycl::event last;
  status = second_entry(second, middle, output, &after_first, container_kind, &last);
  if (status == status_success && result_event != nullptr) *static_cast<sycl::event*>(result_event) = last;
  return work.settle(status);
}

int compute_backward(DFTI_DESCRIPTOR* record, void* input, void* output, void* dependencies,
                     std::uint64_t* container_kind, void* result_event) {
  const int status = ready(record, plan_basics::dir_backward);
  if (status != status_success) return status;
  block& b = *block_of(record);
  follow_descriptor_queue(record, &b);
  const bool buffer_data = is_buffer_form(container_kind);
  const std::uint64_t data_kind = buffer_data ? container_word_buffer_bit : container_word_usm_bit;
  const bool temp_case = b.layout >= case_packed_outermost;
  // A caller's workspace of the other kind holds no temp this call can use.
  if (record->workspace_internal == 0 && temp_case && (b.workspace_kind & data_kind) == 0)
    return status_no_workspace;
  DFTI_DESCRIPTOR* real = b.children[backward_real];
  DFTI_DESCRIPTOR* complex = b.children[backward_complex];
  hand_queue_to(record, real, complex);

  void* middle = input;
  if (temp_case)
    middle = buffer_data ? static_cast<void*>(b.buffer_temp.get()) : b.usm_temp;
  if (middle == nullptr) return status_no_workspace;
  return run_pair(complex, complex->compute_bwd, input, middle, real, real->compute_bwd, output, dependencies,
                  container_kind, result_event);
}

}  // namespace

void bkd_free_buffers(block* b, std::uint32_t phase) {
  if (b == nullptr) return;
  if (phase == workspace_part_twiddles || phase == workspace_part_both) {
    b->buffer_temp.reset();
    b->internal_persistent.reset();
    b->usm_temp = nullptr;
  }
  if (phase == workspace_part_scratch || phase == workspace_part_both) b->internal_scratch.reset();
}

int add_workspace(void* workspace, int kind, std::uint64_t offset, DFTI_DESCRIPTOR* record,
                  std::uint32_t phase, void* events) {
  block* b = record != nullptr ? block_of(record) : nullptr;
  if (b == nullptr) return status_invalid_configuration;
  b->workspace = workspace;
  b->workspace_kind = static_cast<std::uint32_t>(kind);
  bkd_free_buffers(b, phase);
  const std::vector<DFTI_DESCRIPTOR*> children = counted_children(*b);
  if (phase == workspace_part_twiddles || phase == workspace_part_both) {
    if (b->temp_in_use()) {
      if (kind == plan_basics::workspace_buffer)
        b->buffer_temp = slice_of(workspace, offset, b->temp_size);
      else
        b->usm_temp = static_cast<char*>(workspace) + offset;
      offset += b->temp_size;
    }
    for (DFTI_DESCRIPTOR* c : children) {
      const int status = hand_to_child(c, workspace, kind, offset, workspace_part_twiddles, events);
      if (status != status_success) return status;
      offset += c->workspace_bytes[workspace_part_twiddles];
    }
  }
  if (phase == workspace_part_scratch || phase == workspace_part_both) {
    for (DFTI_DESCRIPTOR* c : children) {
      const int status = hand_to_child(c, workspace, kind, offset, workspace_part_scratch, events);
      if (status != status_success) return status;
    }
  }
  return status_success;
}

int compute_r2c_md_fwd(DFTI_DESCRIPTOR* record, void* input, void* output, void* dependencies,
                       std::uint64_t* container_kind, void* result_event) {
  const int status = ready(record, plan_basics::dir_forward);
  if (status != status_success) return status;
  block& b = *block_of(record);
  follow_descriptor_queue(record, &b);
  DFTI_DESCRIPTOR* real = b.children[forward_real];
  DFTI_DESCRIPTOR* complex = b.children[forward_complex];
  hand_queue_to(record, real, complex);
  return run_pair(real, real->compute_fwd, input, output, complex, complex->compute_fwd, output, dependencies,
                  container_kind, result_event);
}

int compute_r2c_2d_bwd(DFTI_DESCRIPTOR* record, void* input, void* output, void* dependencies,
                       std::uint64_t* container_kind, void* result_event) {
  return compute_backward(record, input, output, dependencies, container_kind, result_event);
}

int compute_r2c_3d_bwd(DFTI_DESCRIPTOR* record, void* input, void* output, void* dependencies,
                       std::uint64_t* container_kind, void* result_event) {
  return compute_backward(record, input, output, dependencies, container_kind, result_event);
}

}  // namespace ulmara::qez::dft::r2c_md
