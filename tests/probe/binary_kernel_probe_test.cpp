// The binary-kernel probe on PoCL through the GPU profiles. PoCL cannot run
// a qxbin image, so wherever an image is built the real answer is false with
// the driver warning; generations without a generator answer false quietly.
// Each case runs in a process of its own under one profile (CTest entries
// binary_kernel_probe_test.<profile>.*).
#include <algorithm>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <sycl/sycl.hpp>

#include "tests/probe/probe_test_support.hpp"
#include "ulmara/qez/exceptions.hpp"
#include "ulmara/qez/gpu/binary_kernels.hpp"

namespace {

using namespace probe_test;
namespace graph_ext = sycl::ext::ulmara::experimental;

std::string expected_output_of_a_probe() { return profile_has_generator() ? driver_warning : ""; }

std::size_t occurrences(const std::string& text, const std::string& piece) {
  std::size_t count = 0;
  for (auto at = text.find(piece); at != std::string::npos; at = text.find(piece, at + piece.size())) ++count;
  return count;
}

bool already_probed(sycl::queue& queue) { return record_of(queue)->probe_done != 0; }

// ---- every profile with a recognised generation ----

TEST(ProbeOnProfile, FirstCallAnswersFalseAndWarnsOnlyWhereAnImageWasBuilt) {
  sycl::queue queue{sycl::gpu_selector_v};
  if (already_probed(queue)) GTEST_SKIP() << needs_own_process;
  int status = 0;
  const ProbeCall call = probe(queue, &status);
  EXPECT_FALSE(call.answer);
  EXPECT_EQ(call.output, expected_output_of_a_probe());
  EXPECT_EQ(status, 0);
  const qez_gpu_device_record_t* record = record_of(queue);
  EXPECT_EQ(record->probe_done, 1);
  EXPECT_EQ(record->probe_result, 0);
  EXPECT_TRUE(record_unlocked(queue));
}

TEST(ProbeOnProfile, LaterCallsAnswerFromTheRecordWithoutProbingAgain) {
  sycl::queue queue{sycl::gpu_selector_v};
  if (already_probed(queue)) GTEST_SKIP() << needs_own_process;
  const ProbeCall first = probe(queue);
  const ProbeCall second = probe(queue);
  EXPECT_EQ(first.output, expected_output_of_a_probe());
  EXPECT_FALSE(second.answer);
  EXPECT_EQ(second.output, "");
  // A fresh test would answer false here; the record's answer is what comes back.
  record_of(queue)->probe_result = 1;
  const ProbeCall third = probe(queue);
  EXPECT_TRUE(third.answer);
  EXPECT_EQ(third.output, "");
  EXPECT_TRUE(record_unlocked(queue));
}

TEST(ProbeOnProfile, AnswerPlacedInTheRecordBeforeAnyProbeIsReturnedAsIs) {
  sycl::queue queue{sycl::gpu_selector_v};
  if (already_probed(queue)) GTEST_SKIP() << needs_own_process;
  qez_gpu_device_record_t* record = record_of(queue);
  record->probe_result = 1;
  record->probe_done = 1;
  const ProbeCall call = probe(queue);
  EXPECT_TRUE(call.answer);
  EXPECT_EQ(call.output, "");
}

// A status the caller already had set leaves the architecture unknown: the
// answer is false, nothing is cached or printed and the status is kept; a
// later call with a clean status probes the device.
TEST(ProbeOnProfile, CallerStatusSetOnEntryGivesAnUncachedFalse) {
  sycl::queue queue{sycl::gpu_selector_v};
  if (already_probed(queue)) GTEST_SKIP() << needs_own_process;
  int status = 41;
  const ProbeCall stale = probe(queue, &status);
  EXPECT_FALSE(stale.answer);
  EXPECT_EQ(stale.output, "");
  EXPECT_EQ(status, 41);
  EXPECT_EQ(record_of(queue)->probe_done, 0);
  EXPECT_TRUE(record_unlocked(queue));

  const ProbeCall clean = probe(queue);
  EXPECT_FALSE(clean.answer);
  EXPECT_EQ(clean.output, expected_output_of_a_probe());
  EXPECT_EQ(record_of(queue)->probe_done, 1);
}

// Once the answer is cached, a caller's stale status does not hide it.
TEST(ProbeOnProfile, CachedAnswerIsReturnedWhateverTheCallerStatus) {
  sycl::queue queue{sycl::gpu_selector_v};
  if (already_probed(queue)) GTEST_SKIP() << needs_own_process;
  probe(queue);
  record_of(queue)->probe_result = 1;
  int status = 41;
  const ProbeCall call = probe(queue, &status);
  EXPECT_TRUE(call.answer);
  EXPECT_EQ(call.output, "");
  EXPECT_EQ(status, 41);
}

TEST(ProbeOnProfile, ConcurrentCallersShareOneProbe) {
  sycl::queue queue{sycl::gpu_selector_v};
  if (already_probed(queue)) GTEST_SKIP() << needs_own_process;
  constexpr int callers = 4;
  const ConcurrentProbes probes = probe_from_threads(queue, callers);
  EXPECT_EQ(std::count(probes.answers.begin(), probes.answers.end(), 0), callers);
  EXPECT_EQ(occurrences(probes.output, driver_warning), profile_has_generator() ? 1u : 0u);
  EXPECT_TRUE(record_unlocked(queue));
}

TEST(ProbeOnProfile, RecordingQueueGoesOnRecordingIntoTheSameGraph) {
  sycl::queue queue{sycl::gpu_selector_v};
  if (already_probed(queue)) GTEST_SKIP() << needs_own_process;
  sycl::queue other{queue.get_context(), queue.get_device()};
  graph_ext::command_graph<> graph{queue.get_context(), queue.get_device()};
  graph.begin_recording(queue);
  graph.begin_recording(other);

  const ProbeCall call = probe(queue);
  EXPECT_FALSE(call.answer);
  EXPECT_EQ(call.output, expected_output_of_a_probe());
  EXPECT_TRUE(graph.ext_ulmara_recorded_functions().empty());
  EXPECT_EQ(queue.ext_ulmara_get_state(), graph_ext::queue_state::recording);
  EXPECT_EQ(other.ext_ulmara_get_state(), graph_ext::queue_state::recording);
  EXPECT_TRUE(queue.ext_ulmara_get_graph() == graph);
  EXPECT_TRUE(record_unlocked(queue));

  queue.submit([](sycl::handler& cgh) { cgh.host_task([] {}); });
  EXPECT_EQ(graph.ext_ulmara_recorded_functions().size(), 1u);
  graph.end_recording();
}

// ---- the host CPU device: no GPU generation at all ----

TEST(ProbeOnHostDevice, AnswersFalseQuietlyAndCachesIt) {
  sycl::queue queue{sycl::cpu_selector_v};
  if (already_probed(queue)) GTEST_SKIP() << needs_own_process;
  const ProbeCall call = probe(queue);
  EXPECT_FALSE(call.answer);
  EXPECT_EQ(call.output, "");
  EXPECT_EQ(record_of(queue)->probe_done, 1);
  EXPECT_TRUE(record_unlocked(queue));
}

// ---- a GPU the library does not recognise ----

// The architecture query refuses an unrecognised GPU; its error reaches the
// caller, nothing is cached and nothing is printed.
TEST(ProbeOnUnknownGpu, ArchitectureErrorReachesTheCallerAndNothingIsCached) {
  sycl::queue queue{sycl::gpu_selector_v};
  for (int attempt = 0; attempt < 2; ++attempt) {
    testing::internal::CaptureStdout();
    int status = 0;
    EXPECT_THROW(ulmara::qez::gpu::have_binary_kernels(&status, &queue), ulmara::qez::exception);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(record_of(queue)->probe_done, 0);
    EXPECT_TRUE(record_unlocked(queue));
  }
}

}  // namespace
