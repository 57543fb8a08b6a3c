#include <vector>

#include "dft/api/status_codes.hpp"
#include "dft/gpu/core/compute_dispatch.hpp"
#include "dft/gpu/core/kernel_arguments.hpp"
#include "dft/gpu/backends/1d_basic/two_factor/kernel_build.hpp"

namespace ulmara::qez::dft::two_factor {

namespace {

// One launch: the kernel, its table and the containers of this call.
struct launch {
  sycl::kernel kernel;
  void* input;
  void* output;
  std::int64_t data_kind;
  void* table;
  std::int64_t table_kind;
  sycl::event* table_written;  // waited for when not ordered otherwise
  const std::vector<sycl::event>* dependencies;
  std::int64_t slm_bytes;
  sycl::nd_range<1> range;
};

// The caller handed a buffer or a USM workspace over.
bool caller_gave_workspace(std::uint32_t kind) {
  return kind == workspace_buffer || kind == workspace_usm;
}

sycl::event submit(sycl::queue& queue, const launch& l) {
  return queue.submit(
      [&](sycl::handler& cgh) {
        if (l.table_written != nullptr) cgh.depends_on(*l.table_written);
        if (l.dependencies != nullptr && l.data_kind == kind_usm_pointer) cgh.depends_on(*l.dependencies);
        dft_set_arg_input(cgh, l.input, l.data_kind);
        dft_set_arg_inout(cgh, l.output, l.data_kind);
        dft_set_arg(cgh, 2, l.table, l.table_kind);
        cgh.set_arg(3, sycl::local_accessor<char, 1>(sycl::range<1>(static_cast<size_t>(l.slm_bytes)), cgh));
        cgh.parallel_for(l.range, l.kernel);
      },
      sycl::detail::code_location(__FILE__, "compute_1d_xwd", __LINE__, 0));
}

template <class T>
int compute_1d_xwd(DFTI_DESCRIPTOR* record, void* input, void* output, void* dependencies,
                   void* result_event, direction d, std::int64_t data_kind) {
  auto* b = static_cast<block<T>*>(record->bkd_data);
  if (b == nullptr) return status_invalid_configuration;
  const int ready = workspace_status_before_compute(record, b->internal_twiddles, b->internal_scratch,
                                                    caller_gave_workspace(b->workspace_kind));
  if (ready != status_success) return ready;
  // A direction the plan was not made for has neither kernel nor table.
  if (!serves(b->directions, d) || b->kernels[d] == nullptr) return status_invalid_configuration;

  const bool usm_table = record->workspace_internal || b->workspace_kind == workspace_usm;
  void* table = usm_table ? b->usm_twiddles[d] : static_cast<void*>(b->buffer_twiddles[d]);
  if (table == nullptr) return status_no_workspace;
  const std::int64_t groups = (b->batch.howmany + b->batch_per_group - 1) / b->batch_per_group;
  const size_t local = static_cast<size_t>(b->work_group_size);
  const launch l{*b->kernels[d],
                 input,
                 output,
                 data_kind,
                 table,
                 usm_table ? kind_usm_pointer : b->workspace_kind,
                 !b->in_order && usm_table ? b->twiddle_events[d] : nullptr,
                 dependency_list(dependencies),
                 b->slm_bytes,
                 sycl::nd_range<1>(sycl::range<1>(static_cast<size_t>(groups) * local), sycl::range<1>(local))};
  const sycl::event done = submit(*b->queue, l);
  hand_back_event(result_event, done);
  return status_success;
}

template <class T>
int compute_entry(DFTI_DESCRIPTOR* record, void* input, void* output, void* dependencies,
                  std::uint64_t* container_kind, void* result_event, direction d) {
  follow_descriptor_queue(record, static_cast<block<T>*>(record->bkd_data));
  return compute_1d_xwd<T>(record, input, output, dependencies, result_event, d,
                           is_buffer_form(container_kind) ? workspace_buffer : workspace_usm);
}

}  // namespace

QEZ_DEFINE_COMPUTE_ENTRIES(compute_entry<T>, dir_forward, dir_backward)

}  // namespace ulmara::qez::dft::two_factor
