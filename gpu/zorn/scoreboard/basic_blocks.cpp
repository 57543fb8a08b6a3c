// Block splitting and operand decoding.
#include "gpu/zorn/scoreboard/basic_blocks.hpp"

#include <algorithm>
#include <set>

#include "gpu/zorn/exceptions.hpp"

namespace ulmara::qez::zorn {

std::uint32_t terminator_kind(const InstructionWords& w) {
  const std::uint32_t o = opcode_of(w);
  if ((o == opcode::send || o == opcode::sendc) && dword_bits(w, 1, 2, 2) != 0) return terminator::thread_end;
  if ((w[0] & 0x70u) != 0x20u) return terminator::falls_through;
  const bool jump_form = (instruction_byte(w, 5) & 0x40u) != 0;
  std::uint32_t kind = terminator::falls_through;
  switch (o) {
    case 0x20: case 0x21: case 0x25: case 0x27: case 0x2B: case 0x2C: case 0x2D: case 0x2F:
      kind = jump_form ? 3u : 8u;
      break;
    case 0x22: case 0x23: case 0x24: case 0x28: case 0x29: case 0x2A: case 0x2E:
      kind = jump_form ? 7u : 8u;
      break;
    default: break;
  }
  if ((w[0] & 0x8F00002Fu) == 0x80000020u) kind &= terminator::jumps_dword3 | terminator::ends_block;
  return kind;
}

std::int64_t jump_target(std::size_t index, std::uint32_t dword_value) {
  return static_cast<std::int64_t>(index) + (static_cast<std::int32_t>(dword_value) >> 4);
}

namespace {

bool inside(std::int64_t target, std::size_t n) { return target >= 0 && target < static_cast<std::int64_t>(n); }

std::set<std::int64_t> block_starts(const Program& program) {
  const std::size_t n = program_instruction_count(program);
  std::set<std::int64_t> starts{0};
  for (std::size_t i = 0; i < n; ++i) {
    const InstructionWords w = instruction_at(program, i);
    const std::uint32_t kind = terminator_kind(w);
    if (kind == terminator::falls_through) continue;
    starts.insert(static_cast<std::int64_t>(i) + 1);
    if (kind & terminator::jumps_dword3) starts.insert(jump_target(i, w[3]));
    if (kind & terminator::jumps_dword2) starts.insert(jump_target(i, w[2]));
  }
  return starts;
}

std::size_t block_of(const BlockList& blocks, std::int64_t instruction) {
  const auto it = std::upper_bound(blocks.begin(), blocks.end(), instruction,
                                   [](std::int64_t i, const BasicBlock& b) { return i < static_cast<std::int64_t>(b.first); });
  return static_cast<std::size_t>(it - blocks.begin()) - 1;
}

void link_edge(BlockList& blocks, BasicBlock& from, std::int64_t target, std::size_t n) {
  if (!inside(target, n)) return;
  BasicBlock& to = blocks[block_of(blocks, target)];
  from.successors.push_back(&to);
  to.predecessors.push_back(&from);
}

void link_successors(BlockList& blocks, const Program& program) {
  const std::size_t n = program_instruction_count(program);
  for (BasicBlock& b : blocks) {
    if (b.size() == 0) continue;
    const std::size_t last = b.end - 1;
    const InstructionWords w = instruction_at(program, last);
    const std::uint32_t kind = terminator_kind(w);
    if (kind == terminator::thread_end) continue;
    if (kind & terminator::falls_through) link_edge(blocks, b, static_cast<std::int64_t>(b.end), n);
    if (kind & terminator::jumps_dword3) link_edge(blocks, b, jump_target(last, w[3]), n);
    if (kind & terminator::jumps_dword2) link_edge(blocks, b, jump_target(last, w[2]), n);
  }
}

void count_pipes(BasicBlock& b, const Program& program, HW hw) {
  for (std::uint32_t i = b.first; i < b.end; ++i) {
    const InstructionWords w = instruction_at(program, i);
    ++b.pipe_counts[all_instructions_counter];
    const PipeCode p = pipe_of(hw, w, true);
    if (is_in_order(p)) {
      const std::uint32_t bits = (p & 0xFFu) | 1u;
      for (std::uint32_t k = 0; k < in_order_pipe_indexes; ++k)
        if (bits & (1u << k)) ++b.pipe_counts[k];
    }
    if (opcode_of(w) == opcode::directive) ++b.directive_count;
  }
}

}  // namespace

BlockList build_basic_blocks(const Program& program, HW hw) {
  const std::size_t n = program_instruction_count(program);
  BlockList blocks;
  if (n == 0) return blocks;
  std::vector<std::uint32_t> starts;
  for (std::int64_t s : block_starts(program))
    if (inside(s, n)) starts.push_back(static_cast<std::uint32_t>(s));
  blocks.resize(starts.size());
  for (std::size_t k = 0; k < starts.size(); ++k) {
    BasicBlock& b = blocks[k];
    b.index = static_cast<std::uint32_t>(k);
    b.first = starts[k];
    b.end = k + 1 < starts.size() ? starts[k + 1] : static_cast<std::uint32_t>(n);
    b.workaround = 1;
  }
  link_successors(blocks, program);
  for (BasicBlock& b : blocks) {
    count_pipes(b, program, hw);
    b.out.records.reserve(4 * b.size());
    b.resolved.records.reserve(4 * b.size());
    b.regions.resize(b.size());
  }
  return blocks;
}

// ---------------------------------------------------------------------------
// Operand decoding.

namespace {

using Decoder = bool (*)(const InstructionWords&, DependencyRegion&, int);

struct PendingDirectives {
  std::array<bool, 4> skip{};  // destination, sources 0-2
  DependencyRegion replacement = empty_region(0);

