// Jump-to-label instructions (jmpi, opcode 0x20) in the three instruction
// formats: the Vemra/Sutal format, the Dorik/Gulon format and the
// Harix/Jorva/Lumet format. Each emitter appends one instruction whose
// distance (bytes 12-15) is written by label resolution.
#pragma once

#include "gpu/zorn/code_generator.hpp"

namespace ulmara::qez::zorn {

inline constexpr std::uint32_t opcode_jmpi = 0x20;

// Vemra and Sutal: distance counted from the next instruction.
void emit_jmpi_hw1(CodeGenerator& generator, InstructionModifier modifier, Label& label);
void emit_jmpi_hw3(CodeGenerator& generator, InstructionModifier modifier, Label& label);
// Dorik and Gulon: distance counted from the jump itself.
void emit_jmpi_hw4(CodeGenerator& generator, InstructionModifier modifier, Label& label);
// Harix, Jorva and Lumet: distance counted from the jump itself.
void emit_jmpi_hw7(CodeGenerator& generator, InstructionModifier modifier, Label& label);

// The instruction words of each form before the distance is known (word 3 is
// 0); `modifier` already holds the default modifier.
InstructionWords jmpi_words_legacy(HW hw, InstructionModifier modifier);
InstructionWords jmpi_words_hw4(InstructionModifier modifier);
InstructionWords jmpi_words_hw7(InstructionModifier modifier);

}  // namespace ulmara::qez::zorn
