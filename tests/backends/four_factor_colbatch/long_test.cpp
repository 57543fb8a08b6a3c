// A launch-capped transform at full size (minutes on PoCL): on a
// one-tile Harix device 2^20 single-precision points leave room for one
// chunk of 8 transforms per 64 MiB, so 9 transforms run as two launch
// pairs, the second one the tail chunk alone.
#include "tests/backends/four_factor_colbatch/colbatch_case.hpp"

namespace colbatch_test {
namespace {

TEST(ColbatchLong, HarixCappedLaunchPairs) {
  record_config c;
  c.double_precision = false;
  c.length = 1 << 20;
  c.count = 9;
  c.fwd_scale = 1.0 / c.length;
  committed_record r(c);
  ASSERT_TRUE(r.committed_here()) << "status " << r.commit_status();
  std::printf("[ plan ] %s\n", r.description().c_str());
  const cb::block<float>& s = r.plan<float>();
  EXPECT_EQ(s.launches, 2);
  EXPECT_EQ(s.chunks_per_launch, 1);
  EXPECT_EQ(s.inner_tail, 1);
  EXPECT_ACCURATE(run_and_measure(r, direction::forward, container::usm), false, c.length);
  EXPECT_ACCURATE(run_and_measure(r, direction::backward, container::buffer), false, c.length);
}

}  // namespace
}  // namespace colbatch_test
