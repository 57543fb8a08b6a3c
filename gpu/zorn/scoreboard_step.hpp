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

// Analyses the code and returns it rewritten. The analysis itself is not part
// of zorn yet: until it is, the code passes unchanged, markers included.
std::vector<std::uint8_t> run_scoreboard_analysis(std::vector<std::uint8_t> code,
                                                  const ScoreboardParameters& parameters);

}  // namespace ulmara::qez::zorn
