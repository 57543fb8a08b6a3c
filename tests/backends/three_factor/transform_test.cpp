// Three-factor transforms on PoCL (default profile) against the long-double
// reference: both precisions up to their longest length, forward and
// backward with scales, in and out of place, USM and buffers, internal and
// caller workspace, batch chunks.
#include <cstdio>

#include "tests/backends/support/transform_suite.hpp"
#include "tests/backends/three_factor/three_factor_case.hpp"

namespace three_factor_test {
namespace {

using transform_case = backend_test::transform_case<record_config>;

std::vector<transform_case> transform_cases() {
  std::vector<transform_case> cases;
  for (bool dp : {true, false}) {
    // 324 = 36 x 3 x 3: pass 0 has 9 columns (a partial sub-group), passes 1
    // and 2 have 108 (a partial work-group).
    for (bool in_place : {false, true}) {
      record_config c;
      c.double_precision = dp;
      c.length = 324;
      c.count = 3;
      c.in_place = in_place;
      c.fwd_scale = 1.0 / 324;
      c.bwd_scale = 0.5;
      cases.push_back({dp ? (in_place ? "d324_in_place" : "d324") : (in_place ? "s324_in_place" : "s324"), c});
    }
    record_config big;
    big.double_precision = dp;
    big.length = dp ? 21000 : 4096;  // 40 x 25 x 21; 64 x 8 x 8
    big.count = 2;
    big.bwd_scale = 1.0 / static_cast<double>(big.length);
    cases.push_back({dp ? "d21000" : "s4096", big});
    // The longest length of the precision, every factor at its limit:
    // 40 x 40 x 40 and 64 x 64 x 64.
    record_config longest;
    longest.double_precision = dp;
    longest.length = dp ? tf::length_limit<double>() : tf::length_limit<float>();
    longest.fwd_scale = 1.0 / static_cast<double>(longest.length);
    longest.bwd_scale = 2.0;
    cases.push_back({dp ? "d64000" : "s262144", longest});
  }
  const record_config io = io_distances_160();
  cases.push_back({"d160_io_distances", io});
  record_config io_s = io;
  io_s.double_precision = false;
  io_s.in_distance = 161;  // odd input distances are fine in single precision
  cases.push_back({"s160_io_distances", io_s});
  return cases;
}

BACKEND_TRANSFORM_SUITE(ThreeFactorTransform, committed_record, transform_cases(), &estimator_of, container::usm);

// A batch one transform longer than a chunk: 671 transforms of 4096 points
// fill the 42 MiB temporary area, the 672nd runs as a second chunk. The
// first chunk's launches are large enough for the portable kernels to
// stream their stores past the caches, the second's are not.
TEST(ThreeFactorChunks, BatchLongerThanOneChunk) {
  record_config c;
  c.length = 4096;
  c.count = 672;
  c.fwd_scale = 1.0 / 4096;
  committed_record r(c);
  ASSERT_TRUE(r.committed_here()) << "status " << r.commit_status();
  EXPECT_EQ(r.plan<double>().transforms_per_chunk, 671u);
  const std::vector<std::int64_t> sample = {0, 1, 670, 671};
  for (container k : backend_test::both_containers)
    EXPECT_ACCURATE(run_and_measure(r, direction::forward, k, sample), true, c.length);
}

// Forward only: no backward kernels, tables of one direction.
TEST(ThreeFactorDirections, ForwardOnly) {
  record_config c;
  c.length = 160;
  c.directions = dft::directions_forward;
  committed_record r(c);
  ASSERT_TRUE(r.committed_here()) << "status " << r.commit_status();
  const tf::block<double>& b = r.plan<double>();
  EXPECT_EQ(r.record()->workspace_bytes[0], b.class_bytes[tf::class_1] + b.class_bytes[tf::class_2]);
  for (int p = 0; p < tf::pass_count; ++p) {
    EXPECT_NE(b.kernels[p][tf::dir_forward], nullptr);
    EXPECT_EQ(b.kernels[p][tf::dir_backward], nullptr);
  }
  EXPECT_ACCURATE(run_and_measure(r, direction::forward, container::usm), true, c.length);
  // The unprepared direction is refused, not run on missing kernels.
  EXPECT_EQ(run_and_measure(r, direction::backward, container::usm).status, dft::status_invalid_configuration);
}


// Computes submitted back to back without dependencies between them share
// the record's temporary area (the library's, USM): each must wait until the
// one before is done with it (the queue is out of order). Buffer computes
// order the caller's arrays through their accessors, but no accessor covers
// that temporary.
TEST(ThreeFactorConcurrency, BackToBackComputesShareTheLibrarysTemporary) {
  record_config c;
  c.length = 21000;
  c.count = 2;
  committed_record r(c);
  ASSERT_TRUE(r.committed_here()) << "status " << r.commit_status();
  ASSERT_NE(r.record()->workspace_internal, 0u);
  backend_test::expect_back_to_back_usm_computes(r.record(), c.length, c.count);
  // Buffers migrate on first use, which spaces the computes out: six of
  // them make an overlap certain.
  backend_test::expect_back_to_back_computes(r.record(), c.length, c.count,
                                             backend_test::back_to_back{6, container::buffer});
}

}  // namespace
}  // namespace three_factor_test
