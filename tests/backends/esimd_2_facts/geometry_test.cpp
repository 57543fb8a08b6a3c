// Pure planning of the ESIMD two-factor engine: excluded lengths, the size
// rules of both precisions, factor pairs, the batch multiplier and the
// geometry of each pass.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <vector>

#include "dft/gpu/backends/md_complex/esimd_2_facts/plan_geometry.hpp"

namespace {

namespace e2f = ulmara::qez::dft::esimd_2_facts;
using lengths_t = std::vector<std::int64_t>;

bool excluded(const lengths_t& l) { return e2f::esimd_lengths_excluded(l.size(), l.data()); }
bool accepts_double(const lengths_t& l) { return e2f::size_rules_accept_double(l.size(), l.data()); }
bool accepts_single(const lengths_t& l) { return e2f::size_rules_accept_single(l.size(), l.data()); }

TEST(EsimdGeometry, ExcludedLengths) {
  EXPECT_TRUE(excluded({256, 200}));
  EXPECT_TRUE(excluded({64, 384}));
  EXPECT_TRUE(excluded({64, 64, 225}));
  EXPECT_TRUE(excluded({64, 300, 64}));
  EXPECT_TRUE(excluded({64, 64, 1600}));
  EXPECT_TRUE(excluded({64, 64, 576}));
  EXPECT_FALSE(excluded({200, 256}));  // N0 not a power of two
  EXPECT_FALSE(excluded({64, 576}));   // 576 excludes only as N2 of a 3D plan
  EXPECT_FALSE(excluded({64, 64, 400}));
  EXPECT_FALSE(excluded({200}));
}

TEST(EsimdGeometry, DoubleSizeRules) {
  EXPECT_TRUE(accepts_double({512, 512, 512}));
  EXPECT_TRUE(accepts_double({64, 64, 90}));
  EXPECT_TRUE(accepts_double({64, 64, 48}));  // passes; commit then finds no factor pair
  EXPECT_TRUE(accepts_double({1024, 1024}));
  EXPECT_TRUE(accepts_double({1024, 500}));
  EXPECT_FALSE(accepts_double({1024, 1000}));  // N1 <= 512 or exactly 1024
  EXPECT_FALSE(accepts_double({200, 256}));    // N0 not a power of two
  EXPECT_FALSE(accepts_double({2048, 64}));    // a length above 1024
  EXPECT_FALSE(accepts_double({64}));
  EXPECT_FALSE(accepts_double({64, 96, 64}));  // rank 3 needs N1 a power of two
  EXPECT_FALSE(accepts_double({64, 64, 64, 64}));
  // Rank 3, N2 not a power of two: 384 MiB for the listed N2 (108), 192 MiB otherwise.
  EXPECT_TRUE(accepts_double({512, 256, 108}));   // 226,492,416 bytes
  EXPECT_FALSE(accepts_double({512, 256, 98}));   // 205,520,896 bytes
  EXPECT_TRUE(accepts_double({512, 256, 96}));    // exactly 201,326,592 bytes
  EXPECT_FALSE(accepts_double({256, 256, 400}));  // 419,430,400 bytes
}

TEST(EsimdGeometry, SingleSizeRules) {
  EXPECT_FALSE(accepts_single({4096, 64}));  // N0 <= 4095
  EXPECT_TRUE(accepts_single({2048, 4096}));
  EXPECT_FALSE(accepts_single({2048, 400}));
  EXPECT_FALSE(accepts_single({64, 1600}));
  EXPECT_FALSE(accepts_single({96, 64}));
  EXPECT_FALSE(accepts_single({64, 64, 4096}));  // N2 <= 4095
  EXPECT_FALSE(accepts_single({64, 96, 64}));
  EXPECT_TRUE(accepts_single({512, 128, 2048}));     // 1 GiB of the 1.5 GiB for N2 = 2048
  EXPECT_FALSE(accepts_single({1024, 512, 2048}));
  EXPECT_TRUE(accepts_single({512, 1024, 64}));      // listed N2: 324 MiB
  EXPECT_FALSE(accepts_single({1024, 1024, 64}));
  EXPECT_FALSE(accepts_single({512, 1024, 90}));     // not listed: 192 MiB
  EXPECT_TRUE(accepts_single({256, 1024, 90}));
  EXPECT_FALSE(accepts_single({128, 128, 2000}));
}

TEST(EsimdGeometry, FactorPairsAreTheMostNearlySquare) {
  const std::vector<std::int64_t> with_pair = {64,  72,  80,  81,  90,  96,  100, 108, 120,  128,  144,
                                               160, 192, 200, 225, 250, 256, 288, 300, 320,  384,  400,
                                               512, 576, 625, 640, 768, 800, 1024, 1600, 2048, 4096};
  const std::int64_t factors[] = {8, 9, 10, 12, 16, 25, 32, 64};
  for (std::int64_t n = 1; n <= 5000; ++n) {
    e2f::factor_pair p{};
    const bool found = e2f::choose_factor_pair(n, &p);
    ASSERT_EQ(found, std::count(with_pair.begin(), with_pair.end(), n) == 1) << n;
    if (!found) continue;
    ASSERT_EQ(static_cast<std::int64_t>(p.fact0) * p.fact1, n);
    ASSERT_GE(p.fact0, p.fact1) << n;
    std::int64_t best = -1;
    for (std::int64_t a : factors)
      for (std::int64_t b : factors)
        if (a * b == n && (best < 0 || std::llabs(a * a - b * b) < best)) best = std::llabs(a * a - b * b);
    ASSERT_EQ(std::llabs(static_cast<std::int64_t>(p.fact0) * p.fact0 - static_cast<std::int64_t>(p.fact1) * p.fact1),
              best)
        << n;
  }
  const struct {
    std::int64_t n;
    std::uint32_t f0, f1;
  } expected[] = {{512, 32, 16}, {400, 25, 16}, {800, 32, 25}, {72, 9, 8},  {2048, 64, 32},
                  {1024, 32, 32}, {90, 10, 9},  {288, 32, 9},  {96, 12, 8}, {4096, 64, 64}};
  for (const auto& e : expected) {
    e2f::factor_pair p{};
    ASSERT_TRUE(e2f::choose_factor_pair(e.n, &p));
    EXPECT_EQ(p.fact0, e.f0) << e.n;
    EXPECT_EQ(p.fact1, e.f1) << e.n;
  }
}

TEST(EsimdGeometry, BatchMultiplier) {
  const lengths_t single_2d = {1024, 1024}, double_3d = {512, 512, 512}, small = {64, 64};
  EXPECT_EQ(e2f::batch_multiplier_for(2, single_2d.data(), 8), 11u);  // 8 MiB: q = 23
  EXPECT_EQ(e2f::batch_multiplier_for(3, double_3d.data(), 16), 1u);  // 2 GiB
  EXPECT_EQ(e2f::batch_multiplier_for(2, small.data(), 16), 1520u);   // 199,229,440 / 65,536 = 3040
  const lengths_t over = {1024, 1024, 48};  // 384 MiB, over the 190 MiB budget: q = 0
  EXPECT_EQ(e2f::batch_multiplier_for(3, over.data(), 8), 1u);
  const lengths_t quarter = {1024, 1024, 23};  // 184 MiB: q = 1, still one transform
  EXPECT_EQ(e2f::batch_multiplier_for(3, quarter.data(), 8), 1u);
}

e2f::pass_geometry pass_of(const lengths_t& l, std::uint64_t pass, std::uint64_t elem, std::uint64_t local_mem,
                           std::uint64_t m = 3, std::uint64_t distance = 0) {
  const std::uint64_t dist = distance ? distance : [&] {
    std::uint64_t p = 1;
    for (auto n : l) p *= static_cast<std::uint64_t>(n);
    return p;
  }();
  const e2f::plan_shape shape{l.size(), l.data(), dist, dist, m, elem, local_mem};
  e2f::pass_geometry g{};
  EXPECT_TRUE(e2f::plan_pass(shape, pass, &g));
  return g;
}

TEST(EsimdGeometry, Double64x64Passes) {
  const lengths_t l = {64, 64};
  const auto p0 = pass_of(l, 0, 16, 131072);
  EXPECT_EQ(p0.fact0, 8u);
  EXPECT_EQ(p0.fact1, 8u);
  EXPECT_FALSE(p0.column_batch);
  EXPECT_EQ(p0.padded_fact1, 8u);
  EXPECT_EQ(p0.local_size, 1u);
  EXPECT_EQ(p0.work_groups, 64u * 3);
  EXPECT_EQ(p0.global_size, 64u * 3);
  EXPECT_EQ(p0.slm_bytes, 1024u);
  EXPECT_EQ(p0.fwd_dist, 64u);
  EXPECT_EQ(p0.dist_to_next_simd_group, 16u);
  EXPECT_EQ(p0.table_bytes, 16u * 8 * 8);
  const auto p1 = pass_of(l, 1, 16, 131072);
  EXPECT_TRUE(p1.column_batch);  // 64 x 16 x 8 = 8192 bytes of SLM
  EXPECT_EQ(p1.groups_before, 8u);
  EXPECT_EQ(p1.groups_after, 8u);
  EXPECT_EQ(p1.local_size, 8u);
  EXPECT_EQ(p1.work_groups, 8u * 3);  // ceil(N0 / 8) x m
  EXPECT_EQ(p1.slm_bytes, 8192u);
  EXPECT_EQ(p1.batches_x, 8u);
  EXPECT_EQ(p1.dist_to_next_simd_group, 128u);
  EXPECT_EQ(p1.fwd_dist, 4096u);
  EXPECT_EQ(p1.table_bytes, 16u * 8 * 64);
  // Without the local memory the column pass runs the row algorithm.
  const auto row = pass_of(l, 1, 16, 8191);
  EXPECT_FALSE(row.column_batch);
  EXPECT_EQ(row.local_size, 1u);
  EXPECT_EQ(row.work_groups, 64u * 3);
  EXPECT_EQ(row.batches_x, 64u);
  EXPECT_EQ(row.dist_to_next_simd_group, 16u * 64);
  EXPECT_EQ(row.table_bytes, 1024u);
}

TEST(EsimdGeometry, PaddedAndUnevenFactors) {
  // 90 = 10 x 9: pad1 = 14 reals, padded fact1 = 16, two vector groups.
  const auto g = pass_of({128, 90}, 1, 16, 4096);
  EXPECT_EQ(g.fact0, 10u);
  EXPECT_EQ(g.fact1, 9u);
  EXPECT_EQ(g.pad0, 12u);
  EXPECT_EQ(g.pad1, 14u);
  EXPECT_EQ(g.padded_fact1, 16u);
  EXPECT_EQ(g.groups_before, 2u);
  EXPECT_EQ(g.groups_after, 2u);
  EXPECT_EQ(g.local_size, 2u);
  EXPECT_EQ(g.slm_bytes, 10u * 16 * 16);
  // Pass 2 of 64 x 64 x 90 as a column batch: 9 groups before, 10 after.
  const auto c = pass_of({64, 64, 90}, 2, 16, 131072, 2);
  EXPECT_TRUE(c.column_batch);
  EXPECT_EQ(c.loop_bound, 1u);
  EXPECT_EQ(c.local_size, 10u);
  EXPECT_EQ(e2f::groups_after_constant(c), 10u);
  EXPECT_EQ(c.work_groups, 8u * 2 * 64);  // ceil(N0 / 8) x m x N1
  EXPECT_EQ(c.batches_x, 8u);
  EXPECT_EQ(c.batches_y, 64u);
  EXPECT_EQ(c.element_stride, 64u * 64);
  EXPECT_EQ(c.dist_to_next_simd_group, 2u * 64 * 64);
  // A loop bound of 2: 512 = 32 x 16 as a column batch (single precision).
  const auto b = pass_of({64, 512, 64}, 1, 8, 131072, 1);
  EXPECT_TRUE(b.column_batch);
  EXPECT_EQ(b.loop_bound, 2u);
  EXPECT_EQ(b.local_size, 16u);
  EXPECT_EQ(e2f::groups_after_constant(b), 16u);
  EXPECT_EQ(b.work_groups, 8u * 64);  // times N2 in pass 1 of a 3D plan
  EXPECT_EQ(b.fwd_dist, 64u * 512);
}

TEST(EsimdGeometry, NoPairNoPass) {
  const lengths_t l = {64, 64, 48};
  const e2f::plan_shape shape{3, l.data(), 0, 0, 1, 16, 65536};
  e2f::pass_geometry g{};
  EXPECT_TRUE(e2f::plan_pass(shape, 1, &g));
  EXPECT_FALSE(e2f::plan_pass(shape, 2, &g));
}

}  // namespace
