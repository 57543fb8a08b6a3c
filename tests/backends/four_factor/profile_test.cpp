// Acceptance and plans of the four-factor backend under the GPU profile of
// the process (one CTest entry per scenario, BACKEND_SCENARIO names it):
// the frame tests, the device check per architecture, sub-group sizes,
// local memory, work-group limits, tile counts, names and build options.
#include <string>

#include "dft/gpu/core/backend_catalogue.hpp"
#include "tests/backends/four_factor/four_factor_case.hpp"
#include "tests/backends/support/option_goldens.hpp"
#include "tests/backends/support/scenario_test.hpp"

namespace four_factor_test {
namespace {

using backend_test::scenario;

// The backend's own status for a record that the list walk did not commit
// (the walk reports the terminator's status), and the record left without
// a private block or compute entries.
int own_status_of_declined(const committed_record& r) {
  EXPECT_FALSE(r.committed_here());
  EXPECT_EQ(r.record()->bkd_data, nullptr);
  EXPECT_EQ(r.record()->compute_fwd, nullptr);
  const dft::backend_table* t = table_of(r.config().double_precision);
  const std::uint32_t threads = r.record()->threads;
  const int status = t->bkd_commit(t, r.record());
  backend_test::expect_no_backend_state(r.record());
  EXPECT_EQ(r.record()->threads, threads);
  return status;
}

record_config forward_only(bool dp, std::int64_t n) {
  record_config c;
  c.double_precision = dp;
  c.length = n;
  c.directions = dft::directions_forward;
  c.internal_workspace = false;
  return c;
}

// ---------------------------------------------------------------------------
// Harix: sub-groups {16, 32}, one tile, 128 KiB of local memory.

SCENARIO_TEST(FourFactorProfile, HarixNamesAndOptions, "harix") {
  record_config c;
  c.length = 2880;  // 60 (10 x 6) x 48 (8 x 6)
  c.count = 2;
  c.in_distance = 2880;
  c.out_distance = 2880;
  committed_record r(c);
  ASSERT_TRUE(r.committed_here()) << "status " << r.commit_status();
  const ff::block<double>& s = r.plan<double>();
  EXPECT_EQ(s.architecture, QEZ_GPU_ARCH_HARIX);
  EXPECT_EQ(s.min_sub_group_size, 16);
  EXPECT_EQ(s.chunk, 2);
  EXPECT_EQ(s.in_place, 0u);
  EXPECT_EQ(r.record()->data_arrays, 2u);
  EXPECT_STREQ(s.passes[ff::pass_0].kernel_name, "fft_60_colbatch_8_d");
  EXPECT_STREQ(s.passes[ff::pass_0].fact0_func, "fft_10_s");
  EXPECT_STREQ(s.passes[ff::pass_0].fact1_func, "fft_6_s");
  EXPECT_STREQ(s.passes[ff::pass_1].kernel_name, "fft_48_colbatch_8_d");
  EXPECT_STREQ(ff::transpose_program_name, "gpu_framework_c2c_1d_2_fact_colbatch_transpose");
  EXPECT_STREQ(ff::twiddle_program_name, "gpu_framework_c2c_1d_4_facts_twiddle");
  EXPECT_EQ(ff::build_options(s, ff::pass_0, ff::dir_forward),
            backend_test::golden_options("four_factor", backend_test::precision::double_precision,
                                         "2880 x 2 on Harix, pass 0 forward"));
  EXPECT_EQ(ff::build_options(s, ff::pass_1, ff::dir_backward),
            backend_test::golden_options("four_factor", backend_test::precision::double_precision,
                                         "2880 x 2 on Harix, pass 1 backward"));
}

SCENARIO_TEST(FourFactorProfile, HarixSingleOptionsAndSwappedDistances, "harix") {
  record_config c = forward_only(false, 2048);
  committed_record r(c);
  ASSERT_TRUE(r.committed_here()) << "status " << r.commit_status();
  ff::block<float>& s = r.plan<float>();
  EXPECT_STREQ(s.passes[ff::pass_0].kernel_name, "fft_64_colbatch_8_s");
  // Forward/backward distances swap for the backward direction.
  s.batch.fwd_distance = 3000;
  s.batch.bwd_distance = 4000;
  const std::string fwd = ff::build_options(s, ff::pass_0, ff::dir_forward);
  const std::string bwd = ff::build_options(s, ff::pass_0, ff::dir_backward);
  EXPECT_EQ(fwd.rfind("-DFFT_LEN=64 -DNUM_FFTS=32 -DFACT0=8 -DFACT1=8 ", 0), 0u) << fwd;
  EXPECT_NE(fwd.find("-DIDIST=3000 -DODIST=4000 "), std::string::npos) << fwd;
  EXPECT_NE(bwd.find("-DIDIST=4000 -DODIST=3000 "), std::string::npos) << bwd;
  EXPECT_EQ(fwd.find("LOAD_STORE_TAIL"), std::string::npos);
}

// The batch chunk the device caps `howmany` transforms of 2^20 points to: a
// copy of the plan of committed record `r` with its length and count
// overwritten.
std::int64_t capped_chunk(const committed_record& r, std::int64_t howmany) {
  ff::block<double> scratch = r.plan<double>();
  scratch.length = 1 << 20;
  scratch.batch.howmany = howmany;
  EXPECT_EQ(ff::cap_batch_chunk(&scratch), 0);
  return scratch.chunk;
}

SCENARIO_TEST(FourFactorProfile, HarixOneTileChunk, "harix") {
  committed_record r(forward_only(true, 2048));
  ASSERT_TRUE(r.committed_here()) << "status " << r.commit_status();
  EXPECT_EQ(capped_chunk(r, 10), 4);
  EXPECT_EQ(capped_chunk(r, 3), 3);
}

SCENARIO_TEST(FourFactorProfile, HarixFrameDeclines, "harix") {
  {
    record_config c;
    c.length = 2047;  // 23 x 89
    committed_record r(c);
    EXPECT_EQ(own_status_of_declined(r), dft::status_not_handled);
  }
  {
    record_config c;
    c.length = 1024;  // below 2048
    committed_record r(c);
    EXPECT_EQ(own_status_of_declined(r), dft::status_not_handled);
  }
  {
    record_config c;
    c.count = 3;
    c.io_distances = true;
    c.in_distance = c.out_distance = 2049;
    committed_record r(c);
    EXPECT_EQ(own_status_of_declined(r), dft::status_not_handled);
  }
  {
    record_config c;
    c.count = 1;  // a single transform ignores its distances
    c.in_distance = 2049;
    c.out_distance = 2050;
    committed_record r(c);
    EXPECT_TRUE(r.committed_here()) << "status " << r.commit_status();
  }
  {
    // Without a queue: a length the backend never takes declines, a length
    // it plans for is an internal error; the record stays as it was.
    committed_record r(forward_only(true, 2048));
    ASSERT_TRUE(r.committed_here());
    r.record()->release(r.record(), nullptr);
    ASSERT_EQ(r.record()->bkd_data, nullptr);
    r.record()->queue = nullptr;
    const dft::backend_table* t = table_of(true);
    EXPECT_EQ(t->bkd_commit(t, r.record()), dft::status_internal_error);
    EXPECT_EQ(r.record()->bkd_data, nullptr);
    EXPECT_EQ(r.record()->backend, nullptr);
    r.record()->work_lengths.records[0].length = 1024;
    EXPECT_EQ(t->bkd_commit(t, r.record()), dft::status_not_handled);
    r.record()->work_lengths.records[0].length = 2048;
    r.record()->queue = &backend_test::gpu_test_queue();
  }
  {
    // Post-twiddle batches and offsets are not taken.
    record_config c = forward_only(true, 2048);
    committed_record r(c);
    ASSERT_TRUE(r.committed_here());
    const dft::backend_table* t = table_of(true);
    r.record()->fused_twiddle_length = 4;
    EXPECT_EQ(t->bkd_commit(t, r.record()), dft::status_not_handled);
    r.record()->fused_twiddle_length = 0;
    r.record()->in_offset = 1;
    EXPECT_EQ(t->bkd_commit(t, r.record()), dft::status_not_handled);
    r.record()->in_offset = 0;
    EXPECT_TRUE(r.committed_here());  // declines leave the committed plan alone
  }
}

SCENARIO_TEST(FourFactorProfile, HarixRecordOperations, "harix") {
  committed_record r(forward_only(true, 2048));
  ASSERT_TRUE(r.committed_here());
  // bkd_free of a record committed to another backend.
  const dft::backend_table* other = table_of(false);
  EXPECT_EQ(other->bkd_free(other, r.record()), dft::status_internal_error);
  EXPECT_TRUE(r.committed_here());
  // A caller workspace given as nothing.
  const dft::backend_table* t = table_of(true);
  EXPECT_EQ(t->add_workspace(nullptr, dft::container_usm, 0, r.record(), dft::workspace_part_both, nullptr),
            dft::status_no_workspace);
  // add_workspace without a private block.
  record_config declined;
  declined.length = 2047;
  committed_record d(declined);
  EXPECT_EQ(t->add_workspace(r.workspace().usm(), dft::container_usm, 0, d.record(), dft::workspace_part_both,
                             nullptr),
            dft::status_invalid_configuration);
}

SCENARIO_TEST(FourFactorProfile, HarixLargestLength, "harix") {
  // 1024 x 1024 in double needs 128 KiB of local memory per pass: it fits.
  committed_record r(forward_only(true, 1 << 20));
  ASSERT_TRUE(r.committed_here()) << "status " << r.commit_status();
  EXPECT_EQ(r.plan<double>().passes[ff::pass_0].slm_bytes, 131072u);
  EXPECT_EQ(r.plan<double>().chunk, 1);
}

SCENARIO_TEST(FourFactorProfile, HarixSmallLocalMemory, "harix_64k") {
  {
    committed_record r(forward_only(true, 1 << 20));
    EXPECT_EQ(own_status_of_declined(r), dft::status_not_handled);
  }
  committed_record single(forward_only(false, 1 << 20));  // 64 KiB per pass
  EXPECT_TRUE(single.committed_here()) << "status " << single.commit_status();
}

SCENARIO_TEST(FourFactorProfile, HarixTwoTilesNoChunk, "harix_tiles2") {
  committed_record r(forward_only(true, 2048));
  ASSERT_TRUE(r.committed_here()) << "status " << r.commit_status();
  EXPECT_EQ(capped_chunk(r, 10), 10);
}

SCENARIO_TEST(FourFactorProfile, SmallWorkGroupLimitDeclines, "harix_wg64") {
  committed_record r(forward_only(true, 2048));  // work-groups of 16 x 8
  EXPECT_EQ(own_status_of_declined(r), dft::status_not_handled);
}

// ---------------------------------------------------------------------------
// Other profiles.

SCENARIO_TEST(FourFactorProfile, SubGroupsOfEightDecline, "gulon") {
  committed_record r(forward_only(true, 2048));
  EXPECT_EQ(own_status_of_declined(r), dft::status_not_handled);
}

SCENARIO_TEST(FourFactorProfile, AdmittedArchitecturesAccept, "gulon_16", "dorik_16", "jorva") {
  for (bool dp : {true, false}) {
    committed_record r(forward_only(dp, 2048));
    ASSERT_TRUE(r.committed_here()) << "status " << r.commit_status();
    const std::int64_t sg = dp ? r.plan<double>().min_sub_group_size : r.plan<float>().min_sub_group_size;
    EXPECT_EQ(sg, 16);
  }
  // A real transform under the profile.
  record_config c;
  c.double_precision = scenario() != "dorik_16";
  c.length = 2048;
  committed_record r(c);
  ASSERT_TRUE(r.committed_here()) << "status " << r.commit_status();
  EXPECT_ACCURATE(run_and_measure(r, direction::forward, container::usm), c.double_precision, c.length);
}

SCENARIO_TEST(FourFactorProfile, DeviceCheckFails, "gulon_eu40", "fenwa_16", "unknown") {
  committed_record r(forward_only(true, 2048));
  EXPECT_EQ(own_status_of_declined(r), dft::status_internal_error);
}

}  // namespace
}  // namespace four_factor_test
