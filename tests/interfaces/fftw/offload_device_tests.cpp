// Offload plans of the FFTW3-style interface run on the PoCL device through
// the library's own OpenMP-offload entry points, behind interops of the
// OpenMP runtime double (a SYCL queue, or OpenCL handles), checked against
// the long-double reference; the plans are destroyed after their interops.
#include <gtest/gtest.h>

#include <complex>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <sycl/sycl.hpp>

#include "interfaces/omp_offload/interop_caches.hpp"
#include "qez_fftw3_offload.h"
#include "tests/doubles/omptarget/omptarget_double.h"
#include "tests/support/accuracy.hpp"
#include "tests/support/strided_layout.hpp"

namespace {

using qez_test::cld;

template <class T>
struct usm_block {
  usm_block(sycl::queue& q, std::size_t n) : queue(q), data(sycl::malloc_shared<T>(n, q)) {}
  ~usm_block() { sycl::free(data, queue); }
  sycl::queue& queue;
  T* data;
};

struct plan_owner {
  explicit plan_owner(qez_fftw_plan p) : plan(p) {}
  ~plan_owner() { qez_fftw_destroy_plan(plan); }
  qez_fftw_plan plan;
};

void expect_close(const std::vector<cld>& got, const std::vector<cld>& reference, std::int64_t n,
                  bool single) {
  const auto bounds = single ? qez_test::bounds_for<float>(n) : qez_test::bounds_for<double>(n);
  const auto a = qez_test::measure(got, reference);
  EXPECT_TRUE(qez_test::within(a, bounds)) << qez_test::describe(a, bounds);
}

TEST(FftwOffloadOnDevice, DoublePlanOnASyclInterop) {
  constexpr int n = 48;
  auto queue = std::make_unique<sycl::queue>(sycl::gpu_selector_v);
  usm_block<std::complex<double>> in(*queue, n), out(*queue, n);
  const std::vector<cld> input = qez_test::random_complex(n, 7);
  for (int i = 0; i < n; ++i) in.data[i] = std::complex<double>(input[i]);
  void* interop = qez_omp_double_sycl_interop(queue.get());
  plan_owner plan(fftw_plan_dft_1d_omp_offload(n, reinterpret_cast<qez_fftw_complex*>(in.data),
                                               reinterpret_cast<qez_fftw_complex*>(out.data), QEZ_FFTW_FORWARD,
                                               QEZ_FFTW_ESTIMATE, interop));
  ASSERT_NE(plan.plan, nullptr);
  fftw_execute_omp_offload(plan.plan, interop);
  queue->wait();
  expect_close(std::vector<cld>(out.data, out.data + n),
               qez_test::reference_c2c(input, {n}, 1, qez_test::dft_sign::forward), n, false);
  qez_omp_double_destroy_interop(interop);
}

TEST(FftwOffloadOnDevice, SingleInPlaceBackwardPlanOnAnOpenClInterop) {
  constexpr int n = 64;
  void* interop = qez_omp_double_opencl_interop();
  ASSERT_NE(interop, nullptr);
  sycl::queue* queue = ulmara::qez::gpu::lookup_and_cache_ovrax_queue_and_context(interop);
  ASSERT_NE(queue, nullptr);
  usm_block<std::complex<float>> data(*queue, n);
  const std::vector<cld> input = qez_test::random_complex(n, 8);
  for (int i = 0; i < n; ++i) data.data[i] = std::complex<float>(input[i]);
  auto* c = reinterpret_cast<qez_fftwf_complex*>(data.data);
  plan_owner plan(fftwf_plan_dft_1d_omp_offload(n, c, c, -QEZ_FFTW_FORWARD, QEZ_FFTW_ESTIMATE, interop));
  ASSERT_NE(plan.plan, nullptr);
  fftwf_execute_omp_offload(plan.plan, interop);
  queue->wait();
  expect_close(std::vector<cld>(data.data, data.data + n),
               qez_test::reference_c2c(input, {n}, 1, qez_test::dft_sign::backward), n, true);
  qez_omp_double_destroy_interop(interop);
}

// Guru layouts the planner fuzzer found mishandled on the offload road, as
// C guru64 plans on USM between guard zones: each either plans, computes
// the reference's numbers and leaves the guards alone, or is refused.
enum class guru_kind { c2c, r2c, c2r };

struct guru_case {
  const char* name;
  guru_kind kind;
  bool single;
  std::vector<qez_fftw_iodim64> dims;  // slowest first, strides in elements of each side
  bool plans;
};

// Elements and strides of one side of a case, as the reference orders them.
struct guru_side {
  std::vector<std::int64_t> extents;
  qez_test::strided_layout layout;
  std::int64_t elements;
};

guru_side side_of(const guru_case& c, bool input) {
  guru_side s;
  for (const auto& d : c.dims) {
    s.extents.push_back(d.n);
    s.layout.strides.push_back(input ? d.is : d.os);
  }
  const bool conjugate_even = (c.kind == guru_kind::r2c) != input && c.kind != guru_kind::c2c;
  if (conjugate_even) s.extents = qez_test::conjugate_even_extents(s.extents);
  s.elements = s.layout.span(s.extents, 1);
  return s;
}

constexpr std::size_t guard_bytes = 256;
constexpr unsigned char guard_pattern = 0xa5;

// Shared USM of `bytes` between two guard zones.
struct guarded_block {
  guarded_block(sycl::queue& q, std::size_t n) : queue(q), bytes(n) {
    base = static_cast<unsigned char*>(sycl::malloc_shared(bytes + 2 * guard_bytes, q));
    std::memset(base, guard_pattern, guard_bytes);
    std::memset(base + guard_bytes, 0, bytes);
    std::memset(base + guard_bytes + bytes, guard_pattern, guard_bytes);
  }
  ~guarded_block() { sycl::free(base, queue); }
  void* data() const { return base + guard_bytes; }
  bool guards_intact() const {
    for (std::size_t i = 0; i < guard_bytes; ++i)
      if (base[i] != guard_pattern || base[guard_bytes + bytes + i] != guard_pattern) return false;
    return true;
  }
  sycl::queue& queue;
  std::size_t bytes;
  unsigned char* base;
};

template <class Real>
qez_fftw_plan plan_guru(const guru_case& c, void* in, void* out, void* interop) {
  const int rank = static_cast<int>(c.dims.size());
  using cplx = std::conditional_t<sizeof(Real) == 4, qez_fftwf_complex, qez_fftw_complex>;
  auto* ci = static_cast<cplx*>(in);
  auto* co = static_cast<cplx*>(out);
  auto* ri = static_cast<Real*>(in);
  auto* ro = static_cast<Real*>(out);
  const auto* dims = c.dims.data();
  if constexpr (sizeof(Real) == 4) {
    if (c.kind == guru_kind::c2c)
      return fftwf_plan_guru64_dft_omp_offload(rank, dims, 0, nullptr, ci, co, QEZ_FFTW_FORWARD, QEZ_FFTW_ESTIMATE, interop);
    if (c.kind == guru_kind::r2c)
      return fftwf_plan_guru64_dft_r2c_omp_offload(rank, dims, 0, nullptr, ri, co, QEZ_FFTW_ESTIMATE, interop);
    return fftwf_plan_guru64_dft_c2r_omp_offload(rank, dims, 0, nullptr, ci, ro, QEZ_FFTW_ESTIMATE, interop);
  } else {
    if (c.kind == guru_kind::c2c)
      return fftw_plan_guru64_dft_omp_offload(rank, dims, 0, nullptr, ci, co, QEZ_FFTW_FORWARD, QEZ_FFTW_ESTIMATE, interop);
    if (c.kind == guru_kind::r2c)
      return fftw_plan_guru64_dft_r2c_omp_offload(rank, dims, 0, nullptr, ri, co, QEZ_FFTW_ESTIMATE, interop);
    return fftw_plan_guru64_dft_c2r_omp_offload(rank, dims, 0, nullptr, ci, ro, QEZ_FFTW_ESTIMATE, interop);
  }
}

template <class Real>
void run_guru_case(const guru_case& c) {
  SCOPED_TRACE(c.name);
  using cplx = std::complex<Real>;
  sycl::queue queue{sycl::gpu_selector_v};
  void* interop = qez_omp_double_sycl_interop(&queue);
  const guru_side in_side = side_of(c, true), out_side = side_of(c, false);
  const bool real_in = c.kind == guru_kind::r2c, real_out = c.kind == guru_kind::c2r;
  // Refused cases reach too far for any array: plan them on one element.
  const std::size_t in_bytes = c.plans ? in_side.elements * (real_in ? sizeof(Real) : sizeof(cplx)) : sizeof(cplx);
  const std::size_t out_bytes = c.plans ? out_side.elements * (real_out ? sizeof(Real) : sizeof(cplx)) : sizeof(cplx);
  guarded_block in(queue, in_bytes), out(queue, out_bytes);
  // Input: complex data, made Hermitian for c2r as the transform of real data.
  std::vector<std::int64_t> lengths;
  for (const auto& d : c.dims) lengths.push_back(d.n);
  const std::vector<long double> real_data = qez_test::random_real(qez_test::real_elements(lengths), 5);
  std::vector<cld> complex_data = c.kind == guru_kind::c2r ? qez_test::reference_r2c(real_data, lengths, 1)
                                                           : qez_test::random_complex(qez_test::element_count(in_side.extents), 5);
  if (c.plans) {
    if (real_in) qez_test::place(real_data, in_side.extents, 1, in_side.layout, static_cast<Real*>(in.data()));
    else qez_test::place(complex_data, in_side.extents, 1, in_side.layout, static_cast<cplx*>(in.data()));
  }
  qez_fftw_plan p = plan_guru<Real>(c, in.data(), out.data(), interop);
  EXPECT_EQ(p != nullptr, c.plans);
  if (p != nullptr && !c.plans) qez_fftw_destroy_plan(p);
  if (p != nullptr && c.plans) {
    if (sizeof(Real) == 4) fftwf_execute_omp_offload(p, interop);
    else fftw_execute_omp_offload(p, interop);
    queue.wait();
    const std::int64_t n = qez_test::real_elements(lengths);
    if (real_out) {
      const auto got = qez_test::collect<long double>(static_cast<Real*>(out.data()), out_side.extents, 1, out_side.layout);
      const auto a = qez_test::measure(got, qez_test::reference_c2r(complex_data, lengths, 1));
      const auto bounds = qez_test::bounds_for<Real>(n);
      EXPECT_TRUE(qez_test::within(a, bounds)) << qez_test::describe(a, bounds);
    } else {
      const auto got = qez_test::collect<cld>(static_cast<cplx*>(out.data()), out_side.extents, 1, out_side.layout);
      const auto reference = real_in ? qez_test::reference_r2c(real_data, lengths, 1)
                                     : qez_test::reference_c2c(complex_data, lengths, 1, qez_test::dft_sign::forward);
      expect_close(got, reference, n, sizeof(Real) == 4);
    }
    qez_fftw_destroy_plan(p);
  }
  EXPECT_TRUE(in.guards_intact());
  EXPECT_TRUE(out.guards_intact());
  qez_omp_double_destroy_interop(interop);
}

constexpr std::int64_t huge = std::int64_t{1} << 60;

const guru_case guru_cases[] = {
    // A trailing dimension of one element with zero strides beside a
    // strided one: the real 2D program wrote past the output.
    {"c2r_17x1_zero_trailing_strides", guru_kind::c2r, true, {{17, 17, 8}, {1, 0, 0}}, true},
    // Output strides whose byte offsets overflow 64 bits: refused.
    {"c2c_8_huge_output_stride", guru_kind::c2c, true, {{8, 17, 1153202979583557382}}, false},
    {"r2c_2x2_huge_output_stride", guru_kind::r2c, false, {{2, 1, 8811377472754967296}, {2, 2, 17}}, false},
    {"c2c_2x2_huge_strides", guru_kind::c2c, false, {{2, huge, huge}, {2, 1, 1}}, false},
};

class FftwOffloadGuruLayouts : public ::testing::TestWithParam<guru_case> {};

TEST_P(FftwOffloadGuruLayouts, ComputeOrAreRefusedWithinTheirArrays) {
  if (GetParam().single) run_guru_case<float>(GetParam());
  else run_guru_case<double>(GetParam());
}

INSTANTIATE_TEST_SUITE_P(FuzzerFindings, FftwOffloadGuruLayouts, ::testing::ValuesIn(guru_cases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
