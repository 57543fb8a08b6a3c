/* Test controls of the service stand-in: what a real platform would take from
 * its environment or could not do on demand (verbose mode and file, capture of
 * printed text, allocation failures). */
#ifndef QEZ_SERVICE_CONTROL_H
#define QEZ_SERVICE_CONTROL_H

#include <stddef.h>

#include "qez_standin_output.hpp"

#ifdef __cplusplus
extern "C" {
#endif

/* Overrides what QEZ_VERBOSE and QEZ_VERBOSE_OUTPUT_FILE said. */
void qez_standin_set_verbose_mode(int mode);
void qez_standin_set_verbose_output_file(const char* path);


/* After `skip` further successful allocations, the next `count` allocations
 * fail (count < 0: all of them). (0, 0) turns injection off. */
void qez_standin_fail_allocations(long skip, long count);
/* Blocks handed out and not yet freed. */
long qez_standin_live_allocations(void);

#ifdef __cplusplus
}
#endif

#endif
