// The four-factor twiddle tables as the device writes them, USM and buffer
// forms, against values computed here in long double: sub-length tables
// and the lane-pair layout of the cross tables with their scale.
#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include "dft/gpu/backends/1d_factorised/4_facts/twiddles.hpp"
#include "tests/backends/four_factor/four_factor_case.hpp"

namespace four_factor_test {
namespace {

constexpr long double two_pi = 6.283185307179586476925286766559005768L;

// The table written into USM (usm) or a byte buffer, read back.
template <class T, class Write>
std::vector<T> written_table(std::size_t reals, bool usm, Write write) {
  sycl::queue& q = backend_test::gpu_test_queue();
  std::vector<T> out(reals);
  const std::size_t bytes = reals * sizeof(T);
  if (usm) {
    void* p = sycl::malloc_device(bytes, q);
    write(q, ff::table_view{ff::workspace_usm, p, nullptr}).wait();
    q.memcpy(out.data(), p, bytes).wait();
    sycl::free(p, q);
  } else {
    dft::byte_buffer buffer{sycl::range<1>(bytes)};
    write(q, ff::table_view{ff::workspace_buffer, nullptr, &buffer}).wait();
    sycl::host_accessor<char, 1> a(buffer);
    std::memcpy(out.data(), &a[0], bytes);
  }
  return out;
}

template <class T>
void expect_close(T got, long double want, const char* what, std::int64_t at) {
  const long double tolerance = 2 * static_cast<long double>(std::numeric_limits<T>::epsilon());
  EXPECT_LE(std::fabs(static_cast<long double>(got) - want), tolerance) << what << " at " << at;
}

template <class T>
void check_sub_length_table(bool usm) {
  const std::int64_t f0 = 10, f1 = 6, length = 60;
  const std::vector<T> t = written_table<T>(2 * length, usm, [&](sycl::queue& q, const ff::table_view& v) {
    return ff::write_sub_length_table<T>(q, v, f0, f1);
  });
  for (std::int64_t j = 0; j < f1; ++j)
    for (std::int64_t k = 0; k < f0; ++k) {
      const std::int64_t e = j * f0 + k;
      const long double a = two_pi * (j * k) / length;
      expect_close(t[2 * e], std::cos(a), "re", e);
      expect_close(t[2 * e + 1], -std::sin(a), "im", e);
    }
}

template <class T>
void check_cross_table(bool usm) {
  // 2880 = 60 x 48; pass 1: 48 = 8 x 6 over 60 columns in 8 groups of 8.
  ff::length_split l{};
  ASSERT_TRUE(ff::choose_sub_lengths(2880, &l));
  const ff::pass_plan p2 = ff::plan_pass<T>(l.len2, l.split2, l.len1, 16);
  const ff::cross_table_shape shape = ff::cross_shape_of(p2, 2880);
  const T scale = static_cast<T>(0.25);
  const std::size_t reals = ff::cross_table_raw_bytes<T>(p2) / sizeof(T);
  const std::vector<T> t = written_table<T>(reals, usm, [&](sycl::queue& q, const ff::table_view& v) {
    return ff::write_cross_table<T>(q, v, shape, scale);
  });
  const std::int64_t lanes = shape.sub_group_size;
  for (std::int64_t g = 0; g < shape.work_groups; ++g)
    for (std::int64_t s = 0; s < shape.fact1; ++s)
      for (std::int64_t r = 0; r < shape.fact0; ++r)
        for (std::int64_t lane = 0; lane < lanes; ++lane) {
          const std::int64_t column = g * lanes / 2 + lane / 2;
          const std::int64_t row = s + shape.fact1 * r;
          const long double a = two_pi * ((row * column) % 2880) / 2880;
          const std::int64_t at = ((g * shape.fact1 + s) * shape.fact0 + r) * 2 * lanes + lane;
          ASSERT_EQ(at, ff::cross_slot(shape, g, s, r, lane));
          expect_close(t[at], 0.25L * std::cos(a), "re", at);
          const long double im = (lane % 2 == 0 ? -0.25L : 0.25L) * std::sin(a);
          expect_close(t[at + lanes], im, "im", at);
        }
}

TEST(FourFactorTwiddles, SubLengthTable) {
  for (bool usm : {true, false}) {
    check_sub_length_table<double>(usm);
    check_sub_length_table<float>(usm);
  }
}

TEST(FourFactorTwiddles, CrossTable) {
  for (bool usm : {true, false}) {
    check_cross_table<double>(usm);
    check_cross_table<float>(usm);
  }
}

// The tables a committed record writes into a caller's workspace: table A,
// table B, then the forward and the backward cross table with their scales.
TEST(FourFactorTwiddles, CommittedLayoutInCallerWorkspace) {
  record_config c;
  c.length = 2880;
  c.internal_workspace = false;
  c.fwd_scale = 0.5;
  c.bwd_scale = 2.0;
  committed_record r(c);
  ASSERT_TRUE(r.committed_here()) << "status " << r.commit_status();
  const ff::block<double>& s = r.plan<double>();
  const std::uint64_t bytes = backend_test::workspace_bytes(r.record());
  ASSERT_EQ(r.workspace().give_usm(r.record(), bytes), 0);
  backend_test::gpu_test_queue().wait();
  std::vector<double> w(bytes / sizeof(double));
  backend_test::gpu_test_queue().memcpy(w.data(), r.workspace().usm(), bytes).wait();
  const std::size_t a = 0;
  const std::size_t b = s.passes[ff::pass_0].sub_table_bytes / sizeof(double);
  const std::size_t fwd = b + s.passes[ff::pass_1].sub_table_bytes / sizeof(double);
  const std::size_t bwd = fwd + s.cross_table_bytes / sizeof(double);
  expect_close(w[a + 2 * (1 * 10 + 1)], std::cos(two_pi / 60), "table A", 11);
  expect_close(w[b + 2 * (1 * 8 + 1)], std::cos(two_pi / 48), "table B", 9);
  // Row 1, column 1: group 0, sub-group 1, row 0, lane 2.
  const std::size_t slot =
      static_cast<std::size_t>(ff::cross_slot(ff::cross_shape_of(s.passes[ff::pass_1], 2880), 0, 1, 0, 2));
  expect_close(w[fwd + slot], 0.5L * std::cos(two_pi / 2880), "forward cross", 2);
  expect_close(w[bwd + slot], 2.0L * std::cos(two_pi / 2880), "backward cross", 2);
  expect_close(w[bwd + slot + 16], -2.0L * std::sin(two_pi / 2880), "backward cross", 2);
  EXPECT_EQ(bwd * sizeof(double) + s.cross_table_bytes, r.record()->workspace_bytes[0]);
}

}  // namespace
}  // namespace four_factor_test
