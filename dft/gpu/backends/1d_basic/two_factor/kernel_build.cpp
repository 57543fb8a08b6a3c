#include <cstring>
#include <type_traits>

#include "dft/api/status_codes.hpp"
#include "dft/gpu/core/kernel_handles.hpp"
#include "dft/gpu/backends/1d_basic/two_factor/kernel_build.hpp"
#include "dft/gpu/kernels/program_texts.hpp"

namespace ulmara::qez::dft::two_factor {

namespace {

void copy_name(char (&field)[kernel_name_bytes], const std::string& name) {
  std::memset(field, 0, sizeof field);
  std::strncpy(field, name.c_str(), sizeof field - 1);
}

template <class T>
int build_one(block<T>* b, direction d) {
  const std::string options = make_build_options(request_of(*b), d);
  // A build that throws (the program did not build) leaves the commit as
  // that exception.
  return build_cached_kernel({b->queue, program_name(is_double<T>()),
                              kernels::program_text_c2c_1d_2_facts(is_double<T>()),
                              b->kernel_names[name_kernel], options.c_str()},
                             b->kernels[d]);
}

}  // namespace

template <class T>
program_request request_of(const block<T>& b) {
  program_request p;
  p.double_precision = is_double<T>();
  p.n = b.length;
  p.f = {true, b.fact0, b.fact1};
  p.g.padfact0 = b.padfact0;
  p.g.padfact1 = b.padfact1;
  p.g.slm_bytes = b.slm_bytes;
  p.g.work_group_size = b.work_group_size;
  p.g.fact1_loop_bound = b.fact1_loop_bound;
  p.batch = b.batch;
  p.batch_per_group = b.batch_per_group;
  p.batch_for_last_group = b.batch_for_last_group;
  return p;
}

template <class T>
int build_kernels(block<T>* b) {
  const program_names names = make_program_names(is_double<T>(), b->length, {true, b->fact0, b->fact1});
  copy_name(b->kernel_names[name_kernel], names.kernel);
  copy_name(b->kernel_names[name_fact0_func], names.fact0_func);
  copy_name(b->kernel_names[name_fact1_func], names.fact1_func);
  for (direction d : {dir_forward, dir_backward}) {
    b->kernels[d] = nullptr;
    if (!serves(b->directions, d)) continue;
    const int status = build_one(b, d);
    if (status != status_success) return status;
  }
  return status_success;
}

#define QEZ_INSTANTIATE(T)                                 \
  template program_request request_of<T>(const block<T>&); \
  template int build_kernels<T>(block<T>*);
QEZ_FOR_EACH_PRECISION(QEZ_INSTANTIATE)
#undef QEZ_INSTANTIATE

}  // namespace ulmara::qez::dft::two_factor
