// SYCL stand-in: contexts and unified shared memory (OpenCL fine-grained SVM).
#include <cstdlib>
#include <cstring>

#include "runtime.hpp"

namespace sycl {
inline namespace _V1 {
namespace detail {

namespace {
std::vector<cl_device_id> cl_ids(const std::vector<std::shared_ptr<device_impl>>& devs) {
  std::vector<cl_device_id> ids;
  for (const auto& d : devs) ids.push_back(d->cl);
  return ids;
}
void* host_aligned(size_t alignment, size_t bytes) {
  if (alignment < alignof(std::max_align_t)) alignment = 128;
  void* p = nullptr;
  if (posix_memalign(&p, alignment, bytes) != 0) return nullptr;
  return p;
}
}  // namespace

context_impl::context_impl(platform_impl* p, std::vector<std::shared_ptr<device_impl>> devs, async_handler h)
    : platform(p), devices(std::move(devs)), handler(std::move(h)) {
  if (devices.empty()) throw_error(errc::invalid, "a context needs at least one device");
  for (const auto& d : devices)
    if (d->platform != platform) throw_error(errc::invalid, "the devices of a context must share one platform");
  if (platform->nivolo) {
    open_nivolo(nullptr);
  } else if (!devices.front()->is_host()) {
    const auto ids = cl_ids(devices);
    cl_context_properties props[] = {CL_CONTEXT_PLATFORM, reinterpret_cast<cl_context_properties>(platform->cl), 0};
    cl_int err = CL_SUCCESS;
    cl = clCreateContext(props, static_cast<cl_uint>(ids.size()), ids.data(), nullptr, nullptr, &err);
    if (err != CL_SUCCESS || !cl) throw_cl("clCreateContext", err);
  }
}

context_impl::context_impl(cl_context native, bool owns_handle, platform_impl* p,
                           std::vector<std::shared_ptr<device_impl>> devs, async_handler h)
    : cl(native), owns(owns_handle), platform(p), devices(std::move(devs)), handler(std::move(h)) {}

context_impl::~context_impl() {
  // USM the program did not free goes with its context.
  for (auto& [key, block] : usm_) {
    if (cl) clSVMFree(cl, block.base);
    else std::free(block.base);
  }
  if (nivolo) close_nivolo();
  else if (cl && owns) clReleaseContext(cl);
}

bool context_impl::has_device(const device_impl* d) const {
  for (const auto& x : devices)
    if (x.get() == d) return true;
  return false;
}

void* context_impl::raw_alloc(size_t bytes) {
  if (bytes == 0) bytes = 1;
  if (is_host()) return host_aligned(128, bytes);
  return clSVMAlloc(cl, CL_MEM_READ_WRITE | CL_MEM_SVM_FINE_GRAIN_BUFFER, bytes, 0);
}

void context_impl::raw_free(void* ptr) {
  if (!ptr) return;
  if (is_host()) std::free(ptr);
  else clSVMFree(cl, ptr);
}

void* context_impl::usm_alloc(size_t alignment, size_t bytes, usm::alloc kind, device_impl* dev) {
  if (bytes == 0) return nullptr;
  if (alignment & (alignment - 1)) return nullptr;
  if (dev && !has_device(dev)) throw_error(errc::invalid, "the device is not in the context");
  if (dev && !is_host() && bytes > dev->info.max_mem_alloc_size) return nullptr;
  void* base = nullptr;
  void* p = nullptr;
  if (is_host()) {
    base = p = host_aligned(alignment, bytes);
  } else if (alignment <= 128) {
    base = p = clSVMAlloc(cl, CL_MEM_READ_WRITE | CL_MEM_SVM_FINE_GRAIN_BUFFER, bytes, static_cast<cl_uint>(alignment));
  } else {
    // OpenCL need not align SVM beyond its largest type: over-allocate.
    base = clSVMAlloc(cl, CL_MEM_READ_WRITE | CL_MEM_SVM_FINE_GRAIN_BUFFER, bytes + alignment, 0);
    if (base)
      p = reinterpret_cast<void*>((reinterpret_cast<uintptr_t>(base) + alignment - 1) & ~uintptr_t(alignment - 1));
  }
  if (!p) return nullptr;
  std::lock_guard<std::mutex> lk(m_);
  usm_[reinterpret_cast<uintptr_t>(p)] = usm_block{bytes, kind, dev ? dev : devices.front().get(), base};
  return p;
}

void context_impl::usm_free(void* ptr) {
  if (!ptr) return;
  void* base = nullptr;
  {
    std::lock_guard<std::mutex> lk(m_);
    auto it = usm_.find(reinterpret_cast<uintptr_t>(ptr));
    if (it == usm_.end()) return;  // not an allocation of this context
    base = it->second.base;
    usm_.erase(it);
  }
  raw_free(base);
}

std::optional<usm_block> context_impl::usm_find(const void* ptr) const {
  const auto p = reinterpret_cast<uintptr_t>(ptr);
  std::lock_guard<std::mutex> lk(m_);
  auto it = usm_.upper_bound(p);
  if (it == usm_.begin()) return std::nullopt;
  --it;
  if (p >= it->first + it->second.size) return std::nullopt;
  return it->second;
}

std::shared_ptr<context_impl> platform_impl::default_context() {
  std::lock_guard<std::mutex> lk(m_);
  if (!default_context_) default_context_ = std::make_shared<context_impl>(this, devices, async_handler());
  return default_context_;
}

}  // namespace detail

// ---- context ---------------------------------------------------------------------

namespace {
std::vector<std::shared_ptr<detail::device_impl>> impls(const std::vector<device>& devs) {
  std::vector<std::shared_ptr<detail::device_impl>> r;
  for (const auto& d : devs) r.push_back(detail::get_impl(d));
  return r;
}
}  // namespace

context::context(const property_list& props) : context(device(), async_handler(), props) {}
context::context(const async_handler& handler, const property_list& props) : context(device(), handler, props) {}
context::context(const device& dev, const property_list& props) : context(dev, async_handler(), props) {}
context::context(const device& dev, const async_handler& handler, const property_list& props)
    : context(std::vector<device>{dev}, handler, props) {}
context::context(const platform& plt, const property_list& props) : context(plt, async_handler(), props) {}
context::context(const platform& plt, const async_handler& handler, const property_list& props)
    : context(plt.get_devices(), handler, props) {}
context::context(const std::vector<device>& devs, const property_list& props)
    : context(devs, async_handler(), props) {}
context::context(const std::vector<device>& devs, const async_handler& handler, const property_list&)
    : impl_(std::make_shared<detail::context_impl>(devs.empty() ? nullptr : detail::get_impl(devs.front())->platform,
                                                   impls(devs), handler)) {}

backend context::get_backend() const noexcept { return impl_->get_backend(); }
platform context::get_platform() const { return impl_->devices.front() ? device(impl_->devices.front()).get_platform() : platform(); }
std::vector<device> context::get_devices() const {
  std::vector<device> r;
  for (const auto& d : impl_->devices) r.push_back(device(d));
  return r;
}
context platform::ext_ulmara_get_default_context() const { return context(impl_->default_context()); }

// ---- USM -------------------------------------------------------------------------

namespace {
void* usm_alloc_in(size_t alignment, size_t bytes, const device* dev, const context& ctx, usm::alloc kind) {
  if (kind == usm::alloc::unknown) return nullptr;
  const auto& c = detail::get_impl(ctx);
  return c->usm_alloc(alignment, bytes, kind, dev ? detail::get_impl(*dev).get() : nullptr);
}
}  // namespace

void* malloc_device(size_t bytes, const device& dev, const context& ctx, const property_list&) {
  return usm_alloc_in(0, bytes, &dev, ctx, usm::alloc::device);
}
void* malloc_device(size_t bytes, const queue& q, const property_list& p) {
  return malloc_device(bytes, q.get_device(), q.get_context(), p);
}
void* malloc_shared(size_t bytes, const device& dev, const context& ctx, const property_list&) {
  return usm_alloc_in(0, bytes, &dev, ctx, usm::alloc::shared);
}
void* malloc_shared(size_t bytes, const queue& q, const property_list& p) {
  return malloc_shared(bytes, q.get_device(), q.get_context(), p);
}
void* malloc_host(size_t bytes, const context& ctx, const property_list&) {
  return usm_alloc_in(0, bytes, nullptr, ctx, usm::alloc::host);
}
void* malloc_host(size_t bytes, const queue& q, const property_list& p) { return malloc_host(bytes, q.get_context(), p); }
void* malloc(size_t bytes, const device& dev, const context& ctx, usm::alloc kind, const property_list&) {
  return usm_alloc_in(0, bytes, kind == usm::alloc::host ? nullptr : &dev, ctx, kind);
}
void* malloc(size_t bytes, const queue& q, usm::alloc kind, const property_list& p) {
  return malloc(bytes, q.get_device(), q.get_context(), kind, p);
}
void* aligned_alloc_device(size_t alignment, size_t bytes, const device& dev, const context& ctx,
                           const property_list&) {
  return usm_alloc_in(alignment, bytes, &dev, ctx, usm::alloc::device);
}
void* aligned_alloc_device(size_t alignment, size_t bytes, const queue& q, const property_list& p) {
  return aligned_alloc_device(alignment, bytes, q.get_device(), q.get_context(), p);
}
void* aligned_alloc_shared(size_t alignment, size_t bytes, const device& dev, const context& ctx,
                           const property_list&) {
  return usm_alloc_in(alignment, bytes, &dev, ctx, usm::alloc::shared);
}
void* aligned_alloc_shared(size_t alignment, size_t bytes, const queue& q, const property_list& p) {
  return aligned_alloc_shared(alignment, bytes, q.get_device(), q.get_context(), p);
}
void* aligned_alloc_host(size_t alignment, size_t bytes, const context& ctx, const property_list&) {
  return usm_alloc_in(alignment, bytes, nullptr, ctx, usm::alloc::host);
}
void* aligned_alloc_host(size_t alignment, size_t bytes, const queue& q, const property_list& p) {
  return aligned_alloc_host(alignment, bytes, q.get_context(), p);
}
void* aligned_alloc(size_t alignment, size_t bytes, const device& dev, const context& ctx, usm::alloc kind,
                    const property_list&) {
  return usm_alloc_in(alignment, bytes, kind == usm::alloc::host ? nullptr : &dev, ctx, kind);
}
void* aligned_alloc(size_t alignment, size_t bytes, const queue& q, usm::alloc kind, const property_list& p) {
  return aligned_alloc(alignment, bytes, q.get_device(), q.get_context(), kind, p);
}
void free(void* ptr, const context& ctx) { detail::get_impl(ctx)->usm_free(ptr); }
void free(void* ptr, const queue& q) { free(ptr, q.get_context()); }

usm::alloc get_pointer_type(const void* ptr, const context& ctx) {
  if (!ptr) return usm::alloc::unknown;
  auto b = detail::get_impl(ctx)->usm_find(ptr);
  return b ? b->kind : usm::alloc::unknown;
}

device get_pointer_device(const void* ptr, const context& ctx) {
  const auto& c = detail::get_impl(ctx);
  auto b = c->usm_find(ptr);
  if (!b) detail::throw_error(errc::invalid, "the pointer is not a USM allocation of the context");
  for (const auto& d : c->devices)
    if (d.get() == b->device) return device(d);
  return device(c->devices.front());
}

}  // namespace _V1
}  // namespace sycl
