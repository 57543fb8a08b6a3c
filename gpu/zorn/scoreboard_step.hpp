// The scoreboard step of finalisation on Dorik and newer: the automatic
// software-scoreboard analysis fills in the scoreboard fields of every
// marked instruction and may insert sync and mov instructions.
#pragma once

#include <cstdint>
#include <vector>

#include "gpu/zorn/hw.hpp"

namespace ulmara::qez::zorn {

// The generation's analysis: its generation number and token count.
struct ScoreboardParameters {
  HW hw;
  std::uint32_t tokens;
};

// Bit 7 of an instruction's first byte: the instruction asks for automatic
// scoreboard handling.
inline constexpr std::uint8_t scoreboard_marker_bit = 0x80;

// True when any 16-byte instruction of the code carries the marker.
bool has_scoreboard_markers(const std::vector<std::uint8_t>& code);

// The code after the analysis and the rewrite, with the map from positions
// in the code as emitted to positions in the new code.
struct ScoreboardResult {
  std::vector<std::uint8_t> code;
  // Per instruction of the input (and its end): the new index of the first
  // instruction emitted for it, inserted sync and mov included.
  std::vector<std::uint32_t> positions;

  // New byte offset of a byte offset into the input code (a label target).
  std::uint32_t relocate_offset(std::uint32_t byte_offset) const;
};

// Runs the three passes of the analysis with the propagations between them
// and rewrites the code: inserted sync and mov instructions, directives
// removed, jumps relocated. Throws invalid_directive_exception,
// invalid_range_exception, invalid_region_exception and std::runtime_error
// "zorn internal error: propagation failed.".
ScoreboardResult run_scoreboard_analysis(const std::vector<std::uint8_t>& code,
                                         const ScoreboardParameters& parameters);

}  // namespace ulmara::qez::zorn
