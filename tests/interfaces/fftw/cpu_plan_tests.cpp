// CPU plans of the FFTW3-style interface end to end: Fortran-callable
// planners of both integer models and both precisions make plans that the
// CPU executors run; every result is checked against FFTW's long-double
// reference (complex, real to complex and complex to real; one to three
// dimensions; batches with embeddings, strides and distances; in place and
// out of place), and verbose mode writes one line per execution.
#include <gtest/gtest.h>

#include <complex>
#include <cstdint>
#include <string>
#include <vector>

#include "qez_fftw3.h"
#include "qez_service_control.h"
#include "tests/interfaces/fftw/plan_inspection.hpp"
#include "tests/support/expect_accurate.hpp"
#include "tests/support/strided_layout.hpp"

namespace {

using qez_test::cld;
using qez_test::plan_owner;
using qez_test::strided_layout;
using extents = std::vector<std::int64_t>;

const int forward = -1, backward = +1;
const unsigned estimate = QEZ_FFTW_ESTIMATE;

// The entries under test, per precision.
template <class Real>
struct entries;
#define QEZ_TEST_ENTRIES(P, Real, C)                                     \
  template <>                                                            \
  struct entries<Real> {                                                 \
    using complex_type = C;                                              \
    static constexpr auto dft_1d = P##plan_dft_1d_cpu_lp64;              \
    static constexpr auto dft_2d = P##plan_dft_2d_cpu_ilp64;             \
    static constexpr auto dft_3d = P##plan_dft_3d_cpu_lp64;              \
    static constexpr auto dft = P##plan_dft_cpu_ilp64;                   \
    static constexpr auto many_lp64 = P##plan_many_dft_cpu_lp64;         \
    static constexpr auto many_ilp64 = P##plan_many_dft_cpu_ilp64;       \
    static constexpr auto guru = P##plan_guru_dft_cpu_ilp64;             \
    static constexpr auto r2c_1d = P##plan_dft_r2c_1d_cpu_lp64;          \
    static constexpr auto r2c_2d = P##plan_dft_r2c_2d_cpu_ilp64;         \
    static constexpr auto r2c_3d = P##plan_dft_r2c_3d_cpu_lp64;          \
    static constexpr auto c2r_1d = P##plan_dft_c2r_1d_cpu_ilp64;         \
    static constexpr auto c2r_2d = P##plan_dft_c2r_2d_cpu_lp64;          \
    static constexpr auto c2r_3d = P##plan_dft_c2r_3d_cpu_ilp64;         \
    static constexpr auto r2c = P##plan_dft_r2c_cpu_lp64;                \
    static constexpr auto many_r2c = P##plan_many_dft_r2c_cpu_lp64;      \
    static constexpr auto many_c2r = P##plan_many_dft_c2r_cpu_ilp64;     \
    static constexpr auto guru_r2c = P##plan_guru_dft_r2c_cpu_lp64;      \
    static constexpr auto guru_c2r = P##plan_guru_dft_c2r_cpu_ilp64;     \
    static constexpr auto execute_dft = P##execute_dft_cpu;              \
    static constexpr auto execute_r2c = P##execute_dft_r2c_cpu;          \
    static constexpr auto execute_c2r = P##execute_dft_c2r_cpu;          \
  };
QEZ_TEST_ENTRIES(sfftw_, float, qez_fftwf_complex)
QEZ_TEST_ENTRIES(dfftw_, double, qez_fftw_complex)
#undef QEZ_TEST_ENTRIES

// An array of Real or std::complex<Real> with its address variable, as a
// Fortran caller holds it.
template <class T, class Pointer>
struct array_variable {
  std::vector<T> data;
  Pointer address;
  explicit array_variable(std::int64_t count, T fill = T(-7))
      : data(static_cast<std::size_t>(count), fill),
        address(reinterpret_cast<Pointer>(data.data())) {}
  T* get() { return data.data(); }
};
template <class Real>
using complex_var = array_variable<std::complex<Real>, typename entries<Real>::complex_type*>;
template <class Real>
using real_var = array_variable<Real, Real*>;

using qez_test::expect_accurate;

// Complex data placed in an array by `layout`, and the values as placed.
template <class Real>
std::vector<cld> place_complex(const extents& e, std::int64_t batch, const strided_layout& layout,
                               std::complex<Real>* array, std::uint64_t seed) {
  const std::vector<cld> values =
      qez_test::random_complex(qez_test::element_count(e) * batch, seed);
  qez_test::place(values, e, batch, layout, array);
  return qez_test::collect<cld>(array, e, batch, layout);
}
template <class Real>
std::vector<long double> place_real(const extents& e, std::int64_t batch,
                                    const strided_layout& layout, Real* array,
                                    std::uint64_t seed) {
  const std::vector<long double> values =
      qez_test::random_real(qez_test::element_count(e) * batch, seed);
  qez_test::place(values, e, batch, layout, array);
  return qez_test::collect<long double>(array, e, batch, layout);
}

// Packed layout of extents whose fastest row holds `row` elements.
strided_layout padded(const extents& e, std::int64_t row) {
  extents padded_extents = e;
  padded_extents.back() = row;
  return qez_test::make_layout(padded_extents);
}

template <class Real>
class FftwCpuPlans : public ::testing::Test {};
using precisions = ::testing::Types<float, double>;
TYPED_TEST_SUITE(FftwCpuPlans, precisions);

// ---------------------------------------------------------------------------
// Complex.

TYPED_TEST(FftwCpuPlans, OneDimensionalForwardOutOfPlaceAndBackwardInPlace) {
  using Real = TypeParam;
  using api = entries<Real>;
  const std::int32_t n = 12;
  const extents e{n};
  complex_var<Real> in(n), out(n);
  const std::vector<cld> x = place_complex(e, 1, qez_test::make_layout(e), in.get(), 1);
  qez_fftw_plan p = nullptr;
  api::dft_1d(&p, &n, in.address, out.address, &forward, &estimate);
  plan_owner fwd(p);
  ASSERT_NE(p, nullptr);
  api::execute_dft(&p, &in.address, &out.address);
  expect_accurate<Real>(qez_test::collect<cld>(out.get(), e, 1, qez_test::make_layout(e)),
                        qez_test::reference_c2c(x, e, 1, qez_test::dft_sign::forward), n);

  api::dft_1d(&p, &n, in.address, in.address, &backward, &estimate);
  plan_owner bwd(p);
  ASSERT_NE(p, nullptr);
  api::execute_dft(&p, &in.address, &in.address);
  expect_accurate<Real>(qez_test::collect<cld>(in.get(), e, 1, qez_test::make_layout(e)),
                        qez_test::reference_c2c(x, e, 1, qez_test::dft_sign::backward), n);
}

TYPED_TEST(FftwCpuPlans, TwoAndThreeDimensionalAndRankNInFortranOrder) {
  using Real = TypeParam;
  using api = entries<Real>;
  struct shape {
    std::vector<std::int64_t> fortran;  // fastest first
    bool in_place;
    int sign;
  };
  for (const shape& s : {shape{{6, 5}, true, forward}, shape{{4, 3, 5}, false, backward},
                         shape{{3, 4, 2, 2}, false, forward}}) {
    const extents e(s.fortran.rbegin(), s.fortran.rend());
    const std::int64_t total = qez_test::element_count(e);
    complex_var<Real> in(total), out(total);
    auto& target = s.in_place ? in : out;
    const std::vector<cld> x = place_complex(e, 1, qez_test::make_layout(e), in.get(), 2);
    qez_fftw_plan p = nullptr;
    const std::int64_t rank = static_cast<std::int64_t>(s.fortran.size());
    if (rank == 2) {
      const std::int64_t nx = s.fortran[0], ny = s.fortran[1];
      api::dft_2d(&p, &nx, &ny, &in.address, &target.address, &s.sign, &estimate);
    } else if (rank == 3) {
      const std::int32_t nx = static_cast<std::int32_t>(s.fortran[0]),
                         ny = static_cast<std::int32_t>(s.fortran[1]),
                         nz = static_cast<std::int32_t>(s.fortran[2]);
      api::dft_3d(&p, &nx, &ny, &nz, &in.address, &target.address, &s.sign, &estimate);
    } else {
      api::dft(&p, &rank, s.fortran.data(), &in.address, &target.address, &s.sign, &estimate);
    }
    plan_owner plan(p);
    ASSERT_NE(p, nullptr) << "rank " << rank;
    api::execute_dft(&p, &in.address, &target.address);
    const auto sign =
        s.sign == forward ? qez_test::dft_sign::forward : qez_test::dft_sign::backward;
    expect_accurate<Real>(qez_test::collect<cld>(target.get(), e, 1, qez_test::make_layout(e)),
                          qez_test::reference_c2c(x, e, 1, sign), total);
  }
}

TYPED_TEST(FftwCpuPlans, ManyPlansWithEmbeddingsStridesAndDistances) {
  using Real = TypeParam;
  using api = entries<Real>;
  // Fortran: n = {6, 4}; rows of 8 elements, every second one used.
  const std::int32_t rank = 2, n[] = {6, 4}, howmany = 3;
  const std::int32_t inembed[] = {8, 0}, istride = 2, idist = 70;
  const std::int32_t onembed[] = {6, 0}, ostride = 1, odist = 24;
  const extents e{4, 6};
  strided_layout in_layout;
  in_layout.strides = {16, 2};
  in_layout.distance = idist;
  strided_layout out_layout = qez_test::make_layout(e);
  complex_var<Real> in(in_layout.span(e, howmany)), out(out_layout.span(e, howmany));
  const std::vector<cld> x = place_complex(e, howmany, in_layout, in.get(), 3);
  qez_fftw_plan p = nullptr;
  api::many_lp64(&p, &rank, n, &howmany, &in.address, inembed, &istride, &idist, &out.address,
                 onembed, &ostride, &odist, &forward, &estimate);
  plan_owner plan(p);
  ASSERT_NE(p, nullptr);
  api::execute_dft(&p, &in.address, &out.address);
  expect_accurate<Real>(qez_test::collect<cld>(out.get(), e, howmany, out_layout),
                        qez_test::reference_c2c(x, e, howmany, qez_test::dft_sign::forward), 24);

  // The same batch backward with 64-bit arguments, from the output back.
  const std::int64_t rank64 = 2, n64[] = {6, 4}, howmany64 = 3, onembed64[] = {8, 0};
  const std::int64_t inembed64[] = {6, 0}, one = 1, two = 2, d24 = 24, d70 = 70;
  complex_var<Real> back(in_layout.span(e, howmany));
  api::many_ilp64(&p, &rank64, n64, &howmany64, &out.address, inembed64, &one, &d24,
                  &back.address, onembed64, &two, &d70, &backward, &estimate);
  plan_owner inverse(p);
  ASSERT_NE(p, nullptr);
  api::execute_dft(&p, &out.address, &back.address);
  std::vector<cld> scaled = qez_test::collect<cld>(back.get(), e, howmany, in_layout);
  for (cld& v : scaled) v /= 24.0L;
  expect_accurate<Real>(scaled, x, 24);
}

TYPED_TEST(FftwCpuPlans, GuruPlanWithTransposedOutput) {
  using Real = TypeParam;
  using api = entries<Real>;
  // 5 x 3 (Fortran: 3 fastest) read contiguously, written transposed.
  const std::int64_t rank = 2, n[] = {3, 5}, is[] = {1, 3}, os[] = {5, 1};
  const std::int64_t howmany_rank = 1, h_n = 2, h_is = 15, h_os = 16;
  const extents e{5, 3};
  strided_layout out_layout;
  out_layout.strides = {1, 5};
  out_layout.distance = 16;
  complex_var<Real> in(30), out(32);
  const std::vector<cld> x = place_complex(e, 2, qez_test::make_layout(e), in.get(), 4);
  qez_fftw_plan p = nullptr;
  api::guru(&p, &rank, n, is, os, &howmany_rank, &h_n, &h_is, &h_os, &in.address, &out.address,
            &backward, &estimate);
  plan_owner plan(p);
  ASSERT_NE(p, nullptr);
  api::execute_dft(&p, &in.address, &out.address);
  expect_accurate<Real>(qez_test::collect<cld>(out.get(), e, 2, out_layout),
                        qez_test::reference_c2c(x, e, 2, qez_test::dft_sign::backward), 15);
}

// ---------------------------------------------------------------------------
// Real.

struct real_shape {
  std::vector<std::int64_t> fortran;  // fastest first
  bool in_place;
};

const std::vector<real_shape> real_shapes{{{10}, false}, {{7}, true},       {{6, 4}, true},
                                          {{5, 3}, false}, {{4, 3, 5}, false}, {{6, 2, 3}, true}};

// Row-major extents and packed layouts of both sides of a real shape; the
// real rows of in-place shapes hold whole complex rows.
struct real_layouts {
  extents e, ce;
  strided_layout real_layout, complex_layout;
  explicit real_layouts(const real_shape& s)
      : e(s.fortran.rbegin(), s.fortran.rend()),
        ce(qez_test::conjugate_even_extents(e)),
        real_layout(padded(e, s.in_place ? 2 * ce.back() : e.back())),
        complex_layout(qez_test::make_layout(ce)) {}
};

template <class Real>
qez_fftw_plan plan_real(bool r2c, const real_shape& s, void* in_var, void* out_var) {
  using api = entries<Real>;
  using C = typename entries<Real>::complex_type;
  auto real_v = static_cast<Real**>(r2c ? in_var : out_var);
  auto complex_v = static_cast<C**>(r2c ? out_var : in_var);
  qez_fftw_plan p = nullptr;
  const std::vector<std::int64_t>& f = s.fortran;
  const std::int32_t n32[] = {static_cast<std::int32_t>(f[0]),
                              static_cast<std::int32_t>(f.size() > 1 ? f[1] : 0),
                              static_cast<std::int32_t>(f.size() > 2 ? f[2] : 0)};
  switch (f.size()) {
    case 1:
      if (r2c) api::r2c_1d(&p, &n32[0], *real_v, *complex_v, &estimate);
      else api::c2r_1d(&p, &f[0], *complex_v, *real_v, &estimate);
      break;
    case 2:
      if (r2c) api::r2c_2d(&p, &f[0], &f[1], real_v, complex_v, &estimate);
      else api::c2r_2d(&p, &n32[0], &n32[1], complex_v, real_v, &estimate);
      break;
    default:
      if (r2c) api::r2c_3d(&p, &n32[0], &n32[1], &n32[2], real_v, complex_v, &estimate);
      else api::c2r_3d(&p, &f[0], &f[1], &f[2], complex_v, real_v, &estimate);
  }
  return p;
}

TYPED_TEST(FftwCpuPlans, RealToComplexOneToThreeDimensions) {
  using Real = TypeParam;
  for (const real_shape& s : real_shapes) {
    const auto& [e, ce, real_layout, complex_layout] = real_layouts(s);
    real_var<Real> in(real_layout.span(e, 1) + 2);
    complex_var<Real> out(complex_layout.span(ce, 1));
    const std::vector<long double> x = place_real(e, 1, real_layout, in.get(), 5);
    void* out_var = s.in_place ? static_cast<void*>(&in.address) : &out.address;
    plan_owner plan(plan_real<Real>(true, s, &in.address, out_var));
    ASSERT_NE(plan.plan, nullptr) << "rank " << e.size();
    auto* result = s.in_place ? reinterpret_cast<std::complex<Real>*>(in.get()) : out.get();
    auto* result_var = reinterpret_cast<typename entries<Real>::complex_type*>(result);
    entries<Real>::execute_r2c(&plan.plan, &in.address, &result_var);
    expect_accurate<Real>(qez_test::collect<cld>(result, ce, 1, complex_layout),
                          qez_test::reference_r2c(x, e, 1), qez_test::element_count(e));
  }
}

TYPED_TEST(FftwCpuPlans, ComplexToRealOneToThreeDimensions) {
  using Real = TypeParam;
  for (const real_shape& s : real_shapes) {
    const auto& [e, ce, real_layout, complex_layout] = real_layouts(s);
    // Input: the transform of real data, so that it is conjugate-even.
    const std::vector<cld> spectrum =
        qez_test::reference_r2c(qez_test::random_real(qez_test::element_count(e), 6), e, 1);
    complex_var<Real> in(complex_layout.span(ce, 1));
    qez_test::place(spectrum, ce, 1, complex_layout, in.get());
    const std::vector<cld> placed = qez_test::collect<cld>(in.get(), ce, 1, complex_layout);
    real_var<Real> out(real_layout.span(e, 1) + 2);
    auto* real_result = s.in_place ? reinterpret_cast<Real*>(in.get()) : out.get();
    Real* real_result_var = real_result;
    plan_owner plan(plan_real<Real>(false, s, &in.address, &real_result_var));
    ASSERT_NE(plan.plan, nullptr) << "rank " << e.size();
    entries<Real>::execute_c2r(&plan.plan, &in.address, &real_result_var);
    expect_accurate<Real>(qez_test::collect<long double>(real_result, e, 1, real_layout),
                          qez_test::reference_c2r(placed, e, 1), qez_test::element_count(e));
  }
}

TYPED_TEST(FftwCpuPlans, RealBatchesThroughManyAndGuruForms) {
  using Real = TypeParam;
  using api = entries<Real>;
  // Three 4 x 6 transforms (Fortran n = {6, 4}), real rows padded to 8.
  const extents e{4, 6}, ce{4, 4};
  const std::int32_t rank = 2, n[] = {6, 4}, howmany = 3;
  const std::int32_t inembed[] = {8, 0}, one = 1, idist = 40;
  const std::int32_t onembed[] = {4, 0}, odist = 20;
  strided_layout real_layout = padded(e, 8);
  real_layout.distance = idist;
  strided_layout complex_layout = qez_test::make_layout(ce, 1, 0);
  complex_layout.distance = odist;
  real_var<Real> in(real_layout.span(e, howmany));
  complex_var<Real> spectrum(complex_layout.span(ce, howmany));
  const std::vector<long double> x = place_real(e, howmany, real_layout, in.get(), 7);
  qez_fftw_plan p = nullptr;
  api::many_r2c(&p, &rank, n, &howmany, &in.address, inembed, &one, &idist, &spectrum.address,
                onembed, &one, &odist, &estimate);
  plan_owner r2c(p);
  ASSERT_NE(p, nullptr);
  api::execute_r2c(&p, &in.address, &spectrum.address);
  const std::vector<cld> got = qez_test::collect<cld>(spectrum.get(), ce, howmany, complex_layout);
  expect_accurate<Real>(got, qez_test::reference_r2c(x, e, howmany), 24);

  // Back through the guru form, into a packed real batch.
  const std::int64_t grank = 2, gn[] = {6, 4}, gis[] = {1, 4}, gos[] = {1, 6};
  const std::int64_t hr = 1, h_n = 3, h_is = 20, h_os = 24;
  real_var<Real> back(72);
  api::guru_c2r(&p, &grank, gn, gis, gos, &hr, &h_n, &h_is, &h_os, &spectrum.address,
                &back.address, &estimate);
  plan_owner c2r(p);
  ASSERT_NE(p, nullptr);
  api::execute_c2r(&p, &spectrum.address, &back.address);
  std::vector<long double> scaled =
      qez_test::collect<long double>(back.get(), e, howmany, qez_test::make_layout(e));
  for (long double& v : scaled) v /= 24.0L;
  expect_accurate<Real>(scaled, x, 24);
}

// ---------------------------------------------------------------------------
// Executors.

TYPED_TEST(FftwCpuPlans, ExecutorsRefuseMissingPlansAndArrays) {
  using Real = TypeParam;
  using api = entries<Real>;
  const std::int32_t n = 8;
  complex_var<Real> in(n), out(n);
  place_complex(extents{n}, 1, qez_test::make_layout(extents{n}), in.get(), 8);
  qez_fftw_plan p = nullptr;
  api::dft_1d(&p, &n, in.address, out.address, &forward, &estimate);
  plan_owner plan(p);
  ASSERT_NE(p, nullptr);
  const std::vector<std::complex<Real>> untouched = out.data;
  typename entries<Real>::complex_type* null_array = nullptr;
  api::execute_dft(&p, &in.address, &null_array);
  api::execute_dft(&p, &null_array, &out.address);
  api::execute_dft(nullptr, &in.address, &out.address);
  api::execute_dft(&p, nullptr, &out.address);
  qez_fftw_plan no_plan = nullptr;
  api::execute_dft(&no_plan, &in.address, &out.address);
  EXPECT_EQ(out.data, untouched);
  api::execute_dft(&p, &in.address, &out.address);
  EXPECT_NE(out.data, untouched);
}

TYPED_TEST(FftwCpuPlans, RealExecutorsOfSinglePrecisionTestTheArrays) {
  using Real = TypeParam;
  using api = entries<Real>;
  const std::int32_t n = 8;
  real_var<Real> in(n);
  complex_var<Real> out(n / 2 + 1);
  place_real(extents{n}, 1, qez_test::make_layout(extents{n}), in.get(), 9);
  qez_fftw_plan p = nullptr;
  api::r2c_1d(&p, &n, in.get(), out.address, &estimate);
  plan_owner plan(p);
  ASSERT_NE(p, nullptr);
  const std::vector<Real> input = in.data;
  typename entries<Real>::complex_type* null_array = nullptr;
  // Either the executor refuses, or the compute refuses the missing output:
  // nothing is written anywhere.
  api::execute_r2c(&p, &in.address, &null_array);
  EXPECT_EQ(in.data, input);
  EXPECT_EQ(out.data, std::vector<std::complex<Real>>(n / 2 + 1, std::complex<Real>(-7)));
}

TYPED_TEST(FftwCpuPlans, OnePlanRunsOnSeveralArrayPairsWithoutChanging) {
  using Real = TypeParam;
  using api = entries<Real>;
  const std::int32_t n = 16;
  const extents e{n};
  complex_var<Real> a(n), b(n), c(n), d(n);
  const std::vector<cld> xa = place_complex(e, 1, qez_test::make_layout(e), a.get(), 10);
  const std::vector<cld> xc = place_complex(e, 1, qez_test::make_layout(e), c.get(), 11);
  qez_fftw_plan p = nullptr;
  api::dft_1d(&p, &n, a.address, b.address, &forward, &estimate);
  plan_owner plan(p);
  ASSERT_NE(p, nullptr);
  const qez_fftw_plan_record before = *p;
  api::execute_dft(&p, &c.address, &d.address);
  api::execute_dft(&p, &a.address, &b.address);
  EXPECT_EQ(p->input, before.input);
  EXPECT_EQ(p->output, before.output);
  const auto layout = qez_test::make_layout(e);
  expect_accurate<Real>(qez_test::collect<cld>(d.get(), e, 1, layout),
                        qez_test::reference_c2c(xc, e, 1, qez_test::dft_sign::forward), n);
  expect_accurate<Real>(qez_test::collect<cld>(b.get(), e, 1, layout),
                        qez_test::reference_c2c(xa, e, 1, qez_test::dft_sign::forward), n);
}

TYPED_TEST(FftwCpuPlans, InPlacePlanOnTwoArraysTransformsTheFirstInPlace) {
  using Real = TypeParam;
  using api = entries<Real>;
  const std::int32_t n = 8;
  const extents e{n};
  complex_var<Real> a(n), b(n), c(n);
  place_complex(e, 1, qez_test::make_layout(e), a.get(), 12);
  const std::vector<cld> xb = place_complex(e, 1, qez_test::make_layout(e), b.get(), 13);
  qez_fftw_plan p = nullptr;
  api::dft_1d(&p, &n, a.address, a.address, &forward, &estimate);
  plan_owner plan(p);
  ASSERT_NE(p, nullptr);
  const std::vector<std::complex<Real>> c_before = c.data;
  api::execute_dft(&p, &b.address, &c.address);
  EXPECT_EQ(c.data, c_before);
  expect_accurate<Real>(qez_test::collect<cld>(b.get(), e, 1, qez_test::make_layout(e)),
                        qez_test::reference_c2c(xb, e, 1, qez_test::dft_sign::forward), n);
}

// ---------------------------------------------------------------------------
// Verbose mode.

std::string captured() {
  std::string text(qez_standin_captured_output(nullptr, 0) + 1, '\0');
  qez_standin_captured_output(&text[0], text.size());
  text.resize(text.size() - 1);
  return text;
}

std::vector<std::string> fft_lines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    const std::size_t end = text.find('\n', start);
    const std::string line = text.substr(start, end - start);
    if (line.rfind("QEZ_VERBOSE FFT(", 0) == 0) lines.push_back(line);
    if (end == std::string::npos) break;
    start = end + 1;
  }
  return lines;
}

