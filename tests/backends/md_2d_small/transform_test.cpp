// Transforms of the 2D small fused-SLM backend on PoCL: every side from 8 to
// 64, forward and backward, on USM and buffers, in place and out of place,
// against the long-double reference. One precision per test program (both
// are built), so the two can run side by side.
#include <gtest/gtest.h>

#include "dft/gpu/core/backend_catalogue.hpp"
#include "tests/backends/md_2d/md2d_case.hpp"

namespace {

namespace dft = ulmara::qez::dft;
using md2d_test::c2c_2d_config;
using md2d_test::container;

#if defined(MD_2D_SMALL_DOUBLE)
constexpr bool dbl = true;
#else
constexpr bool dbl = false;
#endif

const dft::backend_table* small_table() {
  return dbl ? &dft::dft_c2c_2d_small_gpu_bkd_table_double : &dft::dft_c2c_2d_small_gpu_bkd_table_float;
}

class Side : public ::testing::TestWithParam<std::int64_t> {};

TEST_P(Side, BothDirectionsMatchTheReference) {
  const std::int64_t n = GetParam();
  c2c_2d_config c;
  c.dbl = dbl;
  c.n0 = c.n1 = n;
  c.batch = 3;
  c.in_place = (n / 8) % 2 == 0;
  c.fwd_scale = 0.5;
  c.bwd_scale = 1.0 / static_cast<double>(n * n);
  md2d_test::c2c_2d_record r(c, small_table());
  ASSERT_EQ(r.commit_status(), 0);
  ASSERT_TRUE(md2d_test::held_by(r.record(), small_table()));
  const container first = (n / 8) % 3 == 0 ? container::buffer : container::usm;
  const container second = first == container::usm ? container::buffer : container::usm;
  EXPECT_WITHIN_BOUNDS(r.run(true, first), "forward");
  EXPECT_WITHIN_BOUNDS(r.run(false, second), "backward");
}

INSTANTIATE_TEST_SUITE_P(Squares, Side, ::testing::Values(8, 16, 24, 32, 40, 48, 56, 64),
                         [](const ::testing::TestParamInfo<std::int64_t>& info) {
                           return std::to_string(info.param) + "x" + std::to_string(info.param);
                         });

TEST(Side, EveryContainerAndPlacementOfOneSquare) {
  for (bool in_place : {false, true}) {
    c2c_2d_config c;
    c.dbl = dbl;
    c.n0 = c.n1 = 16;
    c.batch = 5;
    c.in_place = in_place;
    c.io_convention = in_place;
    md2d_test::c2c_2d_record r(c, small_table());
    ASSERT_EQ(r.commit_status(), 0);
    for (container k : {container::usm, container::buffer}) {
      for (bool forward : {true, false}) {
        EXPECT_WITHIN_BOUNDS(r.run(forward, k), std::string(forward ? "forward" : "backward") +
                                                    (in_place ? " in place" : " out of place"));
      }
    }
  }
}

}  // namespace
