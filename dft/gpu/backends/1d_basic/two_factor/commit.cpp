// Two-factor backend tables: commit (acceptance, plan, workspace, kernels),
// free and the clean-up of a failed plan.
#include <algorithm>
#include <new>
#include <type_traits>
#include <vector>

#include "dft/api/status_codes.hpp"
#include "dft/gpu/backends/1d_basic/two_factor/plan.hpp"
#include "dft/gpu/backends/1d_basic/two_factor/kernel_build.hpp"
#include "dft/gpu/backends/1d_basic/two_factor/workspace.hpp"
#include "dft/gpu/core/alloc_hooks.hpp"
#include "dft/gpu/core/backend.hpp"
#include "dft/gpu/core/backend_catalogue.hpp"
#include "dft/gpu/core/backend_protocol.hpp"
#include "dft/gpu/core/base_address_alignment.hpp"
#include "dft/gpu/core/commit_policies.hpp"
#include "dft/gpu/core/internal_workspace_step.hpp"
#include "dft/gpu/core/sub_group_sizes.hpp"
#include "gpu/service/architecture.hpp"

namespace ulmara::qez::dft {
namespace two_factor {

namespace {

template <class T>
void take_plan(block<T>* b, factors f, const geometry& g, const batch_layout& l) {
  b->fact0 = f.fact0;
  b->fact1 = f.fact1;
  b->padfact0 = g.padfact0;
  b->padfact1 = g.padfact1;
  b->slm_bytes = g.slm_bytes;
  b->work_group_size = g.work_group_size;
  b->fact1_loop_bound = g.fact1_loop_bound;
  b->batch = l;
}

// The block of a new plan, hung in the record; null when memory runs out.
template <class T>
block<T>* new_block(DFTI_DESCRIPTOR* record) {
  void* memory = allocate_zeroed_block(sizeof(block<T>));
  if (memory == nullptr) return nullptr;
  auto* b = new (memory) block<T>{};
  record->bkd_data = b;
  record->threads = 1;
  b->length = record->work_lengths.records[0].length;
  b->queue = static_cast<sycl::queue*>(record->queue);
  b->in_order = record->offload_mode == 0 && b->queue->is_in_order() ? 1 : 0;
  b->subgroup_size = subgroup_size;
  return b;
}

template <class T>
int bkd_init(DFTI_DESCRIPTOR* record) {
  block<T>* b = new_block<T>(record);
  if (b == nullptr) return status_allocation_failed;
  if (!offers_sub_group_size(b->queue->get_device(), subgroup_size)) return status_not_handled;
  const factors f = choose_factors(b->length);
  if (!f.found) return status_not_handled;
  const batch_layout layout = read_batch_layout(record);
  b->fwd_scale = static_cast<T>(record->fwd_scale);
  b->bwd_scale = static_cast<T>(record->bwd_scale);
  b->directions = record->directions;

  int arch_status = 0;
  const std::uint32_t arch = gpu::get_architecture(&arch_status, b->queue);
  if (arch_status != 0) return status_not_handled;
  if (!size_test_passes(is_double<T>(), b->length, layout, b->directions)) return status_not_handled;
  const geometry g = plan_geometry(f, sizeof(T));
  if (!geometry_fits(g)) return status_not_handled;
  take_plan(b, f, g, layout);
  b->batch_per_group = batch_per_group_for(is_double<T>(), b->length, arch);
  b->batch_for_last_group = batch_for_last_group(b->batch.howmany, b->batch_per_group);

  const std::uint64_t raw = static_cast<std::uint64_t>(raw_table_bytes(f, g.padfact1, sizeof(T)));
  b->table_bytes = static_cast<std::int64_t>(pad_to_base_addr_align(raw, b->queue));
  const std::uint64_t tables = static_cast<std::uint64_t>(b->table_bytes);
  record->workspace_bytes[0] = b->directions == directions_both ? tables << 1 : tables;
  record->workspace_bytes[1] = 0;
  return make_workspace_and_kernels(record, b, create_and_initialize_internal_workspaces<T>);
}

// Everything that can still decline, read from the record and the device
// only: a backend that declines leaves an earlier plan of the record alone.
template <class T>
bool applies_on_device(const DFTI_DESCRIPTOR* record) {
  const auto* queue = static_cast<const sycl::queue*>(record->queue);
  if (queue == nullptr || !offers_sub_group_size(queue->get_device(), subgroup_size)) return false;
  const std::int64_t length = record->work_lengths.records[0].length;
  const factors f = choose_factors(length);
  if (!f.found) return false;
  if (!size_test_passes(is_double<T>(), length, read_batch_layout(record), record->directions))
    return false;
  if (!geometry_fits(plan_geometry(f, sizeof(T)))) return false;
  int arch_status = 0;
  gpu::get_architecture(&arch_status, const_cast<sycl::queue*>(queue));
  return arch_status == 0;
}

}  // namespace

// Acceptance: the record's tests, then the device's. Clean-up: tables,
// kernels, block.
QEZ_DEFINE_1D_BACKEND_POLICY((acceptance_when<accepts, applies_on_device<T>>), destroy_record_block<block<T>>)

}  // namespace two_factor

QEZ_DEFINE_BACKEND_TABLES(dft_c2c_2_facts_gpu_bkd, two_factor)

}  // namespace ulmara::qez::dft
