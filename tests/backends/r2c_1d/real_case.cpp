#include "tests/backends/r2c_1d/real_case.hpp"

#include <cstdio>
#include <cstring>

#include "dft/api/descriptor_access.hpp"
#include "dft/gpu/core/backend_catalogue.hpp"
#include "dft/gpu/core/workspace/estimate_config.hpp"
#include "tests/support/reference_dft.hpp"

namespace r2c_1d_test {

namespace {

using qez_test::cld;

using backend_test::as_complex;
using backend_test::as_real;
using backend_test::real_descriptor;
template <class V>
using device_data = backend_test::device_array<V>;

std::int64_t half_plus_one(std::int64_t n) { return n / 2 + 1; }


template <class T>
class typed_plan : public backend_test::typed_public_plan {
 public:
  typed_plan(const real_config& c, std::int64_t dr, std::int64_t dc)
      : c_(c), dr_(dr), dc_(dc), desc_(c.n) {
    backend_test::apply_settings<T>(desc_, {c.in_place, c.batch, {}, {}, dr, dc, c.fwd_scale, c.bwd_scale, c.ws});
    desc_.commit(test_queue());
    workspace_.attach(desc_, record(), c.ws);
  }

  DFTI_DESCRIPTOR* record() const override { return qd::descriptor_access::record(desc_); }

  run_result forward(container kind) const override {
    const std::int64_t h = half_plus_one(c_.n);
    std::vector<long double> x = qez_test::random_real(c_.n * c_.batch, 17 + c_.n);
    std::vector<T> input(static_cast<size_t>(input_values(true)), T(0));
    scatter_real(x, input);
    std::vector<cld> reference = qez_test::reference_r2c(x, {c_.n}, c_.batch);
    for (cld& v : reference) v *= static_cast<long double>(c_.fwd_scale);

    device_data<T> in(input, kind);
    std::vector<cld> got;
    if (c_.in_place) {
      run<true>(in, in, kind);
      got = gather_complex(as_complex(in.read()), h);
    } else {
      device_data<std::complex<T>> out(std::vector<std::complex<T>>(size_t(dc_ * (c_.batch - 1) + h)), kind);
      run<true>(in, out, kind);
      got = gather_complex(out.read(), h);
    }
    return {qez_test::measure(got, reference), qez_test::bounds_for<T>(c_.n)};
  }

  run_result backward(container kind) const override {
    const std::int64_t h = half_plus_one(c_.n);
    const std::vector<long double> z = qez_test::random_real(c_.n * c_.batch, 29 + c_.n);
    const std::vector<cld> spectrum = qez_test::reference_r2c(z, {c_.n}, c_.batch);
    std::vector<long double> reference = qez_test::reference_c2r(spectrum, {c_.n}, c_.batch);
    for (long double& v : reference) v *= static_cast<long double>(c_.bwd_scale);

    std::vector<std::complex<T>> input(size_t(dc_ * (c_.batch - 1) + h));
    if (c_.in_place) input.resize(size_t(input_values(true) / 2));
    scatter_complex(spectrum, h, input);
    std::vector<long double> got;
    if (c_.in_place) {
      device_data<std::complex<T>> in(input, kind);
      run<false>(in, in, kind);
      got = gather_real(as_real(in.read()));
    } else {
      device_data<std::complex<T>> in(input, kind);
      device_data<T> out(std::vector<T>(size_t(input_values(true))), kind);
      run<false>(in, out, kind);
      got = gather_real(out.read());
    }
    return {qez_test::measure(got, reference), qez_test::bounds_for<T>(c_.n)};
  }

