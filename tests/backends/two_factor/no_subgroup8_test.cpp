// Under a profile whose sub-groups start at 16 (harix) the two-factor
// backend declines every length, and another backend serves the record.
#include <gtest/gtest.h>

#include "tests/backends/two_factor/two_factor_case.hpp"

namespace two_factor_test {
namespace {

TEST(two_factor_without_subgroups_of_8, declines) {
  for (precision p : {precision::single_precision, precision::double_precision}) {
    record_config c;
    c.p = p;
    c.n = 64;
    committed_record r(c);
    EXPECT_FALSE(r.committed_here());
  }
}

}  // namespace
}  // namespace two_factor_test
