// Scoreboard fields <-> SwsbInfo.
#include "gpu/zorn/scoreboard/annotations.hpp"

#include <array>

namespace ulmara::qez::zorn {
namespace {

constexpr bool token_setting_opcode(std::uint32_t o) {
  return is_send_family(o) || o == opcode::math || is_matrix(o);
}

constexpr std::uint32_t marker_bit = 7;
constexpr std::uint16_t field10_sync_all = 0xF0;
constexpr std::uint16_t sync_all_bit = 0x20;

// Pipe field of a 10-bit distance by field bits 3-6.
constexpr std::array<std::uint32_t, 16> field10_pipes{0, 1, 2, 3, 4, 5, 6, 1, 0, 0, 0, 0, 0, 0, 0, 0};


}  // namespace

SwsbInfo swsb_from_byte(std::uint32_t s, std::uint32_t o) {
  const std::uint32_t token = s & 0xFu;
  std::uint32_t bits = 0;
  if (s & 0x80u) {
    bits = token | 0x80u | (((s >> 4) & 7u) << 8);
    if (token_setting_opcode(o)) bits |= 0x40u;
    if (o == opcode::send || o == opcode::sendc) bits |= 1u << 12;
  } else {
    switch ((s >> 4) & 7u) {
      case 2: bits = token | 0x80u; break;
      case 3: bits = token | 0x40u; break;
      case 4: bits = token | 0xC0u; break;
      default: {
        const std::uint32_t pipe_field = ((s >> 3) & 0xFu) == 0xAu ? 4u : (s >> 3) & 3u;
        bits = ((s & 7u) << 8) | (pipe_field << 12);
        break;
      }
    }
  }
  return SwsbInfo(static_cast<std::uint16_t>(bits));
}

SwsbInfo swsb_from_field_hw7(std::uint32_t f, std::uint32_t o) {
  f &= 0x3FFu;
  if (f == field10_sync_all) return SwsbInfo(sync_all_bit);
  const std::uint32_t token = f & 0x1Fu;
  const std::uint32_t high = (f >> 8) & 3u;
  std::uint32_t bits = 0;
  if (high != 0) {
    bits = token | (((f >> 5) & 7u) << 8);
    if (is_send_family(o)) {
      bits |= 0xC0u | (high << 12);
    } else if (o == opcode::dpas) {
      if (high < 3) bits |= 0x40u;
      if (high & 1u) bits |= 0x80u;
    } else {
      if (high == 3) bits |= 1u << 12;
      bits |= (high & 1u) ? 0x80u : 0x40u;
    }
  } else if (f & 0x80u) {
    const std::uint32_t mode = (f >> 5) & 3u;
    bits = token | (mode == 0 ? 0x80u : mode == 1 ? 0x40u : 0xC0u);
  } else {
    bits = ((f & 7u) << 8) | (field10_pipes[(f >> 3) & 0xFu] << 12);
  }
  return SwsbInfo(static_cast<std::uint16_t>(bits));
}

void encode_swsb_annotation_hw7(std::uint32_t& field, SwsbInfo code, std::uint32_t o) {
  std::uint32_t value = encode_scoreboard_field_hw7(code);
  // A destination wait with a distance names its pipe as all pipes on dpas.
  const bool dst_only = code.dst() && !code.src();
  if (code.has_distance() && dst_only && o == opcode::dpas) value = (value & 0xFFu) | 0x300u;
  field = (field & ~0x3FFu) | (value & 0x3FFu);
}

bool swsb_records(HW hw, const InstructionWords& instruction, SwsbInfo code, Dependency& token_record,
                  Dependency& wait_record) {
  token_record.token = 0;
  token_record.flags &= static_cast<std::uint8_t>(~dependency_flag::token_bits);
  wait_record.token = 0;
  wait_record.wait_pipe = 0;
  wait_record.wait_distance = 0;
  wait_record.flags = static_cast<std::uint8_t>(
      (wait_record.flags & ~(dependency_flag::token_bits | dependency_flag::wait)) | dependency_flag::wait);
  bool distance_stored = false;
  if (code.has_distance()) {
    const PipeCode own = pipe_of(hw, instruction, false);
    std::uint32_t wait_pipe = code.pipe() != 0 ? 1u << (code.pipe() - 1) : (is_in_order(own) ? own & 0xFFu : 0u);
    if (hw == hw::dorik) wait_pipe = 1;
    wait_record.wait_pipe = static_cast<std::uint8_t>(wait_pipe);
    if (wait_pipe != 0) {
      wait_record.wait_distance = static_cast<std::uint8_t>(code.distance());
      distance_stored = true;
    }
  }
  if (code.has_token_mode()) {
    wait_record.token = static_cast<std::uint8_t>(code.token());
    if (code.src()) wait_record.flags |= dependency_flag::token_read;
    if (code.dst()) wait_record.flags |= dependency_flag::token_write;
    if (sets_token(code)) {
      token_record.token = static_cast<std::uint8_t>(code.token());
      token_record.flags |= dependency_flag::token_bits;
    }
  }
  return instruction_bit(instruction, marker_bit) && !distance_stored;
}

bool decode_swsb_annotation(HW hw, const InstructionWords& instruction, Dependency& token_record,
                            Dependency& wait_record) {
  const SwsbInfo code = swsb_from_byte(instruction_byte(instruction, 1), opcode_of(instruction));
  return swsb_records(hw, instruction, code, token_record, wait_record);
}

SwsbInfo read_swsb_field(FieldWidth width, const InstructionWords& instruction) {
  const std::uint32_t o = opcode_of(instruction);
  return width == FieldWidth::byte8 ? swsb_from_byte(instruction_byte(instruction, 1), o)
                                    : swsb_from_field_hw7(dword_bits(instruction, 0, 8, 17), o);
}

std::uint32_t encode_swsb_field(FieldWidth width, SwsbInfo code, std::uint32_t o) {
  if (width == FieldWidth::byte8) return encode_scoreboard_byte_hw4(code);
  std::uint32_t field = 0;
  encode_swsb_annotation_hw7(field, code, o);
  return field;
}

void write_swsb_field(FieldWidth width, InstructionWords& instruction, SwsbInfo code) {
  const std::uint32_t field = encode_swsb_field(width, code, opcode_of(instruction));
  const std::uint32_t mask = width == FieldWidth::byte8 ? 0xFF00u : 0x3FF00u;
  instruction[0] = (instruction[0] & ~mask) | ((field << 8) & mask);
}

}  // namespace ulmara::qez::zorn
