// SYCL stand-in: queues, command groups and their execution.
//
// OpenCL commands are enqueued at once with their dependencies as an OpenCL
// wait list; dependencies that are not OpenCL events of the same context
// enter the list as a user event completed when they complete. Host tasks
// and host-run kernels start on host threads once their dependencies have
// completed. In-order queues chain every command to the previous one.
#include <algorithm>
#include <cstring>

#include "runtime.hpp"

namespace sycl {
inline namespace _V1 {
namespace detail {

std::mutex& submission_mutex();

// ---- queue_impl --------------------------------------------------------------------

namespace {
cl_command_queue create_cl_queue(const context_impl& c, const device_impl& d, bool in_order, bool profiling) {
  cl_queue_properties bits = 0;
  if (!in_order) bits |= CL_QUEUE_OUT_OF_ORDER_EXEC_MODE_ENABLE;
  if (profiling) bits |= CL_QUEUE_PROFILING_ENABLE;
  cl_queue_properties props[] = {CL_QUEUE_PROPERTIES, bits, 0};
  cl_int err = CL_SUCCESS;
  cl_command_queue q = clCreateCommandQueueWithProperties(c.cl, d.cl, props, &err);
  if (err != CL_SUCCESS || !q) throw_cl("clCreateCommandQueueWithProperties", err);
  return q;
}
}  // namespace

queue_impl::queue_impl(std::shared_ptr<context_impl> c, std::shared_ptr<device_impl> d, const property_list& p,
                       async_handler h)
    : ctx(std::move(c)), dev(std::move(d)), props(p), handler(std::move(h)) {
  if (!ctx->has_device(dev.get())) throw_error(errc::invalid, "the device is not in the queue's context");
  in_order = props.has_property<property::queue::in_order>();
  profiling = props.has_property<property::queue::enable_profiling>();
  if (dev->nivolo) open_nivolo(nullptr);
  else if (!dev->is_host()) cl = create_cl_queue(*ctx, *dev, in_order, profiling);
}

queue_impl::queue_impl(cl_command_queue native, bool owns_handle, std::shared_ptr<context_impl> c,
                       std::shared_ptr<device_impl> d, async_handler h)
    : ctx(std::move(c)), dev(std::move(d)), cl(native), owns(owns_handle), handler(std::move(h)) {
  cl_command_queue_properties bits = 0;
  clGetCommandQueueInfo(cl, CL_QUEUE_PROPERTIES, sizeof bits, &bits, nullptr);
  in_order = !(bits & CL_QUEUE_OUT_OF_ORDER_EXEC_MODE_ENABLE);
  profiling = (bits & CL_QUEUE_PROFILING_ENABLE) != 0;
  if (in_order && profiling) props = property_list{property::queue::in_order(), property::queue::enable_profiling()};
  else if (in_order) props = property_list{property::queue::in_order()};
  else if (profiling) props = property_list{property::queue::enable_profiling()};
}

// As in SYCL 2020, dropping the last handle of a queue does not wait: its
// commands complete on their own (OpenCL keeps a released queue's commands).
queue_impl::~queue_impl() {
  if (nivolo) {
    clReleaseCommandQueue(cl);
    if (owns) loaded_nivolo_driver()->qxCommandQueueDestroy(nivolo);
  } else if (cl && owns) {
    clReleaseCommandQueue(cl);
  }
}

void queue_impl::open_nivolo(qx_command_queue_handle_t native) {
  const nivolo_driver& driver = *loaded_nivolo_driver();
  if (!ctx->nivolo || !dev->nivolo) throw_error(errc::invalid, "a Nivolo queue needs a Nivolo context and device");
  if (native == nullptr) {
    const uint32_t flags =
        (in_order ? QX_COMMAND_QUEUE_FLAG_IN_ORDER : 0u) | (profiling ? QX_COMMAND_QUEUE_FLAG_PROFILING : 0u);
    check_qx("qxCommandQueueCreate", driver.qxCommandQueueCreate(ctx->nivolo, dev->nivolo, flags, &native));
    owns = true;
  }
  cl = nivolo_carrier(native, owns, driver.qxextCommandQueueGetOpenCL, driver.qxCommandQueueDestroy,
                      "qxextCommandQueueGetOpenCL");
  nivolo = native;
  clRetainCommandQueue(cl);  // released by the destructor; the driver keeps its own
}

void queue_impl::add_error(std::exception_ptr e) {
  std::lock_guard<std::mutex> lk(m);
  errors.push_back(std::move(e));
}

void queue_impl::wait_all() {
  std::vector<std::shared_ptr<event_impl>> evs;
  {
    std::lock_guard<std::mutex> lk(m);
    evs = pending;
  }
  for (const auto& e : evs) e->wait();
  std::lock_guard<std::mutex> lk(m);
  pending.erase(std::remove_if(pending.begin(), pending.end(),
                               [](const std::shared_ptr<event_impl>& e) { return e->is_complete(); }),
                pending.end());
}

void queue_impl::throw_asynchronous() {
  std::vector<std::exception_ptr> errs;
  {
    std::lock_guard<std::mutex> lk(m);
    errs.swap(errors);
  }
  if (errs.empty()) return;
  const async_handler& h = handler ? handler : ctx->handler;
  // Without an asynchronous handler the first error is raised to the caller.
  if (h) h(exception_list(std::move(errs)));
  else std::rethrow_exception(errs.front());
}

void handler_impl::set_kind(kind_t k) {
  if (kind != kind_t::none) throw_error(errc::runtime, "a command group may hold only one command");
  kind = k;
}

// ---- Recording -------------------------------------------------------------------

void handler_depends_on(handler_impl& h, const event& e) { h.deps.push_back(get_impl(e)); }
void handler_host_task(handler_impl& h, std::function<void(interop_handle&)> task) {
  h.set_kind(handler_impl::kind_t::host_task);
  h.task = std::move(task);
}
void handler_host_kernel(handler_impl& h, host_kernel k) {
  if (k.nd) check_nd_range(*h.queue->dev, k.dims, k.global, k.local);
  h.set_kind(handler_impl::kind_t::host_kernel);
  h.hk = std::move(k);
}
void handler_cl_kernel(handler_impl& h, const kernel& k, int dims, const size_t* global, const size_t* local,
                       const size_t* offset) {
  if (h.queue->dev->is_host())
    throw_error(errc::kernel_not_supported, "OpenCL kernels cannot run on the host device");
  const auto& ki = get_impl(k);
  if (ki->ctx->cl != h.queue->ctx->cl) throw_error(errc::invalid, "the kernel belongs to another context");
  if (local) check_nd_range(*h.queue->dev, dims, global, local);
  h.set_kind(handler_impl::kind_t::cl_kernel);
  h.kernel = ki;
  h.dims = dims;
  h.has_local = local != nullptr;
  for (int d = 0; d < dims; ++d) {
    h.global[d] = global[d];
    h.local[d] = local ? local[d] : 1;
    h.offset[d] = offset ? offset[d] : 0;
  }
}
void handler_arg_bytes(handler_impl& h, int index, const void* data, size_t size) {
  kernel_arg a;
  a.kind = kernel_arg::bytes;
  a.data.assign(static_cast<const char*>(data), static_cast<const char*>(data) + size);
  h.args[index] = std::move(a);
}
void handler_arg_pointer(handler_impl& h, int index, const void* ptr) {
  kernel_arg a;
  a.kind = kernel_arg::pointer;
  a.ptr = ptr;
  h.args[index] = std::move(a);
}
void handler_arg_local(handler_impl& h, int index, size_t bytes) {
  kernel_arg a;
  a.kind = kernel_arg::local;
  a.local_bytes = bytes;
  h.args[index] = std::move(a);
}
void handler_memcpy(handler_impl& h, void* dst, const void* src, size_t bytes) {
  h.set_kind(handler_impl::kind_t::memcpy);
  h.dst = dst;
  h.src = src;
  h.bytes = bytes;
}
void handler_fill(handler_impl& h, void* dst, const void* pattern, size_t pattern_size, size_t count) {
  h.set_kind(handler_impl::kind_t::fill);
  h.dst = dst;
  h.pattern.assign(static_cast<const char*>(pattern), static_cast<const char*>(pattern) + pattern_size);
  h.count = count;
}
void handler_barrier(handler_impl& h) { h.set_kind(handler_impl::kind_t::barrier); }
size_t handler_add_local(handler& cgh, size_t bytes) {
  auto& v = cgh.ext_ulmara_impl().local_sizes;
  v.push_back(bytes);
  return v.size() - 1;
}
size_t device_max_work_group_size(handler_impl& h) { return h.queue->dev->info.max_work_group_size; }

void check_nd_range(const device_impl& dev, int dims, const size_t* global, const size_t* local) {
  size_t total = 1;
  for (int d = 0; d < dims; ++d) {
    if (local[d] == 0 || global[d] % local[d] != 0)
      throw_error(errc::nd_range, "Global work size is not a multiple of the local work size in dimension " +
                                      std::to_string(d));
    total *= local[d];
  }
  if (total > dev.info.max_work_group_size)
    throw_error(errc::nd_range, "Total local work size " + std::to_string(total) +
                                    " exceeds the device's maximum work-group size " +
                                    std::to_string(dev.info.max_work_group_size));
  for (int d = 0; d < dims; ++d)
    if (local[d] > dev.info.max_work_item_sizes[dims - 1 - d])
      throw_error(errc::nd_range, "Local work size exceeds the device's maximum work-item size");
}

// ---- Execution ---------------------------------------------------------------------

namespace {

// OpenCL wait list for `deps` in `ctx`; dependencies of other kinds are
// folded into one user event.
struct wait_list {
  std::vector<cl_event> events;
  cl_event user = nullptr;
  ~wait_list() {
    if (user) clReleaseEvent(user);
  }
};

void build_wait_list(const std::vector<std::shared_ptr<event_impl>>& deps, const context_impl& ctx, wait_list* wl) {
  std::vector<std::shared_ptr<event_impl>> others;
  for (const auto& d : deps) {
    if (d->cl && d->ctx && d->ctx->cl == ctx.cl) wl->events.push_back(d->cl);
    else if (!d->is_complete()) others.push_back(d);
  }
  if (others.empty()) return;
  cl_int err = CL_SUCCESS;
  cl_event ue = clCreateUserEvent(ctx.cl, &err);
  check_cl("clCreateUserEvent", err);
  clRetainEvent(ue);  // released by the last dependency's completion
  wl->user = ue;
  wl->events.push_back(ue);
  auto left = std::make_shared<std::atomic<size_t>>(others.size());
  for (const auto& d : others)
    d->on_complete([ue, left] {
      if (left->fetch_sub(1) == 1) {
        clSetUserEventStatus(ue, CL_COMPLETE);
        clReleaseEvent(ue);
      }
    });
}

std::shared_ptr<event_impl> wrap_cl_event(cl_event e, queue_impl& q) {
  auto ev = std::make_shared<event_impl>(e, q.ctx);
  q.ctx->prepare_thread_to_run_commands();
  clFlush(q.cl);
  return ev;
}

bool fill_on_device(const handler_impl& h) {
  const size_t ps = h.pattern.size();
  return ps && ps <= 128 && (ps & (ps - 1)) == 0 && reinterpret_cast<uintptr_t>(h.dst) % ps == 0;
}

// Sub-buffers made for interior pointers of one launch; released once it is
// enqueued (OpenCL keeps them until the kernel is done).
struct launch_views {
  std::vector<cl_mem> views;
  ~launch_views() {
    for (cl_mem v : views) clReleaseMemObject(v);
  }
};

// A pointer argument: SVM, or on a context without SVM the buffer object of
// the device memory it points into (a sub-buffer from an interior pointer).
cl_int set_pointer_arg(context_impl& ctx, cl_kernel k, int index, const void* ptr, launch_views& lv) {
  if (!ctx.mirrored()) return clSetKernelArgSVMPointer(k, index, ptr);
  if (!ptr) return clSetKernelArg(k, index, sizeof(cl_mem), nullptr);
  const std::optional<device_span> span = ctx.device_memory(ptr);
  if (!span)
    throw_error(errc::kernel_argument, "kernel argument " + std::to_string(index) +
                                           ": the pointer is not device memory of the queue's context (on a device "
                                           "without SVM kernels take device USM and buffers only)");
  if (span->offset == 0) return clSetKernelArg(k, index, sizeof(cl_mem), &span->mem);
  const cl_buffer_region region{span->offset, span->size - span->offset};
  cl_int err = CL_SUCCESS;
  cl_mem view = clCreateSubBuffer(span->mem, CL_MEM_READ_WRITE, CL_BUFFER_CREATE_TYPE_REGION, &region, &err);
  if (err != CL_SUCCESS) throw_cl("clCreateSubBuffer", err);
  lv.views.push_back(view);
  return clSetKernelArg(k, index, sizeof(cl_mem), &view);
}

// A copy on a context without SVM, where one side at least is device memory.
cl_int enqueue_mirrored_copy(queue_impl& q, const handler_impl& h, cl_uint n, const cl_event* list, cl_event* e) {
  const std::optional<device_span> dst = q.ctx->device_memory(h.dst), src = q.ctx->device_memory(h.src);
  if (dst && src)
    return q.ctx->transfers().copy(q.cl, src->mem, src->offset, dst->mem, dst->offset, h.bytes, n, list, e);
  if (src) return clEnqueueReadBuffer(q.cl, src->mem, CL_FALSE, src->offset, h.bytes, h.dst, n, list, e);
  return q.ctx->transfers().write(q.ctx->cl, q.cl, dst->mem, dst->offset, h.src, h.bytes, n, list, e);
}

cl_int enqueue_mirrored_fill(queue_impl& q, const handler_impl& h, cl_uint n, const cl_event* list, cl_event* e) {
  const device_span dst = *q.ctx->device_memory(h.dst);
  return q.ctx->transfers().fill(q.ctx->cl, q.cl, dst.mem, dst.offset, h.pattern.data(), h.pattern.size(),
                                 h.pattern.size() * h.count, n, list, e);
}

// Whether a copy or fill of a context without SVM touches device memory (else it runs on the host).
// A null pointer is refused, as OpenCL's SVM copies and fills refuse it.
bool touches_device_memory(const handler_impl& h) {
  const context_impl& ctx = *h.queue->ctx;
  const bool copy = h.kind == handler_impl::kind_t::memcpy;
  if ((copy ? h.bytes : h.count) != 0 && (!h.dst || (copy && !h.src)))
    throw_error(errc::invalid, copy ? "memcpy: a null pointer" : "fill: a null pointer");
  if (copy) return ctx.device_memory(h.dst) || ctx.device_memory(h.src);
  return ctx.device_memory(h.dst).has_value();
}

std::shared_ptr<event_impl> enqueue_cl(handler_impl& h, const std::vector<std::shared_ptr<event_impl>>& deps) {
  queue_impl& q = *h.queue;
  simulator_calls calls(q.ctx.get());
  wait_list wl;
  build_wait_list(deps, *q.ctx, &wl);
  const cl_uint n = static_cast<cl_uint>(wl.events.size());
  const cl_event* list = n ? wl.events.data() : nullptr;
  cl_event e = nullptr;
  cl_int err = CL_SUCCESS;
  switch (h.kind) {
    case handler_impl::kind_t::cl_kernel: {
      kernel_impl& k = *h.kernel;
      std::lock_guard<std::mutex> lk(k.m);
      launch_views views;
      for (const auto& [index, a] : h.args) {
        cl_int r = CL_SUCCESS;
        if (a.kind == kernel_arg::bytes) r = clSetKernelArg(k.cl, index, a.data.size(), a.data.data());
        else if (a.kind == kernel_arg::pointer) r = set_pointer_arg(*q.ctx, k.cl, index, a.ptr, views);
        else r = clSetKernelArg(k.cl, index, a.local_bytes, nullptr);
        if (r != CL_SUCCESS) throw_cl(("clSetKernelArg (argument " + std::to_string(index) + ")").c_str(), r);
      }
      // SYCL's last dimension varies fastest; OpenCL's first does.
      size_t g[3], l[3], o[3];
      for (int d = 0; d < h.dims; ++d) {
        g[d] = h.global[h.dims - 1 - d];
        l[d] = h.local[h.dims - 1 - d];
        o[d] = h.offset[h.dims - 1 - d];
      }
      err = clEnqueueNDRangeKernel(q.cl, k.cl, static_cast<cl_uint>(h.dims), o, g, h.has_local ? l : nullptr, n,
                                   list, &e);
      if (err != CL_SUCCESS) throw_cl("clEnqueueNDRangeKernel", err);
      break;
    }
    case handler_impl::kind_t::memcpy:
      if (h.bytes == 0) err = clEnqueueMarkerWithWaitList(q.cl, n, list, &e);
      else if (q.ctx->mirrored()) err = enqueue_mirrored_copy(q, h, n, list, &e);
      else err = clEnqueueSVMMemcpy(q.cl, CL_FALSE, h.dst, h.src, h.bytes, n, list, &e);
      if (err != CL_SUCCESS) throw_cl(q.ctx->mirrored() ? "clEnqueueCopyBuffer" : "clEnqueueSVMMemcpy", err);
      break;
    case handler_impl::kind_t::fill:
      if (h.count == 0) err = clEnqueueMarkerWithWaitList(q.cl, n, list, &e);
      else if (q.ctx->mirrored()) err = enqueue_mirrored_fill(q, h, n, list, &e);
      else
        err = clEnqueueSVMMemFill(q.cl, h.dst, h.pattern.data(), h.pattern.size(), h.pattern.size() * h.count, n,
                                  list, &e);
      if (err != CL_SUCCESS) throw_cl(q.ctx->mirrored() ? "clEnqueueFillBuffer" : "clEnqueueSVMMemFill", err);
      break;
    default:
      err = clEnqueueMarkerWithWaitList(q.cl, n, list, &e);
      if (err != CL_SUCCESS) throw_cl("clEnqueueMarkerWithWaitList", err);
      break;
  }
  return wrap_cl_event(e, q);
}

// The work of a command that runs on the host.
std::function<void()> host_work(handler_impl& h) {
  switch (h.kind) {
    case handler_impl::kind_t::host_task: {
      auto q = h.queue;
      return [task = std::move(h.task), q]() mutable {
        interop_handle ih(q);
        task(ih);
      };
    }
    case handler_impl::kind_t::host_kernel:
      return [k = std::move(h.hk), locals = h.local_sizes] { run_host_kernel(k, locals); };
    case handler_impl::kind_t::memcpy:
      return [d = h.dst, s = h.src, n = h.bytes] {
        if (n) std::memmove(d, s, n);
      };
    case handler_impl::kind_t::fill:
      return [d = static_cast<char*>(h.dst), p = h.pattern, c = h.count] {
        for (size_t i = 0; i < c; ++i) std::memcpy(d + i * p.size(), p.data(), p.size());
      };
    default: return [] {};
  }
}

// Whether a command on `ctx` would wait for `deps` through a user event
// (dependencies that are not OpenCL events of the context, still pending).
bool waits_for_host_events(const std::vector<std::shared_ptr<event_impl>>& deps, const context_impl& ctx) {
  for (const auto& d : deps)
    if (!(d->cl && d->ctx && d->ctx->cl == ctx.cl) && !d->is_complete()) return true;
  return false;
}

// Runs `run` on the pool once every event of `deps` has completed.
void after_all(const std::vector<std::shared_ptr<event_impl>>& deps, std::function<void()> run) {
  std::vector<std::shared_ptr<event_impl>> open;
  for (const auto& d : deps)
    if (!d->is_complete()) open.push_back(d);
  if (open.empty()) {
    post(std::move(run));
    return;
  }
  auto left = std::make_shared<std::atomic<size_t>>(open.size());
  auto shared = std::make_shared<std::function<void()>>(std::move(run));
  for (const auto& d : open)
    d->on_complete([left, shared] {
      if (left->fetch_sub(1) == 1) post(std::move(*shared));
    });
}

// A device command of a context without SVM that depends on host events:
// enqueued once they have completed (see simulator_mutex()). Its event
// completes with the OpenCL command's.
std::shared_ptr<event_impl> enqueue_cl_later(const handler_impl& h, const std::vector<std::shared_ptr<event_impl>>& deps) {
  auto ev = std::make_shared<event_impl>();
  ev->t_submit = now_ns();
  auto held = std::make_shared<handler_impl>(h);
  std::weak_ptr<queue_impl> wq = h.queue;
  after_all(deps, [ev, held, deps, wq] {
    ev->t_start = now_ns();
    ev->set_running();
    try {
      const std::shared_ptr<event_impl> done = enqueue_cl(*held, deps);
      done->on_complete([ev, done] {
        ev->t_end = now_ns();
        ev->set_complete();
      });
    } catch (...) {
      if (auto q = wq.lock()) q->add_error(std::current_exception());
      ev->t_end = now_ns();
      ev->set_complete();
    }
  });
  return ev;
}

std::shared_ptr<event_impl> start_host(handler_impl& h, const std::vector<std::shared_ptr<event_impl>>& deps) {
  auto ev = std::make_shared<event_impl>();
  // The clock is read only for profiling: at a microsecond per command its
  // reads would be a good part of the cost.
  const bool stamps = h.queue->profiling;
  std::weak_ptr<queue_impl> wq = h.queue;
  std::function<void()> host = host_work(h);
  auto work = std::make_shared<std::function<void()>>(
      h.queue->ctx->mirrored()
          ? std::function<void()>([ctx = h.queue->ctx, host = std::move(host)] { ctx->run_with_mirrors(host); })
          : std::move(host));
  // `submitted`: ready at submission, with no dependency left to wait for.
  auto run = [ev, wq, work, stamps](bool submitted) {
    auto command = std::make_shared<host_command>([ev, wq, work, stamps] {
      if (stamps) ev->t_start = now_ns();
      ev->set_running();
      try {
        (*work)();
      } catch (...) {
        if (auto q = wq.lock()) q->add_error(std::current_exception());
      }
      work->operator=(nullptr);  // drop captured accessors before completion
      if (stamps) ev->t_end = now_ns();
      complete_host_command(*ev);
    });
    ev->set_ready(command);
    offer_host_command(std::move(command), submitted);
  };
  std::vector<std::shared_ptr<event_impl>> open;
  for (const auto& d : deps)
    if (!d->is_complete()) open.push_back(d);
  if (open.empty()) {
    run(true);
    return ev;
  }
  auto left = std::make_shared<std::atomic<size_t>>(open.size());
  for (const auto& d : open)
    d->on_complete([left, run] {
      if (left->fetch_sub(1) == 1) run(false);
    });
  return ev;
}

}  // namespace

event queue_submit(const std::shared_ptr<queue_impl>& q, void* cgf, cgf_thunk thunk, const code_location& loc) {
  const uint64_t submitted = q->profiling ? now_ns() : 0;
  handler_impl h(q);
  {
    handler cgh(&h);
    thunk(cgf, cgh);
  }
  // A recording queue adds the command group to its graph instead of running it.
  if (const std::shared_ptr<graph_impl> graph = recording_graph_of(*q)) {
    graph->record(loc);
    return event();
  }
  fail_submit_on_request(loc);
  const bool on_device = !q->dev->is_host() && h.kind != handler_impl::kind_t::host_task &&
                         h.kind != handler_impl::kind_t::host_kernel &&
                         !(h.kind == handler_impl::kind_t::fill && !fill_on_device(h)) &&
                         !(q->ctx->mirrored() && (h.kind == handler_impl::kind_t::memcpy ||
                                                  h.kind == handler_impl::kind_t::fill) &&
                           !touches_device_memory(h));
  std::lock_guard<std::mutex> sub(submission_mutex());
  std::lock_guard<std::mutex> lk(q->m);
  std::vector<std::shared_ptr<event_impl>> deps = h.deps;
  for (const auto& r : h.reqs) {
    auto c = r.storage->conflicts(r.mode);
    deps.insert(deps.end(), c.begin(), c.end());
  }
  if (q->in_order && q->last) deps.push_back(q->last);
  std::shared_ptr<event_impl> ev = !on_device ? start_host(h, deps)
                                   : q->ctx->mirrored() && waits_for_host_events(deps, *q->ctx) ? enqueue_cl_later(h, deps)
                                                                                               : enqueue_cl(h, deps);
  ev->queue = q;
  ev->loc = loc;
  ev->profiling = q->profiling;
  ev->t_submit = submitted;
  for (const auto& r : h.reqs) r.storage->record(r.mode, ev);
  if (q->in_order) q->last = ev;
  q->pending.erase(std::remove_if(q->pending.begin(), q->pending.end(),
                                  [](const std::shared_ptr<event_impl>& e) { return e->is_complete(); }),
                   q->pending.end());
  q->pending.push_back(ev);
  // Accessors of the command keep their memory alive until it completes.
  if (!h.reqs.empty()) {
    auto keep = std::make_shared<std::vector<requirement>>(std::move(h.reqs));
    ev->on_complete([keep] {});
  }
  return event(ev);
}

}  // namespace detail

// ---- interop_handle ----------------------------------------------------------------

backend interop_handle::get_backend() const noexcept { return queue_->dev->get_backend(); }
detail::native_handle_t interop_handle::native(int which) const {
  if (queue_->dev->is_host()) detail::throw_error(errc::backend_mismatch, "Backends mismatch");
  switch (which) {
    case 0: return reinterpret_cast<detail::native_handle_t>(queue_->cl);
    case 1: return reinterpret_cast<detail::native_handle_t>(queue_->dev->cl);
    default: return reinterpret_cast<detail::native_handle_t>(queue_->ctx->cl);
  }
}

// ---- queue -------------------------------------------------------------------------

queue::queue(const property_list& props) : queue(device(), props) {}
queue::queue(const async_handler& handler, const property_list& props) : queue(device(), handler, props) {}
queue::queue(const device& dev, const property_list& props) : queue(dev, async_handler(), props) {}
namespace {
// The platform's default context, or one of its own for a device outside it (a sub-device).
std::shared_ptr<detail::context_impl> context_for(const std::shared_ptr<detail::device_impl>& d) {
  auto shared = d->platform->default_context();
  if (shared->has_device(d.get())) return shared;
  return std::make_shared<detail::context_impl>(d->platform, std::vector<std::shared_ptr<detail::device_impl>>{d},
                                                async_handler());
}
}  // namespace

queue::queue(const device& dev, const async_handler& handler, const property_list& props)
    : impl_(std::make_shared<detail::queue_impl>(context_for(detail::get_impl(dev)), detail::get_impl(dev), props,
                                                 handler)) {}
queue::queue(const context& ctx, const device& dev, const property_list& props)
    : queue(ctx, dev, async_handler(), props) {}
queue::queue(const context& ctx, const device& dev, const async_handler& handler, const property_list& props)
    : impl_(std::make_shared<detail::queue_impl>(detail::get_impl(ctx), detail::get_impl(dev), props, handler)) {}

backend queue::get_backend() const noexcept { return impl_->dev->get_backend(); }
context queue::get_context() const { return context(impl_->ctx); }
device queue::get_device() const { return device(impl_->dev); }
bool queue::is_in_order() const { return impl_->in_order; }
const property_list& queue::properties() const { return impl_->props; }
void queue::wait(const detail::code_location&) { impl_->wait_all(); }
void queue::wait_and_throw(const detail::code_location&) {
  impl_->wait_all();
  impl_->throw_asynchronous();
}
void queue::throw_asynchronous() { impl_->throw_asynchronous(); }
std::size_t queue::ext_ulmara_unfinished_commands() const {
  std::lock_guard<std::mutex> lk(impl_->m);
  return static_cast<std::size_t>(std::count_if(impl_->pending.begin(), impl_->pending.end(),
                                                [](const std::shared_ptr<detail::event_impl>& e) {
                                                  return !e->is_complete();
                                                }));
}

event queue::ext_ulmara_submit_barrier(const detail::code_location& loc) {
  std::vector<event> all;
  {
    std::lock_guard<std::mutex> lk(impl_->m);
    for (const auto& e : impl_->pending) all.push_back(event(e));
  }
  return ext_ulmara_submit_barrier(all, loc);
}
event queue::ext_ulmara_submit_barrier(const std::vector<event>& wait_list, const detail::code_location& loc) {
  return submit([&](handler& h) { h.ext_ulmara_barrier(wait_list); }, loc);
}
}  // namespace _V1
}  // namespace sycl
