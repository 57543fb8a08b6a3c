// The padded 3D backend (dft_c2c_3d_padded_gpu_bkd): cubic 512^3 and
// 1024^3 complex transforms on Harix by three 1D child plans and a padded
// temporary. The rows are transformed from the input into the temporary,
// whose rows are one (double) or two (single) elements longer; the
// outermost dimension is transformed in place in the temporary; the middle
// dimension from the temporary into the output. The padding keeps the
// temporary's plane and volume strides off powers of two.
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

namespace ulmara::qez::dft::c2c_3d_padded {

enum child_axis : int { axis_x = 0, axis_y = 1, axis_z = 2, axis_count = 3 };

// The private block, one layout for both precisions.
struct block {
  DFTI_DESCRIPTOR* children[axis_count] = {};
  sycl::queue* queue = nullptr;
  std::uint64_t lengths[axis_count] = {};
  std::uint64_t strides[axis_count] = {};
  std::uint64_t distance = 0;     // elements between transforms of the data
  std::uint64_t temp_stride = 1;  // innermost stride of the temporary
  std::uint64_t row = 0;          // padded row R
  std::uint64_t plane = 0;        // N1 x R
  std::uint64_t volume = 0;       // N2 x N1 x R
  std::uint64_t transforms = 0;
  std::uint64_t io_distances = 0;
  std::uint64_t forward_distance = 0, backward_distance = 0, input_distance = 0, output_distance = 0;
  void* usm_temp = nullptr;
  std::unique_ptr<byte_buffer> buffer_temp;
  std::uint64_t temp_bytes = 0;
  void* workspace = nullptr;
  std::uint32_t workspace_kind = 0;  // 1 buffer, 2 USM, 0 internal
  device_area internal_persistent;
  device_area internal_scratch;
  std::uint32_t in_order = 0;
};

inline block* block_of(const DFTI_DESCRIPTOR* record) { return static_cast<block*>(record->bkd_data); }

// Planning pieces, exposed for tests.
// Row length of the temporary: N0 + 1 (double) or N0 + 2 (single).
constexpr std::uint64_t padded_row(std::uint64_t n0, bool double_precision) {
  return double_precision ? n0 + 1 : n0 + 2;
}
// Device memory the plan needs: the data (twice when not in place) and the
// temporary (twice when the library owns the workspace).
std::uint64_t memory_need(std::uint64_t data_bytes, bool in_place, std::uint64_t temp_bytes, bool internal);
// The share of device memory the plan may use.
constexpr double memory_share(bool internal) { return internal ? 0.15 : 0.8; }

int acceptance(const DFTI_DESCRIPTOR* record);
template <class T>
int bkd_init(DFTI_DESCRIPTOR* record);
void bkd_destroy(DFTI_DESCRIPTOR* record);
void bkd_free_buffers(block* b, std::uint32_t phase);
int add_workspace(void* workspace, int kind, std::uint64_t offset, DFTI_DESCRIPTOR* record, std::uint32_t phase,
                  void* events);
int compute_3d_fwd(DFTI_DESCRIPTOR* record, void* input, void* output, void* dependencies,
                   std::uint64_t* container_kind, void* result_event);
int compute_3d_bwd(DFTI_DESCRIPTOR* record, void* input, void* output, void* dependencies,
                   std::uint64_t* container_kind, void* result_event);

QEZ_DEFINE_BACKEND_POLICY(keep_backend_exceptions_as_status, c2c_3d_padded::acceptance, bkd_init<T>, bkd_destroy,
                          compute_3d_fwd, compute_3d_bwd, data_arrays_of_storage)

}  // namespace ulmara::qez::dft::c2c_3d_padded
