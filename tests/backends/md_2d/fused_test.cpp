// The fused strategy of the 2D main backend: dense 192 x 192 and 128 x 128
// transforms with sub-group size 8 in two kernels, the twiddle tables in the
// workspace (internal, caller USM, caller buffer), both precisions, forward
// and backward on USM and buffers against the long-double reference.
#include <gtest/gtest.h>

#include "dft/gpu/backends/md_complex/2d_main/plan.hpp"
#include "tests/backends/md_2d/md2d_case.hpp"

namespace {

namespace m = ulmara::qez::dft::c2c_2d_main;
using md2d_test::c2c_2d_config;
using md2d_test::container;
using md2d_test::workspace;

struct fused_case {
  bool dbl;
  std::int64_t n;
  std::int64_t batch;
  bool in_place;
  workspace ws;
};

std::string case_name(const ::testing::TestParamInfo<fused_case>& info) {
  const fused_case& f = info.param;
  std::string s = std::string(f.dbl ? "double_" : "single_") + std::to_string(f.n) + "_b" + std::to_string(f.batch) +
                  (f.in_place ? "_inplace" : "_outofplace");
  if (f.ws == workspace::external_usm) s += "_wsusm";
  if (f.ws == workspace::external_buffer) s += "_wsbuffer";
  return s;
}

void PrintTo(const fused_case& f, std::ostream* os) { *os << (f.dbl ? "double " : "single ") << f.n; }

class FusedStrategy : public ::testing::TestWithParam<fused_case> {};

TEST_P(FusedStrategy, TwoKernelsMatchTheReference) {
  const fused_case f = GetParam();
  c2c_2d_config c;
  c.dbl = f.dbl;
  c.n0 = c.n1 = f.n;
  c.batch = f.batch;
  c.in_place = f.in_place;
  c.ws = f.ws;
  c.fwd_scale = 0.25;
  c.bwd_scale = 1.0 / static_cast<double>(f.n * f.n);
  md2d_test::c2c_2d_record r(c, md2d_test::main_table(f.dbl));
  ASSERT_EQ(r.commit_status(), 0);
  const m::block& b = *m::block_of(r.record());
  ASSERT_EQ(b.fused, 1) << "the fused program did not build for this square";
  EXPECT_EQ(b.subgroup_size, 8);
  for (sycl::kernel* k : b.kernels) EXPECT_NE(k, nullptr);
  EXPECT_EQ(r.record()->workspace_bytes[0],
            static_cast<std::uint64_t>(2 * (b.dims[0].twiddle_bytes + b.dims[1].twiddle_bytes)));
  EXPECT_EQ(r.record()->workspace_bytes[1], 0u);
  EXPECT_EQ(b.row_plan_fwd, nullptr);
  if (f.ws != workspace::internal) {
    ASSERT_EQ(r.give_workspace(), 0);
  }
  for (container k : {container::usm, container::buffer}) {
    for (bool forward : {true, false}) {
      const std::string what = std::string(forward ? "forward " : "backward ") +
                               (k == container::usm ? "usm" : "buffer");
      EXPECT_WITHIN_BOUNDS(r.run(forward, k), what);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Squares, FusedStrategy,
                         ::testing::Values(fused_case{true, 192, 2, false, workspace::internal},
                                           fused_case{false, 192, 1, true, workspace::external_usm},
                                           fused_case{true, 128, 1, true, workspace::external_buffer},
                                           fused_case{false, 128, 3, false, workspace::internal}),
                         case_name);

TEST(FusedStrategy, OtherSizesAndPaddedLayoutsTakeTheChildren) {
  for (const auto& dims : {std::pair<std::int64_t, std::int64_t>{192, 128}, {256, 256}}) {
    c2c_2d_config c;
    c.n1 = dims.first;
    c.n0 = dims.second;
    md2d_test::c2c_2d_record r(c, md2d_test::main_table(true));
    ASSERT_EQ(r.commit_status(), 0);
    EXPECT_EQ(m::block_of(r.record())->fused, 0);
    EXPECT_NE(m::block_of(r.record())->row_plan_fwd, nullptr);
  }
  c2c_2d_config padded;
  padded.n0 = padded.n1 = 128;
  padded.in_row_pad = 4;
  md2d_test::c2c_2d_record r(padded, md2d_test::main_table(true));
  ASSERT_EQ(r.commit_status(), 0);
  EXPECT_EQ(m::block_of(r.record())->fused, 0);
  EXPECT_WITHIN_BOUNDS(r.run(true, container::usm), "padded 128 forward usm");
}

}  // namespace
