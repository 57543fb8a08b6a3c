// Pure planning of the column-batch backend: the factor split and the
// block-transfer cost search, without a device.
#include <gtest/gtest.h>

#include <cstdint>
#include <initializer_list>

#include "dft/gpu/backends/1d_factorised/n_fact_colbatch/plan.hpp"

namespace {

namespace cb = ulmara::qez::dft::n_fact_colbatch;

struct split {
  int status;
  std::int64_t f[3];
};
split split_of(std::int64_t count, std::int64_t n) {
  split s{0, {0, 0, 0}};
  s.status = cb::split_colbatch_factors(count, n, s.f);
  return s;
}

// Splitting n into `count` factors succeeds with `expected`, first factor
// first.
void expect_split(std::int64_t count, std::int64_t n, std::initializer_list<std::int64_t> expected) {
  const split s = split_of(count, n);
  EXPECT_EQ(s.status, 0) << n;
  int i = 0;
  for (std::int64_t f : expected) {
    EXPECT_EQ(s.f[i], f) << n << ", factor " << i;
    ++i;
  }
}

TEST(ColbatchFactors, SplitEdges) {
  EXPECT_EQ(split_of(2, 0).status, 7);
  EXPECT_EQ(split_of(2, 1).status, 100);
  EXPECT_EQ(split_of(1, 65).status, 100);
  EXPECT_EQ(split_of(2, 2).status, 100);
  EXPECT_EQ(split_of(2, 67).status, 100);
  EXPECT_EQ(split_of(3, 67).status, 100);
  EXPECT_EQ(split_of(2, 8192).status, 100);  // 8192 / 64 = 128 > 64
  expect_split(1, 64, {64});
}

TEST(ColbatchFactors, TwoFactorsWithTheSmallestSpread) {
  expect_split(2, 4096, {64, 64});
  expect_split(2, 6, {3, 2});
  // 12: {6, 2} (spread 4) loses to {4, 3} (spread 1).
  expect_split(2, 12, {4, 3});
}

TEST(ColbatchFactors, ThreeFactors) {
  expect_split(3, 262144, {64, 64, 64});
  // 8192 = 2^13: last factor 32 leaves 256 = 16 x 16 (spread 16); no later
  // last factor gives a smaller spread.
  expect_split(3, 8192, {32, 16, 16});
  for (std::int64_t n : {8192, 262144, 12288, 3 * 5 * 7 * 64}) {
    const split s = split_of(3, n);
    ASSERT_EQ(s.status, 0) << n;
    EXPECT_EQ(s.f[0] * s.f[1] * s.f[2], n);
    EXPECT_GE(s.f[0], s.f[1]);
    EXPECT_GE(s.f[1], s.f[2]);
    EXPECT_LE(s.f[0], 64);
  }
}

TEST(ColbatchFactors, ChoiceOfFactorCount) {
  std::int64_t f[3];
  ASSERT_TRUE(cb::choose_factors(7, f));  // prime up to 64: one factor
  EXPECT_EQ(f[0], 7);
  EXPECT_EQ(f[1], 1);
  EXPECT_EQ(f[2], 1);
  ASSERT_TRUE(cb::choose_factors(64, f));
  EXPECT_EQ(f[0], 8);
  EXPECT_EQ(f[1], 8);
  EXPECT_EQ(f[2], 1);
  ASSERT_TRUE(cb::choose_factors(262144, f));
  EXPECT_EQ(f[2], 64);
  ASSERT_TRUE(cb::choose_factors(2, f));
  EXPECT_EQ(f[0], 2);
  EXPECT_EQ(f[1], 1);
  EXPECT_FALSE(cb::choose_factors(67, f));
  EXPECT_FALSE(cb::choose_factors(64 * 64 * 67, f));
}

cb::search_inputs gulon_like(bool single, std::int64_t n, std::int64_t h, std::int64_t out_stride) {
  cb::search_inputs in{};
  in.single_precision = single;
  EXPECT_TRUE(cb::choose_factors(n, in.factors));
  in.inner = h;
  in.outer = 1;
  in.subgroup = 8;
  in.slm_bytes = 65536;
  in.compute_units = 32;
  in.max_work_group = 1024;
  in.tile_count = 1;
  in.out_stride = out_stride;
  in.inner_out_distance = 1;
  return in;
}

// Two double columns of 8 points ({4, 2}) written as one whole block: every
// candidate costs one block transfer in one wave, and ties go to the later
// candidate, so k runs up to 128 where one sub-group per transform remains.
TEST(ColbatchSearch, WholeBlockOfTwoColumns) {
  cb::direction_plan p{};
  ASSERT_TRUE(cb::plan_direction(gulon_like(false, 8, 2, 2), &p));
  EXPECT_EQ(p.columns, 2);
  EXPECT_EQ(p.last_columns, 2);
  EXPECT_EQ(p.slm_bytes, (2 * 8 + 2) * 16);  // double, padded to a half sub-group of columns
  EXPECT_EQ(p.groups_per_unit, 128);
  EXPECT_EQ(p.subgroups_per_fft, 1);
  EXPECT_EQ(p.work_group_size, 8);
}

// Double, 12 points ({4, 3}) in 6 columns written as rows 9 apart. Blocks of
// 4 columns (768 bytes, 2 work-groups) cost ceil(12 / w) row writes of one
// register each: 3 with 4 sub-groups per transform, which k = 1..32 allow
// (1024 / k / 8 >= 4), in one wave; ties go to the latest, k = 32. Blocks of
// all 6 columns (1184 bytes) need two blocks per row (a register and a
// tail): at best 2 x ceil(12 / 8) = 4.
TEST(ColbatchSearch, RowsOfFourColumnBlocks) {
  cb::direction_plan p{};
  ASSERT_TRUE(cb::plan_direction(gulon_like(false, 12, 6, 9), &p));
  EXPECT_EQ(p.columns, 4);
  EXPECT_EQ(p.last_columns, 2);
  EXPECT_EQ(p.slm_bytes, 4 * 12 * 16);
  EXPECT_EQ(p.groups_per_unit, 32);
  EXPECT_EQ(p.subgroups_per_fft, 4);
  EXPECT_EQ(p.work_group_size, 32);
}

// Double, 8 points ({4, 2}) in 5 columns, transposed output. Blocks of 4
// columns cost one 2-register write per column with 4 sub-groups (k <= 32).
// One block of all 5 columns (688 bytes, two sub-groups abreast) costs the
// same, 1, with 4 sub-groups per transform (k <= 16) and with 3 (w = 6,
// k = 17..21, 1024 / 21 / 8 / 2 = 3); later ties win: 5 columns, k = 21,
// 3 x 8 x 2 = 48 work-items.
TEST(ColbatchSearch, TransposedFiveColumnsInOneBlock) {
  cb::search_inputs in = gulon_like(false, 8, 5, 1);
  in.inner_out_distance = 8;
  cb::direction_plan p{};
  ASSERT_TRUE(cb::plan_direction(in, &p));
  EXPECT_EQ(p.columns, 5);
  EXPECT_EQ(p.last_columns, 5);
  EXPECT_EQ(p.slm_bytes, (5 * 8 + 3) * 16);
  EXPECT_EQ(p.groups_per_unit, 21);
  EXPECT_EQ(p.subgroups_per_fft, 3);
  EXPECT_EQ(p.work_group_size, 48);
}

TEST(ColbatchSearch, PlansStayWithinTheDevice) {
  for (bool single : {false, true})
    for (std::int64_t n : {6, 12, 64, 1024})
      for (std::int64_t h = 2; h <= 70; h += 3)
        for (std::int64_t stride : {h, h + 1, std::int64_t{1}}) {
          cb::search_inputs in = gulon_like(single, n, h, stride);
          if (stride == 1) in.inner_out_distance = n + (n % 2);
          cb::direction_plan p{};
          ASSERT_TRUE(cb::plan_direction(in, &p)) << n << " " << h;
          const std::int64_t e = single ? 8 : 16;
          EXPECT_LE(p.slm_bytes, in.slm_bytes);
          EXPECT_LE(p.work_group_size, in.max_work_group);
          EXPECT_GE(p.columns, 1);
          EXPECT_LE(p.columns, h);
          // A block of whole half sub-groups, or the whole batch in one block.
          EXPECT_TRUE(p.columns % 4 == 0 || p.columns == h) << p.columns;
          EXPECT_EQ(p.last_columns, h % p.columns == 0 ? p.columns : h % p.columns);
          EXPECT_EQ(p.slm_bytes, (p.columns * n + (4 - p.columns % 4) % 4) * e);
          EXPECT_EQ(p.work_group_size % 8, 0);
          EXPECT_GE(p.subgroups_per_fft, 1);
        }
}

TEST(ColbatchSearch, Declines) {
  cb::direction_plan p{};
  // Four double columns of 2048 points need 128 KiB.
  EXPECT_FALSE(cb::plan_direction(gulon_like(false, 2048, 4, 4), &p));
  // Single precision transposed output at an odd distance.
  cb::search_inputs odd = gulon_like(true, 12, 6, 1);
  odd.inner_out_distance = 13;
  EXPECT_FALSE(cb::plan_direction(odd, &p));
  odd.inner_out_distance = 12;
  EXPECT_TRUE(cb::plan_direction(odd, &p));
}

// Single precision with an odd number of whole-row columns: the block is
// forced to hold the whole batch in one work-group.
TEST(ColbatchSearch, SingleForcedWholeBatch) {
  cb::direction_plan p{};
  ASSERT_TRUE(cb::plan_direction(gulon_like(true, 16, 37, 37), &p));
  EXPECT_EQ(p.columns, 37);
  EXPECT_EQ(p.groups_per_unit, 1);
  // The same in double precision searches blocks of at most 8 half sub-groups.
  ASSERT_TRUE(cb::plan_direction(gulon_like(false, 16, 37, 37), &p));
  EXPECT_LE(p.columns, 32);
}

}  // namespace

namespace {

// Single precision, 2048 points, one outer block, on a device with one
// tile: a plan whose work-groups fill between 1 and 1.36 waves is declined,
// any other is the plan of a two-tile device.
TEST(ColbatchSearch, SingleTileLoadRule) {
  int declined = 0;
  for (std::int64_t h = 8; h <= 1024; h += 8) {
    cb::search_inputs two = gulon_like(true, 2048, h, h + 1);
    two.tile_count = 2;
    cb::direction_plan p2{};
    ASSERT_TRUE(cb::plan_direction(two, &p2)) << h;
    cb::search_inputs one = two;
    one.tile_count = 1;
    cb::direction_plan p1{};
    const bool planned = cb::plan_direction(one, &p1);
    const double load = static_cast<double>((h + p2.columns - 1) / p2.columns) /
                        static_cast<double>(p2.groups_per_unit * two.compute_units);
    const bool in_band = load > 1.0 && load < 1.36;
    EXPECT_EQ(planned, !in_band) << h << " load " << load;
    if (planned) {
      EXPECT_EQ(p1.columns, p2.columns);
    }
    if (in_band) ++declined;
  }
  EXPECT_GT(declined, 0);
}

}  // namespace
