// The pre-twiddle n-factor shared-local-memory backend (class
// dft_c2c_n_facts_pre_twiddle_gpu_bkd): the row pass of the large
// one-dimensional backend. It runs the n-factor SLM plan (one work-group per
// transform, four radix passes through local memory) and multiplies output
// k of transform b by exp(-+2 pi i b k / (N x howmany)), the inter-step
// twiddle of a four-step transform, while it stores the result.
//
// It stands in no global list: the large backend binds its row child to the
// one-entry list below, so ordinary descriptors never reach it.
#pragma once

#include <cstdint>
#include <string>

#include <sycl/sycl.hpp>

#include "dft/api/descriptor_record.hpp"
#include "dft/gpu/backends/1d_slm_large/n_facts_slm/plan.hpp"

namespace ulmara::qez::dft {

extern const backend_table dft_c2c_n_facts_pre_twiddle_gpu_bkd_table_float;
extern const backend_table dft_c2c_n_facts_pre_twiddle_gpu_bkd_table_double;

namespace pretw_slm {

using n_facts_slm::direction;
using n_facts_slm::dir_backward;
using n_facts_slm::dir_forward;

// The one-entry list {this backend's table, null} of a precision.
template <class T>
backend_list pre_twiddle_backend_list();
template <>
backend_list pre_twiddle_backend_list<float>();
template <>
backend_list pre_twiddle_backend_list<double>();

// Transforms up to this length read their pre-twiddle from a table written
// at commit; longer ones compute it in the kernel.
constexpr std::int64_t longest_tabled_length = 2048;

// Private block of a committed record (zero-filled, 64-byte aligned). The
// n-factor SLM block comes first, so that backend's planning, table writers
// and release work on it unchanged; the pre-twiddle table follows.
template <class T>
struct block {
  n_facts_slm::block<T> slm;
  std::int64_t howmany;
  std::uint64_t pretw_bytes;  // padded; 0 when the kernel computes the pre-twiddle
  void* pretw_table;          // USM address in the workspace
  byte_buffer* pretw_subbuffer;
  sycl::event* pretw_event;
};

// Bytes of the pre-twiddle table before padding: howmany x N complex values
// for N up to longest_tabled_length, else 0.
template <class T>
constexpr std::uint64_t pretw_raw_bytes(std::int64_t length, std::int64_t howmany) {
  return length <= longest_tabled_length ? static_cast<std::uint64_t>(length * howmany) * 2 * sizeof(T) : 0;
}

// block_of<T>; describe<T>, one line describing a plan (tests, diagnostics).
QEZ_DECLARE_BLOCK_ENTRIES()

// Acceptance, commit and release (plan.cpp).
template <class T>
bool accepts(const DFTI_DESCRIPTOR* record);
QEZ_DECLARE_COMMIT_ENTRIES()

// Kernels (kernel_build.cpp): the build options of one direction, and the
// kernels of the directions the plan prepares (0, or 7 when one is missing).
template <class T>
std::string pretw_build_options(const block<T>& b, direction d);
template <class T>
int build_kernels(block<T>* b);

// Workspace and tables (workspace.cpp).
QEZ_DECLARE_BLOCK_WORKSPACE_ENTRIES()

// Compute entries (compute.cpp).
QEZ_DECLARE_COMPUTE_ENTRIES()

}  // namespace pretw_slm
}  // namespace ulmara::qez::dft
