// Compute entries of the n-factor SLM backend: one command group per call
// that runs the direction's kernel over the whole batch, one work-group per
// transform, on SYCL buffers or USM pointers.
#include <vector>

#include "dft/api/status_codes.hpp"
#include "dft/gpu/backends/1d_slm_large/n_facts_slm/plan.hpp"
#include "dft/gpu/core/compute_dispatch.hpp"

namespace ulmara::qez::dft::n_facts_slm {

namespace {

// Kernel argument positions.
enum kernel_argument : std::uint32_t {
  arg_input = 0,
  arg_output = 1,
  arg_main_table = 2,
  arg_area_2 = 3,
  arg_area_1 = 4,
  arg_slm = 5,
  arg_trailing_table = 6,
};

// The caller handed a buffer or a USM workspace over.
bool caller_gave_workspace(std::uint32_t kind) { return kind == workspace_buffer || kind == workspace_usm; }

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

using call = compute_call<direction>;

template <class T>
void depend_on_tables(sycl::handler& cgh, const block<T>& b, direction d, const trailing_table* trailing) {
  for (int slot : {int(area_0), int(area_1), int(area_2), int(area_3), main_event_slot(d)})
    if (b.events[slot] != nullptr) cgh.depends_on(*b.events[slot]);
  if (trailing != nullptr && trailing->written != nullptr) cgh.depends_on(*trailing->written);
}

template <class T>
sycl::event submit(const block<T>& b, const call& c, const table_views& tables, const trailing_table* trailing) {
  return b.queue->submit(
      [&](sycl::handler& cgh) {
        if (c.data_kind == kind_usm_pointer && c.dependencies != nullptr) cgh.depends_on(*c.dependencies);
        if (!b.in_order && tables.kind == kind_usm_pointer) depend_on_tables(cgh, b, c.d, trailing);
        dft_set_arg_input(cgh, c.input, c.data_kind);
        dft_set_arg_output(cgh, c.output, c.data_kind);
        dft_set_arg(cgh, arg_main_table, tables.main_table, tables.kind);
        dft_set_arg(cgh, arg_area_2, tables.area_2, tables.kind);
        dft_set_arg(cgh, arg_area_1, tables.area_1, tables.kind);
        cgh.set_arg(arg_slm, sycl::local_accessor<char, 1>(sycl::range<1>(static_cast<size_t>(b.slm_bytes)), cgh));
        if (trailing != nullptr) dft_set_arg(cgh, arg_trailing_table, trailing->view, tables.kind);
        const sycl::nd_range<2> range(
            sycl::range<2>(static_cast<size_t>(b.batch.howmany), static_cast<size_t>(b.work_group_size)),
            sycl::range<2>(1, static_cast<size_t>(b.work_group_size)));
        cgh.parallel_for(range, *b.kernels[c.d]);
      },
      compute_submission_location(__LINE__));
}

}  // namespace

template <class T>
int compute_1d_xwd(DFTI_DESCRIPTOR* record, void* input, void* output, void* dependencies, void* result_event,
                   direction d, std::int64_t data_kind, const trailing_table* trailing) {
  const block<T>* b = block_of<T>(record);
  if (b == nullptr) return status_invalid_configuration;
  const int ready = workspace_status_before_compute(record, b->internal_workspace, b->second_internal_workspace,
                                                    caller_gave_workspace(b->workspace_kind));
  if (ready != status_success) return ready;
  // A direction the plan was not prepared for has neither kernel nor table.
  if (b->kernels[d] == nullptr) return status_invalid_configuration;
  const table_views tables = views_of(*b, d);
  if (tables.main_table == nullptr || tables.area_1 == nullptr || tables.area_2 == nullptr ||
      (trailing != nullptr && trailing->view == nullptr))
    return status_no_workspace;
  const call c{d, input, output, data_kind, dependency_list(dependencies)};
  const sycl::event done = submit(*b, c, tables, trailing);
  hand_back_event(result_event, done);
  return status_success;
}

template int compute_1d_xwd<float>(DFTI_DESCRIPTOR*, void*, void*, void*, void*, direction, std::int64_t,
                                   const trailing_table*);
template int compute_1d_xwd<double>(DFTI_DESCRIPTOR*, void*, void*, void*, void*, direction, std::int64_t,
                                    const trailing_table*);

namespace {

template <class T>
int compute_entry(DFTI_DESCRIPTOR* record, void* input, void* output, void* dependencies,
                  std::uint64_t* container_kind, void* result_event, direction d) {
  follow_descriptor_queue(record, block_of<T>(record));
  return compute_1d_xwd<T>(record, input, output, dependencies, result_event, d,
                           is_buffer_form(container_kind) ? std::int64_t{workspace_buffer} : kind_usm_pointer,
                           nullptr);
}

}  // namespace

QEZ_DEFINE_COMPUTE_ENTRIES(compute_entry<T>, dir_forward, dir_backward)

}  // namespace ulmara::qez::dft::n_facts_slm
