// Plans, options and workspace of the pre-twiddle backend under the Harix
// profile (smallest sub-group size 16, 128-byte base alignment): what the
// one-entry list commits, nothing run.
#include <string>

#include "tests/backends/n_facts_slm_pre_twiddle/pretw_case.hpp"

namespace pretw_test {
namespace {

record_config config(precision p, std::int64_t n, std::int64_t howmany, bool internal = false) {
  record_config c;
  c.p = p;
  c.length = n;
  c.howmany = howmany;
  c.internal_workspace = internal;
  return c;
}

bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

TEST(PreTwiddlePlan, TabledPlanOf2048x16Double) {
  committed_record r(config(precision::double_precision, 2048, 16));
  ASSERT_TRUE(r.committed_here()) << r.commit_status();
  const auto& b = r.plan<double>();
  EXPECT_EQ(b.slm.fact[0], 4);
  EXPECT_EQ(b.slm.fact[1], 8);
  EXPECT_EQ(b.slm.fact[2], 8);
  EXPECT_EQ(b.slm.fact[3], 8);
  EXPECT_EQ(b.slm.subgroup_count, 32);
  EXPECT_EQ(b.howmany, 16);
  EXPECT_EQ(b.slm.area_bytes[1], 512u);
  EXPECT_EQ(b.slm.area_bytes[2], 4096u);
  EXPECT_EQ(b.slm.main_table_bytes, 65536u);
  EXPECT_EQ(b.pretw_bytes, 524288u);
  EXPECT_EQ(r.record()->workspace_bytes[0], 512u + 4096u + 2 * 65536u + 524288u);
  EXPECT_EQ(r.record()->workspace_bytes[1], 0u);
  EXPECT_EQ(std::string(b.slm.kernel_name), "fft_2048_n_fact_slm_8_d");
  const std::string fwd = r.options(pt::dir_forward);
  EXPECT_TRUE(contains(fwd, "-Dcl_tavir_subgroups_long -DFFT_LEN=2048 -DFACT0=4 -DFACT1=8 -DFACT2=8 -DFACT3=8 "));
  EXPECT_TRUE(contains(fwd, "-DFWD_DIR=1 -DBWD_DIR=0 -DIDIST=2048 -DODIST=2048 -DWORK_GROUP_SIZE=512 "
                            "-DSUBGROUP_SIZE=16 -DUSE_PRE_TWIDDLE "));
  EXPECT_TRUE(contains(fwd, "-DUSE_PRECOMPUTED_PRE_TWIDDLE "));
  EXPECT_FALSE(contains(fwd, "RUNTIME"));
}

TEST(PreTwiddlePlan, RunTimePreTwiddleOf4096x8192) {
  committed_record r(config(precision::double_precision, 4096, 8192));
  ASSERT_TRUE(r.committed_here()) << r.commit_status();
  const auto& b = r.plan<double>();
  EXPECT_EQ(b.pretw_bytes, 0u);
  const std::string fwd = r.options(pt::dir_forward);
  EXPECT_TRUE(contains(fwd, "-DUSE_RUNTIME_PRE_TWIDDLE -DPRE_TW_NUM_PTS=33554432 ")) << fwd;
  EXPECT_FALSE(contains(fwd, "PRECOMPUTED"));
  // Only the tables of the n-factor plan: areas 1 and 2 and two main tables.
  EXPECT_EQ(r.record()->workspace_bytes[0],
            b.slm.area_bytes[1] + b.slm.area_bytes[2] + 2 * b.slm.main_table_bytes);
}

TEST(PreTwiddlePlan, BackwardOnlyBuildsTheBackwardKernel) {
  record_config c = config(precision::single_precision, 2048, 16);
  c.directions = dft::directions_backward;
  committed_record r(c);
  ASSERT_TRUE(r.committed_here()) << r.commit_status();
  const auto& b = r.plan<float>();
  EXPECT_EQ(b.slm.kernels[pt::dir_forward], nullptr);
  EXPECT_NE(b.slm.kernels[pt::dir_backward], nullptr);
  const std::string bwd = r.options(pt::dir_backward);
  EXPECT_TRUE(contains(bwd, "-DFWD_DIR=0 -DBWD_DIR=1 ")) << bwd;
  EXPECT_FALSE(contains(bwd, "cl_tavir_subgroups_long"));
  // One main table only.
  EXPECT_EQ(r.record()->workspace_bytes[0],
            b.slm.area_bytes[1] + b.slm.area_bytes[2] + b.slm.main_table_bytes + b.pretw_bytes);
}

TEST(PreTwiddlePlan, FloorsOfTheFloatInstance) {
  EXPECT_EQ(committed_record(config(precision::single_precision, 1024, 32768)).commit_status(),
            dft::status_invalid_descriptor);
  committed_record accepted(config(precision::single_precision, 1024, 32769));
  EXPECT_TRUE(accepted.committed_here()) << accepted.commit_status();
}

TEST(PreTwiddlePlan, LengthsWithoutAPlanAreDeclined) {
  // The list holds this backend only, so a decline becomes status 3.
  for (std::int64_t n : {256, 3000, 131072}) {
    SCOPED_TRACE(n);
    EXPECT_EQ(committed_record(config(precision::double_precision, n, 4)).commit_status(),
              dft::status_invalid_descriptor);
  }
}

TEST(PreTwiddlePlan, StridedRowsAreDeclined) {
  record_config c = config(precision::double_precision, 2048, 4);
  committed_record r(c);
  ASSERT_TRUE(r.committed_here());
  const std::int64_t strides[2] = {0, 2};
  ASSERT_EQ(r.record()->methods->set_input_strides(r.record(), strides), 0);
  EXPECT_EQ(r.record()->methods->commit(r.record()), dft::status_invalid_descriptor);
}

TEST(PreTwiddlePlan, CallerWorkspaceGivenTwice) {
  committed_record r(config(precision::double_precision, 2048, 16));
  ASSERT_TRUE(r.committed_here());
  ASSERT_EQ(r.give_buffer_workspace(), 0);
  const void* first = r.plan<double>().pretw_subbuffer;
  EXPECT_NE(first, nullptr);
  ASSERT_EQ(r.give_usm_workspace(), 0);
  // The buffer views went with the first workspace; the tables are USM now.
  EXPECT_EQ(r.plan<double>().pretw_subbuffer, nullptr);
  EXPECT_NE(r.plan<double>().pretw_table, nullptr);
  EXPECT_EQ(static_cast<const char*>(r.plan<double>().pretw_table) -
                static_cast<const char*>(r.plan<double>().slm.areas[1]),
            static_cast<std::ptrdiff_t>(512 + 4096 + 2 * 65536));
}

}  // namespace
}  // namespace pretw_test
