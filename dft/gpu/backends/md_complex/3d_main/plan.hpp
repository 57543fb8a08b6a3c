// The 3D main backend (dft_c2c_3d_main_gpu_bkd): every three-dimensional
// complex-to-complex descriptor the earlier backends of the multi-dimensional
// lists declined. Strategies, tried in this order inside bkd_init:
//   1. the ESIMD two-factor engine, for packed layouts on Harix and Nopra
//      (esimd_strategy.cpp);
//   2. double only: the fused two-factor kernels for packed 135^3, one
//      OpenCL kernel per dimension and direction (fused_strategy.cpp);
//   3. one pair of 1D child plans per dimension, run X, Y, Z in turn
//      (children.cpp).
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

namespace ulmara::qez::dft::c2c_3d_main {

constexpr int dimensions = 3;

// Child plans, kernels, tables and their events share one slot order:
// forward X, backward X, forward Y, backward Y, forward Z, backward Z.
constexpr int slot_count = 6;
constexpr int slot_of(int dimension, plan_basics::direction d) { return 2 * dimension + static_cast<int>(d); }

// The four strides of a dimension, by role.
using md_complex::stride_role;
using md_complex::forward_input;
using md_complex::backward_input;
using md_complex::forward_output;
using md_complex::backward_output;

// One dimension: its length and strides, and (fused path only) the factors,
// geometry and sizes of its pass kernel.
struct dir_record {
  std::int64_t length = 0;
  std::int64_t fact0 = 0, pad0 = 0, fact1 = 0, pad1 = 0;
  std::int64_t loop_bound = 0;
  std::int64_t batch_per_group = 0, batch_for_last_group = 0;
  std::int64_t work_group_size = 0;
  std::int64_t table_bytes = 0;  // each of the dimension's two tables, rounded
  std::int64_t local_bytes = 0;
  std::int64_t strides[md_complex::stride_role_count] = {};
};

// The private block; T is the real type of the backend's precision.
template <class T>
struct block {
  DFTI_DESCRIPTOR* children[slot_count] = {};
  sycl::queue* queue = nullptr;
  char kernel_names[3 * dimensions][64] = {};  // per dimension: pass kernel, FACT0, FACT1 codelets
  sycl::kernel* kernels[slot_count] = {};
  dir_record dirs[dimensions];
  std::int64_t transforms = 0;
  std::uint64_t io_distances = 0;  // 1: the input/output distances are the ones in use
  std::int64_t forward_distance = 0, backward_distance = 0, input_distance = 0, output_distance = 0;
  bool in_place = false;
  T forward_scale = 1, backward_scale = 1;
  void* tables_usm[slot_count] = {};
  std::unique_ptr<byte_buffer> tables_buffer[slot_count];
  bool fused = false;
  std::uint32_t architecture = 0;
  std::uint64_t subgroup_size = 0;
  void* workspace = nullptr;
  std::uint32_t workspace_kind = 0;  // 1 buffer, 2 USM, 0 none yet or internal
  sycl::event* table_events[slot_count] = {};
  void* esimd_plan = nullptr;  // owned by the ESIMD strategy
  device_area internal_persistent;
  device_area internal_scratch;
  std::uint32_t in_order = 0;
  bool forward_committed = false;  // all three children of the direction committed
  bool backward_committed = false;

  // The distances of the transforms on the input and on the output side.
  std::int64_t distance_in_use(bool input_side) const {
    if (io_distances) return input_side ? input_distance : output_distance;
    return input_side ? forward_distance : backward_distance;
  }
};

template <class T>
block<T>* block_of(const DFTI_DESCRIPTOR* record) {
  return static_cast<block<T>*>(record->bkd_data);
}

// Packed 3D layout with packed transforms: what the ESIMD and fused
// strategies need.
template <class T>
bool packed_layout(const block<T>& b);

// ---- Strategies -----------------------------------------------------------

// ESIMD (esimd_strategy.cpp): true when the engine planned the descriptor
// (plan kept in b.esimd_plan, workspace sizes published).
template <class T>
bool try_esimd_strategy(DFTI_DESCRIPTOR* record, block<T>& b);
template <class T>
int esimd_add_workspace(block<T>& b, void* workspace, int kind, std::uint64_t offset, std::uint32_t phase,
                        void* events);
template <class T>
int esimd_compute(DFTI_DESCRIPTOR* record, block<T>& b, plan_basics::direction d, void* input, void* output,
                  void* dependencies, std::uint64_t* container_kind, void* result_event);
template <class T>
void esimd_follow_queue(block<T>& b);
template <class T>
void destroy_esimd_plan(block<T>& b);

// Fused kernels (fused_strategy.cpp, double only): true when taken.
bool try_fused_strategy(DFTI_DESCRIPTOR* record, block<double>& b);
int write_fused_tables(block<double>& b, void* workspace, int kind, std::uint64_t offset, void* events);
int fused_compute(DFTI_DESCRIPTOR* record, block<double>& b, plan_basics::direction d, void* input, void* output,
                  void* dependencies, std::uint64_t* container_kind, void* result_event);

// Child plans (children.cpp): 0, a creation, naming or commit status, or
// 100 when neither direction has all three children committed.
template <class T>
int plan_children(DFTI_DESCRIPTOR* record, block<T>& b);

// ---- Frame ----------------------------------------------------------------

template <class T>
int acceptance(const DFTI_DESCRIPTOR* record);
template <class T>
int bkd_init(DFTI_DESCRIPTOR* record);
template <class T>
void bkd_destroy(DFTI_DESCRIPTOR* record);
template <class T>
void bkd_free_buffers(block<T>* b, std::uint32_t phase);
template <class T>
int add_workspace(void* workspace, int kind, std::uint64_t offset, DFTI_DESCRIPTOR* record,
                  std::uint32_t phase, void* events);
QEZ_DECLARE_NAMED_COMPUTE_ENTRIES(compute_3d_fwd, compute_3d_bwd)

QEZ_DEFINE_BACKEND_POLICY(keep_backend_exceptions_as_status, c2c_3d_main::acceptance<T>, bkd_init<T>,
                          bkd_destroy<T>, compute_3d_fwd<T>, compute_3d_bwd<T>, data_arrays_of_storage)

}  // namespace ulmara::qez::dft::c2c_3d_main
