// Long lengths of the default 1D backend.
#include <gtest/gtest.h>

#include "tests/backends/default_1d/transform_case.hpp"

namespace {

using namespace default_1d_test;

TEST(DefaultLongLength, DoubleTwoToTheTwentyInPlaceBuffers) {
  transform_case c;
  c.n = std::int64_t{1} << 20;
  c.in_place = true;
  c.data = container::buffer;
  c.bwd_scale = 1.0 / static_cast<double>(c.n);
  check_round<double>(gpu_queue(), c);
}

TEST(DefaultLongLength, SingleTwoToTheTwentyChunked) {
  // 12 transforms of 8 MiB: five per 42 MiB chunk, then two.
  transform_case c;
  c.n = std::int64_t{1} << 20;
  c.batch = {{12, c.n, c.n}};
  check_round<float>(gpu_queue(), c);
}

}  // namespace
