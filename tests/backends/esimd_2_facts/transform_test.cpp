// Real 2D and 3D transforms through the ESIMD plan on PoCL, against the
// long-double reference: both directions, USM and buffers, in place and out
// of place, scales carried by pass 0's tables, batches run in several chunks,
// and the ordering of launches after the caller's dependencies.
#include <chrono>
#include <future>
#include <thread>

#include "esimd_case.hpp"

namespace {

using namespace esimd_test;
using qez_test::cld;

struct transform_case {
  const char* name;
  bool is_double;
  lengths_t lengths;
  std::uint64_t transforms;
};

std::ostream& operator<<(std::ostream& os, const transform_case& c) { return os << c.name; }

class EsimdTransform : public ::testing::TestWithParam<transform_case> {};

TEST_P(EsimdTransform, MatchesTheReference) {
  const transform_case& c = GetParam();
  sycl::queue q(sycl::gpu_selector_v);
  const long double inverse = 1.0L / static_cast<long double>(points(c.lengths));
  if (c.is_double) check_all_forms<double>(q, c.lengths, c.transforms, 1.0, static_cast<double>(inverse));
  else check_all_forms<float>(q, c.lengths, c.transforms, 1.0f, static_cast<float>(inverse));
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, EsimdTransform,
    ::testing::Values(transform_case{"d64x64_b3", true, {64, 64}, 3},
                      transform_case{"d64x90_b2", true, {64, 90}, 2},      // 10 x 9: padded, uneven groups
                      transform_case{"d128x100", true, {128, 100}, 1},
                      transform_case{"d256x512", true, {256, 512}, 1},     // column batch with loop bound 2
                      transform_case{"d64x64x90", true, {64, 64, 90}, 1},  // 3D, uneven last pass
                      transform_case{"d64x64x72_b2", true, {64, 64, 72}, 2},
                      transform_case{"s64x4096", false, {64, 4096}, 1},    // host-written table, row pass
                      transform_case{"s1024x81_b2", false, {1024, 81}, 2},
                      transform_case{"s64x128x81", false, {64, 128, 81}, 1},
                      transform_case{"s512x96", false, {512, 96}, 2}),      // 12 x 8
    [](const ::testing::TestParamInfo<transform_case>& i) { return std::string(i.param.name); });

TEST(EsimdTransformScale, ForwardScaleEntersThroughPassZero) {
  sycl::queue q(sycl::gpu_selector_v);
  check_all_forms<double>(q, {64, 72}, 2, 0.5, 3.0);
  check_all_forms<float>(q, {128, 64, 64}, 1, 0.25f, 2.0f);
}

// Round trip with the backward scale 1/N gives the input back.
TEST(EsimdTransformScale, RoundTrip) {
  sycl::queue q(sycl::gpu_selector_v);
  const lengths_t lengths = {256, 80};
  auto plan = committed_plan<double>(q, lengths, 2, 1.0, 1.0 / static_cast<double>(points(lengths)));
  ASSERT_TRUE(plan);
  const auto input = to_precision<double>(qez_test::random_complex(2 * points(lengths), 99));
  const auto spectrum = run(*plan, 0, container::usm, placement::out_of_place, input);
  const auto back = run(*plan, 1, container::buffer, placement::in_place, spectrum);
  expect_accurate(back, to_long_double(input), points(lengths), "round trip");
}

// Batches in several chunks: m = 2 with 5 transforms (a partial last chunk)
// and with 4 (whole chunks).
template <class T>
void check_chunks(const lengths_t& lengths, std::uint64_t transforms, std::uint64_t m) {
  sycl::queue q(sycl::gpu_selector_v);
  auto plan = committed_plan<T>(q, lengths, transforms, T(1), T(1));
  ASSERT_TRUE(plan);
  rechunk(*plan, m);
  const std::uint64_t n = points(lengths);
  const auto data = to_precision<T>(qez_test::random_complex(static_cast<std::int64_t>(n * transforms), 5));
  for (int direction = 0; direction < 2; ++direction) {
    const auto expected = reference(to_long_double(data), lengths, static_cast<std::int64_t>(transforms), direction, 1);
    expect_accurate(run(*plan, direction, container::usm, placement::out_of_place, data), expected, n, "usm");
    expect_accurate(run(*plan, direction, container::buffer, placement::in_place, data), expected, n, "buffer");
  }
}

TEST(EsimdTransformChunks, PartialLastChunk) {
  check_chunks<double>({64, 64}, 5, 2);
  check_chunks<float>({64, 64, 72}, 3, 2);
}
TEST(EsimdTransformChunks, WholeChunks) { check_chunks<double>({128, 72}, 4, 2); }

TEST(EsimdTransformChunks, NoTransformsSubmitNothing) {
  sycl::queue q(sycl::gpu_selector_v);
  auto plan = committed_plan<double>(q, {64, 64}, 0, 1.0, 1.0);
  ASSERT_TRUE(plan);
  // A dependency that never completes before the compute returns.
  std::promise<void> release;
  std::shared_future<void> released = release.get_future().share();
  const sycl::event blocked = q.submit([&](sycl::handler& h) { h.host_task([released] { released.wait(); }); });
  double* data = sycl::malloc_device<double>(2 * 64 * 64, q);
  const sycl::event e =
      ulmara::qez::dft::qez_dft_gpu_dft_esimd_2_facts_compute<0>(*plan, data, data, std::vector<sycl::event>{blocked});
  EXPECT_EQ(e.get_info<sycl::info::event::command_execution_status>(), sycl::info::event_command_status::complete);
  EXPECT_NE(blocked.get_info<sycl::info::event::command_execution_status>(),
            sycl::info::event_command_status::complete);
  release.set_value();
  q.wait_and_throw();
  sycl::free(data, q);
}

// An in-order queue, and a plan moved to another queue of the device with
// set_queue: the launches go to the plan's current queue.
TEST(EsimdTransformOrdering, InOrderQueueAndSetQueue) {
  sycl::queue in_order(sycl::gpu_selector_v, sycl::property::queue::in_order());
  // Outlives the plan, whose destruction waits on its current queue.
  sycl::queue other(sycl::gpu_selector_v);
  const lengths_t lengths = {128, 64};
  auto plan = committed_plan<float>(in_order, lengths, 2, 1.0f, 1.0f);
  ASSERT_TRUE(plan);
  const auto data = to_precision<float>(qez_test::random_complex(2 * points(lengths), 17));
  const auto expected = reference(to_long_double(data), lengths, 2, 1, 1);
  expect_accurate(run(*plan, 1, container::usm, placement::out_of_place, data), expected, points(lengths),
                  "in-order queue");
  plan->set_queue(&other);
  expect_accurate(run(*plan, 1, container::buffer, placement::in_place, data), expected, points(lengths),
                  "after set_queue");
  EXPECT_EQ(plan->queue, &other);
}

// The first launch waits for the caller's dependencies: here a host task
// that writes the input after a pause.
TEST(EsimdTransformOrdering, FirstLaunchWaitsForTheDependencies) {
  sycl::queue q(sycl::gpu_selector_v);
  const lengths_t lengths = {64, 64};
  auto plan = committed_plan<double>(q, lengths, 1, 1.0, 1.0);
  ASSERT_TRUE(plan);
  const auto input = to_precision<double>(qez_test::random_complex(points(lengths), 11));
  const std::size_t reals = 2 * input.size();
  double* in = sycl::malloc_device<double>(reals, q);
  double* out = sycl::malloc_device<double>(reals, q);
  q.memset(in, 0, reals * sizeof(double)).wait();
  const sycl::event late_writer = q.submit([&](sycl::handler& h) {
    h.host_task([=] {
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
      std::memcpy(in, input.data(), reals * sizeof(double));
    });
  });
  auto e = ulmara::qez::dft::qez_dft_gpu_dft_esimd_2_facts_compute<0>(*plan, in, out,
                                                                         std::vector<sycl::event>{late_writer});
  e.wait();
  q.wait_and_throw();
  std::vector<std::complex<double>> got(input.size());
  q.memcpy(got.data(), out, reals * sizeof(double)).wait();
  expect_accurate(got, reference(to_long_double(input), lengths, 1, 0, 1), points(lengths), "after the writer");
  sycl::free(in, q);
  sycl::free(out, q);
}

}  // namespace
