// The 16-bit software-scoreboard setting (SwsbInfo) and its two instruction
// encodings: the eight-bit scoreboard byte of the Dorik and Gulon formats and
// the ten-bit scoreboard field of the Harix, Jorva and Lumet formats.
#pragma once

#include <cstdint>

#include "gpu/zorn/bit_fields.hpp"

namespace ulmara::qez::zorn {

// Fields of the setting; the same layout as bits 48-63 of an
// InstructionModifier.
namespace swsb_field {
inline constexpr BitField token{0, 5};
inline constexpr BitField sync_all{5, 1};
inline constexpr BitField src{6, 1};        // wait for the token's source reads
inline constexpr BitField dst{7, 1};        // wait for the token's destination writes
inline constexpr BitField token_mode{6, 2};  // src and dst together
inline constexpr BitField distance{8, 4};
inline constexpr BitField pipe{12, 4};       // 0 = own pipe, else in-order pipe index + 1
}  // namespace swsb_field

struct SwsbInfo {
  std::uint16_t bits = 0;

  constexpr SwsbInfo() = default;
  constexpr explicit SwsbInfo(std::uint16_t value) : bits(value) {}

  constexpr std::uint32_t token() const { return get(swsb_field::token); }
  constexpr bool sync_all() const { return get(swsb_field::sync_all) != 0; }
  constexpr bool src() const { return get(swsb_field::src) != 0; }
  constexpr bool dst() const { return get(swsb_field::dst) != 0; }
  constexpr bool has_token_mode() const { return src() || dst(); }
  constexpr std::uint32_t distance() const { return get(swsb_field::distance); }
  constexpr bool has_distance() const { return distance() != 0; }
  constexpr std::uint32_t pipe() const { return get(swsb_field::pipe); }

  friend constexpr bool operator==(SwsbInfo a, SwsbInfo b) { return a.bits == b.bits; }
  friend constexpr bool operator!=(SwsbInfo a, SwsbInfo b) { return a.bits != b.bits; }

 private:
  constexpr std::uint32_t get(BitField field) const {
    return static_cast<std::uint32_t>(get_bits(bits, field));
  }
};
static_assert(sizeof(SwsbInfo) == 2, "SwsbInfo is the 16-bit scoreboard setting");

// Scoreboard byte of the Dorik and Gulon formats (instruction bits 8-15).
std::uint8_t encode_scoreboard_byte_hw4(SwsbInfo swsb);

// Ten-bit scoreboard field of the Harix, Jorva and Lumet formats
// (instruction bits 8-17).
std::uint16_t encode_scoreboard_field_hw7(SwsbInfo swsb);

}  // namespace ulmara::qez::zorn
