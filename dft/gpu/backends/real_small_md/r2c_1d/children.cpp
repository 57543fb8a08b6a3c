// The complex child plans of the real one-dimensional backend: N/2-point
// (even N) or N-point (odd N) complex transforms, in place on the temp rows,
// one for a full group and one for the last, shorter group.
#include <cstring>

#include "dft/api/status_codes.hpp"
#include "dft/gpu/backends/real_small_md/r2c_1d/plan.hpp"
#include "dft/gpu/core/descriptor_creation.hpp"
#include "qez_dft_engine.h"

namespace ulmara::qez::dft::r2c_1d {

namespace {

constexpr char child_label[] = "1D_R2C|c";
constexpr std::size_t name_bytes = 10;
constexpr int name_pad = ' ';

int create_complex_record(DFTI_DESCRIPTOR** out, std::int64_t length, float*) {
  return create_child_descriptor_c2c_1d_float(out, length, nullptr);
}
int create_complex_record(DFTI_DESCRIPTOR** out, std::int64_t length, double*) {
  return create_child_descriptor_c2c_1d_double(out, length, nullptr);
}

// Complex rows of a group of `transforms` real transforms.
std::int64_t child_rows(const block& b, child_slot which) {
  return rows_for(which == child_main ? b.group_batch : b.remainder_batch, b.even());
}

void configure(DFTI_DESCRIPTOR* child, const DFTI_DESCRIPTOR* parent, const block& b, child_slot which) {
  qez_dft_bless_node_thr(child);
  child->queue = parent->queue;
  child->fwd_scale = parent->fwd_scale;
  child->bwd_scale = parent->bwd_scale;
  child->directions = parent->directions;
  // Rows of TD contiguous points, TD apart, on both sides.
  const std::int64_t td = b.child_length;
  child->batch.records[0] = dim_record{child_rows(b, which), 0, 0, td, td};
  child->lengths.records[0] = dim_record{td, 0, 0, 1, 1};
  child->offload_mode = parent->offload_mode;
  child->workspace_internal = 0;
}

int name_child(DFTI_DESCRIPTOR* child) {
  char name[name_bytes] = {};
  std::memcpy(name, child_label, sizeof child_label - 1);
  return child->methods->set_name(child, name, name_bytes, name_pad);
}

}  // namespace

template <class T>
int create_r2c_complex_child(DFTI_DESCRIPTOR* record, child_slot which) {
  block* b = block_of(record);
  child_handle& slot = b->children[which];
  if (!slot) {
    DFTI_DESCRIPTOR* child = nullptr;
    const int status = create_complex_record(&child, b->child_length, static_cast<T*>(nullptr));
    if (status != status_success) return status;
    slot.reset(child);
  }
  DFTI_DESCRIPTOR* child = slot.get();
  configure(child, record, *b, which);
  const int named = name_child(child);
  if (named != status_success) return named;
  child->user_threads = 1;
  child->placement = dfti_inplace;
  child->is_child = 1;
  return child->methods->commit(child);
}

void child_release::operator()(DFTI_DESCRIPTOR* child) const {
  if (child != nullptr) child->free(child, child);
}

template int create_r2c_complex_child<float>(DFTI_DESCRIPTOR*, child_slot);
template int create_r2c_complex_child<double>(DFTI_DESCRIPTOR*, child_slot);

}  // namespace ulmara::qez::dft::r2c_1d
