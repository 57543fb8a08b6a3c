// Transforms through the public interface on PoCL under the default GPU
// profile (a case that needs more local memory under Harix): 1D and 2D,
// complex and real, forward and backward, USM and buffers, each against the
// long-double reference, on descriptors that the small multi-dimensional
// backend accepted; and the committed workspace against the backend's
// workspace estimator.
#include <gtest/gtest.h>

#include <complex>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <sycl/sycl.hpp>

#include "dft/api/descriptor_access.hpp"
#include "dft/gpu/core/backend_catalogue.hpp"
#include "dft/gpu/core/workspace/estimate_config.hpp"
#include "tests/backends/support/record_harness.hpp"
#include "tests/support/accuracy.hpp"
#include "tests/support/reference_dft.hpp"
#include "ulmara/qez/dft.hpp"

namespace {

namespace qd = ulmara::qez::dft;
using qez_test::cld;

struct md_case {
  bool dbl;
  bool real;
  std::vector<std::int64_t> lengths;  // slowest first
  std::int64_t batch;
  bool in_place;
  double fwd_scale;
  // Complex 1D out of place: unused elements after each transform on the
  // forward-domain side (the input of the forward transform).
  std::int64_t forward_pad = 0;
};

std::string name_of(const md_case& c) {
  std::string s = std::string(c.dbl ? "double" : "single") + (c.real ? "_real_" : "_complex_");
  for (std::size_t i = 0; i < c.lengths.size(); ++i) s += (i ? "x" : "") + std::to_string(c.lengths[i]);
  s += "_b" + std::to_string(c.batch) + (c.in_place ? "_inplace" : "_outofplace");
  if (c.fwd_scale != 1.0) s += "_scaled";
  if (c.forward_pad != 0) s += "_padded";
  return s;
}

using backend_test::container;
using backend_test::device_array;
using backend_test::gpu_test_queue;

std::int64_t product(const std::vector<std::int64_t>& v) {
  std::int64_t p = 1;
  for (std::int64_t x : v) p *= x;
  return p;
}

struct errors {
  qez_test::accuracy fwd, bwd;
  qez_test::accuracy_bounds bounds;
};

template <class T, qd::domain D>
class md_plan {
 public:
  using desc_t = qd::descriptor<sizeof(T) == 8 ? qd::precision::DOUBLE : qd::precision::SINGLE, D>;
  explicit md_plan(const md_case& c) : c_(c), desc_(c.lengths) {
    const std::int64_t n0 = c.lengths.back();
    const std::int64_t outer = product(c.lengths) / n0;
    if (c.real) {
      real_row_ = c.in_place ? 2 * (n0 / 2 + 1) : n0;
      complex_row_ = n0 / 2 + 1;
    } else {
      real_row_ = complex_row_ = n0;
    }
    real_dist_ = real_row_ * outer + c.forward_pad;
    complex_dist_ = complex_row_ * outer;
    desc_.set_value(qd::config_param::PLACEMENT, c.in_place ? qd::config_value::IN_PLACE : qd::config_value::OUT_OF_PLACE);
    desc_.set_value(qd::config_param::NUMBER_OF_TRANSFORMS, c.batch);
    desc_.set_value(qd::config_param::FWD_DISTANCE, real_dist_);
    desc_.set_value(qd::config_param::BWD_DISTANCE, complex_dist_);
    if (c.lengths.size() == 2) {
      desc_.set_value(qd::config_param::FWD_STRIDES, std::vector<std::int64_t>{0, real_row_, 1});
      desc_.set_value(qd::config_param::BWD_STRIDES, std::vector<std::int64_t>{0, complex_row_, 1});
    }
    desc_.set_value(qd::config_param::FORWARD_SCALE, static_cast<T>(c.fwd_scale));
    desc_.set_value(qd::config_param::BACKWARD_SCALE, static_cast<T>(1.0 / product(c.lengths)));
    desc_.commit(gpu_test_queue());
    // Complex 1D: three 1D backends stand before this one in the list and
    // take many of these lengths; the record is committed to this backend
    // directly (its commit releases the earlier backend) and computed
    // through the public functions as before.
    if (!c.real && c.lengths.size() == 1) {
      const qd::backend_table& mine =
          sizeof(T) == 8 ? qd::dft_small_md_gpu_bkd_table_double : qd::dft_small_md_gpu_bkd_table_float;
      direct_status_ = mine.bkd_commit(&mine, record());
    }
  }
  int direct_status() const { return direct_status_; }
  DFTI_DESCRIPTOR* record() const { return qd::descriptor_access::record(desc_); }

