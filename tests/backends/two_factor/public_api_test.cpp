// The two-factor backend through the public interface on a GPU queue of the
// default profile (sub-groups of 8): descriptors committed by the caller,
// computed on USM and on buffers, with this backend as the one that accepted.
#include <gtest/gtest.h>

#include <complex>
#include <vector>

#include "dft/api/descriptor_access.hpp"
#include "dft/gpu/core/backend_catalogue.hpp"
#include "tests/support/accuracy.hpp"
#include "tests/support/reference_dft.hpp"
#include "ulmara/qez/dft.hpp"

namespace {

namespace qd = ulmara::qez::dft;
using qez_test::cld;

template <class T>
constexpr qd::precision precision_of = sizeof(T) == sizeof(float) ? qd::precision::SINGLE
                                                                  : qd::precision::DOUBLE;

template <class T>
const qd::backend_table* two_factor_table() {
  return sizeof(T) == sizeof(float) ? &qd::dft_c2c_2_facts_gpu_bkd_table_float
                                    : &qd::dft_c2c_2_facts_gpu_bkd_table_double;
}

sycl::queue& queue() {
  static sycl::queue q{sycl::gpu_selector_v};
  return q;
}

template <class T>
void expect_matches(const std::complex<T>* got, std::vector<cld> reference, long double scale,
                    std::int64_t n, const char* what) {
  std::vector<cld> wide(reference.size());
  for (std::size_t i = 0; i < wide.size(); ++i) {
    wide[i] = {got[i].real(), got[i].imag()};
    reference[i] *= scale;
  }
  const qez_test::accuracy_bounds b = qez_test::bounds_for<T>(n);
  const qez_test::accuracy a = qez_test::measure(wide, reference);
  EXPECT_TRUE(qez_test::within(a, b)) << what << ": " << qez_test::describe(a, b);
}

template <class T>
qd::descriptor<precision_of<T>, qd::domain::COMPLEX> committed(std::int64_t n, std::int64_t batch,
                                                               bool in_place) {
  qd::descriptor<precision_of<T>, qd::domain::COMPLEX> d(n);
  d.set_value(qd::config_param::PLACEMENT,
              in_place ? qd::config_value::IN_PLACE : qd::config_value::OUT_OF_PLACE);
  d.set_value(qd::config_param::NUMBER_OF_TRANSFORMS, batch);
  d.set_value(qd::config_param::FWD_DISTANCE, n);
  d.set_value(qd::config_param::BWD_DISTANCE, n);
  d.set_value(qd::config_param::BACKWARD_SCALE, T(1) / T(n));
  d.commit(queue());
  return d;
}

template <class T>
void usm_out_of_place(std::int64_t n, std::int64_t batch) {
  auto d = committed<T>(n, batch, false);
  ASSERT_EQ(qd::descriptor_access::record(d)->backend, two_factor_table<T>());
  const std::vector<cld> x = qez_test::random_complex(n * batch, 11);
  auto* in = sycl::malloc_shared<std::complex<T>>(n * batch, queue());
  auto* out = sycl::malloc_shared<std::complex<T>>(n * batch, queue());
  for (std::int64_t i = 0; i < n * batch; ++i) in[i] = {T(x[i].real()), T(x[i].imag())};
  qd::compute_forward(d, in, out).wait();
  expect_matches(out, qez_test::reference_c2c(x, {n}, batch, qez_test::dft_sign::forward), 1, n,
                 "forward");
  qd::compute_backward(d, in, out).wait();
  expect_matches(out, qez_test::reference_c2c(x, {n}, batch, qez_test::dft_sign::backward),
                 1.0L / n, n, "backward");
  sycl::free(in, queue());
  sycl::free(out, queue());
}

template <class T>
void buffer_in_place(std::int64_t n, std::int64_t batch) {
  auto d = committed<T>(n, batch, true);
  ASSERT_EQ(qd::descriptor_access::record(d)->backend, two_factor_table<T>());
  const std::vector<cld> x = qez_test::random_complex(n * batch, 13);
  std::vector<std::complex<T>> data(x.size());
  for (std::size_t i = 0; i < x.size(); ++i) data[i] = {T(x[i].real()), T(x[i].imag())};
  {
    sycl::buffer<std::complex<T>, 1> buffer(data.data(), sycl::range<1>(data.size()));
    qd::compute_forward(d, buffer);
  }
  expect_matches(data.data(), qez_test::reference_c2c(x, {n}, batch, qez_test::dft_sign::forward),
                 1, n, "forward");
}

TEST(TwoFactorPublicApi, UsmOutOfPlaceSingle1024) { usm_out_of_place<float>(1024, 3); }
TEST(TwoFactorPublicApi, BufferInPlaceSingle4096) { buffer_in_place<float>(4096, 2); }
TEST(TwoFactorPublicApi, UsmOutOfPlaceDouble990) { usm_out_of_place<double>(990, 2); }
TEST(TwoFactorPublicApi, BufferInPlaceDouble64) { buffer_in_place<double>(64, 5); }

}  // namespace
