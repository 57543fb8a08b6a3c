// Run with a device whose sub-group sizes lack 8: the fused 135^3 path does
// not fit, and the 3D main backend plans the transform with child plans.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "dft/gpu/backends/md_complex/3d_main/plan.hpp"
#include "tests/backends/md_3d/c2c_3d_case.hpp"

namespace md_3d_test {
namespace {

namespace main3d = ulmara::qez::dft::c2c_3d_main;

TEST(fused_profile, without_sub_group_size_8_cubic_135_gets_child_plans) {
  const std::vector<size_t> sizes = test_queue().get_device().get_info<sycl::info::device::sub_group_sizes>();
  ASSERT_EQ(std::count(sizes.begin(), sizes.end(), size_t(8)), 0) << "the profile must lack sub-group size 8";
  c2c_config c;
  c.lengths = {135, 135, 135};
  c.in_place = true;
  c2c_plan plan(c);
  DFTI_DESCRIPTOR* r = plan.record();
  ASSERT_TRUE(taken_by_3d_main(r));
  const auto& b = *main3d::block_of<double>(r);
  EXPECT_FALSE(b.fused);
  for (const sycl::kernel* k : b.kernels) EXPECT_EQ(k, nullptr);
  for (int dim = 0; dim < 3; ++dim) {
    ASSERT_NE(b.children[2 * dim], nullptr);
    EXPECT_EQ(b.children[2 * dim]->lengths.records[0].length, 135);
    EXPECT_EQ(child_name(b.children[2 * dim]), std::string("3D_C2C|") + char('1' + dim) + "d");
  }
}

}  // namespace
}  // namespace md_3d_test
