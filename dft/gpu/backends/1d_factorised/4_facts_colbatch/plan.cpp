// Acceptance, planning, commit and release of the four-factor column-batch
// backend, and its backend tables.
#include <algorithm>
#include <climits>
#include <cstdio>
#include <sstream>
#include <vector>

#include "dft/api/status_codes.hpp"
#include "dft/gpu/backends/1d_factorised/4_facts_colbatch/plan.hpp"
#include "dft/gpu/core/alloc_hooks.hpp"
#include "dft/gpu/core/backend_catalogue.hpp"
#include "dft/gpu/core/backend_protocol.hpp"
#include "dft/gpu/core/ceil_div.hpp"
#include "dft/gpu/core/commit_policies.hpp"
#include "dft/gpu/core/first_tests.hpp"
#include "dft/gpu/core/internal_workspace_step.hpp"
#include "dft/gpu/core/probe_planning.hpp"
#include "dft/gpu/core/record_queue.hpp"
#include "dft/gpu/core/sub_group_sizes.hpp"
#include "dft/gpu/kernels/program_names.hpp"
#include "gpu/service/device_registry.hpp"
#include "ulmara/qez/exceptions.hpp"

namespace ulmara::qez::dft {
namespace four_factor_colbatch {

namespace {

// Architectures the plans are made for, with their EUs per sub-slice: the
// EU count must be a whole number of sub-slices.
struct admitted_architecture {
  qez_gpu_arch_t architecture;
  std::int64_t eus_per_subslice;
};
constexpr admitted_architecture admitted_architectures[] = {
    {QEZ_GPU_ARCH_DORIK, 16},
    {QEZ_GPU_ARCH_GULON, 16},
    {QEZ_GPU_ARCH_HARIX, 8},
    {QEZ_GPU_ARCH_JORVA, 8},
};

const admitted_architecture* admitted(qez_gpu_arch_t a) {
  for (const admitted_architecture& g : admitted_architectures)
    if (g.architecture == a) return &g;
  return nullptr;
}

std::int64_t input_side(const dim_record& d, dim_field other) { return d.input != 0 ? d.input : dim_value(d, other); }
std::int64_t output_side(const dim_record& d, dim_field other) {
  return d.output != 0 ? d.output : dim_value(d, other);
}

// The second batch dimension's distances of a direction (0 when absent).
template <class T>
direction_distances outer_distances(const block<T>& s, direction d) {
  return distances_of(s.batch[1], d == dir_forward);
}

template <class T>
std::int64_t outer_count(const block<T>& s) {
  return s.batch[1].howmany;
}

// ---------------------------------------------------------------------------
// Steps of bkd_init that read the device and the record but write neither.

// The queue, the architecture, the device limits, and the gate that admits
// only the architectures the plans are made for.
template <class T>
int query_device(block<T>* s, const DFTI_DESCRIPTOR* record) {
  if (!take_record_queue(s, record)) return status_internal_error;
  int status = 0;
  try {
    s->architecture = gpu::get_architecture(&status, s->queue);
  } catch (const std::exception&) {
    // A GPU the library does not recognise is not one the plans are made for.
    return status_not_handled;
  }
  if (status != 0) return status_not_handled;
  try {
    const sycl::device device = s->queue->get_device();
    s->min_sub_group_size = smallest_sub_group_size(device);
    s->max_work_group_size = device.get_info<sycl::info::device::max_work_group_size>();
    s->local_mem_size = device.get_info<sycl::info::device::local_mem_size>();
    if (device.has(sycl::aspect::ext_tavir_device_info) && gpu::get_queue_backend(s->queue) == QEZ_GPU_BACKEND_NIVOLO) {
      // The driver reports its own geometry; nothing here depends on it
      // beyond the queries succeeding.
      namespace tavir = sycl::ext::tavir::info::device;
      (void)device.get_info<tavir::gpu_eu_count_per_subslice>();
      (void)device.get_info<tavir::gpu_hw_threads_per_eu>();
      (void)device.get_info<tavir::gpu_slices>();
      (void)device.get_info<tavir::gpu_subslices_per_slice>();
    } else {
      int again = 0;
      const admitted_architecture* a = admitted(gpu::get_architecture(&again, s->queue));
      if (again != 0 || a == nullptr) return status_internal_error;
      const std::int64_t eus = gpu::get_eu_count(s->queue);
      if (eus < a->eus_per_subslice || eus % a->eus_per_subslice != 0) return status_internal_error;
    }
  } catch (const std::exception&) {
    return status_internal_error;
  }
  if (s->min_sub_group_size < static_cast<std::uint64_t>(min_planned_sub_group)) return status_not_handled;
  return status_success;
}

// Strides per direction and, in single precision, the directions
// whose final stores cannot be sub-group blocks.
template <class T>
void read_strides(block<T>* s, const DFTI_DESCRIPTOR* record) {
  const dim_record& row = record->work_lengths.records[0];
  for (direction d : {dir_forward, dir_backward}) {
    if (!serves(s->directions, d)) continue;
    const bool forward = d == dir_forward;
    s->in_stride[d] = input_side(row, forward ? dim_forward : dim_backward);
    s->out_stride[d] = output_side(row, forward ? dim_backward : dim_forward);
    if (is_double<T>()) continue;
    const direction_distances outer = outer_distances(*s, d);
    const auto odd = [](std::int64_t v) { return v > 0 && v % 2 != 0; };
    s->write_final_non_subgroup[d] =
        s->out_stride[d] % 2 != 0 || (s->batch[1].howmany > 0 && (odd(outer.idist) || odd(outer.odist)));
  }
}

// Transforms must not write over one another: output element n of
// transform t of outer index o sits at o * D + t + n * S. In place the
// output must fall where the input was, or a later launch would read
// results as input.
template <class T>
bool layout_is_safe(const block<T>& s, bool in_place) {
  const std::int64_t h = s.batch[0].howmany;
  const std::int64_t outer = outer_count(s);
  for (direction d : {dir_forward, dir_backward}) {
    if (!serves(s.directions, d)) continue;
    const std::int64_t stride = s.out_stride[d];
    if (h > 1 && stride < h) return false;
    const direction_distances od = outer_distances(s, d);
    if (outer > 1) {
      const bool blocks_apart = od.odist >= stride * (s.fft_len - 1) + h;
      const bool within_rows = od.odist >= h && stride >= od.odist * outer;
      if (!blocks_apart && !within_rows) return false;
    }
    if (in_place && (s.in_stride[d] != stride || (outer > 1 && od.idist != od.odist))) return false;
  }
  return true;
}

// Factors, launches, pass plans and sizes.
template <class T>
int plan_sizes(block<T>* s) {
  const std::int64_t sg = static_cast<std::int64_t>(s->min_sub_group_size);
  std::int64_t pair[2];
  if (find_factor_pair(s->fft_len, pair, pass_length_limit<T>(s->local_mem_size, sg)) != status_success)
    return status_not_handled;
  s->len1 = pair[0];
  s->len2 = pair[1];
  if (s->len2 == 1) return status_not_handled;
  if (find_factor_pair(s->len1, pair, max_codelet) != status_success) return status_not_handled;
  s->len1_fact0 = pair[0];
  s->len1_fact1 = pair[1];
  if (find_factor_pair(s->len2, pair, max_codelet) != status_success) return status_not_handled;
  s->len2_fact0 = pair[0];
  s->len2_fact1 = pair[1];
  s->sub_group_size = sg;

  const std::int64_t howmany = s->batch[0].howmany;
  const std::int64_t cw = sg / 2;
  const std::uint64_t e = complex_bytes<T>();
  const std::uint64_t transform_bytes = static_cast<std::uint64_t>(s->fft_len) * e;
  const bool capped = s->architecture == QEZ_GPU_ARCH_HARIX && gpu::get_tile_count(s->queue) == 1;
  const launch_plan l = plan_launches(howmany, outer_count(*s), sg, transform_bytes, capped ? one_tile_cap_bytes : 0);
  s->full_chunks = l.full_chunks;
  s->inner_tail = l.inner_tail;
  s->launches = l.launches;
  s->chunks_per_launch = l.chunks_per_launch;
  s->outer_launches = l.outer_launches;
  s->outer_per_launch = l.outer_per_launch;
  s->outer_tail = l.outer_tail;
  // The kernels take their chunk and outer offsets as int.
  if (chunk_count(l) > INT_MAX || outer_count(*s) > INT_MAX) return status_not_handled;

  const std::int64_t factors[pass_count][2] = {{s->len1_fact0, s->len1_fact1}, {s->len2_fact0, s->len2_fact1}};
  const std::int64_t others[pass_count] = {s->len2, s->len1};
  for (pass p : {pass_0, pass_1}) {
    pass_plan& f = s->passes[p];
    f = plan_pass<T>(p, factors[p][0], factors[p][1], others[p], sg, howmany, s->launches);
    if (f.slm_bytes > s->local_mem_size) return status_not_handled;
    if (static_cast<std::uint64_t>(f.work_group_size) > s->max_work_group_size) return status_not_handled;
    f.large_grf = !is_double<T>() && static_cast<std::uint64_t>(f.work_group_size) <= s->max_work_group_size / 2 &&
                  s->fft_len >= 1048577;
    f.sub_table_bytes = pad_to_base_addr_align(f.sub_table_bytes, s->queue);
  }

  std::int64_t tcols = howmany;
  s->padded_temp = cw <= 2 * howmany;
  if (s->padded_temp) tcols = s->chunks_per_launch * cw;
  if (!s->padded_temp && s->inner_tail == 0)
    throw ::ulmara::qez::exception("dft", "commit", "TEMP catching unintended failure mode during pre-commit testing");
  s->temp_outer_dist = tcols * s->fft_len;
  s->temp_bytes = pad_to_base_addr_align(
      transform_bytes * static_cast<std::uint64_t>(tcols) * static_cast<std::uint64_t>(s->outer_per_launch), s->queue);
  s->cross_table_bytes =
      pad_to_base_addr_align(static_cast<std::uint64_t>(s->fft_len) * static_cast<std::uint64_t>(sg) * e, s->queue);
  return status_success;
}

template <class T>
int plan_on_device(block<T>* s, const DFTI_DESCRIPTOR* record) {
  s->fft_len = record->work_lengths.records[0].length;
  const int device = query_device(s, record);
  if (device != status_success) return device;
  copy_batch_layout(s->batch, record);
  if (is_double<T>() && s->batch[0].howmany == 2 && s->batch[1].howmany > 1) return status_not_handled;
  s->directions = record->directions;
  read_strides(s, record);
  if (!layout_is_safe(*s, record->placement == dfti_inplace)) return status_not_handled;
  s->fwd_scale = static_cast<T>(record->fwd_scale);
  s->bwd_scale = static_cast<T>(record->bwd_scale);
  return plan_sizes(s);
}

template <class T>
void publish_workspace_sizes(const block<T>& s, DFTI_DESCRIPTOR* record) {
  const std::uint64_t cross = s.directions == directions_both ? 2 * s.cross_table_bytes : s.cross_table_bytes;
  record->workspace_bytes[0] = cross + s.passes[pass_1].sub_table_bytes + s.passes[pass_0].sub_table_bytes;
  record->workspace_bytes[1] = s.temp_bytes;
}

}  // namespace

// ---------------------------------------------------------------------------
// Pure planning.

int find_factor_pair(std::int64_t n, std::int64_t pair[2], std::int64_t limit) {
  if (n < 1) return status_internal_error;
  if (n == 1 || limit < 1) return status_not_handled;
  std::int64_t best = limit;
  bool found = false;
  for (std::int64_t v = std::min(limit, n - 1); v >= 2 && best > 0; --v) {
    if (n % v != 0) continue;
    const std::int64_t q = n / v;
    if (q == 1 || q > limit) continue;
    const std::int64_t larger = std::max(q, v);
    const std::int64_t smaller = std::min(q, v);
    if (larger - smaller < best) {
      pair[0] = larger;
      pair[1] = smaller;
      best = larger - smaller;
      found = true;
    }
  }
  if (!found) return status_not_handled;
  return pair[0] * pair[1] == n ? status_success : status_internal_error;
}

template <class T>
std::int64_t pass_length_limit(std::uint64_t local_mem_size, std::int64_t sub_group_size) {
  if (sub_group_size <= 0) return 0;
  const std::uint64_t per_point = (is_double<T>() ? 8u : 4u) * static_cast<std::uint64_t>(sub_group_size);
  return static_cast<std::int64_t>(std::min<std::uint64_t>(local_mem_size / per_point, max_pass_length));
}

launch_plan plan_launches(std::int64_t howmany, std::int64_t outer_count, std::int64_t sub_group_size,
                          std::uint64_t transform_bytes, std::uint64_t cap_bytes) {
  const std::int64_t cw = sub_group_size / 2;
  launch_plan l{};
  l.full_chunks = howmany / cw;
  l.inner_tail = howmany % cw;
  const std::int64_t chunks = l.full_chunks + (l.inner_tail > 0 ? 1 : 0);
  l.launches = 1;
  l.chunks_per_launch = chunks;
  l.outer_launches = outer_count > 0 ? outer_count : 1;
  l.outer_per_launch = 1;
  l.outer_tail = 0;
  if (cap_bytes == 0 || transform_bytes == 0) return l;

  const std::int64_t cap = static_cast<std::int64_t>(cap_bytes / transform_bytes);
  if (cap < cw) {
    l.chunks_per_launch = 1;
    l.launches = chunks;
  } else if (cap < howmany) {
    const std::int64_t k = cap / cw;
    l.launches = ceil_div(chunks, k);
    l.chunks_per_launch = k;
  }
  if (outer_count > 0 && l.launches == 1) {
    const std::uint64_t launch_bytes =
        static_cast<std::uint64_t>(l.chunks_per_launch * cw) * transform_bytes;
    const std::int64_t m = launch_bytes == 0 ? 0 : static_cast<std::int64_t>(cap_bytes / launch_bytes);
    if (m >= 2) {
      if (outer_count >= m) {
        l.outer_per_launch = m;
        l.outer_launches = outer_count / m;
        l.outer_tail = outer_count % m;
      } else {
        l.outer_per_launch = outer_count;
        l.outer_tail = 0;
        l.outer_launches = 1;
      }
    }
  }
  return l;
}

std::int64_t chunk_count(const launch_plan& l) { return l.full_chunks + (l.inner_tail >= 1 ? 1 : 0); }

std::int64_t chunks_of_launch(const launch_plan& l, std::int64_t a) {
  const std::int64_t k = l.chunks_per_launch;
  const std::int64_t last = k >= 2 ? chunk_count(l) % k : 1;
  const bool short_last = last != 0 && l.launches >= 2;
  return short_last && a == l.launches - 1 ? last : k;
}

std::int64_t outer_groups(const launch_plan& l) { return l.outer_launches + (l.outer_tail > 0 ? 1 : 0); }

std::int64_t outer_of_group(const launch_plan& l, std::int64_t b) {
  return b == l.outer_launches ? l.outer_tail : l.outer_per_launch;
}

template <class T>
pass_plan plan_pass(pass p, std::int64_t fact0, std::int64_t fact1, std::int64_t other,
                                  std::int64_t sub_group_size, std::int64_t howmany, std::int64_t launches) {
  pass_plan f{};
  f.fft_len = fact0 * fact1;
  f.fact0 = fact0;
  f.fact1 = fact1;
  f.sub_group_size = sub_group_size;
  f.sub_groups = fact1;
  f.num_workgroups = other;
  f.work_group_size = fact1 * sub_group_size;
  f.slm_bytes = static_cast<std::uint64_t>(f.fft_len * sub_group_size) * sizeof(T);
  f.howmany = howmany;
  f.howmany_per_launch = launches > 0 ? howmany / launches : howmany;
  f.transforms_per_group = sub_group_size / 2;
  f.global_size = other * fact1 * sub_group_size;
  f.multifactor_twiddle = p == pass_1 ? 1 : 0;
  f.transpose_kernel = p == pass_0 ? 1 : 0;
  kernels::copy_name(kernels::colbatch_kernel_name(f.fft_len, sub_group_size / 2, precision_letter<T>()), f.kernel_name,
                     name_bytes);
  kernels::copy_name(kernels::codelet_name(fact0), f.fact0_func, name_bytes);
  kernels::copy_name(kernels::codelet_name(fact1), f.fact1_func, name_bytes);
  f.sub_table_bytes = static_cast<std::uint64_t>(fact0 * fact1) * complex_bytes<T>();
  return f;
}

template <class T>
std::string describe(const block<T>& s) {
  std::ostringstream o;
  o << "four_factor_colbatch " << precision_letter<T>() << " N=" << s.fft_len << " len=" << s.len1 << "x" << s.len2
    << " factors=" << s.len1_fact0 << "x" << s.len1_fact1 << "," << s.len2_fact0 << "x" << s.len2_fact1
    << " sg=" << s.sub_group_size << " wg=" << s.passes[pass_0].work_group_size << "," << s.passes[pass_1].work_group_size
    << " chunks=" << s.full_chunks << "+" << s.inner_tail << " launches=" << s.launches << "x"
    << s.chunks_per_launch << " outer=" << s.outer_launches << "x" << s.outer_per_launch << "+" << s.outer_tail
    << " temp=" << s.temp_bytes << (s.padded_temp ? " padded" : " packed") << " kernels=" << s.passes[pass_0].kernel_name
    << "," << s.passes[pass_1].kernel_name;
  return o.str();
}

// ---------------------------------------------------------------------------
// Acceptance, commit and release.

bool accepts(const DFTI_DESCRIPTOR* r) {
  if (!no_fused_twiddle(r) || !complex_interleaved(r)) return false;
  // A column batch needs a batch row; three or more batch dimensions are
  // not served.
  if (working_rank(r) != 1 || batch_rank(r) < 1 || batch_rank(r) >= 3) return false;
  const dim_record& first = r->work_batch.records[0];
  if (first.input != 1 && first.forward != 1) return false;
  if (first.output != 1 && first.backward != 1) return false;
  return zero_offsets(r);
}

template <class T>
int bkd_init(DFTI_DESCRIPTOR* record) {
  auto* s = create_block<block<T>>(record);
  if (s == nullptr) return status_allocation_failed;
  const int planned = plan_on_device(s, record);
  if (planned != status_success) return planned;
  publish_workspace_sizes(*s, record);
  return make_workspace_and_kernels(record, s, create_and_initialize_internal_workspaces<T>);
}

// The record's tests, then a probe plan, before the commit touches the
// record.
QEZ_DEFINE_1D_BACKEND_POLICY((acceptance_by_probe<block<T>, accepts, plan_on_device<T>>),
                             destroy_record_block<block<T>>)

#define QEZ_INSTANTIATE(T)                                                                 \
  template std::int64_t pass_length_limit<T>(std::uint64_t, std::int64_t);                 \
  template pass_plan plan_pass<T>(pass, std::int64_t, std::int64_t, std::int64_t,          \
                                                std::int64_t, std::int64_t, std::int64_t); \
  QEZ_INSTANTIATE_BLOCK_COMMIT_ENTRIES(T)
QEZ_FOR_EACH_PRECISION(QEZ_INSTANTIATE)
#undef QEZ_INSTANTIATE

}  // namespace four_factor_colbatch

QEZ_DEFINE_BACKEND_TABLES(dft_c2c_4_facts_colbatch_gpu_bkd, four_factor_colbatch)

}  // namespace ulmara::qez::dft
