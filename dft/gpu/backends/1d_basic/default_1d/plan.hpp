// Default one-dimensional complex backend: its private block and the plan
// that fills it (factors, strides and distances per direction, scratch areas
// and chunking, shared-memory mode), then the program of one direction
// (names, build options, kernel texts). Everything here is a pure function of
// the configuration and three device facts (architecture, base-address
// alignment, size of the global memory cache), so it is tested without a
// device.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include <sycl/sycl.hpp>

#include "dft/api/descriptor_record.hpp"
#include "dft/gpu/core/kernel_arguments.hpp"
#include "dft/gpu/core/plan_basics.hpp"

namespace ulmara::qez::dft::default_1d {

using namespace plan_basics;

constexpr int pass_count = 4;
constexpr int batch_dims = 3;

// Kernel handles of one direction: the four passes, then the copy kernel.
enum kernel_slot : int { slot_copy = pass_count, kernel_slot_count = pass_count + 1 };
// Scratch areas A and B.
enum area : int { area_a = 0, area_b = 1, area_count = 2 };

constexpr std::size_t kernel_name_bytes = 64;
constexpr std::size_t program_name_bytes = 256;
constexpr std::size_t options_bytes = 512;
constexpr std::size_t kernel_text_bytes = 8192;

// The private block hung in the record's bkd_data (zero-filled at creation).
template <class T>
struct block {
  char kernel_names[pass_count][kernel_name_bytes];
  char func_names[pass_count][kernel_name_bytes];
  sycl::kernel* kernels[kernel_slot_count][direction_count];
  sycl::queue* queue;  // the block's own handle of the record's queue
  std::int64_t length;
  std::int64_t factors[pass_count];
  std::int64_t in_stride[direction_count];
  std::int64_t out_stride[direction_count];
  std::int64_t batch_count[batch_dims];
  std::int64_t dist_in_out[batch_dims];
  std::int64_t in_dist[batch_dims], out_dist[batch_dims];
  std::int64_t fwd_dist[batch_dims], bwd_dist[batch_dims];
  std::int64_t chunk;
  std::int64_t in_place;
  std::uint64_t area_bytes;
  T scale[direction_count];
  void* usm_area[area_count];
  byte_buffer* area_buffer[area_count];
  std::int64_t slm_mode;
  std::int64_t slm_bytes;
  std::uint32_t architecture;
  std::uint32_t directions;
  void* workspace;
  std::uint32_t workspace_kind;
  std::int64_t need_area[area_count];
  void* internal_alloc[area_count];
  // Event of the last submission of the latest compute: the next compute's
  // first launch waits for it, since both use the same scratch areas.
  sycl::event* last_event;
  // Bytes of the device's global memory cache (0: not known): a staged first
  // pass whose launch writes more streams its stores past the caches.
  std::uint64_t cache_bytes;
};

// What the plan reads of a record, and the device facts it needs.
struct plan_request {
  dim_record dimension{};            // working dimension 0: {N, in, out, fwd, bwd stride}
  std::int32_t batch_rank = 0;       // at most 3
  dim_record batch[batch_dims]{};    // {count, in, out, fwd, bwd distance}
  bool in_place = false;
  double fwd_scale = 1.0, bwd_scale = 1.0;
  std::uint32_t directions = 2;
  std::uint32_t architecture = 0;
  std::uint64_t base_align_bytes = 128;
  std::uint64_t cache_bytes = 0;
};

plan_request request_from_record(const DFTI_DESCRIPTOR* record, std::uint32_t arch,
                                 std::uint64_t base_align_bytes, std::uint64_t cache_bytes);

// Factors f0..f3 of n (trailing ones are 1).
std::array<std::int64_t, pass_count> choose_factors(std::int64_t n);
// A factor without a register codelet: a direct DFT from global memory.
template <class T>
bool is_generic_factor(std::int64_t factor);

// Fills every planned field of the block (the kernels, queue and areas stay
// as they are). Returns the second workspace count (bytes of scratch).
template <class T>
std::uint64_t fill_plan(block<T>& b, const plan_request& request);

// Input-side and output-side distance of batch dimension k for direction d.
template <class T>
std::int64_t input_distance(const block<T>& b, std::uint32_t d, int k);
template <class T>
std::int64_t output_distance(const block<T>& b, std::uint32_t d, int k);

// Transforms in total.
template <class T>
std::int64_t total_transforms(const block<T>& b) {
  return b.batch_count[0] * b.batch_count[1] * b.batch_count[2];
}
template <class T>
bool needs_copy_kernel(const block<T>& b) {
  return b.in_place != 0 && b.factors[1] == 1;
}
// Pass k runs (pass 0 always; later passes only outside shared-memory mode).
template <class T>
bool pass_runs(const block<T>& b, int k) {
  return k == 0 || (b.slm_mode == 0 && b.factors[k] >= 2);
}

// Columns per work-group of a first pass staged through local memory; 0
// when the first pass runs unstaged (it writes the caller's output, or
// its column count has no whole number of groups).
template <class T>
std::int64_t staged_first_pass_columns(const block<T>& b);

// The program of one direction as the kernel cache sees it.
struct direction_program {
  std::string program_name;
  std::string options;
  std::array<std::string, pass_count> kernel_texts;  // printed for every pass
  bool fits = true;    // every name, option line and text fitted its buffer
};
template <class T>
direction_program describe_program(const block<T>& b, std::uint32_t d);
// The program's source: prelude, codelet library (over a megabyte), then
// the kernel texts of the passes that run. Made only for a build.
template <class T>
std::string program_source(const block<T>& b, const direction_program& p);

// The copy kernel's name for the precision.
template <class T>
const char* copy_kernel_name();

}  // namespace ulmara::qez::dft::default_1d
