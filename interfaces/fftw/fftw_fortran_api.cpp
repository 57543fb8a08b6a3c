// The Fortran-callable planners and executors of the FFTW3-style interface:
// every argument by reference, the plan returned through the first one.
// Fortran lists its dimensions fastest first; the planners turn them into
// guru64 triples, slowest first, and call the plan core of their target
// (the host CPU, or the device behind an OpenMP interop object). Each form is
// written once below, generic over the integer model and the precision that
// its argument types carry; the exported entries are expanded from the tables
// of qez_fftw3.h per precision, integer model and target.
//
// A planner leaves the plan variable untouched when an address it needs is
// null, and writes 0 for every refusal after that: rank outside 0..7,
// howmany rank above 1, strides beyond 64 bits, or a failing core. A howmany
// rank of 0 or below plans one transform.
#include <algorithm>
#include <initializer_list>

#include "interfaces/fftw/fftw_dims.hpp"
#include "interfaces/fftw/fftw_execute.hpp"
#include "interfaces/fftw/fftw_plan_core.hpp"
#include "interfaces/fftw/fftw_public_types.hpp"
#include "qez_fftw3.h"

namespace ulmara::qez::dft {
namespace {

template <class Real>
using complex_array = Real (*)[2];

struct fortran_target {
  plan_target target;
  void* interop;
};

bool all_present(std::initializer_list<const void*> addresses) {
  return std::none_of(addresses.begin(), addresses.end(),
                      [](const void* a) { return a == nullptr; });
}

template <class Int>
std::int64_t widened(const Int* value) {
  return static_cast<std::int64_t>(*value);
}

template <class Int>
void widen_list(std::int64_t count, const Int* from, std::int64_t* to) {
  for (std::int64_t i = 0; i < count; ++i) to[i] = static_cast<std::int64_t>(from[i]);
}

bool rank_in_range(std::int64_t rank) { return rank >= 0 && rank <= max_plan_rank; }

template <class Real>
void make_plan(qez_fftw_plan* plan, plan_kind kind, std::int64_t rank, const iodim64* dims,
               std::int64_t howmany_rank, const iodim64& howmany, void* in, void* out, int sign,
               unsigned flags, fortran_target t) {
  const plan_request r =
      make_plan_request(kind, static_cast<int>(rank), dims, static_cast<int>(howmany_rank),
                        &howmany, in, out, sign, flags);
  *plan = public_plan(build_plan<Real>(r, t.target, t.interop));
}

// The guru form; also the tail of the many forms, whose strides arrive
// already multiplied out in 64 bits.
template <class Real, class Int, class Stride>
void guru(plan_kind kind, qez_fftw_plan* plan, const Int* rank, const Int* n, const Stride* is,
          const Stride* os, const Int* howmany_rank, const Int* h_n, const Int* h_is,
          const Int* h_os, void* const* in, void* const* out, const int* sign,
          const unsigned* flags, fortran_target t) {
  const bool sign_needed = kind == plan_kind::c2c;
  if (!all_present({plan, rank, n, is, os, howmany_rank, flags, in, out})) return;
  if (sign_needed && sign == nullptr) return;
  const std::int64_t hr = widened(howmany_rank);
  if (hr > 0 && !all_present({h_n, h_is, h_os})) return;
  *plan = nullptr;
  const std::int64_t r = widened(rank);
  if (!rank_in_range(r) || hr > 1) return;
  std::int64_t lengths[max_plan_rank], in_strides[max_plan_rank], out_strides[max_plan_rank];
  widen_list(r, n, lengths);
  widen_list(r, is, in_strides);
  widen_list(r, os, out_strides);
  iodim64 dims[max_plan_rank] = {};
  fastest_first_dims(static_cast<int>(r), lengths, in_strides, out_strides, dims);
  const iodim64 howmany = hr > 0 ? iodim64{widened(h_n), widened(h_is), widened(h_os)}
                                 : iodim64{};
  make_plan<Real>(plan, kind, r, dims, hr, howmany, *in, *out,
                  sign_needed ? *sign : fftw_forward_sign, *flags, t);
}

template <class Real, class Int>
void many(plan_kind kind, qez_fftw_plan* plan, const Int* rank, const Int* n, const Int* howmany,
          void* const* in, const Int* inembed, const Int* istride, const Int* idist,
          void* const* out, const Int* onembed, const Int* ostride, const Int* odist,
          const int* sign, const unsigned* flags, fortran_target t) {
  if (!all_present({plan, rank, istride, ostride, inembed, onembed})) return;
  const std::int64_t r = widened(rank);
  if (!rank_in_range(r)) {
    *plan = nullptr;
    return;
  }
  // Products in 64 bits whatever the integer model, refused past that.
  std::int64_t in_rows[max_plan_rank] = {}, out_rows[max_plan_rank] = {};
  widen_list(r - 1, inembed, in_rows);
  widen_list(r - 1, onembed, out_rows);
  std::int64_t is[max_plan_rank] = {}, os[max_plan_rank] = {};
  if (!nested_strides(static_cast<int>(r), widened(istride), in_rows, is) ||
      !nested_strides(static_cast<int>(r), widened(ostride), out_rows, os)) {
    *plan = nullptr;
    return;
  }
  const Int one = 1;
  guru<Real>(kind, plan, rank, n, is, os, &one, howmany, idist, odist, in, out, sign, flags, t);
}

// Contiguous arrays in Fortran order. Real plans pad the real rows of an
// in-place transform to whole complex rows.
template <class Real, class Int>
void rank_n(plan_kind kind, qez_fftw_plan* plan, const Int* rank, const Int* n, void* in,
            void* out, const int* sign, const unsigned* flags, fortran_target t) {
  const bool sign_needed = kind == plan_kind::c2c;
  if (!all_present({plan, rank, n, flags}) || (sign_needed && sign == nullptr)) return;
  *plan = nullptr;
  const std::int64_t r = widened(rank);
  if (!rank_in_range(r)) return;
  std::int64_t lengths[max_plan_rank] = {};
  widen_list(r, n, lengths);
  std::int64_t in_rows[max_plan_rank] = {}, out_rows[max_plan_rank] = {};
  std::copy(lengths, lengths + r, in_rows);
  std::copy(lengths, lengths + r, out_rows);
  if (r > 0) {
    const row_pair fastest = fastest_rows(kind, lengths[0], in == out);
    in_rows[0] = fastest.input;
    out_rows[0] = fastest.output;
  }
  iodim64 dims[max_plan_rank] = {};
  if (!nested_dims(static_cast<int>(r), lengths, 1, in_rows, 1, out_rows, dims)) return;
  make_plan<Real>(plan, kind, r, dims, 0, iodim64{}, in, out,
                  sign_needed ? *sign : fftw_forward_sign, *flags, t);
}

// One- to three-dimensional forms: the lengths as a list in Fortran order.
template <class Real, class Int, std::size_t Rank>
void fixed_rank(plan_kind kind, qez_fftw_plan* plan, const Int* const (&lengths)[Rank],
                void* const* in, void* const* out, const int* sign, const unsigned* flags,
                fortran_target t) {
  if (plan == nullptr) return;
  for (const Int* length : lengths)
    if (length == nullptr) {
      *plan = nullptr;
      return;
    }
  if (in == nullptr || out == nullptr) {
    *plan = nullptr;
    return;
  }
  Int list[Rank];
  for (std::size_t k = 0; k < Rank; ++k) list[k] = *lengths[k];
  const Int rank = static_cast<Int>(Rank);
  rank_n<Real>(kind, plan, &rank, list, *in, *out, sign, flags, t);
}

template <class In>
constexpr plan_kind real_kind() {
  return std::is_array<std::remove_pointer_t<In>>::value ? plan_kind::c2r : plan_kind::r2c;
}
template <class Array>
using real_of = std::remove_extent_t<std::remove_pointer_t<Array>>;

// Array variables as untyped addresses.
template <class Array>
void* const* address_variable(Array* const* variable) {
  return reinterpret_cast<void* const*>(variable);
}

// Every form by name, so that the tables can reach them.
struct fortran_forms {
  // -- complex
  template <class I, class R>
  static void plan_dft_1d(qez_fftw_plan* plan, const I* n, complex_array<R> in,
                          complex_array<R> out, const int* sign, const unsigned* flags,
                          fortran_target t) {
    if (plan == nullptr) return;
    if (n == nullptr) {
      *plan = nullptr;
      return;
    }
    const I rank = 1;
    rank_n<R>(plan_kind::c2c, plan, &rank, n, in, out, sign, flags, t);
  }
  template <class I, class R>
  static void plan_dft_2d(qez_fftw_plan* plan, const I* nx, const I* ny,
                          complex_array<R> const* in, complex_array<R> const* out,
                          const int* sign, const unsigned* flags, fortran_target t) {
    const I* const lengths[] = {nx, ny};
    fixed_rank<R>(plan_kind::c2c, plan, lengths, address_variable(in), address_variable(out),
                  sign, flags, t);
  }
  template <class I, class R>
  static void plan_dft_3d(qez_fftw_plan* plan, const I* nx, const I* ny, const I* nz,
                          complex_array<R> const* in, complex_array<R> const* out,
                          const int* sign, const unsigned* flags, fortran_target t) {
    const I* const lengths[] = {nx, ny, nz};
    fixed_rank<R>(plan_kind::c2c, plan, lengths, address_variable(in), address_variable(out),
                  sign, flags, t);
  }
  template <class I, class R>
  static void plan_dft(qez_fftw_plan* plan, const I* rank, const I* n, complex_array<R> const* in,
                       complex_array<R> const* out, const int* sign, const unsigned* flags,
                       fortran_target t) {
    if (in == nullptr || out == nullptr) return;
    rank_n<R>(plan_kind::c2c, plan, rank, n, *in, *out, sign, flags, t);
  }
  template <class I, class R>
  static void plan_many_dft(qez_fftw_plan* plan, const I* rank, const I* n, const I* howmany,
                            complex_array<R> const* in, const I* inembed, const I* istride,
                            const I* idist, complex_array<R> const* out, const I* onembed,
                            const I* ostride, const I* odist, const int* sign,
                            const unsigned* flags, fortran_target t) {
    many<R>(plan_kind::c2c, plan, rank, n, howmany, address_variable(in), inembed, istride,
            idist, address_variable(out), onembed, ostride, odist, sign, flags, t);
  }
  template <class I, class R>
  static void plan_guru_dft(qez_fftw_plan* plan, const I* rank, const I* n, const I* is,
                            const I* os, const I* howmany_rank, const I* h_n, const I* h_is,
                            const I* h_os, complex_array<R> const* in,
                            complex_array<R> const* out, const int* sign, const unsigned* flags,
                            fortran_target t) {
    guru<R>(plan_kind::c2c, plan, rank, n, is, os, howmany_rank, h_n, h_is, h_os,
            address_variable(in), address_variable(out), sign, flags, t);
  }

