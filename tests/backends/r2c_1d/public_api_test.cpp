// Real one-dimensional transforms through the public interface under the
// default profile (its sub-group sizes cut down to 8, which keeps the small
// multi-dimensional backend away): every case is accepted by the real 1D
// backend, asks for no more workspace than its estimator, and computes
// forward and backward on USM and on buffers within the accuracy bounds.
#include <gtest/gtest.h>

#include "tests/backends/r2c_1d/real_case.hpp"

namespace r2c_1d_test {
namespace {

using P = precision;
using W = workspace;

// {precision, N, batch, in place, workspace, forward scale, backward scale}
const real_config cases[] = {
    {P::double_precision, 64, 3, false, W::internal, 1.0, 1.0 / 64},
    {P::double_precision, 63, 5, false, W::internal, 1.0, 1.0},
    {P::single_precision, 128, 4, true, W::internal, 0.5, 1.0},
    {P::single_precision, 45, 3, true, W::external_usm, 1.0, 1.0 / 45},
    {P::double_precision, 1, 3, false, W::internal, 1.0, 1.0},
    {P::double_precision, 2, 2, true, W::external_buffer, 1.0, 0.5},
    {P::single_precision, 96, 2, false, W::external_buffer, 2.0, 1.0},
    {P::double_precision, 1000, 1, true, W::external_usm, 1.0, 1.0},
    {P::single_precision, 77, 4, false, W::internal, 1.0, 1.0},
    {P::double_precision, 250, 2, false, W::external_usm, 1.0, 1.0, 260, 130},
};

class RealPublicApi : public ::testing::TestWithParam<real_config> {};

TEST_P(RealPublicApi, AcceptedWithinEstimateAndAccurate) {
  const real_config& c = GetParam();
  const real_plan plan(c);
  ASSERT_TRUE(accepted_by_real_1d(plan.record(), c.p));
  const std::int64_t estimate = estimator_bytes(c);
  ASSERT_GT(estimate, 0);
  EXPECT_LE(plan.workspace_bytes(), static_cast<std::uint64_t>(estimate));
  backend_test::expect_public_runs_within_bounds(plan, c.ws);
}

INSTANTIATE_TEST_SUITE_P(Cases, RealPublicApi, ::testing::ValuesIn(cases),
                         [](const ::testing::TestParamInfo<real_config>& i) { return name_of(i.param); });

}  // namespace
}  // namespace r2c_1d_test
