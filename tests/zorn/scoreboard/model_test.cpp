// The scoreboard instruction model: register ranges, operand regions, block
// splitting and directives.
#include <gtest/gtest.h>

#include "gpu/zorn/exceptions.hpp"
#include "gpu/zorn/scoreboard/basic_blocks.hpp"
#include "tests/zorn/scoreboard/program_builder.hpp"

namespace zorn = ulmara::qez::zorn;
using namespace sb_test;

namespace {

TEST(ScoreboardModel, GrfRanges) {
  const zorn::GRFRange empty = zorn::make_grf_range(10, 9);
  EXPECT_EQ(empty.base, 10u);
  EXPECT_EQ(empty.count, 0u);
  EXPECT_EQ(zorn::make_grf_range(10, 12).count, 3u);
  try {
    zorn::make_grf_range(10, 8);
    FAIL();
  } catch (const zorn::invalid_range_exception& e) {
    EXPECT_STREQ(e.what(), "Invalid register range");
  }
}

TEST(ScoreboardModel, RegionFromRange) {
  zorn::DependencyRegion r;
  zorn::dependency_region_from_range(r, 4, zorn::pack_range(40, 32));
  EXPECT_EQ(r.first_register, 40u);
  EXPECT_EQ(r.register_count, 32u);
  EXPECT_FALSE(r.is_whole_file());
  EXPECT_EQ(r.masks[31], 0xFFFFFFFFu);
  try {
    zorn::dependency_region_from_range(r, 4, zorn::pack_range(40, 33));
    FAIL();
  } catch (const zorn::invalid_region_exception& e) {
    EXPECT_STREQ(e.what(), "Unsupported register region");
  }
}

TEST(ScoreboardModel, DefaultAndEmptyRegions) {
  const zorn::DependencyRegion whole;
  EXPECT_TRUE(whole.is_whole_file());
  EXPECT_EQ(whole.register_count, 0u);
  EXPECT_FALSE(whole.is_empty());
  EXPECT_TRUE(zorn::empty_region(7).is_empty());
  EXPECT_EQ(zorn::empty_region(7).hw, 7);
}

// r2.1 as 16-bit elements, region 8/8/1, eight channels.
constexpr std::uint64_t word_r2_1_uw = 2 | (1u << 10) | (std::uint64_t{0x82} << 23) |
                                       (std::uint64_t{8} << 32) | (std::uint64_t{8} << 39) | (std::uint64_t{1} << 44);

TEST(ScoreboardModel, SixteenBitRegionBeforeHarix) {
  const zorn::DependencyRegion r(4, 8, word_r2_1_uw);
  EXPECT_EQ(r.first_register, 2u);
  EXPECT_EQ(r.register_count, 1u);
  EXPECT_EQ(r.masks[0], 0x3FFFCu);  // bytes 2 to 17
  EXPECT_FALSE(r.is_partial());
}

TEST(ScoreboardModel, SixteenBitRegionFromHarixInWords) {
  const zorn::DependencyRegion r(7, 8, word_r2_1_uw);
  EXPECT_EQ(r.masks[0], 0x1FEu);  // 2-byte words 1 to 8
  EXPECT_FALSE(r.is_partial());
  // Bytes with stride 2 cover only half of each word.
  const std::uint64_t bytes = 2 | (std::uint64_t{0x64} << 23) | (std::uint64_t{16} << 32) | (std::uint64_t{8} << 39) |
                              (std::uint64_t{2} << 44);
  EXPECT_TRUE(zorn::DependencyRegion(7, 8, bytes).is_partial());
}

TEST(ScoreboardModel, SendWithResponseLength31CoversThirtyTwoRegisters) {
  Words w = send(10, 31, 2, 1);
  zorn::DependencyRegion r = zorn::empty_region(6);
  ASSERT_TRUE(zorn::decode_instruction_dependencies(w, r, zorn::destination_number));
  EXPECT_EQ(r.first_register, 10u);
  EXPECT_EQ(r.register_count, 32u);
  zorn::DependencyRegion s = zorn::empty_region(6);
  ASSERT_TRUE(zorn::decode_instruction_dependencies(w, s, 0));
  EXPECT_EQ(s.first_register, 2u);
  EXPECT_EQ(s.register_count, 1u);
}

TEST(ScoreboardModel, GeneralFormOperands) {
  const Words w = add(30, 5, 6);
  zorn::DependencyRegion d = zorn::empty_region(6), a = d, b = d, c = d;
  ASSERT_TRUE(zorn::decode_instruction_dependencies(w, d, -1));
  ASSERT_TRUE(zorn::decode_instruction_dependencies(w, a, 0));
  ASSERT_TRUE(zorn::decode_instruction_dependencies(w, b, 1));
  EXPECT_FALSE(zorn::decode_instruction_dependencies(w, c, 2));
  EXPECT_EQ(d.first_register, 30u);
  EXPECT_EQ(d.masks[0], 0xFu);  // one 32-bit element
  EXPECT_EQ(a.first_register, 5u);
  EXPECT_EQ(b.first_register, 6u);
}

TEST(ScoreboardModel, OpcodeNinetyFiveDoublesItsRegion) {
  Words w = mov(30, 5);
  w[0] = (w[0] & ~0x7Fu) | 95;
  zorn::DependencyRegion d = zorn::empty_region(6);
  ASSERT_TRUE(zorn::decode_instruction_dependencies(w, d, -1));
  EXPECT_EQ(d.register_count, 2u);
  EXPECT_EQ(d.masks[1], d.masks[0]);
}

TEST(ScoreboardModel, Pipes) {
  EXPECT_EQ(zorn::pipe_of(4, add(1, 2, 3), true), zorn::pipe::single);
  EXPECT_EQ(zorn::pipe_of(6, add(1, 2, 3), true), zorn::pipe::integer);
  EXPECT_EQ(zorn::pipe_of(6, add(1, 2, 3, float32_code), true), zorn::pipe::float_pipe);
  EXPECT_EQ(zorn::pipe_of(6, add(1, 2, 3, int64_code), true), zorn::pipe::long_pipe);
  EXPECT_EQ(zorn::pipe_of(6, send(1, 1, 2, 1, 12), true), 0x10Cu);
  EXPECT_EQ(zorn::pipe_of(6, send(1, 1, 2, 1, 12), false), 0u);
  EXPECT_EQ(zorn::pipe_of(6, jump(2), true), 0u);
}

TEST(ScoreboardModel, ThreadEndInTheMiddleStartsABlockWithoutSuccessor) {
  const zorn::Program p = program_of({mov(1, 2), thread_end(), mov(3, 4)});
  const zorn::BlockList blocks = zorn::build_basic_blocks(p, 6);
  ASSERT_EQ(blocks.size(), 2u);
  EXPECT_EQ(blocks[0].first, 0u);
  EXPECT_EQ(blocks[0].end, 2u);
  EXPECT_TRUE(blocks[0].successors.empty());
  EXPECT_TRUE(blocks[1].predecessors.empty());
}

TEST(ScoreboardModel, JumpsSplitBlocksAndLinkEdges) {
  // 0: mov, 1: jump +2 (to 3), 2: mov, 3: mov, 4: jump -4 (to 0, unconditional)
  const zorn::Program p = program_of({mov(1, 2), jump(2), mov(3, 4), mov(5, 6), jump(-4, false)});
  const zorn::BlockList blocks = zorn::build_basic_blocks(p, 6);
  ASSERT_EQ(blocks.size(), 3u);
  EXPECT_EQ(blocks[1].first, 2u);
  EXPECT_EQ(blocks[2].first, 3u);
  ASSERT_EQ(blocks[0].successors.size(), 2u);
  EXPECT_EQ(blocks[0].successors[0], &blocks[1]);  // fall-through first
  EXPECT_EQ(blocks[0].successors[1], &blocks[2]);
  ASSERT_EQ(blocks[2].successors.size(), 1u);  // unconditional: jump only
  EXPECT_EQ(blocks[2].successors[0], &blocks[0]);
  EXPECT_EQ(blocks[0].predecessors.size(), 1u);
  EXPECT_EQ(blocks[2].pipe_counts[6], 2u);
  EXPECT_EQ(blocks[2].pipe_counts[2], 1u);  // one integer instruction
}

TEST(ScoreboardModel, JumpOutsideTheStreamAddsNoBlock) {
  const zorn::Program p = program_of({mov(1, 2), jump(40, false), mov(3, 4)});
  const zorn::BlockList blocks = zorn::build_basic_blocks(p, 6);
  ASSERT_EQ(blocks.size(), 2u);
  EXPECT_TRUE(blocks[0].successors.empty());
}

TEST(ScoreboardModel, Directives) {
  const zorn::Program p = program_of({directive(0), mov(1, 2), directive(8, 20, 23), mov(3, 4), directive(32)});
  zorn::BlockList blocks = zorn::build_basic_blocks(p, 6);
  zorn::decode_block_operands(blocks, p, 6);
  EXPECT_EQ(blocks[0].directive_count, 3u);
  EXPECT_TRUE(blocks[0].regions[1].destination.is_empty());  // skipped by directive 0
  EXPECT_EQ(blocks[0].regions[1].sources[0].first_register, 2u);
  EXPECT_EQ(blocks[0].regions[3].destination.first_register, 20u);  // replaced by directive 8
  EXPECT_EQ(blocks[0].regions[3].destination.register_count, 4u);
  EXPECT_EQ(blocks[0].workaround, 0u);  // directive 32
}

TEST(ScoreboardModel, SecondPendingDirective8Throws) {
  const zorn::Program p = program_of({directive(8, 20, 23), directive(8, 30, 31), mov(3, 4)});
  zorn::BlockList blocks = zorn::build_basic_blocks(p, 6);
  EXPECT_THROW(zorn::decode_block_operands(blocks, p, 6), zorn::invalid_directive_exception);
}

TEST(ScoreboardModel, MessageResponseLengths) {
  // Shared function 3: one register for the fence form.
  EXPECT_EQ(zorn::message_response_grfs(8, 6, 8, 3), 1);
  EXPECT_EQ(zorn::message_response_grfs(0, 6, 8, 3), -1);
  EXPECT_EQ(zorn::message_response_grfs(0, 6, 8, 12), -1);
  // Operation 31 answers one register; 8 gives the factor (exec 16 -> 2).
  EXPECT_EQ(zorn::message_response_grfs(31, 6, 16, 15), 1);
  EXPECT_EQ(zorn::message_response_grfs(8, 6, 16, 15), 2);
  EXPECT_EQ(zorn::message_response_grfs(8 | (3u << 11), 6, 16, 15), 4);  // 8-byte data doubles
}

}  // namespace
