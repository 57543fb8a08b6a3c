#include <sycl/sycl.hpp>

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>

namespace {

std::uint16_t bits_of(sycl::half h) {
  std::uint16_t b;
  std::memcpy(&b, &h, sizeof b);
  return b;
}

TEST(SyclHalf, ExactValuesKeepTheirBinary16Encoding) {
  EXPECT_EQ(bits_of(1.0f), 0x3c00);
  EXPECT_EQ(bits_of(-2.0f), 0xc000);
  EXPECT_EQ(bits_of(65504.0f), 0x7bff);           // largest finite
  EXPECT_EQ(bits_of(std::ldexp(1.0f, -14)), 0x0400);  // smallest normal
  EXPECT_EQ(bits_of(std::ldexp(1.0f, -24)), 0x0001);  // smallest subnormal
  EXPECT_EQ(bits_of(0.0f), 0x0000);
  EXPECT_EQ(bits_of(-0.0f), 0x8000);
  EXPECT_EQ(bits_of(std::numeric_limits<float>::infinity()), 0x7c00);
  EXPECT_TRUE(std::isnan(float(sycl::half(std::nanf("")))));
}

TEST(SyclHalf, RoundsToNearestEven) {
  // 1 + 2^-11 lies halfway between 1 and the next half: ties go to even.
  EXPECT_EQ(bits_of(1.0f + std::ldexp(1.0f, -11)), 0x3c00);
  EXPECT_EQ(bits_of(1.0f + 3 * std::ldexp(1.0f, -11)), 0x3c02);
  EXPECT_EQ(bits_of(65520.0f), 0x7c00);  // halfway to the next binade: overflows
  EXPECT_EQ(bits_of(std::ldexp(1.0f, -25)), 0x0000);           // halfway to 2^-24: even is 0
  EXPECT_EQ(bits_of(std::ldexp(1.5f, -25)), 0x0001);
}

TEST(SyclHalf, EveryFiniteHalfSurvivesARoundTrip) {
  for (std::uint32_t b = 0; b < 0x10000; ++b) {
    if ((b & 0x7c00) == 0x7c00) continue;  // infinities and NaNs
    sycl::half h;
    const std::uint16_t bits = static_cast<std::uint16_t>(b);
    std::memcpy(static_cast<void*>(&h), &bits, sizeof bits);
    ASSERT_EQ(bits_of(sycl::half(float(h))), bits) << std::hex << b;
  }
}

}  // namespace
