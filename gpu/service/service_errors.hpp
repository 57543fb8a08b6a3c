// The sycl::exception forms in which the GPU service layer reports runtime
// and driver failures.
#pragma once

#include <cstdint>

namespace ulmara::qez::gpu {

// errc::runtime, "OpenCL error " and the decimal code.
[[noreturn]] void throw_opencl_error(int code);
// errc::runtime, "Nivolo error:" and the code in lowercase hexadecimal digits.
[[noreturn]] void throw_nivolo_error(std::uint32_t result);
// errc::backend_mismatch, "Backends mismatch".
[[noreturn]] void throw_backends_mismatch();

// OpenCL result code of a failed allocation (CL_OUT_OF_HOST_MEMORY).
constexpr int opencl_out_of_host_memory = -6;

}  // namespace ulmara::qez::gpu
