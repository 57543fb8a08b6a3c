// The four-factor backend (dft_c2c_4_facts_gpu_bkd): batches of 1D complex
// transforms of N = N1 x N2 points (2048 <= N <= 1024 x 1024, N1 >= N2, both
// at most 1024), each sub-length again split into two factors of at most 49.
// Pass 0 runs N2 transforms of length N1 and writes them transposed into an
// intermediate area; pass 1 applies the cross twiddles (which carry the
// scale) and runs N1 transforms of length N2 into the natural output order.
//
// This header holds the pure planning (no device, no record), the private
// block of a committed record and the entry points the backend's files
// share. The twiddle-table writers are in twiddles.hpp.
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

namespace ulmara::qez::dft::four_factor {

using namespace plan_basics;

enum pass : int { pass_0 = 0, pass_1 = 1 };
constexpr int pass_count = 2;

constexpr std::size_t name_bytes = 64;
constexpr std::int64_t min_length = 2048;
constexpr std::int64_t max_sub_length = 1024;
constexpr std::int64_t max_factor = 49;
constexpr std::int64_t min_planned_sub_group = 16;

// ---------------------------------------------------------------------------
// Pure planning.

// m = larger x smaller, both at most 49.
struct factor_split {
  std::int64_t larger;
  std::int64_t smaller;
};

// The two factors of a sub-length nearest to each other (the first of equal
// distance, scanning the smaller candidate divisor downwards from 49); false
// when m has none, or when the split is 49 x a prime (no usable codelet pair).
bool split_sub_length(std::int64_t m, factor_split* out);

// N = len1 x len2 (len1 >= len2) with both sub-lengths split.
struct length_split {
  std::int64_t len1;
  std::int64_t len2;
  factor_split split1;
  factor_split split2;
};

// The pair of sub-lengths nearest to sqrt(N) that both split; false when N
// has none.
bool choose_sub_lengths(std::int64_t length, length_split* out);

// One pass: `fft_len`-point transforms, `num_ffts` of them per transform.
struct pass_plan {
  std::int64_t fft_len;
  std::int64_t fact0;
  std::int64_t fact1;
  std::int64_t sub_group_size;
  std::int64_t sub_groups_per_group;
  std::int64_t work_group_size;
  std::uint64_t slm_bytes;
  std::int64_t num_ffts;
  std::int64_t ffts_per_sub_group;
  std::int64_t global_size;
  char kernel_name[name_bytes];
  char fact0_func[name_bytes];
  char fact1_func[name_bytes];
  std::uint64_t sub_table_bytes;  // padded

  std::int64_t work_groups() const { return global_size / work_group_size; }
};

// The geometry of a pass (names and padded table size not filled).
template <class T>
pass_plan plan_pass(std::int64_t fft_len, const factor_split& split, std::int64_t num_ffts,
                         std::int64_t sub_group_size);

// The unpadded byte size of a direction's cross table for pass 1.
template <class T>
std::uint64_t cross_table_raw_bytes(const pass_plan& pass2);

// Transforms per launch pair on a one-tile Harix device (the intermediate
// area then stays within 64 MiB), for `howmany` transforms of N points.
template <class T>
std::int64_t one_tile_chunk(std::int64_t length, std::int64_t howmany);

// ---------------------------------------------------------------------------
// Private block of a committed record (zero-filled, 64-byte aligned). It
// owns its kernels, events, sub-buffers and internal areas, never the
// caller's workspace.

template <class T>
struct block {
  std::int64_t length;
  std::int64_t len1;
  std::int64_t len2;
  std::int64_t len1_fact0;
  std::int64_t len1_fact1;
  std::int64_t len2_fact0;
  std::int64_t len2_fact1;
  std::uint64_t cross_table_bytes;  // one direction, padded
  std::uint64_t temp_bytes;         // padded
  batch_layout_row batch;
  std::int64_t chunk;
  std::int64_t min_sub_group_size;
  std::uint64_t local_mem_size;
  pass_plan passes[pass_count];
  sycl::kernel* kernels[pass_count][direction_count];
  sycl::queue* queue;
  std::uint32_t in_place;
  T scale[direction_count];
  // Workspace slices: USM pointers (USM or internal workspace) ...
  void* temp_pointer;
  void* cross_pointers[direction_count];
  void* sub_table_pointers[pass_count];  // table A (pass 0), table B (pass 1)
  // ... or sub-buffers of the caller's byte buffer.
  byte_buffer* temp_buffer;
  byte_buffer* cross_buffers[direction_count];
  byte_buffer* sub_table_buffers[pass_count];
  qez_gpu_arch_t architecture;
  std::uint32_t directions;
  void* workspace;
  std::uint32_t workspace_kind;
  sycl::event* sub_table_events[pass_count];
  sycl::event* cross_events[direction_count];
  void* internal_twiddles;
  void* internal_temp;
  std::uint32_t in_order;
  // Last submission of the last compute on a USM intermediate area: the
  // next compute's first pass waits for it, since every compute of the
  // record shares the area.
  sycl::event* last_compute;
};

// block_of<T>; describe<T>, one line describing a plan (tests, diagnostics).
QEZ_DECLARE_BLOCK_ENTRIES()

// ---------------------------------------------------------------------------
// Entry points shared by the backend's files.

// Acceptance, commit and release (plan.cpp).
bool accepts(const DFTI_DESCRIPTOR* record);
QEZ_DECLARE_COMMIT_ENTRIES()
template <class T>
int cap_batch_chunk(block<T>* s);

// Program and kernels (kernel_build.cpp).
extern const char* const transpose_program_name;
extern const char* const twiddle_program_name;
template <class T>
void format_pass_names(pass_plan* p);
// The build options of one pass and direction.
template <class T>
std::string build_options(const block<T>& s, pass p, direction d);
QEZ_DECLARE_KERNEL_ENTRIES()

// Workspace (workspace.cpp).
QEZ_DECLARE_BLOCK_WORKSPACE_ENTRIES()

// Compute entries (compute.cpp).
QEZ_DECLARE_COMPUTE_ENTRIES()

}  // namespace ulmara::qez::dft::four_factor
