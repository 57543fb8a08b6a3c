#include "dft/gpu/backends/1d_basic/two_factor/plan.hpp"

#include <algorithm>
#include <cstdio>
#include <sstream>

#include "dft/gpu/core/backend.hpp"
#include "dft/gpu/core/first_tests.hpp"
#include "dft/gpu/core/single_batch_1d_test.hpp"
#include "dft/gpu/kernels/program_names.hpp"

namespace ulmara::qez::dft::two_factor {

namespace {

constexpr std::int64_t special_length = 128;  // 8 x 16 rather than the search's 16 x 8
constexpr std::int64_t composite_check_from = 1001;
constexpr std::int64_t composite_check_to = 4095;
// Factors from this size on use the generic direct DFT.
constexpr std::int64_t generic_from_double = 33;
constexpr std::int64_t generic_from_single = 65;
constexpr std::uint32_t arch_vemra = 1, arch_dorik = 3;
constexpr std::int64_t grouping_limit_single = 1024;
constexpr std::int64_t double_limit = 1024;
constexpr std::size_t options_bytes = 512;

// N/2 is composite: a divisor d with d*d <= N/2 exists.
bool half_is_composite(std::int64_t n) {
  const std::int64_t half = n / 2;
  for (std::int64_t d = 2; d * d <= half; ++d)
    if (half % d == 0) return true;
  return false;
}

std::int64_t padding_to_four(std::int64_t f) { return (4 - f % 4) % 4; }

std::int64_t generic_from(bool double_precision) {
  return double_precision ? generic_from_double : generic_from_single;
}

std::string butterfly_name(bool double_precision, std::int64_t factor, int which) {
  char name[kernel_name_bytes];
  if (factor < generic_from(double_precision))
    kernels::copy_name(kernels::codelet_name(factor), name, sizeof name);
  else
    kernels::copy_name(kernels::kernel_name(factor, "default" + std::to_string(which), "s"), name, sizeof name);
  return name;
}

// Appends a formatted piece to a fixed-size option buffer, bounded by what is
// left of it.
class option_buffer {
 public:
  template <class... Args>
  void append(const char* format, Args... args) {
    const std::size_t used = std::char_traits<char>::length(text_);
    if (used + 1 >= sizeof text_) return;
    std::snprintf(text_ + used, sizeof text_ - used, format, args...);
  }
  void append_text(const char* text) { append("%s", text); }
  std::string str() const { return text_; }

