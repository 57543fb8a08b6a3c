// The four-factor column-batch backend (dft_c2c_4_facts_colbatch_gpu_bkd):
// batches of 1D complex transforms that lie side by side in memory (batch
// distance 1), N = len1 x len2 with each pass length split again into two
// factors of at most 64. Pass 0 reads the caller's input, runs len1-point
// transforms and writes them transposed into a temporary area; pass 1
// applies the cross twiddles (which carry the direction's scale), runs
// len2-point transforms and writes the caller's output. The batch runs in
// chunks of SG/2 transforms (one lane pair per transform), launch pair by
// launch pair where a device caps the temporary area.
//
// This header holds the pure planning (no device, no record), the private
// block of a committed record and the entry points the backend's files
// share.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <type_traits>

#include <sycl/sycl.hpp>

#include "dft/api/descriptor_record.hpp"
#include "dft/gpu/core/backend.hpp"
#include "dft/gpu/core/compute_dispatch.hpp"
#include "dft/gpu/core/kernel_arguments.hpp"
#include "dft/gpu/core/layout_helpers.hpp"
#include "dft/gpu/core/plan_basics.hpp"
#include "gpu/service/architecture.hpp"
#include "gpu/service/kernel_types.hpp"

namespace ulmara::qez::dft::four_factor_colbatch {

using namespace plan_basics;

enum pass : int { pass_0 = 0, pass_1 = 1 };
constexpr int pass_count = 2;

// Kernel slots: forward pass 0, backward pass 0, forward pass 1, backward pass 1.
constexpr int kernel_count = 4;
inline int kernel_slot(pass p, direction d) { return 2 * p + d; }

// Twiddle events: table 1, table 2, cross forward, cross backward.
enum twiddle_slot : int { event_table_1 = 0, event_table_2, event_cross_forward, event_cross_backward };
constexpr int twiddle_event_count = 4;

constexpr std::size_t name_bytes = 64;
constexpr std::int64_t max_codelet = 64;
constexpr std::int64_t max_pass_length = 4096;
constexpr std::int64_t min_planned_sub_group = 16;
// A one-tile Harix device keeps each launch's data within 64 MiB.
constexpr std::uint64_t one_tile_cap_bytes = 67108864;

// ---------------------------------------------------------------------------
// Pure planning.

// n = pair[0] x pair[1], both in [2, limit], the least difference, pair[0]
// the larger: 0; 100 when there is none; 7 for n < 1.
int find_factor_pair(std::int64_t n, std::int64_t pair[2], std::int64_t limit);

// Longest pass length a device's local memory allows for sub-group size SG:
// min(local memory / (8 SG), 4096) in double, min(local memory / (4 SG),
// 4096) in single precision.
template <class T>
std::int64_t pass_length_limit(std::uint64_t local_mem_size, std::int64_t sub_group_size);

// How the batch runs: chunks of SG/2 transforms of the first batch
// dimension, launch pairs over them, launch groups over the second.
struct launch_plan {
  std::int64_t full_chunks;
  std::int64_t inner_tail;
  std::int64_t launches;
  std::int64_t chunks_per_launch;
  std::int64_t outer_launches;
  std::int64_t outer_per_launch;
  std::int64_t outer_tail;
};

// `outer_count` 0 when there is no second batch dimension; `cap_bytes` 0
// for a device without a cap on a launch's data.
launch_plan plan_launches(std::int64_t howmany, std::int64_t outer_count, std::int64_t sub_group_size,
                          std::uint64_t transform_bytes, std::uint64_t cap_bytes);

// Chunks of the batch, and how many the launch `a` of `plan` runs.
std::int64_t chunk_count(const launch_plan& plan);
std::int64_t chunks_of_launch(const launch_plan& plan, std::int64_t a);
// Outer indices of launch group `b` (b up to outer_launches, the partial
// group last).
std::int64_t outer_groups(const launch_plan& plan);
std::int64_t outer_of_group(const launch_plan& plan, std::int64_t b);

// One pass of the plan.
struct pass_plan {
  std::int64_t fft_len;
  std::int64_t fact0;
  std::int64_t fact1;
  std::int64_t sub_group_size;
  std::int64_t sub_groups;
  std::int64_t num_workgroups;
  std::int64_t work_group_size;
  std::uint64_t slm_bytes;
  std::int64_t howmany;
  std::int64_t howmany_per_launch;
  std::int64_t transforms_per_group;
  std::int64_t global_size;
  std::int64_t multifactor_twiddle;
  std::int64_t transpose_kernel;
  char kernel_name[name_bytes];
  char fact0_func[name_bytes];
  char fact1_func[name_bytes];
  std::uint64_t sub_table_bytes;  // padded
  bool large_grf;
};

// The geometry and names of a pass of F = fact0 x fact1 points, `other` the
// other pass length (sub_table_bytes not padded, large_grf not set).
template <class T>
pass_plan plan_pass(pass p, std::int64_t fact0, std::int64_t fact1, std::int64_t other,
                                  std::int64_t sub_group_size, std::int64_t howmany, std::int64_t launches);

// ---------------------------------------------------------------------------
// Private block of a committed record (zero-filled, 64-byte aligned). It
// owns its kernels, events, sub-buffers and internal areas, never the
// caller's workspace.

template <class T>
struct block {
  std::int64_t fft_len;
  std::int64_t len1;
  std::int64_t len2;
  std::int64_t len1_fact0;
  std::int64_t len1_fact1;
  std::int64_t len2_fact0;
  std::int64_t len2_fact1;
  std::int64_t sub_group_size;
  std::int64_t launches;
  std::int64_t outer_launches;
  std::uint64_t cross_table_bytes;  // one direction, padded
  std::uint64_t temp_bytes;         // padded
  std::int64_t chunks_per_launch;
  std::int64_t full_chunks;
  std::int64_t inner_tail;
  bool padded_temp;
  std::int64_t temp_outer_dist;  // complex values
  bool write_final_non_subgroup[direction_count];
  std::int64_t outer_per_launch;
  std::int64_t outer_tail;
  std::int64_t in_stride[direction_count];
  std::int64_t out_stride[direction_count];
  batch_layout_row batch[2];  // the second row is zero with one batch dimension
  std::uint64_t min_sub_group_size;
  std::uint64_t max_work_group_size;
  std::uint64_t local_mem_size;
  pass_plan passes[pass_count];
  sycl::kernel* kernels[kernel_count];
  sycl::queue* queue;
  T fwd_scale;
  T bwd_scale;
  // Workspace slices: USM pointers (USM or internal workspace) ...
  void* temp_ptr;
  void* cross_ptr[direction_count];
  void* table1_ptr;
  void* table2_ptr;
  // ... or sub-buffers of the caller's byte buffer.
  byte_buffer* temp_buf;
  byte_buffer* cross_buf[direction_count];
  byte_buffer* table1_buf;
  byte_buffer* table2_buf;
  std::uint32_t directions;
  void* workspace;
  std::uint32_t workspace_kind;
  sycl::event* twiddle_event[twiddle_event_count];
  bool prebuilt[kernel_count];
  gpu::qez_gpu_kernel_struct_t* prebuilt_handle[kernel_count];  // owner of a prebuilt kernel
  void* internal_twiddle_alloc;
  void* internal_temp_alloc;
  std::uint32_t in_order;
  qez_gpu_arch_t architecture;
  // Last submission of the last compute on a USM temporary area: the next
  // compute's first pass waits for it, since every compute of the record
  // shares the area.
  sycl::event* last_compute;
};

// The launch plan a committed state runs.
template <class T>
launch_plan launch_plan_of(const block<T>& s) {
  return {s.full_chunks, s.inner_tail, s.launches, s.chunks_per_launch, s.outer_launches, s.outer_per_launch,
          s.outer_tail};
}

// block_of<T>; describe<T>, one line describing a plan (tests, diagnostics).
QEZ_DECLARE_BLOCK_ENTRIES()

// ---------------------------------------------------------------------------
// Entry points shared by the backend's files.

// Acceptance, commit and release (plan.cpp).
bool accepts(const DFTI_DESCRIPTOR* record);
QEZ_DECLARE_COMMIT_ENTRIES()

// Program and kernels (kernel_build.cpp).
extern const char* const program_name;
extern const char* const program_family;
// The build options of one pass and direction.
template <class T>
std::string build_options(const block<T>& s, pass p, direction d);
// build_kernels builds the kernels of the directions served: always 0,
// since a kernel that does not come back leaves its slot empty for the
// compute to refuse.
QEZ_DECLARE_KERNEL_ENTRIES()

// Prebuilt kernels of the float instance (prebuilt.cpp).
struct prebuilt_row {
  const char* name_fwd;
  const char* name_bwd;
  pass for_pass;
  std::int64_t fft_len;
  std::int64_t howmany;
  std::int64_t howmany_per_launch;
  std::int64_t fact0;
  std::int64_t fact1;
  std::int64_t work_group_size;
  std::int64_t sub_group_size;
  std::int64_t num_workgroups;
  gpu::qez_gpu_binary_kernel_t image_fwd;
  gpu::qez_gpu_binary_kernel_t image_bwd;
};
// The row made for this pass plan, or null.
const prebuilt_row* find_prebuilt_row(const pass_plan& plan, pass p);
// The queue and layout may take a prebuilt kernel for direction d: a
// Nivolo queue whose driver version begins with "1.6", unit distances of
// the first batch dimension on both sides, at most one outer index.
bool prebuilt_conditions_hold(int queue_backend, const std::string& driver_version, const batch_layout_row& first,
                              std::int64_t outer_count, direction d);
// Loads the prebuilt kernel of (p, d) into its slot when every condition
// holds and the image loads; false means "build from source".
bool load_prebuilt_kernel(block<float>* s, pass p, direction d);

// Twiddle tables (twiddles.cpp).
template <class T>
int bkd_write_twiddle_table_on_device(block<T>* s);

// Workspace (workspace.cpp).
QEZ_DECLARE_BLOCK_WORKSPACE_ENTRIES()

// Compute entries (compute.cpp).
QEZ_DECLARE_COMPUTE_ENTRIES()

}  // namespace ulmara::qez::dft::four_factor_colbatch
