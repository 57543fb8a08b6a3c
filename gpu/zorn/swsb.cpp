// Scoreboard fields of the Dorik-format instructions, from the 16-bit
// scoreboard setting.
#include "gpu/zorn/swsb.hpp"

#include <array>

namespace ulmara::qez::zorn {
namespace {

// Pipe code of the eight-bit byte, by the three low bits of the pipe field:
// pipes 0-3 keep their number, pipe 4 (long) becomes 10, 5-7 become 0.
constexpr std::array<std::uint32_t, 8> byte_pipe_codes{0, 1, 2, 3, 10, 0, 0, 0};

// Token-mode offsets of a wait on a token alone.
constexpr std::uint32_t byte_token_dst_only = 0x20;
constexpr std::uint32_t byte_token_src_only = 0x30;
constexpr std::uint32_t byte_token_both = 0x40;
constexpr std::uint32_t byte_distance_and_token = 0x80;

constexpr std::uint32_t field_token_dst_only = 0x80;
constexpr std::uint32_t field_token_src_only = 0xA0;
constexpr std::uint32_t field_token_both = 0xC0;
constexpr std::uint32_t field_sync_all = 0xF0;

// The three-bit distance that the fields hold.
constexpr std::uint32_t short_distance(SwsbInfo swsb) { return swsb.distance() & 7u; }

std::uint32_t token_mode_offset(SwsbInfo swsb, std::uint32_t dst_only, std::uint32_t src_only,
                                std::uint32_t both) {
  if (swsb.src() && swsb.dst()) return both;
  return swsb.src() ? src_only : dst_only;
}

// Extra bits of the ten-bit field when a distance and a token wait meet.
std::uint32_t combined_wait_bits(SwsbInfo swsb) {
  const std::uint32_t pipe = swsb.pipe();
  if (swsb.src() && swsb.dst()) return pipe == 2 ? 0x200 : pipe == 3 ? 0x300 : 0x100;
  if (swsb.src()) return 0x200;
  return pipe == 1 ? 0x300 : 0x100;
}

}  // namespace

std::uint8_t encode_scoreboard_byte_hw4(SwsbInfo swsb) {
  const std::uint32_t token = swsb.token() & 0xFu;
  std::uint32_t byte = 0;
  if (swsb.has_distance() && swsb.has_token_mode()) {
    byte = byte_distance_and_token + (short_distance(swsb) << 4) + token;
  } else if (swsb.has_distance()) {
    byte = (byte_pipe_codes[swsb.pipe() & 7u] << 3) + short_distance(swsb);
  } else if (swsb.has_token_mode()) {
    byte = token + token_mode_offset(swsb, byte_token_dst_only, byte_token_src_only, byte_token_both);
  }
  return static_cast<std::uint8_t>(byte);
}

std::uint16_t encode_scoreboard_field_hw7(SwsbInfo swsb) {
  const std::uint32_t token = swsb.token();
  std::uint32_t field = 0;
  if (swsb.has_distance() && swsb.has_token_mode()) {
    field = (short_distance(swsb) << 5) + token + combined_wait_bits(swsb);
  } else if (swsb.has_distance()) {
    field = short_distance(swsb) + (swsb.pipe() << 3);
  } else if (swsb.has_token_mode()) {
    field = token + token_mode_offset(swsb, field_token_dst_only, field_token_src_only, field_token_both);
  } else if (swsb.sync_all()) {
    field = field_sync_all;
  }
  return static_cast<std::uint16_t>(field);
}

}  // namespace ulmara::qez::zorn
