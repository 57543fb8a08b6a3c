// The large one-dimensional backend (class dft_c2c_large_1d_gpu_bkd):
// power-of-two transforms of 2^21 to 2^26 points on Harix GPUs, as a
// four-step transform N = n_large x n_small through a workspace matrix:
//   1. transpose: the input, times the direction's scale, into n_small rows
//      of pitch L (row r holds input elements r, r + n_small, ...);
//   2. row child: the n_large-point transforms of the rows, in place, each
//      element k of row r times exp(-+2 pi i r k / N) (the pre-twiddle
//      backend, bound through its one-entry list);
//   3. column child: the n_small-point transforms of the n_large columns,
//      from the matrix into the output in natural order (ordinary list).
// Each transform of a batch runs the three steps in turn through the same
// matrix.
#pragma once

#include <cstdint>
#include <string>

#include <sycl/sycl.hpp>

#include "dft/api/descriptor_record.hpp"
#include "dft/gpu/core/backend.hpp"
#include "dft/gpu/core/compute_dispatch.hpp"
#include "dft/gpu/core/kernel_arguments.hpp"
#include "dft/gpu/core/layout_helpers.hpp"
#include "dft/gpu/core/plan_basics.hpp"

namespace ulmara::qez::dft::large_1d {

using namespace plan_basics;

// Lengths the backend takes: 2^21 .. 2^26.
constexpr std::int64_t shortest_length = std::int64_t{1} << 21;
constexpr std::int64_t longest_length = std::int64_t{1} << 26;
// Both factors stay at or below this.
constexpr std::int64_t largest_factor = 8192;
// Beyond this no split search is run at all (8192 x 8193 - 1).
constexpr std::int64_t longest_searched_length = 0x4001FFF;

// ---------------------------------------------------------------------------
// Planning (pure: no device, no record).

struct split {
  std::int64_t n_large;
  std::int64_t n_small;
};

// The factor pair of N: the least |N1 - N2| (N1 + N2) among N1 x N2 = N with
// both factors in [2, 8192] (float: the larger factor even), searching N1
// upwards from N / 8192 and stopping once a pair was found and N1 reaches
// 1025 (double) or 2049 (float). False when no pair exists.
bool find_split(std::int64_t length, bool double_precision, split* out);

// Bytes appended to every matrix row (the same in both precisions).
std::int64_t row_pad_bytes_of(std::int64_t length);

// One transform's matrix fits the chunk rule: with two or more transforms,
// M must be a multiple of the base alignment A (float: of 16 too).
bool matrix_chunks_by_one(std::uint64_t matrix_bytes, std::uint64_t alignment_bytes, std::int64_t howmany,
                          bool double_precision);

// ---------------------------------------------------------------------------
// Private block of a committed record (zero-filled, 64-byte aligned). It
// owns its children, views, kernel and internal allocations, never the
// caller's workspace.

template <class T>
struct block {
  DFTI_DESCRIPTOR* col_child;
  DFTI_DESCRIPTOR* col_tail_child;  // never made: chunks are one transform
  DFTI_DESCRIPTOR* row_child;
  DFTI_DESCRIPTOR* row_tail_child;  // never made
  sycl::queue* queue;
  std::int64_t length;
  std::int64_t n_large;
  std::int64_t n_small;
  std::uint64_t matrix_bytes;
  std::int64_t distance;
  std::int64_t row_pad_bytes;
  std::uint64_t padded_matrix_bytes;
  batch_layout_row batch;
  std::int64_t chunk_transforms;
  std::int64_t tail_transforms;
  std::int64_t chunk_bytes;
  std::int64_t tail_chunk_bytes;
  std::int64_t chunk_count;
  T fwd_scale, bwd_scale;
  sycl::kernel* matcopy_kernel;
  void* ws_usm;
  byte_buffer* ws_buffer;
  std::uint32_t workspace_kind;
  std::int64_t matrix_in_first_part;
  void* internal_first;
  void* internal_second;
  // The last submission of the latest compute: the next compute's first
  // transpose waits for it, as both use the one matrix.
  sycl::event* last_compute;
};

// The matrix row pitch L in elements.
template <class T>
std::int64_t row_pitch(const block<T>& b) {
  return b.n_large + b.row_pad_bytes / complex_bytes<T>();
}

// block_of<T>; describe<T>, one line describing a plan (tests, diagnostics).
QEZ_DECLARE_BLOCK_ENTRIES()

// ---------------------------------------------------------------------------
// Entry points shared by the backend's files.

// Acceptance, commit and release (plan.cpp).
template <class T>
bool accepts(const DFTI_DESCRIPTOR* record);
QEZ_DECLARE_COMMIT_ENTRIES()

// Children (children.cpp): 0, or the status of the step that failed (a
// child no backend takes gives 100).
template <class T>
int create_column_child(DFTI_DESCRIPTOR* record, int tail);
template <class T>
int create_row_child(DFTI_DESCRIPTOR* record, int tail);

// Workspace (workspace.cpp).
QEZ_DECLARE_BLOCK_WORKSPACE_ENTRIES()

// Transpose kernel and compute entries (compute.cpp).
template <class T>
int build_kernels(block<T>* b);
QEZ_DECLARE_COMPUTE_ENTRIES()

}  // namespace ulmara::qez::dft::large_1d
