// A 2D and a 3D real transform under the plain default profile, where the
// children may be routed to whichever backend of their lists takes them.
#include <gtest/gtest.h>

#include "tests/backends/r2c_md/md_case.hpp"

namespace r2c_md_test {
namespace {

TEST(CompositeDefaultProfile, TwoAndThreeDimensionsAccurate) {
  const md_config configs[] = {
      // 134 points a row leave the half-length 67 that the small
      // multi-dimensional backend does not factor: the composite takes it.
      {precision::double_precision, {134, 134}, 2, false, workspace::internal, 1.0, 1.0 / 48, {}, {}, 0, 0},
      {precision::single_precision, {4, 3, 6}, 1, true, workspace::internal, 1.0, 1.0, {}, {}, 0, 0},
  };
  for (const md_config& c : configs) {
    const md_plan plan(c);
    EXPECT_TRUE(accepted_by_composite(plan.record(), c)) << name_of(c);
    EXPECT_WITHIN_BOUNDS(plan.forward(container::usm), (name_of(c) + " forward").c_str());
    EXPECT_WITHIN_BOUNDS(plan.backward(container::buffer), (name_of(c) + " backward").c_str());
  }
}

}  // namespace
}  // namespace r2c_md_test
