// Kernel cache, program build, kernel entry points, launch and events with
// real OpenCL C programs on the GPU profile over PoCL.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <numeric>
#include <regex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#include <sanitizer/lsan_interface.h>
#define QEZ_TEST_LEAK_CHECK 1
#endif
#endif
#include <sycl/sycl.hpp>

#include "gpu/service/architecture.hpp"
#include "gpu/service/device_registry.hpp"
#include "gpu/service/events.hpp"
#include "gpu/service/kernel_cache.hpp"
#include "gpu/service/kernel_entry_points.hpp"
#include "gpu/service/kernel_launch.hpp"
#include "gpu/service/native_handles.hpp"
#include "gpu/service/opencl_loader.hpp"
#include "gpu/service/program_build.hpp"
#include "gpu/service/temp_buffers.hpp"
#include "qez_gpu_profile.h"
#include "qez_service.h"
#include "qez_service_control.h"

namespace gpu = ulmara::qez::gpu;

namespace {

// One program with every kernel the launch tests run; built once per process.
constexpr const char* test_program = R"CLC(
kernel void scale(global float* x, float a, int n) {
  size_t i = get_global_id(0);
  if (i < (size_t)n) x[i] *= a;
}
kernel void mark_2d(global int* out, int width) {
  int x = get_global_id(0), y = get_global_id(1);
  out[y * width + x] = y * 1000 + x + 100000 * (int)get_local_size(0) + 10000000 * (int)get_local_size(1);
}
kernel void mark_3d(global int* out, int nx, int ny) {
  int x = get_global_id(0), y = get_global_id(1), z = get_global_id(2);
  out[(z * ny + y) * nx + x] = z * 10000 + y * 100 + x;
}
kernel void reverse_groups(global int* data, local int* scratch) {
  size_t l = get_local_id(0), n = get_local_size(0), g = get_global_id(0);
  scratch[l] = data[g];
  barrier(CLK_LOCAL_MEM_FENCE);
  data[g] = scratch[n - 1 - l];
}
kernel void widths(global long* out, char c, short s, long l) {
  out[get_global_id(0)] = (long)c + (long)s * 1000 + l;
}
kernel void add_one(global int* x) { x[get_global_id(0)] += 1; }
kernel void nothing(void) {}
)CLC";
constexpr const char* program_name = "gpu_service_test.qez_service_kernels_s";
constexpr const char* options = "-cl-std=CL1.2";

class Kernels : public ::testing::Test {
protected:
  sycl::queue queue{sycl::gpu_selector_v};
  int status = 0;

  sycl::kernel* kernel(const char* name) {
    return gpu::get_OCL_kernel_by_progname(&status, &queue, gpu::domain_dft, program_name, test_program, name,
                                           options);
  }
  // A caller-owned handle around a kernel of the test program.
  gpu::qez_gpu_kernel_struct_t handle_of(sycl::kernel* k) { return {nullptr, gpu::kernel_owned, k}; }
  std::string device_name() { return queue.get_device().get_info<sycl::info::device::name>(); }
  bool on_nivolo() const { return queue.get_backend() == sycl::backend::ext_ulmara_nivolo; }

  // The text of the exception a kernel request raises.
  template <class Request>
  std::string failure_of(Request request) {
    try {
      request();
    } catch (const sycl::exception& e) {
      EXPECT_EQ(e.code(), sycl::make_error_code(sycl::errc::runtime));
      return e.what();
    }
    ADD_FAILURE() << "no exception";
    return std::string();
  }
  std::string build_failure(const char* source, const char* kernel_name) {
    return failure_of([&] { gpu::get_OCL_kernel(&status, &queue, gpu::domain_dft, source, kernel_name, options); });
  }
  // A binary that cannot be loaded: OpenCL refuses it with -42, the Nivolo
  // driver with a failed module build (70000004).
  std::string creation_failure(const char* kernel_name) {
    static const std::uint8_t garbage[64] = {1, 2, 3};
    const gpu::qez_gpu_binary_kernel_t binary = {sizeof garbage, garbage, nullptr, nullptr};
    return failure_of([&] { gpu::get_binary_kernel(&status, &queue, gpu::domain_dft, &binary, kernel_name); });
  }
  std::string creation_failure_code() const { return on_nivolo() ? "Nivolo error:70000004" : "OpenCL error -42"; }
};

template <class T>
T* shared(sycl::queue& q, std::size_t n) {
  return static_cast<T*>(sycl::malloc_shared(n * sizeof(T), q));
}

// ---- cache and entry points ----

TEST_F(Kernels, SameProgramNameAndOptionsBuildOnceForTwoKernels) {
  const std::uint64_t before = gpu::program_build_count();
  sycl::kernel* first = kernel("scale");
  sycl::kernel* second = kernel("add_one");
  EXPECT_EQ(gpu::program_build_count(), before + 1);
  EXPECT_NE(first, second);
  EXPECT_EQ(first->get_info<sycl::info::kernel::num_args>(), 3u);
  EXPECT_EQ(second->get_info<sycl::info::kernel::num_args>(), 1u);
  EXPECT_EQ(gpu::kernel_cache_entry_count(), 1u);
  gpu::release_kernel_obj(&status, first);
  gpu::release_kernel_obj(&status, second);
  EXPECT_EQ(status, 0);
}

