// The child plans of the composite real backends: the real child over the
// inner dimensions and the complex 1D child along the outermost one, one of
// each per direction, shared when both directions configure them alike.
#include "dft/api/status_codes.hpp"
#include "dft/gpu/backends/real_small_md/r2c_md/plan.hpp"
#include "dft/gpu/core/backend.hpp"
#include "dft/gpu/core/child_sharing.hpp"
#include "dft/gpu/core/descriptor_creation.hpp"
#include "qez_dft_engine.h"

namespace ulmara::qez::dft::r2c_md {

namespace {

int create_real(DFTI_DESCRIPTOR** out, const framing& f, float*) {
  if (f.rank == 2) return create_child_descriptor_r2c_1d_float(out, f.lengths[0], nullptr);
  return create_child_descriptor_r2c_md_float(out, 2, f.lengths, nullptr);
}
int create_real(DFTI_DESCRIPTOR** out, const framing& f, double*) {
  if (f.rank == 2) return create_child_descriptor_r2c_1d_double(out, f.lengths[0], nullptr);
  return create_child_descriptor_r2c_md_double(out, 2, f.lengths, nullptr);
}
int create_complex(DFTI_DESCRIPTOR** out, std::int64_t length, float*) {
  return create_child_descriptor_c2c_1d_float(out, length, nullptr);
}
int create_complex(DFTI_DESCRIPTOR** out, std::int64_t length, double*) {
  return create_child_descriptor_c2c_1d_double(out, length, nullptr);
}

// What every child gets from its parent.
void set_up(DFTI_DESCRIPTOR* child, const DFTI_DESCRIPTOR* parent) {
  qez_dft_bless_node_thr(child);
  take_parent_settings(child, parent);
}

// Creates a child into `slot` (which keeps it for release whatever follows).
template <class T>
int make_real(DFTI_DESCRIPTOR*& slot, const DFTI_DESCRIPTOR* parent, const framing& f) {
  const int status = create_real(&slot, f, static_cast<T*>(nullptr));
  if (status == status_success) set_up(slot, parent);
  return status;
}
template <class T>
int make_complex(DFTI_DESCRIPTOR*& slot, const DFTI_DESCRIPTOR* parent, const framing& f) {
  const int status = create_complex(&slot, f.lengths[f.last()], static_cast<T*>(nullptr));
  if (status != status_success) return status;
  set_up(slot, parent);
  slot->fwd_scale = parent->fwd_scale;
  slot->bwd_scale = parent->bwd_scale;
  return status_success;
}

// Real child: inner dimensions {L, R, X}, the last dimension and the
// transforms as batch records {L_last, R_last, X_last}, {count, Dr, X_D}.
void lay_out_real(DFTI_DESCRIPTOR* child, const framing& f, const std::int64_t* x, std::int64_t x_distance) {
  const std::int32_t last = f.last();
  for (std::int32_t d = 0; d < last; ++d) child->lengths.records[d] = dim_record{f.lengths[d], 0, 0, f.real[d], x[d]};
  child->batch.records[0] = dim_record{f.lengths[last], 0, 0, f.real[last], x[last]};
  child->batch.records[1] = dim_record{f.count, 0, 0, f.real_distance, x_distance};
}

// Complex child along the last dimension: forward-domain side `t`,
// backward-domain side the complex layout of `f`; the h columns, the middle
// dimension and the transforms as batch records.
void lay_out_complex(DFTI_DESCRIPTOR* child, const framing& f, const std::int64_t* t, std::int64_t t_distance) {
  const std::int32_t last = f.last();
  child->lengths.records[0] = dim_record{f.lengths[last], 0, 0, t[last], f.complex[last]};
  std::int32_t k = 0;
  child->batch.records[k++] = dim_record{f.half(), 0, 0, t[0], f.complex[0]};
  for (std::int32_t d = 1; d < last; ++d)
    child->batch.records[k++] = dim_record{f.lengths[d], 0, 0, t[d], f.complex[d]};
  child->batch.records[k] = dim_record{f.count, 0, 0, t_distance, f.complex_distance};
}

}  // namespace

template <class T, int rank>
int create_children(DFTI_DESCRIPTOR* r) {
  block& b = *block_of(r);
  const framing fw = framing_of(r, b, plan_basics::dir_forward);
  const framing bw = framing_of(r, b, plan_basics::dir_backward);
  intermediate_layout t;
  if (plan_r2c_md_workspace(r, &t) != status_success) return status_not_handled;

  const pass_labels real_labels = rank == 2 ? pass_labels{"2D_R2CC2R", "2D_R2C", "2D_C2R"}
                                            : pass_labels{"3D_R2CC2R", "3D_R2C", "3D_C2R"};
  const pass_labels complex_labels = rank == 2 ? pass_labels{"2D_R2C|2d", "2DR2C|%s2d", "2DR2C|%s2d"}
                                               : pass_labels{"3D_R2C|3d", "3DR2C|%s3d", "3DR2C|%s3d"};

  // Real children.
  if (plan_basics::serves(r->directions, plan_basics::dir_forward)) {
    if (int s = make_real<T>(b.children[forward_real], r, fw)) return s;
    DFTI_DESCRIPTOR* c = b.children[forward_real];
    lay_out_real(c, fw, fw.complex, fw.complex_distance);
    c->placement = r->placement;
  }
  if (plan_basics::serves(r->directions, plan_basics::dir_backward)) {
    if (int s = make_real<T>(b.children[backward_real], r, bw)) return s;
    DFTI_DESCRIPTOR* c = b.children[backward_real];
    lay_out_real(c, bw, t.strides, t.distance);
    c->placement = r->placement == dfti_inplace ? dfti_inplace : dfti_not_inplace;
    if (rank == 3 && (b.temp_size >= 1 || (r->options & option_destroy_input) != 0))
      c->options = option_destroy_input;
  }
  if (int s = share_or_commit_pass(&b.children[forward_real], &b.children[backward_real], real_labels))
    return s;

  // Complex children; the planner gives the same intermediate again.
  if (plan_r2c_md_workspace(r, &t) != status_success) return status_not_handled;
  if (plan_basics::serves(r->directions, plan_basics::dir_forward)) {
    if (int s = make_complex<T>(b.children[forward_complex], r, fw)) return s;
    DFTI_DESCRIPTOR* c = b.children[forward_complex];
    lay_out_complex(c, fw, fw.complex, fw.complex_distance);
    c->placement = dfti_inplace;
  }
  if (plan_basics::serves(r->directions, plan_basics::dir_backward)) {
    if (int s = make_complex<T>(b.children[backward_complex], r, bw)) return s;
    DFTI_DESCRIPTOR* c = b.children[backward_complex];
    lay_out_complex(c, bw, t.strides, t.distance);
    c->placement = b.layout == case_in_input ? dfti_inplace : dfti_not_inplace;
  }
  return share_or_commit_pass(&b.children[forward_complex], &b.children[backward_complex], complex_labels);
}

template int create_children<float, 2>(DFTI_DESCRIPTOR*);
template int create_children<double, 2>(DFTI_DESCRIPTOR*);
template int create_children<float, 3>(DFTI_DESCRIPTOR*);
template int create_children<double, 3>(DFTI_DESCRIPTOR*);

}  // namespace ulmara::qez::dft::r2c_md
