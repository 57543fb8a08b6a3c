// SYCL stand-in: handler (command groups), interop_handle, kernel_handler.
#pragma once

#include <algorithm>

#include "buffer.hpp"
#include "kernel_bundle.hpp"

namespace sycl {
inline namespace _V1 {

namespace detail {
// A host-run kernel: a copy of the caller's function object and thunks that
// run it over a range of linear indices or for one nd-range work-item.
struct host_kernel {
  std::shared_ptr<void> functor;
  int dims = 1;
  bool nd = false;
  size_t global[3] = {1, 1, 1};  // SYCL order: entry dims-1 varies fastest
  size_t local[3] = {1, 1, 1};
  size_t offset[3] = {0, 0, 0};
  void (*run_range)(const void* f, const size_t* range, const size_t* offset, size_t begin, size_t end) = nullptr;
  void (*run_item)(const void* f, const nd_item_state& s) = nullptr;
  // Specialization constants of the bundle the command group used.
  std::shared_ptr<const spec_constant_values> spec_constants;
};

template <class F, class... A>
void call_kernel(const F& f, A&&... a) {
  if constexpr (std::is_invocable_v<const F&, A..., kernel_handler>)
    f(std::forward<A>(a)..., kernel_handler(current_specialization_constants()));
  else f(std::forward<A>(a)...);
}

template <int Dims, class F>
void run_range_thunk(const void* fp, const size_t* r, const size_t* o, size_t begin, size_t end) {
  const F& f = *static_cast<const F*>(fp);
  range<Dims> rg;
  id<Dims> off;
  for (int d = 0; d < Dims; ++d) {
    rg[d] = r[d];
    off[d] = o[d];
  }
  for (size_t lin = begin; lin < end; ++lin) {
    id<Dims> idx = delinearize<Dims>(lin, rg) + off;
    if constexpr (std::is_invocable_v<const F&, item<Dims>> || std::is_invocable_v<const F&, item<Dims>, kernel_handler>)
      call_kernel(f, item<Dims>(idx, rg, off));
    else
      call_kernel(f, idx);
  }
}
template <class F>
void run_single_thunk(const void* fp, const size_t*, const size_t*, size_t, size_t) {
  call_kernel(*static_cast<const F*>(fp));
}
template <int Dims, class F>
void run_item_thunk(const void* fp, const nd_item_state& s) {
  call_kernel(*static_cast<const F*>(fp), nd_item<Dims>(s));
}

template <class T>
struct is_buffer_accessor : std::false_type {};
template <class T, int D, access_mode M, target Tg, access::placeholder P>
struct is_buffer_accessor<accessor<T, D, M, Tg, P>> : std::true_type {};
template <class T>
struct is_local_accessor : std::false_type {};
template <class T, int D>
struct is_local_accessor<local_accessor<T, D>> : std::true_type {};

// Command-group recording (queue.cpp).
QEZ_SYCL_EXPORT void handler_depends_on(handler_impl& h, const event& e);
QEZ_SYCL_EXPORT void handler_host_task(handler_impl& h, std::function<void(interop_handle&)> task);
QEZ_SYCL_EXPORT void handler_host_kernel(handler_impl& h, host_kernel k);
QEZ_SYCL_EXPORT void handler_cl_kernel(handler_impl& h, const kernel& k, int dims, const size_t* global,
                                       const size_t* local, const size_t* offset);
QEZ_SYCL_EXPORT void handler_arg_bytes(handler_impl& h, int index, const void* data, size_t size);
QEZ_SYCL_EXPORT void handler_arg_pointer(handler_impl& h, int index, const void* ptr);
QEZ_SYCL_EXPORT void handler_arg_local(handler_impl& h, int index, size_t bytes);
QEZ_SYCL_EXPORT void handler_memcpy(handler_impl& h, void* dst, const void* src, size_t bytes);
QEZ_SYCL_EXPORT void handler_fill(handler_impl& h, void* dst, const void* pattern, size_t pattern_size,
                                  size_t count);
QEZ_SYCL_EXPORT void handler_barrier(handler_impl& h);
QEZ_SYCL_EXPORT size_t device_max_work_group_size(handler_impl& h);
}  // namespace detail

class QEZ_SYCL_EXPORT interop_handle {
 public:
  backend get_backend() const noexcept;
  // Native objects of the queue the host task was submitted to (OpenCL: cl_command_queue,
  // cl_device_id, cl_context; no reference is added).
  template <backend B>
  auto get_native_queue() const {
    static_assert(B == backend::opencl, "only the OpenCL backend has native queues here");
    return reinterpret_cast<::_cl_command_queue*>(native(0));
  }
  template <backend B>
  auto get_native_device() const {
    static_assert(B == backend::opencl, "only the OpenCL backend has native devices here");
    return reinterpret_cast<::_cl_device_id*>(native(1));
  }
  template <backend B>
  auto get_native_context() const {
    static_assert(B == backend::opencl, "only the OpenCL backend has native contexts here");
    return reinterpret_cast<::_cl_context*>(native(2));
  }
  explicit interop_handle(std::shared_ptr<detail::queue_impl> q) : queue_(std::move(q)) {}

 private:
  detail::native_handle_t native(int which) const;
  std::shared_ptr<detail::queue_impl> queue_;
};

class QEZ_SYCL_EXPORT handler {
  template <class F>
  using not_kernel_t = std::enable_if_t<!std::is_same_v<std::decay_t<F>, kernel>>;

 public:
  handler(const handler&) = delete;
  handler& operator=(const handler&) = delete;

  void depends_on(event e) { detail::handler_depends_on(*impl_, e); }
  void depends_on(const std::vector<event>& events) {
    for (const event& e : events) detail::handler_depends_on(*impl_, e);
  }
  template <class T, int D, access_mode M, target Tg, access::placeholder P>
  void require(accessor<T, D, M, Tg, P>& acc) {
    acc.ext_ulmara_bind(*this);
  }

  // Kernels submitted after this come from `bundle` and read its
  // specialization constants.
  void use_kernel_bundle(const kernel_bundle<bundle_state::executable>& bundle) {
    detail::handler_check_bundle(*impl_, *detail::get_impl(bundle));
    bundle_ = detail::get_impl(bundle);
  }

  // Host tasks: F() or F(interop_handle).
  template <class F>
  void host_task(F&& f) {
    using Fn = std::decay_t<F>;
    if constexpr (std::is_invocable_v<Fn&, interop_handle>)
      detail::handler_host_task(*impl_, [fn = Fn(std::forward<F>(f))](interop_handle& ih) mutable { fn(ih); });
    else
      detail::handler_host_task(*impl_, [fn = Fn(std::forward<F>(f))](interop_handle&) mutable { fn(); });
  }

  // Kernels written as C++ function objects run on the host.
  template <class KernelName = void, class F, class = not_kernel_t<F>>
  void single_task(F&& f) {
    detail::host_kernel k = make_kernel_record<1, KernelName>(std::forward<F>(f));
    k.run_range = &detail::run_single_thunk<std::decay_t<F>>;
    detail::handler_host_kernel(*impl_, std::move(k));
  }
  template <class KernelName = void, int Dims, class F, class = not_kernel_t<F>>
  void parallel_for(range<Dims> r, F&& f) {
    parallel_for<KernelName>(r, id<Dims>(), std::forward<F>(f));
  }
  template <class KernelName = void, int Dims, class F, class = not_kernel_t<F>>
  void parallel_for(range<Dims> r, id<Dims> offset, F&& f) {
    detail::host_kernel k = make_kernel_record<Dims, KernelName>(std::forward<F>(f));
    for (int d = 0; d < Dims; ++d) {
      k.global[d] = r[d];
      k.offset[d] = offset[d];
    }
    k.run_range = &detail::run_range_thunk<Dims, std::decay_t<F>>;
    detail::handler_host_kernel(*impl_, std::move(k));
  }
  template <class KernelName = void, class F, class = not_kernel_t<F>>
  void parallel_for(size_t n, F&& f) {
    parallel_for<KernelName>(range<1>(n), std::forward<F>(f));
  }
  template <class KernelName = void, int Dims, class F, class = not_kernel_t<F>>
  void parallel_for(nd_range<Dims> r, F&& f) {
    detail::host_kernel k = make_kernel_record<Dims, KernelName>(std::forward<F>(f));
    k.nd = true;
    for (int d = 0; d < Dims; ++d) {
      k.global[d] = r.get_global_range()[d];
      k.local[d] = r.get_local_range()[d];
      k.offset[d] = r.get_offset()[d];
    }
    k.run_item = &detail::run_item_thunk<Dims, std::decay_t<F>>;
    detail::handler_host_kernel(*impl_, std::move(k));
  }

  // OpenCL kernels made through interop; arguments set with set_arg.
  void single_task(const kernel& k) {
    const size_t one = 1;
    detail::handler_cl_kernel(*impl_, k, 1, &one, &one, nullptr);
  }
  template <int Dims>
  void parallel_for(range<Dims> r, const kernel& k) {
    size_t g[3];
    for (int d = 0; d < Dims; ++d) g[d] = r[d];
    detail::handler_cl_kernel(*impl_, k, Dims, g, nullptr, nullptr);
  }
  template <int Dims>
  void parallel_for(nd_range<Dims> r, const kernel& k) {
    size_t g[3], l[3], o[3];
    for (int d = 0; d < Dims; ++d) {
      g[d] = r.get_global_range()[d];
      l[d] = r.get_local_range()[d];
      o[d] = r.get_offset()[d];
    }
    detail::handler_cl_kernel(*impl_, k, Dims, g, l, o);
  }

  template <class T>
  void set_arg(int index, T&& arg) {
    using A = std::decay_t<T>;
    if constexpr (detail::is_buffer_accessor<A>::value) {
      if (arg.is_placeholder()) {
        A copy = arg;
        require(copy);
        detail::handler_arg_pointer(*impl_, index, copy.get_pointer());
      } else {
        detail::handler_arg_pointer(*impl_, index, arg.get_pointer());
      }
    } else if constexpr (detail::is_local_accessor<A>::value) {
      detail::handler_arg_local(*impl_, index, arg.byte_size());
    } else if constexpr (std::is_pointer_v<A> || std::is_null_pointer_v<A>) {
      detail::handler_arg_pointer(*impl_, index, static_cast<const void*>(arg));
    } else {
      static_assert(std::is_trivially_copyable_v<A>, "kernel arguments must be trivially copyable");
      detail::handler_arg_bytes(*impl_, index, &arg, sizeof(A));
    }
  }
  template <class... Ts>
  void set_args(Ts&&... args) {
    int i = 0;
    (set_arg(i++, std::forward<Ts>(args)), ...);
  }

  // USM and host-memory operations.
  void memcpy(void* dst, const void* src, size_t bytes) { detail::handler_memcpy(*impl_, dst, src, bytes); }
  template <class T>
  void copy(const T* src, T* dst, size_t count) {
    detail::handler_memcpy(*impl_, dst, src, count * sizeof(T));
  }
  void memset(void* ptr, int value, size_t bytes) {
    const unsigned char v = static_cast<unsigned char>(value);
    detail::handler_fill(*impl_, ptr, &v, 1, bytes);
  }
  template <class T>
  void fill(void* ptr, const T& pattern, size_t count) {
    static_assert(std::is_trivially_copyable_v<T>, "fill patterns must be trivially copyable");
    detail::handler_fill(*impl_, ptr, &pattern, sizeof(T), count);
  }
  // Accessor forms.
  template <class T, int D, access_mode M, target Tg, access::placeholder P, class U>
  void copy(const accessor<T, D, M, Tg, P>& src, U* dst) {
    detail::handler_memcpy(*impl_, dst, src.get_pointer(), src.byte_size());
  }
  template <class U, class T, int D, access_mode M, target Tg, access::placeholder P>
  void copy(const U* src, const accessor<T, D, M, Tg, P>& dst) {
    detail::handler_memcpy(*impl_, dst.get_pointer(), src, dst.byte_size());
  }
  template <class T, int D, access_mode M, target Tg, access::placeholder P, class T2, int D2, access_mode M2,
            target Tg2, access::placeholder P2>
  void copy(const accessor<T, D, M, Tg, P>& src, const accessor<T2, D2, M2, Tg2, P2>& dst) {
    detail::handler_memcpy(*impl_, dst.get_pointer(), src.get_pointer(), std::min(src.byte_size(), dst.byte_size()));
  }
  template <class T, int D, access_mode M, target Tg, access::placeholder P>
  void fill(const accessor<T, D, M, Tg, P>& dst, const std::remove_const_t<T>& value) {
    detail::handler_fill(*impl_, dst.get_pointer(), &value, sizeof(value), dst.size());
  }

  // A command that completes when its dependencies have.
  void ext_ulmara_barrier() { detail::handler_barrier(*impl_); }
  void ext_ulmara_barrier(const std::vector<event>& events) {
    depends_on(events);
    detail::handler_barrier(*impl_);
  }

  explicit handler(detail::handler_impl* impl) : impl_(impl) {}
  detail::handler_impl& ext_ulmara_impl() { return *impl_; }

 private:
  template <int Dims, class KernelName, class F>
  detail::host_kernel make_kernel_record(F&& f) {
    detail::host_kernel k;
    k.dims = Dims;
    if (bundle_) {
      using name_t = std::conditional_t<std::is_void_v<KernelName>, std::decay_t<F>, KernelName>;
      detail::bundle_require_kernel(*bundle_, detail::kernel_name_of<name_t>());
      k.spec_constants = detail::bundle_values_snapshot(*bundle_);
    }
    k.functor = std::make_shared<std::decay_t<F>>(std::forward<F>(f));
    return k;
  }
  detail::handler_impl* impl_;
  std::shared_ptr<detail::kernel_bundle_impl> bundle_;
};

}  // namespace _V1
}  // namespace sycl
