#include "dft/gpu/core/kernel_handles.hpp"

#include "dft/api/status_codes.hpp"
#include "gpu/service/kernel_entry_points.hpp"
#include "gpu/service/native_handles.hpp"

namespace ulmara::qez::dft {

void release_kernel_handle(sycl::kernel*& kernel) {
  if (kernel == nullptr) return;
  int status = 0;
  try {
    gpu::release_kernel_obj(&status, kernel);
  } catch (const sycl::exception&) {
    // The kernel is gone for this block either way.
  }
  kernel = nullptr;
}

int build_cached_kernel(const cached_kernel_request& r, sycl::kernel*& slot, build_check check) {
  int status = 0;
  slot = r.make_source != nullptr
             ? gpu::get_OCL_kernel_by_progname(&status, r.queue, gpu::domain_dft, r.program_name, *r.make_source,
                                               r.kernel_name, r.options)
             : gpu::get_OCL_kernel_by_progname(&status, r.queue, gpu::domain_dft, r.program_name, r.source,
                                               r.kernel_name, r.options);
  const bool status_ok = check == build_check::kernel_only || status == 0;
  return status_ok && slot != nullptr ? status_success : status_internal_error;
}

}  // namespace ulmara::qez::dft