  errors run(container k) {
    errors e{};
    e.bounds = qez_test::bounds_for<T>(product(c_.lengths));
    if constexpr (D == qd::domain::REAL)
      run_real(k, e);
    else
      run_complex(k, e);
    return e;
  }

 private:
  // Logical index of element (t, row r, column j) in a packed side.
  std::size_t at(std::int64_t t, std::int64_t r, std::int64_t j, std::int64_t row, std::int64_t dist) const {
    return static_cast<std::size_t>(t * dist + r * row + j);
  }
  std::int64_t rows() const { return product(c_.lengths) / c_.lengths.back(); }

  void run_complex(container k, errors& e) {
    const std::int64_t n = product(c_.lengths);
    const std::vector<cld> x = qez_test::random_complex(n * c_.batch, 5 + n);
    // The forward-domain side holds transform t at t * real_dist_.
    std::vector<std::complex<T>> in(static_cast<std::size_t>(real_dist_ * c_.batch));
    for (std::int64_t t = 0; t < c_.batch; ++t)
      for (std::int64_t j = 0; j < n; ++j) {
        const cld& v = x[static_cast<std::size_t>(t * n + j)];
        in[static_cast<std::size_t>(t * real_dist_ + j)] = {static_cast<T>(v.real()), static_cast<T>(v.imag())};
      }
    std::vector<cld> ref = qez_test::reference_c2c(x, c_.lengths, c_.batch, qez_test::dft_sign::forward);
    for (cld& v : ref) v *= static_cast<long double>(c_.fwd_scale);
    // The call form follows the descriptor's placement.
    const auto spectrum_values = static_cast<std::size_t>(complex_dist_ * c_.batch);
    std::vector<std::complex<T>> got =
        c_.in_place ? call<true>(in, in.size(), k) : call_to<true, std::complex<T>>(in, spectrum_values, k);
    e.fwd = qez_test::measure(widen(got), ref);
    // Backward with scale 1/N on the computed spectrum comes back to x times the forward scale.
    std::vector<cld> back_ref(x);
    for (cld& v : back_ref) v *= static_cast<long double>(c_.fwd_scale);
    std::vector<std::complex<T>> back =
        c_.in_place ? call<false>(got, got.size(), k) : call_to<false, std::complex<T>>(got, in.size(), k);
    std::vector<std::complex<T>> back_packed;
    for (std::int64_t t = 0; t < c_.batch; ++t)
      for (std::int64_t j = 0; j < n; ++j) back_packed.push_back(back[static_cast<std::size_t>(t * real_dist_ + j)]);
    e.bwd = qez_test::measure(widen(back_packed), back_ref);
  }

