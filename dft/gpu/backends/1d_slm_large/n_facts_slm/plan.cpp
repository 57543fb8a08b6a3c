// Acceptance, planning, commit and release of the n-factor shared-local-
// memory backend, and its backend tables.
#include <algorithm>
#include <cstdio>
#include <sstream>
#include <vector>

#include "dft/api/status_codes.hpp"
#include "dft/gpu/backends/1d_slm_large/n_facts_slm/plan.hpp"
#include "dft/gpu/core/alloc_hooks.hpp"
#include "dft/gpu/core/backend_catalogue.hpp"
#include "dft/gpu/core/backend_protocol.hpp"
#include "dft/gpu/core/commit_policies.hpp"
#include "dft/gpu/core/guarded_step.hpp"
#include "dft/gpu/core/internal_workspace_step.hpp"
#include "dft/gpu/core/first_tests.hpp"
#include "dft/gpu/core/record_queue.hpp"
#include "dft/gpu/core/single_batch_1d_test.hpp"
#include "dft/gpu/core/sub_group_sizes.hpp"
#include "dft/gpu/kernels/program_names.hpp"
#include "gpu/service/architecture.hpp"
#include "gpu/service/device_registry.hpp"

namespace ulmara::qez::dft {
namespace n_facts_slm {

namespace {

// ---------------------------------------------------------------------------
// Factor plans: one row per length, one column per planned sub-group size.

struct factor_row {
  std::int64_t length;
  factor_plan by_subgroup[2];  // S = 16, S = 32; all zero: declined
};

constexpr factor_row factor_rows[] = {
    {512, {{{4, 4, 4, 8}}, {{0, 0, 0, 0}}}},
    {1024, {{{4, 4, 8, 8}}, {{4, 4, 4, 16}}}},
    {2048, {{{4, 8, 8, 8}}, {{4, 4, 8, 16}}}},
    {4096, {{{8, 8, 8, 8}}, {{4, 4, 16, 16}}}},
    {8192, {{{8, 8, 8, 16}}, {{8, 8, 8, 16}}}},
    {16384, {{{8, 8, 16, 16}}, {{8, 8, 16, 16}}}},
    {32768, {{{8, 16, 16, 16}}, {{8, 16, 16, 16}}}},
    {65536, {{{16, 16, 16, 16}}, {{16, 16, 16, 16}}}},
};

// The float instance's floors on the number of transforms.
struct transform_floor {
  std::int64_t length;
  std::int64_t min_transforms;
};
constexpr transform_floor float_floors[] = {{512, 65537}, {1024, 32769}};

// Architectures the gate admits, with their sub-slice geometry.
struct architecture_geometry {
  qez_gpu_arch_t architecture;
  std::int64_t eus_per_subslice;
  std::int64_t threads_per_eu;
};
constexpr architecture_geometry admitted_architectures[] = {
    {QEZ_GPU_ARCH_DORIK, 16, 7},
    {QEZ_GPU_ARCH_GULON, 16, 8},
    {QEZ_GPU_ARCH_HARIX, 8, 8},
    {QEZ_GPU_ARCH_JORVA, 8, 8},
};

const architecture_geometry* geometry_of(qez_gpu_arch_t a) {
  for (const architecture_geometry& g : admitted_architectures)
    if (g.architecture == a) return &g;
  return nullptr;
}

// ---------------------------------------------------------------------------
// Planning steps of bkd_init.

template <class T>
void query_device(block<T>* b) {
  const sycl::device device = b->queue->get_device();
  b->subgroup_size = static_cast<std::int64_t>(smallest_sub_group_size(device));
  b->max_work_group_size = static_cast<std::int64_t>(device.get_info<sycl::info::device::max_work_group_size>());
  b->local_mem_size = static_cast<std::int64_t>(device.get_info<sycl::info::device::local_mem_size>());
  b->queue_backend = static_cast<std::uint32_t>(gpu::get_queue_backend(b->queue));
}

// The architecture gate and the topology words; 7 when the device is not
// one the plans are made for.
template <class T>
int pass_architecture_gate(block<T>* b) {
  const sycl::device device = b->queue->get_device();
  namespace tavir = sycl::ext::tavir::info::device;
  if (device.has(sycl::aspect::ext_tavir_device_info) && b->queue_backend == QEZ_GPU_BACKEND_NIVOLO) {
    const std::int64_t eus = device.get_info<tavir::gpu_eu_count_per_subslice>();
    b->threads_per_eu = device.get_info<tavir::gpu_hw_threads_per_eu>();
    b->threads_per_subslice = b->threads_per_eu * eus;
    b->subslice_count = static_cast<std::int64_t>(device.get_info<tavir::gpu_slices>()) *
                        device.get_info<tavir::gpu_subslices_per_slice>();
    return status_success;
  }
  int status = 0;
  const qez_gpu_arch_t architecture = gpu::get_architecture(&status, b->queue);
  const architecture_geometry* g = geometry_of(architecture);
  if (status != 0 || g == nullptr) return status_internal_error;
  const std::int64_t eu_count = gpu::get_eu_count(b->queue);
  if (eu_count < g->eus_per_subslice || eu_count % g->eus_per_subslice != 0) return status_internal_error;
  b->threads_per_eu = g->threads_per_eu;
  b->threads_per_subslice = g->threads_per_eu * g->eus_per_subslice;
  b->subslice_count = eu_count / g->eus_per_subslice;
  return status_success;
}

template <class T>
void store_plan(block<T>* b, const factor_plan& p, const launch_geometry& g) {
  b->fft_len = b->length;
  std::copy(p.fact, p.fact + factor_count, b->fact);
  b->max_fact = g.max_fact;
  b->subgroup_count = g.subgroup_count;
  b->work_group_size = g.work_group_size;
  b->load_loop_bound = g.load_loop_bound;
  b->load_loop_tail = g.load_loop_tail;
  b->load_store_tail = g.load_store_tail;
}

template <class T>
void format_names(block<T>* b) {
  kernels::copy_name(
      kernels::kernel_name(b->fft_len, "n_fact_slm_" + std::to_string(b->subgroup_size / 2), precision_letter<T>()),
      b->kernel_name, name_bytes);
  for (int f = fact0; f < factor_count; ++f)
    kernels::copy_name(kernels::codelet_name(b->fact[f]), b->fact_func[f], name_bytes);
}

template <class T>
void size_workspace(block<T>* b, DFTI_DESCRIPTOR* record) {
  const factor_plan p{{b->fact[fact0], b->fact[fact1], b->fact[fact2], b->fact[fact3]}};
  record->workspace_bytes[0] = 0;
  for (int a = area_0; a < area_count; ++a) {
    const std::uint64_t raw = area_raw_bytes<T>(static_cast<factor_area>(a), p);
    b->area_bytes[a] = raw == 0 ? 0 : pad_to_base_addr_align(raw, b->queue);
    record->workspace_bytes[0] += b->area_bytes[a];
  }
  b->main_table_bytes =
      pad_to_base_addr_align(main_table_raw_bytes<T>(b->max_fact, b->subgroup_count, b->subgroup_size), b->queue);
  record->workspace_bytes[0] += b->directions == directions_both ? 2 * b->main_table_bytes : b->main_table_bytes;
  record->workspace_bytes[1] = 0;
}

// Transforms of a batch must not write over one another (nor, in place,
// over input another work-group has still to read).
template <class T>
bool batch_layout_is_safe(const block<T>* b) {
  if (b->batch.howmany <= 1) return true;
  for (bool forward : {true, false}) {
    const direction_distances d = distances_of(b->batch, forward);
    if (d.odist < b->length && d.odist > -b->length) return false;
    if (b->in_place && d.idist != d.odist) return false;
  }
  return true;
}

}  // namespace

template <class T>
int plan_on_device(block<T>* b, DFTI_DESCRIPTOR* record) {
  query_device(b);
  const int gate = pass_architecture_gate(b);
  if (gate != status_success) return gate;
  if (b->subgroup_size < smallest_planned_subgroup) return status_not_handled;

  factor_plan p;
  launch_geometry g;
  if (!find_factor_plan(b->length, b->subgroup_size, &p)) return status_not_handled;
  if (!derive_geometry(b->length, p, b->subgroup_size, b->max_work_group_size, &g)) return status_not_handled;
  store_plan(b, p, g);
  b->slm_bytes = slm_bytes_of<T>(b->length);
  if (b->slm_bytes > b->local_mem_size) return status_not_handled;
  format_names(b);

  copy_batch_layout(&b->batch, record);
  if (!batch_layout_is_safe(b)) return status_not_handled;
  b->fwd_scale = static_cast<T>(record->fwd_scale);
  b->bwd_scale = static_cast<T>(record->bwd_scale);
  b->directions = record->directions;
  size_workspace(b, record);
  return status_success;
}

// ---------------------------------------------------------------------------
// Pure planning.

bool find_factor_plan(std::int64_t length, std::int64_t subgroup_size, factor_plan* plan) {
  if (subgroup_size != 16 && subgroup_size != 32) return false;
  for (const factor_row& row : factor_rows) {
    if (row.length != length) continue;
    const factor_plan& p = row.by_subgroup[subgroup_size == 16 ? 0 : 1];
    if (p.fact[fact0] == 0) return false;
    *plan = p;
    return true;
  }
  return false;
}

bool derive_geometry(std::int64_t length, const factor_plan& plan, std::int64_t subgroup_size,
                     std::int64_t max_work_group_size, launch_geometry* g) {
  const std::int64_t s = subgroup_size;
  g->max_fact = plan.fact[fact3];
  const std::int64_t items = 2 * length / g->max_fact;  // L
  g->subgroup_count = (items + s - 1) / s;
  // A work-group is whole sub-groups: a device limit that is not a multiple
  // of S is taken down to one.
  const std::int64_t device_limit = max_work_group_size / s * s;
  if (device_limit < s) return false;
  g->work_group_size = std::min(device_limit, g->subgroup_count * s);
  g->load_loop_bound = items == g->work_group_size ? 0 : items / g->work_group_size;
  g->load_loop_tail = (items % g->work_group_size) / s;
  g->load_store_tail = (length / g->max_fact) % (s / 2);
  return true;
}

std::int64_t float_transform_floor(std::int64_t length) {
  for (const transform_floor& f : float_floors)
    if (f.length == length) return f.min_transforms;
  return 1;
}

template <class T>
std::string describe(const block<T>& b) {
  std::ostringstream s;
  s << "n_facts_slm " << precision_letter<T>() << " N=" << b.fft_len << " factors=" << b.fact[fact0] << "x"
    << b.fact[fact1] << "x" << b.fact[fact2] << "x" << b.fact[fact3] << " S=" << b.subgroup_size
    << " wg=" << b.work_group_size << " subgroups=" << b.subgroup_count << " loop=" << b.load_loop_bound
    << " slm=" << b.slm_bytes << " kernel=" << b.kernel_name;
  return s.str();
}

// ---------------------------------------------------------------------------
// Acceptance, commit and release.

template <class T>
bool accepts(const DFTI_DESCRIPTOR* r) {
  if (!unit_stride_1d_single_batch(r)) return false;
  const dim_record& d = r->work_lengths.records[0];
  if (!zero_offsets(r)) return false;
  if (!is_double<T>() && r->work_batch.records[0].length < float_transform_floor(d.length)) return false;
  return true;
}

template <class T>
int bkd_init(DFTI_DESCRIPTOR* record) {
  block<T>* b = create_block<block<T>>(record);
  if (b == nullptr) return status_allocation_failed;
  if (!take_record_basics(b, record)) return status_internal_error;

  // Device and architecture queries that throw make the device unusable here.
  const int status = status_unless_thrown(status_internal_error, [&] { return plan_on_device(b, record); });
  if (status != status_success) return status;
  // The maker with the backend's own add_workspace.
  auto create = [](DFTI_DESCRIPTOR* r) { return create_and_initialize_internal_workspaces<T>(r); };
  return make_workspace_and_kernels(record, b, create);
}

// Runs the device planning on a scratch block: a plan the device cannot
// carry is declined before the record (and any earlier plan on it) is
// touched. Failures other than "does not apply" are left to bkd_init.
template <class T>
bool plan_fits_device(DFTI_DESCRIPTOR* record) {
  if (record->queue == nullptr) return false;
  auto* probe = static_cast<block<T>*>(allocate_zeroed_block(sizeof(block<T>)));
  if (probe == nullptr) return true;
  probe->in_place = record->placement == dfti_inplace;
  probe->length = record->work_lengths.records[0].length;
  probe->queue = static_cast<sycl::queue*>(record->queue);
  const int status = status_unless_thrown(status_internal_error, [&] { return plan_on_device(probe, record); });
  free_block(probe);
  return status != status_not_handled;
}

// The record's tests, then a probe of the device planning, before the
// commit touches the record; nothing half-built stays behind a failed
// commit, thrown or not.
QEZ_DEFINE_1D_BACKEND_POLICY((acceptance_when<accepts<T>, plan_fits_device<T>>), destroy_record_block<block<T>>)

#define QEZ_INSTANTIATE(T)                                     \
  template bool accepts<T>(const DFTI_DESCRIPTOR*);            \
  template int plan_on_device<T>(block<T>*, DFTI_DESCRIPTOR*); \
  QEZ_INSTANTIATE_BLOCK_COMMIT_ENTRIES(T)                      \
  template bool plan_fits_device<T>(DFTI_DESCRIPTOR*);
QEZ_FOR_EACH_PRECISION(QEZ_INSTANTIATE)
#undef QEZ_INSTANTIATE

}  // namespace n_facts_slm

QEZ_DEFINE_BACKEND_TABLES(dft_c2c_n_facts_gpu_bkd, n_facts_slm)

}  // namespace ulmara::qez::dft
