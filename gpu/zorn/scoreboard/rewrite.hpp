// The rewrite after the scoreboard analysis: sync and mov instructions go in
// front of the instructions that requested them (those of the last block's
// end after its last instruction), directives leave the code, and every jump
// is moved to its relocated target.
#pragma once

#include <cstdint>
#include <vector>

#include "gpu/zorn/scoreboard/basic_blocks.hpp"

namespace ulmara::qez::zorn {

// The inserted instructions (16 bytes each).
InstructionWords sync_instruction(HW hw, const SyncRequest& request);
InstructionWords dummy_move_instruction(HW hw, const DummyMoveRequest& request);

struct RewrittenCode {
  std::vector<std::uint8_t> code;
  // Per input instruction index (and the input length): index in the new
  // code of the first instruction emitted for it, inserted ones included.
  std::vector<std::uint32_t> positions;
};

// Relocates the jumps of `program` and emits the new code.
RewrittenCode rewrite_program(Program program, const BlockList& blocks, HW hw);

}  // namespace ulmara::qez::zorn
