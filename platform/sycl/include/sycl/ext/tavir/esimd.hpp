// SYCL stand-in: the explicit-SIMD (ESIMD) extension, as far as the library's
// ESIMD kernels use it. An ESIMD work-item is one hardware thread working on
// explicit vectors; here a work-item is a host fiber (work-groups run as
// cooperative fibers, README.md) and a vector is a small array the compiler
// vectorises. Memory: global memory through plain pointers (block loads and
// stores, gathers and scatters with byte offsets) and the work-group's shared
// local memory (SLM), reserved by slm_init and checked on every access.
#pragma once

#include <cstdint>
#include <cstring>
#include <type_traits>

#include <sycl/sycl.hpp>

namespace sycl {
inline namespace _V1 {
namespace ext::tavir::esimd {

template <class T, int N>
class simd;
template <class T, int N, int Size, int Stride>
class simd_view;
// Per-lane predicate: non-zero lanes take part.
template <int N>
using simd_mask = simd<unsigned short, N>;

// A vector of N elements of T.
template <class T, int N>
class simd {
  static_assert(N >= 1, "a vector has at least one element");
  static_assert(std::is_arithmetic_v<T>, "vectors hold arithmetic elements");

 public:
  using element_type = T;
  static constexpr int length = N;

  simd() : v_{} {}
  // Every lane `value`.
  simd(T value) {
    for (int i = 0; i < N; ++i) v_[i] = value;
  }
  // Lane i: base + i x step.
  simd(T base, T step) {
    for (int i = 0; i < N; ++i) v_[i] = static_cast<T>(base + static_cast<T>(i) * step);
  }
  template <class U, class = std::enable_if_t<!std::is_same_v<U, T>>>
  explicit simd(const simd<U, N>& other) {
    for (int i = 0; i < N; ++i) v_[i] = static_cast<T>(other[i]);
  }

  T& operator[](int i) { return v_[i]; }
  const T& operator[](int i) const { return v_[i]; }

  // Size elements starting at `offset`, `Stride` apart: a view that reads
  // and writes this vector.
  template <int Size, int Stride>
  simd_view<T, N, Size, Stride> select(int offset = 0) {
    return simd_view<T, N, Size, Stride>(*this, offset);
  }
  template <int Size, int Stride>
  simd<T, Size> select(int offset = 0) const {
    static_assert(Size >= 1 && Stride >= 1, "a selection has at least one element");
    simd<T, Size> r;
    for (int i = 0; i < Size; ++i) r[i] = v_[offset + i * Stride];
    return r;
  }

  void copy_from(const T* p) { std::memcpy(v_, p, sizeof v_); }
  void copy_to(T* p) const { std::memcpy(p, v_, sizeof v_); }

#define QEZ_SIMD_OP(op)                                                 \
  friend simd operator op(const simd& a, const simd& b) {               \
    simd r;                                                             \
    for (int i = 0; i < N; ++i) r.v_[i] = static_cast<T>(a.v_[i] op b.v_[i]); \
    return r;                                                           \
  }                                                                     \
  friend simd operator op(const simd& a, T b) { return a op simd(b); }  \
  friend simd operator op(T a, const simd& b) { return simd(a) op b; }  \
  simd& operator op##=(const simd& b) { return *this = *this op b; }
  QEZ_SIMD_OP(+)
  QEZ_SIMD_OP(-)
  QEZ_SIMD_OP(*)
  QEZ_SIMD_OP(/)
#undef QEZ_SIMD_OP
  simd operator-() const { return simd(T(0)) - *this; }

#define QEZ_SIMD_CMP(op)                                            \
  friend simd_mask<N> operator op(const simd& a, const simd& b) {   \
    simd_mask<N> r;                                                 \
    for (int i = 0; i < N; ++i) r[i] = a.v_[i] op b.v_[i] ? 1 : 0;  \
    return r;                                                       \
  }
  QEZ_SIMD_CMP(<)
  QEZ_SIMD_CMP(<=)
  QEZ_SIMD_CMP(>)
  QEZ_SIMD_CMP(>=)
  QEZ_SIMD_CMP(==)
  QEZ_SIMD_CMP(!=)
#undef QEZ_SIMD_CMP

 private:
  T v_[N];
};

// Size lanes of a parent vector, starting at an offset, Stride apart.
template <class T, int N, int Size, int Stride>
class simd_view {
  static_assert(Size >= 1 && Stride >= 1, "a selection has at least one element");

 public:
  simd_view(simd<T, N>& parent, int offset) : parent_(parent), offset_(offset) {}
  simd<T, Size> read() const { return static_cast<const simd<T, N>&>(parent_).template select<Size, Stride>(offset_); }
  operator simd<T, Size>() const { return read(); }
  simd_view& operator=(const simd<T, Size>& value) {
    for (int i = 0; i < Size; ++i) parent_[offset_ + i * Stride] = value[i];
    return *this;
  }
  // Assigns the elements of another view (never rebinds).
  simd_view& operator=(const simd_view& other) { return *this = other.read(); }
  simd_view& operator+=(const simd<T, Size>& b) { return *this = read() + b; }
  simd_view& operator-=(const simd<T, Size>& b) { return *this = read() - b; }
  simd_view& operator*=(const simd<T, Size>& b) { return *this = read() * b; }

 private:
  simd<T, N>& parent_;
  int offset_;
};

// ---- Global memory ----------------------------------------------------------

// N consecutive elements at `addr`.
template <class T, int N>
simd<T, N> block_load(const T* addr) {
  simd<T, N> r;
  r.copy_from(addr);
  return r;
}
template <class T, int N>
void block_store(T* addr, const simd<T, N>& values) {
  values.copy_to(addr);
}
// Lane i reads the element `byte_offsets[i]` bytes past `base` (lanes off
// the mask read nothing and give 0).
template <class T, int N>
simd<T, N> gather(const T* base, const simd<uint32_t, N>& byte_offsets, const simd_mask<N>& mask = simd_mask<N>(1)) {
  simd<T, N> r;
  const char* bytes = reinterpret_cast<const char*>(base);
  for (int i = 0; i < N; ++i)
    if (mask[i]) std::memcpy(&r[i], bytes + byte_offsets[i], sizeof(T));
  return r;
}
template <class T, int N>
void scatter(T* base, const simd<uint32_t, N>& byte_offsets, const simd<T, N>& values,
             const simd_mask<N>& mask = simd_mask<N>(1)) {
  char* bytes = reinterpret_cast<char*>(base);
  for (int i = 0; i < N; ++i)
    if (mask[i]) std::memcpy(bytes + byte_offsets[i], &values[i], sizeof(T));
}

// ---- Shared local memory ------------------------------------------------------

namespace detail {
// The running work-group's SLM (this thread's block, grown on demand) and
// the bytes reserved; an access outside them throws errc::kernel.
QEZ_SYCL_EXPORT void slm_reserve(uint32_t bytes);
QEZ_SYCL_EXPORT char* slm_checked(uint32_t byte_offset, uint32_t bytes);
}  // namespace detail

// Reserves `bytes` of SLM for the work-group; every work-item calls it first.
inline void slm_init(uint32_t bytes) { detail::slm_reserve(bytes); }

template <class T, int N>
simd<T, N> slm_block_load(uint32_t byte_offset) {
  simd<T, N> r;
  r.copy_from(reinterpret_cast<const T*>(detail::slm_checked(byte_offset, N * sizeof(T))));
  return r;
}
template <class T, int N>
void slm_block_store(uint32_t byte_offset, const simd<T, N>& values) {
  values.copy_to(reinterpret_cast<T*>(detail::slm_checked(byte_offset, N * sizeof(T))));
}
template <class T, int N>
simd<T, N> slm_gather(const simd<uint32_t, N>& byte_offsets, const simd_mask<N>& mask = simd_mask<N>(1)) {
  simd<T, N> r;
  for (int i = 0; i < N; ++i)
    if (mask[i]) std::memcpy(&r[i], detail::slm_checked(byte_offsets[i], sizeof(T)), sizeof(T));
  return r;
}
template <class T, int N>
void slm_scatter(const simd<uint32_t, N>& byte_offsets, const simd<T, N>& values,
                 const simd_mask<N>& mask = simd_mask<N>(1)) {
  for (int i = 0; i < N; ++i)
    if (mask[i]) std::memcpy(detail::slm_checked(byte_offsets[i], sizeof(T)), &values[i], sizeof(T));
}

// ---- Synchronisation --------------------------------------------------------------

// Orders this work-item's memory accesses (host memory is coherent: nothing to do).
inline void fence() {}
// Work-group barrier.
inline void barrier() { sycl::detail::work_group_barrier(); }

}  // namespace ext::tavir::esimd
}  // namespace _V1
}  // namespace sycl
