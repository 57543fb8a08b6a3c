/* The Nivolo GPU driver interface as far as the library uses it: handles,
 * result codes, the structures it passes and the driver functions it
 * resolves from "qx_loader.dll". Shared with the test double of the driver. */
#ifndef QEZ_NIVOLO_API_H
#define QEZ_NIVOLO_API_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef uint32_t qx_result_t;
#define QX_RESULT_SUCCESS ((qx_result_t)0)
/* What a forwarder returns should the service exit come back. */
#define QX_RESULT_ERROR_UNINITIALIZED ((qx_result_t)0x70010001u)

typedef struct qx_device_object* qx_device_handle_t;
typedef struct qx_context_object* qx_context_handle_t;
typedef struct qx_module_object* qx_module_handle_t;
typedef struct qx_kernel_object* qx_kernel_handle_t;
typedef struct qx_build_log_object* qx_module_build_log_handle_t;

typedef enum qx_structure_type {
  QX_STRUCTURE_TYPE_DEVICE_PROPERTIES = 3,
  QX_STRUCTURE_TYPE_MODULE_DESC = 27,
  QX_STRUCTURE_TYPE_KERNEL_DESC = 29,
  QX_STRUCTURE_TYPE_DEVICE_IP_VERSION_EXT = 0x0001000F
} qx_structure_type_t;

typedef enum qx_device_type { QX_DEVICE_TYPE_GPU = 1, QX_DEVICE_TYPE_CPU = 2 } qx_device_type_t;

typedef enum qx_module_format {
  QX_MODULE_FORMAT_IL_SPIRV = 0,
  QX_MODULE_FORMAT_NATIVE = 1
} qx_module_format_t;

#define QX_MAX_DEVICE_NAME 256

typedef struct qx_device_properties {
  uint32_t stype; /* QX_STRUCTURE_TYPE_DEVICE_PROPERTIES */
  void* pNext;    /* extension chain, e.g. qx_device_ip_version_ext_t */
  uint32_t type;  /* qx_device_type_t */
  uint32_t vendorId;
  uint32_t deviceId;
  uint32_t flags;
  uint32_t coreClockRate; /* MHz */
  uint32_t numEUsPerSubslice;
  uint32_t numSubslicesPerSlice;
  uint32_t numSlices;
  char name[QX_MAX_DEVICE_NAME];
} qx_device_properties_t;

typedef struct qx_device_ip_version_ext {
  uint32_t stype; /* QX_STRUCTURE_TYPE_DEVICE_IP_VERSION_EXT */
  const void* pNext;
  uint32_t ipVersion;
} qx_device_ip_version_ext_t;

typedef struct qx_module_constants qx_module_constants_t;

typedef struct qx_module_desc {
  uint32_t stype; /* QX_STRUCTURE_TYPE_MODULE_DESC */
  const void* pNext;
  uint32_t format; /* qx_module_format_t */
  size_t inputSize;
  const uint8_t* pInputModule;
  const char* pBuildFlags;
  const qx_module_constants_t* pConstants;
} qx_module_desc_t;

typedef struct qx_kernel_desc {
  uint32_t stype; /* QX_STRUCTURE_TYPE_KERNEL_DESC */
  const void* pNext;
  uint32_t flags;
  const char* pKernelName;
} qx_kernel_desc_t;

/* The driver functions, by name; QEZ_NIVOLO_FORWARDED lists the six the
 * library forwards, in resolution order:
 * QEZ_NIVOLO_FORWARDED(name, (parameters), (argument names)) */
typedef qx_result_t (*qxInit_fn)(uint32_t flags);

#define QEZ_NIVOLO_FORWARDED_ENTRIES                                                            \
  QEZ_NIVOLO_FORWARDED(qxDeviceGetProperties,                                                   \
                       (qx_device_handle_t hDevice, qx_device_properties_t * pDeviceProperties), \
                       (hDevice, pDeviceProperties))                                            \
  QEZ_NIVOLO_FORWARDED(qxDeviceGetSubDevices,                                                   \
                       (qx_device_handle_t hDevice, uint32_t * pCount,                          \
                        qx_device_handle_t * phSubdevices),                                     \
                       (hDevice, pCount, phSubdevices))                                         \
  QEZ_NIVOLO_FORWARDED(qxModuleCreate,                                                          \
                       (qx_context_handle_t hContext, qx_device_handle_t hDevice,               \
                        const qx_module_desc_t* desc, qx_module_handle_t* phModule,             \
                        qx_module_build_log_handle_t* phBuildLog),                              \
                       (hContext, hDevice, desc, phModule, phBuildLog))                         \
  QEZ_NIVOLO_FORWARDED(qxKernelCreate,                                                          \
                       (qx_module_handle_t hModule, const qx_kernel_desc_t* desc,               \
                        qx_kernel_handle_t* phKernel),                                          \
                       (hModule, desc, phKernel))                                               \
  QEZ_NIVOLO_FORWARDED(qxModuleDestroy, (qx_module_handle_t hModule), (hModule))                \
  QEZ_NIVOLO_FORWARDED(qxModuleGetNativeBinary,                                                 \
                       (qx_module_handle_t hModule, size_t * pSize,                             \
                        uint8_t * pModuleNativeBinary),                                         \
                       (hModule, pSize, pModuleNativeBinary))

/* The exported forwarders of this library: qez_ followed by the driver name. */
#define QEZ_NIVOLO_FORWARDED(name, parameters, arguments) qx_result_t qez_##name parameters;
QEZ_NIVOLO_FORWARDED_ENTRIES
#undef QEZ_NIVOLO_FORWARDED

#ifdef __cplusplus
}
#endif

#endif /* QEZ_NIVOLO_API_H */
