// Device code of the ESIMD two-factor engine: the specialization constants
// of a pass, the radix routines, the kernel family
// qez_dft_esimd_2_facts_kernel and the twiddle-table writers.
//
// A pass computes the lines of length N = fact0 x fact1 along one dimension
// as a four-step transform. With n = fact1 x n0 + n1 and k = k0 + fact0 x k1:
//   1. (before the transpose) for each n1, the fact0-point transform over n0;
//   2. the twiddle W_N^(n1 k0) from the pass's table (conjugated forward);
//   3. the transpose through shared local memory (SLM);
//   4. (after the transpose) for each k0, the fact1-point transform over n1,
//      stored at k0 + fact0 x k1.
// A vector holds 8 complex values (16 reals, interleaved). The row algorithm
// (fft_algo 0) gives one line to a work-group and makes the 8 lanes 8
// consecutive n1 (then k0) of that line; the column-batch algorithm
// (fft_algo 1) gives a work-group 8 adjacent lines and makes the lanes those
// lines, so that every access is a block of 16 reals.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <type_traits>

#include <sycl/ext/tavir/esimd.hpp>
#include <sycl/sycl.hpp>

#include "dft/gpu/core/plan_basics.hpp"
#include "kernels/esimd_unit_roots_generated.hpp"

// Which algorithm a pass runs (part of the kernel names, hence global).
enum class fft_algo : int { row = 0, column_batch = 1 };

