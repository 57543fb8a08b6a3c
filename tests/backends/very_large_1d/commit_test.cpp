// Commits of the very large backend on the default (Gulon) profile: the
// plan, the child stages, the published workspace sizes, where the
// workspace parts land, and the statuses of calls the plan cannot serve.
// No transform runs here.
#include <gtest/gtest.h>

#include "dft/api/status_codes.hpp"
#include "dft/gpu/core/backend_catalogue.hpp"
#include "tests/backends/very_large_1d/very_large_case.hpp"
#include "ulmara/qez/exceptions.hpp"

namespace very_large_test {
namespace {

constexpr std::int64_t p25 = std::int64_t{1} << 25;
constexpr std::int64_t p26 = std::int64_t{1} << 26;
const dft::backend_table& mine = dft::dft_c2c_very_large_1d_gpu_bkd_table_float;

std::uint64_t children_first_workspace(const committed_record& r) {
  std::uint64_t sum = 0;
  for (DFTI_DESCRIPTOR* c : r.plan().children)
    if (c != nullptr) sum += c->workspace_bytes[0];
  return sum;
}

TEST(VeryLargeCommit, Complex2To25) {
  REQUIRE_STAGE_CHILDREN();
  committed_record r(record_config{});
  ASSERT_TRUE(r.committed_here()) << r.commit_status();
  const vl::block& b = r.plan();
  EXPECT_EQ(vl::describe(b),
            "very_large_1d s N=33554432 complex M=33554432 factors=512x256x256 LD=520 T=272629760 howmany=1 "
            "children=101010");
  EXPECT_EQ(r.record()->workspace_bytes[1], 272629760u);
  EXPECT_EQ(r.record()->workspace_bytes[0], children_first_workspace(r));
  EXPECT_EQ(r.record()->data_arrays, 2u);
  const std::int64_t lengths[] = {512, 256, 256};
  const char* names[] = {"1DL|1st", "1DL|1th", "1DL|2th"};
  for (int s = 0; s < 3; ++s) {
    DFTI_DESCRIPTOR* c = r.child(s, 0);
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(c->commit_status, dft::dfti_committed);
    EXPECT_EQ(c->lengths.records[0].length, lengths[s]);
    EXPECT_EQ(r.child_name(s, 0), names[s]);
    EXPECT_EQ(c->workspace_internal, 0u);
    EXPECT_EQ(c->user_threads, 1u);
    EXPECT_EQ(c->queue, r.record()->queue);
    EXPECT_EQ(c->workspace_bytes[1], 0u);
  }
  EXPECT_EQ(r.child(0, 0)->fused_twiddle_length, 256 * 256);
  EXPECT_EQ(r.child(1, 0)->fused_twiddle_length, 256);
  EXPECT_LE(r.child(2, 0)->fused_twiddle_length, 0);
  EXPECT_EQ(r.child(0, 0)->placement, dft::dfti_not_inplace);
  EXPECT_EQ(r.child(1, 0)->placement, dft::dfti_inplace);
}

TEST(VeryLargeCommit, RealUsesTheFactorsOfHalfTheLengthAndBuildsItsKernels) {
  REQUIRE_STAGE_CHILDREN();
  record_config c;
  c.real = true;
  c.length = p26;
  committed_record r(c);
  ASSERT_TRUE(r.committed_here()) << r.commit_status();
  EXPECT_EQ(r.plan().factors[0], 512);
  EXPECT_EQ(r.plan().factors[1], 256);
  EXPECT_EQ(r.plan().factors[2], 256);
  EXPECT_EQ(r.plan().leading_dimension(), 520);
  EXPECT_NE(r.plan().real_kernels[vl::post_processing], nullptr);
  EXPECT_NE(r.plan().real_kernels[vl::pre_processing], nullptr);
}

TEST(VeryLargeCommit, OnlyThePreparedDirectionsRealKernel) {
  REQUIRE_STAGE_CHILDREN();
  record_config c;
  c.real = true;
  c.length = p26;
  c.directions = dft::directions_backward;
  committed_record r(c);
  ASSERT_TRUE(r.committed_here()) << r.commit_status();
  EXPECT_EQ(r.plan().real_kernels[vl::post_processing], nullptr);
  EXPECT_NE(r.plan().real_kernels[vl::pre_processing], nullptr);
  EXPECT_EQ(r.child(0, 0)->directions, static_cast<std::uint32_t>(dft::directions_backward));
  // The direction the plan was not made for is refused before anything runs.
  ASSERT_EQ(r.workspace().give_usm(r.record(), r.record()->workspace_bytes[0] + r.record()->workspace_bytes[1]), 0);
  EXPECT_EQ(backend_test::call_compute_entry(r.record(), direction::forward, nullptr, nullptr, container::usm),
            dft::status_invalid_configuration);
}

TEST(VeryLargeCommit, OddOutputStartsGetASecondLastStageChild) {
  REQUIRE_STAGE_CHILDREN();
  record_config c;
  c.count = 2;
  c.first_distance = p25 + 1;  // the backward output distance is odd
  c.second_distance = p25;
  committed_record r(c);
  ASSERT_TRUE(r.committed_here()) << r.commit_status();
  ASSERT_NE(r.child(2, 1), nullptr);
  EXPECT_EQ(r.child_name(2, 0), "1DL|2th");
  EXPECT_EQ(r.child_name(2, 1), "1DL|2th");
  EXPECT_EQ(r.child(2, 0)->out_offset, 0);
  EXPECT_EQ(r.child(2, 1)->out_offset, 1);
  EXPECT_EQ(r.child(0, 1), nullptr);
  EXPECT_EQ(r.child(1, 1), nullptr);
  EXPECT_EQ(r.record()->workspace_bytes[0], children_first_workspace(r));

  c.first_distance = p25 + 2;
  committed_record even(c);
  ASSERT_TRUE(even.committed_here()) << even.commit_status();
  EXPECT_EQ(even.child(2, 1), nullptr);
}

TEST(VeryLargeCommit, RealBackwardOddComplexDistanceGetsASecondChild) {
  REQUIRE_STAGE_CHILDREN();
  record_config c;
  c.real = true;
  c.length = p26;
  c.count = 2;
  c.first_distance = p26 + 2;       // (N + 2) / 2 = N / 2 + 1 complex values: odd
  c.second_distance = p26 / 2 + 2;
  c.directions = dft::directions_backward;
  committed_record r(c);
  ASSERT_TRUE(r.committed_here()) << r.commit_status();
  EXPECT_NE(r.child(2, 1), nullptr);
}

TEST(VeryLargeCommit, RealInputOutputDistances) {
  REQUIRE_STAGE_CHILDREN();
  record_config c;
  c.real = true;
  c.length = p26;
  c.count = 2;
  c.io_distances = true;
  c.first_distance = p26 + 1;  // odd and at least N
  c.second_distance = p26 / 2 + 1;
  c.directions = dft::directions_forward;
  committed_record odd(c);
  EXPECT_FALSE(odd.committed_here());
  EXPECT_EQ(mine.bkd_commit(&mine, odd.record()), dft::status_not_handled);
  c.first_distance = p26 + 2;
  committed_record even(c);
  EXPECT_TRUE(even.committed_here()) << even.commit_status();
}

TEST(VeryLargeCommit, DeclinedShapesLeaveNoPrivateBlock) {
  record_config c;
  c.count = 2;
  c.child_mark = true;
  committed_record marked(c);
  EXPECT_FALSE(marked.committed_here());
  EXPECT_EQ(mine.bkd_commit(&mine, marked.record()), dft::status_not_handled);
  EXPECT_EQ(marked.record()->bkd_data, nullptr);

  record_config small;
  small.length = std::int64_t{1} << 24;
  committed_record too_small(small);
  EXPECT_EQ(mine.bkd_commit(&mine, too_small.record()), dft::status_not_handled);

  record_config real_half;
  real_half.real = true;
  real_half.length = p25;
  committed_record real_small(real_half);
  EXPECT_EQ(mine.bkd_commit(&mine, real_small.record()), dft::status_not_handled);
}

TEST(VeryLargeCommit, ChildMarkWithOneTransformIsPlanned) {
  REQUIRE_STAGE_CHILDREN();
  record_config c;
  c.child_mark = true;
  committed_record r(c);
  EXPECT_TRUE(r.committed_here()) << r.commit_status();
}

// The front end keeps in-place layouts consistent; a working layout whose
// outputs step further than its inputs (a later transform's input would be
// overwritten before it is read) is declined all the same.
TEST(VeryLargeCommit, InPlaceBatchWhoseOutputsOvertakeItsInputsIsDeclined) {
  REQUIRE_STAGE_CHILDREN();
  record_config c;
  c.real = true;
  c.length = p26;
  c.count = 2;
  c.in_place = true;
  c.first_distance = p26 + 2;
  c.second_distance = p26 / 2 + 1;
  c.directions = dft::directions_forward;
  committed_record r(c);
  ASSERT_TRUE(r.committed_here()) << r.commit_status();
  r.record()->work_batch.records[0].backward = p26 / 2 + 3;
  EXPECT_EQ(mine.bkd_commit(&mine, r.record()), dft::status_not_handled);
  EXPECT_EQ(r.record()->bkd_data, nullptr);
  r.record()->work_batch.records[0].backward = p26 / 2 + 1;
  EXPECT_EQ(mine.bkd_commit(&mine, r.record()), 0);
}

TEST(VeryLargeCommit, WorkspacePartsLandChildrenFirstThenTheMatrix) {
  REQUIRE_STAGE_CHILDREN();
  committed_record r(record_config{});
  ASSERT_TRUE(r.committed_here());
  const std::uint64_t first = r.record()->workspace_bytes[0], second = r.record()->workspace_bytes[1];
  ASSERT_EQ(r.workspace().give_buffer(r.record(), first + second), 0);
  const vl::block& b = r.plan();
  ASSERT_NE(b.intermediate_buffer, nullptr);
  EXPECT_EQ(b.intermediate_buffer->ext_ulmara_get_offset_bytes(), first);
  EXPECT_EQ(b.intermediate_buffer->byte_size(), second);
  EXPECT_EQ(b.workspace_kind, vl::workspace_buffer);
  EXPECT_EQ(r.record()->workspace_kind, 1u);

  // The same on USM, from an offset.
  committed_record u(record_config{});
  ASSERT_TRUE(u.committed_here());
  std::vector<char> area(16);  // only addresses are formed, nothing is written
  EXPECT_EQ(mine.add_workspace(area.data(), 2, 64, u.record(), dft::workspace_part_scratch, nullptr), 0);
  EXPECT_EQ(static_cast<char*>(u.plan().intermediate_pointer), area.data() + 64);
}

TEST(VeryLargeCommit, StatusesOfCallsThePlanCannotServe) {
  REQUIRE_STAGE_CHILDREN();
  record_config c;
  c.count = 2;
  c.first_distance = c.second_distance = p25;
  committed_record r(c);
  ASSERT_TRUE(r.committed_here()) << r.commit_status();
  sycl::buffer<char, 1> data(sycl::range<1>(16));
  // No workspace yet.
  EXPECT_EQ(backend_test::call_compute_entry(r.record(), direction::forward, &data, &data, container::buffer),
            dft::status_no_workspace);
  EXPECT_EQ(backend_test::call_compute_entry(r.record(), direction::forward, nullptr, nullptr, container::usm),
            dft::status_no_workspace);
  const std::uint64_t bytes = r.record()->workspace_bytes[0] + r.record()->workspace_bytes[1];
  ASSERT_EQ(r.workspace().give_buffer(r.record(), bytes), 0);
  // A USM compute after a buffer workspace.
  EXPECT_EQ(backend_test::call_compute_entry(r.record(), direction::backward, nullptr, nullptr, container::usm),
            dft::status_no_workspace);
  // Buffers, two transforms, output a sub-buffer.
  sycl::buffer<char, 1> parent(sycl::range<1>(static_cast<size_t>(2 * p25 * 8 + 8)));
  sycl::buffer<char, 1> sub(parent, sycl::id<1>(8), sycl::range<1>(static_cast<size_t>(2 * p25 * 8)));
  sycl::buffer<char, 1> input(sycl::range<1>(static_cast<size_t>(2 * p25 * 8)));
  try {
    backend_test::call_compute_entry(r.record(), direction::forward, &input, &sub, container::buffer);
    ADD_FAILURE() << "no exception";
  } catch (const ulmara::qez::invalid_argument& e) {
    EXPECT_STREQ(e.what(),
                 "ulmara::qez::DFT::compute_fwd: invalid argument: Sub-buffer inputs are not supported for this "
                 "problem. See Qezlib release notes.");
  }
}

TEST(VeryLargeCommit, BlockOperationsWithoutABlock) {
  record_config c;
  c.length = std::int64_t{1} << 24;
  committed_record r(c);  // declined: no block
  ASSERT_EQ(r.record()->bkd_data, nullptr);
  EXPECT_EQ(mine.add_workspace(nullptr, 2, 0, r.record(), dft::workspace_part_both, nullptr),
            dft::status_invalid_configuration);
  r.record()->workspace_internal = 0;
  EXPECT_EQ(vl::create_and_initialize_internal_workspaces(r.record()), dft::status_bad_descriptor);
  r.record()->workspace_internal = 1;
  EXPECT_EQ(vl::create_and_initialize_internal_workspaces(r.record()), dft::status_invalid_configuration);
  // Freeing through a table that does not own the record.
  ASSERT_NE(r.record()->backend, &mine);
  EXPECT_EQ(mine.bkd_free(&mine, r.record()), dft::status_internal_error);
}

}  // namespace
}  // namespace very_large_test
