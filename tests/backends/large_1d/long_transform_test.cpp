// Longer lengths and batches of the large one-dimensional backend on PoCL
// under the Harix profile (seconds to minutes each): every length of the
// plan table in both precisions, run-time pre-twiddles, padded rows, several
// chunks, round trips, and FFTW's impulse checks.
#include <cmath>
#include <complex>
#include <cstdio>
#include <string>
#include <tuple>
#include <vector>

#include "tests/backends/large_1d/large_case.hpp"

namespace large_test {
namespace {

record_config config(precision p, int log2_length, std::int64_t count = 1) {
  record_config c;
  c.p = p;
  c.length = std::int64_t{1} << log2_length;
  c.count = count;
  c.bwd_scale = 1.0 / static_cast<double>(c.length);
  return c;
}

TEST(LargeLongTransform, Double2To22BothDirectionsUsm) {
  committed_record r(config(precision::double_precision, 22));
  ASSERT_TRUE(r.committed_here()) << r.description();
  EXPECT_ACCURATE(run_and_measure(r, direction::forward, container::usm), precision::double_precision,
                  r.config().length);
  EXPECT_ACCURATE(run_and_measure(r, direction::backward, container::usm), precision::double_precision,
                  r.config().length);
}

TEST(LargeLongTransform, Float2To23BothDirectionsBuffers) {
  committed_record r(config(precision::single_precision, 23));
  ASSERT_TRUE(r.committed_here()) << r.description();
  EXPECT_ACCURATE(run_and_measure(r, direction::forward, container::buffer), precision::single_precision,
                  r.config().length);
  EXPECT_ACCURATE(run_and_measure(r, direction::backward, container::buffer), precision::single_precision,
                  r.config().length);
}

TEST(LargeLongTransform, Float2To24PaddedRowsUsmCallerWorkspace) {
  record_config c = config(precision::single_precision, 24);
  c.internal_workspace = false;
  committed_record r(c);
  ASSERT_TRUE(r.committed_here()) << r.description();
  EXPECT_EQ(l1::row_pitch(r.plan<float>()), 8224);
  ASSERT_EQ(r.give_usm_workspace(), 0);
  EXPECT_ACCURATE(run_and_measure(r, direction::forward, container::usm), precision::single_precision, c.length);
}

TEST(LargeLongTransform, ThreeDouble2To21TransformsBackToBack) {
  record_config c = config(precision::double_precision, 21, 3);
  c.in_place = true;
  committed_record r(c);
  ASSERT_TRUE(r.committed_here()) << r.description();
  EXPECT_EQ(r.plan<double>().chunk_count, 3);
  EXPECT_ACCURATE(run_and_measure(r, direction::forward, container::usm), precision::double_precision, c.length);
  EXPECT_ACCURATE(run_and_measure(r, direction::backward, container::buffer), precision::double_precision, c.length);
}

// The lengths of the plan table that no other case computes against a
// reference, both directions: forward on USM, backward on buffers. Above
// 2^22 values the reference is FFTW's double precision.
using length_case = std::tuple<precision, int>;
class EveryLength : public ::testing::TestWithParam<length_case> {};

TEST_P(EveryLength, BothDirectionsMatchTheReference) {
  const auto [p, log2_length] = GetParam();
  committed_record r(config(p, log2_length));
  ASSERT_TRUE(r.committed_here()) << r.description();
  std::printf("[ plan ] %s\n", r.description().c_str());
  EXPECT_ACCURATE(run_and_measure(r, direction::forward, container::usm), p, r.config().length);
  EXPECT_ACCURATE(run_and_measure(r, direction::backward, container::buffer), p, r.config().length);
}

INSTANTIATE_TEST_SUITE_P(Lengths, EveryLength,
                         ::testing::Values(length_case{precision::single_precision, 22},
                                           length_case{precision::single_precision, 26},
                                           length_case{precision::double_precision, 24},
                                           length_case{precision::double_precision, 25},
                                           length_case{precision::double_precision, 26}),
                         [](const ::testing::TestParamInfo<length_case>& i) {
                           return std::string(backend_test::is_double(std::get<0>(i.param)) ? "double" : "float") +
                                  "_2to" + std::to_string(std::get<1>(i.param));
                         });

// A unit impulse at index 1 gives exp(-+2 pi i k / N) at every k (times the
// direction's scale); checked in long double without a reference transform.
template <class T>
void expect_impulse_response(const committed_record& r, bool forward) {
  const std::int64_t n = r.config().length;
  std::vector<std::complex<T>> impulse(static_cast<size_t>(n));
  impulse[1] = 1;
  const backend_test::run_arrays<std::complex<T>> arrays(impulse, backend_test::placement::out_of_place,
                                                         backend_test::container::usm, n);
  ASSERT_EQ(arrays.call(r.record(), forward ? backend_test::direction::forward : backend_test::direction::backward), 0);
  const std::vector<std::complex<T>> got = arrays.result().read();
  const long double scale = forward ? r.config().fwd_scale : r.config().bwd_scale;
  const long double two_pi = 6.283185307179586476925286766559005768L;
  std::vector<qez_test::cld> expected(static_cast<size_t>(n));
  for (std::int64_t k = 0; k < n; ++k) {
    const long double theta = (forward ? -two_pi : two_pi) * static_cast<long double>(k) / static_cast<long double>(n);
    expected[static_cast<size_t>(k)] = scale * qez_test::cld(std::cos(theta), std::sin(theta));
  }
  const qez_test::accuracy e = qez_test::measure(std::vector<qez_test::cld>(got.begin(), got.end()), expected);
  const qez_test::accuracy_bounds b = qez_test::bounds_for<T>(n);
  EXPECT_TRUE(qez_test::within(e, b)) << qez_test::describe(e, b);
  backend_test::report_in_bound_units(e, b);
}

TEST(LargeLongTransform, Float2To25ImpulseResponse) {
  committed_record r(config(precision::single_precision, 25));
  ASSERT_TRUE(r.committed_here()) << r.description();
  EXPECT_EQ(l1::row_pitch(r.plan<float>()), 8448);
  expect_impulse_response<float>(r, true);
  expect_impulse_response<float>(r, false);
}

TEST(LargeLongTransform, Double2To23ImpulseResponse) {
  committed_record r(config(precision::double_precision, 23));
  ASSERT_TRUE(r.committed_here()) << r.description();
  expect_impulse_response<double>(r, true);
}

}  // namespace
}  // namespace large_test
