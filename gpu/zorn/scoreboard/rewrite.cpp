// The scoreboard rewrite.
#include "gpu/zorn/scoreboard/rewrite.hpp"

#include <algorithm>

#include "gpu/zorn/scoreboard/annotations.hpp"

namespace ulmara::qez::zorn {

namespace {

constexpr std::uint32_t sync_dword0 = 0x80000001u;
constexpr std::uint32_t sync_dword1_with_mask = 0x14200u;
constexpr std::uint32_t sync_dword1_without_mask = 0x10000u;
constexpr std::uint32_t mov_dword0 = 0x80000061u;
constexpr std::uint32_t mov_dword1_first = 0x14220u;
constexpr std::uint32_t mov_dword1_register = 0x10220u;

// The scoreboard field of an inserted instruction in bits 8-15 (8-bit form)
// or 8-17 (10-bit form). The 10-bit field keeps its top bits: without them a
// wait with both a distance and a token would read back as another wait.
std::uint32_t inserted_field(HW hw, SwsbInfo swsb, std::uint32_t o) {
  const FieldWidth width = field_width(hw);
  const std::uint32_t mask = width == FieldWidth::byte8 ? 0xFF00u : 0x3FF00u;
  return (encode_swsb_field(width, swsb, o) << 8) & mask;
}

template <class Request>
std::vector<Request> sorted_requests(const BlockList& blocks, std::vector<Request> BasicBlock::*list) {
  std::vector<Request> all;
  for (const BasicBlock& b : blocks) all.insert(all.end(), (b.*list).begin(), (b.*list).end());
  std::stable_sort(all.begin(), all.end(), [](const Request& a, const Request& b) {
    return static_cast<std::int32_t>(a.instruction) < static_cast<std::int32_t>(b.instruction);
  });
  return all;
}

void append(std::vector<std::uint8_t>& code, const InstructionWords& w) {
  for (std::uint32_t d : w)
    for (std::uint32_t b = 0; b < 4; ++b) code.push_back(static_cast<std::uint8_t>(d >> (8 * b)));
}

// New index of the first item emitted for every input instruction and for
// the end of the code (where the requests at the last block's end go).
std::vector<std::uint32_t> new_positions(const Program& program, const std::vector<SyncRequest>& syncs,
                                         const std::vector<DummyMoveRequest>& moves) {
  const std::size_t n = program_instruction_count(program);
  std::vector<std::uint32_t> inserted(n + 1, 0);
  for (const SyncRequest& r : syncs)
    if (r.instruction <= n) ++inserted[r.instruction];
  for (const DummyMoveRequest& r : moves)
    if (r.instruction <= n) ++inserted[r.instruction];
  std::vector<std::uint32_t> positions(n + 1, 0);
  std::uint32_t at = 0;
  for (std::size_t i = 0; i < n; ++i) {
    positions[i] = at;
    at += inserted[i] + (opcode_of(instruction_at(program, i)) != opcode::directive ? 1 : 0);
  }
  positions[n] = at;
  return positions;
}

void relocate_dword(InstructionWords& w, std::uint32_t dword, std::size_t jump, std::uint32_t own_position,
                    const std::vector<std::uint32_t>& positions) {
  const std::int64_t target = jump_target(jump, w[dword]);
  if (target < 0 || target >= static_cast<std::int64_t>(positions.size())) return;  // outside the code
  const std::int64_t moved = (static_cast<std::int64_t>(positions[static_cast<std::size_t>(target)]) - target) -
                             (static_cast<std::int64_t>(own_position) - static_cast<std::int64_t>(jump));
  w[dword] = static_cast<std::uint32_t>(static_cast<std::int64_t>(static_cast<std::int32_t>(w[dword])) + moved * 16);
}

// Jumps keep their distance to the target's first emitted instruction.
void relocate_jumps(Program& program, const BlockList& blocks, const std::vector<std::uint32_t>& positions) {
  for (const BasicBlock& b : blocks) {
    if (b.size() == 0) continue;
    const std::uint32_t last = b.end - 1;
    InstructionWords w = instruction_at(program, last);
    if (!is_branch(opcode_of(w))) continue;
    const std::uint32_t kind = terminator_kind(w);
    const std::uint32_t own = positions[last + 1] - 1;  // the jump follows its own insertions
    const InstructionWords original = w;
    if (kind & terminator::jumps_dword3) relocate_dword(w, 3, last, own, positions);
    if (kind & terminator::jumps_dword2) {
      InstructionWords from_original = original;
      relocate_dword(from_original, 2, last, own, positions);
      w[2] = from_original[2];
    }
    store_instruction(program, last, w);
  }
}

}  // namespace

InstructionWords sync_instruction(HW hw, const SyncRequest& r) {
  const auto kind = static_cast<std::uint32_t>(r.kind) & 0xFu;
  return {sync_dword0 | inserted_field(hw, r.swsb, opcode::sync),
          r.token_mask != 0 ? sync_dword1_with_mask : sync_dword1_without_mask, kind << 28, r.token_mask};
}

InstructionWords dummy_move_instruction(HW hw, const DummyMoveRequest& r) {
  const bool first = r.first_of_series != 0;
  return {mov_dword0 | inserted_field(hw, r.swsb, opcode::mov), first ? mov_dword1_first : mov_dword1_register,
          first ? 0u : (((std::uint32_t{r.source_register} << 8) & 0xFFFFu) | 4u), 0};
}

RewrittenCode rewrite_program(Program program, const BlockList& blocks, HW hw) {
  const std::vector<SyncRequest> syncs = sorted_requests(blocks, &BasicBlock::sync_requests);
  const std::vector<DummyMoveRequest> moves = sorted_requests(blocks, &BasicBlock::dummy_moves);
  const std::size_t n = program_instruction_count(program);

  RewrittenCode out;
  out.positions = new_positions(program, syncs, moves);
  relocate_jumps(program, blocks, out.positions);

  out.code.reserve((syncs.size() + moves.size() + n) * instruction_bytes);
  auto next_sync = syncs.begin();
  auto next_move = moves.begin();
  // The inserted instructions that go in front of input position `i`.
  const auto emit_requests = [&](std::uint32_t i) {
    for (; next_sync != syncs.end() && static_cast<std::int32_t>(next_sync->instruction) <= static_cast<std::int32_t>(i); ++next_sync)
      if (next_sync->instruction == i) append(out.code, sync_instruction(hw, *next_sync));
    for (; next_move != moves.end() && static_cast<std::int32_t>(next_move->instruction) <= static_cast<std::int32_t>(i); ++next_move)
      if (next_move->instruction == i) append(out.code, dummy_move_instruction(hw, *next_move));
  };
  for (std::uint32_t i = 0; i < n; ++i) {
    const InstructionWords w = instruction_at(program, i);
    const bool directive = opcode_of(w) == opcode::directive;
    emit_requests(i);
    if (!directive) append(out.code, w);
  }
  // Requests at the end of the last block follow its last instruction.
  emit_requests(static_cast<std::uint32_t>(n));
  out.code.shrink_to_fit();
  return out;
}

}  // namespace ulmara::qez::zorn