TEST_F(Kernels, PooledHandlesAreReusedAfterRelease) {
  gpu::qez_gpu_kernel_struct_t* a = gpu::get_OCL_kernel(&status, &queue, gpu::domain_dft, test_program, "add_one", options);
  gpu::qez_gpu_kernel_struct_t* b = gpu::get_OCL_kernel(&status, &queue, gpu::domain_dft, test_program, "add_one", options);
  EXPECT_NE(a, b);
  EXPECT_NE(a->kernel, b->kernel);
  EXPECT_EQ(a->state, gpu::kernel_pooled_in_use);
  gpu::release_kernel(&status, a);
  EXPECT_EQ(a->state, gpu::kernel_pooled_free);
  gpu::release_kernel(&status, a);
  EXPECT_EQ(a->state, gpu::kernel_pooled_free);
  gpu::qez_gpu_kernel_struct_t* again =
      gpu::get_OCL_kernel(&status, &queue, gpu::domain_dft, test_program, "add_one", options);
  EXPECT_EQ(again, a);
  EXPECT_EQ(again->state, gpu::kernel_pooled_in_use);
  gpu::release_kernel(&status, nullptr);
  // The same name under another domain is another entry.
  const std::uint64_t before = gpu::program_build_count();
  gpu::qez_gpu_kernel_struct_t* blas =
      gpu::get_OCL_kernel(&status, &queue, gpu::domain_blas, test_program, "add_one", options);
  EXPECT_EQ(gpu::program_build_count(), before + 1);
  EXPECT_NE(blas, a);
  EXPECT_NE(blas, b);
}

TEST_F(Kernels, ConcurrentRequestsForOneKeyBuildOnceAndGetDistinctKernels) {
  constexpr int threads = 4;
  const std::uint64_t before = gpu::program_build_count();
  std::vector<gpu::qez_gpu_kernel_struct_t*> handles(threads);
  std::atomic<int> ready{0};
  std::vector<std::thread> workers;
  for (int t = 0; t < threads; ++t)
    workers.emplace_back([&, t] {
      int local_status = 0;
      ++ready;
      while (ready.load() < threads) std::this_thread::yield();
      handles[t] = gpu::get_OCL_kernel(&local_status, &queue, gpu::domain_dft, test_program, "scale", options);
    });
  for (std::thread& w : workers) w.join();
  EXPECT_EQ(gpu::program_build_count(), before + 1);
  std::set<gpu::qez_gpu_kernel_struct_t*> distinct(handles.begin(), handles.end());
  std::set<sycl::kernel*> kernels;
  for (auto* h : handles) kernels.insert(h->kernel);
  EXPECT_EQ(distinct.size(), static_cast<std::size_t>(threads));
  EXPECT_EQ(kernels.size(), static_cast<std::size_t>(threads));
}

// ---- builds of different keys at the same time, of one key once ----

// What the build hook saw; the tests below install the hook and remove it.
struct build_observation {
  std::mutex lock;
  std::condition_variable changed;
  std::multiset<std::string> started;
  bool first_saw_second = false;
  bool saw_every_other_caller_waiting = false;
};
build_observation* observed = nullptr;

// Waits until `done` holds, looking again at every notification and every
// few milliseconds (the library's waiting count notifies no one). The bound
// only keeps a broken exclusion from hanging the suite; the tests assert
// what was observed, never a duration.
template <class Done>
bool wait_for(std::unique_lock<std::mutex>& guard, Done done) {
  const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (!done()) {
    if (std::chrono::steady_clock::now() > give_up) return false;
    observed->changed.wait_for(guard, std::chrono::milliseconds(5));
  }
  return true;
}

void note_build_start(const char* name) {
  std::lock_guard<std::mutex> guard(observed->lock);
  observed->started.insert(name);
  observed->changed.notify_all();
}

class BuildHook {
 public:
  explicit BuildHook(gpu::kernel_build_hook hook) { previous_ = gpu::set_kernel_build_hook(hook); }
  ~BuildHook() {
    gpu::set_kernel_build_hook(previous_);
    observed = nullptr;
  }

 private:
  gpu::kernel_build_hook previous_;
};

constexpr const char* first_key_source = "kernel void first_key_s(global int* x) { x[0] = 1; }";
constexpr const char* second_key_source = "kernel void second_key_s(global int* x) { x[0] = 2; }";

TEST_F(Kernels, DifferentKeysBuildAtTheSameTime) {
  build_observation seen;
  observed = &seen;
  // The first key's build goes on only once the second key's build has begun.
  BuildHook hook([](const char* name) {
    note_build_start(name);
    if (std::string(name) != "first_key_s") return;
    std::unique_lock<std::mutex> guard(observed->lock);
    observed->first_saw_second = wait_for(guard, [] { return observed->started.count("second_key_s") > 0; });
  });
  gpu::qez_gpu_kernel_struct_t* first = nullptr;
  gpu::qez_gpu_kernel_struct_t* second = nullptr;
  std::thread first_thread([&] {
    int local_status = 0;
    first = gpu::get_OCL_kernel(&local_status, &queue, gpu::domain_dft, first_key_source, "first_key_s", options);
  });
  {
    std::unique_lock<std::mutex> guard(seen.lock);
    ASSERT_TRUE(wait_for(guard, [&] { return seen.started.count("first_key_s") > 0; }));
  }
  std::thread second_thread([&] {
    int local_status = 0;
    second = gpu::get_OCL_kernel(&local_status, &queue, gpu::domain_dft, second_key_source, "second_key_s", options);
  });
  first_thread.join();
  second_thread.join();
  EXPECT_TRUE(seen.first_saw_second);
  ASSERT_NE(first, nullptr);
  ASSERT_NE(second, nullptr);
  EXPECT_EQ(first->kernel->get_info<sycl::info::kernel::function_name>(), "first_key_s");
  EXPECT_EQ(second->kernel->get_info<sycl::info::kernel::function_name>(), "second_key_s");
}

