#include <vector>

#include "dft/api/status_codes.hpp"
#include "dft/gpu/core/kernel_arguments.hpp"
#include "dft/gpu/core/two_factor/program_and_compute.hpp"

namespace ulmara {
namespace qez {
namespace dft {
namespace two_factor {

namespace {

constexpr std::uint32_t offload_asynchronous = 2;
constexpr std::uint64_t buffer_form_bit = 1;

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

// Status of the workspace before a launch: 5 when the backend's own areas
// are missing, 11 when the caller's workspace never came.
int workspace_status(const DFTI_DESCRIPTOR* record, const void* internal_twiddles,
                     const void* internal_scratch, std::int64_t container) {
  const std::uint64_t* bytes = record->workspace_bytes;
  if (record->workspace_internal) {
    const bool missing = (bytes[0] != 0 && internal_twiddles == nullptr) ||
                         (bytes[1] != 0 && internal_scratch == nullptr);
    return missing ? status_bad_descriptor : status_success;
  }
  const bool given = container == container_sycl_buffer || container == container_usm_pointer;
  return bytes[0] + bytes[1] != 0 && !given ? status_no_workspace : status_success;
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
  const int ready = workspace_status(record, b->internal_twiddles, b->internal_scratch,
                                     b->workspace_container);
  if (ready != status_success) return ready;
  // A direction the plan was not made for has neither kernel nor table.
  if (!serves(b->directions, d) || b->kernels[d] == nullptr) return status_invalid_configuration;

  const bool usm_table = record->workspace_internal || b->workspace_container == container_usm_pointer;
  void* table = usm_table ? b->usm_twiddles[d] : static_cast<void*>(b->buffer_twiddles[d]);
  if (table == nullptr) return status_no_workspace;
  const std::int64_t groups = (b->howmany + b->batch_per_group - 1) / b->batch_per_group;
  const size_t local = static_cast<size_t>(b->work_group_size);
  const launch l{*b->kernels[d],
                 input,
                 output,
                 data_kind,
                 table,
                 usm_table ? kind_usm_pointer : b->workspace_container,
                 !b->in_order && usm_table ? b->twiddle_events[d] : nullptr,
                 static_cast<const std::vector<sycl::event>*>(dependencies),
                 b->slm_bytes,
                 sycl::nd_range<1>(sycl::range<1>(static_cast<size_t>(groups) * local), sycl::range<1>(local))};
  const sycl::event done = submit(*b->queue, l);
  if (result_event != nullptr) *static_cast<sycl::event*>(result_event) = done;
  return status_success;
}

template <class T>
int compute_entry(DFTI_DESCRIPTOR* record, void* input, void* output, void* dependencies,
                  std::uint64_t* container_kind, void* result_event, direction d) {
  auto* b = static_cast<block<T>*>(record->bkd_data);
  if (b != nullptr && record->offload_mode == offload_asynchronous) {
    b->queue = static_cast<sycl::queue*>(record->queue);
    b->in_order = 0;
  }
  const bool buffers = container_kind != nullptr && (*container_kind & buffer_form_bit) != 0;
  return compute_1d_xwd<T>(record, input, output, dependencies, result_event, d,
                           buffers ? container_sycl_buffer : container_usm_pointer);
}

}  // namespace

template <class T>
int compute_1d_fwd(DFTI_DESCRIPTOR* record, void* input, void* output, void* dependencies,
                   std::uint64_t* container_kind, void* result_event) {
  return compute_entry<T>(record, input, output, dependencies, container_kind, result_event, dir_forward);
}

template <class T>
int compute_1d_bwd(DFTI_DESCRIPTOR* record, void* input, void* output, void* dependencies,
                   std::uint64_t* container_kind, void* result_event) {
  return compute_entry<T>(record, input, output, dependencies, container_kind, result_event, dir_backward);
}

#define QEZ_INSTANTIATE(T)                                                                     \
  template int compute_1d_fwd<T>(DFTI_DESCRIPTOR*, void*, void*, void*, std::uint64_t*, void*); \
  template int compute_1d_bwd<T>(DFTI_DESCRIPTOR*, void*, void*, void*, std::uint64_t*, void*);
QEZ_INSTANTIATE(float)
QEZ_INSTANTIATE(double)
#undef QEZ_INSTANTIATE

}  // namespace two_factor
}  // namespace dft
}  // namespace qez
}  // namespace ulmara
