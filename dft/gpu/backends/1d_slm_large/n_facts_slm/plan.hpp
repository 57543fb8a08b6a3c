// The n-factor shared-local-memory backend (class dft_c2c_n_facts_gpu_bkd):
// batches of power-of-two transforms of 512 to 65536 points, one work-group
// per transform, four radix passes FACT3, FACT2, FACT1, FACT0 with the whole
// transform parked in shared local memory between the passes.
//
// This header holds the factor plans, the private block of a committed
// record and the entry points the backend's files share.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <type_traits>

#include <sycl/sycl.hpp>

#include "dft/api/descriptor_record.hpp"
#include "dft/gpu/core/backend.hpp"
#include "dft/gpu/core/compute_dispatch.hpp"
#include "dft/gpu/core/kernel_arguments.hpp"
#include "dft/gpu/core/layout_helpers.hpp"
#include "dft/gpu/core/plan_basics.hpp"
#include "dft/gpu/backends/1d_slm_large/n_facts_slm/prebuilt_handle.hpp"

namespace ulmara::qez::dft::n_facts_slm {

using namespace plan_basics;

// The four radices, ascending; FACT3 is the largest and runs first.
enum factor_index : int { fact0 = 0, fact1, fact2, fact3, factor_count };

// Twiddle areas of the workspace, in layout order; areas 0 and 3 are empty
// for this backend.
enum factor_area : int { area_0 = 0, area_1, area_2, area_3, area_count };

// The initialisation events: areas 0..3, then the main tables.
enum event_slot : int {
  event_main_forward = area_count,
  event_main_backward,
  event_slot_count
};
inline int main_event_slot(direction d) { return d == dir_forward ? event_main_forward : event_main_backward; }

constexpr std::size_t name_bytes = 64;

// ---------------------------------------------------------------------------
// Planning (pure: no device, no record).

// Sub-group sizes the plans are made for.
constexpr std::int64_t smallest_planned_subgroup = 16;

struct factor_plan {
  std::int64_t fact[factor_count];  // ascending
};

// The four radices for (N, S), or false when no plan exists: N not a power
// of two in [512, 65536], N = 512 with S = 32, S other than 16 or 32.
bool find_factor_plan(std::int64_t length, std::int64_t subgroup_size, factor_plan* plan);

// Launch geometry derived from a factor plan and the device.
struct launch_geometry {
  std::int64_t max_fact;
  std::int64_t subgroup_count;   // sub-groups that cover one transform in pass 1
  std::int64_t work_group_size;
  std::int64_t load_loop_bound;  // 0: one round
  std::int64_t load_loop_tail;   // sub-groups of a last, partial round
  std::int64_t load_store_tail;
};

// False when the device cannot hold a work-group of one sub-group.
bool derive_geometry(std::int64_t length, const factor_plan& plan, std::int64_t subgroup_size,
                     std::int64_t max_work_group_size, launch_geometry* g);

// Bytes of the tables before padding.
template <class T>
constexpr std::uint64_t main_table_raw_bytes(std::int64_t max_fact, std::int64_t subgroup_count,
                                             std::int64_t subgroup_size) {
  return static_cast<std::uint64_t>(max_fact * subgroup_count * subgroup_size * 2) * sizeof(T);
}
template <class T>
std::uint64_t area_raw_bytes(factor_area a, const factor_plan& p) {
  const std::uint64_t complex_bytes = 2 * sizeof(T);
  if (a == area_1) return complex_bytes * static_cast<std::uint64_t>(p.fact[fact0] * p.fact[fact1]);
  if (a == area_2)
    return complex_bytes * static_cast<std::uint64_t>(p.fact[fact0] * p.fact[fact1] * p.fact[fact2]);
  return 0;
}
template <class T>
constexpr std::int64_t slm_bytes_of(std::int64_t length) {
  return length * 2 * static_cast<std::int64_t>(sizeof(T));
}

// Smallest number of transforms the float instance serves at a length (1
// for any length without a floor).
std::int64_t float_transform_floor(std::int64_t length);

// ---------------------------------------------------------------------------
// Private block of a committed record (zero-filled, 64-byte aligned). It
// owns its kernels, events, sub-buffers and internal workspaces, never the
// caller's workspace.

template <class T>
struct block {
  std::int64_t length;
  batch_layout_row batch;
  std::int64_t subgroup_size;
  std::int64_t max_work_group_size;
  std::int64_t local_mem_size;
  std::int64_t threads_per_eu, threads_per_subslice, subslice_count;
  std::uint32_t queue_backend;
  std::int64_t fft_len;
  std::int64_t fact[factor_count];
  std::int64_t max_fact;
  std::int64_t work_group_size;
  std::int64_t load_store_tail, load_loop_bound, load_loop_tail;
  std::int64_t slm_bytes;
  std::int64_t subgroup_count;
  std::uint64_t main_table_bytes;
  std::uint64_t area_bytes[area_count];
  char kernel_name[name_bytes];
  char fact_func[factor_count][name_bytes];
  sycl::kernel* kernels[direction_count];
  sycl::queue* queue;
  std::int64_t in_place;
  T fwd_scale, bwd_scale;
  void* main_tables[direction_count];  // USM addresses
  void* areas[area_count];
  byte_buffer* main_subbuffers[direction_count];
  byte_buffer* area_subbuffers[area_count];
  std::uint32_t directions;
  void* workspace;
  std::uint32_t workspace_kind;
  sycl::event* events[event_slot_count];
  std::uint8_t prebuilt[direction_count];
  prebuilt_handle prebuilt_handles[direction_count];  // the loaded images of `prebuilt` directions
  void* internal_workspace;
  void* second_internal_workspace;
  std::uint32_t in_order;
};

// block_of<T>; describe<T>, one line describing a plan (tests, diagnostics).
QEZ_DECLARE_BLOCK_ENTRIES()

// ---------------------------------------------------------------------------
// Entry points shared by the backend's files.

// Acceptance, commit and release (plan.cpp).
template <class T>
bool accepts(const DFTI_DESCRIPTOR* record);
QEZ_DECLARE_COMMIT_ENTRIES()

// The device part of planning, on a block whose length, placement and queue
// are set: device queries, architecture gate, factors, geometry, names,
// batch layout, scales and workspace sizes. 0, 100 (no plan) or 7.
template <class T>
int plan_on_device(block<T>* b, DFTI_DESCRIPTOR* record);
// plan_on_device on a scratch block: false only when the device has no
// plan (100), so that a commit can decline before it touches the record.
template <class T>
bool plan_fits_device(DFTI_DESCRIPTOR* record);

// Kernels (kernel_build.cpp).
QEZ_DECLARE_KERNEL_ENTRIES()
// The program's build options for one direction; `extra` goes right after
// the fixed options, before the optional load options.
template <class T>
std::string build_options_text(const block<T>& b, direction d, const char* extra);

// Workspace and tables (workspace.cpp).
template <class T>
int add_workspace(void* workspace, int kind, std::uint64_t offset, DFTI_DESCRIPTOR* record,
                  std::uint32_t mode, void* events);
// The internal workspace of a commit, handed to `add` (this backend's
// add_workspace unless a backend built on this block lays out more tables).
using add_workspace_fn = int (*)(void*, int, std::uint64_t, DFTI_DESCRIPTOR*, std::uint32_t, void*);
template <class T>
int create_and_initialize_internal_workspaces(DFTI_DESCRIPTOR* record, add_workspace_fn add = add_workspace<T>);
template <class T>
void bkd_free_buffers(block<T>* b, std::uint32_t mode);

// Compute entries (compute.cpp).
QEZ_DECLARE_COMPUTE_ENTRIES()

// A further table that a kernel of this program reads after its local
// memory (argument 6: the pre-twiddle of the large transforms' row pass):
// its view, in the container kind of the block's tables, and the event of
// its writer (null when none is pending).
struct trailing_table {
  void* view;
  const sycl::event* written;
};

// One compute of the record's block (a block that starts with this
// backend's): workspace checks, one submission over the batch, the event
// handed back. `trailing` null: the kernel takes no further table.
template <class T>
int compute_1d_xwd(DFTI_DESCRIPTOR* record, void* input, void* output, void* dependencies, void* result_event,
                   direction d, std::int64_t data_kind, const trailing_table* trailing);

}  // namespace ulmara::qez::dft::n_facts_slm
