// The pre-twiddle backend under profiles it must refuse, named by
// BACKEND_SCENARIO (each scenario is its own CTest entry):
//   decline  smallest sub-group size 8: declined (status 3 from its list)
//   gate     an architecture outside the gate: status 7
#include <string>

#include "tests/backends/n_facts_slm_pre_twiddle/pretw_case.hpp"
#include "tests/backends/support/scenario_test.hpp"

namespace pretw_test {
namespace {

using backend_test::scenario;

TEST(PreTwiddleProfile, CommitStatusOfTheScenario) {
  const int expected = scenario() == "gate" ? dft::status_internal_error : dft::status_invalid_descriptor;
  for (precision p : {precision::double_precision, precision::single_precision}) {
    record_config c;
    c.p = p;
    committed_record r(c);
    EXPECT_EQ(r.commit_status(), expected) << scenario();
    EXPECT_FALSE(r.committed_here());
    EXPECT_EQ(r.record()->bkd_data, nullptr);
  }
}

}  // namespace
}  // namespace pretw_test
