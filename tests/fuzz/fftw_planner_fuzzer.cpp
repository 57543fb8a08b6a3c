// Fuzzes the FFTW3-style planners: guru and "many" dimension lists with any
// lengths, strides, distances and embeddings, any sign and flags, through
// the Fortran-callable CPU and offload entries (LP64 and ILP64) and the C
// offload entries (guru and guru64); complex, real to complex and complex
// to real; both precisions. A plan that is made executes on arrays sized
// from its lists when they fit a small bound, then is destroyed. A refused
// plan is a null plan; crashes, leaks and sanitizer reports are findings.
//
// Input: one byte of entry family, one of kind, model and form, one of
// ranks, then the dimension triples, embeddings, sign, flags and placement.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <vector>

#include <sycl/sycl.hpp>

#include "qez_fftw3.h"
#include "qez_fftw3_offload.h"
#include "tests/doubles/omptarget/omptarget_double.h"
#include "tests/fuzz/fuzz_input.hpp"
#include "tests/fuzz/kernel_cache_bound.hpp"

using qez_fuzz::axis;
using qez_fuzz::fuzz_input;

namespace {

// Arrays larger than this are not made; plans whose lists reach further are
// still made (with the estimate flag, so that planning leaves the arrays
// alone) and destroyed, but never executed.
constexpr std::int64_t array_elements = 1 << 14;
// Transforms of more points are not planned: the CPU engine would build
// tables of that size, and the GPU programs for it, which tells nothing new
// about the lists.
constexpr std::int64_t planned_points_cpu = 1 << 16;
constexpr std::int64_t planned_points_offload = 1 << 9;

enum class entry_family { fortran_cpu, fortran_offload, c_guru, c_guru64 };
enum class transform_kind { c2c, r2c, c2r };

struct triple {
  std::int64_t n, is, os;
};

struct plan_request {
  entry_family family;
  transform_kind kind;
  bool ilp64;
  bool many;         // the "many" planner: embeddings, one stride and distance
  bool null_embeds;  // "many" with null embeddings (the lengths serve)
  std::vector<triple> dims, howmany;
  std::vector<std::int64_t> inembed, onembed;
  int sign;
  unsigned flags;
  bool in_place;
};

sycl::queue& offload_queue() {
  static sycl::queue queue{sycl::gpu_selector_v};
  return queue;
}

// An interop object of the offload runtime double over the GPU queue, for
// the whole run.
void* offload_interop() {
  static void* interop = qez_omp_double_sycl_interop(&offload_queue());
  return interop;
}

bool offloaded(const plan_request& r) { return r.family != entry_family::fortran_cpu; }
bool takes_64_bit(const plan_request& r) {
  return r.family == entry_family::c_guru64 || (r.family != entry_family::c_guru && r.ilp64);
}

// Values as the entry receives them: 32-bit entries see them truncated.
std::int64_t as_entry_integer(const plan_request& r, std::int64_t v) {
  return takes_64_bit(r) ? v : static_cast<std::int32_t>(v);
}

plan_request read_request(fuzz_input& in) {
  plan_request r{};
  r.family = static_cast<entry_family>(in.below(4));
  const std::uint8_t shape = in.byte();
  r.kind = static_cast<transform_kind>(shape % 3);
  r.ilp64 = (shape & 4) != 0;
  r.many = (shape & 8) != 0 && (r.family == entry_family::fortran_cpu || r.family == entry_family::fortran_offload);
  r.null_embeds = (shape & 16) != 0;
  const std::uint8_t ranks = in.byte();
  r.dims.resize(ranks % 5);  // 0 to 4: ranks 0 and 4 are refused or handled
  r.howmany.resize((ranks >> 4) % 3);
  for (auto* list : {&r.dims, &r.howmany})
    for (triple& t : *list)
      t = {as_entry_integer(r, in.integer()), as_entry_integer(r, in.integer()), as_entry_integer(r, in.integer())};
  r.inembed.resize(r.dims.size());
  r.onembed.resize(r.dims.size());
  for (auto* list : {&r.inembed, &r.onembed})
    for (auto& v : *list) v = as_entry_integer(r, in.integer());
  r.sign = static_cast<int>(in.integer());
  r.flags = in.take<std::uint32_t>();
  r.in_place = (in.byte() & 1) != 0;
  return r;
}

// False for transforms of more points than are worth planning; lists with
// a length below one are planned (the planner must refuse them).
bool small_enough_to_plan(const plan_request& r) {
  const std::int64_t planned_points = offloaded(r) ? planned_points_offload : planned_points_cpu;
  __int128 points = 1;
  for (const auto* list : {&r.dims, &r.howmany})
    for (const triple& t : *list) {
      if (t.n <= 0) return true;
      points *= t.n;
      if (points > planned_points) return false;
    }
  return true;
}

// The layout of a "many" request as guru lists: each dimension's stride is
// the element stride times the embedded extents of the dimensions that vary
// faster (taken from either end, since the Fortran entries count the
// dimensions the other way); the one batch axis is howmany with the
// distances. Nothing when a product overflows.
std::optional<std::vector<axis>> many_axes(const plan_request& r, bool input, bool fastest_last) {
  const std::vector<std::int64_t>& embed = r.null_embeds ? std::vector<std::int64_t>{} : (input ? r.inembed : r.onembed);
  const std::int64_t rank = static_cast<std::int64_t>(r.dims.size());
  std::vector<axis> axes;
  std::int64_t step = r.dims.empty() ? 1 : (input ? r.dims[0].is : r.dims[0].os);
  for (std::int64_t k = 0; k < rank; ++k) {
    const std::size_t d = static_cast<std::size_t>(fastest_last ? rank - 1 - k : k);
    axes.push_back({r.dims[d].n, step});
    const std::int64_t extent = embed.empty() ? r.dims[d].n : embed[d];
    if (__builtin_mul_overflow(step, extent, &step)) return std::nullopt;
  }
  const triple batch = r.howmany.empty() ? triple{1, 0, 0} : r.howmany[0];
  axes.push_back({batch.n, input ? batch.is : batch.os});
  return axes;
}

std::vector<axis> guru_axes(const plan_request& r, bool input) {
  std::vector<axis> axes;
  for (const auto* list : {&r.dims, &r.howmany})
    for (const triple& t : *list) axes.push_back({t.n, input ? t.is : t.os});
  return axes;
}

// Elements one side needs (lengths taken whole on the complex side of real
// transforms too, which only over-sizes), or nothing when the lists reach
// outside [0, array_elements).
std::optional<std::int64_t> side_elements(const plan_request& r, bool input) {
  if (!r.many) return qez_fuzz::elements_within(0, guru_axes(r, input), array_elements);
  std::optional<std::int64_t> largest = 0;
  for (bool fastest_last : {true, false}) {
    const auto axes = many_axes(r, input, fastest_last);
    const auto elements = axes ? qez_fuzz::elements_within(0, *axes, array_elements) : std::nullopt;
    if (!elements) return std::nullopt;
    largest = std::max(*largest, *elements);
  }
  return largest;
}

// Integer arguments of one Fortran-callable entry, in its integer type.
template <class I>
struct fortran_lists {
  explicit fortran_lists(const plan_request& r)
      : rank(static_cast<I>(r.dims.size())), howmany_rank(static_cast<I>(r.howmany.size())) {
    for (const triple& t : r.dims) push(t, n, is, os);
    for (const triple& t : r.howmany) push(t, hn, his, hos);
    for (auto v : r.inembed) inembed.push_back(static_cast<I>(v));
    for (auto v : r.onembed) onembed.push_back(static_cast<I>(v));
    const triple first = r.dims.empty() ? triple{1, 1, 1} : r.dims[0];
    const triple batch = r.howmany.empty() ? triple{1, 0, 0} : r.howmany[0];
    stride_in = static_cast<I>(first.is);
    stride_out = static_cast<I>(first.os);
    count = static_cast<I>(batch.n);
    dist_in = static_cast<I>(batch.is);
    dist_out = static_cast<I>(batch.os);
    null_embeds = r.null_embeds;
  }
  static void push(const triple& t, std::vector<I>& a, std::vector<I>& b, std::vector<I>& c) {
    a.push_back(static_cast<I>(t.n));
    b.push_back(static_cast<I>(t.is));
    c.push_back(static_cast<I>(t.os));
  }
  const I* in_embed() const { return null_embeds ? nullptr : inembed.data(); }
  const I* out_embed() const { return null_embeds ? nullptr : onembed.data(); }

