// The per-block scoreboard analysis: decides for every marked instruction of
// a block its distance, pipe and token wait, allocates tokens for
// out-of-order instructions, writes the fields and records the sync and
// dummy-move requests that the rewrite turns into instructions.
#pragma once

#include <cstdint>

#include "gpu/zorn/scoreboard/basic_blocks.hpp"

namespace ulmara::qez::zorn {

enum class AnalysisPass : std::int32_t { zero = 0, one = 1, two = 2 };

// One pass over one block; `hw` selects the field width and the rules.
void swsb_analysis(HW hw, std::int32_t tokens, Program& program, BasicBlock& block, AnalysisPass pass);

// Expected instructions until an instruction that sets a token completes.
std::uint16_t token_latency_estimate(HW hw, const InstructionWords& instruction);

}  // namespace ulmara::qez::zorn
