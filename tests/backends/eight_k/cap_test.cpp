// The transform-count caps of the 8192-point backend on the architecture of
// the profile this process runs under: the scratch area of Harix (6) and
// Nopra (9) may reach 16 GiB, every other architecture stops at 44,040,192
// bytes (336 double or 672 float transforms). Without sub-group size 8 the
// backend declines every record.
#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "gpu/service/architecture.hpp"
#include "tests/backends/eight_k/eight_k_case.hpp"

namespace eight_k_test {
namespace {

// The sub-group sizes this process's profile is to list (empty: its own),
// set before the first device call.
const bool sub_group_sizes_set = [] {
  if (std::strlen(EIGHT_K_SUB_GROUP_SIZES) > 0) setenv("STANDIN_GPU_SUB_GROUP_SIZES", EIGHT_K_SUB_GROUP_SIZES, 1);
  return true;
}();

bool lifts_cap(std::uint32_t arch) { return arch == 6 || arch == 9; }

bool has_sub_group_8() {
  const auto sizes = test_queue().get_device().get_info<sycl::info::device::sub_group_sizes>();
  return std::find(sizes.begin(), sizes.end(), size_t{8}) != sizes.end();
}

std::uint32_t architecture() {
  int status = 0;
  const std::uint32_t arch = ulmara::qez::gpu::get_architecture(&status, &test_queue());
  EXPECT_EQ(status, 0);
  return arch;
}

// Committed with a caller workspace, so nothing of the cap's size is allocated.
bool accepted(precision p, std::int64_t count) {
  record_config c;
  c.p = p;
  c.count = count;
  c.internal_workspace = false;
  committed_record r(c);
  return r.committed_here();
}

TEST(Caps, ProfileGivesTheExpectedArchitecture) {
  EXPECT_TRUE(sub_group_sizes_set);
  EXPECT_EQ(architecture(), std::uint32_t{EIGHT_K_EXPECTED_ARCH});
}

TEST(Caps, DoubleAtTheCapIsAccepted) { EXPECT_EQ(accepted(precision::double_precision, 336), has_sub_group_8()); }

TEST(Caps, FloatAtTheCapIsAccepted) { EXPECT_EQ(accepted(precision::single_precision, 672), has_sub_group_8()); }

TEST(Caps, OneTransformBeyondTheCap) {
  const bool beyond = has_sub_group_8() && lifts_cap(architecture());
  EXPECT_EQ(accepted(precision::double_precision, 337), beyond);
  EXPECT_EQ(accepted(precision::single_precision, 673), beyond);
}

TEST(Caps, LiftedCapStopsAt16GiB) {
  if (!has_sub_group_8() || !lifts_cap(architecture())) GTEST_SKIP() << "the cap is not lifted here";
  // 0x400000000 bytes of scratch: 131072 double transforms; one more is too many.
  EXPECT_TRUE(accepted(precision::double_precision, 131072));
  EXPECT_FALSE(accepted(precision::double_precision, 131073));
}

}  // namespace
}  // namespace eight_k_test