TEST_F(Kernels, OneKeyIsBuiltOnceWhileItsOtherCallersWait) {
  constexpr int threads = 4;
  build_observation seen;
  observed = &seen;
  // The build goes on only once every other caller waits for it.
  BuildHook hook([](const char* name) {
    note_build_start(name);
    std::unique_lock<std::mutex> guard(observed->lock);
    observed->saw_every_other_caller_waiting =
        wait_for(guard, [] { return gpu::kernel_builds_waiting() == threads - 1; });
  });
  const char* source = "kernel void shared_key_s(global int* x) { x[0] = 3; }";
  const std::uint64_t before = gpu::program_build_count();
  std::vector<gpu::qez_gpu_kernel_struct_t*> handles(threads);
  std::vector<std::thread> workers;
  for (int t = 0; t < threads; ++t)
    workers.emplace_back([&, t] {
      int local_status = 0;
      handles[t] = gpu::get_OCL_kernel(&local_status, &queue, gpu::domain_dft, source, "shared_key_s", options);
    });
  for (std::thread& w : workers) w.join();
  EXPECT_TRUE(seen.saw_every_other_caller_waiting);
  EXPECT_EQ(seen.started.count("shared_key_s"), 1u);
  EXPECT_EQ(gpu::program_build_count(), before + 1);
  EXPECT_EQ(gpu::kernel_builds_waiting(), 0u);
  std::set<gpu::qez_gpu_kernel_struct_t*> distinct(handles.begin(), handles.end());
  EXPECT_EQ(distinct.size(), static_cast<std::size_t>(threads));
  EXPECT_EQ(distinct.count(nullptr), 0u);
}

TEST_F(Kernels, OnlyTheFirst4096OptionBytesFormTheKey) {
  std::string long_options;
  while (long_options.size() < 4096) long_options += " -DQEZ_UNUSED_MACRO";
  long_options.resize(4096);
  const std::string first = long_options + " -DTAIL_ONE";
  const std::string second = long_options + " -DTAIL_TWO";
  const std::uint64_t before = gpu::program_build_count();
  auto* a = gpu::get_OCL_kernel(&status, &queue, gpu::domain_dft, test_program, "nothing", first.c_str());
  auto* b = gpu::get_OCL_kernel(&status, &queue, gpu::domain_dft, test_program, "nothing", second.c_str());
  EXPECT_EQ(gpu::program_build_count(), before + 1);
  EXPECT_NE(a, b);
}

TEST_F(Kernels, EntryThatCannotBeAllocatedStillGivesAWorkingOwnedKernel) {
  gpu::release_kernel_obj(&status, kernel("add_one"));  // table, ring and record exist now
  qez_standin_fail_allocations(0, 1);
  gpu::qez_gpu_kernel_struct_t* handle =
      gpu::get_OCL_kernel(&status, &queue, gpu::domain_dft, test_program, "add_one", "-DNOT_CACHED");
  qez_standin_fail_allocations(0, 0);
  ASSERT_NE(handle, nullptr);
  EXPECT_EQ(handle->state, gpu::kernel_owned);
  int* x = shared<int>(queue, 64);
  std::iota(x, x + 64, 0);
  gpu::qez_gpu_argument_t args[1];
  gpu::qez_gpu_set_usm_arg(&args[0], x);
  sycl::event* done = gpu::launch_kernel_1D_usm(&status, &queue, handle, args, 64, 16, nullptr);
  gpu::host_wait(&status, done);
  gpu::release_event(&status, done);
  for (int i = 0; i < 64; ++i) EXPECT_EQ(x[i], i + 1);
  gpu::release_kernel(&status, handle);
  sycl::free(x, queue);
}

// ---- cache keys ----

TEST(KernelCacheKey, BinaryKeyIgnoresTheNameAndHandsTheStoredOneBack) {
  sycl::queue queue{sycl::gpu_selector_v};
  int status = 0;
  gpu::load_opencl_library();
  void* device = gpu::get_device_id(&status, &queue);
  const std::uint8_t key[] = {0xFF, 'k', 'e', 'y'};
  EXPECT_EQ(gpu::kernel_cache_bucket(2, device, "one", key, sizeof key),
            gpu::kernel_cache_bucket(2, device, nullptr, key, sizeof key));
  const std::string stem(64, 'n');
  EXPECT_EQ(gpu::kernel_cache_bucket(2, device, (stem + "a").c_str(), nullptr, 0),
            gpu::kernel_cache_bucket(2, device, (stem + "b").c_str(), nullptr, 0));
  // A program of our own to file under the keys.
  const char* source = "kernel void k(void) {}";
  cl_int error = 0;
  void* context = gpu::native_context_handle(nullptr, &queue, gpu::backend_of_queue);
  cl_program program = gpu::ocl::clCreateProgramWithSource(static_cast<cl_context>(context), 1, &source, nullptr, &error);
  auto* entry = gpu::kernel_cache_insert(&status, &queue, program, device, context, 2, "stored", key, sizeof key, "xy", 2);
  ASSERT_NE(entry, nullptr);
  const char* name = nullptr;
  void* found = nullptr;
  void* extra = nullptr;
  std::size_t extra_length = 0;
  EXPECT_EQ(gpu::kernel_cache_lookup(&queue, device, context, 2, &name, key, sizeof key, &found, nullptr, &extra,
                                     &extra_length),
            entry);
  EXPECT_STREQ(name, "stored");
  EXPECT_EQ(found, program);
  ASSERT_EQ(extra_length, 2u);
  EXPECT_EQ(std::memcmp(extra, "xy", 2), 0);
  // Names that agree in their first 64 characters are still told apart.
  const std::string long_a = stem + "a", long_b = stem + "b";
  ASSERT_NE(gpu::kernel_cache_insert(&status, &queue, program, device, context, 2, long_a.c_str(), nullptr, 0,
                                     nullptr, 0),
            nullptr);
  const char* other = long_b.c_str();
  EXPECT_EQ(gpu::kernel_cache_lookup(&queue, device, context, 2, &other, nullptr, 0, nullptr, nullptr, nullptr,
                                     nullptr),
            nullptr);
  // A key without a queue and without a native context matches nothing, quietly.
  const char* plain = long_a.c_str();
  EXPECT_EQ(gpu::kernel_cache_lookup(nullptr, device, nullptr, 2, &plain, nullptr, 0, nullptr, nullptr, nullptr,
                                     nullptr),
            nullptr);
  // A new context is not owner-equivalent to the one the entry was made for.
  sycl::queue other_context(sycl::context(queue.get_device()), queue.get_device());
  EXPECT_EQ(gpu::kernel_cache_lookup(&other_context, device, context, 2, &plain, nullptr, 0, nullptr, nullptr,
                                     nullptr, nullptr),
            nullptr);
  gpu::ocl::clReleaseProgram(program);
  gpu::free_kernel_cache();
  EXPECT_EQ(gpu::kernel_cache_entry_count(), 0u);
}