namespace ulmara::qez::dft::esimd_2_facts {

using plan_basics::complex_bytes;

// ---- Specialization constants of a pass ---------------------------------------------

inline constexpr sycl::specialization_id<std::uint64_t> dft_spec_const_fact0(8);
inline constexpr sycl::specialization_id<std::uint64_t> dft_spec_const_fact1(8);
inline constexpr sycl::specialization_id<std::uint64_t> dft_spec_const_fwd_dist(0);
inline constexpr sycl::specialization_id<std::uint64_t> dft_spec_const_bwd_dist(0);
inline constexpr sycl::specialization_id<std::uint64_t> dft_spec_const_VL(16);
inline constexpr sycl::specialization_id<std::uint32_t> dft_spec_const_simd_groups_before_transpose(1);
inline constexpr sycl::specialization_id<std::uint32_t> dft_spec_const_simd_groups_after_transpose(1);
inline constexpr sycl::specialization_id<std::uint32_t> dft_spec_const_fact1_loop_bound(1);
inline constexpr sycl::specialization_id<std::uint32_t> dft_spec_const_use_lsc_api(0);
inline constexpr sycl::specialization_id<std::uint64_t> dft_spec_const_slm_size(0);
inline constexpr sycl::specialization_id<std::uint32_t> dft_num_batch_in_x_dir(1);
inline constexpr sycl::specialization_id<std::uint32_t> dft_num_batch_in_y_dir(1);
inline constexpr sycl::specialization_id<std::uint32_t> dft_dist_to_next_simd_group(16);
inline constexpr sycl::specialization_id<std::uint32_t> dft_dist_to_next_row_in_fact0xfact1(8);
inline constexpr sycl::specialization_id<std::uint32_t> dft_dist_to_next_row_in_fact1xfact0(8);
inline constexpr sycl::specialization_id<std::uint32_t> dft_stride_to_next_elem(1);
inline constexpr sycl::specialization_id<std::uint32_t> dft_spec_const_padfact0(0);
inline constexpr sycl::specialization_id<std::uint32_t> dft_spec_const_padfact1(0);
inline constexpr sycl::specialization_id<std::uint32_t> dft_num_col_batch_ffts(1);
inline constexpr sycl::specialization_id<std::uint32_t> dft_do_twiddle(1);
inline constexpr sycl::specialization_id<std::uint32_t> dft_do_fft0(1);
inline constexpr sycl::specialization_id<std::uint32_t> dft_do_fft1(1);

// The constants as one kernel reads them.
struct pass_constants {
  std::uint64_t fact0, fact1, fwd_dist, bwd_dist, vl, slm_size;
  std::uint32_t groups_before, groups_after, loop_bound, use_lsc_api;
  std::uint32_t batches_x, batches_y, dist_to_next_simd_group;
  std::uint32_t row_step_fact0xfact1, row_step_fact1xfact0, element_stride;
  std::uint32_t pad0, pad1, ncol, do_twiddle, do_fft0, do_fft1;
};

inline pass_constants read_pass_constants(const sycl::kernel_handler& kh) {
  pass_constants c;
  c.fact0 = kh.get_specialization_constant<dft_spec_const_fact0>();
  c.fact1 = kh.get_specialization_constant<dft_spec_const_fact1>();
  c.fwd_dist = kh.get_specialization_constant<dft_spec_const_fwd_dist>();
  c.bwd_dist = kh.get_specialization_constant<dft_spec_const_bwd_dist>();
  c.vl = kh.get_specialization_constant<dft_spec_const_VL>();
  c.slm_size = kh.get_specialization_constant<dft_spec_const_slm_size>();
  c.groups_before = kh.get_specialization_constant<dft_spec_const_simd_groups_before_transpose>();
  c.groups_after = kh.get_specialization_constant<dft_spec_const_simd_groups_after_transpose>();
  c.loop_bound = kh.get_specialization_constant<dft_spec_const_fact1_loop_bound>();
  c.use_lsc_api = kh.get_specialization_constant<dft_spec_const_use_lsc_api>();
  c.batches_x = kh.get_specialization_constant<dft_num_batch_in_x_dir>();
  c.batches_y = kh.get_specialization_constant<dft_num_batch_in_y_dir>();
  c.dist_to_next_simd_group = kh.get_specialization_constant<dft_dist_to_next_simd_group>();
  c.row_step_fact0xfact1 = kh.get_specialization_constant<dft_dist_to_next_row_in_fact0xfact1>();
  c.row_step_fact1xfact0 = kh.get_specialization_constant<dft_dist_to_next_row_in_fact1xfact0>();
  c.element_stride = kh.get_specialization_constant<dft_stride_to_next_elem>();
  c.pad0 = kh.get_specialization_constant<dft_spec_const_padfact0>();
  c.pad1 = kh.get_specialization_constant<dft_spec_const_padfact1>();
  c.ncol = kh.get_specialization_constant<dft_num_col_batch_ffts>();
  c.do_twiddle = kh.get_specialization_constant<dft_do_twiddle>();
  c.do_fft0 = kh.get_specialization_constant<dft_do_fft0>();
  c.do_fft1 = kh.get_specialization_constant<dft_do_fft1>();
  return c;
}

// ---- Radix routines -------------------------------------------------------------------

namespace esimd = sycl::ext::tavir::esimd;
constexpr int vl = 16;
constexpr int complex_lanes = vl / 2;
constexpr int max_factor = 64;
template <class T>
using vec = esimd::simd<T, vl>;
template <class T>
using lane_vec = esimd::simd<T, complex_lanes>;

// Eight complex values, planar, for the arithmetic.
template <class T>
struct cvec {
  lane_vec<T> re, im;
};
template <class T>
cvec<T> operator+(const cvec<T>& a, const cvec<T>& b) {
  return {a.re + b.re, a.im + b.im};
}
template <class T>
cvec<T> operator-(const cvec<T>& a, const cvec<T>& b) {
  return {a.re - b.re, a.im - b.im};
}
// a x (c + i s)
template <class T>
cvec<T> rotate(const cvec<T>& a, T c, T s) {
  return {a.re * c - a.im * s, a.re * s + a.im * c};
}
// a x (sign i): sign -1 in the forward direction.
template <int D, class T>
cvec<T> times_i(const cvec<T>& a) {
  if constexpr (D == 0) return {a.im, -a.re};
  else return {-a.im, a.re};
}

// exp(sign 2 pi i k / N) for k < N (sign -1 forward): constants computed on
// the host in long double by the codelet generator.
template <class T, int N, int D>
struct unit_roots {
  static T cos(int k) { return esimd_unit_root_table<T, N>::values[2 * k]; }
  static T sin(int k) {
    const T s = esimd_unit_root_table<T, N>::values[2 * k + 1];
    return D == 0 ? -s : s;
  }
};

// p-point butterfly in place, p in {2, 3, 4, 5}.
template <int P, int D, class T>
void butterfly(cvec<T>* a) {
  if constexpr (P == 2) {
    const cvec<T> t = a[0];
    a[0] = t + a[1];
    a[1] = t - a[1];
  } else if constexpr (P == 4) {
    const cvec<T> t0 = a[0] + a[2], t1 = a[0] - a[2], t2 = a[1] + a[3], t3 = times_i<D>(a[1] - a[3]);
    a[0] = t0 + t2;
    a[1] = t1 + t3;
    a[2] = t0 - t2;
    a[3] = t1 - t3;
  } else {
    static_assert(P == 3 || P == 5, "odd radices 3 and 5");
    // y_k = a_0 + sum over n of (a_n + a_(P-n)) cos + sign i (a_n - a_(P-n)) sin
    using w = unit_roots<T, P, D>;
    cvec<T> sum[P / 2], diff[P / 2];
    cvec<T> y0 = a[0];
    for (int n = 1; n <= P / 2; ++n) {
      sum[n - 1] = a[n] + a[P - n];
      diff[n - 1] = a[n] - a[P - n];
      y0 = y0 + sum[n - 1];
    }
    cvec<T> y[P];
    for (int k = 1; k < P; ++k) {
      cvec<T> acc = a[0];
      for (int n = 1; n <= P / 2; ++n) {
        const int r = (n * k) % P;
        const T c = w::cos(r), s = w::sin(r);  // s carries the direction's sign
        acc.re = acc.re + sum[n - 1].re * c - diff[n - 1].im * s;
        acc.im = acc.im + sum[n - 1].im * c + diff[n - 1].re * s;
      }
      y[k] = acc;
    }
    a[0] = y0;
    for (int k = 1; k < P; ++k) a[k] = y[k];
  }
}

template <int N>
constexpr int first_radix() {
  return N % 4 == 0 ? 4 : N % 2 == 0 ? 2 : N % 3 == 0 ? 3 : 5;
}

// N-point transform of in[0], in[stride], ... into out[0 .. N): decimation
// in time, radix 4, 2, 3 or 5 at each level.
template <int N, int D, class T>
void dft(const cvec<T>* in, int stride, cvec<T>* out) {
  if constexpr (N == 1) {
    out[0] = in[0];
  } else if constexpr (N <= 5) {
    for (int n = 0; n < N; ++n) out[n] = in[n * stride];
    butterfly<N, D>(out);
  } else {
    constexpr int p = first_radix<N>();
    constexpr int m = N / p;
    static_assert(p * m == N, "sizes are products of 2, 3 and 5");
    cvec<T> sub[N];
    for (int r = 0; r < p; ++r) dft<m, D>(in + r * stride, stride * p, sub + r * m);
    using w = unit_roots<T, N, D>;
    for (int k = 0; k < m; ++k) {
      cvec<T> t[p];
      t[0] = sub[k];
      for (int r = 1; r < p; ++r) {
        const int e = (r * k) % N;
        t[r] = rotate(sub[r * m + k], w::cos(e), w::sin(e));
      }
      butterfly<p, D>(t);
      for (int q = 0; q < p; ++q) out[k + q * m] = t[q];
    }
  }
}

template <class T>
cvec<T> deinterleave(const vec<T>& v) {
  return {v.template select<complex_lanes, 2>(0), v.template select<complex_lanes, 2>(1)};
}
template <class T>
vec<T> interleave(const cvec<T>& c) {
  vec<T> v;
  v.template select<complex_lanes, 2>(0) = c.re;
  v.template select<complex_lanes, 2>(1) = c.im;
  return v;
}

// The N-point transform of N vectors of 8 interleaved complex lanes.
template <class T, int VL, int D, int N>
void fft_n(const esimd::simd<T, VL>* in, esimd::simd<T, VL>* out) {
  static_assert(VL == vl, "the routines work on vectors of 16 reals");
  cvec<T> a[N], b[N];
  for (int i = 0; i < N; ++i) a[i] = deinterleave(in[i]);
  dft<N, D>(a, 1, b);
  for (int i = 0; i < N; ++i) out[i] = interleave(b[i]);
}

#define QEZ_ESIMD_RADIX(n)                                        \
  template <class T, int VL, int D>                               \
  void fft_##n(const esimd::simd<T, VL>* in, esimd::simd<T, VL>* out) { \
    fft_n<T, VL, D, n>(in, out);                                  \
  }
