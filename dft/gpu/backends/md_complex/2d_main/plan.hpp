// The 2D main backend (dft_c2c_2d_main_gpu_bkd): batched two-dimensional
// complex transforms. bkd_init tries its strategies in order and keeps the
// first that fits:
//   1. ESIMD: the two-factor ESIMD plan (esimd_strategy.cpp);
//   2. transposes (single precision, dense 16384 x 16384, one transform,
//      Harix): a 1D child over the rows, a transpose into a temporary, a
//      1D child over the rows of the temporary, a transpose back;
//   3. fused: dense 192 x 192 or 128 x 128 with sub-group size 8, one
//      two-factor kernel per dimension with twiddle tables in the workspace;
//   4. children: a row pass and an in-place column pass of 1D child plans per
//      direction (one 2D transform at a time for dense 2048 and 4096 squares
//      with several transforms on Harix: the batched layout).
// Dimension 0 is the innermost (row length N0), dimension 1 the outer (N1).
//
// Files: commit.cpp (acceptance, bkd_init, release, tables),
// children.cpp, fused_strategy.cpp, fused_tables.cpp, transposes_strategy.cpp,
// esimd_strategy.cpp, workspace.cpp (add_workspace), compute.cpp.
#pragma once

#include <cstdint>
#include <memory>

#include <sycl/sycl.hpp>

#include "dft/api/descriptor_record.hpp"
#include "dft/gpu/backends/md_complex/md_common.hpp"
#include "dft/gpu/core/backend_protocol.hpp"
#include "dft/gpu/core/compute_dispatch.hpp"
#include "dft/gpu/core/internal_workspace.hpp"
#include "dft/gpu/core/kernel_arguments.hpp"
#include "dft/gpu/core/plan_basics.hpp"

