// The backend's kernels: per prepared direction a pass-0 and a pass-1
// kernel of the two-factor column-batch twiddle program family,
// compiled through the kernel cache with options that fix every size (the
// float instance first tries its prebuilt kernels).
#include <string>

#include "dft/gpu/backends/1d_factorised/4_facts_colbatch/plan.hpp"
#include "dft/gpu/core/backend_protocol.hpp"
#include "dft/gpu/core/kernel_handles.hpp"
#include "dft/gpu/core/option_text.hpp"
#include "dft/gpu/kernels/program_texts.hpp"
#include "gpu/service/kernel_entry_points.hpp"

namespace ulmara::qez::dft::four_factor_colbatch {

const char* const program_name = kernels::family_c2c_1d_2_fact_colbatch_twiddle;
const char* const program_family = kernels::family_c2c_1d_2_fact_colbatch_twiddle;

namespace {

QEZ_DEFINE_OPTION_FORMATS(
    "-DFFT_LEN=%lld -DFACT0=%lld -DFACT1=%lld -DKERNEL_FUNC=%s -DFACT0_FUNC=%s -DFACT1_FUNC=%s -DFWD_DIR=%d "
    "-DBWD_DIR=%d -DIDIST=%lld -DODIST=%lld -DOUTER_IDIST=%lld -DTEMP_OUTER_DIST=%lld -DWORK_GROUP_SIZE=%lld "
    "-DSUBGROUP_SIZE=%lld -DNUM_WORKGROUPS=%lld -DTWIDDLE -DFOUR_FACT_COLBATCH ")
constexpr std::size_t options_bytes = 2048;

}  // namespace

template <class T>
std::string build_options(const block<T>& s, pass p, direction d) {
  const pass_plan& f = s.passes[p];
  const bool forward = d == dir_forward;
  const direction_distances first = distances_of(s.batch[0], forward);
  const direction_distances outer = distances_of(s.batch[1], forward);
  option_text o(options_bytes, option_overflow::keep_prefix);
  o.add(is_double<T>() ? options_format_double : options_format_single, ll(f.fft_len), ll(f.fact0), ll(f.fact1),
        f.kernel_name, f.fact0_func, f.fact1_func, forward ? 1 : 0, forward ? 0 : 1, ll(first.idist),
        ll(first.odist), ll(outer.idist), ll(s.temp_outer_dist), ll(f.work_group_size), ll(f.sub_group_size),
        ll(f.num_workgroups));
  if (f.multifactor_twiddle) o.add("-DMULTIFACTOR_TWIDDLE ");
  if (f.transpose_kernel)
    o.add("-DTRANSPOSE_KERNEL -DISTRIDE=%lld ", ll(s.in_stride[d]));
  else
    o.add("-DOUTER_ODIST=%lld -DOSTRIDE=%lld ", ll(outer.odist), ll(s.out_stride[d]));
  if (s.inner_tail > 0) o.add("-DINNER_TAIL=%lld -DTAIL_CHUNK_IDX=%lld ", ll(s.inner_tail), ll(s.full_chunks));
  if (s.padded_temp) o.add("-DPADDED_TEMP ");
  if (s.write_final_non_subgroup[d]) o.add("-DWRITE_FINAL_NON_SUBGROUP ");
  if (s.architecture == QEZ_GPU_ARCH_HARIX && f.large_grf) o.add("-cl-tavir-256-GRF-per-thread ");
  return o.str();
}

namespace {

template <class T>
bool try_prebuilt(block<T>*, pass, direction) {
  return false;
}
template <>
bool try_prebuilt<float>(block<float>* s, pass p, direction d) {
  return load_prebuilt_kernel(s, p, d);
}

}  // namespace

template <class T>
int build_kernels(block<T>* s) {
  const char* source = kernels::program_text(program_family, is_double<T>());
  for (direction d : {dir_forward, dir_backward}) {
    for (pass p : {pass_0, pass_1}) {
      sycl::kernel*& slot = s->kernels[kernel_slot(p, d)];
      slot = nullptr;
      if (!serves(s->directions, d) || try_prebuilt(s, p, d)) continue;
      if (source == nullptr) continue;
      const std::string options = build_options(*s, p, d);
      const cached_kernel_request request{s->queue, program_name, source, s->passes[p].kernel_name, options.c_str()};
      // A kernel that does not come back leaves its slot empty; the compute
      // of that direction then refuses to run.
      (void)build_cached_kernel(request, slot, build_check::kernel_only);
    }
  }
  return status_success;
}

template <class T>
void release_kernels(block<T>* s) {
  for (int k = 0; k < kernel_count; ++k) {
    // A prebuilt kernel belongs to its handle, not to the kernel cache.
    if (s->prebuilt[k]) {
      int status = 0;
      try {
        gpu::release_kernel(&status, s->prebuilt_handle[k]);
      } catch (const sycl::exception&) {
        // Gone for this block either way.
      }
      s->prebuilt_handle[k] = nullptr;
      s->prebuilt[k] = false;
      s->kernels[k] = nullptr;
      continue;
    }
    release_kernel_handle(s->kernels[k]);
  }
}

#define QEZ_INSTANTIATE(T)                                                 \
  template std::string build_options<T>(const block<T>&, pass, direction); \
  QEZ_INSTANTIATE_KERNEL_ENTRIES(T)
QEZ_FOR_EACH_PRECISION(QEZ_INSTANTIATE)
#undef QEZ_INSTANTIATE

}  // namespace ulmara::qez::dft::four_factor_colbatch
