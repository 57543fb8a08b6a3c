// Acceptance and plans of the column-batch backend under the GPU profile of
// the process (one CTest entry per scenario, BACKEND_SCENARIO names it):
// sub-groups of 8 only on Gulon, sub-groups of 16 anywhere, an unrecognised
// GPU declined; a device of few EUs; the larger lengths that only 128 KiB
// of local memory holds.
#include <string>

#include "tests/backends/n_fact_colbatch/colbatch_case.hpp"
#include "tests/backends/support/scenario_test.hpp"

namespace colbatch_test {
namespace {

using backend_test::scenario;

record_config twelve_points(bool dp) {
  record_config c;
  c.double_precision = dp;
  c.length = 12;
  c.columns = 6;
  c.stride = 7;
  return c;
}

SCENARIO_TEST(ColbatchProfile, SubGroupsOfEightOnGulon, "gulon") {
  committed_record r(twelve_points(true));
  ASSERT_TRUE(r.committed_here()) << r.commit_status();
  EXPECT_EQ(r.plan<double>().subgroup_size, 8);
  EXPECT_ACCURATE(run_and_measure(r, direction::forward, container::usm), true, 12);
}

SCENARIO_TEST(ColbatchProfile, SubGroupsOfEightOffGulonDeclined, "vemra", "unknown") {
  for (bool dp : {true, false}) {
    committed_record r(twelve_points(dp));
    EXPECT_EQ(r.commit_status(), 3);
    EXPECT_FALSE(r.committed_here());
    EXPECT_EQ(r.record()->bkd_data, nullptr);
  }
}

SCENARIO_TEST(ColbatchProfile, SubGroupsOfSixteenAnywhere, "harix", "vemra_16") {
  for (bool dp : {true, false}) {
    committed_record r(twelve_points(dp));
    ASSERT_TRUE(r.committed_here()) << r.commit_status();
    if (dp) {
      EXPECT_EQ(r.plan<double>().subgroup_size, 16);
    } else {
      EXPECT_EQ(r.plan<float>().subgroup_size, 16);
    }
    EXPECT_ACCURATE(run_and_measure(r, direction::forward, container::buffer), dp, 12);
    EXPECT_ACCURATE(run_and_measure(r, direction::backward, container::usm), dp, 12);
  }
}

// Eight EUs on Gulon make no whole unit of the planner's (16 EUs per unit
// with sub-groups of 8): the plan still counts one unit, so the work is
// spread in waves over it instead of the backend declining.
SCENARIO_TEST(ColbatchProfile, FewComputeUnitsMakeOneUnit, "gulon_8_eus") {
  for (bool dp : {true, false}) {
    committed_record r(twelve_points(dp));
    ASSERT_TRUE(r.committed_here()) << r.commit_status();
    EXPECT_ACCURATE(run_and_measure(r, direction::forward, container::usm), dp, 12);
    EXPECT_ACCURATE(run_and_measure(r, direction::backward, container::buffer), dp, 12);
  }
}

// 4096 single-precision points ({64, 64}) in two columns need 64 KiB and a
// little more: Harix's 128 KiB hold them, Gulon's 64 KiB do not.
SCENARIO_TEST(ColbatchProfile, LargeTwoFactorLength, "harix", "gulon") {
  record_config c;
  c.double_precision = false;
  c.length = 4096;
  c.columns = 2;
  c.stride = 3;
  committed_record r(c);
  if (scenario() == "gulon") {
    EXPECT_EQ(r.commit_status(), 3);
    return;
  }
  ASSERT_TRUE(r.committed_here()) << r.commit_status();
  EXPECT_EQ(r.plan<float>().factors[0], 64);
  EXPECT_EQ(r.plan<float>().factors[1], 64);
  EXPECT_ACCURATE(run_and_measure(r, direction::forward, container::usm), false, 4096);
  EXPECT_ACCURATE(run_and_measure(r, direction::backward, container::buffer), false, 4096);
}

// 3034 = 41 x 37 x 2 has no split into two factors up to 64; in double
// precision two columns need 95 KiB.
SCENARIO_TEST(ColbatchProfile, ThreeFactorsDouble, "harix") {
  record_config c;
  c.length = 3034;
  c.columns = 2;
  c.transposed = true;
  committed_record r(c);
  ASSERT_TRUE(r.committed_here()) << r.commit_status();
  const cb::block<double>& b = r.plan<double>();
  EXPECT_EQ(b.factors[0], 41);
  EXPECT_EQ(b.factors[1], 37);
  EXPECT_EQ(b.factors[2], 2);
  EXPECT_GT(b.sub_slice_bytes, 0u);
  EXPECT_ACCURATE(run_and_measure(r, direction::forward, container::usm), true, 3034);
  EXPECT_ACCURATE(run_and_measure(r, direction::backward, container::buffer), true, 3034);
}

}  // namespace
}  // namespace colbatch_test
