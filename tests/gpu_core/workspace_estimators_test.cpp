#include "dft/gpu/backends/1d_factorised/3_facts/plan.hpp"
#include "dft/gpu/backends/md_complex/esimd_2_facts/plan_geometry.hpp"
#include "dft/gpu/core/workspace/estimate_config.hpp"
#include "dft/gpu/core/workspace_estimators.hpp"

#include "core_test_support.hpp"
#include "ulmara/qez/exceptions.hpp"

namespace {

using namespace core_test;

// A contiguous rank-1 complex configuration in the input/output convention.
dft_estimate_config contiguous_1d(std::int64_t n, std::int64_t count = 1) {
  dft_estimate_config c;
  c.rank = 1;
  c.lengths[0] = n;
  c.input_strides[0] = c.output_strides[0] = 1;
  c.number_of_transforms = count;
  c.fwd_distance = c.bwd_distance = n;
  c.in_place = 1;
  return c;
}

std::int64_t r128_ref(std::int64_t x) { return (x + 127) / 128 * 128; }

TEST(WorkspaceEstimators, WorkedFiguresOfA8192PointSingleTransform) {
  const dft_estimate_config c = contiguous_1d(8192);
  EXPECT_EQ(dft_c2c_default_gpu_bkd<float>().workspace_estimate(c), 131072);
  EXPECT_EQ(dft_c2c_8k_2_facts_gpu_bkd<float>().workspace_estimate(c), 589824);
  EXPECT_EQ(dft_c2c_n_facts_gpu_bkd<float>().workspace_estimate(c), 393216);
  EXPECT_EQ(dft_small_md_gpu_bkd<float>().workspace_estimate(c), 327680);
  EXPECT_EQ(dft_c2c_3_facts_gpu_bkd<float>().workspace_estimate(c), 198784);
  EXPECT_EQ(dft_c2c_4_facts_gpu_bkd<float>().workspace_estimate(c), 67502080);
  EXPECT_EQ(estimate_workspace_c2c_1d_float(c), 67502080);
}

// The three-factor estimate uses the backend's own factor choice.
TEST(WorkspaceEstimators, ThreeFactorChoice) {
  namespace tf = ulmara::qez::dft::three_factor;
  tf::factors f{};
  ASSERT_TRUE(tf::choose_factors<float>(8192, QEZ_GPU_ARCH_HARIX, &f));
  EXPECT_EQ(f.f[0], 64);
  EXPECT_EQ(f.f[1], 16);
  EXPECT_EQ(f.f[2], 8);
  EXPECT_FALSE(tf::choose_factors<float>(4 * 3, QEZ_GPU_ARCH_HARIX, &f));   // R = 3 is too short
  EXPECT_FALSE(tf::choose_factors<float>(4 * 67, QEZ_GPU_ARCH_HARIX, &f));  // 67 does not split
  tf::factors d{};
  ASSERT_TRUE(tf::choose_factors<double>(8192, QEZ_GPU_ARCH_HARIX, &d));
  EXPECT_EQ(d.f[0], 32);
}

// Double N = 21000 is 40 x 25 x 21 on most architectures but 28 x 30 x 25
// on Fenwa: the estimate holds the larger second table (30 x 25 entries).
TEST(WorkspaceEstimators, ThreeFactorEstimateCoversTheFenwaRows) {
  const std::int64_t e = 16;
  const std::int64_t n = 21000;
  EXPECT_EQ(dft_c2c_3_facts_gpu_bkd<double>().workspace_estimate(contiguous_1d(n)),
            r128_ref(e * (n + 4)) + 2 * (r128_ref(e * 30 * 25) + r128_ref(e * n)));
}

// A column batch of 8192 points has no pair of factors up to 64: the
// backend takes it in three factors, with a sub-table beside the main one.
TEST(WorkspaceEstimators, ColumnBatchOfThreeFactorsIsEstimated) {
  dft_estimate_config c;
  c.rank = 1;
  c.lengths[0] = 8192;
  c.number_of_transforms = 4;
  c.input_strides[0] = c.output_strides[0] = 4;
  c.fwd_distance = c.bwd_distance = 1;
  const std::int64_t main_tables = 2 * r128_ref(8 * 8192);
  EXPECT_GT(dft_c2c_2_facts_colbatch_gpu_bkd<float>().workspace_estimate(c), main_tables);
  c.lengths[0] = 4096;  // 64 x 64: the main table only
  EXPECT_EQ(dft_c2c_2_facts_colbatch_gpu_bkd<float>().workspace_estimate(c), 2 * r128_ref(8 * 4096));
}

TEST(WorkspaceEstimators, TwoFactorPairPrefersTheEarlierOfEqualCosts) {
  const dft_estimate_config c = contiguous_1d(48);
  // a = 8, b = 6: d * r128(2e * 8 * ru4(6)) with e = 8 bytes.
  EXPECT_EQ(dft_c2c_2_facts_gpu_bkd<float>().workspace_estimate(c), 2 * r128_ref(2 * 8 * 8 * 8));
  EXPECT_EQ(dft_c2c_2_facts_gpu_bkd<double>().workspace_estimate(c), 2 * r128_ref(2 * 16 * 8 * 8));
  EXPECT_EQ(dft_c2c_2_facts_gpu_bkd<float>().workspace_estimate(contiguous_1d(47)), -1);
  EXPECT_EQ(dft_c2c_2_facts_gpu_bkd<double>().workspace_estimate(contiguous_1d(2048)), -1);
  EXPECT_EQ(dft_c2c_2_facts_gpu_bkd<float>().workspace_estimate(contiguous_1d(2048)),
            2 * r128_ref(2 * 8 * 64 * 32));
}

// The ESIMD estimate uses the engine's own factor pairs.
TEST(WorkspaceEstimators, EsimdPairIsTheCheapestWithTheLargerFactorFirst) {
  namespace es = ulmara::qez::dft::esimd_2_facts;
  es::factor_pair p{};
  ASSERT_TRUE(es::choose_factor_pair(1024, &p));
  EXPECT_EQ(p.fact0, 32u);
  EXPECT_EQ(p.fact1, 32u);
  es::factor_pair q{};
  ASSERT_TRUE(es::choose_factor_pair(100, &q));
  EXPECT_EQ(q.fact0, 10u);
  EXPECT_EQ(q.fact1, 10u);
  EXPECT_FALSE(es::choose_factor_pair(8192, &q));
}

// The ESIMD estimate: a table per pass and direction, and the slack of one
// scalar for a parent's offset that is not a multiple of it.
TEST(WorkspaceEstimators, EsimdEstimateHoldsTheOffsetSlack) {
  dft_estimate_config c = contiguous_1d(100);  // 10 x 10: 10 x 16 entries a table
  c.real_domain = 1;
  c.in_place = 0;
  EXPECT_EQ(dft_c2c_esimd_2_facts_gpu_bkd<float>().workspace_estimate(c), 2 * r128_ref(8 * 10 * 16) + 4);
  EXPECT_EQ(dft_c2c_esimd_2_facts_gpu_bkd<double>().workspace_estimate(c), 2 * r128_ref(16 * 10 * 16) + 8);
}

TEST(WorkspaceEstimators, ComplexOneDimensionalIsAtLeastTheDefault) {
  for (std::int64_t n : {1, 2, 7, 48, 1000, 4096, 8192, 30030, 1 << 20})
    for (std::int64_t m : {1, 3, 1000}) {
      const dft_estimate_config c = contiguous_1d(n, m);
      EXPECT_GE(estimate_workspace_c2c_1d_double(c),
                dft_c2c_default_gpu_bkd<double>().workspace_estimate(c))
          << n << " x " << m;
    }
}

TEST(WorkspaceEstimators, DefaultClassCapsTheBatchBuffer) {
  const dft_estimate_config big = contiguous_1d(1 << 20, 1 << 20);
  EXPECT_EQ(dft_c2c_default_gpu_bkd<double>().workspace_estimate(big), 2 * (std::int64_t{1} << 34));
}

TEST(WorkspaceEstimators, PackedLayout) {
  dft_estimate_config c = contiguous_1d(64);
  EXPECT_TRUE(is_packed_layout(c, 0, false));
  c.number_of_transforms = 4;
  c.fwd_distance = 64;
  c.bwd_distance = 64;
  EXPECT_TRUE(is_packed_layout(c, 0, true));
  c.bwd_distance = 65;
  EXPECT_FALSE(is_packed_layout(c, 0, true));
  EXPECT_TRUE(is_packed_layout(c, 0, false));
  c.input_strides[0] = 2;
  EXPECT_FALSE(is_packed_layout(c, 0, false));

  dft_estimate_config real;  // 2D real in place: rows padded to 2 * (n/2 + 1)
  real.rank = 2;
  real.real_domain = 1;
  real.in_place = 1;
  real.lengths[0] = 10;
  real.lengths[1] = 4;
  real.input_strides[0] = real.output_strides[0] = 1;
  real.input_strides[1] = 12;
  real.output_strides[1] = 6;
  EXPECT_TRUE(is_packed_layout(real, 0, false));
  EXPECT_FALSE(is_packed_layout(real, 1, false));
}

TEST(WorkspaceEstimators, PaddedCubeDeclinesOtherShapes) {
  dft_estimate_config c;
  c.rank = 3;
  for (int k = 0; k < 3; ++k) c.lengths[k] = 512;
  const std::int64_t strides[3] = {1, 512, 512 * 512};
  for (int k = 0; k < 3; ++k) c.input_strides[k] = c.output_strides[k] = strides[k];
  EXPECT_GT(dft_c2c_3d_padded_gpu_bkd<float>().workspace_estimate(c), (520LL * 512 * 512));
  dft_estimate_config short_side = c;
  short_side.lengths[2] = 511;
  EXPECT_EQ(dft_c2c_3d_padded_gpu_bkd<float>().workspace_estimate(short_side), -1);
  dft_estimate_config padded_rows = c;
  padded_rows.input_strides[1] = padded_rows.output_strides[1] = 520;
  EXPECT_EQ(dft_c2c_3d_padded_gpu_bkd<float>().workspace_estimate(padded_rows), -1);
}

TEST(WorkspaceEstimators, RealOddLengthUsesTheWholeLength) {
  dft_estimate_config c = contiguous_1d(15);
  c.real_domain = 1;
  const std::int64_t s = 8 * 15;
  dft_estimate_config child = contiguous_1d(15);
  child.input_strides[0] = child.output_strides[0] = 0;
  child.fwd_strides[0] = child.bwd_strides[0] = 1;
  child.number_of_transforms = r128_ref(s) / s;
  EXPECT_EQ(dft_r2c_1d_main_gpu_bkd<float>().workspace_estimate(c),
            r128_ref(s) + estimate_workspace_c2c_1d_float(child));
  c.lengths[0] = 16;  // even: half length and one more r128(s) term
  const std::int64_t even_s = 8 * 8;
  dft_estimate_config half = child;
  half.lengths[0] = 8;
  half.fwd_distance = half.bwd_distance = 8;
  half.number_of_transforms = r128_ref(even_s) / even_s;
  EXPECT_EQ(dft_r2c_1d_main_gpu_bkd<float>().workspace_estimate(c),
            r128_ref(even_s) + r128_ref(even_s) + estimate_workspace_c2c_1d_float(half));
}

// --- the aggregators on records ---------------------------------------------

void set_contiguous_strides(DFTI_DESCRIPTOR* r) {
  std::vector<std::int64_t> strides{0};
  std::int64_t product = 1;
  for (std::int32_t k = 0; k < r->lengths.count; ++k) {
    strides.push_back(product);
    product *= r->lengths.records[k].length;
  }
  r->methods->set_input_strides(r, strides.data());
  r->methods->set_output_strides(r, strides.data());
}

TEST(WorkspaceAggregators, RecordOf8192SinglePointsGivesTheLargestClass) {
  record_guard r(make_record(dfti_single, dfti_complex, {8192}));
  set_contiguous_strides(r.get());
  EXPECT_EQ(estimate_workspace_c2c_float(r.get()), 67502080u);
}

dft_estimate_config contiguous_2d(std::int64_t n0, std::int64_t n1) {
  dft_estimate_config c;
  c.rank = 2;
  c.lengths[0] = n0;
  c.lengths[1] = n1;
  c.input_strides[0] = c.output_strides[0] = 1;
  c.input_strides[1] = c.output_strides[1] = n0;
  c.number_of_transforms = 1;
  c.in_place = 1;
  return c;
}

TEST(WorkspaceAggregators, ComplexRankTwoBeyondSharedMemoryEqualsTheTwoDimensionalClass) {
  // 134 = 2 x 67 has a prime factor the shared-memory backend cannot take,
  // so only the 2D class applies.
  record_guard r(make_record(dfti_double, dfti_complex, {134, 32}));
  set_contiguous_strides(r.get());
  const dft_estimate_config c = contiguous_2d(134, 32);
  EXPECT_EQ(dft_small_md_gpu_bkd<double>().workspace_estimate(c), -1);
  const std::int64_t expected = dft_c2c_2d_main_gpu_bkd<double>().workspace_estimate(c);
  EXPECT_GT(expected, 0);
  EXPECT_EQ(estimate_workspace_c2c_double(r.get()), static_cast<std::uint64_t>(expected));
}

TEST(WorkspaceAggregators, SmallComplexRankTwoCoversTheSharedMemoryBackend) {
  // The shared-memory backend takes small complex 2D transforms, so its
  // tables count in the estimate.
  record_guard r(make_record(dfti_single, dfti_complex, {64, 32}));
  set_contiguous_strides(r.get());
  const dft_estimate_config c = contiguous_2d(64, 32);
  const std::int64_t small = dft_small_md_gpu_bkd<float>().workspace_estimate(c);
  EXPECT_GT(small, 0);
  EXPECT_GE(estimate_workspace_c2c_float(r.get()), static_cast<std::uint64_t>(small));
  EXPECT_GE(estimate_workspace_c2c_float(r.get()),
            static_cast<std::uint64_t>(dft_c2c_2d_main_gpu_bkd<float>().workspace_estimate(c)));
}

TEST(WorkspaceEstimators, SharedMemoryClassTakesEveryPowerOfTwoTheBackendTakes) {
  for (std::int64_t n = 512; n <= 65536; n *= 2) {
    const std::int64_t e = 8;
    EXPECT_EQ(dft_c2c_n_facts_gpu_bkd<float>().workspace_estimate(contiguous_1d(n)),
              2 * r128_ref(2 * e * n) + 2 * r128_ref(e * n))
        << n;
  }
  EXPECT_EQ(dft_c2c_n_facts_gpu_bkd<float>().workspace_estimate(contiguous_1d(131072)), -1);
  EXPECT_EQ(dft_c2c_n_facts_gpu_bkd<float>().workspace_estimate(contiguous_1d(256)), -1);
  EXPECT_EQ(dft_c2c_n_facts_gpu_bkd<double>().workspace_estimate(contiguous_1d(3000)), -1);
}

TEST(WorkspaceEstimators, RealOneDimensionalCountsTheShortLastGroupsChild) {
  // 2^20 real doubles: h = 2^19 complex points of 16 bytes, 8 MiB per
  // transform; the 16 GiB cap holds 2048 of them, so 3000 transforms run as
  // a group of 2048 and a last group of 952, each with its complex child.
  dft_estimate_config c;
  c.rank = 1;
  c.lengths[0] = std::int64_t{1} << 20;
  c.input_strides[0] = c.output_strides[0] = 1;
  c.number_of_transforms = 3000;
  c.fwd_distance = c.lengths[0] + 2;
  c.bwd_distance = c.lengths[0] / 2 + 1;
  c.real_domain = 1;
  const std::int64_t s = 16 * (c.lengths[0] / 2);
  const std::int64_t cap = std::int64_t{1} << 34;
  const auto child = [&](std::int64_t transforms) {
    dft_estimate_config k;
    k.rank = 1;
    k.lengths[0] = c.lengths[0] / 2;
    k.fwd_strides[0] = k.bwd_strides[0] = 1;
    k.number_of_transforms = transforms;
    k.fwd_distance = k.bwd_distance = k.lengths[0];
    k.direction_count = c.direction_count;
    return estimate_workspace_c2c_1d_double(k);
  };
  EXPECT_EQ(dft_r2c_1d_main_gpu_bkd<double>().workspace_estimate(c),
            cap + r128_ref(s) + child(2048) + child(952));
  c.number_of_transforms = 4096;  // two whole groups: one child serves both
  EXPECT_EQ(dft_r2c_1d_main_gpu_bkd<double>().workspace_estimate(c), cap + r128_ref(s) + child(2048));
}

TEST(WorkspaceAggregators, RanksWithoutABackendGiveZero) {
  record_guard four(make_record(dfti_single, dfti_complex, {4, 4, 4, 4}));
  EXPECT_EQ(estimate_workspace_c2c_float(four.get()), 0u);
  record_guard real_four(make_record(dfti_double, dfti_real, {4, 4, 4, 4}));
  EXPECT_EQ(estimate_workspace_r2c_double(real_four.get()), 0u);
  record_guard seven(make_record(dfti_double, dfti_real, {2, 2, 2, 2, 2, 2, 2}));
  EXPECT_EQ(estimate_workspace_r2c_double(seven.get()), 0u);
  dft_estimate_config empty;
  EXPECT_EQ(estimate_workspace_r2c_md_float(empty), 0);
}

TEST(WorkspaceAggregators, RealRanksOneToThreeGiveTheirClasses) {
  for (std::vector<std::int64_t> lengths : {std::vector<std::int64_t>{64},
                                            std::vector<std::int64_t>{64, 16},
                                            std::vector<std::int64_t>{16, 8, 4}}) {
    record_guard r(make_record(dfti_single, dfti_real, lengths));
    r->placement = dfti_not_inplace;
    set_contiguous_strides(r.get());
    EXPECT_GT(estimate_workspace_r2c_float(r.get()), 0u) << lengths.size();
  }
}

TEST(WorkspaceAggregators, NullRecordIsAnInvalidDescriptor) {
  EXPECT_THROW(estimate_workspace_c2c_float(nullptr), ulmara::qez::dft::invalid_descriptor_exception);
  EXPECT_THROW(estimate_workspace_r2c_double(nullptr), ulmara::qez::dft::invalid_descriptor_exception);
}

}  // namespace
