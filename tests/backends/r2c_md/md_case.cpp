#include "tests/backends/r2c_md/md_case.hpp"

#include <complex>
#include <cstdio>
#include <cstring>

#include "dft/api/descriptor_access.hpp"
#include "dft/gpu/core/backend_catalogue.hpp"
#include "dft/gpu/core/workspace/estimate_config.hpp"
#include "tests/support/reference_dft.hpp"
#include "ulmara/qez/dft.hpp"

namespace r2c_md_test {

namespace qd = ulmara::qez::dft;
using qez_test::cld;

namespace {

using backend_test::as_complex;
using backend_test::as_real;
using backend_test::real_descriptor;
template <class V>
using device_data = backend_test::device_array<V>;

// The layout of one configuration, row-major.
struct layout {
  std::vector<std::int64_t> lengths;  // row-major
  std::vector<std::int64_t> real, complex;
  std::int64_t real_distance = 0, complex_distance = 0, batch = 1;
  std::int64_t half() const { return lengths.back() / 2 + 1; }
  std::int64_t rank() const { return static_cast<std::int64_t>(lengths.size()); }
  // Elements of one side that the whole batch spans.
  std::int64_t span(const std::vector<std::int64_t>& s, std::int64_t distance, bool complex_side) const {
    std::int64_t top = 0;
    for (std::int64_t d = 0; d < rank(); ++d) {
      const std::int64_t extent = d == rank() - 1 && complex_side ? half() : lengths[size_t(d)];
      top += (extent - 1) * s[size_t(d)];
    }
    return top + (batch - 1) * distance + 1;
  }
  // Offset of the packed index `k` (row-major over the side's extents).
  std::int64_t offset(std::int64_t k, const std::vector<std::int64_t>& s, std::int64_t distance,
                      bool complex_side) const {
    std::int64_t out = 0;
    for (std::int64_t d = rank() - 1; d >= 0; --d) {
      const std::int64_t extent = d == rank() - 1 && complex_side ? half() : lengths[size_t(d)];
      out += (k % extent) * s[size_t(d)];
      k /= extent;
    }
    return out + k * distance;
  }
  std::int64_t points(bool complex_side) const {
    std::int64_t n = batch;
    for (std::int64_t d = 0; d < rank(); ++d)
      n *= d == rank() - 1 && complex_side ? half() : lengths[size_t(d)];
    return n;
  }
};

layout layout_of(const md_config& c) {
  layout l;
  l.lengths = c.lengths;
  l.batch = c.batch;
  const std::int64_t h = c.lengths.back() / 2 + 1;
  const std::int64_t r = static_cast<std::int64_t>(c.lengths.size());
  l.real = c.real_strides;
  l.complex = c.complex_strides;
  if (l.real.empty()) {
    l.real.assign(size_t(r), 1);
    std::int64_t step = c.in_place ? 2 * h : c.lengths.back();
    for (std::int64_t d = r - 2; d >= 0; --d) {
      l.real[size_t(d)] = step;
      step *= c.lengths[size_t(d)];
    }
  }
  if (l.complex.empty()) {
    l.complex.assign(size_t(r), 1);
    std::int64_t step = h;
    for (std::int64_t d = r - 2; d >= 0; --d) {
      l.complex[size_t(d)] = step;
      step *= c.lengths[size_t(d)];
    }
  }
  l.real_distance = c.real_distance != 0 ? c.real_distance : l.real[0] * c.lengths[0];
  l.complex_distance = c.complex_distance != 0 ? c.complex_distance : l.complex[0] * c.lengths[0];
  return l;
}


std::vector<std::int64_t> with_offset(const std::vector<std::int64_t>& s) {
  std::vector<std::int64_t> out{0};
  out.insert(out.end(), s.begin(), s.end());
  return out;
}

template <class T>
class typed_plan : public backend_test::typed_public_plan {
 public:
  explicit typed_plan(const md_config& c) : c_(c), l_(layout_of(c)), desc_(c.lengths) {
    backend_test::apply_settings<T>(desc_, {c.in_place, c.batch, with_offset(l_.real), with_offset(l_.complex),
                                            l_.real_distance, l_.complex_distance, c.fwd_scale, c.bwd_scale, c.ws});
    desc_.commit(test_queue());
    workspace_.attach(desc_, record(), c.ws, 1);
  }

  DFTI_DESCRIPTOR* record() const override { return qd::descriptor_access::record(desc_); }

  // Reals the data array of the real side holds (in place: both views).
  size_t real_values() const {
    const std::int64_t reals = l_.span(l_.real, l_.real_distance, false);
    const std::int64_t complexes = l_.span(l_.complex, l_.complex_distance, true);
    return size_t(c_.in_place ? std::max(reals, 2 * complexes) : reals);
  }

  run_result forward(container kind) const override {
    const std::vector<long double> x = qez_test::random_real(l_.points(false), 17);
    std::vector<cld> reference = qez_test::reference_r2c(x, c_.lengths, c_.batch);
    for (cld& v : reference) v *= static_cast<long double>(c_.fwd_scale);
    std::vector<T> input(real_values(), T(0));
    for (std::int64_t k = 0; k < l_.points(false); ++k)
      input[size_t(l_.offset(k, l_.real, l_.real_distance, false))] = static_cast<T>(x[size_t(k)]);
    device_data<T> in(input, kind);
    std::vector<cld> got;
    if (c_.in_place) {
      run<true>(in, in, kind);
      got = gather_complex(as_complex(in.read()));
    } else {
      device_data<std::complex<T>> out(std::vector<std::complex<T>>(size_t(l_.span(l_.complex, l_.complex_distance, true))), kind);
      run<true>(in, out, kind);
      got = gather_complex(out.read());
    }
    return {qez_test::measure(got, reference), qez_test::bounds_for<T>(total_length())};
  }

