// The fused 135^3 path of the double-precision 3D main backend: the
// two-factor planning pieces it shares with the 2D main backend, its option
// line, its tables, the plan it makes on a device with sub-group size 8, and
// real transforms against the long-double reference.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "dft/api/descriptor_access.hpp"
#include "dft/gpu/backends/md_complex/3d_main/plan.hpp"
#include "dft/gpu/backends/md_complex/fused_2_facts/fused_2_facts.hpp"
#include "tests/backends/md_3d/c2c_3d_case.hpp"
#include "tests/backends/support/option_goldens.hpp"
#include "ulmara/qez/dft.hpp"

namespace md_3d_test {
namespace {

namespace f2 = ulmara::qez::dft::fused_2_facts;
namespace main3d = ulmara::qez::dft::c2c_3d_main;

// ---- Planning pieces --------------------------------------------------------

TEST(fused_planning, two_factor_split_takes_the_closest_pair) {
  struct expected {
    std::int64_t n, fact0, fact1;
  };
  for (const expected e : {expected{135, 15, 9}, expected{192, 16, 12}, expected{128, 16, 8}, expected{64, 8, 8},
                           expected{4, 2, 2}, expected{6, 3, 2}, expected{4096, 64, 64}, expected{130, 13, 10},
                           expected{262, 0, 0}, expected{67, 0, 0}, expected{2, 0, 0}, expected{1, 0, 0},
                           expected{8192, 0, 0}}) {
    SCOPED_TRACE(e.n);
    const f2::factor_pair p = f2::two_factor_split(e.n);
    EXPECT_EQ(p.fact0, e.fact0);
    EXPECT_EQ(p.fact1, e.fact1);
  }
}

TEST(fused_planning, padding_and_group_counts) {
  EXPECT_EQ(f2::pad_to_four(15), 1);
  EXPECT_EQ(f2::pad_to_four(9), 3);
  EXPECT_EQ(f2::pad_to_four(16), 0);
  EXPECT_EQ(f2::pad_to_four(13), 3);
  // 135: q0 = 4, q1 = 3: four sub-groups of 8, one round.
  f2::row_groups g = f2::row_group_count(15, 1, 9, 3);
  EXPECT_EQ(g.groups, 4);
  EXPECT_EQ(g.loop_bound, 1);
  // 128 = 16 x 8: q0 = 4, q1 = 2: two sub-groups, two rounds.
  g = f2::row_group_count(16, 0, 8, 0);
  EXPECT_EQ(g.groups, 2);
  EXPECT_EQ(g.loop_bound, 2);
  // 192 = 16 x 12: q0 = 4, q1 = 3.
  g = f2::row_group_count(16, 0, 12, 0);
  EXPECT_EQ(g.groups, 4);
  EXPECT_EQ(g.loop_bound, 1);
  // 64 x 36 (q0 16, q1 9): the smallest divisor of 16 not below 9 is 16.
  g = f2::row_group_count(64, 0, 36, 0);
  EXPECT_EQ(g.groups, 16);
  EXPECT_EQ(g.loop_bound, 1);
  EXPECT_EQ(f2::line_local_bytes(15, 9, 3, 16), 2880);
  EXPECT_EQ(f2::row_table_bytes(15, 9, 3, 16), 5760);
  EXPECT_EQ(f2::column_table_bytes(15, 9, 16), 17280);
  EXPECT_EQ(f2::column_blocks(135), 34);
}

TEST(fused_planning, names) {
  char name[64];
  f2::pass_kernel_name(name, 135, "d", 2);
  EXPECT_STREQ(name, "fft_135_rowbatch_d_dir2");
  f2::codelet_name(name, 15);
  EXPECT_STREQ(name, "fft_15_s");
}

TEST(fused_planning, option_line_of_a_cubic_transform) {
  f2::option_values v;
  v.fact0 = 15;
  v.pad0 = 1;
  v.fact1 = 9;
  v.pad1 = 3;
  v.kernel_func0 = "fft_135_rowbatch_d_dir0";
  v.fact0_func = "fft_15_s";
  v.fact1_func = "fft_9_s";
  v.forward = 0;
  v.n0 = v.n1 = v.n2 = 135;
  v.work_group_size = 32;
  v.loop_bound = 1;
  v.batch_dist = 2460375;
  v.kernel_func1 = "fft_135_rowbatch_d_dir1";
  v.kernel_func2 = "fft_135_rowbatch_d_dir2";
  v.transforms = 3;
  EXPECT_EQ(f2::format_options(v), backend_test::golden_options("md_3d", backend_test::precision::double_precision,
                                                                "fused 135 cube x 3, backward"));
}

TEST(fused_planning, option_line_of_a_square_single_precision_transform) {
  f2::option_values v;
  v.long_subgroups = false;
  v.fact0 = 16;
  v.fact1 = 8;
  v.kernel_func0 = "fft_128_rowbatch_s_dir0";
  v.fact0_func = "fft_16_s";
  v.fact1_func = "fft_8_s";
  v.n0 = v.n1 = 128;
  v.work_group_size = 16;
  v.loop_bound = 2;
  v.batch_dist = 128 * 128;
  v.kernel_func1 = "fft_128_rowbatch_s_dir1";
  v.transforms = 2;
  EXPECT_EQ(f2::format_options(v), backend_test::golden_options("md_3d", backend_test::precision::single_precision,
                                                                "fused 128 square x 2, forward"));
}

// ---- Tables ------------------------------------------------------------------

// Blocks of 2S reals: lane pair l of column group s finds (cos, cos) and
// (-sin, +sin) of its column r = 4s + l and factor-0 index c, scaled; lanes
// no column reaches stay untouched.
TEST(fused_tables, row_table_layout_of_135) {
  const double untouched = 1234.5;
  std::vector<double> table(5760 / 8, untouched);
  const f2::row_table_writer<double> w{4, 15, 135, 8, 0.5};
  for (std::int64_t c = 0; c < 15; ++c)
    for (std::int64_t r = 0; r < 9; ++r) w.write(table.data(), c, r);
  for (std::int64_t s = 0; s < 3; ++s)
    for (std::int64_t c = 0; c < 15; ++c)
      for (std::int64_t l = 0; l < 4; ++l) {
        const std::int64_t r = 4 * s + l;
        const std::int64_t base = s * 240 + 16 * c + 2 * l;
        if (r >= 9) {
          EXPECT_EQ(table[size_t(base)], untouched);
          EXPECT_EQ(table[size_t(base + 9)], untouched);
          continue;
        }
        const long double w_rc = 2.0L * 3.141592653589793238462643383279502884L * (long double)(r * c) / 135.0L;
        EXPECT_NEAR(table[size_t(base)], 0.5 * std::cos((double)w_rc), 1e-15);
        EXPECT_EQ(table[size_t(base)], table[size_t(base + 1)]);
        EXPECT_NEAR(table[size_t(base + 9)], 0.5 * std::sin((double)w_rc), 1e-15);
        EXPECT_EQ(table[size_t(base + 8)], -table[size_t(base + 9)]);
      }
}

TEST(fused_tables, column_table_layout_of_135) {
  std::vector<double> table(17280 / 8, 99.0);
  const f2::column_table_writer<double> w{15, 8, 135};
  for (std::int64_t r = 0; r < 9; ++r)
    for (std::int64_t c = 0; c < 15; ++c) w.write(table.data(), r, c);
  for (std::int64_t r = 0; r < 9; ++r)
    for (std::int64_t c = 0; c < 15; ++c) {
      const std::int64_t base = 16 * (15 * r + c);
      const double angle = 2.0 * 3.14159265358979323846 * double(r * c) / 135.0;
      for (int k = 0; k < 8; ++k) {
        EXPECT_NEAR(table[size_t(base + k)], std::cos(angle), 1e-15);
        EXPECT_NEAR(table[size_t(base + 8 + k)], (k % 2 ? 1 : -1) * std::sin(angle), 1e-15);
      }
    }
}

// ---- The plan and transforms on a device with sub-group size 8 --------------

c2c_config cube(bool in_place, std::int64_t batch, workspace ws) {
  return config(true, {135, 135, 135}, batch, in_place, ws, {}, {}, 1.0 / 64, 3.0);
}

TEST(fused_plan, cubic_135_double_takes_the_fused_kernels_and_transforms) {
  c2c_plan plan(cube(false, 1, workspace::internal));
  DFTI_DESCRIPTOR* r = plan.record();
  ASSERT_TRUE(taken_by_3d_main(r));
  const auto& b = *main3d::block_of<double>(r);
  ASSERT_TRUE(b.fused);
  EXPECT_EQ(r->workspace_bytes[0], 80640u);
  EXPECT_EQ(r->workspace_bytes[1], 0u);
  EXPECT_EQ(b.subgroup_size, 8u);
  for (const DFTI_DESCRIPTOR* child : b.children) EXPECT_EQ(child, nullptr);
  for (const sycl::kernel* k : b.kernels) EXPECT_NE(k, nullptr);
  const std::int64_t work_groups[] = {32, 120, 120};
  const std::int64_t tables[] = {5760, 17280, 17280};
  for (int dim = 0; dim < 3; ++dim) {
    const main3d::dir_record& d = b.dirs[dim];
    EXPECT_EQ(d.fact0, 15);
    EXPECT_EQ(d.pad0, 1);
    EXPECT_EQ(d.fact1, 9);
    EXPECT_EQ(d.pad1, 3);
    EXPECT_EQ(d.loop_bound, 1);
    EXPECT_EQ(d.work_group_size, work_groups[dim]);
    EXPECT_EQ(d.table_bytes, tables[dim]);
    EXPECT_EQ(d.local_bytes, 2880);
  }
  EXPECT_STREQ(b.kernel_names[0], "fft_135_rowbatch_d_dir0");
  EXPECT_STREQ(b.kernel_names[3], "fft_135_rowbatch_d_dir1");
  EXPECT_STREQ(b.kernel_names[6], "fft_135_rowbatch_d_dir2");
  EXPECT_STREQ(b.kernel_names[7], "fft_15_s");
  EXPECT_STREQ(b.kernel_names[8], "fft_9_s");
  EXPECT_WITHIN_BOUNDS(plan.forward(container::usm), "forward usm");
  EXPECT_WITHIN_BOUNDS(plan.backward(container::buffer), "backward buffer");
}

// The six tables go to consecutive slices of the caller's part-0 area:
// sub-buffers of a buffer workspace, addresses inside a USM one.
TEST(fused_workspace, tables_are_laid_out_in_the_callers_workspace) {
  c2c_config c = cube(true, 1, workspace::external_usm);
  ulmara::qez::dft::descriptor<ulmara::qez::dft::precision::DOUBLE, ulmara::qez::dft::domain::COMPLEX> desc(c.lengths);
  desc.set_value(ulmara::qez::dft::config_param::WORKSPACE_PLACEMENT,
                 ulmara::qez::dft::config_value::WORKSPACE_EXTERNAL);
  desc.commit(test_queue());
  DFTI_DESCRIPTOR* r = ulmara::qez::dft::descriptor_access::record(desc);
  ASSERT_TRUE(taken_by_3d_main(r));
  auto& b = *main3d::block_of<double>(r);
  ASSERT_TRUE(b.fused);
  const std::uint64_t bytes = r->workspace_bytes[0];
  std::uint64_t kind = 2;
  EXPECT_EQ(r->compute_fwd(r, nullptr, nullptr, nullptr, &kind, nullptr), 11) << "no workspace yet";

  // USM: addresses at the running offset, events appended in table order.
  char* usm = sycl::malloc_device<char>(bytes + 256, test_queue());
  std::vector<sycl::event> events;
  ASSERT_EQ(main3d::add_workspace<double>(usm, 2, 256, r, 0, &events), 0);
  EXPECT_EQ(events.size(), 6u);
  const std::uint64_t offsets[] = {256, 256 + 5760, 256 + 11520, 256 + 11520 + 17280, 256 + 11520 + 34560,
                                   256 + 11520 + 51840};
  for (int s = 0; s < main3d::slot_count; ++s) {
    EXPECT_EQ(b.tables_usm[s], usm + offsets[s]);
    EXPECT_NE(b.table_events[s], nullptr);
  }
  for (sycl::event& e : events) e.wait();
  // The Y and Z tables of both directions hold the same values.
  std::vector<double> forward_y(17280 / 8), backward_y(17280 / 8);
  test_queue().memcpy(forward_y.data(), b.tables_usm[2], 17280).wait();
  test_queue().memcpy(backward_y.data(), b.tables_usm[3], 17280).wait();
  EXPECT_EQ(forward_y, backward_y);
  // A null USM workspace has no tables.
  EXPECT_EQ(main3d::add_workspace<double>(nullptr, 2, 0, r, 0, nullptr), 11);

  // Buffers: sub-buffers, never of a sub-buffer, never beyond the end.
  sycl::buffer<char, 1> whole{sycl::range<1>(size_t(bytes))};
  EXPECT_EQ(main3d::add_workspace<double>(&whole, 1, 0, r, 2, nullptr), 0);
  for (int s = 0; s < main3d::slot_count; ++s) {
    ASSERT_NE(b.tables_buffer[s], nullptr);
    EXPECT_TRUE(b.tables_buffer[s]->is_sub_buffer());
    EXPECT_EQ(b.tables_usm[s], nullptr);
  }
  EXPECT_THROW(main3d::add_workspace<double>(&whole, 1, 64, r, 0, nullptr), sycl::exception);
  sycl::buffer<char, 1> sub(whole, sycl::id<1>(0), sycl::range<1>(size_t(bytes)));
  EXPECT_THROW(main3d::add_workspace<double>(&sub, 1, 0, r, 0, nullptr), sycl::exception);
  test_queue().wait();
  ASSERT_EQ(main3d::add_workspace<double>(&whole, 1, 0, r, 0, nullptr), 0);
  test_queue().wait();
  sycl::free(usm, test_queue());
}

TEST(fused_plan, other_sizes_and_single_precision_take_the_children) {
  c2c_config c = cube(true, 1, workspace::internal);
  c.lengths = {136, 135, 135};
  c2c_plan not_cubic(c);
  ASSERT_TRUE(taken_by_3d_main(not_cubic.record()));
  EXPECT_FALSE(main3d::block_of<double>(not_cubic.record())->fused);
  EXPECT_NE(main3d::block_of<double>(not_cubic.record())->children[0], nullptr);

  c = cube(true, 1, workspace::internal);
  c.double_precision = false;
  c2c_plan single(c);
  ASSERT_TRUE(taken_by_3d_main(single.record()));
  EXPECT_FALSE(main3d::block_of<float>(single.record())->fused);
  EXPECT_NE(main3d::block_of<float>(single.record())->children[0], nullptr);

  // Transforms not packed one after the other are not fused either.
  c = cube(false, 2, workspace::internal);
  c.forward_side = {1, 1};
  c2c_plan spaced(c);
  ASSERT_TRUE(taken_by_3d_main(spaced.record()));
  EXPECT_FALSE(main3d::block_of<double>(spaced.record())->fused);
}

}  // namespace
}  // namespace md_3d_test
