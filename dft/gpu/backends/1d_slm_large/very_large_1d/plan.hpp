// The very large one-dimensional backend (dft_c2c_very_large_1d_gpu_bkd),
// single precision only: complex transforms of 2^25, 2^26, 2^27 and
// 134,400,000 points, and real transforms of twice those lengths, on Gulon
// GPUs. It runs no butterflies of its own: the complex length splits into
// N = F0 x F1 x F2 and three stages of committed child plans perform a
// four-step transform through an intermediate matrix T kept in the
// workspace (F1 x F2 rows of LD = F0 + pad complex values):
//   stage 0: length F0 over the rows of the input, post-twiddled, into T;
//   stage 1: length F1 in place on T, post-twiddled;
//   stage 2: length F2 from T into the natural-order output.
// Real transforms run the complex plan on half the length and add one
// post-processing (forward) or pre-processing (backward) kernel.
//
// This header holds the pure planning (factor table, child layouts), the
// private block and the entry points the backend's files share.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include <sycl/sycl.hpp>

#include "dft/api/descriptor_record.hpp"
#include "dft/gpu/core/backend.hpp"
#include "dft/gpu/core/kernel_arguments.hpp"
#include "dft/gpu/core/layout_helpers.hpp"
#include "dft/gpu/core/plan_basics.hpp"

namespace ulmara::qez::dft::very_large_1d {

using namespace plan_basics;

constexpr int stage_count = 3;
constexpr int children_per_stage = 2;
constexpr int child_slot_count = stage_count * children_per_stage;
inline int child_slot(int stage, int child) { return stage * children_per_stage + child; }

constexpr std::int64_t complex_bytes = 8;  // one single-precision complex value
constexpr std::size_t child_name_bytes = 10;

// ---------------------------------------------------------------------------
// Pure planning (no device, no record).

// One row of the factor table, by complex length M.
struct factor_row {
  std::int64_t complex_length;
  std::int64_t f[stage_count];
};

// The row of a complex length; null when the length has none.
const factor_row* find_factor_row(std::int64_t complex_length);
// Every row, in table order.
const std::vector<factor_row>& factor_rows();

// Extra complex values per row of T: F0 mod 2, plus 8 for a power of two.
std::int64_t row_padding(const factor_row& row);
// Bytes of T: LD x F1 x F2 complex values.
std::uint64_t intermediate_bytes_of(const factor_row& row);

// The descriptor length f x M the backend takes (f = 2 real, 1 complex).
bool is_planned_length(std::int64_t length, bool real);

// One child plan as the stage table lays it out; strides, distances and
// offsets in complex values of T or of the caller's data.
struct child_layout {
  std::int64_t length;
  std::int64_t input_stride;
  std::int64_t output_stride;
  dim_record batch[2];  // {count, input distance, output distance, 0, 0}
  std::uint32_t placement;
  std::int64_t post_twiddle_batch;  // 0: none
  std::int64_t input_offset;
  std::int64_t output_offset;
};
// Stage 0..2, child 0 or 1 (child 1 of stage 2 writes one value further on).
child_layout stage_child_layout(const factor_row& row, std::int64_t padding, int stage, int child);

// The label of a stage's children ("1DL|1st", "1DL|1th", "1DL|2th").
std::string stage_child_name(int stage);

// Distances of one direction in complex values: the input side (halved for
// a real forward transform) and the output side (halved for a real
// backward transform).
struct transform_distances {
  std::int64_t input;
  std::int64_t output;
};
transform_distances distances_for(const batch_layout_row& batch, bool real, direction d);

// ---------------------------------------------------------------------------
// Private block of a committed record (zero-filled, 64-byte aligned). It owns
// its children, kernels, internal areas and sub-buffer views, never the
// caller's workspace.

enum real_kernel_slot : int { post_processing = 0, pre_processing = 1, real_kernel_count = 2 };

struct block {
  DFTI_DESCRIPTOR* children[child_slot_count];  // stage 0 {first, second}, stage 1 ..., stage 2 ...
  sycl::queue* queue;
  std::int64_t length;  // N (real length in the real domain)
  std::int64_t factors[stage_count];
  std::uint8_t real;
  batch_layout_row batch;
  float scales[direction_count];
  std::uint32_t directions;
  std::int64_t pad;
  void* workspace;
  std::uint32_t workspace_kind;
  void* intermediate_pointer;
  byte_buffer* intermediate_buffer;
  std::uint64_t intermediate_bytes;
  void* internal_first;   // children's workspaces (internal mode)
  void* internal_second;  // T (internal mode)
  sycl::kernel* real_kernels[real_kernel_count];

  std::int64_t complex_length() const { return real ? length / 2 : length; }
  std::int64_t leading_dimension() const { return factors[0] + pad; }
};

inline block* block_of(const DFTI_DESCRIPTOR* record) { return static_cast<block*>(record->bkd_data); }

// One line describing a plan (tests and diagnostics).
std::string describe(const block& b);

// ---------------------------------------------------------------------------
// Entry points shared by the backend's files.

// Acceptance, init and release, run through the backend protocol (plan.cpp).
bool accepts(const DFTI_DESCRIPTOR* record);
int bkd_init(DFTI_DESCRIPTOR* record);
void bkd_free_on_failure(DFTI_DESCRIPTOR* record);

// Children (children.cpp): creates, names and commits every stage's
// children and sums their first workspaces into the record.
int create_children(DFTI_DESCRIPTOR* record, const factor_row& row);
// Number of stage-2 children the block's batch layout needs (1 or 2).
int stage_2_child_count(const block& b);

// Real-domain program (real_kernels.cpp).
extern const char post_processing_program_name[];
extern const char pre_processing_program_name[];
constexpr std::size_t options_bytes = 512;
// Build options of one direction's kernel (the complex-side distance of the
// batch in force).
std::string real_kernel_options(const batch_layout_row& batch, direction d);
std::string real_kernel_name(direction d);
// Builds (or finds) one direction's kernel into `slot`; exceptions of the
// build pass through.
int build_real_kernel(sycl::queue* queue, const batch_layout_row& batch, direction d, sycl::kernel*& slot);
// Builds the kernels of the prepared directions into the block.
int build_kernels(block* b);
// One launch of a real-domain kernel over `rows` transforms of N real points:
// reads `source`, writes `target` (the same object in place), both of
// container kind `kind`; USM launches wait for `dependencies`.
sycl::event submit_real_kernel(sycl::queue& queue, sycl::kernel& kernel, void* source, void* target,
                               std::int64_t kind, std::int64_t rows, std::int64_t length,
                               const std::vector<sycl::event>* dependencies);

// Workspace (workspace.cpp).
int add_workspace(void* workspace, int kind, std::uint64_t offset, DFTI_DESCRIPTOR* record,
                  std::uint32_t part, void* events);
int create_and_initialize_internal_workspaces(DFTI_DESCRIPTOR* record);
void bkd_free_buffers(block* b, std::uint32_t part);

// Compute entries (compute.cpp).
int compute_1d_fwd(DFTI_DESCRIPTOR* record, void* input, void* output, void* dependencies,
                   std::uint64_t* container_kind, void* result_event);
int compute_1d_bwd(DFTI_DESCRIPTOR* record, void* input, void* output, void* dependencies,
                   std::uint64_t* container_kind, void* result_event);

}  // namespace ulmara::qez::dft::very_large_1d