QEZ_ESIMD_RADIX(8)
QEZ_ESIMD_RADIX(9)
QEZ_ESIMD_RADIX(10)
QEZ_ESIMD_RADIX(12)
QEZ_ESIMD_RADIX(16)
QEZ_ESIMD_RADIX(25)
QEZ_ESIMD_RADIX(32)
QEZ_ESIMD_RADIX(64)
#undef QEZ_ESIMD_RADIX

// The routine of a factor's value (one of the eight sizes); false otherwise.
template <class T, int D>
bool fft_by_factor(std::uint64_t fact, const vec<T>* in, vec<T>* out) {
  switch (fact) {
    case 8: fft_8<T, vl, D>(in, out); return true;
    case 9: fft_9<T, vl, D>(in, out); return true;
    case 10: fft_10<T, vl, D>(in, out); return true;
    case 12: fft_12<T, vl, D>(in, out); return true;
    case 16: fft_16<T, vl, D>(in, out); return true;
    case 25: fft_25<T, vl, D>(in, out); return true;
    case 32: fft_32<T, vl, D>(in, out); return true;
    case 64: fft_64<T, vl, D>(in, out); return true;
    default: return false;
  }
}

// ---- One pass for one work-item ----------------------------------------------------------

// Lane byte offsets of 8 complex values `stride` elements apart, and the
// mask of the first `count` of them.
template <class T>
esimd::simd<std::uint32_t, vl> lane_offsets(std::uint64_t stride) {
  esimd::simd<std::uint32_t, vl> o;
  for (int j = 0; j < complex_lanes; ++j) {
    o[2 * j] = static_cast<std::uint32_t>(2 * j * stride * sizeof(T));
    o[2 * j + 1] = static_cast<std::uint32_t>(o[2 * j] + sizeof(T));
  }
  return o;
}
inline esimd::simd_mask<vl> first_lanes(std::uint64_t count) {
  esimd::simd_mask<vl> m;
  for (int j = 0; j < complex_lanes; ++j) m[2 * j] = m[2 * j + 1] = static_cast<std::uint64_t>(j) < count ? 1 : 0;
  return m;
}

