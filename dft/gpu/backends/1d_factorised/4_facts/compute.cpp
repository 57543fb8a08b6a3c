// Compute entries of the four-factor backend: for each chunk of the batch,
// the transpose pass (pass 0) and the twiddle pass (pass 1) of the
// direction, on SYCL buffers or USM pointers.
#include <algorithm>
#include <vector>

#include "dft/api/status_codes.hpp"
#include "dft/gpu/backends/1d_factorised/4_facts/plan.hpp"
#include "dft/gpu/core/call_compute_entries.hpp"
#include "dft/gpu/core/submitted_work.hpp"

namespace ulmara::qez::dft::four_factor {

namespace {

// The workspace slices one direction reads and writes, as kernel arguments.
struct work_views {
  void* temp;
  void* sub_tables[pass_count];
  void* cross;
  std::int64_t kind;  // 2: USM pointers, 1: byte sub-buffers
};

template <class T>
work_views views_of(const DFTI_DESCRIPTOR* record, const block<T>& s, direction d) {
  if (record->workspace_internal != 0 || s.workspace_kind != workspace_buffer)
    return {s.temp_pointer, {s.sub_table_pointers[pass_0], s.sub_table_pointers[pass_1]}, s.cross_pointers[d],
            kind_usm_pointer};
  return {s.temp_buffer, {s.sub_table_buffers[pass_0], s.sub_table_buffers[pass_1]}, s.cross_buffers[d],
          std::int64_t{workspace_buffer}};
}

bool complete(const work_views& w) {
  return w.temp != nullptr && w.sub_tables[pass_0] != nullptr && w.sub_tables[pass_1] != nullptr &&
         w.cross != nullptr;
}

using call = compute_call<direction>;

// One chunk's position in the batch.
struct chunk_position {
  std::int64_t pos;
  std::int64_t count;
  bool first() const { return pos == 0; }
};

// Dimension 0 (OpenCL) the pass's work-groups, dimension 1 the chunk's
// transforms.
sycl::nd_range<2> launch_range(const pass_plan& p, std::int64_t count) {
  return sycl::nd_range<2>(sycl::range<2>(static_cast<size_t>(count), static_cast<size_t>(p.global_size)),
                           sycl::range<2>(1, static_cast<size_t>(p.work_group_size)));
}

sycl::local_accessor<char, 1> local_bytes(std::uint64_t bytes, sycl::handler& cgh) {
  return sycl::local_accessor<char, 1>(sycl::range<1>(static_cast<size_t>(bytes)), cgh);
}

void depend_on_event(sycl::handler& cgh, const sycl::event* e) {
  if (e != nullptr) cgh.depends_on(*e);
}

template <class T>
sycl::event submit_transpose_pass(const block<T>& s, const call& c, const work_views& w,
                                  const chunk_position& at, const sycl::event& previous) {
  const bool usm_work = w.kind == kind_usm_pointer;
  return s.queue->submit(
      [&](sycl::handler& cgh) {
        if (at.first()) {
          if (c.data_kind == kind_usm_pointer && c.dependencies != nullptr) cgh.depends_on(*c.dependencies);
          if (usm_work && s.in_order == 0) {
            depend_on_event(cgh, s.sub_table_events[pass_0]);
            // Every compute of the record shares the intermediate area.
            depend_on_event(cgh, s.last_compute);
          }
        } else if (usm_work) {
          cgh.depends_on(previous);
        }
        dft_set_arg(cgh, 0, c.input, c.data_kind);
        dft_set_arg_inout(cgh, w.temp, w.kind);
        dft_set_arg(cgh, 2, w.sub_tables[pass_0], w.kind);
        cgh.set_arg(3, local_bytes(s.passes[pass_0].slm_bytes, cgh));
        cgh.set_arg(4, static_cast<int>(at.pos));
        cgh.parallel_for(launch_range(s.passes[pass_0], at.count), *s.kernels[pass_0][c.d]);
      },
      compute_submission_location(__LINE__));
}

template <class T>
sycl::event submit_twiddle_pass(const block<T>& s, const call& c, const work_views& w,
                                const chunk_position& at, const sycl::event& pass1) {
  const bool usm_work = w.kind == kind_usm_pointer;
  return s.queue->submit(
      [&](sycl::handler& cgh) {
        if (usm_work) {
          cgh.depends_on(pass1);
          if (at.first() && s.in_order == 0) {
            depend_on_event(cgh, s.sub_table_events[pass_1]);
            depend_on_event(cgh, s.cross_events[c.d]);
          }
        }
        dft_set_arg(cgh, 0, w.temp, w.kind);
        dft_set_arg_output(cgh, c.output, c.data_kind);
        dft_set_arg(cgh, 2, w.sub_tables[pass_1], w.kind);
        dft_set_arg(cgh, 3, w.cross, w.kind);
        cgh.set_arg(4, local_bytes(s.passes[pass_1].slm_bytes, cgh));
        cgh.set_arg(5, static_cast<int>(at.pos));
        cgh.parallel_for(launch_range(s.passes[pass_1], at.count), *s.kernels[pass_1][c.d]);
      },
      compute_submission_location(__LINE__));
}

template <class T>
int compute_1d_xwd(DFTI_DESCRIPTOR* record, const call& c, void* result_event) {
  block<T>* s = block_of<T>(record);
  // No plan, or an offload call that brought no queue.
  if (s == nullptr || s->queue == nullptr) return status_invalid_configuration;
  const bool caller_given = s->workspace_kind == workspace_buffer || s->workspace_kind == workspace_usm;
  const int ready = workspace_status_before_compute(record, s->internal_twiddles, s->internal_temp, caller_given);
  if (ready != status_success) return ready;
  // A direction the plan was not prepared for has neither kernels nor a
  // cross table.
  if (s->kernels[pass_0][c.d] == nullptr || s->kernels[pass_1][c.d] == nullptr) return status_invalid_configuration;
  const work_views w = views_of(record, *s, c.d);
  if (!complete(w)) return status_no_workspace;

  // A failing pass waits for the passes submitted before it.
  submitted_work work;
  sycl::event last;
  for (std::int64_t pos = 0; pos < s->batch.howmany; pos += s->chunk) {
    const chunk_position at{pos, std::min(s->chunk, s->batch.howmany - pos)};
    last = work.add(submit_transpose_pass(*s, c, w, at, last));
    last = work.add(submit_twiddle_pass(*s, c, w, at, last));
  }
  if (w.kind == kind_usm_pointer) remember_event(s->last_compute, last);
  hand_back_event(result_event, last);
  return work.settle(status_success);
}

}  // namespace

QEZ_DEFINE_CALL_COMPUTE_ENTRIES(compute_1d_xwd, dir_forward, dir_backward)

}  // namespace ulmara::qez::dft::four_factor
