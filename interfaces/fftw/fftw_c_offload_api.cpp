// The C planners and executors of the FFTW3-style interface for OpenMP
// offload. Each form is written once below, generic over the precision that
// its array types carry; the exported functions are expanded from the tables
// of qez_fftw3_offload.h, once per precision.
#include "interfaces/fftw/fftw_dims.hpp"
#include "interfaces/fftw/fftw_execute.hpp"
#include "interfaces/fftw/fftw_plan_core.hpp"
#include "interfaces/fftw/fftw_public_types.hpp"
#include "qez_fftw3_offload.h"

namespace ulmara::qez::dft {
namespace {

template <class Real>
using complex_array = Real (*)[2];

// Basic and many planners: the many rule, one howmany triple or none.
template <class Real>
fftw_plan_record* many_plan(plan_kind kind, int rank, const int* n, int howmany_rank,
                            const iodim64& howmany, void* in, const int* inembed, int istride,
                            void* out, const int* onembed, int ostride, int sign, unsigned flags,
                            void* interop) {
  if (rank > max_plan_rank || rank < 0 || n == nullptr) return nullptr;
  iodim64 dims[max_plan_rank] = {};
  if (!c_many_dims(kind, rank, n, inembed, istride, onembed, ostride, in == out, dims))
    return nullptr;
  return build_plan<Real>(
      make_plan_request(kind, rank, dims, howmany_rank, &howmany, in, out, sign, flags),
      plan_target::offload, interop);
}

template <class Real>
fftw_plan_record* basic_plan(plan_kind kind, int rank, const int* n, void* in, void* out,
                             int sign, unsigned flags, void* interop) {
  return many_plan<Real>(kind, rank, n, 0, iodim64{}, in, nullptr, 1, out, nullptr, 1, sign,
                         flags, interop);
}

template <class Real>
fftw_plan_record* batch_plan(plan_kind kind, int rank, const int* n, int howmany, void* in,
                             const int* inembed, int istride, int idist, void* out,
                             const int* onembed, int ostride, int odist, int sign, unsigned flags,
                             void* interop) {
  return many_plan<Real>(kind, rank, n, 1, iodim64{howmany, idist, odist}, in, inembed, istride,
                         out, onembed, ostride, sign, flags, interop);
}

template <class Real>
fftw_plan_record* guru_plan(plan_kind kind, int rank, const qez_fftw_iodim* dims,
                            int howmany_rank, const qez_fftw_iodim* howmany_dims, void* in,
                            void* out, int sign, unsigned flags, void* interop) {
  if (rank > max_plan_rank || rank < 0 || howmany_rank > 1) return nullptr;
  if (dims == nullptr || (howmany_rank > 0 && howmany_dims == nullptr)) return nullptr;
  iodim64 wide[max_plan_rank] = {};
  iodim64 howmany{};
  widen_dims(rank, dims, wide);
  widen_dims(howmany_rank, howmany_dims, &howmany);
  return build_plan<Real>(
      make_plan_request(kind, rank, wide, howmany_rank, &howmany, in, out, sign, flags),
      plan_target::offload, interop);
}

// Every form by name, so that the tables can reach them.
struct c_forms {
  // -- complex
  template <class R>
  static fftw_plan_record* plan_dft_1d(int n, complex_array<R> in, complex_array<R> out,
                                       int sign, unsigned flags, void* interop) {
    return basic_plan<R>(plan_kind::c2c, 1, &n, in, out, sign, flags, interop);
  }
  template <class R>
  static fftw_plan_record* plan_dft_2d(int n0, int n1, complex_array<R> in, complex_array<R> out,
                                       int sign, unsigned flags, void* interop) {
    const int n[] = {n0, n1};
    return basic_plan<R>(plan_kind::c2c, 2, n, in, out, sign, flags, interop);
  }
  template <class R>
  static fftw_plan_record* plan_dft_3d(int n0, int n1, int n2, complex_array<R> in,
                                       complex_array<R> out, int sign, unsigned flags,
                                       void* interop) {
    const int n[] = {n0, n1, n2};
    return basic_plan<R>(plan_kind::c2c, 3, n, in, out, sign, flags, interop);
  }
  template <class R>
  static fftw_plan_record* plan_dft(int rank, const int* n, complex_array<R> in,
                                    complex_array<R> out, int sign, unsigned flags,
                                    void* interop) {
    return basic_plan<R>(plan_kind::c2c, rank, n, in, out, sign, flags, interop);
  }
  template <class R>
  static fftw_plan_record* plan_many_dft(int rank, const int* n, int howmany, complex_array<R> in,
                                         const int* inembed, int istride, int idist,
                                         complex_array<R> out, const int* onembed, int ostride,
                                         int odist, int sign, unsigned flags, void* interop) {
    return batch_plan<R>(plan_kind::c2c, rank, n, howmany, in, inembed, istride, idist, out,
                         onembed, ostride, odist, sign, flags, interop);
  }
  template <class R>
  static fftw_plan_record* plan_guru_dft(int rank, const qez_fftw_iodim* dims, int howmany_rank,
                                         const qez_fftw_iodim* howmany_dims, complex_array<R> in,
                                         complex_array<R> out, int sign, unsigned flags,
                                         void* interop) {
    return guru_plan<R>(plan_kind::c2c, rank, dims, howmany_rank, howmany_dims, in, out, sign,
                        flags, interop);
  }
  template <class R>
  static fftw_plan_record* plan_guru64_dft(int rank, const qez_fftw_iodim64* dims,
                                           int howmany_rank,
                                           const qez_fftw_iodim64* howmany_dims,
                                           complex_array<R> in, complex_array<R> out, int sign,
                                           unsigned flags, void* interop) {
    return plan_guru64_dft_omp_offload<R>(rank, library_dims(dims), howmany_rank,
                                          library_dims(howmany_dims), in, out, sign, flags,
                                          interop);
  }

