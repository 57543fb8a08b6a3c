// Every even length up to 4096 in both precisions: the lengths the backend
// should take are committed by it and transform right in both directions
// (three transforms, USM); the others go elsewhere. The whole sweep
// (`lengths/...`, one program build per length and direction) is labelled
// long; `sample/...` runs in every suite the lengths that reach each planning
// branch: the ends of each range, the special length, the composite check,
// and the first length of every factor shape (padding of each factor,
// order of the two, direct-DFT factors, work-group loop).
#include <algorithm>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

#include "tests/backends/two_factor/two_factor_case.hpp"

namespace two_factor_test {
namespace {

constexpr std::int64_t block_length = 256;

// Written from the backend's contract, independently of its code.
bool has_factor_pair(std::int64_t n) {
  for (std::int64_t d = 2; d <= 64; ++d)
    if (n % d == 0 && n / d >= 2 && n / d <= 64) return true;
  return false;
}
bool half_is_prime(std::int64_t n) {
  const std::int64_t h = n / 2;
  for (std::int64_t d = 2; d * d <= h; ++d)
    if (h % d == 0) return false;
  return true;
}
bool expected_to_accept(precision p, std::int64_t n) {
  if (n <= 2 || n > (p == precision::double_precision ? 1024 : 4096)) return false;
  if (n >= 1001 && n <= 4095 && half_is_prime(n)) return false;
  return has_factor_pair(n);
}

struct sweep_block {
  precision p;
  std::int64_t first;  // lengths first+2 .. first+block_length
};

// Commits N and, where the backend takes it, runs both directions.
void expect_length(precision p, std::int64_t n) {
  const record_config c = round_trip_config(p, n, 3);
  committed_record r(c);
  const bool expected = expected_to_accept(p, n);
  ASSERT_EQ(r.committed_here(), expected) << "N = " << n;
  if (!expected) return;
  for (direction d : {direction::forward, direction::backward}) {
    const qez_test::accuracy a = run_and_measure(r, d, container::usm);
    EXPECT_TRUE(qez_test::within(a, bounds_of(c))) << "N = " << n << " " << qez_test::describe(a, bounds_of(c));
  }
}

class two_factor_sweep : public ::testing::TestWithParam<sweep_block> {};

TEST_P(two_factor_sweep, every_even_length) {
  const sweep_block s = GetParam();
  for (std::int64_t n = s.first + 2; n <= s.first + block_length; n += 2) expect_length(s.p, n);
}

std::vector<sweep_block> blocks() {
  std::vector<sweep_block> b;
  for (std::int64_t first = 0; first < 4096; first += block_length) {
    b.push_back({precision::single_precision, first});
    if (first < 1024) b.push_back({precision::double_precision, first});
  }
  return b;
}

INSTANTIATE_TEST_SUITE_P(lengths, two_factor_sweep, ::testing::ValuesIn(blocks()), [](const auto& info) {
  return std::string(info.param.p == precision::double_precision ? "double_" : "single_") +
         std::to_string(info.param.first + 2) + "_to_" + std::to_string(info.param.first + block_length);
});

// ---------------------------------------------------------------------------
// The sample of every planning branch.

namespace tf = ulmara::qez::dft::two_factor;

std::int64_t length_limit(precision p) { return p == precision::double_precision ? 1024 : 4096; }

// The ends of the ranges: below the smallest, the smallest, the special
// length, the last before the composite check, its first length (N/2
// composite), the first with N/2 prime, the largest of the precision and one
// above it.
std::vector<std::int64_t> boundary_lengths(precision p) {
  return {2, 4, 128, 1000, 1002, 1006, length_limit(p) - 2, length_limit(p), length_limit(p) + 2};
}

// What the plan of an accepted length looks like: the padding of each
// factor, which factor is larger, which use the direct DFT, and whether the
// work-group loops over the first factor.
std::tuple<std::int64_t, std::int64_t, bool, bool, bool, bool> plan_shape(precision p, std::int64_t n) {
  const bool dp = p == precision::double_precision;
  const tf::factors f = tf::choose_factors(n);
  const tf::geometry g = tf::plan_geometry(f, dp ? sizeof(double) : sizeof(float));
  const std::int64_t direct_from = dp ? 33 : 65;
  return {g.padfact0, g.padfact1, f.fact0 <= f.fact1, f.fact0 >= direct_from, f.fact1 >= direct_from,
          g.fact1_loop_bound > 1};
}

std::vector<std::int64_t> sample_lengths(precision p) {
  std::vector<std::int64_t> lengths = boundary_lengths(p);
  std::set<std::tuple<std::int64_t, std::int64_t, bool, bool, bool, bool>> seen;
  for (std::int64_t n = 4; n <= length_limit(p); n += 2) {
    if (!expected_to_accept(p, n) || !seen.insert(plan_shape(p, n)).second) continue;
    if (std::find(lengths.begin(), lengths.end(), n) == lengths.end()) lengths.push_back(n);
  }
  std::sort(lengths.begin(), lengths.end());
  return lengths;
}

struct sample_case {
  precision p;
  std::int64_t n;
};

class two_factor_sample : public ::testing::TestWithParam<sample_case> {};

TEST_P(two_factor_sample, planning_branch) { expect_length(GetParam().p, GetParam().n); }

std::vector<sample_case> sample_cases() {
  std::vector<sample_case> cases;
  for (precision p : {precision::single_precision, precision::double_precision})
    for (std::int64_t n : sample_lengths(p)) cases.push_back({p, n});
  return cases;
}

INSTANTIATE_TEST_SUITE_P(sample, two_factor_sample, ::testing::ValuesIn(sample_cases()), [](const auto& info) {
  return std::string(info.param.p == precision::double_precision ? "double_" : "single_") +
         std::to_string(info.param.n);
});

}  // namespace
}  // namespace two_factor_test
