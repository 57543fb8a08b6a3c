// The twiddle part of a caller's USM workspace read back and compared with
// the tables computed here in long double: table 1, table 2 and the cross
// table of each prepared direction, in that order, each slice padded; the
// two cross tables differ by their scales only. Single precision covers the
// device writers (len1 = 40) and the host road (len1 = 64).
#include <cmath>
#include <vector>

#include "tests/backends/four_factor_colbatch/colbatch_case.hpp"

namespace colbatch_test {
namespace {

constexpr long double pi_ld = 3.141592653589793238462643383279502884L;

// cos and sin of -2 pi m / n.
void root(std::int64_t m, std::int64_t n, long double* c, long double* s) {
  const long double a = -2 * pi_ld * static_cast<long double>(m % n) / static_cast<long double>(n);
  *c = std::cos(a);
  *s = std::sin(a);
}

template <class T>
struct table_check {
  const std::vector<T>& reals;
  long double tolerance;
  int mismatches = 0;

  void expect(std::size_t at, long double want) {
    if (std::fabs(static_cast<long double>(reals[at]) - want) > tolerance && ++mismatches <= 5)
      ADD_FAILURE() << "real " << at << ": " << static_cast<double>(reals[at]) << " != " << static_cast<double>(want);
  }
};

template <class T>
void check_twiddle_part(const record_config& c, long double tolerance) {
  committed_record r(c);
  ASSERT_TRUE(r.committed_here()) << "status " << r.commit_status();
  const cb::block<T>& s = r.plan<T>();
  const std::uint64_t tables = r.record()->workspace_bytes[0];
  ASSERT_EQ(r.workspace().give_usm(r.record(), backend_test::workspace_bytes(r.record())), 0);
  std::vector<T> reals(tables / sizeof(T));
  // The writers run asynchronously; computes wait for their events.
  backend_test::gpu_test_queue().wait();
  backend_test::gpu_test_queue().memcpy(reals.data(), r.workspace().usm(), tables).wait();
  table_check<T> check{reals, tolerance};

  std::size_t at = 0;  // in reals
  for (cb::pass p : {cb::pass_0, cb::pass_1}) {
    const cb::pass_plan& f = s.passes[p];
    for (std::int64_t j = 0; j < f.fact1; ++j)
      for (std::int64_t i = 0; i < f.fact0; ++i) {
        long double co, si;
        root(i * j, f.fft_len, &co, &si);
        check.expect(at + 2 * (j * f.fact0 + i), co);
        check.expect(at + 2 * (j * f.fact0 + i) + 1, si);
      }
    at += f.sub_table_bytes / sizeof(T);
  }
  const std::int64_t lanes = s.sub_group_size;
  for (cb::direction d : {cb::dir_forward, cb::dir_backward}) {
    if (!cb::serves(s.directions, d)) continue;
    const long double scale = d == cb::dir_forward ? c.fwd_scale : c.bwd_scale;
    for (std::int64_t k1 = 0; k1 < s.len1; ++k1)
      for (std::int64_t sub = 0; sub < s.len2_fact1; ++sub)
        for (std::int64_t i = 0; i < s.len2_fact0; ++i) {
          long double co, si;
          root(k1 * (sub + s.len2_fact1 * i), s.fft_len, &co, &si);
          const std::size_t row = at + static_cast<std::size_t>(((k1 * s.len2_fact1 + sub) * s.len2_fact0 + i) * 2 * lanes);
          for (std::int64_t l = 0; l < lanes; ++l) {
            check.expect(row + l, scale * co);
            check.expect(row + lanes + l, (l % 2 == 0 ? scale : -scale) * si);
          }
        }
    at += s.cross_table_bytes / sizeof(T);
  }
  EXPECT_EQ(at * sizeof(T), tables);
  EXPECT_EQ(check.mismatches, 0);
}

record_config tables_config(bool dp, std::int64_t n) {
  record_config c;
  c.double_precision = dp;
  c.length = n;
  c.count = 8;
  c.internal_workspace = false;
  c.fwd_scale = 2.0;
  c.bwd_scale = 0.5;
  return c;
}

TEST(ColbatchTwiddles, DoubleBothDirections) { check_twiddle_part<double>(tables_config(true, 1000), 1e-15L); }

TEST(ColbatchTwiddles, DoubleForwardOnly) {
  record_config c = tables_config(true, 2880);
  c.directions = dft::directions_forward;
  check_twiddle_part<double>(c, 1e-15L);
}

TEST(ColbatchTwiddles, SingleDeviceWriters) { check_twiddle_part<float>(tables_config(false, 1000), 1e-6L); }

TEST(ColbatchTwiddles, SingleHostTables) {
  record_config c = tables_config(false, 4096);
  c.directions = dft::directions_backward;
  check_twiddle_part<float>(c, 1e-6L);
}

}  // namespace
}  // namespace colbatch_test
