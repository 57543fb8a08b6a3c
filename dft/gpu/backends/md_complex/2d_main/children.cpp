// The children strategy of the 2D main backend: per direction a row pass of
// N1 x transforms 1D transforms of length N0 from the input to the output,
// then an in-place column pass of N0 x transforms transforms of length N1
// over the output, which also applies the scale. Children configured alike
// for both directions are committed once (core/child_sharing.hpp).
#include <algorithm>

#include "dft/api/status_codes.hpp"
#include "dft/gpu/backends/md_complex/2d_main/plan.hpp"
#include "dft/gpu/core/backend.hpp"
#include "dft/gpu/core/child_sharing.hpp"
#include "dft/gpu/core/descriptor_creation.hpp"
#include "gpu/service/qez_gpu_types.h"
#include "qez_dft_engine.h"

namespace ulmara::qez::dft::c2c_2d_main {

namespace {

constexpr std::int64_t batched_sides[] = {2048, 4096};

int create_child(DFTI_DESCRIPTOR** out, std::int64_t length, float*) {
  return create_child_descriptor_c2c_1d_float(out, length, nullptr);
}
int create_child(DFTI_DESCRIPTOR** out, std::int64_t length, double*) {
  return create_child_descriptor_c2c_1d_double(out, length, nullptr);
}

// A new child of `length` in `slot` with what every child takes from its
// parent; the slot keeps whatever was created, for release.
template <class T>
int make_child(DFTI_DESCRIPTOR*& slot, const DFTI_DESCRIPTOR* parent, std::int64_t length) {
  const int status = create_child(&slot, length, static_cast<T*>(nullptr));
  if (status != status_success) return status;
  qez_dft_bless_node_thr(slot);
  take_parent_settings(slot, parent);
  return status_success;
}

bool committed(const DFTI_DESCRIPTOR* c) { return c != nullptr && c->commit_status == dfti_committed; }

bool batched_layout_case(const block& b, const DFTI_DESCRIPTOR* r, bool dense) {
  const std::int64_t n0 = b.dims[0].length;
  const bool side = std::find(std::begin(batched_sides), std::end(batched_sides), n0) != std::end(batched_sides);
  return b.architecture == QEZ_GPU_ARCH_HARIX && r->is_child == 0 && b.transforms >= 2 && side &&
         b.dims[1].length == n0 && dense;
}

void set_byte_distances(block& b) {
  const std::int64_t e = b.element_bytes;
  if (b.io_distances) {
    b.byte_distances[fwd_in_bytes] = b.byte_distances[bwd_in_bytes] = b.in_distance * e;
    b.byte_distances[fwd_out_bytes] = b.byte_distances[bwd_out_bytes] = b.out_distance * e;
  } else {
    b.byte_distances[fwd_in_bytes] = b.fwd_distance * e;
    b.byte_distances[bwd_in_bytes] = b.bwd_distance * e;
    b.byte_distances[fwd_out_bytes] = b.bwd_distance * e;
    b.byte_distances[bwd_out_bytes] = b.fwd_distance * e;
  }
}

// The strides of one dimension a child of direction `d` uses: on the side
// the direction reads and on the side it writes, by the one precedence rule
// the dimension plans were read with (input/output before the domains).
struct side_pair {
  std::int64_t read;
  std::int64_t written;
};
side_pair sides_of(const dim_plan& dim, plan_basics::direction d) {
  if (d == plan_basics::dir_forward) return {dim.strides[fwd_input], dim.strides[fwd_output]};
  return {dim.strides[bwd_input], dim.strides[bwd_output]};
}

// Row child of a direction: reads the direction's input side, writes its
// output side. The child's forward domain is the parent's forward domain.
void lay_out_row(DFTI_DESCRIPTOR* c, const block& b, const DFTI_DESCRIPTOR* parent, plan_basics::direction d) {
  const bool fwd = d == plan_basics::dir_forward;
  const side_pair s0 = sides_of(b.dims[0], d), s1 = sides_of(b.dims[1], d);
  const auto domains = [fwd](side_pair s) { return fwd ? s : side_pair{s.written, s.read}; };
  c->lengths.records[0] = dim_record{b.dims[0].length, 0, 0, domains(s0).read, domains(s0).written};
  c->batch.records[0] = dim_record{b.dims[1].length, 0, 0, domains(s1).read, domains(s1).written};
  if (!b.batched_layout) {
    // Input/output distances: the direction reads the input and writes the
    // output; forward/backward distances stay with their domains.
    const std::int64_t forward_side = b.io_distances ? (fwd ? b.in_distance : b.out_distance) : b.fwd_distance;
    const std::int64_t backward_side = b.io_distances ? (fwd ? b.out_distance : b.in_distance) : b.bwd_distance;
    c->batch.records[1] = dim_record{b.transforms, 0, 0, forward_side, backward_side};
  }
  c->placement = parent->placement;
}

// Column child of a direction: in place over the direction's output side,
// with the parent's scales.
void lay_out_column(DFTI_DESCRIPTOR* c, const block& b, const DFTI_DESCRIPTOR* parent, plan_basics::direction d) {
  const bool fwd = d == plan_basics::dir_forward;
  const std::int64_t s1 = sides_of(b.dims[1], d).written;
  const std::int64_t s0 = sides_of(b.dims[0], d).written;
  c->lengths.records[0] = dim_record{b.dims[1].length, 0, 0, s1, s1};
  c->batch.records[0] = dim_record{b.dims[0].length, 0, 0, s0, s0};
  if (!b.batched_layout) {
    const std::int64_t out = b.io_distances ? b.out_distance : (fwd ? b.bwd_distance : b.fwd_distance);
    c->batch.records[1] = dim_record{b.transforms, 0, 0, out, out};
  }
  c->placement = dfti_inplace;
  c->fwd_scale = parent->fwd_scale;
  c->bwd_scale = parent->bwd_scale;
}

using lay_out = void (*)(DFTI_DESCRIPTOR*, const block&, const DFTI_DESCRIPTOR*, plan_basics::direction);

// Creates, lays out and commits the pair of one pass.
template <class T>
int plan_pass(block& b, DFTI_DESCRIPTOR* r, DFTI_DESCRIPTOR** fwd, DFTI_DESCRIPTOR** bwd, std::int64_t length,
              lay_out layout, const pass_labels& labels) {
  if (plan_basics::serves(r->directions, plan_basics::dir_forward)) {
    if (int s = make_child<T>(*fwd, r, length)) return s;
    layout(*fwd, b, r, plan_basics::dir_forward);
  }
  if (plan_basics::serves(r->directions, plan_basics::dir_backward)) {
    if (int s = make_child<T>(*bwd, r, length)) return s;
    layout(*bwd, b, r, plan_basics::dir_backward);
  }
  return share_or_commit_pass(fwd, bwd, labels);
}

// A child whose own commit failed leaves its slot: nothing may reach its
// missing compute entries or workspace. A child shared by both directions
// was committed once, and its failure already ended the plan.
void drop_uncommitted(DFTI_DESCRIPTOR*& fwd, DFTI_DESCRIPTOR*& bwd) {
  if (fwd == bwd) return;
  for (DFTI_DESCRIPTOR** c : {&fwd, &bwd}) {
    if (*c == nullptr || committed(*c)) continue;
    (*c)->free(*c, *c);
    *c = nullptr;
  }
}

// Part 0 is the sum over the children carried, part 1 the largest of theirs.
void size_workspace(const block& b, DFTI_DESCRIPTOR* r) {
  DFTI_DESCRIPTOR* children[4] = {};
  const int count = counted_children(b, children);
  std::uint64_t persistent = 0, scratch = 0;
  for (int k = 0; k < count; ++k) {
    persistent += children[k]->workspace_bytes[workspace_part_twiddles];
    scratch = std::max(scratch, children[k]->workspace_bytes[workspace_part_scratch]);
  }
  r->workspace_bytes[workspace_part_twiddles] = persistent;
  r->workspace_bytes[workspace_part_scratch] = scratch;
}

}  // namespace

template <class T>
int plan_children(block& b, DFTI_DESCRIPTOR* r, bool dense) {
  if (batched_layout_case(b, r, dense)) {
    b.batched_layout = 1;
    set_byte_distances(b);
  }
  const std::int64_t n0 = b.dims[0].length, n1 = b.dims[1].length;
  if (int s = plan_pass<T>(b, r, &b.row_plan_fwd, &b.row_plan_bwd, n0, lay_out_row,
                           pass_labels{"2D_C2C|1d", "2DC2C|%s1d", "2DC2C|%s1d"}))
    return s;
  if (int s = plan_pass<T>(b, r, &b.col_plan_fwd, &b.col_plan_bwd, n1, lay_out_column,
                           pass_labels{"2D_C2C|2d", "2DC2C|%s2d", "2DC2C|%s2d"}))
    return s;
  drop_uncommitted(b.row_plan_fwd, b.row_plan_bwd);
  drop_uncommitted(b.col_plan_fwd, b.col_plan_bwd);
  b.forward_pair = committed(b.row_plan_fwd) && committed(b.col_plan_fwd);
  b.backward_pair = committed(b.row_plan_bwd) && committed(b.col_plan_bwd);
  if (!b.forward_pair && !b.backward_pair) return status_not_handled;
  size_workspace(b, r);
  return status_success;
}

int counted_children(const block& b, DFTI_DESCRIPTOR* out[4]) {
  int count = 0;
  if (b.forward_pair) {
    out[count++] = b.row_plan_fwd;
    out[count++] = b.col_plan_fwd;
  }
  if (b.backward_pair) {
    if (!(b.forward_pair && b.row_plan_bwd == b.row_plan_fwd)) out[count++] = b.row_plan_bwd;
    if (!(b.forward_pair && b.col_plan_bwd == b.col_plan_fwd)) out[count++] = b.col_plan_bwd;
  }
  return count;
}

void release_children(block& b) {
  const auto release_pair = [](DFTI_DESCRIPTOR*& fwd, DFTI_DESCRIPTOR*& bwd) {
    if (bwd == fwd) bwd = nullptr;
    for (DFTI_DESCRIPTOR** c : {&fwd, &bwd}) {
      if (*c != nullptr) (*c)->free(*c, *c);
      *c = nullptr;
    }
  };
  release_pair(b.row_plan_fwd, b.row_plan_bwd);
  release_pair(b.col_plan_fwd, b.col_plan_bwd);
  b.forward_pair = b.backward_pair = 0;
}

template int plan_children<float>(block&, DFTI_DESCRIPTOR*, bool);
template int plan_children<double>(block&, DFTI_DESCRIPTOR*, bool);

}  // namespace ulmara::qez::dft::c2c_2d_main
