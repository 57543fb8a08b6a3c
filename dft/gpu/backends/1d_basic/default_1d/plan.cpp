#include "dft/gpu/backends/1d_basic/default_1d/plan.hpp"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "dft/gpu/core/base_address_alignment.hpp"
#include "dft/gpu/backends/1d_basic/default_1d/kernel_build.hpp"
#include "dft/gpu/core/option_text.hpp"
#include "dft/gpu/kernels/program_texts.hpp"

namespace ulmara::qez::dft::default_1d {

// ---------------------------------------------------------------------------
// Constants of the plan.

namespace {

// Lengths with a factorisation of their own.
struct fixed_factors {
  std::int64_t length;
  std::array<std::int64_t, pass_count> factors;
};
constexpr fixed_factors fixed_factor_table[] = {
    {75, {15, 5, 1, 1}},
    {135, {15, 9, 1, 1}},
    {128, {8, 16, 1, 1}},
};

// Factor limits tried in turn; the last factor may reach the last limit.
constexpr std::int64_t factor_limits[] = {64, 128, 256};
constexpr std::int64_t last_factor_limit = 256;
// Largest length with a register codelet.
constexpr std::int64_t largest_codelet = 64;
// Codelets the double-precision library holds but this backend never calls.
constexpr std::int64_t double_generic_primes[] = {53, 59, 61};

// Scratch cap per area: the architectures with large memories, and the rest.
constexpr std::uint32_t arch_harix = 6;
constexpr std::uint32_t arch_nopra = 9;
constexpr std::uint32_t arch_fenwa = 4;
constexpr std::uint64_t large_scratch_cap = std::uint64_t{1} << 34;
constexpr std::uint64_t scratch_cap = 44040192;

// Shared-memory mode: transforms per work-group (m) and columns per
// transform (N / f0) of the two fused lengths.
struct fused_length {
  std::int64_t length;
  std::int64_t transforms_per_group;
};
constexpr fused_length fused_lengths[] = {{75, 25}, {135, 15}};

// Lengths from which the register-file option pays on Harix.
template <class T>
constexpr std::int64_t large_register_file_length() {
  return sizeof(T) == sizeof(double) ? 3750706 : 1048577;
}

template <class T>
constexpr std::int64_t element_bytes() {
  return 2 * static_cast<std::int64_t>(sizeof(T));
}
template <class T>
constexpr const char* precision_letter() {
  return sizeof(T) == sizeof(double) ? "d" : "s";
}

}  // namespace

// ---------------------------------------------------------------------------
// Factors.

namespace {

// Largest divisor of m in [2, limit]; else m / p for the first p > limit
// that divides m with p * p <= m; else m.
std::int64_t pick_factor(std::int64_t m, std::int64_t limit) {
  for (std::int64_t d = std::min(m, limit); d >= 2; --d)
    if (m % d == 0) return d;
  for (std::int64_t p = limit + 1; p * p <= m; ++p)
    if (m % p == 0) return m / p;
  return m;
}

std::array<std::int64_t, pass_count> greedy_factors(std::int64_t n, std::int64_t limit) {
  std::array<std::int64_t, pass_count> f = {1, 1, 1, 1};
  std::int64_t rest = n;
  for (int k = 0; k < pass_count - 1 && rest != 1; ++k) {
    f[k] = pick_factor(rest, limit);
    rest /= f[k];
  }
  f[pass_count - 1] = rest;
  return f;
}

bool within_limits(const std::array<std::int64_t, pass_count>& f, std::int64_t limit) {
  return f[0] <= limit && f[1] <= limit && f[2] <= limit && f[3] <= last_factor_limit;
}

}  // namespace

std::array<std::int64_t, pass_count> choose_factors(std::int64_t n) {
  for (const fixed_factors& row : fixed_factor_table)
    if (row.length == n) return row.factors;
  std::array<std::int64_t, pass_count> f{};
  for (std::int64_t limit : factor_limits) {
    f = greedy_factors(n, limit);
    if (within_limits(f, limit)) break;
  }
  return f;
}

template <class T>
bool is_generic_factor(std::int64_t factor) {
  if (factor > largest_codelet) return true;
  if (sizeof(T) != sizeof(double)) return false;
  return std::find(std::begin(double_generic_primes), std::end(double_generic_primes), factor) !=
         std::end(double_generic_primes);
}

// ---------------------------------------------------------------------------
// Layout of the transform.

plan_request request_from_record(const DFTI_DESCRIPTOR* record, std::uint32_t arch,
                                 std::uint64_t base_align_bytes, std::uint64_t cache_bytes) {
  plan_request r;
  r.dimension = record->work_lengths.records[0];
  r.batch_rank = std::min(record->work_batch.count, batch_dims);
  for (int k = 0; k < r.batch_rank; ++k) r.batch[k] = record->work_batch.records[k];
  r.in_place = record->placement == dfti_inplace;
  r.fwd_scale = record->fwd_scale;
  r.bwd_scale = record->bwd_scale;
  r.directions = record->directions;
  r.architecture = arch;
  r.base_align_bytes = base_align_bytes;
  r.cache_bytes = cache_bytes;
  return r;
}

namespace {

std::int64_t given_or(std::int64_t value, std::int64_t fallback) { return value != 0 ? value : fallback; }

template <class T>
void plan_strides(block<T>& b, const plan_request& q) {
  const dim_record& s = q.dimension;
  b.in_stride[dir_forward] = given_or(s.input, s.forward);
  b.in_stride[dir_backward] = given_or(s.input, s.backward);
  if (q.in_place) {
    // One array: the output is where the input was.
    b.out_stride[dir_forward] = b.in_stride[dir_forward];
    b.out_stride[dir_backward] = b.in_stride[dir_backward];
  } else {
    b.out_stride[dir_forward] = given_or(s.output, s.backward);
    b.out_stride[dir_backward] = given_or(s.output, s.forward);
  }
}

template <class T>
void plan_batch(block<T>& b, const plan_request& q) {
  for (int k = 0; k < batch_dims; ++k) {
    b.batch_count[k] = 1;
    b.dist_in_out[k] = b.in_dist[k] = b.out_dist[k] = b.fwd_dist[k] = b.bwd_dist[k] = 0;
  }
  for (int k = 0; k < q.batch_rank; ++k) {
    const dim_record& r = q.batch[k];
    b.batch_count[k] = r.length;
    b.in_dist[k] = r.input;
    b.out_dist[k] = r.output;
    b.fwd_dist[k] = r.forward;
    b.bwd_dist[k] = r.backward;
    // In place an output distance left unset is the input one.
    const bool output_known = r.output != 0 || q.in_place;
    b.dist_in_out[k] = r.forward == 0 && r.backward == 0 && r.input != 0 && output_known;
  }
}

// Area per scratch buffer and transforms per chunk.
template <class T>
void plan_chunks(block<T>& b) {
  const bool large_memory = b.architecture == arch_harix || b.architecture == arch_nopra;
  const std::uint64_t cap = large_memory ? large_scratch_cap : scratch_cap;
  const std::uint64_t transform = static_cast<std::uint64_t>(b.length * element_bytes<T>());
  const std::uint64_t all = static_cast<std::uint64_t>(total_transforms(b)) * transform;
  const std::uint64_t area = all < cap ? all : std::max(transform, cap);
  b.area_bytes = area;
  b.chunk = static_cast<std::int64_t>(area / transform);
}

template <class T>
void plan_shared_memory(block<T>& b) {
  b.slm_mode = 0;
  b.slm_bytes = 0;
  for (const fused_length& f : fused_lengths) {
    if (b.length != f.length) continue;
    const std::int64_t m = f.transforms_per_group, total = total_transforms(b);
    if (b.chunk < m || (b.chunk % m != 0 && b.chunk >= total)) return;
    b.slm_mode = 1;
    b.slm_bytes = m * b.length * element_bytes<T>();
    if (b.chunk < total) b.chunk -= b.chunk % m;
  }
}

template <class T>
std::uint64_t plan_areas(block<T>& b, std::uint64_t base_align_bytes) {
  const bool normal = b.slm_mode == 0;
  b.need_area[area_a] = normal && (b.factors[1] >= 2 || b.in_place != 0);
  b.need_area[area_b] = normal && b.factors[2] >= 2;
  b.area_bytes = pad_to_alignment(b.area_bytes, base_align_bytes);
  return b.area_bytes * static_cast<std::uint64_t>(b.need_area[area_a] + b.need_area[area_b]);
}

template <class T>
void plan_names(block<T>& b) {
  for (int k = 0; k < pass_count; ++k) {
    kernels::copy_name(kernels::kernel_name(b.length, "fact" + std::to_string(k), precision_letter<T>()),
                       b.kernel_names[k], kernel_name_bytes);
    const std::int64_t f = b.factors[k];
    if (is_generic_factor<T>(f))
      std::snprintf(b.func_names[k], kernel_name_bytes, "%s", f % 2 ? "ODD_DEFAULT_FUNC" : "EVEN_DEFAULT_FUNC");
    else
      kernels::copy_name(kernels::codelet_name(f), b.func_names[k], kernel_name_bytes);
  }
}

}  // namespace

template <class T>
std::uint64_t fill_plan(block<T>& b, const plan_request& q) {
  b.in_place = q.in_place;
  b.length = q.dimension.length;
  b.architecture = q.architecture;
  b.cache_bytes = q.cache_bytes;
  b.directions = q.directions;
  b.scale[dir_forward] = static_cast<T>(q.fwd_scale);
  b.scale[dir_backward] = static_cast<T>(q.bwd_scale);
  plan_strides(b, q);
  const std::array<std::int64_t, pass_count> f = choose_factors(b.length);
  std::copy(f.begin(), f.end(), b.factors);
  plan_batch(b, q);
  plan_chunks(b);
  plan_shared_memory(b);
  plan_names(b);
  return plan_areas(b, q.base_align_bytes);
}

template <class T>
std::int64_t input_distance(const block<T>& b, std::uint32_t d, int k) {
  if (b.dist_in_out[k]) return b.in_dist[k];
  return d == dir_forward ? b.fwd_dist[k] : b.bwd_dist[k];
}

template <class T>
std::int64_t output_distance(const block<T>& b, std::uint32_t d, int k) {
  if (b.in_place) return input_distance(b, d, k);
  if (b.dist_in_out[k]) return b.out_dist[k];
  return d == dir_forward ? b.bwd_dist[k] : b.fwd_dist[k];
}

// ---------------------------------------------------------------------------
// Kernel arguments of the passes.

namespace {

// Columns of a staged first pass's work-group: the group's tile is
// columns x factor values in local memory.
constexpr std::int64_t staged_columns = 8;

template <class T>
bool first_pass_writes_output(const block<T>& b) {
  return (b.factors[0] == b.length && !b.in_place) || b.slm_mode;
}

}  // namespace

template <class T>
std::int64_t staged_first_pass_columns(const block<T>& b) {
  const std::int64_t f0 = b.factors[0];
  if (first_pass_writes_output(b) || is_generic_factor<T>(f0)) return 0;
  return (b.length / f0) % staged_columns == 0 ? staged_columns : 0;
}

namespace {

template <class T>
kernel_template template_of(const block<T>& b, int k) {
  if (is_generic_factor<T>(b.factors[k])) return kernel_template::generic;
  if (b.slm_mode) return kernel_template::shared_memory;
  return k == 0 && staged_first_pass_columns(b) != 0 ? kernel_template::staged_registers
                                                     : kernel_template::registers;
}

template <class T>
pass_arguments first_pass_arguments(const block<T>& b, std::uint32_t d) {
  const std::int64_t n = b.length, f0 = b.factors[0];
  const bool writes_output = first_pass_writes_output(b);
  const std::int64_t u = writes_output ? b.out_stride[d] : 1;
  pass_arguments a{};
  a.kernel_name = b.kernel_names[0];
  a.do_in_offset = 1;
  a.do_out_offset = writes_output;
  a.do_scale = 1;
  a.do_twiddle = f0 < n;
  a.tw_size = n;
  a.fact = f0;
  a.idist_z = input_distance(b, d, 0);
  a.odist_z = writes_output ? output_distance(b, d, 0) : n;
  a.idist_y = b.in_stride[d];
  a.odist_y = f0 * u;
  a.idist_x = b.in_stride[d];
  a.odist_x = u;
  a.istride = (n / f0) * b.in_stride[d];
  a.ostride = u;
  a.routine = b.func_names[0];
  a.columns = staged_first_pass_columns(b);
  a.cache_bytes = b.cache_bytes;
  if (b.slm_mode) {
    const std::int64_t f1 = b.factors[1];
    a.fact1 = f1;
    a.partition = (f0 + f1 - 1) / f1;
    a.register_count = a.partition * f1;
    a.second_routine = b.func_names[1];
  }
  return a;
}

template <class T>
pass_arguments later_pass_arguments(const block<T>& b, std::uint32_t d, int k) {
  const std::int64_t n = b.length, fk = b.factors[k];
  std::int64_t p = 1;
  for (int j = 0; j < k; ++j) p *= b.factors[j];
  const bool last = p * fk == n;
  const std::int64_t u = last ? b.out_stride[d] : 1;
  pass_arguments a{};
  a.kernel_name = b.kernel_names[k];
  a.do_in_offset = 0;
  a.do_out_offset = last;
  a.do_scale = 0;
  a.do_twiddle = !last;
  a.tw_size = n / p;
  a.fact = fk;
  a.idist_z = n;
  a.odist_z = last ? output_distance(b, d, 0) : n;
  a.idist_y = p;
  a.odist_y = p * fk * u;
  a.idist_x = 1;
  a.odist_x = u;
  a.istride = n / fk;
  a.ostride = p * u;
  a.routine = b.func_names[k];
  return a;
}

template <class T>
bool print_kernel_texts(const block<T>& b, std::uint32_t d, direction_program& p) {
  bool fits = true;
  char text[kernel_text_bytes];
  for (int k = 0; k < pass_count; ++k) {
    const pass_arguments a = k == 0 ? first_pass_arguments(b, d) : later_pass_arguments(b, d, k);
    fits = print_pass_kernel(template_of(b, k), a, text, sizeof text) && fits;
    p.kernel_texts[k] = text;
  }
  return fits;
}

// ---------------------------------------------------------------------------
// Build options and program name.

template <class T>
bool any_generic(const block<T>& b, int parity) {
  for (std::int64_t f : b.factors)
    if (is_generic_factor<T>(f) && f % 2 == parity) return true;
  return false;
}

template <class T>
bool wants_large_register_file(const block<T>& b, bool generic) {
  if (b.architecture == arch_fenwa) return true;
  return b.architecture == arch_harix && !generic && b.length >= large_register_file_length<T>();
}

template <class T>
bool print_options(const block<T>& b, std::uint32_t d, direction_program& p) {
  const bool even = any_generic(b, 0), odd = any_generic(b, 1);
  option_text text(options_bytes, option_overflow::empty_text);
  text.add(
      "-DNONSUBGRP -DFWD_DIR=%d -DBWD_DIR=%d -DSCALE=(ftype)%a %s%s%s-DFACT0=%lld -DFACT1=%lld "
      "-DFACT2=%lld -DFACT3=%lld -DIDIST=%lld -DODIST=%lld -DISTRIDE=%lld -DOSTRIDE=%lld "
      "-DBATCH1=%lld -DBATCH2=%lld -DBATCH3=%lld -DIDIST_Z1=%lld -DIDIST_Z2=%lld -DIDIST_Z3=%lld "
      "-DODIST_Z1=%lld -DODIST_Z2=%lld -DODIST_Z3=%lld ",
      static_cast<int>(1 - d), static_cast<int>(d), static_cast<double>(b.scale[d]),
      even ? "-DNEED_EVEN_DEFAULT " : "", odd ? "-DNEED_ODD_DEFAULT " : "",
      needs_copy_kernel(b) ? "-DNEED_COPY_OUTPUT " : "", static_cast<long long>(b.factors[0]),
      static_cast<long long>(b.factors[1]), static_cast<long long>(b.factors[2]),
      static_cast<long long>(b.factors[3]), static_cast<long long>(b.length),
      static_cast<long long>(output_distance(b, d, 0)), 1LL, static_cast<long long>(b.out_stride[d]),
      static_cast<long long>(b.batch_count[0]), static_cast<long long>(b.batch_count[1]),
      static_cast<long long>(b.batch_count[2]), static_cast<long long>(input_distance(b, d, 0)),
      static_cast<long long>(input_distance(b, d, 1)), static_cast<long long>(input_distance(b, d, 2)),
      static_cast<long long>(output_distance(b, d, 0)), static_cast<long long>(output_distance(b, d, 1)),
      static_cast<long long>(output_distance(b, d, 2)));
  if (wants_large_register_file(b, even || odd)) text.add("%s", "-cl-tavir-256-GRF-per-thread ");
  p.options = text.str();
  return !text.overflowed();
}

template <class T>
bool print_program_name(const block<T>& b, std::uint32_t d, direction_program& p) {
  char text[program_name_bytes];
  std::size_t used = 0;
  const auto append = [&](int written) {
    if (written < 0 || used + static_cast<std::size_t>(written) >= sizeof text) return false;
    used += static_cast<std::size_t>(written);
    return true;
  };
  bool fits =
      append(std::snprintf(text, sizeof text, "%s.qez_dft_gpu_bkd_c2c_1d_nonsubgrp_sycl_%s.%sc%s%s%lld:%lld:%lld",
                           kernels::family_c2c_1d_def, precision_letter<T>(), precision_letter<T>(),
                           d == dir_forward ? "f" : "b", b.in_place ? "i" : "o", static_cast<long long>(b.length),
                           static_cast<long long>(b.in_stride[d]), static_cast<long long>(b.out_stride[d])));
  for (int k = 0; k < batch_dims && fits; ++k) {
    if (b.batch_count[k] < 2) continue;
    fits = append(std::snprintf(text + used, sizeof text - used, "*%lld:%lld:%lld",
                                static_cast<long long>(b.batch_count[k]),
                                static_cast<long long>(input_distance(b, d, k)),
                                static_cast<long long>(output_distance(b, d, k))));
  }
  p.program_name = text;
  return fits;
}

}  // namespace

template <class T>
direction_program describe_program(const block<T>& b, std::uint32_t d) {
  direction_program p;
  const bool texts = print_kernel_texts(b, d, p);
  const bool options = print_options(b, d, p);
  const bool name = print_program_name(b, d, p);
  p.fits = texts && options && name;
  return p;
}

template <class T>
std::string program_source(const block<T>& b, const direction_program& p) {
  std::string source = program_prelude();
  source += kernels::program_text_c2c_1d_def(sizeof(T) == sizeof(double));
  for (int k = 0; k < pass_count; ++k)
    if (pass_runs(b, k)) source += p.kernel_texts[k];
  return source;
}

template <class T>
const char* copy_kernel_name() {
  return sizeof(T) == sizeof(double) ? "copy_output_d" : "copy_output_s";
}

#define QEZ_INSTANTIATE_PLAN(T)                                                            \
  template bool is_generic_factor<T>(std::int64_t);                                        \
  template std::int64_t staged_first_pass_columns<T>(const block<T>&);                     \
  template std::uint64_t fill_plan<T>(block<T>&, const plan_request&);                    \
  template std::int64_t input_distance<T>(const block<T>&, std::uint32_t, int);           \
  template std::int64_t output_distance<T>(const block<T>&, std::uint32_t, int);          \
  template direction_program describe_program<T>(const block<T>&, std::uint32_t);        \
  template std::string program_source<T>(const block<T>&, const direction_program&);     \
  template const char* copy_kernel_name<T>();
QEZ_INSTANTIATE_PLAN(float)
QEZ_INSTANTIATE_PLAN(double)
#undef QEZ_INSTANTIATE_PLAN

}  // namespace ulmara::qez::dft::default_1d
