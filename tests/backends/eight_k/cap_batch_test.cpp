// A batch at the transform-count cap of the default profile: 336 double
// transforms (a 44,040,192-byte scratch area), forward on USM against the
// reference.
#include "tests/backends/eight_k/eight_k_case.hpp"

namespace eight_k_test {
namespace {

TEST(CapBatch, ThreeHundredThirtySixDoubleTransforms) {
  record_config c;
  c.count = 336;
  committed_record r(c);
  ASSERT_TRUE(r.committed_here());
  EXPECT_EQ(r.plan<double>().padded_scratch_bytes, 44040192u);
  EXPECT_ACCURATE(run_and_measure(r, direction::forward, container::usm), precision::double_precision, n);
}

}  // namespace
}  // namespace eight_k_test
