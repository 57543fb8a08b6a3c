// A batch whose temp passes 44,040,192 bytes: on architectures other than
// Harix and Nopra the backend runs it in groups with a remainder child, on
// Harix in one group (temp cap 16 GiB). The transform is checked either way.
#include <gtest/gtest.h>

#include "dft/gpu/backends/real_small_md/r2c_1d/plan.hpp"
#include "tests/backends/r2c_1d/real_case.hpp"

namespace r2c_1d_test {
namespace {

namespace r1 = ulmara::qez::dft::r2c_1d;

// 13 transforms of 2^19 reals: rows of 2^18 double complex values (4 MiB);
// 10 rows fit below the default cap.
TEST(RealGroups, BatchAboveTheDefaultTempCap) {
  const real_config c{precision::double_precision, std::int64_t{1} << 19, 13, false, workspace::internal, 1.0, 1.0};
  const real_plan plan(c);
  ASSERT_TRUE(accepted_by_real_1d(plan.record(), c.p));
  const r1::block& b = *static_cast<const r1::block*>(plan.record()->bkd_data);
  EXPECT_EQ(b.architecture, static_cast<std::uint32_t>(GROUPS_EXPECTED_ARCH));
  EXPECT_EQ(b.group_batch, GROUPS_EXPECTED_BATCH);
  EXPECT_EQ(b.remainder_batch, 13 % GROUPS_EXPECTED_BATCH);
  EXPECT_EQ(static_cast<bool>(b.children[r1::child_remainder]), 13 % GROUPS_EXPECTED_BATCH != 0);
  EXPECT_LE(plan.workspace_bytes(), static_cast<std::uint64_t>(estimator_bytes(c)));
  EXPECT_WITHIN_BOUNDS(plan.forward(container::usm), "forward usm");
  EXPECT_WITHIN_BOUNDS(plan.backward(container::buffer), "backward buffer");
}

}  // namespace
}  // namespace r2c_1d_test
