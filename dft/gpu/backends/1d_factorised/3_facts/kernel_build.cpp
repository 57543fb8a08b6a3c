// The backend's kernels: three passes per prepared direction, compiled from
// the three-factor program family through the kernel cache.
#include "dft/api/status_codes.hpp"
#include "dft/gpu/backends/1d_factorised/3_facts/plan.hpp"
#include "dft/gpu/core/backend_protocol.hpp"
#include "dft/gpu/core/kernel_handles.hpp"
#include "dft/gpu/core/option_text.hpp"
#include "dft/gpu/kernels/program_texts.hpp"

namespace ulmara::qez::dft::three_factor {

namespace {

constexpr auto cache_names =
    kernels::cache_program_names(kernels::family_c2c_1d_3_facts, ".qez_dft_gpu_bkd_c2c_1d_sycl_3_facts");

}  // namespace

const char* const program_name_double = cache_names.double_name.data();
const char* const program_name_single = cache_names.single_name.data();

namespace {

QEZ_DEFINE_OPTION_FORMATS(
    "-DFACT0=%lld -DFACT1=%lld -DFACT2=%lld -DKERNEL_FUNC0=%s -DKERNEL_FUNC1=%s -DKERNEL_FUNC2=%s "
    "-DFACT0_FUNC=%s -DFACT1_FUNC=%s -DFACT2_FUNC=%s -DFWD_DIR=%d -DBWD_DIR=%d -DIDIST=%lld -DODIST=%lld "
    "-DTDIST=%lld -DWORK_GROUP_SIZE=%lld -DSUBGROUP_SIZE=%lld -DSUBGRPS_IN_GROUP=%lld ")
constexpr char large_register_file_option[] = "-cl-tavir-256-GRF-per-thread ";

constexpr const char* kernel_roles[pass_count] = {"rowbatch0", "rowbatch1", "rowbatch2"};

}  // namespace

template <class T>
void format_names(block<T>* b) {
  for (int p = pass_0; p < pass_count; ++p) {
    kernels::copy_name(kernels::kernel_name(b->fact[p], kernel_roles[p], precision_letter<T>()), b->kernel_names[p],
                       name_bytes);
    kernels::copy_name(kernels::codelet_name(b->fact[p]), b->codelet_names[p], name_bytes);
  }
}

template <class T>
std::string build_options(const block<T>& b, pass p, direction d) {
  const direction_distances dist = distances_of(b.batch, d == dir_forward);
  option_text text(options_bytes, option_overflow::keep_prefix);
  text.add(is_double<T>() ? options_format_double : options_format_single, ll(b.fact[pass_0]), ll(b.fact[pass_1]),
           ll(b.fact[pass_2]), b.kernel_names[pass_0], b.kernel_names[pass_1], b.kernel_names[pass_2],
           b.codelet_names[pass_0], b.codelet_names[pass_1], b.codelet_names[pass_2], d == dir_forward ? 1 : 0,
           d == dir_backward ? 1 : 0, ll(dist.idist), ll(dist.odist), ll(b.temporary_distance),
           ll(static_cast<std::int64_t>(b.work_group_size)), ll(static_cast<std::int64_t>(b.subgroup_size)),
           ll(static_cast<std::int64_t>(b.work_group_size / b.subgroup_size)));
  if (wants_large_register_file(b.architecture, b.slm_bytes[p])) text.add("%s", large_register_file_option);
  return text.str();
}

template <class T>
int build_kernels(block<T>* b) {
  format_names(b);
  const char* source = kernels::program_text_c2c_1d_3_facts(is_double<T>());
  if (source == nullptr) return status_internal_error;
  for (direction d : {dir_forward, dir_backward}) {
    if (!serves(b->directions, d)) {
      for (int p = pass_0; p < pass_count; ++p) b->kernels[p][d] = nullptr;
      continue;
    }
    for (pass p : {pass_0, pass_1, pass_2}) {
      const std::string options = build_options(*b, p, d);
      const cached_kernel_request request{b->queue, is_double<T>() ? program_name_double : program_name_single,
                                          source, b->kernel_names[p], options.c_str()};
      // A kernel that did not come back fails the commit rather than the compute.
      const int status = build_cached_kernel(request, b->kernels[p][d], build_check::kernel_only);
      if (status != status_success) return status;
    }
  }
  return status_success;
}

template <class T>
void release_kernels(block<T>* b) {
  for (auto& per_pass : b->kernels) release_kernel_handles(per_pass);
}

#define QEZ_INSTANTIATE(T)                                                        \
  template void format_names<T>(block<T>*);                                       \
  template std::string build_options<T>(const block<T>&, pass, direction);        \
  QEZ_INSTANTIATE_KERNEL_ENTRIES(T)
QEZ_FOR_EACH_PRECISION(QEZ_INSTANTIATE)
#undef QEZ_INSTANTIATE

}  // namespace ulmara::qez::dft::three_factor
