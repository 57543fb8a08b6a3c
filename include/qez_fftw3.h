/* FFTW3-style planners and executors of the library: shared types, the plan
 * record, and the Fortran-callable entries for the host CPU and for OpenMP
 * offload.
 *
 * A plan is a qez_fftw_plan: a pointer to a qez_fftw_plan_record, whose layout
 * is fixed. Plans are destroyed through their own destroy operation
 * (qez_fftw_destroy_plan below); the library exports no destroy function.
 *
 * Fortran-callable entries take every argument by reference and return the
 * plan through their first argument (0 when no plan was made). The integer
 * arguments are 32-bit in the _lp64 entries and 64-bit in the _ilp64 entries;
 * sign is always a 32-bit int and flags an unsigned 32-bit set. The array
 * arguments of the one-dimensional planners are the arrays themselves; every
 * other planner and every executor takes the address of a variable that holds
 * the array's address. Offload entries take the OpenMP interop object by
 * value as their last argument.
 *
 * The C entries for OpenMP offload are declared in qez_fftw3_offload.h. */
#ifndef QEZ_FFTW3_H
#define QEZ_FFTW3_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* ------------------------------------------------------------------------ */
/* Types and constants. */

typedef double qez_fftw_complex[2];  /* real part, imaginary part */
typedef float qez_fftwf_complex[2];

/* {length, input stride, output stride}, strides in elements. */
typedef struct qez_fftw_iodim {
  int n, is, os;
} qez_fftw_iodim;
typedef struct qez_fftw_iodim64 {
  int64_t n, is, os;
} qez_fftw_iodim64;

#define QEZ_FFTW_FORWARD (-1)
#define QEZ_FFTW_BACKWARD (+1)
#define QEZ_FFTW_MEASURE (0U)
#define QEZ_FFTW_DESTROY_INPUT (1U << 0)
#define QEZ_FFTW_UNALIGNED (1U << 1)
#define QEZ_FFTW_CONSERVE_MEMORY (1U << 2) /* complex plans avoid workspace */
#define QEZ_FFTW_ESTIMATE (1U << 6)

typedef struct qez_fftw_plan_record qez_fftw_plan_record;
typedef qez_fftw_plan_record* qez_fftw_plan;

/* The plan record: twelve 64-bit words. */
struct qez_fftw_plan_record {
  void* descriptor;  /* the plan's DFTI descriptor, owned by the plan */
  void* input;
  void* output;      /* 0 for in-place plans */
  uint64_t reserved_3;
  uint64_t reserved_4;
  void* buffers[3];  /* owned by the plan */
  int (*execute_cpu)(qez_fftw_plan_record* plan, void* input, void* output);
  void (*destroy)(qez_fftw_plan_record* plan);
  uint64_t reserved_10;
  int (*execute_offload)(qez_fftw_plan_record* plan, void* interop);
};

/* Frees a plan with everything it owns; 0 is ignored. */
static inline void qez_fftw_destroy_plan(qez_fftw_plan plan) {
  if (plan != 0 && plan->destroy != 0) plan->destroy(plan);
}

#define QEZ_FFTW_UNPAREN(...) __VA_ARGS__

/* ------------------------------------------------------------------------ */
/* Fortran-callable planners: one row per form,
 *   X(prefix, form, suffix, (arguments after the plan variable), (their names)).
 * I is the integer type of the entry's model, R and C the real and complex
 * types of its precision. */
