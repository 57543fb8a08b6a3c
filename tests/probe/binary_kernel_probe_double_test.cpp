// The binary-kernel probe on the road where the driver loads and runs the
// image: the executable lives next to an OpenCL double that accepts qxbin
// images of "binary_test" and runs an emulation of what the kernel writes
// given the arguments it receives (tests/doubles/binary_probe). Each case
// runs in a process of its own (CTest entries
// binary_kernel_probe_double_test.<profile>.*).
#include <dlfcn.h>
#include <stdlib.h>

#include <algorithm>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <sycl/sycl.hpp>

#include "gpu/probe/test_kernel_builder.hpp"
#include "gpu/service/temp_buffers.hpp"
#include "tests/doubles/binary_probe/binary_probe_double.h"
#include "tests/probe/probe_test_support.hpp"
#include "ulmara/qez/gpu/binary_kernels.hpp"

namespace {

using namespace probe_test;
namespace gpu = ulmara::qez::gpu;
namespace graph_ext = sycl::ext::ulmara::experimental;
using Bytes = std::vector<unsigned char>;

// The control functions of the double the services open as "OpenCL.dll".
class DriverDouble {
public:
  DriverDouble() : library_(dlopen(QEZ_BINARY_PROBE_DOUBLE_PATH, RTLD_NOW | RTLD_LOCAL)) {}
  ~DriverDouble() {
    if (library_ != nullptr) dlclose(library_);
  }
  DriverDouble(const DriverDouble&) = delete;
  DriverDouble& operator=(const DriverDouble&) = delete;

