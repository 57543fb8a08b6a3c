// The GPU road of compute_forward and compute_backward, up to the compute
// entry of the committed backend (a stand-in backend here): the commit and
// workspace checks, what the entry receives for USM and for buffers, the
// verbose lines of modes 1 and 2, and the verbose depth after a failure.
#include <gtest/gtest.h>

#include <chrono>
#include <complex>
#include <thread>
#include <regex>
#include <string>
#include <vector>

#include "gpu/service/verbose_gpu_output.hpp"
#include "tests/api/descriptor_test_support.hpp"
#include "tests/api/fake_gpu_backend.hpp"
#include "tests/api/verbose_capture.hpp"

namespace {

using namespace qez_api_test;

TEST(GpuRoad, UncommittedDescriptorIsInvalidBeforeTheWorkspaceTest) {
  double_complex d(std::int64_t{64});
  fake_gpu_commit(d, 1024);
  dft::descriptor_access::record(d)->workspace_internal = 0;
  dft::descriptor_access::record(d)->commit_status = dft::dfti_uncommitted;
  auto* data = sycl::malloc_device<std::complex<double>>(64, gpu_queue());
  EXPECT_THROW(dft::compute_forward(d, data), dft::invalid_descriptor_exception);
  EXPECT_EQ(fake_calls().computes, 0);
  sycl::free(data, gpu_queue());
}

TEST(GpuRoad, UsmComputeNeedsAUsmWorkspace) {
  double_complex d(std::int64_t{64});
  d.set_value(P::WORKSPACE_PLACEMENT, config_value::WORKSPACE_EXTERNAL);
  fake_gpu_commit(d, 1024);
  sycl::queue& q = gpu_queue();
  auto* data = sycl::malloc_device<std::complex<double>>(64, q);
  EXPECT_THROW(dft::compute_forward(d, data), dft::no_workspace_exception);
  sycl::buffer<double, 1> as_buffer(sycl::range<1>(128));
  d.set_workspace(as_buffer);
  EXPECT_THROW(dft::compute_forward(d, data), dft::no_workspace_exception)
      << "a buffer workspace does not serve USM data";
  EXPECT_EQ(fake_calls().computes, 0);

  auto* workspace = sycl::malloc_device<double>(128, q);
  d.set_workspace(workspace);
  sycl::event dependency = q.memset(data, 0, 64 * sizeof(std::complex<double>));
  sycl::event e = dft::compute_forward(d, data, {dependency});
  e.wait();
  EXPECT_EQ(fake_calls().computes, 1);
  EXPECT_EQ(fake_calls().container_kind, 2u);
  EXPECT_EQ(fake_calls().input, data);
  EXPECT_EQ(fake_calls().output, data) << "in place: the same pointer on both sides";
  EXPECT_TRUE(fake_calls().had_dependencies);
  EXPECT_TRUE(fake_calls().had_result);
  EXPECT_EQ(e.get_info<sycl::info::event::command_execution_status>(),
            sycl::info::event_command_status::complete);
  sycl::free(workspace, q);
  sycl::free(data, q);
}

TEST(GpuRoad, BufferComputeNeedsABufferWorkspace) {
  single_real d(std::int64_t{64});
  d.set_value(P::WORKSPACE_PLACEMENT, config_value::WORKSPACE_EXTERNAL);
  fake_gpu_commit(d, 256);
  sycl::buffer<float, 1> data(sycl::range<1>(66));
  auto* usm_workspace = sycl::malloc_device<float>(64, gpu_queue());
  d.set_workspace(usm_workspace);
  EXPECT_THROW(dft::compute_forward(d, data), dft::no_workspace_exception);
  sycl::buffer<float, 1> workspace(sycl::range<1>(64));
  d.set_workspace(workspace);
  dft::compute_forward(d, data);
  EXPECT_EQ(fake_calls().container_kind, 1u);
  EXPECT_EQ(fake_calls().input, fake_calls().output) << "in place: one byte view on both sides";
  EXPECT_FALSE(fake_calls().had_dependencies);
  EXPECT_FALSE(fake_calls().had_result);
  sycl::buffer<std::complex<float>, 1> out(sycl::range<1>(33));
  dft::descriptor_access::record(d)->placement = dft::dfti_not_inplace;
  dft::compute_forward(d, data, out);
  EXPECT_NE(fake_calls().input, fake_calls().output);
  sycl::free(usm_workspace, gpu_queue());
}

// Null pointers and call forms that contradict PLACEMENT never reach the
// backend, whose kernels would read through them.
TEST(GpuRoad, CallFormAndPointersAreCheckedBeforeTheBackend) {
  using value = std::complex<double>;
  double_complex d(std::int64_t{64});
  fake_gpu_commit(d);
  auto* a = sycl::malloc_shared<value>(64, gpu_queue());
  auto* b = sycl::malloc_shared<value>(64, gpu_queue());
  value* none = nullptr;
  sycl::buffer<value, 1> first(sycl::range<1>(64));
  sycl::buffer<value, 1> second(sycl::range<1>(64));
  // In place.
  EXPECT_THROW(dft::compute_forward(d, none), dft::invalid_descriptor_exception);
  EXPECT_THROW(dft::compute_backward(d, none), dft::invalid_descriptor_exception);
  EXPECT_THROW(dft::compute_forward(d, a, b), dft::invalid_descriptor_exception);
  EXPECT_THROW(dft::compute_backward(d, first, second), dft::invalid_descriptor_exception);
  EXPECT_EQ(fake_calls().computes, 0);
  dft::compute_forward(d, a).wait();
  dft::compute_forward(d, first);
  EXPECT_EQ(fake_calls().computes, 2);
  // Out of place.
  dft::descriptor_access::record(d)->placement = dft::dfti_not_inplace;
  fake_calls().computes = 0;
  EXPECT_THROW(dft::compute_forward(d, a), dft::invalid_descriptor_exception);
  EXPECT_THROW(dft::compute_backward(d, first), dft::invalid_descriptor_exception);
  EXPECT_THROW(dft::compute_forward(d, a, a), dft::invalid_descriptor_exception)
      << "equal pointers would transform in place";
  EXPECT_THROW(dft::compute_forward(d, a, none), dft::invalid_descriptor_exception);
  EXPECT_THROW(dft::compute_backward(d, none, b), dft::invalid_descriptor_exception);
  EXPECT_EQ(fake_calls().computes, 0);
  dft::compute_backward(d, a, b).wait();
  dft::compute_backward(d, first, second);
  EXPECT_EQ(fake_calls().computes, 2);
  sycl::free(a, gpu_queue());
  sycl::free(b, gpu_queue());
}

TEST(GpuRoad, FailingStatusBecomesAnExceptionAfterTheLine) {
  double_complex d(std::int64_t{1024});
  d.set_value(P::PLACEMENT, config_value::OUT_OF_PLACE);
  fake_gpu_commit(d);
  fake_calls().compute_status = 6;
  sycl::queue& q = *dft::record_queue(dft::descriptor_access::record(d));
  auto* in = sycl::malloc_device<std::complex<double>>(1024, q);
  auto* out = sycl::malloc_device<std::complex<double>>(1024, q);
  verbose_capture capture(1);
  EXPECT_THROW(dft::compute_forward(d, in, out), dft::unimplemented_exception);
  const std::string text = capture.text();
  EXPECT_NE(text.find("QEZ_VERBOSE FFT(dcfo1024,fwd_strides:{0,1},bwd_strides:{0,1},IO:device "
                      "USM,queue:in-order), host:N/A device:N/A GPU0\n"),
            std::string::npos)
      << text;
  sycl::free(in, q);
  sycl::free(out, q);
}

TEST(GpuRoad, VerboseModeTwoTimesTheUsmCall) {
  double_complex d(std::int64_t{64});
  fake_gpu_commit(d);
  auto* data = sycl::malloc_shared<std::complex<double>>(64, gpu_queue());
  verbose_capture capture(2);
  dft::compute_backward(d, data).wait();
  const std::string text = capture.text();
  const std::regex line(
      "QEZ_VERBOSE FFT\\(dcbi64,bwd_strides:\\{0,1\\},fwd_strides:\\{0,1\\},IO:shared USM,"
      "queue:in-order\\), host:[0-9.]+(s|ms|us|ns) device:[0-9.]+(s|ms|us|ns) GPU0\n");
  EXPECT_TRUE(std::regex_search(text, line)) << text;
  EXPECT_EQ(ulmara::qez::gpu::verbose_depth(), 0);
  sycl::free(data, gpu_queue());
}

TEST(GpuRoad, DepthIsRestoredWhenTheComputeThrows) {
  double_complex d(std::int64_t{64});
  fake_gpu_commit(d);
  fake_calls().throw_in_entry = true;
  auto* data = sycl::malloc_shared<std::complex<double>>(64, gpu_queue());
  sycl::buffer<std::complex<double>, 1> buffer(sycl::range<1>(64));
  {
    verbose_capture capture(2);
    EXPECT_THROW(dft::compute_forward(d, data), std::runtime_error);
    EXPECT_EQ(ulmara::qez::gpu::verbose_depth(), 0);
    EXPECT_THROW(dft::compute_forward(d, buffer), std::runtime_error);
    EXPECT_EQ(ulmara::qez::gpu::verbose_depth(), 0);
  }
  // Later lines of this thread still print.
  fake_calls().throw_in_entry = false;
  verbose_capture capture(1);
  dft::compute_forward(d, data).wait();
  EXPECT_NE(capture.text().find("QEZ_VERBOSE FFT(dcfi64,"), std::string::npos) << capture.text();
  sycl::free(data, gpu_queue());
}

TEST(GpuRoad, VerboseModeTwoTimesTheBufferCall) {
  single_real d(std::int64_t{30});
  fake_gpu_commit(d);
  sycl::buffer<float, 1> data(sycl::range<1>(32));
  verbose_capture capture(2);
  dft::compute_backward(d, data);
  EXPECT_EQ(ulmara::qez::gpu::verbose_depth(), 0);
  const std::regex line(
      "QEZ_VERBOSE FFT\\(srbi30,bwd_strides:\\{0,1\\},fwd_strides:\\{0,1\\},IO:buffer,"
      "queue:in-order\\), host:[0-9.]+(s|ms|us|ns) device:N/A GPU0\n");
  EXPECT_TRUE(std::regex_search(capture.text(), line)) << capture.text();
}

}  // namespace

