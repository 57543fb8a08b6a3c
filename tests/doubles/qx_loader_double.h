/* Test double of the Nivolo driver loader ("qx_loader.dll", built here as
 * libqez_qx_loader.so). It hands out one GPU device and one context, answers
 * the property queries from a configuration the test sets, and records the
 * calls it receives so tests can check what the library passed on. */
#ifndef QEZ_QX_LOADER_DOUBLE_H
#define QEZ_QX_LOADER_DOUBLE_H

#include "gpu/service/nivolo_api.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef struct qez_qx_double_config {
  qx_result_t init_result;
  qx_result_t properties_result;
  uint32_t device_type; /* qx_device_type_t */
  uint32_t vendor_id;
  uint32_t core_clock_rate;
  int has_ip_version;   /* 0: an IP-version extension in the chain is left alone */
  uint32_t ip_version;
  qx_result_t sub_devices_result;
  uint32_t sub_device_count;
  qx_result_t module_create_result;
  int module_create_gives_null; /* success without a module */
  qx_result_t native_binary_result;
  const uint8_t* native_binary; /* what qxModuleGetNativeBinary hands out */
  size_t native_binary_size;
  qx_result_t module_destroy_result;
  qx_result_t kernel_create_result;
} qez_qx_double_config_t;

#define QEZ_QX_DOUBLE_KERNEL_NAME_MAX 64
#define QEZ_QX_DOUBLE_MODULE_BYTES_MAX 512

typedef struct qez_qx_double_calls {
  int init_calls;
  uint32_t init_flags;
  int properties_calls;
  uint32_t properties_stype;
  uint32_t ip_version_ext_stype; /* 0 when no extension was chained */
  int sub_devices_calls;
  int module_create_calls;
  qx_context_handle_t module_context;
  qx_device_handle_t module_device;
  qx_module_desc_t module_desc;          /* pointers inside point to the caller's data */
  uint8_t module_bytes[QEZ_QX_DOUBLE_MODULE_BYTES_MAX]; /* copy of the input module */
  const char* module_build_flags;
  qx_module_build_log_handle_t* module_build_log_arg; /* the fifth argument as passed */
  int native_binary_calls;
  int module_destroy_calls;
  int live_modules;
  int kernel_create_calls;
  uint32_t kernel_desc_stype;
  const void* kernel_desc_next;
  uint32_t kernel_desc_flags;
  char kernel_name[QEZ_QX_DOUBLE_KERNEL_NAME_MAX];
} qez_qx_double_calls_t;

/* The configuration at load: every call succeeds, a GPU with vendor id
 * 0x7A71 at 1300 MHz without an IP version, 2 sub-devices, an empty binary. */
void qez_qx_double_default_config(qez_qx_double_config_t* config);
void qez_qx_double_set_config(const qez_qx_double_config_t* config);
const qez_qx_double_calls_t* qez_qx_double_calls(void);
void qez_qx_double_reset_calls(void);

qx_device_handle_t qez_qx_double_device(void);
qx_context_handle_t qez_qx_double_context(void);

#ifdef __cplusplus
}
#endif

#endif
