// The 2D small fused-SLM backend (dft_c2c_2d_small_gpu_bkd): square complex
// transforms of side N = 8, 16, .., 64, contiguous and densely batched, one
// kernel launch per call; each work-group of 2N work-items transforms one
// N x N array entirely in shared local memory, scale included. No tables,
// no workspace.
//
// Files: commit.cpp (acceptance, bkd_init, kernel builds, release, the
// tables), compute.cpp (the compute entries).
#pragma once

#include <cstdint>
#include <type_traits>

#include <sycl/sycl.hpp>

#include "dft/api/descriptor_record.hpp"
#include "dft/gpu/backends/md_complex/md_common.hpp"
#include "dft/gpu/core/backend_protocol.hpp"
#include "dft/gpu/core/compute_dispatch.hpp"
#include "dft/gpu/core/internal_workspace.hpp"
#include "dft/gpu/core/plan_basics.hpp"

namespace ulmara::qez::dft::c2c_2d_small {

constexpr std::int64_t max_side = 64;
constexpr std::int64_t side_multiple = 8;
constexpr std::int64_t required_sub_group_size = 8;
constexpr std::int64_t max_local_bytes = 65536;

// Private block of a committed record.
struct block {
  char kernel_name[64] = {};
  char butterfly_name[64] = {};
  sycl::kernel* kernels[2] = {nullptr, nullptr};  // forward, backward
  sycl::queue* queue = nullptr;
  std::int64_t n = 0;
  std::uint64_t work_group_size = 0;  // 2N
  std::int64_t local_bytes = 0;       // one N x N complex array
  std::int64_t sub_group_size = 0;
  std::int64_t transforms = 0;
  double scales[2] = {1.0, 1.0};  // rounded to the transform's precision
  std::uint32_t architecture = 0;
  std::uint32_t in_order = 0;
};

inline block* block_of(const DFTI_DESCRIPTOR* r) { return static_cast<block*>(r->bkd_data); }

// Acceptance of the record (0 or 100); reads the record only.
int acceptance(const DFTI_DESCRIPTOR* record);

template <class T>
int bkd_init(DFTI_DESCRIPTOR* record);
void bkd_destroy(DFTI_DESCRIPTOR* record);

// The option string of one direction for a block planned for precision
// `double_precision`; false when it does not fit `bytes`.
bool format_options(const block& b, bool double_precision, plan_basics::direction d, char* out,
                    std::size_t bytes);
// The register-file option is added (architectures 4 and 6 only).
bool wants_large_register_file(std::uint32_t arch, std::int64_t n, std::int64_t local_bytes);

QEZ_DECLARE_NAMED_COMPUTE_ENTRIES(compute_2d_fwd, compute_2d_bwd)

QEZ_DEFINE_BACKEND_POLICY(keep_backend_exceptions_as_status, c2c_2d_small::acceptance, bkd_init<T>, bkd_destroy,
                          compute_2d_fwd<T>, compute_2d_bwd<T>, data_arrays_of_storage)

}  // namespace ulmara::qez::dft::c2c_2d_small
