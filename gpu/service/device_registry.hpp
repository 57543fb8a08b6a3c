// Device registry: the stable id of the device behind a queue (its native
// handle), one record of hardware numbers per device, and the OpenCL twin of
// each Nivolo device. The tables are created on first use and torn down
// through the SYCL destructor registry.
#pragma once

#include <cstdint>

#include <sycl/sycl.hpp>

#include "gpu/service/qez_gpu_types.h"

namespace ulmara::qez::gpu {

// Native handle of the queue's device, remembered per queue. `status` is not written.
void* get_device_id(int* status, sycl::queue* queue);

// The device's record, made on first use; raises "OpenCL error -6" when it
// cannot be allocated.
qez_gpu_device_record_t* get_device_record(int* status, sycl::queue* queue);

int get_tile_count(sycl::queue* queue);
int get_eu_count(sycl::queue* queue);
int qez_gpu_get_max_workgroup_size(sycl::queue* queue);
qez_gpu_backend_t get_queue_backend(sycl::queue* queue);

// A copy of the record (record_lock 0); 0.
int get_device_info(sycl::queue* queue, qez_gpu_device_info_t* info);
// The same after the architecture has been detected.
int get_device_info_with_arch(sycl::queue* queue, qez_gpu_device_info_t* info);

// OpenCL device and context for compiling OpenCL C for the queue's device.
// Either out pointer may be null.
void qez_gpu_get_cl_device_context(int* status, sycl::queue* queue, void** cl_device,
                                   void** cl_context);
// The OpenCL device and context of the same hardware as a Nivolo device;
// raises "OpenCL error -1" when there is none.
void match_cl_device_context(int* status, void* nivolo_device, void** cl_device, void** cl_context);

// Teardown callbacks.
void free_device_registry();
void free_cl_device_context_map();

// Capacity limit of the queue-to-device table; beyond it slots are reused in ring order.
constexpr std::int32_t device_id_ring_limit = 2048;
// Entries of the queue-to-device table and records of the record table (diagnostics).
std::int32_t device_id_ring_count();
std::int32_t device_record_count();

}  // namespace ulmara::qez::gpu
