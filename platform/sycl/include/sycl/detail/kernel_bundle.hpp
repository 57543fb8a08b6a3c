// SYCL stand-in: kernel identifiers, kernel bundles, specialization constants
// and the kernel_handler through which a kernel reads them.
//
// Kernels here are C++ function objects that run on the host, so a "device
// image" is simply the set of kernel names a bundle was asked for: a
// kernel_id exists for every kernel name get_kernel_id was asked about.
// Specialization constant values live in the bundle, keyed by the address of
// their specialization_id; build() snapshots them into the executable
// bundle, and a command group that uses that bundle hands them to its kernel
// through kernel_handler.
#pragma once

#include <cstring>
#include <typeinfo>

#include "objects.hpp"

namespace sycl {
inline namespace _V1 {

// ext_ulmara_source: source text for the runtime's kernel compiler (kernel_compiler.hpp).
enum class bundle_state : int { input = 0, object = 1, executable = 2, ext_ulmara_source = 3 };

namespace detail {
class kernel_id_impl;
class kernel_bundle_impl;

// Values of the specialization constants a bundle was given.
struct spec_constant_values {
  std::vector<std::pair<const void*, std::vector<char>>> entries;
  const void* find(const void* key) const {
    for (const auto& e : entries)
      if (e.first == key) return e.second.data();
    return nullptr;
  }
};

QEZ_SYCL_EXPORT std::shared_ptr<kernel_id_impl> kernel_id_for(const std::string& name);
QEZ_SYCL_EXPORT const char* kernel_id_name(const kernel_id_impl& id);
// The name SYCL gives a kernel whose name type is K (the type-information
// symbol of K); K may be incomplete, as kernel names often are.
template <class K>
std::string kernel_name_of() {
  return std::string("_ZTS") + (typeid(K*).name() + 1);  // "P<type>" without the pointer mark
}

// The values the host-run kernel running on this thread was launched with
// (null outside such a kernel or without a bundle).
QEZ_SYCL_EXPORT const spec_constant_values* current_specialization_constants();
// Sets them for the calling thread while it lives.
class QEZ_SYCL_EXPORT specialization_scope {
 public:
  explicit specialization_scope(const spec_constant_values* values);
  ~specialization_scope();
  specialization_scope(const specialization_scope&) = delete;
  specialization_scope& operator=(const specialization_scope&) = delete;

 private:
  const spec_constant_values* outer_;
};

template <class T>
struct spec_id_access;
}  // namespace detail

// A constant whose value a kernel bundle fixes before it is built.
template <class T>
class specialization_id {
  static_assert(std::is_trivially_copyable_v<T>, "specialization constants must be trivially copyable");

 public:
  using value_type = T;
  template <class... Args>
  explicit constexpr specialization_id(Args&&... args) : default_value_(std::forward<Args>(args)...) {}
  specialization_id(const specialization_id&) = delete;
  specialization_id(specialization_id&&) = delete;
  specialization_id& operator=(const specialization_id&) = delete;
  specialization_id& operator=(specialization_id&&) = delete;

 private:
  template <class U>
  friend struct detail::spec_id_access;
  T default_value_;
};

namespace detail {
template <class T>
struct spec_id_access {
  static const T& default_value(const specialization_id<T>& s) { return s.default_value_; }
};
template <auto& S>
using spec_value_t = typename std::remove_reference_t<decltype(S)>::value_type;

// The value of S in `values`, or its default.
template <auto& S>
spec_value_t<S> spec_value_in(const spec_constant_values* values) {
  using T = spec_value_t<S>;
  if (values)
    if (const void* bytes = values->find(&S)) {
      T v;
      std::memcpy(static_cast<void*>(&v), bytes, sizeof(T));
      return v;
    }
  return spec_id_access<T>::default_value(S);
}
}  // namespace detail

// Handed to kernels that ask for it: the specialization constants of the
// bundle the command group used.
class kernel_handler {
 public:
  kernel_handler() = default;
  explicit kernel_handler(const detail::spec_constant_values* values) : values_(values) {}
  template <auto& S>
  detail::spec_value_t<S> get_specialization_constant() const {
    return detail::spec_value_in<S>(values_);
  }

 private:
  const detail::spec_constant_values* values_ = nullptr;
};

class QEZ_SYCL_EXPORT kernel_id {
 public:
  using impl_type = detail::kernel_id_impl;
  kernel_id() = delete;
  const char* get_name() const noexcept { return detail::kernel_id_name(*impl_); }
  friend bool operator==(const kernel_id& a, const kernel_id& b) { return a.impl_ == b.impl_; }
  friend bool operator!=(const kernel_id& a, const kernel_id& b) { return a.impl_ != b.impl_; }
  explicit kernel_id(std::shared_ptr<impl_type> impl) : impl_(std::move(impl)) {}

 private:
  template <class U>
  friend const std::shared_ptr<typename U::impl_type>& detail::get_impl(const U&);
  std::shared_ptr<impl_type> impl_;
};

template <class KernelName>
kernel_id get_kernel_id() {
  return kernel_id(detail::kernel_id_for(detail::kernel_name_of<KernelName>()));
}

namespace detail {
// Bundle machinery (kernel_bundle.cpp).
QEZ_SYCL_EXPORT std::shared_ptr<kernel_bundle_impl> bundle_create(const context& ctx, const std::vector<device>& devs,
                                                                   const std::vector<kernel_id>& ids,
                                                                   bundle_state state);
QEZ_SYCL_EXPORT std::shared_ptr<kernel_bundle_impl> bundle_build(const kernel_bundle_impl& input,
                                                                  const std::vector<device>& devs);
QEZ_SYCL_EXPORT bundle_state bundle_get_state(const kernel_bundle_impl& b);
QEZ_SYCL_EXPORT context bundle_context(const kernel_bundle_impl& b);
QEZ_SYCL_EXPORT std::vector<device> bundle_devices(const kernel_bundle_impl& b);
QEZ_SYCL_EXPORT std::vector<kernel_id> bundle_kernel_ids(const kernel_bundle_impl& b);
QEZ_SYCL_EXPORT bool bundle_has_kernel(const kernel_bundle_impl& b, const kernel_id& id);
QEZ_SYCL_EXPORT void bundle_set_value(kernel_bundle_impl& b, const void* key, const void* bytes, size_t size);
QEZ_SYCL_EXPORT const spec_constant_values& bundle_values(const kernel_bundle_impl& b);
QEZ_SYCL_EXPORT std::shared_ptr<const spec_constant_values> bundle_values_snapshot(const kernel_bundle_impl& b);
// A command group on `cgh`'s queue uses bundle `b` (context and device checked).
QEZ_SYCL_EXPORT void handler_check_bundle(handler_impl& cgh, const kernel_bundle_impl& b);
// Throws errc::kernel_not_supported unless the bundle holds the kernel.
QEZ_SYCL_EXPORT void bundle_require_kernel(const kernel_bundle_impl& b, const std::string& name);
}  // namespace detail

template <bundle_state State>
class kernel_bundle {
 public:
  using impl_type = detail::kernel_bundle_impl;
  kernel_bundle() = delete;
  kernel_bundle(const kernel_bundle&) = default;
  kernel_bundle(kernel_bundle&&) = default;
  kernel_bundle& operator=(const kernel_bundle&) = default;
  kernel_bundle& operator=(kernel_bundle&&) = default;
  ~kernel_bundle() = default;
  friend bool operator==(const kernel_bundle& a, const kernel_bundle& b) { return a.impl_ == b.impl_; }
  friend bool operator!=(const kernel_bundle& a, const kernel_bundle& b) { return a.impl_ != b.impl_; }

  bool empty() const noexcept { return get_kernel_ids().empty(); }
  backend get_backend() const noexcept { return get_context().get_backend(); }
  context get_context() const noexcept { return detail::bundle_context(*impl_); }
  std::vector<device> get_devices() const noexcept { return detail::bundle_devices(*impl_); }
  bool has_kernel(const kernel_id& id) const noexcept { return detail::bundle_has_kernel(*impl_, id); }
  template <class KernelName>
  bool has_kernel() const noexcept {
    return has_kernel(get_kernel_id<KernelName>());
  }
  std::vector<kernel_id> get_kernel_ids() const { return detail::bundle_kernel_ids(*impl_); }

  template <auto& S, bundle_state St = State, class = std::enable_if_t<St == bundle_state::input>>
  void set_specialization_constant(detail::spec_value_t<S> value) {
    detail::bundle_set_value(*impl_, &S, &value, sizeof value);
  }
  template <auto& S>
  detail::spec_value_t<S> get_specialization_constant() const {
    return detail::spec_value_in<S>(&detail::bundle_values(*impl_));
  }

  explicit kernel_bundle(std::shared_ptr<impl_type> impl) : impl_(std::move(impl)) {}

 private:
  template <class U>
  friend const std::shared_ptr<typename U::impl_type>& detail::get_impl(const U&);
  std::shared_ptr<impl_type> impl_;
};

// The bundle of the given kernels on `devs` (devices of `ctx`).
template <bundle_state State>
kernel_bundle<State> get_kernel_bundle(const context& ctx, const std::vector<device>& devs,
                                       const std::vector<kernel_id>& ids) {
  static_assert(State != bundle_state::object, "object bundles are not supported here");
  return kernel_bundle<State>(detail::bundle_create(ctx, devs, ids, State));
}
template <bundle_state State>
kernel_bundle<State> get_kernel_bundle(const context& ctx, const std::vector<kernel_id>& ids) {
  return get_kernel_bundle<State>(ctx, ctx.get_devices(), ids);
}

inline kernel_bundle<bundle_state::executable> build(const kernel_bundle<bundle_state::input>& input,
                                                      const std::vector<device>& devs,
                                                      const property_list& = {}) {
  return kernel_bundle<bundle_state::executable>(detail::bundle_build(*detail::get_impl(input), devs));
}
inline kernel_bundle<bundle_state::executable> build(const kernel_bundle<bundle_state::input>& input,
                                                      const property_list& props = {}) {
  return build(input, input.get_devices(), props);
}

}  // namespace _V1
}  // namespace sycl
