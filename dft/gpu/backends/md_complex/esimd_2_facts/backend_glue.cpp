#include "dft/gpu/backends/md_complex/esimd_2_facts/backend_glue.hpp"

#include <algorithm>
#include <memory>

#include "dft/api/status_codes.hpp"
#include "dft/gpu/core/kernel_arguments.hpp"

namespace ulmara::qez::dft::esimd_2_facts {

template <class T>
esimd_2_facts_plan<T>* commit_packed_plan(DFTI_DESCRIPTOR* record, sycl::queue* queue,
                                          const std::vector<std::int64_t>& lengths, std::uint64_t transforms) {
  std::vector<std::int64_t> strides = {1};
  std::uint64_t points = 1;
  for (std::size_t d = 0; d < lengths.size(); ++d) {
    if (d > 0) strides.push_back(strides.back() * lengths[d - 1]);
    points *= static_cast<std::uint64_t>(lengths[d]);
  }
  auto plan = std::make_unique<esimd_2_facts_plan<T>>(lengths, static_cast<T>(record->bwd_scale), transforms, points,
                                                      points, strides.data(), strides.data(), false);
  plan->set_forward_scale(static_cast<T>(record->fwd_scale));
  plan->set_internal_workspace_flag(record->workspace_internal == 1);
  if (plan->commit_plan(queue) != 0) return nullptr;
  record->workspace_bytes[0] = plan->get_workspace_bytes(0);
  record->workspace_bytes[1] = plan->get_workspace_bytes(1);
  return plan.release();
}

template <class T>
int attach_workspace(esimd_2_facts_plan<T>& plan, void* workspace, int kind, std::uint64_t offset,
                     std::uint32_t phase, void* events) {
  auto* list = static_cast<std::vector<sycl::event>*>(events);
  const std::uint32_t p = std::min<std::uint32_t>(phase, 3);
  if (kind == 1) plan.set_workspace(*static_cast<byte_buffer*>(workspace), p, list, offset);
  else plan.set_workspace(workspace, p, list, offset);
  return status_success;
}

namespace {
// The front end's container kind in the plan's encoding.
std::int32_t plan_container(std::uint64_t kind) {
  return kind == 1 ? container_buffer : kind == 2 ? container_usm : container_not_fixed;
}
}  // namespace

template <class T>
int compute_with_plan(esimd_2_facts_plan<T>& plan, int direction, void* input, void* output, void* dependencies,
                      std::uint64_t container_kind, void* result_event) {
  if (plan.check_container_kind(plan_container(container_kind)) != 0) return status_bad_descriptor;
  sycl::event done;
  if (container_kind & 1) {
    auto view = [](void* b) {
      auto* bytes = static_cast<byte_buffer*>(b);
      return bytes->reinterpret<T, 1>(sycl::range<1>(bytes->byte_size() / sizeof(T)));
    };
    sycl::buffer<T, 1> in = view(input), out = view(output);
    done = direction == 0 ? qez_dft_gpu_dft_esimd_2_facts_compute<0>(plan, in, out)
                          : qez_dft_gpu_dft_esimd_2_facts_compute<1>(plan, in, out);
  } else {
    const std::vector<sycl::event> deps =
        dependencies ? *static_cast<const std::vector<sycl::event>*>(dependencies) : std::vector<sycl::event>{};
    T* in = static_cast<T*>(input);
    T* out = static_cast<T*>(output);
    done = direction == 0 ? qez_dft_gpu_dft_esimd_2_facts_compute<0>(plan, in, out, deps)
                          : qez_dft_gpu_dft_esimd_2_facts_compute<1>(plan, in, out, deps);
  }
  if (result_event) *static_cast<sycl::event*>(result_event) = done;
  return status_success;
}

#define QEZ_INSTANTIATE(T)                                                                                           \
  template esimd_2_facts_plan<T>* commit_packed_plan<T>(DFTI_DESCRIPTOR*, sycl::queue*,                             \
                                                        const std::vector<std::int64_t>&, std::uint64_t);            \
  template int attach_workspace<T>(esimd_2_facts_plan<T>&, void*, int, std::uint64_t, std::uint32_t, void*);         \
  template int compute_with_plan<T>(esimd_2_facts_plan<T>&, int, void*, void*, void*, std::uint64_t, void*);
QEZ_INSTANTIATE(float)
QEZ_INSTANTIATE(double)
#undef QEZ_INSTANTIATE

}  // namespace ulmara::qez::dft::esimd_2_facts
