// SYCL interoperability with the Nivolo backend: native device and context
// handles, executable kernel bundles made from driver modules, and kernels
// made from driver kernels. An object of another backend is refused with
// "Backends mismatch" (errc::backend_mismatch).
#pragma once

#include <optional>
#include <vector>

#include <sycl/sycl.hpp>

#include "gpu/service/nivolo_api.h"
#include "gpu/service/service_errors.hpp"

namespace ulmara {
namespace qez {
namespace gpu {

qx_device_handle_t nivolo_native_device(const sycl::device& device);
qx_context_handle_t nivolo_native_context(const sycl::context& context);

// Program handle of the Nivolo backend: an executable kernel bundle.
struct nivolo_program;

// Module handles of every device image of the bundle, in the bundle's order.
std::vector<qx_module_handle_t> nivolo_program_modules(const nivolo_program* program);
// Takes ownership of the module (destroyed when the runtime refuses it).
nivolo_program* make_nivolo_program(qx_module_handle_t module, const sycl::context& context);
// Compiles OpenCL C with the runtime's own kernel compiler.
nivolo_program* compile_nivolo_program(const char* source, const char* options,
                                       const sycl::context& context);
bool runtime_can_compile_opencl(const sycl::device& device);
// The kernel owns `native`: the runtime destroys it with the kernel.
sycl::kernel* make_nivolo_kernel(qx_kernel_handle_t native, const nivolo_program* program,
                                 const sycl::context& context);
void destroy_nivolo_program(nivolo_program* program);

}  // namespace gpu
}  // namespace qez
}  // namespace ulmara
