// Kernel entry points: a kernel by OpenCL C source, SPIR-V or native binary,
// looked up in the kernel cache, built on a miss and handed out as a kernel
// handle (pooled in the cache entry, or owned by the caller). Failures raise
// sycl::exception (errc::runtime); the status is left as it was on return.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include <sycl/sycl.hpp>

#include "gpu/service/kernel_types.hpp"

namespace ulmara::qez::gpu {

// Pooled handle of `kernel_name` from OpenCL C source, cached by kernel name and options.
qez_gpu_kernel_struct_t* get_OCL_kernel(int* status, sycl::queue* queue, std::int32_t domain, const char* source,
                                        const char* kernel_name, const char* options);
// A kernel object of a program cached by program name and options; the
// caller frees it with release_kernel_obj.
sycl::kernel* get_OCL_kernel_by_progname(int* status, sycl::queue* queue, std::int32_t domain,
                                         const char* program_name, const char* source, const char* kernel_name,
                                         const char* options);
// The program text of a source request, made when it is needed.
using source_maker = std::function<std::string()>;
// The same, with a program text that is only made when the program must be
// built (a miss in the cache): a program found in the cache costs no text.
sycl::kernel* get_OCL_kernel_by_progname(int* status, sycl::queue* queue, std::int32_t domain,
                                         const char* program_name, const source_maker& make_source,
                                         const char* kernel_name, const char* options);
qez_gpu_kernel_struct_t* qez_gpu_get_spirv_kernel(int* status, sycl::queue* queue, std::int32_t domain,
                                                  const qez_gpu_spirv_kernel_t* spirv, const char* kernel_name,
                                                  const char* options);
qez_gpu_kernel_struct_t* get_binary_kernel(int* status, sycl::queue* queue, std::int32_t domain,
                                           const qez_gpu_binary_kernel_t* binary, const char* kernel_name);
qez_gpu_kernel_struct_t* qez_gpu_get_binary_kernel_ext(int* status, sycl::queue* queue, std::int32_t domain,
                                                       const qez_gpu_binary_kernel_t* binary,
                                                       const char* kernel_name, const void* key_options,
                                                       std::size_t key_options_length, const void* extra,
                                                       std::size_t extra_length);
// A pooled handle of a kernel already in the cache, or null.
qez_gpu_kernel_struct_t* qez_gpu_get_cached_kernel(int* status, sycl::queue* queue, std::int32_t domain,
                                                   const char* kernel_name, const void* key_options,
                                                   std::size_t key_options_length, void** extra,
                                                   std::size_t* extra_length);
// Owned handles are freed, pooled ones go back to their pool; null does nothing.
void release_kernel(int* status, qez_gpu_kernel_struct_t* handle);

// Builds of one cache key are made once: concurrent callers of that key wait
// for the first one's build; callers of different keys build concurrently.
// Tests observe this through the two functions below.
//
// Called on the building thread just before a program of a looked-up key is
// built (with the cache name), outside every lock; null for none. Returns
// the previous hook.
using kernel_build_hook = void (*)(const char* cache_name);
kernel_build_hook set_kernel_build_hook(kernel_build_hook hook);
// Callers now waiting for another thread's build of their key.
std::size_t kernel_builds_waiting();

// Statuses of the binary road with source.
constexpr int binary_road_status_base = -2000;
constexpr int binary_road_no_package = -2001;
// Kernel name whose package is always compiled afresh.
constexpr const char* binary_probe_kernel_name = "binary_test";

}  // namespace ulmara::qez::gpu
