// The Harix strategies of the 2D main backend that need no huge run: the
// transposes strategy of a single-precision 16384 x 16384 transform as it is
// planned (children, transpose geometry and kernels, workspace with the
// temporary), what falls back to the children (two transforms, double
// precision), an abandoned attempt giving its children back, and the fused
// strategy declining without sub-group size 8. The ESIMD plan, tried first on
// Harix, takes none of these records: it wants rows a power of two long, of
// at most 4095 points in single precision and 1024 in double.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>

#include "dft/gpu/backends/md_complex/2d_main/plan.hpp"
#include "gpu/service/program_build.hpp"
#include "qez_gpu_profile.h"
#include "qez_service_control.h"
#include "tests/backends/md_2d/md2d_case.hpp"

namespace {

namespace dft = ulmara::qez::dft;
namespace m = dft::c2c_2d_main;
using md2d_test::c2c_2d_config;

c2c_2d_config big(bool dbl, std::int64_t batch) {
  c2c_2d_config c;
  c.dbl = dbl;
  c.n0 = c.n1 = 16384;
  c.batch = batch;
  c.ws = md2d_test::workspace::external_usm;  // nothing is allocated at commit
  return c;
}

TEST(Transposes, SingleSixteenThousandSquareIsPlannedThroughTransposes) {
  md2d_test::c2c_2d_record r(big(false, 1), md2d_test::main_table(false));
  ASSERT_EQ(r.commit_status(), 0);
  const m::block& b = *m::block_of(r.record());
  ASSERT_EQ(b.transposes, 1);
  EXPECT_EQ(b.subgroup_size, 32);
  for (int pass = 0; pass < 2; ++pass) {
    const m::transpose_geometry& g = b.transpose_pass[pass];
    EXPECT_EQ(g.num_rows, 16384);
    EXPECT_EQ(g.vector_write, 2);
    EXPECT_EQ(g.vector_read, 1);
    EXPECT_EQ(g.row_groups, 512);
    EXPECT_EQ(g.col_items, 32768);
    EXPECT_NE(b.transpose_kernels[pass], nullptr);
  }
  ASSERT_NE(b.row_plan_fwd, nullptr);
  ASSERT_NE(b.col_plan_fwd, nullptr);
  EXPECT_EQ(b.row_plan_bwd, b.row_plan_fwd);
  EXPECT_EQ(b.col_plan_bwd, b.col_plan_fwd);
  EXPECT_STREQ(b.row_plan_fwd->name, "2D_C2C|1d");
  EXPECT_STREQ(b.col_plan_fwd->name, "2D_C2C|2d");
  EXPECT_EQ(b.col_plan_fwd->placement, dft::dfti_inplace);
  EXPECT_EQ(b.temp_bytes, std::int64_t{16384} * 16384 * 8);
  const std::uint64_t temp = static_cast<std::uint64_t>(b.temp_bytes);
  const std::uint64_t children0 = b.row_plan_fwd->workspace_bytes[0] + b.col_plan_fwd->workspace_bytes[0];
  const std::uint64_t children1 = std::max(b.row_plan_fwd->workspace_bytes[1], b.col_plan_fwd->workspace_bytes[1]);
  EXPECT_EQ(b.temp_in_part0 != 0, b.col_plan_fwd->workspace_bytes[1] != 0);
  if (b.temp_in_part0) {
    EXPECT_EQ(r.record()->workspace_bytes[0], children0 + temp);
    EXPECT_EQ(r.record()->workspace_bytes[1], children1);
  } else {
    EXPECT_EQ(r.record()->workspace_bytes[0], children0);
    EXPECT_EQ(r.record()->workspace_bytes[1], std::max(children1, temp));
  }
  // Without a workspace nothing runs.
  std::uint64_t kind = dft::container_usm;
  EXPECT_EQ(r.record()->compute_fwd(r.record(), nullptr, nullptr, nullptr, &kind, nullptr), 11);
}

// A transposes strategy abandoned after its pass-0 child exists releases that
// child. Here pass 1's geometry fails (a 128 x 16384 transform: the second
// transpose has too few columns for whole work-groups) after pass 0 made its
// child and kernel, as a failing transpose build would.
TEST(Transposes, AbandonedStrategyReleasesItsPassZeroChild) {
  c2c_2d_config c = big(false, 1);
  c.n1 = 128;
  md2d_test::c2c_2d_record r(c, md2d_test::main_table(false));
  ASSERT_EQ(r.commit_status(), 0);
  m::block& b = *m::block_of(r.record());
  m::release_children(b);  // whichever strategy took the record, no child is left
  // The first attempt also caches the pass-0 transpose program; the second
  // must give back everything it allocated.
  EXPECT_FALSE(m::try_transposes_strategy(b, r.record()));
  const long live = qez_standin_live_allocations();
  EXPECT_FALSE(m::try_transposes_strategy(b, r.record()));
  EXPECT_EQ(b.row_plan_fwd, nullptr);
  EXPECT_EQ(b.col_plan_fwd, nullptr);
  EXPECT_EQ(b.transpose_kernels[0], nullptr);
  EXPECT_EQ(b.transposes, 0);
  EXPECT_EQ(qez_standin_live_allocations(), live) << "the pass-0 child outlived the abandoned strategy";
}

// A transpose program that does not build abandons the strategy; the
// children strategy takes the transform and the commit succeeds. The record
// runs on a context of its own: the kernel cache keeps programs by context,
// so the transpose program an earlier case built is not found there and the
// commit has to build it.
TEST(Transposes, ATransposeThatDoesNotBuildFallsBackToTheChildren) {
  constexpr const char* transpose_kernel = "transpose_r16384_c16384";
  const sycl::device device = backend_test::gpu_test_queue().get_device();
  sycl::queue own_context(sycl::context(device), device);
  c2c_2d_config c = big(false, 1);
  c.queue = &own_context;
  setenv(QEZ_GPU_PROFILE_ENV_FAIL_BUILD, transpose_kernel, 1);
  md2d_test::c2c_2d_record r(c, md2d_test::main_table(false));
  unsetenv(QEZ_GPU_PROFILE_ENV_FAIL_BUILD);
  ASSERT_EQ(r.commit_status(), 0);
  const m::block& b = *m::block_of(r.record());
  EXPECT_NE(ulmara::qez::gpu::last_failed_build_log().find(transpose_kernel), std::string::npos)
      << ulmara::qez::gpu::last_failed_build_log();
  EXPECT_EQ(b.transposes, 0);
  for (int pass = 0; pass < 2; ++pass) EXPECT_EQ(b.transpose_kernels[pass], nullptr);
  EXPECT_EQ(b.temp_bytes, 0);
  ASSERT_NE(b.row_plan_fwd, nullptr);
}

TEST(Transposes, TwoTransformsOrDoublePrecisionTakeTheChildren) {
  for (const c2c_2d_config& c : {big(false, 2), big(true, 1)}) {
    md2d_test::c2c_2d_record r(c, md2d_test::main_table(c.dbl));
    ASSERT_EQ(r.commit_status(), 0);
    const m::block& b = *m::block_of(r.record());
    EXPECT_EQ(b.transposes, 0);
    EXPECT_EQ(b.batched_layout, 0);
    EXPECT_NE(b.row_plan_fwd, nullptr);
  }
}

TEST(Fused, DeclinedWithoutSubGroupSizeEight) {
  c2c_2d_config c;
  c.n0 = c.n1 = 192;
  md2d_test::c2c_2d_record r(c, md2d_test::main_table(true));
  ASSERT_EQ(r.commit_status(), 0);
  const m::block& b = *m::block_of(r.record());
  EXPECT_EQ(b.fused, 0);
  EXPECT_NE(b.row_plan_fwd, nullptr);
  EXPECT_WITHIN_BOUNDS(r.run(true, md2d_test::container::usm), "192 children forward usm");
}

}  // namespace
