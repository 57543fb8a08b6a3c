// Transforms of every length this backend takes on the profile against the
// long-double reference: forward on USM, backward on buffers, a batch of two
// (float 512 and 1024: the smallest batch they are taken for) with scales;
// then, at 4096 points, in and out of place, both containers, caller
// workspaces and one-direction plans. Every plan checks that this backend
// accepted it and that its workspace stays within the estimator.
#include <map>
#include <tuple>

#include "tests/backends/n_facts_slm/slm_case.hpp"

namespace slm_test {
namespace {

const committed_record& plan_for(const record_config& c) {
  static std::map<std::tuple<precision, std::int64_t, std::int64_t, bool, bool, std::uint32_t>,
                  std::unique_ptr<committed_record>>
      plans;
  auto& slot = plans[{c.p, c.length, c.count, c.in_place, c.internal_workspace, c.directions}];
  if (!slot) slot = std::make_unique<committed_record>(c);
  return *slot;
}

record_config config_of(precision p, std::int64_t n) {
  record_config c;
  c.p = p;
  c.length = n;
  c.count = 2;
  c.io_distances = true;
  c.fwd_scale = 0.5;
  c.bwd_scale = 1.0 / static_cast<double>(n);
  return c;
}

void expect_within_estimate(const committed_record& r) {
  const std::int64_t estimate = estimator_of(r);
  if (estimate < 0) {
    // The estimator does not know this length; the size is still reported.
    std::printf("[ workspace ] %llu bytes, no estimate for N = %lld\n",
                static_cast<unsigned long long>(r.workspace_bytes()), static_cast<long long>(r.config().length));
    return;
  }
  EXPECT_LE(r.workspace_bytes(), static_cast<std::uint64_t>(estimate));
}

// Float 512 and 1024 are taken only from batches of 65537 and 32769
// transforms on; the other lengths run as a batch of two.
std::int64_t smallest_batch(precision p, std::int64_t n) {
  if (p == precision::single_precision && n == 512) return 65537;
  if (p == precision::single_precision && n == 1024) return 32769;
  return 2;
}

// Transforms measured in a batch of the smallest size: all but in those
// long batches, where eight spread from the first to the last.
constexpr std::int64_t long_batch_sample = 8;

using length_case = std::tuple<precision, std::int64_t>;
class Lengths : public ::testing::TestWithParam<length_case> {};

TEST_P(Lengths, ForwardAndBackwardMatchTheReference) {
  const auto [p, n] = GetParam();
  record_config c = config_of(p, n);
  c.count = smallest_batch(p, n);
  const committed_record& r = plan_for(c);
  ASSERT_TRUE(r.committed_here()) << "status " << r.commit_status();
  std::printf("[ plan ] %s\n", r.description().c_str());
  expect_within_estimate(r);
  const std::int64_t sample = c.count > 2 ? long_batch_sample : 0;
  EXPECT_ACCURATE(run_and_measure(r, direction::forward, container::usm, sample), p, n);
  EXPECT_ACCURATE(run_and_measure(r, direction::backward, container::buffer, sample), p, n);
}

std::string length_name(const ::testing::TestParamInfo<length_case>& info) {
  return std::string(name_of(std::get<0>(info.param))) + "_" + std::to_string(std::get<1>(info.param));
}

INSTANTIATE_TEST_SUITE_P(Float, Lengths,
                         ::testing::Combine(::testing::Values(precision::single_precision),
                                            ::testing::Values(512, 1024, 2048, 4096, 8192, 16384, 32768, 65536)),
                         length_name);
// Double 65536 needs 1 MiB of local memory, more than any profile offers.
INSTANTIATE_TEST_SUITE_P(Double, Lengths,
                         ::testing::Combine(::testing::Values(precision::double_precision),
                                            ::testing::Values(512, 1024, 2048, 4096, 8192, 16384, 32768)),
                         length_name);

using layout_case = std::tuple<precision, bool, container>;
class Layouts : public ::testing::TestWithParam<layout_case> {};

TEST_P(Layouts, InAndOutOfPlaceOnBothContainers) {
  const auto [p, in_place, c] = GetParam();
  record_config cfg = config_of(p, 4096);
  cfg.count = 3;
  cfg.io_distances = false;
  cfg.in_place = in_place;
  const committed_record& r = plan_for(cfg);
  ASSERT_TRUE(r.committed_here());
  EXPECT_EQ(r.record()->data_arrays, in_place ? 1u : 2u);
  EXPECT_ACCURATE(run_and_measure(r, direction::forward, c), p, 4096);
  EXPECT_ACCURATE(run_and_measure(r, direction::backward, c), p, 4096);
}

std::string layout_name(const ::testing::TestParamInfo<layout_case>& info) {
  const auto [p, in_place, c] = info.param;
  return std::string(name_of(p)) + (in_place ? "_in_place" : "_out_of_place") + (c == container::usm ? "_usm" : "_buffer");
}

INSTANTIATE_TEST_SUITE_P(N4096, Layouts,
                         ::testing::Combine(::testing::Values(precision::single_precision, precision::double_precision),
                                            ::testing::Bool(), ::testing::Values(container::usm, container::buffer)),
                         layout_name);

class CallerWorkspace : public ::testing::TestWithParam<precision> {};

TEST_P(CallerWorkspace, ComputesOnlyOnceAWorkspaceCameThenOnBufferAndUsm) {
  const precision p = GetParam();
  record_config cfg = config_of(p, 4096);
  cfg.internal_workspace = false;
  committed_record r(cfg);
  ASSERT_TRUE(r.committed_here());
  expect_within_estimate(r);
  EXPECT_EQ(run_and_measure(r, direction::forward, container::usm).status, 11);

  ASSERT_EQ(r.give_buffer_workspace(), 0);
  EXPECT_ACCURATE(run_and_measure(r, direction::forward, container::buffer), p, 4096);
  EXPECT_ACCURATE(run_and_measure(r, direction::backward, container::usm), p, 4096);
  ASSERT_EQ(r.give_usm_workspace(), 0);
  EXPECT_ACCURATE(run_and_measure(r, direction::forward, container::usm), p, 4096);
  EXPECT_ACCURATE(run_and_measure(r, direction::backward, container::buffer), p, 4096);
}

TEST_P(CallerWorkspace, InternalWorkspaceGivesWayToTheCallers) {
  const precision p = GetParam();
  record_config cfg = config_of(p, 4096);
  committed_record r(cfg);
  ASSERT_TRUE(r.committed_here());
  EXPECT_ACCURATE(run_and_measure(r, direction::forward, container::usm), p, 4096);
  ASSERT_EQ(r.give_usm_workspace(), 0);
  EXPECT_EQ(r.record()->workspace_internal, 0u);
  EXPECT_ACCURATE(run_and_measure(r, direction::backward, container::usm), p, 4096);
}

INSTANTIATE_TEST_SUITE_P(Precisions, CallerWorkspace,
                         ::testing::Values(precision::single_precision, precision::double_precision),
                         [](const ::testing::TestParamInfo<precision>& i) { return std::string(name_of(i.param)); });

class OneDirection : public ::testing::TestWithParam<std::uint32_t> {};

TEST_P(OneDirection, PreparesOneMainTableAndOneKernel) {
  const std::uint32_t directions = GetParam();
  record_config both = config_of(precision::double_precision, 4096);
  record_config one = both;
  one.directions = directions;
  const committed_record& full = plan_for(both);
  const committed_record& r = plan_for(one);
  ASSERT_TRUE(r.committed_here());
  const auto& b = r.plan<double>();
  EXPECT_EQ(r.workspace_bytes() + b.main_table_bytes, full.workspace_bytes());
  expect_within_estimate(r);
  const bool forward = directions == dft::directions_forward;
  EXPECT_EQ(b.kernels[nf::dir_forward] != nullptr, forward);
  EXPECT_EQ(b.kernels[nf::dir_backward] != nullptr, !forward);
  EXPECT_EQ(b.main_tables[nf::dir_forward] != nullptr, forward);
  EXPECT_EQ(b.main_tables[nf::dir_backward] != nullptr, !forward);
  const direction prepared = forward ? direction::forward : direction::backward;
  const direction other = forward ? direction::backward : direction::forward;
  EXPECT_ACCURATE(run_and_measure(r, prepared, container::usm), precision::double_precision, 4096);
  // The direction that was not prepared is refused, not run.
  EXPECT_EQ(run_and_measure(r, other, container::usm).status, 2);
}

INSTANTIATE_TEST_SUITE_P(Modes, OneDirection, ::testing::Values(dft::directions_forward, dft::directions_backward),
                         [](const ::testing::TestParamInfo<std::uint32_t>& i) {
                           return std::string(i.param == dft::directions_forward ? "forward_only" : "backward_only");
                         });

}  // namespace
}  // namespace slm_test
