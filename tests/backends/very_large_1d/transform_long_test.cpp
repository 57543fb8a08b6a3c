// Whole very large transforms on PoCL beyond the two of transform_test.cpp:
// backward, buffers, scales, batches with an odd output distance, in place,
// real backward, the longest complex (2^27) and real (2^27, 2^28) lengths in
// both directions, and the impulse response of 134,400,000 points. The
// largest take about 9 GB of memory with their reference.
#include <cmath>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

#include "tests/backends/very_large_1d/transform_checks.hpp"

namespace very_large_test {
namespace {

// ---------------------------------------------------------------------------
// Complex: the longest length in both directions, then the roads of 2^25.

TEST(VeryLargeTransform, Complex2To27ForwardOnUsmBackwardOnBuffers) {
  REQUIRE_STAGE_CHILDREN();
  record_config c;
  c.length = p27;
  c.fwd_scale = 0.25;
  c.bwd_scale = 1.0 / static_cast<double>(p27);
  check_complex(c, direction::forward, container::usm);
  check_complex(c, direction::backward, container::buffer);
}

TEST(VeryLargeTransform, ComplexBackwardOnBuffersScaled) {
  REQUIRE_STAGE_CHILDREN();
  record_config c;
  c.bwd_scale = 1.0 / static_cast<double>(p25);
  check_complex(c, direction::backward, container::buffer);
}

TEST(VeryLargeTransform, ComplexForwardOnBuffersWithInternalWorkspace) {
  REQUIRE_STAGE_CHILDREN();
  record_config c;
  c.internal_workspace = true;
  c.fwd_scale = 0.5;
  check_complex(c, direction::forward, container::buffer);
}

TEST(VeryLargeTransform, TwoComplexTransformsWithAnOddOutputDistance) {
  REQUIRE_STAGE_CHILDREN();
  record_config c;
  c.count = 2;
  c.io_distances = true;
  c.first_distance = p25;
  c.second_distance = p25 + 1;  // transform 1 starts on an odd value: the second last-stage child
  c.directions = dft::directions_forward;
  check_complex(c, direction::forward, container::usm);
}

// In place on buffers: transform 1 starts on an odd value, so its input view
// and its output view (one value earlier, through the second last-stage
// child) are different sub-buffers of the same buffer.
TEST(VeryLargeTransform, TwoComplexTransformsInPlaceOnBuffersWithAnOddDistance) {
  REQUIRE_STAGE_CHILDREN();
  record_config c;
  c.count = 2;
  c.in_place = true;
  c.io_distances = true;
  c.first_distance = p25 + 1;
  c.second_distance = p25 + 1;
  c.directions = dft::directions_forward;
  check_complex(c, direction::forward, container::buffer);
}

// Real in place, forward then backward scaled by 1/N: the input comes back
// (post-processing and pre-processing on the caller's array).
TEST(VeryLargeTransform, RealInPlaceRoundTrip) {
  REQUIRE_STAGE_CHILDREN();
  record_config c;
  c.real = true;
  c.length = p26;
  c.in_place = true;
  c.bwd_scale = 1.0 / static_cast<double>(p26);
  committed_record r(c);
  ASSERT_TRUE(r.committed_here()) << r.commit_status();
  const std::int64_t n = c.length, half = n / 2 + 1;
  const std::vector<float> x = random_floats(n, 17);
  std::vector<float> padded(x);
  padded.resize(static_cast<size_t>(2 * half), 0.0f);
  const complex_data data(padded, container::usm);
  ASSERT_EQ(r.workspace().give_usm(r.record(), r.record()->workspace_bytes[0] + r.record()->workspace_bytes[1]), 0);
  ASSERT_EQ(backend_test::call_compute_entry(r.record(), direction::forward, data.argument(), data.argument(),
                                             container::usm),
            0);
  ASSERT_EQ(backend_test::call_compute_entry(r.record(), direction::backward, data.argument(), data.argument(),
                                             container::usm),
            0);
  const std::vector<float> back = data.read();
  error_sum e;
  for (std::int64_t k = 0; k < n; ++k) e.add(back[static_cast<size_t>(k)], x[static_cast<size_t>(k)]);
  expect_single_precision_accuracy(e, n);
}

TEST(VeryLargeTransform, ComplexInPlace2To26) {
  REQUIRE_STAGE_CHILDREN();
  record_config c;
  c.length = p26;
  c.in_place = true;
  c.directions = dft::directions_forward;
  check_complex(c, direction::forward, container::usm);
}

// Real lengths (twice the complex length of the plan) and the container of
// a case; transform_test.cpp computes 2^26 forward on USM.
using real_case = std::tuple<std::int64_t, container>;
const std::vector<real_case> real_forward_cases = {
    {p26, container::buffer}, {p27, container::usm}, {p28, container::buffer}};
const std::vector<real_case> real_backward_cases = {
    {p26, container::usm}, {p26, container::buffer}, {p27, container::buffer}, {p28, container::usm}};

std::string real_case_name(const ::testing::TestParamInfo<real_case>& i) {
  const std::int64_t n = std::get<0>(i.param);
  return "2to" + std::to_string(n == p26 ? 26 : n == p27 ? 27 : 28) + "_" +
         (backend_test::is_usm(std::get<1>(i.param)) ? "usm" : "buffer");
}

class RealForward : public ::testing::TestWithParam<real_case> {};

TEST_P(RealForward, MatchesTheReference) {
  REQUIRE_STAGE_CHILDREN();
  record_config c;
  c.real = true;
  c.length = std::get<0>(GetParam());
  c.fwd_scale = 2.0;
  c.directions = dft::directions_forward;
  check_real_forward(c, std::get<1>(GetParam()));
}

INSTANTIATE_TEST_SUITE_P(Lengths, RealForward, ::testing::ValuesIn(real_forward_cases), real_case_name);

// Real backward out of place: the result against FFTW, nothing written
// after it, and the caller's input left as it was.
class RealBackward : public ::testing::TestWithParam<real_case> {};

TEST_P(RealBackward, KeepsTheInput) {
  REQUIRE_STAGE_CHILDREN();
  const container kind = std::get<1>(GetParam());
  record_config c;
  c.real = true;
  c.length = std::get<0>(GetParam());
  c.directions = dft::directions_backward;
  const std::int64_t n = c.length, half = n / 2 + 1;
  // A spectrum of real data.
  std::vector<float> spectrum(static_cast<size_t>(2 * half));
  {
    fftw_real_array x(n);
    fftw_complex_array y(half);
    const std::vector<float> host = random_floats(n, 13);
    for (std::int64_t k = 0; k < n; ++k) x.p[k] = host[static_cast<size_t>(k)];
    plan_guard plan(fftw_plan_dft_r2c_1d(static_cast<int>(n), x.p, y.p, FFTW_ESTIMATE));
    fftw_execute(plan.p);
    for (std::int64_t k = 0; k < half; ++k) {
      spectrum[static_cast<size_t>(2 * k)] = static_cast<float>(y.p[k][0]);
      spectrum[static_cast<size_t>(2 * k + 1)] = static_cast<float>(y.p[k][1]);
    }
  }
  std::vector<float> got;
  {
    committed_record r(c);
    ASSERT_TRUE(r.committed_here()) << r.commit_status();
    give_workspace(r, c, kind);
    const backend_test::run_arrays<float> arrays(spectrum, backend_test::placement::out_of_place, kind,
                                                 n + 2 * guard_values, guard_value);
    ASSERT_EQ(arrays.call(r.record(), direction::backward), 0);
    EXPECT_TRUE(arrays.input().read() == spectrum) << "the input was overwritten";
    got = arrays.result().read();
  }
  EXPECT_EQ(changed_outside_transforms(got, {}, false, n / 2, 1, 0), 0);
  fftw_complex_array y(half);
  fftw_real_array x(n);
  for (std::int64_t k = 0; k < half; ++k) {
    y.p[k][0] = spectrum[static_cast<size_t>(2 * k)];
    y.p[k][1] = spectrum[static_cast<size_t>(2 * k + 1)];
  }
  plan_guard plan(fftw_plan_dft_c2r_1d(static_cast<int>(n), y.p, x.p, FFTW_ESTIMATE));
  fftw_execute(plan.p);
  error_sum e;
  for (std::int64_t k = 0; k < n; ++k) e.add(got[static_cast<size_t>(k)], x.p[k]);
  expect_single_precision_accuracy(e, n);
}

INSTANTIATE_TEST_SUITE_P(Lengths, RealBackward, ::testing::ValuesIn(real_backward_cases), real_case_name);

// One transform on buffers may come as sub-buffers of larger buffers.
TEST(VeryLargeTransform, OneTransformOnSubBuffers) {
  REQUIRE_STAGE_CHILDREN();
  record_config c;
  c.directions = dft::directions_forward;
  std::vector<float> got;
  const std::int64_t n = c.length, lead = 3;  // complex values before each view
  {
    committed_record r(c);
    ASSERT_TRUE(r.committed_here()) << r.commit_status();
    give_workspace(r, c, container::buffer);
    std::vector<float> in_host = random_floats(2 * (n + lead), 19);
    std::vector<float> out_host(static_cast<size_t>(2 * (n + lead)), 0.0f);
    {
      const size_t bytes = static_cast<size_t>(n * 8), offset = static_cast<size_t>(lead * 8);
      sycl::buffer<char, 1> in_parent(reinterpret_cast<char*>(in_host.data()), sycl::range<1>(bytes + offset));
      sycl::buffer<char, 1> out_parent(reinterpret_cast<char*>(out_host.data()), sycl::range<1>(bytes + offset));
      sycl::buffer<char, 1> in(in_parent, sycl::id<1>(offset), sycl::range<1>(bytes));
      sycl::buffer<char, 1> out(out_parent, sycl::id<1>(offset), sycl::range<1>(bytes));
      ASSERT_EQ(backend_test::call_compute_entry(r.record(), direction::forward, &in, &out, container::buffer), 0);
    }
    EXPECT_EQ(out_host[0], 0.0f);
    got.assign(out_host.begin() + 2 * lead, out_host.end());
  }
  const std::vector<float> source = random_floats(2 * (n + lead), 19);
  fftw_complex_array a(n);
  for (std::int64_t k = 0; k < n; ++k) {
    a.p[k][0] = source[static_cast<size_t>(2 * (lead + k))];
    a.p[k][1] = source[static_cast<size_t>(2 * (lead + k) + 1)];
  }
  plan_guard plan(fftw_plan_dft_1d(static_cast<int>(n), a.p, a.p, FFTW_FORWARD, FFTW_ESTIMATE));
  fftw_execute(plan.p);
  error_sum e;
  for (std::int64_t k = 0; k < n; ++k)
    e.add(std::complex<double>(got[static_cast<size_t>(2 * k)], got[static_cast<size_t>(2 * k + 1)]),
          std::complex<double>(a.p[k][0], a.p[k][1]));
  expect_single_precision_accuracy(e, n);
}

// 134,400,000 points in place: an impulse at a random position gives
// exp(-2 pi i p k / N) at every k (FFTW's impulse-response self-check; a
// reference of this size would not fit the memory budget).
TEST(VeryLargeTransform, ImpulseResponseOf134400000Points) {
  REQUIRE_STAGE_CHILDREN();
  record_config c;
  c.length = 134400000;
  c.in_place = true;
  c.directions = dft::directions_forward;
  committed_record r(c);
  ASSERT_TRUE(r.committed_here()) << r.commit_status();
  give_workspace(r, c, container::usm);
  const std::int64_t n = c.length;
  const std::int64_t p = std::mt19937_64(5)() % n;
  sycl::queue& q = backend_test::gpu_test_queue();
  const complex_data data(static_cast<size_t>(2 * n), container::usm);
  const float one[2] = {1.0f, 0.0f};
  q.memcpy(data.usm() + 2 * p, one, sizeof one).wait();
  ASSERT_EQ(backend_test::call_compute_entry(r.record(), direction::forward, data.argument(), data.argument(),
                                             container::usm),
            0);
  error_sum e;
  const std::int64_t chunk = std::int64_t{1} << 23;
  std::vector<float> part(static_cast<size_t>(2 * chunk));
  for (std::int64_t k0 = 0; k0 < n; k0 += chunk) {
    const std::int64_t count = std::min(chunk, n - k0);
    q.memcpy(part.data(), data.usm() + 2 * k0, static_cast<size_t>(2 * count) * sizeof(float)).wait();
    for (std::int64_t k = 0; k < count; ++k) {
      const std::int64_t phase = static_cast<std::int64_t>((static_cast<unsigned __int128>(p) * (k0 + k)) % n);
      const double angle = -2.0 * M_PI * static_cast<double>(phase) / static_cast<double>(n);
      e.add(std::complex<double>(part[static_cast<size_t>(2 * k)], part[static_cast<size_t>(2 * k + 1)]),
            std::complex<double>(std::cos(angle), std::sin(angle)));
    }
  }
  expect_single_precision_accuracy(e, n);
}

}  // namespace
}  // namespace very_large_test
