// Pure planning of the four-factor backend: sub-length splits, the choice
// of N1 and N2, pass geometry, cross-table size and the one-tile chunk.
#include <cstdint>

#include <gtest/gtest.h>

#include "dft/gpu/backends/1d_factorised/4_facts/plan.hpp"

namespace {

namespace ff = ulmara::qez::dft::four_factor;

ff::factor_split split_of(std::int64_t m) {
  ff::factor_split s{0, 0};
  EXPECT_TRUE(ff::split_sub_length(m, &s)) << m;
  return s;
}

// Independent check: the split is a factorisation into two factors of at
// most 49, and no other such factorisation is closer.
void expect_nearest_split(std::int64_t m) {
  ff::factor_split s{0, 0};
  if (!ff::split_sub_length(m, &s)) return;
  EXPECT_EQ(s.larger * s.smaller, m);
  EXPECT_GE(s.larger, s.smaller);
  EXPECT_LE(s.larger, 49);
  EXPECT_GE(s.smaller, 2);
  for (std::int64_t d = 2; d <= 49; ++d) {
    if (m % d == 0 && m / d >= d && m / d <= 49) {
      EXPECT_LE(s.larger - s.smaller, m / d - d) << m;
    }
  }
}

TEST(FourFactorPlan, SubLengthSplits) {
  EXPECT_EQ(split_of(64).larger, 8);
  EXPECT_EQ(split_of(64).smaller, 8);
  EXPECT_EQ(split_of(32).larger, 8);
  EXPECT_EQ(split_of(32).smaller, 4);
  EXPECT_EQ(split_of(60).larger, 10);
  EXPECT_EQ(split_of(60).smaller, 6);
  EXPECT_EQ(split_of(1024).larger, 32);
  EXPECT_EQ(split_of(98).larger, 14);  // 14 x 7, not 49 x 2
  ff::factor_split s{0, 0};
  for (std::int64_t m : {1, 2, 23, 89, 1031, 343, 539, 53 * 2})
    EXPECT_FALSE(ff::split_sub_length(m, &s)) << m;
  for (std::int64_t m = 3; m <= 1024; ++m) expect_nearest_split(m);
}

struct split_case {
  std::int64_t n, len1, f10, f11, len2, f20, f21;
};

TEST(FourFactorPlan, SubLengthsOfKnownLengths) {
  const split_case cases[] = {
      {2048, 64, 8, 8, 32, 8, 4},
      {2744, 56, 8, 7, 49, 7, 7},
      {2880, 60, 10, 6, 48, 8, 6},
      {1024 * 1024, 1024, 32, 32, 1024, 32, 32},
  };
  for (const split_case& c : cases) {
    ff::length_split l{};
    ASSERT_TRUE(ff::choose_sub_lengths(c.n, &l)) << c.n;
    EXPECT_EQ(l.len1, c.len1) << c.n;
    EXPECT_EQ(l.split1.larger, c.f10) << c.n;
    EXPECT_EQ(l.split1.smaller, c.f11) << c.n;
    EXPECT_EQ(l.len2, c.len2) << c.n;
    EXPECT_EQ(l.split2.larger, c.f20) << c.n;
    EXPECT_EQ(l.split2.smaller, c.f21) << c.n;
  }
}

TEST(FourFactorPlan, LengthsWithoutUsableSplit) {
  ff::length_split l{};
  EXPECT_FALSE(ff::choose_sub_lengths(2047, &l));             // 23 x 89
  EXPECT_FALSE(ff::choose_sub_lengths(2 * 1031, &l));         // 1031 above 1024
  EXPECT_FALSE(ff::choose_sub_lengths(117649, &l));           // 7^6 = 343 x 343, 343 = 49 x 7
  EXPECT_FALSE(ff::choose_sub_lengths(1024 * 1024 * 2, &l));  // above 1024 x 1024
}

// Every accepted pair multiplies back to N and is the closest pair to sqrt(N).
TEST(FourFactorPlan, ChosenPairIsTheNearest) {
  for (std::int64_t n = 2048; n <= 6000; n += 7) {
    ff::length_split l{};
    if (!ff::choose_sub_lengths(n, &l)) continue;
    EXPECT_EQ(l.len1 * l.len2, n);
    EXPECT_GE(l.len1, l.len2);
    EXPECT_EQ(l.split1.larger * l.split1.smaller, l.len1);
    EXPECT_EQ(l.split2.larger * l.split2.smaller, l.len2);
    for (std::int64_t b = l.len2 + 1; b * b <= n; ++b) {
      ff::factor_split x, y;
      if (n % b == 0 && ff::split_sub_length(b, &x) && ff::split_sub_length(n / b, &y) && n / b <= 1024)
        ADD_FAILURE() << n << ": " << b << " x " << n / b << " is nearer than " << l.len1 << " x " << l.len2;
    }
  }
}

TEST(FourFactorPlan, PassGeometryOf2880) {
  ff::length_split l{};
  ASSERT_TRUE(ff::choose_sub_lengths(2880, &l));
  const ff::pass_plan p1 = ff::plan_pass<double>(l.len1, l.split1, l.len2, 16);
  const ff::pass_plan p2 = ff::plan_pass<double>(l.len2, l.split2, l.len1, 16);
  EXPECT_EQ(p1.work_group_size, 16 * 6);
  EXPECT_EQ(p1.sub_groups_per_group, 6);
  EXPECT_EQ(p1.ffts_per_sub_group, 8);
  EXPECT_EQ(p1.work_groups(), 6);  // 48 columns, no tail
  EXPECT_EQ(p1.num_ffts % p1.ffts_per_sub_group, 0);
  EXPECT_EQ(p1.slm_bytes, 60u * 16 * 8);
  EXPECT_EQ(p2.work_groups(), 8);  // 60 columns, a tail of 4
  EXPECT_EQ(p2.num_ffts % p2.ffts_per_sub_group, 4);
  EXPECT_EQ(p2.global_size, 8 * 16 * 6);
  EXPECT_EQ(ff::cross_table_raw_bytes<double>(p2), 8u * 8 * 48 * 32);
  EXPECT_EQ(ff::cross_table_raw_bytes<float>(ff::plan_pass<float>(l.len2, l.split2, l.len1, 16)), 8u * 8 * 48 * 16);
  EXPECT_EQ(ff::plan_pass<float>(l.len1, l.split1, l.len2, 16).slm_bytes, 60u * 16 * 4);
}

TEST(FourFactorPlan, OneTileChunk) {
  EXPECT_EQ(ff::one_tile_chunk<double>(1 << 20, 100), 4);
  EXPECT_EQ(ff::one_tile_chunk<double>(1 << 20, 3), 3);
  EXPECT_EQ(ff::one_tile_chunk<float>(1 << 20, 100), 8);
  EXPECT_EQ(ff::one_tile_chunk<double>(2048, 100000), 0xC000000 / (16 * 2048) / 3);
}

}  // namespace
