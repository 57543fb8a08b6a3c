// The engine's persistent team of helper threads.
#include "platform/threading/engine/thread_team.hpp"

#include <algorithm>

namespace ulmara {
namespace qez {
namespace cpu_engine {

thread_team::~thread_team() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_all();
  for (std::thread& t : helpers_) t.join();
}

void thread_team::grow_to(std::size_t count) {
  try {
    helpers_.reserve(count);
    while (helpers_.size() < count) helpers_.emplace_back([this] { serve(); });
  } catch (...) {
    // Fewer helpers than asked for: the jobs run on those there are.
  }
}

void thread_team::run(int helpers, work_fn work, void* context) {
  std::unique_lock<std::mutex> busy(busy_, std::try_to_lock);
  if (helpers <= 0 || !busy.owns_lock()) {
    work(context);
    return;
  }
  {
    std::lock_guard<std::mutex> lock(mutex_);
    grow_to(static_cast<std::size_t>(helpers));
    work_ = work;
    context_ = context;
    ++job_;
    seats_ = std::min<int>(helpers, static_cast<int>(helpers_.size()));
  }
  wake_.notify_all();
  work(context);
  // The work is done once the caller's share returns; helpers that have not
  // joined yet are no longer needed, and those inside are waited for.
  std::unique_lock<std::mutex> lock(mutex_);
  seats_ = 0;
  idle_.wait(lock, [this] { return running_ == 0; });
  work_ = nullptr;
  context_ = nullptr;
}

void thread_team::serve() {
  std::uint64_t served = 0;
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    wake_.wait(lock, [&] { return stopping_ || (seats_ > 0 && job_ != served); });
    if (stopping_) return;
    served = job_;
    --seats_;
    ++running_;
    const work_fn work = work_;
    void* const context = context_;
    lock.unlock();
    work(context);
    lock.lock();
    if (--running_ == 0) idle_.notify_one();
  }
}

thread_team& engine_thread_team() {
  static thread_team team;
  return team;
}

}  // namespace cpu_engine
}  // namespace qez
}  // namespace ulmara
