// SYCL stand-in: exceptions, clocks and the host thread pool.
#include <time.h>

#include <algorithm>
#include <cstdint>
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
// The command that runs next on this pool thread: the first one that the
// completion of a command it ran readied.
thread_local std::shared_ptr<host_command> t_next_command;
// Set while a pool thread completes a host command it ran, to t_next_command.
thread_local std::shared_ptr<host_command>* t_continuation = nullptr;
thread_local bool t_pool_thread = false;
// Host commands running on this thread, one inside another's body when a
// host task waits for a command and runs it itself.
thread_local int t_command_depth = 0;

class thread_pool {
 public:
  // `delay_ns`: how long the watching thread leaves the job (see offer_host_command).
  void post(std::function<void()> job, const host_command* command = nullptr, uint64_t delay_ns = 0) {
    const uint64_t now = now_ns();
    const uint64_t due_ns = delay_ns != 0 ? now + delay_ns : 0;
    std::unique_lock<std::mutex> lk(m_);
    jobs_.push_back(pool_job{std::move(job), command, due_ns});
    if (due_ns == 0) ++immediate_;
    polled_.last_post_ns.store(now, std::memory_order_relaxed);
    publish();
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

  // Drops the job of `command`, which a waiting thread runs itself.
  void withdraw(const host_command* command) {
    std::lock_guard<std::mutex> lk(m_);
    for (auto it = jobs_.end(); it != jobs_.begin();) {
      --it;
      if (it->command == command) {
        if (it->due_ns == 0) --immediate_;
        jobs_.erase(it);
        publish();
        return;
      }
    }
  }

 private:
  struct pool_job {
    std::function<void()> run;
    const host_command* command;  // the host command it runs, if any
    uint64_t due_ns;              // before this the watching thread leaves it
  };
  static constexpr size_t k_max_threads = 1024;
  // How long an idle thread watches for the next job before it sleeps: a
  // caller that submits host commands one after the other then wakes no
  // thread.
  static constexpr uint64_t k_watch_ns = 50000;

  // The queue's length and earliest due time, for the watching thread;
  // delayed jobs come due in the order they were posted, others at once.
  // Called with m_ held.
  void publish() {
    const uint64_t due = immediate_ > 0 ? 0 : jobs_.empty() ? UINT64_MAX : jobs_.front().due_ns;
    polled_.next_due.store(due, std::memory_order_relaxed);
    polled_.queued.store(jobs_.size(), std::memory_order_release);
  }

  bool job_due() const {
    return polled_.queued.load(std::memory_order_acquire) > 0 &&
           now_ns() >= polled_.next_due.load(std::memory_order_relaxed);
  }

  // One idle thread at a time watches for a due job without the mutex; a
  // post that it will take wakes no one. It watches until k_watch_ns have
  // passed without a post: jobs that their submitters withdraw keep it
  // awake. Called and returns with `lk` held.
  void watch_for_job(std::unique_lock<std::mutex>& lk) {
    if (watching_ > 0 || (!jobs_.empty() && job_due())) return;
    ++watching_;
    lk.unlock();
    const uint64_t start = now_ns();
    const auto quiet_for_a_while = [&] {
      return now_ns() - std::max(start, polled_.last_post_ns.load(std::memory_order_relaxed)) >= k_watch_ns;
    };
    while (!spin_until([this] { return job_due(); }, k_watch_ns) && !quiet_for_a_while()) continue;
    lk.lock();
    --watching_;
  }

  // The first job that is due, else the first one. Called with m_ held.
  pool_job take_job() {
    const uint64_t now = now_ns();
    auto it = std::find_if(jobs_.begin(), jobs_.end(), [now](const pool_job& j) { return j.due_ns <= now; });
    if (it == jobs_.end()) it = jobs_.begin();
    pool_job job = std::move(*it);
    if (job.due_ns == 0) --immediate_;
    jobs_.erase(it);
    publish();
    return job;
  }

  void work() {
    t_pool_thread = true;
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
      pool_job job = take_job();
      lk.unlock();
      job.run();
      job.run = nullptr;
      // Host commands readied by the ones this thread completed.
      while (std::shared_ptr<host_command> next = std::move(t_next_command)) next->run_once();
      lk.lock();
    }
  }
  std::mutex m_;
  std::condition_variable cv_;
  std::deque<pool_job> jobs_;
  // What the watching thread polls, on a cache line of its own: sharing the
  // mutex's line, every post's lock and unlock would miss in the cache.
  struct alignas(64) polled_line {
    std::atomic<size_t> queued{0};          // jobs_.size()
    std::atomic<uint64_t> next_due{0};      // the earliest due time in jobs_
    std::atomic<uint64_t> last_post_ns{0};
  } polled_;
  size_t immediate_ = 0;  // jobs in jobs_ due at once
  size_t idle_ = 0;
  size_t threads_ = 0;
  size_t watching_ = 0;  // 0 or 1
};

thread_pool& pool() {
  // Never destroyed: detached workers may still run while the process exits.
  static thread_pool* p = new thread_pool;
  return *p;
}

// How long the watching thread leaves a command that its submitter is
// expected to run: a caller that submits and then waits gets there in well
// under a microsecond.
constexpr uint64_t k_submitter_grace_ns = 5000;
}  // namespace

void post(std::function<void()> job) { pool().post(std::move(job)); }

void offer_host_command(std::shared_ptr<host_command> command, bool submitted) {
  if (t_continuation != nullptr && !*t_continuation) {
    *t_continuation = std::move(command);
    return;
  }
  const host_command* key = command.get();
  pool().post([command = std::move(command)] { command->run_once(); }, key,
              submitted ? k_submitter_grace_ns : 0);
}

void withdraw_host_command(const host_command* command) { pool().withdraw(command); }

void host_command::run_claimed() {
  struct depth_scope {
    depth_scope() { ++t_command_depth; }
    ~depth_scope() { --t_command_depth; }
  } depth;
  body_();
  body_ = nullptr;  // drops what the command holds, its event included
}

// Only a command that the pool thread runs at its top level hands on its
// continuation: one nested in another command's body would hold it back
// until the outer body has returned, which may wait for it.
void complete_host_command(event_impl& ev) {
  if (!t_pool_thread || t_command_depth != 1 || t_continuation != nullptr) {
    ev.set_complete();
    return;
  }
  // The work loop has run the last continuation: t_next_command is empty.
  t_continuation = &t_next_command;
  ev.set_complete();
  t_continuation = nullptr;
}

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
