// add_workspace of the 2D main backend. Part 0 holds, from the offset on:
// the four fused twiddle tables, or the transposes temporary when it must
// outlive the pass-1 child's scratch, then the children's part-0 areas one
// after another. Part 1 is one area shared by everything that runs one
// after another: the children's scratch and otherwise the temporary.
#include "dft/api/status_codes.hpp"
#include "dft/gpu/backends/md_complex/2d_main/esimd_strategy.hpp"
#include "dft/gpu/backends/md_complex/2d_main/plan.hpp"
#include "dft/gpu/backends/md_complex/fused_2_facts/fused_2_facts.hpp"
#include "dft/gpu/core/backend_catalogue.hpp"
#include "dft/gpu/core/workspace_slices.hpp"

namespace ulmara::qez::dft::c2c_2d_main {

namespace {

// A sub-buffer of `bytes` at `offset` of a buffer workspace (SYCL's own
// checks refuse a slice beyond the end or of a sub-buffer).
std::unique_ptr<byte_buffer> slice_of(void* workspace, std::uint64_t offset, std::uint64_t bytes) {
  if (bytes == 0) return nullptr;
  return std::unique_ptr<byte_buffer>(fused_2_facts::table_view(static_cast<byte_buffer*>(workspace), offset, bytes));
}

void* usm_at(void* workspace, std::uint64_t offset) {
  return workspace == nullptr ? nullptr : static_cast<char*>(workspace) + offset;
}

// Places the temporary at `offset` of the workspace.
void place_temporary(block& b, void* workspace, int kind, std::uint64_t offset) {
  const std::uint64_t bytes = static_cast<std::uint64_t>(b.temp_bytes);
  if (kind == plan_basics::workspace_buffer)
    b.temp_buf = slice_of(workspace, offset, bytes);
  else
    b.temp_usm = usm_at(workspace, offset);
}

// Lays out the four fused tables from `offset` and starts writing them.
int place_fused_tables(block& b, void* workspace, int kind, std::uint64_t offset) {
  const std::uint64_t t0 = static_cast<std::uint64_t>(b.dims[0].twiddle_bytes);
  const std::uint64_t t1 = static_cast<std::uint64_t>(b.dims[1].twiddle_bytes);
  const std::uint64_t starts[table_count] = {offset, offset + t0, offset + 2 * t0, offset + 2 * t0 + t1};
  const std::uint64_t sizes[table_count] = {t0, t0, t1, t1};
  for (int t = 0; t < table_count; ++t) {
    if (kind == plan_basics::workspace_buffer)
      b.tables_buf[t] = slice_of(workspace, starts[t], sizes[t]);
    else
      b.tables_usm[t] = usm_at(workspace, starts[t]);
  }
  return bkd_write_twiddle_table_on_device(b);
}

void append_table_events(const block& b, void* events) {
  if (events == nullptr) return;
  auto* list = static_cast<std::vector<sycl::event>*>(events);
  for (const sycl::event* e : b.table_events)
    if (e != nullptr) list->push_back(*e);
}

int hand_to_child(DFTI_DESCRIPTOR* child, void* workspace, int kind, std::uint64_t offset, std::uint32_t phase,
                  void* events) {
  return child->backend->add_workspace(workspace, kind, offset, child, phase, events);
}

}  // namespace

template <class T>
int add_workspace(void* workspace, int kind, std::uint64_t offset, DFTI_DESCRIPTOR* record, std::uint32_t phase,
                  void* events) {
  // Only a record this backend holds carries its block: a record of another
  // backend has no block of this kind.
  const backend_table* self = plan_basics::is_double<T>() ? &dft_c2c_2d_main_gpu_bkd_table_double
                                                         : &dft_c2c_2d_main_gpu_bkd_table_float;
  const bool mine = record != nullptr && record->backend == self;
  block* b = mine ? block_of(record) : nullptr;
  if (b == nullptr) return status_invalid_configuration;
  b->workspace_kind = static_cast<std::uint32_t>(kind);
  b->workspace = workspace;
  if (b->esimd_plan != nullptr) return esimd_add_workspace(*b, workspace, kind, offset, phase, events);
  bkd_free_buffers(b, phase);

  DFTI_DESCRIPTOR* children[4] = {};
  const int count = counted_children(*b, children);
  std::uint64_t o = offset;
  if (covers_twiddle_part(phase)) {
    if (b->fused) {
      const int status = place_fused_tables(*b, workspace, kind, o);
      append_table_events(*b, events);
      if (status != status_success) return status;
      o += 2 * static_cast<std::uint64_t>(b->dims[0].twiddle_bytes + b->dims[1].twiddle_bytes);
    }
    if (b->transposes && b->temp_in_part0) {
      place_temporary(*b, workspace, kind, o);
      o += static_cast<std::uint64_t>(b->temp_bytes);
    }
    for (int k = 0; k < count; ++k) {
      const int status = hand_to_child(children[k], workspace, kind, o, workspace_part_twiddles, events);
      if (status != status_success) return status;
      o += children[k]->workspace_bytes[workspace_part_twiddles];
    }
  }
  if (covers_scratch_part(phase)) {
    if (b->fused) return status_success;
    if (phase == workspace_part_both) o = offset + record->workspace_bytes[workspace_part_twiddles];
    if (b->transposes && !b->temp_in_part0) place_temporary(*b, workspace, kind, o);
    // The passes run one after another: their scratch areas overlap.
    for (int k = 0; k < count; ++k) {
      const int status = hand_to_child(children[k], workspace, kind, o, workspace_part_scratch, events);
      if (status != status_success) return status;
    }
  }
  return status_success;
}

template int add_workspace<float>(void*, int, std::uint64_t, DFTI_DESCRIPTOR*, std::uint32_t, void*);
template int add_workspace<double>(void*, int, std::uint64_t, DFTI_DESCRIPTOR*, std::uint32_t, void*);

}  // namespace ulmara::qez::dft::c2c_2d_main