// 8 complex values at `p`, `stride` elements apart, the first `count` valid.
template <class T>
vec<T> load_lanes(const T* p, std::uint64_t stride, std::uint64_t count) {
  if (stride == 1 && count == complex_lanes) return esimd::block_load<T, vl>(p);
  return esimd::gather<T, vl>(p, lane_offsets<T>(stride), first_lanes(count));
}
template <class T>
void store_lanes(T* p, std::uint64_t stride, std::uint64_t count, const vec<T>& v) {
  if (stride == 1 && count == complex_lanes) esimd::block_store<T, vl>(p, v);
  else esimd::scatter<T, vl>(p, lane_offsets<T>(stride), v, first_lanes(count));
}

// x times the table entry w (both 8 interleaved complex values); the
// forward direction takes the conjugate of w.
template <int D, class T>
vec<T> apply_twiddle(const vec<T>& x, const vec<T>& w) {
  const cvec<T> a = deinterleave(x), t = deinterleave(w);
  const lane_vec<T> s = D == 0 ? -t.im : t.im;
  return interleave(cvec<T>{a.re * t.re - a.im * s, a.re * s + a.im * t.re});
}

// The work of work-item `l` (of `items`) of work-group `w` of its pass.
template <class T, int D, fft_algo A>
void run_pass(const pass_constants& c, std::uint64_t w, std::uint64_t l, std::uint64_t items, const T* in,
              const T* table, T* out) {
  constexpr bool columns = A == fft_algo::column_batch;
  esimd::slm_init(static_cast<std::uint32_t>(c.slm_size));
  const std::uint64_t per_block = static_cast<std::uint64_t>(c.batches_x) * c.batches_y;
  const std::uint64_t block = w / per_block, share = w % per_block;
  const std::uint64_t in_dist = D == 0 ? c.fwd_dist : c.bwd_dist;
  const std::uint64_t out_dist = D == 0 ? c.bwd_dist : c.fwd_dist;
  const T* in_block = in + 2 * (block * in_dist + share * c.ncol);
  T* out_block = out + 2 * (block * out_dist + share * c.ncol);
  const std::uint64_t f0 = c.fact0, f1 = c.fact1, stride = c.element_stride;
  const std::uint64_t padded_f1 = f1 + c.pad1 / 2;
  // Row algorithm: lanes are 8 consecutive elements of the line; column
  // batch: lanes are 8 adjacent lines.
  const std::uint64_t lane_stride = columns ? 1 : stride;
  vec<T> x[max_factor], y[max_factor];

  // Before the transpose: vector group l holds n1 = 8l .. 8l + 7 (row) or n1 = l.
  if (l < c.groups_before) {
    const T* start = in_block + l * c.dist_to_next_simd_group;
    const std::uint64_t count = columns ? complex_lanes : std::min<std::uint64_t>(complex_lanes, f1 - 8 * l);
    for (std::uint64_t n0 = 0; n0 < f0; ++n0)
      x[n0] = load_lanes(start + 2 * n0 * c.row_step_fact0xfact1, lane_stride, count);
    if (!(c.do_fft0 && fft_by_factor<T, D>(f0, x, y)))
      for (std::uint64_t k0 = 0; k0 < f0; ++k0) y[k0] = x[k0];
    for (std::uint64_t k0 = 0; k0 < f0; ++k0) {
      const std::uint64_t entry = columns ? (k0 * f1 + l) * complex_lanes : k0 * padded_f1 + 8 * l;
      if (c.do_twiddle) y[k0] = apply_twiddle<D>(y[k0], esimd::block_load<T, vl>(table + 2 * entry));
      const std::uint64_t slot = columns ? (k0 * f1 + l) * complex_lanes : k0 * padded_f1 + 8 * l;
      esimd::slm_block_store<T, vl>(static_cast<std::uint32_t>(slot * complex_bytes<T>()), y[k0]);
    }
  }
  esimd::fence();
  esimd::barrier();

  // After the transpose: vector group g holds k0 = 8g .. 8g + 7 (row) or k0 = g.
  const std::uint64_t groups = static_cast<std::uint64_t>(c.groups_after) * c.loop_bound;
  for (std::uint64_t g = l; g < groups; g += items) {
    const std::uint64_t count = columns ? complex_lanes : std::min<std::uint64_t>(complex_lanes, f0 - 8 * g);
    for (std::uint64_t n1 = 0; n1 < f1; ++n1) {
      if (columns) {
        x[n1] = esimd::slm_block_load<T, vl>(static_cast<std::uint32_t>((g * f1 + n1) * complex_lanes * complex_bytes<T>()));
      } else {
        const auto base = static_cast<std::uint32_t>((8 * g * padded_f1 + n1) * complex_bytes<T>());
        x[n1] = esimd::slm_gather<T, vl>(lane_offsets<T>(padded_f1) + base, first_lanes(count));
      }
    }
    if (!(c.do_fft1 && fft_by_factor<T, D>(f1, x, y)))
      for (std::uint64_t k1 = 0; k1 < f1; ++k1) y[k1] = x[k1];
    const std::uint64_t first_k0 = columns ? g : 8 * g;
    for (std::uint64_t k1 = 0; k1 < f1; ++k1)
      store_lanes(out_block + 2 * (first_k0 * stride + k1 * c.row_step_fact1xfact0), lane_stride, count, y[k1]);
  }
}

