// Acceptance, planning and release of the small multi-dimensional backend,
// and its backend tables.
#include <algorithm>
#include <new>

#include "dft/api/status_codes.hpp"
#include "dft/gpu/backends/real_small_md/small_md/plan.hpp"
#include "dft/gpu/core/backend_catalogue.hpp"
#include "dft/gpu/core/ceil_div.hpp"
#include "dft/gpu/core/first_tests.hpp"
#include "dft/gpu/core/kernel_handles.hpp"
#include "dft/gpu/core/layout_helpers.hpp"
#include "dft/gpu/core/workspace_slices.hpp"
#include "gpu/service/architecture.hpp"
#include "gpu/service/device_registry.hpp"

namespace ulmara::qez::dft {
namespace small_md {

namespace {

// Dimension 0 holds at most 2^24 complex values (a real row of 2^25 points
// is 2^24 complex values); dimension 1 is at most two factors of at most 64.
constexpr std::int64_t max_complex_n0 = std::int64_t{1} << 24;
constexpr std::int64_t max_real_n0 = std::int64_t{1} << 25;
constexpr std::int64_t max_outer_length = 4096;
// The kernels share rows between the two halves of a sub-group (sg / 2
// transforms or lanes per half): sub-groups narrower than 16 are not planned.
constexpr std::int64_t min_sub_group_size = 16;
constexpr std::uint32_t queue_backend_opencl = 0, queue_backend_nivolo = 1;
// A driver-specific exclusion: on OpenCL queues the real double transform
// of this length is left to the later backends of the list (Nivolo queues
// keep it).
constexpr std::int64_t real_declined_double_n0 = 2508;

// Input or output stride of a dimension: the given one, or the domain's.
std::int64_t given_or(std::int64_t given, std::int64_t domain) { return given != 0 ? given : domain; }

// EUs per sub-slice and threads per EU of the architectures the backend
// knows without the vendor queries.
struct arch_row {
  std::uint32_t arch;
  std::int64_t eus_per_sub_slice;
  std::int64_t threads_per_eu;
};
constexpr arch_row arch_rows[] = {{3, 16, 7}, {5, 16, 8}, {6, 8, 8}, {7, 8, 8}};

bool is_prime(std::int64_t m) {
  if (m < 2) return false;
  for (std::int64_t d = 2; d * d <= m; ++d)
    if (m % d == 0) return false;
  return true;
}

// ---------------------------------------------------------------------------
// Copies and layout checks.

void copy_descriptor(block& b, const DFTI_DESCRIPTOR* r) {
  b.queue = static_cast<sycl::queue*>(r->queue);
  b.directions = r->directions;
  b.real = r->domain == dfti_real;
  b.in_place = r->placement == dfti_inplace;
  b.rank = working_rank(r);
  b.scales[0] = r->fwd_scale;
  b.scales[1] = r->bwd_scale;
  for (std::int64_t i = 0; i < 2; ++i) {
    if (i >= b.rank) {
      b.lengths[i] = 1;
      continue;
    }
    const dim_record& d = r->work_lengths.records[i];
    b.lengths[i] = d.length;
    b.fwd_in_strides[i] = given_or(d.input, d.forward);
    b.bwd_in_strides[i] = given_or(d.input, d.backward);
    b.fwd_out_strides[i] = given_or(d.output, d.backward);
    b.bwd_out_strides[i] = given_or(d.output, d.forward);
  }
  const dim_record& batch = r->work_batch.records[0];
  b.transforms = batch.length;
  copy_batch_distances(b, batch);
}

// The configuration's per-direction layout.
void fill_layout(const block& b, small_md_kernel_config& c) {
  c.rank = b.rank;
  c.real = b.real;
  c.input_distance[0] = b.io_distances ? b.input_distance : b.forward_distance;
  c.output_distance[0] = b.io_distances ? b.output_distance : b.backward_distance;
  c.input_distance[1] = b.io_distances ? b.input_distance : b.backward_distance;
  c.output_distance[1] = b.io_distances ? b.output_distance : b.forward_distance;
  for (int i = 0; i < 2; ++i) {
    c.input_strides[0][i] = b.fwd_in_strides[i];
    c.input_strides[1][i] = b.bwd_in_strides[i];
    c.output_strides[0][i] = b.fwd_out_strides[i];
    c.output_strides[1][i] = b.bwd_out_strides[i];
  }
  c.scales[0] = b.scales[0];
  c.scales[1] = b.scales[1];
}

// Whether direction d's layout can be computed.
bool layout_usable(const block& b, const small_md_kernel_config& c, int d) {
  const std::int64_t cr = b.real ? 1 : 2;  // fp per real-side element
  const std::int64_t in_fp = d == 0 ? cr : 2, out_fp = d == 0 ? 2 : cr;
  const std::int64_t n0 = b.lengths[0], n1 = b.lengths[1];
  const std::int64_t id = c.input_distance[d], od = c.output_distance[d];
  const std::int64_t is1 = c.input_strides[d][1], os1 = c.output_strides[d][1];
  if (b.in_place) {
    if (b.rank == 2 && is1 * in_fp != os1 * out_fp) return false;
    if (b.transforms >= 2 && id * in_fp != od * out_fp) return false;
  }
  if (b.rank == 2 || b.transforms >= 2) {
    const std::int64_t nr = b.real ? (b.in_place ? 2 * (n0 / 2 + 1) : n0) : n0;
    const std::int64_t nc = b.real ? n0 / 2 + 1 : n0;
    const std::int64_t need_in = d == 0 ? nr : nc, need_out = d == 0 ? nc : nr;
    const std::int64_t have_in = b.rank == 1 ? id : is1, have_out = b.rank == 1 ? od : os1;
    if (have_in < need_in || have_out < need_out) return false;
  }
  if (b.rank == 2 && b.transforms >= 2) {
    if (id != is1 * n1 || od != os1 * n1) return false;
  }
  return true;
}

// ---------------------------------------------------------------------------
// Device geometry.

int query_device(block& b) {
  try {
    const sycl::device device = b.queue->get_device();
    const auto sizes = device.get_info<sycl::info::device::sub_group_sizes>();
    b.geometry.largest_sub_group_size =
        sizes.empty() ? 0 : static_cast<std::int64_t>(*std::max_element(sizes.begin(), sizes.end()));
    b.geometry.max_work_group_size =
        static_cast<std::int64_t>(device.get_info<sycl::info::device::max_work_group_size>());
    b.geometry.local_memory_bytes = static_cast<std::int64_t>(device.get_info<sycl::info::device::local_mem_size>());
    b.base_addr_align_bytes = device.get_info<sycl::info::device::mem_base_addr_align>() / 8;
    b.backend_kind = static_cast<std::uint32_t>(gpu::get_queue_backend(b.queue));
    const bool vendor_info = device.has(sycl::aspect::ext_tavir_device_info);
    if (vendor_info && b.backend_kind == queue_backend_nivolo) {
      namespace vi = sycl::ext::tavir::info::device;
      const std::int64_t h = device.get_info<vi::gpu_hw_threads_per_eu>();
      b.geometry.threads_per_eu = h;
      b.geometry.threads_per_sub_slice = device.get_info<vi::gpu_eu_count_per_subslice>() * h;
      b.geometry.sub_slice_count =
          static_cast<std::int64_t>(device.get_info<vi::gpu_slices>()) * device.get_info<vi::gpu_subslices_per_slice>();
      return status_success;
    }
  } catch (const sycl::exception&) {
    return status_internal_error;
  }
  int status = 0;
  const std::uint32_t arch = static_cast<std::uint32_t>(gpu::get_architecture(&status, b.queue));
  if (status != 0) return status_internal_error;
  const arch_row* row = nullptr;
  for (const arch_row& a : arch_rows)
    if (a.arch == arch) row = &a;
  if (row == nullptr) return status_internal_error;
  const std::int64_t eus = gpu::get_eu_count(b.queue);
  if (eus < row->eus_per_sub_slice || eus % row->eus_per_sub_slice != 0) return status_internal_error;
  b.geometry.threads_per_eu = row->threads_per_eu;
  b.geometry.sub_slice_count = eus / row->eus_per_sub_slice;
  b.geometry.threads_per_sub_slice = row->eus_per_sub_slice * row->threads_per_eu;
  return status_success;
}

// ---------------------------------------------------------------------------
// Candidates.

// Paddings of the row-batch areas, in fp.
std::int64_t input_padding(const small_md_kernel_config& c, int d) {
  const std::int64_t h = c.sub_group_size / 2, l0 = c2c_length(c);
  if (c.factor_counts[0] == 1) return c.real && d == 1 ? 2 : 0;
  return 2 * ((h - (l0 / c.factors[0][0]) % h) % h);
}
std::int64_t output_padding(const small_md_kernel_config& c, int d) {
  const std::int64_t h = c.sub_group_size / 2;
  if (c.factor_counts[0] == 1) return c.real && d == 0 ? 2 : 0;
  const auto pad = [h](std::int64_t x) { return (h - x % h) % h; };
  std::int64_t best = pad(c.factors[0][0]);
  std::int64_t product = c.factors[0][0];
  for (int j = 1; j + 1 < c.factor_counts[0]; ++j) {
    product *= c.factors[0][j];
    best = std::max(best, 2 * pad(product));
  }
  return best;
}

template <class T>
std::int64_t slm_need_fp(const small_md_kernel_config& c, int d) {
  const row_values v = direction_row_values(c, d, is_double<T>());
  const std::int64_t l0 = c2c_length(c), h = c.sub_group_size / 2;
  const std::int64_t rows = c.batch_per_group * dim1_length(c);
  std::int64_t need = 0;
  if (input_copied_in_slm<T>(c, d)) {
    std::int64_t load;
    if (use_load_row_by_row(c, d))
      load = (rows - 1) * v.row_idist_fp + v.input_fp_per_row_min;
    else if (rows == 1)
      load = v.input_fp_per_row_min;
    else
      load = rows * v.input_fp_per_row;
    need = std::max({need, load, (rows - 1) * v.row_idist_fp + 2 * l0 + input_padding(c, d)});
  }
  need = std::max(need, (rows - 1) * v.row_odist_slm_fp + 2 * l0 + output_padding(c, d));
  if (c.real && c.factor_counts[0] >= 2)
    need = std::max(need, (rows - 1) * (d == 1 ? v.row_idist_fp : v.row_odist_slm_fp) + 2 * l0 + 2);
  if (c.rank == 2) {
    const std::int64_t s = c.real && d == 1 ? v.row_idist_fp : v.row_odist_slm_fp;
    need = std::max(need, (rows - 1) * s + 2 * ceil_div(l0 + c.real, h) * h);
  }
  return std::max(need, c.batch_per_group * v.fp_out_per_fft);
}

std::int64_t largest_factor(const small_md_kernel_config& c) {
  std::int64_t m = 1;
  for (int i = 0; i < 2; ++i)
    for (int j = 0; j < 4; ++j) m = std::max(m, c.factors[i][j]);
  return m;
}

template <class T>
bool any_input_in_slm(const small_md_kernel_config& c) {
  for (int d = 0; d < 2; ++d)
    if (c.direction_enabled[d] && input_copied_in_slm<T>(c, d)) return true;
  return false;
}

std::int64_t groups_per_sub_slice(const small_md_kernel_config& x, const device_geometry& g) {
  const std::int64_t threads = x.large_grf ? g.threads_per_sub_slice / 2 : g.threads_per_sub_slice;
  const std::int64_t by_slm = x.slm_bytes > 0 ? g.local_memory_bytes / x.slm_bytes : threads;
  return std::min(by_slm, threads / std::max<std::int64_t>(1, x.threads_per_group));
}

}  // namespace

// ---------------------------------------------------------------------------

int factorize_length(std::int64_t count, std::int64_t length, std::int64_t* out) {
  if (out == nullptr || length == 0 || count < 1 || count > 4) return status_internal_error;
  if (length == 1) return status_not_handled;
  if (count == 1) {
    if (length > max_radix) return status_not_handled;
    out[0] = length;
    return status_success;
  }
  if (length < 3) return status_not_handled;
  std::int64_t best_spread = max_radix;
  bool kept = false;
  std::int64_t trial[4] = {};
  for (std::int64_t f = std::min<std::int64_t>(length, max_radix + 1) - 1; f >= 2; --f) {
    if (length % f != 0) continue;
    if (factorize_length(count - 1, length / f, trial) != status_success) continue;
    // Insert f into the descending list of count - 1 factors.
    std::int64_t at = count - 1;
    for (; at > 0 && trial[at - 1] < f; --at) trial[at] = trial[at - 1];
    trial[at] = f;
    const std::int64_t spread = trial[0] - trial[count - 1];
    if (spread < best_spread) {
      best_spread = spread;
      std::copy(trial, trial + count, out);
      kept = true;
      if (spread == 0) break;
    }
  }
  return kept ? status_success : status_not_handled;
}

template <class T>
std::int64_t kernel_config_cost(const small_md_kernel_config& c) {
  const std::int64_t h = c.sub_group_size / 2, l0 = c2c_length(c), k0 = c.factor_counts[0];
  const std::int64_t t = c.threads_per_group, b = c.batch_per_group, n1 = dim1_length(c);
  const std::int64_t r = b * n1;
  const std::int64_t t_row = k0 > 1 ? std::max<std::int64_t>(1, t / r) : 1;
  std::int64_t cost = 0;
  if (k0 == 1) {
    cost = 2 * c.factors[0][0];
  } else {
    const std::int64_t b0 = l0 / c.factors[0][0];
    const std::int64_t lanes = std::max<std::int64_t>(1, std::min(t / r, ceil_div(b0, h)) * h);
    std::int64_t term = c.factors[0][0] * ceil_div(b0, lanes);
    if (any_input_in_slm<T>(c)) term *= 2;
    cost += term;
    std::int64_t before = c.factors[0][0];
    for (int j = 1; j < k0; ++j) {
      const std::int64_t after = l0 / (before * c.factors[0][j]);
      cost += 2 * c.factors[0][j] * ceil_div(ceil_div(before, h) * after, t_row);
      before *= c.factors[0][j];
    }
  }
  if (c.real && k0 >= 2) cost += 4 * ceil_div((l0 + 1) / 2, h * t_row);
  if (c.rank == 2 && n1 >= 2) {
    for (int j = 0; j < c.factor_counts[1]; ++j) {
      const std::int64_t f = c.factors[1][j];
      const std::int64_t per = std::max<std::int64_t>(1, (t / b) / (n1 / f)) * h;
      cost += 2 * f * ceil_div(l0 + c.real, per);
    }
  }
  return cost;
}

template <class T>
std::int64_t first_stage_work(const small_md_kernel_config& c) {
  const std::int64_t m = largest_factor(c);
  if (c.factor_counts[0] == 1 || !any_input_in_slm<T>(c)) return m;
  const std::int64_t h = c.sub_group_size / 2, l0 = c2c_length(c);
  const std::int64_t r = c.batch_per_group * dim1_length(c);
  const std::int64_t b0 = l0 / c.factors[0][0];
  const std::int64_t u = std::max<std::int64_t>(1, std::min(ceil_div(b0, h), c.threads_per_group / r));
  return std::max(m, c.factors[0][0] * ceil_div(b0, u * h));
}

template <class T>
bool compare_kernel_configs(const small_md_kernel_config& a, const small_md_kernel_config& b,
                            std::int64_t transforms, const device_geometry& g) {
  const auto total = [&](const small_md_kernel_config& x) {
    const std::int64_t capacity =
        std::max<std::int64_t>(1, x.batch_per_group * g.sub_slice_count * groups_per_sub_slice(x, g));
    return ceil_div(transforms, capacity) * kernel_config_cost<T>(x);
  };
  const std::int64_t ta = total(a), tb = total(b);
  if (ta != tb) return ta < tb;
  const std::int64_t ca = kernel_config_cost<T>(a), cb = kernel_config_cost<T>(b);
  if (ca != cb) return ca < cb;
  if (a.factor_counts[0] != b.factor_counts[0] || a.factor_counts[1] != b.factor_counts[1]) {
    const std::int64_t fa = first_stage_work<T>(a), fb = first_stage_work<T>(b);
    if (fa != fb) return fa < fb;
    for (int i = 0; i < 2; ++i)
      if (a.factor_counts[i] != b.factor_counts[i]) return a.factor_counts[i] < b.factor_counts[i];
  }
  const std::int64_t t = std::max<std::int64_t>(1, a.large_grf ? g.threads_per_eu / 2 : g.threads_per_eu);
  const std::int64_t ua = ceil_div(a.threads_per_group, t), ub = ceil_div(b.threads_per_group, t);
  if (ua != ub) return ua < ub;
  return a.threads_per_group > b.threads_per_group;
}

template <class T>
int select_group_geometry(small_md_kernel_config& c, std::int64_t transforms, const device_geometry& g) {
  const std::int64_t sg = c.sub_group_size, h = sg / 2, l0 = c2c_length(c), k0 = c.factor_counts[0];
  const std::int64_t b = c.batch_per_group, n1 = dim1_length(c), r = b * n1;
  std::int64_t lo = k0 == 1 ? ceil_div(r, h) : r;
  if (c.rank == 2) lo = std::max(lo, c.factor_counts[1] == 1 ? b : c.factors[1][0] * b);
  std::int64_t hi;
  if (k0 == 1) {
    hi = std::max<std::int64_t>(1, ceil_div(r, h));
  } else {
    hi = r * ceil_div(l0 / c.factors[0][0], h);
    std::int64_t before = c.factors[0][0];
    for (int j = 1; j < k0; ++j) {
      const std::int64_t upto = before * c.factors[0][j];
      hi = std::max(hi, r * (l0 / upto) * ceil_div(before, h));
      before = upto;
    }
    if (c.real) hi = std::max(hi, r * ceil_div(ceil_div(l0, 2), h));
  }
  if (c.rank == 2 && n1 >= 2) {
    const std::int64_t m1 = std::max(c.factors[1][0], c.factors[1][1]);
    hi = std::max(hi, (ceil_div(l0 + c.real, h) * b * n1) / m1);
  }
  std::int64_t cap = std::min(g.max_work_group_size / sg, g.threads_per_sub_slice);
  if (c.large_grf) cap /= 2;
  hi = std::min(hi, cap);
  if (lo > hi) return status_not_handled;
  const std::int64_t m = largest_factor(c);
  const std::int64_t p = c.real && c.rank == 2 ? 1 : 0;
  const std::int64_t skip_above = ceil_div(2 * r * (l0 + p), m * sg);
  small_md_kernel_config best = c;
  best.threads_per_group = lo;
  for (std::int64_t t = lo + 1; t <= hi; ++t) {
    small_md_kernel_config trial = c;
    trial.threads_per_group = t;
    if (t > skip_above && first_stage_work<T>(trial) * t * sg * groups_per_sub_slice(trial, g) *
                                  static_cast<std::int64_t>(sizeof(T)) >
                              2 * g.local_memory_bytes)
      continue;
    if (compare_kernel_configs<T>(trial, best, transforms, g)) best = trial;
  }
  c.threads_per_group = best.threads_per_group;
  return status_success;
}

int create_factor_table_record(block* b, std::uint64_t bytes, int slot) {
  if (slot < 0 || slot >= slot_count || b->tables[slot] != nullptr) return status_internal_error;
  // Every table starts on the device's base-address alignment and on at
  // least 16 bytes, the size of one double-precision complex value.
  const std::uint64_t a = b->base_addr_align_bytes;
  const std::uint64_t step = a > 16 ? a : 16;
  const std::uint64_t small = std::max<std::uint64_t>(1, std::min<std::uint64_t>(a, 16));
  std::uint64_t size = (bytes + step - 1) / step * step;
  while (size % small != 0) size += step;
  auto* record = new (std::nothrow) factor_table_record;
  if (record == nullptr) return status_allocation_failed;
  record->size = size;
  record->event = new (std::nothrow) sycl::event();
  if (record->event == nullptr) {
    delete record;
    return status_allocation_failed;
  }
  b->tables[slot] = record;
  return status_success;
}

int plan_factor_tables(block* b) {
  b->workspace = nullptr;
  b->workspace_kind = 0;
  for (factor_table_record*& t : b->tables) t = nullptr;
  for (int slot = 0; slot < slot_count; ++slot) {
    const std::uint64_t bytes = exact_table_bytes(*b, slot, b->complex_bytes);
    if (bytes == 0) continue;
    const int status = create_factor_table_record(b, bytes, slot);
    if (status != status_success) return status;
  }
  return status_success;
}

namespace {

// The chosen configuration, or status_not_handled when the sub-group size,
// the length or the shared local memory rules every configuration out.
template <class T>
int choose_configuration(block& b) {
  const device_geometry& g = b.geometry;
  const std::int64_t sg = g.largest_sub_group_size, h = sg / 2;
  if (sg < min_sub_group_size) return status_not_handled;
  const std::int64_t n0 = b.lengths[0], n1 = b.lengths[1];
  if (is_double<T>() && b.real && n0 == real_declined_double_n0 && b.backend_kind == queue_backend_opencl)
    return status_not_handled;
  // A complex transform shorter than 32 bytes (2 double, 4 single complex
  // values) fills no sub-group block; one of exactly 32 bytes needs whole
  // groups of sg / 2 transforms.
  if (!b.real && b.rank == 1) {
    const std::int64_t smallest = is_double<T>() ? 2 : 4;
    if (n0 < smallest) return status_not_handled;
    if (n0 == smallest && b.transforms % h != 0) return status_not_handled;
  }
  const std::int64_t l0 = b.real ? n0 / 2 : n0;
  const std::int64_t complex_size = 2 * sizeof(T);
  const std::int64_t min_slm = (b.real ? n0 / 2 + 1 : n0) * n1 * complex_size;
  if (min_slm > g.local_memory_bytes) return status_not_handled;

  small_md_kernel_config base;
  fill_layout(b, base);
  base.direction_enabled[0] = b.forward_usable && (b.directions == 0 || b.directions == 2);
  base.direction_enabled[1] = b.backward_usable && (b.directions == 1 || b.directions == 2);
  base.sub_group_size = sg;

  // Up to four factors per dimension: rank 1 tries one to four factors for
  // dimension 0, rank 2 each of those with one or two for dimension 1.
  std::int64_t caps[2] = {4, 4};
  bool have_best = false;
  small_md_kernel_config best;
  const int candidates = b.rank == 1 ? 4 : 8;
  for (int ci = 0; ci < candidates; ++ci) {
    small_md_kernel_config c = base;
    const std::int64_t counts[2] = {ci % 4 + 1, ci / 4 + 1};
    const std::int64_t lens[2] = {l0, n1};
    bool ok = true;
    for (int d = 0; d < 2 && ok; ++d) {
      c.factor_counts[d] = counts[d];
      for (int j = 0; j < 4; ++j) c.factors[d][j] = 1;
      ok = lens[d] == 1 ? counts[d] == 1 : factorize_length(counts[d], lens[d], c.factors[d]) == status_success;
    }
    if (!ok) continue;
    // In the real kernel a composite row from 37 to 64 points runs better
    // split into factors than as one large codelet; primes have no split.
    if (c.real && c.factor_counts[0] == 1 && l0 >= 37 && l0 <= 64 && !is_prime(l0)) continue;
    bool dropped = false;
    for (int d = 0; d < 2 && !dropped; ++d) {
      if (c.factor_counts[d] > caps[d]) {
        dropped = true;
        break;
      }
      if (caps[d] == 4) {
        const std::int64_t m = c.factors[d][0];
        const bool acceptable = d == 0 ? m <= h : (m == 2 || m == 3 || is_prime(m));
        if (acceptable) caps[d] = c.factor_counts[d];
      }
    }
    if (dropped) continue;
    c.batch_per_group = b.rank == 1 && c.factor_counts[0] == 1 ? std::min(h, b.transforms) : 1;
    const std::int64_t rest = b.transforms % c.batch_per_group;
    c.batch_for_last_group = rest == 0 ? c.batch_per_group : rest;
    std::int64_t need = 0;
    for (int d = 0; d < 2; ++d)
      if (c.direction_enabled[d]) need = std::max(need, slm_need_fp<T>(c, d));
    c.slm_bytes = need * static_cast<std::int64_t>(sizeof(T));
    if (c.slm_bytes > g.local_memory_bytes) continue;
    if (select_group_geometry<T>(c, b.transforms, g) != status_success) continue;
    if (!have_best || compare_kernel_configs<T>(c, best, b.transforms, g)) {
      best = c;
      have_best = true;
    }
  }
  if (!have_best) return status_not_handled;

  if (b.rank == 1 && !best.large_grf) {
    const std::int64_t by_slm = g.local_memory_bytes / std::max<std::int64_t>(1, best.slm_bytes);
    const std::int64_t by_threads = g.threads_per_sub_slice / best.threads_per_group;
    if (by_slm >= by_threads && by_threads > 0) {
      const std::int64_t gg = std::min(g.max_work_group_size / sg, g.threads_per_sub_slice / 2) / by_threads;
      if (gg != 0) {
        const std::int64_t unit = first_stage_work<T>(best) * sg * static_cast<std::int64_t>(sizeof(T));
        const std::int64_t data = l0 * best.batch_per_group * n1 * complex_size;
        const std::int64_t a = ceil_div(data, best.threads_per_group * unit);
        const std::int64_t bb = ceil_div(data, gg * unit);
        if (bb <= a) {
          small_md_kernel_config large = best;
          large.large_grf = 1;
          if (select_group_geometry<T>(large, b.transforms, g) == status_success) best = large;
        }
      }
    }
  }
  b.config = best;
  return status_success;
}

}  // namespace

int acceptance(const DFTI_DESCRIPTOR* r) {
  // A record that is not on a queue cannot be planned for a device: like
  // every other backend, decline it without touching it.
  if (r->queue == nullptr) return status_not_handled;
  if (r->fused_twiddle_length > 0) return status_not_handled;
  if (r->domain == dfti_real) {
    if (!real_conjugate_even_packed(r)) return status_not_handled;
    if (r->work_lengths.count < 1 || r->work_lengths.records[0].length % 2 != 0) return status_not_handled;
  } else if (r->domain == dfti_complex) {
    if (r->complex_storage != dfti_complex_complex) return status_not_handled;
  } else {
    return status_bad_descriptor;
  }
  if (working_rank(r) > 2 || batch_rank(r) != 1) return status_not_handled;
  const dim_record& d0 = r->work_lengths.records[0];
  if (given_or(d0.input, d0.forward) != 1 || given_or(d0.output, d0.backward) != 1) return status_not_handled;
  if (!zero_offsets(r) || working_rank(r) < 1) return status_not_handled;
  const std::int64_t n0_cap = r->domain == dfti_real ? max_real_n0 : max_complex_n0;
  if (d0.length > n0_cap) return status_not_handled;
  for (std::int32_t i = 1; i < working_rank(r); ++i)
    if (r->work_lengths.records[i].length > max_outer_length) return status_not_handled;
  return status_success;
}

template <class T>
int bkd_init(DFTI_DESCRIPTOR* r) {
  block* b = create_block<block>(r);
  if (b == nullptr) return status_allocation_failed;
  copy_descriptor(*b, r);
  b->in_order = r->offload_mode != offload_none || b->queue == nullptr ? 0 : b->queue->is_in_order();

  small_md_kernel_config probe;
  fill_layout(*b, probe);
  b->forward_usable = layout_usable(*b, probe, 0);
  b->backward_usable = layout_usable(*b, probe, 1);
  if (!b->forward_usable && !b->backward_usable) return status_not_handled;
  if (b->directions == directions_forward && !b->forward_usable) return status_not_handled;
  if (b->directions == directions_backward && !b->backward_usable) return status_not_handled;
  if (b->transforms < 1) return status_not_handled;

  if (b->queue == nullptr) return status_internal_error;
  int status = query_device(*b);
  if (status != status_success) return status;
  status = choose_configuration<T>(*b);
  if (status != status_success) return status;

  b->complex_bytes = 2 * sizeof(T);
  status = plan_factor_tables(b);
  if (status != status_success) return status;
  std::uint64_t part0 = 0;
  for (const factor_table_record* t : b->tables)
    if (t != nullptr) part0 += t->size;
  r->workspace_bytes[workspace_part_twiddles] = part0;
  r->workspace_bytes[workspace_part_scratch] = 0;
  if (r->workspace_internal != 0) {
    status = create_two_part_internal_workspace(r, b->queue, add_workspace<T>, b->internal_persistent,
                                                b->internal_scratch, b->workspace_kind, plan_basics::workspace_internal);
    if (status != status_success) return status;
  }
  return build_small_md_kernel<T>(b);
}

// Frees the block also when planning stopped before the queue was copied:
// nothing else would free it.
void bkd_destroy(DFTI_DESCRIPTOR* r) {
  block* b = block_of(r);
  if (b == nullptr) return;
  bkd_free_buffers(b, workspace_part_both);
  for (factor_table_record*& t : b->tables) {
    if (t == nullptr) continue;
    delete t->event;
    delete t;
    t = nullptr;
  }
  release_kernel_handles(b->kernels);
  destroy_block<block>(r);
}

#define QEZ_INSTANTIATE(T)                                                                              \
  template int bkd_init<T>(DFTI_DESCRIPTOR*);                                                           \
  template int select_group_geometry<T>(small_md_kernel_config&, std::int64_t, const device_geometry&); \
  template bool compare_kernel_configs<T>(const small_md_kernel_config&, const small_md_kernel_config&, \
                                          std::int64_t, const device_geometry&);                        \
  template std::int64_t kernel_config_cost<T>(const small_md_kernel_config&);                           \
  template std::int64_t first_stage_work<T>(const small_md_kernel_config&);
QEZ_FOR_EACH_PRECISION(QEZ_INSTANTIATE)
#undef QEZ_INSTANTIATE

}  // namespace small_md

QEZ_DEFINE_BACKEND_TABLES(dft_small_md_gpu_bkd, small_md)

}  // namespace ulmara::qez::dft