  I rank, howmany_rank;
  std::vector<I> n, is, os, hn, his, hos, inembed, onembed;
  I stride_in, stride_out, count, dist_in, dist_out;
  bool null_embeds;
};

template <class I64>
std::vector<I64> c_dims(const std::vector<triple>& list) {
  std::vector<I64> dims;
  for (const triple& t : list) {
    using field = decltype(I64::n);
    dims.push_back({static_cast<field>(t.n), static_cast<field>(t.is), static_cast<field>(t.os)});
  }
  return dims;
}

// Calls the Fortran-callable planner of the request's form: the CPU entry,
// or the offload entry with the interop last.
#define QEZ_FUZZ_FORTRAN_PLAN(P, form, M, ...)                                             \
  (offload ? P##form##_omp_offload##M(&plan, __VA_ARGS__, offload_interop())               \
           : P##form##_cpu##M(&plan, __VA_ARGS__))

// Planner and executor calls of one precision. R and C are the real and
// complex types; P the Fortran prefix, CP the C prefix.
#define QEZ_FUZZ_PRECISION_CALLS(R, C, P, CP)                                                       \
  template <class I>                                                                                \
  qez_fftw_plan plan_fortran_##P(const plan_request& r, void* in, void* out, unsigned flags) {      \
    const fortran_lists<I> l(r);                                                                    \
    const bool offload = r.family == entry_family::fortran_offload;                                 \
    constexpr bool ilp64 = sizeof(I) == 8;                                                          \
    qez_fftw_plan plan = nullptr;                                                                   \
    C* ci = static_cast<C*>(in);                                                                    \
    C* co = static_cast<C*>(out);                                                                   \
    R* ri = static_cast<R*>(in);                                                                    \
    R* ro = static_cast<R*>(out);                                                                   \
    const I* ie = l.in_embed();                                                                     \
    const I* oe = l.out_embed();                                                                    \
    if constexpr (ilp64) {                                                                          \
      QEZ_FUZZ_FORTRAN_FORMS(P, _ilp64)                                                             \
    } else {                                                                                        \
      QEZ_FUZZ_FORTRAN_FORMS(P, _lp64)                                                              \
    }                                                                                               \
    return plan;                                                                                    \
  }                                                                                                 \
  template <class D>                                                                                \
  qez_fftw_plan plan_c_##P(const plan_request& r, void* in, void* out, unsigned flags) {            \
    const std::vector<D> dims = c_dims<D>(r.dims), howmany = c_dims<D>(r.howmany);                  \
    const int rank = static_cast<int>(dims.size()), howmany_rank = static_cast<int>(howmany.size()); \
    constexpr bool wide = sizeof(D) == sizeof(qez_fftw_iodim64);                                    \
    switch (r.kind) {                                                                               \
      case transform_kind::c2c:                                                                     \
        if constexpr (wide)                                                                         \
          return CP##plan_guru64_dft_omp_offload(rank, dims.data(), howmany_rank, howmany.data(),   \
                                                 static_cast<C*>(in), static_cast<C*>(out), r.sign, \
                                                 flags, offload_interop());                         \
        else                                                                                        \
          return CP##plan_guru_dft_omp_offload(rank, dims.data(), howmany_rank, howmany.data(),     \
                                               static_cast<C*>(in), static_cast<C*>(out), r.sign,   \
                                               flags, offload_interop());                           \
      case transform_kind::r2c:                                                                     \
        if constexpr (wide)                                                                         \
          return CP##plan_guru64_dft_r2c_omp_offload(rank, dims.data(), howmany_rank,               \
                                                     howmany.data(), static_cast<R*>(in),           \
                                                     static_cast<C*>(out), flags, offload_interop()); \
        else                                                                                        \
          return CP##plan_guru_dft_r2c_omp_offload(rank, dims.data(), howmany_rank, howmany.data(), \
                                                   static_cast<R*>(in), static_cast<C*>(out), flags, \
                                                   offload_interop());                              \
      default:                                                                                      \
        if constexpr (wide)                                                                         \
          return CP##plan_guru64_dft_c2r_omp_offload(rank, dims.data(), howmany_rank,               \
                                                     howmany.data(), static_cast<C*>(in),           \
                                                     static_cast<R*>(out), flags, offload_interop()); \
        else                                                                                        \
          return CP##plan_guru_dft_c2r_omp_offload(rank, dims.data(), howmany_rank, howmany.data(), \
                                                   static_cast<C*>(in), static_cast<R*>(out), flags, \
                                                   offload_interop());                              \
    }                                                                                               \
  }                                                                                                 \
  void execute_##P(const plan_request& r, qez_fftw_plan plan, void* in, void* out) {                \
    C* ci = static_cast<C*>(in);                                                                    \
    C* co = static_cast<C*>(out);                                                                   \
    R* ri = static_cast<R*>(in);                                                                    \
    R* ro = static_cast<R*>(out);                                                                   \
    switch (r.family) {                                                                             \
      case entry_family::fortran_cpu:                                                               \
        if (r.kind == transform_kind::c2c) P##execute_dft_cpu(&plan, &ci, &co);                     \
        else if (r.kind == transform_kind::r2c) P##execute_dft_r2c_cpu(&plan, &ri, &co);            \
        else P##execute_dft_c2r_cpu(&plan, &ci, &ro);                                               \
        break;                                                                                      \
      case entry_family::fortran_offload:                                                           \
        if (r.kind == transform_kind::c2c) P##execute_dft_omp_offload(&plan, &ci, &co, offload_interop()); \
        else if (r.kind == transform_kind::r2c)                                                     \
          P##execute_dft_r2c_omp_offload(&plan, &ri, &co, offload_interop());                       \
        else P##execute_dft_c2r_omp_offload(&plan, &ci, &ro, offload_interop());                    \
        P##execute_omp_offload(&plan, offload_interop());                                           \
        break;                                                                                      \
      default:                                                                                      \
        if (r.kind == transform_kind::c2c) CP##execute_dft_omp_offload(plan, ci, co, offload_interop()); \
        else if (r.kind == transform_kind::r2c)                                                     \
          CP##execute_dft_r2c_omp_offload(plan, ri, co, offload_interop());                         \
        else CP##execute_dft_c2r_omp_offload(plan, ci, ro, offload_interop());                      \
        CP##execute_omp_offload(plan, offload_interop());                                           \
        break;                                                                                      \
    }                                                                                               \
  }

