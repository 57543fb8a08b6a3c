// The default 1D backend's plan without a device: factors, layout per
// direction, scratch and chunking per architecture, shared-memory mode, and
// the program names and build options the kernel cache sees.
#include <gtest/gtest.h>

#include <string>

#include "dft/gpu/backends/1d_basic/default_1d/plan.hpp"
#include "dft/gpu/core/workspace/estimate_config.hpp"
#include "tests/backends/support/option_goldens.hpp"

namespace {

using namespace ulmara::qez::dft;
using namespace ulmara::qez::dft::default_1d;
using factors = std::array<std::int64_t, pass_count>;

constexpr std::uint32_t arch_fenwa = 4, arch_gulon = 5, arch_harix = 6, arch_nopra = 9;
constexpr std::uint64_t cap_42_mib = 44040192;

plan_request request(std::int64_t n, std::int64_t batch = 1, std::int64_t distance = 0) {
  plan_request q;
  q.dimension = {n, 0, 0, 1, 1};
  if (batch > 1) {
    q.batch_rank = 1;
    q.batch[0] = {batch, 0, 0, distance, distance};
  }
  q.architecture = arch_gulon;
  return q;
}

template <class T>
struct planned {
  block<T> b{};
  std::uint64_t scratch_bytes = 0;
  explicit planned(const plan_request& q) { scratch_bytes = fill_plan(b, q); }
};

// ---------------------------------------------------------------------------
// Factors.

TEST(DefaultPlanFactors, FixedLengthsTakeTheirTableRow) {
  EXPECT_EQ(choose_factors(75), (factors{15, 5, 1, 1}));
  EXPECT_EQ(choose_factors(135), (factors{15, 9, 1, 1}));
  EXPECT_EQ(choose_factors(128), (factors{8, 16, 1, 1}));  // not the greedy 64 x 2
}

TEST(DefaultPlanFactors, GreedyUnderGrowingLimits) {
  EXPECT_EQ(choose_factors(1), (factors{1, 1, 1, 1}));
  EXPECT_EQ(choose_factors(2), (factors{2, 1, 1, 1}));
  EXPECT_EQ(choose_factors(1000), (factors{50, 20, 1, 1}));
  EXPECT_EQ(choose_factors(4096), (factors{64, 64, 1, 1}));
  EXPECT_EQ(choose_factors(30030), (factors{55, 42, 13, 1}));
  EXPECT_EQ(choose_factors(std::int64_t{1} << 20), (factors{64, 64, 64, 4}));
  EXPECT_EQ(choose_factors(std::int64_t{1} << 26), (factors{64, 64, 64, 256}));
  EXPECT_EQ(choose_factors(std::int64_t{1} << 27), (factors{128, 128, 128, 64}));
  EXPECT_EQ(choose_factors(257), (factors{257, 1, 1, 1}));
  EXPECT_EQ(choose_factors(4099), (factors{4099, 1, 1, 1}));
  // 67 * 67: the divisor above the limit leaves 67 for the first pass.
  EXPECT_EQ(choose_factors(67 * 67), (factors{67, 67, 1, 1}));
}

TEST(DefaultPlanFactors, GenericFactorsByPrecision) {
  EXPECT_FALSE(is_generic_factor<float>(53));
  EXPECT_TRUE(is_generic_factor<double>(53));
  EXPECT_TRUE(is_generic_factor<double>(59));
  EXPECT_TRUE(is_generic_factor<double>(61));
  EXPECT_FALSE(is_generic_factor<double>(64));
  EXPECT_TRUE(is_generic_factor<float>(65));
  EXPECT_TRUE(is_generic_factor<double>(4099));
}

// ---------------------------------------------------------------------------
// Names, options and program names, character for character.

TEST(DefaultPlanProgram, OutOfPlaceDoubleSingleTransform) {
  planned<double> p(request(1000));
  EXPECT_STREQ(p.b.kernel_names[0], "fft_1000_fact0_d");
  EXPECT_STREQ(p.b.kernel_names[3], "fft_1000_fact3_d");
  EXPECT_STREQ(p.b.func_names[0], "fft_50_s");
  EXPECT_STREQ(p.b.func_names[1], "fft_20_s");
  const direction_program fwd = describe_program(p.b, dir_forward);
  EXPECT_TRUE(fwd.fits);
  EXPECT_EQ(fwd.program_name, "gpu_framework_c2c_1d_def.qez_dft_gpu_bkd_c2c_1d_nonsubgrp_sycl_d.dcfo1000:1:1");
  EXPECT_EQ(fwd.options, backend_test::golden_options("default_1d", backend_test::precision::double_precision,
                                                      "1000 out of place, forward"));
  const direction_program bwd = describe_program(p.b, dir_backward);
  EXPECT_EQ(bwd.program_name, "gpu_framework_c2c_1d_def.qez_dft_gpu_bkd_c2c_1d_nonsubgrp_sycl_d.dcbo1000:1:1");
  const std::string head = "-DNONSUBGRP -DFWD_DIR=0 -DBWD_DIR=1 -DSCALE=(ftype)0x1p+0 -DFACT0=50 ";
  EXPECT_EQ(bwd.options.substr(0, head.size()), head);
  // Pass kernels 0 and 1 enter the source; 2 and 3 are printed but unused.
  const std::string source = program_source(p.b, fwd);
  EXPECT_NE(source.find("kernel void fft_1000_fact1_d("), std::string::npos);
  EXPECT_EQ(source.find("kernel void fft_1000_fact2_d("), std::string::npos);
  EXPECT_NE(fwd.kernel_texts[2].find("kernel void fft_1000_fact2_d("), std::string::npos);
}

TEST(DefaultPlanProgram, InPlaceSingleWithBatchAndScale) {
  plan_request q = request(53, 3, 60);
  q.in_place = true;
  q.bwd_scale = 1.0 / 53;
  planned<float> p(q);
  EXPECT_STREQ(p.b.func_names[0], "fft_53_s");  // single precision has the codelet
  const direction_program bwd = describe_program(p.b, dir_backward);
  EXPECT_EQ(bwd.program_name, "gpu_framework_c2c_1d_def.qez_dft_gpu_bkd_c2c_1d_nonsubgrp_sycl_s.scbi53:1:1*3:60:60");
  EXPECT_EQ(bwd.options, backend_test::golden_options("default_1d", backend_test::precision::single_precision,
                                                      "53 x 3 in place, backward scaled"));
  // In place with one pass: area A and the copy kernel.
  EXPECT_TRUE(needs_copy_kernel(p.b));
  EXPECT_EQ(p.b.need_area[area_a], 1);
  EXPECT_EQ(p.b.need_area[area_b], 0);
  EXPECT_EQ(p.scratch_bytes, 1280u);  // 3 x 53 x 8 bytes, rounded to 128
}

TEST(DefaultPlanProgram, GenericDoubleWithInputOutputLayout) {
  plan_request q;
  q.dimension = {53, 2, 3, 0, 0};
  q.batch_rank = 2;
  q.batch[0] = {4, 200, 300, 0, 0};
  q.batch[1] = {5, 1000, 1500, 0, 0};
  q.architecture = arch_gulon;
  planned<double> p(q);
  EXPECT_STREQ(p.b.func_names[0], "ODD_DEFAULT_FUNC");
  const direction_program fwd = describe_program(p.b, dir_forward);
  EXPECT_EQ(fwd.program_name,
            "gpu_framework_c2c_1d_def.qez_dft_gpu_bkd_c2c_1d_nonsubgrp_sycl_d.dcfo53:2:3*4:200:300*5:1000:1500");
  EXPECT_EQ(fwd.options, backend_test::golden_options("default_1d", backend_test::precision::double_precision,
                                                      "53 x 2 x 3 input/output layout, forward"));
  // Out of place with one pass: straight to the output, no scratch.
  EXPECT_EQ(p.scratch_bytes, 0u);
  EXPECT_NE(fwd.kernel_texts[0].find("ODD_DEFAULT_FUNC(fact"), std::string::npos);
}

// The first pass goes through local memory in groups of whole columns when
// it writes the scratch area with a register codelet; else it stores
// straight from registers.
TEST(DefaultPlanProgram, FirstPassStagedOnlyIntoScratchInWholeGroups) {
  struct row {
    std::int64_t n;
    bool in_place;
    std::int64_t columns;
  };
  const row rows[] = {
      {4096, false, 8},                      // 64 x 64: 64 columns
      {128, false, 8},                       // 8 x 16: 16 columns
      {std::int64_t{1} << 20, false, 8},     // 64 x 64 x 64 x 4
      {1000, false, 0},                      // 50 x 20: 20 columns
      {30030, false, 0},                     // 55 x 42 x 13: 546 columns
      {64, false, 0},                        // one pass into the output
      {64, true, 0},                         // one pass into area A, one column
      {75, false, 0},                        // shared-memory mode
  };
  for (const row& r : rows) {
    plan_request q = request(r.n, 2, r.n);
    q.in_place = r.in_place;
    planned<double> p(q);
    SCOPED_TRACE(r.n);
    EXPECT_EQ(staged_first_pass_columns(p.b), r.columns);
    const direction_program fwd = describe_program(p.b, dir_forward);
    const std::string columns = "enum { columns = " + std::to_string(r.columns) + " };";
    EXPECT_EQ(fwd.kernel_texts[0].find(columns) != std::string::npos, r.columns != 0);
    EXPECT_EQ(fwd.kernel_texts[0].find("local ftype tile[") != std::string::npos, r.columns != 0);
    EXPECT_EQ(fwd.kernel_texts[1].find("local ftype tile["), std::string::npos);
  }
  // 59 x 8: eight columns, but a generic first factor in double precision.
  planned<double> generic(request(59 * 8, 2, 59 * 8));
  EXPECT_EQ(generic.b.factors[0], 59);
  EXPECT_EQ(staged_first_pass_columns(generic.b), 0);
  planned<float> codelet(request(59 * 8, 2, 59 * 8));
  EXPECT_EQ(staged_first_pass_columns(codelet.b), 8);
}

TEST(DefaultPlanProgram, EvenGenericLastFactor) {
  planned<float> p(request(std::int64_t{1} << 25, 2, std::int64_t{1} << 25));  // (64, 64, 64, 128)
  EXPECT_STREQ(p.b.func_names[2], "fft_64_s");
  EXPECT_STREQ(p.b.func_names[3], "EVEN_DEFAULT_FUNC");
  const direction_program fwd = describe_program(p.b, dir_forward);
  const std::string head = "-DNONSUBGRP -DFWD_DIR=1 -DBWD_DIR=0 -DSCALE=(ftype)0x1p+0 -DNEED_EVEN_DEFAULT -DFACT0=64 ";
  EXPECT_EQ(fwd.options.substr(0, head.size()), head);
  EXPECT_EQ(fwd.program_name,
            "gpu_framework_c2c_1d_def.qez_dft_gpu_bkd_c2c_1d_nonsubgrp_sycl_s.scfo33554432:1:1*2:33554432:33554432");
}

// The longest layout numbers: 65 + 4 + 3 + 39 characters, then 48 per batch
// dimension, 255 in all, one short of the name buffer.
TEST(DefaultPlanProgram, LongestNumbersStillFit) {
  plan_request q;
  // The longest values whose offsets (factor x stride) still fit in 64 bits.
  const std::int64_t huge = 100000000000000000;
  q.dimension = {64, huge, huge, 0, 0};
  q.batch_rank = 3;
  q.fwd_scale = 1.0 / 3;
  for (int k = 0; k < 3; ++k) q.batch[k] = {1000000, huge + k, huge + k, 0, 0};
  planned<double> p(q);
  const direction_program d = describe_program(p.b, dir_forward);
  EXPECT_TRUE(d.fits);
  EXPECT_LE(d.program_name.size(), 255u);
  EXPECT_LT(d.options.size(), options_bytes);
}

// ---------------------------------------------------------------------------
// Architectures: register-file option and scratch cap.

TEST(DefaultPlanArchitecture, FenwaAlwaysAsksForTheLargeRegisterFile) {
  plan_request q = request(4096);
  q.architecture = arch_fenwa;
  planned<float> p(q);
  const std::string options = describe_program(p.b, dir_forward).options;
  EXPECT_EQ(options.substr(options.size() - 29), "-cl-tavir-256-GRF-per-thread ");
  EXPECT_EQ(p.b.chunk, 1);
}

TEST(DefaultPlanArchitecture, HarixAsksForItOnLongLengthsWithoutGenericFactors) {
  const auto options_of = [](std::int64_t n, bool dbl) {
    plan_request q = request(n);
    q.architecture = arch_harix;
    if (dbl) return describe_program(planned<double>(q).b, dir_forward).options;
    return describe_program(planned<float>(q).b, dir_forward).options;
  };
  const std::string grf = "-cl-tavir-256-GRF-per-thread ";
  EXPECT_EQ(options_of(std::int64_t{1} << 20, false).find(grf), std::string::npos);  // below 1048577
  EXPECT_NE(options_of(std::int64_t{1} << 21, false).find(grf), std::string::npos);
  EXPECT_EQ(options_of(std::int64_t{1} << 21, true).find(grf), std::string::npos);  // below 3750706
  EXPECT_NE(options_of(std::int64_t{1} << 22, true).find(grf), std::string::npos);
  EXPECT_EQ(options_of(4099 * 1024, false).find(grf), std::string::npos);  // generic factor
}

TEST(DefaultPlanArchitecture, ScratchCapByArchitecture) {
  for (std::uint32_t arch : {arch_fenwa, arch_gulon, arch_harix, arch_nopra}) {
    plan_request q = request(4096, 1000, 4096);
    q.architecture = arch;
    planned<double> p(q);
    const bool large = arch == arch_harix || arch == arch_nopra;
    // 1000 transforms of 64 KiB: 62.5 MiB, above the 42 MiB cap.
    EXPECT_EQ(p.b.chunk, large ? 1000 : static_cast<std::int64_t>(cap_42_mib / 65536)) << "arch " << arch;
    EXPECT_EQ(p.b.area_bytes, large ? 65536000u : cap_42_mib / 65536 * 65536) << "arch " << arch;
    EXPECT_EQ(describe_program(p.b, dir_forward).options.find("GRF") != std::string::npos, arch == arch_fenwa);
  }
}

// ---------------------------------------------------------------------------
// Shared-memory mode.

TEST(DefaultPlanSharedMemory, SeventyFiveWithWholeWorkGroups) {
  planned<double> d(request(75, 25, 75));
  EXPECT_EQ(d.b.slm_mode, 1);
  EXPECT_EQ(d.b.slm_bytes, 30000);
  EXPECT_EQ(d.scratch_bytes, 0u);
  planned<float> s(request(75, 25, 75));
  EXPECT_EQ(s.b.slm_bytes, 15000);
  const direction_program p = describe_program(d.b, dir_forward);
  EXPECT_NE(p.kernel_texts[0].find("local ftype *slmPtr"), std::string::npos);
  EXPECT_NE(p.kernel_texts[0].find("enum { fact1 = 5, partition = 3, registers = 15 };"), std::string::npos);
  EXPECT_NE(p.kernel_texts[0].find("fft_15_s(v, (ftype)1.0);"), std::string::npos);
  EXPECT_NE(p.kernel_texts[0].find("fft_5_s(w, (ftype)1.0);"), std::string::npos);
  EXPECT_EQ(program_source(d.b, p).find("kernel void fft_75_fact1_d("), std::string::npos);
}

TEST(DefaultPlanSharedMemory, SeventyFiveWithTenTransformsTakesTwoPasses) {
  planned<double> d(request(75, 10, 75));
  EXPECT_EQ(d.b.slm_mode, 0);
  EXPECT_EQ(d.b.need_area[area_a], 1);
  EXPECT_EQ(d.scratch_bytes, 12032u);  // 10 x 75 x 16 = 12000, rounded to 128
}

TEST(DefaultPlanSharedMemory, OneThirtyFiveSplitsColumnsUnevenly) {
  planned<double> d(request(135, 15, 135));
  EXPECT_EQ(d.b.slm_mode, 1);
  EXPECT_EQ(d.b.slm_bytes, 32400);
  const direction_program p = describe_program(d.b, dir_backward);
  EXPECT_NE(p.kernel_texts[0].find("enum { fact1 = 9, partition = 2, registers = 18 };"), std::string::npos);
  planned<float> s(request(135, 15, 135));
  EXPECT_EQ(s.b.slm_bytes, 16200);
}

TEST(DefaultPlanSharedMemory, ChunksAreWholeWorkGroupsAndTheLastOneIsShorter) {
  // 75 doubles: 1200 bytes per transform; the cap holds 36700 of them.
  planned<double> d(request(75, 36701, 75));
  EXPECT_EQ(d.b.slm_mode, 1);
  EXPECT_EQ(d.b.chunk, 36700);
  planned<double> e(request(135, 20400, 135));
  EXPECT_EQ(e.b.slm_mode, 1);
  EXPECT_EQ(e.b.chunk, 20385);  // 20389 transforms fit; whole groups of 15
  // Thirty transforms in one chunk would not fill whole groups of 25.
  EXPECT_EQ(planned<double>(request(75, 30, 75)).b.slm_mode, 0);
}

// ---------------------------------------------------------------------------
// Layout per direction.

TEST(DefaultPlanLayout, StridesPerDirection) {
  plan_request q;
  q.dimension = {16, 0, 0, 2, 3};
  planned<double> p(q);
  EXPECT_EQ(p.b.in_stride[dir_forward], 2);
  EXPECT_EQ(p.b.out_stride[dir_forward], 3);
  EXPECT_EQ(p.b.in_stride[dir_backward], 3);
  EXPECT_EQ(p.b.out_stride[dir_backward], 2);
  q.dimension = {16, 5, 7, 0, 0};
  planned<double> io(q);
  EXPECT_EQ(io.b.in_stride[dir_backward], 5);
  EXPECT_EQ(io.b.out_stride[dir_backward], 7);
}

TEST(DefaultPlanLayout, InPlaceOutputIsTheInputLayout) {
  plan_request q;
  q.dimension = {16, 4, 0, 0, 0};
  q.in_place = true;
  q.batch_rank = 1;
  q.batch[0] = {3, 80, 0, 0, 0};  // input distance only
  planned<float> p(q);
  EXPECT_EQ(p.b.out_stride[dir_forward], 4);
  EXPECT_EQ(output_distance(p.b, dir_forward, 0), 80);
  EXPECT_EQ(output_distance(p.b, dir_backward, 0), 80);
}

TEST(DefaultPlanLayout, DistanceConventions) {
  plan_request q;
  q.dimension = {16, 0, 0, 1, 1};
  q.batch_rank = 1;
  q.batch[0] = {3, 0, 0, 20, 30};
  planned<float> fb(q);
  EXPECT_EQ(fb.b.dist_in_out[0], 0);
  EXPECT_EQ(input_distance(fb.b, dir_forward, 0), 20);
  EXPECT_EQ(output_distance(fb.b, dir_forward, 0), 30);
  EXPECT_EQ(input_distance(fb.b, dir_backward, 0), 30);
  EXPECT_EQ(output_distance(fb.b, dir_backward, 0), 20);
  q.batch[0] = {3, 20, 30, 0, 0};
  planned<float> io(q);
  EXPECT_EQ(io.b.dist_in_out[0], 1);
  EXPECT_EQ(input_distance(io.b, dir_backward, 0), 20);
  EXPECT_EQ(output_distance(io.b, dir_backward, 0), 30);
}

// ---------------------------------------------------------------------------
// The scratch never exceeds what the estimator announced.

TEST(DefaultPlanWorkspace, NeverAboveTheEstimate) {
  for (std::int64_t n : {1, 7, 64, 75, 128, 135, 1000, 4096, 30030, 65536, 1 << 20}) {
    for (std::int64_t batch : {1, 10, 25, 700, 5000}) {
      for (bool in_place : {false, true}) {
        for (std::uint32_t arch : {arch_gulon, arch_nopra}) {
          plan_request q = request(n, batch, n);
          q.in_place = in_place;
          q.architecture = arch;
          dft_estimate_config c;
          c.rank = 1;
          c.lengths[0] = n;
          c.number_of_transforms = batch;
          c.in_place = in_place;
          const std::int64_t single = dft_c2c_default_gpu_bkd<float>().workspace_estimate(c);
          const std::int64_t dbl = dft_c2c_default_gpu_bkd<double>().workspace_estimate(c);
          EXPECT_LE(planned<float>(q).scratch_bytes, static_cast<std::uint64_t>(single)) << n << " x " << batch;
          EXPECT_LE(planned<double>(q).scratch_bytes, static_cast<std::uint64_t>(dbl)) << n << " x " << batch;
        }
      }
    }
  }
}

}  // namespace
