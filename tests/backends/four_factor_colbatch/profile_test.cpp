// Acceptance and plans of the column-batch backend under the GPU profile of
// the process (one CTest entry per scenario, BACKEND_SCENARIO names it):
// the sub-group and architecture gates with their exact statuses, layouts
// the backend declines, names and build options character for character,
// the one-tile cap of Harix, and the prebuilt road on an OpenCL queue.
#include <string>

#include "dft/gpu/core/backend_catalogue.hpp"
#include "tests/backends/four_factor_colbatch/colbatch_case.hpp"
#include "tests/backends/support/option_goldens.hpp"
#include "tests/backends/support/scenario_test.hpp"

namespace colbatch_test {
namespace {

using backend_test::scenario;

// A record the backend declined is as it was before the commit.
void expect_declined_untouched(const committed_record& r, int status) {
  EXPECT_EQ(r.commit_status(), status);
  EXPECT_FALSE(r.committed_here());
  backend_test::expect_no_backend_state(r.record());
}

record_config small(bool dp) {
  record_config c;
  c.double_precision = dp;
  c.length = 1000;
  c.count = 12;
  return c;
}

// ---------------------------------------------------------------------------
// Gates.

SCENARIO_TEST(ColbatchProfile, GulonWithSubGroupsOfEightDeclines, "gulon") {
  committed_record r(small(true));
  expect_declined_untouched(r, dft::status_invalid_descriptor);
}

SCENARIO_TEST(ColbatchProfile, FenwaIsNotAdmitted, "fenwa") {
  committed_record r(small(false));
  expect_declined_untouched(r, dft::status_internal_error);
}

SCENARIO_TEST(ColbatchProfile, EuCountOutsideWholeSubslicesIsRefused, "jorva_eu") {
  committed_record r(small(true));
  expect_declined_untouched(r, dft::status_internal_error);
}

SCENARIO_TEST(ColbatchProfile, UnknownGpuDeclines, "unknown") {
  committed_record r(small(true));
  expect_declined_untouched(r, dft::status_invalid_descriptor);
}

// ---------------------------------------------------------------------------
// Gulon with sub-groups of 16 and 32: 64 KiB of local memory.

SCENARIO_TEST(ColbatchProfile, Gulon16NamesAndOptions, "gulon_16") {
  record_config c;
  c.length = 4096;
  c.count = 3;  // packed temporary area: 3 transforms of a chunk of 8
  c.first_side.stride = 5;
  c.second_side.stride = 7;
  c.fwd_scale = 0.25;
  committed_record r(c);
  ASSERT_TRUE(r.committed_here()) << "status " << r.commit_status();
  std::printf("[ plan ] %s\n", r.description().c_str());
  const cb::block<double>& s = r.plan<double>();
  EXPECT_EQ(s.sub_group_size, 16);
  EXPECT_EQ(s.len1, 64);
  EXPECT_EQ(s.len2, 64);
  EXPECT_EQ(s.full_chunks, 0);
  EXPECT_EQ(s.inner_tail, 3);
  EXPECT_FALSE(s.padded_temp);
  EXPECT_EQ(s.temp_outer_dist, 3 * 4096);
  EXPECT_EQ(s.temp_bytes, 3u * 4096u * 16u);
  EXPECT_EQ(s.cross_table_bytes, 4096u * 16u * 16u);
  EXPECT_EQ(r.record()->workspace_bytes[0], 2 * s.cross_table_bytes + 2 * 1024u);
  EXPECT_EQ(r.record()->workspace_bytes[1], s.temp_bytes);
  EXPECT_EQ(r.record()->data_arrays, 2u);
  EXPECT_EQ(r.record()->threads, 1);
  EXPECT_STREQ(cb::program_name, "gpu_framework_c2c_1d_2_fact_colbatch_twiddle");
  EXPECT_EQ(cb::build_options(s, cb::pass_0, cb::dir_forward),
            backend_test::golden_options("four_factor_colbatch", backend_test::precision::double_precision,
                                         "Gulon 16, pass 0 forward"));
  // Backward: the backward-domain stride is read, the forward-domain one written.
  EXPECT_EQ(cb::build_options(s, cb::pass_1, cb::dir_backward),
            backend_test::golden_options("four_factor_colbatch", backend_test::precision::double_precision,
                                         "Gulon 16, pass 1 backward"));
  EXPECT_ACCURATE(run_and_measure(r, direction::forward, container::usm), true, c.length);
  EXPECT_ACCURATE(run_and_measure(r, direction::backward, container::buffer), true, c.length);
}

SCENARIO_TEST(ColbatchProfile, Gulon16LocalMemoryLimitsThePassLength, "gulon_16") {
  // Double: at most 65536 / (8 x 16) = 512 points per pass, so 2^20 has no
  // pair; single precision allows 1024 x 1024.
  record_config c = small(true);
  c.length = 1 << 20;
  c.count = 8;
  c.directions = dft::directions_forward;
  committed_record d(c);
  expect_declined_untouched(d, dft::status_invalid_descriptor);
  c.double_precision = false;
  c.internal_workspace = false;  // no need for the 2^20-point tables here
  committed_record s(c);
  ASSERT_TRUE(s.committed_here()) << "status " << s.commit_status();
  EXPECT_EQ(s.plan<float>().len1, 1024);
  EXPECT_EQ(s.plan<float>().len2_fact0, 32);
  // Large register file only on Harix.
  EXPECT_EQ(cb::build_options(s.plan<float>(), cb::pass_0, cb::dir_forward).find("GRF"), std::string::npos);
}

// ---------------------------------------------------------------------------
// Harix: one tile, so each launch keeps its data within 64 MiB.

SCENARIO_TEST(ColbatchProfile, HarixOuterIndicesInOneLaunchGroup, "harix") {
  record_config c = small(true);
  c.count = 5;
  c.outer_count = 3;
  c.second_side.outer_distance = 5 * 1000 + 9;
  committed_record r(c);
  ASSERT_TRUE(r.committed_here()) << "status " << r.commit_status();
  const cb::block<double>& s = r.plan<double>();
  EXPECT_EQ(s.architecture, QEZ_GPU_ARCH_HARIX);
  EXPECT_EQ(s.launches, 1);
  EXPECT_EQ(s.outer_per_launch, 3);
  EXPECT_EQ(s.outer_launches, 1);
  EXPECT_EQ(s.temp_outer_dist, 8 * 1000);
  EXPECT_EQ(s.temp_bytes, 3u * 8u * 1000u * 16u);
  for (container kind : backend_test::both_containers)
    for (direction d : backend_test::both_directions) EXPECT_ACCURATE(run_and_measure(r, d, kind), true, c.length);
}

SCENARIO_TEST(ColbatchProfile, HarixCapSplitsLargeBatches, "harix") {
  // 2^20 double points: 4 transforms per 64 MiB, below a chunk of 8, so each
  // of the 3 chunks is its own launch pair. Planned without running.
  record_config c = small(true);
  c.length = 1 << 20;
  c.count = 20;
  c.internal_workspace = false;
  c.directions = dft::directions_forward;
  committed_record r(c);
  ASSERT_TRUE(r.committed_here()) << "status " << r.commit_status();
  const cb::block<double>& s = r.plan<double>();
  EXPECT_EQ(s.launches, 3);
  EXPECT_EQ(s.chunks_per_launch, 1);
  EXPECT_EQ(s.temp_bytes, 8u * (1u << 20) * 16u);
  EXPECT_EQ(s.passes[cb::pass_0].howmany_per_launch, 6);
}

// ---------------------------------------------------------------------------
// Layouts and lengths the backend declines (Jorva: the gates pass).

SCENARIO_TEST(ColbatchAcceptance, DeclinedLayoutsLeaveTheRecordUntouched, "jorva") {
  {
    // Not a column batch: the transforms one after another.
    record_config c = small(true);
    c.first_side.stride = 1;
    c.second_side.stride = 1;
    committed_record r(c);  // distance 1 with stride 1 overlaps: declined
    expect_declined_untouched(r, dft::status_invalid_descriptor);
  }
  {
    // Prime length: no pair of pass lengths.
    record_config c = small(false);
    c.length = 4099;
    committed_record r(c);
    expect_declined_untouched(r, dft::status_invalid_descriptor);
  }
  {
    // 4 = 2 x 2, but a pass of 2 splits no further.
    record_config c = small(true);
    c.length = 4;
    committed_record r(c);
    expect_declined_untouched(r, dft::status_invalid_descriptor);
  }
  {
    // Double with batch counts {2, 5}.
    record_config c = small(true);
    c.count = 2;
    c.outer_count = 5;
    committed_record r(c);
    expect_declined_untouched(r, dft::status_invalid_descriptor);
    c.double_precision = false;
    committed_record f(c);
    EXPECT_TRUE(f.committed_here()) << "status " << f.commit_status();
  }
  {
    // Outer blocks that overlap the rows of another outer index.
    record_config c = small(false);
    c.outer_count = 3;
    c.second_side.outer_distance = 500;
    committed_record r(c);
    expect_declined_untouched(r, dft::status_invalid_descriptor);
  }
}

SCENARIO_TEST(ColbatchAcceptance, DistanceAndOffsetTests, "jorva") {
  record_config c = small(true);
  committed_record r(c);
  ASSERT_TRUE(r.committed_here()) << "status " << r.commit_status();
  DFTI_DESCRIPTOR* d = r.record();
  EXPECT_TRUE(cb::accepts(d));
  // The first batch row: distance 1 on both sides, in either convention.
  dft::dim_record& row = d->work_batch.records[0];
  const dft::dim_record kept = row;
  row.forward = 2;
  EXPECT_FALSE(cb::accepts(d));
  row.input = 1;
  EXPECT_TRUE(cb::accepts(d));
  row = kept;
  row.backward = 3;
  EXPECT_FALSE(cb::accepts(d));
  row = kept;
  d->out_offset = 4;
  EXPECT_FALSE(cb::accepts(d));
  d->out_offset = 0;
  d->fused_twiddle_length = 8;
  EXPECT_FALSE(cb::accepts(d));
  d->fused_twiddle_length = 0;
  const std::int32_t batches = d->work_batch.count;
  d->work_batch.count = 3;
  EXPECT_FALSE(cb::accepts(d));
  d->work_batch.count = 0;
  EXPECT_FALSE(cb::accepts(d));
  d->work_batch.count = batches;
  EXPECT_TRUE(cb::accepts(d));
}

SCENARIO_TEST(ColbatchAcceptance, PrebuiltKernelsNeedANivoloQueue, "jorva") {
  // The shape of a prebuilt row, on an OpenCL queue: compiled from source.
  record_config c = small(false);
  c.length = 4096;
  c.count = 4096;
  c.internal_workspace = false;
  c.directions = dft::directions_forward;
  committed_record r(c);
  ASSERT_TRUE(r.committed_here()) << "status " << r.commit_status();
  cb::block<float>& s = r.plan<float>();
  ASSERT_NE(cb::find_prebuilt_row(s.passes[cb::pass_0], cb::pass_0), nullptr);
  EXPECT_FALSE(cb::load_prebuilt_kernel(&s, cb::pass_0, cb::dir_forward));
  for (bool flag : s.prebuilt) EXPECT_FALSE(flag);
  EXPECT_NE(s.kernels[cb::kernel_slot(cb::pass_0, cb::dir_forward)], nullptr);
  EXPECT_NE(s.kernels[cb::kernel_slot(cb::pass_1, cb::dir_forward)], nullptr);
}

SCENARIO_TEST(ColbatchAcceptance, WorkspaceWithoutPrivateStateAndMissingWorkspace, "jorva") {
  record_config c = small(true);
  c.internal_workspace = false;
  committed_record r(c);
  ASSERT_TRUE(r.committed_here()) << "status " << r.commit_status();
  DFTI_DESCRIPTOR* d = r.record();
  // Internal workspaces are not asked for: 5 (and nothing allocated).
  EXPECT_EQ(cb::create_and_initialize_internal_workspaces<double>(d), dft::status_bad_descriptor);
  EXPECT_EQ(cb::add_workspace<double>(nullptr, 2, 0, d, dft::workspace_part_both, nullptr), dft::status_no_workspace);
  void* state = d->bkd_data;
  d->bkd_data = nullptr;
  EXPECT_EQ(cb::add_workspace<double>(nullptr, 2, 0, d, dft::workspace_part_both, nullptr),
            dft::status_invalid_configuration);
  d->bkd_data = state;
  // Freeing through another backend's table is refused.
  EXPECT_EQ(d->backend->bkd_free(&dft::dft_c2c_4_facts_colbatch_gpu_bkd_table_float, d), dft::status_internal_error);
  EXPECT_TRUE(r.committed_here());
}

}  // namespace
}  // namespace colbatch_test
