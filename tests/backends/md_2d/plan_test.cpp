// Planning of the 2D main backend on the host: the row and column line plans
// of the fused kernels, the fused option string and the transpose geometry.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "dft/gpu/backends/md_complex/2d_main/plan.hpp"
#include "tests/backends/support/option_goldens.hpp"

namespace {

namespace m = ulmara::qez::dft::c2c_2d_main;

struct line_case {
  std::int64_t n;
  std::int64_t element;
  std::int64_t fact0, fact1, row_group, loop_bound, row_local, row_table, column_group, column_table;
};

void PrintTo(const line_case& c, std::ostream* os) { *os << c.n << " with " << c.element << "-byte points"; }

class LinePlan : public ::testing::TestWithParam<line_case> {};

TEST_P(LinePlan, MatchesTheKernelGeometry) {
  const line_case c = GetParam();
  m::dim_plan row, column;
  row.length = column.length = c.n;
  ASSERT_TRUE(m::plan_row_dimension(row, c.element));
  ASSERT_TRUE(m::plan_column_dimension(column, c.element));
  EXPECT_EQ(row.fact0, c.fact0);
  EXPECT_EQ(row.fact1, c.fact1);
  EXPECT_EQ(row.pad0, 0);
  EXPECT_EQ(row.pad1, 0);
  EXPECT_EQ(row.work_group_size, c.row_group);
  EXPECT_EQ(row.fact1_loop_bound, c.loop_bound);
  EXPECT_EQ(row.local_bytes, c.row_local);
  EXPECT_EQ(row.twiddle_bytes, c.row_table);
  EXPECT_EQ(row.batch_per_group, 1);
  EXPECT_EQ(column.work_group_size, c.column_group);
  EXPECT_EQ(column.fact1_loop_bound, 1);
  EXPECT_EQ(column.twiddle_bytes, c.column_table);
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, LinePlan,
    ::testing::Values(line_case{192, 16, 16, 12, 32, 1, 3072, 6144, 128, 24576},
                      line_case{128, 16, 16, 8, 16, 2, 2048, 4096, 128, 16384},
                      line_case{192, 8, 16, 12, 32, 1, 1536, 3072, 128, 12288},
                      line_case{128, 8, 16, 8, 16, 2, 1024, 2048, 128, 8192}),
    [](const ::testing::TestParamInfo<line_case>& info) {
      return std::to_string(info.param.n) + (info.param.element == 16 ? "_double" : "_single");
    });

TEST(LinePlan, PadsFactorsToMultiplesOfFour) {
  m::dim_plan row;
  row.length = 150;  // 15 x 10
  ASSERT_TRUE(m::plan_row_dimension(row, 16));
  EXPECT_EQ(row.fact0, 15);
  EXPECT_EQ(row.pad0, 1);
  EXPECT_EQ(row.fact1, 10);
  EXPECT_EQ(row.pad1, 2);
  EXPECT_EQ(row.local_bytes, 15 * 12 * 16);
}

TEST(LinePlan, DeclinesLinesBeyondLocalMemory) {
  m::dim_plan row;
  row.length = 4096;  // 64 x 64 points of 32-byte elements: 128 KiB
  EXPECT_FALSE(m::plan_row_dimension(row, 32));
  m::dim_plan fits;
  fits.length = 4096;  // 64 x 64 complex doubles: exactly 64 KiB
  EXPECT_TRUE(m::plan_row_dimension(fits, 16));
}

void fill_fused_block(m::block& b, std::int64_t n, bool dbl, std::int64_t transforms) {
  b.double_precision = dbl;
  b.element_bytes = dbl ? 16 : 8;
  b.transforms = transforms;
  b.dims[0].length = b.dims[1].length = n;
  EXPECT_TRUE(m::plan_row_dimension(b.dims[0], b.element_bytes));
  EXPECT_TRUE(m::plan_column_dimension(b.dims[1], b.element_bytes));
  std::snprintf(b.row_kernel_name, m::name_bytes, "fft_%lld_rowbatch_%s_dir0", static_cast<long long>(n),
                dbl ? "d" : "s");
  std::snprintf(b.col_kernel_name, m::name_bytes, "fft_%lld_rowbatch_%s_dir1", static_cast<long long>(n),
                dbl ? "d" : "s");
  std::snprintf(b.row_fact0_func, m::name_bytes, "fft_16_s");
  std::snprintf(b.row_fact1_func, m::name_bytes, "fft_12_s");
}

TEST(FusedOptions, DoubleForwardOptionsOf192) {
  m::block b;
  fill_fused_block(b, 192, true, 3);
  char options[2048];
  ASSERT_TRUE(m::format_fused_options(b, ulmara::qez::dft::plan_basics::dir_forward, options, sizeof options));
  EXPECT_STREQ(options,
               backend_test::golden_options("md_2d", backend_test::precision::double_precision, "fused 192, forward"));
}

TEST(FusedOptions, SingleBackwardOptionsOf128HaveNoLongSubGroups) {
  m::block b;
  fill_fused_block(b, 128, false, 1);
  char options[2048];
  ASSERT_TRUE(m::format_fused_options(b, ulmara::qez::dft::plan_basics::dir_backward, options, sizeof options));
  const std::string s(options);
  EXPECT_EQ(s.find("-Dcl_tavir_subgroups_long"), std::string::npos);
  EXPECT_EQ(s.rfind("-DSUBGROUP_SIZE=8 ", 0), 0u);
  EXPECT_NE(s.find(" -DFWD_DIR=0 -DBWD_DIR=1 "), std::string::npos);
  EXPECT_NE(s.find(" -DWORK_GROUP_SIZE=16 -DFACT1_LOOP_BOUND=2 "), std::string::npos);
  EXPECT_NE(s.find(" -DWORK_GROUPS_IN_X_DIR=32 "), std::string::npos);
  // Options that do not fit are refused rather than cut.
  char tiny[64];
  EXPECT_FALSE(m::format_fused_options(b, ulmara::qez::dft::plan_basics::dir_backward, tiny, sizeof tiny));
  // Lengths without a two-factor split have no line plan.
  m::dim_plan prime;
  prime.length = 67;
  EXPECT_FALSE(m::plan_row_dimension(prime, 16));
}

// A transpose of `rows` x `cols` elements, not yet planned.
m::transpose_geometry transpose_of(std::int64_t rows, std::int64_t cols) {
  m::transpose_geometry g;
  g.num_rows = rows;
  g.num_cols = cols;
  return g;
}

TEST(TransposeGeometry, HarixSixteenThousandSquare) {
  m::transpose_geometry g = transpose_of(16384, 16384);
  // 128 KiB of local memory, sub-groups of 32, work-groups of 1024: Q = 2.
  ASSERT_TRUE(m::plan_transpose(g, 131072, 32, 1024));
  EXPECT_EQ(g.vector_write, 2);
  EXPECT_EQ(g.vector_read, 1);
  EXPECT_EQ(g.local_bytes, 131072);
  EXPECT_EQ(g.row_groups, 512);
  EXPECT_EQ(g.col_items, 32768);
  EXPECT_EQ(g.work_group_size, 1024);
  char name[64], options[1024];
  ASSERT_TRUE(m::format_transpose_names(g, 32, name, sizeof name, options, sizeof options));
  EXPECT_STREQ(name, "transpose_r16384_c16384_vr1_vw2");
  EXPECT_STREQ(options,
               "-DKERNEL_FUNC=transpose_r16384_c16384_vr1_vw2 -DWORK_GROUP_SIZE=1024 -DSUBGROUP_SIZE=32 "
               "-DNUM_ROWS=16384 -DNUM_COLS=16384 -DVECTOR_READ_SIZE=1 -DVECTOR_WRITE_SIZE=2 ");
}

TEST(TransposeGeometry, OddQuotientGivesUnitWidths) {
  m::transpose_geometry g = transpose_of(16384, 16384);
  // 96 KiB with units of 32 KiB: Q = 3, not a multiple of 2.
  ASSERT_TRUE(m::plan_transpose(g, 98304, 16, 1024));
  EXPECT_EQ(g.vector_write, 1);
  EXPECT_EQ(g.vector_read, 1);
  EXPECT_EQ(g.local_bytes, 32768);
}

TEST(TransposeGeometry, WideVectorsWhenLocalMemoryAllows) {
  m::transpose_geometry g = transpose_of(128, 256);
  ASSERT_TRUE(m::plan_transpose(g, 65536, 16, 16));
  EXPECT_EQ(g.vector_write, 8);
  EXPECT_EQ(g.vector_read, 8);
  EXPECT_EQ(g.row_groups, 2);
  EXPECT_EQ(g.col_items, 64);
}

TEST(TransposeGeometry, RefusesIndivisibleGeometry) {
  m::transpose_geometry g = transpose_of(16384, 16384);
  // Work-groups of 768 do not divide the 32768 column items.
  EXPECT_FALSE(m::plan_transpose(g, 131072, 32, 768));
  // Local memory below one unit.
  m::transpose_geometry h = transpose_of(16384, 16384);
  EXPECT_FALSE(m::plan_transpose(h, 1024, 32, 1024));
}

}  // namespace
