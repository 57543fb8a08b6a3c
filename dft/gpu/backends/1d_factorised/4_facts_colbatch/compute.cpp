// Compute entries of the four-factor column-batch backend: for each launch
// group over the second batch dimension and each launch over the chunks of
// the first, pass 0 then pass 1 of the direction, on SYCL buffers or USM
// pointers.
#include <vector>

#include "dft/api/status_codes.hpp"
#include "dft/gpu/backends/1d_factorised/4_facts_colbatch/plan.hpp"
#include "dft/gpu/core/call_compute_entries.hpp"
#include "dft/gpu/core/submitted_work.hpp"

namespace ulmara::qez::dft::four_factor_colbatch {

namespace {

// The workspace objects of one direction as kernel arguments.
struct work_views {
  void* temp;
  void* table1;
  void* table2;
  void* cross;
  std::int64_t kind;  // 2: USM pointers, 1: byte sub-buffers
};

template <class T>
work_views views_of(const DFTI_DESCRIPTOR* record, const block<T>& s, direction d) {
  if (record->workspace_internal != 0 || s.workspace_kind != workspace_buffer)
    return {s.temp_ptr, s.table1_ptr, s.table2_ptr, s.cross_ptr[d], kind_usm_pointer};
  return {s.temp_buf, s.table1_buf, s.table2_buf, s.cross_buf[d], workspace_buffer};
}

using call = compute_call<direction>;

// Where one launch pair runs: outer group b, launch a.
struct launch {
  std::int64_t chunks;
  std::int64_t outer;
  int inner_offset;
  int outer_offset;
  bool first;
};

template <class T>
sycl::nd_range<3> launch_range(const pass_plan& p, const launch& l) {
  return sycl::nd_range<3>(
      sycl::range<3>(static_cast<size_t>(l.outer), static_cast<size_t>(l.chunks), static_cast<size_t>(p.global_size)),
      sycl::range<3>(1, 1, static_cast<size_t>(p.work_group_size)));
}

sycl::local_accessor<char, 1> local_bytes(std::uint64_t bytes, sycl::handler& cgh) {
  return sycl::local_accessor<char, 1>(sycl::range<1>(static_cast<size_t>(bytes)), cgh);
}

void depend_if_set(sycl::handler& cgh, const sycl::event* e) {
  if (e != nullptr) cgh.depends_on(*e);
}

// Submits the launch's two passes and records each in `work`.
template <class T>
sycl::event run_launch(const block<T>& s, const call& c, const work_views& w, const launch& l,
                       sycl::event last, submitted_work& work) {
  const bool usm_work = w.kind == kind_usm_pointer;
  const bool wait_tables = l.first && usm_work && !s.in_order;
  const int cross_event = c.d == dir_forward ? event_cross_forward : event_cross_backward;
  sycl::queue& q = *s.queue;

  last = work.add(q.submit(
      [&](sycl::handler& cgh) {
        if (l.first && c.data_kind == kind_usm_pointer && c.dependencies != nullptr) cgh.depends_on(*c.dependencies);
        if (wait_tables) {
          depend_if_set(cgh, s.twiddle_event[event_table_1]);
          // Every compute of the record shares the temporary area.
          depend_if_set(cgh, s.last_compute);
        }
        if (!l.first && usm_work) cgh.depends_on(last);
        dft_set_arg(cgh, 0, c.input, c.data_kind);
        dft_set_arg_with<sycl::access_mode::read_write>(cgh, 1, w.temp, w.kind);
        dft_set_arg(cgh, 2, w.table1, w.kind);
        cgh.set_arg(3, local_bytes(s.passes[pass_0].slm_bytes, cgh));
        cgh.set_arg(4, l.inner_offset);
        cgh.set_arg(5, l.outer_offset);
        cgh.parallel_for(launch_range<T>(s.passes[pass_0], l), *s.kernels[kernel_slot(pass_0, c.d)]);
      },
      compute_submission_location(__LINE__)));

  return work.add(q.submit(
      [&](sycl::handler& cgh) {
        if (usm_work) cgh.depends_on(last);
        if (wait_tables) {
          depend_if_set(cgh, s.twiddle_event[event_table_2]);
          depend_if_set(cgh, s.twiddle_event[cross_event]);
        }
        dft_set_arg(cgh, 0, w.temp, w.kind);
        dft_set_arg_with<sycl::access_mode::read_write>(cgh, 1, c.output, c.data_kind);
        dft_set_arg(cgh, 2, w.table2, w.kind);
        dft_set_arg(cgh, 3, w.cross, w.kind);
        cgh.set_arg(4, local_bytes(s.passes[pass_1].slm_bytes, cgh));
        cgh.set_arg(5, l.inner_offset);
        cgh.set_arg(6, l.outer_offset);
        cgh.parallel_for(launch_range<T>(s.passes[pass_1], l), *s.kernels[kernel_slot(pass_1, c.d)]);
      },
      compute_submission_location(__LINE__)));
}

template <class T>
int compute_1d_xwd(DFTI_DESCRIPTOR* record, const call& c, void* result_event) {
  block<T>* s = block_of<T>(record);
  if (s == nullptr) return status_invalid_configuration;
  const bool caller_given = s->workspace_kind == workspace_buffer || s->workspace_kind == workspace_usm;
  const int ready =
      workspace_status_before_compute(record, s->internal_twiddle_alloc, s->internal_temp_alloc, caller_given);
  if (ready != status_success) return ready;
  // A direction the plan was not prepared for has neither kernels nor tables.
  if (s->kernels[kernel_slot(pass_0, c.d)] == nullptr || s->kernels[kernel_slot(pass_1, c.d)] == nullptr)
    return status_invalid_configuration;
  const work_views w = views_of(record, *s, c.d);
  if (w.temp == nullptr || w.table1 == nullptr || w.table2 == nullptr || w.cross == nullptr)
    return status_no_workspace;

  const launch_plan plan = launch_plan_of(*s);
  // A failing pass waits for the passes submitted before it.
  submitted_work work;
  sycl::event last;
  bool first = true;
  for (std::int64_t b = 0; b < outer_groups(plan); ++b) {
    for (std::int64_t a = 0; a < plan.launches; ++a) {
      const launch l{chunks_of_launch(plan, a), outer_of_group(plan, b),
                     static_cast<int>(plan.chunks_per_launch * a), static_cast<int>(plan.outer_per_launch * b), first};
      last = run_launch(*s, c, w, l, last, work);
      first = false;
    }
  }
  if (!first && w.kind == kind_usm_pointer) remember_event(s->last_compute, last);
  hand_back_event(result_event, last);
  return work.settle(status_success);
}

}  // namespace

QEZ_DEFINE_CALL_COMPUTE_ENTRIES(compute_1d_xwd, dir_forward, dir_backward)

}  // namespace ulmara::qez::dft::four_factor_colbatch
