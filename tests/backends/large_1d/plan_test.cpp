// Planning rules of the large one-dimensional backend that need no device:
// the factor split of every length, the row padding and the chunk rule.
#include <gtest/gtest.h>

#include "dft/gpu/backends/1d_slm_large/large_1d/plan.hpp"

namespace {

namespace l1 = ulmara::qez::dft::large_1d;

struct split_row {
  int log2_length;
  std::int64_t double_large, double_small;
  std::int64_t single_large, single_small;
  std::int64_t pad_bytes;
};

constexpr split_row split_rows[] = {
    {21, 2048, 1024, 2048, 1024, 0},    {22, 4096, 1024, 2048, 2048, 0},
    {23, 8192, 1024, 4096, 2048, 0},    {24, 8192, 2048, 8192, 2048, 256},
    {25, 8192, 4096, 8192, 4096, 2048}, {26, 8192, 8192, 8192, 8192, 0},
};

TEST(LargePlan, SplitsOfEveryAcceptedLength) {
  for (const split_row& row : split_rows) {
    const std::int64_t n = std::int64_t{1} << row.log2_length;
    SCOPED_TRACE(n);
    l1::split d{}, s{};
    ASSERT_TRUE(l1::find_split(n, true, &d));
    ASSERT_TRUE(l1::find_split(n, false, &s));
    EXPECT_EQ(d.n_large, row.double_large);
    EXPECT_EQ(d.n_small, row.double_small);
    EXPECT_EQ(s.n_large, row.single_large);
    EXPECT_EQ(s.n_small, row.single_small);
    EXPECT_EQ(l1::row_pad_bytes_of(n), row.pad_bytes);
  }
}

TEST(LargePlan, SplitKeepsBothFactorsWithin8192) {
  for (std::int64_t n : {std::int64_t{3} << 20, std::int64_t{5} << 21, std::int64_t{1} << 20}) {
    for (bool dp : {true, false}) {
      l1::split s{};
      if (!l1::find_split(n, dp, &s)) continue;
      EXPECT_EQ(s.n_large * s.n_small, n);
      EXPECT_LE(s.n_large, 8192);
      EXPECT_GE(s.n_large, s.n_small);
      if (!dp) {
        EXPECT_EQ(s.n_large % 2, 0);
      }
    }
  }
  l1::split s{};
  EXPECT_FALSE(l1::find_split(std::int64_t{1} << 27, true, &s));
  EXPECT_FALSE(l1::find_split(8193 * 8191, true, &s));  // both factors prime-ish and one above 8192
}

TEST(LargePlan, PaddedMatrixBytesOf2To24) {
  // (n_large x E + pad) x n_small
  EXPECT_EQ((8192 * 16 + 256) * 2048, 268959744);
  EXPECT_EQ((8192 * 8 + 256) * 2048, 134742016);
  l1::block<double> d{};
  d.n_large = 8192;
  d.row_pad_bytes = l1::row_pad_bytes_of(std::int64_t{1} << 24);
  EXPECT_EQ(l1::row_pitch(d), 8208);
  l1::block<float> f{};
  f.n_large = 8192;
  f.row_pad_bytes = l1::row_pad_bytes_of(std::int64_t{1} << 24);
  EXPECT_EQ(l1::row_pitch(f), 8224);
  f.row_pad_bytes = l1::row_pad_bytes_of(std::int64_t{1} << 25);
  EXPECT_EQ(l1::row_pitch(f), 8448);
}

TEST(LargePlan, ChunkRule) {
  // One transform needs nothing.
  EXPECT_TRUE(l1::matrix_chunks_by_one(100, 128, 1, true));
  // Two or more: M a multiple of the alignment (float: and of 16).
  EXPECT_TRUE(l1::matrix_chunks_by_one(268959744, 128, 2, true));
  EXPECT_FALSE(l1::matrix_chunks_by_one(268959744 + 64, 128, 2, true));
  EXPECT_TRUE(l1::matrix_chunks_by_one(24, 8, 3, true));
  EXPECT_FALSE(l1::matrix_chunks_by_one(24, 8, 3, false));
  EXPECT_TRUE(l1::matrix_chunks_by_one(32, 8, 3, false));
  // A device reporting no alignment constrains nothing but the float rule.
  EXPECT_TRUE(l1::matrix_chunks_by_one(48, 0, 2, false));
}

}  // namespace
