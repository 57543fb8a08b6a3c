// Offload plans of the FFTW3-style interface run on the PoCL device through
// the library's own OpenMP-offload entry points, behind interops of the
// OpenMP runtime double (a SYCL queue, or OpenCL handles), checked against
// the long-double reference; the plans are destroyed after their interops.
#include <gtest/gtest.h>

#include <complex>
#include <memory>
#include <vector>

#include <sycl/sycl.hpp>

#include "interfaces/omp_offload/interop_caches.hpp"
#include "qez_fftw3_offload.h"
#include "tests/doubles/omptarget/omptarget_double.h"
#include "tests/support/accuracy.hpp"

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

}  // namespace
