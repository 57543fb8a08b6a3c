// Compute of the 2D small fused-SLM backend: one submission of the
// direction's kernel, one work-group of 2N work-items per transform.
#include <vector>

#include "dft/api/status_codes.hpp"
#include "dft/gpu/backends/md_complex/2d_small/plan.hpp"
#include "dft/gpu/core/kernel_arguments.hpp"

namespace ulmara::qez::dft::c2c_2d_small {

namespace {

template <class T>
int compute_2d_xwd(block& b, void* input, void* output, void* dependencies, void* result_event,
                   plan_basics::direction d, std::int64_t data_kind) {
  if (b.kernels[d] == nullptr) return status_invalid_configuration;
  const auto* deps = dependency_list(dependencies);
  const bool usm_data = data_kind == kind_usm_pointer;
  const size_t local = static_cast<size_t>(b.work_group_size);
  const size_t global = static_cast<size_t>(b.transforms) * local;
  const T scale = static_cast<T>(b.scales[d]);
  sycl::kernel& kernel = *b.kernels[d];
  const sycl::event done = b.queue->submit(
      [&](sycl::handler& cgh) {
        if (usm_data && deps != nullptr) cgh.depends_on(*deps);
        dft_set_arg_input(cgh, input, data_kind);
        dft_set_arg_inout(cgh, output, data_kind);
        cgh.set_arg(2, sycl::local_accessor<char, 1>(sycl::range<1>(static_cast<size_t>(b.local_bytes)), cgh));
        cgh.set_arg(3, scale);
        cgh.parallel_for(sycl::nd_range<1>(sycl::range<1>(global), sycl::range<1>(local)), kernel);
      },
      sycl::detail::code_location(__FILE__, "compute_2d_xwd", __LINE__, 0));
  hand_back_event(result_event, done);
  return status_success;
}

template <class T>
int compute_entry(DFTI_DESCRIPTOR* record, void* input, void* output, void* dependencies,
                  std::uint64_t* container_kind, void* result_event, plan_basics::direction d) {
  block* b = block_of(record);
  if (b == nullptr) return status_invalid_configuration;
  follow_descriptor_queue(record, b);
  const std::int64_t kind = data_kind_of(container_kind);
  return compute_2d_xwd<T>(*b, input, output, dependencies, result_event, d, kind);
}

}  // namespace

QEZ_DEFINE_NAMED_COMPUTE_ENTRIES(compute_2d_fwd, compute_2d_bwd, compute_entry<T>, plan_basics::dir_forward,
                                 plan_basics::dir_backward)

}  // namespace ulmara::qez::dft::c2c_2d_small
