// One-dimensional complex transforms committed and computed through the
// OpenMP-offload entry points on the PoCL device, behind interops of foreign
// runtime 4 (a SYCL queue) and 3 (OpenCL handles), checked against the
// long-double reference; the Fortran forwarders; verbose output; and a
// descriptor that outlives the interop it was committed with.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "interfaces/omp_offload/interop_caches.hpp"
#include "qez_service_control.h"
#include "tests/interfaces/omp_offload/interop_owner.hpp"
#include "tests/interfaces/omp_offload/offload_test_support.hpp"
#include "tests/support/accuracy.hpp"

namespace {

namespace gpu = ulmara::qez::gpu;
using namespace qez_offload_test;
using qez_test::cld;

enum class runtime { sycl = 4, opencl = 3 };

// An interop of the double and the queue its data must live on.
struct offload_target {
  std::unique_ptr<sycl::queue> own_queue;
  std::unique_ptr<interop_owner> interop;
  sycl::queue* queue = nullptr;

  explicit offload_target(runtime r) {
    if (r == runtime::sycl) {
      own_queue = std::make_unique<sycl::queue>(sycl::gpu_selector_v);
      interop = std::make_unique<interop_owner>(qez_omp_double_sycl_interop(own_queue.get()));
      queue = own_queue.get();
    } else {
      interop = std::make_unique<interop_owner>(qez_omp_double_opencl_interop());
      queue = gpu::lookup_and_cache_ovrax_queue_and_context(interop->get());
    }
  }
};

template <class Real>
std::vector<cld> run_transform(offload_target& target, std::int64_t n, std::int64_t batch, bool forward,
                               bool in_place, const std::vector<cld>& input) {
  descriptor_owner d;
  make_complex_1d<Real>(d, n, in_place, batch);
  EXPECT_EQ(qez_DftiCommitDescriptor_omp_offload(d.get(), target.interop->get()), 0);
  const std::size_t count = static_cast<std::size_t>(n * batch);
  usm_array<std::complex<Real>> in(*target.queue, count), out(*target.queue, count);
  for (std::size_t i = 0; i < count; ++i) in.data()[i] = std::complex<Real>(input[i]);
  void* result = in_place ? in.data() : out.data();
  const std::int64_t status =
      forward ? qez_DftiComputeForward_omp_offload(d.get(), in.data(), target.interop->get(), out.data())
              : qez_DftiComputeBackward_omp_offload(d.get(), in.data(), target.interop->get(), out.data());
  EXPECT_EQ(status, 0);
  target.queue->wait();
  std::vector<cld> got(count);
  for (std::size_t i = 0; i < count; ++i) got[i] = cld(static_cast<std::complex<Real>*>(result)[i]);
  return got;
}

struct transform_case {
  runtime foreign;
  bool single;
  bool forward;
  bool in_place;
  std::int64_t length;
};

std::string describe_case(const transform_case& c) {
  return std::string(c.foreign == runtime::sycl ? "sycl" : "opencl") + (c.single ? "_float" : "_double") +
         (c.forward ? "_forward" : "_backward") + (c.in_place ? "_inplace" : "_outofplace") + "_n" +
         std::to_string(c.length);
}

std::string case_name(const testing::TestParamInfo<transform_case>& info) { return describe_case(info.param); }
void PrintTo(const transform_case& c, std::ostream* out) { *out << describe_case(c); }

std::vector<transform_case> transform_cases() {
  std::vector<transform_case> cases;
  for (runtime r : {runtime::sycl, runtime::opencl})
    for (bool single : {true, false})
      for (bool forward : {true, false})
        for (bool in_place : {true, false}) cases.push_back({r, single, forward, in_place, single ? 64 : 45});
  return cases;
}

class OffloadTransform : public testing::TestWithParam<transform_case> {};

TEST_P(OffloadTransform, MatchesTheReference) {
  const transform_case c = GetParam();
  constexpr std::int64_t batch = 3;
  offload_target target(c.foreign);
  ASSERT_NE(target.queue, nullptr);
  const std::vector<cld> input = qez_test::random_complex(c.length * batch, 1234);
  const std::vector<cld> got = c.single ? run_transform<float>(target, c.length, batch, c.forward, c.in_place, input)
                                        : run_transform<double>(target, c.length, batch, c.forward, c.in_place, input);
  const std::vector<cld> reference = qez_test::reference_c2c(
      input, {c.length}, batch, c.forward ? qez_test::dft_sign::forward : qez_test::dft_sign::backward);
  const qez_test::accuracy_bounds bounds =
      c.single ? qez_test::bounds_for<float>(c.length) : qez_test::bounds_for<double>(c.length);
  const qez_test::accuracy a = qez_test::measure(got, reference);
  EXPECT_TRUE(qez_test::within(a, bounds)) << qez_test::describe(a, bounds);
}
INSTANTIATE_TEST_SUITE_P(Transforms, OffloadTransform, testing::ValuesIn(transform_cases()), case_name);

// ---------------------------------------------------------------------------

class OffloadRoads : public testing::Test {
protected:
  static constexpr std::int64_t n = 32;
  void SetUp() override { input_ = qez_test::random_complex(n, 99); }
  void fill(std::complex<double>* data) {
    for (std::int64_t i = 0; i < n; ++i) data[i] = std::complex<double>(input_[i]);
  }
  void expect_forward_of_input(const std::complex<double>* data) {
    std::vector<cld> got(data, data + n);
    const auto reference = qez_test::reference_c2c(input_, {n}, 1, qez_test::dft_sign::forward);
    const auto bounds = qez_test::bounds_for<double>(n);
    const auto a = qez_test::measure(got, reference);
    EXPECT_TRUE(qez_test::within(a, bounds)) << qez_test::describe(a, bounds);
  }
  std::vector<cld> input_;
};

TEST_F(OffloadRoads, FortranFormsForwardInTheirOrder) {
  offload_target target(runtime::sycl);
  descriptor_owner d;
  make_complex_1d<double>(d, n, false);
  DFTI_DESCRIPTOR* handle = d.get();
  EXPECT_EQ(qez_dfti_commit_descriptor_external_omp_offload(&handle, target.interop->get()), 0);
  usm_array<std::complex<double>> in(*target.queue, n), out(*target.queue, n);
  fill(in.data());
  void* in_address = in.data();
  void* out_address = out.data();
  ASSERT_EQ(qez_dfti_compute_forward_zz_omp_offload(&handle, &in_address, &out_address, target.interop->get()), 0);
  target.queue->wait();
  expect_forward_of_input(out.data());
  // One array on an out-of-place descriptor: the missing output is refused.
  EXPECT_EQ(qez_dfti_compute_forward_z_omp_offload(&handle, &in_address, target.interop->get()), 3);
  EXPECT_EQ(qez_dfti_compute_backward_c_omp_offload(&handle, &in_address, target.interop->get()), 3);
  DFTI_DESCRIPTOR* none = nullptr;
  EXPECT_EQ(qez_dfti_commit_descriptor_external_omp_offload(&none, target.interop->get()), 5);
}

TEST_F(OffloadRoads, InPlaceRunsOnTheInputWhateverTheOutputArgument) {
  offload_target target(runtime::opencl);
  descriptor_owner d;
  make_complex_1d<double>(d, n, true);
  ASSERT_EQ(qez_DftiCommitDescriptor_omp_offload(d.get(), target.interop->get()), 0);
  usm_array<std::complex<double>> data(*target.queue, n), other(*target.queue, n);
  fill(data.data());
  const std::complex<double> untouched(5.0, -5.0);
  for (std::int64_t i = 0; i < n; ++i) other.data()[i] = untouched;
  ASSERT_EQ(qez_DftiComputeForward_omp_offload(d.get(), data.data(), target.interop->get(), other.data()), 0);
  target.queue->wait();
  expect_forward_of_input(data.data());
  for (std::int64_t i = 0; i < n; ++i) EXPECT_EQ(other.data()[i], untouched);
}

// The descriptor holds a queue of the library, not the interop's own object:
// it stays usable, and can be destroyed, after that object is gone.
TEST_F(OffloadRoads, DescriptorOutlivesTheInteropItWasCommittedWith) {
  descriptor_owner d;
  make_complex_1d<double>(d, n, true);
  auto borrowed = std::make_unique<sycl::queue>(sycl::gpu_selector_v);
  const sycl::queue same = *borrowed;
  {
    interop_owner interop(qez_omp_double_sycl_interop(borrowed.get()));
    ASSERT_EQ(qez_DftiCommitDescriptor_omp_offload(d.get(), interop.get()), 0);
  }
  EXPECT_NE(d->queue, static_cast<void*>(borrowed.get()));
  EXPECT_TRUE(*static_cast<sycl::queue*>(d->queue) == same);
  borrowed.reset();
  offload_target later(runtime::sycl);
  usm_array<std::complex<double>> data(*later.queue, n);
  fill(data.data());
  ASSERT_EQ(qez_DftiComputeForward_omp_offload(d.get(), data.data(), later.interop->get()), 0);
  later.queue->wait();
  expect_forward_of_input(data.data());
}

TEST_F(OffloadRoads, VerboseLineCarriesTheAsynchronousOffload) {
  offload_target target(runtime::sycl);
  descriptor_owner d;
  make_complex_1d<double>(d, n, true);
  ASSERT_EQ(qez_DftiCommitDescriptor_omp_offload(d.get(), target.interop->get()), 0);
  usm_array<std::complex<double>> data(*target.queue, n);
  fill(data.data());
  qez_standin_capture_output(1);
  qez_standin_clear_captured_output();
  qez_standin_set_verbose_mode(2);
  const std::int64_t status = qez_DftiComputeForward_omp_offload(d.get(), data.data(), target.interop->get());
  qez_standin_set_verbose_mode(0);
  std::vector<char> text(8192);
  qez_standin_captured_output(text.data(), text.size());
  qez_standin_capture_output(0);
  ASSERT_EQ(status, 0);
  // Mode 2 returns after the transform completed: no wait here.
  expect_forward_of_input(data.data());
  const std::string printed(text.data());
  EXPECT_NE(printed.find("QEZ_VERBOSE FFT("), std::string::npos) << printed;
  EXPECT_NE(printed.find("offload:asynchronous"), std::string::npos) << printed;
}

}  // namespace
