// A real single-precision 16384 x 16384 transform through the transposes
// strategy on Harix, checked with the self-checks used where a reference is
// too slow: the impulse response of the forward transform (every sampled
// output is a known root of unity times the scale) and the round trip back
// to the impulse with scale 1/N.
#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <random>
#include <vector>

#include "dft/gpu/backends/md_complex/2d_main/plan.hpp"
#include "tests/backends/md_2d/md2d_case.hpp"
#include "tests/backends/support/record_harness.hpp"

namespace {

namespace dft = ulmara::qez::dft;
namespace m = dft::c2c_2d_main;
using backend_test::container;
using backend_test::direction;
constexpr std::int64_t n = 16384;
constexpr long double pi = 3.141592653589793238462643383279502884L;

TEST(TransposesLong, ImpulseResponseAndRoundTrip) {
  md2d_test::c2c_2d_config c;
  c.dbl = false;
  c.n0 = c.n1 = n;
  c.fwd_scale = 0.5;
  c.bwd_scale = 2.0 / static_cast<double>(n * n);
  c.ws = md2d_test::workspace::external_usm;
  md2d_test::c2c_2d_record r(c, md2d_test::main_table(false));
  ASSERT_EQ(r.commit_status(), 0);
  const m::block& b = *m::block_of(r.record());
  ASSERT_EQ(b.transposes, 1);
  ASSERT_EQ(r.give_workspace(), 0);

  sycl::queue& q = backend_test::gpu_test_queue();
  const size_t points = static_cast<size_t>(n * n);
  auto* in = sycl::malloc_device<std::complex<float>>(points, q);
  auto* out = sycl::malloc_device<std::complex<float>>(points, q);
  ASSERT_NE(in, nullptr);
  ASSERT_NE(out, nullptr);
  const std::int64_t row = 3, column = 5;
  const std::complex<float> one(1.0f, 0.0f);
  q.memset(in, 0, points * sizeof(std::complex<float>)).wait();
  q.memcpy(in + row * n + column, &one, sizeof one).wait();

  ASSERT_EQ(backend_test::call_compute_entry(r.record(), direction::forward, in, out, container::usm), 0);
  std::vector<std::complex<float>> host(points);
  q.memcpy(host.data(), out, points * sizeof(host[0])).wait();
  std::mt19937_64 pick(42);
  long double worst = 0;
  for (int s = 0; s < 20000; ++s) {
    const std::int64_t k1 = static_cast<std::int64_t>(pick() % n), k0 = static_cast<std::int64_t>(pick() % n);
    const long double turns = static_cast<long double>((row * k1 + column * k0) % n) / n;
    const std::complex<long double> expected(0.5L * std::cos(2 * pi * turns), -0.5L * std::sin(2 * pi * turns));
    const std::complex<float> got = host[static_cast<size_t>(k1 * n + k0)];
    worst = std::max(worst, std::abs(std::complex<long double>(got.real(), got.imag()) - expected));
  }
  EXPECT_LT(worst, 1e-5L);

  ASSERT_EQ(backend_test::call_compute_entry(r.record(), direction::backward, out, in, container::usm), 0);
  q.memcpy(host.data(), in, points * sizeof(host[0])).wait();
  long double stray = 0;
  for (size_t k = 0; k < points; ++k)
    if (k != static_cast<size_t>(row * n + column)) stray = std::max<long double>(stray, std::abs(host[k]));
  EXPECT_NEAR(host[static_cast<size_t>(row * n + column)].real(), 1.0f, 1e-5f);
  EXPECT_LT(stray, 1e-5L);
  sycl::free(in, q);
  sycl::free(out, q);
}

}  // namespace
