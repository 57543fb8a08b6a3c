#include "tests/backends/support/option_goldens.hpp"

#include <cstring>

#include <gtest/gtest.h>

namespace backend_test {

namespace {

struct option_golden {
  const char* backend;
  precision p;
  const char* plan;
  const char* options;
};

// clang-format off
const option_golden goldens[] = {
    // default_1d
    {"default_1d", precision::double_precision, "1000 out of place, forward",
     "-DNONSUBGRP -DFWD_DIR=1 -DBWD_DIR=0 -DSCALE=(ftype)0x1p+0 -DFACT0=50 -DFACT1=20 -DFACT2=1 "
     "-DFACT3=1 -DIDIST=1000 -DODIST=0 -DISTRIDE=1 -DOSTRIDE=1 -DBATCH1=1 -DBATCH2=1 -DBATCH3=1 "
     "-DIDIST_Z1=0 -DIDIST_Z2=0 -DIDIST_Z3=0 -DODIST_Z1=0 -DODIST_Z2=0 -DODIST_Z3=0 "},
    {"default_1d", precision::single_precision, "53 x 3 in place, backward scaled",
     "-DNONSUBGRP -DFWD_DIR=0 -DBWD_DIR=1 -DSCALE=(ftype)0x1.3521dp-6 -DNEED_COPY_OUTPUT -DFACT0=53 "
     "-DFACT1=1 -DFACT2=1 -DFACT3=1 -DIDIST=53 -DODIST=60 -DISTRIDE=1 -DOSTRIDE=1 -DBATCH1=3 "
     "-DBATCH2=1 -DBATCH3=1 -DIDIST_Z1=60 -DIDIST_Z2=0 -DIDIST_Z3=0 -DODIST_Z1=60 -DODIST_Z2=0 "
     "-DODIST_Z3=0 "},
    {"default_1d", precision::double_precision, "53 x 2 x 3 input/output layout, forward",
     "-DNONSUBGRP -DFWD_DIR=1 -DBWD_DIR=0 -DSCALE=(ftype)0x1p+0 -DNEED_ODD_DEFAULT -DFACT0=53 "
     "-DFACT1=1 -DFACT2=1 -DFACT3=1 -DIDIST=53 -DODIST=300 -DISTRIDE=1 -DOSTRIDE=3 -DBATCH1=4 "
     "-DBATCH2=5 -DBATCH3=1 -DIDIST_Z1=200 -DIDIST_Z2=1000 -DIDIST_Z3=0 -DODIST_Z1=300 "
     "-DODIST_Z2=1500 -DODIST_Z3=0 "},
    // four_factor
    {"four_factor", precision::double_precision, "2880 x 2 on Harix, pass 0 forward",
     "-Dcl_tavir_subgroups_long -DFFT_LEN=60 -DNUM_FFTS=48 -DFACT0=10 -DFACT1=6 "
     "-DKERNEL_FUNC=fft_60_colbatch_8_d -DFACT0_FUNC=fft_10_s -DFACT1_FUNC=fft_6_s -DFWD_DIR=1 "
     "-DBWD_DIR=0 -DIDIST=2880 -DODIST=2880 -DWORK_GROUP_SIZE=96 -DSUBGROUP_SIZE=16 "
     "-DNUM_WORKGROUPS=6 -DTWIDDLE -DMULTIFACTOR_TWIDDLE "},
    {"four_factor", precision::double_precision, "2880 x 2 on Harix, pass 1 backward",
     "-Dcl_tavir_subgroups_long -DFFT_LEN=48 -DNUM_FFTS=60 -DFACT0=8 -DFACT1=6 "
     "-DKERNEL_FUNC=fft_48_colbatch_8_d -DFACT0_FUNC=fft_8_s -DFACT1_FUNC=fft_6_s -DFWD_DIR=0 "
     "-DBWD_DIR=1 -DIDIST=2880 -DODIST=2880 -DWORK_GROUP_SIZE=96 -DSUBGROUP_SIZE=16 "
     "-DNUM_WORKGROUPS=8 -DTWIDDLE -DMULTIFACTOR_TWIDDLE -DLOAD_STORE_TAIL=4 "},
    // four_factor_colbatch
    {"four_factor_colbatch", precision::double_precision, "Gulon 16, pass 0 forward",
     "-Dcl_tavir_subgroups_long -DFFT_LEN=64 -DFACT0=8 -DFACT1=8 -DKERNEL_FUNC=fft_64_colbatch_8_d "
     "-DFACT0_FUNC=fft_8_s -DFACT1_FUNC=fft_8_s -DFWD_DIR=1 -DBWD_DIR=0 -DIDIST=1 -DODIST=1 "
     "-DOUTER_IDIST=0 -DTEMP_OUTER_DIST=12288 -DWORK_GROUP_SIZE=128 -DSUBGROUP_SIZE=16 "
     "-DNUM_WORKGROUPS=64 -DTWIDDLE -DFOUR_FACT_COLBATCH -DTRANSPOSE_KERNEL -DISTRIDE=5 "
     "-DINNER_TAIL=3 -DTAIL_CHUNK_IDX=0 "},
    {"four_factor_colbatch", precision::double_precision, "Gulon 16, pass 1 backward",
     "-Dcl_tavir_subgroups_long -DFFT_LEN=64 -DFACT0=8 -DFACT1=8 -DKERNEL_FUNC=fft_64_colbatch_8_d "
     "-DFACT0_FUNC=fft_8_s -DFACT1_FUNC=fft_8_s -DFWD_DIR=0 -DBWD_DIR=1 -DIDIST=1 -DODIST=1 "
     "-DOUTER_IDIST=0 -DTEMP_OUTER_DIST=12288 -DWORK_GROUP_SIZE=128 -DSUBGROUP_SIZE=16 "
     "-DNUM_WORKGROUPS=64 -DTWIDDLE -DFOUR_FACT_COLBATCH -DMULTIFACTOR_TWIDDLE -DOUTER_ODIST=0 "
     "-DOSTRIDE=5 -DINNER_TAIL=3 -DTAIL_CHUNK_IDX=0 "},
    // md_2d
    {"md_2d", precision::double_precision, "fused 192, forward",
     "-Dcl_tavir_subgroups_long -DSUBGROUP_SIZE=8 -DFACT1_TAIL_IN_REALS=0 -DFACT0=16 -DPADFACT0=0 "
     "-DFACT1=12 -DPADFACT1=0 -DKERNEL_FUNC0=fft_192_rowbatch_d_dir0 -DFACT0_FUNC=fft_16_s "
     "-DFACT1_FUNC=fft_12_s -DFWD_DIR=1 -DBWD_DIR=0 -DBATCH_PER_GROUP=1 -DBATCH_FOR_LAST_GROUP=1 "
     "-DIDIST=192 -DODIST=192 -DWORK_GROUP_SIZE=32 -DFACT1_LOOP_BOUND=1 -DDIST_IN_X_DIR=1 "
     "-DDIST_IN_Y_DIR=192 -DDIST_IN_Z_DIR=36864 -DBATCH_DIST=36864 -DBATCH_SIZE_IN_X_DIR=192 "
     "-DBATCH_SIZE_IN_XY_PLANE=36864 -DKERNEL_FUNC1=fft_192_rowbatch_d_dir1 -DBATCH2=3 "
     "-DWORK_GROUP_SIZE_Y=128 -DWORK_GROUPS_IN_X_DIR=48 -DWORK_GROUPS_IN_A_3D_BATCH=9216 "
     "-DDIST_IN_XY_PLANE=36864 -DTAIL_READS_WRITES=0 "},
    // md_2d_small
    {"md_2d_small", precision::single_precision, "32 on Gulon, forward",
     "-DFACT0=32 -DKERNEL_FUNC=fft_32x32_fused_SLM_s -DFACT0_FUNC=fft_32_s -DFWD_DIR=1 -DBWD_DIR=0 "
     "-DWORK_GROUP_SIZE=64 -DSUBGROUP_SIZE=8 "},
    {"md_2d_small", precision::double_precision, "64 on Harix, backward",
     "-Dcl_tavir_subgroups_long -DFACT0=64 -DKERNEL_FUNC=fft_64x64_fused_SLM_d -DFACT0_FUNC=fft_64_s "
     "-DFWD_DIR=0 -DBWD_DIR=1 -DWORK_GROUP_SIZE=128 -DSUBGROUP_SIZE=8 -cl-tavir-256-GRF-per-thread "},
    // md_3d
    {"md_3d", precision::double_precision, "fused 135 cube x 3, backward",
     "-Dcl_tavir_subgroups_long -DSUBGROUP_SIZE=8 -DFACT1_TAIL_IN_REALS=2 -DFACT0=15 -DPADFACT0=1 "
     "-DFACT1=9 -DPADFACT1=3 -DKERNEL_FUNC0=fft_135_rowbatch_d_dir0 -DFACT0_FUNC=fft_15_s "
     "-DFACT1_FUNC=fft_9_s -DFWD_DIR=0 -DBWD_DIR=1 -DBATCH_PER_GROUP=1 -DBATCH_FOR_LAST_GROUP=1 "
     "-DIDIST=135 -DODIST=135 -DWORK_GROUP_SIZE=32 -DFACT1_LOOP_BOUND=1 -DDIST_IN_X_DIR=1 "
     "-DDIST_IN_Y_DIR=135 -DDIST_IN_Z_DIR=18225 -DBATCH_DIST=2460375 -DBATCH_SIZE_IN_X_DIR=135 "
     "-DBATCH_SIZE_IN_XY_PLANE=18225 -DKERNEL_FUNC1=fft_135_rowbatch_d_dir1 "
     "-DKERNEL_FUNC2=fft_135_rowbatch_d_dir2 -DBATCH2=3 -DWORK_GROUP_SIZE_Y=120 "
     "-DWORK_GROUPS_IN_X_DIR=34 -DWORK_GROUPS_IN_A_3D_BATCH=4590 -DDIST_IN_XY_PLANE=18225 "
     "-DTAIL_READS_WRITES=6 "},
    {"md_3d", precision::single_precision, "fused 128 square x 2, forward",
     "-DSUBGROUP_SIZE=8 -DFACT1_TAIL_IN_REALS=0 -DFACT0=16 -DPADFACT0=0 -DFACT1=8 -DPADFACT1=0 "
     "-DKERNEL_FUNC0=fft_128_rowbatch_s_dir0 -DFACT0_FUNC=fft_16_s -DFACT1_FUNC=fft_8_s -DFWD_DIR=1 "
     "-DBWD_DIR=0 -DBATCH_PER_GROUP=1 -DBATCH_FOR_LAST_GROUP=1 -DIDIST=128 -DODIST=128 "
     "-DWORK_GROUP_SIZE=16 -DFACT1_LOOP_BOUND=2 -DDIST_IN_X_DIR=1 -DDIST_IN_Y_DIR=128 "
     "-DDIST_IN_Z_DIR=16384 -DBATCH_DIST=16384 -DBATCH_SIZE_IN_X_DIR=128 "
     "-DBATCH_SIZE_IN_XY_PLANE=16384 -DKERNEL_FUNC1=fft_128_rowbatch_s_dir1 -DBATCH2=2 "
     "-DWORK_GROUP_SIZE_Y=128 -DWORK_GROUPS_IN_X_DIR=32 -DWORK_GROUPS_IN_A_3D_BATCH=4096 "
     "-DDIST_IN_XY_PLANE=16384 -DTAIL_READS_WRITES=0 "},
    // n_fact_colbatch
    {"n_fact_colbatch", precision::double_precision, "8 x 2 columns, forward",
     "-Dcl_tavir_subgroups_long -DINPUT_STRIDE=2 -DOUTPUT_STRIDE=2 -DINNER_BATCH=2 "
     "-DINNER_BATCH_PER_GROUP=2 -DINNER_BATCH_FOR_LAST_GROUP=2 -DOUTER_BATCH=1 "
     "-DOUTER_BATCH_INPUT_DISTANCE=0 -DOUTER_BATCH_OUTPUT_DISTANCE=0 -DFACT0=4 -DFACT1=2 -DFACT2=1 "
     "-DKERNEL_FUNC=fft_8_colbatched_once_2_d -DFACT0_FUNC=fft_4_s -DFACT1_FUNC=fft_2_s "
     "-DFACT2_FUNC=fft_1_s -DFWD_DIR=1 -DBWD_DIR=0 -DWORKGROUP_SIZE=8 -DSUBGROUP_SIZE=8 "
     "-DSUBGRPS_PER_FFT=1 -DSLM_BYTE_SIZE=288 "},
    // small_md
    {"small_md", precision::double_precision, "complex 64, forward",
     "-Dcl_tavir_subgroups_long -DSLM_BYTE_SIZE=1024 -DRANK=1 -DKERNEL_FUNC=cmplx_fft_64_d "
     "-DFWD_DIR=1 -DBWD_DIR=0 -DIDIST=64 -DODIST=64 -DWORKGROUP_SIZE=16 -DSUBGROUP_SIZE=16 "
     "-DBATCH_PER_GROUP=1 -DBATCH_FOR_LAST_GROUP=1 -DREAL_FFT=0 -DDIM0FACT0=64 "
     "-DDIM0FACT0_FUNC=fft_64_s -DCOPY_INPUT_IN_SLM -DLOAD_ROW_BY_ROW=0 -DINPUT_FP_PER_ROW_MIN=128 "
     "-DINPUT_FP_PER_ROW=128 -DROW_IDIST_FP=128 -DROW_ODIST_SLM_FP=128 -DFP_OUT_PER_FFT=128 "},
    {"small_md", precision::single_precision, "complex 16 x 32, backward",
     "-DSLM_BYTE_SIZE=4096 -DRANK=2 -DKERNEL_FUNC=cmplx_fft_16x32_s -DFWD_DIR=0 -DBWD_DIR=1 "
     "-DIDIST=512 -DODIST=512 -DWORKGROUP_SIZE=512 -DSUBGROUP_SIZE=32 -DBATCH_PER_GROUP=1 "
     "-DBATCH_FOR_LAST_GROUP=1 -DREAL_FFT=0 -DDIM0FACT0=8 -DDIM0FACT0_FUNC=fft_8_s -DDIM0FACT1=4 "
     "-DDIM0FACT1_FUNC=fft_4_s -DDIM1FACT0=4 -DDIM1FACT0_FUNC=fft_4_s -DDIM1FACT1=4 "
     "-DDIM1FACT1_FUNC=fft_4_s -DDIM1ISTRIDE=32 -DDIM1OSTRIDE=32 -DINPUT_FP_PER_ROW_MIN=64 "
     "-DINPUT_FP_PER_ROW=64 -DROW_IDIST_FP=64 -DROW_ODIST_SLM_FP=64 -DFP_OUT_PER_FFT=1024 "},
    {"small_md", precision::double_precision, "real 128, forward",
     "-Dcl_tavir_subgroups_long -DSLM_BYTE_SIZE=2048 -DRANK=1 -DKERNEL_FUNC=real_fft_128_d "
     "-DFWD_DIR=1 -DBWD_DIR=0 -DIDIST=128 -DODIST=65 -DWORKGROUP_SIZE=64 -DSUBGROUP_SIZE=16 "
     "-DBATCH_PER_GROUP=1 -DBATCH_FOR_LAST_GROUP=1 -DREAL_FFT=1 -DDIM0FACT0=8 "
     "-DDIM0FACT0_FUNC=fft_8_s -DDIM0FACT1=8 -DDIM0FACT1_FUNC=fft_8_s -DCOPY_INPUT_IN_SLM "
     "-DLOAD_ROW_BY_ROW=0 -DINPUT_FP_PER_ROW_MIN=128 -DINPUT_FP_PER_ROW=128 -DROW_IDIST_FP=128 "
     "-DROW_ODIST_SLM_FP=130 -DFP_OUT_PER_FFT=130 -cl-tavir-256-GRF-per-thread "},
    // three_factor
    {"three_factor", precision::double_precision, "160 x 3 input/output distances on Gulon, pass 0 forward",
     "-Dcl_tavir_subgroups_long -DFACT0=40 -DFACT1=2 -DFACT2=2 -DKERNEL_FUNC0=fft_40_rowbatch0_d "
     "-DKERNEL_FUNC1=fft_2_rowbatch1_d -DKERNEL_FUNC2=fft_2_rowbatch2_d -DFACT0_FUNC=fft_40_s "
     "-DFACT1_FUNC=fft_2_s -DFACT2_FUNC=fft_2_s -DFWD_DIR=1 -DBWD_DIR=0 -DIDIST=170 -DODIST=164 "
     "-DTDIST=164 -DWORK_GROUP_SIZE=64 -DSUBGROUP_SIZE=8 -DSUBGRPS_IN_GROUP=8 "},
    {"three_factor", precision::double_precision, "160 x 3 input/output distances on Gulon, pass 2 backward",
     "-Dcl_tavir_subgroups_long -DFACT0=40 -DFACT1=2 -DFACT2=2 -DKERNEL_FUNC0=fft_40_rowbatch0_d "
     "-DKERNEL_FUNC1=fft_2_rowbatch1_d -DKERNEL_FUNC2=fft_2_rowbatch2_d -DFACT0_FUNC=fft_40_s "
     "-DFACT1_FUNC=fft_2_s -DFACT2_FUNC=fft_2_s -DFWD_DIR=0 -DBWD_DIR=1 -DIDIST=170 -DODIST=164 "
     "-DTDIST=164 -DWORK_GROUP_SIZE=64 -DSUBGROUP_SIZE=8 -DSUBGRPS_IN_GROUP=8 "},
    {"three_factor", precision::single_precision, "324 on Gulon, pass 1 forward",
     "-DFACT0=36 -DFACT1=3 -DFACT2=3 -DKERNEL_FUNC0=fft_36_rowbatch0_s "
     "-DKERNEL_FUNC1=fft_3_rowbatch1_s -DKERNEL_FUNC2=fft_3_rowbatch2_s -DFACT0_FUNC=fft_36_s "
     "-DFACT1_FUNC=fft_3_s -DFACT2_FUNC=fft_3_s -DFWD_DIR=1 -DBWD_DIR=0 -DIDIST=324 -DODIST=324 "
     "-DTDIST=328 -DWORK_GROUP_SIZE=64 -DSUBGROUP_SIZE=8 -DSUBGRPS_IN_GROUP=8 "},
    // two_factor
    {"two_factor", precision::single_precision, "2048, backward",
     "-DFACT0=64 -DPADFACT0=0 -DFACT1=32 -DPADFACT1=0 -DKERNEL_FUNC=fft_2048_rowbatch_s "
     "-DFACT0_FUNC=fft_64_s -DFACT1_FUNC=fft_32_s -DFWD_DIR=0 -DBWD_DIR=1 -DIDIST=0 -DODIST=0 "
     "-DWORK_GROUP_SIZE=64 -DSUBGROUP_SIZE=8 -DFACT1_LOOP_BOUND=2 "},
    {"two_factor", precision::double_precision, "1020 x 5, forward",
     "-Dcl_tavir_subgroups_long -DFACT0=34 -DPADFACT0=2 -DFACT1=30 -DPADFACT1=2 "
     "-DKERNEL_FUNC=fft_1020_rowbatch_d -DFACT0_FUNC=fft_34_default0_s -DFACT1_FUNC=fft_30_s "
     "-DFWD_DIR=1 -DBWD_DIR=0 -DIDIST=1020 -DODIST=1020 -DWORK_GROUP_SIZE=72 -DSUBGROUP_SIZE=8 "
     "-DFACT1_LOOP_BOUND=1 -DFACT0_DEFAULT_FUNC=fft_34_default0_s "},
    {"two_factor", precision::double_precision, "1024, backward",
     "-Dcl_tavir_subgroups_long -DFACT0=32 -DPADFACT0=0 -DFACT1=32 -DPADFACT1=0 "
     "-DKERNEL_FUNC=fft_1024_rowbatch_d -DFACT0_FUNC=fft_32_s -DFACT1_FUNC=fft_32_s -DFWD_DIR=0 "
     "-DBWD_DIR=1 -DIDIST=1024 -DODIST=1024 -DWORK_GROUP_SIZE=64 -DSUBGROUP_SIZE=8 "
     "-DFACT1_LOOP_BOUND=1 "},
    {"two_factor", precision::single_precision, "2048 x 3, forward",
     "-DFACT0=64 -DPADFACT0=0 -DFACT1=32 -DPADFACT1=0 -DKERNEL_FUNC=fft_2048_rowbatch_s "
     "-DFACT0_FUNC=fft_64_s -DFACT1_FUNC=fft_32_s -DFWD_DIR=1 -DBWD_DIR=0 -DIDIST=2048 -DODIST=2048 "
     "-DWORK_GROUP_SIZE=64 -DSUBGROUP_SIZE=8 -DFACT1_LOOP_BOUND=2 "},
    {"two_factor", precision::single_precision, "4096, forward",
     "-DFACT0=64 -DPADFACT0=0 -DFACT1=64 -DPADFACT1=0 -DKERNEL_FUNC=fft_4096_rowbatch_s "
     "-DFACT0_FUNC=fft_64_s -DFACT1_FUNC=fft_64_s -DFWD_DIR=1 -DBWD_DIR=0 -DIDIST=4096 -DODIST=4096 "
     "-DWORK_GROUP_SIZE=128 -DSUBGROUP_SIZE=8 -DFACT1_LOOP_BOUND=1 "},
    // very_large_1d
    {"very_large_1d", precision::single_precision, "real kernel, forward-backward distances, forward",
     "-DFWD_DIR=1 -DBWD_DIR=0 -DBWD_D=33554433 -DKERNEL_FUNC=r2c_kernel_s "},
    {"very_large_1d", precision::single_precision, "real kernel, forward-backward distances, backward",
     "-DFWD_DIR=0 -DBWD_DIR=1 -DBWD_D=33554433 -DKERNEL_FUNC=c2r_kernel_s "},
    {"very_large_1d", precision::single_precision, "real kernel, input-output distances, forward",
     "-DFWD_DIR=1 -DBWD_DIR=0 -DBWD_D=33554437 -DKERNEL_FUNC=r2c_kernel_s "},
    {"very_large_1d", precision::single_precision, "real kernel, input-output distances, backward",
     "-DFWD_DIR=0 -DBWD_DIR=1 -DBWD_D=67108866 -DKERNEL_FUNC=c2r_kernel_s "},
};
// clang-format on

}  // namespace

const char* golden_options(const char* backend, precision p, const char* plan) {
  for (const option_golden& g : goldens)
    if (std::strcmp(g.backend, backend) == 0 && g.p == p && std::strcmp(g.plan, plan) == 0) return g.options;
  ADD_FAILURE() << "no golden options for " << backend << " " << (is_double(p) ? "double" : "single") << " " << plan;
  return "";
}

}  // namespace backend_test
