// The backend's kernels: one per prepared direction, compiled from the
// n-factor SLM program family through the kernel cache, or a
// prebuilt float image where the queue allows one.
#include <cstdio>
#include <cstring>
#include <string>

#include "dft/api/status_codes.hpp"
#include "dft/gpu/backends/1d_slm_large/n_facts_slm/prebuilt.hpp"
#include "dft/gpu/core/backend_protocol.hpp"
#include "dft/gpu/core/kernel_handles.hpp"
#include "dft/gpu/core/option_text.hpp"
#include "dft/gpu/kernels/program_names.hpp"
#include "dft/gpu/kernels/program_texts.hpp"
#include "gpu/service/qez_gpu_types.h"

namespace ulmara::qez::dft::n_facts_slm {

namespace {

constexpr std::size_t options_bytes = 1024;
constexpr const char* program_name = kernels::family_c2c_1d_n_facts_slm;

QEZ_DEFINE_OPTION_FORMATS(
    "-DFFT_LEN=%lld -DFACT0=%lld -DFACT1=%lld -DFACT2=%lld -DFACT3=%lld -DMAX_FACT=%lld "
    "-DKERNEL_FUNC=%s -DFACT0_FUNC=%s -DFACT1_FUNC=%s -DFACT2_FUNC=%s -DFACT3_FUNC=%s -DFWD_DIR=%d "
    "-DBWD_DIR=%d -DIDIST=%lld -DODIST=%lld -DWORK_GROUP_SIZE=%lld -DSUBGROUP_SIZE=%lld ")

// Options appended only when their value is non-zero, in this order.
struct optional_option {
  const char* format;
  std::int64_t value;
};

template <class T>
std::string format_options(const block<T>& b, direction d, const char* extra = "") {
  const bool forward = d == dir_forward;
  const direction_distances dist = distances_of(b.batch, forward);
  option_text o(options_bytes, option_overflow::keep_prefix);
  o.add(is_double<T>() ? options_format_double : options_format_single, ll(b.fft_len), ll(b.fact[fact0]),
        ll(b.fact[fact1]), ll(b.fact[fact2]), ll(b.fact[fact3]), ll(b.max_fact), b.kernel_name, b.fact_func[fact0],
        b.fact_func[fact1], b.fact_func[fact2], b.fact_func[fact3], forward ? 1 : 0, forward ? 0 : 1, ll(dist.idist),
        ll(dist.odist), ll(b.work_group_size), ll(b.subgroup_size));
  o.add("%s", extra);
  const optional_option optional[] = {{"-DLOAD_STORE_TAIL=%lld ", b.load_store_tail},
                                      {"-DLOAD_LOOP_BOUND=%lld ", b.load_loop_bound},
                                      {"-DLOAD_LOOP_TAIL=%lld ", b.load_loop_tail}};
  for (const optional_option& opt : optional)
    if (opt.value != 0) o.add(opt.format, ll(opt.value));
  return o.str();
}

template <class T>
prebuilt_query query_of(const block<T>& b, direction d) {
  const direction_distances dist = distances_of(b.batch, d == dir_forward);
  prebuilt_query q;
  q.queue_backend = b.queue_backend;
  if (b.queue_backend == QEZ_GPU_BACKEND_NIVOLO) {
    const sycl::device device = b.queue->get_device();
    q.driver_version = device.get_info<sycl::info::device::driver_version>();
  }
  q.length = b.fft_len;
  std::copy(b.fact, b.fact + factor_count, q.fact);
  q.idist = dist.idist;
  q.odist = dist.odist;
  q.d = d;
  return q;
}

// The float instance first tries a prebuilt image; true when one serves.
template <class T>
bool take_prebuilt(block<T>* b, direction d) {
  if (is_double<T>()) return false;
  const prebuilt_kernel* k = select_prebuilt_kernel(query_of(*b, d));
  if (k == nullptr) return false;
  b->prebuilt[d] = 1;
  if (load_prebuilt_kernel(*k, b->queue, b->prebuilt_handles[d]) != 0) {
    b->prebuilt[d] = 0;
    return false;
  }
  b->kernels[d] = b->prebuilt_handles[d].kernel();
  return true;
}

}  // namespace

template <class T>
int build_kernels(block<T>* b) {
  const char* source = kernels::program_text_c2c_1d_n_facts_slm(is_double<T>());
  if (source == nullptr) return status_internal_error;
  for (direction d : {dir_forward, dir_backward}) {
    if (!serves(b->directions, d) || take_prebuilt(b, d)) continue;
    const std::string options = format_options(*b, d);
    // A kernel that did not come back fails the commit rather than the compute.
    const int status = build_cached_kernel({b->queue, program_name, source, b->kernel_name, options.c_str()},
                                           b->kernels[d], build_check::kernel_only);
    if (status != status_success) return status;
  }
  return status_success;
}

template <class T>
std::string build_options_text(const block<T>& b, direction d, const char* extra) {
  return format_options(b, d, extra);
}

template <class T>
void release_kernels(block<T>* b) {
  for (direction d : {dir_forward, dir_backward}) {
    // A prebuilt kernel belongs to its image's handle, which goes back whole.
    if (b->prebuilt[d])
      b->prebuilt_handles[d].reset();
    else
      release_kernel_handle(b->kernels[d]);
    b->kernels[d] = nullptr;
  }
}

#define QEZ_INSTANTIATE(T)         \
  QEZ_INSTANTIATE_KERNEL_ENTRIES(T) \
  template std::string build_options_text<T>(const block<T>&, direction, const char*);
QEZ_FOR_EACH_PRECISION(QEZ_INSTANTIATE)
#undef QEZ_INSTANTIATE

}  // namespace ulmara::qez::dft::n_facts_slm
