// Compute entries of the n-factor column-batch backend: one launch of the
// direction's kernel over {outer batch, column groups}, on SYCL buffers or
// USM pointers.
#include <vector>

#include "dft/api/status_codes.hpp"
#include "dft/gpu/backends/1d_factorised/n_fact_colbatch/plan.hpp"
#include "dft/gpu/core/call_compute_entries.hpp"

namespace ulmara::qez::dft::n_fact_colbatch {

namespace {

// Kernel argument positions; the sub table is there with three factors only.
enum argument : std::uint32_t { arg_input = 0, arg_output = 1, arg_main_table = 2, arg_sub_table = 3 };

// The twiddle tables of one direction as kernel arguments.
struct table_views {
  void* main;
  void* sub;
  std::int64_t kind;  // 2: USM pointers, 1: byte sub-buffers
};

template <class T>
table_views views_of(const DFTI_DESCRIPTOR* record, const block<T>& b, direction d) {
  if (record->workspace_internal != 0 || b.workspace_kind != workspace_buffer)
    return {b.main_pointers[d], b.sub_pointers[d], kind_usm_pointer};
  return {b.main_buffers[d], b.sub_buffers[d], workspace_buffer};
}

using call = compute_call<direction>;

template <class T>
sycl::nd_range<2> launch_range(const block<T>& b, direction d) {
  const std::int64_t inner = b.batch_count[batch_inner];
  const std::int64_t groups = (inner + b.columns[d] - 1) / b.columns[d];
  const size_t wg = static_cast<size_t>(b.work_group_size[d]);
  return sycl::nd_range<2>(sycl::range<2>(static_cast<size_t>(b.batch_count[batch_outer]), static_cast<size_t>(groups) * wg),
                           sycl::range<2>(1, wg));
}

template <class T>
int compute_1d_xwd(DFTI_DESCRIPTOR* record, const call& c, void* result_event) {
  block<T>* b = block_of<T>(record);
  if (b == nullptr) return status_invalid_configuration;
  const bool caller_given = b->workspace_kind == workspace_buffer || b->workspace_kind == workspace_usm;
  const int ready =
      workspace_status_before_compute(record, b->internal_workspace, b->second_internal_workspace, caller_given);
  if (ready != status_success) return ready;
  // A direction the plan was not prepared for has neither kernel nor tables.
  if (b->kernels[c.d] == nullptr) return status_invalid_configuration;
  const table_views tables = views_of(record, *b, c.d);
  const bool three_factors = b->factors[2] > 1;
  if (tables.main == nullptr || (three_factors && tables.sub == nullptr)) return status_no_workspace;
  const bool wait_tables = b->in_order == 0 && tables.kind == kind_usm_pointer;

  sycl::kernel kernel = *b->kernels[c.d];
  const sycl::event last = b->queue->submit(
      [&](sycl::handler& cgh) {
        if (c.data_kind == kind_usm_pointer && c.dependencies != nullptr) cgh.depends_on(*c.dependencies);
        if (wait_tables)
          for (sycl::event* e : b->table_events[c.d])
            if (e != nullptr) cgh.depends_on(*e);
        dft_set_arg(cgh, arg_input, c.input, c.data_kind);
        // In place the output is the input: one accessor that reads and writes.
        if (c.input == c.output)
          dft_set_arg_inout(cgh, c.output, c.data_kind);
        else
          dft_set_arg_output(cgh, c.output, c.data_kind);
        dft_set_arg(cgh, arg_main_table, tables.main, tables.kind);
        std::uint32_t next = arg_main_table + 1;
        if (three_factors) dft_set_arg(cgh, next++, tables.sub, tables.kind);
        cgh.set_arg(next, sycl::local_accessor<char, 1>(sycl::range<1>(static_cast<size_t>(b->slm_bytes[c.d])), cgh));
        cgh.parallel_for(launch_range(*b, c.d), kernel);
      },
      compute_submission_location(__LINE__));
  hand_back_event(result_event, last);
  return status_success;
}

}  // namespace

QEZ_DEFINE_CALL_COMPUTE_ENTRIES(compute_1d_xwd, dir_forward, dir_backward)

}  // namespace ulmara::qez::dft::n_fact_colbatch
