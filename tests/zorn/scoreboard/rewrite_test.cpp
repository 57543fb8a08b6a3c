// The rewrite after the analysis: inserted sync and mov instructions, the
// shift map, jump relocation and removed directives.
#include <gtest/gtest.h>

#include "gpu/zorn/scoreboard/annotations.hpp"
#include "gpu/zorn/scoreboard/rewrite.hpp"
#include "gpu/zorn/scoreboard_step.hpp"
#include "tests/zorn/scoreboard/program_builder.hpp"

namespace zorn = ulmara::qez::zorn;
using namespace sb_test;

namespace {

zorn::BlockList blocks_of(const zorn::Program& p) { return zorn::build_basic_blocks(p, 6); }

std::int32_t distance_of(const Words& w) { return static_cast<std::int32_t>(w[3]); }

TEST(ScoreboardRewrite, SyncFormat) {
  const Words masked = zorn::sync_instruction(6, {0, zorn::SwsbInfo(0x1100), 0, zorn::SyncKind::wait_destinations, 0x7FFF});
  EXPECT_EQ(masked[0], 0x80000001u | (0x09u << 8));  // all pipes, distance 1
  EXPECT_EQ(masked[1], 0x14200u);
  EXPECT_EQ(masked[2], 3u << 28);
  EXPECT_EQ(masked[3], 0x7FFFu);
  const Words plain = zorn::sync_instruction(6, {0, zorn::SwsbInfo(0x0082), 0, zorn::SyncKind::setting_only, 0});
  EXPECT_EQ(plain[0], 0x80000001u | (0x22u << 8));  // dst wait on token 2
  EXPECT_EQ(plain[1], 0x10000u);
  EXPECT_EQ(plain[3], 0u);
  // Ten-bit forms keep bits 16-17 when the field needs them.
  const Words wide = zorn::sync_instruction(7, {0, zorn::SwsbInfo(0x0283), 0, zorn::SyncKind::setting_only, 0});
  EXPECT_EQ((wide[0] >> 8) & 0x3FFu, 3u + (2u << 5) + 256u);
  EXPECT_EQ(zorn::sync_instruction(7, {0, zorn::SwsbInfo(0x0082), 0, zorn::SyncKind::setting_only, 0})[0],
            0x80000001u | (0x82u << 8));
}

TEST(ScoreboardRewrite, DummyMoveFormat) {
  const Words first = zorn::dummy_move_instruction(7, {0, zorn::src_wait(4), 0, 0, 1, 160});
  EXPECT_EQ(first[0], 0x80000061u | (0xA4u << 8));
  EXPECT_EQ(first[1], 0x14220u);
  EXPECT_EQ(first[2], 0u);
  const Words later = zorn::dummy_move_instruction(7, {0, zorn::SwsbInfo(), 0, 0x123, 0, 160});
  EXPECT_EQ(later[1], 0x10220u);
  EXPECT_EQ(later[2], ((0x123u << 8) & 0xFFFFu) | 4u);
}

// 0 mov, 1 jump +3 (to 4), 2 mov, 3 mov, 4 mov, 5 jump -3 (to 2)
std::vector<Words> jumpy() {
  return {mov(1, 2), jump(3), mov(3, 4), mov(5, 6), mov(7, 8), jump(-3)};
}

TEST(ScoreboardRewrite, ShiftMapAndRelocatedJumps) {
  const zorn::Program p = program_of(jumpy());
  zorn::BlockList blocks = blocks_of(p);
  ASSERT_EQ(blocks.size(), 3u);  // [0,2) [2,4) [4,6)
  EXPECT_EQ(blocks[2].successors.size(), 1u);  // falls off the end; jumps back to 2
}

TEST(ScoreboardRewrite, SyncInsideAJumpedRange) {
  const zorn::Program p = program_of(jumpy());
  zorn::BlockList blocks = blocks_of(p);
  // One sync in front of instruction 3, inside both jumps' ranges.
  zorn::BasicBlock& owner = blocks[1];
  ASSERT_EQ(owner.first, 2u);
  owner.sync_requests.push_back({3, zorn::SwsbInfo(0x0101), 0, zorn::SyncKind::setting_only, 0});
  const zorn::RewrittenCode out = zorn::rewrite_program(p, blocks, 6);
  // Instructions the rewrite added in front of each block's first
  // instruction and in front of the end of the code.
  const auto shift = [&out](std::uint32_t i) {
    return static_cast<std::int32_t>(out.positions.at(i)) - static_cast<std::int32_t>(i);
  };
  EXPECT_EQ(shift(0), 0);
  EXPECT_EQ(shift(2), 0);
  EXPECT_EQ(shift(4), 1);
  EXPECT_EQ(shift(6), 1);
  ASSERT_EQ(out.code.size(), 7u * 16);
  EXPECT_EQ(distance_of(words_at(out.code, 1)), 4 * 16);   // forward jump grows by 16
  EXPECT_EQ(words_at(out.code, 3)[0] & 0x7Fu, 1u);          // the sync
  EXPECT_EQ(distance_of(words_at(out.code, 6)), -4 * 16);  // backward jump 16 more negative
}

TEST(ScoreboardRewrite, JumpToAnInstructionWithASyncLandsOnTheSync) {
  const zorn::Program p = program_of(jumpy());
  zorn::BlockList blocks = blocks_of(p);
  blocks[1].sync_requests.push_back({4, zorn::SwsbInfo(0x0101), 0, zorn::SyncKind::setting_only, 0});
  const zorn::RewrittenCode out = zorn::rewrite_program(p, blocks, 6);
  // The sync is recorded by block 1, the jump at 1 targets 4: new index 4 holds the sync.
  EXPECT_EQ(distance_of(words_at(out.code, 1)), 3 * 16);
  EXPECT_EQ(words_at(out.code, 4)[0] & 0x7Fu, 1u);
  EXPECT_EQ(out.positions[4], 4u);
}

TEST(ScoreboardRewrite, DirectivesVanishAndShortenJumps) {
  const zorn::Program p = program_of({mov(1, 2), jump(3), directive(0), mov(3, 4), mov(5, 6)});
  zorn::BlockList blocks = blocks_of(p);
  const zorn::RewrittenCode out = zorn::rewrite_program(p, blocks, 6);
  ASSERT_EQ(out.code.size(), 4u * 16);
  EXPECT_EQ(distance_of(words_at(out.code, 1)), 2 * 16);
  for (std::size_t i = 0; i < 4; ++i) EXPECT_NE(words_at(out.code, i)[0] & 0x7Fu, 127u);
}

// A block records the waits still open at its end under its end index; for
// the last block that is the end of the code, where the syncs follow the
// last instruction.
TEST(ScoreboardRewrite, RequestsAtTheEndOfTheLastBlockFollowItsLastInstruction) {
  const zorn::Program p = program_of(jumpy());
  zorn::BlockList blocks = blocks_of(p);
  ASSERT_EQ(blocks.back().end, 6u);
  blocks.back().sync_requests.push_back({6, zorn::SwsbInfo(0x1102), 0, zorn::SyncKind::setting_only, 0});
  blocks.back().sync_requests.push_back({6, zorn::SwsbInfo(), 0, zorn::SyncKind::wait_destinations, 0x5});
  blocks.back().dummy_moves.push_back({6, zorn::SwsbInfo(), 0, 9, 0, 160});
  const zorn::RewrittenCode out = zorn::rewrite_program(p, blocks, 6);
  ASSERT_EQ(out.code.size(), 9u * 16);
  for (std::size_t i = 0; i < 6; ++i) EXPECT_EQ(words_at(out.code, i), jumpy()[i]) << i;
  EXPECT_EQ(words_at(out.code, 6), zorn::sync_instruction(6, blocks.back().sync_requests[0]));
  EXPECT_EQ(words_at(out.code, 7), zorn::sync_instruction(6, blocks.back().sync_requests[1]));
  EXPECT_EQ(words_at(out.code, 8), zorn::dummy_move_instruction(6, blocks.back().dummy_moves[0]));
  EXPECT_EQ(out.positions[6], 6u);  // the end of the input maps to the first of them
}

// An explicit instruction that reads a register written just before it, at
// the end of the program: the wait the analysis records for the block's end
// comes out as a sync after it.
TEST(ScoreboardStep, WaitOpenAtTheEndOfTheProgramBecomesATrailingSync) {
  const Words explicit_reader = alu(64, 12, 10, 7, int32_code, 0, false);
  const std::vector<std::uint8_t> code = bytes_of({add(10, 5, 6), explicit_reader});
  const zorn::ScoreboardResult r = zorn::run_scoreboard_analysis(code, {6, 16});
  ASSERT_EQ(r.code.size(), 3u * 16);
  EXPECT_EQ(words_at(r.code, 1), explicit_reader);
  const Words sync = words_at(r.code, 2);
  EXPECT_EQ(sync[0] & 0x7Fu, 1u);
  EXPECT_EQ(sync[2], 0u);                       // function 0: a setting only
  EXPECT_EQ((sync[0] >> 8) & 0xFFu, 0x19u);     // 0001_1001: integer pipe, distance 1
}

TEST(ScoreboardStep, FlushSyncMovesTheJumpAndTheLabelMap) {
  // 0 send (token 1), 1 jump +2 with bit 46 clear (flush), 2 mov, 3 mov.
  const std::vector<std::uint8_t> code =
      bytes_of({send(20, 1, 2, 1, 12, 0x41), jump(2, true, false, true), mov(3, 4), mov(5, 6)});
  const zorn::ScoreboardResult r = zorn::run_scoreboard_analysis(code, {6, 16});
  ASSERT_EQ(r.code.size(), 5u * 16);
  const Words sync = words_at(r.code, 1);
  EXPECT_EQ(sync[0], 0x80000001u | (0x09u << 8));
  EXPECT_EQ(sync[2], 3u << 28);
  EXPECT_EQ(sync[3], 0x7FFFu);
  const Words jmp = words_at(r.code, 2);
  EXPECT_EQ(jmp[0] & 0x7Fu, 0x20u);
  EXPECT_EQ(distance_of(jmp), 2 * 16);  // both ends moved by one
  EXPECT_EQ(r.relocate_offset(2 * 16), 3u * 16);
  EXPECT_EQ(r.relocate_offset(1 * 16), 1u * 16);  // lands on the sync in front of the jump
  for (std::size_t i = 0; i < 5; ++i) EXPECT_FALSE(has_marker(words_at(r.code, i))) << i;
}

}  // namespace
