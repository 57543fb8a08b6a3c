// SYCL stand-in: interoperability with the Nivolo backend. Its native types
// are the Nivolo driver's handles; a kernel bundle in executable state comes
// out as the modules of its device images and is made from one module; a
// kernel is made from a driver kernel of a module of such a bundle.
#pragma once

#include "queue.hpp"

// The driver's handle types (pointers to its incomplete object types).
struct qx_device_object;
struct qx_context_object;
struct qx_command_queue_object;
struct qx_module_object;
struct qx_kernel_object;

namespace sycl {
inline namespace _V1 {

namespace ext::ulmara::nivolo {
struct module_input {
  ::qx_module_object* module;
  ownership owner = ownership::transfer;
};
struct kernel_input {
  kernel_bundle<bundle_state::executable> bundle;
  ::qx_kernel_object* kernel;
  ownership owner = ownership::transfer;
};
// The kind of driver handle a Nivolo queue submits to: a command queue (every
// queue the runtime makes itself) or an immediate command list, as the handle
// kind given to detail::make_queue (0 or 1) says.
enum class queue_handle_kind : int32_t { command_queue = 0, immediate_command_list = 1 };
// errc::backend_mismatch "Backends mismatch" for a queue of another backend.
QEZ_SYCL_EXPORT queue_handle_kind get_queue_handle_kind(const queue& q);
}  // namespace ext::ulmara::nivolo

template <>
struct backend_return<backend::ext_ulmara_nivolo, device> {
  using type = ::qx_device_object*;
};
template <>
struct backend_return<backend::ext_ulmara_nivolo, context> {
  using type = ::qx_context_object*;
};
template <>
struct backend_return<backend::ext_ulmara_nivolo, queue> {
  using type = ::qx_command_queue_object*;
};
template <>
struct backend_return<backend::ext_ulmara_nivolo, kernel> {
  using type = ::qx_kernel_object*;
};
template <>
struct backend_input<backend::ext_ulmara_nivolo, kernel> {
  using type = ext::ulmara::nivolo::kernel_input;
};
template <>
struct backend_return<backend::ext_ulmara_nivolo, kernel_bundle<bundle_state::executable>> {
  using type = std::vector<::qx_module_object*>;
};
template <>
struct backend_input<backend::ext_ulmara_nivolo, kernel_bundle<bundle_state::executable>> {
  using type = ext::ulmara::nivolo::module_input;
};

namespace detail {
// Module handles of the bundle's device images, in order; errc::backend_mismatch off Nivolo.
QEZ_SYCL_EXPORT std::vector<native_handle_t> bundle_native_modules(const kernel_bundle_impl& b, backend which);
QEZ_SYCL_EXPORT std::shared_ptr<kernel_bundle_impl> bundle_from_nivolo_module(native_handle_t module, bool transfer,
                                                                              const context& ctx);
}  // namespace detail

template <backend B, bundle_state S>
backend_return_t<B, kernel_bundle<S>> get_native(const kernel_bundle<S>& bundle) {
  backend_return_t<B, kernel_bundle<S>> r;
  for (detail::native_handle_t m : detail::bundle_native_modules(*detail::get_impl(bundle), B))
    r.push_back(reinterpret_cast<typename backend_return_t<B, kernel_bundle<S>>::value_type>(m));
  return r;
}

template <backend B, bundle_state S>
kernel_bundle<S> make_kernel_bundle(const backend_input_t<B, kernel_bundle<S>>& input, const context& ctx) {
  static_assert(B == backend::ext_ulmara_nivolo && S == bundle_state::executable,
                "kernel bundles are made from native objects of the Nivolo backend only, in executable state");
  return kernel_bundle<S>(detail::bundle_from_nivolo_module(reinterpret_cast<detail::native_handle_t>(input.module),
                                                            input.owner == ext::ulmara::nivolo::ownership::transfer,
                                                            ctx));
}

}  // namespace _V1
}  // namespace sycl
