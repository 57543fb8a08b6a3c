// Verbose lines of CPU transforms through the public API: the CPU form of
// the descriptor line, printed by the CPU front end in modes 1 and 2, none
// in mode 0.
#include <gtest/gtest.h>

#include <complex>
#include <regex>
#include <string>

#include "tests/api/descriptor_test_support.hpp"
#include "tests/api/verbose_capture.hpp"

namespace {

using namespace qez_api_test;

// A committed single-precision complex out-of-place transform of length 8
// on one thread, on 64-byte aligned USM data.
struct complex_case {
  dft::descriptor<precision::SINGLE, domain::COMPLEX> desc{std::int64_t{8}};
  std::complex<float>* in = sycl::aligned_alloc_shared<std::complex<float>>(64, 8, cpu_queue());
  std::complex<float>* out = sycl::aligned_alloc_shared<std::complex<float>>(64, 8, cpu_queue());
  complex_case() {
    desc.set_value(config_param::PLACEMENT, config_value::OUT_OF_PLACE);
    desc.set_value(config_param::THREAD_LIMIT, std::int64_t{1});
    desc.commit(cpu_queue());
    for (int i = 0; i < 8; ++i) in[i] = {1.0f, 0.0f};
  }
  ~complex_case() {
    sycl::free(in, cpu_queue());
    sycl::free(out, cpu_queue());
  }
};

const char* const time_pattern = "[0-9.]+(s|ms|us|ns)";

TEST(CpuVerboseLine, ModeOneForward) {
  complex_case c;
  verbose_capture capture(1);
  dft::compute_forward(c.desc, c.in, c.out).wait();
  const std::regex line(std::string("QEZ_VERBOSE FFT\\(scfo8,fwd_strides:\\{0,1\\},bwd_strides:\\{0,1\\},"
                                    "tLim:1,desc:0x[0-9a-f]+\\) ") +
                        time_pattern + "\n");
  EXPECT_TRUE(std::regex_search(capture.text(), line)) << capture.text();
}

TEST(CpuVerboseLine, ModeTwoBackward) {
  complex_case c;
  verbose_capture capture(2);
  dft::compute_backward(c.desc, c.in, c.out).wait();
  const std::regex line(std::string("QEZ_VERBOSE FFT\\(scbo8,bwd_strides:\\{0,1\\},fwd_strides:\\{0,1\\},"
                                    "tLim:1,desc:0x[0-9a-f]+\\) ") +
                        time_pattern + "\n");
  EXPECT_TRUE(std::regex_search(capture.text(), line)) << capture.text();
}

TEST(CpuVerboseLine, ModeZeroPrintsNothing) {
  complex_case c;
  verbose_capture capture(0);
  dft::compute_forward(c.desc, c.in, c.out).wait();
  EXPECT_EQ(capture.text(), "");
}

TEST(CpuVerboseLine, RealInPlaceOnBuffersWithScaleAndBatch) {
  dft::descriptor<precision::DOUBLE, domain::REAL> desc(std::vector<std::int64_t>{4, 6});
  desc.set_value(config_param::THREAD_LIMIT, std::int64_t{1});
  desc.set_value(config_param::BACKWARD_SCALE, 0.5);
  desc.set_value(config_param::NUMBER_OF_TRANSFORMS, std::int64_t{2});
  desc.set_value(config_param::FWD_DISTANCE, std::int64_t{32});
  desc.set_value(config_param::BWD_DISTANCE, std::int64_t{16});
  desc.commit(cpu_queue());
  verbose_capture capture(1);
  {
    sycl::buffer<double, 1> data(sycl::range<1>(64));
    dft::compute_backward(desc, data);
  }
  // Rows of 2*(6/2+1) = 8 reals and 4 complex values: the default layout, so
  // lengths print plainly; the batch prints with its distances labelled by
  // domain.
  const std::regex line(std::string("QEZ_VERBOSE FFT\\(drbi4x6\\*2,bwd_strides:\\{0,4,1\\},"
                                    "fwd_strides:\\{0,8,1\\},bwd_distance:16,fwd_distance:32,"
                                    "bScale:0.5,tLim:1,(unaligned_input,)?desc:0x[0-9a-f]+\\) ") +
                        time_pattern + "\n");
  EXPECT_TRUE(std::regex_search(capture.text(), line)) << capture.text();
}

}  // namespace