#define QEZ_FFTW_FORTRAN_PLANNERS(X, P, S, I, R, C)                                           \
  X(P, plan_dft_1d, S, (const I* n, C* in, C* out, const int* sign, const unsigned* flags),  \
    (n, in, out, sign, flags))                                                                \
  X(P, plan_dft_2d, S,                                                                        \
    (const I* nx, const I* ny, C* const* in, C* const* out, const int* sign,                  \
     const unsigned* flags),                                                                  \
    (nx, ny, in, out, sign, flags))                                                           \
  X(P, plan_dft_3d, S,                                                                        \
    (const I* nx, const I* ny, const I* nz, C* const* in, C* const* out, const int* sign,     \
     const unsigned* flags),                                                                  \
    (nx, ny, nz, in, out, sign, flags))                                                       \
  X(P, plan_dft, S,                                                                           \
    (const I* rank, const I* n, C* const* in, C* const* out, const int* sign,                 \
     const unsigned* flags),                                                                  \
    (rank, n, in, out, sign, flags))                                                          \
  X(P, plan_many_dft, S,                                                                      \
    (const I* rank, const I* n, const I* howmany, C* const* in, const I* inembed,             \
     const I* istride, const I* idist, C* const* out, const I* onembed, const I* ostride,     \
     const I* odist, const int* sign, const unsigned* flags),                                 \
    (rank, n, howmany, in, inembed, istride, idist, out, onembed, ostride, odist, sign, flags)) \
  X(P, plan_guru_dft, S,                                                                      \
    (const I* rank, const I* n, const I* is, const I* os, const I* howmany_rank,              \
     const I* h_n, const I* h_is, const I* h_os, C* const* in, C* const* out,                 \
     const int* sign, const unsigned* flags),                                                 \
    (rank, n, is, os, howmany_rank, h_n, h_is, h_os, in, out, sign, flags))                   \
  X(P, plan_dft_r2c_1d, S, (const I* n, R* in, C* out, const unsigned* flags),                \
    (n, in, out, flags))                                                                      \
  X(P, plan_dft_r2c_2d, S,                                                                    \
    (const I* nx, const I* ny, R* const* in, C* const* out, const unsigned* flags),           \
    (nx, ny, in, out, flags))                                                                 \
  X(P, plan_dft_r2c_3d, S,                                                                    \
    (const I* nx, const I* ny, const I* nz, R* const* in, C* const* out,                      \
     const unsigned* flags),                                                                  \
    (nx, ny, nz, in, out, flags))                                                             \
  X(P, plan_dft_r2c, S,                                                                       \
    (const I* rank, const I* n, R* const* in, C* const* out, const unsigned* flags),          \
    (rank, n, in, out, flags))                                                                \
  X(P, plan_many_dft_r2c, S,                                                                  \
    (const I* rank, const I* n, const I* howmany, R* const* in, const I* inembed,             \
     const I* istride, const I* idist, C* const* out, const I* onembed, const I* ostride,     \
     const I* odist, const unsigned* flags),                                                  \
    (rank, n, howmany, in, inembed, istride, idist, out, onembed, ostride, odist, flags))     \
  X(P, plan_guru_dft_r2c, S,                                                                  \
    (const I* rank, const I* n, const I* is, const I* os, const I* howmany_rank,              \
     const I* h_n, const I* h_is, const I* h_os, R* const* in, C* const* out,                 \
     const unsigned* flags),                                                                  \
    (rank, n, is, os, howmany_rank, h_n, h_is, h_os, in, out, flags))                         \
  X(P, plan_dft_c2r_1d, S, (const I* n, C* in, R* out, const unsigned* flags),                \
    (n, in, out, flags))                                                                      \
  X(P, plan_dft_c2r_2d, S,                                                                    \
    (const I* nx, const I* ny, C* const* in, R* const* out, const unsigned* flags),           \
    (nx, ny, in, out, flags))                                                                 \
  X(P, plan_dft_c2r_3d, S,                                                                    \
    (const I* nx, const I* ny, const I* nz, C* const* in, R* const* out,                      \
     const unsigned* flags),                                                                  \
    (nx, ny, nz, in, out, flags))                                                             \
  X(P, plan_dft_c2r, S,                                                                       \
    (const I* rank, const I* n, C* const* in, R* const* out, const unsigned* flags),          \
    (rank, n, in, out, flags))                                                                \
  X(P, plan_many_dft_c2r, S,                                                                  \
    (const I* rank, const I* n, const I* howmany, C* const* in, const I* inembed,             \
     const I* istride, const I* idist, R* const* out, const I* onembed, const I* ostride,     \
     const I* odist, const unsigned* flags),                                                  \
    (rank, n, howmany, in, inembed, istride, idist, out, onembed, ostride, odist, flags))     \
  X(P, plan_guru_dft_c2r, S,                                                                  \
    (const I* rank, const I* n, const I* is, const I* os, const I* howmany_rank,              \
     const I* h_n, const I* h_is, const I* h_os, C* const* in, R* const* out,                 \
     const unsigned* flags),                                                                  \
    (rank, n, is, os, howmany_rank, h_n, h_is, h_os, in, out, flags))

