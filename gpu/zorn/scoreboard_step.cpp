// The scoreboard step of finalisation.
#include "gpu/zorn/scoreboard_step.hpp"

#include <algorithm>

#include "gpu/zorn/code_generator.hpp"
#include "gpu/zorn/scoreboard/propagation.hpp"
#include "gpu/zorn/scoreboard/rewrite.hpp"

namespace ulmara::qez::zorn {

bool has_scoreboard_markers(const std::vector<std::uint8_t>& code) {
  for (std::size_t at = 0; at + instruction_bytes <= code.size(); at += instruction_bytes)
    if ((code[at] & scoreboard_marker_bit) != 0) return true;
  return false;
}

std::uint32_t ScoreboardResult::relocate_offset(std::uint32_t byte_offset) const {
  if (positions.empty()) return byte_offset;
  const std::size_t last = positions.size() - 1;
  const std::size_t index = std::min<std::size_t>(byte_offset / instruction_bytes, last);
  const std::uint32_t rest = byte_offset - static_cast<std::uint32_t>(index) * instruction_bytes;
  return positions[index] * instruction_bytes + rest;
}

ScoreboardResult run_scoreboard_analysis(const std::vector<std::uint8_t>& code,
                                         const ScoreboardParameters& parameters) {
  Program program = program_from_bytes(code);
  const AnalysisSetting setting{parameters.hw, static_cast<std::int32_t>(parameters.tokens)};
  const BlockList blocks = run_scoreboard_passes(program, setting);
  RewrittenCode rewritten = rewrite_program(std::move(program), blocks, parameters.hw);
  return ScoreboardResult{std::move(rewritten.code), std::move(rewritten.positions)};
}

}  // namespace ulmara::qez::zorn
