// Worked examples of the Dorik-format and wide encoders, bit for bit, and the
// edge cases their descriptions single out.
#include <gtest/gtest.h>

#include "gpu/zorn/encoders/encoders.hpp"
#include "tests/zorn/encoders/field_reader.hpp"
#include "tests/zorn/encoders/test_support.hpp"

namespace zorn_test {
namespace {

using z::Immediate;
using z::InstructionModifier;

// ---------------------------------------------------------------------------
// Whole words worked out by hand.

TEST(DorikExamples, ThreadEndOfTheKernelProgram) {
  z::CodeGenerator g(z::hw::dorik);
  z::encode_send_hw4(g, 49, InstructionModifier(0x1C2800400600008), null_ud, grf(127), null_ud, 39, 0x2000010);
  // dword 0: opcode 49, scoreboard 0x92, exec code 3, modifier bit 34 in bit 31
  // dword 1: extended-descriptor bit 5 in bit 2
  // dword 2: source 0 GRF, descriptor bit 25 -> bit 3, r127, descriptor bit 4 -> bit 21, function 7
  EXPECT_EQ(last_instruction(g), (Words{0x80039231u, 0x00000004u, 0x70207F0Cu, 0u}));
}

TEST(DorikExamples, MovZeroOfTheKernelProgram) {
  z::CodeGenerator g(z::hw::dorik);
  z::encode_op_imm_hw4(g, 97, z::DataType(0x60), InstructionModifier(1), z::RegisterOperand::from_bits(0x805000001E),
                       Immediate(0, z::DataType(0x82)));
  // dword 1: destination type 2, immediate type 1, immediate flag, r30 with stride code 1 and the GRF bit
  EXPECT_EQ(last_instruction(g), (Words{0x61u, 0x1E054120u, 0u, 0u}));
}

TEST(DorikExamples, ScoreboardBytes) {
  z::CodeGenerator g(z::hw::dorik);
  z::encode_mov_hw4(g, InstructionModifier(0x1c2000000000001), grf(1), grf(2));
  EXPECT_EQ((last_instruction(g)[0] >> 8) & 0xFF, 0x92u);
  z::encode_mov_hw4(g, InstructionModifier(0x4300000000000001), grf(1), grf(2));  // distance 3, pipe 4
  EXPECT_EQ((last_instruction(g)[0] >> 8) & 0xFF, 0x53u);
}

TEST(DorikExamples, SendcIsWrittenAsSend) {
  z::CodeGenerator g(z::hw::dorik);
  z::encode_send_hw4(g, 51, InstructionModifier(1), null_ud, grf(64), grf(30), 0x4A, 0x0202C201);
  EXPECT_EQ(last_instruction(g)[0] & 0xFF, 49u);
}

TEST(DorikExamples, NullRegisterNeverTriggersTheGrfLimit) {
  z::CodeGenerator g(z::hw::dorik);
  // ARF operands whose register field has bit 8 set.
  const z::RegisterOperand arf_high = z::RegisterOperand::from_bits(0x100050000200 | 0x100);
  z::encode_send_hw4(g, 49, InstructionModifier(1), arf_high, grf(2), arf_high, 0, 0);
  EXPECT_EQ(g.top_stream().code.size(), 2u);
}

TEST(DorikExamples, SixtyFourBitImmediateHalvesAreSwappedAgainstLegacy) {
  z::CodeGenerator g(z::hw::dorik);
  z::encode_op_imm_hw4(g, 97, z::DataType(0xa0), InstructionModifier(1), grf(5, 0xc8),
                       Immediate(0x0123456789ABCDEFull, z::DataType(0xc8)));
  const Words w = last_instruction(g);
  EXPECT_EQ(w[2], 0x01234567u);
  EXPECT_EQ(w[3], 0x89ABCDEFu);
}

TEST(DorikExamples, DefaultConditionalModifierNeverReachesDword2) {
  z::CodeGenerator g(z::hw::dorik);
  g.default_modifier = InstructionModifier(0x5000000);  // conditional modifier 5 in the default
  z::encode_cmp_imm_hw4(g, InstructionModifier(1), null_ud, grf(2, 0xa0), Immediate(1, z::DataType(0xa0)));
  EXPECT_EQ(last_instruction(g)[2] >> 28, 0u);
  z::encode_cmp_imm_hw4(g, InstructionModifier(0x3000001), null_ud, grf(2, 0xa0), Immediate(1, z::DataType(0xa0)));
  EXPECT_EQ(last_instruction(g)[2] >> 28, 3u);
}

TEST(DorikExamples, SixteenWideSourceRegion) {
  z::CodeGenerator g(z::hw::dorik);
  OperandFields s{};
  s.reg = 8;
  s.type = 0xa0;
  s.vstride = 16;
  s.width = 16;
  s.hstride = 1;
  z::encode_mov_hw4(g, InstructionModifier(16), grf(1, 0xa0), operand(s));
  const std::uint32_t d2 = last_instruction(g)[2];
  EXPECT_EQ((d2 >> 17) & 7, 4u);
  EXPECT_EQ(d2 & 3, 1u);
  EXPECT_EQ((d2 >> 20) & 0xF, 5u);
}

TEST(GulonExamples, ClosingSend) {
  z::CodeGenerator g(z::hw::gulon);
  z::encode_send_select_hw6(g, InstructionModifier(0x1C2000000000000), grf(127));
  EXPECT_EQ(last_instruction(g), (Words{0x80039231u, 0x00000004u, 0x30207F0Cu, 0u}));
}

TEST(GulonExamples, SendKeepsOpcode51) {
  z::CodeGenerator g(z::hw::gulon);
  z::encode_send_hw6(g, 51, InstructionModifier(1), 10, null_ud, grf(64), grf(30), 0x4A, 0x0202C201);
  EXPECT_EQ(last_instruction(g)[0] & 0xFF, 51u);
  EXPECT_EQ(last_instruction(g)[2] >> 28, 10u);
}

TEST(GulonExamples, ThreeSourceStrideCodes) {
  z::CodeGenerator g(z::hw::gulon);
  OperandFields d{};
  d.reg = 10;
  d.type = 0xa0;
  d.hstride = 1;
  OperandFields s{d};
  s.reg = 11;
  s.vstride = 2;
  s.width = 4;
  s.hstride = 1;
  z::encode_ternary_hw6(g, InstructionModifier(8), operand(d), operand(s), operand(s), Immediate(3, z::DataType(0x82)));
  const Words w = last_instruction(g);
  EXPECT_EQ((w[1] >> 16) & 3, 0u) << "stride 1 is code 0 in the three-source destination";
  EXPECT_EQ(w[2] & 3, 1u) << "and code 1 in a three-source source";
  EXPECT_EQ(((w[1] >> 3) & 1) | (((w[1] >> 11) & 1) << 1), 3u) << "vertical stride 2 with a horizontal stride is 3";
}

TEST(GulonExamples, TernaryImmediateAndSourceWord) {
  // mad r10 = r11 + r12 x 0x40 on Gulon: worked out field by field.
  z::CodeGenerator g(z::hw::gulon);
  z::encode_ternary_hw6(g, InstructionModifier(1), grf(10, 0xa0), grf(11, 0xa0), grf(12, 0x82),
                        Immediate(0x00400040, z::DataType(0x82)));
  // dword 0: opcode 91. dword 1: dst type 2 (bits 4-7), src0 type 2 (bits 8-10),
  // bit 15, destination field r10 with GRF bit (stride 1 -> code 0).
  // dword 2: src0 field r11 with GRF bit and region 0/1/0 (stride code 0),
  // immediate type 1 in bits 16-18, src1 type 1 in bits 24-26.
  // dword 3: src1 r12, immediate 0x0040 in bits 16-31.
  EXPECT_EQ(last_instruction(g), (Words{0x5Bu, 0x0A048220u, 0x01010B04u, 0x00400C04u}));
}

// ---------------------------------------------------------------------------
// Wide formats.

TEST(WideExamples, ClosingMessage) {
  for (auto encode : {z::encode_send_select_hw7, z::encode_send_select_hw8, z::encode_send_select_hw9}) {
    z::CodeGenerator g(z::hw::harix);
    encode(g, InstructionModifier(0x1C2000000000000), grf(127));
    // scoreboard 0x122 (token 2, both modes, distance 1), exec code 3, control bit 31
    EXPECT_EQ(last_instruction(g), (Words{0x800D2231u, 0x00000004u, 0x30207F0Cu, 0u}));
  }
}

TEST(WideExamples, KernelInputLoad) {
  for (auto encode : {z::encode_message_hw7, z::encode_message_hw8, z::encode_message_hw9}) {
    z::CodeGenerator g(z::hw::harix);
    encode(g, -1, InstructionModifier(0x1C0000000000001), grf(31, 0x60), z::MessageDataShape{0x400, 1, 4},
           z::MessageAddress(z::model_flat64, 255), z::AddressOperand{grf(64), 0});
    // descriptor 0x04100580, extended descriptor 0x0F, function 15
    EXPECT_EQ(last_instruction(g), (Words{0x00012031u, 0x1F0C0000u, 0xFB004014u, 0u}));
  }
}

// Two prologue instructions on Harix, with the prologue's default-modifier
// bits 34 and 45, worked out field by field.
TEST(WideExamples, PrologueAndOfTheCrossThreadAddress) {
  z::CodeGenerator g(z::hw::harix);
  g.default_modifier = InstructionModifier(0x200400000000);
  z::encode_binary_op_hw7(g, 101, z::DataType(0xa0), InstructionModifier(1), z::RegisterOperand::grf(127, z::data_type::ud, 2),
                          z::RegisterOperand::grf(0, z::data_type::ud), Immediate(0xFFFFFFE0, z::DataType(0xa0)));
  // opcode 101 with the marker bit, control bit 31; dst r127 byte 8 (bits 1-5 = 4), stride code 1;
  // src0 r0 region 0/1/0; immediate type 2.
  EXPECT_EQ(last_instruction(g), (Words{0x800000E5u, 0x7F258220u, 0x02000004u, 0xFFFFFFE0u}));
}

TEST(WideExamples, PrologueMadOfThePerThreadAddress) {
  z::CodeGenerator g(z::hw::harix);
  g.default_modifier = InstructionModifier(0x200400000000);
  z::encode_ternary_hw7(g, InstructionModifier(1), z::RegisterOperand::grf(127, z::data_type::ud, 0),
                        z::RegisterOperand::grf(127, z::data_type::ud, 2), z::RegisterOperand::grf(127, z::data_type::uw, 0),
                        Immediate(0x00C000C0, z::DataType(0x82)));
  EXPECT_EQ(last_instruction(g), (Words{0x800000DBu, 0x7F048220u, 0x01017F24u, 0x00C07F04u}));
}

TEST(WideExamples, ScoreboardFields) {
  z::CodeGenerator g(z::hw::harix);
  auto field = [&](std::uint64_t m) {
    z::encode_unary_op_hw7(g, 97, z::DataType(0xa0), InstructionModifier(m | 1), grf(1), grf(2));
    return (last_instruction(g)[0] >> 8) & 0x3FF;
  };
  EXPECT_EQ(field(0), 0u);
  EXPECT_EQ(field(std::uint64_t{1} << 53), 240u);
  EXPECT_EQ(field((std::uint64_t{1} << 56) | (std::uint64_t{1} << 60)), 9u);
  // distance 1 and a destination-only wait: 0x300 only for opcode 89 or pipe 1
  const std::uint64_t dst_wait = (std::uint64_t{1} << 56) | (std::uint64_t{1} << 55) | (std::uint64_t{3} << 48);
  EXPECT_EQ(field(dst_wait), 0x100u + 32 + 3);
  z::encode_unary_op_hw7(g, 89, z::DataType(0xa0), InstructionModifier(dst_wait | 1), grf(1), grf(2));
  EXPECT_EQ((last_instruction(g)[0] >> 8) & 0x3FF, 0x300u + 32 + 3);
}

TEST(WideExamples, AddWithImmediate) {
  z::CodeGenerator g(z::hw::harix);
  z::encode_binary_op_hw7(g, 64, z::DataType(0xa0), InstructionModifier(1), grf(127, 0xa0), grf(127, 0xa0),
                          Immediate(0x12345678, z::DataType(0xa0)));
  const Words w = last_instruction(g);
  EXPECT_EQ((w[1] >> 15) & 1, 1u);
  EXPECT_EQ(w[3], 0x12345678u);
  EXPECT_EQ((w[2] >> 24) & 0xF, 2u);
  expect_refused<z::invalid_immediate_exception>(
      g,
      [&] {
        z::encode_binary_op_hw7(g, 64, z::DataType(0xa0), InstructionModifier(1), grf(127, 0xa0), grf(127, 0xa0),
                                Immediate(1, z::DataType(0xc8)));
      },
      "Invalid immediate value");
}

TEST(WideExamples, SixtyFourBitImmediateMove) {
  z::CodeGenerator g(z::hw::lumet);
  const Immediate imm(0x0123456789ABCDEFull, z::DataType(0xc8));
  z::encode_op_imm_mod_hw9(g, InstructionModifier(1), grf(5, 0xc8), imm);
  const Words w = last_instruction(g);
  EXPECT_EQ(w[2], 0x01234567u);
  EXPECT_EQ(w[3], 0x89ABCDEFu);
  EXPECT_EQ((w[1] >> 14) & 1, 1u);
  expect_refused<z::invalid_modifiers_exception>(
      g, [&] { z::encode_op_imm_mod_hw9(g, InstructionModifier(0x1000001), grf(5, 0xc8), imm); },
      "Invalid or conflicting modifiers");
  expect_refused<z::missing_type_exception>(
      g, [&] { z::encode_op_imm_mod_hw9(g, InstructionModifier(1), grf(5), imm); }, "Operand is missing its type");
}

TEST(WideExamples, ByteOffsetBitZeroOfTheDestination) {
  // r3.3 of a byte type: byte offset 3 -> bit 33 holds 1, destination bits 3-7 hold 1.
  z::CodeGenerator g(z::hw::harix);
  OperandFields d{};
  d.reg = 3;
  d.offset = 3;
  d.type = 0x64;  // byte, type index 4
  d.hstride = 1;
  z::encode_unary_op_hw7(g, 97, z::DataType(0xa0), InstructionModifier(1), operand(d), grf(4, 0xa0));
  const Words w = last_instruction(g);
  EXPECT_EQ((w[1] >> 1) & 1, 1u);
  EXPECT_EQ((w[1] >> 19) & 0x1F, 1u);
}

TEST(WideExamples, LumetSendsAnIndirectSourceThroughAnAddressRegister) {
  OperandFields s{};
  s.indirect = true;
  s.reg = 0x1A4;  // register bit 8 set, low byte 0xA4
  z::CodeGenerator lumet(z::hw::lumet), harix(z::hw::harix);
  z::encode_send_hw9(lumet, 49, InstructionModifier(1), 15, grf(2), operand(s), null_ud, ~0ull, 0x7C0, 0);
  Reader r(last_instruction(lumet));
  const ModernSend m = read_modern_send(r, true);
  EXPECT_EQ(m.src0_grf, 0u);
  EXPECT_EQ(m.src0_reg, 0x60u);  // ARF kind 22, number 0
  EXPECT_EQ(m.extended_6_10, (0xA4u >> 1) & 0x1F) << "sub-register bits 1-5 replace extended bits 6-10";
  s.reg = 0x0A4;
  z::encode_send_hw9(lumet, 49, InstructionModifier(1), 15, grf(2), operand(s), null_ud, ~0ull, 0x7C0, 0);
  Reader r2(last_instruction(lumet));
  EXPECT_EQ(read_modern_send(r2, true).src0_reg, 0x10u);  // ARF kind 1, number 0
  // Harix and Jorva take the operand as it stands.
  z::encode_send_hw7(harix, 49, InstructionModifier(1), 15, grf(2), operand(s), null_ud, ~0ull, 0x7C0, 0);
  Reader r3(last_instruction(harix));
  const ModernSend h = read_modern_send(r3, true);
  EXPECT_EQ(h.extended_6_10, 0x1Fu);
  EXPECT_EQ(h.src0_reg, 0xA4u);
}

TEST(WideExamples, SourcePackersWriteOnlyTheirFields) {
  z::InstructionWords words{0xFFFFFFFFu, 0, 0, 0xFFFF0000u};
  OperandFields s{};
  s.reg = 0x55;
  s.type = 0xa0;
  s.offset = 3;  // byte offset 12
  s.vstride = 8;
  s.width = 8;
  s.hstride = 1;
  z::encode_src_region_hw7(words, operand(s));
  EXPECT_EQ(words[0], 0xFFFFFFFFu);
  EXPECT_EQ(words[3], 0xFFFF0000u | (0x55u << 8) | ((12u >> 1) << 3) | (1u << 2) | 1u);
  EXPECT_EQ((words[2] >> 19) & 1, 1u);
  EXPECT_EQ((words[2] >> 27) & 1, 1u);
  z::InstructionWords gulon_words{};
  z::encode_src_region_hw6(gulon_words, operand(s));
  EXPECT_EQ(gulon_words[3], (0x55u << 8) | (12u << 3) | (1u << 2) | 1u);
  z::InstructionWords src0_words{};
  z::encode_src0_region_hw7(src0_words, operand(s));
  EXPECT_EQ(src0_words[2], (0x55u << 8) | ((12u >> 1) << 3) | (1u << 2) | 1u);
  EXPECT_EQ(src0_words[1], (1u << 3) | (1u << 11) | (2u << 8));
  OperandFields bad{s};
  bad.indirect = true;
  EXPECT_THROW(z::encode_src_region_hw7(words, operand(bad)), z::invalid_operand_exception);
}

}  // namespace
}  // namespace zorn_test
