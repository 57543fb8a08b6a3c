// Acceptance and plans of the three-factor backend under the GPU profile of
// the process (one CTest entry per scenario, THREE_FACTOR_SCENARIO names it):
// names and build options character for character, declines that leave the
// record untouched, architecture-specific factors, caps and build options.
#include <cstdlib>
#include <string>

#include "dft/gpu/core/backend_catalogue.hpp"
#include "tests/backends/three_factor/three_factor_case.hpp"

namespace three_factor_test {
namespace {

std::string scenario() {
  const char* s = std::getenv("THREE_FACTOR_SCENARIO");
  return s != nullptr ? s : "";
}

#define REQUIRE_SCENARIO(name) \
  if (scenario() != (name)) GTEST_SKIP() << "scenario " << scenario()

// A record the backend declined is as it was before the commit.
void expect_declined_untouched(const committed_record& r) {
  EXPECT_NE(r.commit_status(), 0);
  EXPECT_FALSE(r.committed_here());
  EXPECT_EQ(r.record()->bkd_data, nullptr);
  EXPECT_EQ(r.record()->backend, nullptr);
  EXPECT_EQ(r.record()->compute_fwd, nullptr);
  EXPECT_EQ(r.record()->workspace_bytes[0] + r.record()->workspace_bytes[1], 0u);
}

record_config forward_only(bool dp, std::int64_t n) {
  record_config c;
  c.double_precision = dp;
  c.length = n;
  c.directions = dft::directions_forward;
  return c;
}

TEST(ThreeFactorProfile, GulonNamesAndOptions) {
  REQUIRE_SCENARIO("gulon");
  record_config c;
  c.length = 160;  // 40 x 2 x 2
  c.count = 3;
  c.io_distances = true;
  c.in_distance = 170;
  c.out_distance = 164;
  committed_record r(c);
  ASSERT_TRUE(r.committed_here()) << "status " << r.commit_status();
  const tf::block<double>& b = r.plan<double>();
  EXPECT_STREQ(b.kernel_names[0], "fft_40_rowbatch0_d");
  EXPECT_STREQ(b.kernel_names[1], "fft_2_rowbatch1_d");
  EXPECT_STREQ(b.kernel_names[2], "fft_2_rowbatch2_d");
  EXPECT_STREQ(b.codelet_names[0], "fft_40_s");
  EXPECT_STREQ(b.codelet_names[2], "fft_2_s");
  EXPECT_STREQ(tf::program_name_double, "gpu_framework_c2c_1d_3_facts.qez_dft_gpu_bkd_c2c_1d_sycl_3_facts_d");
  EXPECT_EQ(tf::build_options(b, tf::pass_0, tf::dir_forward),
            "-Dcl_tavir_subgroups_long -DFACT0=40 -DFACT1=2 -DFACT2=2 -DKERNEL_FUNC0=fft_40_rowbatch0_d "
            "-DKERNEL_FUNC1=fft_2_rowbatch1_d -DKERNEL_FUNC2=fft_2_rowbatch2_d -DFACT0_FUNC=fft_40_s "
            "-DFACT1_FUNC=fft_2_s -DFACT2_FUNC=fft_2_s -DFWD_DIR=1 -DBWD_DIR=0 -DIDIST=170 -DODIST=164 "
            "-DTDIST=164 -DWORK_GROUP_SIZE=64 -DSUBGROUP_SIZE=8 -DSUBGRPS_IN_GROUP=8 ");
  // Input/output distances serve both directions unchanged.
  EXPECT_EQ(tf::build_options(b, tf::pass_2, tf::dir_backward),
            "-Dcl_tavir_subgroups_long -DFACT0=40 -DFACT1=2 -DFACT2=2 -DKERNEL_FUNC0=fft_40_rowbatch0_d "
            "-DKERNEL_FUNC1=fft_2_rowbatch1_d -DKERNEL_FUNC2=fft_2_rowbatch2_d -DFACT0_FUNC=fft_40_s "
            "-DFACT1_FUNC=fft_2_s -DFACT2_FUNC=fft_2_s -DFWD_DIR=0 -DBWD_DIR=1 -DIDIST=170 -DODIST=164 "
            "-DTDIST=164 -DWORK_GROUP_SIZE=64 -DSUBGROUP_SIZE=8 -DSUBGRPS_IN_GROUP=8 ");
  EXPECT_EQ(b.global_size[0], 64u);   // ceil(4 / 32) x 64
  EXPECT_EQ(b.global_size[1], 192u);  // ceil(80 / 32) x 64
  EXPECT_EQ(b.global_size[2], 192u);
  EXPECT_EQ(b.slm_bytes[0], 512u * 40u);
  EXPECT_EQ(b.slm_bytes[1], 512u * 2u);
  EXPECT_EQ(b.transforms_per_chunk, 3u);
  EXPECT_EQ(r.record()->data_arrays, 2u);
  // Both directions: the tables twice.
  EXPECT_EQ(r.record()->workspace_bytes[0], 2 * (b.class_bytes[0] + b.class_bytes[1]));
  EXPECT_EQ(r.record()->workspace_bytes[1], b.temporary_bytes);
  EXPECT_GE(b.temporary_bytes, 3u * 164u * 16u);
}

TEST(ThreeFactorProfile, GulonSingleNames) {
  REQUIRE_SCENARIO("gulon");
  record_config c = forward_only(false, 324);  // 36 x 3 x 3
  c.count = 2;
  c.in_place = true;
  committed_record r(c);
  ASSERT_TRUE(r.committed_here()) << "status " << r.commit_status();
  const tf::block<float>& b = r.plan<float>();
  EXPECT_STREQ(b.kernel_names[0], "fft_36_rowbatch0_s");
  EXPECT_STREQ(b.kernel_names[1], "fft_3_rowbatch1_s");
  EXPECT_STREQ(b.codelet_names[0], "fft_36_s");
  EXPECT_STREQ(tf::program_name_single, "gpu_framework_c2c_1d_3_facts.qez_dft_gpu_bkd_c2c_1d_sycl_3_facts_s");
  EXPECT_EQ(tf::build_options(b, tf::pass_1, tf::dir_forward),
            "-DFACT0=36 -DFACT1=3 -DFACT2=3 -DKERNEL_FUNC0=fft_36_rowbatch0_s -DKERNEL_FUNC1=fft_3_rowbatch1_s "
            "-DKERNEL_FUNC2=fft_3_rowbatch2_s -DFACT0_FUNC=fft_36_s -DFACT1_FUNC=fft_3_s -DFACT2_FUNC=fft_3_s "
            "-DFWD_DIR=1 -DBWD_DIR=0 -DIDIST=324 -DODIST=324 -DTDIST=328 -DWORK_GROUP_SIZE=64 -DSUBGROUP_SIZE=8 "
            "-DSUBGRPS_IN_GROUP=8 ");
  EXPECT_EQ(r.record()->data_arrays, 1u);
  EXPECT_EQ(r.record()->workspace_bytes[0], b.class_bytes[0] + b.class_bytes[1]);
}

TEST(ThreeFactorProfile, GulonDeclinesWithoutTouchingTheRecord) {
  REQUIRE_SCENARIO("gulon");
  for (std::int64_t n : {162, 64004, 0 + 4, 8, 16, 64, 164}) {
    committed_record r(forward_only(true, n));
    SCOPED_TRACE(n);
    expect_declined_untouched(r);
  }
  committed_record single_too_long(forward_only(false, 262148));
  expect_declined_untouched(single_too_long);
  // Single precision needs even output distances in the prepared directions.
  record_config odd = forward_only(false, 160);
  odd.count = 2;
  odd.out_distance = 161;
  committed_record odd_output(odd);
  expect_declined_untouched(odd_output);
}

TEST(ThreeFactorProfile, FenwaFixedRowAndRegisterFileOption) {
  REQUIRE_SCENARIO("fenwa");
  committed_record r(forward_only(true, 21000));
  ASSERT_TRUE(r.committed_here()) << "status " << r.commit_status();
  const tf::block<double>& b = r.plan<double>();
  EXPECT_EQ(b.fact[0], 28);
  EXPECT_EQ(b.fact[1], 30);
  EXPECT_EQ(b.fact[2], 25);
  for (tf::pass p : {tf::pass_0, tf::pass_1, tf::pass_2}) {
    const std::string o = tf::build_options(b, p, tf::dir_forward);
    const std::string suffix = "-DSUBGRPS_IN_GROUP=8 -cl-tavir-256-GRF-per-thread ";
    ASSERT_GE(o.size(), suffix.size());
    EXPECT_EQ(o.substr(o.size() - suffix.size()), suffix) << o;
  }
  EXPECT_ACCURATE(run_and_measure(r, true, true), true, 21000);
  // Single precision has no fixed rows.
  tf::factors f{};
  ASSERT_TRUE(tf::choose_factors<float>(21000, QEZ_GPU_ARCH_FENWA, &f));
  EXPECT_EQ(f.f[0], 60);
}

TEST(ThreeFactorProfile, HarixWithoutSubGroupsOf8Declines) {
  REQUIRE_SCENARIO("harix");
  committed_record r(forward_only(true, 160));
  expect_declined_untouched(r);
}

TEST(ThreeFactorProfile, HarixLargeTemporaryCap) {
  REQUIRE_SCENARIO("harix_8");
  record_config c = forward_only(true, 4096);
  c.count = 1000;  // more than 42 MiB: one chunk under Harix's cap
  committed_record r(c);
  ASSERT_TRUE(r.committed_here()) << "status " << r.commit_status();
  const tf::block<double>& b = r.plan<double>();
  EXPECT_EQ(b.transforms_per_chunk, 1000u);
  EXPECT_GE(b.temporary_bytes, 1000u * 4100u * 16u);
  const std::string o = tf::build_options(b, tf::pass_0, tf::dir_forward);
  EXPECT_EQ(o.find("GRF"), std::string::npos) << o;
  EXPECT_LE(static_cast<std::int64_t>(backend_test::workspace_bytes(r.record())), estimator_of(c));
}

TEST(ThreeFactorProfile, UnknownGpuDeclines) {
  REQUIRE_SCENARIO("unknown");
  committed_record r(forward_only(true, 160));
  expect_declined_untouched(r);
}

}  // namespace
}  // namespace three_factor_test
