// Acceptance, planning, commit and release of the four-factor backend, and
// its backend tables.
#include <algorithm>
#include <climits>
#include <cstdlib>
#include <sstream>
#include <vector>

#include "dft/api/status_codes.hpp"
#include "dft/gpu/backends/1d_factorised/4_facts/plan.hpp"
#include "dft/gpu/core/backend_catalogue.hpp"
#include "dft/gpu/core/backend_protocol.hpp"
#include "dft/gpu/core/commit_policies.hpp"
#include "dft/gpu/core/guarded_step.hpp"
#include "dft/gpu/core/first_tests.hpp"
#include "dft/gpu/core/internal_workspace_step.hpp"
#include "dft/gpu/core/probe_planning.hpp"
#include "dft/gpu/core/record_queue.hpp"
#include "dft/gpu/core/single_batch_1d_test.hpp"
#include "dft/gpu/core/sub_group_sizes.hpp"
#include "gpu/service/device_registry.hpp"

namespace ulmara::qez::dft {
namespace four_factor {

namespace {

// Architectures the kernels are tuned for, with the EUs of one sub-slice
// (16 on Dorik and Gulon, 8 on Harix and Jorva): the launch sizes assume
// whole sub-slices, so the EU count must be a positive multiple of it.
struct admitted_architecture {
  qez_gpu_arch_t architecture;
  int eu_group;
};
constexpr admitted_architecture admitted_architectures[] = {
    {QEZ_GPU_ARCH_DORIK, 16}, {QEZ_GPU_ARCH_GULON, 16}, {QEZ_GPU_ARCH_HARIX, 8}, {QEZ_GPU_ARCH_JORVA, 8}};

// A one-tile Harix device has one tile's memory: its intermediate area is
// kept to a third of this budget (64 MiB), and a larger batch runs in
// chunks of whole transforms.
constexpr std::uint64_t one_tile_temp_budget = 0xC000000;

bool is_prime(std::int64_t v) {
  if (v < 2) return false;
  for (std::int64_t d = 2; d * d <= v; ++d)
    if (v % d == 0) return false;
  return true;
}

bool sub_length_usable(std::int64_t m, factor_split* split) {
  return m <= max_sub_length && split_sub_length(m, split);
}

// The device check: a Nivolo queue on a device with the vendor queries
// passes; otherwise an admitted architecture with a whole number of EU
// groups. 0 or 7.
int check_device(sycl::queue* queue) {
  const sycl::device device = queue->get_device();
  if (device.has(sycl::aspect::ext_tavir_device_info) && gpu::get_queue_backend(queue) == QEZ_GPU_BACKEND_NIVOLO)
    return status_success;
  int status = 0;
  const qez_gpu_arch_t arch = gpu::get_architecture(&status, queue);
  if (status != 0) return status_internal_error;
  const auto* admitted = std::find_if(std::begin(admitted_architectures), std::end(admitted_architectures),
                                      [arch](const admitted_architecture& a) { return a.architecture == arch; });
  if (admitted == std::end(admitted_architectures)) return status_internal_error;
  const int eus = gpu::get_eu_count(queue);
  if (eus < admitted->eu_group || eus % admitted->eu_group != 0) return status_internal_error;
  return status_success;
}

// Steps of the commit that ask the device: architecture, sub-group sizes,
// local memory and the device check. 0, 100 or 7.
template <class T>
int read_device(block<T>* s, std::uint64_t* max_work_group) {
  int status = 0;
  s->architecture = gpu::get_architecture(&status, s->queue);
  if (status != 0) return status_not_handled;
  const sycl::device device = s->queue->get_device();
  s->min_sub_group_size = static_cast<std::int64_t>(smallest_sub_group_size(device));
  if (s->min_sub_group_size == 0) return status_not_handled;
  s->local_mem_size = device.get_info<sycl::info::device::local_mem_size>();
  *max_work_group = device.get_info<sycl::info::device::max_work_group_size>();
  return check_device(s->queue);
}

template <class T>
int read_device_guarded(block<T>* s, std::uint64_t* max_work_group) {
  // An unrecognised GPU or a failing query: not a device to plan for.
  return status_unless_thrown(status_internal_error, [&] { return read_device(s, max_work_group); });
}

// Batch distances: with two or more transforms both sides step by N.
bool batch_layout_fits(const batch_layout_row& b, std::int64_t length) {
  if (b.howmany < 2) return true;
  if (b.io_distances != 0) return b.in_distance == length && b.out_distance == length;
  return b.fwd_distance == length && b.bwd_distance == length;
}

template <class T>
void store_split(block<T>* s, const length_split& l) {
  s->len1 = l.len1;
  s->len2 = l.len2;
  s->len1_fact0 = l.split1.larger;
  s->len1_fact1 = l.split1.smaller;
  s->len2_fact0 = l.split2.larger;
  s->len2_fact1 = l.split2.smaller;
}

// Both passes; 100 when one does not fit the device's work-group or local
// memory.
template <class T>
int plan_passes(block<T>* s, const length_split& l, std::uint64_t max_work_group) {
  s->passes[pass_0] = plan_pass<T>(l.len1, l.split1, l.len2, s->min_sub_group_size);
  s->passes[pass_1] = plan_pass<T>(l.len2, l.split2, l.len1, s->min_sub_group_size);
  for (pass_plan& p : s->passes) {
    if (p.slm_bytes > s->local_mem_size) return status_not_handled;
    if (static_cast<std::uint64_t>(p.work_group_size) > max_work_group) return status_not_handled;
    format_pass_names<T>(&p);
  }
  return status_success;
}

template <class T>
void size_workspace(block<T>* s, DFTI_DESCRIPTOR* record) {
  const std::uint64_t temp = static_cast<std::uint64_t>(s->chunk) * static_cast<std::uint64_t>(s->length) *
                             complex_bytes<T>();
  s->temp_bytes = pad_to_base_addr_align(temp, s->queue);
  s->cross_table_bytes = pad_to_base_addr_align(cross_table_raw_bytes<T>(s->passes[pass_1]), s->queue);
  for (pass_plan& p : s->passes)
    p.sub_table_bytes = pad_to_base_addr_align(static_cast<std::uint64_t>(p.fft_len) * complex_bytes<T>(), s->queue);
  const std::uint64_t cross_tables = s->directions == directions_both ? 2 : 1;
  record->workspace_bytes[0] =
      s->cross_table_bytes * cross_tables + s->passes[pass_1].sub_table_bytes + s->passes[pass_0].sub_table_bytes;
  record->workspace_bytes[1] = s->temp_bytes;
}

// Every step of the commit that reads the record and the device but writes
// neither, into `s` (which holds no resources afterwards): run on a scratch
// block first, so that a record the backend does not take is left as it
// was. The length tests come first: they need no device.
template <class T>
int plan_state(block<T>* s, const DFTI_DESCRIPTOR* record) {
  s->in_place = record->placement == dfti_inplace ? 1 : 0;
  s->length = record->work_lengths.records[0].length;
  length_split split;
  if (s->length < min_length || !choose_sub_lengths(s->length, &split)) return status_not_handled;
  store_split(s, split);
  copy_batch_layout(&s->batch, record);
  if (!batch_layout_fits(s->batch, s->length)) return status_not_handled;
  // The kernels take the chunk position as a 32-bit int.
  if (s->batch.howmany < 1 || s->batch.howmany > INT_MAX) return status_not_handled;

  if (!take_record_queue(s, record)) return status_internal_error;
  std::uint64_t max_work_group = 0;
  const int device_status = read_device_guarded(s, &max_work_group);
  if (device_status != status_success) return device_status;
  if (s->min_sub_group_size < min_planned_sub_group) return status_not_handled;

  s->scale[dir_forward] = static_cast<T>(record->fwd_scale);
  s->scale[dir_backward] = static_cast<T>(record->bwd_scale);
  s->directions = record->directions;
  const int planned = plan_passes(s, split, max_work_group);
  if (planned != status_success) return planned;
  return cap_batch_chunk(s);
}

}  // namespace

// ---------------------------------------------------------------------------
// Pure planning.

bool split_sub_length(std::int64_t m, factor_split* out) {
  if (m <= 2) return false;
  bool found = false;
  std::int64_t best_difference = max_factor;
  factor_split best{0, 0};
  for (std::int64_t d = std::min<std::int64_t>(m, max_factor + 1) - 1; d >= 2; --d) {
    if (m % d != 0) continue;
    const std::int64_t q = m / d;
    if (q == 1 || q > max_factor) continue;
    const std::int64_t larger = std::max(d, q);
    const std::int64_t smaller = std::min(d, q);
    if (larger - smaller < best_difference) {
      best_difference = larger - smaller;
      best = {larger, smaller};
      found = true;
      if (best_difference == 0) break;
    }
  }
  if (!found) return false;
  // 49 x a prime has no codelet pair the kernels use.
  if (best.larger == max_factor && is_prime(best.smaller)) return false;
  *out = best;
  return true;
}

bool choose_sub_lengths(std::int64_t length, length_split* out) {
  bool found = false;
  std::int64_t best_cost = 0;
  for (std::int64_t a = 2; a <= max_sub_length; ++a) {
    if (length % a != 0) continue;
    const std::int64_t b = length / a;
    if (b < 2 || b > max_sub_length) continue;
    factor_split sa, sb;
    if (!sub_length_usable(a, &sa) || !sub_length_usable(b, &sb)) continue;
    const std::int64_t cost = std::abs(a - b) * (a + b);
    if (found && cost >= best_cost) continue;
    found = true;
    best_cost = cost;
    *out = a >= b ? length_split{a, b, sa, sb} : length_split{b, a, sb, sa};
  }
  return found;
}

template <class T>
pass_plan plan_pass(std::int64_t fft_len, const factor_split& split, std::int64_t num_ffts,
                         std::int64_t sub_group_size) {
  pass_plan p{};
  p.fft_len = fft_len;
  p.fact0 = split.larger;
  p.fact1 = split.smaller;
  p.sub_group_size = sub_group_size;
  p.sub_groups_per_group = p.fact1;
  p.work_group_size = sub_group_size * p.fact1;
  p.slm_bytes = static_cast<std::uint64_t>(fft_len * sub_group_size) * sizeof(T);
  p.num_ffts = num_ffts;
  p.ffts_per_sub_group = sub_group_size / 2;
  p.global_size = (num_ffts + p.ffts_per_sub_group - 1) / p.ffts_per_sub_group * p.work_group_size;
  return p;
}

template <class T>
std::uint64_t cross_table_raw_bytes(const pass_plan& pass2) {
  return static_cast<std::uint64_t>(pass2.work_groups() * pass2.ffts_per_sub_group * pass2.fft_len) * 2 *
         complex_bytes<T>();
}

template <class T>
std::int64_t one_tile_chunk(std::int64_t length, std::int64_t howmany) {
  const std::uint64_t per_transform = complex_bytes<T>() * static_cast<std::uint64_t>(length);
  const std::int64_t fitting = static_cast<std::int64_t>(one_tile_temp_budget / per_transform / 3);
  return std::min(howmany, fitting);
}

template <class T>
std::string describe(const block<T>& s) {
  std::ostringstream o;
  o << "four_factor " << precision_letter<T>() << " N=" << s.length << " = " << s.len1 << " (" << s.len1_fact0
    << "x" << s.len1_fact1 << ") x " << s.len2 << " (" << s.len2_fact0 << "x" << s.len2_fact1 << ")";
  for (const pass_plan& p : s.passes)
    o << " | " << p.kernel_name << " wg=" << p.work_group_size << " global=" << p.global_size
      << " slm=" << p.slm_bytes;
  o << " | chunk=" << s.chunk << " temp=" << s.temp_bytes << " cross=" << s.cross_table_bytes;
  return o.str();
}

// ---------------------------------------------------------------------------
// Acceptance, commit and release.

bool accepts(const DFTI_DESCRIPTOR* r) { return unit_stride_1d_single_batch(r) && zero_offsets(r); }

template <class T>
int cap_batch_chunk(block<T>* s) {
  s->chunk = s->batch.howmany;
  if (s->architecture != QEZ_GPU_ARCH_HARIX) return status_success;
  const int tiles = gpu::get_tile_count(s->queue);
  if (tiles < 1) return status_not_handled;
  if (tiles == 1) s->chunk = one_tile_chunk<T>(s->length, s->batch.howmany);
  return status_success;
}

template <class T>
int bkd_init(DFTI_DESCRIPTOR* record) {
  auto* s = create_block<block<T>>(record);
  if (s == nullptr) return status_allocation_failed;
  const int planned = plan_state(s, record);
  if (planned != status_success) return planned;
  size_workspace(s, record);
  return make_workspace_and_kernels(record, s, create_and_initialize_internal_workspaces<T>);
}

// The record's tests, then a probe plan, before the commit touches the
// record.
QEZ_DEFINE_1D_BACKEND_POLICY((acceptance_by_probe<block<T>, accepts, plan_state<T>>), destroy_record_block<block<T>>)

#define QEZ_INSTANTIATE(T)                                                                        \
  template pass_plan plan_pass<T>(std::int64_t, const factor_split&, std::int64_t, std::int64_t); \
  template std::uint64_t cross_table_raw_bytes<T>(const pass_plan&);                              \
  template std::int64_t one_tile_chunk<T>(std::int64_t, std::int64_t);                            \
  template int cap_batch_chunk<T>(block<T>*);                                                     \
  QEZ_INSTANTIATE_BLOCK_COMMIT_ENTRIES(T)
QEZ_FOR_EACH_PRECISION(QEZ_INSTANTIATE)
#undef QEZ_INSTANTIATE

}  // namespace four_factor

QEZ_DEFINE_BACKEND_TABLES(dft_c2c_4_facts_gpu_bkd, four_factor)

}  // namespace ulmara::qez::dft
