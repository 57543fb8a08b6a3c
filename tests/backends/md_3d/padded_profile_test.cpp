// Under the default profile (not Harix) the padded 3D backend declines even
// the cubic sizes it serves on Harix; the 3D main backend plans them.
#include <gtest/gtest.h>

#include "tests/backends/md_3d/c2c_3d_case.hpp"

namespace md_3d_test {
namespace {

TEST(padded_profile, cubic_sizes_off_harix_go_to_the_3d_main_backend) {
  for (std::int64_t n : {512, 1024}) {
    SCOPED_TRACE(n);
    c2c_config c;
    c.lengths = {n, n, n};
    c.double_precision = n == 512;
    c.in_place = true;
    c.ws = workspace::external_usm;
    c2c_plan plan(c);
    EXPECT_FALSE(taken_by_3d_padded(plan.record()));
    EXPECT_TRUE(taken_by_3d_main(plan.record()));
  }
}

}  // namespace
}  // namespace md_3d_test
