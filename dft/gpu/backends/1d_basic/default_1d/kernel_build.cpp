#include "dft/gpu/backends/1d_basic/default_1d/kernel_build.hpp"

#include <cstdio>

#include "dft/gpu/kernels/program_texts.hpp"

namespace ulmara::qez::dft::default_1d {

namespace {

// The generated template of a pass kernel (the same text in both precisions).
const char* template_text(kernel_template which) {
  switch (which) {
    case kernel_template::registers:
      return kernels::program_text(kernels::template_c2c_1d_def_registers, false);
    case kernel_template::staged_registers:
      return kernels::program_text(kernels::template_c2c_1d_def_staged_registers, false);
    case kernel_template::generic:
      return kernels::program_text(kernels::template_c2c_1d_def_generic, false);
    case kernel_template::shared_memory:
      return kernels::program_text(kernels::template_c2c_1d_def_shared_memory, false);
  }
  return nullptr;
}

bool fitted(int written, std::size_t size) { return written >= 0 && static_cast<std::size_t>(written) < size; }

}  // namespace

const char* program_prelude() { return kernels::program_text(kernels::template_c2c_1d_def_prelude, false); }

bool print_pass_kernel(kernel_template which, const pass_arguments& a, char* text, std::size_t size) {
  const char* format = template_text(which);
  if (format == nullptr) return false;
  int written = -1;
#define QEZ_COMMON_ARGUMENTS                                                                         \
  a.kernel_name, a.do_in_offset, a.do_out_offset, a.do_scale, a.do_twiddle, a.tw_size, a.fact,      \
      a.idist_z, a.odist_z, a.idist_y, a.odist_y, a.idist_x, a.odist_x, a.istride, a.ostride
  switch (which) {
    case kernel_template::registers:
    case kernel_template::generic:
      written = std::snprintf(text, size, format, QEZ_COMMON_ARGUMENTS, a.routine);
      break;
    case kernel_template::staged_registers:
      written = std::snprintf(text, size, format, QEZ_COMMON_ARGUMENTS, a.columns, a.cache_bytes, a.routine);
      break;
    case kernel_template::shared_memory:
      written = std::snprintf(text, size, format, QEZ_COMMON_ARGUMENTS, a.fact1, a.partition, a.register_count,
                              a.routine, a.second_routine);
      break;
  }
#undef QEZ_COMMON_ARGUMENTS
  return fitted(written, size);
}

}  // namespace ulmara::qez::dft::default_1d
