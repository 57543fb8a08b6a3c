// The backend's kernels: one per prepared direction, compiled from the
// n-factor column-batch program family through the kernel cache with the
// plan as build options.
#include <string>

#include "dft/api/status_codes.hpp"
#include "dft/gpu/backends/1d_factorised/n_fact_colbatch/plan.hpp"
#include "dft/gpu/core/backend_protocol.hpp"
#include "dft/gpu/core/kernel_handles.hpp"
#include "dft/gpu/core/option_text.hpp"
#include "dft/gpu/kernels/program_texts.hpp"

namespace ulmara::qez::dft::n_fact_colbatch {

namespace {

constexpr auto cache_names = kernels::cache_program_names(kernels::family_c2c_1d_n_fact_colbatch,
                                                          ".qez_dft_gpu_bkd_c2c_1d_n_facts_colbatch_sycl");

}  // namespace

const char* const program_family = kernels::family_c2c_1d_n_fact_colbatch;
const char* const program_key_double = cache_names.double_name.data();
const char* const program_key_single = cache_names.single_name.data();

namespace {

QEZ_DEFINE_OPTION_FORMATS(
    "-DINPUT_STRIDE=%lld -DOUTPUT_STRIDE=%lld -DINNER_BATCH=%lld -DINNER_BATCH_PER_GROUP=%lld "
    "-DINNER_BATCH_FOR_LAST_GROUP=%lld -DOUTER_BATCH=%lld -DOUTER_BATCH_INPUT_DISTANCE=%lld "
    "-DOUTER_BATCH_OUTPUT_DISTANCE=%lld -DFACT0=%lld -DFACT1=%lld -DFACT2=%lld -DKERNEL_FUNC=%s -DFACT0_FUNC=%s "
    "-DFACT1_FUNC=%s -DFACT2_FUNC=%s -DFWD_DIR=%d -DBWD_DIR=%d -DWORKGROUP_SIZE=%lld -DSUBGROUP_SIZE=%lld "
    "-DSUBGRPS_PER_FFT=%lld ")

constexpr std::size_t options_bytes = 512;

}  // namespace

template <class T>
void format_names(block<T>* b) {
  const char* repeat = b->batch_count[batch_outer] > 1 ? "twice" : "once";
  for (direction d : {dir_forward, dir_backward})
    kernels::copy_name(
        kernels::kernel_name(b->length, std::string("colbatched_") + repeat + "_" + std::to_string(b->columns[d]),
                             precision_letter<T>()),
        b->kernel_names[d], name_bytes);
  for (int i = 0; i < factor_count; ++i)
    kernels::copy_name(kernels::codelet_name(b->factors[i]), b->factor_names[i], name_bytes);
}

template <class T>
std::string build_options(const block<T>& b, direction d) {
  const direction_distances outer = distances_for(b, batch_outer, d);
  option_text o(options_bytes, option_overflow::empty_text);
  o.add(is_double<T>() ? options_format_double : options_format_single, ll(b.in_stride[d]), ll(b.out_stride[d]),
        ll(b.batch_count[batch_inner]), ll(b.columns[d]), ll(b.last_columns[d]), ll(b.batch_count[batch_outer]),
        ll(outer.idist), ll(outer.odist), ll(b.factors[0]), ll(b.factors[1]), ll(b.factors[2]), b.kernel_names[d],
        b.factor_names[0], b.factor_names[1], b.factor_names[2], d == dir_forward ? 1 : 0, d == dir_backward ? 1 : 0,
        ll(b.work_group_size[d]), ll(b.subgroup_size), ll(b.subgroups_per_fft[d]));
  if (b.in_offset[d] != 0) o.add("-DINPUT_OFFSET=%lld ", ll(b.in_offset[d]));
  if (b.out_offset[d] != 0) o.add("-DOUTPUT_OFFSET=%lld ", ll(b.out_offset[d]));
  if (b.post_twiddle_batch > 0) o.add("-DPOST_TWIDDLE_BATCH=%lld ", ll(b.post_twiddle_batch));
  if (b.out_stride[d] == 1) o.add("-DINNER_BATCH_OUTPUT_DISTANCE=%lld ", ll(distances_for(b, batch_inner, d).odist));
  if (b.columns[d] == b.batch_count[batch_inner] && b.out_stride[d] == b.columns[d])
    o.add("-DSLM_BYTE_SIZE=%lld ", ll(b.slm_bytes[d]));
  return o.str();
}

template <class T>
int build_kernels(block<T>* b) {
  format_names(b);
  const char* source = kernels::program_text(program_family, is_double<T>());
  if (source == nullptr) return status_internal_error;
  for (direction d : {dir_forward, dir_backward}) {
    if (!serves(b->directions, d)) continue;
    const std::string options = build_options(*b, d);
    if (options.empty()) return status_internal_error;
    const cached_kernel_request request{b->queue, is_double<T>() ? program_key_double : program_key_single, source,
                                        b->kernel_names[d], options.c_str()};
    const int status = build_cached_kernel(request, b->kernels[d], build_check::kernel_only);
    if (status != status_success) return status;
  }
  return status_success;
}

#define QEZ_INSTANTIATE(T)                                               \
  template void format_names<T>(block<T>*);                              \
  template std::string build_options<T>(const block<T>&, direction);     \
  template int build_kernels<T>(block<T>*);
QEZ_FOR_EACH_PRECISION(QEZ_INSTANTIATE)
#undef QEZ_INSTANTIATE

}  // namespace ulmara::qez::dft::n_fact_colbatch
