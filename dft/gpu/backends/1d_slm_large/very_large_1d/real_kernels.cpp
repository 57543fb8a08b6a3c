// The real-domain kernels of the very large backend: one program text built
// as the post-processing kernel (after a forward complex transform of N / 2
// points) or the pre-processing kernel (before a backward one), and the
// command group that runs either over a batch.
#include <cstdio>

#include "dft/api/status_codes.hpp"
#include "dft/gpu/backends/1d_slm_large/very_large_1d/plan.hpp"
#include "dft/gpu/core/compute_dispatch.hpp"
#include "dft/gpu/core/kernel_handles.hpp"
#include "dft/gpu/kernels/program_names.hpp"
#include "dft/gpu/kernels/program_texts.hpp"

namespace ulmara::qez::dft::very_large_1d {

const char post_processing_program_name[] = "real_fft_post_processing.qez_dft_gpu_bkd_1d_very_large_sycl_s";
const char pre_processing_program_name[] = "real_fft_pre_processing.qez_dft_gpu_bkd_1d_very_large_sycl_s";

namespace {

constexpr const char* program_family = kernels::family_real_pre_and_post_processing;
constexpr const char options_format[] = "-DFWD_DIR=%d -DBWD_DIR=%d -DBWD_D=%lld -DKERNEL_FUNC=%s ";

// The complex-side distance of the batch: where the forward transform
// writes, where the backward one reads.
std::int64_t complex_side_distance(const batch_layout_row& batch, direction d) {
  if (batch.io_distances) return d == dir_forward ? batch.out_distance : batch.in_distance;
  return batch.bwd_distance;
}

}  // namespace

std::string real_kernel_name(direction d) {
  char name[32] = {};
  std::snprintf(name, sizeof name, "%s_kernel_%s", d == dir_forward ? "r2c" : "c2r", "s");
  return name;
}

std::string real_kernel_options(const batch_layout_row& batch, direction d) {
  char options[options_bytes] = {};
  const int forward = d == dir_forward ? 1 : 0;
  std::snprintf(options, sizeof options, options_format, forward, 1 - forward,
                static_cast<long long>(complex_side_distance(batch, d)), real_kernel_name(d).c_str());
  return options;
}

int build_real_kernel(sycl::queue* queue, const batch_layout_row& batch, direction d, sycl::kernel*& slot) {
  const std::string name = real_kernel_name(d);
  const std::string options = real_kernel_options(batch, d);
  const cached_kernel_request request{
      queue, d == dir_forward ? post_processing_program_name : pre_processing_program_name,
      kernels::program_text(program_family, false), name.c_str(), options.c_str()};
  return build_cached_kernel(request, slot, build_check::kernel_only);
}

int build_kernels(block* b) {
  if (serves(b->directions, dir_forward))
    if (int status = build_real_kernel(b->queue, b->batch, dir_forward, b->real_kernels[post_processing]))
      return status;
  if (serves(b->directions, dir_backward))
    if (int status = build_real_kernel(b->queue, b->batch, dir_backward, b->real_kernels[pre_processing]))
      return status;
  return status_success;
}

sycl::event submit_real_kernel(sycl::queue& queue, sycl::kernel& kernel, void* source, void* target,
                               std::int64_t kind, std::int64_t rows, std::int64_t length,
                               const std::vector<sycl::event>* dependencies) {
  return queue.submit(
      [&](sycl::handler& cgh) {
        if (kind == kind_usm_pointer && dependencies != nullptr) cgh.depends_on(*dependencies);
        dft_set_arg_input(cgh, source, kind);
        dft_set_arg_output(cgh, target, kind);
        // OpenCL dimension 0 (the last SYCL dimension) runs over k = 0 .. N / 4.
        cgh.parallel_for(sycl::range<2>(static_cast<size_t>(rows), static_cast<size_t>(length / 4 + 1)), kernel);
      },
      compute_submission_location(__LINE__));
}

}  // namespace ulmara::qez::dft::very_large_1d
