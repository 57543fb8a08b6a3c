// Acceptance, planning, commit and release of the three-factor backend, and
// its backend tables.
#include <algorithm>
#include <climits>
#include <sstream>
#include <vector>

#include "dft/api/status_codes.hpp"
#include "dft/gpu/backends/1d_factorised/3_facts/plan.hpp"
#include "dft/gpu/core/alloc_hooks.hpp"
#include "dft/gpu/core/backend_catalogue.hpp"
#include "dft/gpu/core/backend_protocol.hpp"
#include "dft/gpu/core/ceil_div.hpp"
#include "dft/gpu/core/commit_policies.hpp"
#include "dft/gpu/core/guarded_step.hpp"
#include "dft/gpu/core/first_tests.hpp"
#include "dft/gpu/core/internal_workspace_step.hpp"
#include "dft/gpu/core/probe_planning.hpp"
#include "dft/gpu/core/record_queue.hpp"
#include "dft/gpu/core/single_batch_1d_test.hpp"
#include "dft/gpu/core/sub_group_sizes.hpp"

namespace ulmara::qez::dft {
namespace three_factor {

namespace {

// Fixed rows of the double instance on Fenwa. The rule below gives these
// lengths a first factor of 40 (40 x 25 x 21, 40 x 35 x 21); on Fenwa in
// double the even splits without a factor of 40 are the faster plans.
struct fixed_row {
  std::int64_t length;
  factors f;
};
constexpr fixed_row fenwa_double_rows[] = {
    {21000, {{28, 30, 25}}},
    {29400, {{28, 35, 30}}},
};

// Temporary-area caps: large batches run in chunks of whole transforms, so
// the temporary area stops growing with the batch at the cap. Harix and
// Nopra devices have the memory for an area of up to 16 GiB; on the others
// it is kept to 42 MiB.
constexpr std::uint64_t large_temporary_cap = std::uint64_t{16} << 30;  // 16 GiB
constexpr std::uint64_t temporary_cap = std::uint64_t{42} << 20;        // 42 MiB

// Register-file rule. 128 KiB is the shared local memory of one sub-slice:
// the work-groups of a pass that fit it, times the 8 sub-group threads of a
// 64-item work-group, are the threads the sub-slice keeps resident. When
// that is no more than the threads the architecture can keep with 256
// registers each (85 on Fenwa, 44 on Harix), the large register file costs
// no occupancy and the pass is built with it.
constexpr std::uint64_t slm_budget_bytes = 131072;
struct register_limit {
  qez_gpu_arch_t architecture;
  std::uint64_t limit;
};
constexpr register_limit register_limits[] = {{QEZ_GPU_ARCH_FENWA, 85}, {QEZ_GPU_ARCH_HARIX, 44}};

// Steps of bkd_init that read the device and the record but write neither:
// run on a scratch block first so that a plan the device cannot carry is
// declined before the record is touched.
template <class T>
int plan_on_device(block<T>* b, const DFTI_DESCRIPTOR* record) {
  b->length = record->work_lengths.records[0].length;
  if (!take_record_queue(b, record)) return status_not_handled;

  const sycl::device device = b->queue->get_device();
  if (!offers_sub_group_size(device, static_cast<size_t>(planned_subgroup))) return status_not_handled;
  int status = 0;
  b->architecture = gpu::get_architecture(&status, b->queue);
  // 0 is no recognised GPU: not a device the plans are made for.
  if (status != 0 || b->architecture == 0) return status_not_handled;

  factors f;
  if (!choose_factors<T>(b->length, b->architecture, &f)) return status_not_handled;
  std::copy(f.f, f.f + pass_count, b->fact);

  copy_batch_layout(&b->batch, record);
  b->directions = record->directions;
  // The kernels' offset argument is a 32-bit int.
  if (b->batch.howmany > INT_MAX) return status_not_handled;
  for (direction d : {dir_forward, dir_backward}) {
    if (!serves(b->directions, d)) continue;
    const direction_distances dist = distances_of(b->batch, d == dir_forward);
    if (!is_double<T>() && dist.odist % 2 != 0) return status_not_handled;
  }
  b->scale[dir_forward] = static_cast<T>(record->fwd_scale);
  b->scale[dir_backward] = static_cast<T>(record->bwd_scale);

  const std::uint64_t e = complex_bytes<T>();
  b->class_bytes[class_1] = static_cast<std::uint64_t>(b->length) * e;
  b->class_bytes[class_2] = static_cast<std::uint64_t>(b->fact[pass_1] * b->fact[pass_2]) * e;
  b->subgroup_size = planned_subgroup;
  b->work_group_size = planned_work_group;
  b->temporary_distance = b->length + temporary_padding;

  const chunking c = chunk_batch<T>(b->length, b->batch.howmany, b->architecture);
  b->transforms_per_chunk = c.transforms_per_chunk;
  b->temporary_bytes = c.temporary_bytes;

  // In place, a later chunk's input must not lie where an earlier chunk
  // writes: with unequal distances the batch has to fit one chunk.
  if (record->placement == dfti_inplace && static_cast<std::uint64_t>(b->batch.howmany) > b->transforms_per_chunk) {
    for (direction d : {dir_forward, dir_backward}) {
      const direction_distances dist = distances_of(b->batch, d == dir_forward);
      if (serves(b->directions, d) && dist.idist != dist.odist) return status_not_handled;
    }
  }

  const std::uint64_t real_size = sizeof(T);
  for (int p = pass_0; p < pass_count; ++p)
    b->slm_bytes[p] = static_cast<std::uint64_t>(planned_work_group * b->fact[p]) * real_size;
  const std::uint64_t columns[pass_count] = {static_cast<std::uint64_t>(b->fact[pass_1] * b->fact[pass_2]),
                                             static_cast<std::uint64_t>(b->fact[pass_0] * b->fact[pass_2]),
                                             static_cast<std::uint64_t>(b->fact[pass_0] * b->fact[pass_1])};
  for (int p = pass_0; p < pass_count; ++p)
    b->global_size[p] = ceil_div(columns[p], columns_per_work_group) * planned_work_group;

  b->temporary_bytes = pad_to_base_addr_align(b->temporary_bytes, b->queue);
  b->class_bytes[class_1] = pad_to_base_addr_align(b->class_bytes[class_1], b->queue);
  b->class_bytes[class_2] = pad_to_base_addr_align(b->class_bytes[class_2], b->queue);
  return status_success;
}

template <class T>
int plan_on_device_guarded(block<T>* b, const DFTI_DESCRIPTOR* record) {
  // A device whose queries fail (an unrecognised GPU) is not this backend's.
  return status_unless_thrown(status_not_handled, [&] { return plan_on_device(b, record); });
}

template <class T>
void publish_workspace_sizes(const block<T>& b, DFTI_DESCRIPTOR* record) {
  const std::uint64_t tables = b.class_bytes[class_1] + b.class_bytes[class_2];
  record->workspace_bytes[0] = b.directions == directions_both ? 2 * tables : tables;
  record->workspace_bytes[1] = b.temporary_bytes;
}

}  // namespace

// ---------------------------------------------------------------------------
// Pure planning.

template <class T>
bool choose_factors(std::int64_t length, qez_gpu_arch_t architecture, factors* out) {
  if (is_double<T>() && architecture == QEZ_GPU_ARCH_FENWA) {
    for (const fixed_row& row : fenwa_double_rows)
      if (row.length == length) {
        *out = row.f;
        return true;
      }
  }
  if (length <= 0) return false;
  std::int64_t f0 = 0;
  for (std::int64_t f = factor_limit<T>(); f >= 4; f -= 4)
    if (length % f == 0) {
      f0 = f;
      break;
    }
  if (f0 == 0) return false;
  const std::int64_t m = length / f0;
  if (m < 4) return false;
  std::int64_t f2 = 0;
  for (std::int64_t d = 2; d * d <= m; ++d)
    if (m % d == 0 && m / d <= factor_limit<T>() && d <= factor_limit<T>()) f2 = d;
  if (f2 == 0) return false;
  *out = factors{{f0, m / f2, f2}};
  return true;
}

template <class T>
chunking chunk_batch(std::int64_t length, std::int64_t count, qez_gpu_arch_t architecture) {
  const std::uint64_t row = static_cast<std::uint64_t>(length + temporary_padding) * complex_bytes<T>();
  const bool large = architecture == QEZ_GPU_ARCH_HARIX || architecture == QEZ_GPU_ARCH_NOPRA;
  const std::uint64_t cap = large ? large_temporary_cap : temporary_cap;
  const std::uint64_t wanted = static_cast<std::uint64_t>(std::max<std::int64_t>(count, 0));
  // Capped before the product can overflow.
  const std::uint64_t total = wanted > cap / row ? cap : wanted * row;
  return {total, total / row};
}

bool wants_large_register_file(qez_gpu_arch_t architecture, std::uint64_t slm_bytes) {
  if (slm_bytes == 0) return false;
  for (const register_limit& r : register_limits)
    if (r.architecture == architecture) return slm_budget_bytes / slm_bytes * planned_work_group / planned_subgroup <= r.limit;
  return false;
}

template <class T>
std::string describe(const block<T>& b) {
  std::ostringstream s;
  s << "three_factor " << precision_letter<T>() << " N=" << b.length << " factors=" << b.fact[pass_0] << "x"
    << b.fact[pass_1] << "x" << b.fact[pass_2] << " wg=" << b.work_group_size << " sg=" << b.subgroup_size
    << " global=" << b.global_size[pass_0] << "," << b.global_size[pass_1] << "," << b.global_size[pass_2]
    << " chunk=" << b.transforms_per_chunk << " temporary=" << b.temporary_bytes << " kernels=" << b.kernel_names[0]
    << "," << b.kernel_names[1] << "," << b.kernel_names[2];
  return s.str();
}

// ---------------------------------------------------------------------------
// Acceptance, commit and release.

template <class T>
bool accepts(const DFTI_DESCRIPTOR* r) {
  if (!unit_stride_1d_single_batch(r)) return false;
  const dim_record& d = r->work_lengths.records[0];
  if (d.length % 4 != 0 || d.length > length_limit<T>()) return false;
  return zero_offsets(r);
}

template <class T>
int bkd_init(DFTI_DESCRIPTOR* record) {
  auto* b = static_cast<block<T>*>(allocate_zeroed_block(sizeof(block<T>)));
  if (b == nullptr) return status_allocation_failed;
  record->bkd_data = b;
  record->threads = 1;
  const int planned = plan_on_device_guarded(b, record);
  if (planned != status_success) return planned;
  publish_workspace_sizes(*b, record);
  return make_workspace_and_kernels(record, b, create_and_initialize_internal_workspaces<T>);
}

// The record's tests, then a probe plan (any failure of it declines),
// before the commit touches the record.
QEZ_DEFINE_1D_BACKEND_POLICY((acceptance_when<accepts<T>, probe_plans<block<T>, plan_on_device_guarded<T>>>),
                             destroy_record_block<block<T>>)

#define QEZ_INSTANTIATE(T)                                                      \
  template bool choose_factors<T>(std::int64_t, qez_gpu_arch_t, factors*);      \
  template chunking chunk_batch<T>(std::int64_t, std::int64_t, qez_gpu_arch_t); \
  template bool accepts<T>(const DFTI_DESCRIPTOR*);                             \
  QEZ_INSTANTIATE_BLOCK_COMMIT_ENTRIES(T)
QEZ_FOR_EACH_PRECISION(QEZ_INSTANTIATE)
#undef QEZ_INSTANTIATE

}  // namespace three_factor

QEZ_DEFINE_BACKEND_TABLES(dft_c2c_3_facts_gpu_bkd, three_factor)

}  // namespace ulmara::qez::dft