namespace {

// A compute entry whose kernel is still running when the call returns.
sycl::event slow_kernel;
int slow_compute(DFTI_DESCRIPTOR* r, void*, void*, void*, std::uint64_t*, void* result) {
  slow_kernel = dft::record_queue(r)->single_task(
      [] { std::this_thread::sleep_for(std::chrono::milliseconds(100)); });
  if (result != nullptr) *static_cast<sycl::event*>(result) = slow_kernel;
  return 0;
}

bool finished(const sycl::event& e) {
  return e.get_info<sycl::info::event::command_execution_status>() ==
         sycl::info::event_command_status::complete;
}

TEST(GpuRoad, UncommitWaitsForKernelsInFlight) {
  double_complex d(std::int64_t{64});
  fake_gpu_commit(d);
  dft::descriptor_access::record(d)->compute_fwd = slow_compute;
  auto* data = sycl::malloc_shared<std::complex<double>>(64, gpu_queue());
  dft::compute_forward(d, data);
  d.set_value(P::FORWARD_SCALE, 2.0);
  EXPECT_TRUE(finished(slow_kernel)) << "the backend is released only after its kernels";
  EXPECT_EQ(commit_status(d), config_value::UNCOMMITTED);
  sycl::free(data, gpu_queue());
}

TEST(GpuRoad, DestructionWaitsForKernelsInFlight) {
  auto* data = sycl::malloc_shared<std::complex<double>>(64, gpu_queue());
  {
    double_complex d(std::int64_t{64});
    fake_gpu_commit(d);
    dft::descriptor_access::record(d)->compute_fwd = slow_compute;
    dft::compute_forward(d, data);
  }
  EXPECT_TRUE(finished(slow_kernel));
  sycl::free(data, gpu_queue());
}

TEST(GpuRoad, RecommitWaitsForKernelsInFlight) {
  double_complex d(std::int64_t{64});
  fake_gpu_commit(d);
  dft::descriptor_access::record(d)->compute_fwd = slow_compute;
  auto* data = sycl::malloc_shared<std::complex<double>>(64, gpu_queue());
  dft::compute_forward(d, data);
  d.commit(cpu_queue());
  EXPECT_TRUE(finished(slow_kernel));
  EXPECT_EQ(commit_status(d), config_value::COMMITTED);
  sycl::free(data, gpu_queue());
}

}  // namespace
