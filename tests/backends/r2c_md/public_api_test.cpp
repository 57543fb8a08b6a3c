// Real two- and three-dimensional transforms through the public interface,
// one case per layout case of the intermediate: every case is accepted by the
// composite backend of its rank, asks for no more workspace than its
// estimator, names its child plans after the directions they serve, and
// computes forward and backward on USM and buffers within the bounds.
#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "dft/gpu/backends/real_small_md/r2c_md/plan.hpp"
#include "tests/backends/r2c_md/md_case.hpp"

namespace r2c_md_test {
namespace {

namespace qd = ulmara::qez::dft;
using P = precision;
using W = workspace;

struct md_case {
  md_config config;
  std::int64_t layout_case;
  // Names of the forward and backward real and complex children.
  const char* names[4];
};

std::string name_of_child(const DFTI_DESCRIPTOR* child) {
  if (child == nullptr) return "(none)";
  return std::string(child->name, strnlen(child->name, sizeof child->name));
}

const md_case cases[] = {
    // Packed out of place: a temp; one real child serves both directions.
    {{P::double_precision, {6, 8}, 1, false, W::internal, 1.0, 1.0 / 48, {}, {}, 0, 0},
     2, {"2D_R2CC2R", "2D_R2CC2R", "2DR2C|f2d", "2DR2C|b2d"}},
    // In place: the input is the intermediate; both passes shared.
    {{P::single_precision, {5, 7}, 3, true, W::internal, 0.5, 1.0, {}, {}, 0, 0},
     0, {"2D_R2CC2R", "2D_R2CC2R", "2D_R2C|2d", "2D_R2C|2d"}},
    // Real rows padded to 2(N/2+1): the intermediate is a temp, not the
    // output array, whose last row ends N0 reals in, short of the h complex
    // values the intermediate would write there.
    {{P::double_precision, {6, 8}, 2, false, W::external_usm, 1.0, 1.0, {10, 1}, {}, 60, 0},
     2, {"2D_R2CC2R", "2D_R2CC2R", "2DR2C|f2d", "2DR2C|b2d"}},
    // Caller's buffer workspace: the temp is a slice of it.
    {{P::single_precision, {4, 6}, 2, false, W::external_buffer, 1.0, 0.25, {}, {}, 0, 0},
     2, {"2D_R2CC2R", "2D_R2CC2R", "2DR2C|f2d", "2DR2C|b2d"}},
    // Transposed layout, transforms innermost: a reversed packed temp.
    {{P::double_precision, {4, 6}, 1, false, W::internal, 1.0, 1.0, {1, 4}, {1, 4}, 0, 0},
     3, {"2D_R2C", "2D_C2R", "2DR2C|f2d", "2DR2C|b2d"}},
    // Transposed real side over packed complex rows: neither side nests the
    // other either way, so the intermediate keeps the input's complex
    // layout in a temp (in the caller's workspace, before the children's
    // tables); alike real children are one record.
    {{P::double_precision, {4, 6}, 1, false, W::external_usm, 0.5, 1.0 / 24, {1, 4}, {}, 0, 0},
     4, {"2D_R2CC2R", "2D_R2CC2R", "2DR2C|f2d", "2DR2C|b2d"}},
    // 3D packed out of place: the backward real child may destroy its input.
    {{P::double_precision, {4, 3, 6}, 2, false, W::internal, 1.0, 1.0 / 72, {}, {}, 0, 0},
     2, {"3D_R2C", "3D_C2R", "3DR2C|f3d", "3DR2C|b3d"}},
    // 3D in place with the caller's USM workspace.
    {{P::single_precision, {3, 4, 5}, 1, true, W::external_usm, 1.0, 1.0, {}, {}, 0, 0},
     0, {"3D_R2CC2R", "3D_R2CC2R", "3D_R2C|3d", "3D_R2C|3d"}},
};

class CompositePublicApi : public ::testing::TestWithParam<md_case> {};

TEST_P(CompositePublicApi, AcceptedWithinEstimateNamedAndAccurate) {
  const md_case& t = GetParam();
  const md_config& c = t.config;
  const md_plan plan(c);
  ASSERT_TRUE(accepted_by_composite(plan.record(), c));
  const auto* b = static_cast<const qd::r2c_md::block*>(plan.record()->bkd_data);
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(b->layout, t.layout_case);
  EXPECT_EQ(b->temp_size == 0, t.layout_case == 0);
  for (int s = 0; s < 4; ++s) EXPECT_EQ(name_of_child(b->children[s]), t.names[s]) << "child " << s;
  // Alike children are one record under the shared name.
  EXPECT_EQ(b->children[0] == b->children[1], std::strcmp(t.names[0], t.names[1]) == 0);
  EXPECT_EQ(b->children[2] == b->children[3], std::strcmp(t.names[2], t.names[3]) == 0);
  const std::int64_t estimate = estimator_bytes(c);
  ASSERT_GT(estimate, 0);
  EXPECT_LE(plan.workspace_bytes(), static_cast<std::uint64_t>(estimate));
  backend_test::expect_public_runs_within_bounds(plan, c.ws);
}

INSTANTIATE_TEST_SUITE_P(Cases, CompositePublicApi, ::testing::ValuesIn(cases),
                         [](const ::testing::TestParamInfo<md_case>& i) { return name_of(i.param.config); });

}  // namespace
}  // namespace r2c_md_test
