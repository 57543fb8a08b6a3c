// The scoreboard step of finalisation.
#include "gpu/zorn/scoreboard_step.hpp"

#include "gpu/zorn/code_generator.hpp"

namespace ulmara::qez::zorn {

bool has_scoreboard_markers(const std::vector<std::uint8_t>& code) {
  for (std::size_t at = 0; at + instruction_bytes <= code.size(); at += instruction_bytes)
    if ((code[at] & scoreboard_marker_bit) != 0) return true;
  return false;
}

std::vector<std::uint8_t> run_scoreboard_analysis(std::vector<std::uint8_t> code,
                                                  const ScoreboardParameters& /*parameters*/) {
  return code;
}

}  // namespace ulmara::qez::zorn