// ---- failure messages ----

TEST_F(Kernels, BuildFailureNamesDeviceAndKernelAndKeepsTheLogApart) {
  const char* broken = "kernel void broken_s(global int* x) { x[0] = undeclared_name; }";
  try {
    gpu::get_OCL_kernel(&status, &queue, gpu::domain_dft, broken, "broken_s", "");
    FAIL() << "no exception";
  } catch (const sycl::exception& e) {
    EXPECT_EQ(e.code(), sycl::make_error_code(sycl::errc::runtime));
    EXPECT_EQ(std::string(e.what()), "OpenCL error -11\nOn device: '" +
                                         std::string(qez_gpu_profile_active()->device_name) +
                                         "'\nin kernel: ulmara::qez::dft::broken_s");
    EXPECT_NE(gpu::last_failed_build_log().find("undeclared_name"), std::string::npos)
        << gpu::last_failed_build_log();
  }
  EXPECT_EQ(status, 0);
  // The log is the failing thread's own.
  std::string other_thread_log = "unread";
  std::thread([&] { other_thread_log = gpu::last_failed_build_log(); }).join();
  EXPECT_EQ(other_thread_log, "");
#ifdef QEZ_TEST_LEAK_CHECK
  // While a thread holds its log, a leak check (a fuzzer runs one after every
  // input) finds it reachable, though the checker does not walk thread-local
  // storage.
  EXPECT_EQ(__lsan_do_recoverable_leak_check(), 0);
#endif
}

TEST_F(Kernels, DoublePrecisionKernelThatFailsOnADeviceWithDoubleGetsTheOpenCLMessage) {
  if (queue.get_device().get_info<sycl::info::device::double_fp_config>().empty())
    GTEST_SKIP() << "the device has no double precision";
  try {
    gpu::get_OCL_kernel(&status, &queue, gpu::domain_dft, "kernel void broken_d( { }", "broken_d", "");
    FAIL() << "no exception";
  } catch (const sycl::exception& e) {
    EXPECT_EQ(std::string(e.what()),
              "OpenCL error -11\nOn device: '" + device_name() + "'\nin kernel: ulmara::qez::dft::broken_d");
  }
}

// Only where double precision is missing does a failed module of a
// double-precision kernel read as missing double precision.
TEST_F(Kernels, DoublePrecisionModuleThatDoesNotLoadOnADeviceWithDoubleGetsTheDriversMessage) {
  EXPECT_EQ(creation_failure("garbage_d"),
            creation_failure_code() + "\nOn device: '" + device_name() + "'\nin kernel: ulmara::qez::dft::garbage_d");
}

TEST_F(Kernels, OtherDomainsCarryTheBareKernelName) {
  try {
    gpu::get_OCL_kernel(&status, &queue, 3, "kernel void x_d( { }", "x_d", "");
    FAIL() << "no exception";
  } catch (const sycl::exception& e) {
    EXPECT_EQ(std::string(e.what()), "OpenCL error -11\nOn device: '" + device_name() + "'\nin kernel: x_d");
  }
}

// ---- the SYCL runtime's kernel compiler (CTest entry nivolo.gpu_kernel_test,
// where the Nivolo device has one) ----

// The compiler's log names the temporary file it compiled, another at each build.
std::string without_temporary_file_names(const std::string& log) {
  return std::regex_replace(log, std::regex("tempfile_[A-Za-z0-9]+"), "tempfile");
}

TEST_F(Kernels, BuildErrorOfTheRuntimesCompilerReachesTheCallerUnchanged) {
  namespace compiler = sycl::ext::ulmara::experimental;
  if (!queue.get_device().ext_ulmara_can_compile(compiler::source_language::opencl))
    GTEST_SKIP() << "the SYCL runtime does not compile OpenCL C for this device";
  const char* broken = "kernel void broken_s(global int* x) { x[0] = undeclared_name; }";
  std::string runtime_message;  // what the runtime raises for the source itself
  try {
    compiler::build(compiler::create_kernel_bundle_from_source(queue.get_context(), compiler::source_language::opencl,
                                                               broken),
                    compiler::properties{compiler::build_options{options}});
  } catch (const sycl::exception& e) {
    runtime_message = e.what();
  }
  ASSERT_NE(runtime_message, "");
  try {
    gpu::get_OCL_kernel(&status, &queue, gpu::domain_dft, broken, "broken_s", options);
    FAIL() << "no exception";
  } catch (const sycl::exception& e) {
    EXPECT_EQ(e.code(), sycl::make_error_code(sycl::errc::build));
    EXPECT_EQ(without_temporary_file_names(e.what()), without_temporary_file_names(runtime_message));
  }
}

