// Real transforms through records committed on the GPU queue: every length
// class of the default backend, both precisions, and the layouts, containers,
// workspaces and chunkings it serves.
#include <gtest/gtest.h>

#include <complex>
#include <vector>

#include "dft/api/status_codes.hpp"
#include "tests/backends/default_1d/transform_case.hpp"

namespace {

using namespace default_1d_test;

transform_case batched(std::int64_t n, std::int64_t count) {
  transform_case c;
  c.n = n;
  c.batch = {{count, n, n}};
  c.bwd_scale = 1.0 / static_cast<double>(n);
  c.fwd_scale = 0.5;
  return c;
}

// ---------------------------------------------------------------------------
// Lengths: out of place on USM, two transforms, both directions with scales.
// 64 x 67 runs its generic factor in the second pass, in groups of 64.

class DefaultLengths : public ::testing::TestWithParam<std::int64_t> {};

TEST_P(DefaultLengths, Double) { check_round<double>(gpu_queue(), batched(GetParam(), 2)); }
TEST_P(DefaultLengths, Single) { check_round<float>(gpu_queue(), batched(GetParam(), 2)); }

INSTANTIATE_TEST_SUITE_P(Lengths, DefaultLengths,
                         ::testing::Values(1, 2, 3, 7, 53, 64, 75, 128, 135, 1000, 4096, 4099, 30030, 65536, 64 * 67),
                         [](const ::testing::TestParamInfo<std::int64_t>& info) {
                           return "N" + std::to_string(info.param);
                         });

TEST(DefaultLargeLength, SingleTwoToTheTwenty) {
  transform_case c;
  c.n = std::int64_t{1} << 20;
  c.bwd_scale = 1.0 / static_cast<double>(c.n);
  check_round<float>(gpu_queue(), c);
}


// Generic factors (direct DFTs) of many transforms run in work-groups of
// several transforms each.
TEST(DefaultGenericFactors, ManyTransformsInGroups) {
  check_round<float>(gpu_queue(), batched(67, 300));
  check_round<double>(gpu_queue(), batched(53, 300));
}

// ---------------------------------------------------------------------------
// Placement, strides and batch layouts.

TEST(DefaultLayouts, InPlaceBuffersTwoPasses) {
  transform_case c = batched(1000, 3);
  c.in_place = true;
  c.data = container::buffer;
  check_round<double>(gpu_queue(), c);
}

TEST(DefaultLayouts, InPlaceSinglePassUsesTheCopyKernel) {
  transform_case c = batched(53, 4);
  c.in_place = true;
  check_round<float>(gpu_queue(), c);
}

TEST(DefaultLayouts, InPlaceLengthOneUsesTheCopyKernel) {
  transform_case c = batched(1, 5);
  c.in_place = true;
  c.data = container::buffer;
  check_round<double>(gpu_queue(), c);
}

TEST(DefaultLayouts, NonUnitStridesInputOutputConvention) {
  transform_case c;
  c.n = 64;
  c.stride_a = 2;
  c.stride_b = 3;
  c.layout = distance_convention::input_output;
  c.batch = {{3, 130, 200}};
  check_round<double>(gpu_queue(), c);
}

TEST(DefaultLayouts, NonUnitStridesForwardBackwardConventionBuffers) {
  transform_case c;
  c.n = 30030;
  c.stride_a = 3;
  c.stride_b = 2;
  c.data = container::buffer;
  c.batch = {{2, 3 * 30030 + 5, 2 * 30030 + 1}};
  check_round<float>(gpu_queue(), c);
}

TEST(DefaultLayouts, TwoBatchDimensions) {
  transform_case c;
  c.n = 128;
  c.batch = {{3, 130, 129}, {4, 3 * 130 + 7, 3 * 129 + 2}};
  check_round<float>(gpu_queue(), c);
}

TEST(DefaultLayouts, ThreeBatchDimensionsInputOutputBuffers) {
  transform_case c;
  c.n = 4096;
  c.layout = distance_convention::input_output;
  c.data = container::buffer;
  c.batch = {{2, 4100, 4097}, {3, 2 * 4100 + 3, 2 * 4097 + 1}, {2, 6 * 4100 + 20, 6 * 4097 + 10}};
  check_round<double>(gpu_queue(), c);
}

// ---------------------------------------------------------------------------
// Shared-memory mode: whole work-groups, caller's output layout.

TEST(DefaultSharedMemory, SeventyFiveOutOfPlaceToAnotherLayout) {
  transform_case c;
  c.n = 75;
  c.stride_b = 2;
  c.batch = {{25, 75, 2 * 75 + 3}};
  c.bwd_scale = 1.0 / 75;
  check_round<double>(gpu_queue(), c);
}

TEST(DefaultSharedMemory, OneThirtyFiveInPlaceBuffers) {
  transform_case c;
  c.n = 135;
  c.in_place = true;
  c.data = container::buffer;
  c.batch = {{30, 135, 135}};
  check_round<float>(gpu_queue(), c);
}

TEST(DefaultSharedMemory, ChunksWithAShortLastChunk) {
  // 36700 transforms of 75 doubles fill the scratch cap; the last chunk
  // holds one transform, launched as a whole work-group.
  transform_case c;
  c.n = 75;
  c.batch = {{36701, 75, 75}};
  check_round<double>(gpu_queue(), c);
}

// ---------------------------------------------------------------------------
// Workspaces and chunking.

TEST(DefaultWorkspace, CallerUsmWorkspace) {
  transform_case c = batched(4099 * 2, 3);
  c.workspace = workspace_owner::caller;
  check_round<float>(gpu_queue(), c);
}

TEST(DefaultWorkspace, CallerBufferWorkspaceThreePasses) {
  transform_case c = batched(30030, 2);
  c.data = container::buffer;
  c.workspace = workspace_owner::caller;
  check_round<double>(gpu_queue(), c);
}

TEST(DefaultWorkspace, CallerWorkspaceNeverGivenIsReported) {
  transform_case c = batched(1000, 2);
  c.workspace = workspace_owner::caller;
  committed_record r(gpu_queue(), c, true);
  ASSERT_EQ(r.commit_status(), 0);
  int status = -1;
  run_transform<double>(gpu_queue(), r, c, true, 1, &status);
  EXPECT_EQ(status, ulmara::qez::dft::status_no_workspace);
}

TEST(DefaultChunks, BatchAboveTheScratchCapUsm) {
  // 700 transforms of 4096 doubles: 672 fill the cap, 28 remain.
  check_round<double>(gpu_queue(), batched(4096, 700));
}

TEST(DefaultChunks, BatchAboveTheScratchCapBuffersInPlace) {
  transform_case c = batched(4096, 1400);  // 1344 + 56 single-precision transforms
  c.in_place = true;
  c.data = container::buffer;
  check_round<float>(gpu_queue(), c);
}

// ---------------------------------------------------------------------------
// Directions.

TEST(DefaultDirections, AForwardOnlyPlanRefusesBackward) {
  transform_case c = batched(64, 1);
  c.directions = 0;
  committed_record r(gpu_queue(), c, false);
  ASSERT_EQ(r.commit_status(), 0);
  int status = -1;
  run_transform<float>(gpu_queue(), r, c, true, 1, &status);
  EXPECT_EQ(status, 0);
  run_transform<float>(gpu_queue(), r, c, false, 1, &status);
  EXPECT_EQ(status, ulmara::qez::dft::status_invalid_configuration);
}

// ---------------------------------------------------------------------------
// Successive computes on one record share its scratch.

TEST(DefaultQueue, BackToBackComputesOnAnOutOfOrderQueue) {
  sycl::queue& q = gpu_queue();
  ASSERT_FALSE(q.is_in_order());
  transform_case c = batched(std::int64_t{1} << 16, 4);  // (64, 64, 16): both scratch areas
  committed_record r(q, c, true);
  ASSERT_EQ(r.commit_status(), 0);
  const std::int64_t total = c.n * 4;
  constexpr int calls = 3;
  std::vector<std::vector<qez_test::cld>> inputs;
  std::vector<std::complex<double>*> in(calls), out(calls);
  for (int k = 0; k < calls; ++k) {
    inputs.push_back(qez_test::random_complex(total, 100 + k));
    in[k] = sycl::malloc_shared<std::complex<double>>(total, q);
    out[k] = sycl::malloc_shared<std::complex<double>>(total, q);
    for (std::int64_t i = 0; i < total; ++i)
      in[k][i] = std::complex<double>(double(inputs[k][i].real()), double(inputs[k][i].imag()));
  }
  // No wait between the calls: only the backend's own ordering keeps the
  // second call's first pass off the scratch the first call still reads.
  std::uint64_t kind = ulmara::qez::dft::container_usm;
  std::vector<sycl::event> done(calls), none;
  for (int k = 0; k < calls; ++k)
    ASSERT_EQ(r.get()->compute_fwd(r.get(), in[k], out[k], &none, &kind, &done[k]), 0);
  for (sycl::event& e : done) e.wait();
  const qez_test::accuracy_bounds bounds = qez_test::bounds_for<double>(c.n);
  for (int k = 0; k < calls; ++k) {
    std::vector<qez_test::cld> reference =
        qez_test::reference_c2c(inputs[k], {c.n}, 4, qez_test::dft_sign::forward);
    std::vector<qez_test::cld> got(total);
    for (std::int64_t i = 0; i < total; ++i) {
      got[i] = qez_test::cld(out[k][i].real(), out[k][i].imag());
      reference[i] *= c.fwd_scale;
    }
    const qez_test::accuracy a = qez_test::measure(got, reference);
    EXPECT_TRUE(qez_test::within(a, bounds)) << "call " << k << ": " << qez_test::describe(a, bounds);
    sycl::free(in[k], q);
    sycl::free(out[k], q);
  }
}

}  // namespace
