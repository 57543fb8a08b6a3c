// OpenCL handles of SYCL objects: the OpenCL backend's native types are the
// OpenCL handle types themselves.
#pragma once

#include <sycl/sycl.hpp>

#include "gpu/service/opencl_types.hpp"

namespace ulmara::qez::gpu {

// The runtime adds a reference (none for root devices).
inline cl_device_id native_cl_device(const sycl::device& device) {
  return sycl::get_native<sycl::backend::opencl>(device);
}
inline cl_context native_cl_context(const sycl::context& context) {
  return sycl::get_native<sycl::backend::opencl>(context);
}

// The kernel object takes its own reference of `kernel`.
inline sycl::kernel make_cl_kernel(cl_kernel kernel, const sycl::context& context) {
  return sycl::make_kernel<sycl::backend::opencl>(kernel, context);
}

}  // namespace ulmara::qez::gpu
