// Compute entries of the 8192-point backend: two command groups per call,
// pass 1 (input -> scratch) and pass 2 (scratch -> output), over SYCL buffers
// or USM pointers.
#include <vector>

#include "dft/api/status_codes.hpp"
#include "dft/gpu/core/compute_dispatch.hpp"
#include "dft/gpu/backends/1d_basic/eight_k/plan.hpp"
#include "dft/gpu/core/kernel_arguments.hpp"
#include "dft/gpu/core/submitted_work.hpp"

namespace ulmara::qez::dft::eight_k {

namespace {

sycl::detail::code_location compute_location(unsigned long line) {
  return sycl::detail::code_location(__FILE__, "compute_1d_xwd", line, 0);
}

// The caller handed a buffer or a USM workspace over.
bool caller_gave_workspace(std::uint32_t kind) {
  return kind == workspace_buffer || kind == workspace_usm;
}

// What one call works with.
struct call {
  sycl::queue* queue;
  direction d;
  void* input;
  void* output;
  std::int64_t data_kind;
  std::int64_t table_kind;    // kind of the twiddle views
  std::int64_t scratch_kind;  // kind of the scratch view
  bool explicit_table_order;  // the table writes must be declared
  const std::vector<sycl::event>* dependencies;
  const sycl::event* earlier_compute;  // still reads the USM scratch, or null
};

template <class T>
sycl::nd_range<2> pass_range(const block<T>& b, pass p) {
  return sycl::nd_range<2>(
      sycl::range<2>(static_cast<size_t>(b.count), static_cast<size_t>(b.items_per_transform[p])),
      sycl::range<2>(1, static_cast<size_t>(b.work_group_size)));
}

void depend_on_table(sycl::handler& cgh, const sycl::event* written) {
  if (written != nullptr) cgh.depends_on(*written);
}

void add_local_bytes(sycl::handler& cgh, std::uint32_t index, std::int64_t bytes) {
  cgh.set_arg(static_cast<int>(index),
              sycl::local_accessor<char, 1>(sycl::range<1>(static_cast<size_t>(bytes)), cgh));
}

template <class T>
sycl::event submit_columns_pass(const block<T>& b, const call& c) {
  return c.queue->submit(
      [&](sycl::handler& cgh) {
        if (c.explicit_table_order) {
          depend_on_table(cgh, b.table_events[table_n0][c.d]);
          depend_on_table(cgh, b.table_events[table_inter][c.d]);
        }
        if (c.data_kind == kind_usm_pointer && c.dependencies != nullptr) cgh.depends_on(*c.dependencies);
        if (c.earlier_compute != nullptr) cgh.depends_on(*c.earlier_compute);
        dft_set_arg_input(cgh, c.input, c.data_kind);
        dft_set_arg_output(cgh, b.scratch, c.scratch_kind);
        dft_set_arg(cgh, 2, b.tables[table_n0][c.d], c.table_kind);
        dft_set_arg(cgh, 3, b.tables[table_inter][c.d], c.table_kind);
        add_local_bytes(cgh, 4, b.slm_bytes[pass_columns]);
        cgh.parallel_for(pass_range(b, pass_columns), *b.kernels[kernel_slot(pass_columns, c.d)]);
      },
      compute_location(__LINE__));
}

template <class T>
sycl::event submit_rows_pass(const block<T>& b, const call& c, const sycl::event& columns_done) {
  return c.queue->submit(
      [&](sycl::handler& cgh) {
        if (c.explicit_table_order) depend_on_table(cgh, b.table_events[table_n1][c.d]);
        // A USM scratch area orders the passes only through the event.
        if (c.scratch_kind == kind_usm_pointer) cgh.depends_on(columns_done);
        dft_set_arg_input(cgh, b.scratch, c.scratch_kind);
        dft_set_arg_output(cgh, c.output, c.data_kind);
        dft_set_arg(cgh, 2, b.tables[table_n1][c.d], c.table_kind);
        add_local_bytes(cgh, 3, b.slm_bytes[pass_rows]);
        cgh.parallel_for(pass_range(b, pass_rows), *b.kernels[kernel_slot(pass_rows, c.d)]);
      },
      compute_location(__LINE__));
}

template <class T>
bool has_views(const block<T>& b, direction d) {
  return b.scratch != nullptr && b.tables[table_n0][d] != nullptr &&
         b.tables[table_n1][d] != nullptr && b.tables[table_inter][d] != nullptr;
}

template <class T>
int compute_1d_xwd(DFTI_DESCRIPTOR* record, void* input, void* output, void* dependencies,
                   void* result_event, direction d, std::int64_t data_kind) {
  block<T>* b = block_of<T>(record);
  if (b == nullptr) return status_invalid_configuration;
  const int ready = workspace_status_before_compute(record, b->internal_twiddles, b->internal_scratch,
                                                    caller_gave_workspace(b->workspace_kind));
  if (ready != status_success) return ready;
  // A direction the plan was not made for has neither kernels nor tables.
  if (b->kernels[kernel_slot(pass_columns, d)] == nullptr ||
      b->kernels[kernel_slot(pass_rows, d)] == nullptr)
    return status_invalid_configuration;
  if (!has_views(*b, d)) return status_no_workspace;

  // Views are bound by the kind they were made with (USM for the internal
  // workspace), part by part.
  const auto table_kind = static_cast<std::int64_t>(b->twiddle_views_kind);
  const auto scratch_kind = static_cast<std::int64_t>(b->scratch_view_kind);
  // A USM scratch area orders successive computes only through the event of
  // the previous one's last pass; a buffer scratch orders them by accessors.
  const bool usm_scratch = scratch_kind == kind_usm_pointer;
  const call c{b->queue,
               d,
               input,
               output,
               data_kind,
               table_kind,
               scratch_kind,
               !b->in_order && table_kind == kind_usm_pointer,
               dependency_list(dependencies),
               usm_scratch ? b->last_compute : nullptr};
  // A failing rows pass waits for the columns pass before the call ends.
  submitted_work work;
  const sycl::event columns_done = work.add(submit_columns_pass(*b, c));
  const sycl::event rows_done = submit_rows_pass(*b, c, columns_done);
  if (usm_scratch) remember_event(b->last_compute, rows_done);
  hand_back_event(result_event, rows_done);
  return work.settle(status_success);
}

template <class T>
int compute_entry(DFTI_DESCRIPTOR* record, void* input, void* output, void* dependencies,
                  std::uint64_t* container_kind, void* result_event, direction d) {
  follow_descriptor_queue(record, block_of<T>(record));
  return compute_1d_xwd<T>(record, input, output, dependencies, result_event, d,
                           is_buffer_form(container_kind) ? workspace_buffer : workspace_usm);
}

}  // namespace

QEZ_DEFINE_COMPUTE_ENTRIES(compute_entry<T>, dir_forward, dir_backward)

}  // namespace ulmara::qez::dft::eight_k
