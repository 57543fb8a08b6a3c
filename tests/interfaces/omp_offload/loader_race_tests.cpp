// The runtime found on the library search path and slow to load: threads
// that ask for it at once load it once and all see the same result.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <thread>
#include <vector>

#include "interfaces/omp_offload/omptarget_loader.hpp"

namespace {

namespace omp = ulmara::qez::omp;

TEST(OmpRuntimeRace, ConcurrentFirstLoadsLoadOnce) {
  // The runtime double then takes 100 ms to load: the threads meet inside.
  setenv("QEZ_OMP_DOUBLE_SLOW_LOAD", "1", 1);
  constexpr int thread_count = 8;
  std::atomic<bool> go{false};
  std::vector<int> results(thread_count, -7);
  std::vector<std::thread> threads;
  for (int t = 0; t < thread_count; ++t)
    threads.emplace_back([&, t] {
      while (!go.load()) std::this_thread::yield();
      results[t] = omp::load_omptarget_library();
    });
  go.store(true);
  for (std::thread& t : threads) t.join();
  for (int r : results) EXPECT_EQ(r, 0);
  EXPECT_EQ(omp::omptarget_load_attempts(), 1);
}

// Every function calls through once loaded: an absent interop object is
// answered by the runtime with its "empty" return code.
TEST(OmpRuntimeRace, EveryFunctionCallsThrough) {
  ASSERT_EQ(omp::load_omptarget_library(), 0);
  int rc = 0;
  EXPECT_EQ(omp::omp_get_interop_int(nullptr, omp::omp_ipr_fr_id, &rc), 0);
  EXPECT_EQ(rc, omp::omp_irc_empty);
  rc = 0;
  EXPECT_EQ(omp::omp_get_interop_ptr(nullptr, omp::omp_ipr_targetsync, &rc), nullptr);
  EXPECT_EQ(rc, omp::omp_irc_empty);
  rc = 0;
  EXPECT_EQ(omp::omp_get_interop_str(nullptr, omp::omp_ipr_fr_id, &rc), nullptr);
  EXPECT_EQ(rc, omp::omp_irc_empty);
  EXPECT_EQ(omp::ompx_interop_add_completion_callback(nullptr, nullptr, nullptr), 0);
  EXPECT_EQ(omp::omptarget_load_attempts(), 1);
}

}  // namespace
