// SYCL stand-in: range, id, item, nd_range, nd_item, group, sub_group.
#pragma once

#include <cstddef>

#include "common.hpp"

namespace sycl {
inline namespace _V1 {

namespace detail {
// An array of up to three sizes, the base of range and id.
template <int Dims>
class array {
  static_assert(Dims >= 1 && Dims <= 3, "dimensions must be 1, 2 or 3");

 public:
  constexpr array() : v_{} {}
  template <class... T, class = std::enable_if_t<sizeof...(T) == Dims && (std::is_convertible_v<T, size_t> && ...)>>
  constexpr array(T... v) : v_{static_cast<size_t>(v)...} {}
  constexpr size_t get(int d) const { return v_[d]; }
  constexpr size_t& operator[](int d) { return v_[d]; }
  constexpr const size_t& operator[](int d) const { return v_[d]; }
  friend constexpr bool operator==(const array& a, const array& b) {
    for (int d = 0; d < Dims; ++d)
      if (a.v_[d] != b.v_[d]) return false;
    return true;
  }
  friend constexpr bool operator!=(const array& a, const array& b) { return !(a == b); }

 protected:
  size_t v_[Dims];
};
}  // namespace detail

template <int Dims = 1>
class range : public detail::array<Dims> {
 public:
  using detail::array<Dims>::array;
  constexpr range(const detail::array<Dims>& a) : detail::array<Dims>(a) {}
  static constexpr int dimensions = Dims;
  constexpr size_t size() const {
    size_t s = 1;
    for (int d = 0; d < Dims; ++d) s *= this->v_[d];
    return s;
  }
#define QEZ_RANGE_OP(op)                                              \
  friend constexpr range operator op(const range& a, const range& b) { \
    range r;                                                          \
    for (int d = 0; d < Dims; ++d) r[d] = a[d] op b[d];               \
    return r;                                                         \
  }
  QEZ_RANGE_OP(+) QEZ_RANGE_OP(-) QEZ_RANGE_OP(*) QEZ_RANGE_OP(/) QEZ_RANGE_OP(%)
#undef QEZ_RANGE_OP
};
range(size_t)->range<1>;
range(size_t, size_t)->range<2>;
range(size_t, size_t, size_t)->range<3>;

template <int Dims = 1>
class item;

template <int Dims = 1>
class id : public detail::array<Dims> {
 public:
  using detail::array<Dims>::array;
  constexpr id(const detail::array<Dims>& a) : detail::array<Dims>(a) {}
  constexpr id(const range<Dims>& r) : detail::array<Dims>(r) {}
  static constexpr int dimensions = Dims;
  // One-dimensional ids convert to their single index.
  constexpr operator size_t() const {
    static_assert(Dims == 1, "only one-dimensional ids convert to size_t");
    return this->v_[0];
  }
#define QEZ_ID_OP(op)                                           \
  friend constexpr id operator op(const id& a, const id& b) {   \
    id r;                                                       \
    for (int d = 0; d < Dims; ++d) r[d] = a[d] op b[d];         \
    return r;                                                   \
  }                                                             \
  friend constexpr id operator op(const id& a, size_t b) {      \
    id r;                                                       \
    for (int d = 0; d < Dims; ++d) r[d] = a[d] op b;            \
    return r;                                                   \
  }
  QEZ_ID_OP(+) QEZ_ID_OP(-) QEZ_ID_OP(*) QEZ_ID_OP(/) QEZ_ID_OP(%)
#undef QEZ_ID_OP
};
id(size_t)->id<1>;
id(size_t, size_t)->id<2>;
id(size_t, size_t, size_t)->id<3>;

namespace detail {
// Row-major linear index: the last dimension varies fastest.
template <int Dims>
constexpr size_t linearize(const array<Dims>& idx, const array<Dims>& r) {
  size_t lin = idx[0];
  for (int d = 1; d < Dims; ++d) lin = lin * r[d] + idx[d];
  return lin;
}
template <int Dims>
constexpr id<Dims> delinearize(size_t lin, const array<Dims>& r) {
  id<Dims> idx;
  for (int d = Dims - 1; d >= 0; --d) {
    idx[d] = lin % r[d];
    lin /= r[d];
  }
  return idx;
}
}  // namespace detail

template <int Dims>
class item {
 public:
  item() = delete;
  static constexpr int dimensions = Dims;
  constexpr id<Dims> get_id() const { return id_; }
  constexpr size_t get_id(int d) const { return id_[d]; }
  constexpr size_t operator[](int d) const { return id_[d]; }
  constexpr range<Dims> get_range() const { return range_; }
  constexpr size_t get_range(int d) const { return range_[d]; }
  constexpr id<Dims> get_offset() const { return offset_; }
  constexpr size_t get_linear_id() const { return detail::linearize<Dims>(id_ - offset_, range_); }
  constexpr operator id<Dims>() const { return id_; }
  constexpr operator size_t() const {
    static_assert(Dims == 1, "only one-dimensional items convert to size_t");
    return id_[0];
  }
  // Made by the runtime only.
  constexpr item(const id<Dims>& i, const range<Dims>& r, const id<Dims>& o) : id_(i), range_(r), offset_(o) {}

 private:
  id<Dims> id_;
  range<Dims> range_;
  id<Dims> offset_;
};

template <int Dims = 1>
class nd_range {
 public:
  static constexpr int dimensions = Dims;
  nd_range(range<Dims> global, range<Dims> local, id<Dims> offset = id<Dims>())
      : global_(global), local_(local), offset_(offset) {}
  range<Dims> get_global_range() const { return global_; }
  range<Dims> get_local_range() const { return local_; }
  range<Dims> get_group_range() const { return global_ / local_; }
  id<Dims> get_offset() const { return offset_; }

 private:
  range<Dims> global_;
  range<Dims> local_;
  id<Dims> offset_;
};

namespace detail {
// The position of one work-item of a host-run nd-range kernel, in SYCL order
// (entry Dims-1 varies fastest). Filled by the runtime.
struct nd_item_state {
  size_t global_range[3];
  size_t local_range[3];
  size_t group_range[3];
  size_t offset[3];
  size_t group_id[3];
  size_t local_id[3];
};
// Work-group barrier of host-run nd-range kernels (cooperative fibers).
QEZ_SYCL_EXPORT void work_group_barrier();
}  // namespace detail

template <int Dims = 1>
class group {
 public:
  static constexpr int dimensions = Dims;
  id<Dims> get_group_id() const { return from(s_->group_id); }
  size_t get_group_id(int d) const { return s_->group_id[d]; }
  size_t operator[](int d) const { return s_->group_id[d]; }
  range<Dims> get_local_range() const { return from(s_->local_range); }
  size_t get_local_range(int d) const { return s_->local_range[d]; }
  range<Dims> get_group_range() const { return from(s_->group_range); }
  size_t get_group_range(int d) const { return s_->group_range[d]; }
  range<Dims> get_max_local_range() const { return get_local_range(); }
  id<Dims> get_local_id() const { return from(s_->local_id); }
  size_t get_group_linear_id() const {
    return detail::linearize<Dims>(from(s_->group_id), from(s_->group_range));
  }
  size_t get_local_linear_id() const {
    return detail::linearize<Dims>(from(s_->local_id), from(s_->local_range));
  }
  size_t get_local_linear_range() const { return get_local_range().size(); }
  size_t get_group_linear_range() const { return get_group_range().size(); }
  explicit group(const detail::nd_item_state* s) : s_(s) {}

 private:
  static detail::array<Dims> from(const size_t* v) {
    detail::array<Dims> a;
    for (int d = 0; d < Dims; ++d) a[d] = v[d];
    return a;
  }
  const detail::nd_item_state* s_;
};

// Sub-groups of host-run kernels have one work-item each.
class sub_group {
 public:
  static constexpr int dimensions = 1;
  id<1> get_local_id() const { return id<1>(0); }
  range<1> get_local_range() const { return range<1>(1); }
  range<1> get_max_local_range() const { return range<1>(1); }
  id<1> get_group_id() const { return id<1>(group_); }
  range<1> get_group_range() const { return range<1>(groups_); }
  uint32_t get_local_linear_id() const { return 0; }
  uint32_t get_group_linear_id() const { return static_cast<uint32_t>(group_); }
  uint32_t get_local_linear_range() const { return 1; }
  uint32_t get_group_linear_range() const { return static_cast<uint32_t>(groups_); }
  sub_group(size_t group, size_t groups) : group_(group), groups_(groups) {}

 private:
  size_t group_;
  size_t groups_;
};

template <int Dims = 1>
class nd_item {
 public:
  static constexpr int dimensions = Dims;
  id<Dims> get_global_id() const {
    id<Dims> r;
    for (int d = 0; d < Dims; ++d) r[d] = get_global_id(d);
    return r;
  }
  size_t get_global_id(int d) const { return s_.offset[d] + s_.group_id[d] * s_.local_range[d] + s_.local_id[d]; }
  size_t get_global_linear_id() const {
    size_t lin = 0;
    for (int d = 0; d < Dims; ++d) lin = lin * s_.global_range[d] + (get_global_id(d) - s_.offset[d]);
    return lin;
  }
  id<Dims> get_local_id() const { return from(s_.local_id); }
  size_t get_local_id(int d) const { return s_.local_id[d]; }
  size_t get_local_linear_id() const { return detail::linearize<Dims>(from(s_.local_id), from(s_.local_range)); }
  group<Dims> get_group() const { return group<Dims>(&s_); }
  size_t get_group(int d) const { return s_.group_id[d]; }
  size_t get_group_linear_id() const { return detail::linearize<Dims>(from(s_.group_id), from(s_.group_range)); }
  range<Dims> get_group_range() const { return from(s_.group_range); }
  size_t get_group_range(int d) const { return s_.group_range[d]; }
  range<Dims> get_global_range() const { return from(s_.global_range); }
  size_t get_global_range(int d) const { return s_.global_range[d]; }
  range<Dims> get_local_range() const { return from(s_.local_range); }
  size_t get_local_range(int d) const { return s_.local_range[d]; }
  id<Dims> get_offset() const { return from(s_.offset); }
  nd_range<Dims> get_nd_range() const { return nd_range<Dims>(get_global_range(), get_local_range(), get_offset()); }
  sub_group get_sub_group() const { return sub_group(get_local_linear_id(), get_local_range().size()); }
  void barrier(access::fence_space = access::fence_space::global_and_local) const { detail::work_group_barrier(); }

  explicit nd_item(const detail::nd_item_state& s) : s_(s) {}

 private:
  static detail::array<Dims> from(const size_t* v) {
    detail::array<Dims> a;
    for (int d = 0; d < Dims; ++d) a[d] = v[d];
    return a;
  }
  detail::nd_item_state s_;
};

template <int Dims>
void group_barrier(const group<Dims>&) {
  detail::work_group_barrier();
}
inline void group_barrier(const sub_group&) {}

}  // namespace _V1
}  // namespace sycl
