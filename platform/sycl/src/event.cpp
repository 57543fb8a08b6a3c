// SYCL stand-in: events (OpenCL events or host-side completion flags).
#include "runtime.hpp"

namespace sycl {
inline namespace _V1 {
namespace detail {

event_impl::event_impl(cl_event e, std::shared_ptr<context_impl> c) : cl(e), ctx(std::move(c)) {}

event_impl::~event_impl() {
  simulator_calls calls(ctx.get());
  if (cl) clReleaseEvent(cl);
}

bool event_impl::is_complete() {
  if (done_.load(std::memory_order_acquire)) return true;
  if (!cl) return false;
  simulator_calls calls(ctx.get());
  cl_int st = CL_QUEUED;
  if (clGetEventInfo(cl, CL_EVENT_COMMAND_EXECUTION_STATUS, sizeof st, &st, nullptr) != CL_SUCCESS) return true;
  return st <= CL_COMPLETE;
}

info::event_command_status event_impl::status() {
  if (is_complete()) return info::event_command_status::complete;
  if (cl) {
    simulator_calls calls(ctx.get());
    cl_int st = CL_QUEUED;
    clGetEventInfo(cl, CL_EVENT_COMMAND_EXECUTION_STATUS, sizeof st, &st, nullptr);
    return st == CL_RUNNING ? info::event_command_status::running : info::event_command_status::submitted;
  }
  std::lock_guard<std::mutex> lk(m_);
  return running_ ? info::event_command_status::running : info::event_command_status::submitted;
}

namespace {
// How long a thread waiting for a host command watches before it sleeps.
constexpr uint64_t k_wait_watch_ns = 20000;
}  // namespace

void event_impl::wait() {
  if (cl && ctx && ctx->nivolo) {
    // Commands of the Nivolo backend are waited for through the driver; a
    // wait the driver fails is an error of the wait itself, raised here.
    check_qx("qxextEventHostSynchronize", loaded_nivolo_driver()->qxextEventHostSynchronize(cl));
    return;
  }
  if (cl) {
    cl_int err = CL_SUCCESS;
    {
      simulator_calls calls(ctx.get());
      if (ctx) ctx->prepare_thread_to_run_commands();
      err = clWaitForEvents(1, &cl);
    }
    if (err != CL_SUCCESS) {
      if (auto q = queue.lock())
        q->add_error(std::make_exception_ptr(
            sycl::exception(make_error_code(errc::runtime), "command failed: OpenCL error " + std::to_string(err))));
    }
    return;
  }
  std::unique_lock<std::mutex> lk(m_);
  for (;;) {
    if (done_) return;
    if (ready_) {
      const std::shared_ptr<host_command> command = std::move(ready_);
      has_ready_.store(false, std::memory_order_relaxed);
      lk.unlock();
      if (command->claim()) {
        withdraw_host_command(command.get());
        command->run_claimed();
      }
      lk.lock();
      continue;
    }
    // Another thread runs the command, or it waits for others: watch a
    // while before sleeping, since a short command ends sooner than a
    // sleeping thread wakes.
    lk.unlock();
    spin_until(
        [this] { return done_.load(std::memory_order_acquire) || has_ready_.load(std::memory_order_acquire); },
        k_wait_watch_ns);
    lk.lock();
    cv_.wait(lk, [&] { return done_ || ready_; });
  }
}

void CL_CALLBACK event_impl::cl_done(cl_event, cl_int, void* self) {
  // Called on an OpenCL thread: hand the work to our own threads.
  auto* holder = static_cast<std::shared_ptr<event_impl>*>(self);
  std::shared_ptr<event_impl> ev = std::move(*holder);
  delete holder;
  std::vector<std::function<void()>> cbs;
  {
    std::lock_guard<std::mutex> lk(ev->m_);
    ev->done_ = true;
    cbs.swap(ev->callbacks_);
  }
  ev->cv_.notify_all();
  if (!cbs.empty())
    post([cbs = std::move(cbs)] {
      for (const auto& cb : cbs) cb();
    });
}

void event_impl::on_complete(std::function<void()> fn) {
  std::unique_lock<std::mutex> lk(m_);
  if (done_) {
    lk.unlock();
    fn();
    return;
  }
  callbacks_.push_back(std::move(fn));
  if (cl && !cl_callback_set_) {
    cl_callback_set_ = true;
    lk.unlock();
    auto* holder = new std::shared_ptr<event_impl>(shared_from_this());
    bool callback_set = false;
    {
      // Oclgrind calls no callback set on an event already complete.
      simulator_calls calls(ctx.get());
      cl_int st = CL_QUEUED;
      const bool finished = ctx && ctx->mirrored() &&
                            clGetEventInfo(cl, CL_EVENT_COMMAND_EXECUTION_STATUS, sizeof st, &st, nullptr) ==
                                CL_SUCCESS &&
                            st <= CL_COMPLETE;
      callback_set = !finished && clSetEventCallback(cl, CL_COMPLETE, &event_impl::cl_done, holder) == CL_SUCCESS;
      if (!callback_set && !finished) {
        if (ctx) ctx->prepare_thread_to_run_commands();
        clWaitForEvents(1, &cl);
      }
    }
    if (!callback_set) {
      delete holder;
      std::vector<std::function<void()>> cbs;
      {
        std::lock_guard<std::mutex> lk2(m_);
        done_ = true;
        cbs.swap(callbacks_);
      }
      cv_.notify_all();
      for (const auto& cb : cbs) cb();
    }
  }
}

void event_impl::set_ready(std::shared_ptr<host_command> command) {
  {
    std::lock_guard<std::mutex> lk(m_);
    if (done_) return;
    ready_ = std::move(command);
    has_ready_.store(true, std::memory_order_release);
  }
  cv_.notify_all();
}

void event_impl::set_running() {
  std::lock_guard<std::mutex> lk(m_);
  running_ = true;
}

void event_impl::set_complete() {
  std::vector<std::function<void()>> cbs;
  {
    std::lock_guard<std::mutex> lk(m_);
    done_ = true;
    cbs.swap(callbacks_);
    ready_ = nullptr;
    has_ready_.store(false, std::memory_order_relaxed);
  }
  cv_.notify_all();
  for (const auto& cb : cbs) cb();
}

std::shared_ptr<event_impl> make_complete_event() {
  auto e = std::make_shared<event_impl>();
  e->t_submit = e->t_start = e->t_end = now_ns();
  e->set_complete();
  return e;
}

}  // namespace detail

event::event() : impl_(detail::make_complete_event()) {}
backend event::get_backend() const noexcept {
  if (impl_->cl) return impl_->ctx && impl_->ctx->nivolo ? backend::ext_ulmara_nivolo : backend::opencl;
  return backend::ext_ulmara_host;
}
void event::wait() {
  impl_->wait();
  detail::fail_wait_on_request(*impl_);
}
void event::wait_and_throw() {
  impl_->wait();
  if (auto q = impl_->queue.lock()) q->throw_asynchronous();
}
void event::wait(const std::vector<event>& events) {
  for (auto e : events) e.wait();
}
void event::wait_and_throw(const std::vector<event>& events) {
  for (auto e : events) e.wait_and_throw();
}
int event::info_value(detail::info_id id) const {
  if (id != detail::info_id::event_command_execution_status)
    detail::throw_error(errc::invalid, "unsupported event information query");
  return static_cast<int>(impl_->status());
}
uint64_t event::profiling_value(detail::info_id id) const {
  if (!impl_->profiling)
    detail::throw_error(errc::invalid, "profiling information needs a queue with property::queue::enable_profiling");
  if (id != detail::info_id::event_profiling_command_submit) impl_->wait();
  if (impl_->cl) {
    cl_profiling_info what = id == detail::info_id::event_profiling_command_submit  ? CL_PROFILING_COMMAND_SUBMIT
                             : id == detail::info_id::event_profiling_command_start ? CL_PROFILING_COMMAND_START
                                                                                    : CL_PROFILING_COMMAND_END;
    if (id == detail::info_id::event_profiling_command_submit && impl_->t_submit) return impl_->t_submit;
    cl_ulong v = 0;
    detail::check_cl("clGetEventProfilingInfo", clGetEventProfilingInfo(impl_->cl, what, sizeof v, &v, nullptr));
    return v;
  }
  switch (id) {
    case detail::info_id::event_profiling_command_submit: return impl_->t_submit;
    case detail::info_id::event_profiling_command_start: return impl_->t_start;
    case detail::info_id::event_profiling_command_end: return impl_->t_end;
    default: detail::throw_error(errc::invalid, "unsupported profiling query");
  }
}
detail::code_location event::ext_ulmara_code_location() const { return impl_->loc; }

}  // namespace _V1
}  // namespace sycl
