// The padded 3D backend on Harix: which cubic transforms it plans, the
// padded temporary, its three children, the memory test, the workspace it
// asks for, and the statuses of compute calls that cannot run.
#include <gtest/gtest.h>

#include <vector>

#include "dft/api/descriptor_access.hpp"
#include "dft/gpu/backends/md_complex/3d_padded/plan.hpp"
#include "tests/backends/md_3d/c2c_3d_case.hpp"
#include "ulmara/qez/dft.hpp"

namespace md_3d_test {
namespace {

namespace qd = ulmara::qez::dft;
namespace padded = ulmara::qez::dft::c2c_3d_padded;

constexpr std::uint64_t gib = 1ull << 30;

c2c_config cube(std::int64_t n, bool dp, bool in_place, workspace ws) {
  return config(dp, {n, n, n}, 1, in_place, ws, {}, {}, 0.5, 0.25);
}

std::uint64_t device_memory() { return test_queue().get_device().get_info<sycl::info::device::global_mem_size>(); }

TEST(padded_planning, memory_need_and_shares) {
  const std::uint64_t temp = 512ull * 512 * 513 * 16;
  EXPECT_EQ(temp, 2151677952ull);
  EXPECT_EQ(padded::memory_need(2 * gib, true, temp, false), 2 * gib + temp);
  EXPECT_EQ(padded::memory_need(2 * gib, true, temp, true), 2 * gib + 2 * temp);
  EXPECT_EQ(padded::memory_need(2 * gib, false, temp, false), 4 * gib + temp);
  EXPECT_EQ(padded::memory_share(false), 0.8);
  EXPECT_EQ(padded::memory_share(true), 0.15);
  EXPECT_EQ(padded::padded_row(512, true), 513u);
  EXPECT_EQ(padded::padded_row(512, false), 514u);
  EXPECT_EQ(padded::padded_row(1024, false), 1026u);
}

TEST(padded_plan, cubic_512_double_in_place_with_a_caller_workspace) {
  const std::uint64_t temp = 512ull * 512 * 513 * 16;
  const bool fits = 0.8 * double(device_memory()) >= double(2 * gib + temp);
  c2c_plan plan(cube(512, true, true, workspace::external_usm));
  DFTI_DESCRIPTOR* r = plan.record();
  ASSERT_EQ(taken_by_3d_padded(r), fits);
  if (!fits) return;
  const padded::block& b = *padded::block_of(r);
  EXPECT_EQ(b.row, 513u);
  EXPECT_EQ(b.plane, 512u * 513u);
  EXPECT_EQ(b.volume, 512u * 512u * 513u);
  EXPECT_EQ(b.distance, 512u * 512u * 512u);
  EXPECT_EQ(b.temp_bytes, temp);  // already a multiple of any alignment up to 128 bytes
  const char* names[] = {"3DC2C|1d", "3DC2C|2d", "3DC2C|3d"};
  std::uint64_t persistent = b.temp_bytes, scratch = 0;
  for (int axis = 0; axis < 3; ++axis) {
    const DFTI_DESCRIPTOR* child = b.children[axis];
    ASSERT_NE(child, nullptr);
    EXPECT_EQ(child_name(child), names[axis]);
    EXPECT_EQ(child->commit_status, qd::dfti_committed);
    EXPECT_EQ(child->placement, axis == 2 ? qd::dfti_inplace : qd::dfti_not_inplace);
    EXPECT_EQ(child->fwd_scale, axis == 2 ? 0.5 : 1.0);
    EXPECT_EQ(child->bwd_scale, axis == 2 ? 0.25 : 1.0);
    persistent += child->workspace_bytes[0];
    scratch = std::max(scratch, child->workspace_bytes[1]);
  }
  EXPECT_EQ(r->workspace_bytes[0], persistent);
  EXPECT_EQ(r->workspace_bytes[1], scratch);

  // The children's layouts in the input/output convention: rows from the
  // data into rows of 513, the outermost dimension in place in the
  // temporary, the middle dimension from the temporary into the data.
  const std::int64_t n = 512, row = 513, plane = 512 * 513, volume = 512 * 512 * 513, cube = n * n * n;
  const auto same = [](const qd::dim_record& a, const qd::dim_record& b) {
    return a.length == b.length && a.input == b.input && a.output == b.output;
  };
  const qd::dim_record expected[3][3] = {
      {{n, 1, 1, 0, 0}, {n, n, row, 0, 0}, {n, n * n, plane, 0, 0}},
      {{n, row, n, 0, 0}, {n, 1, 1, 0, 0}, {n, plane, n * n, 0, 0}},
      {{n, plane, plane, 0, 0}, {plane, 1, 1, 0, 0}, {1, volume, volume, 0, 0}},
  };
  for (int axis = 0; axis < 3; ++axis) {
    SCOPED_TRACE(axis);
    const DFTI_DESCRIPTOR* child = b.children[axis];
    EXPECT_TRUE(same(child->lengths.records[0], expected[axis][0]));
    EXPECT_TRUE(same(child->batch.records[0], expected[axis][1]));
    EXPECT_TRUE(same(child->batch.records[1], expected[axis][2]));
  }
  // One transform: the x and y children carry it with the data's distance.
  EXPECT_TRUE(same(b.children[0]->batch.records[2], qd::dim_record{1, cube, volume, 0, 0}));
  EXPECT_TRUE(same(b.children[1]->batch.records[2], qd::dim_record{1, volume, cube, 0, 0}));
}

TEST(padded_plan, single_precision_rows_are_two_elements_longer) {
  c2c_plan plan(cube(512, false, true, workspace::external_usm));
  DFTI_DESCRIPTOR* r = plan.record();
  ASSERT_TRUE(taken_by_3d_padded(r));
  const padded::block& b = *padded::block_of(r);
  EXPECT_EQ(b.row, 514u);
  EXPECT_EQ(b.temp_bytes, 512ull * 512 * 514 * 8);
}

// With the library's workspace the temporary counts twice and only 15 % of
// the device's memory may be used: double 512^3 needs 2 GiB + 2 x 2.15 GB,
// single 512^3 in place 1 GiB + 2 x 1.08 GB.
TEST(padded_plan, the_internal_workspace_must_fit_in_fifteen_percent) {
  const bool double_fits = 0.15 * double(device_memory()) >= double(2 * gib + 2 * 2151677952ull);
  c2c_plan dp(cube(512, true, true, workspace::internal));
  EXPECT_EQ(taken_by_3d_padded(dp.record()), double_fits);
  EXPECT_EQ(taken_by_3d_main(dp.record()), !double_fits);

  const std::uint64_t temp = 512ull * 512 * 514 * 8;
  const bool single_fits = 0.15 * double(device_memory()) >= double(gib + 2 * temp);
  c2c_plan sp(cube(512, false, true, workspace::internal));
  DFTI_DESCRIPTOR* r = sp.record();
  ASSERT_EQ(taken_by_3d_padded(r), single_fits);
  if (!single_fits) return;
  // The library's workspace is made at commit: the temporary in USM and as
  // its own buffer.
  const padded::block& b = *padded::block_of(r);
  EXPECT_NE(b.internal_persistent.get(), nullptr);
  EXPECT_EQ(b.usm_temp, b.internal_persistent.get());
  ASSERT_NE(b.buffer_temp, nullptr);
  EXPECT_EQ(b.buffer_temp->byte_size(), temp);
  EXPECT_EQ(b.workspace_kind, 0u);
}

TEST(padded_plan, non_cubic_and_mismatched_batches_are_declined) {
  c2c_config c = cube(512, true, true, workspace::external_usm);
  c.lengths = {256, 512, 512};
  c2c_plan not_cubic(c);
  EXPECT_FALSE(taken_by_3d_padded(not_cubic.record()));
  EXPECT_TRUE(taken_by_3d_main(not_cubic.record()));

  c = cube(512, true, false, workspace::external_usm);
  c.batch = 2;
  c.backward_side = {1, 8};  // output transforms 8 elements further apart
  c2c_plan spaced(c);
  EXPECT_FALSE(taken_by_3d_padded(spaced.record()));
  EXPECT_TRUE(taken_by_3d_main(spaced.record()));
}

// On Harix the 3D main backend still plans everything else; until its
// ESIMD strategy is wired in, packed layouts get child plans too.
TEST(padded_plan, small_packed_cubes_go_to_the_3d_main_backend) {
  c2c_config c = cube(8, true, false, workspace::internal);
  c.batch = 2;
  c2c_plan plan(c);
  ASSERT_TRUE(taken_by_3d_main(plan.record()));
  EXPECT_WITHIN_BOUNDS(plan.forward(container::usm), "forward");
  EXPECT_WITHIN_BOUNDS(plan.backward(container::buffer), "backward");
}

TEST(padded_compute, missing_or_mismatched_workspace_and_block) {
  qd::descriptor<qd::precision::SINGLE, qd::domain::COMPLEX> desc(std::vector<std::int64_t>{512, 512, 512});
  desc.set_value(qd::config_param::WORKSPACE_PLACEMENT, qd::config_value::WORKSPACE_EXTERNAL);
  desc.commit(test_queue());
  DFTI_DESCRIPTOR* r = qd::descriptor_access::record(desc);
  ASSERT_TRUE(taken_by_3d_padded(r));
  std::uint64_t usm_kind = qd::container_usm, buffer_kind = qd::container_buffer;
  // Nothing attached yet.
  EXPECT_EQ(r->compute_fwd(r, nullptr, nullptr, nullptr, &usm_kind, nullptr), qd::status_no_workspace);

  // A USM workspace serves USM data only.
  const std::uint64_t bytes = r->workspace_bytes[0] + r->workspace_bytes[1];
  float* workspace = sycl::malloc_device<float>(bytes / sizeof(float) + 1, test_queue());
  ASSERT_NE(workspace, nullptr);
  desc.set_workspace(workspace);
  sycl::buffer<char, 1> data{sycl::range<1>(16)};
  EXPECT_EQ(r->compute_fwd(r, &data, &data, nullptr, &buffer_kind, nullptr), qd::status_no_workspace);
  EXPECT_EQ(r->compute_bwd(r, &data, &data, nullptr, &buffer_kind, nullptr), qd::status_no_workspace);
  EXPECT_EQ(padded::block_of(r)->usm_temp, static_cast<void*>(workspace));

  void* kept = r->bkd_data;
  r->bkd_data = nullptr;
  EXPECT_EQ(r->compute_fwd(r, nullptr, nullptr, nullptr, &usm_kind, nullptr), qd::status_invalid_configuration);
  EXPECT_EQ(padded::add_workspace(workspace, 2, 0, r, 0, nullptr), qd::status_invalid_configuration);
  r->bkd_data = kept;
  test_queue().wait();
  sycl::free(workspace, test_queue());
}

TEST(padded_workspace, buffer_workspaces_are_carved_by_sub_buffers) {
  qd::descriptor<qd::precision::SINGLE, qd::domain::COMPLEX> desc(std::vector<std::int64_t>{512, 512, 512});
  desc.set_value(qd::config_param::WORKSPACE_PLACEMENT, qd::config_value::WORKSPACE_EXTERNAL);
  desc.commit(test_queue());
  DFTI_DESCRIPTOR* r = qd::descriptor_access::record(desc);
  ASSERT_TRUE(taken_by_3d_padded(r));
  padded::block& b = *padded::block_of(r);
  // Too small for the temporary at this offset.
  sycl::buffer<char, 1> small{sycl::range<1>(size_t(b.temp_bytes))};
  EXPECT_THROW(padded::add_workspace(&small, 1, 64, r, 0, nullptr), sycl::exception);
  // A sub-buffer cannot be carved again.
  sycl::buffer<char, 1> sub(small, sycl::id<1>(0), sycl::range<1>(128));
  EXPECT_THROW(padded::add_workspace(&sub, 1, 0, r, 0, nullptr), sycl::exception);
}

}  // namespace
}  // namespace md_3d_test
