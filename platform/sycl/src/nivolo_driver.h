/* The Nivolo driver interface as the SYCL runtime uses it, beyond what the
 * library itself calls (gpu/service/nivolo_api.h): device enumeration,
 * contexts, command queues, the modules of its kernel compiler, kernel
 * destruction, event synchronisation, and the bridge to the OpenCL objects
 * that carry the work on this machine (the driver runs its modules as
 * OpenCL programs on the device the GPU profile presents). Shared with the
 * driver double that plays the driver here. */
#ifndef QEZ_NIVOLO_DRIVER_H
#define QEZ_NIVOLO_DRIVER_H

#ifndef CL_TARGET_OPENCL_VERSION
#define CL_TARGET_OPENCL_VERSION 300
#endif
#include <CL/cl.h>

#include "gpu/service/nivolo_api.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef struct qx_command_queue_object* qx_command_queue_handle_t;

/* Result codes the driver gives besides success. */
#define QX_RESULT_ERROR_DEVICE_LOST ((qx_result_t)0x70000001u)
#define QX_RESULT_ERROR_OUT_OF_HOST_MEMORY ((qx_result_t)0x70000002u)
#define QX_RESULT_ERROR_MODULE_BUILD_FAILURE ((qx_result_t)0x70000004u)
#define QX_RESULT_ERROR_INVALID_NULL_HANDLE ((qx_result_t)0x78000004u)
#define QX_RESULT_ERROR_INVALID_ARGUMENT ((qx_result_t)0x78000005u)
#define QX_RESULT_ERROR_INVALID_KERNEL_NAME ((qx_result_t)0x78000011u)

/* Flags of qxCommandQueueCreate. */
#define QX_COMMAND_QUEUE_FLAG_IN_ORDER 1u
#define QX_COMMAND_QUEUE_FLAG_PROFILING 2u

/* The runtime's entries, in resolution order:
 * QEZ_NIVOLO_RUNTIME_ENTRY(name, (parameters)) */
#define QEZ_NIVOLO_RUNTIME_ENTRIES                                                                  \
  QEZ_NIVOLO_RUNTIME_ENTRY(qxInit, (uint32_t flags))                                                \
  QEZ_NIVOLO_RUNTIME_ENTRY(qxDeviceGet, (uint32_t * pCount, qx_device_handle_t * phDevices))        \
  QEZ_NIVOLO_RUNTIME_ENTRY(qxDeviceGetProperties,                                                   \
                           (qx_device_handle_t hDevice, qx_device_properties_t * pDeviceProperties)) \
  QEZ_NIVOLO_RUNTIME_ENTRY(qxDeviceGetSubDevices, (qx_device_handle_t hDevice, uint32_t * pCount,   \
                                                   qx_device_handle_t * phSubdevices))              \
  QEZ_NIVOLO_RUNTIME_ENTRY(qxContextCreate, (uint32_t numDevices, const qx_device_handle_t* phDevices, \
                                             qx_context_handle_t* phContext))                       \
  QEZ_NIVOLO_RUNTIME_ENTRY(qxContextDestroy, (qx_context_handle_t hContext))                        \
  QEZ_NIVOLO_RUNTIME_ENTRY(qxCommandQueueCreate,                                                    \
                           (qx_context_handle_t hContext, qx_device_handle_t hDevice,               \
                            uint32_t flags, qx_command_queue_handle_t * phQueue))                 \
  QEZ_NIVOLO_RUNTIME_ENTRY(qxCommandQueueDestroy, (qx_command_queue_handle_t hQueue))               \
  QEZ_NIVOLO_RUNTIME_ENTRY(qxModuleCreate, (qx_context_handle_t hContext, qx_device_handle_t hDevice,   \
                                            const qx_module_desc_t* desc, qx_module_handle_t* phModule, \
                                            qx_module_build_log_handle_t* phBuildLog))                \
  QEZ_NIVOLO_RUNTIME_ENTRY(qxModuleDestroy, (qx_module_handle_t hModule))                           \
  QEZ_NIVOLO_RUNTIME_ENTRY(qxKernelDestroy, (qx_kernel_handle_t hKernel))                           \
  QEZ_NIVOLO_RUNTIME_ENTRY(qxextEventHostSynchronize, (cl_event hEvent))                             \
  QEZ_NIVOLO_RUNTIME_ENTRY(qxextDeviceGetOpenCL, (qx_device_handle_t hDevice, cl_device_id * pDevice)) \
  QEZ_NIVOLO_RUNTIME_ENTRY(qxextContextGetOpenCL, (qx_context_handle_t hContext, cl_context * pContext)) \
  QEZ_NIVOLO_RUNTIME_ENTRY(qxextCommandQueueGetOpenCL,                                              \
                           (qx_command_queue_handle_t hQueue, cl_command_queue * pQueue))           \
  QEZ_NIVOLO_RUNTIME_ENTRY(qxextKernelGetOpenCL, (qx_kernel_handle_t hKernel, cl_kernel * pKernel))

#define QEZ_NIVOLO_RUNTIME_ENTRY(name, parameters) typedef qx_result_t(*name##_fn) parameters;
QEZ_NIVOLO_RUNTIME_ENTRIES
#undef QEZ_NIVOLO_RUNTIME_ENTRY

#ifdef __cplusplus
}
#endif

#endif /* QEZ_NIVOLO_DRIVER_H */
