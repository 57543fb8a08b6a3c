// Acceptance, commit body and release of the 8192-point backend, and its
// backend tables.
#include <algorithm>
#include <vector>

#include "dft/api/status_codes.hpp"
#include "dft/gpu/backends/1d_basic/eight_k/plan.hpp"
#include "dft/gpu/core/alloc_hooks.hpp"
#include "dft/gpu/core/backend_catalogue.hpp"
#include "dft/gpu/core/backend_protocol.hpp"
#include "dft/gpu/core/base_address_alignment.hpp"
#include "dft/gpu/core/commit_policies.hpp"
#include "dft/gpu/core/first_tests.hpp"
#include "dft/gpu/core/internal_workspace_step.hpp"
#include "dft/gpu/core/record_queue.hpp"
#include "dft/gpu/core/single_batch_1d_test.hpp"
#include "dft/gpu/core/sub_group_sizes.hpp"
#include "gpu/service/architecture.hpp"

namespace ulmara::qez::dft {
namespace eight_k {

namespace {

template <class T>
void store_constants(block<T>* b) {
  b->n0 = n0;
  b->n0_fact0 = n0_fact0;
  b->n0_fact1 = n0_fact1;
  b->n1 = n1;
  b->n1_fact0 = n1_fact0;
  b->n1_fact1 = n1_fact1;
}

template <class T>
void store_geometry(block<T>* b) {
  b->subgroup_size = subgroup_size;
  b->cols_per_wg = cols_per_wg;
  for (pass p : {pass_columns, pass_rows}) {
    b->slm_bytes[p] = slm_bytes<T>(p);
    b->items_per_transform[p] = items_per_transform[p];
  }
  b->work_group_size = work_group_size;
}

// Batch record 0: count and distances; io_distances when the input/output
// pair is the one in force.
template <class T>
void copy_batch(block<T>* b, const dim_record& batch) {
  b->count = batch.length;
  b->fwd_distance = batch.forward;
  b->bwd_distance = batch.backward;
  b->in_distance = batch.input;
  b->out_distance = batch.output;
  b->io_distances =
      batch.forward == 0 && batch.backward == 0 && batch.input != 0 && batch.output != 0;
}

// Every transform is 8192 points back to back, on both sides.
bool distances_are_packed(const dim_record& batch) {
  const bool io = batch.forward == 0 && batch.backward == 0 && batch.input != 0 && batch.output != 0;
  return io ? batch.output == transform_length && batch.input == transform_length
            : batch.backward == transform_length && batch.forward == transform_length;
}

template <class T>
bool scratch_fits(std::int64_t count, std::uint32_t architecture) {
  return count >= 1 && scratch_bytes<T>(count) <= scratch_limit(architecture);
}

// The declines that need the device (sub-group size 8, a recognised
// architecture) and the batch (packed distances, the scratch cap). Read only:
// a record committed with another backend keeps its plan when these fail.
template <class T>
bool serves_on_device(const DFTI_DESCRIPTOR* r) {
  auto* q = static_cast<sycl::queue*>(r->queue);
  if (q == nullptr || !offers_sub_group_size(q->get_device(), subgroup_size)) return false;
  int arch_status = 0;
  const std::uint32_t arch = gpu::get_architecture(&arch_status, q);
  const dim_record& batch = r->work_batch.records[0];
  return arch_status == 0 && distances_are_packed(batch) && scratch_fits<T>(batch.length, arch);
}

template <class T>
void size_workspace(block<T>* b, DFTI_DESCRIPTOR* record) {
  std::uint64_t twiddle_area = 0;
  for (table_class c : {table_n0, table_n1, table_inter}) {
    b->padded_table_bytes[c] = pad_to_base_addr_align(table_bytes<T>(c), b->queue);
    twiddle_area += b->padded_table_bytes[c];
  }
  b->padded_scratch_bytes = pad_to_base_addr_align(scratch_bytes<T>(b->count), b->queue);
  record->workspace_bytes[0] = b->directions == directions_both ? 2 * twiddle_area : twiddle_area;
  record->workspace_bytes[1] = b->padded_scratch_bytes;
}

}  // namespace

bool accepts(const DFTI_DESCRIPTOR* r) {
  if (!unit_stride_1d_single_batch(r) || r->work_lengths.records[0].length != transform_length) return false;
  return zero_offsets(r);
}

template <class T>
int bkd_init(DFTI_DESCRIPTOR* record) {
  block<T>* b = create_block<block<T>>(record);
  if (b == nullptr) return status_allocation_failed;

  if (!take_record_basics(b, record)) return status_not_handled;
  if (!offers_sub_group_size(b->queue->get_device(), subgroup_size)) return status_not_handled;

  int arch_status = 0;
  b->architecture = gpu::get_architecture(&arch_status, b->queue);
  if (arch_status != 0) return status_not_handled;

  store_constants(b);
  b->fwd_scale = static_cast<T>(record->fwd_scale);
  b->bwd_scale = static_cast<T>(record->bwd_scale);
  b->directions = record->directions;
  copy_batch(b, record->work_batch.records[0]);
  if (!distances_are_packed(record->work_batch.records[0])) return status_not_handled;
  store_geometry(b);
  if (!scratch_fits<T>(b->count, b->architecture)) return status_not_handled;

  size_workspace(b, record);
  return make_workspace_and_kernels(record, b, create_and_initialize_internal_workspaces<T>);
}

QEZ_DEFINE_1D_BACKEND_POLICY((acceptance_when<accepts, serves_on_device<T>>), destroy_record_block<block<T>>)

#define QEZ_INSTANTIATE(T) template int bkd_init<T>(DFTI_DESCRIPTOR*);
QEZ_FOR_EACH_PRECISION(QEZ_INSTANTIATE)
#undef QEZ_INSTANTIATE

}  // namespace eight_k

QEZ_DEFINE_BACKEND_TABLES(dft_c2c_8k_2_facts_gpu_bkd, eight_k)

}  // namespace ulmara::qez::dft
