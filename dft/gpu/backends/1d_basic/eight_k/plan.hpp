// The 8192-point one-dimensional complex backend (class
// dft_c2c_8k_2_facts_gpu_bkd): 8192 = N0 x N1 = 128 x 64 in two kernel passes
// (four-step scheme), 128 = 16 x 8 and 64 = 8 x 8 inside the passes, three
// twiddle tables per direction and a scratch area between the passes.
//
// This header holds the constants of the factorisation, the private block
// that a committed record carries, and the entry points the backend's files
// share.
#pragma once

#include <cstddef>
#include <cstdint>
#include <type_traits>

#include <sycl/sycl.hpp>

#include "dft/api/descriptor_record.hpp"
#include "dft/gpu/core/backend.hpp"
#include "dft/gpu/core/compute_dispatch.hpp"
#include "dft/gpu/core/plan_basics.hpp"

namespace ulmara::qez::dft::eight_k {

using namespace plan_basics;

// ---------------------------------------------------------------------------
// Factorisation and geometry (both precisions).

constexpr std::int64_t transform_length = 8192;
constexpr std::int64_t n0 = 128, n0_fact0 = 16, n0_fact1 = 8;
constexpr std::int64_t n1 = 64, n1_fact0 = 8, n1_fact1 = 8;
constexpr std::int64_t subgroup_size = 8;
constexpr std::int64_t cols_per_wg = 4;
constexpr std::int64_t work_group_size = 64;
static_assert(n0 * n1 == transform_length, "8192 = N0 x N1");
static_assert(n0 == n0_fact0 * n0_fact1 && n1 == n1_fact0 * n1_fact1, "factors of the passes");

// The two kernel passes.
enum pass : int { pass_columns = 0, pass_rows = 1 };
constexpr int pass_count = 2;
// Work-items per transform: 16 groups of 4 columns, 32 groups of 4 frequencies.
constexpr std::int64_t items_per_transform[pass_count] = {n1 / cols_per_wg * work_group_size,
                                                          n0 / cols_per_wg * work_group_size};

// The three table classes, in the order of their areas within a direction.
enum table_class : int {
  table_n0 = 0,     // class 1: inside pass 1, between 16 and 8 (`twidl_N0`)
  table_n1 = 1,     // class 2: inside pass 2, between 8 and 8 (`twidl_N1`)
  table_inter = 2,  // class 3: between the passes, scaled (`twidl`)
};
constexpr int table_class_count = 3;

// Kernel slot of a pass and direction.
inline int kernel_slot(pass p, direction d) { return 2 * p + d; }

// The six names the build formats.
enum name_slot : int {
  name_pass_columns = 0,
  name_n0_fact0,
  name_n0_fact1,
  name_pass_rows,
  name_n1_fact0,
  name_n1_fact1,
  name_slot_count
};
constexpr std::size_t kernel_name_bytes = 64;

// Twiddle-table and scratch bytes before padding.
template <class T>
constexpr std::uint64_t table_bytes(table_class c) {
  constexpr std::uint64_t entry_bytes = 4 * sizeof(T);  // (c, c, v, -v)
  return entry_bytes * static_cast<std::uint64_t>(c == table_n0   ? n0_fact0 * n0_fact1
                                                  : c == table_n1 ? n1_fact0 * n1_fact1
                                                                  : transform_length);
}
template <class T>
constexpr std::int64_t slm_bytes(pass p) {
  return cols_per_wg * 2 * (p == pass_columns ? n0 : n1) * static_cast<std::int64_t>(sizeof(T));
}
template <class T>
constexpr std::uint64_t scratch_bytes(std::int64_t count) {
  return static_cast<std::uint64_t>(transform_length) * static_cast<std::uint64_t>(count) * 2 *
         sizeof(T);
}

// Largest scratch area on an architecture: Harix (6) and Nopra (9) allow
// 16 GiB, every other one 44,040,192 bytes (336 double / 672 float transforms).
constexpr std::uint32_t arch_harix = 6, arch_nopra = 9;
inline std::uint64_t scratch_limit(std::uint32_t architecture) {
  return architecture == arch_harix || architecture == arch_nopra ? 0x400000000ull : 0x2a00000ull;
}

// ---------------------------------------------------------------------------
// Private block of a committed record (allocated zero-filled, 64-byte
// aligned). It owns its kernel objects, event objects, sub-buffers and the
// two internal USM areas, never the caller's workspace.

template <class T>
struct block {
  char kernel_names[name_slot_count][kernel_name_bytes];
  sycl::kernel* kernels[pass_count * direction_count];  // kernel_slot(pass, direction)
  sycl::queue* queue;
  std::int64_t length;
  std::int64_t n0, n0_fact0, n0_fact1, n1, n1_fact0, n1_fact1;
  std::int64_t work_group_size;
  std::int64_t items_per_transform[pass_count];
  std::int64_t slm_bytes[pass_count];
  std::int64_t subgroup_size;
  std::int64_t cols_per_wg;
  std::uint64_t padded_table_bytes[table_class_count];  // by table_class
  std::uint64_t padded_scratch_bytes;
  std::int64_t count;
  std::int64_t io_distances;
  std::int64_t fwd_distance, bwd_distance, in_distance, out_distance;
  std::uint64_t in_place;
  T fwd_scale, bwd_scale;
  void* scratch;                                        // USM pointer or byte_buffer*
  void* tables[table_class_count][direction_count];     // USM pointers or byte_buffer*
  std::uint32_t architecture;
  std::uint32_t directions;
  void* workspace;
  std::uint32_t workspace_kind;  // workspace_internal marks the internal workspace (USM views)
  sycl::event* table_events[table_class_count][direction_count];
  void* internal_twiddles;
  void* internal_scratch;
  std::uint32_t in_order;
  // The kind each part's views were made with: views are released by that
  // kind, whatever the next workspace is.
  std::uint32_t twiddle_views_kind;
  std::uint32_t scratch_view_kind;
  // The last pass of the latest compute on a USM scratch area: the next
  // compute's first pass writes that area and must wait for it.
  sycl::event* last_compute;
};

template <class T>
block<T>* block_of(const DFTI_DESCRIPTOR* record) {
  return static_cast<block<T>*>(record->bkd_data);
}

// ---------------------------------------------------------------------------
// Entry points shared by the backend's files.

// Init, run through the backend protocol (plan.cpp).
QEZ_DECLARE_COMMIT_ENTRIES()
// The record's shape is one this backend serves (no side effects).
bool accepts(const DFTI_DESCRIPTOR* record);

// Workspace (workspace.cpp).
QEZ_DECLARE_BLOCK_WORKSPACE_ENTRIES()

// Twiddle tables (twiddles.cpp).
template <class T>
int bkd_write_twiddle_table_on_device(block<T>* b);

// Kernels (kernel_build.cpp).
template <class T>
int build_kernels(block<T>* b);

// Compute entries (compute.cpp).
QEZ_DECLARE_COMPUTE_ENTRIES()

}  // namespace ulmara::qez::dft::eight_k
