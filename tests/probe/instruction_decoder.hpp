// Test-side decoder of the instructions that kernel programs are made of
// (moves, compares, jumps and sends), built on the field reader of the
// format descriptions and independent of the encoders. It gives every
// register as a GRF byte address, so that a test compares operands with the
// registers and offsets the kernel interface hands out.
#pragma once

#include <cstdint>

#include "gpu/zorn/hw.hpp"
#include "tests/zorn/encoders/field_reader.hpp"

namespace zorn_test {

enum class InstructionFormat { vemra, sutal, dorik, wide };
InstructionFormat format_of(ulmara::qez::zorn::HW hw);

// Bytes in one general register: 32 before Harix, 64 from Harix on.
std::uint32_t grf_bytes(InstructionFormat format);

struct DecodedRegister {
  bool grf = false;        // general register (not ARF, not immediate)
  std::uint32_t reg = 0;   // register number bits 0-7 (ARF number for an ARF)
  std::uint32_t byte = 0;  // byte offset inside the register
  std::uint32_t type_code = 0;
};

struct DecodedInstruction {
  std::uint32_t opcode = 0;
  std::uint32_t exec_code = 0, predicate = 0, invert = 0, condition = 0;
  DecodedRegister dst, src0, src1;
  bool immediate_source = false;
  std::uint32_t immediate_type_code = 0, immediate = 0;  // low 32 bits of the immediate
  std::uint32_t shared_function = 0, extended = 0, descriptor = 0;  // sends; extended without bits 0-4
  std::int32_t distance = 0;                                          // jumps
};

enum class Kind { move, compare, jump, send, other };
Kind kind_of(InstructionFormat format, std::uint32_t opcode);

DecodedInstruction decode_instruction(InstructionFormat format, const Words& words);

// The hardware code the format gives a register (or immediate) of `type`.
std::uint32_t register_type_code(InstructionFormat format, std::uint8_t type);
std::uint32_t immediate_type_code(InstructionFormat format, std::uint8_t type);

// Byte address of a register operand of the decoded instruction.
inline std::uint32_t address_of(InstructionFormat format, const DecodedRegister& r) {
  return r.reg * grf_bytes(format) + r.byte;
}

}  // namespace zorn_test
