// Acceptance of the 2D small fused-SLM backend: the squares and batch
// layouts it takes, those it declines (too large, not a multiple of 8, not
// square, distances that disagree), its block for taken records, and, on a
// device without sub-group size 8, the decline that hands the record to the
// 2D main backend.
#include <gtest/gtest.h>

#include "dft/gpu/backends/md_complex/2d_small/plan.hpp"
#include "dft/gpu/core/backend_catalogue.hpp"
#include "tests/backends/md_2d/md2d_case.hpp"

namespace {

namespace dft = ulmara::qez::dft;
namespace s = dft::c2c_2d_small;
using md2d_test::c2c_2d_config;
using md2d_test::sized;

const dft::backend_table* small_table(bool dbl) {
  return dbl ? &dft::dft_c2c_2d_small_gpu_bkd_table_double : &dft::dft_c2c_2d_small_gpu_bkd_table_float;
}

#ifndef MD_2D_SMALL_NO_SUB_GROUP_8

// The status of this backend's own commit on a record of the layout.
int direct_commit(const c2c_2d_config& c) {
  md2d_test::c2c_2d_record r(c, nullptr);
  EXPECT_EQ(r.commit_status(), 0) << md2d_test::name_of(c);
  const dft::backend_table* mine = small_table(c.dbl);
  return mine->bkd_commit(mine, r.record());
}


TEST(Acceptance, ListCommitsSquaresToThisBackend) {
  md2d_test::c2c_2d_record eight(sized(false, 8, 8, 1000), nullptr);
  ASSERT_TRUE(md2d_test::held_by(eight.record(), small_table(false)));
  const s::block& b = *s::block_of(eight.record());
  EXPECT_EQ(b.work_group_size, 16u);
  EXPECT_EQ(b.transforms, 1000);
  EXPECT_EQ(b.local_bytes, 512);
  EXPECT_STREQ(b.kernel_name, "fft_8x8_fused_SLM_s");
  EXPECT_STREQ(b.butterfly_name, "fft_8_s");
  EXPECT_NE(b.kernels[0], nullptr);
  EXPECT_NE(b.kernels[1], nullptr);
  EXPECT_EQ(eight.record()->workspace_bytes[0] + eight.record()->workspace_bytes[1], 0u);

  md2d_test::c2c_2d_record largest(sized(true, 64, 64, 1), nullptr);
  ASSERT_TRUE(md2d_test::held_by(largest.record(), small_table(true)));
  EXPECT_EQ(s::block_of(largest.record())->local_bytes, 65536);
  EXPECT_STREQ(s::block_of(largest.record())->kernel_name, "fft_64x64_fused_SLM_d");
}

TEST(Acceptance, DeclinesWhatItCannotHold) {
  EXPECT_EQ(direct_commit(sized(false, 72, 72, 1)), 100);  // too large
  EXPECT_EQ(direct_commit(sized(true, 12, 12, 1)), 100);   // not a multiple of 8
  EXPECT_EQ(direct_commit(sized(false, 32, 64, 1)), 100);  // not square
  c2c_2d_config padded = sized(false, 16, 16, 2);
  padded.in_row_pad = padded.out_row_pad = 2;
  EXPECT_EQ(direct_commit(padded), 100);  // rows not N apart
  c2c_2d_config spread = sized(true, 16, 16, 2);
  spread.in_batch_pad = spread.out_batch_pad = 8;
  EXPECT_EQ(direct_commit(spread), 100);  // transforms not N x N apart
}

TEST(Acceptance, BatchDistances) {
  // Input and output distances of 4096 for two 64 x 64 transforms.
  c2c_2d_config io = sized(false, 64, 64, 2);
  io.io_convention = true;
  EXPECT_EQ(direct_commit(io), 0);
  // Forward and backward distances that disagree, even for one transform.
  c2c_2d_config disagree = sized(false, 64, 64, 1);
  disagree.out_batch_pad = 4;
  EXPECT_EQ(direct_commit(disagree), 100);
  // One transform whose distances agree but are not N x N.
  c2c_2d_config single = sized(false, 64, 64, 1);
  single.in_batch_pad = single.out_batch_pad = 4;
  EXPECT_EQ(direct_commit(single), 0);
}

TEST(Acceptance, FreeOnAnotherBackendsRecordIsSeven) {
  md2d_test::c2c_2d_record other(sized(true, 24, 40, 1), nullptr);
  ASSERT_EQ(other.commit_status(), 0);
  ASSERT_TRUE(md2d_test::held_by(other.record(), md2d_test::main_table(true)));
  const dft::backend_table* mine = small_table(true);
  EXPECT_EQ(mine->bkd_free(mine, other.record()), 7);
  EXPECT_EQ(other.record()->commit_status, dft::dfti_committed);
}

#else

TEST(NoSubGroupEight, DeclinesAndTheMainBackendTakesTheSquare) {
  for (bool dbl : {false, true}) {
    md2d_test::c2c_2d_record r(sized(dbl, 32, 32, 2), nullptr);
    ASSERT_EQ(r.commit_status(), 0);
    EXPECT_FALSE(md2d_test::held_by(r.record(), small_table(dbl)));
    const dft::backend_table* mine = small_table(dbl);
    EXPECT_EQ(mine->bkd_commit(mine, r.record()), 100);
    const dft::backend_table* main = md2d_test::main_table(dbl);
    ASSERT_EQ(main->bkd_commit(main, r.record()), 0);
    EXPECT_WITHIN_BOUNDS(r.run(true, md2d_test::container::usm), "main forward usm");
  }
}

#endif

}  // namespace
