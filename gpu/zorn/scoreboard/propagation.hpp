// Dependencies outstanding at the end of a block flow into every block that
// can follow it, until nothing changes; then each block's live-in set is
// collected. Also the driver that runs the three analysis passes with the
// propagations and table resets between them.
#pragma once

#include "gpu/zorn/scoreboard/basic_blocks.hpp"

namespace ulmara::qez::zorn {

// Negated pipe depths: a rebased counter at or below them has aged out.
inline constexpr std::array<std::int32_t, in_order_pipe_indexes> pipe_depth_thresholds{-11, -11, -11, -15, -19, -11};

// Throws std::runtime_error "zorn internal error: propagation failed." for
// no blocks or when no fixpoint is reached within one iteration per block.
void propagate_dependencies(BlockList& blocks);

// Scoreboard parameters of one analysis run.
struct AnalysisSetting {
  HW hw;
  std::int32_t tokens;
};

// Builds the blocks, decodes the operands and runs pass 0, propagation,
// pass 1, propagation and pass 2 over `program`, editing it in place.
BlockList run_scoreboard_passes(Program& program, const AnalysisSetting& setting);

}  // namespace ulmara::qez::zorn
