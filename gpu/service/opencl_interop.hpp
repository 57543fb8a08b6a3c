// OpenCL handles of SYCL objects in the types of the OpenCL headers. The
// SYCL runtime declares its own handle types, so the handles are converted
// here, in one place.
#pragma once

#include <sycl/sycl.hpp>

#include "gpu/service/opencl_types.hpp"

namespace ulmara {
namespace qez {
namespace gpu {

// The runtime adds a reference (none for root devices).
inline cl_device_id native_cl_device(const sycl::device& device) {
  return reinterpret_cast<cl_device_id>(sycl::get_native<sycl::backend::opencl>(device));
}
inline cl_context native_cl_context(const sycl::context& context) {
  return reinterpret_cast<cl_context>(sycl::get_native<sycl::backend::opencl>(context));
}

// The kernel object takes its own reference of `kernel`.
inline sycl::kernel make_cl_kernel(cl_kernel kernel, const sycl::context& context) {
  using native_kernel = sycl::backend_input_t<sycl::backend::opencl, sycl::kernel>;
  return sycl::make_kernel<sycl::backend::opencl>(reinterpret_cast<native_kernel>(kernel), context);
}

}  // namespace gpu
}  // namespace qez
}  // namespace ulmara
