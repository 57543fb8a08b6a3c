// SYCL stand-in: queue, USM, backend interoperability, extensions.
#pragma once

#include <optional>

#include "handler.hpp"

namespace sycl {
inline namespace _V1 {

namespace ext::ulmara::experimental {
// Whether a queue records into a command graph (graph.hpp).
enum class queue_state { executing = 0, recording = 1 };
enum class graph_state { modifiable, executable };
template <graph_state State = graph_state::modifiable>
class command_graph;
}  // namespace ext::ulmara::experimental

namespace detail {
using cgf_thunk = void (*)(void* cgf, handler& cgh);
QEZ_SYCL_EXPORT event queue_submit(const std::shared_ptr<queue_impl>& q, void* cgf, cgf_thunk thunk,
                                   const code_location& loc);
template <class CGF>
void call_cgf(void* cgf, handler& cgh) {
  (*static_cast<CGF*>(cgf))(cgh);
}
}  // namespace detail

class QEZ_SYCL_EXPORT queue {
 public:
  using impl_type = detail::queue_impl;

  explicit queue(const property_list& props = {});
  explicit queue(const async_handler& handler, const property_list& props = {});
  template <class Sel, class = detail::enable_if_selector_t<Sel>>
  explicit queue(const Sel& selector, const property_list& props = {}) : queue(device(selector), props) {}
  template <class Sel, class = detail::enable_if_selector_t<Sel>>
  queue(const Sel& selector, const async_handler& handler, const property_list& props = {})
      : queue(device(selector), handler, props) {}
  explicit queue(const device& dev, const property_list& props = {});
  queue(const device& dev, const async_handler& handler, const property_list& props = {});
  queue(const context& ctx, const device& dev, const property_list& props = {});
  queue(const context& ctx, const device& dev, const async_handler& handler, const property_list& props = {});
  template <class Sel, class = detail::enable_if_selector_t<Sel>>
  queue(const context& ctx, const Sel& selector, const property_list& props = {})
      : queue(ctx, device(selector), props) {}

  queue(const queue&) = default;
  queue(queue&&) = default;
  queue& operator=(const queue&) = default;
  queue& operator=(queue&&) = default;
  ~queue() = default;
  friend bool operator==(const queue& a, const queue& b) { return a.impl_ == b.impl_; }
  friend bool operator!=(const queue& a, const queue& b) { return a.impl_ != b.impl_; }
  bool ext_ulmara_owner_before(const queue& other) const noexcept {
    return std::owner_less<std::shared_ptr<impl_type>>()(impl_, other.impl_);
  }

  backend get_backend() const noexcept;
  context get_context() const;
  device get_device() const;
  bool is_in_order() const;
  template <class P>
  bool has_property() const noexcept {
    return properties().has_property<P>();
  }
  template <class P>
  P get_property() const {
    return properties().get_property<P>();
  }
  template <class Param>
  typename Param::return_type get_info() const {
    using R = typename Param::return_type;
    if constexpr (std::is_same_v<R, context>) return get_context();
    else return get_device();
  }

  template <class CGF>
  event submit(CGF cgf, const detail::code_location& loc = detail::code_location::current()) {
    return detail::queue_submit(impl_, &cgf, &detail::call_cgf<CGF>, loc);
  }
  void wait(const detail::code_location& loc = detail::code_location::current());
  void wait_and_throw(const detail::code_location& loc = detail::code_location::current());
  void throw_asynchronous();

  // Shortcuts.
  event memcpy(void* dst, const void* src, size_t bytes, const std::vector<event>& deps = {},
               const detail::code_location& loc = detail::code_location::current()) {
    return submit([&](handler& h) { h.depends_on(deps), h.memcpy(dst, src, bytes); }, loc);
  }
  event memcpy(void* dst, const void* src, size_t bytes, event dep,
               const detail::code_location& loc = detail::code_location::current()) {
    return memcpy(dst, src, bytes, std::vector<event>{dep}, loc);
  }
  template <class T>
  event copy(const T* src, T* dst, size_t count, const std::vector<event>& deps = {},
             const detail::code_location& loc = detail::code_location::current()) {
    return memcpy(dst, src, count * sizeof(T), deps, loc);
  }
  template <class T>
  event copy(const T* src, T* dst, size_t count, event dep,
             const detail::code_location& loc = detail::code_location::current()) {
    return memcpy(dst, src, count * sizeof(T), std::vector<event>{dep}, loc);
  }
  event memset(void* ptr, int value, size_t bytes, const std::vector<event>& deps = {},
               const detail::code_location& loc = detail::code_location::current()) {
    return submit([&](handler& h) { h.depends_on(deps), h.memset(ptr, value, bytes); }, loc);
  }
  event memset(void* ptr, int value, size_t bytes, event dep,
               const detail::code_location& loc = detail::code_location::current()) {
    return memset(ptr, value, bytes, std::vector<event>{dep}, loc);
  }
  template <class T>
  event fill(void* ptr, const T& pattern, size_t count, const std::vector<event>& deps = {},
             const detail::code_location& loc = detail::code_location::current()) {
    return submit([&](handler& h) { h.depends_on(deps), h.fill(ptr, pattern, count); }, loc);
  }
  template <class T>
  event fill(void* ptr, const T& pattern, size_t count, event dep,
             const detail::code_location& loc = detail::code_location::current()) {
    return fill(ptr, pattern, count, std::vector<event>{dep}, loc);
  }
  template <class KernelName = void, class F>
  event single_task(F&& f, const detail::code_location& loc = detail::code_location::current()) {
    return submit([&](handler& h) { h.single_task<KernelName>(std::forward<F>(f)); }, loc);
  }
  template <class KernelName = void, class F>
  event single_task(const std::vector<event>& deps, F&& f,
                    const detail::code_location& loc = detail::code_location::current()) {
    return submit([&](handler& h) { h.depends_on(deps), h.single_task<KernelName>(std::forward<F>(f)); }, loc);
  }
  template <class KernelName = void, class F>
  event single_task(event dep, F&& f, const detail::code_location& loc = detail::code_location::current()) {
    return single_task<KernelName>(std::vector<event>{dep}, std::forward<F>(f), loc);
  }
  template <class KernelName = void, class R, class F>
  event parallel_for(R r, F&& f, const detail::code_location& loc = detail::code_location::current()) {
    return submit([&](handler& h) { h.parallel_for<KernelName>(r, std::forward<F>(f)); }, loc);
  }
  template <class KernelName = void, class R, class F>
  event parallel_for(R r, const std::vector<event>& deps, F&& f,
                     const detail::code_location& loc = detail::code_location::current()) {
    return submit([&](handler& h) { h.depends_on(deps), h.parallel_for<KernelName>(r, std::forward<F>(f)); }, loc);
  }
  template <class KernelName = void, class R, class F>
  event parallel_for(R r, event dep, F&& f, const detail::code_location& loc = detail::code_location::current()) {
    return parallel_for<KernelName>(r, std::vector<event>{dep}, std::forward<F>(f), loc);
  }

  // A command that completes when the given events have, or with no events
  // when every command submitted to this queue so far has.
  event ext_ulmara_submit_barrier(const detail::code_location& loc = detail::code_location::current());
  event ext_ulmara_submit_barrier(const std::vector<event>& wait_list,
                                  const detail::code_location& loc = detail::code_location::current());
  ext::ulmara::experimental::queue_state ext_ulmara_get_state() const;
  // Commands submitted to this queue that have not completed yet.
  std::size_t ext_ulmara_unfinished_commands() const;
  // The graph this queue records into; errc::invalid when it is executing.
  ext::ulmara::experimental::command_graph<ext::ulmara::experimental::graph_state::modifiable>
  ext_ulmara_get_graph() const;

  explicit queue(std::shared_ptr<impl_type> impl) : impl_(std::move(impl)) {}

 private:
  const property_list& properties() const;
  template <class U>
  friend const std::shared_ptr<typename U::impl_type>& detail::get_impl(const U&);
  std::shared_ptr<impl_type> impl_;
};

// ---- Unified shared memory -------------------------------------------------

QEZ_SYCL_EXPORT void* malloc_device(size_t bytes, const device& dev, const context& ctx, const property_list& = {});
QEZ_SYCL_EXPORT void* malloc_device(size_t bytes, const queue& q, const property_list& = {});
QEZ_SYCL_EXPORT void* malloc_shared(size_t bytes, const device& dev, const context& ctx, const property_list& = {});
QEZ_SYCL_EXPORT void* malloc_shared(size_t bytes, const queue& q, const property_list& = {});
QEZ_SYCL_EXPORT void* malloc_host(size_t bytes, const context& ctx, const property_list& = {});
QEZ_SYCL_EXPORT void* malloc_host(size_t bytes, const queue& q, const property_list& = {});
QEZ_SYCL_EXPORT void* malloc(size_t bytes, const device& dev, const context& ctx, usm::alloc kind,
                             const property_list& = {});
QEZ_SYCL_EXPORT void* malloc(size_t bytes, const queue& q, usm::alloc kind, const property_list& = {});
QEZ_SYCL_EXPORT void* aligned_alloc_device(size_t alignment, size_t bytes, const device& dev, const context& ctx,
                                           const property_list& = {});
QEZ_SYCL_EXPORT void* aligned_alloc_device(size_t alignment, size_t bytes, const queue& q, const property_list& = {});
QEZ_SYCL_EXPORT void* aligned_alloc_shared(size_t alignment, size_t bytes, const device& dev, const context& ctx,
                                           const property_list& = {});
QEZ_SYCL_EXPORT void* aligned_alloc_shared(size_t alignment, size_t bytes, const queue& q, const property_list& = {});
QEZ_SYCL_EXPORT void* aligned_alloc_host(size_t alignment, size_t bytes, const context& ctx, const property_list& = {});
QEZ_SYCL_EXPORT void* aligned_alloc_host(size_t alignment, size_t bytes, const queue& q, const property_list& = {});
QEZ_SYCL_EXPORT void* aligned_alloc(size_t alignment, size_t bytes, const device& dev, const context& ctx,
                                    usm::alloc kind, const property_list& = {});
QEZ_SYCL_EXPORT void* aligned_alloc(size_t alignment, size_t bytes, const queue& q, usm::alloc kind,
                                    const property_list& = {});
QEZ_SYCL_EXPORT void free(void* ptr, const context& ctx);
QEZ_SYCL_EXPORT void free(void* ptr, const queue& q);
QEZ_SYCL_EXPORT usm::alloc get_pointer_type(const void* ptr, const context& ctx);
QEZ_SYCL_EXPORT device get_pointer_device(const void* ptr, const context& ctx);

#define QEZ_USM_TYPED(name)                                                                     \
  template <class T>                                                                            \
  T* name(size_t count, const device& dev, const context& ctx, const property_list& p = {}) {  \
    return static_cast<T*>(name(count * sizeof(T), dev, ctx, p));                               \
  }                                                                                             \
  template <class T>                                                                            \
  T* name(size_t count, const queue& q, const property_list& p = {}) {                          \
    return static_cast<T*>(name(count * sizeof(T), q, p));                                      \
  }
QEZ_USM_TYPED(malloc_device)
QEZ_USM_TYPED(malloc_shared)
#undef QEZ_USM_TYPED
template <class T>
T* malloc_host(size_t count, const context& ctx, const property_list& p = {}) {
  return static_cast<T*>(malloc_host(count * sizeof(T), ctx, p));
}
template <class T>
T* malloc_host(size_t count, const queue& q, const property_list& p = {}) {
  return static_cast<T*>(malloc_host(count * sizeof(T), q, p));
}
template <class T>
T* aligned_alloc_device(size_t alignment, size_t count, const queue& q, const property_list& p = {}) {
  return static_cast<T*>(aligned_alloc_device(alignment, count * sizeof(T), q, p));
}
template <class T>
T* aligned_alloc_shared(size_t alignment, size_t count, const queue& q, const property_list& p = {}) {
  return static_cast<T*>(aligned_alloc_shared(alignment, count * sizeof(T), q, p));
}
template <class T>
T* aligned_alloc_host(size_t alignment, size_t count, const queue& q, const property_list& p = {}) {
  return static_cast<T*>(aligned_alloc_host(alignment, count * sizeof(T), q, p));
}
template <class T>
T* malloc(size_t count, const queue& q, usm::alloc kind, const property_list& p = {}) {
  return static_cast<T*>(malloc(count * sizeof(T), q, kind, p));
}

// ---- Backend interoperability ---------------------------------------------

// The OpenCL backend's native types are the OpenCL handle types (cl_context
// and kin); an event comes out as the list of its OpenCL events and goes in
// as one.
template <backend B, class T>
struct backend_return;
template <backend B, class T>
struct backend_input {
  using type = typename backend_return<B, T>::type;
};
template <>
struct backend_return<backend::opencl, platform> {
  using type = ::_cl_platform_id*;
};
template <>
struct backend_return<backend::opencl, device> {
  using type = ::_cl_device_id*;
};
template <>
struct backend_return<backend::opencl, context> {
  using type = ::_cl_context*;
};
template <>
struct backend_return<backend::opencl, queue> {
  using type = ::_cl_command_queue*;
};
template <>
struct backend_return<backend::opencl, kernel> {
  using type = ::_cl_kernel*;
};
template <>
struct backend_return<backend::opencl, event> {
  using type = std::vector<::_cl_event*>;
};
template <>
struct backend_input<backend::opencl, event> {
  using type = ::_cl_event*;
};
template <backend B, class T>
using backend_return_t = typename backend_return<B, T>::type;
template <backend B, class T>
using backend_input_t = typename backend_input<B, T>::type;

namespace detail {
// OpenCL handles of SYCL objects; the runtime adds a reference (root devices excepted).
QEZ_SYCL_EXPORT native_handle_t native_of(const platform& p, backend b);
QEZ_SYCL_EXPORT native_handle_t native_of(const device& d, backend b);
QEZ_SYCL_EXPORT native_handle_t native_of(const context& c, backend b);
QEZ_SYCL_EXPORT native_handle_t native_of(const queue& q, backend b);
QEZ_SYCL_EXPORT native_handle_t native_of(const kernel& k, backend b);
QEZ_SYCL_EXPORT std::vector<native_handle_t> native_of(const event& e, backend b);

QEZ_SYCL_EXPORT platform make_platform(native_handle_t handle, backend b);
QEZ_SYCL_EXPORT device make_device(native_handle_t handle, backend b);
// keep_ownership true: the SYCL object neither retains nor releases the handle;
// false: it takes over the caller's reference and releases it at the end.
QEZ_SYCL_EXPORT context make_context(native_handle_t handle, const async_handler& handler, backend b,
                                     bool keep_ownership, const std::vector<device>& devices = {});
// handle_type 0: a command queue (the only kind OpenCL has).
QEZ_SYCL_EXPORT queue make_queue(native_handle_t handle, int32_t handle_type, const context& ctx,
                                 const device* dev, bool keep_ownership, const property_list& props,
                                 const async_handler& handler, backend b);
QEZ_SYCL_EXPORT kernel make_kernel(native_handle_t handle, const context& ctx, backend b, bool keep_ownership);
QEZ_SYCL_EXPORT event make_event(native_handle_t handle, const context& ctx, backend b, bool keep_ownership);
enum class native_kind { platform, device, context, queue, kernel, event };
// Adds one reference to an OpenCL handle.
QEZ_SYCL_EXPORT void native_retain(native_handle_t handle, native_kind kind, backend b);
}  // namespace detail

template <backend B, class T>
backend_return_t<B, T> get_native(const T& obj) {
  if constexpr (std::is_same_v<T, event>) {
    backend_return_t<B, T> r;
    for (auto h : detail::native_of(obj, B)) r.push_back(reinterpret_cast<typename backend_return_t<B, T>::value_type>(h));
    return r;
  } else {
    return reinterpret_cast<backend_return_t<B, T>>(detail::native_of(obj, B));
  }
}
// The make_* functions of the OpenCL backend retain the handle they are given.
template <backend B>
platform make_platform(backend_input_t<B, platform> h) {
  return detail::make_platform(reinterpret_cast<detail::native_handle_t>(h), B);
}
template <backend B>
device make_device(backend_input_t<B, device> h) {
  return detail::make_device(reinterpret_cast<detail::native_handle_t>(h), B);
}
template <backend B>
context make_context(backend_input_t<B, context> h, const async_handler& handler = {}) {
  const auto n = reinterpret_cast<detail::native_handle_t>(h);
  detail::native_retain(n, detail::native_kind::context, B);
  return detail::make_context(n, handler, B, /*keep_ownership=*/false);
}
template <backend B>
queue make_queue(backend_input_t<B, queue> h, const context& ctx, const async_handler& handler = {}) {
  const auto n = reinterpret_cast<detail::native_handle_t>(h);
  detail::native_retain(n, detail::native_kind::queue, B);
  return detail::make_queue(n, 0, ctx, nullptr, /*keep_ownership=*/false, property_list{}, handler, B);
}
namespace ext::ulmara::nivolo {
// Whether the runtime destroys a driver handle it is given (transfer) or
// leaves it to the caller (keep).
enum class ownership { transfer = 0, keep = 1 };
}  // namespace ext::ulmara::nivolo
namespace detail {
QEZ_SYCL_EXPORT kernel make_nivolo_kernel(const std::shared_ptr<kernel_bundle_impl>& bundle, native_handle_t kernel,
                                          bool transfer, const context& ctx);
}  // namespace detail
// A Nivolo kernel comes with the bundle of its module (detail/nivolo.hpp).
template <backend B>
kernel make_kernel(const backend_input_t<B, kernel>& h, const context& ctx) {
  if constexpr (B == backend::ext_ulmara_nivolo) {
    return detail::make_nivolo_kernel(detail::get_impl(h.bundle), reinterpret_cast<detail::native_handle_t>(h.kernel),
                                      h.owner == ext::ulmara::nivolo::ownership::transfer, ctx);
  } else {
    const auto n = reinterpret_cast<detail::native_handle_t>(h);
    detail::native_retain(n, detail::native_kind::kernel, B);
    return detail::make_kernel(n, ctx, B, /*keep_ownership=*/false);
  }
}
template <backend B>
event make_event(backend_input_t<B, event> h, const context& ctx) {
  const auto n = reinterpret_cast<detail::native_handle_t>(h);
  detail::native_retain(n, detail::native_kind::event, B);
  return detail::make_event(n, ctx, B, /*keep_ownership=*/false);
}

// ---- Weak references -------------------------------------------------------

namespace ext::ulmara {
// A reference that does not keep the SYCL object alive; owner-ordered like std::weak_ptr.
template <class T>
class weak_object {
 public:
  weak_object() noexcept = default;
  weak_object(const T& obj) noexcept : w_(detail::get_impl(obj)) {}
  weak_object& operator=(const T& obj) noexcept {
    w_ = detail::get_impl(obj);
    return *this;
  }
  void reset() noexcept { w_.reset(); }
  bool expired() const noexcept { return w_.expired(); }
  std::optional<T> try_lock() const noexcept {
    auto p = w_.lock();
    if (!p) return std::nullopt;
    return T(std::move(p));
  }
  T lock() const {
    auto p = w_.lock();
    if (!p) throw sycl::exception(make_error_code(errc::invalid), "the referenced SYCL object no longer exists");
    return T(std::move(p));
  }
  bool owner_before(const weak_object& other) const noexcept { return w_.owner_before(other.w_); }
  bool owner_before(const T& other) const noexcept { return w_.owner_before(detail::get_impl(other)); }

 private:
  std::weak_ptr<typename T::impl_type> w_;
};
}  // namespace ext::ulmara

}  // namespace _V1
}  // namespace sycl

template <>
struct std::hash<sycl::queue> {
  size_t operator()(const sycl::queue& v) const noexcept {
    return std::hash<const void*>()(sycl::detail::get_impl(v).get());
  }
};
