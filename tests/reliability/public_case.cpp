#include "tests/reliability/public_case.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <complex>
#include <functional>
#include <numeric>
#include <type_traits>

#include "dft/api/descriptor_access.hpp"
#include "tests/support/accuracy.hpp"
#include "tests/support/reference_dft.hpp"

namespace reliability_test {
namespace {

using qez_test::cld;

template <qd::precision p>
using real_t = std::conditional_t<p == qd::precision::SINGLE, float, double>;

std::int64_t product(const std::vector<std::int64_t>& v) {
  return std::accumulate(v.begin(), v.end(), std::int64_t{1}, std::multiplies<>());
}

// Rows of the default layouts: the last (fastest) length, padded to
// 2*(n/2+1) reals on the forward side of a real transform, n/2+1 complex
// values on its backward side.
struct layout {
  std::int64_t rows;
  std::int64_t last;
  std::int64_t forward_pitch;
  std::int64_t backward_pitch;
};
layout layout_of(const case_shape& s) {
  const std::int64_t last = s.lengths.back();
  return {s.count * product(s.lengths) / last, last, s.real ? 2 * (last / 2 + 1) : last,
          s.real ? last / 2 + 1 : last};
}

template <class T>
std::vector<std::complex<T>> narrow(const std::vector<cld>& v) {
  std::vector<std::complex<T>> out(v.size());
  std::transform(v.begin(), v.end(), out.begin(), [](const cld& c) { return std::complex<T>(T(c.real()), T(c.imag())); });
  return out;
}
template <class T>
std::vector<cld> widen(const std::vector<std::complex<T>>& v) {
  return std::vector<cld>(v.begin(), v.end());
}

template <class T>
void expect_within_bounds(const qez_test::accuracy& a, std::int64_t n, const std::string& what) {
  const qez_test::accuracy_bounds b = qez_test::bounds_for<T>(n);
  EXPECT_TRUE(qez_test::within(a, b)) << what << ": " << qez_test::describe(a, b);
}

// Out-of-place compute of one direction on USM or buffers; `out` receives
// the result.
template <bool forward, class Descriptor, class I, class O>
void compute(Descriptor& d, sycl::queue& q, data_kind kind, const std::vector<I>& in, std::vector<O>& out) {
  if (kind == data_kind::usm) {
    I* din = sycl::malloc_shared<I>(in.size(), q);
    O* dout = sycl::malloc_shared<O>(out.size(), q);
    std::copy(in.begin(), in.end(), din);
    std::fill(dout, dout + out.size(), O{});
    sycl::event done;
    if constexpr (forward) done = qd::compute_forward(d, din, dout);
    else done = qd::compute_backward(d, din, dout);
    done.wait();
    std::copy(dout, dout + out.size(), out.begin());
    sycl::free(din, q);
    sycl::free(dout, q);
    return;
  }
  std::vector<I> staged(in);
  sycl::buffer<I, 1> bin(staged.data(), sycl::range<1>(staged.size()));
  sycl::buffer<O, 1> bout(out.data(), sycl::range<1>(out.size()));
  if constexpr (forward) qd::compute_forward(d, bin, bout);
  else qd::compute_backward(d, bin, bout);
}

template <qd::precision p>
void run_complex(const case_shape& s, sycl::queue& q, data_kind kind, qd::descriptor<p, qd::domain::COMPLEX>& d) {
  using T = real_t<p>;
  const std::int64_t n = product(s.lengths);
  const std::vector<cld> x = qez_test::random_complex(n * s.count, 29);
  const std::vector<std::complex<T>> xs = narrow<T>(x);
  std::vector<std::complex<T>> y(n * s.count);
  compute<true>(d, q, kind, xs, y);
  expect_within_bounds<T>(
      qez_test::measure(widen(y), qez_test::reference_c2c(x, s.lengths, s.count, qez_test::dft_sign::forward)), n,
      "forward");
  compute<false>(d, q, kind, xs, y);
  std::vector<cld> expected = qez_test::reference_c2c(x, s.lengths, s.count, qez_test::dft_sign::backward);
  for (cld& e : expected) e *= s.backward_scale;
  expect_within_bounds<T>(qez_test::measure(widen(y), expected), n, "backward");
}

template <qd::precision p>
void run_real(const case_shape& s, sycl::queue& q, data_kind kind, qd::descriptor<p, qd::domain::REAL>& d) {
  using T = real_t<p>;
  const layout l = layout_of(s);
  const std::int64_t n = product(s.lengths);
  const std::vector<long double> x = qez_test::random_real(n * s.count, 31);
  // Forward: packed reference input spread over the padded rows.
  std::vector<T> xs(l.rows * l.forward_pitch, T(0));
  for (std::int64_t r = 0; r < l.rows; ++r)
    for (std::int64_t i = 0; i < l.last; ++i) xs[r * l.forward_pitch + i] = T(x[r * l.last + i]);
  std::vector<std::complex<T>> spectrum(l.rows * l.backward_pitch);
  compute<true>(d, q, kind, xs, spectrum);
  const std::vector<cld> reference = qez_test::reference_r2c(x, s.lengths, s.count);
  expect_within_bounds<T>(qez_test::measure(widen(spectrum), reference), n, "forward");
  // Backward from the reference spectrum (Hermitian by construction).
  std::vector<T> back(l.rows * l.forward_pitch, T(0));
  compute<false>(d, q, kind, narrow<T>(reference), back);
  std::vector<long double> expected = qez_test::reference_c2r(reference, s.lengths, s.count);
  for (long double& e : expected) e *= s.backward_scale;
  std::vector<long double> got(n * s.count);
  for (std::int64_t r = 0; r < l.rows; ++r)
    for (std::int64_t i = 0; i < l.last; ++i) got[r * l.last + i] = back[r * l.forward_pitch + i];
  expect_within_bounds<T>(qez_test::measure(got, expected), n, "backward");
}

template <qd::precision p, qd::domain dom>
qd::descriptor<p, dom> make_descriptor(const case_shape& s) {
  qd::descriptor<p, dom> d = s.lengths.size() == 1 ? qd::descriptor<p, dom>(s.lengths[0])
                                                   : qd::descriptor<p, dom>(s.lengths);
  d.set_value(qd::config_param::PLACEMENT, qd::config_value::OUT_OF_PLACE);
  if (s.backward_scale != 1.0L) d.set_value(qd::config_param::BACKWARD_SCALE, static_cast<real_t<p>>(s.backward_scale));
  if (s.thread_limit != 0) d.set_value(qd::config_param::THREAD_LIMIT, s.thread_limit);
  if (s.count != 1) {
    const layout l = layout_of(s);
    const std::int64_t rows = l.rows / s.count;
    d.set_value(qd::config_param::NUMBER_OF_TRANSFORMS, s.count);
    d.set_value(qd::config_param::FWD_DISTANCE, rows * l.forward_pitch);
    d.set_value(qd::config_param::BWD_DISTANCE, rows * l.backward_pitch);
  }
  return d;
}

}  // namespace

template <qd::precision p>
const qd::backend_table* run_public_case(const case_shape& shape, sycl::queue& queue, data_kind kind) {
  if (shape.real) {
    auto d = make_descriptor<p, qd::domain::REAL>(shape);
    d.commit(queue);
    run_real<p>(shape, queue, kind, d);
    return qd::descriptor_access::record(d)->backend;
  }
  auto d = make_descriptor<p, qd::domain::COMPLEX>(shape);
  d.commit(queue);
  run_complex<p>(shape, queue, kind, d);
  return qd::descriptor_access::record(d)->backend;
}

template const qd::backend_table* run_public_case<qd::precision::SINGLE>(const case_shape&, sycl::queue&, data_kind);
template const qd::backend_table* run_public_case<qd::precision::DOUBLE>(const case_shape&, sycl::queue&, data_kind);

}  // namespace reliability_test
