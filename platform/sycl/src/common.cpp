// SYCL stand-in: exceptions, clocks and the host thread pool.
#include <time.h>

#include <thread>

#include "runtime.hpp"

namespace sycl {
inline namespace _V1 {

namespace {
class sycl_error_category : public std::error_category {
 public:
  const char* name() const noexcept override { return "sycl"; }
  std::string message(int v) const override {
    static const char* const names[] = {"success", "runtime", "kernel", "accessor", "nd_range",
                                        "event", "kernel_argument", "build", "invalid", "memory_allocation",
                                        "platform", "profiling", "feature_not_supported",
                                        "kernel_not_supported", "backend_mismatch"};
    return v >= 0 && v < 15 ? names[v] : "unknown";
  }
};
}  // namespace

const std::error_category& sycl_category() noexcept {
  static const sycl_error_category cat;
  return cat;
}
std::error_code make_error_code(errc e) noexcept { return std::error_code(static_cast<int>(e), sycl_category()); }

exception::exception(std::error_code ec, const std::string& what_arg)
    : code_(ec), what_(std::make_shared<std::string>(what_arg)) {}
exception::exception(std::error_code ec, const char* what_arg) : exception(ec, std::string(what_arg)) {}
exception::exception(std::error_code ec) : exception(ec, std::string()) {}
exception::exception(int ev, const std::error_category& cat, const std::string& what_arg)
    : exception(std::error_code(ev, cat), what_arg) {}
exception::exception(int ev, const std::error_category& cat, const char* what_arg)
    : exception(std::error_code(ev, cat), std::string(what_arg)) {}
exception::exception(int ev, const std::error_category& cat) : exception(std::error_code(ev, cat)) {}
exception::exception(context ctx, std::error_code ec, const std::string& what_arg) : exception(ec, what_arg) {
  context_ = detail::get_impl(ctx);
}
exception::exception(context ctx, std::error_code ec) : exception(std::move(ctx), ec, std::string()) {}
exception::~exception() = default;
context exception::get_context() const {
  if (!context_) throw exception(make_error_code(errc::invalid), "the exception has no context");
  return context(context_);
}

namespace detail {

void throw_error(errc code, const std::string& text) { throw sycl::exception(make_error_code(code), text); }

void throw_cl(const char* call, cl_int code, errc code_class) {
  if (code_class == errc::runtime) {
    switch (code) {
      case CL_INVALID_WORK_GROUP_SIZE:
      case CL_INVALID_WORK_ITEM_SIZE:
      case CL_INVALID_GLOBAL_WORK_SIZE:
      case CL_INVALID_GLOBAL_OFFSET:
      case CL_INVALID_WORK_DIMENSION: code_class = errc::nd_range; break;
      case CL_INVALID_KERNEL_ARGS:
      case CL_INVALID_ARG_INDEX:
      case CL_INVALID_ARG_SIZE:
      case CL_INVALID_ARG_VALUE: code_class = errc::kernel_argument; break;
      case CL_MEM_OBJECT_ALLOCATION_FAILURE:
      case CL_OUT_OF_HOST_MEMORY: code_class = errc::memory_allocation; break;
      default: break;
    }
  }
  throw_error(code_class, std::string(call) + ": OpenCL error " + std::to_string(code));
}

void check_cl(const char* call, cl_int code) {
  if (code != CL_SUCCESS) throw_cl(call, code);
}

uint64_t now_ns() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC_RAW, &ts);
  return static_cast<uint64_t>(ts.tv_sec) * 1000000000ull + static_cast<uint64_t>(ts.tv_nsec);
}

unsigned host_concurrency() {
  static const unsigned n = std::max(2u, std::thread::hardware_concurrency());
  return n;
}

bool spin_until(const std::function<bool()>& done, uint64_t ns) {
  const uint64_t end = now_ns() + ns;
  for (unsigned i = 1;; ++i) {
    if (done()) return true;
    if (i % 64 == 0 && now_ns() >= end) return false;
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#else
    std::this_thread::yield();
#endif
  }
}

namespace {
class thread_pool {
 public:
  void post(std::function<void()> job) {
    std::unique_lock<std::mutex> lk(m_);
    jobs_.push_back(std::move(job));
    queued_.store(jobs_.size(), std::memory_order_release);
    if (jobs_.size() <= watching_) return;  // the watching thread takes it
    // A thread for every job that the sleeping and the watching ones cannot take.
    if (jobs_.size() > idle_ + watching_ && threads_ < k_max_threads) {
      ++threads_;
      std::thread([this] { work(); }).detach();
      return;
    }
    // Woken after the unlock, the idle thread does not block on the mutex.
    lk.unlock();
    cv_.notify_one();
  }

