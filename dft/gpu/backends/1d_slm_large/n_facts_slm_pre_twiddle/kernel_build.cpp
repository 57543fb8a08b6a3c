// The backend's kernels: the n-factor SLM program family
// built with the pre-twiddle switched on, one kernel per prepared direction.
#include <cstdio>
#include <string>

#include "dft/api/status_codes.hpp"
#include "dft/gpu/backends/1d_slm_large/n_facts_slm_pre_twiddle/plan.hpp"
#include "dft/gpu/core/kernel_handles.hpp"
#include "dft/gpu/kernels/program_names.hpp"
#include "dft/gpu/kernels/program_texts.hpp"

namespace ulmara::qez::dft::pretw_slm {

namespace {

constexpr const char* program_name = kernels::family_c2c_1d_n_facts_slm;

// The pre-twiddle's own options, after the load options: the table, or the
// run-time form over howmany x N points.
std::string pre_twiddle_form(std::uint64_t pretw_bytes, std::int64_t points) {
  if (pretw_bytes != 0) return "-DUSE_PRECOMPUTED_PRE_TWIDDLE ";
  char text[96];
  std::snprintf(text, sizeof text, "-DUSE_RUNTIME_PRE_TWIDDLE -DPRE_TW_NUM_PTS=%lld ",
                static_cast<long long>(points));
  return text;
}

}  // namespace

template <class T>
std::string pretw_build_options(const block<T>& b, direction d) {
  return n_facts_slm::build_options_text(b.slm, d, "-DUSE_PRE_TWIDDLE ") +
         pre_twiddle_form(b.pretw_bytes, b.slm.fft_len * b.howmany);
}

template <class T>
int build_kernels(block<T>* b) {
  n_facts_slm::block<T>& slm = b->slm;
  const char* source = kernels::program_text_c2c_1d_n_facts_slm(n_facts_slm::is_double<T>());
  if (source == nullptr) return status_internal_error;
  for (direction d : {dir_forward, dir_backward}) {
    if (!n_facts_slm::serves(slm.directions, d)) continue;
    const std::string options = pretw_build_options(*b, d);
    // A kernel that did not come back fails the commit rather than the compute.
    const int status = build_cached_kernel({slm.queue, program_name, source, slm.kernel_name, options.c_str()},
                                           slm.kernels[d], build_check::kernel_only);
    if (status != status_success) return status;
  }
  return status_success;
}

#define QEZ_INSTANTIATE(T)                                                 \
  template std::string pretw_build_options<T>(const block<T>&, direction); \
  template int build_kernels<T>(block<T>*);
QEZ_FOR_EACH_PRECISION(QEZ_INSTANTIATE)
#undef QEZ_INSTANTIATE

}  // namespace ulmara::qez::dft::pretw_slm
