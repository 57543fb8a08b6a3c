// The batched layout of the children strategy (Harix, dense 2048 x 2048 with
// several transforms): one 2D transform at a time with byte distances,
// forward and backward against the reference, sub-buffer data refused before
// anything runs, and no batched layout for a child record.
#include <gtest/gtest.h>

#include "dft/gpu/backends/md_complex/2d_main/plan.hpp"
#include "tests/backends/md_2d/md2d_case.hpp"
#include "tests/backends/support/record_harness.hpp"
#include "ulmara/qez/exceptions.hpp"

namespace {

namespace dft = ulmara::qez::dft;
namespace m = dft::c2c_2d_main;
using md2d_test::c2c_2d_config;
using md2d_test::container;

c2c_2d_config square(std::int64_t n, std::int64_t batch) {
  c2c_2d_config c;
  c.n0 = c.n1 = n;
  c.batch = batch;
  c.fwd_scale = 1.0;
  c.bwd_scale = 1.0 / static_cast<double>(n * n);
  return c;
}

TEST(BatchedLayout, OneTransformAtATime) {
  md2d_test::c2c_2d_record r(square(2048, 2), md2d_test::main_table(true));
  ASSERT_EQ(r.commit_status(), 0);
  const m::block& b = *m::block_of(r.record());
  ASSERT_EQ(b.batched_layout, 1);
  const std::int64_t bytes = 16 * 2048 * 2048;
  for (std::int64_t d : b.byte_distances) EXPECT_EQ(d, bytes);
  // The children are planned for one transform: N1 rows, no batch of 2.
  EXPECT_EQ(b.row_plan_fwd->batch.records[0].length, 2048);
  EXPECT_EQ(b.row_plan_fwd->batch.records[1].length, 1);
  EXPECT_WITHIN_BOUNDS(r.run(true, container::usm), "forward usm");
  EXPECT_WITHIN_BOUNDS(r.run(false, container::buffer), "backward buffer");
}

TEST(BatchedLayout, SubBufferDataIsRefused) {
  md2d_test::c2c_2d_record r(square(2048, 2), md2d_test::main_table(true));
  ASSERT_EQ(r.commit_status(), 0);
  ASSERT_EQ(m::block_of(r.record())->batched_layout, 1);
  const size_t bytes = size_t{2} * 16 * 2048 * 2048;
  sycl::buffer<char, 1> whole{sycl::range<1>(bytes + 64)};
  sycl::buffer<char, 1> part(whole, sycl::id<1>(64), sycl::range<1>(bytes));
  sycl::buffer<char, 1> out{sycl::range<1>(bytes)};
  std::uint64_t kind = dft::container_buffer;
  try {
    r.record()->compute_fwd(r.record(), &part, &out, nullptr, &kind, nullptr);
    ADD_FAILURE() << "a sub-buffer input was accepted";
  } catch (const ulmara::qez::invalid_argument& e) {
    const std::string what = e.what();
    EXPECT_NE(what.find("compute_forward"), std::string::npos) << what;
    EXPECT_NE(what.find("Sub-buffer inputs are not supported for this size."), std::string::npos) << what;
  }
  EXPECT_THROW(r.record()->compute_bwd(r.record(), &out, &part, nullptr, &kind, nullptr),
               ulmara::qez::invalid_argument);
}

// Stand-ins for the children's compute entries: the row child fails its
// first call and then, like the column child, reports success without
// submitting anything.
int row_calls = 0;
int row_fails_first(DFTI_DESCRIPTOR*, void*, void*, void*, std::uint64_t*, void*) {
  return row_calls++ == 0 ? dft::status_internal_error : dft::status_success;
}
int column_succeeds(DFTI_DESCRIPTOR*, void*, void*, void*, std::uint64_t*, void*) { return dft::status_success; }

// The batch goes on after a failing transform, and the call reports that
// failure even though the last transform succeeded.
TEST(BatchedLayout, AnEarlyFailureIsTheCallsStatus) {
  md2d_test::c2c_2d_record r(square(2048, 2), md2d_test::main_table(true));
  ASSERT_EQ(r.commit_status(), 0);
  const m::block& b = *m::block_of(r.record());
  ASSERT_EQ(b.batched_layout, 1);
  const dft::compute_entry row_entry = b.row_plan_fwd->compute_fwd;
  const dft::compute_entry column_entry = b.col_plan_fwd->compute_fwd;
  b.row_plan_fwd->compute_fwd = row_fails_first;
  b.col_plan_fwd->compute_fwd = column_succeeds;
  sycl::queue& q = backend_test::gpu_test_queue();
  void* data = sycl::malloc_device(static_cast<size_t>(b.byte_distances[m::fwd_in_bytes]) * 2, q);
  std::uint64_t kind = dft::container_usm;
  row_calls = 0;
  EXPECT_EQ(r.record()->compute_fwd(r.record(), data, data, nullptr, &kind, nullptr), dft::status_internal_error);
  EXPECT_EQ(row_calls, 2);
  b.row_plan_fwd->compute_fwd = row_entry;
  b.col_plan_fwd->compute_fwd = column_entry;
  sycl::free(data, q);
}

TEST(BatchedLayout, NotForChildRecordsOrSingleTransforms) {
  md2d_test::c2c_2d_record one(square(2048, 1), md2d_test::main_table(true));
  ASSERT_EQ(one.commit_status(), 0);
  EXPECT_EQ(m::block_of(one.record())->batched_layout, 0);

  md2d_test::c2c_2d_record child(square(2048, 2), md2d_test::main_table(true));
  ASSERT_EQ(child.commit_status(), 0);
  child.record()->is_child = 1;
  const dft::backend_table* mine = md2d_test::main_table(true);
  ASSERT_EQ(mine->bkd_commit(mine, child.record()), 0);
  EXPECT_EQ(m::block_of(child.record())->batched_layout, 0);
  EXPECT_EQ(m::block_of(child.record())->row_plan_fwd->batch.records[1].length, 2);
}

}  // namespace
