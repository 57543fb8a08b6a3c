// The program of the 8192-point backend: kernel names and build options as
// the builder formats them, the codelets the family carries, and both lane
// forms of the program text compiling on the OpenCL device.
#define CL_TARGET_OPENCL_VERSION 300
#include <CL/cl.h>

#include <cstring>
#include <string>

#include "dft/gpu/core/alloc_hooks.hpp"
#include "dft/gpu/backends/1d_basic/eight_k/kernel_build.hpp"
#include "dft/gpu/kernels/program_texts.hpp"
#include "tests/backends/eight_k/eight_k_case.hpp"

namespace eight_k_test {
namespace {

namespace kernels = ulmara::qez::dft::kernels;

template <class T>
struct zeroed_block {
  zeroed_block() { std::memset(&b, 0, sizeof b); }
  ek::block<T> b;
};

template <class T>
ek::block<T> factorised_block(bool io_distances) {
  zeroed_block<T> z;
  ek::block<T>& b = z.b;
  b.length = 8192;
  b.n0 = 128, b.n0_fact0 = 16, b.n0_fact1 = 8, b.n1 = 64, b.n1_fact0 = 8, b.n1_fact1 = 8;
  b.work_group_size = 64, b.subgroup_size = 8, b.cols_per_wg = 4;
  b.io_distances = io_distances;
  b.fwd_distance = io_distances ? 0 : 8192;
  b.bwd_distance = io_distances ? 0 : 8192;
  b.in_distance = io_distances ? 8192 : 0;
  b.out_distance = io_distances ? 8192 : 0;
  ek::format_kernel_names(&b);
  return b;
}

TEST(Names, PassKernelsAndCodelets) {
  const ek::block<double> d = factorised_block<double>(false);
  EXPECT_STREQ(d.kernel_names[ek::name_pass_columns], "fft_8192_fact_128_d");
  EXPECT_STREQ(d.kernel_names[ek::name_pass_rows], "fft_8192_fact_64_d");
  EXPECT_STREQ(d.kernel_names[ek::name_n0_fact0], "fft_16_s");
  EXPECT_STREQ(d.kernel_names[ek::name_n0_fact1], "fft_8_s");
  EXPECT_STREQ(d.kernel_names[ek::name_n1_fact0], "fft_8_s");
  EXPECT_STREQ(d.kernel_names[ek::name_n1_fact1], "fft_8_s");
  const ek::block<float> s = factorised_block<float>(true);
  EXPECT_STREQ(s.kernel_names[ek::name_pass_columns], "fft_8192_fact_128_s");
  EXPECT_STREQ(s.kernel_names[ek::name_pass_rows], "fft_8192_fact_64_s");
  EXPECT_STREQ(s.kernel_names[ek::name_n0_fact0], "fft_16_s");
}

const char common_options_forward[] =
    "-DN0=128 -DN0_FACT0=16 -DN0_FACT1=8 -DN1=64 -DN1_FACT0=8 -DN1_FACT1=8 "
    "-DTRANSPOSE_OUTPUT_FUNC=fft_8192_fact_128_@ -DN0_FACT0_FUNC=fft_16_s -DN0_FACT1_FUNC=fft_8_s "
    "-DSAME_ORIENTATION_OUTPUT_FUNC=fft_8192_fact_64_@ -DN1_FACT0_FUNC=fft_8_s -DN1_FACT1_FUNC=fft_8_s "
    "-DFWD_DIR=1 -DBWD_DIR=0 -DIDIST=8192 -DODIST=8192 -DWORK_GROUP_SIZE=64 -DSUBGROUP_SIZE=8 -DCOLS_PER_WG=4 ";

std::string with_letter(std::string text, char letter) {
  for (char& ch : text)
    if (ch == '@') ch = letter;
  return text;
}

TEST(Options, DoubleStartsWithTheLongBlockMoves) {
  const ek::block<double> b = factorised_block<double>(false);
  EXPECT_EQ(std::string(ek::format_build_options(&b, ek::dir_forward).text),
            "-Dcl_tavir_subgroups_long " + with_letter(common_options_forward, 'd'));
}

TEST(Options, FloatAndTheBackwardBuild) {
  const ek::block<float> b = factorised_block<float>(true);
  EXPECT_EQ(std::string(ek::format_build_options(&b, ek::dir_forward).text), with_letter(common_options_forward, 's'));
  std::string backward = with_letter(common_options_forward, 's');
  backward.replace(backward.find("-DFWD_DIR=1 -DBWD_DIR=0"), 23, "-DFWD_DIR=0 -DBWD_DIR=1");
  EXPECT_EQ(std::string(ek::format_build_options(&b, ek::dir_backward).text), backward);
}

TEST(ProgramText, CarriesOnlyTheCodeletsOfItsFactors) {
  for (bool dbl : {false, true}) {
    const std::string text = kernels::program_text_c2c_8k(dbl);
    EXPECT_NE(text.find("fft_8_s("), std::string::npos);
    EXPECT_NE(text.find("fft_16_s("), std::string::npos);
    EXPECT_EQ(text.find("fft_4_s("), std::string::npos);
    EXPECT_EQ(text.find("fft_32_s("), std::string::npos);
    EXPECT_NE(text.find("TRANSPOSE_OUTPUT_FUNC("), std::string::npos);
    EXPECT_NE(text.find("SAME_ORIENTATION_OUTPUT_FUNC("), std::string::npos);
  }
}

// Builds `source` with `options` on the first OpenCL device; the build log
// on failure.
std::string build_failure(const std::string& source, const std::string& options) {
  cl_platform_id platform;
  cl_device_id device;
  if (clGetPlatformIDs(1, &platform, nullptr) != CL_SUCCESS ||
      clGetDeviceIDs(platform, CL_DEVICE_TYPE_ALL, 1, &device, nullptr) != CL_SUCCESS)
    return "no OpenCL device";
  cl_int err = CL_SUCCESS;
  cl_context context = clCreateContext(nullptr, 1, &device, nullptr, nullptr, &err);
  const char* text = source.c_str();
  cl_program program = clCreateProgramWithSource(context, 1, &text, nullptr, &err);
  err = clBuildProgram(program, 1, &device, options.c_str(), nullptr, nullptr);
  std::string log;
  if (err != CL_SUCCESS) {
    size_t size = 0;
    clGetProgramBuildInfo(program, device, CL_PROGRAM_BUILD_LOG, 0, nullptr, &size);
    log.resize(size);
    clGetProgramBuildInfo(program, device, CL_PROGRAM_BUILD_LOG, size, &log[0], nullptr);
    log = "build error " + std::to_string(err) + ": " + log;
  }
  clReleaseProgram(program);
  clReleaseContext(context);
  return log;
}

// Declarations standing in for the vendor's sub-group built-ins, so that the
// lane-pair form of the text is compiled (not run) on a device without them.
const char lane_pair_stand_ins[] = R"(#define cl_tavir_subgroups 1
#define tavir_sub_group_shuffle_xor(v, m) (v)
#define tavir_sub_group_block_read_ul(p) (*(p))
#define tavir_sub_group_block_write_ul(p, v) (*(p) = (v))
#define tavir_sub_group_block_read(p) (*(p))
#define tavir_sub_group_block_write(p, v) (*(p) = (v))
#define tavir_reqd_sub_group_size(n)
)";

class LaneForms : public ::testing::TestWithParam<bool> {};

TEST_P(LaneForms, BothFormsCompile) {
  const bool dbl = GetParam();
  const std::string options = dbl ? "-Dcl_tavir_subgroups_long " + with_letter(common_options_forward, 'd')
                                  : with_letter(common_options_forward, 's');
  const std::string text = kernels::program_text_c2c_8k(dbl);
  EXPECT_EQ(build_failure(text, options), "") << "portable form";
  EXPECT_EQ(build_failure(lane_pair_stand_ins + text, options), "") << "lane-pair form";
}

INSTANTIATE_TEST_SUITE_P(EightK, LaneForms, ::testing::Values(false, true));

}  // namespace
}  // namespace eight_k_test
