// Architecture detection at run time: once per device, the generation,
// stepping and device flags of the device behind a queue are learnt from the
// driver (IP version, else the binary of a trivial kernel) and kept in the
// device record.
#pragma once

#include <cstddef>
#include <cstdint>

#include <sycl/sycl.hpp>

#include "gpu/service/architecture_decode.hpp"
#include "gpu/service/nivolo_api.h"
#include "gpu/service/opencl_types.hpp"
#include "gpu/service/qez_gpu_types.h"

namespace ulmara::qez::gpu {

// Fills the record's architecture fields on first use; raises
// ulmara::qez::exception "unknown GPU architecture" when the queue's device
// is a GPU whose architecture is 0 (on every call).
void ensure_architecture(sycl::queue* queue, qez_gpu_device_record_t* record);

// Whether the record's architecture fields are filled. Safe without the
// record's lock: the flag is set with a release store after the fields.
bool architecture_published(const qez_gpu_device_record_t& record);

// Writes architecture, stepping and flags (0 for all on any failure); never
// raises for detection failures. `status` and `backend` are not consulted.
void detect_hw_and_stepping(int* status, sycl::queue* queue, std::uint32_t* architecture,
                            std::uint32_t* stepping, std::uint32_t* flags, int backend);

qez_gpu_arch_t get_architecture(int* status, sycl::queue* queue);
std::uint32_t get_device_flags(int* status, sycl::queue* queue);
void get_architecture_and_stepping(int* status, sycl::queue* queue, qez_gpu_arch_t* architecture,
                                   std::uint32_t* stepping);

// The driver roads of detection on native handles; each raises
// zorn::opencl_error, zorn::nivolo_error or the npack exceptions.
void detect_on_nivolo(qx_context_handle_t context, qx_device_handle_t device, hw_identity* id);
void detect_on_opencl(cl_context context, cl_device_id device, hw_identity* id);

// The SPIR-V module of the Nivolo fallback: one kernel "entry" with an empty body.
extern const std::uint32_t hw_detect_spirv[];
constexpr std::size_t hw_detect_spirv_bytes = 196;
constexpr const char* hw_detect_opencl_source = "kernel void _zorn_hw_detect(){}";

}  // namespace ulmara::qez::gpu
