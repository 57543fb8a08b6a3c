// The two child plans of the large one-dimensional backend:
//   column child "1DL|col": n_large transforms of n_small points, reading
//     the matrix down its columns (stride L, distance 1) and writing the
//     output (stride n_large, distance 1), not in place, on the ordinary
//     complex list of the precision;
//   row child "1DL|row": n_small transforms of n_large points over the rows
//     of the matrix (stride 1, distance L), in place, on the one-entry list
//     of the pre-twiddle backend.
// Both take the parent's queue, directions and offload mode, run
// single-threaded and get slices of the parent's workspace.
#include <cstring>

#include "dft/api/status_codes.hpp"
#include "dft/gpu/backends/1d_slm_large/large_1d/plan.hpp"
#include "dft/gpu/backends/1d_slm_large/n_facts_slm_pre_twiddle/plan.hpp"
#include "dft/gpu/core/descriptor_creation.hpp"
#include "qez_dft_engine.h"

namespace ulmara::qez::dft::large_1d {

namespace {

constexpr std::size_t label_bytes = 10;
constexpr int label_fill = 32;

// Every stride and distance bit, explicit or derived.
constexpr std::uint32_t all_layout_flags = explicit_layout_flags | set_flag_derived_fb_strides |
                                           set_flag_derived_fb_distances;

// What tells the two children apart.
struct child_shape {
  const char* label;
  const char* tail_label;
  std::int64_t length;
  std::int64_t input_stride, output_stride;
  std::int64_t input_distance, output_distance;
  std::int64_t transforms;
  std::uint32_t placement;
  bool pre_twiddle_list;
};

int create_record(DFTI_DESCRIPTOR** out, std::int64_t length, float*) {
  return create_child_descriptor_c2c_1d_float(out, length, nullptr);
}
int create_record(DFTI_DESCRIPTOR** out, std::int64_t length, double*) {
  return create_child_descriptor_c2c_1d_double(out, length, nullptr);
}

// The child's layout through its method table; the first failing status.
int lay_out(DFTI_DESCRIPTOR* child, const child_shape& s, int tail) {
  char label[label_bytes] = {};
  std::strncpy(label, tail ? s.tail_label : s.label, label_bytes - 1);
  child->set_flags = (child->set_flags & ~all_layout_flags) | io_set_flags;
  const descriptor_methods* m = child->methods;
  const std::int64_t in_strides[2] = {0, s.input_stride};
  const std::int64_t out_strides[2] = {0, s.output_stride};
  int status = m->set_name(child, label, label_bytes, label_fill);
  if (status == status_success) status = m->set_input_strides(child, in_strides);
  if (status == status_success) status = m->set_output_strides(child, out_strides);
  if (status == status_success) status = m->set_input_distance(child, s.input_distance);
  if (status == status_success) status = m->set_output_distance(child, s.output_distance);
  if (status == status_success) status = m->set_number_of_transforms(child, s.transforms);
  return status;
}

// Creates, configures and commits one child into `slot` (which keeps it,
// committed or not, for the parent's release). A child no backend takes
// makes the parent decline.
template <class T>
int make_child(DFTI_DESCRIPTOR*& slot, const DFTI_DESCRIPTOR* parent, const child_shape& s, int tail) {
  const int created = create_record(&slot, s.length, static_cast<T*>(nullptr));
  if (created != status_success) return created;
  DFTI_DESCRIPTOR* child = slot;
  if (s.pre_twiddle_list) child->backend_list = pretw_slm::pre_twiddle_backend_list<T>();
  qez_dft_bless_node_thr(child);
  child->queue = parent->queue;
  child->workspace_internal = 0;
  child->directions = parent->directions;
  child->offload_mode = parent->offload_mode;
  const int laid_out = lay_out(child, s, tail);
  if (laid_out != status_success) return laid_out;
  child->user_threads = 1;
  child->placement = s.placement;
  child->is_child = 1;
  const int committed = child->methods->commit(child);
  return committed == status_invalid_descriptor ? status_not_handled : committed;
}

template <class T>
DFTI_DESCRIPTOR*& slot_of(block<T>* b, bool column, int tail) {
  if (column) return tail ? b->col_tail_child : b->col_child;
  return tail ? b->row_tail_child : b->row_child;
}

}  // namespace

template <class T>
int create_column_child(DFTI_DESCRIPTOR* record, int tail) {
  block<T>* b = block_of<T>(record);
  const child_shape shape{"1DL|col", "1DL|col_t", b->n_small, row_pitch(*b), b->n_large, 1, 1, b->n_large,
                          dfti_not_inplace, false};
  return make_child<T>(slot_of(b, true, tail), record, shape, tail);
}

template <class T>
int create_row_child(DFTI_DESCRIPTOR* record, int tail) {
  block<T>* b = block_of<T>(record);
  const std::int64_t pitch = row_pitch(*b);
  const child_shape shape{"1DL|row", "1DL|row_t", b->n_large, 1, 1, pitch, pitch, b->n_small, dfti_inplace, true};
  return make_child<T>(slot_of(b, false, tail), record, shape, tail);
}

#define QEZ_INSTANTIATE(T)                                  \
  template int create_column_child<T>(DFTI_DESCRIPTOR*, int); \
  template int create_row_child<T>(DFTI_DESCRIPTOR*, int);
QEZ_FOR_EACH_PRECISION(QEZ_INSTANTIATE)
#undef QEZ_INSTANTIATE

}  // namespace ulmara::qez::dft::large_1d
