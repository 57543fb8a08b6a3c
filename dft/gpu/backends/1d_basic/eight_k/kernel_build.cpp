// The four kernels of the 8192-point backend (two passes, two directions),
// built from the 8192-point program family through the kernel cache.

#include "dft/api/status_codes.hpp"
#include "dft/gpu/backends/1d_basic/eight_k/kernel_build.hpp"
#include "dft/gpu/core/kernel_handles.hpp"
#include "dft/gpu/core/option_text.hpp"
#include "dft/gpu/kernels/program_texts.hpp"

namespace ulmara::qez::dft::eight_k {

namespace {

// The option list of every build; double adds the 64-bit block moves first.
QEZ_DEFINE_OPTION_FORMATS(
    "-DN0=%lld -DN0_FACT0=%lld -DN0_FACT1=%lld -DN1=%lld -DN1_FACT0=%lld -DN1_FACT1=%lld "
    "-DTRANSPOSE_OUTPUT_FUNC=%s -DN0_FACT0_FUNC=%s -DN0_FACT1_FUNC=%s "
    "-DSAME_ORIENTATION_OUTPUT_FUNC=%s -DN1_FACT0_FUNC=%s -DN1_FACT1_FUNC=%s -DFWD_DIR=%d "
    "-DBWD_DIR=%d -DIDIST=%lld -DODIST=%lld -DWORK_GROUP_SIZE=%lld -DSUBGROUP_SIZE=%lld "
    "-DCOLS_PER_WG=%lld ")

constexpr auto program_names =
    kernels::cache_program_names(kernels::family_c2c_8k, ".qez_dft_gpu_bkd_c2c_1d_8k_sycl");

}  // namespace

template <class T>
void format_kernel_names(block<T>* b) {
  const char* letter = is_double<T>() ? "d" : "s";
  auto pass_name = [&](name_slot slot, std::int64_t factor) {
    kernels::copy_name(kernels::kernel_name(b->length, "fact_" + std::to_string(factor), letter), b->kernel_names[slot],
                       kernel_name_bytes);
  };
  auto codelet_name = [&](name_slot slot, std::int64_t size) {
    kernels::copy_name(kernels::codelet_name(size), b->kernel_names[slot], kernel_name_bytes);
  };
  pass_name(name_pass_columns, b->n0);
  codelet_name(name_n0_fact0, b->n0_fact0);
  codelet_name(name_n0_fact1, b->n0_fact1);
  pass_name(name_pass_rows, b->n1);
  codelet_name(name_n1_fact0, b->n1_fact0);
  codelet_name(name_n1_fact1, b->n1_fact1);
}

template <class T>
build_options format_build_options(const block<T>* b, direction d) {
  const bool forward = d == dir_forward;
  const std::int64_t idist = b->io_distances ? b->in_distance
                             : forward       ? b->fwd_distance
                                             : b->bwd_distance;
  const std::int64_t odist = b->io_distances ? b->out_distance
                             : forward       ? b->bwd_distance
                                             : b->fwd_distance;
  const auto& n = b->kernel_names;
  option_text text(build_options_bytes, option_overflow::keep_prefix);
  text.add(is_double<T>() ? options_format_double : options_format_single, ll(b->n0), ll(b->n0_fact0),
           ll(b->n0_fact1), ll(b->n1), ll(b->n1_fact0), ll(b->n1_fact1), n[name_pass_columns], n[name_n0_fact0],
           n[name_n0_fact1], n[name_pass_rows], n[name_n1_fact0], n[name_n1_fact1], forward ? 1 : 0,
           forward ? 0 : 1, ll(idist), ll(odist), ll(b->work_group_size), ll(b->subgroup_size), ll(b->cols_per_wg));
  return {text.str()};
}

template <class T>
int build_kernels(block<T>* b) {
  format_kernel_names(b);
  const char* program = program_names.of(is_double<T>());
  const char* source = kernels::program_text_c2c_8k(is_double<T>());
  for (direction d : {dir_forward, dir_backward}) {
    if (!serves(b->directions, d)) continue;
    const build_options options = format_build_options(b, d);
    for (pass p : {pass_columns, pass_rows}) {
      const char* kernel_name = b->kernel_names[p == pass_columns ? name_pass_columns : name_pass_rows];
      // A kernel that did not come back, thrown or not, fails the commit.
      const int status = build_cached_kernel({b->queue, program, source, kernel_name, options.text.c_str()},
                                             b->kernels[kernel_slot(p, d)]);
      if (status != status_success) return status;
    }
  }
  return status_success;
}

#define QEZ_INSTANTIATE(T)                                                    \
  template void format_kernel_names<T>(block<T>*);                            \
  template build_options format_build_options<T>(const block<T>*, direction); \
  template int build_kernels<T>(block<T>*);
QEZ_FOR_EACH_PRECISION(QEZ_INSTANTIATE)
#undef QEZ_INSTANTIATE

}  // namespace ulmara::qez::dft::eight_k
