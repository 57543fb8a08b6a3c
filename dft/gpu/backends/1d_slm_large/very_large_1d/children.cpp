// The child plans of the three stages: created through the descriptor core,
// laid out by the stage table, named, committed one after another; their
// first workspaces add up to the parent's.
#include "dft/api/status_codes.hpp"
#include "dft/gpu/backends/1d_slm_large/very_large_1d/plan.hpp"
#include "dft/gpu/core/descriptor_creation.hpp"
#include "qez_dft_engine.h"

namespace ulmara::qez::dft::very_large_1d {

namespace {

// Output distance of a direction, in complex values as the compute counts it.
bool odd_output_start_possible(const block& b, direction d) {
  return serves(b.directions, d) && distances_for(b.batch, b.real != 0, d).output % 2 != 0;
}

// The layout is given in the input/output convention: strides and distances
// are taken as written.
constexpr std::uint32_t io_layout_flags =
    set_flag_input_strides | set_flag_output_strides | set_flag_input_distance | set_flag_output_distance;

void lay_out(DFTI_DESCRIPTOR* child, const child_layout& l) {
  child->lengths.records[0] = dim_record{l.length, l.input_stride, l.output_stride, 0, 0};
  child->batch.records[0] = l.batch[0];
  child->batch.records[1] = l.batch[1];
  child->set_flags = (child->set_flags & ~explicit_layout_flags) | io_layout_flags;
  child->placement = l.placement;
  if (l.post_twiddle_batch > 0) child->fused_twiddle_length = l.post_twiddle_batch;
  child->in_offset = l.input_offset;
  child->out_offset = l.output_offset;
}

void inherit_from_parent(DFTI_DESCRIPTOR* child, const DFTI_DESCRIPTOR* parent, int stage) {
  child->queue = parent->queue;
  child->workspace_internal = 0;
  child->user_threads = 1;
  child->directions = parent->directions;
  child->offload_mode = parent->offload_mode;
  // The last stage writes the result: it carries the scales, which the
  // children's own twiddles apply at no extra cost (the real-domain kernels
  // are linear, so scaling the complex result scales the real one).
  if (stage == stage_count - 1) {
    child->fwd_scale = parent->fwd_scale;
    child->bwd_scale = parent->bwd_scale;
  }
}

int make_child(DFTI_DESCRIPTOR*& slot, const DFTI_DESCRIPTOR* parent, const factor_row& row, std::int64_t pad,
               int stage, int child) {
  const child_layout l = stage_child_layout(row, pad, stage, child);
  if (int status = create_child_descriptor_c2c_1d_float(&slot, l.length, nullptr)) return status;
  qez_dft_bless_node_thr(slot);
  inherit_from_parent(slot, parent, stage);
  lay_out(slot, l);
  const std::string name = stage_child_name(stage);
  char label[child_name_bytes] = {};
  name.copy(label, child_name_bytes);
  if (int status = slot->methods->set_name(slot, label, child_name_bytes, ' ')) return status;
  return slot->methods->commit(slot);
}

}  // namespace

int stage_2_child_count(const block& b) {
  if (b.batch.howmany < 2) return 1;
  if (b.directions != directions_forward && b.directions != directions_backward && b.directions != directions_both)
    return 1;
  return odd_output_start_possible(b, dir_forward) || odd_output_start_possible(b, dir_backward) ? 2 : 1;
}

int create_children(DFTI_DESCRIPTOR* record, const factor_row& row) {
  block& b = *block_of(record);
  for (int stage = 0; stage < stage_count; ++stage) {
    const int count = stage == stage_count - 1 ? stage_2_child_count(b) : 1;
    for (int j = 0; j < count; ++j)
      if (int status = make_child(b.children[child_slot(stage, j)], record, row, b.pad, stage, j)) return status;
    for (int j = 0; j < count; ++j) {
      const DFTI_DESCRIPTOR* child = b.children[child_slot(stage, j)];
      if (child->workspace_bytes[1] != 0) return status_not_handled;
      record->workspace_bytes[0] += child->workspace_bytes[0];
    }
  }
  return status_success;
}

}  // namespace ulmara::qez::dft::very_large_1d