 private:
  char text_[options_bytes] = {};
};

}  // namespace

bool accepts(const DFTI_DESCRIPTOR* r) {
  if (!unit_stride_1d_single_batch(r)) return false;
  const std::int64_t n = r->work_lengths.records[0].length;
  if (n % 2 != 0 || n > max_length) return false;
  if (n >= composite_check_from && n <= composite_check_to && !half_is_composite(n)) return false;
  return zero_offsets(r);
}

factors choose_factors(std::int64_t n) {
  if (n == special_length) return {true, 8, 16};
  if (n <= 2) return {};
  std::int64_t best_difference = max_factor, lo = 0, hi = 0;
  for (std::int64_t d = std::min<std::int64_t>(n, max_factor + 1) - 1; d >= 2 && best_difference > 0;
       --d) {
    if (n % d != 0) continue;
    const std::int64_t q = n / d;
    if (q <= 1 || q > max_factor) continue;
    const std::int64_t a = std::min(d, q), b = std::max(d, q);
    if (b - a < best_difference) {
      lo = a;
      hi = b;
      best_difference = b - a;
    }
  }
  if (lo == 0 || lo * hi != n) return {};
  return hi % 2 == 0 ? factors{true, hi, lo} : factors{true, lo, hi};
}

geometry plan_geometry(factors f, std::size_t real_bytes) {
  geometry g;
  g.padfact0 = padding_to_four(f.fact0);
  g.padfact1 = padding_to_four(f.fact1);
  const std::int64_t pf0 = f.fact0 + g.padfact0, pf1 = f.fact1 + g.padfact1;
  const std::int64_t t = static_cast<std::int64_t>(real_bytes);
  g.slm_bytes = std::max((g.padfact0 + 2 * f.fact0 * f.fact1) * t, f.fact0 * pf1 * 2 * t);
  if (f.fact0 <= f.fact1) {
    g.work_group_size = subgroup_size * (pf1 / 4);
    g.fact1_loop_bound = 1;
    return g;
  }
  std::int64_t m = pf1 / 4;
  while (m < pf0 / 4 && (pf0 / 4) % m != 0) ++m;
  g.work_group_size = subgroup_size * m;
  g.fact1_loop_bound = (pf0 / 4) / m;
  return g;
}

bool geometry_fits(const geometry& g) {
  return g.slm_bytes <= max_slm_bytes && g.work_group_size <= max_work_group_size;
}

batch_layout read_batch_layout(const DFTI_DESCRIPTOR* r) {
  const dim_record& b = r->work_batch.records[0];
  return {b.length, io_distances_given(b) ? 1 : 0, b.forward, b.backward, b.input, b.output};
}

std::int64_t input_distance(const batch_layout& b, direction d) { return distances_of(b, d == dir_forward).idist; }

std::int64_t output_distance(const batch_layout& b, direction d) { return distances_of(b, d == dir_forward).odist; }

bool size_test_passes(bool double_precision, std::int64_t n, const batch_layout& b,
                      std::uint32_t directions) {
  if (double_precision) return n <= double_limit;
  for (direction d : {dir_forward, dir_backward})
    if (serves(directions, d) && output_distance(b, d) % 2 != 0) return false;
  return true;
}

std::int64_t batch_per_group_for(bool double_precision, std::int64_t n, std::uint32_t arch) {
  const bool grouping_arch = arch == arch_vemra || arch == arch_dorik;
  if (!grouping_arch) return 1;
  if (!double_precision && n > grouping_limit_single) return 1;
  return grouped_batch;
}

std::int64_t batch_for_last_group(std::int64_t howmany, std::int64_t per_group) {
  const std::int64_t rest = howmany % per_group;
  return rest == 0 ? per_group : rest;
}

std::int64_t raw_table_bytes(factors f, std::int64_t padfact1, std::size_t real_bytes) {
  return f.fact0 * (f.fact1 + padfact1) * 4 * static_cast<std::int64_t>(real_bytes);
}

program_names make_program_names(bool double_precision, std::int64_t n, factors f) {
  char kernel[kernel_name_bytes];
  kernels::copy_name(kernels::kernel_name(n, "rowbatch", double_precision ? "d" : "s"), kernel, sizeof kernel);
  return {kernel, butterfly_name(double_precision, f.fact0, 0),
          butterfly_name(double_precision, f.fact1, 1)};
}

const char* program_name(bool double_precision) {
  static constexpr auto names =
      kernels::cache_program_names(kernels::family_c2c_1d_2_facts, ".qez_dft_gpu_bkd_c2c_1d_2_facts_sycl");
  return names.of(double_precision);
}

std::string make_build_options(const program_request& p, direction d) {
  using ll = long long;
  const program_names names = make_program_names(p.double_precision, p.n, p.f);
  option_buffer o;
  if (p.double_precision) o.append_text("-Dcl_tavir_subgroups_long ");
  o.append(
      "-DFACT0=%lld -DPADFACT0=%lld -DFACT1=%lld -DPADFACT1=%lld -DKERNEL_FUNC=%s -DFACT0_FUNC=%s "
      "-DFACT1_FUNC=%s -DFWD_DIR=%d -DBWD_DIR=%d -DIDIST=%lld -DODIST=%lld -DWORK_GROUP_SIZE=%lld "
      "-DSUBGROUP_SIZE=%lld -DFACT1_LOOP_BOUND=%lld ",
      ll(p.f.fact0), ll(p.g.padfact0), ll(p.f.fact1), ll(p.g.padfact1), names.kernel.c_str(),
      names.fact0_func.c_str(), names.fact1_func.c_str(), d == dir_forward ? 1 : 0,
      d == dir_backward ? 1 : 0, ll(input_distance(p.batch, d)), ll(output_distance(p.batch, d)),
      ll(p.g.work_group_size), ll(subgroup_size), ll(p.g.fact1_loop_bound));
  if (p.batch_per_group >= 2)
    o.append("-DBATCH_PER_GROUP=%lld -DBATCH_FOR_LAST_GROUP=%lld ", ll(p.batch_per_group),
             ll(p.batch_for_last_group));
  if (p.f.fact0 >= generic_from(p.double_precision))
    o.append("-DFACT0_DEFAULT_FUNC=%s ", names.fact0_func.c_str());
  if (p.f.fact1 >= generic_from(p.double_precision))
    o.append("-DFACT1_DEFAULT_FUNC=%s ", names.fact1_func.c_str());
  return o.str();
}

template <class T>
std::string describe(const block<T>& b) {
  std::ostringstream s;
  s << "two-factor N=" << b.length << " = " << b.fact0 << " x " << b.fact1 << " padding (" << b.padfact0
    << ", " << b.padfact1 << ") work-group " << b.work_group_size << " passes " << b.fact1_loop_bound
    << " slm " << b.slm_bytes << " B table " << b.table_bytes << " B transforms " << b.batch.howmany
    << " per group " << b.batch_per_group << " last " << b.batch_for_last_group;
  return s.str();
}

template std::string describe(const block<float>&);
template std::string describe(const block<double>&);

}  // namespace ulmara::qez::dft::two_factor
