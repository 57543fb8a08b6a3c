// The 2D main backend at record level: what its acceptance declines, the
// statuses of its table operations on records it does not hold, the child
// plans it names and shares, the workspace it asks for, a record committed
// for one direction only, and a caller workspace that was never handed over.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "dft/api/descriptor_node.hpp"
#include "dft/gpu/backends/md_complex/2d_main/plan.hpp"
#include "dft/gpu/core/backend_catalogue.hpp"
#include "tests/backends/md_2d/md2d_case.hpp"
#include "tests/backends/support/record_harness.hpp"

namespace {

namespace dft = ulmara::qez::dft;
namespace m = dft::c2c_2d_main;
using md2d_test::c2c_2d_config;
using md2d_test::sized;
using md2d_test::container;

// The child's name: the label as formatted (its 10-byte buffer is stored
// whole, the terminating NUL included).
std::string name_of(const DFTI_DESCRIPTOR* r) { return std::string(r->name, strnlen(r->name, sizeof r->name)); }

m::block& block(const md2d_test::c2c_2d_record& r) { return *m::block_of(r.record()); }

TEST(Acceptance, DeclinesWhatIsNotTwoDimensionalInterleavedComplex) {
  const dft::backend_table* mine = md2d_test::main_table(true);
  md2d_test::c2c_2d_record r(sized(true, 6, 10, 2), mine);
  ASSERT_EQ(r.commit_status(), 0);
  DFTI_DESCRIPTOR* record = r.record();
  const auto declined = [&](auto&& change, auto&& restore) {
    change();
    const int status = mine->bkd_commit(mine, record);
    restore();
    return status;
  };
  EXPECT_EQ(declined([&] { record->fwd_offset = 1; }, [&] { record->fwd_offset = 0; }), 100);
  EXPECT_EQ(declined([&] { record->in_offset = 2; }, [&] { record->in_offset = 0; }), 100);
  EXPECT_EQ(declined([&] { record->fused_twiddle_length = 1; }, [&] { record->fused_twiddle_length = 0; }), 100);
  EXPECT_EQ(declined([&] { record->domain = dft::dfti_real; }, [&] { record->domain = dft::dfti_complex; }), 100);
  EXPECT_EQ(declined([&] { record->complex_storage = dft::dfti_real_real; },
                     [&] { record->complex_storage = dft::dfti_complex_complex; }),
            100);
  EXPECT_EQ(declined([&] { record->work_lengths.count = 3; }, [&] { record->work_lengths.count = 2; }), 100);
  EXPECT_EQ(declined([&] { record->work_batch.count = 2; }, [&] { record->work_batch.count = 1; }), 100);
  // A declining commit leaves the record as it was.
  EXPECT_TRUE(md2d_test::held_by(record, mine));
}

TEST(TableOperations, StatusesOnRecordsItDoesNotHold) {
  DFTI_DESCRIPTOR* one_d = nullptr;
  ASSERT_TRUE(backend_test::create_listed_c2c_1d_record(&one_d, true, 64, &backend_test::gpu_test_queue()));
  ASSERT_EQ(one_d->methods->commit(one_d), 0);
  const dft::backend_table* mine = md2d_test::main_table(true);
  ASSERT_NE(one_d->backend, mine);
  EXPECT_EQ(mine->bkd_free(mine, one_d), 7);
  EXPECT_EQ(one_d->commit_status, dft::dfti_committed);
  EXPECT_EQ(mine->add_workspace(nullptr, 2, 0, one_d, 2, nullptr), 2);
  dft::dfti_cpu_free_descriptor(&one_d);
}

TEST(Children, SharedWhenBothDirectionsAreAlike) {
  md2d_test::c2c_2d_record r(sized(false, 12, 20, 3), md2d_test::main_table(false));
  ASSERT_EQ(r.commit_status(), 0);
  const m::block& b = block(r);
  EXPECT_EQ(b.fused + b.transposes + b.batched_layout, 0);
  ASSERT_NE(b.row_plan_fwd, nullptr);
  EXPECT_EQ(b.row_plan_bwd, b.row_plan_fwd);
  EXPECT_EQ(b.col_plan_bwd, b.col_plan_fwd);
  EXPECT_EQ(name_of(b.row_plan_fwd), "2D_C2C|1d");
  EXPECT_EQ(name_of(b.col_plan_fwd), "2D_C2C|2d");
  EXPECT_EQ(b.row_plan_fwd->is_child, 1u);
  EXPECT_EQ(b.row_plan_fwd->placement, dft::dfti_not_inplace);
  EXPECT_EQ(b.col_plan_fwd->placement, dft::dfti_inplace);
  // The column pass carries the scales; the row pass runs unscaled.
  EXPECT_EQ(b.row_plan_fwd->fwd_scale, 1.0);
  EXPECT_EQ(b.col_plan_fwd->fwd_scale, r.record()->fwd_scale);
  EXPECT_EQ(b.col_plan_fwd->bwd_scale, r.record()->bwd_scale);
  EXPECT_EQ(r.record()->workspace_bytes[0],
            b.row_plan_fwd->workspace_bytes[0] + b.col_plan_fwd->workspace_bytes[0]);
  EXPECT_EQ(r.record()->workspace_bytes[1],
            std::max(b.row_plan_fwd->workspace_bytes[1], b.col_plan_fwd->workspace_bytes[1]));
}

// Part 0 summed over the distinct children, part 1 the largest of theirs.
void expect_workspace_of_children(const DFTI_DESCRIPTOR* record, const m::block& b) {
  std::vector<const DFTI_DESCRIPTOR*> distinct;
  for (const DFTI_DESCRIPTOR* child : {b.row_plan_fwd, b.col_plan_fwd, b.row_plan_bwd, b.col_plan_bwd})
    if (std::find(distinct.begin(), distinct.end(), child) == distinct.end()) distinct.push_back(child);
  std::uint64_t part0 = 0, part1 = 0;
  for (const DFTI_DESCRIPTOR* child : distinct) {
    part0 += child->workspace_bytes[0];
    part1 = std::max(part1, child->workspace_bytes[1]);
  }
  EXPECT_EQ(record->workspace_bytes[0], part0);
  EXPECT_EQ(record->workspace_bytes[1], part1);
}

TEST(Children, ColumnPassesSeparateWhenTheOutputSidesDiffer) {
  // Forward/backward strides: both row children read one domain and write
  // the other, so they agree; the column passes run over different sides.
  c2c_2d_config c = sized(true, 8, 18, 2);
  c.in_row_pad = 2;
  c.fwd_scale = 2.0;
  md2d_test::c2c_2d_record r(c, md2d_test::main_table(true));
  ASSERT_EQ(r.commit_status(), 0);
  const m::block& b = block(r);
  EXPECT_EQ(b.row_plan_bwd, b.row_plan_fwd);
  EXPECT_EQ(name_of(b.row_plan_fwd), "2D_C2C|1d");
  ASSERT_NE(b.col_plan_bwd, b.col_plan_fwd);
  EXPECT_EQ(name_of(b.col_plan_fwd), "2DC2C|f2d");
  EXPECT_EQ(name_of(b.col_plan_bwd), "2DC2C|b2d");
  EXPECT_EQ(b.col_plan_fwd->directions, 0u);
  EXPECT_EQ(b.col_plan_bwd->directions, 1u);
  expect_workspace_of_children(r.record(), b);
  EXPECT_WITHIN_BOUNDS(r.run(true, container::usm), "forward usm");
  EXPECT_WITHIN_BOUNDS(r.run(false, container::buffer), "backward buffer");
}

TEST(Children, RowPassesSeparateWithDifferentInputAndOutputStrides) {
  // Input/output strides: both directions read the input side and write the
  // output side, so the row children swap their domain strides while the
  // column passes run over the same output.
  c2c_2d_config c = sized(false, 8, 18, 2);
  c.io_convention = true;
  c.out_row_pad = 3;
  md2d_test::c2c_2d_record r(c, md2d_test::main_table(false));
  ASSERT_EQ(r.commit_status(), 0);
  const m::block& b = block(r);
  EXPECT_EQ(name_of(b.row_plan_fwd), "2DC2C|f1d");
  EXPECT_EQ(name_of(b.row_plan_bwd), "2DC2C|b1d");
  EXPECT_EQ(b.col_plan_bwd, b.col_plan_fwd);
  EXPECT_EQ(name_of(b.col_plan_fwd), "2D_C2C|2d");
  expect_workspace_of_children(r.record(), b);
  EXPECT_WITHIN_BOUNDS(r.run(false, container::usm), "backward usm");
}

TEST(Children, ForwardOnlyRecordHasNoBackwardPass) {
  c2c_2d_config c = sized(true, 6, 22, 2);
  c.directions = 0;
  md2d_test::c2c_2d_record r(c, md2d_test::main_table(true));
  ASSERT_EQ(r.commit_status(), 0);
  const m::block& b = block(r);
  EXPECT_EQ(b.row_plan_bwd, nullptr);
  EXPECT_EQ(b.col_plan_bwd, nullptr);
  EXPECT_EQ(name_of(b.row_plan_fwd), "2DC2C|f1d");
  EXPECT_WITHIN_BOUNDS(r.run(true, container::usm), "forward usm");
  EXPECT_EQ(r.run(false, container::usm).status, 2);
}

TEST(Workspace, CallerWorkspaceThatWasNeverGiven) {
  c2c_2d_config c = sized(false, 10, 24, 1);
  c.ws = md2d_test::workspace::external_usm;
  md2d_test::c2c_2d_record r(c, md2d_test::main_table(false));
  ASSERT_EQ(r.commit_status(), 0);
  const bool needs = backend_test::workspace_bytes(r.record()) != 0;
  EXPECT_EQ(r.run(true, container::usm).status, needs ? 11 : 0);
  ASSERT_EQ(r.give_workspace(), 0);
  EXPECT_WITHIN_BOUNDS(r.run(true, container::usm), "forward usm after the workspace");
}

TEST(Compute, AsynchronousOffloadHandsQueueAndModeToTheChildren) {
  md2d_test::c2c_2d_record r(sized(true, 6, 14, 2), md2d_test::main_table(true));
  ASSERT_EQ(r.commit_status(), 0);
  m::block& b = block(r);
  r.record()->offload_mode = 2;
  EXPECT_WITHIN_BOUNDS(r.run(true, container::usm), "forward usm, asynchronous offload");
  EXPECT_EQ(b.in_order, 0u);
  EXPECT_EQ(b.queue, r.record()->queue);
  EXPECT_EQ(b.row_plan_fwd->offload_mode, 2u);
  EXPECT_EQ(b.col_plan_fwd->offload_mode, 2u);
  EXPECT_EQ(b.col_plan_fwd->queue, r.record()->queue);
  // Back to a plain call: the children follow again.
  r.record()->offload_mode = 0;
  EXPECT_WITHIN_BOUNDS(r.run(false, container::buffer), "backward buffer");
  EXPECT_EQ(b.row_plan_bwd->offload_mode, 0u);
}

TEST(Commit, SecondCommitReplacesTheBlock) {
  const dft::backend_table* mine = md2d_test::main_table(true);
  md2d_test::c2c_2d_record r(sized(true, 6, 10, 1), mine);
  ASSERT_EQ(r.commit_status(), 0);
  ASSERT_EQ(mine->bkd_commit(mine, r.record()), 0);
  EXPECT_TRUE(md2d_test::held_by(r.record(), mine));
  EXPECT_WITHIN_BOUNDS(r.run(true, container::buffer), "forward buffer");
  EXPECT_EQ(mine->bkd_free(mine, r.record()), 0);
  EXPECT_EQ(r.record()->commit_status, dft::dfti_uncommitted);
  EXPECT_EQ(r.record()->bkd_data, nullptr);
}

}  // namespace
