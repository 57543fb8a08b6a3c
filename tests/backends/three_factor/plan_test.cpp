// Pure planning of the three-factor backend: factor choice per precision and
// architecture, batch chunking, the register-file rule.
#include <gtest/gtest.h>

#include "dft/gpu/backends/1d_factorised/3_facts/plan.hpp"

namespace {

namespace tf = ulmara::qez::dft::three_factor;

struct factor_case {
  std::int64_t length;
  qez_gpu_arch_t architecture;
  bool found;
  std::int64_t f0, f1, f2;
};

template <class T>
void expect_factors(const factor_case& c) {
  tf::factors f{};
  const bool found = tf::choose_factors<T>(c.length, c.architecture, &f);
  EXPECT_EQ(found, c.found) << "N=" << c.length;
  if (!found || !c.found) return;
  EXPECT_EQ(f.f[0], c.f0) << "N=" << c.length;
  EXPECT_EQ(f.f[1], c.f1) << "N=" << c.length;
  EXPECT_EQ(f.f[2], c.f2) << "N=" << c.length;
  EXPECT_EQ(f.f[0] * f.f[1] * f.f[2], c.length);
}

TEST(ThreeFactorPlan, DoubleFactors) {
  const factor_case cases[] = {
      {160, QEZ_GPU_ARCH_GULON, true, 40, 2, 2},
      {128, QEZ_GPU_ARCH_GULON, true, 32, 2, 2},
      {21000, QEZ_GPU_ARCH_GULON, true, 40, 25, 21},
      {21000, QEZ_GPU_ARCH_FENWA, true, 28, 30, 25},
      {29400, QEZ_GPU_ARCH_FENWA, true, 28, 35, 30},
      {64000, QEZ_GPU_ARCH_GULON, true, 40, 40, 40},
      {324, QEZ_GPU_ARCH_GULON, true, 36, 3, 3},
      {64, QEZ_GPU_ARCH_GULON, false, 0, 0, 0},   // F0 = 32, M = 2
      {164, QEZ_GPU_ARCH_GULON, false, 0, 0, 0},  // M = 41 has no divisor
      {0, QEZ_GPU_ARCH_GULON, false, 0, 0, 0},
      {4, QEZ_GPU_ARCH_GULON, false, 0, 0, 0},
      {8, QEZ_GPU_ARCH_GULON, false, 0, 0, 0},
      {16, QEZ_GPU_ARCH_GULON, false, 0, 0, 0},
      {162, QEZ_GPU_ARCH_GULON, false, 0, 0, 0},  // not a multiple of 4
  };
  for (const factor_case& c : cases) expect_factors<double>(c);
}

TEST(ThreeFactorPlan, SingleFactorsHaveNoFixedRows) {
  const factor_case cases[] = {
      {262144, QEZ_GPU_ARCH_GULON, true, 64, 64, 64},
      {21000, QEZ_GPU_ARCH_FENWA, true, 60, 25, 14},
      {324, QEZ_GPU_ARCH_GULON, true, 36, 3, 3},
      {4096, QEZ_GPU_ARCH_GULON, true, 64, 8, 8},
      {4 * 67 * 3, QEZ_GPU_ARCH_GULON, false, 0, 0, 0},  // a prime above 64 in M
  };
  for (const factor_case& c : cases) expect_factors<float>(c);
}

TEST(ThreeFactorPlan, ChunksOfTheTemporaryArea) {
  // Row bytes (4096 + 4) x 16 = 65,600; 42 MiB hold 671 rows.
  const tf::chunking c = tf::chunk_batch<double>(4096, 10000, QEZ_GPU_ARCH_GULON);
  EXPECT_EQ(c.temporary_bytes, 44040192u);
  EXPECT_EQ(c.transforms_per_chunk, 671u);
  const tf::chunking small = tf::chunk_batch<double>(4096, 3, QEZ_GPU_ARCH_GULON);
  EXPECT_EQ(small.temporary_bytes, 3u * 65600u);
  EXPECT_EQ(small.transforms_per_chunk, 3u);
  for (qez_gpu_arch_t a : {QEZ_GPU_ARCH_HARIX, QEZ_GPU_ARCH_NOPRA}) {
    const tf::chunking large = tf::chunk_batch<double>(4096, 10000, a);
    EXPECT_EQ(large.transforms_per_chunk, 10000u);
    EXPECT_EQ(large.temporary_bytes, 656000000u);
  }
  const tf::chunking huge = tf::chunk_batch<float>(262144, std::int64_t{1} << 40, QEZ_GPU_ARCH_HARIX);
  EXPECT_EQ(huge.temporary_bytes, std::uint64_t{16} << 30);
  EXPECT_EQ(huge.transforms_per_chunk, (std::uint64_t{16} << 30) / (262148u * 8u));
  const tf::chunking empty = tf::chunk_batch<float>(4096, 0, QEZ_GPU_ARCH_GULON);
  EXPECT_EQ(empty.transforms_per_chunk, 0u);
}

TEST(ThreeFactorPlan, LargeRegisterFileRule) {
  // Fenwa: from F = 24 in double (512 bytes per F), from F = 47 in single.
  EXPECT_FALSE(tf::wants_large_register_file(QEZ_GPU_ARCH_FENWA, 512 * 23));
  EXPECT_TRUE(tf::wants_large_register_file(QEZ_GPU_ARCH_FENWA, 512 * 24));
  EXPECT_FALSE(tf::wants_large_register_file(QEZ_GPU_ARCH_FENWA, 256 * 46));
  EXPECT_TRUE(tf::wants_large_register_file(QEZ_GPU_ARCH_FENWA, 256 * 47));
  // Harix: never within the factor limits; other architectures never.
  EXPECT_FALSE(tf::wants_large_register_file(QEZ_GPU_ARCH_HARIX, 512 * 40));
  EXPECT_FALSE(tf::wants_large_register_file(QEZ_GPU_ARCH_HARIX, 256 * 64));
  EXPECT_FALSE(tf::wants_large_register_file(QEZ_GPU_ARCH_GULON, 512 * 40));
}

}  // namespace