  bool replacement_pending() const { return !replacement.is_empty(); }
};

DependencyRegion decode_operand(Decoder decode, const InstructionWords& w, HW hw, int operand) {
  DependencyRegion region = empty_region(hw);
  if (!decode(w, region, operand)) return empty_region(hw);
  return region;
}

void decode_instruction(Decoder decode, const InstructionWords& w, HW hw, InstructionRegions& regions,
                        PendingDirectives& pending) {
  for (int operand = destination_number; operand <= 2; ++operand) {
    const bool skipped = pending.skip[static_cast<std::size_t>(operand + 1)];
    regions.operand(operand) = skipped ? empty_region(hw) : decode_operand(decode, w, hw, operand);
  }
  if (pending.replacement_pending()) {
    regions.destination = pending.replacement;
    pending.replacement = empty_region(hw);
  }
  pending.skip.fill(false);
}

void apply_directive(Decoder decode, const InstructionWords& w, HW hw, InstructionRegions& regions,
                     PendingDirectives& pending, BlockList& blocks) {
  const std::uint32_t code = decode_operand(decode, w, hw, destination_number).first_register;
  switch (code) {
    case directive::skip_destination:
    case directive::skip_source0:
    case directive::skip_source1:
    case directive::skip_source2: pending.skip[code] = true; break;
    case directive::replace_destination:
      if (pending.replacement_pending()) throw invalid_directive_exception();
      pending.replacement = decode_operand(decode, w, hw, 0);
      break;
    case directive::wait_for_range: regions.sources[0] = decode_operand(decode, w, hw, 0); break;
    case directive::disable_workaround:
      for (BasicBlock& b : blocks) b.workaround = 0;
      break;
    default: break;
  }
}

}  // namespace

void decode_block_operands(BlockList& blocks, const Program& program, HW hw) {
  const Decoder decode = hw >= hw::harix ? decode_instruction_dependencies_hw7 : decode_instruction_dependencies;
  for (BasicBlock& b : blocks) {
    PendingDirectives pending;
    pending.replacement.hw = hw;
    for (std::uint32_t i = b.first; i < b.end; ++i) {
      const InstructionWords w = instruction_at(program, i);
      InstructionRegions& regions = b.regions_of(i);
      if (opcode_of(w) == opcode::directive) apply_directive(decode, w, hw, regions, pending, blocks);
      else decode_instruction(decode, w, hw, regions, pending);
    }
  }
}

}  // namespace ulmara::qez::zorn
