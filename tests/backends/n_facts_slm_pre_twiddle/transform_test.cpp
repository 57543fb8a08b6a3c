// Real transforms of the pre-twiddle backend on PoCL under the Harix
// profile: the tabled pre-twiddle (N <= 2048) and the run-time one, both
// directions, both precisions, USM and buffers, internal and caller
// workspaces, against the long-double reference with the twiddle applied.
#include "tests/backends/n_facts_slm_pre_twiddle/pretw_case.hpp"

namespace pretw_test {
namespace {

struct transform_case {
  precision p;
  std::int64_t length;
  std::int64_t howmany;
  bool internal_workspace;
  bool in_place;
};

std::string case_name(const testing::TestParamInfo<transform_case>& info) {
  const transform_case& c = info.param;
  return std::string(c.p == precision::double_precision ? "double" : "float") + "_N" + std::to_string(c.length) +
         "_x" + std::to_string(c.howmany) + (c.internal_workspace ? "_internal" : "_caller") +
         (c.in_place ? "_inplace" : "_outofplace");
}

class PreTwiddleTransform : public testing::TestWithParam<transform_case> {};

TEST_P(PreTwiddleTransform, BothDirectionsOnUsmAndBuffers) {
  const transform_case& t = GetParam();
  record_config c;
  c.p = t.p;
  c.length = t.length;
  c.howmany = t.howmany;
  c.internal_workspace = t.internal_workspace;
  c.in_place = t.in_place;
  c.bwd_scale = 1.0 / static_cast<double>(t.length);
  committed_record r(c);
  ASSERT_EQ(r.commit_status(), 0);
  ASSERT_TRUE(r.committed_here()) << r.description();
  for (container kind : backend_test::both_containers) {
    SCOPED_TRACE(backend_test::is_usm(kind) ? "usm" : "buffer");
    if (!t.internal_workspace) {
      // The tables move with each workspace handed over.
      ASSERT_EQ(backend_test::is_usm(kind) ? r.give_usm_workspace() : r.give_buffer_workspace(), 0);
    }
    EXPECT_ACCURATE(run_and_measure(r, direction::forward, kind), t.p, t.length);
    EXPECT_ACCURATE(run_and_measure(r, direction::backward, kind), t.p, t.length);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Harix, PreTwiddleTransform,
    testing::Values(transform_case{precision::double_precision, 2048, 16, true, true},
                    transform_case{precision::double_precision, 4096, 8, false, true},
                    transform_case{precision::single_precision, 2048, 16, false, false},
                    transform_case{precision::single_precision, 4096, 8, true, true},
                    transform_case{precision::double_precision, 1024, 32, true, false}),
    case_name);

// Batches of two, the smallest cases of the tabled form in both precisions
// and of the run-time form (the Oclgrind entry runs these).
INSTANTIATE_TEST_SUITE_P(
    Pairs, PreTwiddleTransform,
    testing::Values(transform_case{precision::double_precision, 512, 2, true, false},
                    transform_case{precision::single_precision, 2048, 2, false, true},
                    transform_case{precision::single_precision, 4096, 2, true, true}),
    case_name);

TEST(PreTwiddleTransform, ComputeWithoutCallerWorkspaceIsRefused) {
  record_config c;
  c.internal_workspace = false;
  committed_record r(c);
  ASSERT_TRUE(r.committed_here()) << r.description();
  EXPECT_EQ(run_and_measure(r, direction::forward, container::usm).status, dft::status_no_workspace);
}

TEST(PreTwiddleTransform, DirectionNotPreparedIsRefused) {
  record_config c;
  c.directions = dft::directions_forward;
  committed_record r(c);
  ASSERT_TRUE(r.committed_here()) << r.description();
  EXPECT_ACCURATE(run_and_measure(r, direction::forward, container::usm), c.p, c.length);
  EXPECT_EQ(run_and_measure(r, direction::backward, container::usm).status, dft::status_invalid_configuration);
}

}  // namespace
}  // namespace pretw_test
