// The four-factor backend at its largest length on PoCL (Harix profile).
#include "tests/backends/four_factor/four_factor_case.hpp"

namespace four_factor_test {
namespace {

// The largest length with the one-tile chunk of the Harix profile: five
// transforms of 2^20 points run as launch pairs of 4 and 1 (slow on PoCL).
TEST(FourFactorLong, LargestLengthInOneTileChunks) {
  record_config c;
  c.length = 1 << 20;
  c.count = 5;
  c.fwd_scale = 1.0 / c.length;
  c.directions = dft::directions_forward;
  committed_record r(c);
  ASSERT_TRUE(r.committed_here()) << "status " << r.commit_status();
  EXPECT_EQ(r.plan<double>().chunk, 4);
  EXPECT_ACCURATE(run_and_measure(r, direction::forward, container::usm, {0, 3, 4}), true, c.length);
}

}  // namespace
}  // namespace four_factor_test