  // -- real: the kind is told by which side holds complex values
  template <class I, class In, class Out>
  static void real_1d(qez_fftw_plan* plan, const I* n, In in, Out out, const unsigned* flags,
                      fortran_target t) {
    if (plan == nullptr) return;
    if (n == nullptr) {
      *plan = nullptr;
      return;
    }
    const I rank = 1;
    rank_n<real_of<In>>(real_kind<In>(), plan, &rank, n, in, out, nullptr, flags, t);
  }
  template <class I, class In, class Out>
  static void real_2d(qez_fftw_plan* plan, const I* nx, const I* ny, const In* in,
                      const Out* out, const unsigned* flags, fortran_target t) {
    const I* const lengths[] = {nx, ny};
    fixed_rank<real_of<In>>(real_kind<In>(), plan, lengths, address_variable(in),
                            address_variable(out), nullptr, flags, t);
  }
  template <class I, class In, class Out>
  static void real_3d(qez_fftw_plan* plan, const I* nx, const I* ny, const I* nz, const In* in,
                      const Out* out, const unsigned* flags, fortran_target t) {
    const I* const lengths[] = {nx, ny, nz};
    fixed_rank<real_of<In>>(real_kind<In>(), plan, lengths, address_variable(in),
                            address_variable(out), nullptr, flags, t);
  }
  template <class I, class In, class Out>
  static void real_rank_n(qez_fftw_plan* plan, const I* rank, const I* n, const In* in,
                          const Out* out, const unsigned* flags, fortran_target t) {
    if (in == nullptr || out == nullptr) return;
    rank_n<real_of<In>>(real_kind<In>(), plan, rank, n, *in, *out, nullptr, flags, t);
  }
  template <class I, class In, class Out>
  static void real_many(qez_fftw_plan* plan, const I* rank, const I* n, const I* howmany,
                        const In* in, const I* inembed, const I* istride, const I* idist,
                        const Out* out, const I* onembed, const I* ostride, const I* odist,
                        const unsigned* flags, fortran_target t) {
    many<real_of<In>>(real_kind<In>(), plan, rank, n, howmany, address_variable(in), inembed,
                      istride, idist, address_variable(out), onembed, ostride, odist, nullptr,
                      flags, t);
  }
  template <class I, class In, class Out>
  static void real_guru(qez_fftw_plan* plan, const I* rank, const I* n, const I* is,
                        const I* os, const I* howmany_rank, const I* h_n, const I* h_is,
                        const I* h_os, const In* in, const Out* out, const unsigned* flags,
                        fortran_target t) {
    guru<real_of<In>>(real_kind<In>(), plan, rank, n, is, os, howmany_rank, h_n, h_is, h_os,
                      address_variable(in), address_variable(out), nullptr, flags, t);
  }

#define QEZ_REAL_FORMS(direction)                                                        \
  template <class... A>                                                                 \
  static void plan_dft_##direction##_1d(A... a) { real_1d(a...); }                      \
  template <class... A>                                                                 \
  static void plan_dft_##direction##_2d(A... a) { real_2d(a...); }                      \
  template <class... A>                                                                 \
  static void plan_dft_##direction##_3d(A... a) { real_3d(a...); }                      \
  template <class... A>                                                                 \
  static void plan_dft_##direction(A... a) { real_rank_n(a...); }                       \
  template <class... A>                                                                 \
  static void plan_many_dft_##direction(A... a) { real_many(a...); }                    \
  template <class... A>                                                                 \
  static void plan_guru_dft_##direction(A... a) { real_guru(a...); }
  QEZ_REAL_FORMS(r2c)
  QEZ_REAL_FORMS(c2r)
#undef QEZ_REAL_FORMS

