// The backend's kernels: per prepared direction a pass-0 kernel of the
// transpose program and a pass-1 kernel of the twiddle program, compiled
// through the kernel cache with options that fix every size.
#include <string>

#include "dft/api/status_codes.hpp"
#include "dft/gpu/backends/1d_factorised/4_facts/plan.hpp"
#include "dft/gpu/core/backend_protocol.hpp"
#include "dft/gpu/core/kernel_handles.hpp"
#include "dft/gpu/core/option_text.hpp"
#include "dft/gpu/kernels/program_texts.hpp"

namespace ulmara::qez::dft::four_factor {

const char* const transpose_program_name = kernels::cache_c2c_1d_4_facts_transpose;
const char* const twiddle_program_name = kernels::cache_c2c_1d_4_facts_twiddle;

namespace {

QEZ_DEFINE_OPTION_FORMATS(
    "-DFFT_LEN=%lld -DNUM_FFTS=%lld -DFACT0=%lld -DFACT1=%lld -DKERNEL_FUNC=%s -DFACT0_FUNC=%s "
    "-DFACT1_FUNC=%s -DFWD_DIR=%d -DBWD_DIR=%d -DIDIST=%lld -DODIST=%lld -DWORK_GROUP_SIZE=%lld "
    "-DSUBGROUP_SIZE=%lld -DNUM_WORKGROUPS=%lld -DTWIDDLE -DMULTIFACTOR_TWIDDLE ")
constexpr char tail_option_format[] = "-DLOAD_STORE_TAIL=%lld ";
constexpr std::size_t options_bytes = 1024;

// The program text of a pass in one precision: the four-factor family, with
// the twiddle pass selected for pass 1; null when the family is missing from
// the library.
const char* pass_source(pass p, bool double_precision) {
  return kernels::program_text(p == pass_0 ? kernels::family_c2c_1d_4_facts : kernels::family_c2c_1d_4_facts_twiddle,
                               double_precision);
}

}  // namespace

template <class T>
void format_pass_names(pass_plan* p) {
  kernels::copy_name(kernels::colbatch_kernel_name(p->fft_len, p->sub_group_size / 2, precision_letter<T>()),
                     p->kernel_name, name_bytes);
  kernels::copy_name(kernels::codelet_name(p->fact0), p->fact0_func, name_bytes);
  kernels::copy_name(kernels::codelet_name(p->fact1), p->fact1_func, name_bytes);
}

template <class T>
std::string build_options(const block<T>& s, pass p, direction d) {
  const pass_plan& f = s.passes[p];
  const direction_distances dist = distances_of(s.batch, d == dir_forward);
  option_text text(options_bytes, option_overflow::keep_prefix);
  text.add(is_double<T>() ? options_format_double : options_format_single, ll(f.fft_len), ll(f.num_ffts), ll(f.fact0),
           ll(f.fact1), f.kernel_name, f.fact0_func, f.fact1_func, d == dir_forward ? 1 : 0, d == dir_backward ? 1 : 0,
           ll(dist.idist), ll(dist.odist), ll(f.work_group_size), ll(f.sub_group_size), ll(f.work_groups()));
  const std::int64_t tail = f.num_ffts % f.ffts_per_sub_group;
  if (tail != 0) text.add(tail_option_format, ll(tail));
  return text.str();
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
  QEZ_INSTANTIATE_KERNEL_ENTRIES(T)
QEZ_FOR_EACH_PRECISION(QEZ_INSTANTIATE)
#undef QEZ_INSTANTIATE

}  // namespace ulmara::qez::dft::four_factor
