// The real one-dimensional backend (class dft_r2c_1d_main_gpu_bkd): batched
// real-to-complex and complex-to-real transforms of length N in the CCE
// layout, computed through one complex child plan over a temporary area.
//
// Even N: the N reals of a transform are N/2 complex points; the child does
// N/2-point transforms, and r2c_kernel / c2r_kernel untangle or tangle the
// halves with a table of N/2 twiddles. Odd N: two real transforms share one
// N-point complex transform (real and imaginary parts); copy kernels pack
// and unpack the pairs and no table is needed.
//
// The batch runs in groups of at most `group_batch` transforms, each group an
// input kernel, the child in place on the temp, and an output kernel; the
// temp is capped per architecture, and a last, shorter group uses a second
// child (the remainder child).
#pragma once

#include <cstdint>
#include <memory>
#include <type_traits>

#include <sycl/sycl.hpp>

#include "dft/api/descriptor_record.hpp"
#include "dft/gpu/core/backend_protocol.hpp"
#include "dft/gpu/core/compute_dispatch.hpp"
#include "dft/gpu/core/internal_workspace.hpp"
#include "dft/gpu/core/plan_basics.hpp"
#include "dft/gpu/core/kernel_arguments.hpp"

namespace ulmara::qez::dft::r2c_1d {

// Temp caps: Harix (6) and Nopra (9) allow 16 GiB, every other architecture
// 44,040,192 bytes.
constexpr std::uint32_t arch_harix = 6, arch_nopra = 9;
constexpr std::uint64_t temp_cap_large = 0x400000000ull;
constexpr std::uint64_t temp_cap_default = 0x2A00000ull;
inline std::uint64_t temp_cap(std::uint32_t architecture) {
  return architecture == arch_harix || architecture == arch_nopra ? temp_cap_large : temp_cap_default;
}

// The six kernels of the program, in the order of their block slots.
enum kernel_slot : int {
  kernel_r2c = 0,
  kernel_c2r = 1,
  kernel_fwd_input_copy = 2,
  kernel_fwd_output_copy = 3,
  kernel_bwd_input_copy = 4,
  kernel_bwd_output_copy = 5,
  kernel_slot_count = 6
};

// The two child plans.
enum child_slot : int { child_main = 0, child_remainder = 1, child_slot_count = 2 };

using plan_basics::complex_bytes;
using plan_basics::is_double;

// ---------------------------------------------------------------------------
// Owners of what a block holds.

struct kernel_release {
  void operator()(sycl::kernel* k) const;
};
using kernel_handle = std::unique_ptr<sycl::kernel, kernel_release>;

struct child_release {
  void operator()(DFTI_DESCRIPTOR* child) const;
};
using child_handle = std::unique_ptr<DFTI_DESCRIPTOR, child_release>;

using buffer_slice = std::unique_ptr<byte_buffer>;

// ---------------------------------------------------------------------------
// Private block of a committed record (one layout for both precisions).

struct block {
  kernel_handle kernels[kernel_slot_count];
  sycl::queue* queue = nullptr;
  child_handle children[child_slot_count];
  std::int64_t n = 0;
  std::int64_t half_length = 0;  // N/2
  std::int64_t input_stride = 0, output_stride = 0, forward_stride = 0, backward_stride = 0;
  std::int64_t count = 0;  // number of transforms
  std::int64_t io_distances = 0;
  std::int64_t forward_distance = 0, backward_distance = 0, input_distance = 0, output_distance = 0;
  std::int64_t group_batch = 0;
  std::int64_t remainder_batch = 0;
  std::int64_t child_length = 0;  // TD: N/2 for even N, N for odd N
  std::uint64_t temp_size = 0;
  void* twiddle_pointer = nullptr;
  buffer_slice twiddle_slice;
  void* temp_pointer = nullptr;
  buffer_slice temp_slice;
  std::uint32_t architecture = 0;
  std::uint32_t directions = 0;
  void* workspace = nullptr;
  std::uint32_t workspace_kind = 0;  // 1 buffer, 2 USM, 0 internal
  std::unique_ptr<sycl::event> twiddle_event;
  std::uint64_t twiddle_size = 0;
  std::uint32_t temp_in_persistent = 0;
  device_area internal_persistent;
  device_area internal_scratch;
  std::uint16_t in_order = 0;

  bool even() const { return n % 2 == 0; }
};

inline block* block_of(const DFTI_DESCRIPTOR* record) {
  return static_cast<block*>(record->bkd_data);
}

// Complex rows the temp holds for `transforms` real transforms.
inline std::int64_t rows_for(std::int64_t transforms, bool even) {
  return even ? transforms : (transforms + 1) / 2;
}

// ---------------------------------------------------------------------------
// Entry points shared by the backend's files.

// Acceptance and planning (plan.cpp).
int acceptance(const DFTI_DESCRIPTOR* record);
template <class T>
int bkd_init(DFTI_DESCRIPTOR* record);
void bkd_destroy(DFTI_DESCRIPTOR* record);

// Complex child plans (children.cpp).
template <class T>
int create_r2c_complex_child(DFTI_DESCRIPTOR* record, child_slot which);

// Kernels (kernel_build.cpp): 0, or 7 when a kernel did not come back (a
// failed build throws the build service's sycl::exception).
template <class T>
int build_r2c_kernels(block* b);
void release_kernels(block* b);

// Workspace and twiddles (workspace.cpp).
template <class T>
int add_workspace(void* workspace, int kind, std::uint64_t offset, DFTI_DESCRIPTOR* record,
                  std::uint32_t phase, void* events);
template <class T>
int create_and_initialize_internal_workspaces(DFTI_DESCRIPTOR* record);
void bkd_free_buffers(block* b, std::uint32_t phase);
// Entry k of the twiddle table: (cospi(k x (1/(N/2))), sinpi(k x (1/(N/2))))
// with the quotient and the product formed in T.
template <class T>
void twiddle_entry(std::int64_t k, std::int64_t half_length, T* entry);

// Compute entries (compute.cpp).
QEZ_DECLARE_COMPUTE_ENTRIES()

QEZ_DEFINE_BACKEND_POLICY(keep_backend_exceptions_as_status, r2c_1d::acceptance, bkd_init<T>, bkd_destroy,
                          compute_1d_fwd<T>, compute_1d_bwd<T>, data_arrays_of_storage)

}  // namespace ulmara::qez::dft::r2c_1d
