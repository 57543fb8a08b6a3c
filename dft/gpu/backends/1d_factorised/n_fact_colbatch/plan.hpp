// The n-factor column-batch backend (dft_c2c_2_facts_colbatch_gpu_bkd):
// H transforms of N points laid out as adjacent columns of an N-row matrix
// (element stride >= H, distance 1), optionally repeated O times at an outer
// distance. One kernel per direction loads a block of columns into shared
// local memory, runs the transform as up to three factor passes
// (N = F0 x F1 x F2, each factor at most 64) and writes the block back in the
// same column layout or transposed (each transform contiguous).
//
// This header holds the pure planning (factor split, block-transfer cost
// search), the private block of a committed record and the entry points the
// backend's files share.
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

namespace ulmara::qez::dft::n_fact_colbatch {

using namespace plan_basics;

// The two twiddle tables of a direction: main (N entries, carries the scale)
// and sub (F1 x F2 entries, only with three factors).
enum table_kind : int { table_main = 0, table_sub = 1, table_count = 2 };
// Batch dimensions: inner (adjacent columns) and outer (repeated blocks).
enum batch_dim : int { batch_inner = 0, batch_outer = 1, batch_dim_count = 2 };
constexpr int factor_count = 3;

constexpr std::size_t name_bytes = 64;
constexpr std::int64_t largest_factor = 64;

// ---------------------------------------------------------------------------
// Pure planning (no device, no record).

// Statuses of the factor split: 0, 7 (impossible length or product) or 100.
// `out` receives `count` factors in descending order.
int split_colbatch_factors(std::int64_t count, std::int64_t length, std::int64_t* out);

// F0 >= F1 >= F2 for a length (two factors, else one up to 64, else three);
// false when none fits.
bool choose_factors(std::int64_t length, std::int64_t (&f)[factor_count]);

// The device and layout numbers the search of one direction reads.
struct search_inputs {
  bool single_precision;
  std::int64_t factors[factor_count];
  std::int64_t inner;              // H
  std::int64_t outer;              // O
  std::int64_t subgroup;           // SG
  std::int64_t slm_bytes;          // device local memory
  std::int64_t compute_units;      // CU (already shifted)
  std::int64_t max_work_group;     // maxWG
  std::int64_t tile_count;
  std::int64_t out_stride;         // output stride of the direction
  std::int64_t out_offset;         // output offset of the direction
  std::int64_t inner_out_distance;  // output distance of the inner batch
  std::int64_t outer_out_distance;  // output distance of the outer batch
};

// The launch geometry of one direction.
struct direction_plan {
  std::int64_t columns;           // per work-group (INNER_BATCH_PER_GROUP)
  std::int64_t last_columns;      // in the last work-group
  std::int64_t slm_bytes;
  std::int64_t groups_per_unit;   // k
  std::int64_t subgroups_per_fft;
  std::int64_t work_group_size;
};

// The block-transfer cost search of one direction; false (decline) when no
// column count fits the device.
bool plan_direction(const search_inputs& in, direction_plan* out);

// ---------------------------------------------------------------------------
// Private block of a committed record (zero-filled, 64-byte aligned). It owns
// its kernels, events, sub-buffers and internal workspace, never the
// caller's workspace.

template <class T>
struct block {
  char kernel_names[direction_count][name_bytes];
  char factor_names[factor_count][name_bytes];
  sycl::kernel* kernels[direction_count];
  sycl::queue* queue;
  std::int64_t length;
  std::int64_t in_offset[direction_count];
  std::int64_t out_offset[direction_count];
  std::int64_t in_stride[direction_count];
  std::int64_t out_stride[direction_count];
  std::int64_t factors[factor_count];
  std::uint64_t main_slice_bytes;
  std::uint64_t sub_slice_bytes;
  std::int64_t slm_bytes[direction_count];
  std::int64_t subgroup_size;
  std::int64_t subgroups_per_fft[direction_count];
  std::int64_t work_group_size[direction_count];
  std::int64_t batch_count[batch_dim_count];
  std::int64_t io_form[batch_dim_count];
  std::int64_t fwd_distance[batch_dim_count];
  std::int64_t bwd_distance[batch_dim_count];
  std::int64_t in_distance[batch_dim_count];
  std::int64_t out_distance[batch_dim_count];
  std::int64_t columns[direction_count];
  std::int64_t last_columns[direction_count];
  std::int64_t post_twiddle_batch;
  T scale[direction_count];
  byte_buffer* main_buffers[direction_count];
  byte_buffer* sub_buffers[direction_count];
  void* main_pointers[direction_count];
  void* sub_pointers[direction_count];
  std::uint32_t directions;
  void* workspace;
  std::uint32_t workspace_kind;
  sycl::event* table_events[direction_count][table_count];
  void* internal_workspace;
  void* second_internal_workspace;
  std::uint32_t in_order;
};

// Input and output distances of a batch dimension for a direction.
template <class T>
direction_distances distances_for(const block<T>& b, batch_dim dim, direction d) {
  if (b.io_form[dim] != 0) return {b.in_distance[dim], b.out_distance[dim]};
  if (d == dir_forward) return {b.fwd_distance[dim], b.bwd_distance[dim]};
  return {b.bwd_distance[dim], b.fwd_distance[dim]};
}

// block_of<T>; describe<T>, one line describing a plan (tests, diagnostics).
QEZ_DECLARE_BLOCK_ENTRIES()

// ---------------------------------------------------------------------------
// Entry points shared by the backend's files.

// Acceptance, commit and release (commit.cpp).
bool accepts(const DFTI_DESCRIPTOR* record);
QEZ_DECLARE_COMMIT_ENTRIES()

// Program and kernels (kernel_build.cpp).
extern const char* const program_key_double;
extern const char* const program_key_single;
extern const char* const program_family;
template <class T>
void format_names(block<T>* b);
// The build options of one direction (at most 511 characters).
template <class T>
std::string build_options(const block<T>& b, direction d);
// Names the kernels (format_names), then builds them: 0, or 7 when a kernel
// did not come back or its options did not fit.
template <class T>
int build_kernels(block<T>* b);

// Twiddle tables (twiddles.cpp).
template <class T>
sycl::event bkd_write_twiddle_table_on_device(const block<T>& b, table_kind t, direction d);

// Workspace (workspace.cpp).
QEZ_DECLARE_BLOCK_WORKSPACE_ENTRIES()

// Compute entries (compute.cpp).
QEZ_DECLARE_COMPUTE_ENTRIES()

}  // namespace ulmara::qez::dft::n_fact_colbatch
