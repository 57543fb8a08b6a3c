// Transforms committed to the two-factor backend and run on PoCL under a
// profile with sub-groups of 8, checked against the long-double reference in
// both directions. Each case commits one record (one program per served
// direction) and checks that the two-factor backend took it.
#include <cstdlib>
#include <string>

#include <gtest/gtest.h>

#include "tests/backends/two_factor/two_factor_case.hpp"

namespace two_factor_test {
namespace {

struct transform_case {
  std::string name;
  record_config config;
  container data;
};

std::ostream& operator<<(std::ostream& os, const transform_case& c) { return os << c.name; }

constexpr precision sp = precision::single_precision;
constexpr precision dp = precision::double_precision;

transform_case batch_case(std::string name, precision p, std::int64_t n, std::int64_t howmany,
                          container data) {
  return {std::move(name), round_trip_config(p, n, howmany), data};
}

// Lengths that together reach every code path of the kernel: square and
// oblong factor pairs, FACT0 above FACT1 (several row passes), every
// padding of FACT1, odd FACT1, generic butterflies in double (even FACT0,
// odd and even FACT1), the length limits of both precisions.
std::vector<transform_case> representative_cases() {
  std::vector<transform_case> cases;
  const container u = container::usm, b = container::buffer;
  for (std::int64_t n : {4, 6, 30, 128, 130, 510, 1600, 2048, 3000, 4096})
    cases.push_back(batch_case("single_n" + std::to_string(n), sp, n, 3, n % 4 == 0 ? u : b));
  for (std::int64_t n : {4, 66, 990, 1020, 1024})
    cases.push_back(batch_case("double_n" + std::to_string(n), dp, n, 2, n % 4 == 0 ? b : u));

  transform_case in_place = batch_case("single_in_place_usm", sp, 240, 5, u);
  in_place.config.place = placement::in_place;
  cases.push_back(in_place);
  transform_case in_place_buffer = batch_case("double_in_place_buffer", dp, 96, 3, b);
  in_place_buffer.config.place = placement::in_place;
  cases.push_back(in_place_buffer);

  transform_case spaced = batch_case("single_spaced_io_distances", sp, 60, 4, u);
  spaced.config.convention = distance_convention::input_output;
  spaced.config.in_distance = 67;
  spaced.config.out_distance = 70;
  cases.push_back(spaced);
  transform_case spaced_fb = batch_case("double_spaced_fb_distances_buffer", dp, 72, 3, b);
  spaced_fb.config.in_distance = 75;
  spaced_fb.config.out_distance = 81;
  cases.push_back(spaced_fb);

  transform_case caller_usm = batch_case("single_caller_usm_workspace", sp, 200, 2, u);
  caller_usm.config.workspace = workspace::external_usm;
  cases.push_back(caller_usm);
  transform_case caller_buffer = batch_case("double_caller_buffer_workspace", dp, 200, 2, b);
  caller_buffer.config.workspace = workspace::external_buffer;
  cases.push_back(caller_buffer);
  transform_case caller_buffer_usm_data = batch_case("single_caller_buffer_workspace_usm_data", sp, 48, 3, u);
  caller_buffer_usm_data.config.workspace = workspace::external_buffer;
  cases.push_back(caller_buffer_usm_data);

  // A launch whose output (40.6 MiB) is larger than the last-level cache:
  // on a CPU device the double kernel streams its stores past the caches.
  cases.push_back(batch_case("double_streamed_batch", dp, 1024, 2600, u));

  transform_case scaled = batch_case("double_scaled_both_ways", dp, 512, 1, u);
  scaled.config.fwd_scale = 0.5;
  scaled.config.bwd_scale = 3.0;
  cases.push_back(scaled);
  return cases;
}

class two_factor_transform : public ::testing::TestWithParam<transform_case> {};

void check_direction(const committed_record& r, direction d, container c) {
  const qez_test::accuracy a = run_and_measure(r, d, c);
  const qez_test::accuracy_bounds bounds = bounds_of(r.config());
  EXPECT_TRUE(qez_test::within(a, bounds)) << (d == direction::forward ? "forward " : "backward ")
                                           << qez_test::describe(a, bounds) << " | " << r.description();
}

TEST_P(two_factor_transform, matches_reference_in_both_directions) {
  const transform_case& c = GetParam();
  committed_record r(c.config);
  ASSERT_EQ(r.commit_status(), 0);
  ASSERT_TRUE(r.committed_here());
  check_direction(r, direction::forward, c.data);
  check_direction(r, direction::backward, c.data);
}

INSTANTIATE_TEST_SUITE_P(representative, two_factor_transform, ::testing::ValuesIn(representative_cases()),
                         [](const auto& info) { return info.param.name; });

}  // namespace
}  // namespace two_factor_test
