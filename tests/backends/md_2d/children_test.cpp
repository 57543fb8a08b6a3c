// The children strategy of the 2D main backend across layouts: dense and
// padded rows and transforms, in place and out of place, forward/backward
// and input/output conventions, internal and caller workspaces, in both
// precisions, forward and backward on USM and buffers, each against the
// long-double reference.
#include <gtest/gtest.h>

#include "tests/backends/md_2d/md2d_case.hpp"

namespace {

using md2d_test::c2c_2d_config;
using md2d_test::container;
using md2d_test::workspace;

c2c_2d_config make(bool dbl, std::int64_t n1, std::int64_t n0, std::int64_t batch, bool in_place) {
  c2c_2d_config c = md2d_test::sized(dbl, n1, n0, batch);
  c.in_place = in_place;
  c.fwd_scale = 0.5;
  c.bwd_scale = 1.0 / static_cast<double>(n0 * n1);
  return c;
}

c2c_2d_config padded(c2c_2d_config c, std::int64_t in_row, std::int64_t out_row, std::int64_t in_batch,
                     std::int64_t out_batch) {
  c.in_row_pad = in_row;
  c.out_row_pad = out_row;
  c.in_batch_pad = in_batch;
  c.out_batch_pad = out_batch;
  return c;
}

c2c_2d_config io(c2c_2d_config c) {
  c.io_convention = true;
  return c;
}

c2c_2d_config with_workspace(c2c_2d_config c, workspace w) {
  c.ws = w;
  return c;
}

class ChildrenStrategy : public ::testing::TestWithParam<c2c_2d_config> {};

TEST_P(ChildrenStrategy, MatchesTheReference) {
  const c2c_2d_config c = GetParam();
  md2d_test::c2c_2d_record r(c, md2d_test::main_table(c.dbl));
  ASSERT_EQ(r.commit_status(), 0);
  ASSERT_TRUE(md2d_test::held_by(r.record(), md2d_test::main_table(c.dbl)));
  if (c.ws != workspace::internal) {
    ASSERT_EQ(r.give_workspace(), 0);
  }
  // Both directions; the containers alternate between the cases so that each
  // direction meets USM and buffers.
  const container forward_container = c.batch % 2 == 1 ? container::usm : container::buffer;
  const container backward_container = c.batch % 2 == 1 ? container::buffer : container::usm;
  EXPECT_WITHIN_BOUNDS(r.run(true, forward_container), "forward");
  EXPECT_WITHIN_BOUNDS(r.run(false, backward_container), "backward");
}

INSTANTIATE_TEST_SUITE_P(Layouts, ChildrenStrategy,
                         ::testing::Values(make(true, 24, 40, 3, false), make(false, 20, 36, 2, true),
                                           padded(make(true, 12, 30, 2, false), 3, 1, 5, 7),
                                           io(padded(make(false, 18, 16, 3, false), 2, 0, 0, 4)),
                                           with_workspace(io(make(true, 10, 14, 1, true)), workspace::external_usm),
                                           with_workspace(make(false, 30, 12, 2, false), workspace::external_buffer),
                                           padded(make(true, 9, 27, 4, true), 2, 2, 3, 3),
                                           make(false, 5, 96, 2, false)),
                         [](const ::testing::TestParamInfo<c2c_2d_config>& info) {
                           return md2d_test::name_of(info.param);
                         });

}  // namespace
