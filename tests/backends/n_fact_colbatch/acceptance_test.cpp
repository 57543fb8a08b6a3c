// Acceptance of the column-batch backend under the default profile: the
// layouts it takes and declines, exact statuses, names, build options and
// workspace sizes, and what a one-direction plan prepares.
#include <string>

#include "dft/gpu/core/backend_catalogue.hpp"
#include "tests/backends/n_fact_colbatch/colbatch_case.hpp"
#include "tests/backends/support/option_goldens.hpp"

namespace colbatch_test {
namespace {

record_config small(bool dp = true) {
  record_config c;
  c.double_precision = dp;
  c.length = 8;
  c.columns = 2;
  return c;
}

// A declined record is left as it was before the commit, and the backend's
// own commit says "not mine" (the list's terminator decides what the whole
// commit reports).
void expect_declined_untouched(const committed_record& r) {
  EXPECT_NE(r.commit_status(), 0);
  EXPECT_FALSE(r.committed_here());
  const dft::backend_table& mine = r.config().double_precision ? dft::dft_c2c_2_facts_colbatch_gpu_bkd_table_double
                                                               : dft::dft_c2c_2_facts_colbatch_gpu_bkd_table_float;
  EXPECT_EQ(mine.bkd_commit(&mine, r.record()), 100);
  EXPECT_EQ(r.record()->bkd_data, nullptr);
  EXPECT_EQ(r.record()->compute_fwd, nullptr);
  EXPECT_EQ(r.record()->workspace_bytes[0] + r.record()->workspace_bytes[1], 0u);
}

TEST(ColbatchAcceptance, OneTransformDeclinedTwoColumnsAccepted) {
  record_config c = small();
  c.columns = 1;
  c.stride = 2;
  expect_declined_untouched(committed_record(c));
  committed_record two(small());
  EXPECT_TRUE(two.committed_here()) << two.commit_status();
}

// A layout the backend takes, on a record that has no queue: declined
// (nothing to ask the device, nothing to run on), not dereferenced.
TEST(ColbatchAcceptance, RecordWithoutQueueDeclined) {
  for (bool dp : {true, false}) {
    record_config c = small(dp);
    c.without_queue = true;
    expect_declined_untouched(committed_record(c));
  }
}

TEST(ColbatchAcceptance, StrideBelowTheColumnsDeclined) {
  record_config c = small();
  c.columns = 4;
  c.stride = 3;
  expect_declined_untouched(committed_record(c));
}

TEST(ColbatchAcceptance, InPlaceWithDifferentOffsetsDeclined) {
  record_config c = small(false);
  c.io_form = false;
  c.in_place = true;
  c.out_offset = 3;
  expect_declined_untouched(committed_record(c));
}

// Output rows narrower than the columns would make work-groups write over
// each other's results.
TEST(ColbatchAcceptance, OverlappingOutputStrideDeclined) {
  record_config c = small();
  c.columns = 4;
  c.stride = 4;
  c.out_stride = 2;
  expect_declined_untouched(committed_record(c));
  c.out_stride = 4;
  EXPECT_TRUE(committed_record(c).committed_here());
}

TEST(ColbatchAcceptance, TransposedOutputNeedsRoomAndNoOffset) {
  record_config c = small();
  c.columns = 3;
  c.transposed = true;
  c.out_offset = 2;
  expect_declined_untouched(committed_record(c));
  c.out_offset = 0;
  EXPECT_TRUE(committed_record(c).committed_here());
}

TEST(ColbatchAcceptance, OuterDistanceBelowTheColumnsDeclined) {
  record_config c = small();
  c.columns = 4;
  c.stride = 8;
  c.blocks = 2;
  c.outer_in = 3;
  c.outer_out = 16 * 8;
  expect_declined_untouched(committed_record(c));
}

// Whole rows of an outer block that start inside the previous block would
// be written over by it.
TEST(ColbatchAcceptance, OverlappingOuterBlocksDeclined) {
  record_config c = small();
  c.columns = 4;
  c.blocks = 2;
  c.outer_in = 8 * 4 + 4;
  c.outer_out = 4 * 3;  // stride 4 rows: block 1 would start in row 3 of block 0
  expect_declined_untouched(committed_record(c));
}

TEST(ColbatchAcceptance, PostTwiddleBatchMustDivideTheTransforms) {
  record_config c = small();
  c.columns = 8;
  c.post_twiddle = 3;
  expect_declined_untouched(committed_record(c));
  c.post_twiddle = 4;
  EXPECT_TRUE(committed_record(c).committed_here());
}

// Eight points ({4, 2}) in two columns written as one block on Gulon
// (sub-groups of 8): the whole block in one work-group of one sub-group.
TEST(ColbatchAcceptance, NamesOptionsAndWorkspace) {
  committed_record r(small());
  ASSERT_TRUE(r.committed_here()) << r.commit_status();
  const cb::block<double>& b = r.plan<double>();
  EXPECT_STREQ(b.kernel_names[cb::dir_forward], "fft_8_colbatched_once_2_d");
  EXPECT_STREQ(b.kernel_names[cb::dir_backward], "fft_8_colbatched_once_2_d");
  EXPECT_STREQ(b.factor_names[0], "fft_4_s");
  EXPECT_STREQ(b.factor_names[1], "fft_2_s");
  EXPECT_STREQ(b.factor_names[2], "fft_1_s");
  EXPECT_STREQ(cb::program_key_double,
               "gpu_framework_c2c_1d_n_fact_colbatch.qez_dft_gpu_bkd_c2c_1d_n_facts_colbatch_sycl_d");
  EXPECT_EQ(cb::build_options(b, cb::dir_forward),
            backend_test::golden_options("n_fact_colbatch", backend_test::precision::double_precision,
                                         "8 x 2 columns, forward"));
  EXPECT_EQ(r.record()->data_arrays, 2u);
  EXPECT_EQ(b.sub_slice_bytes, 0u);
  EXPECT_GE(b.main_slice_bytes, 8u * 16u);
  EXPECT_EQ(b.main_slice_bytes % 16, 0u);
  EXPECT_EQ(r.record()->workspace_bytes[0], 2 * b.main_slice_bytes);
  EXPECT_EQ(r.record()->workspace_bytes[1], 0u);
}

TEST(ColbatchAcceptance, OptionalOptionsAppendInOrder) {
  record_config c = small();
  c.length = 10;
  c.columns = 3;
  c.stride = 4;
  c.in_offset = 3;
  c.out_offset = 5;
  c.post_twiddle = 3;
  committed_record r(c);
  ASSERT_TRUE(r.committed_here()) << r.commit_status();
  const std::string o = cb::build_options(r.plan<double>(), cb::dir_backward);
  const std::string tail = "-DINPUT_OFFSET=3 -DOUTPUT_OFFSET=5 -DPOST_TWIDDLE_BATCH=3 ";
  ASSERT_GE(o.size(), tail.size());
  EXPECT_EQ(o.substr(o.size() - tail.size()), tail);
  EXPECT_NE(o.find("-DFWD_DIR=0 -DBWD_DIR=1 "), std::string::npos);
}

TEST(ColbatchAcceptance, ForwardOnlyPlanPreparesOneDirection) {
  record_config c = small();
  c.directions = dft::directions_forward;
  committed_record r(c);
  ASSERT_TRUE(r.committed_here()) << r.commit_status();
  const cb::block<double>& b = r.plan<double>();
  EXPECT_NE(b.kernels[cb::dir_forward], nullptr);
  EXPECT_EQ(b.kernels[cb::dir_backward], nullptr);
  EXPECT_NE(b.main_pointers[cb::dir_forward], nullptr);
  EXPECT_EQ(b.main_pointers[cb::dir_backward], nullptr);
  EXPECT_EQ(r.record()->workspace_bytes[0], b.main_slice_bytes);
  EXPECT_ACCURATE(run_and_measure(r, direction::forward, container::usm), true, 8);
  EXPECT_EQ(run_and_measure(r, direction::backward, container::usm).status, 2);
}

TEST(ColbatchAcceptance, FreeOnAnotherTableIsAnInternalError) {
  committed_record r(small());
  ASSERT_TRUE(r.committed_here());
  const dft::backend_table& other = dft::dft_c2c_2_facts_colbatch_gpu_bkd_table_float;
  EXPECT_EQ(other.bkd_free(&other, r.record()), 7);
  EXPECT_TRUE(r.committed_here());
}

TEST(ColbatchAcceptance, InPlaceIoFormCountsOneDataArray) {
  record_config c = small(false);
  c.in_place = true;
  c.stride = 3;
  committed_record r(c);
  ASSERT_TRUE(r.committed_here()) << r.commit_status();
  EXPECT_EQ(r.record()->data_arrays, 1u);
  EXPECT_ACCURATE(run_and_measure(r, direction::forward, container::buffer), false, 8);
  EXPECT_ACCURATE(run_and_measure(r, direction::backward, container::usm), false, 8);
}

}  // namespace
}  // namespace colbatch_test
