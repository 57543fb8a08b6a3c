// Longer cases: more fused 135^3 transforms in place, in batches of three
// and with caller workspaces of both kinds.
#include <gtest/gtest.h>

#include "dft/gpu/backends/md_complex/3d_main/plan.hpp"
#include "tests/backends/md_3d/c2c_3d_case.hpp"

namespace md_3d_test {
namespace {

namespace main3d = ulmara::qez::dft::c2c_3d_main;

class fused_long : public ::testing::TestWithParam<c2c_config> {};

TEST_P(fused_long, cubic_135_matches_the_reference) {
  const c2c_config c = GetParam();
  c2c_plan plan(c);
  ASSERT_TRUE(taken_by_3d_main(plan.record()));
  ASSERT_TRUE(main3d::block_of<double>(plan.record())->fused);
  const container k = c.ws == workspace::external_buffer ? container::buffer : container::usm;
  EXPECT_WITHIN_BOUNDS(plan.forward(k), "forward");
  EXPECT_WITHIN_BOUNDS(plan.backward(k), "backward");
}

c2c_config cube(bool in_place, std::int64_t batch, workspace ws) {
  return config(true, {135, 135, 135}, batch, in_place, ws, {}, {}, 2.0, 1.0 / 2460375);
}

INSTANTIATE_TEST_SUITE_P(layouts, fused_long,
                         ::testing::Values(cube(true, 3, workspace::external_usm),
                                           cube(false, 1, workspace::external_buffer),
                                           cube(true, 1, workspace::internal)),
                         [](const ::testing::TestParamInfo<c2c_config>& info) { return name_of(info.param); });

}  // namespace
}  // namespace md_3d_test
