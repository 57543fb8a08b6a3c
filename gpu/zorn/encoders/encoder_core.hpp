// Generic instruction builders shared by the encoders of every generation.
// Each builder fills an Instruction128 from the format tables of its form and
// the column of one generation; the per-generation entry points (encoders.hpp)
// only choose the opcode, the default type, the widest-element rule and the
// immediate limits their generation fixes.
#pragma once

#include <cstdint>
#include <initializer_list>

#include "gpu/zorn/code_generator.hpp"
#include "gpu/zorn/encoders/format_tables.hpp"
#include "gpu/zorn/encoders/instruction_fields.hpp"
#include "gpu/zorn/operands.hpp"

namespace ulmara::qez::zorn::encoders {

// The instruction layouts of the format tables.
enum class Family : std::uint8_t { legacy, dorik, wide };

struct GenerationTraits {
  HW hw;                          // handed to fixup_operand
  Generation column;              // column of the format tables
  Family family;
  TypeCodeTable register_types;   // type codes of register operands
  TypeCodeTable immediate_types;  // type codes of immediates
};

// Traits of a generation with a generator; invalid_object_exception otherwise.
GenerationTraits traits_of(HW hw);

// Width codes and limits the encoders test.
inline constexpr std::uint32_t width_code_16 = static_cast<std::uint32_t>(WidthCode::bits16);
inline constexpr std::uint32_t width_code_32 = static_cast<std::uint32_t>(WidthCode::bits32);
inline constexpr std::uint32_t width_code_64 = static_cast<std::uint32_t>(WidthCode::bits64);
inline constexpr std::uint32_t width_code_128 = static_cast<std::uint32_t>(WidthCode::bits128);

// Opcodes the encoders fix or test.
namespace opcode {
inline constexpr std::uint32_t mov_legacy = 1;
inline constexpr std::uint32_t cmp_legacy = 16;
inline constexpr std::uint32_t send = 49;
inline constexpr std::uint32_t sendc = 51;
inline constexpr std::uint32_t mov = 97;
inline constexpr std::uint32_t cmp = 112;
inline constexpr std::uint32_t mad = 91;
inline constexpr std::uint32_t dpas_like_89 = 89;  // takes modifier bit 28 in instruction bit 33 on wide formats
}  // namespace opcode

// Execution size 1: the register fields of a send need no region completion.
inline constexpr std::uint32_t minimum_widest_bytes_register_move = 4;

// The modifier an encoder works with: the generator's default OR the call's.
InstructionModifier merged_modifier(const CodeGenerator& generator, InstructionModifier argument);

// Largest element size in bytes among the types (the no-type value counts
// as one byte), at least `at_least`.
std::uint32_t widest_element_bytes(std::initializer_list<DataType> types, std::uint32_t at_least = 1);

// Hardware register-file code of the legacy format: 1 GRF, 0 ARF, 3 immediate.
inline constexpr std::uint32_t legacy_file_grf = 1;
inline constexpr std::uint32_t legacy_file_arf = 0;
inline constexpr std::uint32_t legacy_file_immediate = 3;

// Scoreboard value of the form's control field (0 where the generation has none).
std::uint32_t scoreboard_value(Family family, SwsbInfo swsb, std::uint32_t opcode);

// Opcode, scoreboard and every modifier bit the control table places.
void write_control(Instruction128& instruction, const GenerationTraits& traits, std::uint32_t opcode,
                   InstructionModifier merged);

// ---------------------------------------------------------------------------
// One- and two-source forms (operands already completed by fixup_operand).

// Destination of a regular form; invalid_object_exception for an invalid one.
void write_regular_destination(Instruction128& instruction, const GenerationTraits& traits, RegisterOperand dst);
// Register source 0 of a regular form.
void write_regular_source0(Instruction128& instruction, const GenerationTraits& traits, RegisterOperand src0);
// Immediate as source 0 (immediate move) or as source 1 (compare and friends).
void write_immediate_source0(Instruction128& instruction, const GenerationTraits& traits, Immediate immediate);
void write_immediate_source1(Instruction128& instruction, const GenerationTraits& traits, Immediate immediate);
// The modifier bits of dword 1 of the regular forms; written after the
// operands, since some share bits with the destination.
void write_regular_modifiers(Instruction128& instruction, const GenerationTraits& traits, std::uint32_t opcode,
                             InstructionModifier merged, RegisterOperand dst);

// The whole regular forms, each checking before it returns; nothing is
// appended here.
struct RegularRequest {
  std::uint32_t opcode;
  DataType default_type;
  InstructionModifier argument;  // the call's own modifier
  std::uint32_t widest_bytes;
};
Instruction128 build_register_move(const CodeGenerator& generator, const GenerationTraits& traits,
                                   const RegularRequest& request, RegisterOperand dst, RegisterOperand src0);
// `max_width_code`: the widest immediate width code the form accepts.
Instruction128 build_immediate_move(const CodeGenerator& generator, const GenerationTraits& traits,
                                    const RegularRequest& request, RegisterOperand dst, Immediate immediate,
                                    std::uint32_t max_width_code);
Instruction128 build_compare_immediate(const CodeGenerator& generator, const GenerationTraits& traits,
                                       const RegularRequest& request, RegisterOperand dst, RegisterOperand src0,
                                       Immediate immediate);

// ---------------------------------------------------------------------------
// Three-source form (Gulon and the wide formats).

// Two-bit region code of a three-source source: vertical stride 0, 1, 4, 8
// give 0-3; another stride gives 3 with a horizontal stride and is refused
// (invalid_region_exception) without one.
std::uint32_t three_source_region_code(RegisterOperand source);
// Checks a three-source register operand: invalid_object_exception, then
// invalid_operand_exception for an indirect one.
void check_three_source_operand(RegisterOperand operand);
void write_three_source_src0(Instruction128& instruction, const GenerationTraits& traits, RegisterOperand src0);
void write_three_source_src1(Instruction128& instruction, const GenerationTraits& traits, RegisterOperand src1);
Instruction128 build_three_source(const CodeGenerator& generator, const GenerationTraits& traits,
                                  InstructionModifier argument, RegisterOperand dst, RegisterOperand src0,
                                  RegisterOperand src1, Immediate src2);

// ---------------------------------------------------------------------------
// Send form.

struct SendRequest {
  std::uint32_t opcode;              // written as the generation's opcode field takes it
  InstructionModifier argument;
  std::uint32_t shared_function;     // instruction field (four bits)
  RegisterOperand dst, src0, src1;   // src1 unused in the legacy format
  std::uint32_t extended_descriptor;
  std::uint32_t descriptor;
};
Instruction128 build_send(const CodeGenerator& generator, const GenerationTraits& traits, const SendRequest& request);

// A GRF operand numbered 256 or above (ARF operands never are).
bool is_grf_above_255(RegisterOperand operand);

// Appends one instruction, bits 0-63 first.
void append(CodeGenerator& generator, const Instruction128& instruction);

// Conversions between the table value and the dword view the public
// operand packers take.
Instruction128 from_words(const InstructionWords& words);

}  // namespace ulmara::qez::zorn::encoders
