// SYCL stand-in: buffer, accessor, host_accessor, local_accessor.
//
// A buffer's storage is one allocation shared by the buffer, its copies, its
// sub-buffers and its reinterpretations; it lives in host memory until a
// command group on a GPU queue needs it, then as fine-grained OpenCL SVM of
// that queue's context. Accessors resolve their address when they are made.
#pragma once

#include <cstring>

#include "objects.hpp"

namespace sycl {
inline namespace _V1 {

template <class T>
using buffer_allocator = std::allocator<T>;

template <access_mode Mode>
struct mode_tag_t {
  explicit mode_tag_t() = default;
};
template <access_mode Mode, target Target>
struct mode_target_tag_t {
  explicit mode_target_tag_t() = default;
};
inline constexpr mode_tag_t<access_mode::read> read_only{};
inline constexpr mode_tag_t<access_mode::read_write> read_write{};
inline constexpr mode_tag_t<access_mode::write> write_only{};
inline constexpr mode_target_tag_t<access_mode::read, target::host_task> read_only_host_task{};
inline constexpr mode_target_tag_t<access_mode::read_write, target::host_task> read_write_host_task{};
inline constexpr mode_target_tag_t<access_mode::write, target::host_task> write_only_host_task{};

namespace detail {
// Buffer machinery of the library (buffer.cpp).
QEZ_SYCL_EXPORT std::shared_ptr<buffer_handle> buffer_create(size_t bytes, const void* init, void* write_back,
                                                             const property_list& props, const code_location& loc);
QEZ_SYCL_EXPORT const std::shared_ptr<buffer_storage>& buffer_get_storage(const buffer_handle& h);
QEZ_SYCL_EXPORT void buffer_set_final_data(buffer_handle& h, void* ptr);
QEZ_SYCL_EXPORT void buffer_set_write_back(buffer_handle& h, bool flag);
QEZ_SYCL_EXPORT bool buffer_has_property(const buffer_handle& h, property_kind kind);
QEZ_SYCL_EXPORT code_location buffer_code_location(const buffer_handle& h);

// Access of a command group: registers the requirement with the handler and
// returns the address of byte 0 of the storage for that command.
struct access_grant {
  char* base = nullptr;
  std::shared_ptr<buffer_allocation> keep;  // keeps the memory alive while an accessor holds it
};
QEZ_SYCL_EXPORT access_grant handler_require(handler& cgh, const std::shared_ptr<buffer_storage>& storage,
                                             access_mode mode);
// Host access: waits for the commands it conflicts with and holds back later
// ones until the last copy of the returned guard is gone.
class host_access_guard;
QEZ_SYCL_EXPORT std::shared_ptr<host_access_guard> host_access(const std::shared_ptr<buffer_storage>& storage,
                                                               access_mode mode, char** base,
                                                               const code_location& loc);
// Local memory of host-run nd-range kernels: slot -> this work-group's block.
QEZ_SYCL_EXPORT size_t handler_add_local(handler& cgh, size_t bytes);
QEZ_SYCL_EXPORT void* local_memory(size_t slot);

template <int Dims>
array<Dims> array_from(const array<Dims>& a) {
  return a;
}
}  // namespace detail

template <class T, int Dims = 1, class AllocatorT = buffer_allocator<std::remove_const_t<T>>>
class buffer;

template <class DataT, int Dims = 1, access_mode Mode = (std::is_const_v<DataT> ? access_mode::read : access_mode::read_write),
          target Target = target::device, access::placeholder IsPlaceholder = access::placeholder::false_t>
class accessor;

template <class DataT, int Dims = 1, access_mode Mode = (std::is_const_v<DataT> ? access_mode::read : access_mode::read_write)>
class host_accessor;

template <class T, int Dims, class AllocatorT>
class buffer {
 public:
  using value_type = T;
  using reference = value_type&;
  using const_reference = const value_type&;
  using allocator_type = AllocatorT;
  static constexpr int dimensions = Dims;

  buffer(const range<Dims>& r, const property_list& props = {},
         const detail::code_location& loc = detail::code_location::current())
      : handle_(detail::buffer_create(r.size() * sizeof(T), nullptr, nullptr, props, loc)), range_(r) {}
  buffer(T* host_data, const range<Dims>& r, const property_list& props = {},
         const detail::code_location& loc = detail::code_location::current())
      : handle_(detail::buffer_create(r.size() * sizeof(T), host_data, const_cast<std::remove_const_t<T>*>(host_data),
                                      props, loc)),
        range_(r) {}
  template <class U = T, class = std::enable_if_t<!std::is_const_v<U>>>
  buffer(const U* host_data, const range<Dims>& r, const property_list& props = {},
         const detail::code_location& loc = detail::code_location::current())
      : handle_(detail::buffer_create(r.size() * sizeof(T), host_data, nullptr, props, loc)), range_(r) {}
  // Sub-buffer: a view of `parent` starting at `offset`.
  buffer(buffer& parent, const id<Dims>& offset, const range<Dims>& r,
         const detail::code_location& = detail::code_location::current())
      : handle_(parent.handle_),
        offset_bytes_(parent.offset_bytes_ + detail::linearize<Dims>(offset, parent.range_) * sizeof(T)),
        range_(r),
        sub_buffer_(true) {
    // SYCL 2020 forbids a sub-buffer of a sub-buffer.
    if (parent.sub_buffer_)
      throw sycl::exception(make_error_code(errc::invalid), "Cannot create sub buffer from sub buffer.");
    if (detail::linearize<Dims>(offset, parent.range_) + r.size() > parent.range_.size())
      throw sycl::exception(make_error_code(errc::invalid),
                            "Requested sub-buffer size exceeds the size of the parent buffer");
  }

  buffer(const buffer&) = default;
  buffer(buffer&&) = default;
  buffer& operator=(const buffer&) = default;
  buffer& operator=(buffer&&) = default;
  ~buffer() = default;

  range<Dims> get_range() const { return range_; }
  size_t size() const noexcept { return range_.size(); }
  size_t get_count() const { return size(); }
  size_t byte_size() const noexcept { return size() * sizeof(T); }
  size_t get_size() const { return byte_size(); }
  bool is_sub_buffer() const { return sub_buffer_; }
  // Byte offset of this view in the storage it shares with its root buffer.
  size_t ext_ulmara_get_offset_bytes() const { return offset_bytes_; }
  AllocatorT get_allocator() const { return AllocatorT(); }
  template <class P>
  bool has_property() const noexcept {
    return detail::buffer_has_property(*handle_, P().kind);
  }
  template <class P>
  P get_property() const {
    if (!has_property<P>()) throw sycl::exception(make_error_code(errc::invalid), "property not set");
    return P();
  }

  template <access_mode Mode = access_mode::read_write, target Tgt = target::device>
  accessor<T, Dims, Mode, Tgt> get_access(handler& cgh) {
    return accessor<T, Dims, Mode, Tgt>(*this, cgh);
  }
  template <access_mode Mode = access_mode::read_write, target Tgt = target::device>
  accessor<T, Dims, Mode, Tgt> get_access(handler& cgh, range<Dims> r, id<Dims> offset = {}) {
    return accessor<T, Dims, Mode, Tgt>(*this, cgh, r, offset);
  }
  template <access_mode Mode = access_mode::read_write>
  host_accessor<T, Dims, Mode> get_access() {
    return host_accessor<T, Dims, Mode>(*this);
  }
  template <class... Args>
  auto get_host_access(Args&&... args) {
    return host_accessor(*this, std::forward<Args>(args)...);
  }

  template <class U, int D2 = Dims>
  buffer<U, D2, std::allocator<std::remove_const_t<U>>> reinterpret(range<D2> r) const {
    if (r.size() * sizeof(U) != byte_size())
      throw sycl::exception(make_error_code(errc::invalid), "reinterpret must keep the byte size");
    return buffer<U, D2, std::allocator<std::remove_const_t<U>>>(handle_, offset_bytes_, r, sub_buffer_);
  }
  template <class U, int D2 = Dims, class = std::enable_if_t<D2 == 1>>
  buffer<U, 1, std::allocator<std::remove_const_t<U>>> reinterpret() const {
    if (byte_size() % sizeof(U) != 0)
      throw sycl::exception(make_error_code(errc::invalid), "reinterpret must keep the byte size");
    return reinterpret<U, 1>(range<1>(byte_size() / sizeof(U)));
  }

  void set_final_data(std::nullptr_t) { detail::buffer_set_final_data(*handle_, nullptr); }
  template <class U = T>
  void set_final_data(U* ptr) {
    detail::buffer_set_final_data(*handle_, const_cast<std::remove_const_t<U>*>(ptr));
  }
  void set_write_back(bool flag = true) { detail::buffer_set_write_back(*handle_, flag); }

  friend bool operator==(const buffer& a, const buffer& b) {
    return a.handle_ == b.handle_ && a.offset_bytes_ == b.offset_bytes_ && a.range_ == b.range_;
  }
  friend bool operator!=(const buffer& a, const buffer& b) { return !(a == b); }

  // Stand-in internals, used by accessors.
  const std::shared_ptr<detail::buffer_storage>& ext_ulmara_storage() const {
    return detail::buffer_get_storage(*handle_);
  }
  const std::shared_ptr<detail::buffer_handle>& ext_ulmara_handle() const { return handle_; }
  buffer(std::shared_ptr<detail::buffer_handle> h, size_t offset_bytes, range<Dims> r, bool sub)
      : handle_(std::move(h)), offset_bytes_(offset_bytes), range_(r), sub_buffer_(sub) {}

 private:
  template <class, int, class>
  friend class buffer;
  std::shared_ptr<detail::buffer_handle> handle_;
  size_t offset_bytes_ = 0;
  range<Dims> range_;
  bool sub_buffer_ = false;
};
template <class T, int Dims>
buffer(T*, const range<Dims>&, const property_list& = {}) -> buffer<T, Dims>;
template <class T, int Dims>
buffer(const T*, const range<Dims>&, const property_list& = {}) -> buffer<T, Dims>;

namespace detail {
// Element addressing shared by buffer accessors.
template <class DataT, int Dims>
class accessor_view {
 public:
  size_t get_count() const { return range_.size(); }
  size_t size() const noexcept { return range_.size(); }
  size_t byte_size() const noexcept { return size() * sizeof(DataT); }
  range<Dims> get_range() const { return range_; }
  id<Dims> get_offset() const { return offset_; }
  bool empty() const noexcept { return size() == 0; }

 protected:
  DataT& at(const id<Dims>& i) const { return origin_[linearize<Dims>(offset_ + i, buf_range_)]; }
  DataT* first() const { return origin_ ? origin_ + linearize<Dims>(offset_, buf_range_) : nullptr; }
  template <class B>
  void init(const B& buf, range<Dims> r, id<Dims> offset) {
    storage_ = buf.ext_ulmara_storage();
    view_offset_ = buf.ext_ulmara_get_offset_bytes();
    buf_range_ = buf.get_range();
    range_ = r;
    offset_ = offset;
    for (int d = 0; d < Dims; ++d)
      if (offset[d] + r[d] > buf_range_[d])
        throw sycl::exception(make_error_code(errc::accessor), "accessor range exceeds the buffer");
  }
  void bind(char* base, std::shared_ptr<void> keep) {
    origin_ = reinterpret_cast<DataT*>(base + view_offset_);
    keep_ = std::move(keep);
  }

  DataT* origin_ = nullptr;  // element 0 of the buffer view
  std::shared_ptr<buffer_storage> storage_;
  std::shared_ptr<void> keep_;
  size_t view_offset_ = 0;
  range<Dims> buf_range_;
  range<Dims> range_;
  id<Dims> offset_;
};

// a[i][j] on multi-dimensional accessors.
template <class Ref, int Dims, int Left>
class subscript {
 public:
  subscript(std::function<Ref(const id<Dims>&)> at, id<Dims> idx) : at_(std::move(at)), idx_(idx) {}
  decltype(auto) operator[](size_t i) const {
    id<Dims> next = idx_;
    next[Dims - Left] = i;
    if constexpr (Left == 1) {
      return at_(next);
    } else {
      return subscript<Ref, Dims, Left - 1>(at_, next);
    }
  }

 private:
  std::function<Ref(const id<Dims>&)> at_;
  id<Dims> idx_;
};
}  // namespace detail

template <class DataT, int Dims, access_mode Mode, target Target, access::placeholder IsPlaceholder>
class accessor : public detail::accessor_view<std::remove_const_t<DataT>, Dims> {
  using base = detail::accessor_view<std::remove_const_t<DataT>, Dims>;
  using elem = std::remove_const_t<DataT>;

 public:
  using value_type = std::conditional_t<Mode == access_mode::read, const elem, elem>;
  using reference = value_type&;
  using const_reference = const elem&;
  static constexpr int dimensions = Dims;

  accessor() = default;
  // Placeholder accessors: bound to a command group by handler::require.
  template <class T, class A>
  explicit accessor(buffer<T, Dims, A>& buf, const property_list& = {}) {
    this->init(buf, buf.get_range(), id<Dims>());
  }
  template <class T, class A, class Tag>
  accessor(buffer<T, Dims, A>& buf, Tag, const property_list& = {}) {
    this->init(buf, buf.get_range(), id<Dims>());
  }
  template <class T, class A>
  accessor(buffer<T, Dims, A>& buf, handler& cgh, const property_list& = {}) {
    this->init(buf, buf.get_range(), id<Dims>());
    bind_to(cgh);
  }
  template <class T, class A, class Tag>
  accessor(buffer<T, Dims, A>& buf, handler& cgh, Tag, const property_list& = {}) {
    this->init(buf, buf.get_range(), id<Dims>());
    bind_to(cgh);
  }
  template <class T, class A>
  accessor(buffer<T, Dims, A>& buf, handler& cgh, range<Dims> r, const property_list& = {}) {
    this->init(buf, r, id<Dims>());
    bind_to(cgh);
  }
  template <class T, class A, class Tag>
  accessor(buffer<T, Dims, A>& buf, handler& cgh, range<Dims> r, Tag, const property_list& = {}) {
    this->init(buf, r, id<Dims>());
    bind_to(cgh);
  }
  template <class T, class A>
  accessor(buffer<T, Dims, A>& buf, handler& cgh, range<Dims> r, id<Dims> offset, const property_list& = {}) {
    this->init(buf, r, offset);
    bind_to(cgh);
  }
  template <class T, class A, class Tag>
  accessor(buffer<T, Dims, A>& buf, handler& cgh, range<Dims> r, id<Dims> offset, Tag,
           const property_list& = {}) {
    this->init(buf, r, offset);
    bind_to(cgh);
  }

  bool is_placeholder() const noexcept { return this->origin_ == nullptr; }
  reference operator[](const id<Dims>& i) const { return this->at(i); }
  template <int D = Dims, class = std::enable_if_t<D == 1>>
  reference operator[](size_t i) const {
    return this->at(id<1>(i));
  }
  template <int D = Dims, class = std::enable_if_t<(D > 1)>>
  decltype(auto) operator[](size_t i) const {
    auto self = *this;
    return detail::subscript<reference, Dims, Dims - 1>([self](const id<Dims>& x) -> reference { return self.at(x); },
                                                        [&] {
                                                          id<Dims> x;
                                                          x[0] = i;
                                                          return x;
                                                        }());
  }
  template <int D = Dims, class = std::enable_if_t<D == 1>>
  operator reference() const {
    return this->at(id<1>(0));
  }
  // Address of the first accessed element.
  value_type* get_pointer() const noexcept { return this->first(); }
  template <access::decorated = access::decorated::no>
  value_type* get_multi_ptr() const noexcept {
    return this->first();
  }
  value_type* begin() const noexcept { return this->first(); }
  value_type* end() const noexcept { return this->first() + this->size(); }

  // Stand-in internals.
  void ext_ulmara_bind(handler& cgh) { bind_to(cgh); }
  const std::shared_ptr<detail::buffer_storage>& ext_ulmara_storage() const { return this->storage_; }

 private:
  void bind_to(handler& cgh) {
    detail::access_grant g = detail::handler_require(cgh, this->storage_, Mode);
    this->bind(g.base, std::move(g.keep));
  }
};

template <class T, int Dims, class A>
accessor(buffer<T, Dims, A>&, handler&) -> accessor<T, Dims, access_mode::read_write, target::device>;
template <class T, int Dims, class A, access_mode M>
accessor(buffer<T, Dims, A>&, handler&, mode_tag_t<M>) -> accessor<T, Dims, M, target::device>;
template <class T, int Dims, class A, access_mode M, target Tg>
accessor(buffer<T, Dims, A>&, handler&, mode_target_tag_t<M, Tg>) -> accessor<T, Dims, M, Tg>;
template <class T, int Dims, class A>
accessor(buffer<T, Dims, A>&, handler&, range<Dims>) -> accessor<T, Dims, access_mode::read_write, target::device>;
template <class T, int Dims, class A, access_mode M>
accessor(buffer<T, Dims, A>&, handler&, range<Dims>, mode_tag_t<M>) -> accessor<T, Dims, M, target::device>;
template <class T, int Dims, class A>
accessor(buffer<T, Dims, A>&, handler&, range<Dims>, id<Dims>)
    -> accessor<T, Dims, access_mode::read_write, target::device>;
template <class T, int Dims, class A, access_mode M>
accessor(buffer<T, Dims, A>&, handler&, range<Dims>, id<Dims>, mode_tag_t<M>)
    -> accessor<T, Dims, M, target::device>;
template <class T, int Dims, class A>
accessor(buffer<T, Dims, A>&) -> accessor<T, Dims, access_mode::read_write, target::device, access::placeholder::true_t>;
template <class T, int Dims, class A, access_mode M>
accessor(buffer<T, Dims, A>&, mode_tag_t<M>) -> accessor<T, Dims, M, target::device, access::placeholder::true_t>;

template <class DataT, int Dims, access_mode Mode>
class host_accessor : public detail::accessor_view<std::remove_const_t<DataT>, Dims> {
  using elem = std::remove_const_t<DataT>;

 public:
  using value_type = std::conditional_t<Mode == access_mode::read, const elem, elem>;
  using reference = value_type&;
  static constexpr int dimensions = Dims;

  host_accessor() = default;
  template <class T, class A>
  explicit host_accessor(buffer<T, Dims, A>& buf, const property_list& = {},
                         const detail::code_location& loc = detail::code_location::current()) {
    open(buf, buf.get_range(), id<Dims>(), loc);
  }
  template <class T, class A, class Tag>
  host_accessor(buffer<T, Dims, A>& buf, Tag, const property_list& = {},
                const detail::code_location& loc = detail::code_location::current()) {
    open(buf, buf.get_range(), id<Dims>(), loc);
  }
  template <class T, class A>
  host_accessor(buffer<T, Dims, A>& buf, range<Dims> r, id<Dims> offset = {}, const property_list& = {},
                const detail::code_location& loc = detail::code_location::current()) {
    open(buf, r, offset, loc);
  }
  template <class T, class A, class Tag>
  host_accessor(buffer<T, Dims, A>& buf, range<Dims> r, Tag, const property_list& = {},
                const detail::code_location& loc = detail::code_location::current()) {
    open(buf, r, id<Dims>(), loc);
  }
  template <class T, class A, class Tag>
  host_accessor(buffer<T, Dims, A>& buf, range<Dims> r, id<Dims> offset, Tag, const property_list& = {},
                const detail::code_location& loc = detail::code_location::current()) {
    open(buf, r, offset, loc);
  }

  reference operator[](const id<Dims>& i) const { return this->at(i); }
  template <int D = Dims, class = std::enable_if_t<D == 1>>
  reference operator[](size_t i) const {
    return this->at(id<1>(i));
  }
  template <int D = Dims, class = std::enable_if_t<(D > 1)>>
  decltype(auto) operator[](size_t i) const {
    auto self = *this;
    id<Dims> x;
    x[0] = i;
    return detail::subscript<reference, Dims, Dims - 1>([self](const id<Dims>& y) -> reference { return self.at(y); },
                                                        x);
  }
  value_type* get_pointer() const noexcept { return this->first(); }
  value_type* begin() const noexcept { return this->first(); }
  value_type* end() const noexcept { return this->first() + this->size(); }

 private:
  template <class B>
  void open(B& buf, range<Dims> r, id<Dims> offset, const detail::code_location& loc) {
    this->init(buf, r, offset);
    char* base = nullptr;
    auto guard = detail::host_access(this->storage_, Mode, &base, loc);
    this->bind(base, std::move(guard));
  }
};

template <class T, int Dims, class A>
host_accessor(buffer<T, Dims, A>&) -> host_accessor<T, Dims, access_mode::read_write>;
template <class T, int Dims, class A, access_mode M>
host_accessor(buffer<T, Dims, A>&, mode_tag_t<M>) -> host_accessor<T, Dims, M>;
template <class T, int Dims, class A>
host_accessor(buffer<T, Dims, A>&, range<Dims>) -> host_accessor<T, Dims, access_mode::read_write>;
template <class T, int Dims, class A, access_mode M>
host_accessor(buffer<T, Dims, A>&, range<Dims>, mode_tag_t<M>) -> host_accessor<T, Dims, M>;

template <class DataT, int Dims = 1>
class local_accessor {
 public:
  using value_type = DataT;
  using reference = DataT&;
  static constexpr int dimensions = Dims;

  local_accessor() = default;
  local_accessor(range<Dims> r, handler& cgh, const property_list& = {})
      : range_(r), slot_(detail::handler_add_local(cgh, r.size() * sizeof(DataT))) {}

  size_t size() const noexcept { return range_.size(); }
  size_t byte_size() const noexcept { return size() * sizeof(DataT); }
  range<Dims> get_range() const { return range_; }
  // Valid inside a host-run nd-range kernel: this work-group's block.
  DataT* get_pointer() const { return static_cast<DataT*>(detail::local_memory(slot_)); }
  template <access::decorated = access::decorated::no>
  DataT* get_multi_ptr() const {
    return get_pointer();
  }
  reference operator[](const id<Dims>& i) const { return get_pointer()[detail::linearize<Dims>(i, range_)]; }
  template <int D = Dims, class = std::enable_if_t<D == 1>>
  reference operator[](size_t i) const {
    return get_pointer()[i];
  }
  template <int D = Dims, class = std::enable_if_t<(D > 1)>>
  decltype(auto) operator[](size_t i) const {
    auto self = *this;
    id<Dims> x;
    x[0] = i;
    return detail::subscript<reference, Dims, Dims - 1>([self](const id<Dims>& y) -> reference { return self[y]; },
                                                        x);
  }

 private:
  range<Dims> range_;
  size_t slot_ = 0;
};

}  // namespace _V1
}  // namespace sycl