// ---- a device without double precision (CTest entry gpu_kernel_test.no_fp64,
// STANDIN_GPU_FP64=0) ----

class NoDoubleDevice : public Kernels {
 protected:
  void SetUp() override {
    if (!queue.get_device().get_info<sycl::info::device::double_fp_config>().empty())
      GTEST_SKIP() << "the device has double precision";
  }
};

constexpr const char* doubling_program =
    "#pragma OPENCL EXTENSION cl_khr_fp64 : enable\n"
    "kernel void twice(global double* x) { x[get_global_id(0)] *= 2.0; }\n";

TEST_F(NoDoubleDevice, DoublePrecisionKernelThatFailsToBuildGetsTheDoubleMessage) {
  EXPECT_EQ(build_failure(doubling_program, "twice_d"),
            "error: double type is not supported on this device: '" + device_name() +
                "' \nin kernel: ulmara::qez::dft::twice_d\ninternal error: kernel failed to build.\n");
  EXPECT_NE(gpu::last_failed_build_log().find("cl_khr_fp64"), std::string::npos) << gpu::last_failed_build_log();
}

TEST_F(NoDoubleDevice, SinglePrecisionKernelThatFailsToBuildGetsTheOpenCLMessage) {
  EXPECT_EQ(build_failure(doubling_program, "twice_s"),
            "OpenCL error -11\nOn device: '" + device_name() + "'\nin kernel: ulmara::qez::dft::twice_s");
}

// A binary that cannot be loaded: OpenCL refuses it for either precision;
// the Nivolo driver reports a failed module build (70000004), which for a
// double-precision kernel on this device reads as missing double precision.
TEST_F(NoDoubleDevice, CreationFailuresGetTheDriversMessage) {
  const bool nivolo = on_nivolo();
  const std::string code = creation_failure_code();
  const std::string in_kernel = "'\nin kernel: ulmara::qez::dft::";
  EXPECT_EQ(creation_failure("garbage_s"), code + "\nOn device: '" + device_name() + in_kernel + "garbage_s");
  EXPECT_EQ(creation_failure("garbage_d"),
            nivolo ? "error: double type is not supported on this device: '" + device_name() +
                         "' \nin kernel: ulmara::qez::dft::garbage_d\ninternal error: kernel failed to build.\n"
                   : code + "\nOn device: '" + device_name() + in_kernel + "garbage_d");
}

TEST_F(NoDoubleDevice, SinglePrecisionProgramsStillBuild) {
  sycl::kernel* k = kernel("scale");
  ASSERT_NE(k, nullptr);
  EXPECT_EQ(k->get_info<sycl::info::kernel::num_args>(), 3u);
  gpu::release_kernel_obj(&status, k);
  EXPECT_EQ(status, 0);
}

TEST(BuildMessages, DoublePrecisionNamesAndText) {
  EXPECT_TRUE(gpu::is_double_precision_kernel(gpu::domain_dft, "fft_d"));
  EXPECT_FALSE(gpu::is_double_precision_kernel(gpu::domain_dft, "fft_s"));
  EXPECT_FALSE(gpu::is_double_precision_kernel(gpu::domain_dft, "d"));
  EXPECT_TRUE(gpu::is_double_precision_kernel(gpu::domain_blas, "izamax"));
  EXPECT_TRUE(gpu::is_double_precision_kernel(gpu::domain_blas, "dgemm"));
  EXPECT_FALSE(gpu::is_double_precision_kernel(gpu::domain_blas, "isamax"));
  EXPECT_TRUE(gpu::is_double_precision_kernel(gpu::domain_lapack, "zgetrf"));
  EXPECT_FALSE(gpu::is_double_precision_kernel(gpu::domain_lapack, "sgetrf"));
  EXPECT_FALSE(gpu::is_double_precision_kernel(3, "dz_d"));
  EXPECT_EQ(gpu::double_precision_message("GPU X", gpu::domain_dft, "fft_d"),
            "error: double type is not supported on this device: 'GPU X' \nin kernel: ulmara::qez::dft::fft_d\n"
            "internal error: kernel failed to build.\n");
  EXPECT_EQ(gpu::nivolo_build_message(0x70000004u, "GPU X", gpu::domain_lapack, "zpotrf"),
            "Nivolo error:70000004\nOn device: 'GPU X'\nin kernel: ulmara::qez::lapack::zpotrf");
}

TEST_F(Kernels, SpirvOnADeviceWithoutIlSupport) {
  const gpu::qez_gpu_spirv_kernel_t module = {gpu::hw_detect_spirv_bytes, gpu::hw_detect_spirv};
  // The driver's own answer to the module.
  cl_int refused = 0;
  void* context = gpu::native_context_handle(nullptr, &queue, gpu::backend_of_queue);
  EXPECT_EQ(gpu::ocl::clCreateProgramWithIL(static_cast<cl_context>(context), module.data, module.size, &refused),
            nullptr);
  ASSERT_NE(refused, CL_SUCCESS);
  try {
    gpu::qez_gpu_get_spirv_kernel(&status, &queue, gpu::domain_dft, &module, "entry", "");
    FAIL() << "no exception";
  } catch (const sycl::exception& e) {
    EXPECT_EQ(std::string(e.what()), "OpenCL error " + std::to_string(refused) + "\nOn device: '" + device_name() +
                                         "'\nin kernel: ulmara::qez::dft::entry");
  }
}

