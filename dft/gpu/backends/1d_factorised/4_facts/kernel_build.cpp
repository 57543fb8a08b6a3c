// The backend's kernels: per prepared direction a pass-0 kernel of the
// transpose program and a pass-1 kernel of the twiddle program, compiled
// through the kernel cache with options that fix every size.
#include <cstdio>
#include <cstring>
#include <string>

#include "dft/api/status_codes.hpp"
#include "dft/gpu/backends/1d_factorised/4_facts/plan.hpp"
#include "dft/gpu/core/backend_protocol.hpp"
#include "dft/gpu/core/kernel_handles.hpp"
#include "dft/gpu/kernels/program_texts.hpp"

namespace ulmara {
namespace qez {
namespace dft {
namespace four_factor {

const char transpose_program_name[] = "gpu_framework_c2c_1d_2_fact_colbatch_transpose";
const char twiddle_program_name[] = "gpu_framework_c2c_1d_2_fact_colbatch_twiddle";

namespace {

// The generated family that holds both passes' kernels; the pass-1 text is
// the same text with the twiddle pass selected.
constexpr char program_family[] = "gpu_framework_c2c_1d_4_facts";
constexpr char twiddle_pass_selector[] = "#define FOUR_FACTS_TWIDDLE_PASS 1\n";

#define QEZ_FOUR_FACTOR_OPTIONS                                                                          \
  "-DFFT_LEN=%lld -DNUM_FFTS=%lld -DFACT0=%lld -DFACT1=%lld -DKERNEL_FUNC=%s -DFACT0_FUNC=%s "           \
  "-DFACT1_FUNC=%s -DFWD_DIR=%d -DBWD_DIR=%d -DIDIST=%lld -DODIST=%lld -DWORK_GROUP_SIZE=%lld "           \
  "-DSUBGROUP_SIZE=%lld -DNUM_WORKGROUPS=%lld -DTWIDDLE -DMULTIFACTOR_TWIDDLE "
constexpr char options_format_double[] = "-Dcl_tavir_subgroups_long " QEZ_FOUR_FACTOR_OPTIONS;
constexpr char options_format_single[] = QEZ_FOUR_FACTOR_OPTIONS;
#undef QEZ_FOUR_FACTOR_OPTIONS
constexpr char tail_option_format[] = "-DLOAD_STORE_TAIL=%lld ";
constexpr std::size_t options_bytes = 1024;

// The program text of a pass in one precision; null when the family is
// missing from the library.
const char* pass_source(pass p, bool double_precision) {
  const char* text = kernels::program_text(program_family, double_precision);
  if (text == nullptr || p == pass_0) return text;
  static const std::string twiddle_single =
      std::string(twiddle_pass_selector) + kernels::program_text(program_family, false);
  static const std::string twiddle_double =
      std::string(twiddle_pass_selector) + kernels::program_text(program_family, true);
  return double_precision ? twiddle_double.c_str() : twiddle_single.c_str();
}

}  // namespace

template <class T>
void format_pass_names(pass_plan* p) {
  std::snprintf(p->kernel_name, name_bytes, "fft_%lld_colbatch_%lld_%s", ll(p->fft_len), ll(p->sub_group_size / 2),
                precision_letter<T>());
  std::snprintf(p->fact0_func, name_bytes, "fft_%lld_%s", ll(p->fact0), "s");
  std::snprintf(p->fact1_func, name_bytes, "fft_%lld_%s", ll(p->fact1), "s");
}

template <class T>
std::string build_options(const block<T>& s, pass p, direction d) {
  const pass_plan& f = s.passes[p];
  const direction_distances dist = distances_of(s.batch, d == dir_forward);
  char text[options_bytes];
  std::memset(text, 0, sizeof text);
  int used = std::snprintf(text, sizeof text, is_double<T>() ? options_format_double : options_format_single,
                           ll(f.fft_len), ll(f.num_ffts), ll(f.fact0), ll(f.fact1), f.kernel_name, f.fact0_func,
                           f.fact1_func, d == dir_forward ? 1 : 0, d == dir_backward ? 1 : 0, ll(dist.idist),
                           ll(dist.odist), ll(f.work_group_size), ll(f.sub_group_size), ll(f.work_groups()));
  const std::int64_t tail = f.num_ffts % f.ffts_per_sub_group;
  if (tail != 0 && used > 0 && static_cast<std::size_t>(used) < sizeof text)
    std::snprintf(text + used, sizeof text - static_cast<std::size_t>(used), tail_option_format, ll(tail));
  return text;
}

template <class T>
int build_kernels(block<T>* s) {
  for (direction d : {dir_forward, dir_backward}) {
    if (!serves(s->directions, d)) {
      for (auto& per_pass : s->kernels) per_pass[d] = nullptr;
      continue;
    }
    for (pass p : {pass_0, pass_1}) {
      const char* source = pass_source(p, is_double<T>());
      if (source == nullptr) return status_internal_error;
      const std::string options = build_options(*s, p, d);
      const cached_kernel_request request{s->queue, p == pass_0 ? transpose_program_name : twiddle_program_name,
                                          source, s->passes[p].kernel_name, options.c_str()};
      // A kernel that does not come back fails the commit rather than a
      // later compute.
      const int status = build_cached_kernel(request, s->kernels[p][d], build_check::kernel_only);
      if (status != status_success) return status;
    }
  }
  return status_success;
}

template <class T>
void release_kernels(block<T>* s) {
  for (auto& per_pass : s->kernels) release_kernel_handles(per_pass);
}

#define QEZ_INSTANTIATE(T)                                                 \
  template void format_pass_names<T>(pass_plan*);                          \
  template std::string build_options<T>(const block<T>&, pass, direction); \
  template int build_kernels<T>(block<T>*);                                \
  template void release_kernels<T>(block<T>*);
QEZ_FOR_EACH_PRECISION(QEZ_INSTANTIATE)
#undef QEZ_INSTANTIATE

}  // namespace four_factor
}  // namespace dft
}  // namespace qez
}  // namespace ulmara