  // -- real to complex and complex to real: one generic body per form, the
  // kind told by which side holds the real array.
  template <class In, class Out>
  static constexpr plan_kind real_kind() {
    return std::is_pointer<In>::value && !std::is_array<std::remove_pointer_t<In>>::value
               ? plan_kind::r2c
               : plan_kind::c2r;
  }
  template <class R>
  using real_of = std::remove_extent_t<std::remove_pointer_t<R>>;

  template <class In, class Out>
  static fftw_plan_record* real_1d(int n, In in, Out out, unsigned flags, void* interop) {
    return basic_plan<real_of<In>>(real_kind<In, Out>(), 1, &n, in, out, fftw_forward_sign,
                                   flags, interop);
  }
  template <class In, class Out>
  static fftw_plan_record* real_2d(int n0, int n1, In in, Out out, unsigned flags,
                                   void* interop) {
    const int n[] = {n0, n1};
    return basic_plan<real_of<In>>(real_kind<In, Out>(), 2, n, in, out, fftw_forward_sign,
                                   flags, interop);
  }
  template <class In, class Out>
  static fftw_plan_record* real_3d(int n0, int n1, int n2, In in, Out out, unsigned flags,
                                   void* interop) {
    const int n[] = {n0, n1, n2};
    return basic_plan<real_of<In>>(real_kind<In, Out>(), 3, n, in, out, fftw_forward_sign,
                                   flags, interop);
  }
  template <class In, class Out>
  static fftw_plan_record* real_rank_n(int rank, const int* n, In in, Out out, unsigned flags,
                                       void* interop) {
    return basic_plan<real_of<In>>(real_kind<In, Out>(), rank, n, in, out, fftw_forward_sign,
                                   flags, interop);
  }
  template <class In, class Out>
  static fftw_plan_record* real_many(int rank, const int* n, int howmany, In in,
                                     const int* inembed, int istride, int idist, Out out,
                                     const int* onembed, int ostride, int odist, unsigned flags,
                                     void* interop) {
    return batch_plan<real_of<In>>(real_kind<In, Out>(), rank, n, howmany, in, inembed, istride,
                                   idist, out, onembed, ostride, odist, fftw_forward_sign, flags,
                                   interop);
  }
  template <class In, class Out>
  static fftw_plan_record* real_guru(int rank, const qez_fftw_iodim* dims, int howmany_rank,
                                     const qez_fftw_iodim* howmany_dims, In in, Out out,
                                     unsigned flags, void* interop) {
    return guru_plan<real_of<In>>(real_kind<In, Out>(), rank, dims, howmany_rank, howmany_dims,
                                  in, out, fftw_forward_sign, flags, interop);
  }

#define QEZ_REAL_FORMS(direction)                                                             \
  template <class... A>                                                                      \
  static fftw_plan_record* plan_dft_##direction##_1d(A... a) { return real_1d(a...); }       \
  template <class... A>                                                                      \
  static fftw_plan_record* plan_dft_##direction##_2d(A... a) { return real_2d(a...); }       \
  template <class... A>                                                                      \
  static fftw_plan_record* plan_dft_##direction##_3d(A... a) { return real_3d(a...); }       \
  template <class... A>                                                                      \
  static fftw_plan_record* plan_dft_##direction(A... a) { return real_rank_n(a...); }        \
  template <class... A>                                                                      \
  static fftw_plan_record* plan_many_dft_##direction(A... a) { return real_many(a...); }     \
  template <class... A>                                                                      \
  static fftw_plan_record* plan_guru_dft_##direction(A... a) { return real_guru(a...); }
  QEZ_REAL_FORMS(r2c)
  QEZ_REAL_FORMS(c2r)
#undef QEZ_REAL_FORMS

