// The children strategy of the 2D main backend across layouts: dense and
// padded rows and transforms, in place and out of place, forward/backward
// and input/output conventions, internal and caller workspaces, in both
// precisions, forward and backward on USM and buffers, each against the
// long-double reference.
#include <gtest/gtest.h>

#include <vector>

#include "dft/gpu/backends/md_complex/2d_main/plan.hpp"
#include "qez_service_control.h"
#include "tests/backends/md_2d/md2d_case.hpp"

namespace {

namespace dft = ulmara::qez::dft;
namespace m = dft::c2c_2d_main;
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

// Rows read N0 + 2 apart and written N0 apart in the input/output
// convention: the forward and the backward row child differ, so each
// direction commits its own.
c2c_2d_config separate_row_children(std::int64_t n1, std::int64_t n0) {
  return io(padded(make(true, n1, n0, 1, false), 2, 0, 0, 0));
}

// A working layout that carries domain strides next to the input/output
// ones (rows 10 apart on both domains): the children take the input/output
// strides, as the dimension plans do, and the transform still matches the
// reference.
TEST(ChildrenStrides, OnePrecedenceRuleForTheDimensionPlansAndTheChildren) {
  const c2c_2d_config c = separate_row_children(6, 10);
  md2d_test::c2c_2d_record r(c, md2d_test::main_table(true));
  ASSERT_EQ(r.commit_status(), 0);
  dft::dim_record* dims = r.record()->work_lengths.records;
  ASSERT_EQ(dims[0].input, 1);
  ASSERT_EQ(dims[1].input, 12);
  ASSERT_EQ(dims[1].output, 10);
  dims[0].forward = dims[0].backward = 1;
  dims[1].forward = dims[1].backward = 10;
  const dft::backend_table* mine = md2d_test::main_table(true);
  ASSERT_EQ(mine->bkd_commit(mine, r.record()), 0);
  const m::block& b = *m::block_of(r.record());
  ASSERT_NE(b.row_plan_fwd, b.row_plan_bwd);
  const dft::dim_record& forward_row = b.row_plan_fwd->lengths.records[0];
  const dft::dim_record& forward_rows = b.row_plan_fwd->batch.records[0];
  EXPECT_EQ(forward_row.forward, b.dims[0].strides[m::fwd_input]);
  EXPECT_EQ(forward_row.backward, b.dims[0].strides[m::fwd_output]);
  EXPECT_EQ(forward_rows.forward, 12);
  EXPECT_EQ(forward_rows.backward, 10);
  const dft::dim_record& backward_rows = b.row_plan_bwd->batch.records[0];
  EXPECT_EQ(backward_rows.forward, 10);
  EXPECT_EQ(backward_rows.backward, 12);
  EXPECT_EQ(b.col_plan_fwd->batch.records[0].forward, b.dims[0].strides[m::fwd_output]);
  EXPECT_EQ(b.col_plan_fwd->lengths.records[0].forward, 10);
  EXPECT_WITHIN_BOUNDS(r.run(true, container::usm), "forward");
  EXPECT_WITHIN_BOUNDS(r.run(false, container::usm), "backward");
}

// Turns injected allocation failures off when the scope ends.
struct allocation_failures_off {
  ~allocation_failures_off() { qez_standin_fail_allocations(0, 0); }
};

// One allocation after another fails during the commit until one of them
// is the only taker's block of a row child: that child's commit fails, the
// other direction's children commit, and the plan serves that direction
// alone. The failed child leaves its slot, and a compute in its direction
// is refused instead of calling it.
TEST(ChildrenFailure, AFailedChildLeavesItsSlotAndItsDirectionIsRefused) {
  // Prime lengths: only the default 1D backend takes the children.
  const c2c_2d_config c = separate_row_children(7, 11);
  md2d_test::c2c_2d_record r(c, md2d_test::main_table(true));
  ASSERT_EQ(r.commit_status(), 0);
  const dft::backend_table* mine = md2d_test::main_table(true);
  bool one_direction_left = false;
  for (long skip = 0; skip < 400 && !one_direction_left; ++skip) {
    int status = 0;
    {
      allocation_failures_off off;
      qez_standin_fail_allocations(skip, 1);
      status = mine->bkd_commit(mine, r.record());
    }
    if (status != 0) continue;
    const m::block& b = *m::block_of(r.record());
    one_direction_left = b.forward_pair != b.backward_pair;
  }
  ASSERT_TRUE(one_direction_left) << "no single allocation failure left exactly one direction";
  const m::block& b = *m::block_of(r.record());
  for (DFTI_DESCRIPTOR* child : {b.row_plan_fwd, b.row_plan_bwd, b.col_plan_fwd, b.col_plan_bwd})
    if (child != nullptr) EXPECT_EQ(child->commit_status, dft::dfti_committed);
  const bool forward_left = b.forward_pair != 0;
  EXPECT_EQ(r.run(!forward_left, container::usm).status, dft::status_invalid_configuration);
  EXPECT_WITHIN_BOUNDS(r.run(forward_left, container::usm), forward_left ? "forward" : "backward");
}

// A child's failing scratch hand-over is the hand-over's status, as the
// persistent part's is.
TEST(ChildrenFailure, ScratchHandOverReturnsAChildsFailure) {
  const c2c_2d_config c = with_workspace(separate_row_children(6, 10), workspace::external_usm);
  md2d_test::c2c_2d_record r(c, md2d_test::main_table(true));
  ASSERT_EQ(r.commit_status(), 0);
  ASSERT_EQ(r.give_workspace(), 0);
  m::block& b = *m::block_of(r.record());
  const dft::backend_table* mine = md2d_test::main_table(true);
  void* area = b.workspace;
  // The row child without its block refuses any workspace.
  void* held = b.row_plan_fwd->bkd_data;
  b.row_plan_fwd->bkd_data = nullptr;
  const int refused = mine->add_workspace(area, dft::container_usm, 0, r.record(), dft::workspace_part_scratch,
                                          nullptr);
  b.row_plan_fwd->bkd_data = held;
  EXPECT_EQ(refused, dft::status_invalid_configuration);
  EXPECT_EQ(mine->add_workspace(area, dft::container_usm, 0, r.record(), dft::workspace_part_scratch, nullptr), 0);
  EXPECT_WITHIN_BOUNDS(r.run(true, container::usm), "forward");
}

}  // namespace
