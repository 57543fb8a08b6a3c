// Sub-group block moves of one real per lane, as the lane-pair kernels of
// several program families define them under their own macro prefix.
#pragma once

#include <ostream>
#include <string>

#include "emitter.hpp"

namespace qez_codelets {

// PREFIX_BLOCK_READ(p) and PREFIX_BLOCK_WRITE(p, v): 64-bit forms for double
// (with the 64-bit sub-group extension enabled under LANE_PAIRS where the
// device has it), 32-bit forms for float.
void write_block_moves(std::ostream& out, precision p, const char* prefix);
// The comment line heading a family's block moves:
// "/* ---- <title>: block moves (64-bit) ---- */" (32-bit for float).
std::string block_moves_heading(const std::string& title, precision p);

}  // namespace qez_codelets
