// Acceptance, commit and release of the n-factor column-batch backend, and
// its backend tables.
#include <algorithm>
#include <sstream>
#include <vector>

#include "dft/api/status_codes.hpp"
#include "dft/gpu/backends/1d_factorised/n_fact_colbatch/plan.hpp"
#include "dft/gpu/core/alloc_hooks.hpp"
#include "dft/gpu/core/backend_catalogue.hpp"
#include "dft/gpu/core/backend_protocol.hpp"
#include "dft/gpu/core/commit_policies.hpp"
#include "dft/gpu/core/first_tests.hpp"
#include "dft/gpu/core/internal_workspace_step.hpp"
#include "dft/gpu/core/sub_group_sizes.hpp"
#include "gpu/service/architecture.hpp"
#include "gpu/service/device_registry.hpp"

namespace ulmara::qez::dft {
namespace n_fact_colbatch {

namespace {

// Sub-group sizes below this one are planned with on Gulon only.
constexpr std::int64_t narrow_subgroup_limit = 16;

// The layout as the acceptance reads it.
struct layout_view {
  const dim_record& dim;
  const dim_record& inner;
  bool in_place;
  bool io_strides;  // input and output strides given
  bool transposed;  // each transform written contiguously
};

layout_view view_of(const DFTI_DESCRIPTOR* r) {
  const dim_record& d = r->work_lengths.records[0];
  const bool io = d.input != 0 && d.output != 0;
  const bool in_place = r->placement == dfti_inplace;
  return {d, r->work_batch.records[0], in_place, io, io && !in_place && d.output == 1};
}

bool strides_accepted(const DFTI_DESCRIPTOR* r, const layout_view& v, std::int64_t h) {
  const dim_record& d = v.dim;
  if (v.io_strides) {
    if (d.input < h) return false;
    if (v.in_place) return d.input == d.output && r->in_offset == r->out_offset;
    // Output columns of different transforms must not overlap: either the
    // transposed form or a stride that leaves room for every column.
    return d.output == 1 || d.output >= h;
  }
  if (d.forward < h || d.backward < h) return false;
  return !v.in_place || (r->fwd_offset == r->bwd_offset && d.forward == d.backward);
}

bool inner_distances_accepted(const DFTI_DESCRIPTOR* r, const layout_view& v) {
  const dim_record& b = v.inner;
  if (b.forward != 0) return b.forward == 1 && b.backward == 1 && !v.transposed;
  if (b.backward != 0) return false;
  if (v.transposed)
    return b.input == 1 && b.output >= v.dim.length && r->out_offset == 0 && r->fwd_offset == 0 &&
           r->bwd_offset == 0;
  return b.input == 1 && b.output == 1;
}

bool outer_distances_accepted(const DFTI_DESCRIPTOR* r, const layout_view& v, std::int64_t h) {
  if (batch_rank(r) < 2) return true;
  const dim_record& b = r->work_batch.records[1];
  if (b.forward != 0 || b.backward != 0)
    return b.forward >= h && b.backward >= h && (!v.in_place || b.forward == b.backward) && !v.transposed;
  const std::int64_t least_out = v.transposed ? v.dim.length : h;
  return b.input >= h && b.output >= least_out && (!v.in_place || b.input == b.output);
}

// Whether outer block o (1 <= o < count) of a written side starts on an
// element of block 0: a block holds `lines` lines of `width` adjacent
// elements, `pitch` >= width apart (rows of columns, or transposed
// transforms). Such blocks would be written concurrently by different
// work-groups.
bool outer_blocks_overlap(std::int64_t distance, std::int64_t pitch, std::int64_t width, std::int64_t lines,
                          std::int64_t count) {
  if (distance <= 0 || pitch < 1) return count > 1;
  for (std::int64_t o = 1; o < count; ++o) {
    const std::int64_t start = o * distance;
    const std::int64_t line = start / pitch;
    const std::int64_t at = start % pitch;
    if (line > lines) break;  // later blocks start further out still
    if ((at < width && line <= lines - 1) || (pitch - at < width && line + 1 <= lines - 1)) return true;
  }
  return false;
}

// The sides that a compute writes: the output (in/out form) or either
// domain (domain form, one per direction).
bool written_blocks_overlap(const DFTI_DESCRIPTOR* r, const layout_view& v, std::int64_t h) {
  if (batch_rank(r) < 2) return false;
  const dim_record& outer = r->work_batch.records[1];
  const std::int64_t n = v.dim.length;
  if (v.transposed) return outer_blocks_overlap(outer.output, v.inner.output, n, h, outer.length);
  if (outer.forward != 0 || outer.backward != 0)
    return outer_blocks_overlap(outer.forward, v.dim.forward, h, n, outer.length) ||
           outer_blocks_overlap(outer.backward, v.dim.backward, h, n, outer.length);
  const std::int64_t pitch = v.io_strides ? v.dim.output : v.dim.backward;
  return outer_blocks_overlap(outer.output, pitch, h, n, outer.length);
}

// Strides and offsets of a direction (input side first).
template <class T>
void copy_layout(block<T>* b, const DFTI_DESCRIPTOR* r) {
  const dim_record& d = r->work_lengths.records[0];
  const bool in_given = d.input != 0;
  const bool out_given = d.output != 0;
  b->in_stride[dir_forward] = in_given ? d.input : d.forward;
  b->in_offset[dir_forward] = in_given ? r->in_offset : r->fwd_offset;
  b->out_stride[dir_forward] = out_given ? d.output : d.backward;
  b->out_offset[dir_forward] = out_given ? r->out_offset : r->bwd_offset;
  b->in_stride[dir_backward] = in_given ? d.input : d.backward;
  b->in_offset[dir_backward] = in_given ? r->in_offset : r->bwd_offset;
  b->out_stride[dir_backward] = out_given ? d.output : d.forward;
  b->out_offset[dir_backward] = out_given ? r->out_offset : r->fwd_offset;
}

// Batch counts and distances of both batch dimensions; a missing outer one
// is one block whose distances are never used.
template <class T>
void copy_batches(block<T>* b, const DFTI_DESCRIPTOR* r) {
  batch_layout_row rows[batch_dim_count] = {};
  copy_batch_layout(rows, r);
  if (batch_rank(r) < 2) {
    const dim_record& d = r->work_lengths.records[0];
    rows[batch_outer] = {1, 0, 0, 0, d.length * d.input,
                         d.output < 2 ? d.length * rows[batch_inner].out_distance : d.length * d.output};
  }
  for (batch_dim dim : {batch_inner, batch_outer}) {
    const batch_layout_row& row = rows[dim];
    b->batch_count[dim] = row.howmany;
    b->io_form[dim] = row.io_distances;
    b->fwd_distance[dim] = row.fwd_distance;
    b->bwd_distance[dim] = row.bwd_distance;
    b->in_distance[dim] = row.in_distance;
    b->out_distance[dim] = row.out_distance;
  }
}

// The device numbers the plan is made from.
struct device_numbers {
  std::int64_t subgroup;
  std::int64_t slm;
  std::int64_t compute_units;
  std::int64_t max_work_group;
  std::int64_t tiles;
};

// false: the device is not one this backend plans for.
bool read_device_numbers(sycl::queue* q, device_numbers* out) {
  const sycl::device device = q->get_device();
  out->subgroup = static_cast<std::int64_t>(smallest_sub_group_size(device));
  if (out->subgroup == 0) return false;
  int shift = 3;
  if (out->subgroup < narrow_subgroup_limit) {
    int status = 0;
    const qez_gpu_arch_t architecture = gpu::get_architecture(&status, q);
    if (status != 0 || architecture != QEZ_GPU_ARCH_GULON) return false;
    shift = 4;
  }
  out->slm = static_cast<std::int64_t>(device.get_info<sycl::info::device::local_mem_size>());
  // At least one unit, so that a small device still gets whole waves.
  out->compute_units =
      std::max<std::int64_t>(1, static_cast<std::int64_t>(device.get_info<sycl::info::device::max_compute_units>()) >> shift);
  out->max_work_group = static_cast<std::int64_t>(gpu::qez_gpu_get_max_workgroup_size(q));
  out->tiles = gpu::get_tile_count(q);
  return true;
}

bool read_device(sycl::queue* q, device_numbers* out) {
  try {
    return read_device_numbers(q, out);
  } catch (const std::exception&) {
    // A device whose queries fail (an unrecognised GPU) is not planned for.
    return false;
  }
}

template <class T>
search_inputs inputs_of(const block<T>& b, const device_numbers& dev, direction d) {
  search_inputs in{};
  in.single_precision = !is_double<T>();
  std::copy(b.factors, b.factors + factor_count, in.factors);
  in.inner = b.batch_count[batch_inner];
  in.outer = b.batch_count[batch_outer];
  in.subgroup = dev.subgroup;
  in.slm_bytes = dev.slm;
  in.compute_units = dev.compute_units;
  in.max_work_group = dev.max_work_group;
  in.tile_count = dev.tiles;
  in.out_stride = b.out_stride[d];
  in.out_offset = b.out_offset[d];
  in.inner_out_distance = distances_for(b, batch_inner, d).odist;
  in.outer_out_distance = distances_for(b, batch_outer, d).odist;
  return in;
}

template <class T>
int plan_directions(block<T>* b, const device_numbers& dev) {
  for (direction d : {dir_forward, dir_backward}) {
    if (!serves(b->directions, d)) continue;
    direction_plan p;
    if (!plan_direction(inputs_of(*b, dev, d), &p)) return status_not_handled;
    b->columns[d] = p.columns;
    b->last_columns[d] = p.last_columns;
    b->slm_bytes[d] = p.slm_bytes;
    b->subgroups_per_fft[d] = p.subgroups_per_fft;
    b->work_group_size[d] = p.work_group_size;
  }
  return status_success;
}

template <class T>
void size_workspace(block<T>* b, DFTI_DESCRIPTOR* record) {
  const std::uint64_t e = complex_bytes<T>();
  b->main_slice_bytes = pad_to_base_addr_align(static_cast<std::uint64_t>(b->length) * e, b->queue);
  b->sub_slice_bytes =
      b->factors[2] > 1 ? pad_to_base_addr_align(static_cast<std::uint64_t>(b->factors[1] * b->factors[2]) * e, b->queue)
                        : 0;
  const std::uint64_t one = b->main_slice_bytes + b->sub_slice_bytes;
  record->workspace_bytes[0] = b->directions == directions_both ? 2 * one : one;
  record->workspace_bytes[1] = 0;
}

}  // namespace

template <class T>
std::string describe(const block<T>& b) {
  std::ostringstream s;
  s << "n_fact_colbatch " << precision_letter<T>() << " N=" << b.length << " factors=" << b.factors[0] << "x"
    << b.factors[1] << "x" << b.factors[2] << " H=" << b.batch_count[batch_inner]
    << " O=" << b.batch_count[batch_outer] << " sg=" << b.subgroup_size;
  for (direction d : {dir_forward, dir_backward}) {
    if (!serves(b.directions, d)) continue;
    s << (d == dir_forward ? " fwd" : " bwd") << "{cols=" << b.columns[d] << " last=" << b.last_columns[d]
      << " sgs=" << b.subgroups_per_fft[d] << " wg=" << b.work_group_size[d] << " slm=" << b.slm_bytes[d]
      << " kernel=" << b.kernel_names[d] << "}";
  }
  return s.str();
}

bool accepts(const DFTI_DESCRIPTOR* r) {
  if (r->domain != dfti_complex || r->complex_storage != dfti_complex_complex) return false;
  if (working_rank(r) != 1 || batch_rank(r) < 1 || batch_rank(r) > 2) return false;
  const layout_view v = view_of(r);
  const std::int64_t h = v.inner.length;
  if (!strides_accepted(r, v, h)) return false;
  if (h < 2) return false;
  if (!inner_distances_accepted(r, v)) return false;
  if (!outer_distances_accepted(r, v, h)) return false;
  return !written_blocks_overlap(r, v, h);
}

template <class T>
int bkd_init(DFTI_DESCRIPTOR* record) {
  block<T>* b = create_block<block<T>>(record);
  if (b == nullptr) return status_allocation_failed;
  b->queue = static_cast<sycl::queue*>(record->queue);
  if (b->queue == nullptr) return status_not_handled;
  b->length = record->work_lengths.records[0].length;
  b->directions = record->directions;
  b->post_twiddle_batch = record->fused_twiddle_length;
  b->scale[dir_forward] = static_cast<T>(record->fwd_scale);
  b->scale[dir_backward] = static_cast<T>(record->bwd_scale);
  copy_layout(b, record);
  copy_batches(b, record);
  if (record->offload_mode == 0) b->in_order = b->queue->is_in_order() ? 1 : 0;

  device_numbers dev;
  if (!read_device(b->queue, &dev)) return status_not_handled;
  b->subgroup_size = dev.subgroup;
  if (!choose_factors(b->length, b->factors)) return status_not_handled;
  const std::int64_t all = b->batch_count[batch_inner] * b->batch_count[batch_outer];
  if (b->post_twiddle_batch > 0 && all % b->post_twiddle_batch != 0) return status_not_handled;
  const int planned = plan_directions(b, dev);
  if (planned != status_success) return planned;

  size_workspace(b, record);
  return make_workspace_and_kernels(record, b, create_and_initialize_internal_workspaces<T>);
}

QEZ_DEFINE_1D_BACKEND_POLICY(acceptance_when<accepts>, destroy_record_block<block<T>>)

QEZ_FOR_EACH_PRECISION(QEZ_INSTANTIATE_BLOCK_COMMIT_ENTRIES)

}  // namespace n_fact_colbatch

QEZ_DEFINE_BACKEND_TABLES(dft_c2c_2_facts_colbatch_gpu_bkd, n_fact_colbatch)

}  // namespace ulmara::qez::dft
