// Every even length up to 4096 in both precisions: the lengths the backend
// should take are committed by it and transform right in both directions
// (three transforms, USM); the others go elsewhere. Labelled long: one
// program build per length and direction.
#include <string>

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

class two_factor_sweep : public ::testing::TestWithParam<sweep_block> {};

TEST_P(two_factor_sweep, every_even_length) {
  const sweep_block s = GetParam();
  for (std::int64_t n = s.first + 2; n <= s.first + block_length; n += 2) {
    record_config c;
    c.p = s.p;
    c.n = n;
    c.howmany = 3;
    c.bwd_scale = 1.0 / static_cast<double>(n);
    committed_record r(c);
    const bool expected = expected_to_accept(s.p, n);
    ASSERT_EQ(r.committed_here(), expected) << "N = " << n;
    if (!expected) continue;
    for (direction d : {direction::forward, direction::backward}) {
      const qez_test::accuracy a = run_and_measure(r, d, container::usm);
      EXPECT_TRUE(qez_test::within(a, bounds_of(c))) << "N = " << n << " " << qez_test::describe(a, bounds_of(c));
    }
  }
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

}  // namespace
}  // namespace two_factor_test
