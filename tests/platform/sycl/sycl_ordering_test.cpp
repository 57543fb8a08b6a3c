// Ordering of commands: dependencies, in-order and out-of-order queues,
// accessor dependencies, profiling data.
#include <atomic>
#include <chrono>
#include <future>
#include <thread>
#include <vector>

#include "sycl_test_util.hpp"

namespace {

using namespace std::chrono_literals;
constexpr int k_spin = 20000;  // kernel work that makes a missing dependency visible

// A host task that blocks until released (released at the latest after 20 s,
// so a bug cannot hang the test).
struct gate {
  std::promise<void> open;
  std::shared_future<void> opened = open.get_future().share();
  std::atomic<bool> done{false};
  void release() {
    if (!done.exchange(true)) open.set_value();
  }
  sycl::event block(sycl::queue& q) {
    auto f = opened;
    return q.submit([&](sycl::handler& h) { h.host_task([f] { f.wait_for(20s); }); });
  }
};

TEST(SyclOrdering, HostTaskAfterKernelSeesItsResult) {
  sycl::queue q(sycl::gpu_selector_v);
  sycl::kernel slow = qez_test::build_kernel(q, qez_test::slow_kernels(), "slow_fill");
  constexpr int n = 1024;
  int* data = sycl::malloc_device<int>(n, q);
  q.memset(data, 0, n * sizeof(int)).wait();
  for (int round = 0; round < 3; ++round) {
    auto k = q.submit([&](sycl::handler& h) {
      h.set_args(data, round + 1, k_spin);
      h.parallel_for(sycl::range<1>(n), slow);
    });
    int bad = -1;
    q.submit([&](sycl::handler& h) {
       h.depends_on(k);
       h.host_task([&] {
         bad = 0;
         for (int i = 0; i < n; ++i) bad += data[i] != round + 1;
       });
     }).wait();
    EXPECT_EQ(bad, 0) << "round " << round;
  }
  sycl::free(data, q);
}

TEST(SyclOrdering, InOrderQueueChainsKernelsAndHostTasks) {
  sycl::queue q(sycl::gpu_selector_v, sycl::property::queue::in_order());
  EXPECT_TRUE(q.is_in_order());
  sycl::kernel add_one = qez_test::build_kernel(q, qez_test::slow_kernels(), "add_one");
  constexpr int n = 512;
  int* data = sycl::malloc_shared<int>(n, q);
  q.fill(data, 0, n);
  for (int i = 0; i < 5; ++i) {
    q.submit([&](sycl::handler& h) {
      h.set_arg(0, data);
      h.parallel_for(sycl::range<1>(n), add_one);
    });
    q.submit([&](sycl::handler& h) {
      h.host_task([=] {
        for (int j = 0; j < n; ++j) data[j] *= 2;
      });
    });
    q.parallel_for(sycl::range<1>(n), [=](sycl::id<1> j) { data[j] += 1; });
  }
  q.wait();
  int expect = 0;
  for (int i = 0; i < 5; ++i) expect = (expect + 1) * 2 + 1;
  for (int j = 0; j < n; ++j) ASSERT_EQ(data[j], expect) << j;
  sycl::free(data, q);
}

TEST(SyclOrdering, OutOfOrderQueueRunsIndependentCommandsOutOfOrder) {
  sycl::queue q(sycl::gpu_selector_v);
  ASSERT_FALSE(q.is_in_order());
  sycl::kernel slow = qez_test::build_kernel(q, qez_test::slow_kernels(), "slow_fill");
  int* a = sycl::malloc_device<int>(64, q);
  int* b = sycl::malloc_device<int>(64, q);
  gate g;
  sycl::event blocked = g.block(q);
  // Kernel A waits for the blocked host task; kernel B depends on nothing.
  auto ka = q.submit([&](sycl::handler& h) {
    h.depends_on(blocked);
    h.set_args(a, 1, 10);
    h.parallel_for(sycl::range<1>(64), slow);
  });
  auto kb = q.submit([&](sycl::handler& h) {
    h.set_args(b, 2, 10);
    h.parallel_for(sycl::range<1>(64), slow);
  });
  kb.wait();  // completes while A still waits
  EXPECT_NE(ka.get_info<sycl::info::event::command_execution_status>(), sycl::info::event_command_status::complete);
  EXPECT_NE(blocked.get_info<sycl::info::event::command_execution_status>(),
            sycl::info::event_command_status::complete);
  // A host-run kernel is independent too.
  q.parallel_for(sycl::range<1>(64), [=](sycl::id<1> i) { b[i] += 1; }).wait();
  EXPECT_NE(ka.get_info<sycl::info::event::command_execution_status>(), sycl::info::event_command_status::complete);
  g.release();
  ka.wait();
  int ha[64], hb[64];
  q.memcpy(ha, a, sizeof ha).wait();
  q.memcpy(hb, b, sizeof hb).wait();
  EXPECT_EQ(ha[63], 1);
  EXPECT_EQ(hb[63], 3);
  sycl::free(a, q);
  sycl::free(b, q);
}

TEST(SyclOrdering, InOrderQueueNeverOvertakes) {
  sycl::queue q(sycl::gpu_selector_v, sycl::property::queue::in_order());
  sycl::kernel slow = qez_test::build_kernel(q, qez_test::slow_kernels(), "slow_fill");
  int* b = sycl::malloc_device<int>(64, q);
  gate g;
  sycl::event blocked = g.block(q);
  auto kb = q.submit([&](sycl::handler& h) {
    h.set_args(b, 2, 10);
    h.parallel_for(sycl::range<1>(64), slow);
  });
  std::this_thread::sleep_for(200ms);
  EXPECT_NE(kb.get_info<sycl::info::event::command_execution_status>(), sycl::info::event_command_status::complete);
  g.release();
  kb.wait();
  EXPECT_EQ(blocked.get_info<sycl::info::event::command_execution_status>(),
            sycl::info::event_command_status::complete);
  sycl::free(b, q);
}

TEST(SyclOrdering, DependentKernelsNeverOverlap) {
  sycl::queue q(sycl::gpu_selector_v, sycl::property::queue::enable_profiling());
  sycl::kernel slow = qez_test::build_kernel(q, qez_test::slow_kernels(), "slow_fill");
  sycl::kernel copy_plus = qez_test::build_kernel(q, qez_test::slow_kernels(), "copy_plus");
  constexpr int n = 2048;
  int* a = sycl::malloc_device<int>(n, q);
  int* b = sycl::malloc_shared<int>(n, q);
  auto first = q.submit([&](sycl::handler& h) {
    h.set_args(a, 9, k_spin);
    h.parallel_for(sycl::range<1>(n), slow);
  });
  auto second = q.submit([&](sycl::handler& h) {
    h.depends_on(first);
    h.set_args(a, b, 1);
    h.parallel_for(sycl::range<1>(n), copy_plus);
  });
  second.wait();
  EXPECT_GE(second.get_profiling_info<sycl::info::event_profiling::command_start>(),
            first.get_profiling_info<sycl::info::event_profiling::command_end>());
  for (int i = 0; i < n; ++i) ASSERT_EQ(b[i], 10) << i;
  sycl::free(a, q);
  sycl::free(b, q);
}

TEST(SyclOrdering, AccessorsOrderWritersAndReadersOfOneBuffer) {
  sycl::queue q(sycl::gpu_selector_v, sycl::property::queue::enable_profiling());
  sycl::kernel slow = qez_test::build_kernel(q, qez_test::slow_kernels(), "slow_fill");
  sycl::kernel copy_plus = qez_test::build_kernel(q, qez_test::slow_kernels(), "copy_plus");
  constexpr int n = 2048;
  sycl::buffer<int> buf{sycl::range<1>(n)};
  sycl::buffer<int> out1{sycl::range<1>(n)}, out2{sycl::range<1>(n)};
  std::vector<sycl::event> ev;
  for (int round = 0; round < 3; ++round) {
    ev.push_back(q.submit([&](sycl::handler& h) {  // writer
      sycl::accessor w(buf, h, sycl::write_only);
      h.set_args(w, 10 * (round + 1), k_spin);
      h.parallel_for(sycl::range<1>(n), slow);
    }));
    ev.push_back(q.submit([&](sycl::handler& h) {  // reader (OpenCL)
      sycl::accessor r(buf, h, sycl::read_only);
      sycl::accessor o(out1, h, sycl::write_only);
      h.set_args(r, o, round);
      h.parallel_for(sycl::range<1>(n), copy_plus);
    }));
    ev.push_back(q.submit([&](sycl::handler& h) {  // reader (host task)
      sycl::accessor r(buf, h, sycl::read_only);
      sycl::accessor o(out2, h, sycl::write_only);
      h.host_task([=] {
        for (int i = 0; i < n; ++i) o[i] = r[i] - round;
      });
    }));
    sycl::host_accessor h1(out1, sycl::read_only);
    sycl::host_accessor h2(out2, sycl::read_only);
    for (int i = 0; i < n; i += 97) {
      ASSERT_EQ(h1[i], 10 * (round + 1) + round);
      ASSERT_EQ(h2[i], 10 * (round + 1) - round);
    }
  }
  // Each writer started after the readers of the previous round ended.
  for (int round = 1; round < 3; ++round) {
    const auto start = ev[3 * round].get_profiling_info<sycl::info::event_profiling::command_start>();
    EXPECT_GE(start, ev[3 * round - 1].get_profiling_info<sycl::info::event_profiling::command_end>());
    EXPECT_GE(start, ev[3 * round - 2].get_profiling_info<sycl::info::event_profiling::command_end>());
  }
}

TEST(SyclProfiling, TimesWithEnableProfilingAndInvalidWithout) {
  sycl::queue q(sycl::gpu_selector_v, sycl::property::queue::enable_profiling());
  EXPECT_TRUE(q.has_property<sycl::property::queue::enable_profiling>());
  sycl::kernel slow = qez_test::build_kernel(q, qez_test::slow_kernels(), "slow_fill");
  int* a = sycl::malloc_device<int>(256, q);
  auto k = q.submit([&](sycl::handler& h) {
    h.set_args(a, 1, 100);
    h.parallel_for(sycl::range<1>(256), slow);
  });
  auto t = q.submit([&](sycl::handler& h) {
    h.depends_on(k);
    h.host_task([] { std::this_thread::sleep_for(2ms); });
  });
  t.wait();
  for (const sycl::event& e : {k, t}) {
    const uint64_t s = e.get_profiling_info<sycl::info::event_profiling::command_submit>();
    const uint64_t b = e.get_profiling_info<sycl::info::event_profiling::command_start>();
    const uint64_t f = e.get_profiling_info<sycl::info::event_profiling::command_end>();
    EXPECT_GT(s, 0u);
    EXPECT_LE(s, b);
    EXPECT_LE(b, f);
  }
  // One clock for OpenCL commands and host tasks.
  EXPECT_GE(t.get_profiling_info<sycl::info::event_profiling::command_start>(),
            k.get_profiling_info<sycl::info::event_profiling::command_end>());
  EXPECT_GE(t.get_profiling_info<sycl::info::event_profiling::command_end>() -
                t.get_profiling_info<sycl::info::event_profiling::command_start>(),
            2000000u);

  sycl::queue plain(sycl::gpu_selector_v);
  EXPECT_FALSE(plain.has_property<sycl::property::queue::enable_profiling>());
  auto e = plain.memset(a, 0, 256 * sizeof(int));
  e.wait();
  for (int which = 0; which < 3; ++which) {
    try {
      if (which == 0) e.get_profiling_info<sycl::info::event_profiling::command_submit>();
      if (which == 1) e.get_profiling_info<sycl::info::event_profiling::command_start>();
      if (which == 2) e.get_profiling_info<sycl::info::event_profiling::command_end>();
      ADD_FAILURE() << "no exception for query " << which;
    } catch (const sycl::exception& x) {
      EXPECT_EQ(x.code(), sycl::errc::invalid);
    }
  }
  EXPECT_THROW(sycl::event().get_profiling_info<sycl::info::event_profiling::command_end>(), sycl::exception);
  sycl::free(a, q);
}

TEST(SyclEvents, BarriersAndCodeLocations) {
  sycl::queue q(sycl::gpu_selector_v);
  int* a = sycl::malloc_shared<int>(16, q);
  auto e1 = q.fill(a, 1, 8);
  auto e2 = q.fill(a + 8, 2, 8);
  auto b = q.ext_ulmara_submit_barrier({e1, e2});
  b.wait();
  EXPECT_EQ(a[0] + a[15], 3);
  q.parallel_for(sycl::range<1>(16), [=](sycl::id<1> i) { a[i] *= 3; });
  q.ext_ulmara_submit_barrier().wait();  // everything submitted so far
  EXPECT_EQ(a[15], 6);
  EXPECT_STREQ(e1.ext_ulmara_code_location().functionName(), "TestBody");
  EXPECT_EQ(sycl::event().get_info<sycl::info::event::command_execution_status>(),
            sycl::info::event_command_status::complete);
  EXPECT_EQ(q.ext_ulmara_get_state(), sycl::ext::ulmara::experimental::queue_state::executing);
  sycl::free(a, q);
}

TEST(SyclEvents, AsynchronousErrorsOfHostTasks) {
  sycl::queue plain(sycl::gpu_selector_v);
  plain.submit([&](sycl::handler& h) { h.host_task([] { throw std::runtime_error("host task failed"); }); });
  EXPECT_THROW(plain.wait_and_throw(), std::runtime_error);
  plain.wait_and_throw();  // reported once

  int calls = 0;
  size_t count = 0;
  sycl::queue handled(sycl::gpu_selector_v, [&](sycl::exception_list l) {
    ++calls;
    count += l.size();
  });
  handled.submit([&](sycl::handler& h) { h.host_task([] { throw sycl::exception(sycl::make_error_code(sycl::errc::runtime), "x"); }); });
  handled.wait_and_throw();
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(count, 1u);
}

// Host commands run once each, in order, whether the pool runs them or a
// thread waiting for their events does; and they run with no one waiting.
TEST(SyclEvents, HostTasksRunOnceInOrderWhoeverWaits) {
  sycl::queue q(sycl::cpu_selector_v, sycl::property::queue::in_order());
  constexpr int tasks = 400;
  constexpr int waiters = 4;
  std::vector<int> order;
  std::atomic<int> runs{0};
  std::vector<sycl::event> events;
  for (int i = 0; i < tasks; ++i)
    events.push_back(q.submit([&, i](sycl::handler& h) {
      h.host_task([&, i] {
        order.push_back(i);  // in order: no two tasks of the queue overlap
        ++runs;
      });
    }));
  std::vector<std::thread> threads;
  for (int t = 0; t < waiters; ++t)
    threads.emplace_back([&, t] {
      for (int i = tasks - 1 - t; i >= 0; i -= waiters) events[i].wait();
    });
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(runs.load(), tasks);
  ASSERT_EQ(order.size(), static_cast<size_t>(tasks));
  for (int i = 0; i < tasks; ++i) EXPECT_EQ(order[i], i);

  std::promise<void> ran;
  q.submit([&](sycl::handler& h) { h.host_task([&] { ran.set_value(); }); });
  EXPECT_EQ(ran.get_future().wait_for(20s), std::future_status::ready);
  q.wait();
}

// A completion that readies two host commands runs them apart: the pool
// thread that completed the first command may run one of them next, but the
// other must not wait behind it, since here the one waits for the other.
TEST(SyclEvents, HostCommandsReadiedTogetherRunApart) {
  sycl::queue q(sycl::cpu_selector_v);
  for (int round = 0; round < 10; ++round) {
    gate g;
    const sycl::event first = g.block(q);
    std::promise<void> sibling_ran;
    std::shared_future<void> sibling = sibling_ran.get_future().share();
    std::promise<bool> waiter_saw_sibling;
    q.submit([&](sycl::handler& h) {
      h.depends_on(first);
      h.host_task([sibling, &waiter_saw_sibling] {
        waiter_saw_sibling.set_value(sibling.wait_for(20s) == std::future_status::ready);
      });
    });
    q.submit([&](sycl::handler& h) {
      h.depends_on(first);
      h.host_task([&sibling_ran] { sibling_ran.set_value(); });
    });
    g.release();
    EXPECT_TRUE(waiter_saw_sibling.get_future().get()) << "round " << round;
    q.wait();
  }
}

}  // namespace

namespace {
// A queue dropped while its host task still runs: the task finishes, and
// whoever drops the last reference does not wait for itself.
TEST(SyclOrdering, DroppingAQueueDoesNotWait) {
  std::atomic<bool> ran{false};
  sycl::event e;
  {
    sycl::queue q(sycl::gpu_selector_v);
    e = q.submit([&](sycl::handler& h) {
      h.host_task([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        ran = true;
      });
    });
  }
  e.wait();
  EXPECT_TRUE(ran.load());
}
}  // namespace