TYPED_TEST(FftwCpuPlans, VerboseModeWritesOneLinePerExecution) {
  using Real = TypeParam;
  using api = entries<Real>;
  const std::int32_t n = 32;
  complex_var<Real> in(n), out(n);
  qez_fftw_plan p = nullptr, q = nullptr;
  api::dft_1d(&p, &n, in.address, out.address, &forward, &estimate);
  api::dft_1d(&q, &n, out.address, out.address, &backward, &estimate);
  plan_owner fwd(p), bwd(q);
  ASSERT_NE(p, nullptr);
  ASSERT_NE(q, nullptr);
  qez_standin_capture_output(1);
  qez_standin_clear_captured_output();
  qez_standin_set_verbose_mode(1);
  api::execute_dft(&p, &in.address, &out.address);
  api::execute_dft(&q, &out.address, &out.address);
  api::execute_dft(&p, &in.address, &out.address);
  qez_standin_set_verbose_mode(0);
  api::execute_dft(&p, &in.address, &out.address);
  const std::string text = captured();
  qez_standin_capture_output(0);
  const std::vector<std::string> lines = fft_lines(text);
  ASSERT_EQ(lines.size(), 3u) << text;
  const std::string precision = sizeof(Real) == 4 ? "s" : "d";
  EXPECT_EQ(lines[0].rfind("QEZ_VERBOSE FFT(" + precision + "cfo32,", 0), 0u) << lines[0];
  EXPECT_EQ(lines[1].rfind("QEZ_VERBOSE FFT(" + precision + "cbi32,", 0), 0u) << lines[1];
  for (const std::string& line : lines) EXPECT_NE(line.find("tLim:1,"), std::string::npos) << line;
}

}  // namespace
