// Jump-to-label emitters. Each instruction form is one table of fields: bits
// copied from the modifier and constant bits; the scoreboard field and the
// legacy source field are the only computed parts.
#include "gpu/zorn/jumps.hpp"

#include <array>

namespace ulmara::qez::zorn {
namespace {

// Modifier bits [modifier_low, modifier_low + width) copied into a word.
struct CopiedField {
  std::uint32_t word;
  BitField destination;
  std::uint32_t modifier_low;
};

// A constant written into a word.
struct ConstantField {
  std::uint32_t word;
  BitField destination;
  std::uint32_t value;
};

template <std::size_t N, std::size_t K>
InstructionWords build_words(InstructionModifier modifier, const std::array<CopiedField, N>& copied,
                             const std::array<ConstantField, K>& constants) {
  InstructionWords words{0, 0, 0, 0};
  for (const CopiedField& f : copied)
    set_bits(words[f.word], f.destination, get_bits(modifier.bits, BitField{f.modifier_low, f.destination.width}));
  for (const ConstantField& f : constants) set_bits(words[f.word], f.destination, f.value);
  return words;
}

// --- Vemra and Sutal form -------------------------------------------------
constexpr std::array<CopiedField, 3> legacy_copied{{
    {0, {8, 24}, 8},
    {1, {0, 9}, 32},
    {1, {11, 5}, 43},
}};
constexpr std::array<ConstantField, 3> legacy_constants{{
    {0, {0, 8}, opcode_jmpi},
    {1, {2, 1}, 1},
    {1, {16, 16}, 0x3400},
}};
// The instruction pointer as a 32-bit source: ARF 0xA0, type 0xa0, stride 1.
constexpr std::uint64_t ip_operand_bits = 0x00001000500002A0ull;
constexpr DataType ip_default_type{0xa1};
constexpr std::uint32_t legacy_source_word_bits = 0x0E000000u;
constexpr int legacy_jump_arity = 2;

// --- Dorik and later forms: shared dword 1 --------------------------------
constexpr std::array<CopiedField, 3> word1_copied{{
    {1, {0, 1}, 14},
    {1, {1, 1}, 28},
    {1, {2, 1}, 31},
}};
constexpr ConstantField word1_constant{1, {14, 1}, 1};

// --- Dorik and Gulon form -------------------------------------------------
constexpr std::array<CopiedField, 9> hw4_copied{{
    {0, {7, 1}, 45}, {0, {16, 3}, 21}, {0, {19, 3}, 11}, {0, {22, 2}, 32}, {0, {24, 5}, 16},
    {0, {29, 2}, 29}, word1_copied[0], word1_copied[1], word1_copied[2],
}};
constexpr std::array<ConstantField, 3> hw4_constants{{
    {0, {0, 7}, opcode_jmpi},
    {0, {31, 1}, 1},
    word1_constant,
}};
constexpr BitField hw4_scoreboard{8, 8};

// --- Harix, Jorva and Lumet form ------------------------------------------
constexpr std::array<CopiedField, 11> hw7_copied{{
    {0, {7, 1}, 45}, {0, {18, 3}, 21}, {0, {21, 2}, 32}, {0, {23, 1}, 44}, {0, {24, 2}, 12},
    {0, {26, 2}, 16}, {0, {28, 1}, 20}, {0, {29, 2}, 29}, word1_copied[0], word1_copied[1], word1_copied[2],
}};
constexpr std::array<ConstantField, 3> hw7_constants = hw4_constants;
constexpr BitField hw7_scoreboard{8, 10};

InstructionModifier combined(const CodeGenerator& generator, InstructionModifier modifier) {
  generator.apply_default_modifier(modifier);
  return modifier;
}

// Distance counted from the instruction after the jump.
void emit_jump_counted_after(CodeGenerator& generator, const InstructionWords& words, Label& label) {
  label_id(label, generator.labels);  // a bad handle throws before anything is appended
  generator.append_instruction(words);
  push_label_fixup(generator, label, static_cast<std::int32_t>(generator.top_stream().code_size_bytes()),
                   fixup_offset_after_jump);
}

// Distance counted from the jump itself.
void emit_jump_counted_at(CodeGenerator& generator, const InstructionWords& words, Label& label) {
  push_label_fixup(generator, label, static_cast<std::int32_t>(generator.top_stream().code_size_bytes()),
                   fixup_offset_at_jump);
  generator.append_instruction(words);
}

}  // namespace

InstructionWords jmpi_words_legacy(HW hw, InstructionModifier modifier) {
  InstructionWords words = build_words(modifier, legacy_copied, legacy_constants);
  RegisterOperand ip = RegisterOperand::from_bits(ip_operand_bits);
  fixup_operand(ip, hw, modifier.execution_size(), 0, ip_default_type, 0, legacy_jump_arity);
  words[2] = encode_source_operand(ip) | legacy_source_word_bits;
  return words;
}

InstructionWords jmpi_words_hw4(InstructionModifier modifier) {
  InstructionWords words = build_words(modifier, hw4_copied, hw4_constants);
  set_bits(words[0], hw4_scoreboard, encode_scoreboard_byte_hw4(modifier.swsb()));
  return words;
}

InstructionWords jmpi_words_hw7(InstructionModifier modifier) {
  InstructionWords words = build_words(modifier, hw7_copied, hw7_constants);
  set_bits(words[0], hw7_scoreboard, encode_scoreboard_field_hw7(modifier.swsb()));
  return words;
}

void emit_jmpi_hw1(CodeGenerator& generator, InstructionModifier modifier, Label& label) {
  emit_jump_counted_after(generator, jmpi_words_legacy(hw::vemra, combined(generator, modifier)), label);
}

void emit_jmpi_hw3(CodeGenerator& generator, InstructionModifier modifier, Label& label) {
  emit_jump_counted_after(generator, jmpi_words_legacy(hw::sutal, combined(generator, modifier)), label);
}

void emit_jmpi_hw4(CodeGenerator& generator, InstructionModifier modifier, Label& label) {
  emit_jump_counted_at(generator, jmpi_words_hw4(combined(generator, modifier)), label);
}

void emit_jmpi_hw7(CodeGenerator& generator, InstructionModifier modifier, Label& label) {
  emit_jump_counted_at(generator, jmpi_words_hw7(combined(generator, modifier)), label);
}

}  // namespace ulmara::qez::zorn
