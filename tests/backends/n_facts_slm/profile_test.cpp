// Acceptance and plans under one GPU profile, named by BACKEND_SCENARIO
// (each scenario is its own CTest entry with its profile and overrides):
//   accept16  a recognised architecture whose smallest sub-group size is 16
//   accept32  the same with 32 (no 512-point plan, radix 16 first)
//   small_slm accept16 with 128 KiB of local memory
//   loop      accept16 with a work-group limit below the columns (256 or 1000)
//   decline   smallest sub-group size 8: declined
//   gate      an architecture or EU count outside the gate: status 7
#include <string>

#include "dft/api/status_codes.hpp"
#include "dft/gpu/core/backend_catalogue.hpp"
#include "tests/backends/n_facts_slm/slm_case.hpp"
#include "tests/backends/support/scenario_test.hpp"

namespace slm_test {
namespace {

using backend_test::scenario;

// The scenarios under which the backend accepts some lengths.
#define ACCEPTING_SCENARIOS "accept16", "accept32", "small_slm", "loop"

bool accepting() { return backend_test::scenario_is_one_of({ACCEPTING_SCENARIOS}); }
std::int64_t planned_subgroup() { return scenario() == "accept32" ? 32 : 16; }

const dft::backend_table& table_of(precision p) {
  return p == precision::double_precision ? dft::dft_c2c_n_facts_gpu_bkd_table_double
                                          : dft::dft_c2c_n_facts_gpu_bkd_table_float;
}

// Commits through this backend's own table (not the list walk) and returns
// its status; the record keeps what the commit left.
int direct_commit(committed_record& r, precision p) {
  const dft::backend_table& t = table_of(p);
  return t.bkd_commit(&t, r.record());
}

record_config config(precision p, std::int64_t n, std::int64_t count = 1) {
  record_config c;
  c.p = p;
  c.length = n;
  c.count = count;
  c.bwd_scale = 1.0 / static_cast<double>(n);
  return c;
}

void expect_factors(const committed_record& r, std::initializer_list<std::int64_t> f) {
  const auto& b = r.plan<double>();
  int i = 0;
  for (std::int64_t v : f) EXPECT_EQ(b.fact[i++], v) << r.description();
}

TEST(Profile, DirectCommitOfDouble4096) {
  committed_record r(config(precision::double_precision, 4096));
  const void* earlier_block = r.record()->bkd_data;
  const auto* earlier_backend = r.record()->backend;
  const int status = direct_commit(r, precision::double_precision);
  if (accepting()) {
    ASSERT_EQ(status, 0);
    EXPECT_TRUE(r.record()->backend == &dft::dft_c2c_n_facts_gpu_bkd_table_double);
    EXPECT_EQ(r.record()->commit_status, dft::dfti_committed);
    EXPECT_EQ(r.plan<double>().subgroup_size, planned_subgroup());
    if (planned_subgroup() == 32)
      expect_factors(r, {4, 4, 16, 16});
    else
      expect_factors(r, {8, 8, 8, 8});
    EXPECT_STREQ(r.plan<double>().kernel_name,
                 planned_subgroup() == 32 ? "fft_4096_n_fact_slm_16_d" : "fft_4096_n_fact_slm_8_d");
  } else if (scenario() == "decline") {
    // Declining leaves the record, and any plan already on it, alone.
    EXPECT_EQ(status, dft::status_not_handled);
    EXPECT_EQ(r.record()->bkd_data, earlier_block);
    EXPECT_EQ(r.record()->backend, earlier_backend);
  } else {
    ASSERT_EQ(scenario(), "gate");
    EXPECT_EQ(status, dft::status_internal_error);
    // Nothing half-built stays; the record is still bound to this table.
    EXPECT_EQ(r.record()->bkd_data, nullptr);
    EXPECT_TRUE(r.record()->backend == &dft::dft_c2c_n_facts_gpu_bkd_table_double);
  }
}

TEST(Profile, TheListWalkReachesThisBackendOnlyWhereItAccepts) {
  committed_record r(config(precision::double_precision, 2048, 2));
  EXPECT_EQ(r.commit_status(), 0);  // some backend of the list takes 2048 points
  EXPECT_EQ(r.committed_here(), accepting()) << r.description();
  if (!r.committed_here()) return;
  EXPECT_ACCURATE(run_and_measure(r, direction::forward, container::usm), precision::double_precision, 2048);
  EXPECT_ACCURATE(run_and_measure(r, direction::backward, container::buffer), precision::double_precision, 2048);
}

SCENARIO_TEST(Profile, FiveHundredTwelvePointsNeedSubGroupsOf16, ACCEPTING_SCENARIOS) {
  committed_record r(config(precision::double_precision, 512));
  const int status = direct_commit(r, precision::double_precision);
  if (planned_subgroup() == 32) {
    EXPECT_EQ(status, dft::status_not_handled);
    committed_record k(config(precision::double_precision, 1024, 3));
    ASSERT_TRUE(k.committed_here());
    expect_factors(k, {4, 4, 4, 16});
    EXPECT_ACCURATE(run_and_measure(k, direction::forward, container::buffer), precision::double_precision, 1024);
    EXPECT_ACCURATE(run_and_measure(k, direction::backward, container::usm), precision::double_precision, 1024);
    return;
  }
  ASSERT_EQ(status, 0);
  expect_factors(r, {4, 4, 4, 8});
}

// Needs 128 KiB of local memory.
SCENARIO_TEST(Profile, LocalMemoryDecidesTheLargestLengths, "small_slm") {
  committed_record d(config(precision::double_precision, 16384));
  EXPECT_EQ(direct_commit(d, precision::double_precision), dft::status_not_handled);
  committed_record f(config(precision::single_precision, 16384));
  EXPECT_EQ(direct_commit(f, precision::single_precision), 0);
  EXPECT_EQ(f.plan<float>().slm_bytes, 131072);
}

// Needs a small work-group limit.
SCENARIO_TEST(Profile, WorkGroupsSmallerThanTheColumnsLoop, "loop") {
  for (std::int64_t n : {2048, 4096}) {
    committed_record r(config(precision::double_precision, n, 2));
    ASSERT_TRUE(r.committed_here());
    const auto& b = r.plan<double>();
    std::printf("[ plan ] %s tail=%lld\n", r.description().c_str(), static_cast<long long>(b.load_loop_tail));
    const std::int64_t columns_items = 2 * n / b.max_fact;
    EXPECT_EQ(b.work_group_size % b.subgroup_size, 0);
    EXPECT_LE(b.work_group_size, b.max_work_group_size);
    if (columns_items > b.max_work_group_size) {
      EXPECT_GT(b.load_loop_bound, 0);
      EXPECT_EQ(b.load_loop_bound * b.work_group_size + b.load_loop_tail * b.subgroup_size, columns_items);
    } else {
      EXPECT_EQ(b.load_loop_bound, 0);
    }
    EXPECT_ACCURATE(run_and_measure(r, direction::forward, container::usm), precision::double_precision, n);
    EXPECT_ACCURATE(run_and_measure(r, direction::backward, container::usm), precision::double_precision, n);
  }
}

}  // namespace
}  // namespace slm_test