  void run_real(container k, errors& e) {
    const std::int64_t n0 = c_.lengths.back(), h = n0 / 2 + 1, r = rows();
    const std::int64_t n = product(c_.lengths);
    const std::vector<long double> x = qez_test::random_real(n * c_.batch, 11 + n);
    std::vector<T> in(static_cast<std::size_t>(real_dist_ * c_.batch), T(0));
    for (std::int64_t t = 0; t < c_.batch; ++t)
      for (std::int64_t i = 0; i < r; ++i)
        for (std::int64_t j = 0; j < n0; ++j)
          in[at(t, i, j, real_row_, real_dist_)] = static_cast<T>(x[static_cast<std::size_t>((t * r + i) * n0 + j)]);
    std::vector<cld> ref = qez_test::reference_r2c(x, c_.lengths, c_.batch);
    for (cld& v : ref) v *= static_cast<long double>(c_.fwd_scale);
    std::vector<std::complex<T>> spectrum;
    if (c_.in_place) {
      std::vector<T> out = call<true>(in, in.size(), k);
      spectrum.resize(out.size() / 2);
      std::memcpy(static_cast<void*>(spectrum.data()), out.data(), spectrum.size() * sizeof(spectrum[0]));
    } else {
      spectrum = call_to<true, std::complex<T>>(in, static_cast<std::size_t>(complex_dist_ * c_.batch), k);
    }
    std::vector<cld> got;
    for (std::int64_t t = 0; t < c_.batch; ++t)
      for (std::int64_t i = 0; i < r; ++i)
        for (std::int64_t j = 0; j < h; ++j) {
          const std::complex<T> v = spectrum[at(t, i, j, complex_row_, complex_dist_)];
          got.emplace_back(v.real(), v.imag());
        }
    e.fwd = qez_test::measure(got, ref);

    // Backward from the reference spectrum, scale 1/N: back to x.
    std::vector<std::complex<T>> spec_in(static_cast<std::size_t>(complex_dist_ * c_.batch));
    std::size_t q = 0;
    for (std::int64_t t = 0; t < c_.batch; ++t)
      for (std::int64_t i = 0; i < r; ++i)
        for (std::int64_t j = 0; j < h; ++j, ++q) {
          const cld v = ref[q] / static_cast<long double>(c_.fwd_scale);
          spec_in[at(t, i, j, complex_row_, complex_dist_)] = {static_cast<T>(v.real()), static_cast<T>(v.imag())};
        }
    std::vector<T> real_out;
    if (c_.in_place) {
      std::vector<std::complex<T>> o = call<false>(spec_in, spec_in.size(), k);
      real_out.resize(o.size() * 2);
      std::memcpy(real_out.data(), static_cast<const void*>(o.data()), real_out.size() * sizeof(T));
    } else {
      real_out = call_to<false, T>(spec_in, static_cast<std::size_t>(real_dist_ * c_.batch), k);
    }
    std::vector<long double> back, back_ref;
    for (std::int64_t t = 0; t < c_.batch; ++t)
      for (std::int64_t i = 0; i < r; ++i)
        for (std::int64_t j = 0; j < n0; ++j) {
          back.push_back(real_out[at(t, i, j, real_row_, real_dist_)]);
          back_ref.push_back(x[static_cast<std::size_t>((t * r + i) * n0 + j)]);
        }
    e.bwd = qez_test::measure(back, back_ref);
  }

  static std::vector<cld> widen(const std::vector<std::complex<T>>& v) {
    std::vector<cld> out;
    for (const auto& z : v) out.emplace_back(z.real(), z.imag());
    return out;
  }

  template <bool forward, class... A>
  static sycl::event compute(A&&... a) {
    if constexpr (forward)
      return qd::compute_forward(std::forward<A>(a)...);
    else
      return qd::compute_backward(std::forward<A>(a)...);
  }
  template <bool forward, class... A>
  static void compute_buffers(A&&... a) {
    if constexpr (forward)
      qd::compute_forward(std::forward<A>(a)...);
    else
      qd::compute_backward(std::forward<A>(a)...);
  }

  // In place: the result in the same array.
  template <bool forward, class V>
  std::vector<V> call(const std::vector<V>& host, std::size_t, container k) {
    device_array<V> d(host, k);
    if (k == container::usm)
      compute<forward>(desc_, d.usm()).wait();
    else if constexpr (std::is_same<V, std::complex<T>>::value || std::is_same<V, T>::value)
      compute_buffers<forward>(desc_, d.buffer());
    return d.read();
  }
  template <bool forward, class O, class I>
  std::vector<O> call_to(const std::vector<I>& host, std::size_t out_count, container k) {
    device_array<I> in(host, k);
    device_array<O> out(std::vector<O>(out_count), k);
    if (k == container::usm)
      compute<forward>(desc_, in.usm(), out.usm()).wait();
    else
      compute_buffers<forward>(desc_, in.buffer(), out.buffer());
    return out.read();
  }
  template <bool forward, class V>
  std::vector<V> call_out(const std::vector<V>& host, container k) {
    return call_to<forward, V>(host, host.size(), k);
  }

