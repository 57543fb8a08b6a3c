// Acceptance, bkd_init with its choice of strategy, release, and the backend
// tables of the 2D main backend.
#include "dft/api/status_codes.hpp"
#include "dft/gpu/backends/md_complex/2d_main/esimd_strategy.hpp"
#include "dft/gpu/backends/md_complex/2d_main/plan.hpp"
#include "dft/gpu/core/backend_catalogue.hpp"
#include "dft/gpu/core/first_tests.hpp"
#include "dft/gpu/core/internal_workspace.hpp"
#include "dft/gpu/core/kernel_handles.hpp"
#include "dft/gpu/core/layout_helpers.hpp"
#include "dft/gpu/core/workspace_slices.hpp"
#include "gpu/service/architecture.hpp"

namespace ulmara::qez::dft {
namespace c2c_2d_main {

namespace {

constexpr std::int64_t transposes_side = 16384;

void copy_batch(block& b, const DFTI_DESCRIPTOR* r) {
  const dim_record& batch = r->work_batch.records[0];
  b.transforms = batch.length;
  b.fwd_distance = batch.forward;
  b.bwd_distance = batch.backward;
  b.in_distance = batch.input;
  b.out_distance = batch.output;
  b.io_distances = io_distances_given(batch);
}

// Strides of a working-layout record by side: input and output when given,
// else the domain strides of the side.
void copy_strides(dim_plan& d, const dim_record& rec) {
  d.length = rec.length;
  md_complex::take_strides(d.strides, rec);
}

bool all_strides(const dim_plan& d, std::int64_t value) {
  for (std::int64_t s : d.strides)
    if (s != value) return false;
  return true;
}

// Unit rows, rows N0 apart and, for several transforms, arrays N0 x N1 apart.
bool dense_layout(const block& b) {
  const std::int64_t n0 = b.dims[0].length, n1 = b.dims[1].length;
  if (!all_strides(b.dims[0], 1) || !all_strides(b.dims[1], n0)) return false;
  if (b.transforms < 2) return true;
  const std::int64_t a = b.io_distances ? b.in_distance : b.fwd_distance;
  const std::int64_t c = b.io_distances ? b.out_distance : b.bwd_distance;
  return a == n0 * n1 && c == n0 * n1;
}

bool transposes_case(const block& b) {
  return !b.double_precision && b.architecture == QEZ_GPU_ARCH_HARIX && b.dims[0].length == transposes_side &&
         b.dims[1].length == transposes_side && b.transforms == 1;
}

bool fused_case(const block& b) {
  const std::int64_t n0 = b.dims[0].length, n1 = b.dims[1].length;
  return n0 == n1 && (n0 == 192 || n0 == 128);
}

}  // namespace

int acceptance(const DFTI_DESCRIPTOR* r) {
  const bool takes = common_acceptance(r) && complex_interleaved(r) && working_rank(r) == 2;
  return takes ? status_success : status_not_handled;
}

template <class T>
int bkd_init(DFTI_DESCRIPTOR* r) {
  block* b = create_block<block>(r);
  if (b == nullptr) return status_allocation_failed;
  b->double_precision = plan_basics::is_double<T>() ? 1 : 0;
  b->element_bytes = static_cast<std::int64_t>(2 * sizeof(T));
  b->queue = static_cast<sycl::queue*>(r->queue);
  if (b->queue == nullptr) return status_not_handled;
  b->in_order = r->offload_mode != offload_none ? 0 : (b->queue->is_in_order() ? 1 : 0);
  copy_batch(*b, r);
  if (b->transforms < 1) return status_not_handled;
  copy_strides(b->dims[0], r->work_lengths.records[0]);
  copy_strides(b->dims[1], r->work_lengths.records[1]);
  const bool dense = dense_layout(*b);
  int status = 0;
  b->architecture = gpu::get_architecture(&status, b->queue);
  if (status != 0) return status_not_handled;

  bool kernel_strategy = false;
  if (dense) {
    b->scales[plan_basics::dir_forward] = static_cast<T>(r->fwd_scale);
    b->scales[plan_basics::dir_backward] = static_cast<T>(r->bwd_scale);
    // The ESIMD plan makes its own internal workspace.
    if (try_esimd_strategy<T>(*b, r)) return status_success;
    kernel_strategy = (transposes_case(*b) && try_transposes_strategy(*b, r)) ||
                      (fused_case(*b) && try_fused_strategy<T>(*b, r));
  }
  if (!kernel_strategy) {
    status = plan_children<T>(*b, r, dense);
    if (status != status_success) return status;
  }
  if (r->workspace_internal == 0) return status_success;
  return create_two_part_internal_workspace(r, b->queue, add_workspace<T>, b->internal_workspace[workspace_part_twiddles],
                                            b->internal_workspace[workspace_part_scratch], b->workspace_kind,
                                            plan_basics::workspace_internal);
}

void bkd_free_buffers(block* b, std::uint32_t phase) {
  if (b == nullptr) return;
  const bool part0 = covers_twiddle_part(phase);
  const bool part1 = covers_scratch_part(phase);
  if (part0) {
    // The table writes may still run on the areas given up here.
    for (sycl::event*& e : b->table_events) finish_event(e);
    for (std::unique_ptr<byte_buffer>& t : b->tables_buf) t.reset();
    b->internal_workspace[workspace_part_twiddles].reset();
    for (void*& t : b->tables_usm) t = nullptr;
  }
  if (part1) b->internal_workspace[workspace_part_scratch].reset();
  if ((part0 && b->temp_in_part0) || (part1 && !b->temp_in_part0)) {
    b->temp_usm = nullptr;
    b->temp_buf.reset();
  }
}

void bkd_destroy(DFTI_DESCRIPTOR* r) {
  block* b = block_of(r);
  if (b == nullptr) return;
  release_children(*b);
  release_kernel_handles(b->kernels);
  release_kernel_handles(b->transpose_kernels);
  bkd_free_buffers(b, workspace_part_both);
  destroy_esimd_plan(*b);
  destroy_block<block>(r);
}

template int bkd_init<float>(DFTI_DESCRIPTOR*);
template int bkd_init<double>(DFTI_DESCRIPTOR*);

}  // namespace c2c_2d_main

QEZ_DEFINE_BACKEND_TABLES(dft_c2c_2d_main_gpu_bkd, c2c_2d_main)

}  // namespace ulmara::qez::dft
