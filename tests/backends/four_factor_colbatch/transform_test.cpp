// Column-batch transforms on PoCL (Jorva profile: sub-groups of 16, no
// launch cap) against the long-double reference: both precisions, forward
// and backward with scales, USM and buffers, internal and caller workspace,
// tail chunks, packed and padded temporary areas, in place, two batch
// dimensions and several launch pairs.
#include <cmath>
#include <complex>
#include <memory>

#include "dft/gpu/core/workspace/estimate_config.hpp"
#include "tests/backends/four_factor_colbatch/colbatch_case.hpp"
#include "tests/backends/support/transform_suite.hpp"

namespace colbatch_test {
namespace {

using transform_case = backend_test::transform_case<record_config>;

record_config make(bool dp, std::int64_t n, std::int64_t count) {
  return backend_test::scaled_config<record_config>(dp, n, count);
}

std::vector<transform_case> transform_cases() {
  std::vector<transform_case> cases;
  // 4096 = 64 x 64, both 8 x 8; 20 transforms: two full chunks and a tail
  // of 4 (padded temporary area). Single precision takes the host tables.
  cases.push_back({"d4096_tail", make(true, 4096, 20)});
  cases.push_back({"s4096_tail", make(false, 4096, 20)});
  // 2880 = 60 x 48 (10 x 6, 8 x 6): sub-groups with one and two rows; 3
  // transforms pack the temporary area; the stride leaves gaps.
  record_config packed = make(true, 2880, 3);
  packed.first_side.stride = 5;
  packed.second_side.stride = 7;
  cases.push_back({"d2880_packed_gaps", packed});
  // 5 transforms: padded temporary area, input/output layout, in place.
  record_config in_place = make(false, 2880, 5);
  in_place.io_layout = true;
  in_place.in_place = true;
  in_place.first_side.stride = in_place.second_side.stride = 6;
  cases.push_back({"s2880_in_place", in_place});
  // 1000 = 40 x 25 (8 x 5, 5 x 5): float tables from the device writers.
  cases.push_back({"s1000_full_chunks", make(false, 1000, 16)});
  // 8192 = 128 x 64: pass 1 of 16 x 8, two rows per sub-group.
  cases.push_back({"s8192", make(false, 8192, 8)});
  // Two batch dimensions: 5 x 3 double, 2 x 5 float (double declines 2 x n).
  record_config outer_d = make(true, 1000, 5);
  outer_d.outer_count = 3;
  outer_d.second_side.outer_distance = 5 * 1000 + 3;
  cases.push_back({"d1000_outer", outer_d});
  record_config outer_s = make(false, 1000, 2);
  outer_s.outer_count = 5;
  outer_s.io_layout = true;
  outer_s.first_side.outer_distance = 2 * 1000 + 1;  // odd: per-lane final stores
  cases.push_back({"s1000_outer", outer_s});
  // The same layout on 100 = 10 x 10 (5 x 2 both) and two outer indices:
  // the single-precision kernels at a size Oclgrind runs in seconds.
  record_config small_outer_s = make(false, 100, 2);
  small_outer_s.outer_count = 2;
  small_outer_s.io_layout = true;
  small_outer_s.first_side.outer_distance = 2 * 100 + 1;
  cases.push_back({"s100_outer", small_outer_s});
  // d1000_outer's layout on 100 points: the double-precision kernels at a
  // size Oclgrind runs in seconds.
  record_config small_outer_d = make(true, 100, 5);
  small_outer_d.outer_count = 3;
  small_outer_d.second_side.outer_distance = 5 * 100 + 3;
  cases.push_back({"d100_outer", small_outer_d});
  return cases;
}

// The workspace estimate of a one-batch-dimension configuration (declined
// for layouts the estimator does not model).
std::int64_t estimator_of(const record_config& cfg) {
  dft::dft_estimate_config c;
  c.rank = 1;
  c.lengths[0] = cfg.length;
  const side_layout a = resolved(cfg, cfg.first_side);
  const side_layout b = resolved(cfg, cfg.second_side);
  c.fwd_strides[0] = c.input_strides[0] = a.stride;
  c.bwd_strides[0] = c.output_strides[0] = b.stride;
  c.number_of_transforms = cfg.count;
  c.fwd_distance = c.bwd_distance = 1;
  c.direction_count = cfg.directions == dft::directions_both ? 2 : 1;
  c.in_place = cfg.in_place;
  if (cfg.outer_count > 0) return dft::estimate_declined;
  return backend_test::estimate_of<dft::dft_c2c_4_facts_colbatch_gpu_bkd>(cfg.double_precision, c);
}

BACKEND_TRANSFORM_SUITE(ColbatchTransform, committed_record, transform_cases(), &estimator_of, container::buffer);

// Several launch pairs on a small problem: the plans of capped devices
// written into the committed state (its temporary area holds all chunks, so
// it is large enough for fewer per launch); five outer indices, one launch
// group each.
TEST(ColbatchLaunches, SeveralLaunchPairsAndGroups) {
  record_config c = make(true, 1000, 20);  // 3 chunks of 8: 8, 8, 4
  c.outer_count = 5;
  committed_record r(c);
  ASSERT_TRUE(r.committed_here()) << "status " << r.commit_status();
  cb::block<double>& s = r.plan<double>();
  const std::uint64_t transform_bytes = 1000 * 16;
  // Room for two chunks of 8 at a time: 2 launches (2 + 1 chunks); then
  // outer groups are single indices (launches > 1).
  const cb::launch_plan capped = cb::plan_launches(20, 5, 16, transform_bytes, 16 * transform_bytes);
  ASSERT_EQ(capped.launches, 2);
  ASSERT_EQ(capped.chunks_per_launch, 2);
  ASSERT_EQ(capped.outer_launches, 5);
  s.launches = capped.launches;
  s.chunks_per_launch = capped.chunks_per_launch;
  s.outer_launches = capped.outer_launches;
  s.outer_per_launch = capped.outer_per_launch;
  s.outer_tail = capped.outer_tail;
  for (container kind : backend_test::both_containers)
    EXPECT_ACCURATE(run_and_measure(r, direction::forward, kind), true, c.length);

  // Every chunk its own launch pair (a device whose cap is below a chunk).
  const cb::launch_plan tight = cb::plan_launches(20, 5, 16, transform_bytes, 4 * transform_bytes);
  ASSERT_EQ(tight.launches, 3);
  ASSERT_EQ(tight.chunks_per_launch, 1);
  s.launches = tight.launches;
  s.chunks_per_launch = tight.chunks_per_launch;
  for (container kind : backend_test::both_containers)
    EXPECT_ACCURATE(run_and_measure(r, direction::backward, kind), true, c.length);
}

// Forward only: no backward kernels, one cross table.
TEST(ColbatchDirections, ForwardOnly) {
  record_config c = make(true, 4096, 8);
  c.directions = dft::directions_forward;
  committed_record r(c);
  ASSERT_TRUE(r.committed_here()) << "status " << r.commit_status();
  const cb::block<double>& s = r.plan<double>();
  EXPECT_EQ(r.record()->workspace_bytes[0],
            s.cross_table_bytes + s.passes[cb::pass_0].sub_table_bytes + s.passes[cb::pass_1].sub_table_bytes);
  EXPECT_NE(s.kernels[cb::kernel_slot(cb::pass_0, cb::dir_forward)], nullptr);
  EXPECT_NE(s.kernels[cb::kernel_slot(cb::pass_1, cb::dir_forward)], nullptr);
  EXPECT_EQ(s.kernels[cb::kernel_slot(cb::pass_0, cb::dir_backward)], nullptr);
  EXPECT_EQ(s.kernels[cb::kernel_slot(cb::pass_1, cb::dir_backward)], nullptr);
  EXPECT_EQ(s.cross_ptr[cb::dir_backward], nullptr);
  EXPECT_ACCURATE(run_and_measure(r, direction::forward, container::usm), true, c.length);
  // The unprepared direction is refused, not run on missing kernels.
  EXPECT_EQ(run_and_measure(r, direction::backward, container::usm).status, dft::status_invalid_configuration);
}

// A second commit of the same record replaces the first plan: the old
// state, kernels and internal workspace go, the new scale holds.
TEST(ColbatchRecommit, SecondCommitReplacesThePlan) {
  record_config c = make(false, 1000, 12);
  committed_record r(c);
  ASSERT_TRUE(r.committed_here()) << "status " << r.commit_status();
  EXPECT_ACCURATE(run_and_measure(r, direction::forward, container::usm), false, c.length);
  ASSERT_EQ(r.recommit_with_scales(3.0, 0.25), 0);
  ASSERT_TRUE(r.committed_here());
  EXPECT_EQ(r.plan<float>().fwd_scale, 3.0f);
  for (direction d : backend_test::both_directions)
    EXPECT_ACCURATE(run_and_measure(r, d, container::buffer), false, c.length);
}

// Two USM computes submitted back to back without dependencies share the
// record's temporary area: the second must wait for the first.
TEST(ColbatchConcurrency, BackToBackUsmComputes) {
  record_config c = make(true, 4096, 16);
  committed_record r(c);
  ASSERT_TRUE(r.committed_here()) << "status " << r.commit_status();
  backend_test::expect_back_to_back_usm_computes(r.record(), c.length, c.count,
                                                 backend_test::precision::double_precision,
                                                 backend_test::batch_layout::interleaved, c.fwd_scale);
}

}  // namespace
}  // namespace colbatch_test
