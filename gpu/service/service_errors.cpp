// Exceptions of the GPU service layer.
#include "gpu/service/service_errors.hpp"

#include <cstdio>
#include <string>

#include <sycl/sycl.hpp>

namespace ulmara::qez::gpu {

void throw_opencl_error(int code) {
  throw sycl::exception(sycl::make_error_code(sycl::errc::runtime),
                        "OpenCL error " + std::to_string(code));
}

void throw_nivolo_error(std::uint32_t result) {
  char digits[16];
  std::snprintf(digits, sizeof digits, "%x", static_cast<unsigned>(result));
  throw sycl::exception(sycl::make_error_code(sycl::errc::runtime), std::string("Nivolo error:") + digits);
}

void throw_backends_mismatch() {
  throw sycl::exception(sycl::make_error_code(sycl::errc::backend_mismatch), "Backends mismatch");
}

}  // namespace ulmara::qez::gpu