TEST_F(Kernels, InvalidBinaryIsReportedBeforeAnyBuild) {
  const std::uint8_t garbage[64] = {1, 2, 3};
  const gpu::qez_gpu_binary_kernel_t binary = {sizeof garbage, garbage, nullptr, nullptr};
  const std::uint64_t before = gpu::program_build_count();
  try {
    gpu::get_binary_kernel(&status, &queue, gpu::domain_dft, &binary, "garbage_s");
    FAIL() << "no exception";
  } catch (const sycl::exception& e) {
    EXPECT_STREQ(e.what(), ("OpenCL error -42\nOn device: '" + device_name() + "'\nin kernel: ulmara::qez::dft::garbage_s").c_str());
  }
  EXPECT_EQ(gpu::program_build_count(), before);
}

TEST_F(Kernels, NativeBinaryRoadRunsTheDriversOwnBinary) {
  void* device = gpu::get_device_id(&status, &queue);
  void* context = gpu::native_context_handle(nullptr, &queue, gpu::backend_of_queue);
  cl_program program = gpu::build_ocl_program(static_cast<cl_device_id>(device), static_cast<cl_context>(context),
                                              test_program, 0, gpu::format_source, options, &queue, "add_one", 2);
  std::uint8_t* bytes = nullptr;
  std::size_t size = 0;
  gpu::get_program_binary(&status, program, static_cast<cl_device_id>(device), &bytes, &size);
  gpu::ocl::clReleaseProgram(program);
  ASSERT_NE(bytes, nullptr);
  const gpu::qez_gpu_binary_kernel_t binary = {size, bytes, nullptr, nullptr};
  gpu::qez_gpu_kernel_struct_t* handle = gpu::get_binary_kernel(&status, &queue, gpu::domain_dft, &binary, "add_one");
  int* x = shared<int>(queue, 32);
  std::fill(x, x + 32, 41);
  gpu::qez_gpu_argument_t args[1];
  gpu::qez_gpu_set_usm_arg(&args[0], x);
  sycl::event* done = gpu::launch_kernel_1D_usm(&status, &queue, handle, args, 32, 8, nullptr);
  gpu::host_wait(&status, done);
  gpu::release_event(&status, done);
  EXPECT_EQ(std::vector<int>(x, x + 32), std::vector<int>(32, 42));
  // The same binary key is a cache hit: the pooled handle comes back.
  gpu::release_kernel(&status, handle);
  EXPECT_EQ(gpu::get_binary_kernel(&status, &queue, gpu::domain_dft, &binary, "add_one"), handle);
  // With the only handle in use, the cached program gets a second one.
  gpu::qez_gpu_kernel_struct_t* second =
      gpu::qez_gpu_get_cached_kernel(&status, &queue, gpu::domain_dft, "add_one", "", 0, nullptr, nullptr);
  ASSERT_NE(second, nullptr);
  EXPECT_NE(second, handle);
  EXPECT_EQ(second->state, gpu::kernel_pooled_in_use);
  EXPECT_EQ(gpu::qez_gpu_get_cached_kernel(&status, &queue, gpu::domain_dft, "absent", "", 0, nullptr, nullptr),
            nullptr);
  // With source, the driver's package must be one the splice understands.
  const gpu::qez_gpu_binary_kernel_t with_source = {size, bytes, test_program, options};
  try {
    gpu::qez_gpu_get_binary_kernel_ext(&status, &queue, gpu::domain_dft, &with_source, "mark_3d", "\xFFk", 2,
                                       nullptr, 0);
    FAIL() << "no exception";
  } catch (const sycl::exception& e) {
    EXPECT_STREQ(e.what(), "OpenCL error -2001");
  }
  qez_serv_free(bytes);
  sycl::free(x, queue);
}

// ---- temporary buffers ----

TEST_F(Kernels, ZeroFilledBufferThatCannotBePlacedIsFreedBeforeTheErrorLeaves) {
  // No device memory holds this many bytes: the fill's accessor fails.
  const std::size_t impossible = std::size_t{1} << 50;
  const std::size_t live = gpu::live_temp_buffers();
  EXPECT_THROW(gpu::calloc_temp_buffer(&status, &queue, impossible), sycl::exception);
  EXPECT_EQ(gpu::live_temp_buffers(), live);
  gpu::temp_buffer* kept = gpu::calloc_temp_buffer(&status, &queue, 64);
  EXPECT_EQ(gpu::live_temp_buffers(), live + 1);
  gpu::free_buffer(&status, kept);
  EXPECT_EQ(gpu::live_temp_buffers(), live);
}

// ---- launch ----

TEST_F(Kernels, NullEntriesOfADependencyListAreSkipped) {
  sycl::kernel* k = kernel("add_one");
  gpu::qez_gpu_kernel_struct_t handle = handle_of(k);
  int* x = shared<int>(queue, 32);
  std::fill(x, x + 32, 10);
  gpu::qez_gpu_argument_t args[1];
  gpu::qez_gpu_set_usm_arg(&args[0], x);
  sycl::event* first = gpu::launch_kernel_1D_usm(&status, &queue, &handle, args, 32, 8, nullptr);
  sycl::event* events[] = {nullptr, first, nullptr};
  gpu::qez_gpu_event_list_t deps{events, 3, 0};
  sycl::event* usm = gpu::launch_kernel_1D_usm(&status, &queue, &handle, args, 32, 8, &deps);
  events[1] = usm;
  sycl::event* buffer_form = gpu::launch_kernel_1D(&status, &queue, &handle, args, 32, 8, &deps);
  gpu::qez_gpu_event_list_t no_array{nullptr, 2, 0};
  sycl::event* last = nullptr;
  {
    events[1] = buffer_form;
    sycl::event* waited = gpu::launch_kernel_1D_usm(&status, &queue, &handle, args, 32, 8, &deps);
    gpu::host_wait(&status, waited);
    last = gpu::launch_kernel_1D_usm(&status, &queue, &handle, args, 32, 8, &no_array);
    gpu::release_event(&status, waited);
  }
  gpu::host_wait(&status, last);
  for (int i = 0; i < 32; ++i) EXPECT_EQ(x[i], 15) << i;
  for (sycl::event* e : {first, usm, buffer_form, last}) gpu::release_event(&status, e);
  sycl::free(x, queue);
  gpu::release_kernel_obj(&status, k);
  EXPECT_EQ(status, 0);
}


