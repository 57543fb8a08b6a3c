// The service's handle of a loaded prebuilt kernel, owned: the kernel
// service gets it back (release_kernel) when the owner lets it go.
#pragma once

#include <sycl/sycl.hpp>

#include "gpu/service/kernel_entry_points.hpp"
#include "gpu/service/kernel_types.hpp"

namespace ulmara {
namespace qez {
namespace dft {
namespace n_facts_slm {

class prebuilt_handle {
 public:
  prebuilt_handle() = default;
  ~prebuilt_handle() { reset(); }
  prebuilt_handle(const prebuilt_handle&) = delete;
  prebuilt_handle& operator=(const prebuilt_handle&) = delete;

  // Takes `handle` over, giving back the one held before.
  void reset(gpu::qez_gpu_kernel_struct_t* handle = nullptr) {
    if (handle_ != nullptr) {
      int status = 0;
      try {
        gpu::release_kernel(&status, handle_);
      } catch (const sycl::exception&) {
        // The handle is gone for its owner either way.
      }
    }
    handle_ = handle;
  }
  gpu::qez_gpu_kernel_struct_t* get() const { return handle_; }
  sycl::kernel* kernel() const { return handle_ != nullptr ? handle_->kernel : nullptr; }

 private:
  gpu::qez_gpu_kernel_struct_t* handle_ = nullptr;
};

}  // namespace n_facts_slm
}  // namespace dft
}  // namespace qez
}  // namespace ulmara
