// Verbose lines of GPU transforms through the public API: buffer transforms
// in mode 2 run their marker kernels and are timed on the host; the line has
// the descriptor and the timing.
#include <gtest/gtest.h>

#include <complex>
#include <regex>
#include <string>
#include <vector>

#include "dft/api/verbose_timing.hpp"
#include "gpu/service/verbose_gpu_output.hpp"
#include "tests/api/verbose_capture.hpp"
#include "ulmara/qez/dft.hpp"

namespace {

namespace dft = ulmara::qez::dft;
namespace gpu = ulmara::qez::gpu;
using qez_api_test::verbose_capture;

sycl::queue& gpu_queue() {
  static sycl::queue q{sycl::gpu_selector_v};
  return q;
}

TEST(VerboseBufferMarkers, RunOnlyInModeTwoAndForDataThatExists) {
  sycl::buffer<char, 1> data{sycl::range<1>(64)};
  sycl::buffer<char, 1> empty{sycl::range<1>(0)};
  double t = 0;
  {
    verbose_capture capture(1);
    EXPECT_FALSE(dft::verbose_buffer_start(&t, data));
    EXPECT_EQ(gpu::verbose_depth(), 0);
  }
  verbose_capture capture(2);
  EXPECT_FALSE(dft::verbose_buffer_start(&t, empty));
  const bool started = dft::verbose_buffer_start(&t, data);
  EXPECT_TRUE(started);
  EXPECT_EQ(gpu::verbose_depth(), 1) << "inner timed calls stay silent";
  dft::verbose_buffer_end(&t, started, data);
  EXPECT_EQ(gpu::verbose_depth(), 0);
  EXPECT_GT(t, 0.0);
}

TEST(VerboseBufferMarkers, AnEmptyBufferOfTheTwoBufferFormStopsThePair) {
  sycl::buffer<char, 1> data{sycl::range<1>(64)};
  sycl::buffer<char, 1> other{sycl::range<1>(32)};
  sycl::buffer<char, 1> empty{sycl::range<1>(0)};
  verbose_capture capture(2);
  double t = 1.5;
  bool started = dft::verbose_buffer_start(&t, data, &empty);
  EXPECT_FALSE(started) << "the second buffer is empty";
  EXPECT_EQ(gpu::verbose_depth(), 0);
  EXPECT_EQ(t, 1.5) << "no clock reading";
  dft::verbose_buffer_end(&t, started, data, &empty);
  EXPECT_EQ(gpu::verbose_depth(), 0);
  EXPECT_EQ(t, 1.5);
  EXPECT_FALSE(dft::verbose_buffer_start(&t, empty, &data)) << "an empty first skips the second";
  EXPECT_EQ(gpu::verbose_depth(), 0);
  EXPECT_EQ(t, 1.5);
  t = 0.0;
  started = dft::verbose_buffer_start(&t, data, &other);
  EXPECT_TRUE(started);
  EXPECT_EQ(gpu::verbose_depth(), 1);
  dft::verbose_buffer_end(&t, started, data, &other);
  EXPECT_EQ(gpu::verbose_depth(), 0);
  EXPECT_GT(t, 0.0);
}

// A 7-point double transform is taken by the default GPU backend.
TEST(VerboseGpuTransform, BufferComputeInModeTwoWritesOneTimedLine) {
  dft::descriptor<dft::precision::DOUBLE, dft::domain::COMPLEX> d(std::int64_t{7});
  d.commit(gpu_queue());
  std::vector<std::complex<double>> host(7);
  for (int i = 0; i < 7; ++i) host[i] = {double(i), -0.5 * i};
  sycl::buffer<std::complex<double>, 1> buffer(host.data(), sycl::range<1>(7));
  verbose_capture capture(2);
  dft::compute_forward(d, buffer);
  gpu_queue().wait();
  const std::string text = capture.text();
  const std::regex line("QEZ_VERBOSE FFT\\([^\\n]*\\),? host:[0-9.]+(ns|us|ms|s) device:[^\\n]*\\n");
  EXPECT_EQ(std::distance(std::sregex_iterator(text.begin(), text.end(), line), std::sregex_iterator()), 1)
      << text;
  EXPECT_EQ(gpu::verbose_depth(), 0);
}

TEST(VerboseGpuTransform, ModeOneHasNoHostTime) {
  dft::descriptor<dft::precision::DOUBLE, dft::domain::COMPLEX> d(std::int64_t{7});
  d.commit(gpu_queue());
  auto* data = sycl::malloc_shared<std::complex<double>>(7, gpu_queue());
  for (int i = 0; i < 7; ++i) data[i] = {1.0, double(i)};
  verbose_capture capture(1);
  dft::compute_forward(d, data).wait();
  const std::string text = capture.text();
  EXPECT_NE(text.find("host:N/A"), std::string::npos) << text;
  sycl::free(data, gpu_queue());
}

}  // namespace
