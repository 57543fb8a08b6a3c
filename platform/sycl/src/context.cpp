// SYCL stand-in: contexts and unified shared memory (OpenCL fine-grained SVM,
// or mirrored OpenCL buffers on devices without it).
#include <sys/mman.h>

#include <cstdlib>
#include <cstring>
#include <vector>

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
// The entry of `blocks` (keyed by start address, each with a size) whose
// bytes hold address `p`, or end().
template <class Map>
typename Map::const_iterator block_holding(const Map& blocks, uintptr_t p) {
  auto it = blocks.upper_bound(p);
  if (it == blocks.begin()) return blocks.end();
  --it;
  return p < it->first + it->second.size ? it : blocks.end();
}
// SVM of a CPU device is host memory. Blocks of at least a huge page start
// on a huge-page boundary and ask the kernel for huge pages: kernels that
// stride through tens of MiB (the passes of a large transform, 64 or more
// rows a power of two apart) otherwise miss the TLB on most loads.
constexpr size_t huge_page_bytes = size_t{2} << 20;
bool wants_huge_pages(size_t bytes) { return bytes >= huge_page_bytes; }
void advise_huge_pages(void* p, size_t bytes) {
#ifdef MADV_HUGEPAGE
  const uintptr_t start = (reinterpret_cast<uintptr_t>(p) + huge_page_bytes - 1) & ~uintptr_t(huge_page_bytes - 1);
  const uintptr_t end = (reinterpret_cast<uintptr_t>(p) + bytes) & ~uintptr_t(huge_page_bytes - 1);
  // Advice only: memory without huge pages works the same.
  if (end > start) (void)madvise(reinterpret_cast<void*>(start), end - start, MADV_HUGEPAGE);
#else
  (void)p;
  (void)bytes;
#endif
}
bool have_fine_grained_svm(const std::vector<std::shared_ptr<device_impl>>& devs) {
  for (const auto& d : devs)
    if (!d->is_host() && !(d->info.svm & CL_DEVICE_SVM_FINE_GRAIN_BUFFER)) return false;
  return true;
}
}  // namespace

std::recursive_mutex& simulator_mutex() {
  static std::recursive_mutex* m = new std::recursive_mutex;
  return *m;
}

simulator_calls::simulator_calls(const context_impl* ctx) {
  if (ctx && ctx->mirrored()) lock_ = std::unique_lock<std::recursive_mutex>(simulator_mutex());
}

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
    svm = have_fine_grained_svm(devices);
  }
}

context_impl::context_impl(cl_context native, bool owns_handle, platform_impl* p,
                           std::vector<std::shared_ptr<device_impl>> devs, async_handler h)
    : cl(native), owns(owns_handle), platform(p), devices(std::move(devs)), handler(std::move(h)) {
  svm = have_fine_grained_svm(devices);
}

context_impl::~context_impl() {
  simulator_calls calls(this);
  // USM the program did not free goes with its context.
  for (auto& [key, block] : usm_) {
    if (mirrored_free(block.base)) continue;
    if (cl && svm) clSVMFree(cl, block.base);
    else std::free(block.base);
  }
  for (auto& [key, block] : mirrored_) {
    clReleaseMemObject(block.mem);
    std::free(block.mirror);
  }
  for (auto& [bytes, mem] : spare_blocks_) clReleaseMemObject(mem);
  transfers_.reset();
  if (transfer_) clReleaseCommandQueue(transfer_);
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
  if (!svm) return mirrored_alloc(128, bytes);
  void* p = clSVMAlloc(cl, CL_MEM_READ_WRITE | CL_MEM_SVM_FINE_GRAIN_BUFFER, bytes, 0);
  if (p && wants_huge_pages(bytes)) advise_huge_pages(p, bytes);
  return p;
}

void context_impl::raw_free(void* ptr) {
  if (!ptr) return;
  if (is_host()) std::free(ptr);
  else if (!mirrored_free(ptr)) clSVMFree(cl, ptr);
}

void* context_impl::mirrored_alloc(size_t alignment, size_t bytes) {
  char* mirror = static_cast<char*>(host_aligned(alignment, bytes));
  if (!mirror) return nullptr;
  simulator_calls calls(this);
  std::lock_guard<std::mutex> lk(m_);
  cl_mem mem = nullptr;
  const auto spare = spare_blocks_.find(bytes);
  if (spare != spare_blocks_.end()) {
    mem = spare->second;
    spare_blocks_.erase(spare);
  } else {
    cl_int err = CL_SUCCESS;
    mem = clCreateBuffer(cl, CL_MEM_READ_WRITE, bytes, nullptr, &err);
    if (err != CL_SUCCESS || !mem) {
      std::free(mirror);
      return nullptr;
    }
  }
  mirrored_[reinterpret_cast<uintptr_t>(mirror)] = mirrored_block{mem, bytes, mirror};
  return mirror;
}

