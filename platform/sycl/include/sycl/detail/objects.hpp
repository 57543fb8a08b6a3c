// SYCL stand-in: platform, device, context, event, kernel.
#pragma once

#include "info.hpp"
#include "property.hpp"

namespace sycl {
inline namespace _V1 {

namespace detail {
// Information queries, instantiated in the library for each return type.
template <class T>
QEZ_SYCL_EXPORT void get_platform_info(const platform_impl&, info_id, T*);
template <class T>
QEZ_SYCL_EXPORT void get_device_info(const device_impl&, info_id, T*);
template <class T>
QEZ_SYCL_EXPORT void get_kernel_info(const kernel_impl&, info_id, T*);

template <class T>
void read_info(const device_impl& impl, info_id id, T* out) { get_device_info(impl, id, out); }
template <class T>
void read_info(const kernel_impl& impl, info_id id, T* out) { get_kernel_info(impl, id, out); }

// A handle's answer to the query Param: `owner()` where Param asks for the
// handle of type Owner it belongs to (a device's platform, a kernel's
// context), else the value the library reads for Param::id.
template <class Param, class Owner, class Impl, class OwnerAnswer>
typename Param::return_type query_info(const Impl& impl, OwnerAnswer owner) {
  using R = typename Param::return_type;
  if constexpr (std::is_same_v<R, Owner>) {
    return owner();
  } else {
    R r{};
    read_info(impl, Param::id, &r);
    return r;
  }
}
}  // namespace detail

// Common handle behaviour: reference semantics, equality and hashing by
// identity, and the owner ordering weak references need.
#define QEZ_SYCL_HANDLE(T, Impl)                                                        \
 public:                                                                                \
  using impl_type = detail::Impl;                                                       \
  T(const T&) = default;                                                                \
  T(T&&) = default;                                                                     \
  T& operator=(const T&) = default;                                                     \
  T& operator=(T&&) = default;                                                          \
  ~T() = default;                                                                       \
  friend bool operator==(const T& a, const T& b) { return a.impl_ == b.impl_; }         \
  friend bool operator!=(const T& a, const T& b) { return a.impl_ != b.impl_; }         \
  bool ext_ulmara_owner_before(const T& other) const noexcept {                         \
    return std::owner_less<std::shared_ptr<impl_type>>()(impl_, other.impl_);           \
  }                                                                                     \
  explicit T(std::shared_ptr<impl_type> impl) : impl_(std::move(impl)) {}               \
                                                                                        \
 private:                                                                               \
  std::shared_ptr<impl_type> impl_;                                                     \
  template <class U>                                                                    \
  friend const std::shared_ptr<typename U::impl_type>& detail::get_impl(const U&);      \
                                                                                        \
 public:

namespace ext::ulmara::experimental {
enum class source_language : int;  // kernel_compiler.hpp
}  // namespace ext::ulmara::experimental

QEZ_SYCL_EXPORT int default_selector_v(const device& dev);
QEZ_SYCL_EXPORT int gpu_selector_v(const device& dev);
QEZ_SYCL_EXPORT int cpu_selector_v(const device& dev);
QEZ_SYCL_EXPORT int accelerator_selector_v(const device& dev);

namespace detail {
QEZ_SYCL_EXPORT device select_device(const std::function<int(const device&)>& selector);
template <class Sel>
using enable_if_selector_t = std::enable_if_t<std::is_invocable_r_v<int, const Sel&, const device&>>;
}  // namespace detail

class QEZ_SYCL_EXPORT platform {
  QEZ_SYCL_HANDLE(platform, platform_impl)
  platform();
  template <class Sel, class = detail::enable_if_selector_t<Sel>>
  explicit platform(const Sel& selector);

  backend get_backend() const noexcept;
  std::vector<device> get_devices(info::device_type type = info::device_type::all) const;
  bool has(aspect a) const;
  template <class Param>
  typename Param::return_type get_info() const {
    typename Param::return_type r{};
    detail::get_platform_info(*impl_, Param::id, &r);
    return r;
  }
  static std::vector<platform> get_platforms();
  // The context that queues made from a device of this platform share.
  context ext_ulmara_get_default_context() const;
};

class QEZ_SYCL_EXPORT device {
  QEZ_SYCL_HANDLE(device, device_impl)
  device();
  template <class Sel, class = detail::enable_if_selector_t<Sel>>
  explicit device(const Sel& selector) : device(detail::select_device(selector)) {}

  bool is_cpu() const;
  bool is_gpu() const;
  bool is_accelerator() const;
  platform get_platform() const;
  backend get_backend() const noexcept;
  bool has(aspect a) const;
  // Whether the runtime's kernel compiler takes source of `lang` for this
  // device (kernel_compiler.hpp).
  bool ext_ulmara_can_compile(ext::ulmara::experimental::source_language lang) const;
  template <class Param>
  typename Param::return_type get_info() const {
    return detail::query_info<Param, platform>(*impl_, [this] { return get_platform(); });
  }
  static std::vector<device> get_devices(info::device_type type = info::device_type::all);
  // Devices that can be partitioned are split by affinity domain only: one
  // sub-device per tile (errc::feature_not_supported otherwise).
  template <info::partition_property Prop>
  std::vector<device> create_sub_devices(info::partition_affinity_domain domain) const {
    static_assert(Prop == info::partition_property::partition_by_affinity_domain,
                  "devices are partitioned by affinity domain only");
    return sub_devices_by_affinity(domain);
  }

 private:
  std::vector<device> sub_devices_by_affinity(info::partition_affinity_domain domain) const;

 public:
};

template <class Sel, class>
platform::platform(const Sel& selector) : platform(device(selector).get_platform()) {}

class QEZ_SYCL_EXPORT context {
  QEZ_SYCL_HANDLE(context, context_impl)
  explicit context(const property_list& props = {});
  explicit context(const async_handler& handler, const property_list& props = {});
  explicit context(const device& dev, const property_list& props = {});
  context(const device& dev, const async_handler& handler, const property_list& props = {});
  explicit context(const platform& plt, const property_list& props = {});
  context(const platform& plt, const async_handler& handler, const property_list& props = {});
  explicit context(const std::vector<device>& devs, const property_list& props = {});
  context(const std::vector<device>& devs, const async_handler& handler, const property_list& props = {});

  backend get_backend() const noexcept;
  platform get_platform() const;
  std::vector<device> get_devices() const;
  template <class Param>
  typename Param::return_type get_info() const {
    using R = typename Param::return_type;
    if constexpr (std::is_same_v<R, platform>) {
      return get_platform();
    } else {
      return get_devices();
    }
  }
};

class QEZ_SYCL_EXPORT event {
  QEZ_SYCL_HANDLE(event, event_impl)
  // An event that is already complete.
  event();

  backend get_backend() const noexcept;
  void wait();
  void wait_and_throw();
  static void wait(const std::vector<event>& events);
  static void wait_and_throw(const std::vector<event>& events);
  template <class Param>
  typename Param::return_type get_info() const {
    return static_cast<typename Param::return_type>(info_value(Param::id));
  }
  // Throws errc::invalid unless the submitting queue has enable_profiling.
  template <class Param>
  typename Param::return_type get_profiling_info() const {
    return profiling_value(Param::id);
  }
  // Where the command group of this event was submitted.
  detail::code_location ext_ulmara_code_location() const;

 private:
  int info_value(detail::info_id id) const;
  uint64_t profiling_value(detail::info_id id) const;
};

class QEZ_SYCL_EXPORT kernel {
  QEZ_SYCL_HANDLE(kernel, kernel_impl)
  backend get_backend() const noexcept;
  context get_context() const;
  template <class Param>
  typename Param::return_type get_info() const {
    return detail::query_info<Param, context>(*impl_, [this] { return get_context(); });
  }
};

#undef QEZ_SYCL_HANDLE

}  // namespace _V1
}  // namespace sycl

#define QEZ_SYCL_HASH(T)                                                \
  template <>                                                           \
  struct std::hash<sycl::T> {                                           \
    size_t operator()(const sycl::T& v) const noexcept {                \
      return std::hash<const void*>()(sycl::detail::get_impl(v).get()); \
    }                                                                   \
  };
QEZ_SYCL_HASH(platform)
QEZ_SYCL_HASH(device)
QEZ_SYCL_HASH(context)
QEZ_SYCL_HASH(event)
QEZ_SYCL_HASH(kernel)
