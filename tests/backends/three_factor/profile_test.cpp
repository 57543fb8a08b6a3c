// Acceptance and plans of the three-factor backend under the GPU profile of
// the process (one CTest entry per scenario, BACKEND_SCENARIO names it):
// names and build options character for character, declines that leave the
// record untouched, architecture-specific factors, caps and build options.
#include <string>

#include "dft/gpu/core/backend_catalogue.hpp"
#include "tests/backends/support/option_goldens.hpp"
#include "tests/backends/three_factor/three_factor_case.hpp"
#include "tests/backends/support/scenario_test.hpp"

namespace three_factor_test {
namespace {

using backend_test::scenario;

// A record the backend declined is as it was before the commit.
void expect_declined_untouched(const committed_record& r) {
  EXPECT_NE(r.commit_status(), 0);
  EXPECT_FALSE(r.committed_here());
  backend_test::expect_no_backend_state(r.record());
}

record_config forward_only(bool dp, std::int64_t n) {
  record_config c;
  c.double_precision = dp;
  c.length = n;
  c.directions = dft::directions_forward;
  return c;
}

SCENARIO_TEST(ThreeFactorProfile, GulonNamesAndOptions, "gulon") {
  committed_record r(io_distances_160());
  ASSERT_TRUE(r.committed_here()) << "status " << r.commit_status();
  const tf::block<double>& b = r.plan<double>();
  EXPECT_STREQ(b.kernel_names[0], "fft_40_rowbatch0_d");
  EXPECT_STREQ(b.kernel_names[1], "fft_2_rowbatch1_d");
  EXPECT_STREQ(b.kernel_names[2], "fft_2_rowbatch2_d");
  EXPECT_STREQ(b.codelet_names[0], "fft_40_s");
  EXPECT_STREQ(b.codelet_names[2], "fft_2_s");
  EXPECT_STREQ(tf::program_name_double, "gpu_framework_c2c_1d_3_facts.qez_dft_gpu_bkd_c2c_1d_sycl_3_facts_d");
  EXPECT_EQ(tf::build_options(b, tf::pass_0, tf::dir_forward),
            backend_test::golden_options("three_factor", backend_test::precision::double_precision,
                                         "160 x 3 input/output distances on Gulon, pass 0 forward"));
  // Input/output distances serve both directions unchanged.
  EXPECT_EQ(tf::build_options(b, tf::pass_2, tf::dir_backward),
            backend_test::golden_options("three_factor", backend_test::precision::double_precision,
                                         "160 x 3 input/output distances on Gulon, pass 2 backward"));
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

SCENARIO_TEST(ThreeFactorProfile, GulonSingleNames, "gulon") {
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
            backend_test::golden_options("three_factor", backend_test::precision::single_precision,
                                         "324 on Gulon, pass 1 forward"));
  EXPECT_EQ(r.record()->data_arrays, 1u);
  EXPECT_EQ(r.record()->workspace_bytes[0], b.class_bytes[0] + b.class_bytes[1]);
}

SCENARIO_TEST(ThreeFactorProfile, GulonDeclinesWithoutTouchingTheRecord, "gulon") {
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

SCENARIO_TEST(ThreeFactorProfile, FenwaFixedRowAndRegisterFileOption, "fenwa") {
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
  EXPECT_ACCURATE(run_and_measure(r, direction::forward, container::usm), true, 21000);
  // Single precision has no fixed rows.
  tf::factors f{};
  ASSERT_TRUE(tf::choose_factors<float>(21000, QEZ_GPU_ARCH_FENWA, &f));
  EXPECT_EQ(f.f[0], 60);
}

// The other fixed row, computed in both directions on both containers.
SCENARIO_TEST(ThreeFactorProfile, FenwaFixedRowOf29400, "fenwa") {
  record_config c;
  c.length = 29400;
  c.fwd_scale = 1.0 / 29400;
  c.bwd_scale = 0.5;
  committed_record r(c);
  ASSERT_TRUE(r.committed_here()) << "status " << r.commit_status();
  const tf::block<double>& b = r.plan<double>();
  EXPECT_EQ(b.fact[0], 28);
  EXPECT_EQ(b.fact[1], 35);
  EXPECT_EQ(b.fact[2], 30);
  for (container k : backend_test::both_containers)
    for (direction d : backend_test::both_directions) EXPECT_ACCURATE(run_and_measure(r, d, k), true, c.length);
}

SCENARIO_TEST(ThreeFactorProfile, HarixWithoutSubGroupsOf8Declines, "harix") {
  committed_record r(forward_only(true, 160));
  expect_declined_untouched(r);
}

SCENARIO_TEST(ThreeFactorProfile, HarixLargeTemporaryCap, "harix_8") {
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

SCENARIO_TEST(ThreeFactorProfile, UnknownGpuDeclines, "unknown") {
  committed_record r(forward_only(true, 160));
  expect_declined_untouched(r);
}

}  // namespace
}  // namespace three_factor_test
