// Every family's host-made tables through the host table cache, by the
// public interface under the profile that reaches the family: the first
// commit of a configuration keeps tables of the family's writers; a second
// commit of the same configuration finds them and keeps none; a
// configuration that differs in one field of a table's key (the backward
// scale, or the length where no table holds a scale) keeps tables of its
// own, where the family has such a configuration. Every commit's
// transforms, forward and backward, are checked against the long-double
// reference. Each case runs in a process of its own, so the cache starts
// empty.
#include <gtest/gtest.h>

#include <cstdio>
#include <ostream>
#include <string>
#include <vector>

#include <sycl/sycl.hpp>

#include "dft/gpu/core/backend_catalogue.hpp"
#include "dft/gpu/core/host_table_cache.hpp"
#include "tests/backends/support/scenario_test.hpp"
#include "tests/reliability/public_case.hpp"

namespace table_cache_test {
namespace {

namespace qd = ulmara::qez::dft;
using qd::host_table_cache;
using reliability_test::case_shape;
using reliability_test::data_kind;

struct backend_pair {
  const qd::backend_table* single_table;
  const qd::backend_table* double_table;
};

struct cache_case {
  const char* name;
  const char* scenario;   // the environment that reaches the family
  const char* family;     // in the name of the family's writer types
  backend_pair accepting;  // the top-level backend that accepts the shape
  bool double_precision;
  case_shape shape;
  case_shape varied;  // the shape with one table key field changed
  // Whether a shape with another key exists: the explicit-SIMD engine makes
  // only its single-precision 4096-point tables on the host, never in pass
  // 0 (so without a scale), and every shape it takes makes them alike.
  bool has_varied = true;
};

// For messages.
void PrintTo(const cache_case& c, std::ostream* os) { *os << c.name; }

#define QEZ_PAIR(name) backend_pair{&qd::name##_table_float, &qd::name##_table_double}

// Where a family's tables come from a composite backend's children, the
// composite is the one that accepts; the family shows in the writer types.
std::vector<cache_case> all_cases() {
  return {
      {"two_factor", "gulon", "two_factor", QEZ_PAIR(dft_c2c_2_facts_gpu_bkd), false, {false, {64}},
       {false, {64}, 0.5L}},
      // The 8192-point backend wants packed batches; without sub-groups of
      // 16 the small multi-dimensional backend declines before it.
      {"eight_k", "sub_group8", "eight_k", QEZ_PAIR(dft_c2c_8k_2_facts_gpu_bkd), false, {false, {8192}, 1.0L, 2},
       {false, {8192}, 0.5L, 2}},
      {"three_factor", "gulon", "three_factor", QEZ_PAIR(dft_c2c_3_facts_gpu_bkd), false, {false, {16384}},
       {false, {16384}, 0.5L}},
      {"small_md", "gulon", "small_md", QEZ_PAIR(dft_small_md_gpu_bkd), true, {true, {128}},
       {true, {128}, 0.5L}},
      // The columns of a 2D transform.
      {"n_fact_colbatch", "sub_group8", "n_fact_colbatch", QEZ_PAIR(dft_c2c_2d_main_gpu_bkd), false, {false, {60, 64}},
       {false, {60, 64}, 0.5L}},
      // Its table holds no scale: the length is the field that differs.
      {"r2c_1d", "sub_group8", "r2c_1d", QEZ_PAIR(dft_r2c_1d_main_gpu_bkd), false, {true, {96}}, {true, {98}}},
      {"fused_2_facts", "sub_group8", "fused_2_facts", QEZ_PAIR(dft_c2c_2d_main_gpu_bkd), false, {false, {128, 128}},
       {false, {128, 128}, 0.5L}},
      // Too long for the shared-local-memory backend under Harix's default.
      {"four_factor", "harix", "four_factor", QEZ_PAIR(dft_c2c_4_facts_gpu_bkd), false, {false, {65536}},
       {false, {65536}, 0.5L}},
      {"n_facts_slm", "harix_large_local", "n_facts_slm", QEZ_PAIR(dft_c2c_n_facts_gpu_bkd), true, {false, {512}},
       {false, {512}, 0.5L}},
      // The columns of 2D transforms: single precision with 64 columns takes
      // the float road's writers, double the long-double ones.
      {"four_factor_colbatch_sincospif", "jorva", "four_factor_colbatch", QEZ_PAIR(dft_c2c_2d_main_gpu_bkd), false,
       {false, {4096, 64}}, {false, {4096, 64}, 0.5L}},
      {"four_factor_colbatch", "jorva", "four_factor_colbatch", QEZ_PAIR(dft_c2c_2d_main_gpu_bkd), true,
       {false, {2880, 64}}, {false, {2880, 64}, 0.5L}},
      // The 2D main backend plans with the explicit-SIMD engine on Harix.
      {"esimd_2_facts", "harix", "esimd_2_facts", QEZ_PAIR(dft_c2c_2d_main_gpu_bkd), false, {false, {4096, 64}},
       {false, {4096, 64}}, false},
  };
}

#undef QEZ_PAIR

std::vector<cache_case> cases_of_the_scenario() {
  std::vector<cache_case> cases;
  for (const cache_case& c : all_cases())
    if (backend_test::scenario() == c.scenario) cases.push_back(c);
  return cases;
}

sycl::queue& queue() {
  static sycl::queue q{sycl::gpu_selector_v};
  return q;
}

// Commits `shape`, checks both directions, and waits until the commit's
// table work is done; the backend that accepted.
const qd::backend_table* run_and_settle(const cache_case& c, const case_shape& shape) {
  const qd::backend_table* accepted =
      c.double_precision
          ? reliability_test::run_public_case<qd::precision::DOUBLE>(shape, queue(), data_kind::usm)
          : reliability_test::run_public_case<qd::precision::SINGLE>(shape, queue(), data_kind::usm);
  queue().wait_and_throw();
  return accepted;
}

// Tables held whose writer type belongs to the family.
std::size_t held_tables_of(const char* family) {
  std::size_t count = 0;
  for (const qd::host_table_key& key : host_table_cache::process().held_keys()) {
    const std::string writer = key.writer.name();
    std::printf("[ table ] %s: %llu x %llu\n", writer.c_str(), static_cast<unsigned long long>(key.rows),
                static_cast<unsigned long long>(key.columns));
    count += writer.find(family) != std::string::npos ? 1 : 0;
  }
  return count;
}

// The name of a backend table, for messages.
const char* backend_name(const qd::backend_table* t) {
#define QEZ_NAME_OF(n) \
  if (t == &qd::n##_table_float || t == &qd::n##_table_double) return #n;
  QEZ_NAME_OF(dft_c2c_default_gpu_bkd)
  QEZ_NAME_OF(dft_c2c_2_facts_gpu_bkd)
  QEZ_NAME_OF(dft_c2c_8k_2_facts_gpu_bkd)
  QEZ_NAME_OF(dft_c2c_3_facts_gpu_bkd)
  QEZ_NAME_OF(dft_c2c_4_facts_gpu_bkd)
  QEZ_NAME_OF(dft_c2c_2_facts_colbatch_gpu_bkd)
  QEZ_NAME_OF(dft_c2c_4_facts_colbatch_gpu_bkd)
  QEZ_NAME_OF(dft_c2c_n_facts_gpu_bkd)
  QEZ_NAME_OF(dft_c2c_large_1d_gpu_bkd)
  QEZ_NAME_OF(dft_c2c_2d_small_gpu_bkd)
  QEZ_NAME_OF(dft_c2c_2d_main_gpu_bkd)
  QEZ_NAME_OF(dft_c2c_3d_main_gpu_bkd)
  QEZ_NAME_OF(dft_small_md_gpu_bkd)
  QEZ_NAME_OF(dft_r2c_1d_main_gpu_bkd)
  QEZ_NAME_OF(dft_r2c_2d_main_gpu_bkd)
#undef QEZ_NAME_OF
  return "another backend";
}

class TableCache : public ::testing::TestWithParam<cache_case> {};

TEST_P(TableCache, SecondCommitFindsTheTablesAndAnotherKeyMakesItsOwn) {
  const cache_case& c = GetParam();
  const host_table_cache& cache = host_table_cache::process();
  const backend_pair& expected = c.accepting;
  const qd::backend_table* accepted = run_and_settle(c, c.shape);
  ASSERT_FALSE(::testing::Test::HasFailure());
  ASSERT_EQ(accepted, c.double_precision ? expected.double_table : expected.single_table)
      << "another backend took the shape: " << backend_name(accepted);
  EXPECT_GT(held_tables_of(c.family), 0u) << "no table of the family was kept";

  const std::size_t kept = cache.kept_count(), found = cache.found_count();
  run_and_settle(c, c.shape);
  EXPECT_EQ(cache.kept_count(), kept) << "the second commit made tables again";
  EXPECT_GT(cache.found_count(), found) << "the second commit found no table";

  if (!c.has_varied) return;
  run_and_settle(c, c.varied);
  EXPECT_GT(cache.kept_count(), kept) << "a configuration of another key found tables of the first";
}

INSTANTIATE_TEST_SUITE_P(Families, TableCache, ::testing::ValuesIn(cases_of_the_scenario()),
                         [](const ::testing::TestParamInfo<cache_case>& i) { return std::string(i.param.name); });
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(TableCache);

}  // namespace
}  // namespace table_cache_test