// The six Fortran forms (guru or many, by kind) of one integer model M.
#define QEZ_FUZZ_FORTRAN_FORMS(P, M)                                                                   \
  switch (r.kind) {                                                                                    \
    case transform_kind::c2c:                                                                          \
      if (r.many)                                                                                      \
        QEZ_FUZZ_FORTRAN_PLAN(P, plan_many_dft, M, &l.rank, l.n.data(), &l.count, &ci, ie, &l.stride_in, \
                              &l.dist_in, &co, oe, &l.stride_out, &l.dist_out, &r.sign, &flags);        \
      else                                                                                             \
        QEZ_FUZZ_FORTRAN_PLAN(P, plan_guru_dft, M, &l.rank, l.n.data(), l.is.data(), l.os.data(),      \
                              &l.howmany_rank, l.hn.data(), l.his.data(), l.hos.data(), &ci, &co,      \
                              &r.sign, &flags);                                                        \
      break;                                                                                           \
    case transform_kind::r2c:                                                                          \
      if (r.many)                                                                                      \
        QEZ_FUZZ_FORTRAN_PLAN(P, plan_many_dft_r2c, M, &l.rank, l.n.data(), &l.count, &ri, ie,         \
                              &l.stride_in, &l.dist_in, &co, oe, &l.stride_out, &l.dist_out, &flags);  \
      else                                                                                             \
        QEZ_FUZZ_FORTRAN_PLAN(P, plan_guru_dft_r2c, M, &l.rank, l.n.data(), l.is.data(), l.os.data(),  \
                              &l.howmany_rank, l.hn.data(), l.his.data(), l.hos.data(), &ri, &co,      \
                              &flags);                                                                 \
      break;                                                                                           \
    default:                                                                                           \
      if (r.many)                                                                                      \
        QEZ_FUZZ_FORTRAN_PLAN(P, plan_many_dft_c2r, M, &l.rank, l.n.data(), &l.count, &ci, ie,         \
                              &l.stride_in, &l.dist_in, &ro, oe, &l.stride_out, &l.dist_out, &flags);  \
      else                                                                                             \
        QEZ_FUZZ_FORTRAN_PLAN(P, plan_guru_dft_c2r, M, &l.rank, l.n.data(), l.is.data(), l.os.data(),  \
                              &l.howmany_rank, l.hn.data(), l.his.data(), l.hos.data(), &ci, &ro,      \
                              &flags);                                                                 \
      break;                                                                                           \
  }

