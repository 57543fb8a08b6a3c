// Default 1D backend: compute. The batch runs in chunks of `chunk`
// transforms; per chunk either the fused shared-memory kernel, or pass 0,
// the copy kernel when needed and passes 1 to 3, ping-ponging through
// scratch areas A and B.
#include <algorithm>
#include <vector>

#include <sycl/sycl.hpp>

#include "dft/api/status_codes.hpp"
#include "dft/gpu/backends/1d_basic/default_1d/backend.hpp"
#include "dft/gpu/core/compute_dispatch.hpp"
#include "dft/gpu/core/kernel_arguments.hpp"
#include "dft/gpu/core/submitted_work.hpp"

namespace ulmara::qez::dft::default_1d {

namespace {

// A container and its kind (1 buffer, 2 USM pointer).
struct container {
  void* address;
  std::int64_t kind;
};

// One kernel launch of a chunk.
struct launch {
  sycl::kernel* kernel;
  container input, output;
  bool output_is_written_only;  // the copy kernel only writes its output
  std::int64_t start;
  sycl::range<3> global;
  // Work-group (fused kernel and passes that ask for one; else the
  // runtime's choice) and shared-memory bytes (fused kernel only).
  sycl::range<3> local;
  std::int64_t slm_bytes;
  int dimensions;  // 2 for the copy kernel, else 3
};

// What a launch waits for besides its accessors.
struct waits {
  const std::vector<sycl::event>* events = nullptr;
  const sycl::event* previous = nullptr;
  const sycl::event* earlier_compute = nullptr;
};

sycl::event submit(sycl::queue& queue, const launch& l, const waits& w) {
  const sycl::detail::code_location where(__FILE__, "compute_1d_xwd", __LINE__, 0);
  return queue.submit(
      [&](sycl::handler& h) {
        if (w.events != nullptr) h.depends_on(*w.events);
        if (w.previous != nullptr) h.depends_on(*w.previous);
        if (w.earlier_compute != nullptr) h.depends_on(*w.earlier_compute);
        dft_set_arg_input(h, l.input.address, l.input.kind);
        if (l.output_is_written_only)
          dft_set_arg_output(h, l.output.address, l.output.kind);
        else
          dft_set_arg_inout(h, l.output.address, l.output.kind);
        const std::int64_t start = l.start;
        if (l.slm_bytes > 0) {
          h.set_arg(2, sycl::local_accessor<char, 1>(sycl::range<1>(static_cast<std::size_t>(l.slm_bytes)), h));
          h.set_arg(3, start);
          h.parallel_for(sycl::nd_range<3>(l.global, l.local), *l.kernel);
        } else if (l.dimensions == 2) {
          h.set_arg(2, start);
          h.parallel_for(sycl::range<2>(l.global[0], l.global[1]), *l.kernel);
        } else if (l.local.size() > 0) {
          h.set_arg(2, start);
          h.parallel_for(sycl::nd_range<3>(l.global, l.local), *l.kernel);
        } else {
          h.set_arg(2, start);
          h.parallel_for(l.global, *l.kernel);
        }
      },
      where);
}

// ---------------------------------------------------------------------------
// One call of one direction.

template <class T>
class direction_run {
public:
  direction_run(DFTI_DESCRIPTOR* record, block<T>* b, std::uint32_t d, container in, container out,
                const std::vector<sycl::event>* deps, bool usm_form)
      : record_(record), b_(b), d_(d), in_(in), out_(out), deps_(usm_form ? deps : nullptr), usm_form_(usm_form) {
    const bool buffer_scratch = record->workspace_internal == 0 && b->workspace_kind != workspace_usm;
    for (int i = 0; i < area_count; ++i)
      areas_[i] = buffer_scratch ? container{b->area_buffer[i], container_buffer}
                                 : container{b->usm_area[i], container_usm};
    usm_scratch_ = !buffer_scratch;
  }

