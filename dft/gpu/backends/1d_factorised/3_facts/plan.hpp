// The three-factor backend (dft_c2c_3_facts_gpu_bkd): batches of 1D complex
// transforms of N = F0 x F1 x F2 points (N a multiple of 4), one kernel pass
// per factor through a temporary area, in chunks of whole transforms.
//
// This header holds the pure planning, the private block of a committed
// record and the entry points the backend's files share.
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

namespace ulmara::qez::dft::three_factor {

using namespace plan_basics;

enum pass : int { pass_0 = 0, pass_1, pass_2, pass_count };
// Twiddle table classes: class 1 (N entries, read by pass 1, carries the
// scale) and class 2 (F1 x F2 entries, read by pass 2).
enum table_class : int { class_1 = 0, class_2, class_count };

constexpr std::size_t name_bytes = 64;
constexpr std::int64_t planned_subgroup = 8;
constexpr std::int64_t planned_work_group = 64;
constexpr std::int64_t columns_per_work_group = planned_work_group / 2;
constexpr std::int64_t temporary_padding = 4;  // complex values between two transforms

template <class T>
constexpr std::int64_t factor_limit() {
  return is_double<T>() ? 40 : 64;
}
template <class T>
constexpr std::int64_t length_limit() {
  return is_double<T>() ? 64000 : 262144;
}

// ---------------------------------------------------------------------------
// Pure planning (no device, no record).

struct factors {
  std::int64_t f[pass_count];
};

// The factors of N for one precision and architecture; false when N has
// none (N not a multiple of 4, N / F0 < 4, no second and third factor
// within the limit).
template <class T>
bool choose_factors(std::int64_t length, qez_gpu_arch_t architecture, factors* out);

// Chunk of the temporary area: bytes before padding and transforms.
struct chunking {
  std::uint64_t temporary_bytes;
  std::uint64_t transforms_per_chunk;
};
template <class T>
chunking chunk_batch(std::int64_t length, std::int64_t count, qez_gpu_arch_t architecture);

// The 256-register suffix for a pass of `slm_bytes` on an architecture.
bool wants_large_register_file(qez_gpu_arch_t architecture, std::uint64_t slm_bytes);

// ---------------------------------------------------------------------------
// Private block of a committed record (zero-filled, 64-byte aligned). It
// owns its kernels, events, sub-buffers and internal areas, never the
// caller's workspace.

template <class T>
struct block {
  char kernel_names[pass_count][name_bytes];
  char codelet_names[pass_count][name_bytes];
  sycl::kernel* kernels[pass_count][direction_count];
  sycl::queue* queue;
  std::int64_t length;
  std::int64_t fact[pass_count];
  std::int64_t temporary_distance;  // complex values
  std::uint64_t class_bytes[class_count];
  std::uint64_t work_group_size;
  std::uint64_t global_size[pass_count];
  std::uint64_t slm_bytes[pass_count];
  std::uint64_t subgroup_size;
  std::uint64_t temporary_bytes;
  batch_layout_row batch;
  std::uint64_t transforms_per_chunk;
  T scale[direction_count];
  byte_buffer* table_buffers[class_count][direction_count];
  void* table_pointers[class_count][direction_count];
  void* temporary_pointer;
  byte_buffer* temporary_buffer;
  qez_gpu_arch_t architecture;
  std::uint32_t directions;
  void* workspace;
  std::uint32_t workspace_kind;
  sycl::event* table_events[class_count][direction_count];
  void* internal_tables;
  void* internal_temporary;
  std::uint32_t in_order;
  // Last submission of the last compute on a USM temporary area: the next
  // compute's first pass waits for it, since all computes share the area.
  sycl::event* last_compute;
};

// block_of<T>; describe<T>, one line describing a plan (tests, diagnostics).
QEZ_DECLARE_BLOCK_ENTRIES()

// ---------------------------------------------------------------------------
// Entry points shared by the backend's files.

// Acceptance, commit and release (plan.cpp).
template <class T>
bool accepts(const DFTI_DESCRIPTOR* record);
QEZ_DECLARE_COMMIT_ENTRIES()

// Program and kernels (kernel_build.cpp).
constexpr std::size_t options_bytes = 512;
template <class T>
void format_names(block<T>* b);
// The build options of one pass and direction.
template <class T>
std::string build_options(const block<T>& b, pass p, direction d);
// build_kernels names the kernels (format_names), then builds them: 0, or
// the first failing status.
QEZ_DECLARE_KERNEL_ENTRIES()
extern const char* const program_name_double;
extern const char* const program_name_single;

// Twiddle tables (twiddles.cpp): one generator per class, into a USM table
// (kind 2) or a byte sub-buffer (kind 1).
template <class T>
sycl::event bkd_write_twiddle_table_on_device(const block<T>& b, table_class c, direction d);

// Workspace (workspace.cpp).
QEZ_DECLARE_BLOCK_WORKSPACE_ENTRIES()

// Compute entries (compute.cpp).
QEZ_DECLARE_COMPUTE_ENTRIES()

}  // namespace ulmara::qez::dft::three_factor
