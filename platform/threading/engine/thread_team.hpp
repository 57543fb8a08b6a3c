// The engine's team of helper threads, shared by every descriptor of the
// process: a chunked transform hands its work to the team instead of
// starting threads on each call.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

namespace ulmara {
namespace qez {
namespace cpu_engine {

// Helper threads started on first use, as many as the largest request so
// far, and joined when the team is destroyed (at exit or when the library is
// unloaded). One job runs on the team at a time; a caller that finds the
// team busy runs its job alone, so concurrent transforms never wait on each
// other. Safe to call from any thread.
class thread_team {
public:
  // A job's work: called on the calling thread and on each helper that
  // joins, it must take its share of the work until none is left (helpers
  // may join late or not at all).
  using work_fn = void (*)(void* context);

  thread_team() = default;
  thread_team(const thread_team&) = delete;
  thread_team& operator=(const thread_team&) = delete;
  ~thread_team();

  // Runs `work(context)` on the calling thread and on up to `helpers`
  // helper threads, and returns when every call has returned. Helpers that
  // cannot be started leave their share to the others.
  void run(int helpers, work_fn work, void* context);

private:
  // Starts helpers until there are `count`, as far as the system allows;
  // called under mutex_.
  void grow_to(std::size_t count);
  void serve();

  std::mutex busy_;  // held by the caller whose job the team runs
  std::mutex mutex_;
  std::condition_variable wake_;  // a new job, or the end
  std::condition_variable idle_;  // the last helper left the job
  std::vector<std::thread> helpers_;
  work_fn work_ = nullptr;
  void* context_ = nullptr;
  std::uint64_t job_ = 0;  // the current job's number, 0 before the first
  int seats_ = 0;          // helpers the current job may still take
  int running_ = 0;        // helpers inside the current job
  bool stopping_ = false;
};

// The team every plan of the process runs its chunks on.
thread_team& engine_thread_team();

}  // namespace cpu_engine
}  // namespace qez
}  // namespace ulmara
