/* Control functions of the OpenCL double of the binary-kernel probe
 * (binary_probe_double.cpp). */
#ifndef QEZ_BINARY_PROBE_DOUBLE_H
#define QEZ_BINARY_PROBE_DOUBLE_H

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

/* How the emulated driver treats a "binary_test" image. */
enum qez_binary_probe_driver {
  QEZ_BINARY_PROBE_DRIVER_FAITHFUL = 0,      /* runs the program as written */
  QEZ_BINARY_PROBE_DRIVER_SWAPS_HALVES = 1,  /* delivers 64-bit scalars with their halves swapped */
  QEZ_BINARY_PROBE_DRIVER_NO_KERNEL = 2,     /* accepts the image but has no kernel of that name */
  QEZ_BINARY_PROBE_DRIVER_DOES_NOT_RUN = 3,  /* loads the image and launches it, but runs nothing */
  QEZ_BINARY_PROBE_DRIVER_STORES_OTHER_WORD = 4, /* runs something that stores all ones when the checks hold */
  QEZ_BINARY_PROBE_DRIVER_REFUSES_LAUNCH = 5 /* loads the image, refuses to launch it over 4 x 2 x 1 */
};

void qez_binary_probe_double_set_driver(int behaviour);
/* Images of "binary_test" received so far, and a copy of the last one
 * (null and 0 before the first). */
int qez_binary_probe_double_image_count(void);
const unsigned char* qez_binary_probe_double_last_image(size_t* size);
/* Calls `hook(context)` whenever an image of "binary_test" is loaded, before
 * the program is made (null: no call). */
void qez_binary_probe_double_on_load(void (*hook)(void*), void* context);

#ifdef __cplusplus
}
#endif

#endif
