// Acceptance, planning, commit and release of the very large one-dimensional
// backend, and its backend table.
#include <cstdio>
#include <sstream>

#include "dft/api/status_codes.hpp"
#include "dft/gpu/backends/1d_slm_large/very_large_1d/plan.hpp"
#include "dft/gpu/core/alloc_hooks.hpp"
#include "dft/gpu/core/backend_catalogue.hpp"
#include "dft/gpu/core/backend_protocol.hpp"
#include "dft/gpu/core/commit_policies.hpp"
#include "dft/gpu/core/first_tests.hpp"
#include "dft/gpu/core/kernel_handles.hpp"
#include "gpu/service/architecture.hpp"

namespace ulmara::qez::dft {
namespace very_large_1d {

namespace {

// Complex lengths and their three factors (F0 >= F1 >= F2 never exceeds 1024).
const std::vector<factor_row> table = {
    {std::int64_t{1} << 25, {512, 256, 256}},
    {std::int64_t{1} << 26, {512, 512, 256}},
    {std::int64_t{1} << 27, {1024, 512, 256}},
    {134400000, {512, 525, 500}},
};

bool is_power_of_two(std::int64_t v) { return v > 0 && (v & (v - 1)) == 0; }

bool storage_accepted(const DFTI_DESCRIPTOR* r) {
  if (r->domain == dfti_real)
    return r->real_storage == dfti_real_real && r->conjugate_even_storage == dfti_complex_complex &&
           // The post-processing writes the CCE layout; no other packing is produced.
           r->packed_format == dfti_cce_format;
  if (r->domain == dfti_complex) return r->complex_storage == dfti_complex_complex;
  return false;
}

// Acceptance of the batch: batches whose transforms do not overlap.
bool batch_distances_accepted(const DFTI_DESCRIPTOR* r, std::int64_t n) {
  const dim_record& batch = r->work_batch.records[0];
  if (static_cast<std::uint64_t>(batch.length) < 2) return true;
  const bool given = batch.forward != 0 && batch.backward != 0;
  if (r->domain == dfti_complex)
    return given ? batch.forward >= n && batch.backward >= n : batch.input >= n && batch.output >= n;
  const std::int64_t half = n / 2;
  if (given) return batch.forward >= n && batch.backward > half && batch.forward % 2 == 0;
  const std::int64_t i = batch.input, o = batch.output;
  const bool forward_sense = i >= n && o > half;
  const bool backward_sense = o >= n && i > half;
  if (!forward_sense && !backward_sense) return false;
  return (i < n || i % 2 == 0) && (o < n || o % 2 == 0);
}

int architecture_status(sycl::queue* queue) {
  int status = 0;
  qez_gpu_arch_t architecture = 0;
  try {
    architecture = gpu::get_architecture(&status, queue);
  } catch (const std::exception&) {
    // An unrecognised GPU is not a device the plans are made for.
    return status_not_handled;
  }
  return status == 0 && architecture == QEZ_GPU_ARCH_GULON ? status_success : status_not_handled;
}

// In place, transform t's output must not reach into an input that a later
// transform has yet to read: with more than one transform the output side
// may not step further than the input side.
bool in_place_batch_safe(const block& b, std::uint32_t placement) {
  if (placement != dfti_inplace || b.batch.howmany < 2) return true;
  for (direction d : {dir_forward, dir_backward}) {
    if (!serves(b.directions, d)) continue;
    const transform_distances t = distances_for(b.batch, b.real != 0, d);
    if (t.output > t.input) return false;
  }
  return true;
}

}  // namespace

// ---------------------------------------------------------------------------
// Pure planning.

const std::vector<factor_row>& factor_rows() { return table; }

const factor_row* find_factor_row(std::int64_t complex_length) {
  for (const factor_row& row : table)
    if (row.complex_length == complex_length) return &row;
  return nullptr;
}

std::int64_t row_padding(const factor_row& row) {
  return row.f[0] % 2 + (is_power_of_two(row.complex_length) ? 8 : 0);
}

std::uint64_t intermediate_bytes_of(const factor_row& row) {
  const std::int64_t ld = row.f[0] + row_padding(row);
  return static_cast<std::uint64_t>(ld * row.f[1] * row.f[2] * complex_bytes);
}

bool is_planned_length(std::int64_t length, bool real) {
  const std::int64_t f = real ? 2 : 1;
  if (length % f != 0 || (real && length % 4 != 0)) return false;
  return find_factor_row(length / f) != nullptr;
}

child_layout stage_child_layout(const factor_row& row, std::int64_t padding, int stage, int child) {
  const std::int64_t f0 = row.f[0], f1 = row.f[1], f2 = row.f[2];
  const std::int64_t ld = f0 + padding;
  switch (stage) {
    case 0:
      return {f0, f1 * f2, 1, {{f1, 1, ld, 0, 0}, {f2, f1, f1 * ld, 0, 0}}, dfti_not_inplace, f1 * f2, 0, 0};
    case 1:
      return {f1, f2 * ld, f2 * ld, {{f0, 1, 1, 0, 0}, {f2, ld, ld, 0, 0}}, dfti_inplace, f2, 0, 0};
    default:
      return {f2, ld, f0 * f1, {{f0, 1, 1, 0, 0}, {f1, ld * f2, f0, 0, 0}}, dfti_not_inplace, 0, 0, child};
  }
}

std::string stage_child_name(int stage) {
  char name[child_name_bytes + 1] = {};
  if (stage == 0)
    std::snprintf(name, sizeof name, "1DL|1st");
  else
    std::snprintf(name, sizeof name, "1DL|%dth", stage);
  return name;
}

transform_distances distances_for(const batch_layout_row& batch, bool real, direction d) {
  const bool forward = d == dir_forward;
  const direction_distances io = distances_of(batch, forward);
  transform_distances t{io.idist, io.odist};
  if (real && forward) t.input /= 2;
  if (real && !forward) t.output /= 2;
  return t;
}

std::string describe(const block& b) {
  std::ostringstream s;
  s << "very_large_1d s N=" << b.length << (b.real ? " real" : " complex") << " M=" << b.complex_length()
    << " factors=" << b.factors[0] << "x" << b.factors[1] << "x" << b.factors[2] << " LD=" << b.leading_dimension()
    << " T=" << b.intermediate_bytes << " howmany=" << b.batch.howmany << " children=";
  for (int slot = 0; slot < child_slot_count; ++slot) s << (b.children[slot] != nullptr ? '1' : '0');
  return s.str();
}

// ---------------------------------------------------------------------------
// Acceptance, commit and release.

bool accepts(const DFTI_DESCRIPTOR* r) {
  if (!storage_accepted(r) || !no_fused_twiddle(r)) return false;
  if (working_rank(r) != 1 || batch_rank(r) != 1) return false;
  const dim_record& d = r->work_lengths.records[0];
  if (input_side_stride(d) != 1 || output_side_stride(d) != 1) return false;
  if (!zero_offsets(r)) return false;
  if (!is_planned_length(d.length, r->domain == dfti_real)) return false;
  return batch_distances_accepted(r, d.length);
}

int bkd_init(DFTI_DESCRIPTOR* record) {
  block* b = create_block<block>(record);
  if (b == nullptr) return status_allocation_failed;
  b->queue = static_cast<sycl::queue*>(record->queue);
  b->scales[dir_forward] = static_cast<float>(record->fwd_scale);
  b->scales[dir_backward] = static_cast<float>(record->bwd_scale);
  b->directions = record->directions;
  if (b->queue == nullptr) return status_not_handled;

  if (int status = architecture_status(b->queue)) return status;
  copy_batch_layout(&b->batch, record);
  if (record->is_child != 0 && b->batch.howmany > 1) return status_not_handled;

  b->length = record->work_lengths.records[0].length;
  b->real = record->domain == dfti_real ? 1 : 0;
  const factor_row* row = find_factor_row(b->complex_length());
  if (row == nullptr) return status_not_handled;
  for (int s = 0; s < stage_count; ++s) b->factors[s] = row->f[s];
  b->pad = row_padding(*row);
  b->intermediate_bytes = intermediate_bytes_of(*row);
  if (!in_place_batch_safe(*b, record->placement)) return status_not_handled;

  record->workspace_bytes[0] = 0;
  record->workspace_bytes[1] = 0;
  if (int status = create_children(record, *row)) return status;

  if (b->real) {
    try {
      if (build_kernels(b) != status_success) return status_not_handled;
    } catch (const sycl::exception&) {
      return status_not_handled;
    }
  }
  record->workspace_bytes[1] = b->intermediate_bytes;
  if (record->workspace_internal != 0) return create_and_initialize_internal_workspaces(record);
  return status_success;
}

void bkd_free_on_failure(DFTI_DESCRIPTOR* record) {
  block* b = block_of(record);
  if (b == nullptr) return;
  for (DFTI_DESCRIPTOR*& child : b->children) {
    if (child == nullptr) continue;
    child->free(child, child);
    child = nullptr;
  }
  if (b->queue != nullptr) bkd_free_buffers(b, workspace_part_both);
  release_kernel_handles(b->real_kernels);
  free_block(b);
  record->bkd_data = nullptr;
}

// What the record must be (and, where a probe plans it, what the device
// must carry) before the commit touches it: 0, or the status declining it.
int acceptance(DFTI_DESCRIPTOR* record) {
  if (!accepts(record)) return status_not_handled;
  return status_success;
}

// The protocol's policy class (single precision only).
struct backend_policy {
  static constexpr commit_policy on_failure = clear_backend_destroy_when_thrown;
  static int acceptance(DFTI_DESCRIPTOR* record) { return very_large_1d::acceptance(record); }
  static int init(DFTI_DESCRIPTOR* record) { return bkd_init(record); }
  static void destroy(DFTI_DESCRIPTOR* record) { bkd_free_on_failure(record); }
  static compute_entry forward_entry() { return compute_1d_fwd; }
  static compute_entry backward_entry() { return compute_1d_bwd; }
  static std::uint32_t data_arrays(const DFTI_DESCRIPTOR* record) { return data_arrays_of_placement(record); }
};

}  // namespace very_large_1d

const backend_table dft_c2c_very_large_1d_gpu_bkd_table_float = {QEZ_PROTOCOL_ENTRIES(very_large_1d::backend_policy),
                                                                very_large_1d::add_workspace};

}  // namespace ulmara::qez::dft
