/* Control functions of the OpenCL test double (opencl_double.cpp). */
#ifndef QEZ_OPENCL_DOUBLE_H
#define QEZ_OPENCL_DOUBLE_H

#ifdef __cplusplus
extern "C" {
#endif

/* What every entry point of the double returns: this code for cl_int
 * results, this address for handle results. */
#define QEZ_OPENCL_DOUBLE_MARKER_RESULT (-4242)
#define QEZ_OPENCL_DOUBLE_MARKER_HANDLE 0x4242

/* Name of the entry point called last ("" before any call). */
const char* qez_opencl_double_last_call(void);
int qez_opencl_double_call_count(void);

#ifdef __cplusplus
}
#endif

#endif
