// Bridges between SYCL objects and the native handles of their backend: the
// device and context of a queue, and SYCL kernel objects made from native
// programs.
#pragma once

#include <sycl/sycl.hpp>

#include "gpu/service/qez_gpu_types.h"

namespace ulmara::qez::gpu {

// The backend argument of native_context_handle that asks for the queue's own.
constexpr int backend_of_queue = -2;

// Native handle of the queue's device: an OpenCL device, a Nivolo device, or
// null on any other backend.
void* native_device_handle(sycl::queue* queue);
// OpenCL device of the queue, without an extra reference.
void* native_cl_device(sycl::queue* queue);
void* native_nivolo_device(sycl::queue* queue);
// Native context (OpenCL or Nivolo) without an extra reference; null on
// other backends. The first argument is not looked at.
void* native_context_handle(void* unused, sycl::queue* queue, int backend);

// A new heap kernel object for `name` of `program` (an OpenCL program on the
// OpenCL backend, a Nivolo program on the Nivolo backend); null on others.
sycl::kernel* create_kernel_object(int* status, sycl::queue* queue, void* program, const char* name);
void release_kernel_obj(int* status, sycl::kernel* kernel);

}  // namespace ulmara::qez::gpu