  run_result backward(container kind) const override {
    const std::vector<long double> z = qez_test::random_real(l_.points(false), 29);
    const std::vector<cld> spectrum = qez_test::reference_r2c(z, c_.lengths, c_.batch);
    std::vector<long double> reference = qez_test::reference_c2r(spectrum, c_.lengths, c_.batch);
    for (long double& v : reference) v *= static_cast<long double>(c_.bwd_scale);
    const size_t complex_values =
        c_.in_place ? real_values() / 2 + 1 : size_t(l_.span(l_.complex, l_.complex_distance, true));
    std::vector<std::complex<T>> input(complex_values);
    for (std::int64_t k = 0; k < l_.points(true); ++k) {
      const cld v = spectrum[size_t(k)];
      input[size_t(l_.offset(k, l_.complex, l_.complex_distance, true))] = {static_cast<T>(v.real()), static_cast<T>(v.imag())};
    }
    device_data<std::complex<T>> in(input, kind);
    std::vector<long double> got;
    if (c_.in_place) {
      run<false>(in, in, kind);
      got = gather_real(as_real(in.read()));
    } else {
      device_data<T> out(std::vector<T>(real_values()), kind);
      run<false>(in, out, kind);
      got = gather_real(out.read());
    }
    return {qez_test::measure(got, reference), qez_test::bounds_for<T>(total_length())};
  }

 private:
  std::int64_t total_length() const {
    std::int64_t n = 1;
    for (std::int64_t v : c_.lengths) n *= v;
    return n;
  }
  std::vector<cld> gather_complex(const std::vector<std::complex<T>>& data) const {
    std::vector<cld> out;
    for (std::int64_t k = 0; k < l_.points(true); ++k) {
      const std::complex<T> v = data[size_t(l_.offset(k, l_.complex, l_.complex_distance, true))];
      out.emplace_back(v.real(), v.imag());
    }
    return out;
  }
  std::vector<long double> gather_real(const std::vector<T>& data) const {
    std::vector<long double> out;
    for (std::int64_t k = 0; k < l_.points(false); ++k)
      out.push_back(data[size_t(l_.offset(k, l_.real, l_.real_distance, false))]);
    return out;
  }
  template <bool forward, class I, class O>
  void run(const device_data<I>& in, const device_data<O>& out, container kind) const {
    backend_test::run_public_compute<forward>(const_cast<real_descriptor<T>&>(desc_), in, out, kind, c_.in_place);
  }

  md_config c_;
  layout l_;
  // Before the descriptor: freed after it.
  backend_test::public_workspace<T> workspace_;
  real_descriptor<T> desc_;
};

}  // namespace

md_plan::md_plan(const md_config& c)
    : committed_public_plan(of<typed_plan>(c.p == precision::double_precision, c)) {}

std::string name_of(const md_config& c) {
  std::string s = c.p == precision::double_precision ? "double" : "single";
  for (std::int64_t v : c.lengths) s += "_" + std::to_string(v);
  s += "_x" + std::to_string(c.batch) + (c.in_place ? "_inplace" : "_outofplace");
  s += c.ws == workspace::internal ? "_internal" : c.ws == workspace::external_usm ? "_usmws" : "_bufws";
  if (!c.real_strides.empty()) s += "_strided";
  return s;
}

sycl::queue& test_queue() { return backend_test::gpu_test_queue(); }

bool accepted_by_composite(const DFTI_DESCRIPTOR* record, const md_config& c) {
  const bool dbl = c.p == precision::double_precision;
  const qd::backend_table* mine =
      c.lengths.size() == 2 ? (dbl ? &qd::dft_r2c_2d_main_gpu_bkd_table_double : &qd::dft_r2c_2d_main_gpu_bkd_table_float)
                            : (dbl ? &qd::dft_r2c_3d_main_gpu_bkd_table_double : &qd::dft_r2c_3d_main_gpu_bkd_table_float);
  return record != nullptr && record->backend == mine && record->commit_status == qd::dfti_committed;
}

std::int64_t estimator_bytes(const md_config& c) {
  const layout l = layout_of(c);
  qd::dft_estimate_config e;
  e.rank = static_cast<std::int32_t>(c.lengths.size());
  for (std::int32_t k = 0; k < e.rank; ++k) {
    const size_t row_major = size_t(e.rank - 1 - k);
    e.lengths[k] = c.lengths[row_major];
    e.fwd_strides[k] = l.real[row_major];
    e.bwd_strides[k] = l.complex[row_major];
  }
  e.number_of_transforms = c.batch;
  e.fwd_distance = l.real_distance;
  e.bwd_distance = l.complex_distance;
  e.direction_count = 2;
  e.in_place = c.in_place ? 1 : 0;
  e.real_domain = 1;
  const bool dbl = c.p == precision::double_precision;
  if (e.rank == 2) return backend_test::estimate_of<qd::dft_r2c_2d_main_gpu_bkd>(dbl, e);
  return backend_test::estimate_of<qd::dft_r2c_3d_main_gpu_bkd>(dbl, e);
}

}  // namespace r2c_md_test
