// Under a GPU profile other than Gulon the very large backend declines a
// descriptor it would otherwise take, and leaves no private block.
#include <gtest/gtest.h>

#include "dft/api/status_codes.hpp"
#include "dft/gpu/core/backend_catalogue.hpp"
#include "tests/backends/very_large_1d/very_large_case.hpp"

namespace very_large_test {
namespace {

const dft::backend_table& mine = dft::dft_c2c_very_large_1d_gpu_bkd_table_float;

TEST(VeryLargeProfile, DeclinesOffGulon) {
  for (bool real : {false, true}) {
    record_config c;
    c.real = real;
    c.length = real ? std::int64_t{1} << 26 : std::int64_t{1} << 25;
    committed_record r(c);
    ASSERT_NE(r.record(), nullptr);
    EXPECT_FALSE(r.committed_here());
    ASSERT_TRUE(vl::accepts(r.record()));
    EXPECT_EQ(mine.bkd_commit(&mine, r.record()), dft::status_not_handled);
    // Declined in the commit body: no block, and the table stays in the
    // record as after every failed commit.
    EXPECT_EQ(r.record()->bkd_data, nullptr);
    EXPECT_EQ(r.record()->backend, &mine);
  }
}

}  // namespace
}  // namespace very_large_test