  template <class R, class O>
  static fftw_plan_record* plan_guru64_dft_r2c(int rank, const qez_fftw_iodim64* dims,
                                               int howmany_rank,
                                               const qez_fftw_iodim64* howmany_dims, R* in,
                                               O out, unsigned flags, void* interop) {
    return plan_guru64_dft_r2c_omp_offload<R>(rank, library_dims(dims), howmany_rank,
                                              library_dims(howmany_dims), in, out, flags,
                                              interop);
  }
  template <class I, class R>
  static fftw_plan_record* plan_guru64_dft_c2r(int rank, const qez_fftw_iodim64* dims,
                                               int howmany_rank,
                                               const qez_fftw_iodim64* howmany_dims, I in,
                                               R* out, unsigned flags, void* interop) {
    return plan_guru64_dft_c2r_omp_offload<R>(rank, library_dims(dims), howmany_rank,
                                              library_dims(howmany_dims), in, out, flags,
                                              interop);
  }

  // -- executors
  static void execute(qez_fftw_plan plan, void* interop) {
    fftw_execute_offload(library_plan(plan), interop);
  }
  template <class R>
  static void execute_dft(qez_fftw_plan plan, complex_array<R> in, complex_array<R> out,
                          void* interop) {
    fftw_execute_dft_offload(library_plan(plan), in, out, interop, true);
  }
  template <class R>
  static void execute_dft_r2c(qez_fftw_plan plan, R* in, complex_array<R> out, void* interop) {
    fftw_execute_dft_offload(library_plan(plan), in, out, interop,
                             real_executor_checks_arrays<R>);
  }
  template <class R>
  static void execute_dft_c2r(qez_fftw_plan plan, complex_array<R> in, R* out, void* interop) {
    fftw_execute_dft_offload(library_plan(plan), in, out, interop,
                             real_executor_checks_arrays<R>);
  }
};

}  // namespace
}  // namespace ulmara::qez::dft

// ---------------------------------------------------------------------------
// The exported functions.

using ulmara::qez::dft::c_forms;
using ulmara::qez::dft::public_plan;

#define QEZ_DEFINE_C_PLANNER(P, form, params, names)                                     \
  qez_fftw_plan QEZ_FFTW_PASTE3(P, form, _omp_offload)(QEZ_FFTW_UNPAREN params,           \
                                                       void* interop) {                   \
    return public_plan(c_forms::form(QEZ_FFTW_UNPAREN names, interop));                   \
  }
#define QEZ_DEFINE_C_EXECUTOR(P, form, params, names)                                     \
  void QEZ_FFTW_PASTE3(P, form, _omp_offload)(qez_fftw_plan plan, QEZ_FFTW_UNPAREN params, \
                                              void* interop) {                            \
    c_forms::form(plan, QEZ_FFTW_UNPAREN names, interop);                                 \
  }
#define QEZ_DEFINE_C_PRECISION(P, R, C)                                               \
  QEZ_FFTW_C_PLANNERS(QEZ_DEFINE_C_PLANNER, P, R, C)                                  \
  QEZ_FFTW_C_EXECUTORS(QEZ_DEFINE_C_EXECUTOR, P, R, C)                                \
  void QEZ_FFTW_PASTE3(P, execute, _omp_offload)(qez_fftw_plan plan, void* interop) { \
    c_forms::execute(plan, interop);                                                  \
  }

extern "C" {
QEZ_FFTW_C_PRECISIONS(QEZ_DEFINE_C_PRECISION)
}

#undef QEZ_DEFINE_C_PRECISION
#undef QEZ_DEFINE_C_EXECUTOR
#undef QEZ_DEFINE_C_PLANNER
