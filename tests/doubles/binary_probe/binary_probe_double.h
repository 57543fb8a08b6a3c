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
  QEZ_BINARY_PROBE_DRIVER_NO_KERNEL = 2      /* accepts the image but has no kernel of that name */
};

void qez_binary_probe_double_set_driver(int behaviour);
/* Images of "binary_test" received so far, and a copy of the last one
 * (null and 0 before the first). */
int qez_binary_probe_double_image_count(void);
const unsigned char* qez_binary_probe_double_last_image(size_t* size);

#ifdef __cplusplus
}
#endif

#endif
