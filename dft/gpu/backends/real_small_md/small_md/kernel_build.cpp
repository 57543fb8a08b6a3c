// The small multi-dimensional SLM program: the kernel name, the butterfly
// names, the build options of each direction and the builds.
#include <algorithm>
#include <cmath>
#include <cstdio>

#include "dft/api/status_codes.hpp"
#include "dft/gpu/backends/real_small_md/small_md/plan.hpp"
#include "dft/gpu/core/kernel_handles.hpp"
#include "dft/gpu/core/option_text.hpp"
#include "dft/gpu/kernels/program_names.hpp"
#include "dft/gpu/kernels/program_texts.hpp"

namespace ulmara::qez::dft::small_md {

namespace {

constexpr auto program_name_double =
    kernels::cache_program_name(kernels::family_small_md_slm, ".qez_dft_gpu_bkd_small_md_slm_sycl_d");
constexpr auto program_name_single =
    kernels::cache_program_name(kernels::family_small_md_slm, ".qez_dft_gpu_bkd_small_md_slm_sycl_s");
constexpr std::size_t options_bytes = 1024;
constexpr double double_epsilon = 2.220446049250313e-16;
constexpr double single_epsilon = 1.1920928955078125e-7;

using plan_basics::ll;

// Elements per value on each side of direction d, and the extra complex
// value of the real side's row.
struct sides {
  std::int64_t ein, eout, ri, ro;
};
sides sides_of(const small_md_kernel_config& c, int d) {
  const bool rf = c.real && d == 0, rb = c.real && d == 1;
  return {rf ? 1 : 2, rb ? 1 : 2, rb ? 1 : 0, rf ? 1 : 0};
}

std::int64_t input_row_fp(const small_md_kernel_config& c, int d) {
  const sides s = sides_of(c, d);
  if (c.rank == 2) return c.input_strides[d][1] * s.ein;
  return std::max(c.input_distance[d] * s.ein, 2 * (c2c_length(c) + s.ri));
}
std::int64_t output_row_fp(const small_md_kernel_config& c, int d) {
  const sides s = sides_of(c, d);
  if (c.rank == 2) return c.output_strides[d][1] * s.eout;
  return std::max(c.output_distance[d] * s.eout, 2 * (c2c_length(c) + s.ro));
}

bool copied_in_slm(const small_md_kernel_config& c, int d, bool double_precision) {
  const std::int64_t l0 = c2c_length(c);
  if (c.factor_counts[0] == 1) return true;
  if (d == 1 && c.real) return true;
  if (c.rank != 1) return false;
  if (double_precision) return l0 <= 256 && (c.real || (l0 != 80 && l0 != 250));
  return l0 <= 512;
}

}  // namespace

template <class T>
bool input_copied_in_slm(const small_md_kernel_config& c, int d) {
  return copied_in_slm(c, d, is_double<T>());
}

bool use_load_row_by_row(const small_md_kernel_config& c, int d) {
  if (!c.direction_enabled[d]) return false;
  const sides s = sides_of(c, d);
  const std::int64_t slm = 2 * (c2c_length(c) + c.real);
  const std::int64_t in = input_row_fp(c, d);
  const std::int64_t out = c.rank == 2 ? c.output_strides[d][1] * s.eout : c.output_distance[d] * s.eout;
  return in > std::max(slm, out);
}

std::int64_t row_input_distance_fp(const small_md_kernel_config& c, int d, bool double_precision) {
  if (!c.direction_enabled[d]) return 0;
  if (copied_in_slm(c, d, double_precision) && use_load_row_by_row(c, d)) {
    const std::int64_t o = output_row_fp(c, d);
    const std::int64_t slm = 2 * (c2c_length(c) + c.real);
    return o <= slm ? slm : o;
  }
  return input_row_fp(c, d);
}

row_values direction_row_values(const small_md_kernel_config& c, int d, bool double_precision) {
  const sides s = sides_of(c, d);
  const std::int64_t l0 = c2c_length(c);
  row_values v{};
  v.input_fp_per_row_min = 2 * (l0 + s.ri);
  v.input_fp_per_row = c.rank == 1 ? std::max(c.input_distance[d] * s.ein, v.input_fp_per_row_min)
                                   : c.input_strides[d][1] * s.ein;
  v.row_idist_fp = row_input_distance_fp(c, d, double_precision);
  v.row_odist_slm_fp = output_row_fp(c, d);
  if (c.batch_per_group >= 2)
    v.fp_out_per_fft = c.output_distance[d] * s.eout;
  else if (c.rank == 2)
    v.fp_out_per_fft = c.output_strides[d][1] * dim1_length(c) * s.eout;
  else
    v.fp_out_per_fft = c.real && d == 0 ? 2 * (l0 + 1) : 2 * l0;
  return v;
}

void format_small_md_names(block& b, bool double_precision) {
  const small_md_kernel_config& c = b.config;
  char* name = b.kernel_name;
  const std::size_t size = sizeof b.kernel_name;
  int used = std::snprintf(name, size, "%s_fft_%lld", c.real ? "real" : "cmplx", ll(b.lengths[b.rank - 1]));
  for (std::int64_t i = b.rank - 2; i >= 0 && used > 0 && static_cast<std::size_t>(used) < size; --i)
    used += std::snprintf(name + used, size - used, "x%lld", ll(b.lengths[i]));
  if (used > 0 && static_cast<std::size_t>(used) < size)
    std::snprintf(name + used, size - used, "_%s", double_precision ? "d" : "s");
  for (int i = 0; i < 2; ++i)
    for (int j = 0; j < 4; ++j) {
      if (j < c.factor_counts[i])
        kernels::copy_name(kernels::codelet_name(c.factors[i][j]), b.butterfly_names[i][j], 64);
      else
        b.butterfly_names[i][j][0] = '\0';
    }
}

int format_small_md_options(const block& b, int d, bool double_precision, char* out, std::size_t bytes) {
  const small_md_kernel_config& c = b.config;
  option_text w(bytes, option_overflow::keep_prefix);
  w.add("%s-DSLM_BYTE_SIZE=%lld -DRANK=%lld -DKERNEL_FUNC=%s -DFWD_DIR=%lld -DBWD_DIR=%lld -DIDIST=%lld "
        "-DODIST=%lld -DWORKGROUP_SIZE=%lld -DSUBGROUP_SIZE=%lld -DBATCH_PER_GROUP=%lld "
        "-DBATCH_FOR_LAST_GROUP=%lld -DREAL_FFT=%lld ",
        double_precision ? "-Dcl_tavir_subgroups_long " : "", ll(c.slm_bytes), ll(c.rank), b.kernel_name, ll(1 - d),
        ll(d), ll(c.input_distance[d]), ll(c.output_distance[d]), ll(c.threads_per_group * c.sub_group_size),
        ll(c.sub_group_size), ll(c.batch_per_group), ll(c.batch_for_last_group), ll(c.real ? 1 : 0));
  for (int i = 0; i < c.rank; ++i) {
    for (int j = 0; j < c.factor_counts[i]; ++j)
      w.add("-DDIM%dFACT%d=%lld -DDIM%dFACT%d_FUNC=%s ", i, j, ll(c.factors[i][j]), i, j, b.butterfly_names[i][j]);
    if (i >= 1)
      w.add("-DDIM%dISTRIDE=%lld -DDIM%dOSTRIDE=%lld ", i, ll(c.input_strides[d][i]), i, ll(c.output_strides[d][i]));
  }
  if (c.factor_counts[0] == 1) {
    if (double_precision) {
      if (std::fabs(c.scales[d] - 1.0) >= double_epsilon) w.add("-DSCALE=(ftype)%a ", c.scales[d]);
    } else {
      const float rounded = static_cast<float>(c.scales[d]);
      if (std::fabs(static_cast<double>(rounded) - 1.0) >= single_epsilon)
        w.add("-DSCALE=(ftype)%a ", static_cast<double>(rounded));
    }
  }
  if (copied_in_slm(c, d, double_precision))
    w.add("-DCOPY_INPUT_IN_SLM -DLOAD_ROW_BY_ROW=%lld ", ll(use_load_row_by_row(c, d) ? 1 : 0));
  const row_values v = direction_row_values(c, d, double_precision);
  w.add("-DINPUT_FP_PER_ROW_MIN=%lld -DINPUT_FP_PER_ROW=%lld -DROW_IDIST_FP=%lld -DROW_ODIST_SLM_FP=%lld "
        "-DFP_OUT_PER_FFT=%lld ",
        ll(v.input_fp_per_row_min), ll(v.input_fp_per_row), ll(v.row_idist_fp), ll(v.row_odist_slm_fp),
        ll(v.fp_out_per_fft));
  if (c.large_grf) w.add("%s", "-cl-tavir-256-GRF-per-thread ");
  return w.copy_to(out, bytes) ? status_success : status_internal_error;
}

const char* small_md_program_name(bool double_precision) {
  return double_precision ? program_name_double.data() : program_name_single.data();
}

template <class T>
int build_small_md_kernel(block* b) {
  format_small_md_names(*b, is_double<T>());
  for (int d = 0; d < 2; ++d) {
    if (!b->config.direction_enabled[d]) {
      b->kernels[d] = nullptr;
      continue;
    }
    char options[options_bytes];
    const int status = format_small_md_options(*b, d, is_double<T>(), options, sizeof options);
    if (status != status_success) return status;
    try {
      const cached_kernel_request request{b->queue, small_md_program_name(is_double<T>()),
                                          kernels::program_text_small_md_slm(is_double<T>()), b->kernel_name, options};
      if (build_cached_kernel(request, b->kernels[d]) != status_success) return status_not_handled;
    } catch (const sycl::exception&) {
      // A build failure hands the descriptor to the next backend.
      return status_not_handled;
    }
  }
  return status_success;
}

#define QEZ_INSTANTIATE(T)                                                   \
  template bool input_copied_in_slm<T>(const small_md_kernel_config&, int); \
  template int build_small_md_kernel<T>(block*);
QEZ_FOR_EACH_PRECISION(QEZ_INSTANTIATE)
#undef QEZ_INSTANTIATE

}  // namespace ulmara::qez::dft::small_md