namespace ulmara::qez::dft::c2c_2d_main {

// Strides of one dimension, by side of the transform.
enum stride_side : int {
  fwd_input = md_complex::forward_input,
  bwd_input = md_complex::backward_input,
  fwd_output = md_complex::forward_output,
  bwd_output = md_complex::backward_output,
  side_count = md_complex::stride_role_count
};

// Per-dimension plan of the fused strategy (lengths and strides for all).
struct dim_plan {
  std::int64_t length = 0;
  std::int64_t fact0 = 0;  // larger factor of the two-factor split
  std::int64_t pad0 = 0;   // padding of fact0 to a multiple of 4
  std::int64_t fact1 = 0;  // smaller factor
  std::int64_t pad1 = 0;
  std::int64_t fact1_loop_bound = 0;
  std::int64_t batch_per_group = 0;
  std::int64_t batch_for_last_group = 0;
  std::int64_t work_group_size = 0;
  std::int64_t twiddle_bytes = 0;  // each of the dimension's two tables
  std::int64_t local_bytes = 0;
  std::int64_t strides[side_count] = {};
};

// Geometry of one transpose of the transposes strategy.
struct transpose_geometry {
  std::int64_t num_rows = 0;
  std::int64_t num_cols = 0;
  std::int64_t work_group_size = 0;
  std::int64_t local_bytes = 0;
  std::int64_t row_groups = 0;  // num_rows / (vw x sg / 2)
  std::int64_t col_items = 0;   // 2 x num_cols / vr
  std::int64_t vector_read = 0;   // vr
  std::int64_t vector_write = 0;  // vw
};

// The four twiddle tables of the fused strategy, in workspace order.
enum table_slot : int { row_table_fwd = 0, row_table_bwd = 1, col_table_a = 2, col_table_b = 3, table_count = 4 };
// The four fused kernels.
enum kernel_slot : int { row_kernel_fwd = 0, row_kernel_bwd = 1, col_kernel_fwd = 2, col_kernel_bwd = 3 };
// Distances of the batched layout, in bytes.
enum byte_distance : int { fwd_in_bytes = 0, bwd_in_bytes = 1, fwd_out_bytes = 2, bwd_out_bytes = 3 };

constexpr std::size_t name_bytes = 64;

// Private block of a committed record (one layout for both precisions; the
// scales are held rounded to the transform's precision).
struct block {
  DFTI_DESCRIPTOR* row_plan_fwd = nullptr;
  DFTI_DESCRIPTOR* row_plan_bwd = nullptr;
  DFTI_DESCRIPTOR* col_plan_fwd = nullptr;
  DFTI_DESCRIPTOR* col_plan_bwd = nullptr;
  sycl::queue* queue = nullptr;
  std::int64_t transforms = 0;
  std::int64_t io_distances = 0;
  std::int64_t fwd_distance = 0, bwd_distance = 0, in_distance = 0, out_distance = 0;
  char row_kernel_name[name_bytes] = {};
  char row_fact0_func[name_bytes] = {};
  char row_fact1_func[name_bytes] = {};
  char col_kernel_name[name_bytes] = {};
  char col_fact0_func[name_bytes] = {};
  char col_fact1_func[name_bytes] = {};
  sycl::kernel* kernels[4] = {};
  dim_plan dims[2];
  std::int64_t in_place = 0;
  std::uint8_t batched_layout = 0;
  std::int64_t byte_distances[4] = {};
  double scales[2] = {1.0, 1.0};
  void* tables_usm[table_count] = {};
  std::unique_ptr<byte_buffer> tables_buf[table_count];
  void* temp_usm = nullptr;
  std::unique_ptr<byte_buffer> temp_buf;
  std::uint8_t fused = 0;
  std::uint32_t architecture = 0;
  std::int64_t subgroup_size = 0;
  void* esimd_plan = nullptr;  // owned through esimd_strategy.hpp
  void* workspace = nullptr;
  std::uint32_t workspace_kind = 0;  // 1 buffer, 2 USM, 0 internal
  sycl::event* table_events[table_count] = {};
  std::uint8_t transposes = 0;
  std::int64_t temp_bytes = 0;
  sycl::kernel* transpose_kernels[2] = {};
  transpose_geometry transpose_pass[2];
  std::int64_t temp_in_part0 = 0;
  device_area internal_workspace[2];
  std::uint32_t in_order = 0;
  // Precision of the backend instance.
  std::uint8_t double_precision = 0;
  std::int64_t element_bytes = 16;
  // Which direction pairs of child plans were committed (children strategy).
  std::uint8_t forward_pair = 0;
  std::uint8_t backward_pair = 0;
};

inline block* block_of(const DFTI_DESCRIPTOR* r) { return static_cast<block*>(r->bkd_data); }

// ---------------------------------------------------------------------------
// Planning.
int acceptance(const DFTI_DESCRIPTOR* record);
template <class T>
int bkd_init(DFTI_DESCRIPTOR* record);
void bkd_destroy(DFTI_DESCRIPTOR* record);
void bkd_free_buffers(block* block, std::uint32_t phase);

// Children strategy (children.cpp); 0, a child's status, or 100.
template <class T>
int plan_children(block& b, DFTI_DESCRIPTOR* record, bool dense);
// The children whose workspace the parent carries, each once, in order.
int counted_children(const block& b, DFTI_DESCRIPTOR* out[4]);
// Releases every child of the block (a shared child once).
void release_children(block& b);

// Fused strategy (fused_strategy.cpp): true when taken.
template <class T>
bool try_fused_strategy(block& b, DFTI_DESCRIPTOR* record);
// The row (dimension 0) and column (dimension 1) plans of a length; false
// when the line does not fit the kernels. Byte sizes are not rounded.
bool plan_row_dimension(dim_plan& d, std::int64_t element_bytes);
bool plan_column_dimension(dim_plan& d, std::int64_t element_bytes);
// The fused option string of one direction; false when it does not fit.
bool format_fused_options(const block& b, plan_basics::direction d, char* out, std::size_t bytes);

// Twiddle tables of the fused strategy (fused_tables.cpp): the four
// submissions from the block's table slots; 11 when a slot is missing.
int bkd_write_twiddle_table_on_device(block& b);

// Transposes strategy (transposes_strategy.cpp): true when taken.
bool try_transposes_strategy(block& b, DFTI_DESCRIPTOR* record);
// Vector widths and sizes of one transpose from the device's local memory,
// largest sub-group size and work-group size; false when the geometry does
// not divide the matrix.
bool plan_transpose(transpose_geometry& g, std::int64_t local_memory, std::int64_t sub_group,
                    std::int64_t work_group);
// Kernel name and options of a planned transpose; false when they do not fit.
bool format_transpose_names(const transpose_geometry& g, std::int64_t sub_group, char* kernel_name,
                            std::size_t name_size, char* options, std::size_t options_size);
// Program names of the two transposes and the program family they share.
const char* transpose_program_name(int pass);
extern const char* const transpose_family;

// ---------------------------------------------------------------------------
// Workspace (workspace.cpp).
template <class T>
int add_workspace(void* workspace, int kind, std::uint64_t offset, DFTI_DESCRIPTOR* record,
                  std::uint32_t phase, void* events);

// ---------------------------------------------------------------------------
// Compute (compute.cpp).
QEZ_DECLARE_NAMED_COMPUTE_ENTRIES(compute_2d_fwd, compute_2d_bwd)

QEZ_DEFINE_BACKEND_POLICY(keep_backend_exceptions_as_status, c2c_2d_main::acceptance, bkd_init<T>, bkd_destroy,
                          compute_2d_fwd<T>, compute_2d_bwd<T>, data_arrays_of_storage)

}  // namespace ulmara::qez::dft::c2c_2d_main