 private:
  // Reals of the real side of the whole batch.
  std::int64_t input_values(bool) const {
    const std::int64_t last = c_.in_place ? 2 * half_plus_one(c_.n) : c_.n;
    return dr_ * (c_.batch - 1) + last;
  }
  void scatter_real(const std::vector<long double>& x, std::vector<T>& data) const {
    for (std::int64_t t = 0; t < c_.batch; ++t)
      for (std::int64_t k = 0; k < c_.n; ++k) data[size_t(t * dr_ + k)] = static_cast<T>(x[size_t(t * c_.n + k)]);
  }
  void scatter_complex(const std::vector<cld>& y, std::int64_t h, std::vector<std::complex<T>>& data) const {
    for (std::int64_t t = 0; t < c_.batch; ++t)
      for (std::int64_t k = 0; k < h; ++k) {
        const cld v = y[size_t(t * h + k)];
        data[size_t(t * dc_ + k)] = {static_cast<T>(v.real()), static_cast<T>(v.imag())};
      }
  }
  std::vector<cld> gather_complex(const std::vector<std::complex<T>>& data, std::int64_t h) const {
    std::vector<cld> out;
    for (std::int64_t t = 0; t < c_.batch; ++t)
      for (std::int64_t k = 0; k < h; ++k) {
        const std::complex<T> v = data[size_t(t * dc_ + k)];
        out.emplace_back(v.real(), v.imag());
      }
    return out;
  }
  std::vector<long double> gather_real(const std::vector<T>& data) const {
    std::vector<long double> out;
    for (std::int64_t t = 0; t < c_.batch; ++t)
      for (std::int64_t k = 0; k < c_.n; ++k) out.push_back(data[size_t(t * dr_ + k)]);
    return out;
  }
  template <bool forward, class I, class O>
  void run(const device_data<I>& in, const device_data<O>& out, container kind) const {
    backend_test::run_public_compute<forward>(const_cast<real_descriptor<T>&>(desc_), in, out, kind, c_.in_place);
  }

  real_config c_;
  std::int64_t dr_, dc_;
  // Before the descriptor: freed after it.
  backend_test::public_workspace<T> workspace_;
  real_descriptor<T> desc_;
};

}  // namespace

std::string name_of(const real_config& c) {
  char text[160];
  std::snprintf(text, sizeof text, "%s_N%lld_x%lld_%s_%s", c.p == precision::double_precision ? "double" : "single",
                static_cast<long long>(c.n), static_cast<long long>(c.batch), c.in_place ? "inplace" : "outofplace",
                c.ws == workspace::internal       ? "internal"
                : c.ws == workspace::external_usm ? "usmws"
                                                  : "bufws");
  return text;
}

sycl::queue& test_queue() { return backend_test::gpu_test_queue(); }

bool accepted_by_real_1d(const DFTI_DESCRIPTOR* record, precision p) {
  const qd::backend_table* mine = p == precision::double_precision ? &qd::dft_r2c_1d_main_gpu_bkd_table_double
                                                                   : &qd::dft_r2c_1d_main_gpu_bkd_table_float;
  return record != nullptr && record->backend == mine && record->commit_status == qd::dfti_committed;
}

std::int64_t real_distance_of(const real_config& c) {
  if (c.real_distance != 0) return c.real_distance;
  return c.in_place ? 2 * half_plus_one(c.n) : c.n;
}
std::int64_t complex_distance_of(const real_config& c) {
  return c.complex_distance != 0 ? c.complex_distance : half_plus_one(c.n);
}

real_plan::real_plan(const real_config& c)
    : committed_public_plan(of<typed_plan>(c.p == precision::double_precision, c, real_distance_of(c),
                                           complex_distance_of(c))),
      config_(c) {}

std::int64_t estimator_bytes(const real_config& c) {
  qd::dft_estimate_config e;
  e.rank = 1;
  e.lengths[0] = c.n;
  e.fwd_strides[0] = 1;
  e.bwd_strides[0] = 1;
  e.number_of_transforms = c.batch;
  e.fwd_distance = real_distance_of(c);
  e.bwd_distance = complex_distance_of(c);
  e.direction_count = 2;
  e.in_place = c.in_place ? 1 : 0;
  e.real_domain = 1;
  return backend_test::estimate_of<qd::dft_r2c_1d_main_gpu_bkd>(c.p == precision::double_precision, e);
}

}  // namespace r2c_1d_test
