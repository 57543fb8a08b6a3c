// The public interface on a GPU queue under the Harix profile: 2^21-point
// descriptors committed to the large one-dimensional backend with the
// library's own workspace, computed on USM and on buffers.
#include <gtest/gtest.h>

#include <complex>
#include <vector>

#include "dft/api/descriptor_access.hpp"
#include "dft/gpu/core/backend_catalogue.hpp"
#include "tests/support/expect_accurate.hpp"
#include "tests/support/reference_dft.hpp"
#include "ulmara/qez/dft.hpp"

namespace {

namespace qd = ulmara::qez::dft;
using qez_test::cld;

constexpr std::int64_t n21 = std::int64_t{1} << 21;

sycl::queue& queue() {
  static sycl::queue q{sycl::gpu_selector_v};
  return q;
}

template <class T>
void expect_accurate(const std::vector<std::complex<T>>& got, std::vector<cld> reference, long double scale,
                     const char* what) {
  for (cld& v : reference) v *= scale;
  qez_test::expect_accurate<T>(std::vector<cld>(got.begin(), got.end()), reference, n21, what);
}

TEST(LargePublicApi, SingleUsmOutOfPlaceBothDirections) {
  using T = float;
  qd::descriptor<qd::precision::SINGLE, qd::domain::COMPLEX> desc(n21);
  desc.set_value(qd::config_param::PLACEMENT, qd::config_value::OUT_OF_PLACE);
  desc.set_value(qd::config_param::BACKWARD_SCALE, T(1) / T(n21));
  desc.commit(queue());
  ASSERT_EQ(qd::descriptor_access::record(desc)->backend, &qd::dft_c2c_large_1d_gpu_bkd_table_float);

  const std::vector<cld> x = qez_test::random_complex(n21, 21);
  auto* in = sycl::malloc_shared<std::complex<T>>(n21, queue());
  auto* out = sycl::malloc_shared<std::complex<T>>(n21, queue());
  for (std::int64_t i = 0; i < n21; ++i) in[i] = {T(x[i].real()), T(x[i].imag())};
  qd::compute_forward(desc, in, out).wait();
  expect_accurate(std::vector<std::complex<T>>(out, out + n21),
                  qez_test::reference_c2c(x, {n21}, 1, qez_test::dft_sign::forward), 1, "forward");
  // The input stays as it was.
  EXPECT_EQ(in[5], (std::complex<T>(T(x[5].real()), T(x[5].imag()))));
  qd::compute_backward(desc, in, out).wait();
  expect_accurate(std::vector<std::complex<T>>(out, out + n21),
                  qez_test::reference_c2c(x, {n21}, 1, qez_test::dft_sign::backward), 1.0L / n21, "backward");
  sycl::free(in, queue());
  sycl::free(out, queue());
}

TEST(LargePublicApi, DoubleBufferInPlaceScaledForward) {
  using T = double;
  qd::descriptor<qd::precision::DOUBLE, qd::domain::COMPLEX> desc(n21);
  desc.set_value(qd::config_param::FORWARD_SCALE, T(0.5));
  desc.commit(queue());
  ASSERT_EQ(qd::descriptor_access::record(desc)->backend, &qd::dft_c2c_large_1d_gpu_bkd_table_double);

  const std::vector<cld> x = qez_test::random_complex(n21, 22);
  std::vector<std::complex<T>> data(x.begin(), x.end());
  {
    sycl::buffer<std::complex<T>, 1> buffer(data.data(), sycl::range<1>(data.size()));
    qd::compute_forward(desc, buffer);
  }
  expect_accurate(data, qez_test::reference_c2c(x, {n21}, 1, qez_test::dft_sign::forward), 0.5L, "forward");
}

}  // namespace
