// Small crafted programs for the corners of the scoreboard analysis:
// directives 16 and 17, explicit sync instructions, opcode 95, empty
// instructions, instruction groups, the ARF rules, the Harix write-after-read
// workaround and its dummy moves, the pass-1 table of waited positions, and
// the bounds of the register-region model (strides beyond a row, rows beyond
// the modelled registers).
#include <gtest/gtest.h>

#include <algorithm>

#include "gpu/zorn/scoreboard/analysis.hpp"
#include "gpu/zorn/scoreboard/propagation.hpp"
#include "tests/zorn/scoreboard/program_builder.hpp"

namespace zorn = ulmara::qez::zorn;
using namespace sb_test;

namespace {

zorn::Program analysed(const std::vector<Words>& code, zorn::HW hw = 6) {
  zorn::Program program = program_of(code);
  zorn::run_scoreboard_passes(program, {hw, 16});
  return program;
}

std::uint32_t field_at(const zorn::Program& p, std::size_t i) { return byte_field(zorn::instruction_at(p, i)); }

// The token a send was given: the low bits of its token-set field.
std::uint32_t token_of(const zorn::Program& p, std::size_t i) { return field_at(p, i) & 0x0Fu; }

// Gulon byte form of a wait for a token's destination: 0x20 + token.
constexpr std::uint32_t dst_wait(std::uint32_t token) { return 0x20u + token; }

Words sync_instruction(std::uint32_t function) {
  Words w{};
  w[0] = zorn::opcode::sync;
  w[2] = function << 28;
  return w;
}

// Directive 17 naming the instruction `distance` instructions away.
Words wait_for_token_of(std::int32_t distance) {
  Words w = directive(zorn::directive::wait_for_token_of);
  w[1] |= 1u << 14;  // bit 46: the target is in dword 3
  w[3] = static_cast<std::uint32_t>(distance * 16);
  return w;
}

// ---- directives ----

TEST(CraftedPrograms, DirectiveSixteenMakesTheNextInstructionWaitForTheRange) {
  const zorn::Program plain = analysed({send(20, 1, 2, 1), add(30, 5, 6)});
  EXPECT_EQ(field_at(plain, 1), 0u);
  const zorn::Program waiting =
      analysed({send(20, 1, 2, 1), directive(zorn::directive::wait_for_range, 20, 20), add(30, 5, 6)});
  EXPECT_EQ(field_at(waiting, 2), dst_wait(token_of(waiting, 0)));
}

TEST(CraftedPrograms, DirectiveSeventeenMakesTheNextInstructionWaitForTheNamedToken) {
  const zorn::Program waiting = analysed({send(20, 1, 2, 1), wait_for_token_of(-1), add(30, 5, 6)});
  EXPECT_EQ(field_at(waiting, 2), dst_wait(token_of(waiting, 0)));
}

TEST(CraftedPrograms, DirectiveSeventeenNamingNoTokenOrNothingLeavesNoWait) {
  // The named instruction sets no token; the other names a place outside the code.
  const zorn::Program no_token = analysed({add(20, 2, 3), wait_for_token_of(-1), add(30, 5, 6)});
  EXPECT_FALSE(has_marker(zorn::instruction_at(no_token, 2)));
  EXPECT_EQ(field_at(no_token, 2), 0u);
  const zorn::Program outside = analysed({add(20, 2, 3), wait_for_token_of(-40), add(30, 5, 6)});
  EXPECT_FALSE(has_marker(zorn::instruction_at(outside, 2)));
  EXPECT_EQ(field_at(outside, 2), 0u);
}

// ---- explicit sync ----

TEST(CraftedPrograms, ExplicitSyncOnAllDestinationTokensSparesTheReaderItsWait) {
  const zorn::Program plain = analysed({send(20, 1, 2, 1), add(21, 20, 6)});
  EXPECT_EQ(field_at(plain, 1), dst_wait(token_of(plain, 0)));
  const zorn::Program synced = analysed({send(20, 1, 2, 1), sync_instruction(3), add(21, 20, 6)});
  EXPECT_EQ(field_at(synced, 2), 0u);
}

// ---- counting ----

TEST(CraftedPrograms, EmptyInstructionsDoNotCountAsDistance) {
  const zorn::Program with_mov = analysed({add(10, 5, 6), mov(40, 41), add(11, 10, 7)});
  const zorn::Program with_empty = analysed({add(10, 5, 6), Words{}, add(11, 10, 7)});
  EXPECT_EQ(field_at(with_mov, 2) & 0x07u, 2u);
  EXPECT_EQ(field_at(with_empty, 2) & 0x07u, 1u);
}

TEST(CraftedPrograms, OpcodeNinetyFiveCountsTwice) {
  const zorn::Program single = analysed({add(10, 5, 6), alu(64, 40, 41, -1), add(11, 10, 7)});
  const zorn::Program doubled = analysed({add(10, 5, 6), alu(zorn::opcode::doubled, 40, 41, -1), add(11, 10, 7)});
  EXPECT_EQ(field_at(doubled, 2) & 0x07u, (field_at(single, 2) & 0x07u) + 1);
}

// ---- instruction groups ----

// The same instruction with the group bit (bit 32: the next instruction
// belongs to the same group).
Words grouped(Words w) {
  w[1] |= 1u;
  return w;
}

TEST(CraftedPrograms, AGroupWritesTheWaitsOfItsLastMemberIntoItsFirst) {
  // The last member reads r10, written two integer instructions back.
  const zorn::Program single = analysed({add(10, 5, 6), add(20, 30, 31), add(21, 10, 8)});
  EXPECT_EQ(field_at(single, 1), 0u);
  EXPECT_EQ(field_at(single, 2), 0x02u);
  const zorn::Program group = analysed({add(10, 5, 6), grouped(add(20, 30, 31)), add(21, 10, 8)});
  EXPECT_EQ(field_at(group, 1), 0x02u);
  EXPECT_EQ(field_at(group, 2), 0u);
  for (std::size_t i = 0; i < 3; ++i) EXPECT_FALSE(has_marker(zorn::instruction_at(group, i))) << i;
}

TEST(CraftedPrograms, AGroupAccumulatesTheWaitsOfItsMembers) {
  // The first member waits one float instruction back (r10), the last two
  // integer instructions back (r11). Alone they carry a float distance 1 and
  // an integer distance 2 (the own pipe, so no pipe named); as a group the
  // waits merge into the smaller distance on all pipes, written into the
  // first member.
  const std::vector<Words> code = {add(10, 5, 6, float32_code), add(11, 5, 6), add(20, 10, 31), add(21, 11, 8)};
  const zorn::Program single = analysed(code);
  EXPECT_EQ(field_at(single, 2), 0x11u);  // float pipe (code 2), distance 1
  EXPECT_EQ(field_at(single, 3), 0x02u);
  std::vector<Words> grouped_code = code;
  grouped_code[2] = grouped(grouped_code[2]);
  const zorn::Program group = analysed(grouped_code);
  EXPECT_EQ(field_at(group, 2), 0x09u);  // all pipes (code 1), distance 1
  EXPECT_EQ(field_at(group, 3), 0u);
}

// ---- ARF operands of kinds 4, 7 and 8 (no register region) ----

// ARF number 0x40 (kind 4) as a direct operand field: register-file bit 2 clear.
constexpr std::uint32_t arf_kind4_field = (0x40u << 8) | 1u;

Words with_arf_destination(Words w) {
  w[1] = (w[1] & 0xFFFFu) | (arf_kind4_field << 16);
  return w;
}
Words with_arf_source0(Words w) {
  w[2] = (w[2] & ~0xFFFFu) | arf_kind4_field;
  return w;
}

TEST(CraftedPrograms, ReadingAnArfOfKindFourWaitsOneInstructionOnAllPipes) {
  const zorn::Program grf = analysed({add(10, 5, 6), add(21, 40, 7)});
  EXPECT_EQ(field_at(grf, 1), 0u);
  const zorn::Program arf = analysed({add(10, 5, 6), with_arf_source0(add(21, 40, 7))});
  EXPECT_EQ(field_at(arf, 1), 0x09u);  // all pipes (code 1), distance 1
}

TEST(CraftedPrograms, AfterAnArfDestinationATokenWaitGetsADistanceOneSyncInFront) {
  for (const bool arf : {false, true}) {
    zorn::Program program = program_of(
        {send(20, 1, 2, 1), arf ? with_arf_destination(add(40, 5, 6)) : add(40, 5, 6), add(21, 20, 7)});
    const zorn::BlockList blocks = zorn::run_scoreboard_passes(program, {6, 16});
    EXPECT_EQ(field_at(program, 2), dst_wait(token_of(program, 0))) << arf;
    ASSERT_EQ(blocks.size(), 1u);
    if (!arf) {
      EXPECT_TRUE(blocks[0].sync_requests.empty());
      continue;
    }
    ASSERT_EQ(blocks[0].sync_requests.size(), 1u);
    const zorn::SyncRequest& r = blocks[0].sync_requests[0];
    EXPECT_EQ(r.instruction, 2u);
    EXPECT_EQ(r.kind, zorn::SyncKind::setting_only);
    EXPECT_EQ(r.swsb.bits, 0x1100u);  // distance 1 on all pipes
  }
}

// ---- the Harix write-after-read workaround ----

// Ten-bit forms: token set 0x0C0 + t, dst wait 0x080 + t, src wait 0x0A0 + t.
std::uint32_t wide_field_at(const zorn::Program& p, std::size_t i) { return wide_field(zorn::instruction_at(p, i)); }
std::uint32_t wide_token_of(const zorn::Program& p, std::size_t i) { return wide_field_at(p, i) & 0x1Fu; }

TEST(CraftedPrograms, OverwritingTheSourceOfASendWithoutDestinationWaitsForItsDestinationOnHarix) {
  // Treatment W: the send that read r1 writes nothing.
  for (const zorn::HW hw : {7, 8}) {
    zorn::Program program = program_of({send(-1, 0, 1, 1), add(1, 5, 6)});
    const zorn::BlockList blocks = zorn::run_scoreboard_passes(program, {hw, 32});
    const std::uint32_t t = wide_token_of(program, 0);
    EXPECT_EQ(wide_field_at(program, 1), (hw == 7 ? 0x080u : 0x0A0u) + t) << hw;
    EXPECT_TRUE(blocks[0].dummy_moves.empty()) << hw;
  }
}

TEST(CraftedPrograms, OverwritingTheSourceOfASendGetsThreeDummyMovesOnHarix) {
  // Treatment T: B (instruction 1) read r1 and writes r31; walking back from
  // B over the sends of its class collects r1 (B's source) and then r2 (the
  // first send's source). The add is in the integer pipe, so the moves are
  // integer moves and the add needs no distance of its own.
  const std::vector<Words> code = {send(30, 1, 2, 1), send(31, 1, 1, 1), add(1, 5, 6)};
  zorn::Program jorva = program_of(code);
  const zorn::BlockList plain = zorn::run_scoreboard_passes(jorva, {8, 32});
  EXPECT_EQ(wide_field_at(jorva, 2), 0x0A0u + wide_token_of(jorva, 1));
  EXPECT_TRUE(plain[0].dummy_moves.empty());

  zorn::Program harix = program_of(code);
  const zorn::BlockList blocks = zorn::run_scoreboard_passes(harix, {7, 32});
  const std::uint32_t b_token = wide_token_of(harix, 1);
  EXPECT_EQ(wide_field_at(harix, 2), 0u);  // the src wait moved to the first dummy move
  EXPECT_FALSE(has_marker(zorn::instruction_at(harix, 2)));
  ASSERT_EQ(blocks[0].dummy_moves.size(), 3u);
  const auto& m = blocks[0].dummy_moves;
  for (const zorn::DummyMoveRequest& r : m) {
    EXPECT_EQ(r.instruction, 2u);
    EXPECT_EQ(r.type, zorn::dummy_move_type::integer);
  }
  EXPECT_EQ(m[0].swsb.bits, 0x40u | b_token);  // src wait on B's token
  EXPECT_EQ(m[0].first_of_series, 1u);
  EXPECT_EQ(m[0].source_register, 0u);
  EXPECT_EQ(m[1].swsb.bits, 0u);
  EXPECT_EQ(m[1].first_of_series, 0u);
  EXPECT_EQ(m[1].source_register, 2u);
  EXPECT_EQ(m[2].swsb.bits, 0u);
  EXPECT_EQ(m[2].first_of_series, 0u);
  EXPECT_EQ(m[2].source_register, 1u);
  EXPECT_TRUE(blocks[0].sync_requests.empty());
}

// ---- the pass-1 table of waited in-order positions ----

struct WaitRecord {
  std::uint32_t waiting_pipe, waited_pipe, distance;
  std::int32_t position;  // the waited pipe's counter in the record
  bool operator==(const WaitRecord& o) const {
    return waiting_pipe == o.waiting_pipe && waited_pipe == o.waited_pipe && distance == o.distance &&
           position == o.position;
  }
};

// The wait records pass 1 exports into the resolved table of the only block.
std::vector<WaitRecord> pass_one_waits(const std::vector<Words>& code, zorn::HW hw) {
  zorn::Program program = program_of(code);
  zorn::BlockList blocks = zorn::build_basic_blocks(program, hw);
  zorn::decode_block_operands(blocks, program, hw);
  EXPECT_EQ(blocks.size(), 1u);
  zorn::BasicBlock& block = blocks[0];
  zorn::swsb_analysis(hw, 16, program, block, zorn::AnalysisPass::zero);
  block.out.clear();
  block.resolved.clear();
  zorn::swsb_analysis(hw, 16, program, block, zorn::AnalysisPass::one);
  std::vector<WaitRecord> waits;
  for (const zorn::Dependency& d : block.resolved.records) {
    if (!d.is_wait() || d.has_token_bits() || !d.is_live()) continue;
    std::uint32_t row = 0;
    while (row < 7 && d.wait_pipe != (1u << row)) ++row;
    EXPECT_LT(row, 7u);
    waits.push_back({d.pipe, d.wait_pipe, d.wait_distance, row < 7 ? d.counters[row] : 0});
  }
  std::sort(waits.begin(), waits.end(), [](const WaitRecord& a, const WaitRecord& b) {
    return a.waited_pipe < b.waited_pipe;
  });
  return waits;
}

TEST(PassOneWaitTable, AWaitOnTheOwnPipeIsExportedForThatPipe) {
  // The second add waits one integer instruction back: cell (integer,
  // integer) = integer count 1 - distance 1 = 0, exported as position 1.
  const std::vector<WaitRecord> waits = pass_one_waits({add(10, 5, 6), add(11, 10, 7)}, 6);
  ASSERT_EQ(waits.size(), 1u);
  EXPECT_TRUE((waits[0] == WaitRecord{zorn::pipe::integer, zorn::pipe::integer, 1, 1}));
}

TEST(PassOneWaitTable, AWaitOnAllPipesIsExportedForEachPipeOfTheGeneration) {
  // A float and an integer producer, each one instruction back in its pipe:
  // the add waits distance 1 on all pipes, which on Gulon is rows float,
  // integer and long (not the all-in-order row): positions float 1 - 1 + 1,
  // integer 1 - 1 + 1, long 0 - 1 + 1.
  const std::vector<WaitRecord> waits =
      pass_one_waits({add(10, 5, 6, float32_code), add(12, 5, 6), add(11, 10, 12)}, 6);
  ASSERT_EQ(waits.size(), 3u);
  EXPECT_TRUE((waits[0] == WaitRecord{zorn::pipe::integer, zorn::pipe::float_pipe, 1, 1}));
  EXPECT_TRUE((waits[1] == WaitRecord{zorn::pipe::integer, zorn::pipe::integer, 1, 1}));
  EXPECT_TRUE((waits[2] == WaitRecord{zorn::pipe::integer, zorn::pipe::long_pipe, 1, 0}));
}

TEST(PassOneWaitTable, NoWaitNoRecord) {
  EXPECT_TRUE(pass_one_waits({add(10, 5, 6), add(11, 12, 7)}, 6).empty());
}

// ---- the bounds of the region model ----

// Operand word: register, element type code (bits 28-30), vertical stride,
// width and horizontal stride fields.
std::uint64_t operand_word(std::uint32_t reg, std::uint32_t size_code, std::uint32_t vstride, std::uint32_t width,
                           std::uint32_t hstride) {
  return std::uint64_t{reg} | (std::uint64_t{size_code} << 28) | (std::uint64_t{vstride} << 32) |
         (std::uint64_t{width} << 39) | (std::uint64_t{hstride} << 44);
}

TEST(RegionBounds, ElementsPastTheSixtyFourthByteOfARowAreLeftOut) {
  // 32-bit elements 128 bytes apart: only the first lies in the row's 64 bytes.
  const zorn::DependencyRegion r(6, 4, operand_word(10, 5, 0, 4, 32));
  EXPECT_EQ(r.first_register, 10u);
  EXPECT_EQ(r.register_count, 1u);
  EXPECT_EQ(r.masks[0], 0xFu);
  for (std::size_t i = 1; i < r.masks.size(); ++i) EXPECT_EQ(r.masks[i], 0u) << i;
}

TEST(RegionBounds, RowsBeyondTheModelledRegistersAreDroppedAndTheCountKeptToTheModel) {
  // Sixteen rows of one 32-bit element, 256 bytes (eight registers) apart:
  // rows 0-3 land in registers 0, 8, 16 and 24; the rest lie beyond.
  const zorn::DependencyRegion r(6, 16, operand_word(0, 5, 64, 1, 1));
  EXPECT_EQ(r.register_count, zorn::region_registers);
  for (std::size_t i = 0; i < r.masks.size(); ++i) EXPECT_EQ(r.masks[i], i % 8 == 0 ? 0xFu : 0u) << i;
}

}  // namespace
