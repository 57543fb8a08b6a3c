// A stand-in for a GPU backend that accepted a descriptor, until the real
// backends exist: it puts a descriptor in the state a GPU commit leaves
// (GPU queue, status 30, compute entries, backend table, workspace
// requirement) and records what the front end hands to it.
#pragma once

#include <cstdint>
#include <vector>

#include "dft/api/descriptor_access.hpp"
#include "dft/gpu/core/compute_dispatch.hpp"
#include "gpu/service/verbose_gpu_output.hpp"

namespace qez_api_test {

namespace dft = ulmara::qez::dft;

struct fake_gpu_calls {
  int computes = 0;
  int workspaces = 0;
  void* input = nullptr;
  void* output = nullptr;
  bool had_dependencies = false;
  bool had_result = false;
  std::uint64_t container_kind = 0;
  int workspace_kind = 0;
  void* workspace = nullptr;
  int compute_status = 0;     // what the compute entry returns
  bool throw_in_entry = false;  // the entry raises instead
};

inline fake_gpu_calls& fake_calls() {
  static fake_gpu_calls calls;
  return calls;
}

// A profiling GPU queue on which the fake entry runs one small kernel per
// USM call, registered for verbose timing as a backend's launch would be.
inline sycl::queue& fake_kernel_queue() {
  static sycl::queue q(sycl::gpu_selector_v, sycl::property::queue::enable_profiling());
  return q;
}

inline int fake_compute(DFTI_DESCRIPTOR*, void* input, void* output, void* dependencies,
                        std::uint64_t* container_kind, void* result) {
  fake_gpu_calls& c = fake_calls();
  ++c.computes;
  c.input = input;
  c.output = output;
  c.had_dependencies = dependencies != nullptr;
  c.had_result = result != nullptr;
  c.container_kind = *container_kind;
  if (c.throw_in_entry) throw std::runtime_error("backend failure");
  if (result != nullptr) {
    // Like a backend's launch, the kernel waits for the caller's events, so
    // that the result event covers them (a test frees the data after it).
    const auto* deps = dft::dependency_list(dependencies);
    sycl::event e = fake_kernel_queue().submit([&](sycl::handler& h) {
      if (deps != nullptr) h.depends_on(*deps);
      h.single_task([] {});
    });
    ulmara::qez::gpu::verbose_register_event(e);
    *static_cast<sycl::event*>(result) = e;
  }
  return c.compute_status;
}

inline int fake_bkd_commit(const dft::backend_table*, DFTI_DESCRIPTOR*) { return 0; }
inline int fake_bkd_free(const dft::backend_table*, DFTI_DESCRIPTOR* r) {
  r->compute_fwd = nullptr;
  r->compute_bwd = nullptr;
  r->commit_status = dft::dfti_uncommitted;
  return 0;
}
inline int fake_add_workspace(void* workspace, int kind, std::uint64_t, DFTI_DESCRIPTOR*,
                              std::uint32_t, void*) {
  ++fake_calls().workspaces;
  fake_calls().workspace_kind = kind;
  fake_calls().workspace = workspace;
  return 0;
}
inline const dft::backend_table fake_table = {fake_bkd_commit, fake_bkd_free, fake_add_workspace};

// Puts `d` in the state of a GPU commitment that needs `workspace_bytes` of
// workspace; the descriptor owns the queue copy, as after a real commit.
template <class D>
void fake_gpu_commit(D& d, std::uint64_t workspace_bytes = 0) {
  fake_calls() = fake_gpu_calls{};
  DFTI_DESCRIPTOR* r = dft::descriptor_access::record(d);
  r->queue = new sycl::queue(sycl::gpu_selector_v, sycl::property::queue::in_order());
  r->commit_status = dft::dfti_committed;
  r->compute_fwd = fake_compute;
  r->compute_bwd = fake_compute;
  r->backend = &fake_table;
  r->workspace_bytes[0] = workspace_bytes;
  r->workspace_bytes[1] = 0;
}

}  // namespace qez_api_test
