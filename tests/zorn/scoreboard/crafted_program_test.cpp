// Small crafted programs for the corners of the scoreboard analysis:
// directives 16 and 17, explicit sync instructions, opcode 95, empty
// instructions, and the bounds of the register-region model (strides beyond
// a row, rows beyond the modelled registers).
#include <gtest/gtest.h>

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
