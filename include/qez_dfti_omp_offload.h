/* OpenMP-offload entry points of the DFTI interface: commit a DFTI
 * descriptor for the device behind an OpenMP interop object and run its
 * transforms there on USM data, from C and from Fortran.
 *
 * Every function returns a DFTI status: 0 success, 1 allocation failed,
 * 2 invalid in this state, 3 invalid configuration or argument, 5 bad
 * descriptor, 6 not implemented, 7 internal error, 83 an error of the
 * OpenMP runtime, of the interop or of the SYCL runtime (one line on
 * standard error says which). No function lets an exception escape.
 *
 * Compute calls do not wait for the device: the transform is queued on the
 * interop's queue. Data must be memory the device reaches (device or shared
 * USM); anything else is refused with status 3. */
#ifndef QEZ_DFTI_OMP_OFFLOAD_H
#define QEZ_DFTI_OMP_OFFLOAD_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

struct DFTI_DESCRIPTOR;
#ifndef __cplusplus
typedef struct DFTI_DESCRIPTOR DFTI_DESCRIPTOR;
#endif

#ifndef QEZ_OMP_INTEROP_T_DEFINED
#define QEZ_OMP_INTEROP_T_DEFINED
/* The OpenMP runtime's interop handle, passed by value. */
typedef void* omp_interop_t;
#endif

/* C entry points. The compute functions take the output array after the
 * interop object when the descriptor is out of place. */
int64_t qez_DftiCommitDescriptor_omp_offload(DFTI_DESCRIPTOR* desc, omp_interop_t interop);
int64_t qez_DftiComputeForward_omp_offload(DFTI_DESCRIPTOR* desc, void* input,
                                           omp_interop_t interop, ...);
int64_t qez_DftiComputeBackward_omp_offload(DFTI_DESCRIPTOR* desc, void* input,
                                            omp_interop_t interop, ...);

/* Fortran-callable forwarders: every argument by reference except the
 * interop object. The letters name the element types of the arrays
 * (s, d real; c, z complex); forms with the same number of arrays behave
 * alike. X(direction, letters, shape), shape one of one_array, two_arrays,
 * four_arrays. */
#define QEZ_DFTI_OMP_OFFLOAD_FORTRAN_COMPUTES(X) \
  X(forward, c, one_array)                      \
  X(forward, d, one_array)                      \
  X(forward, s, one_array)                      \
  X(forward, z, one_array)                      \
  X(forward, cc, two_arrays)                    \
  X(forward, dd, two_arrays)                    \
  X(forward, dz, two_arrays)                    \
  X(forward, sc, two_arrays)                    \
  X(forward, ss, two_arrays)                    \
  X(forward, zz, two_arrays)                    \
  X(forward, dddd, four_arrays)                 \
  X(forward, ssss, four_arrays)                 \
  X(backward, c, one_array)                     \
  X(backward, d, one_array)                     \
  X(backward, s, one_array)                     \
  X(backward, z, one_array)                     \
  X(backward, cc, two_arrays)                   \
  X(backward, cs, two_arrays)                   \
  X(backward, dd, two_arrays)                   \
  X(backward, ss, two_arrays)                   \
  X(backward, zd, two_arrays)                   \
  X(backward, zz, two_arrays)                   \
  X(backward, dddd, four_arrays)                \
  X(backward, ssss, four_arrays)

#define QEZ_DFTI_OMP_OFFLOAD_PARAMS_one_array \
  (DFTI_DESCRIPTOR * *desc, void** data, omp_interop_t interop)
#define QEZ_DFTI_OMP_OFFLOAD_PARAMS_two_arrays \
  (DFTI_DESCRIPTOR * *desc, void** in, void** out, omp_interop_t interop)
#define QEZ_DFTI_OMP_OFFLOAD_PARAMS_four_arrays \
  (DFTI_DESCRIPTOR * *desc, void** a, void** b, void** c, void** d, omp_interop_t interop)

#define QEZ_DFTI_OMP_OFFLOAD_DECLARE_FORTRAN(direction, letters, shape) \
  int64_t qez_dfti_compute_##direction##_##letters##_omp_offload        \
      QEZ_DFTI_OMP_OFFLOAD_PARAMS_##shape;
QEZ_DFTI_OMP_OFFLOAD_FORTRAN_COMPUTES(QEZ_DFTI_OMP_OFFLOAD_DECLARE_FORTRAN)
#undef QEZ_DFTI_OMP_OFFLOAD_DECLARE_FORTRAN

int64_t qez_dfti_commit_descriptor_external_omp_offload(DFTI_DESCRIPTOR** desc,
                                                        omp_interop_t interop);

#ifdef __cplusplus
}
#endif

#endif /* QEZ_DFTI_OMP_OFFLOAD_H */
