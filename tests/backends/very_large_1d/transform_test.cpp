// Whole very large transforms on PoCL through the library's own list: one
// complex and one real forward transform. The other cases are in
// transform_long_test.cpp.
#include <cmath>
#include <random>

#include <gtest/gtest.h>

#include "tests/backends/very_large_1d/transform_checks.hpp"

namespace very_large_test {
namespace {

TEST(VeryLargeTransform, ComplexForward2To25OnUsmWithInternalWorkspace) {
  REQUIRE_STAGE_CHILDREN();
  record_config c;
  c.internal_workspace = true;
  c.library_list = true;  // the library's own list picks this backend
  check_complex(c, direction::forward, container::usm);
}

TEST(VeryLargeTransform, RealForward2To26OnUsmWithCallerWorkspace) {
  REQUIRE_STAGE_CHILDREN();
  record_config c;
  c.real = true;
  c.length = p26;
  c.library_list = true;
  c.directions = dft::directions_forward;
  check_real_forward(c, container::usm);
}

}  // namespace
}  // namespace very_large_test