TEST_F(Kernels, Launch1DWithBufferAndScalars) {
  sycl::kernel* k = kernel("scale");
  gpu::qez_gpu_kernel_struct_t handle = handle_of(k);
  constexpr int n = 100;
  gpu::temp_buffer* buffer = gpu::alloc_temp_buffer(&status, &queue, 128 * sizeof(float));
  {
    sycl::host_accessor<char, 1, sycl::access_mode::write> bytes(*buffer);
    for (int i = 0; i < 128; ++i) {
      const float v = static_cast<float>(i);
      std::memcpy(&bytes[i * sizeof(float)], &v, sizeof v);
    }
  }
  const float a = 2.5f;
  gpu::qez_gpu_argument_t args[3];
  gpu::set_buffer_arg(&args[0], buffer, gpu::qez_gpu_access_read_write);
  gpu::set_scalar_arg_internal(&args[1], &a, sizeof a);
  gpu::set_scalar_arg_internal(&args[2], &n, sizeof n);
  sycl::event* done = gpu::launch_kernel_1D(&status, &queue, &handle, args, 128, 32, nullptr);
  gpu::host_wait(&status, done);
  gpu::release_event(&status, done);
  {
    sycl::host_accessor<char, 1, sycl::access_mode::read> bytes(*buffer);
    for (int i = 0; i < 128; ++i) {
      float v;
      std::memcpy(&v, &bytes[i * sizeof(float)], sizeof v);
      EXPECT_EQ(v, i < n ? 2.5f * i : static_cast<float>(i)) << i;
    }
  }
  gpu::free_buffer(&status, buffer);
  gpu::release_kernel_obj(&status, k);
}

TEST_F(Kernels, Launch2DListsTheFastestDimensionFirst) {
  sycl::kernel* k = kernel("mark_2d");
  gpu::qez_gpu_kernel_struct_t handle = handle_of(k);
  const std::size_t global[2] = {64, 8}, local[2] = {16, 4};
  const int width = 64;
  int* out = shared<int>(queue, 64 * 8);
  gpu::qez_gpu_argument_t args[2];
  gpu::qez_gpu_set_usm_arg(&args[0], out);
  gpu::set_scalar_arg_internal(&args[1], &width, sizeof width);
  sycl::event* done = gpu::launch_kernel_2D_usm(&status, &queue, &handle, args, global, local, nullptr);
  gpu::host_wait(&status, done);
  gpu::release_event(&status, done);
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 64; ++x) ASSERT_EQ(out[y * 64 + x], y * 1000 + x + 100000 * 16 + 10000000 * 4);
  sycl::free(out, queue);
  gpu::release_kernel_obj(&status, k);
}

TEST_F(Kernels, Launch3DOnBothForms) {
  sycl::kernel* k = kernel("mark_3d");
  gpu::qez_gpu_kernel_struct_t handle = handle_of(k);
  const std::size_t global[3] = {8, 4, 2}, local[3] = {4, 2, 1};
  const int nx = 8, ny = 4;
  int* out = shared<int>(queue, 64);
  gpu::qez_gpu_argument_t args[3];
  gpu::set_buffer_arg_usm(&args[0], reinterpret_cast<char*>(out), gpu::qez_gpu_access_read);
  gpu::set_scalar_arg_internal(&args[1], &nx, sizeof nx);
  gpu::set_scalar_arg_internal(&args[2], &ny, sizeof ny);
  EXPECT_EQ(args[0].access, gpu::qez_gpu_access_read_write);
  sycl::event* done = gpu::launch_kernel_3D(&status, &queue, &handle, args, global, local, nullptr);
  gpu::host_wait(&status, done);
  gpu::release_event(&status, done);
  for (int z = 0; z < 2; ++z)
    for (int y = 0; y < 4; ++y)
      for (int x = 0; x < 8; ++x) ASSERT_EQ(out[(z * 4 + y) * 8 + x], z * 10000 + y * 100 + x);
  sycl::free(out, queue);
  gpu::release_kernel_obj(&status, k);
}

TEST_F(Kernels, LocalMemoryAndNarrowScalars) {
  sycl::kernel* reverse = kernel("reverse_groups");
  gpu::qez_gpu_kernel_struct_t handle = handle_of(reverse);
  int* data = shared<int>(queue, 64);
  std::iota(data, data + 64, 0);
  gpu::qez_gpu_argument_t args[2];
  gpu::qez_gpu_set_usm_arg(&args[0], data);
  gpu::set_SLM_arg(&args[1], 16 * sizeof(int));
  sycl::event* done = gpu::launch_kernel_1D_usm(&status, &queue, &handle, args, 64, 16, nullptr);
  gpu::host_wait(&status, done);
  gpu::release_event(&status, done);
  for (int i = 0; i < 64; ++i) EXPECT_EQ(data[i], (i / 16) * 16 + 15 - i % 16);

  sycl::kernel* widths = kernel("widths");
  gpu::qez_gpu_kernel_struct_t widths_handle = handle_of(widths);
  long long* out = shared<long long>(queue, 4);
  const std::int8_t c = -3;
  const std::int16_t s = 7;
  const std::int64_t l = 5000000000LL;
  gpu::qez_gpu_argument_t wargs[4];
  gpu::qez_gpu_set_usm_arg(&wargs[0], out);
  gpu::set_scalar_arg_internal(&wargs[1], &c, 1);
  gpu::set_scalar_arg_internal(&wargs[2], &s, 2);
  gpu::set_scalar_arg_internal(&wargs[3], &l, 8);
  done = gpu::launch_kernel_1D_usm(&status, &queue, &widths_handle, wargs, 4, 4, nullptr);
  gpu::host_wait(&status, done);
  gpu::release_event(&status, done);
  for (int i = 0; i < 4; ++i) EXPECT_EQ(out[i], -3 + 7000 + 5000000000LL);
  sycl::free(data, queue);
  sycl::free(out, queue);
  gpu::release_kernel_obj(&status, reverse);
  gpu::release_kernel_obj(&status, widths);
}