  int check_workspace() const {
    const bool given = (b_->workspace_kind & (workspace_buffer | workspace_usm)) != 0;
    return workspace_status_before_compute(record_, b_->internal_alloc[0], b_->internal_alloc[1], given);
  }

  // Kernels of a direction that the commit did not build are never launched.
  bool built() const {
    for (int k = 0; k < pass_count; ++k)
      if (pass_runs(*b_, k) && b_->kernels[k][d_] == nullptr) return false;
    return !needs_copy_kernel(*b_) || b_->kernels[slot_copy][d_] != nullptr;
  }

  sycl::event run() {
    const std::int64_t total = total_transforms(*b_);
    for (std::int64_t start = 0; start < total; start += b_->chunk) {
      const std::int64_t count = std::min(b_->chunk, total - start);
      if (b_->slm_mode)
        run_fused(start, count);
      else
        run_passes(start, count);
    }
    return last_;
  }

  // The call's status: a failure (or an exception leaving run()) waits for
  // the passes already submitted.
  int settle(int status) { return work_.settle(status); }

private:
  // The first launch of a call also waits for the previous call's last one
  // when both use the same USM scratch.
  waits waits_for(bool follows_previous) const {
    waits w;
    if (!submitted_) {
      w.events = deps_;
      if (usm_scratch_ && b_->last_event != nullptr) w.earlier_compute = b_->last_event;
    } else if (follows_previous) {
      w.previous = &last_;
    }
    return w;
  }

  void issue(const launch& l, bool follows_previous) {
    last_ = work_.add(submit(*b_->queue, l, waits_for(follows_previous)));
    submitted_ = true;
  }

  launch pass_launch(int k, container from, container to, std::int64_t start, std::int64_t count) const {
    std::int64_t p = 1;
    for (int j = 0; j < k; ++j) p *= b_->factors[j];
    const std::int64_t q = b_->length / (p * b_->factors[k]);
    launch l{};
    l.kernel = b_->kernels[k][d_];
    l.input = from;
    l.output = to;
    l.start = start;
    l.global = sycl::range<3>(count, q, p);
    l.local = pass_group(k, p, count);
    l.dimensions = 3;
    return l;
  }

  // The staged first pass takes whole groups of its columns. A later pass
  // runs in groups of 64 neighbouring work-items along p where p allows: on
  // a CPU device each thread then takes runs of 64 values of each row, where
  // the runtime's own choice (a group as long as the device allows) left the
  // threads few groups to share and each group walking its rows through a
  // whole transform. A generic pass that has no group by these rules spreads
  // its transforms over the compute units (see spread_group).
  sycl::range<3> pass_group(int k, std::int64_t p, std::int64_t count) const {
    constexpr std::int64_t later_pass_group = 64;
    if (k == 0) {
      const std::int64_t columns = staged_first_pass_columns(*b_);
      if (columns != 0) return sycl::range<3>(1, columns, 1);
    } else if (p % later_pass_group == 0) {
      return sycl::range<3>(1, 1, later_pass_group);
    }
    return is_generic_factor<T>(b_->factors[k]) ? spread_group(count) : sycl::range<3>();
  }

  // A generic pass runs a direct DFT of O(F^2) operations in each
  // work-item, and it has few work-items: one per transform and column. Its
  // groups along the transforms are the largest divisor of the chunk's
  // count (at most 64) that leaves at least 8 groups per compute unit, so
  // that every unit takes a share. The runtime's choice put 1023 transforms
  // of 4099 points in 3 groups, which ran on 3 of 8 threads.
  sycl::range<3> spread_group(std::int64_t count) const {
    constexpr std::int64_t groups_per_unit = 8, largest_group = 64;
    const std::int64_t units =
        static_cast<std::int64_t>(b_->queue->get_device().template get_info<sycl::info::device::max_compute_units>());
    std::int64_t group = std::clamp<std::int64_t>(count / (groups_per_unit * std::max<std::int64_t>(units, 1)), 1,
                                                  largest_group);
    while (count % group != 0) --group;
    return sycl::range<3>(static_cast<std::size_t>(group), 1, 1);
  }

