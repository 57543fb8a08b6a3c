// The analysis passes with the propagation between them, on small programs
// built by hand: distances and pipes, tokens, waits that need a sync, the
// block-end flush, explicit fields, and propagation across blocks.
#include <gtest/gtest.h>

#include <stdexcept>

#include "gpu/zorn/scoreboard/analysis.hpp"
#include "gpu/zorn/scoreboard/propagation.hpp"
#include "tests/zorn/scoreboard/program_builder.hpp"

namespace zorn = ulmara::qez::zorn;
using namespace sb_test;

namespace {

struct Analysed {
  zorn::Program program;
  zorn::BlockList blocks;
  Words at(std::size_t i) const { return zorn::instruction_at(program, i); }
};

Analysed analyse(const std::vector<Words>& code, zorn::HW hw, std::int32_t tokens = 16) {
  Analysed a{program_of(code), {}};
  a.blocks = zorn::run_scoreboard_passes(a.program, {hw, tokens});
  return a;
}

// Unrelated integer instructions: r40 + k = r50 + k.
void pad(std::vector<Words>& code, int count, std::uint32_t type = int32_code) {
  for (int k = 0; k < count; ++k) code.push_back(alu(64, 40 + k, 50 + k, -1, type));
}

TEST(ScoreboardPasses, DorikDistanceHasNoPipe) {
  const Analysed a = analyse({add(10, 5, 6), add(11, 10, 7)}, 4);
  EXPECT_EQ(byte_field(a.at(0)), 0x00u);
  EXPECT_EQ(byte_field(a.at(1)), 0x01u);  // 0000_0001: distance 1, no pipe
  EXPECT_FALSE(has_marker(a.at(0)));
  EXPECT_FALSE(has_marker(a.at(1)));
}

TEST(ScoreboardPasses, TwoPipesGiveOneWaitOnAllPipesWithTheSmallerDistance) {
  std::vector<Words> code{add(10, 5, 6, float32_code), add(11, 5, 6)};
  pad(code, 2);
  code.push_back(add(12, 10, 11));  // float producer 1 back in its pipe, integer 3 back
  const Analysed a = analyse(code, 6);
  EXPECT_EQ(byte_field(a.at(4)), 0x09u);  // 0000_1001: all pipes, distance 1
}

TEST(ScoreboardPasses, SamePipeProducerNineBackGivesDistanceSevenWithoutPipe) {
  std::vector<Words> code{add(10, 5, 6)};
  pad(code, 8);
  code.push_back(add(11, 10, 7));
  const Analysed a = analyse(code, 6);
  EXPECT_EQ(byte_field(a.at(9)), 0x07u);
}

TEST(ScoreboardPasses, GulonNamesAnotherPipe) {
  const Analysed a = analyse({add(10, 5, 6, float32_code), add(11, 10, 7)}, 6);
  EXPECT_EQ(byte_field(a.at(1)), 0x11u);  // 0001_0001: float pipe, distance 1
  const Analysed l = analyse({add(10, 5, 6, int64_code), add(11, 10, 7)}, 6);
  EXPECT_EQ(byte_field(l.at(1)), 0x51u);  // 0101_0001: long pipe
}

TEST(ScoreboardPasses, HarixDistanceInTheTenBitField) {
  const Analysed a = analyse({add(10, 5, 6, float32_code), add(11, 10, 7)}, 7, 32);
  EXPECT_EQ(wide_field(a.at(1)), 1u + (2u << 3));  // float pipe, distance 1
}

TEST(ScoreboardPasses, TokenFromTheDestinationRegister) {
  const Analysed sixteen = analyse({send(24, 1, 2, 1)}, 6, 16);
  EXPECT_EQ(byte_field(sixteen.at(0)), 0x43u);  // set token 24 / 8 = 3
  const Analysed thirtytwo = analyse({send(24, 1, 2, 1)}, 7, 32);
  EXPECT_EQ(wide_field(thirtytwo.at(0)), 0x0C6u);  // set token 24 / 4 = 6
}

TEST(ScoreboardPasses, ReaderWaitsForTheTokenDestination) {
  const Analysed a = analyse({send(24, 1, 2, 1), add(30, 24, 5)}, 6, 16);
  EXPECT_EQ(byte_field(a.at(1)), 0x23u);  // dst wait on token 3
}

TEST(ScoreboardPasses, WriterOfASendSourceWaitsForItsReads) {
  const Analysed a = analyse({send(24, 1, 2, 1), add(2, 5, 6)}, 6, 16);
  EXPECT_EQ(byte_field(a.at(1)), 0x33u);  // src wait on token 3
}

TEST(ScoreboardPasses, TokensAreReusedWhenAllAreHeld) {
  // Sixteen loads, each into r0 + 8k so that every register-derived token
  // differs; the seventeenth into r200 maps to token 9, still held: the
  // highest-scoring token is the oldest producer's (latency 150 each: the
  // lowest snapshot wins), token 0.
  std::vector<Words> code;
  for (int k = 0; k < 16; ++k) code.push_back(send(8 * k, 1, 300, 1));
  code.push_back(send(200, 1, 300, 1));
  const Analysed a = analyse(code, 6, 16);
  for (int k = 0; k < 16; ++k) EXPECT_EQ(byte_field(a.at(k)) & 0x4Fu, 0x40u | static_cast<std::uint32_t>(k)) << k;
  EXPECT_EQ(byte_field(a.at(16)), 0x40u);
}

TEST(ScoreboardPasses, TwoDestinationTokensGiveAFunctionZeroSync) {
  const Analysed a = analyse({send(20, 1, 2, 1, 12, 0x42), send(21, 1, 3, 1, 12, 0x45), add(30, 20, 21)}, 6);
  EXPECT_EQ(byte_field(a.at(2)), 0x25u);  // dst wait on the higher token, 5
  ASSERT_EQ(a.blocks[0].sync_requests.size(), 1u);
  const zorn::SyncRequest& r = a.blocks[0].sync_requests[0];
  EXPECT_EQ(r.instruction, 2u);
  EXPECT_EQ(r.swsb.bits, 0x0082u);  // dst wait on token 2
  EXPECT_EQ(r.kind, zorn::SyncKind::setting_only);
}

TEST(ScoreboardPasses, BlockEndFlushWaitsForEveryToken) {
  for (const zorn::HW hw : {4, 6}) {
    const Analysed a = analyse({send(20, 1, 2, 1, 12, 0x41), jump(1, true, false, true), add(30, 5, 6)}, hw);
    EXPECT_EQ(byte_field(a.at(1)), 0x2Fu) << hw;  // dst wait on token 15
    ASSERT_EQ(a.blocks[0].sync_requests.size(), 1u);
    const zorn::SyncRequest& r = a.blocks[0].sync_requests[0];
    EXPECT_EQ(r.instruction, 1u);
    EXPECT_EQ(r.kind, zorn::SyncKind::wait_destinations);
    EXPECT_EQ(r.token_mask, 0x7FFFu);
    EXPECT_EQ(r.swsb.bits, hw == 4 ? 0x0100u : 0x1100u);
  }
}

TEST(ScoreboardPasses, ExplicitFieldIsKept) {
  Words w = add(11, 10, 7);
  w[0] = (w[0] & ~0xFF80u) | (0x13u << 8);  // no marker, field 0001_0011
  const Analysed a = analyse({add(10, 5, 6), w}, 6);
  EXPECT_EQ(a.at(1), w);
}

TEST(ScoreboardPasses, NoMarkerAnywhereLeavesTheProgramForTheCaller) {
  // The step decides on markers; the passes themselves write only marked ones.
  Words w = add(11, 10, 7);
  w[0] &= ~marker;
  const Analysed a = analyse({w}, 6);
  EXPECT_EQ(a.at(0), w);
}

TEST(ScoreboardPasses, DependencyReachesTheNextBlock) {
  // Block 0 writes r10 (float) and ends in a jump that falls through; block 1
  // reads r10: one float instruction and the jump lie between.
  const Analysed a = analyse({add(10, 5, 6, float32_code), jump(1), add(11, 10, 7)}, 6);
  ASSERT_EQ(a.blocks.size(), 2u);
  EXPECT_EQ(byte_field(a.at(2)), 0x11u);  // float pipe, distance 1
}

TEST(ScoreboardPasses, TokenWaitAcrossALoop) {
  // 0: load into r24 (token 3); 1: add r30 = r24 (block 1, loop head);
  // 2: jump back to 1. The reader waits on token 3 on entry from block 0.
  const Analysed a = analyse({send(24, 1, 2, 1), add(30, 24, 5), jump(-1)}, 6);
  ASSERT_EQ(a.blocks.size(), 2u);
  EXPECT_EQ(a.blocks[1].predecessors.size(), 2u);
  EXPECT_EQ(byte_field(a.at(0)), 0x43u);
  EXPECT_EQ(byte_field(a.at(1)), 0x23u);
}

// --- propagate_dependencies on hand-made blocks ----------------------------------

zorn::Dependency float_write(std::uint32_t reg, std::int32_t float_counter) {
  zorn::Dependency d;
  d.pipe = zorn::pipe::float_pipe;
  d.flags = zorn::dependency_flag::write | zorn::dependency_flag::live;
  d.token = zorn::no_token;
  d.counters[1] = float_counter;
  zorn::dependency_region_from_range(d.region, 6, zorn::pack_range(reg, 1));
  return d;
}

zorn::BlockList two_blocks(std::uint32_t float_instructions) {
  zorn::BlockList blocks(2);
  blocks[0].index = 0;
  blocks[1].index = 1;
  blocks[0].pipe_counts[1] = float_instructions;
  blocks[0].successors.push_back(&blocks[1]);
  blocks[1].predecessors.push_back(&blocks[0]);
  return blocks;
}

std::size_t live_in(const zorn::DependencyTable& t) { return t.live_count(); }

TEST(Propagation, FloatDependencyAgesOutAtMinusEleven) {
  zorn::BlockList kept = two_blocks(10);
  zorn::dependency_table_insert_live(kept[0].out, float_write(10, 0), true, true);
  zorn::propagate_dependencies(kept);
  EXPECT_EQ(live_in(kept[1].out), 1u);  // rebased to -10
  EXPECT_EQ(kept[1].out.records[0].counters[1], -10);
  EXPECT_EQ(live_in(kept[1].in), 1u);

  zorn::BlockList dropped = two_blocks(11);
  zorn::dependency_table_insert_live(dropped[0].out, float_write(10, 0), true, true);
  zorn::propagate_dependencies(dropped);
  EXPECT_EQ(live_in(dropped[1].out), 0u);
  EXPECT_EQ(live_in(dropped[1].in), 0u);
}

TEST(Propagation, CoveredByTheSuccessorsResolvedTableStops) {
  zorn::BlockList blocks = two_blocks(1);
  zorn::dependency_table_insert_live(blocks[0].out, float_write(10, 0), true, true);
  zorn::Dependency reader = float_write(10, 0);
  reader.pipe = zorn::pipe::integer;
  reader.flags = zorn::dependency_flag::live;
  zorn::dependency_table_insert(blocks[1].resolved, reader, true, true);
  zorn::propagate_dependencies(blocks);
  EXPECT_EQ(live_in(blocks[1].out), 0u);
}

TEST(Propagation, WholeFileResolvedEntryStops) {
  zorn::BlockList blocks = two_blocks(1);
  zorn::dependency_table_insert_live(blocks[0].out, float_write(10, 0), true, true);
  zorn::Dependency reader = float_write(0, 0);
  reader.pipe = zorn::pipe::integer;
  reader.flags = zorn::dependency_flag::live;
  reader.region = zorn::whole_file_region(6);
  zorn::dependency_table_insert(blocks[1].resolved, reader, true, true);
  zorn::propagate_dependencies(blocks);
  EXPECT_EQ(live_in(blocks[1].out), 0u);
}

TEST(Propagation, SelfLoopConvergesAndFillsItsInTable) {
  zorn::BlockList blocks(1);
  blocks[0].pipe_counts[1] = 1;
  blocks[0].successors.push_back(&blocks[0]);
  blocks[0].predecessors.push_back(&blocks[0]);
  zorn::dependency_table_insert_live(blocks[0].out, float_write(10, 0), true, true);
  zorn::propagate_dependencies(blocks);
  EXPECT_EQ(live_in(blocks[0].out), 1u);
  EXPECT_EQ(live_in(blocks[0].in), 1u);
}

TEST(Propagation, NoBlocksFails) {
  zorn::BlockList none;
  try {
    zorn::propagate_dependencies(none);
    FAIL();
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(), "zorn internal error: propagation failed.");
  }
}

TEST(Propagation, LoopOfThreeBlocksConverges) {
  zorn::BlockList blocks(3);
  auto edge = [&](int from, int to) {
    blocks[from].successors.push_back(&blocks[to]);
    blocks[to].predecessors.push_back(&blocks[from]);
  };
  edge(0, 1);
  edge(1, 2);
  edge(2, 1);
  for (auto& b : blocks) b.pipe_counts[1] = 1;
  zorn::dependency_table_insert_live(blocks[0].out, float_write(10, 0), true, true);
  zorn::propagate_dependencies(blocks);
  EXPECT_EQ(live_in(blocks[1].out), 1u);
  EXPECT_EQ(live_in(blocks[2].out), 1u);
  EXPECT_GE(live_in(blocks[1].in), 1u);
}

}  // namespace