TEST(ArgumentRecords, SettersFillTheTwentyByteRecord) {
  gpu::qez_gpu_argument_t records[2];
  const unsigned char wide[16] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
  gpu::set_scalar_arg_internal(&records[0], wide, sizeof wide);
  EXPECT_EQ(records[0].size, 8);
  EXPECT_EQ(records[0].kind, gpu::argument_scalar);
  EXPECT_EQ(records[0].access, gpu::qez_gpu_access_read_write);
  EXPECT_EQ(std::memcmp(records[0].value, wide, 8), 0);
  gpu::set_SLM_arg(&records[1], 4096);
  const auto* bytes = reinterpret_cast<const unsigned char*>(records);
  std::uint64_t local_bytes;
  std::memcpy(&local_bytes, bytes + 20, 8);
  EXPECT_EQ(local_bytes, 4096u);
  EXPECT_EQ(bytes[20 + 8], gpu::argument_local);
  EXPECT_EQ(bytes[20 + 12], 8);
}

TEST_F(Kernels, SixteenByteScalarIsLeftUnsetAndTheLaunchRefused) {
  sycl::kernel* k = kernel("scale");
  gpu::qez_gpu_kernel_struct_t handle = handle_of(k);
  float* x = shared<float>(queue, 4);
  gpu::qez_gpu_argument_t args[3];
  gpu::qez_gpu_set_usm_arg(&args[0], x);
  const float a = 1.0f;
  const int n = 4;
  gpu::set_scalar_arg_internal(&args[1], &a, sizeof a);
  gpu::set_scalar_arg_internal(&args[2], &n, sizeof n);
  args[1].size = 16;
  EXPECT_THROW(gpu::launch_kernel_1D_usm(&status, &queue, &handle, args, 4, 4, nullptr), sycl::exception);
  sycl::free(x, queue);
  gpu::release_kernel_obj(&status, k);
}

// ---- events ----

TEST_F(Kernels, MergedEventsAreWaitedOnAndReleasedOnce) {
  sycl::kernel* k = kernel("add_one");
  gpu::qez_gpu_kernel_struct_t handle = handle_of(k);
  int* x = shared<int>(queue, 3 * 64);
  std::fill(x, x + 3 * 64, 0);
  sycl::event* launched[3];
  gpu::qez_gpu_argument_t args[1];
  for (int i = 0; i < 3; ++i) {
    gpu::qez_gpu_set_usm_arg(&args[0], x + 64 * i);
    launched[i] = gpu::launch_kernel_1D_usm(&status, &queue, &handle, args, 64, 16, nullptr);
  }
  EXPECT_NE(launched[0], launched[1]);
  // The buffer form leaves a list with no_dependencies alone.
  gpu::qez_gpu_event_list_t list = {launched, 3, 1};
  sycl::event* ignored = gpu::coalesce_events(&status, &queue, &list);
  gpu::host_wait(&status, ignored);
  gpu::release_event(&status, ignored);
  // A launch that depends on all three, then one merge that takes them over.
  gpu::qez_gpu_argument_t second[1];
  gpu::qez_gpu_set_usm_arg(&second[0], x);
  gpu::qez_gpu_event_list_t deps = {launched, 3, 1};
  sycl::event* after = gpu::launch_kernel_1D_usm(&status, &queue, &handle, second, 64, 16, &deps);
  sycl::event* merged[4] = {launched[0], nullptr, launched[1], launched[2]};
  gpu::qez_gpu_event_list_t take = {merged, 4, 1};
  sycl::event* barrier = gpu::coalesce_events_usm(&status, &queue, &take);
  gpu::host_wait(&status, barrier);
  gpu::host_wait(&status, after);
  gpu::host_wait(&status, nullptr);
  gpu::release_event(&status, barrier);
  gpu::release_event_usm(&status, after);
  gpu::release_event(&status, nullptr);
  for (int i = 0; i < 64; ++i) ASSERT_EQ(x[i], 2);
  for (int i = 64; i < 3 * 64; ++i) ASSERT_EQ(x[i], 1);
  sycl::event* complete = gpu::coalesce_events(&status, &queue, nullptr);
  EXPECT_EQ(complete->get_info<sycl::info::event::command_execution_status>(),
            sycl::info::event_command_status::complete);
  gpu::release_event(&status, complete);
  gpu::qez_gpu_event_list_t empty = {nullptr, 0, 0};
  sycl::event* none = gpu::coalesce_events(&status, &queue, &empty);
  gpu::host_wait_usm(&status, none);
  gpu::release_event(&status, none);
  sycl::free(x, queue);
  gpu::release_kernel_obj(&status, k);
  EXPECT_EQ(status, 0);
}

}  // namespace
