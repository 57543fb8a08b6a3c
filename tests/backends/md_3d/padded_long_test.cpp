// Long cases (label `long`, not run by CI): full-size padded 3D transforms on
// Harix. 512^3 is too large for a long-double reference, so the checks are
// the randomized self-checks: the impulse response (a plane wave known in
// closed form) and the round trip of random data.
#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <random>
#include <vector>

#include "dft/api/descriptor_access.hpp"
#include "tests/backends/md_3d/c2c_3d_case.hpp"
#include "ulmara/qez/dft.hpp"

namespace md_3d_test {
namespace {

namespace qd = ulmara::qez::dft;
using value = std::complex<float>;
constexpr std::int64_t n = 512;
constexpr std::int64_t volume = n * n * n;

struct usm_volume {
  value* data = sycl::malloc_device<value>(size_t(volume), test_queue());
  ~usm_volume() { sycl::free(data, test_queue()); }
};

// e^{-2 pi i m / n} in long double, by exact reduction of m.
std::complex<long double> root(std::int64_t m, int sign) {
  const long double pi = 3.141592653589793238462643383279502884L;
  const long double a = 2 * pi * static_cast<long double>(((m % n) + n) % n) / n;
  return {std::cos(a), sign * std::sin(a)};
}

TEST(padded_long, single_512_cube_impulse_response_and_round_trip) {
  qd::descriptor<qd::precision::SINGLE, qd::domain::COMPLEX> desc(std::vector<std::int64_t>{n, n, n});
  desc.set_value(qd::config_param::WORKSPACE_PLACEMENT, qd::config_value::WORKSPACE_EXTERNAL);
  desc.set_value(qd::config_param::BACKWARD_SCALE, 1.0f / float(volume));
  desc.commit(test_queue());
  DFTI_DESCRIPTOR* r = qd::descriptor_access::record(desc);
  ASSERT_TRUE(taken_by_3d_padded(r));
  const std::uint64_t bytes = r->workspace_bytes[0] + r->workspace_bytes[1];
  float* workspace = sycl::malloc_device<float>(bytes / sizeof(float) + 1, test_queue());
  desc.set_workspace(workspace);
  usm_volume data;
  std::vector<value> host(static_cast<size_t>(volume));

  // Impulse at (z, y, x) = (3, 17, 100): X[k] = e^{-2 pi i (k2 3 + k1 17 + k0 100) / n}.
  const std::int64_t z = 3, y = 17, x = 100;
  host[size_t((z * n + y) * n + x)] = value(1, 0);
  test_queue().memcpy(data.data, host.data(), host.size() * sizeof(value)).wait();
  qd::compute_forward(desc, data.data).wait();
  test_queue().memcpy(host.data(), data.data, host.size() * sizeof(value)).wait();
  long double worst = 0;
  for (std::int64_t k2 = 0; k2 < n; ++k2)
    for (std::int64_t k1 = 0; k1 < n; ++k1) {
      const std::complex<long double> outer = root(k2 * z + k1 * y, -1);
      for (std::int64_t k0 = 0; k0 < n; ++k0) {
        const std::complex<long double> expected = outer * root(k0 * x, -1);
        const value got = host[size_t((k2 * n + k1) * n + k0)];
        worst = std::max(worst, std::abs(std::complex<long double>(got.real(), got.imag()) - expected));
      }
    }
  EXPECT_LT(worst, 10 * std::numeric_limits<float>::epsilon() * 27) << "impulse response";

  // Round trip of random data: forward, then backward with scale 1/n^3.
  std::mt19937_64 gen(42);
  std::uniform_real_distribution<float> u(-1, 1);
  for (value& v : host) v = value(u(gen), u(gen));
  const std::vector<value> original = host;
  test_queue().memcpy(data.data, host.data(), host.size() * sizeof(value)).wait();
  qd::compute_forward(desc, data.data).wait();
  qd::compute_backward(desc, data.data).wait();
  test_queue().memcpy(host.data(), data.data, host.size() * sizeof(value)).wait();
  long double diff = 0, norm = 0;
  for (size_t i = 0; i < host.size(); ++i) {
    diff += std::norm(std::complex<long double>(host[i].real() - original[i].real(), host[i].imag() - original[i].imag()));
    norm += std::norm(std::complex<long double>(original[i].real(), original[i].imag()));
  }
  EXPECT_LT(std::sqrt(diff / norm), 4 * std::numeric_limits<float>::epsilon() * std::sqrt(27.0L)) << "round trip";
  test_queue().wait();
  sycl::free(workspace, test_queue());
}

}  // namespace
}  // namespace md_3d_test
