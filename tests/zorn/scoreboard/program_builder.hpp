// Hand-built instructions of the Dorik-and-newer formats for scoreboard
// tests, written from the field positions the analysis reads (opcode, marker,
// scoreboard field, operand fields, send payload fields) and nothing else.
#pragma once

#include <cstdint>
#include <vector>

#include "gpu/zorn/scoreboard/instruction_model.hpp"

namespace sb_test {

namespace zorn = ulmara::qez::zorn;
using Words = zorn::InstructionWords;

constexpr std::uint32_t marker = 0x80;

// Type codes of the general form (dword 1 bits 4-7 and 8-11).
constexpr std::uint32_t int32_code = 2;     // 0xA0
constexpr std::uint32_t float32_code = 10;  // 0xA7
constexpr std::uint32_t int64_code = 3;     // 0xC8 (long pipe)

// A GRF operand field: register in bits 8-15, GRF flag bit 2, stride code 1.
constexpr std::uint32_t grf_field(std::uint32_t reg) { return (reg << 8) | 4u | 1u; }

// One-channel ALU instruction `dst = src0 op src1` (src1 absent when
// negative). The destination type selects the pipe.
inline Words alu(std::uint32_t opcode, int dst, int src0, int src1, std::uint32_t type = int32_code,
                 std::uint32_t field = 0, bool automatic = true) {
  Words w{};
  w[0] = opcode | (automatic ? marker : 0u) | (field << 8);
  w[1] = (type << 4) | (type << 8);
  if (dst >= 0) w[1] |= grf_field(static_cast<std::uint32_t>(dst)) << 16;
  if (src0 >= 0) w[2] = grf_field(static_cast<std::uint32_t>(src0)) & ~1u;
  if (src1 >= 0) {
    w[3] = grf_field(static_cast<std::uint32_t>(src1)) & ~1u;
    w[2] |= type << 24;  // byte 11: source 1 type
  }
  return w;
}
inline Words mov(int dst, int src, std::uint32_t type = int32_code) { return alu(97, dst, src, -1, type); }
inline Words add(int dst, int a, int b, std::uint32_t type = int32_code) { return alu(64, dst, a, b, type); }

// A send (opcode 49) to `sfid` writing `dst_count` registers at `dst` and
// reading `src_count` at `src`.
inline Words send(int dst, std::uint32_t dst_count, int src, std::uint32_t src_count, std::uint32_t sfid = 12,
                  std::uint32_t field = 0) {
  Words w{};
  w[0] = 49 | marker | (field << 8) | 0x80000000u;
  if (dst >= 0) w[1] = (1u << 18) | (dst_count << 19) | (static_cast<std::uint32_t>(dst) << 24);
  w[2] = (sfid << 28) | (src >= 0 ? (4u | (src_count << 3) | (static_cast<std::uint32_t>(src) << 8)) : 0u);
  return w;
}

// A jump (opcode 0x20) by `distance` instructions, counted from itself;
// conditional jumps fall through as well. Bit 46 (dword 1 bit 14) set.
inline Words jump(std::int32_t distance, bool conditional = true, bool bit46 = true, bool automatic = false) {
  Words w{};
  w[0] = 0x20 | 0x80000000u | (conditional ? (1u << 24) : 0u) | (automatic ? marker : 0u);
  w[1] = bit46 ? (1u << 14) : 0u;
  w[3] = static_cast<std::uint32_t>(distance * 16);
  return w;
}

inline Words thread_end() {
  Words w = send(-1, 0, 127, 1, 7);
  w[1] |= 4u;
  return w;
}

// A directive with code `code` and GRF range first..last.
inline Words directive(std::uint32_t code, std::uint32_t first = 0, std::uint32_t last = 0) {
  Words w{};
  w[0] = 127 | marker;
  w[1] = code << 24;
  w[2] = first << 8;
  w[3] = last << 8;
  return w;
}

inline zorn::Program program_of(const std::vector<Words>& instructions) {
  zorn::Program p;
  for (const Words& w : instructions) {
    p.push_back(zorn::low_half(w));
    p.push_back(zorn::high_half(w));
  }
  return p;
}

inline std::vector<std::uint8_t> bytes_of(const std::vector<Words>& instructions) {
  std::vector<std::uint8_t> code;
  for (const Words& w : instructions)
    for (std::uint32_t d : w)
      for (int b = 0; b < 4; ++b) code.push_back(static_cast<std::uint8_t>(d >> (8 * b)));
  return code;
}

inline Words words_at(const std::vector<std::uint8_t>& code, std::size_t index) {
  Words w{};
  for (int d = 0; d < 4; ++d)
    for (int b = 0; b < 4; ++b) w[d] |= std::uint32_t{code[16 * index + 4 * d + b]} << (8 * b);
  return w;
}

// The scoreboard byte (bits 8-15) and 10-bit field (bits 8-17) read back.
constexpr std::uint32_t byte_field(const Words& w) { return (w[0] >> 8) & 0xFFu; }
constexpr std::uint32_t wide_field(const Words& w) { return (w[0] >> 8) & 0x3FFu; }
constexpr bool has_marker(const Words& w) { return (w[0] & marker) != 0; }

}  // namespace sb_test
