// Pure planning of the column-batch backend: the factor search, the pass
// length limit, launch plans over chunks and outer indices, pass records,
// and the selection of prebuilt kernels. No device is touched.
#include <string>

#include <gtest/gtest.h>

#include "dft/api/status_codes.hpp"
#include "dft/gpu/backends/1d_factorised/4_facts_colbatch/plan.hpp"

namespace {

namespace dft = ulmara::qez::dft;
namespace cb = ulmara::qez::dft::four_factor_colbatch;

struct pair_result {
  int status;
  std::int64_t larger, smaller;
};
pair_result pair_of(std::int64_t n, std::int64_t limit) {
  std::int64_t p[2] = {-1, -1};
  const int status = cb::find_factor_pair(n, p, limit);
  return {status, p[0], p[1]};
}

TEST(ColbatchFactorPair, LeastDifferenceWithinTheLimit) {
  const pair_result a = pair_of(4096, 1024);
  EXPECT_EQ(a.status, 0);
  EXPECT_EQ(a.larger, 64);
  EXPECT_EQ(a.smaller, 64);
  const pair_result b = pair_of(8192, 2048);
  EXPECT_EQ(b.larger, 128);
  EXPECT_EQ(b.smaller, 64);
  const pair_result c = pair_of(2880, 1024);
  EXPECT_EQ(c.larger, 60);
  EXPECT_EQ(c.smaller, 48);
  // A limit below the square root moves the pair apart.
  const pair_result d = pair_of(4096, 32);
  EXPECT_EQ(d.status, dft::status_not_handled);
  const pair_result e = pair_of(1 << 20, 1024);
  EXPECT_EQ(e.larger, 1024);
  EXPECT_EQ(e.smaller, 1024);
  const pair_result f = pair_of(60, 64);
  EXPECT_EQ(f.larger, 10);
  EXPECT_EQ(f.smaller, 6);
}

TEST(ColbatchFactorPair, NoPair) {
  EXPECT_EQ(pair_of(0, 64).status, dft::status_internal_error);
  EXPECT_EQ(pair_of(-4, 64).status, dft::status_internal_error);
  EXPECT_EQ(pair_of(1, 64).status, dft::status_not_handled);
  EXPECT_EQ(pair_of(2, 64).status, dft::status_not_handled);  // 4 = 2 x 2, but 2 splits no further
  EXPECT_EQ(pair_of(4099, 1024).status, dft::status_not_handled);  // prime
  EXPECT_EQ(pair_of(67 * 2, 64).status, dft::status_not_handled);  // 67 above the codelets
  EXPECT_EQ(pair_of(12, 0).status, dft::status_not_handled);
}

TEST(ColbatchPassLimit, LocalMemoryAndPrecision) {
  EXPECT_EQ(cb::pass_length_limit<double>(131072, 16), 1024);
  EXPECT_EQ(cb::pass_length_limit<float>(131072, 16), 2048);
  EXPECT_EQ(cb::pass_length_limit<double>(65536, 16), 512);
  EXPECT_EQ(cb::pass_length_limit<float>(524288, 16), 4096);  // capped
  EXPECT_EQ(cb::pass_length_limit<double>(131072, 32), 512);
}

TEST(ColbatchLaunchPlan, ChunksAndTails) {
  const cb::launch_plan five = cb::plan_launches(5, 0, 16, 4096 * 16, 0);
  EXPECT_EQ(five.full_chunks, 0);
  EXPECT_EQ(five.inner_tail, 5);
  EXPECT_EQ(cb::chunk_count(five), 1);
  EXPECT_EQ(five.launches, 1);
  EXPECT_EQ(five.chunks_per_launch, 1);
  EXPECT_EQ(five.outer_launches, 1);
  EXPECT_EQ(cb::outer_groups(five), 1);
  EXPECT_EQ(cb::outer_of_group(five, 0), 1);

  const cb::launch_plan exact = cb::plan_launches(32, 3, 16, 4096 * 16, 0);
  EXPECT_EQ(exact.full_chunks, 4);
  EXPECT_EQ(exact.inner_tail, 0);
  EXPECT_EQ(exact.chunks_per_launch, 4);
  EXPECT_EQ(exact.outer_launches, 3);
  EXPECT_EQ(exact.outer_per_launch, 1);
  EXPECT_EQ(cb::chunks_of_launch(exact, 0), 4);
}

TEST(ColbatchLaunchPlan, OneTileCap) {
  const std::uint64_t cap = cb::one_tile_cap_bytes;
  // 2^20 double points: 4 transforms fit, fewer than a chunk of 8.
  const cb::launch_plan big = cb::plan_launches(20, 0, 16, (std::uint64_t{1} << 20) * 16, cap);
  EXPECT_EQ(big.chunks_per_launch, 1);
  EXPECT_EQ(big.launches, 3);
  for (std::int64_t a = 0; a < 3; ++a) EXPECT_EQ(cb::chunks_of_launch(big, a), 1);

  // Two chunks per launch: 3 chunks run as 2 and 1.
  const std::uint64_t transform = 4096 * 16;
  const cb::launch_plan two = cb::plan_launches(20, 0, 16, transform, 16 * transform);
  EXPECT_EQ(two.chunks_per_launch, 2);
  EXPECT_EQ(two.launches, 2);
  EXPECT_EQ(cb::chunks_of_launch(two, 0), 2);
  EXPECT_EQ(cb::chunks_of_launch(two, 1), 1);

  // Four launches of two chunks each, none short.
  const cb::launch_plan even = cb::plan_launches(64, 0, 16, transform, 16 * transform);
  EXPECT_EQ(even.launches, 4);
  EXPECT_EQ(cb::chunks_of_launch(even, 3), 2);

  // Counts {8, 5} with room for two outer indices per launch: groups of 2,
  // 2 and 1.
  const cb::launch_plan outer = cb::plan_launches(8, 5, 16, transform, 16 * transform);
  EXPECT_EQ(outer.launches, 1);
  EXPECT_EQ(outer.outer_per_launch, 2);
  EXPECT_EQ(outer.outer_launches, 2);
  EXPECT_EQ(outer.outer_tail, 1);
  EXPECT_EQ(cb::outer_groups(outer), 3);
  EXPECT_EQ(cb::outer_of_group(outer, 0), 2);
  EXPECT_EQ(cb::outer_of_group(outer, 2), 1);

  // Fewer outer indices than fit: one group of all of them.
  const cb::launch_plan all = cb::plan_launches(8, 3, 16, transform, 64 * transform);
  EXPECT_EQ(all.outer_per_launch, 3);
  EXPECT_EQ(all.outer_launches, 1);
  EXPECT_EQ(all.outer_tail, 0);
}

TEST(ColbatchPassPlan, GeometryAndNames) {
  const cb::pass_plan p1 = cb::plan_pass<double>(cb::pass_0, 8, 8, 64, 16, 20, 1);
  EXPECT_EQ(p1.fft_len, 64);
  EXPECT_EQ(p1.work_group_size, 128);
  EXPECT_EQ(p1.slm_bytes, 8192u);  // 64 x 16 x 8
  EXPECT_EQ(p1.global_size, 64 * 128);
  EXPECT_EQ(p1.num_workgroups, 64);
  EXPECT_EQ(p1.sub_groups, 8);
  EXPECT_EQ(p1.transforms_per_group, 8);
  EXPECT_EQ(p1.transpose_kernel, 1);
  EXPECT_EQ(p1.multifactor_twiddle, 0);
  EXPECT_STREQ(p1.kernel_name, "fft_64_colbatch_8_d");
  EXPECT_STREQ(p1.fact0_func, "fft_8_s");
  EXPECT_EQ(p1.sub_table_bytes, 64u * 16u);

  const cb::pass_plan p2 = cb::plan_pass<float>(cb::pass_1, 10, 6, 48, 16, 4096, 2);
  EXPECT_EQ(p2.fft_len, 60);
  EXPECT_EQ(p2.work_group_size, 96);
  EXPECT_EQ(p2.slm_bytes, 60u * 16u * 4u);
  EXPECT_EQ(p2.howmany_per_launch, 2048);
  EXPECT_EQ(p2.multifactor_twiddle, 1);
  EXPECT_EQ(p2.transpose_kernel, 0);
  EXPECT_STREQ(p2.kernel_name, "fft_60_colbatch_8_s");
  EXPECT_STREQ(p2.fact1_func, "fft_6_s");
}

// ---------------------------------------------------------------------------
// Prebuilt kernel selection.

TEST(ColbatchPrebuilt, RowsMatchTheirPassPlans) {
  const cb::pass_plan p1 = cb::plan_pass<float>(cb::pass_0, 8, 8, 64, 16, 4096, 1);
  const cb::prebuilt_row* trans = cb::find_prebuilt_row(p1, cb::pass_0);
  ASSERT_NE(trans, nullptr);
  EXPECT_STREQ(trans->name_fwd, "fft64_num4096_split4096_s_trans_fwd");
  EXPECT_STREQ(trans->name_bwd, "fft64_num4096_split4096_s_trans_bwd");
  // The same shape as a pass-1 plan takes no "trans" kernel.
  const cb::prebuilt_row* multi = cb::find_prebuilt_row(p1, cb::pass_1);
  ASSERT_NE(multi, nullptr);
  EXPECT_STREQ(multi->name_fwd, "fft64_num4096_split4096_s_multitwidl_fwd");

  // Two launches (the one-tile cap): the split-2048 rows.
  const cb::pass_plan half = cb::plan_pass<float>(cb::pass_1, 8, 8, 64, 16, 4096, 2);
  ASSERT_NE(cb::find_prebuilt_row(half, cb::pass_1), nullptr);
  EXPECT_STREQ(cb::find_prebuilt_row(half, cb::pass_1)->name_bwd, "fft64_num4096_split2048_s_multitwidl_bwd");

  // 8192 of 8192: pass 0 of 128 points, pass 1 of 64 over 128 work-groups.
  const cb::pass_plan q1 = cb::plan_pass<float>(cb::pass_0, 16, 8, 64, 16, 8192, 8);
  const cb::pass_plan q2 = cb::plan_pass<float>(cb::pass_1, 8, 8, 128, 16, 8192, 8);
  ASSERT_NE(cb::find_prebuilt_row(q1, cb::pass_0), nullptr);
  EXPECT_STREQ(cb::find_prebuilt_row(q1, cb::pass_0)->name_fwd, "fft128_num8192_split1024_s_trans_fwd");
  ASSERT_NE(cb::find_prebuilt_row(q2, cb::pass_1), nullptr);
  EXPECT_STREQ(cb::find_prebuilt_row(q2, cb::pass_1)->name_fwd, "fft64_num8192_split1024_s_multitwidl_fwd");
  EXPECT_EQ(cb::find_prebuilt_row(q2, cb::pass_0), nullptr);

  // Any other count, or another sub-group size: no row.
  EXPECT_EQ(cb::find_prebuilt_row(cb::plan_pass<float>(cb::pass_0, 8, 8, 64, 16, 4095, 1), cb::pass_0), nullptr);
  EXPECT_EQ(cb::find_prebuilt_row(cb::plan_pass<float>(cb::pass_0, 8, 8, 64, 32, 4096, 1), cb::pass_0), nullptr);
}

TEST(ColbatchPrebuilt, QueueDriverAndLayoutConditions) {
  dft::batch_layout_row unit{4096, 0, 1, 1, 0, 0};
  const int nivolo = QEZ_GPU_BACKEND_NIVOLO;
  EXPECT_TRUE(cb::prebuilt_conditions_hold(nivolo, "1.6.31294", unit, 0, cb::dir_forward));
  EXPECT_TRUE(cb::prebuilt_conditions_hold(nivolo, "1.6", unit, 1, cb::dir_backward));
  EXPECT_FALSE(cb::prebuilt_conditions_hold(QEZ_GPU_BACKEND_OPENCL, "1.6.31294", unit, 0, cb::dir_forward));
  EXPECT_FALSE(cb::prebuilt_conditions_hold(nivolo, "1.5.30872", unit, 0, cb::dir_forward));
  EXPECT_FALSE(cb::prebuilt_conditions_hold(nivolo, "11.6", unit, 0, cb::dir_forward));
  EXPECT_FALSE(cb::prebuilt_conditions_hold(nivolo, "1.", unit, 0, cb::dir_forward));
  EXPECT_FALSE(cb::prebuilt_conditions_hold(nivolo, "1.6", unit, 2, cb::dir_forward));
  // Input/output distances in force: both must be 1.
  dft::batch_layout_row io{4096, 1, 0, 0, 1, 2};
  EXPECT_FALSE(cb::prebuilt_conditions_hold(nivolo, "1.6", io, 0, cb::dir_forward));
  io.out_distance = 1;
  EXPECT_TRUE(cb::prebuilt_conditions_hold(nivolo, "1.6", io, 0, cb::dir_backward));
  // Domain distances swap with the direction.
  dft::batch_layout_row fb{4096, 0, 1, 3, 0, 0};
  EXPECT_FALSE(cb::prebuilt_conditions_hold(nivolo, "1.6", fb, 0, cb::dir_forward));
  EXPECT_FALSE(cb::prebuilt_conditions_hold(nivolo, "1.6", fb, 0, cb::dir_backward));
}

}  // namespace
