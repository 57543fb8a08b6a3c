// One GoogleTest expectation for a computed transform: its values measured
// against the reference within the bounds of the scalar type.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/accuracy.hpp"

namespace qez_test {

// `got` against `reference` (complex or real values of the same count) within
// the bounds of `Real` for transforms of `length`; `what`, when given, names
// the run in the failure message.
template <class Real, class Value>
void expect_accurate(const std::vector<Value>& got, const std::vector<Value>& reference, std::int64_t length,
                     const std::string& what = std::string()) {
  const accuracy a = measure(got, reference);
  const accuracy_bounds b = bounds_for<Real>(length);
  EXPECT_TRUE(within(a, b)) << what << (what.empty() ? "" : ": ") << describe(a, b);
}

}  // namespace qez_test
