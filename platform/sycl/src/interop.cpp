// SYCL stand-in: kernels and interoperability with OpenCL handles.
#include "runtime.hpp"

namespace sycl {
inline namespace _V1 {
namespace detail {

kernel_impl::~kernel_impl() {
  if (cl && owns) clReleaseKernel(cl);
  if (nivolo_owned) loaded_nivolo_driver()->qxKernelDestroy(nivolo_owned);
}

template <>
void get_kernel_info<uint32_t>(const kernel_impl& k, info_id id, uint32_t* r) {
  if (id != info_id::kernel_num_args) throw_error(errc::invalid, "unsupported kernel information query");
  cl_uint n = 0;
  check_cl("clGetKernelInfo", clGetKernelInfo(k.cl, CL_KERNEL_NUM_ARGS, sizeof n, &n, nullptr));
  *r = n;
}
template <>
void get_kernel_info<std::string>(const kernel_impl& k, info_id id, std::string* r) {
  if (id != info_id::kernel_function_name) throw_error(errc::invalid, "unsupported kernel information query");
  size_t n = 0;
  check_cl("clGetKernelInfo", clGetKernelInfo(k.cl, CL_KERNEL_FUNCTION_NAME, 0, nullptr, &n));
  std::string s(n, '\0');
  check_cl("clGetKernelInfo", clGetKernelInfo(k.cl, CL_KERNEL_FUNCTION_NAME, n, s.data(), nullptr));
  while (!s.empty() && s.back() == '\0') s.pop_back();
  *r = s;
}

namespace {
void mismatch() { throw_error(errc::backend_mismatch, "Backends mismatch"); }
void need_opencl(bool is_opencl, backend b) {
  if (b != backend::opencl || !is_opencl) mismatch();
}
native_handle_t h(const void* p) { return reinterpret_cast<native_handle_t>(p); }
// The Nivolo handle of an object of that backend.
template <class Handle>
native_handle_t nivolo_handle(Handle handle) {
  if (handle == nullptr) mismatch();
  return h(handle);
}
}  // namespace

native_handle_t native_of(const platform& p, backend b) {
  const auto& i = get_impl(p);
  if (b == backend::ext_ulmara_nivolo) {
    if (!i->nivolo) mismatch();
    return h(i.get());  // the driver has no platform object: the runtime's own stands for it
  }
  need_opencl(i->cl != nullptr, b);
  return h(i->cl);
}
native_handle_t native_of(const device& d, backend b) {
  const auto& i = get_impl(d);
  if (b == backend::ext_ulmara_nivolo) return nivolo_handle(i->nivolo);
  need_opencl(!i->is_host() && !i->nivolo, b);
  clRetainDevice(i->cl);  // no effect on root devices
  return h(i->cl);
}
native_handle_t native_of(const context& c, backend b) {
  const auto& i = get_impl(c);
  if (b == backend::ext_ulmara_nivolo) return nivolo_handle(i->nivolo);
  need_opencl(!i->is_host() && !i->nivolo, b);
  clRetainContext(i->cl);
  return h(i->cl);
}
native_handle_t native_of(const queue& q, backend b) {
  const auto& i = get_impl(q);
  if (b == backend::ext_ulmara_nivolo) return nivolo_handle(i->nivolo);
  need_opencl(i->cl != nullptr && !i->nivolo, b);
  clRetainCommandQueue(i->cl);
  return h(i->cl);
}
native_handle_t native_of(const kernel& k, backend b) {
  const auto& i = get_impl(k);
  if (b == backend::ext_ulmara_nivolo) return nivolo_handle(i->nivolo);
  need_opencl(!i->nivolo, b);
  clRetainKernel(i->cl);
  return h(i->cl);
}
std::vector<native_handle_t> native_of(const event& e, backend b) {
  const auto& i = get_impl(e);
  if (b != backend::opencl) mismatch();
  if (!i->cl) return {};
  clRetainEvent(i->cl);
  return {h(i->cl)};
}

std::vector<native_handle_t> bundle_native_modules(const kernel_bundle_impl& b, backend which) {
  if (which != backend::ext_ulmara_nivolo || !b.ctx->nivolo) mismatch();
  std::vector<native_handle_t> r;
  for (qx_module_handle_t m : b.modules) r.push_back(h(m));
  return r;
}

std::shared_ptr<kernel_bundle_impl> bundle_from_nivolo_module(native_handle_t module, bool transfer,
                                                              const context& ctx) {
  const auto& c = get_impl(ctx);
  if (!c->nivolo) mismatch();
  auto b = std::make_shared<kernel_bundle_impl>();
  b->ctx = c;
  b->devices = c->devices;
  b->state = bundle_state::executable;
  b->modules.push_back(reinterpret_cast<qx_module_handle_t>(module));
  b->owns_modules = transfer;
  return b;
}

kernel make_nivolo_kernel(const std::shared_ptr<kernel_bundle_impl>& bundle, native_handle_t handle, bool transfer,
                          const context& ctx) {
  const auto& c = get_impl(ctx);
  if (!c->nivolo || bundle->ctx != c || bundle->modules.empty()) mismatch();
  const auto native = reinterpret_cast<qx_kernel_handle_t>(handle);
  const nivolo_driver& driver = *loaded_nivolo_driver();
  // A kernel handed over is the runtime's from the call on, even when refused.
  cl_kernel carrier =
      nivolo_carrier(native, transfer, driver.qxextKernelGetOpenCL, driver.qxKernelDestroy, "qxextKernelGetOpenCL");
  clRetainKernel(carrier);
  auto k = std::make_shared<kernel_impl>(carrier, c, /*owns=*/true);
  if (transfer) k->nivolo_owned = native;
  k->nivolo = native;
  k->bundle = bundle;
  return kernel(k);
}

void native_retain(native_handle_t handle, native_kind kind, backend b) {
  if (b != backend::opencl) throw_error(errc::backend_mismatch, "Backends mismatch");
  cl_int err = CL_SUCCESS;
  switch (kind) {
    case native_kind::platform: return;
    case native_kind::device: err = clRetainDevice(reinterpret_cast<cl_device_id>(handle)); break;
    case native_kind::context: err = clRetainContext(reinterpret_cast<cl_context>(handle)); break;
    case native_kind::queue: err = clRetainCommandQueue(reinterpret_cast<cl_command_queue>(handle)); break;
    case native_kind::kernel: err = clRetainKernel(reinterpret_cast<cl_kernel>(handle)); break;
    case native_kind::event: err = clRetainEvent(reinterpret_cast<cl_event>(handle)); break;
  }
  check_cl("clRetain", err);
}

platform make_platform(native_handle_t handle, backend b) {
  need_opencl(true, b);
  for (const auto& p : all_platforms())
    if (p->cl == reinterpret_cast<cl_platform_id>(handle)) return platform(p);
  throw_error(errc::invalid, "unknown OpenCL platform");
}

device make_device(native_handle_t handle, backend b) {
  need_opencl(true, b);
  return device(find_device(reinterpret_cast<cl_device_id>(handle)));
}

context make_context(native_handle_t handle, const async_handler& handler, backend b, bool keep_ownership,
                     const std::vector<device>& devices) {
  if (b == backend::ext_ulmara_nivolo) {
    if (loaded_nivolo_driver() == nullptr) mismatch();
    std::vector<std::shared_ptr<device_impl>> devs;
    for (const device& d : devices) devs.push_back(get_impl(d));
    return context(std::make_shared<context_impl>(reinterpret_cast<qx_context_handle_t>(handle), !keep_ownership,
                                                  std::move(devs), handler));
  }
  need_opencl(true, b);
  auto ctx = reinterpret_cast<cl_context>(handle);
  cl_uint n = 0;
  check_cl("clGetContextInfo", clGetContextInfo(ctx, CL_CONTEXT_NUM_DEVICES, sizeof n, &n, nullptr));
  std::vector<cl_device_id> ids(n);
  check_cl("clGetContextInfo", clGetContextInfo(ctx, CL_CONTEXT_DEVICES, n * sizeof(cl_device_id), ids.data(), nullptr));
  std::vector<std::shared_ptr<device_impl>> devs;
  for (cl_device_id id : ids) devs.push_back(find_device(id));
  if (devs.empty()) throw_error(errc::invalid, "the OpenCL context has no devices");
  platform_impl* p = devs.front()->platform;
  return context(std::make_shared<context_impl>(ctx, !keep_ownership, p, std::move(devs), handler));
}

queue make_queue(native_handle_t handle, int32_t handle_type, const context& ctx, const device* dev,
                 bool keep_ownership, const property_list&, const async_handler& handler, backend b) {
  if (b == backend::ext_ulmara_nivolo) {
    // Command queues and immediate command lists alike run in submission order here.
    if (handle_type != 0 && handle_type != 1) throw_error(errc::invalid, "unknown kind of Nivolo queue handle");
    const auto& c = get_impl(ctx);
    if (!c->nivolo || dev == nullptr) mismatch();
    const auto native = reinterpret_cast<qx_command_queue_handle_t>(handle);
    cl_command_queue carrier = nullptr;
    check_qx("qxextCommandQueueGetOpenCL", loaded_nivolo_driver()->qxextCommandQueueGetOpenCL(native, &carrier));
    auto q = std::make_shared<queue_impl>(carrier, /*owns=*/false, c, get_impl(*dev), handler);
    q->owns = false;
    q->open_nivolo(native);
    q->owns = !keep_ownership;
    q->nivolo_handle_kind = handle_type;
    return queue(q);
  }
  need_opencl(true, b);
  if (handle_type != 0) throw_error(errc::invalid, "OpenCL has command queues only");
  auto q = reinterpret_cast<cl_command_queue>(handle);
  cl_device_id did = nullptr;
  check_cl("clGetCommandQueueInfo", clGetCommandQueueInfo(q, CL_QUEUE_DEVICE, sizeof did, &did, nullptr));
  auto d = dev ? get_impl(*dev) : find_device(did);
  return queue(std::make_shared<queue_impl>(q, !keep_ownership, get_impl(ctx), d, handler));
}

kernel make_kernel(native_handle_t handle, const context& ctx, backend b, bool keep_ownership) {
  need_opencl(!get_impl(ctx)->is_host(), b);
  return kernel(std::make_shared<kernel_impl>(reinterpret_cast<cl_kernel>(handle), get_impl(ctx), !keep_ownership));
}

event make_event(native_handle_t handle, const context& ctx, backend b, bool keep_ownership) {
  need_opencl(!get_impl(ctx)->is_host(), b);
  auto e = reinterpret_cast<cl_event>(handle);
  if (keep_ownership) clRetainEvent(e);  // event_impl releases one reference
  auto ev = std::make_shared<event_impl>(e, get_impl(ctx));
  return event(ev);
}

}  // namespace detail

backend kernel::get_backend() const noexcept {
  return impl_->nivolo ? backend::ext_ulmara_nivolo : backend::opencl;
}
context kernel::get_context() const { return context(impl_->ctx); }

namespace ext::ulmara::nivolo {
queue_handle_kind get_queue_handle_kind(const queue& q) {
  const auto& i = detail::get_impl(q);
  if (!i->nivolo) detail::mismatch();
  return static_cast<queue_handle_kind>(i->nivolo_handle_kind);
}
}  // namespace ext::ulmara::nivolo

}  // namespace _V1
}  // namespace sycl
