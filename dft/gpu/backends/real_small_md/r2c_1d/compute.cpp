// Compute entries of the real one-dimensional backend: the batch in groups,
// each an input kernel (user data -> temp rows), the complex child in place
// on the temp, and an output kernel (temp rows -> user data), over SYCL
// buffers or USM pointers.
#include <vector>

#include "dft/api/status_codes.hpp"
#include "dft/gpu/backends/real_small_md/r2c_1d/plan.hpp"
#include "dft/gpu/core/compute_dispatch.hpp"
#include "dft/gpu/core/submitted_work.hpp"

namespace ulmara::qez::dft::r2c_1d {

namespace {

sycl::detail::code_location compute_location(unsigned long line) {
  return sycl::detail::code_location(__FILE__, "compute_1d_xwd", line, 0);
}

// Kernels, ranges and child of one direction.
struct stage {
  sycl::kernel* kernel;
  bool with_twiddles;
  std::int64_t points;
  bool paired_rows;  // odd N: a row carries two real transforms
};

struct direction_plan {
  stage input;
  stage output;
  compute_entry child_entry(const DFTI_DESCRIPTOR* child) const {
    return forward ? child->compute_fwd : child->compute_bwd;
  }
  bool forward;
};

direction_plan plan_of(const block& b, plan_basics::direction d) {
  const std::int64_t n = b.n, half = b.half_length;
  const auto k = [&b](kernel_slot s) { return b.kernels[s].get(); };
  if (d == plan_basics::dir_forward) {
    const stage output = b.even() ? stage{k(kernel_r2c), true, half, false}
                                  : stage{k(kernel_fwd_output_copy), false, half + 1, true};
    return {stage{k(kernel_fwd_input_copy), false, n, !b.even()}, output, true};
  }
  const stage input = b.even() ? stage{k(kernel_c2r), true, half, false}
                               : stage{k(kernel_bwd_input_copy), false, half + 1, true};
  return {input, stage{k(kernel_bwd_output_copy), false, n, !b.even()}, false};
}

sycl::range<2> range_of(const stage& s, std::int64_t count) {
  const std::int64_t rows = s.paired_rows ? (count + 1) / 2 : count;
  return sycl::range<2>(static_cast<size_t>(rows), static_cast<size_t>(s.points));
}

// What one call works with.
struct call {
  block* b;
  plan_basics::direction d;
  void* input;
  void* output;
  std::int64_t data_kind;
  std::int64_t temp_kind;
  void* temp;
  void* twiddles;
  const std::vector<sycl::event>* dependencies;
};

// The views of the temp and the twiddles in the kind they were made with.
void choose_views(const DFTI_DESCRIPTOR* record, const block& b, call& c) {
  const bool pointers = record->workspace_internal != 0 || b.workspace_kind == plan_basics::workspace_usm;
  c.temp_kind = pointers ? kind_usm_pointer : static_cast<std::int64_t>(b.workspace_kind);
  c.temp = pointers ? b.temp_pointer : static_cast<void*>(b.temp_slice.get());
  c.twiddles = pointers ? b.twiddle_pointer : static_cast<void*>(b.twiddle_slice.get());
}

bool wait_for_twiddles(const call& c, bool first_group, plan_basics::direction stage_direction) {
  const block& b = *c.b;
  return first_group && !b.in_order && c.d == stage_direction && b.even() && b.twiddle_event &&
         c.temp_kind == kind_usm_pointer;
}

// Arguments: 0 the stage's source, 1 its target, 2 the twiddles (untangling
// kernels), last the group's first transform.
void set_stage_arguments(sycl::handler& cgh, const call& c, const stage& s, void* source,
                         std::int64_t source_kind, void* target, std::int64_t target_kind,
                         std::int64_t start) {
  dft_set_arg_input(cgh, source, source_kind);
  dft_set_arg_output(cgh, target, target_kind);
  std::uint32_t next = 2;
  if (s.with_twiddles) dft_set_arg(cgh, next++, c.twiddles, c.temp_kind);
  cgh.set_arg(static_cast<int>(next), static_cast<std::int64_t>(start));
}

sycl::event submit_input_stage(const call& c, const stage& s, std::int64_t start, std::int64_t count,
                               const sycl::event* previous) {
  const bool first = previous == nullptr;
  return c.b->queue->submit(
      [&](sycl::handler& cgh) {
        if (!first && c.temp_kind == kind_usm_pointer) cgh.depends_on(*previous);
        if (first && c.data_kind == kind_usm_pointer && c.dependencies != nullptr)
          cgh.depends_on(*c.dependencies);
        if (wait_for_twiddles(c, first, plan_basics::dir_backward)) cgh.depends_on(*c.b->twiddle_event);
        set_stage_arguments(cgh, c, s, c.input, c.data_kind, c.temp, c.temp_kind, start);
        cgh.parallel_for(range_of(s, count), *s.kernel);
      },
      compute_location(__LINE__));
}

sycl::event submit_output_stage(const call& c, const stage& s, std::int64_t start, std::int64_t count,
                                const sycl::event& child_done, bool first) {
  return c.b->queue->submit(
      [&](sycl::handler& cgh) {
        if (c.temp_kind == kind_usm_pointer) cgh.depends_on(child_done);
        if (wait_for_twiddles(c, first, plan_basics::dir_forward)) cgh.depends_on(*c.b->twiddle_event);
        set_stage_arguments(cgh, c, s, c.temp, c.temp_kind, c.output, c.data_kind, start);
        cgh.parallel_for(range_of(s, count), *s.kernel);
      },
      compute_location(__LINE__));
}

void hand_queue_to_children(const DFTI_DESCRIPTOR* record, block& b) {
  for (child_handle& child : b.children) {
    if (!child) continue;
    child->offload_mode = record->offload_mode;
    child->queue = record->queue;
  }
}

int compute_1d_xwd(DFTI_DESCRIPTOR* record, void* input, void* output, void* dependencies,
                   void* result_event, plan_basics::direction d, std::int64_t data_kind) {
  block* b = block_of(record);
  if (b == nullptr) return status_invalid_configuration;
  hand_queue_to_children(record, *b);
  const direction_plan p = plan_of(*b, d);
  // A direction the plan was not made for has no kernels.
  if (p.input.kernel == nullptr || p.output.kernel == nullptr) return status_invalid_configuration;
  const int ready = workspace_status(record, b->internal_persistent.get(),
                                            b->internal_scratch.get(), b->workspace_kind);
  if (ready != status_success) return ready;

  call c{b, d, input, output, data_kind, 0, nullptr, nullptr, dependency_list(dependencies)};
  choose_views(record, *b, c);
  if (c.temp == nullptr || (b->even() && c.twiddles == nullptr)) return status_no_workspace;

  DFTI_DESCRIPTOR* child = b->children[child_main].get();
  std::int64_t count = b->group_batch;
  std::uint64_t temp_kind_word = static_cast<std::uint64_t>(c.temp_kind);
  int status = status_success;
  std::unique_ptr<sycl::event> last;
  submitted_work work;
  for (std::int64_t start = 0; start < b->count; start += count) {
    if (start + count > b->count) {
      child = b->children[child_remainder].get();
      count = b->count - start;
      if (child == nullptr) return status_internal_error;
    }
    const sycl::event in_done = work.add(submit_input_stage(c, p.input, start, count, last.get()));
    std::vector<sycl::event> after_input{in_done};
    sycl::event child_done;
    status = p.child_entry(child)(child, c.temp, c.temp, &after_input, &temp_kind_word, &child_done);
    // A group whose child failed has nothing in the temp worth writing:
    // the caller's output keeps what it held.
    if (status != status_success) break;
    work.add(child_done);
    const sycl::event out_done = work.add(submit_output_stage(c, p.output, start, count, child_done, !last));
    last = std::make_unique<sycl::event>(out_done);
  }
  if (result_event != nullptr && last) *static_cast<sycl::event*>(result_event) = *last;
  return work.settle(status);
}

int compute_entry(DFTI_DESCRIPTOR* record, void* input, void* output, void* dependencies,
                  std::uint64_t* container_kind, void* result_event, plan_basics::direction d) {
  follow_descriptor_queue(record, block_of(record));
  const std::int64_t kind = data_kind_of(container_kind);
  return compute_1d_xwd(record, input, output, dependencies, result_event, d, kind);
}

}  // namespace

QEZ_DEFINE_COMPUTE_ENTRIES(compute_entry, plan_basics::dir_forward, plan_basics::dir_backward)

}  // namespace ulmara::qez::dft::r2c_1d