  void run_fused(std::int64_t start, std::int64_t count) {
    const std::int64_t columns = b_->length / b_->factors[0];
    const std::int64_t group = b_->slm_bytes / (b_->length * 2 * static_cast<std::int64_t>(sizeof(T)));
    launch l{};
    l.kernel = b_->kernels[0][d_];
    l.input = in_;
    l.output = out_;
    l.start = start;
    // Whole work-groups: the kernel skips transforms past the last one.
    l.global = sycl::range<3>((count + group - 1) / group * group, columns, 1);
    l.local = sycl::range<3>(group, columns, 1);
    l.slm_bytes = b_->slm_bytes;
    l.dimensions = 3;
    issue(l, usm_form_);
  }

  void run_passes(std::int64_t start, std::int64_t count) {
    const std::int64_t* f = b_->factors;
    const container a = areas_[area_a], b = areas_[area_b];
    const bool copy = needs_copy_kernel(*b_);
    const bool direct = !b_->in_place && f[1] == 1;
    issue(pass_launch(0, in_, direct ? out_ : a, start, count), usm_scratch_);
    if (copy) {
      launch l{};
      l.kernel = b_->kernels[slot_copy][d_];
      l.input = a;
      l.output = out_;
      l.output_is_written_only = true;
      l.start = start;
      l.global = sycl::range<3>(count, b_->length, 1);
      l.dimensions = 2;
      issue(l, usm_scratch_);
    }
    if (f[1] >= 2) issue(pass_launch(1, a, f[2] != 1 ? b : out_, start, count), usm_scratch_);
    if (f[2] >= 2) issue(pass_launch(2, b, f[3] != 1 ? a : out_, start, count), usm_scratch_);
    if (f[3] >= 2) issue(pass_launch(3, a, out_, start, count), usm_scratch_);
  }

  DFTI_DESCRIPTOR* record_;
  block<T>* b_;
  std::uint32_t d_;
  container in_, out_;
  const std::vector<sycl::event>* deps_;
  bool usm_form_;
  bool usm_scratch_ = false;
  container areas_[area_count];
  bool submitted_ = false;
  sycl::event last_;
  submitted_work work_;  // the passes submitted so far
};

template <class T>
int compute_1d_xwd(DFTI_DESCRIPTOR* record, void* in, void* out, const std::vector<sycl::event>* deps,
                   void* result, std::uint32_t d, bool usm_form) {
  auto* b = static_cast<block<T>*>(record->bkd_data);
  if (b == nullptr) return status_bad_descriptor;
  const std::int64_t kind = usm_form ? container_usm : container_buffer;
  direction_run<T> run(record, b, d, {in, kind}, {out, kind}, deps, usm_form);
  const int status = run.check_workspace();
  if (status != status_success) return status;
  // A direction the plan was not made for has no kernels: the call is not
  // possible in this state.
  if (!serves(b->directions, static_cast<direction>(d))) return status_invalid_configuration;
  if (!run.built()) return status_internal_error;
  const sycl::event last = run.run();
  if (total_transforms(*b) > 0) remember_event(b->last_event, last);
  hand_back_event(result, last);
  return run.settle(status_success);
}

// The block keeps its own queue: in asynchronous offload it takes the
// descriptor's queue over by value.
template <class T>
int compute_entry(DFTI_DESCRIPTOR* record, void* input, void* output, void* dependencies,
                  std::uint64_t* container_kind, void* result_event, std::uint32_t d) {
  auto* b = static_cast<block<T>*>(record->bkd_data);
  if (b != nullptr && record->offload_mode == offload_asynchronous)
    *b->queue = *static_cast<sycl::queue*>(record->queue);
  return compute_1d_xwd<T>(record, input, output, dependency_list(dependencies), result_event, d,
                           !is_buffer_form(container_kind));
}

}  // namespace

QEZ_DEFINE_COMPUTE_ENTRIES(compute_entry<T>, dir_forward, dir_backward)

}  // namespace ulmara::qez::dft::default_1d
