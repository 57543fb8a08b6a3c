// Eight threads at once, each creating, committing and computing its own
// descriptors of several backends (forward and backward, USM and buffers),
// half on one shared queue and half on queues of their own, with verbose
// mode 2 writing every line to one file; beside them, threads that build
// the same kernel-cache key and keys of their own. Results are checked
// against the long-double reference; the verbose file must hold one whole
// line per compute. On the CPU queue, threads at once compute batches that
// run as chunks, on the CPU engine's shared thread team or alone when the
// team is busy, and each must match the reference. In fresh processes, the
// kernel cache's first use, a device's first architecture query and
// registrations of teardown callbacks during a run of the table happen on
// eight threads at once. Run under ThreadSanitizer too.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <fstream>
#include <regex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <unistd.h>

#include "gpu/service/device_registry.hpp"
#include "gpu/service/kernel_cache.hpp"
#include "gpu/service/kernel_entry_points.hpp"
#include "gpu/service/native_handles.hpp"
#include "gpu/service/opencl_loader.hpp"
#include "gpu/service/sycl_destructor_registry.hpp"
#include "gpu/service/program_build.hpp"
#include "qez_service_control.h"
#include "tests/reliability/public_case.hpp"

namespace {

namespace gpu = ulmara::qez::gpu;
using namespace reliability_test;

constexpr int transform_threads = 8;
constexpr int cache_threads = 4;
constexpr int first_use_threads = 8;

// Shapes that go to different backends under the default profile.
const std::vector<case_shape> shapes = {
    {false, {7}},      // a prime: the default 1D backend
    {false, {64}},     // two factors
    {true, {16}},      // real 1D
    {false, {4, 6}},   // small multi-dimensional
    {true, {6, 8}},    // real 2D
};

sycl::queue& shared_queue() {
  static sycl::queue q{sycl::gpu_selector_v};
  return q;
}

// Every shape in both precisions, on USM and on buffers.
void run_every_case(sycl::queue& queue, std::atomic<int>& computes) {
  for (const case_shape& s : shapes)
    for (data_kind kind : {data_kind::usm, data_kind::buffer}) {
      run_public_case<qd::precision::SINGLE>(s, queue, kind);
      run_public_case<qd::precision::DOUBLE>(s, queue, kind);
      computes += 4;  // two precisions, two directions
    }
}

std::string kernel_source(int key) {
  return "kernel void add_key(global int* x) { x[get_global_id(0)] += " + std::to_string(key) + "; }\n";
}

// Half the cache threads ask for one key, the others for a key each.
void build_kernels(int index, sycl::queue& queue, gpu::qez_gpu_kernel_struct_t** handle) {
  const std::string source = kernel_source(index % 2 == 0 ? 0 : 100 + index);
  int status = 0;
  *handle = gpu::get_OCL_kernel(&status, &queue, gpu::domain_dft, source.c_str(), "add_key", "-cl-std=CL1.2");
  EXPECT_EQ(status, 0);
}

class verbose_file {
 public:
  verbose_file() : path_("/tmp/qez_concurrency_verbose_" + std::to_string(getpid()) + ".txt") {
    std::remove(path_.c_str());
    qez_standin_set_verbose_output_file(path_.c_str());
    qez_standin_set_verbose_mode(2);
  }
  ~verbose_file() {
    qez_standin_set_verbose_mode(0);
    qez_standin_set_verbose_output_file("");
    std::remove(path_.c_str());
  }
  std::vector<std::string> lines() const {
    std::ifstream in(path_);
    std::vector<std::string> out;
    for (std::string line; std::getline(in, line);) out.push_back(line);
    return out;
  }