QEZ_FUZZ_PRECISION_CALLS(float, qez_fftwf_complex, sfftw_, fftwf_)
QEZ_FUZZ_PRECISION_CALLS(double, qez_fftw_complex, dfftw_, fftw_)

// Memory for one side: shared USM for offload entries, host memory
// otherwise; zeroed, between guard zones that must come back untouched
// (a device writes outside an array without any sanitizer seeing it).
class side_array {
public:
  side_array(bool offload, std::size_t bytes)
      : offload_(offload),
        bytes_(bytes),
        base_(static_cast<std::uint8_t*>(offload ? sycl::malloc_shared(bytes + 2 * qez_fuzz::guard_bytes, offload_queue())
                                                 : std::malloc(bytes + 2 * qez_fuzz::guard_bytes))) {
    qez_fuzz::fill_guarded(base_, bytes_);
  }
  ~side_array() {
    if (offload_) sycl::free(base_, offload_queue());
    else std::free(base_);
  }
  side_array(const side_array&) = delete;
  side_array& operator=(const side_array&) = delete;
  void* get() const { return base_ + qez_fuzz::guard_bytes; }
  void check_guards() const { qez_fuzz::check_guards(base_, bytes_); }

private:
  bool offload_;
  std::size_t bytes_;
  std::uint8_t* base_;
};

