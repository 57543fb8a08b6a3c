// Per-generation entry points: each one chooses what its generation fixes
// (opcode, default type, widest-element rule, immediate limits) and hands the
// rest to the generic builders of encoder_core.
#include "gpu/zorn/encoders/encoders.hpp"

#include "gpu/zorn/encoders/encoder_core.hpp"
#include "gpu/zorn/exceptions.hpp"

namespace ulmara::qez::zorn {

using encoders::Instruction128;
using encoders::RegularRequest;
using encoders::SendRequest;
using encoders::traits_of;
using encoders::widest_element_bytes;
namespace op = encoders::opcode;

namespace {

const RegisterOperand null_ud = RegisterOperand::from_bits(null_register_ud_word);

// Bit 1 of the Dorik send opcode: 49 (send) and 51 (sendc) are both written as 49.
constexpr std::uint32_t dorik_send_opcode_mask = ~std::uint32_t{2};
// The shared-function id of a legacy or Dorik send: extended-descriptor bits 0-3.
constexpr std::uint32_t extended_descriptor_function_mask = 0xF;

// ---------------------------------------------------------------------------
// Legacy and Dorik forms with a fixed opcode: Vemra, Sutal and Dorik share
// every rule but the opcodes.

struct FixedOpcodes {
  std::uint32_t mov;
  std::uint32_t cmp;
};
constexpr FixedOpcodes legacy_opcodes{op::mov_legacy, op::cmp_legacy};
constexpr FixedOpcodes dorik_opcodes{op::mov, op::cmp};

void fixed_mov(CodeGenerator& generator, HW hw, FixedOpcodes opcodes, InstructionModifier modifier,
               RegisterOperand dst, RegisterOperand src0) {
  const RegularRequest request{opcodes.mov, data_type::ud, modifier,
                               widest_element_bytes({dst.type(), src0.type()},
                                                    encoders::minimum_widest_bytes_register_move)};
  encoders::append(generator, encoders::build_register_move(generator, traits_of(hw), request, dst, src0));
}

void fixed_op_imm(CodeGenerator& generator, HW hw, std::uint32_t opcode, DataType default_type,
                  InstructionModifier modifier, RegisterOperand dst, Immediate immediate) {
  const RegularRequest request{opcode, default_type, modifier,
                               widest_element_bytes({default_type, dst.type(), immediate.type})};
  encoders::append(generator, encoders::build_immediate_move(generator, traits_of(hw), request, dst, immediate,
                                                   encoders::width_code_64));
}

void fixed_cmp(CodeGenerator& generator, HW hw, FixedOpcodes opcodes, InstructionModifier modifier,
               RegisterOperand dst, RegisterOperand src0, Immediate immediate) {
  const RegularRequest request{opcodes.cmp, data_type::none, modifier,
                               widest_element_bytes({dst.type(), src0.type(), immediate.type})};
  encoders::append(generator, encoders::build_compare_immediate(generator, traits_of(hw), request, dst, src0, immediate));
}

void legacy_send(CodeGenerator& generator, HW hw, InstructionModifier modifier, RegisterOperand dst,
                 RegisterOperand src0, std::uint32_t extended_descriptor, std::uint32_t descriptor) {
  const SendRequest request{op::send,        modifier, extended_descriptor & extended_descriptor_function_mask,
                            dst,             src0,     RegisterOperand{},
                            extended_descriptor, descriptor};
  encoders::append(generator, encoders::build_send(generator, traits_of(hw), request));
}

void legacy_thread_end(CodeGenerator& generator, HW hw, InstructionModifier modifier, RegisterOperand payload) {
  legacy_send(generator, hw, modifier | InstructionModifier(closing_message::thread_end_modifier), null_ud, payload,
              closing_message::legacy_extended_descriptor, closing_message::descriptor);
}

// ---------------------------------------------------------------------------
// Gulon and the wide formats: opcode and default type as arguments.

void unary_op(CodeGenerator& generator, HW hw, std::uint32_t opcode, DataType default_type,
              InstructionModifier modifier, RegisterOperand dst, RegisterOperand src0) {
  const RegularRequest request{opcode, default_type, modifier,
                               widest_element_bytes({default_type, dst.type(), src0.type()})};
  encoders::append(generator, encoders::build_register_move(generator, traits_of(hw), request, dst, src0));
}

void binary_op(CodeGenerator& generator, HW hw, std::uint32_t opcode, DataType default_type,
               InstructionModifier modifier, RegisterOperand dst, RegisterOperand src0, Immediate src1) {
  const RegularRequest request{opcode, default_type, modifier,
                               widest_element_bytes({default_type, dst.type(), src0.type(), src1.type})};
  encoders::append(generator, encoders::build_compare_immediate(generator, traits_of(hw), request, dst, src0, src1));
}

void ternary(CodeGenerator& generator, HW hw, InstructionModifier modifier, RegisterOperand dst,
             RegisterOperand src0, RegisterOperand src1, Immediate src2) {
  encoders::append(generator, encoders::build_three_source(generator, traits_of(hw), modifier, dst, src0, src1, src2));
}

void send_with_function(CodeGenerator& generator, HW hw, std::uint32_t opcode, InstructionModifier modifier,
                        std::uint8_t shared_function, RegisterOperand dst, RegisterOperand src0, RegisterOperand src1,
                        std::uint32_t extended_descriptor, std::uint32_t descriptor) {
  const SendRequest request{opcode, modifier, shared_function, dst, src0, src1, extended_descriptor, descriptor};
  encoders::append(generator, encoders::build_send(generator, traits_of(hw), request));
}

void send_select(CodeGenerator& generator, HW hw, InstructionModifier modifier, RegisterOperand payload) {
  send_with_function(generator, hw, op::send, modifier | InstructionModifier(closing_message::thread_end_modifier),
                     closing_message::select_shared_function, null_ud, payload, null_ud,
                     closing_message::select_extended_descriptor, closing_message::descriptor);
}

void wide_op_imm_mod(CodeGenerator& generator, HW hw, InstructionModifier modifier, RegisterOperand dst,
                     Immediate immediate) {
  const RegularRequest request{op::mov, data_type::none, modifier, widest_element_bytes({dst.type(), immediate.type})};
  encoders::append(generator, encoders::build_immediate_move(generator, traits_of(hw), request, dst, immediate,
                                                   encoders::width_code_64));
}

// Source packers of a three-source instruction under construction.
template <class Writer>
void pack_into_words(InstructionWords& words, HW hw, RegisterOperand source, Writer writer) {
  Instruction128 instruction = encoders::from_words(words);
  writer(instruction, traits_of(hw), source);
  words = instruction.words();
}

}  // namespace

// ---------------------------------------------------------------------------
// Vemra and Sutal.

void encode_mov_hw1(CodeGenerator& g, InstructionModifier m, RegisterOperand dst, RegisterOperand src0) {
  fixed_mov(g, hw::vemra, legacy_opcodes, m, dst, src0);
}
void encode_mov_hw3(CodeGenerator& g, InstructionModifier m, RegisterOperand dst, RegisterOperand src0) {
  fixed_mov(g, hw::sutal, legacy_opcodes, m, dst, src0);
}
void encode_op_imm_hw1(CodeGenerator& g, std::uint32_t opcode, DataType t, InstructionModifier m,
                       RegisterOperand dst, Immediate imm) {
  fixed_op_imm(g, hw::vemra, opcode, t, m, dst, imm);
}
void encode_op_imm_hw3(CodeGenerator& g, std::uint32_t opcode, DataType t, InstructionModifier m,
                       RegisterOperand dst, Immediate imm) {
  fixed_op_imm(g, hw::sutal, opcode, t, m, dst, imm);
}
void encode_cmp_imm_hw1(CodeGenerator& g, InstructionModifier m, RegisterOperand dst, RegisterOperand src0,
                        Immediate imm) {
  fixed_cmp(g, hw::vemra, legacy_opcodes, m, dst, src0, imm);
}
void encode_cmp_imm_hw3(CodeGenerator& g, InstructionModifier m, RegisterOperand dst, RegisterOperand src0,
                        Immediate imm) {
  fixed_cmp(g, hw::sutal, legacy_opcodes, m, dst, src0, imm);
}
void encode_send_hw1(CodeGenerator& g, InstructionModifier m, RegisterOperand dst, RegisterOperand src0,
                     std::uint32_t ex, std::uint32_t desc) {
  legacy_send(g, hw::vemra, m, dst, src0, ex, desc);
}
void encode_send_hw3(CodeGenerator& g, InstructionModifier m, RegisterOperand dst, RegisterOperand src0,
                     std::uint32_t ex, std::uint32_t desc) {
  legacy_send(g, hw::sutal, m, dst, src0, ex, desc);
}
void encode_thread_end_hw1(CodeGenerator& g, InstructionModifier m, RegisterOperand payload) {
  legacy_thread_end(g, hw::vemra, m, payload);
}
void encode_thread_end_hw3(CodeGenerator& g, InstructionModifier m, RegisterOperand payload) {
  legacy_thread_end(g, hw::sutal, m, payload);
}

// ---------------------------------------------------------------------------
// Dorik.

void encode_mov_hw4(CodeGenerator& g, InstructionModifier m, RegisterOperand dst, RegisterOperand src0) {
  fixed_mov(g, hw::dorik, dorik_opcodes, m, dst, src0);
}
void encode_op_imm_hw4(CodeGenerator& g, std::uint32_t opcode, DataType t, InstructionModifier m,
                       RegisterOperand dst, Immediate imm) {
  fixed_op_imm(g, hw::dorik, opcode, t, m, dst, imm);
}
void encode_cmp_imm_hw4(CodeGenerator& g, InstructionModifier m, RegisterOperand dst, RegisterOperand src0,
                        Immediate imm) {
  fixed_cmp(g, hw::dorik, dorik_opcodes, m, dst, src0, imm);
}
void encode_send_hw4(CodeGenerator& g, std::uint32_t opcode, InstructionModifier m, RegisterOperand dst,
                     RegisterOperand src0, RegisterOperand src1, std::uint32_t ex, std::uint32_t desc) {
  send_with_function(g, hw::dorik, opcode & dorik_send_opcode_mask, m,
                     static_cast<std::uint8_t>(ex & extended_descriptor_function_mask), dst, src0, src1, ex, desc);
}

// ---------------------------------------------------------------------------
// Gulon.

void encode_unary_op_hw6(CodeGenerator& g, std::uint32_t opcode, DataType t, InstructionModifier m,
                         RegisterOperand dst, RegisterOperand src0) {
  unary_op(g, hw::gulon, opcode, t, m, dst, src0);
}
void encode_binary_op_hw6(CodeGenerator& g, std::uint32_t opcode, DataType t, InstructionModifier m,
                          RegisterOperand dst, RegisterOperand src0, Immediate src1) {
  binary_op(g, hw::gulon, opcode, t, m, dst, src0, src1);
}
void encode_op_imm_hw6(CodeGenerator& g, std::uint32_t opcode, DataType t, InstructionModifier m,
                       RegisterOperand dst, Immediate imm) {
  fixed_op_imm(g, hw::gulon, opcode, t, m, dst, imm);
}
void encode_send_hw6(CodeGenerator& g, std::uint32_t opcode, InstructionModifier m, std::uint8_t sfid,
                     RegisterOperand dst, RegisterOperand src0, RegisterOperand src1, std::uint32_t ex,
                     std::uint32_t desc) {
  send_with_function(g, hw::gulon, opcode, m, sfid, dst, src0, src1, ex, desc);
}
void encode_ternary_hw6(CodeGenerator& g, InstructionModifier m, RegisterOperand dst, RegisterOperand src0,
                        RegisterOperand src1, Immediate src2) {
  ternary(g, hw::gulon, m, dst, src0, src1, src2);
}
void encode_src_region_hw6(InstructionWords& instruction, RegisterOperand src1) {
  pack_into_words(instruction, hw::gulon, src1, encoders::write_three_source_src1);
}
void encode_send_select_hw6(CodeGenerator& g, InstructionModifier m, RegisterOperand payload) {
  send_select(g, hw::gulon, m, payload);
}

// ---------------------------------------------------------------------------
// Harix, Jorva, Lumet.

void encode_ternary_hw7(CodeGenerator& g, InstructionModifier m, RegisterOperand dst, RegisterOperand src0,
                        RegisterOperand src1, Immediate src2) {
  ternary(g, hw::harix, m, dst, src0, src1, src2);
}
void encode_ternary_hw8(CodeGenerator& g, InstructionModifier m, RegisterOperand dst, RegisterOperand src0,
                        RegisterOperand src1, Immediate src2) {
  ternary(g, hw::jorva, m, dst, src0, src1, src2);
}
void encode_ternary_hw9(CodeGenerator& g, InstructionModifier m, RegisterOperand dst, RegisterOperand src0,
                        RegisterOperand src1, Immediate src2) {
  ternary(g, hw::lumet, m, dst, src0, src1, src2);
}
void encode_binary_op_hw7(CodeGenerator& g, std::uint32_t opcode, DataType t, InstructionModifier m,
                          RegisterOperand dst, RegisterOperand src0, Immediate src1) {
  binary_op(g, hw::harix, opcode, t, m, dst, src0, src1);
}
void encode_binary_op_hw8(CodeGenerator& g, std::uint32_t opcode, DataType t, InstructionModifier m,
                          RegisterOperand dst, RegisterOperand src0, Immediate src1) {
  binary_op(g, hw::jorva, opcode, t, m, dst, src0, src1);
}
void encode_binary_op_hw9(CodeGenerator& g, std::uint32_t opcode, DataType t, InstructionModifier m,
                          RegisterOperand dst, RegisterOperand src0, Immediate src1) {
  binary_op(g, hw::lumet, opcode, t, m, dst, src0, src1);
}
void encode_unary_op_hw7(CodeGenerator& g, std::uint32_t opcode, DataType t, InstructionModifier m,
                         RegisterOperand dst, RegisterOperand src0) {
  unary_op(g, hw::harix, opcode, t, m, dst, src0);
}
void encode_unary_op_hw8(CodeGenerator& g, std::uint32_t opcode, DataType t, InstructionModifier m,
                         RegisterOperand dst, RegisterOperand src0) {
  unary_op(g, hw::jorva, opcode, t, m, dst, src0);
}
void encode_unary_op_hw9(CodeGenerator& g, std::uint32_t opcode, DataType t, InstructionModifier m,
                         RegisterOperand dst, RegisterOperand src0) {
  unary_op(g, hw::lumet, opcode, t, m, dst, src0);
}
void encode_op_imm_mod_hw7(CodeGenerator& g, InstructionModifier m, RegisterOperand dst, Immediate imm) {
  wide_op_imm_mod(g, hw::harix, m, dst, imm);
}
void encode_op_imm_mod_hw8(CodeGenerator& g, InstructionModifier m, RegisterOperand dst, Immediate imm) {
  wide_op_imm_mod(g, hw::jorva, m, dst, imm);
}
void encode_op_imm_mod_hw9(CodeGenerator& g, InstructionModifier m, RegisterOperand dst, Immediate imm) {
  wide_op_imm_mod(g, hw::lumet, m, dst, imm);
}
void encode_src_region_hw7(InstructionWords& instruction, RegisterOperand src1) {
  pack_into_words(instruction, hw::harix, src1, encoders::write_three_source_src1);
}
void encode_src0_region_hw7(InstructionWords& instruction, RegisterOperand src0) {
  pack_into_words(instruction, hw::harix, src0, encoders::write_three_source_src0);
}
void encode_send_hw7(CodeGenerator& g, std::uint32_t opcode, InstructionModifier m, std::uint8_t sfid,
                     RegisterOperand dst, RegisterOperand src0, RegisterOperand src1, std::uint64_t /*unused*/,
                     std::uint32_t ex, std::uint32_t desc) {
  // Jorva sends through the Harix routine; the layout is the same.
  send_with_function(g, hw::harix, opcode, m, sfid, dst, src0, src1, ex, desc);
}
void encode_send_hw9(CodeGenerator& g, std::uint32_t opcode, InstructionModifier m, std::uint8_t sfid,
                     RegisterOperand dst, RegisterOperand src0, RegisterOperand src1, std::uint64_t /*unused*/,
                     std::uint32_t ex, std::uint32_t desc) {
  send_with_function(g, hw::lumet, opcode, m, sfid, dst, src0, src1, ex, desc);
}
void encode_send_select_hw7(CodeGenerator& g, InstructionModifier m, RegisterOperand payload) {
  send_select(g, hw::harix, m, payload);
}
void encode_send_select_hw8(CodeGenerator& g, InstructionModifier m, RegisterOperand payload) {
  send_select(g, hw::jorva, m, payload);
}
void encode_send_select_hw9(CodeGenerator& g, InstructionModifier m, RegisterOperand payload) {
  send_select(g, hw::lumet, m, payload);
}

}  // namespace ulmara::qez::zorn