  // -- executors on new arrays: the real forms of single precision test both
  // arrays, those of double precision hand them on untested.
  template <class In, class Out>
  static void run_copy(const qez_fftw_plan* plan, In* const* in, Out* const* out, bool check,
                       fortran_target t) {
    if (!all_present({plan, in, out})) return;
    const fftw_plan_record* p = library_plan(*plan);
    if (t.target == plan_target::offload) fftw_execute_dft_offload(p, *in, *out, t.interop, check);
    else if (check) fftw_execute_dft_cpu(p, *in, *out);
    else fftw_execute_dft_r2c_cpu(p, *in, *out);
  }
  template <class R>
  static void execute_dft(const qez_fftw_plan* plan, complex_array<R> const* in,
                          complex_array<R> const* out, fortran_target t) {
    run_copy(plan, in, out, true, t);
  }
  template <class R>
  static void execute_dft_r2c(const qez_fftw_plan* plan, R* const* in,
                              complex_array<R> const* out, fortran_target t) {
    run_copy(plan, in, out, real_executor_checks_arrays<R>, t);
  }
  template <class R>
  static void execute_dft_c2r(const qez_fftw_plan* plan, complex_array<R> const* in,
                              R* const* out, fortran_target t) {
    run_copy(plan, in, out, real_executor_checks_arrays<R>, t);
  }
  static void execute(const qez_fftw_plan* plan, void* interop) {
    if (plan != nullptr) fftw_execute_offload(library_plan(*plan), interop);
  }
};

}  // namespace
}  // namespace ulmara::qez::dft