template <class Real>
void plan_execute_destroy(const plan_request& r) {
  const auto in_count = side_elements(r, true), out_count = side_elements(r, false);
  const bool executable = in_count && out_count;
  const std::size_t complex_size = 2 * sizeof(Real);
  const std::size_t in_bytes = static_cast<std::size_t>(executable ? *in_count : 1) *
                               (r.kind == transform_kind::r2c ? sizeof(Real) : complex_size);
  const std::size_t out_bytes = static_cast<std::size_t>(executable ? *out_count : 1) *
                                (r.kind == transform_kind::c2r ? sizeof(Real) : complex_size);
  const std::size_t in_place_bytes = std::max(in_bytes, out_bytes);
  side_array in(offloaded(r), r.in_place ? in_place_bytes : in_bytes);
  std::optional<side_array> out;
  if (!r.in_place) out.emplace(offloaded(r), out_bytes);
  void* out_data = r.in_place ? in.get() : out->get();
  // Planning may write to the arrays unless it estimates.
  const unsigned flags = executable ? r.flags : (r.flags | QEZ_FFTW_ESTIMATE);

  constexpr bool single = sizeof(Real) == sizeof(float);
  qez_fftw_plan plan = nullptr;
  switch (r.family) {
    case entry_family::c_guru:
      plan = single ? plan_c_sfftw_<qez_fftw_iodim>(r, in.get(), out_data, flags)
                    : plan_c_dfftw_<qez_fftw_iodim>(r, in.get(), out_data, flags);
      break;
    case entry_family::c_guru64:
      plan = single ? plan_c_sfftw_<qez_fftw_iodim64>(r, in.get(), out_data, flags)
                    : plan_c_dfftw_<qez_fftw_iodim64>(r, in.get(), out_data, flags);
      break;
    default:
      if (r.ilp64)
        plan = single ? plan_fortran_sfftw_<std::int64_t>(r, in.get(), out_data, flags)
                      : plan_fortran_dfftw_<std::int64_t>(r, in.get(), out_data, flags);
      else
        plan = single ? plan_fortran_sfftw_<std::int32_t>(r, in.get(), out_data, flags)
                      : plan_fortran_dfftw_<std::int32_t>(r, in.get(), out_data, flags);
  }
  if (plan == nullptr) return;
  if (executable) {
    if (single) execute_sfftw_(r, plan, in.get(), out_data);
    else execute_dfftw_(r, plan, in.get(), out_data);
  }
  if (offloaded(r)) offload_queue().wait();
  in.check_guards();
  if (out) out->check_guards();
  qez_fftw_destroy_plan(plan);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  qez_fuzz::bound_kernel_cache();
  fuzz_input in(data, size);
  const bool single = (in.byte() & 1) != 0;
  const plan_request r = read_request(in);
  if (!small_enough_to_plan(r)) return 0;
  if (single) plan_execute_destroy<float>(r);
  else plan_execute_destroy<double>(r);
  return 0;
}
