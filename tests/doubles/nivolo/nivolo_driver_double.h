/* Driver double of the Nivolo driver ("qx_loader.dll", built here as
 * libqez_qx_loader.so in a directory of its own). It presents every GPU of
 * the OpenCL platforms (the GPU profile's PoCL device) as a Nivolo device:
 * properties come from the active GPU profile (vendor id, clock, IP version,
 * sub-devices for the tile count), modules are OpenCL programs on that
 * device and kernels their OpenCL kernels, so modules and kernels really
 * run. Tests may make any entry fail and count the objects still alive. */
#ifndef QEZ_NIVOLO_DRIVER_DOUBLE_H
#define QEZ_NIVOLO_DRIVER_DOUBLE_H

#include "platform/sycl/src/nivolo_driver.h"

#ifdef __cplusplus
extern "C" {
#endif

/* The driver's entries, as the double exports them. */
#define QEZ_NIVOLO_RUNTIME_ENTRY(name, parameters) qx_result_t name parameters;
QEZ_NIVOLO_RUNTIME_ENTRIES
#undef QEZ_NIVOLO_RUNTIME_ENTRY
#define QEZ_NIVOLO_FORWARDED(name, parameters, arguments) qx_result_t name parameters;
QEZ_NIVOLO_FORWARDED_ENTRIES
#undef QEZ_NIVOLO_FORWARDED

/* From now on the entry `name` (e.g. "qxModuleCreate") returns `result`
 * without doing anything; QX_RESULT_SUCCESS makes it work again. */
void qez_nivolo_double_fail(const char* name, qx_result_t result);
/* Only the next call of the entry `name` returns `result`. */
void qez_nivolo_double_fail_next(const char* name, qx_result_t result);
/* Every entry works again. */
void qez_nivolo_double_clear_failures(void);
/* Calls of the entry `name` since the process started. */
int qez_nivolo_double_calls(const char* name);
/* Objects made and not yet destroyed: contexts, command queues, modules, kernels. */
int qez_nivolo_double_live_contexts(void);
int qez_nivolo_double_live_queues(void);
int qez_nivolo_double_live_modules(void);
int qez_nivolo_double_live_kernels(void);

#ifdef __cplusplus
}
#endif

#endif