bool context_impl::mirrored_free(void* ptr) {
  std::lock_guard<std::mutex> lk(m_);
  auto it = mirrored_.find(reinterpret_cast<uintptr_t>(ptr));
  if (it == mirrored_.end()) return false;
  const mirrored_block block = it->second;
  mirrored_.erase(it);
  if (host_run_active_)
    freed_during_host_run_.push_back(block);
  else
    retire_block(block);
  return true;
}

void context_impl::retire_block(const mirrored_block& block) {
  // Kept for the next block of its size rather than released: Oclgrind
  // gives a new buffer the number of a released one and keeps the old
  // buffer's record of written bytes for it, so that stores past the old
  // size go unrecorded and their reads are reported as uninitialised.
  spare_blocks_.emplace(block.size, block.mem);
  std::free(block.mirror);
}

std::optional<device_span> context_impl::device_memory(const void* ptr) const {
  const auto p = reinterpret_cast<uintptr_t>(ptr);
  std::lock_guard<std::mutex> lk(m_);
  const auto it = block_holding(mirrored_, p);
  if (it == mirrored_.end()) return std::nullopt;
  return device_span{it->second.mem, p - it->first, it->second.size};
}

cl_command_queue context_impl::transfer_queue() {
  std::lock_guard<std::mutex> lk(m_);
  if (!transfer_) {
    cl_int err = CL_SUCCESS;
    transfer_ = clCreateCommandQueueWithProperties(cl, devices.front()->cl, nullptr, &err);
    if (err != CL_SUCCESS || !transfer_) {
      transfer_ = nullptr;
      throw_cl("clCreateCommandQueueWithProperties", err);
    }
  }
  return transfer_;
}

mirrored_transfers& context_impl::transfers() {
  std::lock_guard<std::mutex> lk(m_);
  if (!transfers_) transfers_ = std::make_unique<mirrored_transfers>(cl, devices.front()->cl);
  return *transfers_;
}

void context_impl::read_device(const device_span& from, void* to, size_t bytes) {
  if (bytes == 0) return;
  simulator_calls calls(this);
  prepare_thread_to_run_commands();
  check_cl("clEnqueueReadBuffer",
           clEnqueueReadBuffer(transfer_queue(), from.mem, CL_TRUE, from.offset, bytes, to, 0, nullptr, nullptr));
}

namespace {
// A device without SVM here is a simulator (Oclgrind) whose checker of
// uninitialised values keeps per-thread state that only a thread that has
// made a context of it owns. The simulator runs queued commands on whichever
// thread flushes a queue or waits for one of them (a blocking transfer,
// clFlush, clWaitForEvents), which may be a pool thread or a caller's own;
// on any other thread it crashes. Each such thread makes one context of its
// own first. It is never released: releasing it as the thread or the
// process ends would run the simulator's teardown against state it has
// already freed. A process-wide list holds them all.
void keep_a_context_on_this_thread(cl_device_id device) {
  static std::mutex* m = new std::mutex;
  static std::vector<cl_context>* kept_contexts = new std::vector<cl_context>;
  thread_local const bool kept = [device] {
    cl_int err = CL_SUCCESS;
    cl_context c = clCreateContext(nullptr, 1, &device, nullptr, nullptr, &err);
    std::lock_guard<std::mutex> lk(*m);
    kept_contexts->push_back(c);
    return true;
  }();
  (void)kept;
}
}  // namespace

void context_impl::prepare_thread_to_run_commands() {
  if (mirrored()) keep_a_context_on_this_thread(devices.front()->cl);
}

void context_impl::write_device(const device_span& to, const void* from, size_t bytes) {
  if (bytes == 0) return;
  simulator_calls calls(this);
  prepare_thread_to_run_commands();
  cl_event written = nullptr;
  check_cl("clEnqueueWriteBuffer",
           transfers().write(cl, transfer_queue(), to.mem, to.offset, from, bytes, 0, nullptr, &written));
  const cl_int waited = clWaitForEvents(1, &written);
  clReleaseEvent(written);
  check_cl("clWaitForEvents", waited);
}