 private:
  std::string path_;
};

TEST(Concurrency, EightThreadsComputeWhileOthersBuildKernels) {
  verbose_file verbose;
  std::atomic<int> computes{0};
  std::atomic<int> ready{0};
  const int everyone = transform_threads + cache_threads;
  const auto wait_for_all = [&] {
    ++ready;
    while (ready.load() < everyone) std::this_thread::yield();
  };
  const std::uint64_t builds_before = gpu::program_build_count();
  std::vector<gpu::qez_gpu_kernel_struct_t*> handles(cache_threads, nullptr);
  std::vector<std::thread> threads;
  for (int t = 0; t < transform_threads; ++t)
    threads.emplace_back([&, t] {
      wait_for_all();
      if (t % 2 == 0) {
        run_every_case(shared_queue(), computes);
      } else {
        sycl::queue own{sycl::gpu_selector_v};
        run_every_case(own, computes);
      }
    });
  for (int t = 0; t < cache_threads; ++t)
    threads.emplace_back([&, t] {
      wait_for_all();
      build_kernels(t, shared_queue(), &handles[t]);
    });
  for (std::thread& t : threads) t.join();

  // One program per distinct key, whoever asked first building it.
  const std::set<gpu::qez_gpu_kernel_struct_t*> distinct(handles.begin(), handles.end());
  EXPECT_EQ(distinct.size(), static_cast<std::size_t>(cache_threads));
  EXPECT_EQ(distinct.count(nullptr), 0u);
  EXPECT_GE(gpu::program_build_count(), builds_before + 1 + cache_threads / 2);
  for (gpu::qez_gpu_kernel_struct_t* h : handles) {
    int status = 0;
    gpu::release_kernel(&status, h);
  }

  // Every compute wrote one whole line, none torn by another thread's.
  const std::string timing = "(N/A|[0-9.]+(s|ms|us|ns))";
  const std::regex line("QEZ_VERBOSE FFT\\(.+\\), host:" + timing + " device:" + timing + " GPU[0-9]+");
  int fft_lines = 0;
  for (const std::string& l : verbose.lines()) {
    if (l.rfind("QEZ_VERBOSE FFT(", 0) != 0) continue;
    ++fft_lines;
    EXPECT_TRUE(std::regex_match(l, line)) << l;
  }
  EXPECT_EQ(fft_lines, computes.load());
}

// Batches of 2^18 points run as eight chunks of 2^15 points, shared out on
// two threads: the caller's and a helper of the engine's team. Four threads
// compute at once, two on one CPU queue and two on queues of their own, so
// callers that find the team busy run their chunks alone; every result,
// however its chunks ran, is checked against the reference.
TEST(Concurrency, CpuBatchesComputedAtOnceMatchTheReference) {
  const case_shape complex_batch{false, {16}, 1.0L / 16, 16384, 2};
  const case_shape real_batch{true, {32}, 1.0L, 8192, 2};
  sycl::queue shared_cpu{sycl::cpu_selector_v};
  std::atomic<int> ready{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&, t] {
      ++ready;
      while (ready.load() < 4) std::this_thread::yield();
      sycl::queue own{sycl::cpu_selector_v};
      sycl::queue& queue = t % 2 == 0 ? shared_cpu : own;
      run_public_case<qd::precision::SINGLE>(complex_batch, queue, data_kind::usm);
      run_public_case<qd::precision::DOUBLE>(real_batch, queue, data_kind::buffer);
    });
  for (std::thread& t : threads) t.join();
}

// Runs use(t) on eight threads that first wait for each other, so that
// they reach the library together.
template <class Use>
void at_once_on_threads(Use use) {
  std::atomic<int> ready{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < first_use_threads; ++t)
    threads.emplace_back([&, t] {
      ++ready;
      while (ready.load() < first_use_threads) std::this_thread::yield();
      use(t);
    });
  for (std::thread& t : threads) t.join();
}

