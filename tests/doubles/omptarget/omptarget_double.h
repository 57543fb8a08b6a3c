/* Test double of the OpenMP offload runtime ("omptarget.dll", built here as
 * libqez_omptarget.so). It exports the runtime's interop functions and hands
 * out interop objects that a test makes: one over a SYCL queue of the
 * stand-in (foreign runtime 4), one over real OpenCL handles of the PoCL
 * device (3), one over Nivolo handles that no SYCL platform exposes (6), or
 * one over handles the test gives. A test can make any query of an interop
 * fail, and read how often each property was queried. With the environment
 * variable QEZ_OMP_DOUBLE_SLOW_LOAD set, loading the double takes 100 ms. */
#ifndef QEZ_OMPTARGET_DOUBLE_H
#define QEZ_OMPTARGET_DOUBLE_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Return codes of the OpenMP interop interface. */
enum qez_omp_double_irc {
  QEZ_OMP_IRC_SUCCESS = 0,
  QEZ_OMP_IRC_EMPTY = -1,
  QEZ_OMP_IRC_OUT_OF_RANGE = -2,
  QEZ_OMP_IRC_OTHER = -6
};

/* Runtime 4: the targetsync object is `sycl_queue` (a sycl::queue*), which
 * stays the test's. */
void* qez_omp_double_sycl_interop(void* sycl_queue);
/* Runtime 3: a new OpenCL context and in-order command queue on the first
 * GPU device; the interop owns them and releases them when destroyed. */
void* qez_omp_double_opencl_interop(void);
/* Runtime 3: a new command queue on the context of `other` (an OpenCL
 * interop of this double); the interop owns its queue and a reference to
 * the context. */
void* qez_omp_double_opencl_interop_sharing_context(void* other);
/* Runtime 6: handles of a Nivolo device, context and queue. */
void* qez_omp_double_nivolo_interop(void);
/* Any runtime id with the handles given; nothing is owned. */
void* qez_omp_double_interop_with(int32_t runtime_id, void* targetsync, void* device, void* context);
/* Releases what the interop owns, as the runtime's interop destruction does. */
void qez_omp_double_destroy_interop(void* interop);

/* From now on the query of `property` on this interop reports
 * QEZ_OMP_IRC_OTHER. */
void qez_omp_double_fail_property(void* interop, int property);
/* Value of the implementation property 10 (0 by default); a failing query
 * of it still gives the value, with the failure's return code. */
void qez_omp_double_set_property_10(void* interop, int64_t value);

/* Handles the interop hands out. */
void* qez_omp_double_targetsync(void* interop);
void* qez_omp_double_device(void* interop);
void* qez_omp_double_context(void* interop);

/* Queries of `property` (integer, pointer and string alike) since the last
 * reset, over all interops. */
int64_t qez_omp_double_query_count(int property);
void qez_omp_double_reset_counts(void);
/* Calls of ompx_interop_add_completion_callback. */
int64_t qez_omp_double_callback_count(void);

#ifdef __cplusplus
}
#endif

#endif /* QEZ_OMPTARGET_DOUBLE_H */
