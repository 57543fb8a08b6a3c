// Reading and writing the scoreboard field of an instruction as the
// analysis's SwsbInfo: the 8-bit field of Dorik and Gulon (instruction bits
// 8-15) and the 10-bit field of Harix and newer (bits 8-17).
#pragma once

#include <cstdint>

#include "gpu/zorn/scoreboard/dependency_table.hpp"
#include "gpu/zorn/swsb.hpp"

namespace ulmara::qez::zorn {

// The setting that the 8-bit field of an instruction with opcode `o` holds.
SwsbInfo swsb_from_byte(std::uint32_t byte, std::uint32_t o);
// The setting that the 10-bit field of an instruction with opcode `o` holds.
SwsbInfo swsb_from_field_hw7(std::uint32_t field, std::uint32_t o);

// Reads the 8-bit field into a token record (the token the instruction sets)
// and a wait record (what it waits for). True when the instruction carries
// the automatic marker and no distance was stored.
bool decode_swsb_annotation(HW hw, const InstructionWords& instruction, Dependency& token_record,
                            Dependency& wait_record);
// The same two records from a setting already read (either width).
bool swsb_records(HW hw, const InstructionWords& instruction, SwsbInfo code, Dependency& token_record,
                  Dependency& wait_record);
// Low 10 bits of `field` become the field of `code` for opcode `o`.
void encode_swsb_annotation_hw7(std::uint32_t& field, SwsbInfo code, std::uint32_t o);

// Field access by width.
enum class FieldWidth { byte8, field10 };
constexpr FieldWidth field_width(HW hw) { return hw >= hw::harix ? FieldWidth::field10 : FieldWidth::byte8; }
SwsbInfo read_swsb_field(FieldWidth width, const InstructionWords& instruction);
std::uint32_t encode_swsb_field(FieldWidth width, SwsbInfo code, std::uint32_t o);
void write_swsb_field(FieldWidth width, InstructionWords& instruction, SwsbInfo code);

// Settings used by the analysis.
constexpr SwsbInfo token_set(std::uint32_t t) { return SwsbInfo(static_cast<std::uint16_t>(0xC0u | t)); }
constexpr SwsbInfo src_wait(std::uint32_t t) { return SwsbInfo(static_cast<std::uint16_t>(0x40u | t)); }
constexpr SwsbInfo dst_wait(std::uint32_t t) { return SwsbInfo(static_cast<std::uint16_t>(0x80u | t)); }
constexpr bool sets_token(SwsbInfo s) { return s.src() && s.dst(); }
constexpr SwsbInfo distance_wait(std::uint32_t distance, std::uint32_t pipe_number) {
  return SwsbInfo(static_cast<std::uint16_t>((distance << 8) | (pipe_number << 12)));
}

}  // namespace ulmara::qez::zorn