// ---------------------------------------------------------------------------
// The exported entries.

using ulmara::qez::dft::fortran_forms;
using ulmara::qez::dft::fortran_target;
using ulmara::qez::dft::plan_target;

#define QEZ_DEFINE_CPU_PLANNER(P, form, S, params, names)                               \
  void QEZ_FFTW_PASTE3(P, form, S)(qez_fftw_plan * plan, QEZ_FFTW_UNPAREN params) {     \
    fortran_forms::form(plan, QEZ_FFTW_UNPAREN names,                                   \
                        fortran_target{plan_target::cpu, nullptr});                     \
  }
#define QEZ_DEFINE_OFFLOAD_PLANNER(P, form, S, params, names)                              \
  void QEZ_FFTW_PASTE3(P, form, S)(qez_fftw_plan * plan, QEZ_FFTW_UNPAREN params,          \
                                   void* interop) {                                        \
    fortran_forms::form(plan, QEZ_FFTW_UNPAREN names,                                      \
                        fortran_target{plan_target::offload, interop});                    \
  }
#define QEZ_DEFINE_CPU_MODEL(P, S, I, R, C) \
  QEZ_FFTW_FORTRAN_PLANNERS(QEZ_DEFINE_CPU_PLANNER, P, S, I, R, C)
#define QEZ_DEFINE_OFFLOAD_MODEL(P, S, I, R, C) \
  QEZ_FFTW_FORTRAN_PLANNERS(QEZ_DEFINE_OFFLOAD_PLANNER, P, S, I, R, C)