  md_case c_;
  desc_t desc_;
  std::int64_t real_row_ = 0, complex_row_ = 0, real_dist_ = 0, complex_dist_ = 0;
  int direct_status_ = 0;
};

void report(const char* what, const qez_test::accuracy& a, const qez_test::accuracy_bounds& b) {
  std::printf("[ bounds   ] %s: L2 %.3Lf, max %.3Lf of the bound\n", what, a.relative_l2 / b.relative_l2,
              a.relative_max / b.relative_max);
}

template <class T>
std::int64_t estimator_bytes(const md_case& c) {
  qd::dft_estimate_config e;
  e.rank = static_cast<std::int32_t>(c.lengths.size());
  for (std::size_t i = 0; i < c.lengths.size(); ++i) e.lengths[i] = c.lengths[c.lengths.size() - 1 - i];
  const std::int64_t n0 = c.lengths.back();
  const std::int64_t rr = c.real ? (c.in_place ? 2 * (n0 / 2 + 1) : n0) : n0;
  const std::int64_t cr = c.real ? n0 / 2 + 1 : n0;
  e.fwd_strides[0] = e.bwd_strides[0] = 1;
  if (e.rank == 2) {
    e.fwd_strides[1] = rr;
    e.bwd_strides[1] = cr;
  }
  const std::int64_t outer = product(c.lengths) / n0;
  e.fwd_distance = rr * outer + c.forward_pad;
  e.bwd_distance = cr * outer;
  e.number_of_transforms = c.batch;
  e.direction_count = 2;
  e.in_place = c.in_place;
  e.real_domain = c.real;
  return qd::dft_small_md_gpu_bkd<T>().workspace_estimate(e);
}

class SmallMdTransform : public ::testing::TestWithParam<md_case> {};

template <class T, qd::domain D>
void check_case(const md_case& c) {
  md_plan<T, D> plan(c);
  ASSERT_EQ(plan.direct_status(), 0);
  const qd::backend_table* mine =
      sizeof(T) == 8 ? &qd::dft_small_md_gpu_bkd_table_double : &qd::dft_small_md_gpu_bkd_table_float;
  ASSERT_EQ(plan.record()->backend, mine);
  const std::uint64_t ws = plan.record()->workspace_bytes[0] + plan.record()->workspace_bytes[1];
  const std::int64_t estimate = estimator_bytes<T>(c);
  if (estimate >= 0) {
    EXPECT_LE(ws, static_cast<std::uint64_t>(estimate));
  }
  std::printf("[ workspace] committed %llu, estimator %lld\n", static_cast<unsigned long long>(ws),
              static_cast<long long>(estimate));
  for (container k : {container::usm, container::buffer}) {
    const errors e = plan.run(k);
    const char* kn = k == container::usm ? "usm" : "buffer";
    report((std::string("forward ") + kn).c_str(), e.fwd, e.bounds);
    report((std::string("backward ") + kn).c_str(), e.bwd, e.bounds);
    EXPECT_TRUE(qez_test::within(e.fwd, e.bounds)) << kn << " forward " << qez_test::describe(e.fwd, e.bounds);
    EXPECT_TRUE(qez_test::within(e.bwd, e.bounds)) << kn << " backward " << qez_test::describe(e.bwd, e.bounds);
  }
}

TEST_P(SmallMdTransform, MatchesReference) {
  const md_case& c = GetParam();
  if (c.dbl) {
    if (c.real)
      check_case<double, qd::domain::REAL>(c);
    else
      check_case<double, qd::domain::COMPLEX>(c);
  } else {
    if (c.real)
      check_case<float, qd::domain::REAL>(c);
    else
      check_case<float, qd::domain::COMPLEX>(c);
  }
}

const md_case cases[] = {
    // 1D complex: one factor (batch per group > 1, last group short), two, three and four factors.
    {true, false, {32}, 37, false, 1.0},
    {false, false, {48}, 5, true, 0.5},
    {true, false, {256}, 3, false, 1.0},
    {false, false, {1024}, 2, true, 1.0},
    // Double, above the lengths copied into local memory first: an odd
    // number of first-stage units, in place.
    {true, false, {375}, 1, true, 1.0},
    // 1D complex, input transforms further apart than the output ones: rows
    // loaded one by one (one factor, then two).
    {true, false, {32}, 5, false, 1.0, 40},
    {false, false, {128}, 3, false, 1.0, 8},
    {true, false, {2048}, 1, false, 0.25},
    // Double, 105 KiB of local memory: Harix's 128 KiB only (its work-group
    // of 768 work-items is the largest these cases reach).
    {true, false, {6561}, 2, true, 1.0},
    // 1D real.
    {true, true, {64}, 3, false, 1.0},
    {false, true, {128}, 2, true, 1.0},
    {true, true, {1000}, 2, false, 0.5},
    // 2D complex and real.
    {true, false, {12, 16}, 2, false, 1.0},
    {false, false, {64, 32}, 1, true, 1.0},
    {true, true, {10, 32}, 2, false, 1.0},
    {false, true, {48, 24}, 1, false, 2.0},
};

INSTANTIATE_TEST_SUITE_P(Cases, SmallMdTransform, ::testing::ValuesIn(cases),
                         [](const ::testing::TestParamInfo<md_case>& i) { return name_of(i.param); });

}  // namespace
