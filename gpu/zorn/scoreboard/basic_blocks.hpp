// Basic blocks of a finished instruction stream: the split at branches and
// thread ends, successor and predecessor lists, per-pipe instruction counts,
// the per-block state of the scoreboard analysis, and the decoding of every
// instruction's operand regions with the directives that steer it.
#pragma once

#include <cstdint>
#include <vector>

#include "gpu/zorn/scoreboard/dependency_table.hpp"

namespace ulmara::qez::zorn {

// Per-block counters: [0] in-order of any pipe, [1]-[5] float, integer, long,
// math, scalar, [6] every instruction.
using PipeCounts = std::array<std::uint32_t, counter_count>;

struct BasicBlock {
  std::uint32_t index = 0;
  std::uint32_t iteration_stamp = 0;
  std::uint32_t first = 0;
  std::uint32_t end = 0;
  std::uint32_t directive_count = 0;
  PipeCounts pipe_counts{};
  std::vector<BasicBlock*> predecessors;
  std::vector<BasicBlock*> successors;
  DependencyTable out;
  DependencyTable resolved;
  DependencyTable in;
  std::vector<SyncRequest> sync_requests;
  std::vector<DummyMoveRequest> dummy_moves;
  std::vector<InstructionRegions> regions;
  std::uint8_t workaround = 0;

  std::uint32_t size() const { return end - first; }
  InstructionRegions& regions_of(std::uint32_t instruction) { return regions[instruction - first]; }
};

// Blocks own their tables and point at each other: they live in a vector that
// is sized once and never moves.
using BlockList = std::vector<BasicBlock>;

// Terminator kinds: bit 0 falls through, bit 1 jumps by dword 3, bit 2 jumps
// by dword 2; 0 ends the thread.
namespace terminator {
inline constexpr std::uint32_t thread_end = 0;
inline constexpr std::uint32_t falls_through = 1;
inline constexpr std::uint32_t jumps_dword3 = 2;
inline constexpr std::uint32_t jumps_dword2 = 4;
inline constexpr std::uint32_t ends_block = 8;
}  // namespace terminator

std::uint32_t terminator_kind(const InstructionWords& instruction);
// Jump target by dword: index + (signed dword >> 4).
std::int64_t jump_target(std::size_t index, std::uint32_t dword_value);

// Directive codes.
namespace directive {
inline constexpr std::uint32_t skip_destination = 0;
inline constexpr std::uint32_t skip_source0 = 1;
inline constexpr std::uint32_t skip_source1 = 2;
inline constexpr std::uint32_t skip_source2 = 3;
inline constexpr std::uint32_t replace_destination = 8;
inline constexpr std::uint32_t wait_for_range = 16;
inline constexpr std::uint32_t wait_for_token_of = 17;
inline constexpr std::uint32_t disable_workaround = 32;
}  // namespace directive

// Splits the program into blocks with their edges and pipe counts.
BlockList build_basic_blocks(const Program& program, HW hw);
// Decodes every instruction's operand regions, applying the directives.
void decode_block_operands(BlockList& blocks, const Program& program, HW hw);

}  // namespace ulmara::qez::zorn
