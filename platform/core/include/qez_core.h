/* Functions of the core library. */
#ifndef QEZ_CORE_H
#define QEZ_CORE_H

#include <stdio.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Registers a callback run once at process shutdown (before static
 * destructors of the callers' libraries run). */
void qez_serv_core_register_sycl_destructor(void (*destructor)(void));

/* Ends the process with the given exit code; does not return. */
void qez_serv_exit(int code) __attribute__((noreturn));

/* Appends one formatted line to an open file; the variable part holds `count`
 * string (const char*) arguments. */
int qez_serv_file_format_print(FILE* file, const char* format, int count, ...);

/* sin(pi*x) and cos(pi*x), exact at the multiples of 1/2. */
void qez_serv_libm_sincospif(float x, float* sin_out, float* cos_out);

#ifdef __cplusplus
}
#endif

#endif
