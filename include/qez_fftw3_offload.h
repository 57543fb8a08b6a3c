/* FFTW3-style C planners and executors that run on the device behind an
 * OpenMP interop object: each is the FFTW3 function of the same name with the
 * suffix _omp_offload and the interop object as one extra last argument.
 * fftwf_ functions work in single precision, fftw_ functions in double.
 *
 * A planner returns 0 when it cannot make the plan. Executors return nothing;
 * the execute_dft forms run the plan on new arrays without changing it. */
#ifndef QEZ_FFTW3_OFFLOAD_H
#define QEZ_FFTW3_OFFLOAD_H

#include "qez_fftw3.h"

#ifdef __cplusplus
extern "C" {
#endif

/* C planners: X(prefix, form, (arguments before the interop), (their names)),
 * R and C the real and complex types, D the iodim type of the guru form. */
#define QEZ_FFTW_C_PLANNERS(X, P, R, C)                                                       \
  X(P, plan_dft_1d, (int n, C* in, C* out, int sign, unsigned flags),                         \
    (n, in, out, sign, flags))                                                                \
  X(P, plan_dft_2d, (int n0, int n1, C* in, C* out, int sign, unsigned flags),                \
    (n0, n1, in, out, sign, flags))                                                           \
  X(P, plan_dft_3d, (int n0, int n1, int n2, C* in, C* out, int sign, unsigned flags),        \
    (n0, n1, n2, in, out, sign, flags))                                                       \
  X(P, plan_dft, (int rank, const int* n, C* in, C* out, int sign, unsigned flags),           \
    (rank, n, in, out, sign, flags))                                                          \
  X(P, plan_many_dft,                                                                         \
    (int rank, const int* n, int howmany, C* in, const int* inembed, int istride, int idist,  \
     C* out, const int* onembed, int ostride, int odist, int sign, unsigned flags),           \
    (rank, n, howmany, in, inembed, istride, idist, out, onembed, ostride, odist, sign,       \
     flags))                                                                                  \
  X(P, plan_guru_dft,                                                                         \
    (int rank, const qez_fftw_iodim* dims, int howmany_rank,                                  \
     const qez_fftw_iodim* howmany_dims, C* in, C* out, int sign, unsigned flags),            \
    (rank, dims, howmany_rank, howmany_dims, in, out, sign, flags))                           \
  X(P, plan_guru64_dft,                                                                       \
    (int rank, const qez_fftw_iodim64* dims, int howmany_rank,                                \
     const qez_fftw_iodim64* howmany_dims, C* in, C* out, int sign, unsigned flags),          \
    (rank, dims, howmany_rank, howmany_dims, in, out, sign, flags))                           \
  X(P, plan_dft_r2c_1d, (int n, R* in, C* out, unsigned flags), (n, in, out, flags))          \
  X(P, plan_dft_r2c_2d, (int n0, int n1, R* in, C* out, unsigned flags),                      \
    (n0, n1, in, out, flags))                                                                 \
  X(P, plan_dft_r2c_3d, (int n0, int n1, int n2, R* in, C* out, unsigned flags),              \
    (n0, n1, n2, in, out, flags))                                                             \
  X(P, plan_dft_r2c, (int rank, const int* n, R* in, C* out, unsigned flags),                 \
    (rank, n, in, out, flags))                                                                \
  X(P, plan_many_dft_r2c,                                                                     \
    (int rank, const int* n, int howmany, R* in, const int* inembed, int istride, int idist,  \
     C* out, const int* onembed, int ostride, int odist, unsigned flags),                     \
    (rank, n, howmany, in, inembed, istride, idist, out, onembed, ostride, odist, flags))     \
  X(P, plan_guru_dft_r2c,                                                                     \
    (int rank, const qez_fftw_iodim* dims, int howmany_rank,                                  \
     const qez_fftw_iodim* howmany_dims, R* in, C* out, unsigned flags),                      \
    (rank, dims, howmany_rank, howmany_dims, in, out, flags))                                 \
  X(P, plan_guru64_dft_r2c,                                                                   \
    (int rank, const qez_fftw_iodim64* dims, int howmany_rank,                                \
     const qez_fftw_iodim64* howmany_dims, R* in, C* out, unsigned flags),                    \
    (rank, dims, howmany_rank, howmany_dims, in, out, flags))                                 \
  X(P, plan_dft_c2r_1d, (int n, C* in, R* out, unsigned flags), (n, in, out, flags))          \
  X(P, plan_dft_c2r_2d, (int n0, int n1, C* in, R* out, unsigned flags),                      \
    (n0, n1, in, out, flags))                                                                 \
  X(P, plan_dft_c2r_3d, (int n0, int n1, int n2, C* in, R* out, unsigned flags),              \
    (n0, n1, n2, in, out, flags))                                                             \
  X(P, plan_dft_c2r, (int rank, const int* n, C* in, R* out, unsigned flags),                 \
    (rank, n, in, out, flags))                                                                \
  X(P, plan_many_dft_c2r,                                                                     \
    (int rank, const int* n, int howmany, C* in, const int* inembed, int istride, int idist,  \
     R* out, const int* onembed, int ostride, int odist, unsigned flags),                     \
    (rank, n, howmany, in, inembed, istride, idist, out, onembed, ostride, odist, flags))     \
  X(P, plan_guru_dft_c2r,                                                                     \
    (int rank, const qez_fftw_iodim* dims, int howmany_rank,                                  \
     const qez_fftw_iodim* howmany_dims, C* in, R* out, unsigned flags),                      \
    (rank, dims, howmany_rank, howmany_dims, in, out, flags))                                 \
  X(P, plan_guru64_dft_c2r,                                                                   \
    (int rank, const qez_fftw_iodim64* dims, int howmany_rank,                                \
     const qez_fftw_iodim64* howmany_dims, C* in, R* out, unsigned flags),                    \
    (rank, dims, howmany_rank, howmany_dims, in, out, flags))

/* C executors on new arrays: X(prefix, form, (arrays), (their names)). */
#define QEZ_FFTW_C_EXECUTORS(X, P, R, C)                          \
  X(P, execute_dft, (C* in, C* out), (in, out))                  \
  X(P, execute_dft_r2c, (R* in, C* out), (in, out))              \
  X(P, execute_dft_c2r, (C* in, R* out), (in, out))

/* X(prefix, R, C) */
#define QEZ_FFTW_C_PRECISIONS(X)            \
  X(fftwf_, float, qez_fftwf_complex)       \
  X(fftw_, double, qez_fftw_complex)

#define QEZ_FFTW_DECLARE_C_PLANNER(P, form, params, names) \
  qez_fftw_plan QEZ_FFTW_PASTE3(P, form, _omp_offload)(QEZ_FFTW_UNPAREN params, void* interop);
#define QEZ_FFTW_DECLARE_C_EXECUTOR(P, form, params, names)                               \
  void QEZ_FFTW_PASTE3(P, form, _omp_offload)(qez_fftw_plan plan, QEZ_FFTW_UNPAREN params, \
                                              void* interop);
#define QEZ_FFTW_DECLARE_C_PRECISION(P, R, C)                 \
  QEZ_FFTW_C_PLANNERS(QEZ_FFTW_DECLARE_C_PLANNER, P, R, C)   \
  QEZ_FFTW_C_EXECUTORS(QEZ_FFTW_DECLARE_C_EXECUTOR, P, R, C) \
  void QEZ_FFTW_PASTE3(P, execute, _omp_offload)(qez_fftw_plan plan, void* interop);

QEZ_FFTW_C_PRECISIONS(QEZ_FFTW_DECLARE_C_PRECISION)

#ifdef __cplusplus
}
#endif

#endif
