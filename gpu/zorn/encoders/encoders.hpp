// Instruction encoders of every generation with a generator. Each encoder ORs
// the generator's default modifier into its modifier argument (the
// conditional modifier of the Dorik-format and wide encoders excepted: it
// always comes from the call), checks every operand, and appends exactly one
// 16-byte instruction to the generator's top stream; when it throws, nothing
// is appended.
#pragma once

#include <cstdint>

#include "gpu/zorn/code_generator.hpp"
#include "gpu/zorn/encoders/messages.hpp"
#include "gpu/zorn/operands.hpp"

namespace ulmara::qez::zorn {

// ---------------------------------------------------------------------------
// Vemra (hw1) and Sutal (hw3): the legacy format.

void encode_mov_hw1(CodeGenerator& generator, InstructionModifier modifier, RegisterOperand dst, RegisterOperand src0);
void encode_mov_hw3(CodeGenerator& generator, InstructionModifier modifier, RegisterOperand dst, RegisterOperand src0);
void encode_op_imm_hw1(CodeGenerator& generator, std::uint32_t opcode, DataType default_type,
                       InstructionModifier modifier, RegisterOperand dst, Immediate immediate);
void encode_op_imm_hw3(CodeGenerator& generator, std::uint32_t opcode, DataType default_type,
                       InstructionModifier modifier, RegisterOperand dst, Immediate immediate);
void encode_cmp_imm_hw1(CodeGenerator& generator, InstructionModifier modifier, RegisterOperand dst,
                        RegisterOperand src0, Immediate immediate);
void encode_cmp_imm_hw3(CodeGenerator& generator, InstructionModifier modifier, RegisterOperand dst,
                        RegisterOperand src0, Immediate immediate);
void encode_send_hw1(CodeGenerator& generator, InstructionModifier modifier, RegisterOperand dst,
                     RegisterOperand src0, std::uint32_t extended_descriptor, std::uint32_t descriptor);
void encode_send_hw3(CodeGenerator& generator, InstructionModifier modifier, RegisterOperand dst,
                     RegisterOperand src0, std::uint32_t extended_descriptor, std::uint32_t descriptor);
void encode_thread_end_hw1(CodeGenerator& generator, InstructionModifier modifier, RegisterOperand payload);
void encode_thread_end_hw3(CodeGenerator& generator, InstructionModifier modifier, RegisterOperand payload);

// ---------------------------------------------------------------------------
// Dorik (hw4).

void encode_mov_hw4(CodeGenerator& generator, InstructionModifier modifier, RegisterOperand dst, RegisterOperand src0);
void encode_op_imm_hw4(CodeGenerator& generator, std::uint32_t opcode, DataType default_type,
                       InstructionModifier modifier, RegisterOperand dst, Immediate immediate);
void encode_cmp_imm_hw4(CodeGenerator& generator, InstructionModifier modifier, RegisterOperand dst,
                        RegisterOperand src0, Immediate immediate);
// `opcode` 49 or 51; both are written as 49.
void encode_send_hw4(CodeGenerator& generator, std::uint32_t opcode, InstructionModifier modifier,
                     RegisterOperand dst, RegisterOperand src0, RegisterOperand src1,
                     std::uint32_t extended_descriptor, std::uint32_t descriptor);

// ---------------------------------------------------------------------------
// Gulon (hw6).

void encode_unary_op_hw6(CodeGenerator& generator, std::uint32_t opcode, DataType default_type,
                         InstructionModifier modifier, RegisterOperand dst, RegisterOperand src0);
void encode_binary_op_hw6(CodeGenerator& generator, std::uint32_t opcode, DataType default_type,
                          InstructionModifier modifier, RegisterOperand dst, RegisterOperand src0,
                          Immediate src1);
void encode_op_imm_hw6(CodeGenerator& generator, std::uint32_t opcode, DataType default_type,
                       InstructionModifier modifier, RegisterOperand dst, Immediate immediate);
void encode_send_hw6(CodeGenerator& generator, std::uint32_t opcode, InstructionModifier modifier,
                     std::uint8_t shared_function, RegisterOperand dst, RegisterOperand src0, RegisterOperand src1,
                     std::uint32_t extended_descriptor, std::uint32_t descriptor);
void encode_ternary_hw6(CodeGenerator& generator, InstructionModifier modifier, RegisterOperand dst,
                        RegisterOperand src0, RegisterOperand src1, Immediate src2);
// Packs source 1 of a three-source instruction under construction.
void encode_src_region_hw6(InstructionWords& instruction, RegisterOperand src1);
void encode_send_select_hw6(CodeGenerator& generator, InstructionModifier modifier, RegisterOperand payload);

// ---------------------------------------------------------------------------
// Harix (hw7), Jorva (hw8), Lumet (hw9): the wide format.

void encode_ternary_hw7(CodeGenerator& generator, InstructionModifier modifier, RegisterOperand dst,
                        RegisterOperand src0, RegisterOperand src1, Immediate src2);
void encode_ternary_hw8(CodeGenerator& generator, InstructionModifier modifier, RegisterOperand dst,
                        RegisterOperand src0, RegisterOperand src1, Immediate src2);
void encode_ternary_hw9(CodeGenerator& generator, InstructionModifier modifier, RegisterOperand dst,
                        RegisterOperand src0, RegisterOperand src1, Immediate src2);
void encode_binary_op_hw7(CodeGenerator& generator, std::uint32_t opcode, DataType default_type,
                          InstructionModifier modifier, RegisterOperand dst, RegisterOperand src0, Immediate src1);
void encode_binary_op_hw8(CodeGenerator& generator, std::uint32_t opcode, DataType default_type,
                          InstructionModifier modifier, RegisterOperand dst, RegisterOperand src0, Immediate src1);
void encode_binary_op_hw9(CodeGenerator& generator, std::uint32_t opcode, DataType default_type,
                          InstructionModifier modifier, RegisterOperand dst, RegisterOperand src0, Immediate src1);
void encode_unary_op_hw7(CodeGenerator& generator, std::uint32_t opcode, DataType default_type,
                         InstructionModifier modifier, RegisterOperand dst, RegisterOperand src0);
void encode_unary_op_hw8(CodeGenerator& generator, std::uint32_t opcode, DataType default_type,
                         InstructionModifier modifier, RegisterOperand dst, RegisterOperand src0);
void encode_unary_op_hw9(CodeGenerator& generator, std::uint32_t opcode, DataType default_type,
                         InstructionModifier modifier, RegisterOperand dst, RegisterOperand src0);
void encode_op_imm_mod_hw7(CodeGenerator& generator, InstructionModifier modifier, RegisterOperand dst,
                           Immediate immediate);
void encode_op_imm_mod_hw8(CodeGenerator& generator, InstructionModifier modifier, RegisterOperand dst,
                           Immediate immediate);
void encode_op_imm_mod_hw9(CodeGenerator& generator, InstructionModifier modifier, RegisterOperand dst,
                           Immediate immediate);
// Pack source 1 (bits 64-127 fields) and source 0 (bits 32-79 fields) of a
// three-source instruction under construction.
void encode_src_region_hw7(InstructionWords& instruction, RegisterOperand src1);
void encode_src0_region_hw7(InstructionWords& instruction, RegisterOperand src0);
// `unused` is carried for the callers' sake and encodes nothing.
void encode_send_hw7(CodeGenerator& generator, std::uint32_t opcode, InstructionModifier modifier,
                     std::uint8_t shared_function, RegisterOperand dst, RegisterOperand src0, RegisterOperand src1,
                     std::uint64_t unused, std::uint32_t extended_descriptor, std::uint32_t descriptor);
// Lumet: an indirect source 0 is sent through an address register.
void encode_send_hw9(CodeGenerator& generator, std::uint32_t opcode, InstructionModifier modifier,
                     std::uint8_t shared_function, RegisterOperand dst, RegisterOperand src0, RegisterOperand src1,
                     std::uint64_t unused, std::uint32_t extended_descriptor, std::uint32_t descriptor);
void encode_send_select_hw7(CodeGenerator& generator, InstructionModifier modifier, RegisterOperand payload);
void encode_send_select_hw8(CodeGenerator& generator, InstructionModifier modifier, RegisterOperand payload);
void encode_send_select_hw9(CodeGenerator& generator, InstructionModifier modifier, RegisterOperand payload);

// Values of the closing messages.
namespace closing_message {
inline constexpr std::uint64_t thread_end_modifier = 0x800400600008;  // eight channels, bits 34 and 47
inline constexpr std::uint32_t legacy_extended_descriptor = 0x27;     // shared function 7, bit 5
inline constexpr std::uint32_t select_extended_descriptor = 0x23;     // shared function 3, bit 5
inline constexpr std::uint8_t select_shared_function = 3;
inline constexpr std::uint32_t descriptor = 0x2000010;
}  // namespace closing_message

// The null register operands the encoders pass themselves.
inline constexpr std::uint64_t null_register_ud_word = 0x100050000200;  // type 0xa0, horizontal stride 1

}  // namespace ulmara::qez::zorn
