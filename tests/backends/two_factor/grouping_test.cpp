// Under the architectures that group transforms per work-group (run with
// STANDIN_GPU_PROFILE=vemra and =dorik): four transforms per group where the
// plan allows it, a short last group, and numbers that stay right.
#include <gtest/gtest.h>

#include "tests/backends/two_factor/two_factor_case.hpp"

namespace two_factor_test {
namespace {

void expect_right_numbers(const committed_record& r, container c) {
  for (direction d : {direction::forward, direction::backward}) {
    const qez_test::accuracy a = run_and_measure(r, d, c);
    EXPECT_TRUE(qez_test::within(a, bounds_of(r.config()))) << qez_test::describe(a, bounds_of(r.config()));
  }
}

TEST(two_factor_grouping, nine_transforms_leave_one_for_the_last_group) {
  committed_record r(round_trip_config(precision::double_precision, 1000, 9));
  ASSERT_TRUE(r.committed_here());
  EXPECT_EQ(r.plan<double>().batch_per_group, 4);
  EXPECT_EQ(r.plan<double>().batch_for_last_group, 1);
  expect_right_numbers(r, container::usm);
}

TEST(two_factor_grouping, eight_transforms_fill_the_last_group) {
  record_config c = round_trip_config(precision::single_precision, 1024, 8);
  c.place = placement::in_place;
  committed_record r(c);
  ASSERT_TRUE(r.committed_here());
  EXPECT_EQ(r.plan<float>().batch_per_group, 4);
  EXPECT_EQ(r.plan<float>().batch_for_last_group, 4);
  expect_right_numbers(r, container::buffer);
}

TEST(two_factor_grouping, single_precision_above_1024_is_not_grouped) {
  committed_record r(round_trip_config(precision::single_precision, 2048, 3));
  ASSERT_TRUE(r.committed_here());
  EXPECT_EQ(r.plan<float>().batch_per_group, 1);
  EXPECT_EQ(r.plan<float>().batch_for_last_group, 1);
}

}  // namespace
}  // namespace two_factor_test
