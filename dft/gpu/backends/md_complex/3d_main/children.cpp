// Strategy 3 of the 3D main backend: a pair of 1D complex child plans per
// dimension. The X pass takes the data from the input to the output; the Y
// and Z passes work in place on the output, and the Z children carry the
// scales so that scaling happens in the last pass.
#include "dft/api/status_codes.hpp"
#include "dft/gpu/backends/md_complex/3d_main/plan.hpp"
#include "dft/gpu/core/backend.hpp"
#include "dft/gpu/core/child_sharing.hpp"
#include "dft/gpu/core/descriptor_creation.hpp"
#include "qez_dft_engine.h"

namespace ulmara::qez::dft::c2c_3d_main {

namespace {

int create_child(DFTI_DESCRIPTOR** out, std::int64_t length, float*) {
  return create_child_descriptor_c2c_1d_float(out, length, nullptr);
}
int create_child(DFTI_DESCRIPTOR** out, std::int64_t length, double*) {
  return create_child_descriptor_c2c_1d_double(out, length, nullptr);
}

// The strides a child of direction `d` uses on its forward-domain and on
// its backward-domain side, for one parent dimension. The X child reads the
// parent's input and writes its output; the Y and Z children work on the
// output alone.
struct side_pair {
  std::int64_t forward;
  std::int64_t backward;
};
side_pair x_sides(const dir_record& dim, plan_basics::direction d) {
  if (d == plan_basics::dir_forward) return {dim.strides[forward_input], dim.strides[forward_output]};
  return {dim.strides[backward_output], dim.strides[backward_input]};
}
std::int64_t output_side(const dir_record& dim, plan_basics::direction d) {
  return dim.strides[d == plan_basics::dir_forward ? forward_output : backward_output];
}

template <class T>
side_pair x_distances(const block<T>& b, plan_basics::direction d) {
  if (b.io_distances)
    return d == plan_basics::dir_forward ? side_pair{b.input_distance, b.output_distance}
                                   : side_pair{b.output_distance, b.input_distance};
  return {b.forward_distance, b.backward_distance};
}
template <class T>
std::int64_t output_distance(const block<T>& b, plan_basics::direction d) {
  if (b.io_distances) return b.output_distance;
  return d == plan_basics::dir_forward ? b.backward_distance : b.forward_distance;
}

dim_record record_of(std::int64_t length, side_pair s) { return dim_record{length, 0, 0, s.forward, s.backward}; }
dim_record record_of(std::int64_t length, std::int64_t both) { return dim_record{length, 0, 0, both, both}; }

// Lengths and batch records of the child of `dimension` and direction `d`.
template <class T>
void lay_out(DFTI_DESCRIPTOR* child, const DFTI_DESCRIPTOR* parent, const block<T>& b, int dimension,
             plan_basics::direction d) {
  const dir_record* dims = b.dirs;
  if (dimension == 0) {
    child->lengths.records[0] = record_of(dims[0].length, x_sides(dims[0], d));
    child->batch.records[0] = record_of(dims[1].length, x_sides(dims[1], d));
    child->batch.records[1] = record_of(dims[2].length, x_sides(dims[2], d));
    child->batch.records[2] = record_of(b.transforms, x_distances(b, d));
    child->placement = parent->placement;
    return;
  }
  const int other = dimension == 1 ? 2 : 1;
  child->lengths.records[0] = record_of(dims[dimension].length, output_side(dims[dimension], d));
  child->batch.records[0] = record_of(dims[0].length, output_side(dims[0], d));
  child->batch.records[1] = record_of(dims[other].length, output_side(dims[other], d));
  child->batch.records[2] = record_of(b.transforms, output_distance(b, d));
  child->placement = dfti_inplace;
}

// Creates and configures the child of one dimension and direction into its
// slot (which keeps it for release whatever follows).
template <class T>
int make_child(DFTI_DESCRIPTOR* parent, block<T>& b, int dimension, plan_basics::direction d) {
  DFTI_DESCRIPTOR*& slot = b.children[slot_of(dimension, d)];
  const int status = create_child(&slot, b.dirs[dimension].length, static_cast<T*>(nullptr));
  if (status != status_success) return status;
  DFTI_DESCRIPTOR* child = slot;
  qez_dft_bless_node_thr(child);
  lay_out(child, parent, b, dimension, d);
  take_parent_settings(child, parent);
  if (dimension == 2) {
    child->fwd_scale = parent->fwd_scale;
    child->bwd_scale = parent->bwd_scale;
  }
  return status_success;
}

bool committed(const DFTI_DESCRIPTOR* child) { return child != nullptr && child->commit_status == dfti_committed; }

template <class T>
bool triple_committed(const block<T>& b, plan_basics::direction d) {
  for (int dim = 0; dim < dimensions; ++dim)
    if (!committed(b.children[slot_of(dim, d)])) return false;
  return true;
}

const pass_labels labels[dimensions] = {
    {"3D_C2C|1d", "3DC2C|%s1d", "3DC2C|%s1d"},
    {"3D_C2C|2d", "3DC2C|%s2d", "3DC2C|%s2d"},
    {"3D_C2C|3d", "3DC2C|%s3d", "3DC2C|%s3d"},
};

}  // namespace

template <class T>
int plan_children(DFTI_DESCRIPTOR* r, block<T>& b) {
  for (int dim = 0; dim < dimensions; ++dim) {
    for (plan_basics::direction d : {plan_basics::dir_forward, plan_basics::dir_backward}) {
      if (!plan_basics::serves(r->directions, d)) continue;
      if (int status = make_child(r, b, dim, d)) return status;
    }
    const int status = share_or_commit_pass(&b.children[slot_of(dim, plan_basics::dir_forward)],
                                            &b.children[slot_of(dim, plan_basics::dir_backward)], labels[dim]);
    if (status != status_success) return status;
  }
  b.forward_committed = triple_committed(b, plan_basics::dir_forward);
  b.backward_committed = triple_committed(b, plan_basics::dir_backward);
  if (!b.forward_committed && !b.backward_committed) return status_not_handled;

  // Part 0: the sum, part 1: the largest, over every child counted once.
  std::uint64_t persistent = 0, scratch = 0;
  for (int s = 0; s < slot_count; ++s) {
    const DFTI_DESCRIPTOR* child = b.children[s];
    const bool forward_slot = s % 2 == 0;
    if (forward_slot ? !b.forward_committed : !b.backward_committed) continue;
    if (!forward_slot && b.forward_committed && child == b.children[s - 1]) continue;
    persistent += child->workspace_bytes[workspace_part_twiddles];
    scratch = std::max(scratch, child->workspace_bytes[workspace_part_scratch]);
  }
  r->workspace_bytes[workspace_part_twiddles] = persistent;
  r->workspace_bytes[workspace_part_scratch] = scratch;
  return status_success;
}

template int plan_children<float>(DFTI_DESCRIPTOR*, block<float>&);
template int plan_children<double>(DFTI_DESCRIPTOR*, block<double>&);

}  // namespace ulmara::qez::dft::c2c_3d_main
