// Command-graph recording of the SYCL stand-in, as the binary-kernel probe
// relies on it: a recording queue adds command groups to its graph instead
// of running them, and recording stops and starts per queue.
#include <gtest/gtest.h>
#include <sycl/sycl.hpp>

namespace {

namespace graph_ext = sycl::ext::ulmara::experimental;

struct Recording : testing::Test {
  sycl::queue queue{sycl::gpu_selector_v};
  graph_ext::command_graph<> graph{queue.get_context(), queue.get_device()};
};

void submit_from_here(sycl::queue& queue, int* target, int value) {
  queue.single_task([=] { *target = value; });
}

TEST_F(Recording, RecordedCommandGroupsDoNotRun) {
  int* target = sycl::malloc_shared<int>(1, queue);
  *target = 5;
  graph.begin_recording(queue);
  EXPECT_EQ(queue.ext_ulmara_get_state(), graph_ext::queue_state::recording);
  submit_from_here(queue, target, 9);
  graph.end_recording(queue);
  EXPECT_EQ(queue.ext_ulmara_get_state(), graph_ext::queue_state::executing);
  queue.wait();
  EXPECT_EQ(*target, 5);
  ASSERT_EQ(graph.ext_ulmara_recorded_functions().size(), 1u);
  EXPECT_EQ(graph.ext_ulmara_recorded_functions()[0], "submit_from_here");

  submit_from_here(queue, target, 9);
  queue.wait();
  EXPECT_EQ(*target, 9);
  EXPECT_EQ(graph.ext_ulmara_recorded_functions().size(), 1u);
  sycl::free(target, queue);
}

TEST_F(Recording, GraphOfAnExecutingQueueIsAnError) {
  try {
    queue.ext_ulmara_get_graph();
    ADD_FAILURE() << "no exception";
  } catch (const sycl::exception& e) {
    EXPECT_EQ(e.code(), sycl::make_error_code(sycl::errc::invalid));
  }
  graph.begin_recording(queue);
  EXPECT_TRUE(queue.ext_ulmara_get_graph() == graph);
  EXPECT_THROW(graph.begin_recording(queue), sycl::exception);
  graph_ext::command_graph<> other{queue.get_context(), queue.get_device()};
  EXPECT_THROW(other.end_recording(queue), sycl::exception);
  graph.end_recording();
}

TEST_F(Recording, EndingOneQueueLeavesTheOthersRecording) {
  sycl::queue second{queue.get_context(), queue.get_device()};
  graph.begin_recording(queue);
  graph.begin_recording(second);
  graph.end_recording(queue);
  EXPECT_EQ(queue.ext_ulmara_get_state(), graph_ext::queue_state::executing);
  EXPECT_EQ(second.ext_ulmara_get_state(), graph_ext::queue_state::recording);
  graph.begin_recording(queue);
  graph.end_recording();
  EXPECT_EQ(queue.ext_ulmara_get_state(), graph_ext::queue_state::executing);
  EXPECT_EQ(second.ext_ulmara_get_state(), graph_ext::queue_state::executing);
}

}  // namespace