template <class T>
T* data_of(T* p) {
  return p;
}
template <class A>
auto data_of(const A& acc) -> decltype(acc.get_pointer()) {
  return acc.get_pointer();
}

}  // namespace ulmara::qez::dft::esimd_2_facts

// ---- Kernel family ------------------------------------------------------------------------

// One pass of the engine: members {input, twiddle table, output, group
// offset}; USM pointers, or accessors of buffers of T when `buffered`.
template <class T, int direction, fft_algo algo, bool buffered>
struct qez_dft_esimd_2_facts_kernel {
  using read_accessor = sycl::accessor<T, 1, sycl::access_mode::read, sycl::target::device>;
  using output_accessor = sycl::accessor<T, 1, sycl::access_mode::read_write, sycl::target::device>;
  std::conditional_t<buffered, read_accessor, T*> input;
  std::conditional_t<buffered, read_accessor, T*> twiddles;
  std::conditional_t<buffered, output_accessor, T*> output;
  std::int64_t group_offset;

  void operator()(sycl::nd_item<1> item, sycl::kernel_handler kh) const {
    namespace e2f = ulmara::qez::dft::esimd_2_facts;
    const e2f::pass_constants c = e2f::read_pass_constants(kh);
    const std::uint64_t w = item.get_group(0) + static_cast<std::uint64_t>(group_offset);
    e2f::run_pass<T, direction, algo>(c, w, item.get_local_id(0), item.get_local_range(0), e2f::data_of(input),
                                      e2f::data_of(twiddles), e2f::data_of(output));
  }
};
