// Kernel prologues of Gulon and newer: the first code of a kernel, which
// loads the thread's local IDs (per-thread part, ending with the generator's
// per_thread_skip_label) and the argument payload registers that do not
// arrive as inline data (cross-thread part, ending with prologue_end_label).
#pragma once

#include <cstdint>

#include "gpu/zorn/code_generator.hpp"

namespace ulmara::qez::zorn {

// Length of the per-thread part whenever it is emitted: padded with nops.
inline constexpr std::uint32_t per_thread_prologue_instructions = 12;

// Default-modifier bits the prologue's own instructions carry (34 and 45).
inline constexpr std::uint64_t prologue_modifier_bits = 0x200400000000;

// The address scratch register and the cross-thread address mask.
inline constexpr std::uint32_t prologue_address_register = 127;
inline constexpr std::uint32_t cross_thread_address_mask = 0xFFFFFFE0u;

// Each emitter appends the prologue of its generation to the active stream
// and places the two labels. Precondition: finalize_interface has run, else
// interface_not_finalized, with nothing appended.
void emit_prologue_hw6(CodeGenerator& generator);
void emit_prologue_hw7(CodeGenerator& generator);
void emit_prologue_hw8(CodeGenerator& generator);
void emit_prologue_hw9(CodeGenerator& generator);

}  // namespace ulmara::qez::zorn
