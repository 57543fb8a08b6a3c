// Compute entries of the n-factor SLM backend: one command group per call
// that runs the direction's kernel over the whole batch, one work-group per
// transform, on SYCL buffers or USM pointers.
#include <vector>

#include "dft/api/status_codes.hpp"
#include "dft/gpu/backends/1d_slm_large/n_facts_slm/plan.hpp"

namespace ulmara {
namespace qez {
namespace dft {
namespace n_facts_slm {

namespace {

constexpr std::uint32_t offload_asynchronous = 2;
constexpr std::uint64_t buffer_form_bit = 1;

// Kernel argument positions.
enum kernel_argument : std::uint32_t {
  arg_input = 0,
  arg_output = 1,
  arg_main_table = 2,
  arg_area_2 = 3,
  arg_area_1 = 4,
  arg_slm = 5,
};

sycl::detail::code_location compute_location(unsigned long line) {
  return sycl::detail::code_location(__FILE__, "compute_1d_xwd", line, 0);
}

// 5 when the backend's own workspace is missing, 11 when the caller's
// never came.
template <class T>
int workspace_status(const DFTI_DESCRIPTOR* record, const block<T>& b) {
  const std::uint64_t* bytes = record->workspace_bytes;
  if (record->workspace_internal) {
    const bool missing = (bytes[0] != 0 && b.internal_workspace == nullptr) ||
                         (bytes[1] != 0 && b.second_internal_workspace == nullptr);
    return missing ? status_bad_descriptor : status_success;
  }
  const bool given = b.workspace_kind == workspace_buffer || b.workspace_kind == workspace_usm;
  return bytes[0] + bytes[1] != 0 && !given ? status_no_workspace : status_success;
}

// The tables of one direction as kernel arguments.
struct table_views {
  void* main_table;
  void* area_2;
  void* area_1;
  std::int64_t kind;
};

template <class T>
table_views views_of(const block<T>& b, direction d) {
  if (b.workspace_kind == workspace_buffer)
    return {b.main_subbuffers[d], b.area_subbuffers[area_2], b.area_subbuffers[area_1], workspace_buffer};
  return {b.main_tables[d], b.areas[area_2], b.areas[area_1], kind_usm_pointer};
}

struct call {
  direction d;
  void* input;
  void* output;
  std::int64_t data_kind;
  const std::vector<sycl::event>* dependencies;
};

template <class T>
void depend_on_tables(sycl::handler& cgh, const block<T>& b, direction d) {
  for (int slot : {int(area_0), int(area_1), int(area_2), int(area_3), main_event_slot(d)})
    if (b.events[slot] != nullptr) cgh.depends_on(*b.events[slot]);
}

template <class T>
sycl::event submit(const block<T>& b, const call& c, const table_views& tables) {
  return b.queue->submit(
      [&](sycl::handler& cgh) {
        if (c.data_kind == kind_usm_pointer && c.dependencies != nullptr) cgh.depends_on(*c.dependencies);
        if (!b.in_order && tables.kind == kind_usm_pointer) depend_on_tables(cgh, b, c.d);
        dft_set_arg_input(cgh, c.input, c.data_kind);
        dft_set_arg_output(cgh, c.output, c.data_kind);
        dft_set_arg(cgh, arg_main_table, tables.main_table, tables.kind);
        dft_set_arg(cgh, arg_area_2, tables.area_2, tables.kind);
        dft_set_arg(cgh, arg_area_1, tables.area_1, tables.kind);
        cgh.set_arg(arg_slm, sycl::local_accessor<char, 1>(sycl::range<1>(static_cast<size_t>(b.slm_bytes)), cgh));
        const sycl::nd_range<2> range(
            sycl::range<2>(static_cast<size_t>(b.batch.howmany), static_cast<size_t>(b.work_group_size)),
            sycl::range<2>(1, static_cast<size_t>(b.work_group_size)));
        cgh.parallel_for(range, *b.kernels[c.d]);
      },
      compute_location(__LINE__));
}

template <class T>
int compute_1d_xwd(DFTI_DESCRIPTOR* record, void* input, void* output, void* dependencies, void* result_event,
                   direction d, std::int64_t data_kind) {
  const block<T>* b = block_of<T>(record);
  if (b == nullptr) return status_invalid_configuration;
  const int ready = workspace_status(record, *b);
  if (ready != status_success) return ready;
  // A direction the plan was not prepared for has neither kernel nor table.
  if (b->kernels[d] == nullptr) return status_invalid_configuration;
  const table_views tables = views_of(*b, d);
  if (tables.main_table == nullptr || tables.area_1 == nullptr || tables.area_2 == nullptr)
    return status_no_workspace;
  const call c{d, input, output, data_kind, static_cast<const std::vector<sycl::event>*>(dependencies)};
  const sycl::event done = submit(*b, c, tables);
  if (result_event != nullptr) *static_cast<sycl::event*>(result_event) = done;
  return status_success;
}

template <class T>
int compute_entry(DFTI_DESCRIPTOR* record, void* input, void* output, void* dependencies,
                  std::uint64_t* container_kind, void* result_event, direction d) {
  block<T>* b = block_of<T>(record);
  if (b != nullptr && record->offload_mode == offload_asynchronous) {
    b->queue = static_cast<sycl::queue*>(record->queue);
    b->in_order = 0;
  }
  const bool buffers = container_kind != nullptr && (*container_kind & buffer_form_bit) != 0;
  return compute_1d_xwd<T>(record, input, output, dependencies, result_event, d,
                           buffers ? std::int64_t{workspace_buffer} : kind_usm_pointer);
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

#define QEZ_INSTANTIATE(T)                                                                      \
  template int compute_1d_fwd<T>(DFTI_DESCRIPTOR*, void*, void*, void*, std::uint64_t*, void*); \
  template int compute_1d_bwd<T>(DFTI_DESCRIPTOR*, void*, void*, void*, std::uint64_t*, void*);
QEZ_INSTANTIATE(float)
QEZ_INSTANTIATE(double)
#undef QEZ_INSTANTIATE

}  // namespace n_facts_slm
}  // namespace dft
}  // namespace qez
}  // namespace ulmara