  bool loaded() const { return library_ != nullptr; }
  void set_driver(qez_binary_probe_driver behaviour) const {
    entry<decltype(qez_binary_probe_double_set_driver)>("qez_binary_probe_double_set_driver")(behaviour);
  }
  int image_count() const {
    return entry<decltype(qez_binary_probe_double_image_count)>("qez_binary_probe_double_image_count")();
  }
  void on_load(void (*hook)(void*), void* context) const {
    entry<decltype(qez_binary_probe_double_on_load)>("qez_binary_probe_double_on_load")(hook, context);
  }
  Bytes last_image() const {
    std::size_t size = 0;
    const unsigned char* bytes =
        entry<decltype(qez_binary_probe_double_last_image)>("qez_binary_probe_double_last_image")(&size);
    return bytes != nullptr ? Bytes(bytes, bytes + size) : Bytes();
  }

private:
  template <class Function>
  Function* entry(const char* name) const {
    return reinterpret_cast<Function*>(dlsym(library_, name));
  }
  void* library_;
};

Bytes image_built_here(qez_gpu_arch_t arch) {
  gpu::qez_gpu_binary_kernel_t binary{};
  gpu::BinaryVector* holder = nullptr;
  gpu::build_binary_test_kernel(nullptr, arch, &binary, &holder);
  const auto* bytes = static_cast<const unsigned char*>(binary.data);
  Bytes image = bytes != nullptr ? Bytes(bytes, bytes + binary.size) : Bytes();
  gpu::release_binary_vector(nullptr, holder);
  return image;
}

class ProbeWithDriverDouble : public testing::Test {
protected:
  void SetUp() override {
    ASSERT_TRUE(driver.loaded()) << dlerror();
    if (record_of(queue)->probe_done != 0) GTEST_SKIP() << needs_own_process;
  }
  DriverDouble driver;
  sycl::queue queue{sycl::gpu_selector_v};
};

// ---- every generation with a generator ----

using DoubleOnEveryGeneration = ProbeWithDriverDouble;

TEST_F(DoubleOnEveryGeneration, ImageThatRunsCorrectlyAnswersTrueOnceAndForAll) {
  driver.set_driver(QEZ_BINARY_PROBE_DRIVER_FAITHFUL);
  int status = 0;
  const ProbeCall first = probe(queue, &status);
  EXPECT_TRUE(first.answer);
  EXPECT_EQ(first.output, "");
  EXPECT_EQ(status, 0);
  EXPECT_EQ(driver.image_count(), 1);
  EXPECT_EQ(driver.last_image(), image_built_here(profile_architecture()));
  EXPECT_EQ(record_of(queue)->probe_done, 1);
  EXPECT_EQ(record_of(queue)->probe_result, 1);
  EXPECT_TRUE(record_unlocked(queue));

  const ProbeCall second = probe(queue);
  EXPECT_TRUE(second.answer);
  EXPECT_EQ(second.output, "");
  EXPECT_EQ(driver.image_count(), 1);
}

// ---- the other roads, under the default profile ----

using DoubleRoads = ProbeWithDriverDouble;

// The probe answered false with the driver warning, cached that answer and
// released the record lock.
void expect_refusal_cached(const ProbeCall& call, sycl::queue& queue) {
  EXPECT_FALSE(call.answer);
  EXPECT_EQ(call.output, driver_warning);
  EXPECT_EQ(record_of(queue)->probe_done, 1);
  EXPECT_EQ(record_of(queue)->probe_result, 0);
  EXPECT_TRUE(record_unlocked(queue));
}

TEST_F(DoubleRoads, CallerStatusSetOnEntryBuildsNothingAndCachesNothing) {
  driver.set_driver(QEZ_BINARY_PROBE_DRIVER_FAITHFUL);
  int status = 77;
  const ProbeCall stale = probe(queue, &status);
  EXPECT_FALSE(stale.answer);
  EXPECT_EQ(stale.output, "");
  EXPECT_EQ(status, 77);
  EXPECT_EQ(driver.image_count(), 0);
  EXPECT_EQ(record_of(queue)->probe_done, 0);

  const ProbeCall clean = probe(queue);
  EXPECT_TRUE(clean.answer);
  EXPECT_EQ(driver.image_count(), 1);
}

TEST_F(DoubleRoads, KernelThatWritesZeroAnswersFalseAndWarnsOnce) {
  driver.set_driver(QEZ_BINARY_PROBE_DRIVER_SWAPS_HALVES);
  const ProbeCall first = probe(queue);
  EXPECT_FALSE(first.answer);
  EXPECT_EQ(first.output, driver_warning);
  EXPECT_EQ(driver.image_count(), 1);
  const ProbeCall second = probe(queue);
  EXPECT_FALSE(second.answer);
  EXPECT_EQ(second.output, "");
  EXPECT_EQ(driver.image_count(), 1);
  EXPECT_TRUE(record_unlocked(queue));
}

// Loading raises (the image has no kernel of that name): false with the
// warning, never an exception to the caller.
TEST_F(DoubleRoads, ImageThatCannotBeLoadedAnswersFalseAndWarns) {
  driver.set_driver(QEZ_BINARY_PROBE_DRIVER_NO_KERNEL);
  ProbeCall call{};
  EXPECT_NO_THROW(call = probe(queue));
  expect_refusal_cached(call, queue);
  EXPECT_EQ(driver.image_count(), 1);
}

// The driver takes the launch and runs nothing: the output word stays at
// the failure value the probe stored before the launch.
TEST_F(DoubleRoads, ImageThatIsLoadedButNeverRunAnswersFalseAndWarns) {
  driver.set_driver(QEZ_BINARY_PROBE_DRIVER_DOES_NOT_RUN);
  expect_refusal_cached(probe(queue), queue);
  EXPECT_EQ(driver.image_count(), 1);
}

// Only the word the kernel stores when its checks hold is success.
TEST_F(DoubleRoads, KernelThatStoresAnotherNonZeroWordAnswersFalse) {
  driver.set_driver(QEZ_BINARY_PROBE_DRIVER_STORES_OTHER_WORD);
  expect_refusal_cached(probe(queue), queue);
}

// ---- failures after the image was loaded ----

// A road on which the test fails after the driver loaded the image: the
// driver's behaviour, and the stand-in failure requested for it (none when
// the variable is null).
struct failure_road {
  const char* name;
  qez_binary_probe_driver driver;
  const char* variable;
  const char* value;
};

// Sets a variable of the environment for the length of a case.
class failure_request {
public:
  failure_request(const char* variable, const char* value) : variable_(variable) {
    if (variable_ != nullptr) setenv(variable_, value, 1);
  }
  ~failure_request() {
    if (variable_ != nullptr) unsetenv(variable_);
  }
  failure_request(const failure_request&) = delete;
  failure_request& operator=(const failure_request&) = delete;

private:
  const char* variable_;
};

// CTest names the cases by the road.
void PrintTo(const failure_road& road, std::ostream* out) { *out << road.name; }

class DoubleFailureRoads : public ProbeWithDriverDouble, public testing::WithParamInterface<failure_road> {};

// The faithful driver would make the probe answer true, so a false answer
// shows that the road failed the test. Whatever failed: false with the
// warning and no exception, the lock free (a second call answers from the
// record), no buffer left, nothing left for the caller's queue to raise,
// and the queue recording into its graph again with nothing of the test in it.
TEST_P(DoubleFailureRoads, AnswersFalseLeavesNothingBehindAndRecordsAgain) {
  driver.set_driver(GetParam().driver);
  const failure_request failure(GetParam().variable, GetParam().value);
  graph_ext::command_graph<> graph{queue.get_context(), queue.get_device()};
  graph.begin_recording(queue);
  ProbeCall call{};
  EXPECT_NO_THROW(call = probe(queue));
  expect_refusal_cached(call, queue);
  EXPECT_EQ(driver.image_count(), 1);
  EXPECT_EQ(gpu::live_temp_buffers(), 0u);
  EXPECT_EQ(queue.ext_ulmara_get_state(), graph_ext::queue_state::recording);
  EXPECT_TRUE(queue.ext_ulmara_get_graph() == graph);
  EXPECT_TRUE(graph.ext_ulmara_recorded_functions().empty());
  graph.end_recording();
  EXPECT_NO_THROW(queue.wait_and_throw());

  const ProbeCall second = probe(queue);
  EXPECT_FALSE(second.answer);
  EXPECT_EQ(second.output, "");
  EXPECT_EQ(driver.image_count(), 1);
}

// The output buffer is made first, the input buffer second; the wait is the
// one on the launch's event.
INSTANTIATE_TEST_SUITE_P(
    , DoubleFailureRoads,
    testing::Values(
        failure_road{"OutputBufferCannotBeMade", QEZ_BINARY_PROBE_DRIVER_FAITHFUL, "STANDIN_SYCL_FAIL_BUFFER",
                     "alloc_temp_buffer#1"},
        failure_road{"InputBufferCannotBeMade", QEZ_BINARY_PROBE_DRIVER_FAITHFUL, "STANDIN_SYCL_FAIL_BUFFER",
                     "alloc_temp_buffer#2"},
        failure_road{"LaunchIsRefused", QEZ_BINARY_PROBE_DRIVER_REFUSES_LAUNCH, nullptr, nullptr},
        failure_road{"WaitFails", QEZ_BINARY_PROBE_DRIVER_FAITHFUL, "STANDIN_SYCL_FAIL_WAIT", "launch_kernel_3D"}),
    [](const testing::TestParamInfo<failure_road>& info) { return info.param.name; });

// Recording cannot resume when the queue was made to record into another
// graph meanwhile (here while the image loads, so the test's buffers are
// made and its launch lands in that graph): that error reaches the caller
// after the test gave back what it took, the lock is released and nothing
// is cached, so a later call probes again.
TEST_F(DoubleRoads, RecordingThatCannotResumeRaisesReleasesTheLockAndCachesNothing) {
  driver.set_driver(QEZ_BINARY_PROBE_DRIVER_FAITHFUL);
  graph_ext::command_graph<> graph{queue.get_context(), queue.get_device()};
  graph_ext::command_graph<> other{queue.get_context(), queue.get_device()};
  struct Hijack {
    graph_ext::command_graph<>* other;
    sycl::queue* queue;
  } hijack{&other, &queue};
  driver.on_load([](void* context) {
    auto* h = static_cast<Hijack*>(context);
    h->other->begin_recording(*h->queue);
  }, &hijack);
  graph.begin_recording(queue);
  testing::internal::CaptureStdout();
  int status = 0;
  EXPECT_THROW(gpu::have_binary_kernels(&status, &queue), sycl::exception);
  testing::internal::GetCapturedStdout();
  driver.on_load(nullptr, nullptr);
  EXPECT_TRUE(record_unlocked(queue));
  EXPECT_EQ(record_of(queue)->probe_done, 0);
  EXPECT_EQ(gpu::live_temp_buffers(), 0u);
  EXPECT_TRUE(queue.ext_ulmara_get_graph() == other);
  other.end_recording();
  graph.end_recording();

  // The next call probes, this time outside any graph, and caches its answer.
  const ProbeCall next = probe(queue);
  EXPECT_TRUE(next.answer);
  EXPECT_EQ(next.output, "");
  EXPECT_EQ(record_of(queue)->probe_done, 1);
  EXPECT_TRUE(record_unlocked(queue));
}

TEST_F(DoubleRoads, RecordingQueueRunsTheTestOutsideTheGraph) {
  driver.set_driver(QEZ_BINARY_PROBE_DRIVER_FAITHFUL);
  graph_ext::command_graph<> graph{queue.get_context(), queue.get_device()};
  graph.begin_recording(queue);
  const ProbeCall call = probe(queue);
  EXPECT_TRUE(call.answer);
  EXPECT_EQ(call.output, "");
  EXPECT_TRUE(graph.ext_ulmara_recorded_functions().empty());
  EXPECT_EQ(queue.ext_ulmara_get_state(), graph_ext::queue_state::recording);
  EXPECT_TRUE(queue.ext_ulmara_get_graph() == graph);
  graph.end_recording();
}

TEST_F(DoubleRoads, ConcurrentCallersShareOneTest) {
  driver.set_driver(QEZ_BINARY_PROBE_DRIVER_FAITHFUL);
  constexpr int callers = 4;
  const ConcurrentProbes probes = probe_from_threads(queue, callers);
  EXPECT_EQ(probes.output, "");
  EXPECT_EQ(std::count(probes.answers.begin(), probes.answers.end(), 1), callers);
  EXPECT_EQ(driver.image_count(), 1);
  EXPECT_TRUE(record_unlocked(queue));
}

}  // namespace
