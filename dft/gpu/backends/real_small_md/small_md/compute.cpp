// Compute of the small multi-dimensional backend: one submission of the
// direction's kernel over every transform of the batch, BATCH_PER_GROUP
// transforms per work-group.
#include <vector>

#include "dft/api/status_codes.hpp"
#include "dft/gpu/backends/real_small_md/small_md/plan.hpp"

namespace ulmara::qez::dft::small_md {

namespace {

sycl::detail::code_location compute_location(unsigned long line) {
  return sycl::detail::code_location(__FILE__, "compute_md_xwd", line, 0);
}

int compute_md_xwd(DFTI_DESCRIPTOR* record, void* input, void* output, void* dependencies, void* result_event, int d,
                   std::int64_t data_kind) {
  block* b = block_of(record);
  if (b == nullptr) return status_invalid_configuration;
  const int ready =
      workspace_status(record, b->internal_persistent.get(), b->internal_scratch.get(), b->workspace_kind);
  if (ready != status_success) return ready;
  const small_md_kernel_config& c = b->config;
  if (!c.direction_enabled[d] || b->kernels[d] == nullptr) return status_bad_descriptor;

  const std::int64_t groups = (b->transforms + c.batch_per_group - 1) / c.batch_per_group;
  const std::int64_t local = c.sub_group_size * c.threads_per_group;
  const auto* deps = static_cast<const std::vector<sycl::event>*>(dependencies);
  const bool usm_data = data_kind == kind_usm_pointer;
  sycl::kernel& kernel = *b->kernels[d];
  const sycl::event done = b->queue->submit(
      [&](sycl::handler& cgh) {
        if (usm_data && deps != nullptr) cgh.depends_on(*deps);
        dft_set_arg_input(cgh, input, data_kind);
        dft_set_arg_output(cgh, output, data_kind);
        cgh.set_arg(2, sycl::local_accessor<char, 1>(sycl::range<1>(static_cast<size_t>(c.slm_bytes)), cgh));
        std::uint32_t next = 3;
        for (int slot = 0; slot < slot_count; ++slot) {
          factor_table_record* t = b->tables[slot];
          if (t == nullptr) continue;
          if ((d == 0 && slot == slot_main_backward) || (d == 1 && slot == slot_main_forward)) continue;
          dft_set_arg(cgh, next++, t->container, t->kind);
          if (!b->in_order && t->kind == plan_basics::workspace_usm && t->event != nullptr) cgh.depends_on(*t->event);
        }
        cgh.parallel_for(sycl::nd_range<2>(sycl::range<2>(static_cast<size_t>(groups), static_cast<size_t>(local)),
                                           sycl::range<2>(1, static_cast<size_t>(local))),
                         kernel);
      },
      compute_location(__LINE__));
  if (result_event != nullptr) *static_cast<sycl::event*>(result_event) = done;
  return status_success;
}

int compute_entry(DFTI_DESCRIPTOR* record, void* input, void* output, void* dependencies,
                  std::uint64_t* container_kind, void* result_event, int d) {
  follow_descriptor_queue(record, block_of(record));
  const std::int64_t kind = data_kind_of(container_kind);
  return compute_md_xwd(record, input, output, dependencies, result_event, d, kind);
}

}  // namespace

template <class T>
int compute_md_fwd(DFTI_DESCRIPTOR* record, void* input, void* output, void* dependencies,
                   std::uint64_t* container_kind, void* result_event) {
  return compute_entry(record, input, output, dependencies, container_kind, result_event, plan_basics::dir_forward);
}

template <class T>
int compute_md_bwd(DFTI_DESCRIPTOR* record, void* input, void* output, void* dependencies,
                   std::uint64_t* container_kind, void* result_event) {
  return compute_entry(record, input, output, dependencies, container_kind, result_event, plan_basics::dir_backward);
}

#define QEZ_INSTANTIATE(T)                                                                      \
  template int compute_md_fwd<T>(DFTI_DESCRIPTOR*, void*, void*, void*, std::uint64_t*, void*); \
  template int compute_md_bwd<T>(DFTI_DESCRIPTOR*, void*, void*, void*, std::uint64_t*, void*);
QEZ_FOR_EACH_PRECISION(QEZ_INSTANTIATE)
#undef QEZ_INSTANTIATE

}  // namespace ulmara::qez::dft::small_md
