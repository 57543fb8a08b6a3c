// Two-dimensional complex transforms through the public interface that land
// on the 2D main backend: a descriptor committed to a GPU queue, computed on
// USM pointers and on buffers, against the long-double reference.
#include <gtest/gtest.h>

#include <complex>
#include <vector>

#include "dft/api/descriptor_access.hpp"
#include "tests/backends/md_2d/md2d_case.hpp"
#include "tests/backends/support/record_harness.hpp"
#include "tests/support/expect_accurate.hpp"
#include "tests/support/reference_dft.hpp"
#include "ulmara/qez/dft.hpp"

namespace {

namespace qd = ulmara::qez::dft;
using qez_test::cld;

template <class T>
std::vector<std::complex<T>> narrow(const std::vector<cld>& x) {
  std::vector<std::complex<T>> out(x.size());
  for (size_t i = 0; i < x.size(); ++i) out[i] = {static_cast<T>(x[i].real()), static_cast<T>(x[i].imag())};
  return out;
}

template <class T>
std::vector<cld> widen(const std::vector<std::complex<T>>& x) {
  std::vector<cld> out(x.size());
  for (size_t i = 0; i < x.size(); ++i) out[i] = {x[i].real(), x[i].imag()};
  return out;
}

template <class T>
void expect_within(const std::vector<std::complex<T>>& got, const std::vector<cld>& reference, std::int64_t n,
                   const char* what) {
  qez_test::expect_accurate<T>(widen(got), reference, n, what);
}

TEST(PublicApi, DoubleOutOfPlaceOnUsm) {
  const std::vector<std::int64_t> lengths{20, 28};
  const std::int64_t n = 20 * 28, batch = 2;
  qd::descriptor<qd::precision::DOUBLE, qd::domain::COMPLEX> desc(lengths);
  desc.set_value(qd::config_param::PLACEMENT, qd::config_value::OUT_OF_PLACE);
  desc.set_value(qd::config_param::NUMBER_OF_TRANSFORMS, batch);
  desc.set_value(qd::config_param::FWD_DISTANCE, n);
  desc.set_value(qd::config_param::BWD_DISTANCE, n);
  desc.set_value(qd::config_param::BACKWARD_SCALE, 1.0 / static_cast<double>(n));
  sycl::queue& q = backend_test::gpu_test_queue();
  desc.commit(q);
  ASSERT_TRUE(md2d_test::held_by(qd::descriptor_access::record(desc), md2d_test::main_table(true)));

  const std::vector<cld> x = qez_test::random_complex(n * batch, 91);
  const std::vector<std::complex<double>> host = narrow<double>(x);
  auto* in = sycl::malloc_device<std::complex<double>>(host.size(), q);
  auto* out = sycl::malloc_device<std::complex<double>>(host.size(), q);
  q.memcpy(in, host.data(), host.size() * sizeof(host[0])).wait();
  qd::compute_forward(desc, in, out).wait();
  std::vector<std::complex<double>> spectrum(host.size());
  q.memcpy(spectrum.data(), out, spectrum.size() * sizeof(spectrum[0])).wait();
  expect_within(spectrum, qez_test::reference_c2c(x, lengths, batch, qez_test::dft_sign::forward), n, "forward");
  qd::compute_backward(desc, out, in).wait();
  std::vector<std::complex<double>> back(host.size());
  q.memcpy(back.data(), in, back.size() * sizeof(back[0])).wait();
  expect_within(back, x, n, "round trip");
  sycl::free(in, q);
  sycl::free(out, q);
}

TEST(PublicApi, SingleInPlaceOnBuffers) {
  const std::vector<std::int64_t> lengths{36, 10};
  const std::int64_t n = 360;
  qd::descriptor<qd::precision::SINGLE, qd::domain::COMPLEX> desc(lengths);
  desc.set_value(qd::config_param::FORWARD_SCALE, 0.5f);
  desc.commit(backend_test::gpu_test_queue());
  ASSERT_TRUE(md2d_test::held_by(qd::descriptor_access::record(desc), md2d_test::main_table(false)));
  const std::vector<cld> x = qez_test::random_complex(n, 93);
  std::vector<std::complex<float>> host = narrow<float>(x);
  {
    sycl::buffer<std::complex<float>, 1> data(host.data(), sycl::range<1>(host.size()));
    qd::compute_forward(desc, data);
  }
  std::vector<cld> reference = qez_test::reference_c2c(x, lengths, 1, qez_test::dft_sign::forward);
  for (cld& v : reference) v *= 0.5L;
  expect_within(host, reference, n, "forward in place");
}

}  // namespace
