// Two-factor one-dimensional complex backend: its private block and the plan
// that fills it. N = FACT0 x FACT1 (both at most 64); one kernel launch per
// compute runs whole transforms per work-group. Acceptance and planning are
// pure functions of the record and a few device facts, so they are tested
// without a device.
#pragma once

#include <cstdint>
#include <string>

#include <sycl/sycl.hpp>

#include "dft/api/descriptor_record.hpp"
#include "dft/gpu/core/kernel_arguments.hpp"
#include "dft/gpu/core/layout_helpers.hpp"
#include "dft/gpu/core/plan_basics.hpp"

namespace ulmara::qez::dft::two_factor {

using namespace plan_basics;

constexpr std::int64_t max_length = 4096;
constexpr std::int64_t max_factor = 64;
constexpr std::int64_t subgroup_size = 8;
constexpr std::int64_t max_slm_bytes = 0x20000;
constexpr std::int64_t max_work_group_size = 256;
constexpr std::int64_t grouped_batch = 4;  // transforms per work-group where grouping pays
constexpr std::size_t kernel_name_bytes = 64;

enum name_slot : int { name_kernel = 0, name_fact0_func = 1, name_fact1_func = 2, name_count = 3 };

// The private block hung in the record's bkd_data (zero-filled at creation).
template <class T>
struct block {
  char kernel_names[name_count][kernel_name_bytes];
  sycl::kernel* kernels[direction_count];
  sycl::queue* queue;
  std::int64_t length;
  std::int64_t fact0, padfact0, fact1, padfact1;
  std::int64_t fact1_loop_bound;
  std::int64_t work_group_size;
  std::int64_t table_bytes;
  std::int64_t slm_bytes;
  std::int64_t subgroup_size;
  batch_layout_row batch;  // of working batch record 0
  std::int64_t batch_per_group;
  std::int64_t batch_for_last_group;
  T fwd_scale, bwd_scale;
  void* usm_twiddles[direction_count];
  byte_buffer* buffer_twiddles[direction_count];
  std::uint32_t directions;
  void* workspace;
  std::uint32_t workspace_kind;  // of the workspace last handed over
  sycl::event* twiddle_events[direction_count];
  void* internal_twiddles;
  void* internal_scratch;
  std::uint32_t in_order;
};

// ---------------------------------------------------------------------------
// Acceptance and plan.

// The tests a record must pass before any block is made (no side effects).
bool accepts(const DFTI_DESCRIPTOR* r);

// Factor choice: {FACT0, FACT1}, FACT0 even; found is false when N has no
// pair of factors of at most 64 (and for N <= 2).
struct factors {
  bool found = false;
  std::int64_t fact0 = 0, fact1 = 0;
};
factors choose_factors(std::int64_t n);

// Paddings, shared memory and work-group geometry of a factor pair.
struct geometry {
  std::int64_t padfact0 = 0, padfact1 = 0;
  std::int64_t slm_bytes = 0;
  std::int64_t work_group_size = 0;
  std::int64_t fact1_loop_bound = 0;
};
geometry plan_geometry(factors f, std::size_t real_bytes);
bool geometry_fits(const geometry& g);

// Batch layout of working batch record 0.
using batch_layout = batch_layout_row;
batch_layout read_batch_layout(const DFTI_DESCRIPTOR* r);

// Distances of a direction's data, in complex elements.
std::int64_t input_distance(const batch_layout& b, direction d);
std::int64_t output_distance(const batch_layout& b, direction d);

// Precision-specific size test: double up to 1024 points; single needs an
// even output distance in every served direction (block writes of pairs).
bool size_test_passes(bool double_precision, std::int64_t n, const batch_layout& b,
                      std::uint32_t directions);

// Transforms per work-group on an architecture.
std::int64_t batch_per_group_for(bool double_precision, std::int64_t n, std::uint32_t arch);
std::int64_t batch_for_last_group(std::int64_t howmany, std::int64_t per_group);

// Raw bytes of one direction's twiddle table (before base-address padding).
std::int64_t raw_table_bytes(factors f, std::int64_t padfact1, std::size_t real_bytes);

// ---------------------------------------------------------------------------
// Program of one direction.

// The three names: kernel, FACT0 and FACT1 butterfly functions.
struct program_names {
  std::string kernel, fact0_func, fact1_func;
};
program_names make_program_names(bool double_precision, std::int64_t n, factors f);

// Everything the option string is made of.
struct program_request {
  bool double_precision = false;
  std::int64_t n = 0;
  factors f;
  geometry g;
  batch_layout batch = {/*howmany=*/1, /*io_distances=*/0, 0, 0, 0, 0};
  std::int64_t batch_per_group = 1, batch_for_last_group = 1;
};
std::string make_build_options(const program_request& p, direction d);
const char* program_name(bool double_precision);

// One line that describes a committed plan, for tests and diagnostics.
template <class T>
std::string describe(const block<T>& b);

}  // namespace ulmara::qez::dft::two_factor
