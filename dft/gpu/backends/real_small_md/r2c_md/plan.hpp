// The composite real backends of rank 2 and 3 (classes dft_r2c_2d_main_gpu_bkd
// and dft_r2c_3d_main_gpu_bkd): batched real-to-complex and complex-to-real
// transforms in the CCE layout, computed by two committed child plans.
//
// - a real child over the inner dimensions: a real 1D child over dimension 0
//   (rank 2) or a real rank-2 child over dimensions 0 and 1 (rank 3);
// - a complex 1D child along the outermost dimension, batched over the
//   N0/2+1 complex columns, the middle dimension (rank 3) and the transforms.
//
// Forward: the real child writes the output, the complex child runs in place
// on it. Backward: the complex child writes an intermediate, the real child
// reads it into the output. Where the intermediate lives is the layout case,
// decided once at commit:
//   0  the input itself (in place, or the input may be destroyed);
//   1  the output array read as complex (real rows padded to 2 x h reals);
//   2  a packed temp, transforms outermost;
//   3  a packed temp, transforms innermost, dimensions reversed;
//   4  a temp with the input's complex layout.
// A child configured alike for both directions is committed once and serves
// both (core/child_sharing.hpp).
#pragma once

#include <cstdint>
#include <memory>

#include <sycl/sycl.hpp>

#include "dft/api/descriptor_record.hpp"
#include "dft/gpu/core/backend_protocol.hpp"
#include "dft/gpu/core/compute_dispatch.hpp"
#include "dft/gpu/core/internal_workspace.hpp"
#include "dft/gpu/core/kernel_arguments.hpp"
#include "dft/gpu/core/plan_basics.hpp"

namespace ulmara::qez::dft::r2c_md {

// Slots of the four child plans; a shared child stands in both slots of its
// pair.
enum child_slot : int {
  forward_real = 0,
  backward_real = 1,
  forward_complex = 2,
  backward_complex = 3,
  child_slot_count = 4
};

// Layout cases of the intermediate. Case 1 (the intermediate in the output
// array read as complex) is never chosen: the last row of the last
// transform would be written 2(N0/2+1) reals wide, one or two reals past
// the last element of the caller's output layout; such layouts take case 2.
enum layout_case : std::int64_t {
  case_in_input = 0,
  case_packed_outermost = 2,
  case_packed_reversed = 3,
  case_complex_layout = 4,
};

// Private block (one layout for both ranks and precisions).
struct block {
  DFTI_DESCRIPTOR* children[child_slot_count] = {};
  sycl::queue* queue = nullptr;
  std::int64_t count = 0;  // number of transforms
  std::int64_t io_distances = 0;
  std::int64_t forward_distance = 0, backward_distance = 0, input_distance = 0, output_distance = 0;
  std::uint64_t temp_size = 0;  // bytes of the intermediate temp
  std::int64_t layout = 0;
  void* usm_temp = nullptr;
  std::unique_ptr<byte_buffer> buffer_temp;
  void* workspace = nullptr;
  std::uint32_t workspace_kind = 0;  // 1 buffer, 2 USM, 0 internal
  device_area internal_persistent;
  device_area internal_scratch;
  std::uint32_t in_order = 0;
  bool forward_committed = false;
  bool backward_committed = false;

  bool temp_in_use() const { return temp_size != 0 && backward_committed; }
};

inline block* block_of(const DFTI_DESCRIPTOR* record) { return static_cast<block*>(record->bkd_data); }

// Strides (innermost first) and distances of one direction's framing.
constexpr int max_rank = 3;
struct framing {
  std::int32_t rank = 0;
  std::int64_t lengths[max_rank] = {};
  std::int64_t real[max_rank] = {};     // R_d
  std::int64_t complex[max_rank] = {};  // C_d
  std::int64_t real_distance = 0;       // Dr
  std::int64_t complex_distance = 0;    // Dc
  std::int64_t count = 0;
  std::int64_t half() const { return lengths[0] / 2 + 1; }
  std::int32_t last() const { return rank - 1; }
};
framing framing_of(const DFTI_DESCRIPTOR* record, const block& b, plan_basics::direction d);

// Strides and distance of the intermediate.
struct intermediate_layout {
  std::int64_t strides[max_rank] = {};
  std::int64_t distance = 0;
};

bool check_r2c_md_layout(const DFTI_DESCRIPTOR* record);
// 0, or 100 for a layout case beyond 4.
int plan_r2c_md_workspace(const DFTI_DESCRIPTOR* record, intermediate_layout* out);

// Children (children.cpp): creates and commits both pairs; 0, a creation or
// naming status, or 100 when no pair is usable.
template <class T, int rank>
int create_children(DFTI_DESCRIPTOR* record);

// Workspace (compute.cpp).
int add_workspace(void* workspace, int kind, std::uint64_t offset, DFTI_DESCRIPTOR* record,
                  std::uint32_t phase, void* events);
void bkd_free_buffers(block* b, std::uint32_t phase);

// Compute entries.
int compute_r2c_md_fwd(DFTI_DESCRIPTOR* record, void* input, void* output, void* dependencies,
                       std::uint64_t* container_kind, void* result_event);
int compute_r2c_2d_bwd(DFTI_DESCRIPTOR* record, void* input, void* output, void* dependencies,
                       std::uint64_t* container_kind, void* result_event);
int compute_r2c_3d_bwd(DFTI_DESCRIPTOR* record, void* input, void* output, void* dependencies,
                       std::uint64_t* container_kind, void* result_event);

// Acceptance, init and release (plan.cpp).
template <int rank>
int acceptance(const DFTI_DESCRIPTOR* record);
template <class T, int rank>
int bkd_init(DFTI_DESCRIPTOR* record);
void bkd_destroy(DFTI_DESCRIPTOR* record);

// The protocol's policy class of one precision and rank.
template <class T, int rank>
struct backend_policy {
  static constexpr commit_policy on_failure = keep_backend_exceptions_as_status;
  static int acceptance(DFTI_DESCRIPTOR* record) { return r2c_md::acceptance<rank>(record); }
  static int init(DFTI_DESCRIPTOR* record) { return bkd_init<T, rank>(record); }
  static void destroy(DFTI_DESCRIPTOR* record) { bkd_destroy(record); }
  static compute_entry forward_entry() { return compute_r2c_md_fwd; }
  static compute_entry backward_entry() { return rank == 2 ? compute_r2c_2d_bwd : compute_r2c_3d_bwd; }
  static std::uint32_t data_arrays(const DFTI_DESCRIPTOR* record) { return data_arrays_of_storage(record); }
};

}  // namespace ulmara::qez::dft::r2c_md
