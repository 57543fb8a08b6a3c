// sycl::half: IEEE 754 binary16 storage with conversions to and from float
// (round to nearest even), enough for values held and copied by the library.
#pragma once

#include <cstdint>
#include <cstring>

#include "common.hpp"

namespace sycl {
inline namespace _V1 {

class half {
public:
  half() = default;
  half(float value) : bits_(from_float(value)) {}
  operator float() const { return to_float(bits_); }

  friend bool operator==(half a, half b) { return float(a) == float(b); }
  friend bool operator!=(half a, half b) { return !(a == b); }

private:
  static std::uint32_t float_bits(float f) {
    std::uint32_t u;
    std::memcpy(&u, &f, sizeof u);
    return u;
  }
  static float bits_float(std::uint32_t u) {
    float f;
    std::memcpy(&f, &u, sizeof f);
    return f;
  }

  static std::uint16_t from_float(float value) {
    const std::uint32_t u = float_bits(value);
    const std::uint16_t sign = static_cast<std::uint16_t>((u >> 16) & 0x8000u);
    const std::uint32_t magnitude = u & 0x7fffffffu;
    if (magnitude >= 0x7f800000u)  // infinity or NaN (NaN keeps a payload bit)
      return sign | 0x7c00u | (magnitude > 0x7f800000u ? 0x200u : 0u);
    if (magnitude >= 0x477ff000u) return sign | 0x7c00u;  // rounds beyond the largest half
    if (magnitude < 0x33000001u) return sign;             // rounds to zero
    std::int32_t exponent = static_cast<std::int32_t>(magnitude >> 23) - 127 + 15;
    std::uint32_t mantissa = (magnitude & 0x7fffffu) | 0x800000u;
    std::uint32_t shift = 13;
    if (exponent <= 0) {  // subnormal half
      shift += static_cast<std::uint32_t>(1 - exponent);
      exponent = 0;
    }
    std::uint32_t result = mantissa >> shift;
    const std::uint32_t rest = mantissa & ((1u << shift) - 1);
    const std::uint32_t halfway = 1u << (shift - 1);
    if (rest > halfway || (rest == halfway && (result & 1u))) ++result;
    if (exponent == 0) return static_cast<std::uint16_t>(sign | result);
    // The carry of the rounding may move into the exponent, as it should.
    return static_cast<std::uint16_t>(sign + (static_cast<std::uint32_t>(exponent) << 10) +
                                      (result - 0x400u));
  }

  static float to_float(std::uint16_t h) {
    const std::uint32_t sign = static_cast<std::uint32_t>(h & 0x8000u) << 16;
    const std::uint32_t exponent = (h >> 10) & 0x1fu;
    const std::uint32_t mantissa = h & 0x3ffu;
    if (exponent == 0x1f) return bits_float(sign | 0x7f800000u | (mantissa << 13));
    if (exponent == 0) {  // zero or subnormal: mantissa * 2^-24
      const float value = static_cast<float>(mantissa) * (1.0f / 16777216.0f);
      return sign ? -value : value;
    }
    return bits_float(sign | ((exponent + 127 - 15) << 23) | (mantissa << 13));
  }

  std::uint16_t bits_ = 0;
};
static_assert(sizeof(half) == 2, "half is two bytes");

}  // namespace _V1
}  // namespace sycl
