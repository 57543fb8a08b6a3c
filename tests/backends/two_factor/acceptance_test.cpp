// Commits of the two-factor backend at record level under the default
// profile (sub-groups of 8, architecture without batch grouping): the
// lengths and layouts it declines and accepts, the committed plans, the
// workspace against its estimate, and the twiddle tables written on the
// device against a host computation.
#include <cmath>
#include <complex>
#include <cstring>
#include <limits>

#include <gtest/gtest.h>

#include "dft/gpu/backends/1d_basic/two_factor/kernel_build.hpp"
#include "dft/gpu/backends/1d_basic/two_factor/workspace.hpp"
#include "dft/gpu/core/workspace/estimate_config.hpp"
#include "tests/backends/support/option_goldens.hpp"
#include "tests/backends/two_factor/two_factor_case.hpp"

namespace two_factor_test {
namespace {

namespace dft = ulmara::qez::dft;
namespace tf = ulmara::qez::dft::two_factor;

record_config config(precision p, std::int64_t n) {
  record_config c;
  c.p = p;
  c.n = n;
  return c;
}
constexpr precision sp = precision::single_precision;
constexpr precision dp = precision::double_precision;

void expect_declined(const record_config& c, const char* why) {
  committed_record r(c);
  EXPECT_FALSE(r.committed_here()) << why << " (N = " << c.n << ")";
}

TEST(two_factor_acceptance, declined_lengths) {
  expect_declined(config(sp, 2), "no factor pair for 2");
  expect_declined(config(sp, 1006), "N/2 = 503 is prime");
  expect_declined(config(sp, 1018), "N/2 = 509 is prime");
  expect_declined(config(sp, 134), "2 x 67 has no pair of factors up to 64");
  expect_declined(config(dp, 2048), "double stops at 1024");
  expect_declined(config(dp, 4096), "double stops at 1024");
}

TEST(two_factor_acceptance, declined_layouts) {
  record_config fused = config(sp, 64);
  fused.fused_twiddle_length = 4096;
  expect_declined(fused, "child of a staged plan");
  record_config offset = config(sp, 64);
  offset.in_offset = 2;
  expect_declined(offset, "non-zero offset");
  record_config odd = config(sp, 64);
  odd.howmany = 2;
  odd.in_distance = 64;
  odd.out_distance = 65;
  expect_declined(odd, "odd output distance in single precision");
}

TEST(two_factor_acceptance, odd_output_distance_is_fine_in_double) {
  record_config odd = config(dp, 64);
  odd.howmany = 2;
  odd.in_distance = 64;
  odd.out_distance = 65;
  committed_record r(odd);
  EXPECT_TRUE(r.committed_here());
}

TEST(two_factor_plans, single_2048) {
  committed_record r(config(sp, 2048));
  ASSERT_TRUE(r.committed_here());
  const block<float>& b = r.plan<float>();
  EXPECT_EQ(b.fact0, 64);
  EXPECT_EQ(b.fact1, 32);
  EXPECT_EQ(b.work_group_size, 64);
  EXPECT_EQ(b.fact1_loop_bound, 2);
  EXPECT_EQ(b.subgroup_size, 8);
  EXPECT_EQ(b.batch_per_group, 1);
  EXPECT_STREQ(b.kernel_names[tf::name_kernel], "fft_2048_rowbatch_s");
  EXPECT_STREQ(b.kernel_names[tf::name_fact0_func], "fft_64_s");
  EXPECT_STREQ(b.kernel_names[tf::name_fact1_func], "fft_32_s");
  EXPECT_EQ(tf::make_build_options(tf::request_of(b), tf::dir_backward),
            backend_test::golden_options("two_factor", backend_test::precision::single_precision, "2048, backward"));
  EXPECT_NE(b.kernels[tf::dir_forward], nullptr);
  EXPECT_NE(b.kernels[tf::dir_backward], nullptr);
}

TEST(two_factor_plans, single_4096) {
  committed_record r(config(sp, 4096));
  ASSERT_TRUE(r.committed_here());
  const block<float>& b = r.plan<float>();
  EXPECT_EQ(b.fact0, 64);
  EXPECT_EQ(b.fact1, 64);
  EXPECT_EQ(b.work_group_size, 128);
  EXPECT_EQ(b.fact1_loop_bound, 1);
  EXPECT_EQ(b.slm_bytes, 4096 * 8);
}

TEST(two_factor_plans, double_1020) {
  record_config c = config(dp, 1020);
  c.howmany = 3;
  committed_record r(c);
  ASSERT_TRUE(r.committed_here());
  const block<double>& b = r.plan<double>();
  EXPECT_EQ(b.fact0, 34);
  EXPECT_EQ(b.fact1, 30);
  EXPECT_EQ(b.padfact0, 2);
  EXPECT_EQ(b.padfact1, 2);
  EXPECT_EQ(b.work_group_size, 72);
  EXPECT_EQ(b.fact1_loop_bound, 1);
  EXPECT_EQ(tf::make_build_options(tf::request_of(b), tf::dir_forward),
            backend_test::golden_options("two_factor", backend_test::precision::double_precision, "1020 x 5, forward"));
}

TEST(two_factor_plans, backward_only_builds_one_kernel_and_one_table) {
  record_config c = config(sp, 96);
  c.directions = 1;
  c.bwd_scale = 1.0 / 96;
  committed_record r(c);
  ASSERT_TRUE(r.committed_here());
  const block<float>& b = r.plan<float>();
  EXPECT_EQ(b.kernels[tf::dir_forward], nullptr);
  EXPECT_NE(b.kernels[tf::dir_backward], nullptr);
  EXPECT_EQ(r.record()->workspace_bytes[0], static_cast<std::uint64_t>(b.table_bytes));
  EXPECT_EQ(b.usm_twiddles[tf::dir_backward], b.internal_twiddles);
  EXPECT_EQ(b.usm_twiddles[tf::dir_forward], nullptr);
  const qez_test::accuracy a = run_and_measure(r, direction::backward, container::usm);
  EXPECT_TRUE(qez_test::within(a, bounds_of(c))) << qez_test::describe(a, bounds_of(c));
  // The forward direction was never planned.
  std::uint64_t kind = dft::container_usm;
  EXPECT_NE(r.record()->compute_fwd(r.record(), nullptr, nullptr, nullptr, &kind, nullptr), 0);
}

TEST(two_factor_workspace, missing_caller_workspace_is_reported) {
  committed_record plain(config(sp, 64));
  ASSERT_TRUE(plain.committed_here());
  // As if the caller had taken the workspace over and never handed it in.
  plain.record()->workspace_internal = 0;
  static_cast<block<float>*>(plain.record()->bkd_data)->workspace_kind = tf::workspace_internal;
  std::uint64_t kind = dft::container_usm;
  EXPECT_EQ(plain.record()->compute_fwd(plain.record(), nullptr, nullptr, nullptr, &kind, nullptr), 11);
}

// One packed transform of length n, both directions.
dft::dft_estimate_config packed(std::int64_t n) {
  dft::dft_estimate_config c;
  c.rank = 1;
  c.lengths[0] = n;
  c.input_strides[0] = c.output_strides[0] = c.fwd_strides[0] = c.bwd_strides[0] = 1;
  return c;
}

TEST(two_factor_workspace, never_above_its_estimate) {
  for (precision p : {sp, dp})
    for (std::int64_t n : {4, 6, 30, 42, 128, 130, 250, 990, 1020, 1024}) {
      record_config c = config(p, n);
      c.workspace = workspace::external_usm;
      committed_record r(c);
      ASSERT_TRUE(r.committed_here()) << n;
      const std::int64_t estimate = backend_test::estimate_of<dft::dft_c2c_2_facts_gpu_bkd>(p != sp, packed(n));
      const std::uint64_t used = r.record()->workspace_bytes[0] + r.record()->workspace_bytes[1];
      EXPECT_GT(used, 0u);
      EXPECT_LE(used, static_cast<std::uint64_t>(estimate)) << "N = " << n << " " << r.description();
    }
}

// ---------------------------------------------------------------------------
// Twiddle tables.

template <class T>
void expect_table(const std::vector<T>& t, const block<T>& b, T scale) {
  const T ulp = std::numeric_limits<T>::epsilon() * std::fabs(scale);
  const long double pi = 3.141592653589793238462643383279502884L;
  for (std::int64_t i = 0; i < b.fact0; ++i)
    for (std::int64_t j = 0; j < b.fact1; ++j) {
      const std::int64_t o = tf::table_offset(b.fact0, i, j);
      // The angle -2ij/N is rounded to T first, as the table defines it.
      const long double a = static_cast<T>(-2 * i * j) / static_cast<T>(b.length);
      const long double c = scale * std::cos(pi * a), s = scale * std::sin(pi * a);
      ASSERT_NEAR(t[o], c, ulp) << "row " << i << " column " << j;
      ASSERT_EQ(t[o + 1], t[o]);
      ASSERT_NEAR(t[o + 8], s, ulp) << "row " << i << " column " << j;
      ASSERT_EQ(t[o + 9], -t[o + 8]);
    }
}

template <class T>
std::vector<T> read_usm(const void* p, std::int64_t bytes) {
  std::vector<T> t(static_cast<size_t>(bytes) / sizeof(T));
  test_queue().memcpy(t.data(), p, static_cast<size_t>(bytes)).wait();
  return t;
}

TEST(two_factor_twiddles, internal_tables_carry_the_scales) {
  record_config c = config(sp, 130);
  c.fwd_scale = 0.5;
  c.bwd_scale = 2.0;
  committed_record r(c);
  ASSERT_TRUE(r.committed_here());
  const block<float>& b = r.plan<float>();
  ASSERT_EQ(r.record()->workspace_bytes[0], static_cast<std::uint64_t>(2 * b.table_bytes));
  expect_table(read_usm<float>(b.usm_twiddles[tf::dir_forward], b.table_bytes), b, 0.5f);
  expect_table(read_usm<float>(b.usm_twiddles[tf::dir_backward], b.table_bytes), b, 2.0f);
  EXPECT_EQ(static_cast<const char*>(b.usm_twiddles[tf::dir_backward]) -
                static_cast<const char*>(b.usm_twiddles[tf::dir_forward]),
            b.table_bytes);
}

TEST(two_factor_twiddles, caller_buffer_tables_in_double) {
  record_config c = config(dp, 1020);
  c.bwd_scale = 1.0 / 1020;
  c.workspace = workspace::external_buffer;
  committed_record r(c);
  ASSERT_TRUE(r.committed_here());
  const block<double>& b = r.plan<double>();
  ASSERT_NE(b.buffer_twiddles[tf::dir_forward], nullptr);
  ASSERT_NE(b.buffer_twiddles[tf::dir_backward], nullptr);
  for (tf::direction d : {tf::dir_forward, tf::dir_backward}) {
    sycl::host_accessor<char, 1> a(*b.buffer_twiddles[d]);
    std::vector<double> t(static_cast<size_t>(b.table_bytes) / sizeof(double));
    std::memcpy(t.data(), &a[0], static_cast<size_t>(b.table_bytes));
    expect_table(t, b, d == tf::dir_forward ? 1.0 : 1.0 / 1020);
  }
}

TEST(two_factor_twiddles, sub_buffer_workspace_is_refused) {
  record_config c = config(sp, 64);
  c.workspace = workspace::external_usm;
  committed_record r(c);
  ASSERT_TRUE(r.committed_here());
  sycl::buffer<char, 1> parent(sycl::range<1>(1 << 16));
  sycl::buffer<char, 1> view(parent, sycl::id<1>(0), sycl::range<1>(1 << 15));
  EXPECT_THROW(r.record()->methods->set_workspace(r.record(), &view, dft::container_buffer), sycl::exception);
}

}  // namespace
}  // namespace two_factor_test