void context_impl::run_with_mirrors(const std::function<void()>& work) {
  if (!mirrored()) {
    work();
    return;
  }
  std::lock_guard<std::mutex> run(host_run_m_);
  std::vector<mirrored_block> blocks;
  {
    std::lock_guard<std::mutex> lk(m_);
    for (const auto& [key, block] : mirrored_) blocks.push_back(block);
    host_run_active_ = true;
  }
  // Blocks freed by other threads (or by `work`) while this runs go when it
  // ends, also when it throws.
  struct end_of_run {
    context_impl* ctx;
    ~end_of_run() {
      std::lock_guard<std::mutex> lk(ctx->m_);
      ctx->host_run_active_ = false;
      for (const mirrored_block& block : ctx->freed_during_host_run_) ctx->retire_block(block);
      ctx->freed_during_host_run_.clear();
    }
  } ending{this};
  // Only the blocks the host command changed go back, whole: a byte it
  // wrote with the value already there is still written, so the device
  // knows it as set.
  std::vector<std::vector<char>> before(blocks.size());
  for (size_t b = 0; b < blocks.size(); ++b) {
    read_device(device_span{blocks[b].mem, 0, blocks[b].size}, blocks[b].mirror, blocks[b].size);
    before[b].assign(blocks[b].mirror, blocks[b].mirror + blocks[b].size);
  }
  work();
  for (size_t b = 0; b < blocks.size(); ++b)
    if (std::memcmp(blocks[b].mirror, before[b].data(), blocks[b].size) != 0)
      write_device(device_span{blocks[b].mem, 0, blocks[b].size}, blocks[b].mirror, blocks[b].size);
}

void* context_impl::usm_alloc(size_t alignment, size_t bytes, usm::alloc kind, device_impl* dev) {
  if (bytes == 0) return nullptr;
  if (alignment & (alignment - 1)) return nullptr;
  if (dev && !has_device(dev)) throw_error(errc::invalid, "the device is not in the context");
  if (dev && !is_host() && bytes > dev->info.max_mem_alloc_size) return nullptr;
  if (mirrored() && kind == usm::alloc::shared)
    throw_error(errc::feature_not_supported,
                "shared USM needs a device with fine-grained SVM; this device has none (use device USM or buffers)");
  void* base = nullptr;
  void* p = nullptr;
  if (is_host() || (mirrored() && kind == usm::alloc::host)) {
    // Without SVM, host USM is host memory that copies may use but kernels may not.
    base = p = host_aligned(alignment, bytes);
  } else if (mirrored()) {
    base = p = mirrored_alloc(alignment < 128 ? 128 : alignment, bytes);
  } else if (alignment <= 128 && !wants_huge_pages(bytes)) {
    base = p = clSVMAlloc(cl, CL_MEM_READ_WRITE | CL_MEM_SVM_FINE_GRAIN_BUFFER, bytes, static_cast<cl_uint>(alignment));
  } else {
    // OpenCL need not align SVM beyond its largest type: over-allocate.
    if (wants_huge_pages(bytes) && alignment < huge_page_bytes) alignment = huge_page_bytes;
    base = clSVMAlloc(cl, CL_MEM_READ_WRITE | CL_MEM_SVM_FINE_GRAIN_BUFFER, bytes + alignment, 0);
    if (base)
      p = reinterpret_cast<void*>((reinterpret_cast<uintptr_t>(base) + alignment - 1) & ~uintptr_t(alignment - 1));
    if (p && wants_huge_pages(bytes)) advise_huge_pages(p, bytes);
  }
  if (!p) return nullptr;
  std::lock_guard<std::mutex> lk(m_);
  usm_[reinterpret_cast<uintptr_t>(p)] = usm_block{bytes, kind, dev ? dev : devices.front().get(), base};
  return p;
}

void context_impl::usm_free(void* ptr) {
  if (!ptr) return;
  void* base = nullptr;
  usm::alloc kind = usm::alloc::unknown;
  {
    std::lock_guard<std::mutex> lk(m_);
    auto it = usm_.find(reinterpret_cast<uintptr_t>(ptr));
    if (it == usm_.end()) return;  // not an allocation of this context
    base = it->second.base;
    kind = it->second.kind;
    usm_.erase(it);
  }
  if (mirrored() && kind == usm::alloc::host) std::free(base);
  else raw_free(base);
}

std::optional<usm_block> context_impl::usm_find(const void* ptr) const {
  const auto p = reinterpret_cast<uintptr_t>(ptr);
  std::lock_guard<std::mutex> lk(m_);
  const auto it = block_holding(usm_, p);
  if (it == usm_.end()) return std::nullopt;
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
