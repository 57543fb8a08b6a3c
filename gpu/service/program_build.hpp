// Program build: OpenCL C source ('S'), SPIR-V ('V') or a native binary
// ('B') becomes a device program for the device of a queue: an OpenCL
// program on the OpenCL backend, a Nivolo program on the Nivolo backend.
// Failures raise sycl::exception (errc::runtime) naming device and kernel;
// the SYCL runtime's kernel compiler (OpenCL C on a Nivolo device that has
// one) raises its own exceptions, which pass to the caller unchanged.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include <sycl/sycl.hpp>

#include "gpu/service/opencl_types.hpp"

namespace ulmara::qez::gpu {

// Program handle for the queue's backend, or null (status untouched) on a
// backend that is neither OpenCL nor Nivolo. `release_flag` may be null.
void* build_program(int* status, sycl::queue* queue, void* device, void* native_context, std::int32_t domain,
                    const char* kernel_name, const void* data, std::size_t size, char format, const char* options,
                    std::uint8_t* release_flag);

cl_program build_ocl_program(cl_device_id device, cl_context context, const void* data, std::size_t size,
                             char format, const char* options, sycl::queue* queue, const char* kernel_name,
                             std::int32_t domain);

// OpenCL C compiled on the OpenCL twin of a Nivolo device; with `binary`
// also the device binary (from qez_serv_malloc, the caller's). Clears
// *release_flag when the program belongs to the kernel cache.
cl_program compile_source_on_ocl_device(int* status, void* nivolo_device, std::int32_t domain,
                                        const char* kernel_name, const char* source, const char* options,
                                        std::uint8_t* release_flag, bool use_cache, std::uint8_t** binary,
                                        std::size_t* binary_size, sycl::queue* queue);

// The built binary of `program` for `device`; null and 0 when it cannot be had.
void get_program_binary(int* status, cl_program program, cl_device_id device, std::uint8_t** binary,
                        std::size_t* size);

// ---- messages ----

// "ulmara::qez::dft::" and kin; empty for other domains.
const char* domain_message_prefix(std::int32_t domain);
bool is_double_precision_kernel(std::int32_t domain, const char* kernel_name);
std::string double_precision_message(const std::string& device_name, std::int32_t domain,
                                     const char* kernel_name);
std::string opencl_build_message(int code, const std::string& device_name, std::int32_t domain,
                                 const char* kernel_name);
std::string nivolo_build_message(std::uint32_t result, const std::string& device_name, std::int32_t domain,
                                 const char* kernel_name);

// Programs built in this process: clBuildProgram calls and builds by the
// SYCL runtime's kernel compiler.
std::uint64_t program_build_count();

// The compiler's log of the last OpenCL program that failed to create or
// build on the calling thread (empty when the driver gave none, or when the
// creation failed); the exception's message does not carry it.
std::string last_failed_build_log();

}  // namespace ulmara::qez::gpu
