// Kernel arguments and launch: argument records are filled with the setters,
// then one of six launchers submits one command group that declares the
// dependencies, sets every kernel argument from the records and runs the
// kernel over an nd-range. Each launch returns a new heap event the caller
// frees with release_event (or hands to a merge). Size arrays of the 2D and
// 3D launchers list the fastest-varying dimension first, as OpenCL does.
#pragma once

#include <cstddef>

#include <sycl/sycl.hpp>

#include "gpu/service/kernel_types.hpp"

namespace ulmara::qez::gpu {

// Scalars of at most 8 bytes are stored inline; a longer value keeps its
// first 8 bytes.
void set_scalar_arg_internal(qez_gpu_argument_t* record, const void* data, std::size_t n);
void set_buffer_arg(qez_gpu_argument_t* record, sycl::buffer<char, 1>* buffer, qez_gpu_access_t access);
void qez_gpu_set_usm_arg(qez_gpu_argument_t* record, const void* pointer);
void set_buffer_arg_usm(qez_gpu_argument_t* record, char* pointer, qez_gpu_access_t access);
void set_SLM_arg(qez_gpu_argument_t* record, std::size_t bytes);

sycl::event* launch_kernel_1D(int* status, sycl::queue* queue, qez_gpu_kernel_struct_t* kernel,
                              qez_gpu_argument_t* args, std::size_t global, std::size_t local,
                              qez_gpu_event_list_t* deps);
sycl::event* launch_kernel_2D(int* status, sycl::queue* queue, qez_gpu_kernel_struct_t* kernel,
                              qez_gpu_argument_t* args, const std::size_t* global, const std::size_t* local,
                              qez_gpu_event_list_t* deps);
sycl::event* launch_kernel_3D(int* status, sycl::queue* queue, qez_gpu_kernel_struct_t* kernel,
                              qez_gpu_argument_t* args, const std::size_t* global, const std::size_t* local,
                              qez_gpu_event_list_t* deps);
sycl::event* launch_kernel_1D_usm(int* status, sycl::queue* queue, qez_gpu_kernel_struct_t* kernel,
                                  qez_gpu_argument_t* args, std::size_t global, std::size_t local,
                                  qez_gpu_event_list_t* deps);
sycl::event* launch_kernel_2D_usm(int* status, sycl::queue* queue, qez_gpu_kernel_struct_t* kernel,
                                  qez_gpu_argument_t* args, const std::size_t* global, const std::size_t* local,
                                  qez_gpu_event_list_t* deps);
sycl::event* launch_kernel_3D_usm(int* status, sycl::queue* queue, qez_gpu_kernel_struct_t* kernel,
                                  qez_gpu_argument_t* args, const std::size_t* global, const std::size_t* local,
                                  qez_gpu_event_list_t* deps);

// Which records a command group can turn into arguments.
enum class argument_form { buffer, usm };
// Sets every argument of `kernel` from `args` inside a command group.
void qez_gpu_cgh_set_args(const sycl::kernel& kernel, sycl::handler& cgh, const qez_gpu_argument_t* args,
                          argument_form form);

}  // namespace ulmara::qez::gpu