/* Fortran-callable executors on new arrays: X(prefix, form, suffix, arrays, names). */
#define QEZ_FFTW_FORTRAN_EXECUTORS(X, P, S, R, C)                                       \
  X(P, execute_dft, S, (C* const* in, C* const* out), (in, out))                       \
  X(P, execute_dft_r2c, S, (R* const* in, C* const* out), (in, out))                   \
  X(P, execute_dft_c2r, S, (C* const* in, R* const* out), (in, out))

/* Every precision with every integer model: X(prefix, suffix, I, R, C). */
#define QEZ_FFTW_FORTRAN_CPU_MODELS(X)                          \
  X(sfftw_, _cpu_lp64, int32_t, float, qez_fftwf_complex)       \
  X(sfftw_, _cpu_ilp64, int64_t, float, qez_fftwf_complex)      \
  X(dfftw_, _cpu_lp64, int32_t, double, qez_fftw_complex)       \
  X(dfftw_, _cpu_ilp64, int64_t, double, qez_fftw_complex)
#define QEZ_FFTW_FORTRAN_OFFLOAD_MODELS(X)                              \
  X(sfftw_, _omp_offload_lp64, int32_t, float, qez_fftwf_complex)       \
  X(sfftw_, _omp_offload_ilp64, int64_t, float, qez_fftwf_complex)      \
  X(dfftw_, _omp_offload_lp64, int32_t, double, qez_fftw_complex)       \
  X(dfftw_, _omp_offload_ilp64, int64_t, double, qez_fftw_complex)
/* X(prefix, R, C) */
#define QEZ_FFTW_PRECISIONS(X)              \
  X(sfftw_, float, qez_fftwf_complex)       \
  X(dfftw_, double, qez_fftw_complex)

#define QEZ_FFTW_PASTE3_(a, b, c) a##b##c
#define QEZ_FFTW_PASTE3(a, b, c) QEZ_FFTW_PASTE3_(a, b, c)

/* ------------------------------------------------------------------------ */
/* Declarations. */

#define QEZ_FFTW_DECLARE_CPU_PLANNER(P, form, S, params, names) \
  void QEZ_FFTW_PASTE3(P, form, S)(qez_fftw_plan * plan, QEZ_FFTW_UNPAREN params);
#define QEZ_FFTW_DECLARE_OFFLOAD_PLANNER(P, form, S, params, names) \
  void QEZ_FFTW_PASTE3(P, form, S)(qez_fftw_plan * plan, QEZ_FFTW_UNPAREN params, void* interop);
#define QEZ_FFTW_DECLARE_CPU_MODEL(P, S, I, R, C) \
  QEZ_FFTW_FORTRAN_PLANNERS(QEZ_FFTW_DECLARE_CPU_PLANNER, P, S, I, R, C)
#define QEZ_FFTW_DECLARE_OFFLOAD_MODEL(P, S, I, R, C) \
  QEZ_FFTW_FORTRAN_PLANNERS(QEZ_FFTW_DECLARE_OFFLOAD_PLANNER, P, S, I, R, C)

#define QEZ_FFTW_DECLARE_CPU_EXECUTOR(P, form, S, params, names) \
  void QEZ_FFTW_PASTE3(P, form, S)(const qez_fftw_plan* plan, QEZ_FFTW_UNPAREN params);
#define QEZ_FFTW_DECLARE_OFFLOAD_EXECUTOR(P, form, S, params, names)                    \
  void QEZ_FFTW_PASTE3(P, form, S)(const qez_fftw_plan* plan, QEZ_FFTW_UNPAREN params, \
                                   void* interop);
#define QEZ_FFTW_DECLARE_EXECUTORS(P, R, C)                                              \
  QEZ_FFTW_FORTRAN_EXECUTORS(QEZ_FFTW_DECLARE_CPU_EXECUTOR, P, _cpu, R, C)              \
  QEZ_FFTW_FORTRAN_EXECUTORS(QEZ_FFTW_DECLARE_OFFLOAD_EXECUTOR, P, _omp_offload, R, C)  \
  void QEZ_FFTW_PASTE3(P, execute, _omp_offload)(const qez_fftw_plan* plan, void* interop);

QEZ_FFTW_FORTRAN_CPU_MODELS(QEZ_FFTW_DECLARE_CPU_MODEL)
QEZ_FFTW_FORTRAN_OFFLOAD_MODELS(QEZ_FFTW_DECLARE_OFFLOAD_MODEL)
QEZ_FFTW_PRECISIONS(QEZ_FFTW_DECLARE_EXECUTORS)

#ifdef __cplusplus
}
#endif

#endif
