// The small multi-dimensional backend (dft_small_md_gpu_bkd): one- and
// two-dimensional transforms, complex or real, whose rows fit whole in
// shared local memory, each run as one kernel in which a work-group takes
// BATCH_PER_GROUP complete transforms.
//
// Files: plan.cpp (acceptance, bkd_init, factorisation,
// candidate configurations and their ranking, table sizing, destroy),
// kernel_build.cpp (kernel names and the build options),
// twiddles.cpp (add_workspace and the table writers), compute.cpp.
#pragma once

#include <cstdint>
#include <type_traits>

#include <sycl/sycl.hpp>

#include "dft/api/descriptor_record.hpp"
#include "dft/gpu/core/backend_protocol.hpp"
#include "dft/gpu/core/compute_dispatch.hpp"
#include "dft/gpu/core/internal_workspace.hpp"
#include "dft/gpu/core/plan_basics.hpp"
#include "dft/gpu/core/kernel_arguments.hpp"

namespace ulmara::qez::dft::small_md {

using plan_basics::is_double;

constexpr std::int64_t max_radix = 64;

// One candidate kernel configuration, copied by value.
struct small_md_kernel_config {
  std::int64_t rank = 1;
  std::uint8_t real = 0;
  std::int64_t input_distance[2] = {};     // per direction
  std::int64_t output_distance[2] = {};    // per direction
  std::int64_t input_strides[2][2] = {};   // [direction][dimension]
  std::int64_t output_strides[2][2] = {};  // [direction][dimension]
  double scales[2] = {1.0, 1.0};
  std::uint8_t direction_enabled[2] = {};
  std::int64_t sub_group_size = 0;
  std::int64_t threads_per_group = 0;  // sub-groups per work-group
  std::int64_t slm_bytes = 0;
  std::uint8_t large_grf = 0;
  std::int64_t batch_per_group = 1;
  std::int64_t batch_for_last_group = 1;
  std::int64_t factors[2][4] = {{1, 1, 1, 1}, {1, 1, 1, 1}};
  std::int64_t factor_counts[2] = {1, 1};
};

// Device geometry the ranking uses.
struct device_geometry {
  std::int64_t largest_sub_group_size = 0;
  std::int64_t max_work_group_size = 0;
  std::int64_t local_memory_bytes = 0;
  std::int64_t threads_per_eu = 0;
  std::int64_t threads_per_sub_slice = 0;
  std::int64_t sub_slice_count = 0;
};

// A table slot of the private block.
struct factor_table_record {
  std::uint64_t size = 0;
  void* container = nullptr;  // byte_buffer* (kind 1) or USM pointer (kind 2)
  std::uint32_t kind = 0;
  sycl::event* event = nullptr;
};

enum table_slot : int {
  slot_main_forward = 0,
  slot_main_backward = 1,
  slot_second_factor = 2,
  slot_third_factor = 3,
  slot_real_factors = 4,
  slot_dim1 = 5,
  slot_count = 6
};

// Private block of a committed record.
struct block {
  char kernel_name[64] = {};
  char butterfly_names[2][4][64] = {};
  sycl::kernel* kernels[2] = {nullptr, nullptr};  // forward, backward
  sycl::queue* queue = nullptr;
  device_geometry geometry;
  std::uint32_t backend_kind = 0;
  std::int64_t rank = 1;
  std::int64_t lengths[2] = {1, 1};
  std::int64_t fwd_in_strides[2] = {}, bwd_in_strides[2] = {};
  std::int64_t fwd_out_strides[2] = {}, bwd_out_strides[2] = {};
  double scales[2] = {1.0, 1.0};
  std::uint8_t real = 0;
  std::uint8_t in_place = 0;
  std::uint32_t directions = 2;
  std::int64_t transforms = 1;
  std::int64_t io_distances = 0;
  std::int64_t forward_distance = 0, backward_distance = 0, input_distance = 0, output_distance = 0;
  std::uint8_t forward_usable = 1, backward_usable = 1;
  small_md_kernel_config config;
  void* workspace = nullptr;
  std::uint32_t workspace_kind = 0;
  factor_table_record* tables[slot_count] = {};
  device_area internal_persistent;
  device_area internal_scratch;
  std::uint32_t in_order = 0;
  std::uint32_t base_addr_align_bytes = 0;
  std::uint64_t complex_bytes = 16;  // 16 double, 8 single
};

inline block* block_of(const DFTI_DESCRIPTOR* r) { return static_cast<block*>(r->bkd_data); }

// ---------------------------------------------------------------------------
// Planning (plan.cpp).
int acceptance(const DFTI_DESCRIPTOR* record);
template <class T>
int bkd_init(DFTI_DESCRIPTOR* record);
void bkd_destroy(DFTI_DESCRIPTOR* record);
int factorize_length(std::int64_t count, std::int64_t length, std::int64_t* out);
template <class T>
int select_group_geometry(small_md_kernel_config& config, std::int64_t transforms,
                          const device_geometry& geometry);
template <class T>
bool compare_kernel_configs(const small_md_kernel_config& a, const small_md_kernel_config& b,
                            std::int64_t transforms, const device_geometry& geometry);
template <class T>
std::int64_t kernel_config_cost(const small_md_kernel_config& config);
template <class T>
std::int64_t first_stage_work(const small_md_kernel_config& config);
int plan_factor_tables(block* block);
int create_factor_table_record(block* block, std::uint64_t bytes, int slot);

// Complex length of dimension 0 (N0/2 for real data) and length of dimension 1.
inline std::int64_t c2c_length(const small_md_kernel_config& c) {
  return c.factors[0][0] * c.factors[0][1] * c.factors[0][2] * c.factors[0][3];
}
inline std::int64_t dim1_length(const small_md_kernel_config& c) { return c.factors[1][0] * c.factors[1][1]; }

// ---------------------------------------------------------------------------
// Program and options (kernel_build.cpp).
// Per-direction option values that the SLM estimate of planning also uses.
struct row_values {
  std::int64_t input_fp_per_row_min, input_fp_per_row, row_idist_fp, row_odist_slm_fp, fp_out_per_fft;
};
row_values direction_row_values(const small_md_kernel_config& c, int d, bool double_precision);
template <class T>
bool input_copied_in_slm(const small_md_kernel_config& c, int direction);
bool use_load_row_by_row(const small_md_kernel_config& c, int direction);
std::int64_t row_input_distance_fp(const small_md_kernel_config& c, int direction, bool double_precision);
// The option string of one direction; 0, or 7 when it does not fit.
int format_small_md_options(const block& b, int direction, bool double_precision, char* out,
                            std::size_t bytes);
void format_small_md_names(block& b, bool double_precision);
template <class T>
int build_small_md_kernel(block* block);
const char* small_md_program_name(bool double_precision);

// ---------------------------------------------------------------------------
// Factor tables (twiddles.cpp).
template <class T>
int add_workspace(void* workspace, int kind, std::uint64_t offset, DFTI_DESCRIPTOR* record,
                  std::uint32_t phase, void* events);
void bkd_free_buffers(block* block, std::uint32_t phase);
// Exact bytes of a slot's table for the chosen configuration (0: none).
std::uint64_t exact_table_bytes(const block& b, int slot, std::uint64_t complex_bytes);

// ---------------------------------------------------------------------------
// Compute (compute.cpp).
template <class T>
int compute_md_fwd(DFTI_DESCRIPTOR* record, void* input, void* output, void* dependencies,
                   std::uint64_t* container_kind, void* result_event);
template <class T>
int compute_md_bwd(DFTI_DESCRIPTOR* record, void* input, void* output, void* dependencies,
                   std::uint64_t* container_kind, void* result_event);

QEZ_DEFINE_BACKEND_POLICY(keep_backend_exceptions_as_status, small_md::acceptance, bkd_init<T>, bkd_destroy,
                          compute_md_fwd<T>, compute_md_bwd<T>, data_arrays_of_storage)

}  // namespace ulmara::qez::dft::small_md
