// Vemra and Sutal encoders: the legacy 128-bit format.
#include <gtest/gtest.h>

#include "gpu/zorn/encoders/encoders.hpp"
#include "tests/zorn/encoders/field_reader.hpp"
#include "tests/zorn/encoders/test_support.hpp"

namespace zorn_test {
namespace {

using z::Immediate;
using z::InstructionModifier;

std::uint32_t legacy_register_code(z::HW hw, std::uint32_t type) {
  return hw == z::hw::vemra ? vemra_register_code(static_cast<std::uint8_t>(type)) : sutal_codes[type & 0xF];
}
std::uint32_t legacy_immediate_code(z::HW hw, std::uint32_t type) {
  return hw == z::hw::vemra ? vemra_immediate_codes[type & 0xF] : sutal_codes[type & 0xF];
}

struct LegacyEncoders {
  z::HW hw;
  void (*mov)(z::CodeGenerator&, InstructionModifier, z::RegisterOperand, z::RegisterOperand);
  void (*op_imm)(z::CodeGenerator&, std::uint32_t, z::DataType, InstructionModifier, z::RegisterOperand, Immediate);
  void (*cmp)(z::CodeGenerator&, InstructionModifier, z::RegisterOperand, z::RegisterOperand, Immediate);
  void (*send)(z::CodeGenerator&, InstructionModifier, z::RegisterOperand, z::RegisterOperand, std::uint32_t,
               std::uint32_t);
  void (*thread_end)(z::CodeGenerator&, InstructionModifier, z::RegisterOperand);
};
const LegacyEncoders vemra{z::hw::vemra, z::encode_mov_hw1, z::encode_op_imm_hw1, z::encode_cmp_imm_hw1,
                           z::encode_send_hw1, z::encode_thread_end_hw1};
const LegacyEncoders sutal{z::hw::sutal, z::encode_mov_hw3, z::encode_op_imm_hw3, z::encode_cmp_imm_hw3,
                           z::encode_send_hw3, z::encode_thread_end_hw3};

void PrintTo(const LegacyEncoders& e, std::ostream* os) { *os << "hw" << e.hw; }

class LegacyEncoderTest : public ::testing::TestWithParam<LegacyEncoders> {};

// ---------------------------------------------------------------------------
// Examples, worked out by hand from the format description.

TEST_P(LegacyEncoderTest, ThreadEndOfTheKernelProgram) {
  z::CodeGenerator g(GetParam().hw);
  GetParam().thread_end(g, InstructionModifier(0x1C2000000000000), grf(127));
  // opcode 49, exec code 3 from 0x600000, shared function 7 in bits 24-27
  // dword 1: modifier bit 34 -> bit 2, bit 47 -> bit 15, source 0 GRF -> bit 9,
  //          null destination with stride code 1 -> bit 29
  // dword 2: r127 -> source field bits 5-12, 3 in bits 25-26
  // dword 3: descriptor 0x2000010 and extended-descriptor bit 5 in bit 31
  EXPECT_EQ(last_instruction(g), (Words{0x07600031u, 0x20008204u, 0x06000FE0u, 0x82000010u}));
}

TEST_P(LegacyEncoderTest, MovZeroOfTheKernelProgram) {
  z::CodeGenerator g(GetParam().hw);
  GetParam().op_imm(g, 1, z::DataType(0x60), InstructionModifier(0x1), z::RegisterOperand::from_bits(0x805000001E),
                    Immediate(0, z::DataType(0x82)));
  // dst r30 GRF (file 1, type code 0), immediate source (file 3, code 2),
  // destination field: register 30 in bits 5-12, stride code 1 in bits 13-14.
  EXPECT_EQ(last_instruction(g), (Words{0x00000001u, 0x23C01608u, 0u, 0u}));
}

TEST_P(LegacyEncoderTest, IndirectSourceOfCompareSetsDword2Bit31) {
  z::CodeGenerator g(GetParam().hw);
  OperandFields s{};
  s.reg = 2;  // address sub-register 2
  s.offset = 0x200;
  s.type = 0xa0;
  s.indirect = true;
  s.vstride = 127;
  GetParam().cmp(g, InstructionModifier(0x1000001), null_ud, operand(s), Immediate(5, z::DataType(0xa0)));
  const Words w = last_instruction(g);
  EXPECT_EQ(w[2] >> 31, 1u);
  EXPECT_EQ(w[2] & 0x1FF, 0u);
  EXPECT_EQ((w[2] >> 9) & 0xF, 2u);
  EXPECT_EQ((w[2] >> 15) & 1, 1u);
}

TEST_P(LegacyEncoderTest, SixteenBitDestinationOfMovGetsStride2) {
  z::CodeGenerator g(GetParam().hw);
  OperandFields d{};
  d.reg = 4;
  d.type = 0x82;
  GetParam().mov(g, InstructionModifier(0x600008), operand(d), grf(5, 0xa0));
  EXPECT_EQ((last_instruction(g)[1] >> 29) & 3, 2u);
}

TEST_P(LegacyEncoderTest, SixtyFourBitImmediateOfOpImmFillsDwords2And3) {
  z::CodeGenerator g(GetParam().hw);
  const Immediate imm(0x0123456789ABCDEFull, z::DataType(0xc8));
  GetParam().op_imm(g, 1, z::DataType(0x60), InstructionModifier(1), grf(6, 0xc8), imm);
  const Words w = last_instruction(g);
  EXPECT_EQ(w[2], 0x89ABCDEFu);
  EXPECT_EQ(w[3], 0x01234567u);
  expect_refused<z::invalid_immediate_exception>(
      g, [&] { GetParam().cmp(g, InstructionModifier(1), null_ud, grf(6, 0xc8), imm); }, "Invalid immediate value");
}

TEST_P(LegacyEncoderTest, SendDropsDescriptorBit31AndCarriesExtendedBit5) {
  z::CodeGenerator g(GetParam().hw);
  GetParam().send(g, InstructionModifier(1), grf(9, 0x60), grf(10), 0x20, 0x80000001u);
  const Words w = last_instruction(g);
  EXPECT_EQ(w[3], 0x80000001u);  // descriptor bit 0 and extended-descriptor bit 5; descriptor bit 31 dropped
  EXPECT_EQ((w[1] >> 5) & 0xF, 0u) << "an untyped send destination gets type code 0";
}

// ---------------------------------------------------------------------------
// Sweeps read back with the independent reader.

OperandFields random_direct(Sweep& s, std::initializer_list<std::uint32_t> types) {
  OperandFields o{};
  o.type = static_cast<std::uint8_t>(s.pick(types));
  o.reg = s.below(256);
  const std::uint32_t bytes = element_bytes(o.type);
  o.offset = s.below(32 / bytes);
  o.modifiers = s.below(4);
  if (s.below(2)) {
    o.hstride = s.pick({0, 1, 2, 4});
    o.width = s.pick({0, 1, 2, 4, 8});
    o.vstride = s.pick({0, 1, 2, 4, 8, 16});
  } else {
    o.hstride = s.pick({0, 1, 2});
  }
  return o;
}

OperandFields random_indirect(Sweep& s, std::uint8_t type) {
  OperandFields o{};
  o.type = type;
  o.indirect = true;
  o.reg = s.below(16);
  o.offset = s.below(1024);
  o.vstride = s.pick({127, 0, 1, 4});
  o.width = s.pick({1, 2, 4});
  o.hstride = s.pick({0, 1, 2});
  return o;
}

InstructionModifier random_modifier(Sweep& s, std::uint32_t exec) {
  return InstructionModifier((s.bits64() & ~std::uint64_t{0xFF}) | exec);
}

void expect_legacy_destination(const LegacyDestination& d, z::RegisterOperand dst) {
  EXPECT_EQ(d.indirect, dst.is_indirect());
  EXPECT_EQ(d.h_code, stride_code(hstride_of(dst)) & 3);
  if (dst.is_indirect()) {
    EXPECT_EQ(d.address_imm, offset_of(dst) & 0x1FF);
    EXPECT_EQ(d.subregister, dst.bits & 0xF);
  } else {
    EXPECT_EQ(d.byte_offset, byte_offset_of(dst) % 32);
    EXPECT_EQ(d.reg, dst.bits & 0xFF);
  }
}

void expect_legacy_source(std::uint32_t field, z::RegisterOperand src) {
  const LegacySource s = read_legacy_source(field);
  EXPECT_EQ(s.indirect, src.is_indirect());
  if (src.is_indirect()) {
    EXPECT_EQ(s.address_imm, offset_of(src) & 0x1FF);
    EXPECT_EQ(s.subregister, src.bits & 0xF);
    EXPECT_EQ(s.v_code, vstride_of(src) == 127 ? 15u : stride_code(vstride_of(src)));
  } else {
    EXPECT_EQ(s.byte_offset, byte_offset_of(src) % 32);
    EXPECT_EQ(s.reg, src.bits & 0xFF);
    EXPECT_EQ(s.v_code, stride_code(vstride_of(src)));
  }
  EXPECT_EQ(s.modifiers, (src.bits >> 21) & 3);
  EXPECT_EQ(s.h_code, stride_code(hstride_of(src)) & 3);
  EXPECT_EQ(s.width_code, width_code(width_of(src)));
}

// Fields every regular legacy instruction shares.
void expect_legacy_control(const LegacyRegular& i, std::uint32_t opcode, InstructionModifier m,
                           z::RegisterOperand dst) {
  EXPECT_EQ(i.opcode, opcode);
  EXPECT_EQ(i.bit8, 0u);
  EXPECT_EQ(i.control, (m.bits >> 9) & 0x7FFFFF);
  EXPECT_EQ(i.modifier_32_34, (m.bits >> 32) & 7);
  EXPECT_EQ(i.bit15, dst.is_indirect() ? (offset_of(dst) >> 9) & 1 : (m.bits >> 47) & 1);
}

TEST_P(LegacyEncoderTest, MovSweepReadsBackEveryField) {
  const LegacyEncoders& e = GetParam();
  Sweep s;
  int encoded = 0;
  for (int n = 0; n < 400; ++n) {
    z::CodeGenerator g(e.hw);
    g.default_modifier = InstructionModifier(s.bits64() & ~std::uint64_t{0xFF} & s.bits64());
    const std::uint32_t exec = s.pick({1, 2, 4, 8, 16});
    const InstructionModifier m = random_modifier(s, exec);
    const OperandFields ds = n % 5 == 0 ? random_indirect(s, 0xa0) : random_direct(s, {0x60, 0xa0, 0xa1, 0x82, 0x63});
    const OperandFields ss = n % 7 == 0 ? random_indirect(s, 0xa0) : random_direct(s, {0x60, 0xa0, 0x82, 0x85, 0xc8});
    const z::RegisterOperand dst = operand(ds), src = operand(ss);
    try {
      e.mov(g, m, dst, src);
    } catch (const std::runtime_error&) {
      continue;  // a region the source field cannot hold; refusals are tested elsewhere
    }
    ++encoded;
    const InstructionModifier merged = m | g.default_modifier;
    const std::uint32_t widest = std::max({element_bytes(ds.type), element_bytes(ss.type), 4u});
    const z::RegisterOperand cd = completed(dst, e.hw, merged.bits & 0xFF, widest, 0xa0, -1, 1);
    const z::RegisterOperand cs = completed(src, e.hw, merged.bits & 0xFF, widest, 0xa0, 0, 1);
    Reader r(last_instruction(g));
    const LegacyRegular i = read_legacy_regular(r);
    expect_legacy_control(i, 1, merged, cd);
    EXPECT_EQ(i.dst_file, 1u);
    EXPECT_EQ(i.dst_type, legacy_register_code(e.hw, type_of(cd)));
    EXPECT_EQ(i.src0_file, 1u);
    EXPECT_EQ(i.src0_type, legacy_register_code(e.hw, type_of(cs)));
    expect_legacy_destination(i.dst, cd);
    expect_legacy_source(i.src0_field, cs);
    EXPECT_EQ(i.src1_file, 0u);
    EXPECT_EQ(i.src1_type, 0u);
    EXPECT_EQ(i.dword2_bit31, cs.is_indirect() ? (offset_of(cs) >> 9) & 1 : 0u);
    EXPECT_EQ(i.dword3, 0u);
    EXPECT_SWEEP_CASE_CLEAN(r, n);
  }
  EXPECT_GT(encoded, 300);
}

TEST_P(LegacyEncoderTest, CompareAndImmediateSweepsReadBackEveryField) {
  const LegacyEncoders& e = GetParam();
  Sweep s;
  int encoded = 0;
  for (int n = 0; n < 300; ++n) {
    z::CodeGenerator g(e.hw);
    const std::uint32_t exec = s.pick({1, 8, 16});
    const InstructionModifier m = random_modifier(s, exec);
    const std::uint8_t imm_type = static_cast<std::uint8_t>(s.pick({0xa0, 0xa1, 0x82, 0x83, 0xa6, 0x8a}));
    const Immediate imm(s.bits64(), z::DataType(imm_type));
    const OperandFields ds = random_direct(s, {0xa0, 0xa1, 0x82});
    const OperandFields ss = n % 6 == 0 ? random_indirect(s, 0xa0) : random_direct(s, {0xa0, 0x82, 0xa6});
    const z::RegisterOperand dst = operand(ds), src = operand(ss);
    try {
      e.cmp(g, m, dst, src, imm);
    } catch (const std::runtime_error&) {
      continue;
    }
    ++encoded;
    const std::uint32_t widest = std::max({element_bytes(ds.type), element_bytes(ss.type), element_bytes(imm_type)});
    const z::RegisterOperand cd = completed(dst, e.hw, exec, widest, 0x60, -1, 2);
    const z::RegisterOperand cs = completed(src, e.hw, exec, widest, 0x60, 0, 2);
    Reader r(last_instruction(g));
    const LegacyRegular i = read_legacy_regular(r);
    expect_legacy_control(i, 16, m, cd);
    EXPECT_EQ(i.dst_type, legacy_register_code(e.hw, type_of(cd)));
    EXPECT_EQ(i.src0_type, legacy_register_code(e.hw, type_of(cs)));
    expect_legacy_destination(i.dst, cd);
    expect_legacy_source(i.src0_field, cs);
    EXPECT_EQ(i.src1_file, 3u);
    EXPECT_EQ(i.src1_type, legacy_immediate_code(e.hw, imm_type));
    EXPECT_EQ(i.dword3, static_cast<std::uint32_t>(imm.payload));
    EXPECT_TRUE(r.clean());

    // The same destination with the immediate as the only source.
    z::CodeGenerator g2(e.hw);
    const std::uint32_t opcode = s.below(128);
    e.op_imm(g2, opcode, z::DataType(0xa0), m, dst, imm);
    const std::uint32_t widest2 = std::max({4u, element_bytes(ds.type), element_bytes(imm_type)});
    const z::RegisterOperand cd2 = completed(dst, e.hw, exec, widest2, 0xa0, -1, 1);
    Reader r2(last_instruction(g2));
    const LegacyRegular i2 = read_legacy_regular(r2);
    expect_legacy_control(i2, opcode, m, cd2);
    expect_legacy_destination(i2.dst, cd2);
    EXPECT_EQ(i2.src0_file, 3u);
    EXPECT_EQ(i2.src0_type, legacy_immediate_code(e.hw, imm_type));
    EXPECT_EQ(i2.src0_field, 0u);
    EXPECT_EQ(i2.dword3, static_cast<std::uint32_t>(imm.payload));
    EXPECT_SWEEP_CASE_CLEAN(r2, n);
  }
  EXPECT_GT(encoded, 200);
}

TEST_P(LegacyEncoderTest, SendSweepReadsBackEveryField) {
  const LegacyEncoders& e = GetParam();
  Sweep s;
  for (int n = 0; n < 300; ++n) {
    z::CodeGenerator g(e.hw);
    const InstructionModifier m(s.bits64());
    const std::uint32_t ex = static_cast<std::uint32_t>(s.bits64());
    const std::uint32_t desc = static_cast<std::uint32_t>(s.bits64());
    const OperandFields ds = n % 4 == 0 ? random_indirect(s, 0x60) : random_direct(s, {0x60, 0xa0, 0x82});
    OperandFields ss = random_direct(s, {0x60, 0xa0});
    ss.hstride = s.pick({0, 1, 2, 4});
    const z::RegisterOperand dst = operand(ds), src = operand(ss);
    e.send(g, m, dst, src, ex, desc);
    Reader r(last_instruction(g));
    const LegacySend i = read_legacy_send(r);
    EXPECT_EQ(i.opcode, 49u);
    EXPECT_EQ(i.modifier_8, (m.bits >> 8) & 1);
    EXPECT_EQ(i.control_9_23, (m.bits >> 9) & 0x7FFF);
    EXPECT_EQ(i.shared_function, ex & 0xF);
    EXPECT_EQ(i.control_28_31, (m.bits >> 28) & 0xF);
    EXPECT_EQ(i.modifier_32_34, (m.bits >> 32) & 7);
    EXPECT_EQ(i.modifier_36, (m.bits >> 36) & 1);
    EXPECT_EQ(i.modifier_43_47, (m.bits >> 43) & 0x1F);
    EXPECT_EQ(i.dst_file, 1u);
    EXPECT_EQ(i.dst_type, legacy_register_code(e.hw, ds.type));
    EXPECT_EQ(i.src0_file, 1u);
    EXPECT_EQ(i.dst.indirect, ds.indirect);
    if (ds.indirect) {
      EXPECT_EQ(i.dst.address_imm, ds.offset & 0x3FF);
      EXPECT_EQ(i.dst.subregister, ds.reg);
      EXPECT_EQ(i.dst.h_code, stride_code(ds.hstride) & 1);
    } else {
      EXPECT_EQ(i.dst.byte_offset, (ds.offset << log2u(element_bytes(ds.type))) % 32);
      EXPECT_EQ(i.dst.reg, ds.reg);
      EXPECT_EQ(i.dst.h_code, stride_code(ds.hstride) & 3);
    }
    // Source field bits 4-15: register, byte-offset bit 4, modifiers, mode.
    const std::uint32_t byte_offset = (ss.offset << log2u(element_bytes(ss.type))) % 32;
    EXPECT_EQ(i.src0_field_4_15,
              ((byte_offset & 0x10) | (ss.reg << 5) | (ss.modifiers << 13)) & 0xFFF0);
    EXPECT_EQ(i.src1_file, 3u);
    EXPECT_EQ(i.extended, ex & 0xFFFF0020u);
    EXPECT_EQ(i.descriptor, desc & 0x7FFFFFFFu);
    EXPECT_SWEEP_CASE_CLEAN(r, n);
  }
}

// ---------------------------------------------------------------------------
// Refusals.

// Register fields hold eight bits: r256 and above are refused in every
// destination and source, never cut to a low register.
TEST_P(LegacyEncoderTest, RegistersAbove255AreRefused) {
  const LegacyEncoders& e = GetParam();
  z::CodeGenerator g(e.hw);
  e.mov(g, InstructionModifier(8), grf(1), grf(2));
  const Immediate imm32(1, z::DataType(0xa0));
  const char* limited = "This instruction only supports r0-r255";
  for (std::uint32_t high : {256u, 300u, 511u}) {
    expect_refused<z::limited_to_256_grf_exception>(g, [&] { e.mov(g, InstructionModifier(8), grf(high), grf(2)); },
                                                    limited);
    expect_refused<z::limited_to_256_grf_exception>(g, [&] { e.mov(g, InstructionModifier(8), grf(1), grf(high)); },
                                                    limited);
    expect_refused<z::limited_to_256_grf_exception>(
        g, [&] { e.op_imm(g, 1, z::DataType(0xa0), InstructionModifier(1), grf(high), imm32); }, limited);
    expect_refused<z::limited_to_256_grf_exception>(
        g, [&] { e.cmp(g, InstructionModifier(1), grf(high, 0xa0), grf(2, 0xa0), imm32); }, limited);
    expect_refused<z::limited_to_256_grf_exception>(
        g, [&] { e.cmp(g, InstructionModifier(1), grf(1, 0xa0), grf(high, 0xa0), imm32); }, limited);
    expect_refused<z::limited_to_256_grf_exception>(
        g, [&] { e.send(g, InstructionModifier(1), grf(high), grf(2), 0, 0); }, limited);
  }
  e.mov(g, InstructionModifier(8), grf(255), grf(255));
  EXPECT_EQ(g.top_stream().code.size(), 4u);
}

TEST_P(LegacyEncoderTest, RefusalsLeaveTheStreamUnchanged) {
  const LegacyEncoders& e = GetParam();
  z::CodeGenerator g(e.hw);
  e.mov(g, InstructionModifier(8), grf(1), grf(2));  // something already in the stream
  const z::RegisterOperand invalid;
  expect_refused<z::invalid_object_exception>(g, [&] { e.mov(g, InstructionModifier(8), invalid, grf(2)); },
                                              "Object is invalid");
  expect_refused<z::invalid_object_exception>(g, [&] { e.mov(g, InstructionModifier(8), grf(1), invalid); },
                                              "Object is invalid");
  expect_refused<z::missing_type_exception>(
      g, [&] { e.cmp(g, InstructionModifier(1), grf(1), grf(2), Immediate(1, z::DataType(0xa0))); },
      "Operand is missing its type");
  expect_refused<z::missing_type_exception>(
      g, [&] { e.op_imm(g, 1, z::DataType(0x60), InstructionModifier(1), grf(1), Immediate(1, z::DataType(0xa0))); },
      "Operand is missing its type");
  expect_refused<z::invalid_immediate_exception>(
      g, [&] { e.op_imm(g, 1, z::DataType(0xa0), InstructionModifier(1), grf(1), Immediate(1, z::DataType(0xe0))); },
      "Invalid immediate value");
  expect_refused<z::invalid_immediate_exception>(
      g, [&] { e.cmp(g, InstructionModifier(1), grf(1, 0xa0), grf(2, 0xa0), Immediate(1, z::DataType(0xc8))); },
      "Invalid immediate value");
  expect_refused<z::invalid_object_exception>(g, [&] { e.send(g, InstructionModifier(1), invalid, grf(2), 0, 0); },
                                              "Object is invalid");
  expect_refused<z::invalid_object_exception>(g, [&] { e.send(g, InstructionModifier(1), grf(1), invalid, 0, 0); },
                                              "Object is invalid");
  expect_refused<z::invalid_object_exception>(g, [&] { e.thread_end(g, InstructionModifier(0), invalid); },
                                              "Object is invalid");
  EXPECT_EQ(g.top_stream().code.size(), 2u);
}

TEST(LegacyTwinsTest, SutalDiffersFromVemraOnlyInTypeCodes) {
  // Type index 6 is code 6 as a Vemra register and 10 on Sutal.
  z::CodeGenerator v(z::hw::vemra), s(z::hw::sutal);
  z::encode_mov_hw1(v, InstructionModifier(1), grf(3, 0xa6), grf(4, 0xa6));
  z::encode_mov_hw3(s, InstructionModifier(1), grf(3, 0xa6), grf(4, 0xa6));
  Words wv = last_instruction(v), ws = last_instruction(s);
  EXPECT_EQ((wv[1] >> 5) & 0xF, 6u);
  EXPECT_EQ((ws[1] >> 5) & 0xF, 10u);
  EXPECT_EQ((wv[1] >> 11) & 0xF, 6u);
  EXPECT_EQ((ws[1] >> 11) & 0xF, 10u);
  wv[1] &= ~((0xFu << 5) | (0xFu << 11));
  ws[1] &= ~((0xFu << 5) | (0xFu << 11));
  EXPECT_EQ(wv, ws);
}

INSTANTIATE_TEST_SUITE_P(Generations, LegacyEncoderTest, ::testing::Values(vemra, sutal),
                         [](const auto& info) { return info.param.hw == z::hw::vemra ? "Vemra" : "Sutal"; });

}  // namespace
}  // namespace zorn_test
