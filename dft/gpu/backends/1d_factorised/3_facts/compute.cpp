// Compute entries of the three-factor backend: for each chunk of the batch,
// the three passes of the direction, on SYCL buffers or USM pointers.
#include <algorithm>
#include <vector>

#include "dft/api/status_codes.hpp"
#include "dft/gpu/backends/1d_factorised/3_facts/plan.hpp"
#include "dft/gpu/core/call_compute_entries.hpp"
#include "dft/gpu/core/submitted_work.hpp"

namespace ulmara::qez::dft::three_factor {

namespace {

// The workspace objects of one direction as kernel arguments.
struct work_views {
  void* tables[class_count];
  void* temporary;
  std::int64_t kind;  // 2: USM pointers, 1: byte sub-buffers
};

template <class T>
work_views views_of(const DFTI_DESCRIPTOR* record, const block<T>& b, direction d) {
  if (record->workspace_internal != 0 || b.workspace_kind != workspace_buffer)
    return {{b.table_pointers[class_1][d], b.table_pointers[class_2][d]}, b.temporary_pointer, kind_usm_pointer};
  return {{b.table_buffers[class_1][d], b.table_buffers[class_2][d]}, b.temporary_buffer, workspace_buffer};
}

using call = compute_call<direction>;

// One launch: dimension 0 (OpenCL) the pass's columns in work-groups of 64,
// dimension 1 the chunk's transforms.
template <class T>
sycl::nd_range<2> launch_range(const block<T>& b, pass p, std::uint64_t transforms) {
  return sycl::nd_range<2>(sycl::range<2>(static_cast<size_t>(transforms), static_cast<size_t>(b.global_size[p])),
                           sycl::range<2>(1, static_cast<size_t>(b.work_group_size)));
}

sycl::local_accessor<char, 1> local_bytes(std::uint64_t bytes, sycl::handler& cgh) {
  return sycl::local_accessor<char, 1>(sycl::range<1>(static_cast<size_t>(bytes)), cgh);
}

// Submits the chunk's three passes and records each in `work`.
template <class T>
sycl::event run_chunk(const block<T>& b, const call& c, const work_views& w, std::uint64_t done,
                      std::uint64_t transforms, sycl::event last, bool first_chunk, submitted_work& work) {
  const bool usm_work = w.kind == kind_usm_pointer;
  const bool wait_tables = first_chunk && !b.in_order && usm_work;
  const int offset = static_cast<int>(done);
  sycl::queue& q = *b.queue;

  last = work.add(q.submit(
      [&](sycl::handler& cgh) {
        if (first_chunk && c.data_kind == kind_usm_pointer && c.dependencies != nullptr)
          cgh.depends_on(*c.dependencies);
        // The temporary area is shared by every compute on the record.
        if (first_chunk && usm_work && !b.in_order && b.last_compute != nullptr) cgh.depends_on(*b.last_compute);
        if (!first_chunk && usm_work) cgh.depends_on(last);
        dft_set_arg(cgh, 0, c.input, c.data_kind);
        dft_set_arg_with<sycl::access_mode::write>(cgh, 1, w.temporary, w.kind);
        cgh.set_arg(2, local_bytes(b.slm_bytes[pass_0], cgh));
        cgh.set_arg(3, offset);
        cgh.parallel_for(launch_range(b, pass_0, transforms), *b.kernels[pass_0][c.d]);
      },
      compute_submission_location(__LINE__)));

  for (pass p : {pass_1, pass_2}) {
    const table_class tc = p == pass_1 ? class_1 : class_2;
    last = work.add(q.submit(
        [&](sycl::handler& cgh) {
          if (wait_tables && b.table_events[tc][c.d] != nullptr) cgh.depends_on(*b.table_events[tc][c.d]);
          if (usm_work) cgh.depends_on(last);
          dft_set_arg(cgh, 0, w.temporary, w.kind);
          if (p == pass_1)
            dft_set_arg_with<sycl::access_mode::write>(cgh, 1, w.temporary, w.kind);
          else
            dft_set_arg_with<sycl::access_mode::write>(cgh, 1, c.output, c.data_kind);
          dft_set_arg(cgh, 2, w.tables[tc], w.kind);
          cgh.set_arg(3, local_bytes(b.slm_bytes[p], cgh));
          if (p == pass_2) cgh.set_arg(4, offset);
          cgh.parallel_for(launch_range(b, p, transforms), *b.kernels[p][c.d]);
        },
        compute_submission_location(__LINE__)));
  }
  return last;
}

template <class T>
int compute_1d_xwd(DFTI_DESCRIPTOR* record, const call& c, void* result_event) {
  block<T>* b = block_of<T>(record);
  if (b == nullptr) return status_invalid_configuration;
  const bool caller_given = b->workspace_kind == workspace_buffer || b->workspace_kind == workspace_usm;
  const int ready = workspace_status_before_compute(record, b->internal_tables, b->internal_temporary, caller_given);
  if (ready != status_success) return ready;
  // A direction the plan was not prepared for has neither kernels nor tables.
  for (int p = pass_0; p < pass_count; ++p)
    if (b->kernels[p][c.d] == nullptr) return status_invalid_configuration;
  const work_views w = views_of(record, *b, c.d);
  if (w.tables[class_1] == nullptr || w.tables[class_2] == nullptr || w.temporary == nullptr)
    return status_no_workspace;

  const std::uint64_t count = static_cast<std::uint64_t>(std::max<std::int64_t>(b->batch.howmany, 0));
  // A failing pass waits for the passes submitted before it.
  submitted_work work;
  sycl::event last;
  for (std::uint64_t done = 0; done < count; done += b->transforms_per_chunk) {
    const std::uint64_t n = std::min(b->transforms_per_chunk, count - done);
    last = run_chunk(*b, c, w, done, n, last, done == 0, work);
  }
  if (count > 0 && w.kind == kind_usm_pointer) remember_event(b->last_compute, last);
  hand_back_event(result_event, last);
  return work.settle(status_success);
}

}  // namespace

QEZ_DEFINE_CALL_COMPUTE_ENTRIES(compute_1d_xwd, dir_forward, dir_backward)

}  // namespace ulmara::qez::dft::three_factor
