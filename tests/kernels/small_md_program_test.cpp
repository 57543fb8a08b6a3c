// Compile-time checks of the small multi-dimensional program: a complex
// double rank-1 configuration of two 16-point transforms per work-group
// builds, and each option set that breaks one of the program's conditions on
// the load stage or the export stage stops the build with that stage's
// message.
#include <gtest/gtest.h>

#include <string>

#include "dft/gpu/kernels/program_names.hpp"
#include "dft/gpu/kernels/program_texts.hpp"
#include "tests/kernels/opencl_runner.hpp"

namespace qez_kernels_test {
namespace {

// The values the options of one build carry.
struct small_md_options {
  int slm_bytes = 512;
  int idist = 16, odist = 16;
  bool copy_input = true;
  int load_row_by_row = 0;
  int input_fp_per_row = 32, row_idist_fp = 32, fp_out_per_fft = 32;
};

std::string option_line(const small_md_options& o) {
  std::string s = "-Dcl_tavir_subgroups_long -DSLM_BYTE_SIZE=" + std::to_string(o.slm_bytes) +
                  " -DRANK=1 -DKERNEL_FUNC=cmplx_fft_16_d -DFWD_DIR=1 -DBWD_DIR=0 -DIDIST=" +
                  std::to_string(o.idist) + " -DODIST=" + std::to_string(o.odist) +
                  " -DWORKGROUP_SIZE=8 -DSUBGROUP_SIZE=8 -DBATCH_PER_GROUP=2 -DBATCH_FOR_LAST_GROUP=2 -DREAL_FFT=0"
                  " -DDIM0FACT0=16 -DDIM0FACT0_FUNC=fft_16_s ";
  if (o.copy_input) s += "-DCOPY_INPUT_IN_SLM -DLOAD_ROW_BY_ROW=" + std::to_string(o.load_row_by_row) + " ";
  s += "-DINPUT_FP_PER_ROW_MIN=32 -DINPUT_FP_PER_ROW=" + std::to_string(o.input_fp_per_row) +
       " -DROW_IDIST_FP=" + std::to_string(o.row_idist_fp) + " -DROW_ODIST_SLM_FP=32 -DFP_OUT_PER_FFT=" +
       std::to_string(o.fp_out_per_fft) + " ";
  return s;
}

// The build log of the options; empty when the program built.
std::string build_log(const small_md_options& o) {
  namespace k = ulmara::qez::dft::kernels;
  const char* text = k::program_text(k::family_small_md_slm, true);
  EXPECT_NE(text, nullptr);
  std::string log;
  const cl_program p = opencl_runner::instance().program(text, option_line(o), &log);
  return p == nullptr ? (log.empty() ? std::string("build failed") : log) : std::string();
}

TEST(small_md_program, builds_with_options_that_fit) {
  if (!opencl_runner::instance().available()) GTEST_SKIP() << "no OpenCL device";
  EXPECT_EQ(build_log(small_md_options{}), "");
  small_md_options rows;  // input rows 64 complex apart, loaded one by one
  rows.idist = 64;
  rows.input_fp_per_row = 128;
  rows.load_row_by_row = 1;
  EXPECT_EQ(build_log(rows), "");
}

TEST(small_md_program, output_distance_below_one_transform_is_refused) {
  if (!opencl_runner::instance().available()) GTEST_SKIP() << "no OpenCL device";
  small_md_options o;
  o.odist = 8;  // 16 reals, one transform writes 32
  EXPECT_NE(build_log(o).find("small md kernel, export stage: output distance below FP_OUT_PER_FFT"),
            std::string::npos);
}

TEST(small_md_program, load_footprint_above_the_local_memory_is_refused) {
  if (!opencl_runner::instance().available()) GTEST_SKIP() << "no OpenCL device";
  small_md_options o;  // two rows 128 reals apart in one piece: 256 reals, 64 fit
  o.idist = 64;
  o.input_fp_per_row = 128;
  o.row_idist_fp = 128;
  EXPECT_NE(build_log(o).find("small md kernel, load stage: SLM_BYTE_SIZE below the load footprint"),
            std::string::npos);
}

TEST(small_md_program, one_factor_needs_the_input_copied) {
  if (!opencl_runner::instance().available()) GTEST_SKIP() << "no OpenCL device";
  small_md_options o;
  o.copy_input = false;
  EXPECT_NE(build_log(o).find("need COPY_INPUT_IN_SLM"), std::string::npos);
}

}  // namespace
}  // namespace qez_kernels_test
