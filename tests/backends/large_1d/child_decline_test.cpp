// The large one-dimensional backend when a child plan finds no backend: with
// 8 KiB of local memory on Harix the pre-twiddle backend, the only one the
// row child may take, declines its 2048 points. The large backend then
// declines the record too ("not mine"), the next backend of the list takes
// it and computes it.
#include "tests/backends/large_1d/large_case.hpp"

namespace large_test {
namespace {

TEST(LargeChildDeclines, TheNextBackendTakesTheRecord) {
  record_config c;
  c.p = precision::double_precision;
  c.length = std::int64_t{1} << 21;
  c.fwd_scale = 0.5;
  committed_record r(c);
  ASSERT_EQ(r.commit_status(), 0);
  EXPECT_FALSE(r.committed_here()) << r.description();
  EXPECT_NE(r.record()->backend, nullptr);
  EXPECT_ACCURATE(run_and_measure(r, direction::forward, container::usm), precision::double_precision, c.length);
  // The large backend's own answer is "not mine", as for any record it does
  // not take (the child's "no backend" is not passed on), and it keeps no
  // block.
  const dft::backend_table& large = dft::dft_c2c_large_1d_gpu_bkd_table_double;
  EXPECT_EQ(large.bkd_commit(&large, r.record()), 100);
  EXPECT_EQ(r.record()->bkd_data, nullptr);
}

}  // namespace
}  // namespace large_test