// Eight threads insert one key into a kernel cache that nothing in this
// process has used yet, so the table is made while the others reach for it.
// The key names the native context and no queue, so an insert looks at the
// table first, before any lock of the runtime or the device registry could
// order the threads. Exits 0 when every thread got the one entry the cache
// then holds.
[[noreturn]] void exit_after_first_kernel_cache_use() {
  sycl::queue queue{sycl::gpu_selector_v};
  int status = 0;
  gpu::load_opencl_library();
  void* device = gpu::get_device_id(&status, &queue);
  void* context = gpu::native_context_handle(nullptr, &queue, gpu::backend_of_queue);
  const char* source = "kernel void first_use(void) {}";
  cl_int error = CL_SUCCESS;
  cl_program program =
      gpu::ocl::clCreateProgramWithSource(static_cast<cl_context>(context), 1, &source, nullptr, &error);
  if (error != CL_SUCCESS) _exit(2);

  std::vector<gpu::kernel_cache_entry*> entries(first_use_threads, nullptr);
  at_once_on_threads([&](int t) {
    int insert_status = 0;
    entries[t] = gpu::kernel_cache_insert(&insert_status, nullptr, program, device, context, gpu::domain_dft,
                                          "first_use", nullptr, 0, nullptr, 0);
  });
  const std::set<gpu::kernel_cache_entry*> distinct(entries.begin(), entries.end());
  const bool one_entry = distinct.size() == 1 && *distinct.begin() != nullptr &&
                         gpu::kernel_cache_entry_count() == 1 &&
                         gpu::kernel_cache_entry_program(*distinct.begin()) == program;
  gpu::ocl::clReleaseProgram(program);
  _exit(one_entry ? 0 : 1);
}

// Thread 0 asks for the architecture of a device whose record has none yet
// and detects it. Thread 1 watches the record's flag with relaxed loads,
// which order nothing, and asks as soon as it sees the flag set, so it reads
// what thread 0 published without the record's lock; alone, so that no
// other thread's accesses to the record push thread 0's write out of the
// sanitizer's memory. The six others then ask at once and contend for the
// lock while records are copied under it. Exits 0 when all got the same
// detected architecture.
[[noreturn]] void exit_after_first_architecture_use() {
  sycl::queue queue{sycl::gpu_selector_v};
  int status = 0;
  qez_gpu_device_record_t* record = gpu::get_device_record(&status, &queue);  // no architecture yet
  std::vector<qez_gpu_device_info_t> infos(first_use_threads);
  std::atomic<bool> watcher_done{false};
  at_once_on_threads([&](int t) {
    if (t == 1)
      while (__atomic_load_n(&record->architecture_detected, __ATOMIC_RELAXED) == 0) std::this_thread::yield();
    if (t > 1)
      while (!watcher_done.load()) std::this_thread::yield();
    try {
      gpu::get_device_info_with_arch(&queue, &infos[t]);
    } catch (...) {
      infos[t] = {};
    }
    if (t == 1) watcher_done = true;
  });
  bool same = true;
  for (const qez_gpu_device_info_t& info : infos)
    same = same && info.architecture_detected == 1 && info.architecture == infos[0].architecture &&
           info.record_lock == 0;
  _exit(same ? 0 : 1);
}

std::atomic<int> teardown_runs{0};
void count_teardown_run() { ++teardown_runs; }

// Seven threads register teardown callbacks while an eighth runs the table
// without its lock, as the local teardown does. Exits 0 when a later run
// calls each of the seven callbacks once.
[[noreturn]] void exit_after_registering_during_a_local_run() {
  at_once_on_threads([](int t) {
    if (t == 0)
      qez_sycl_destructor_local();
    else
      gpu::register_sycl_destructor(count_teardown_run);
  });
  const int before = teardown_runs.load();
  qez_sycl_destructor_local();
  _exit(teardown_runs.load() - before == first_use_threads - 1 ? 0 : 1);
}

// Runs the scenario in a child that is a new run of this executable (the
// threadsafe death-test style execs it again), so no earlier case has made
// the table or detected the architecture; a race that ThreadSanitizer
// reports there ends the child with its own exit code and the report comes
// out with the failure.
void expect_clean_child(void (*scenario)()) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(scenario(), ::testing::ExitedWithCode(0), "");
}

TEST(ConcurrencyDeathTest, FirstKernelCacheUseOnEightThreadsAtOnce) {
  expect_clean_child(exit_after_first_kernel_cache_use);
}

TEST(ConcurrencyDeathTest, FirstArchitectureQueryOnEightThreadsAtOnce) {
  expect_clean_child(exit_after_first_architecture_use);
}

TEST(ConcurrencyDeathTest, TeardownTableRunWhileThreadsRegister) {
  expect_clean_child(exit_after_registering_during_a_local_run);
}

}  // namespace