#define QEZ_DEFINE_CPU_EXECUTOR(P, form, S, params, names)                                 \
  void QEZ_FFTW_PASTE3(P, form, S)(const qez_fftw_plan* plan, QEZ_FFTW_UNPAREN params) {   \
    fortran_forms::form(plan, QEZ_FFTW_UNPAREN names,                                      \
                        fortran_target{plan_target::cpu, nullptr});                        \
  }
#define QEZ_DEFINE_OFFLOAD_EXECUTOR(P, form, S, params, names)                             \
  void QEZ_FFTW_PASTE3(P, form, S)(const qez_fftw_plan* plan, QEZ_FFTW_UNPAREN params,     \
                                   void* interop) {                                        \
    fortran_forms::form(plan, QEZ_FFTW_UNPAREN names,                                      \
                        fortran_target{plan_target::offload, interop});                    \
  }
#define QEZ_DEFINE_EXECUTORS(P, R, C)                                                         \
  QEZ_FFTW_FORTRAN_EXECUTORS(QEZ_DEFINE_CPU_EXECUTOR, P, _cpu, R, C)                          \
  QEZ_FFTW_FORTRAN_EXECUTORS(QEZ_DEFINE_OFFLOAD_EXECUTOR, P, _omp_offload, R, C)              \
  void QEZ_FFTW_PASTE3(P, execute, _omp_offload)(const qez_fftw_plan* plan, void* interop) { \
    fortran_forms::execute(plan, interop);                                                    \
  }

extern "C" {
QEZ_FFTW_FORTRAN_CPU_MODELS(QEZ_DEFINE_CPU_MODEL)
QEZ_FFTW_FORTRAN_OFFLOAD_MODELS(QEZ_DEFINE_OFFLOAD_MODEL)
QEZ_FFTW_PRECISIONS(QEZ_DEFINE_EXECUTORS)
}

#undef QEZ_DEFINE_EXECUTORS
#undef QEZ_DEFINE_OFFLOAD_EXECUTOR
#undef QEZ_DEFINE_CPU_EXECUTOR
#undef QEZ_DEFINE_OFFLOAD_MODEL
#undef QEZ_DEFINE_CPU_MODEL
#undef QEZ_DEFINE_OFFLOAD_PLANNER
#undef QEZ_DEFINE_CPU_PLANNER
