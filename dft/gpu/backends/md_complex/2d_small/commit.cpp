// Acceptance, planning, kernel builds and release of the 2D small fused-SLM
// backend, and its backend tables.
#include <cstdio>

#include "dft/api/status_codes.hpp"
#include "dft/gpu/backends/md_complex/2d_small/plan.hpp"
#include "dft/gpu/core/backend_catalogue.hpp"
#include "dft/gpu/core/first_tests.hpp"
#include "dft/gpu/core/kernel_handles.hpp"
#include "dft/gpu/core/option_text.hpp"
#include "dft/gpu/core/sub_group_sizes.hpp"
#include "dft/gpu/kernels/program_names.hpp"
#include "dft/gpu/kernels/program_texts.hpp"
#include "gpu/service/architecture.hpp"

namespace ulmara::qez::dft {
namespace c2c_2d_small {

namespace {

constexpr auto program_names =
    kernels::cache_program_names(kernels::family_c2c_2d_small, ".qez_dft_gpu_bkd_c2c_2d_8nx8n_small_sycl");
constexpr const char* family = kernels::family_c2c_2d_small;
constexpr std::size_t options_bytes = 512;
constexpr std::int64_t register_budget_bytes = 131072;
constexpr std::int64_t fenwa_sub_group_limit = 85;
constexpr std::int64_t harix_sub_group_limit = 44;

using plan_basics::ll;

// Square, unit rows, rows N apart, on both sides.
bool dense_square(const DFTI_DESCRIPTOR* r) {
  const dim_record& d0 = r->work_lengths.records[0];
  const dim_record& d1 = r->work_lengths.records[1];
  const std::int64_t n = d0.length;
  if (d1.length != n) return false;
  using plan_basics::input_side_stride;
  using plan_basics::output_side_stride;
  return input_side_stride(d0) == 1 && output_side_stride(d0) == 1 && input_side_stride(d1) == n &&
         output_side_stride(d1) == n;
}

// The distance the batch is tested with must be N x N for two or
// more transforms; forward and backward distances, when given, agree.
bool dense_batch(const DFTI_DESCRIPTOR* r) {
  const dim_record& batch = r->work_batch.records[0];
  const std::int64_t n = r->work_lengths.records[0].length;
  std::int64_t tested = 0;
  if (batch.forward != 0 || batch.backward != 0) {
    if (batch.forward != batch.backward) return false;
    tested = batch.forward;
  } else if (batch.input != 0 && batch.output != 0) {
    if (batch.input != batch.output) return false;
    tested = batch.input;
  }
  return batch.length < 2 || tested == n * n;
}

template <class T>
int build_kernels(block* b) {
  const bool dbl = plan_basics::is_double<T>();
  const std::string side = std::to_string(b->n);
  kernels::copy_name(kernels::kernel_name(side + "x" + side, "fused_SLM", dbl ? "d" : "s"), b->kernel_name,
                     sizeof b->kernel_name);
  kernels::copy_name(kernels::codelet_name(b->n), b->butterfly_name, sizeof b->butterfly_name);
  const char* text = kernels::program_text(family, dbl);
  if (text == nullptr) return status_internal_error;
  for (plan_basics::direction d : {plan_basics::dir_forward, plan_basics::dir_backward}) {
    char options[options_bytes];
    if (!format_options(*b, dbl, d, options, sizeof options)) return status_internal_error;
    const cached_kernel_request request{b->queue, program_names.of(dbl), text,
                                        b->kernel_name, options};
    const int status = build_cached_kernel(request, b->kernels[d], build_check::kernel_only);
    if (status != status_success) return status;
  }
  return status_success;
}

}  // namespace

int acceptance(const DFTI_DESCRIPTOR* r) {
  const bool takes = common_acceptance(r) && complex_interleaved(r) && working_rank(r) == 2 &&
                     dense_square(r) && dense_batch(r);
  return takes ? status_success : status_not_handled;
}

bool wants_large_register_file(std::uint32_t arch, std::int64_t n, std::int64_t local_bytes) {
  if (local_bytes <= 0) return false;
  const std::int64_t sub_groups = (2 * n * (register_budget_bytes / local_bytes)) / required_sub_group_size;
  if (arch == QEZ_GPU_ARCH_HARIX) return sub_groups <= harix_sub_group_limit;
  if (arch == QEZ_GPU_ARCH_FENWA) return sub_groups <= fenwa_sub_group_limit;
  return false;
}

bool format_options(const block& b, bool dbl, plan_basics::direction d, char* out, std::size_t bytes) {
  const int fwd = d == plan_basics::dir_forward ? 1 : 0;
  option_text text(bytes, option_overflow::keep_prefix);
  text.add("%s-DFACT0=%lld -DKERNEL_FUNC=%s -DFACT0_FUNC=%s -DFWD_DIR=%d -DBWD_DIR=%d -DWORK_GROUP_SIZE=%lld "
           "-DSUBGROUP_SIZE=%lld %s",
           dbl ? "-Dcl_tavir_subgroups_long " : "", ll(b.n), b.kernel_name, b.butterfly_name, fwd, 1 - fwd,
           ll(static_cast<std::int64_t>(b.work_group_size)), ll(b.sub_group_size),
           wants_large_register_file(b.architecture, b.n, b.local_bytes) ? "-cl-tavir-256-GRF-per-thread " : "");
  return text.copy_to(out, bytes);
}

template <class T>
int bkd_init(DFTI_DESCRIPTOR* r) {
  block* b = create_block<block>(r);
  if (b == nullptr) return status_allocation_failed;
  b->n = r->work_lengths.records[0].length;
  b->queue = static_cast<sycl::queue*>(r->queue);
  if (b->queue == nullptr) return status_not_handled;
  if (r->offload_mode == offload_none) b->in_order = b->queue->is_in_order() ? 1 : 0;
  if (!offers_sub_group_size(b->queue->get_device(), static_cast<std::size_t>(required_sub_group_size)))
    return status_not_handled;
  int status = 0;
  b->architecture = gpu::get_architecture(&status, b->queue);
  if (status != 0 || b->n > max_side) return status_not_handled;
  if (b->n == 1) return status_unimplemented;
  b->transforms = r->work_batch.records[0].length;
  b->scales[plan_basics::dir_forward] = static_cast<T>(r->fwd_scale);
  b->scales[plan_basics::dir_backward] = static_cast<T>(r->bwd_scale);
  b->local_bytes = b->n * b->n * static_cast<std::int64_t>(2 * sizeof(T));
  if (b->local_bytes > max_local_bytes) return status_not_handled;
  b->sub_group_size = required_sub_group_size;
  if (b->n % side_multiple != 0) return status_not_handled;
  b->work_group_size = static_cast<std::uint64_t>(2 * b->n);
  return build_kernels<T>(b);
}

void bkd_destroy(DFTI_DESCRIPTOR* r) {
  block* b = block_of(r);
  if (b == nullptr) return;
  release_kernel_handles(b->kernels);
  destroy_block<block>(r);
}

template int bkd_init<float>(DFTI_DESCRIPTOR*);
template int bkd_init<double>(DFTI_DESCRIPTOR*);

}  // namespace c2c_2d_small

const backend_table dft_c2c_2d_small_gpu_bkd_table_float = {QEZ_PROTOCOL_ENTRIES(c2c_2d_small::backend_policy<float>),
                                                            shared_no_op_add_workspace};
const backend_table dft_c2c_2d_small_gpu_bkd_table_double = {
    QEZ_PROTOCOL_ENTRIES(c2c_2d_small::backend_policy<double>), shared_no_op_add_workspace};

}  // namespace ulmara::qez::dft