 private:
  static constexpr size_t k_max_threads = 1024;
  // How long an idle thread watches for the next job before it sleeps: a
  // caller that submits host commands one after the other then wakes no
  // thread.
  static constexpr uint64_t k_watch_ns = 50000;

  // One idle thread at a time watches for a job without the mutex; a post
  // that it will take wakes no one. Called and returns with `lk` held.
  void watch_for_job(std::unique_lock<std::mutex>& lk) {
    if (!jobs_.empty() || watching_ > 0) return;
    ++watching_;
    lk.unlock();
    spin_until([this] { return queued_.load(std::memory_order_acquire) > 0; }, k_watch_ns);
    lk.lock();
    --watching_;
  }

  void work() {
    std::unique_lock<std::mutex> lk(m_);
    for (;;) {
      watch_for_job(lk);
      while (jobs_.empty()) {
        ++idle_;
        bool timed_out = cv_.wait_for(lk, std::chrono::seconds(30)) == std::cv_status::timeout;
        --idle_;
        if (timed_out && jobs_.empty() && threads_ > host_concurrency()) {
          --threads_;
          return;
        }
      }
      std::function<void()> job = std::move(jobs_.front());
      jobs_.pop_front();
      queued_.store(jobs_.size(), std::memory_order_release);
      lk.unlock();
      job();
      job = nullptr;
      lk.lock();
    }
  }
  std::mutex m_;
  std::condition_variable cv_;
  std::deque<std::function<void()>> jobs_;
  std::atomic<size_t> queued_{0};  // jobs_.size(), for the watching thread
  size_t idle_ = 0;
  size_t threads_ = 0;
  size_t watching_ = 0;  // 0 or 1
};

thread_pool& pool() {
  // Never destroyed: detached workers may still run while the process exits.
  static thread_pool* p = new thread_pool;
  return *p;
}
}  // namespace

void post(std::function<void()> job) { pool().post(std::move(job)); }

void parallel_loop(size_t n, const std::function<void(size_t)>& fn) {
  if (n == 0) return;
  struct state {
    std::atomic<size_t> next{0};
    std::atomic<size_t> done{0};
    size_t n;
    const std::function<void(size_t)>* fn;
    std::mutex m;
    std::condition_variable cv;
    std::exception_ptr error;
  };
  auto s = std::make_shared<state>();
  s->n = n;
  s->fn = &fn;
  auto drain = [](const std::shared_ptr<state>& st) {
    for (;;) {
      size_t i = st->next.fetch_add(1);
      if (i >= st->n) return;
      try {
        (*st->fn)(i);
      } catch (...) {
        std::lock_guard<std::mutex> lk(st->m);
        if (!st->error) st->error = std::current_exception();
      }
      if (st->done.fetch_add(1) + 1 == st->n) {
        std::lock_guard<std::mutex> lk(st->m);
        st->cv.notify_all();
      }
    }
  };
  const size_t helpers = std::min<size_t>(n, host_concurrency()) - 1;
  for (size_t h = 0; h < helpers; ++h) post([s, drain] { drain(s); });
  drain(s);
  std::unique_lock<std::mutex> lk(s->m);
  s->cv.wait(lk, [&] { return s->done.load() == s->n; });
  if (s->error) std::rethrow_exception(s->error);
}

}  // namespace detail
}  // namespace _V1
}  // namespace sycl
