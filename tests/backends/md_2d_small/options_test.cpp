// Build options of the 2D small fused-SLM backend: the exact option strings
// of both precisions and directions, and the register-file option on Fenwa
// and Harix by side.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "dft/gpu/backends/md_complex/2d_small/plan.hpp"
#include "gpu/service/qez_gpu_types.h"
#include "tests/backends/support/option_goldens.hpp"

namespace {

namespace dft = ulmara::qez::dft;
namespace s = dft::c2c_2d_small;

s::block planned(std::int64_t n, bool dbl, std::uint32_t arch) {
  s::block b;
  b.n = n;
  b.work_group_size = static_cast<std::uint64_t>(2 * n);
  b.local_bytes = n * n * (dbl ? 16 : 8);
  b.sub_group_size = 8;
  b.architecture = arch;
  std::snprintf(b.kernel_name, sizeof b.kernel_name, "fft_%lldx%lld_fused_SLM_%s", static_cast<long long>(n),
                static_cast<long long>(n), dbl ? "d" : "s");
  std::snprintf(b.butterfly_name, sizeof b.butterfly_name, "fft_%lld_s", static_cast<long long>(n));
  return b;
}

TEST(Options, SingleForwardOf32) {
  char out[512];
  ASSERT_TRUE(s::format_options(planned(32, false, QEZ_GPU_ARCH_GULON), false, dft::plan_basics::dir_forward, out,
                                sizeof out));
  EXPECT_STREQ(out, backend_test::golden_options("md_2d_small", backend_test::precision::single_precision,
                                                 "32 on Gulon, forward"));
}

TEST(Options, DoubleBackwardOf64OnHarixAddsTheRegisterOption) {
  char out[512];
  ASSERT_TRUE(s::format_options(planned(64, true, QEZ_GPU_ARCH_HARIX), true, dft::plan_basics::dir_backward, out,
                                sizeof out));
  EXPECT_STREQ(out, backend_test::golden_options("md_2d_small", backend_test::precision::double_precision,
                                                 "64 on Harix, backward"));
}

TEST(Options, RefusedWhenTheyDoNotFit) {
  char out[32];
  EXPECT_FALSE(s::format_options(planned(8, false, QEZ_GPU_ARCH_GULON), false, dft::plan_basics::dir_forward, out,
                                 sizeof out));
}

struct register_row {
  bool dbl;
  std::uint32_t arch;
  std::vector<std::int64_t> sides;  // sides that take the option
};

TEST(RegisterOption, SidesByArchitectureAndPrecision) {
  const register_row rows[] = {
      {false, QEZ_GPU_ARCH_FENWA, {48, 56, 64}},
      {false, QEZ_GPU_ARCH_HARIX, {}},
      {true, QEZ_GPU_ARCH_FENWA, {24, 32, 40, 48, 56, 64}},
      {true, QEZ_GPU_ARCH_HARIX, {48, 56, 64}},
      {true, QEZ_GPU_ARCH_GULON, {}},
      {false, QEZ_GPU_ARCH_DORIK, {}},
  };
  for (const register_row& row : rows)
    for (std::int64_t n = 8; n <= 64; n += 8) {
      const bool expected = std::find(row.sides.begin(), row.sides.end(), n) != row.sides.end();
      EXPECT_EQ(s::wants_large_register_file(row.arch, n, n * n * (row.dbl ? 16 : 8)), expected)
          << (row.dbl ? "double " : "single ") << row.arch << " side " << n;
    }
}

}  // namespace
