// Real transforms of 2^21 points through the large one-dimensional backend
// on PoCL under the Harix profile (transpose, pre-twiddled row pass, column
// pass), against the long-double reference; and the compute road's refusals.
#include <complex>
#include <stdexcept>
#include <utility>
#include <vector>

#include "tests/backends/large_1d/large_case.hpp"

namespace large_test {
namespace {

constexpr std::int64_t n21 = std::int64_t{1} << 21;

record_config config(precision p, bool internal, bool in_place) {
  record_config c;
  c.p = p;
  c.length = n21;
  c.internal_workspace = internal;
  c.in_place = in_place;
  c.bwd_scale = 1.0 / static_cast<double>(n21);
  return c;
}

TEST(LargeTransform, Double2To21ForwardUsmInternalWorkspace) {
  committed_record r(config(precision::double_precision, true, false));
  ASSERT_TRUE(r.committed_here()) << r.description();
  EXPECT_ACCURATE(run_and_measure(r, direction::forward, container::usm), precision::double_precision, n21);
}

TEST(LargeTransform, Float2To21BackwardBufferCallerWorkspaceInPlace) {
  committed_record r(config(precision::single_precision, false, true));
  ASSERT_TRUE(r.committed_here()) << r.description();
  ASSERT_EQ(r.give_buffer_workspace(), 0);
  EXPECT_ACCURATE(run_and_measure(r, direction::backward, container::buffer), precision::single_precision, n21);
}

// Two USM computes of one plan submitted back to back on an out-of-order
// queue, with no dependency between them: both results are right although
// the two share the workspace matrix.
TEST(LargeTransform, BackToBackUsmComputesShareTheMatrixSafely) {
  committed_record r(config(precision::single_precision, true, false));
  ASSERT_TRUE(r.committed_here()) << r.description();
  backend_test::expect_back_to_back_usm_computes(r.record(), n21, 1, precision::single_precision);
}

TEST(LargeTransform, ComputeWithoutWorkspaceReturns11) {
  committed_record r(config(precision::single_precision, false, false));
  ASSERT_TRUE(r.committed_here()) << r.description();
  EXPECT_EQ(run_and_measure(r, direction::forward, container::usm).status, dft::status_no_workspace);
}

TEST(LargeTransform, UsmWorkspaceWithBufferComputeReturns11) {
  committed_record r(config(precision::single_precision, false, false));
  ASSERT_TRUE(r.committed_here()) << r.description();
  ASSERT_EQ(r.give_usm_workspace(), 0);
  EXPECT_EQ(run_and_measure(r, direction::forward, container::buffer).status, dft::status_no_workspace);
}

TEST(LargeTransform, SubBufferInputIsRefusedBeforeAnySubmission) {
  committed_record r(config(precision::single_precision, true, false));
  ASSERT_TRUE(r.committed_here()) << r.description();
  const std::size_t bytes = static_cast<std::size_t>(n21) * 8;
  sycl::buffer<char, 1> whole{sycl::range<1>(2 * bytes)};
  sycl::buffer<char, 1> input(whole, sycl::id<1>(0), sycl::range<1>(bytes));
  sycl::buffer<char, 1> output{sycl::range<1>(bytes)};
  std::uint64_t kind = dft::container_buffer;
  EXPECT_THROW(r.record()->compute_fwd(r.record(), &input, &output, nullptr, &kind, nullptr), std::invalid_argument);
  sycl::buffer<char, 1> plain{sycl::range<1>(bytes)};
  sycl::buffer<char, 1> out_view(whole, sycl::id<1>(bytes), sycl::range<1>(bytes));
  EXPECT_THROW(r.record()->compute_bwd(r.record(), &plain, &out_view, nullptr, &kind, nullptr), std::invalid_argument);
}

}  // namespace
}  // namespace large_test
