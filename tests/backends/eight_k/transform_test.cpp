// Forward and backward 8192-point transforms against the long-double
// reference: single and batched, in and out of place, on buffers and USM,
// and one descriptor that moves from its internal workspace to a caller
// buffer and then to caller USM.
#include <map>
#include <tuple>

#include "dft/api/status_codes.hpp"
#include "dft/gpu/core/workspace_estimators.hpp"
#include "tests/backends/eight_k/eight_k_case.hpp"

namespace eight_k_test {
namespace {

const char* name_of(precision p) { return p == precision::double_precision ? "double" : "float"; }

// One plan per configuration and test process.
const committed_record& plan_for(precision p, std::int64_t count, bool in_place) {
  static std::map<std::tuple<precision, std::int64_t, bool>, std::unique_ptr<committed_record>> plans;
  auto& slot = plans[{p, count, in_place}];
  if (!slot) {
    record_config c;
    c.p = p;
    c.count = count;
    c.in_place = in_place;
    c.convention = count > 1 ? distances::input_output : distances::forward_backward;
    c.fwd_scale = count > 1 ? 0.5 : 1.0;
    c.bwd_scale = 1.0 / 8192;
    slot = std::make_unique<committed_record>(c);
  }
  return *slot;
}

using transform_case = std::tuple<precision, std::int64_t, bool, container>;

class Transforms : public ::testing::TestWithParam<transform_case> {};

TEST_P(Transforms, ForwardAndBackwardMatchTheReference) {
  const auto [p, count, in_place, c] = GetParam();
  const committed_record& r = plan_for(p, count, in_place);
  ASSERT_TRUE(r.committed_here());
  EXPECT_ACCURATE(run_and_measure(r, direction::forward, c), p, n);
  EXPECT_ACCURATE(run_and_measure(r, direction::backward, c), p, n);
}

std::string case_name(const ::testing::TestParamInfo<transform_case>& info) {
  const auto [p, count, in_place, c] = info.param;
  return std::string(name_of(p)) + "_" + std::to_string(count) + (in_place ? "_in_place" : "_out_of_place") +
         (c == container::usm ? "_usm" : "_buffer");
}

INSTANTIATE_TEST_SUITE_P(EightK, Transforms,
                         ::testing::Combine(::testing::Values(precision::single_precision,
                                                              precision::double_precision),
                                            ::testing::Values(std::int64_t{1}, std::int64_t{3}),
                                            ::testing::Bool(), ::testing::Values(container::usm, container::buffer)),
                         case_name);

// Successive forward computes on an out-of-order queue, with no wait in
// between, share the internal scratch area: each must still match the
// reference, on USM and on buffer data.
class BackToBack : public ::testing::TestWithParam<container> {};

TEST_P(BackToBack, ThreeForwardComputesShareTheInternalScratch) {
  ASSERT_FALSE(test_queue().is_in_order());
  record_config c;
  c.count = 2;
  committed_record r(c);
  ASSERT_TRUE(r.committed_here());
  backend_test::expect_back_to_back_computes(r.record(), n, c.count, backend_test::back_to_back{3, GetParam()});
}

INSTANTIATE_TEST_SUITE_P(EightK, BackToBack, ::testing::Values(container::usm, container::buffer),
                         [](const ::testing::TestParamInfo<container>& info) {
                           return std::string(info.param == container::usm ? "usm" : "buffer");
                         });

std::uint64_t estimate_of(const committed_record& r) {
  return r.config().p == precision::double_precision ? dft::estimate_workspace_c2c_double(r.record())
                                                     : dft::estimate_workspace_c2c_float(r.record());
}

class WorkspaceMoves : public ::testing::TestWithParam<precision> {};

TEST_P(WorkspaceMoves, InternalThenCallerBufferThenCallerUsm) {
  const precision p = GetParam();
  record_config c;
  c.p = p;
  c.count = 2;
  c.bwd_scale = 1.0 / 8192;
  committed_record r(c);
  ASSERT_TRUE(r.committed_here());
  EXPECT_LE(r.workspace_bytes(), estimate_of(r));
  EXPECT_ACCURATE(run_and_measure(r, direction::forward, container::usm), p, n);
  EXPECT_ACCURATE(run_and_measure(r, direction::backward, container::buffer), p, n);

  ASSERT_EQ(r.give_buffer_workspace(), 0);
  EXPECT_EQ(r.record()->workspace_internal, 0u);
  EXPECT_ACCURATE(run_and_measure(r, direction::forward, container::buffer), p, n);
  EXPECT_ACCURATE(run_and_measure(r, direction::backward, container::usm), p, n);

  ASSERT_EQ(r.give_usm_workspace(), 0);
  EXPECT_ACCURATE(run_and_measure(r, direction::forward, container::buffer), p, n);
  EXPECT_ACCURATE(run_and_measure(r, direction::backward, container::usm), p, n);

  // And back to a buffer: the USM views are not taken for sub-buffers.
  ASSERT_EQ(r.give_buffer_workspace(), 0);
  EXPECT_ACCURATE(run_and_measure(r, direction::forward, container::usm), p, n);
}

INSTANTIATE_TEST_SUITE_P(EightK, WorkspaceMoves,
                         ::testing::Values(precision::single_precision, precision::double_precision));

TEST(Workspace, CommittedSizesStayWithinTheEstimate) {
  for (precision p : {precision::single_precision, precision::double_precision})
    for (std::int64_t count : {1, 7, 336}) {
      record_config c;
      c.p = p;
      c.count = count;
      c.internal_workspace = false;
      committed_record r(c);
      ASSERT_TRUE(r.committed_here());
      EXPECT_LE(r.workspace_bytes(), estimate_of(r)) << name_of(p) << " x " << count;
      EXPECT_GE(r.record()->workspace_bytes[1], static_cast<std::uint64_t>(count) * n * 2 *
                                                    (p == precision::double_precision ? 8 : 4));
    }
}

TEST(Workspace, ComputeBeforeTheCallerWorkspaceGives11) {
  record_config c;
  c.internal_workspace = false;
  committed_record r(c);
  ASSERT_TRUE(r.committed_here());
  EXPECT_EQ(run_and_measure(r, direction::forward, container::usm).status, dft::status_no_workspace);
  EXPECT_EQ(r.record()->methods->set_workspace(r.record(), nullptr, dft::container_usm), dft::status_no_workspace);
  ASSERT_EQ(r.give_usm_workspace(), 0);
  EXPECT_ACCURATE(run_and_measure(r, direction::forward, container::usm), precision::double_precision, n);
}

TEST(Directions, ForwardOnlyPlanRefusesBackward) {
  record_config c;
  c.directions = dft::directions_forward;
  committed_record r(c);
  ASSERT_TRUE(r.committed_here());
  EXPECT_ACCURATE(run_and_measure(r, direction::forward, container::usm), precision::double_precision, n);
  EXPECT_EQ(run_and_measure(r, direction::backward, container::usm).status, dft::status_invalid_configuration);
}

TEST(Queues, InOrderQueueNeedsNoDeclaredTableWrites) {
  record_config c;
  c.p = precision::single_precision;
  c.in_place = true;
  committed_record r(c, &in_order_queue());
  ASSERT_TRUE(r.committed_here());
  EXPECT_EQ(r.plan<float>().in_order, 1u);
  EXPECT_ACCURATE(run_and_measure(r, direction::forward, container::usm), precision::single_precision, n);
  EXPECT_ACCURATE(run_and_measure(r, direction::backward, container::buffer), precision::single_precision, n);
}

}  // namespace
}  // namespace eight_k_test
