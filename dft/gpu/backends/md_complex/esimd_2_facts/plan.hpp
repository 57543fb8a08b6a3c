// The ESIMD two-factor engine: a self-contained plan for a batch of 2D or 3D
// complex transforms of unit-stride, densely packed data, run as one pass per
// dimension. Each pass splits its length into fact0 x fact1, runs the kernel
// family qez_dft_esimd_2_facts_kernel specialised for that pass through
// specialization constants, and multiplies by a twiddle table kept in a
// workspace slice (two slices per pass, one per direction; the scale of a
// direction sits in pass 0's table).
//
// Calling order of the owning backends: constructor, set_forward_scale,
// set_internal_workspace_flag, commit_plan, get_workspace_bytes (0 and 1);
// later set_workspace from the backend's add_workspace; per compute
// set_queue, check_container_kind, then qez_dft_gpu_dft_esimd_2_facts_compute;
// destructor when the backend is freed or commit_plan failed.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include <sycl/sycl.hpp>

namespace ulmara::qez::dft {

namespace esimd_2_facts {
constexpr int max_rank = 3;
constexpr int max_slices = 2 * max_rank;
constexpr std::uint64_t vector_length = 16;  // lanes of T: 8 complex values
// Workspace container of the plan (its own encoding).
enum container : std::uint32_t { container_usm = 0, container_buffer = 1, container_not_fixed = 2 };
// The executable kernel bundle of one pass (defined where bundles are built).
struct pass_bundle;
struct pass_bundle_deleter {
  void operator()(pass_bundle* b) const;
};
}  // namespace esimd_2_facts

template <class T>
class esimd_2_facts_plan {
 public:
  using table_buffer = sycl::buffer<T, 1>;

  // Copies the lengths (innermost first) and the first `rank` strides of
  // each array; forward scale 1, internal workspace on, container not fixed.
  esimd_2_facts_plan(const std::vector<std::int64_t>& lengths, T backward_scale, std::uint64_t transforms,
                     std::uint64_t forward_distance, std::uint64_t backward_distance,
                     const std::int64_t* input_strides, const std::int64_t* output_strides, bool use_lsc_api);
  esimd_2_facts_plan(const esimd_2_facts_plan&) = delete;
  esimd_2_facts_plan& operator=(const esimd_2_facts_plan&) = delete;
  ~esimd_2_facts_plan();

  void set_forward_scale(T scale) { forward_scale = scale; }
  void set_internal_workspace_flag(bool flag) { internal_workspace = flag ? 1 : 0; }
  // 0: ready; 1: the plan does not take the problem, or its internal
  // workspace could not be made. Called once, after the two setters.
  std::uint64_t commit_plan(sycl::queue* queue);
  // Kind 0, kind 1, 2 (their sum); any other kind: 0.
  std::uint64_t get_workspace_bytes(std::int32_t kind) const;
  void set_queue(sycl::queue* q) { queue = q; }

  // Attaches a workspace of USM memory. Phase (min(phase, 3) from the
  // callers): 0 part 0, 1 part 1, 2 both (fixes the USM container), 3 carve
  // only. Table events are appended to `events` when it is given.
  void set_workspace(void* workspace, std::uint32_t phase, std::vector<sycl::event>* events, std::uint64_t offset);
  // The same on a buffer of T (phase 2 fixes the buffer container).
  void set_workspace(table_buffer& workspace, std::uint32_t phase, std::vector<sycl::event>* events,
                     std::uint64_t offset);
  // The backends' byte workspace buffer, viewed as a buffer of T (a byte
  // size that is not a multiple of sizeof(T) raises the SYCL error of
  // reinterpret).
  void set_workspace(sycl::buffer<char, 1>& workspace, std::uint32_t phase, std::vector<sycl::event>* events,
                     std::uint64_t offset);

  // Internal workspace: device memory for the USM tables and plan-owned
  // buffers for the buffer tables, both written and waited on. 0 or 1.
  std::uint64_t create_and_initialize_internal_workspaces();
  // Kinds 0 and 2: the USM block and the buffer tables; kinds 1 and 2: the
  // second block; 3 and more: nothing.
  void delete_internal_allocations(std::uint32_t kind);
  // Mode 0: the USM slices; 1: the buffer slices.
  void create_twiddle_table(std::uint32_t mode);
  // Compute-time kind 0 USM, 1 buffer (2 throws std::invalid_argument):
  // 0 when this plan holds tables of that kind, else 1.
  std::int32_t check_container_kind(std::int32_t kind) const;

  // One line describing the plan (tests and diagnostics).
  std::string describe() const;

  // ---- Record (read by the compute and by tests) ----
  std::uint64_t rank;
  std::vector<std::int64_t> lengths;
  T backward_scale;
  T forward_scale;
  std::uint64_t transforms;
  std::uint64_t forward_distance;
  std::uint64_t backward_distance;
  std::int64_t input_strides[esimd_2_facts::max_rank];
  std::int64_t output_strides[esimd_2_facts::max_rank];
  T* table_pointers[esimd_2_facts::max_slices];                   // [2d] direction 0, [2d+1] direction 1
  std::unique_ptr<table_buffer> table_buffers[esimd_2_facts::max_slices];  // same pairing
  std::uint64_t slice_bytes[esimd_2_facts::max_slices];
  std::uint64_t vl;
  std::uint64_t local_size[esimd_2_facts::max_rank];
  std::uint64_t global_size[esimd_2_facts::max_rank];
  std::uint64_t dims[esimd_2_facts::max_rank];
  std::uint64_t work_groups_per_chunk[esimd_2_facts::max_rank];
  std::uint64_t batch_multiplier;
  std::uint32_t fact0[esimd_2_facts::max_rank];
  std::uint32_t fact1[esimd_2_facts::max_rank];
  std::uint8_t use_lsc_api;
  std::uint8_t column_batch[esimd_2_facts::max_rank];
  std::uint8_t internal_workspace;
  std::uint32_t container_kind;
  std::uint64_t workspace_bytes[2];
  void* internal_allocations[2];
  std::vector<sycl::event> events;  // [d] pass d direction 0, [rank + d] direction 1
  sycl::queue* queue;
  std::unique_ptr<esimd_2_facts::pass_bundle, esimd_2_facts::pass_bundle_deleter> bundles[esimd_2_facts::max_rank];
};

extern template class esimd_2_facts_plan<float>;
extern template class esimd_2_facts_plan<double>;

// The compute: one launch per pass and chunk of the batch on the plan's
// queue; returns the last launch's event (a default event when the plan has
// no transforms). Direction 0 forward, 1 backward. The plan must be
// committed, its queue set and check_container_kind passed for the form.
// USM form: the first launch waits for `dependencies`.
template <int direction, class T>
sycl::event qez_dft_gpu_dft_esimd_2_facts_compute(const esimd_2_facts_plan<T>& plan, T* input, T* output,
                                                  const std::vector<sycl::event>& dependencies);
// Buffer form: buffers of the real scalar over the interleaved data.
template <int direction, class T>
sycl::event qez_dft_gpu_dft_esimd_2_facts_compute(const esimd_2_facts_plan<T>& plan, sycl::buffer<T, 1>& input,
                                                  sycl::buffer<T, 1>& output);

}  // namespace ulmara::qez::dft
