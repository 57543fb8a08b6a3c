// Dorik, Gulon, Harix, Jorva and Lumet encoders: sweeps of every form read
// back with the independent reader, the worked examples and the refusals.
#include <gtest/gtest.h>

#include <functional>

#include "gpu/zorn/encoders/encoders.hpp"
#include "tests/zorn/encoders/field_reader.hpp"
#include "tests/zorn/encoders/test_support.hpp"

namespace zorn_test {
namespace {

using z::Immediate;
using z::InstructionModifier;
using z::RegisterOperand;

// ---------------------------------------------------------------------------
// Scoreboard values as the format descriptions define them.

std::uint32_t expected_scoreboard_byte(std::uint64_t m) {
  const std::uint32_t token = (m >> 48) & 0xF;
  const bool src = (m >> 54) & 1, dst = (m >> 55) & 1;
  const std::uint32_t distance = (m >> 56) & 7;
  const bool has_distance = ((m >> 56) & 0xF) != 0;
  const std::uint32_t pipe = (m >> 60) & 7;
  static const std::uint32_t pipe_codes[8] = {0, 1, 2, 3, 10, 0, 0, 0};
  if (has_distance && (src || dst)) return 0x80 | (distance << 4) | token;
  if (has_distance) return (pipe_codes[pipe] << 3) | distance;
  if (src || dst) return token | (src && dst ? 0x40 : src ? 0x30 : 0x20);
  return 0;
}

std::uint32_t expected_scoreboard_field(std::uint64_t m, std::uint32_t opcode) {
  const std::uint32_t token = (m >> 48) & 0x1F;
  const bool src = (m >> 54) & 1, dst = (m >> 55) & 1;
  const bool has_distance = ((m >> 56) & 0xF) != 0;
  const std::uint32_t distance = (m >> 56) & 7;
  const std::uint32_t pipe = (m >> 60) & 0xF;
  if (!has_distance && (src || dst)) return 128 + token + 32 * (src && dst ? 2 : src ? 1 : 0);
  if (!has_distance) return ((m >> 53) & 1) ? 240 : 0;
  if (!src && !dst) return distance + 8 * pipe;
  std::uint32_t extra = 256;
  if (src && dst)
    extra = pipe == 2 ? 512 : pipe == 3 ? 768 : 256;
  else if (src)
    extra = 512;
  else
    extra = (pipe == 1 || opcode == 89) ? 768 : 256;
  return token + 32 * distance + extra;
}

// ---------------------------------------------------------------------------
// The encoders of one generation behind one signature per form.

using RegMove = std::function<void(z::CodeGenerator&, std::uint32_t, z::DataType, InstructionModifier, RegisterOperand,
                                   RegisterOperand)>;
using ImmMove = std::function<void(z::CodeGenerator&, std::uint32_t, z::DataType, InstructionModifier, RegisterOperand,
                                   Immediate)>;
using Compare = std::function<void(z::CodeGenerator&, std::uint32_t, z::DataType, InstructionModifier, RegisterOperand,
                                   RegisterOperand, Immediate)>;
using Send = std::function<void(z::CodeGenerator&, std::uint32_t, InstructionModifier, std::uint8_t, RegisterOperand,
                                RegisterOperand, RegisterOperand, std::uint32_t, std::uint32_t)>;
using Ternary = std::function<void(z::CodeGenerator&, InstructionModifier, RegisterOperand, RegisterOperand,
                                   RegisterOperand, Immediate)>;

struct Modern {
  const char* name;
  z::HW hw;
  bool wide;
  bool fixed_opcodes;  // Dorik: mov 97 with 0xa0, cmp 112 with 0x60
  RegMove reg_move;
  ImmMove imm_move;
  Compare compare;
  Send send;
  Ternary ternary;  // empty on Dorik
};

Modern dorik() {
  return {"Dorik", z::hw::dorik, false, true,
          [](auto& g, std::uint32_t, z::DataType, auto m, auto d, auto s) { z::encode_mov_hw4(g, m, d, s); },
          [](auto& g, std::uint32_t op, z::DataType t, auto m, auto d, auto i) { z::encode_op_imm_hw4(g, op, t, m, d, i); },
          [](auto& g, std::uint32_t, z::DataType, auto m, auto d, auto s, auto i) { z::encode_cmp_imm_hw4(g, m, d, s, i); },
          [](auto& g, std::uint32_t op, auto m, std::uint8_t, auto d, auto s0, auto s1, std::uint32_t ex, std::uint32_t desc) {
            z::encode_send_hw4(g, op, m, d, s0, s1, ex, desc);
          },
          nullptr};
}
Modern gulon() {
  return {"Gulon", z::hw::gulon, false, false, z::encode_unary_op_hw6, z::encode_op_imm_hw6, z::encode_binary_op_hw6,
          z::encode_send_hw6, z::encode_ternary_hw6};
}
template <int N>
Modern wide(const char* name, z::HW hw) {
  auto imm = [](auto& g, std::uint32_t, z::DataType, auto m, auto d, auto i) {
    if constexpr (N == 7) z::encode_op_imm_mod_hw7(g, m, d, i);
    if constexpr (N == 8) z::encode_op_imm_mod_hw8(g, m, d, i);
    if constexpr (N == 9) z::encode_op_imm_mod_hw9(g, m, d, i);
  };
  auto send = [](auto& g, std::uint32_t op, auto m, std::uint8_t f, auto d, auto s0, auto s1, std::uint32_t ex,
                 std::uint32_t desc) {
    if constexpr (N == 9)
      z::encode_send_hw9(g, op, m, f, d, s0, s1, ~0ull, ex, desc);
    else
      z::encode_send_hw7(g, op, m, f, d, s0, s1, ~0ull, ex, desc);
  };
  if constexpr (N == 7)
    return {name, hw, true, false, z::encode_unary_op_hw7, imm, z::encode_binary_op_hw7, send, z::encode_ternary_hw7};
  else if constexpr (N == 8)
    return {name, hw, true, false, z::encode_unary_op_hw8, imm, z::encode_binary_op_hw8, send, z::encode_ternary_hw8};
  else
    return {name, hw, true, false, z::encode_unary_op_hw9, imm, z::encode_binary_op_hw9, send, z::encode_ternary_hw9};
}

void PrintTo(const Modern& m, std::ostream* os) { *os << m.name; }

class ModernEncoderTest : public ::testing::TestWithParam<Modern> {};

// ---------------------------------------------------------------------------
// Expectations shared by the regular forms.

OperandFields random_direct(Sweep& s, std::initializer_list<std::uint32_t> types, bool wide) {
  OperandFields o{};
  o.type = static_cast<std::uint8_t>(s.pick(types));
  o.reg = s.below(256);
  o.arf = s.below(8) == 0;
  o.offset = s.below((wide ? 64 : 32) / element_bytes(o.type));
  o.modifiers = s.below(4);
  if (s.below(2)) {
    o.hstride = s.pick({0, 1, 2, 4});
    o.width = s.pick({0, 1, 2, 4, 8, 16});
    o.vstride = s.pick({0, 1, 2, 4, 8, 16, 32});
  } else {
    o.hstride = s.pick({0, 1, 2, 4});
  }
  return o;
}
OperandFields random_indirect(Sweep& s, std::uint8_t type, bool wide) {
  OperandFields o{};
  o.type = type;
  o.indirect = true;
  o.reg = s.below(16);
  o.offset = s.below(wide ? 2048 : 1024);
  o.vstride = s.pick({127, 0, 1, 4});
  o.width = s.pick({1, 2, 4});
  o.hstride = s.pick({0, 1, 2});
  return o;
}

void expect_control(const Control& c, const Modern& e, std::uint32_t opcode, std::uint64_t m) {
  EXPECT_EQ(c.opcode, opcode & 0x7F);
  EXPECT_EQ(c.marker, (m >> 45) & 1);
  EXPECT_EQ(c.scoreboard, e.wide ? expected_scoreboard_field(m, opcode) : expected_scoreboard_byte(m));
  EXPECT_EQ(c.exec_code, (m >> 21) & 7);
  EXPECT_EQ(c.mod_11_13, e.wide ? (m >> 11) & 6 : (m >> 11) & 7);
  EXPECT_EQ(c.mod_32_33, (m >> 32) & 3);
  EXPECT_EQ(c.predicate, e.wide ? (m >> 16) & 3 : (m >> 16) & 0xF);
  EXPECT_EQ(c.invert, (m >> 20) & 1);
  EXPECT_EQ(c.mod_29_30, (m >> 29) & 3);
  EXPECT_EQ(c.mod_34, (m >> 34) & 1);
  EXPECT_EQ(c.mod_44, e.wide ? (m >> 44) & 1 : 0u);
}

// `opcode`: on wide formats opcode 89 gives instruction bit 33 to modifier
// bit 28, so bit 0 of the destination's offset is not carried.
void expect_destination(const ModernOperand& d, const Modern& e, RegisterOperand dst, std::uint32_t opcode = 0) {
  const std::uint32_t low_bit_mask = (e.wide && opcode == 89) ? ~1u : ~0u;
  EXPECT_EQ(d.indirect, dst.is_indirect());
  EXPECT_EQ(d.h_code, stride_code(hstride_of(dst)) & 3);
  if (dst.is_indirect()) {
    EXPECT_EQ(d.address_imm & low_bit_mask, offset_of(dst) & (e.wide ? 0x7FF : 0x3FF) & low_bit_mask);
    EXPECT_EQ(d.subregister, dst.bits & 0xF);
  } else {
    EXPECT_EQ(d.grf, dst.is_arf() ? 0u : 1u);
    EXPECT_EQ(d.byte_offset & low_bit_mask, byte_offset_of(dst) % (e.wide ? 64 : 32) & low_bit_mask);
    EXPECT_EQ(d.reg, dst.bits & 0xFF);
  }
}

void expect_source(const ModernOperand& s, const Modern& e, RegisterOperand src) {
  EXPECT_EQ(s.indirect, src.is_indirect());
  EXPECT_EQ(s.h_code, stride_code(hstride_of(src)) & 3);
  if (src.is_indirect()) {
    EXPECT_EQ(s.address_imm, offset_of(src) & (e.wide ? 0x7FF : 0x3FF));
    EXPECT_EQ(s.subregister, src.bits & 0xF);
  } else {
    EXPECT_EQ(s.grf, src.is_arf() ? 0u : 1u);
    EXPECT_EQ(s.byte_offset, byte_offset_of(src) % (e.wide ? 64 : 32));
    EXPECT_EQ(s.reg, src.bits & 0xFF);
  }
  EXPECT_EQ(s.width_code, width_code(width_of(src)) & 7);
  const bool per_address = src.is_indirect() && vstride_of(src) == 127;
  EXPECT_EQ(s.v_code, per_address ? (e.wide ? 7u : 15u) : stride_code(vstride_of(src)) & (e.wide ? 7 : 15));
}

std::uint32_t dorik_code(std::uint32_t type) { return dorik_codes[type & 0x1F]; }

// Instruction bit 33 of the wide regular forms.
std::uint32_t expected_bit33(const Modern& e, std::uint32_t opcode, std::uint64_t m, RegisterOperand dst) {
  if (!e.wide || opcode == 89) return (m >> 28) & 1;
  return dst.is_indirect() ? offset_of(dst) & 1 : byte_offset_of(dst) & 1;
}

// ---------------------------------------------------------------------------
// Sweeps.

TEST_P(ModernEncoderTest, RegisterMoveSweepReadsBackEveryField) {
  const Modern& e = GetParam();
  Sweep s;
  int encoded = 0;
  for (int n = 0; n < 400; ++n) {
    z::CodeGenerator g(e.hw);
    g.default_modifier = InstructionModifier(s.bits64() & ~std::uint64_t{0xFF});
    const std::uint32_t exec = s.pick({1, 2, 4, 8, 16, 32});
    const InstructionModifier own((s.bits64() & ~std::uint64_t{0xFF}) | exec);
    const std::uint32_t opcode = e.fixed_opcodes ? 97 : s.pick({97, 89, 5, 100});
    const std::uint8_t default_type = e.fixed_opcodes ? 0xa0 : static_cast<std::uint8_t>(s.pick({0xa0, 0xc8, 0x82}));
    const OperandFields ds = n % 5 == 0 ? random_indirect(s, 0xa0, e.wide) : random_direct(s, {0x60, 0xa0, 0x82, 0xa6}, e.wide);
    const OperandFields ss = n % 7 == 0 ? random_indirect(s, 0xa0, e.wide) : random_direct(s, {0x60, 0xa0, 0x82, 0xc8}, e.wide);
    const RegisterOperand dst = operand(ds), src = operand(ss);
    try {
      e.reg_move(g, opcode, z::DataType(default_type), own, dst, src);
    } catch (const z::invalid_region_exception&) {
      continue;
    }
    ++encoded;
    const std::uint64_t m = own.bits | g.default_modifier.bits;
    const std::uint32_t widest = e.fixed_opcodes
                                     ? std::max({element_bytes(ds.type), element_bytes(ss.type), 4u})
                                     : std::max({element_bytes(default_type), element_bytes(ds.type), element_bytes(ss.type)});
    const RegisterOperand cd = completed(dst, e.hw, exec, widest, default_type, -1, 1);
    const RegisterOperand cs = completed(src, e.hw, exec, widest, default_type, 0, 1);
    Reader r(last_instruction(g));
    const ModernRegular i = read_modern_regular(r, e.wide, true);
    expect_control(i.control, e, opcode, m);
    EXPECT_EQ(i.mod_14, (m >> 14) & 1);
    EXPECT_EQ(i.bit33, expected_bit33(e, opcode, m, cd));
    EXPECT_EQ(i.mod_31, (m >> 31) & 1);
    EXPECT_EQ(i.dst_type, dorik_code(type_of(cd)));
    EXPECT_EQ(i.src0_type, dorik_code(type_of(cs)));
    EXPECT_EQ(i.src0_mods, (cs.bits >> 21) & 3);
    EXPECT_EQ(i.src0_imm, 0u);
    EXPECT_EQ(i.src1_imm, 0u);
    expect_destination(i.dst, e, cd, opcode);
    expect_source(i.src0, e, cs);
    EXPECT_EQ(i.src1_type, 0u);
    EXPECT_EQ(i.condition, (own.bits >> 24) & 0xF) << "the condition comes from the call's own modifier";
    EXPECT_EQ(i.dword3, 0u);
    EXPECT_SWEEP_CASE_CLEAN(r, n);
  }
  EXPECT_GT(encoded, 300);
}

TEST_P(ModernEncoderTest, CompareAndImmediateMoveSweepsReadBackEveryField) {
  const Modern& e = GetParam();
  Sweep s;
  for (int n = 0; n < 300; ++n) {
    z::CodeGenerator g(e.hw);
    g.default_modifier = InstructionModifier(s.bits64() & ~std::uint64_t{0xFF});
    const std::uint32_t exec = s.pick({1, 8, 16});
    const InstructionModifier own((s.bits64() & ~std::uint64_t{0xFF}) | exec);
    const std::uint64_t m = own.bits | g.default_modifier.bits;
    const std::uint32_t opcode = e.fixed_opcodes ? 112 : s.pick({112, 101, 64});
    const std::uint8_t default_type = e.fixed_opcodes ? 0x60 : static_cast<std::uint8_t>(s.pick({0x60, 0xa0}));
    const std::uint8_t imm_type = static_cast<std::uint8_t>(s.pick({0xa0, 0xa1, 0x82, 0x83, 0xa6, 0x8a}));
    const Immediate imm(s.bits64(), z::DataType(imm_type));
    const OperandFields ds = random_direct(s, {0xa0, 0x82, 0xa1}, e.wide);
    const OperandFields ss = n % 6 == 0 ? random_indirect(s, 0xa0, e.wide) : random_direct(s, {0xa0, 0x82, 0xa6}, e.wide);
    const RegisterOperand dst = operand(ds), src = operand(ss);
    bool encoded = true;
    try {
      e.compare(g, opcode, z::DataType(default_type), own, dst, src, imm);
    } catch (const z::invalid_region_exception&) {
      encoded = false;
    }
    if (encoded) {
      const std::uint32_t widest = std::max({element_bytes(default_type), element_bytes(ds.type),
                                             element_bytes(ss.type), element_bytes(imm_type)});
      const RegisterOperand cd = completed(dst, e.hw, exec, widest, default_type, -1, 2);
      const RegisterOperand cs = completed(src, e.hw, exec, widest, default_type, 0, 2);
      Reader r(last_instruction(g));
      const ModernRegular i = read_modern_regular(r, e.wide, true);
      expect_control(i.control, e, opcode, m);
      EXPECT_EQ(i.bit33, expected_bit33(e, opcode, m, cd));
      EXPECT_EQ(i.dst_type, dorik_code(type_of(cd)));
      EXPECT_EQ(i.src0_type, dorik_code(type_of(cs)));
      EXPECT_EQ(i.src1_imm, 1u);
      expect_destination(i.dst, e, cd);
      expect_source(i.src0, e, cs);
      EXPECT_EQ(i.src1_type, dorik_code(imm_type));
      EXPECT_EQ(i.condition, (own.bits >> 24) & 0xF);
      EXPECT_EQ(i.dword3, static_cast<std::uint32_t>(imm.payload));
      EXPECT_TRUE(r.clean());
    }

    // Immediate move: 32-bit and 64-bit immediates, no conditional modifier
    // with the 64-bit ones.
    z::CodeGenerator g2(e.hw);
    const bool wide_imm = s.below(2) == 0;
    const Immediate imm2(s.bits64(), z::DataType(wide_imm ? 0xc8 : imm_type));
    const InstructionModifier own2(wide_imm ? own.bits & ~(std::uint64_t{0xF} << 24) : own.bits);
    const std::uint32_t mov_opcode = e.wide ? 97 : s.pick({97, 1, 64});
    const std::uint8_t mov_default = e.wide ? 0x60 : 0xa0;
    e.imm_move(g2, mov_opcode, z::DataType(mov_default), own2, dst, imm2);
    const std::uint32_t widest2 =
        std::max({element_bytes(mov_default), element_bytes(ds.type), element_bytes(imm2.type.value)});
    const RegisterOperand cd2 = completed(dst, e.hw, exec, widest2, mov_default, -1, 1);
    Reader r2(last_instruction(g2));
    const ModernRegular i2 = read_modern_regular(r2, e.wide, false);
    expect_control(i2.control, e, mov_opcode, own2.bits);
    EXPECT_EQ(i2.src0_imm, 1u);
    EXPECT_EQ(i2.src0_type, dorik_code(imm2.type.value));
    EXPECT_EQ(i2.src0_mods, 0u);
    expect_destination(i2.dst, e, cd2);
    if (wide_imm) {
      EXPECT_EQ(r2(2, 0, 31), static_cast<std::uint32_t>(imm2.payload >> 32));
    } else {
      EXPECT_EQ(r2(2, 0, 27), 0u);
      EXPECT_EQ(i2.condition, (own2.bits >> 24) & 0xF);
    }
    EXPECT_EQ(i2.dword3, static_cast<std::uint32_t>(imm2.payload));
    EXPECT_SWEEP_CASE_CLEAN(r2, n);
  }
}

TEST_P(ModernEncoderTest, SendSweepReadsBackEveryField) {
  const Modern& e = GetParam();
  Sweep s;
  for (int n = 0; n < 300; ++n) {
    z::CodeGenerator g(e.hw);
    const InstructionModifier own(s.bits64());
    const std::uint32_t ex = static_cast<std::uint32_t>(s.bits64());
    const std::uint32_t desc = static_cast<std::uint32_t>(s.bits64());
    const std::uint8_t function = static_cast<std::uint8_t>(s.below(16));
    const std::uint32_t opcode = s.pick({49, 51});
    auto reg = [&] {
      OperandFields o{};
      o.reg = s.below(256);
      o.arf = s.below(4) == 0;
      o.type = static_cast<std::uint8_t>(s.pick({0x60, 0xa0}));
      return operand(o);
    };
    const RegisterOperand d = reg(), s0 = reg(), s1 = reg();
    e.send(g, opcode, own, function, d, s0, s1, ex, desc);
    Reader r(last_instruction(g));
    const ModernSend i = read_modern_send(r, e.wide);
    const std::uint32_t expected_opcode = e.hw == z::hw::dorik ? 49 : opcode;
    expect_control(i.control, e, expected_opcode, own.bits);
    EXPECT_EQ(i.mod_14, (own.bits >> 14) & 1);
    EXPECT_EQ(i.mod_46, (own.bits >> 46) & 1);
    EXPECT_EQ(i.dst_grf, d.is_arf() ? 0u : 1u);
    EXPECT_EQ(i.dst_reg, d.bits & 0xFF);
    EXPECT_EQ(i.src0_grf, s0.is_arf() ? 0u : 1u);
    EXPECT_EQ(i.src0_reg, s0.bits & 0xFF);
    EXPECT_EQ(i.src1_grf, s1.is_arf() ? 0u : 1u);
    EXPECT_EQ(i.src1_reg, s1.bits & 0xFF);
    EXPECT_EQ(i.shared_function, e.hw == z::hw::dorik ? ex & 0xF : function);
    EXPECT_EQ(i.extended_without_6_10, ex & 0xFFFFF820u);
    EXPECT_EQ(i.extended_6_10, (ex >> 6) & 0x1F);
    EXPECT_EQ(i.descriptor, desc);
    EXPECT_SWEEP_CASE_CLEAN(r, n);
  }
}

// Gulon and later: the three-source form.
class ThreeSourceEncoderTest : public ModernEncoderTest {};

TEST_P(ThreeSourceEncoderTest, SweepReadsBackEveryField) {
  const Modern& e = GetParam();
  ASSERT_TRUE(static_cast<bool>(e.ternary));
  Sweep s;
  int encoded = 0;
  for (int n = 0; n < 400; ++n) {
    z::CodeGenerator g(e.hw);
    g.default_modifier = InstructionModifier(s.bits64() & ~std::uint64_t{0xFF});
    const std::uint32_t exec = s.pick({1, 8, 16});
    const InstructionModifier own((s.bits64() & ~std::uint64_t{0xFF}) | exec);
    const std::uint64_t m = own.bits | g.default_modifier.bits;
    // Integer types (code bit 3 clear) or float types (set), never mixed here.
    const bool floating = s.below(2) == 0;
    auto type = [&] {
      return static_cast<std::uint8_t>(floating ? s.pick({0xaa, 0x8a, 0xa7}) : s.pick({0xa0, 0xa1, 0x82, 0x60}));
    };
    auto source = [&] {
      OperandFields o{};
      o.type = type();
      o.reg = s.below(256);
      o.offset = s.below((e.wide ? 64 : 32) / element_bytes(o.type == 0x60 ? 0xa0 : o.type));
      o.modifiers = s.below(4);
      o.arf = s.below(10) == 0;
      if (s.below(2)) {
        o.vstride = s.pick({0, 1, 4, 8, 2, 16});
        o.width = s.pick({1, 2, 4, 8});
        o.hstride = s.pick({0, 1, 2});
      } else {
        o.hstride = s.pick({1, 2});
      }
      return o;
    };
    const OperandFields ds = source(), s0 = source(), s1 = source();
    const std::uint8_t imm_type = floating ? 0x8a : static_cast<std::uint8_t>(s.pick({0x82, 0x83}));
    const Immediate imm(s.bits64(), z::DataType(imm_type));
    try {
      e.ternary(g, own, operand(ds), operand(s0), operand(s1), imm);
    } catch (const z::invalid_region_exception&) {
      continue;
    }
    ++encoded;
    const std::uint32_t widest = std::max({4u, element_bytes(ds.type), element_bytes(s0.type), element_bytes(s1.type),
                                           element_bytes(imm_type)});
    const RegisterOperand cd = completed(operand(ds), e.hw, exec, widest, 0xa0, -1, 3);
    const RegisterOperand c0 = completed(operand(s0), e.hw, exec, widest, 0xa0, 0, 3);
    const RegisterOperand c1 = completed(operand(s1), e.hw, exec, widest, 0xa0, 1, 3);
    auto region = [](RegisterOperand o) -> std::uint32_t {
      switch (vstride_of(o)) {
        case 0: return 0;
        case 1: return 1;
        case 4: return 2;
        default: return 3;
      }
    };
    auto expect_operand = [&](const ThreeSourceOperand& f, RegisterOperand o, bool destination) {
      const std::uint32_t hs = hstride_of(o);
      EXPECT_EQ(f.h_code, destination ? (hs == 0 ? 0 : log2u(hs)) & 3 : stride_code(hs) & 3);
      EXPECT_EQ(f.grf, o.is_arf() ? 0u : 1u);
      const std::uint32_t bo = byte_offset_of(o) % (e.wide ? 64 : 32);
      EXPECT_EQ(f.byte_offset, (e.wide && !destination) ? bo & ~1u : bo);
      EXPECT_EQ(f.reg, o.bits & 0xFF);
    };
    Reader r(last_instruction(g));
    const ThreeSource t = read_three_source(r, e.wide);
    expect_control(t.control, e, 91, m);
    EXPECT_EQ(t.mod_14, (m >> 14) & 1);
    if (!e.wide) {
      EXPECT_EQ(t.bit33, (m >> 28) & 1);
    }
    EXPECT_EQ(t.mod_31, (m >> 31) & 1);
    EXPECT_EQ(t.dst_type, dorik_code(type_of(cd)));
    EXPECT_EQ(t.src0_type, dorik_code(type_of(c0)) & 7);
    EXPECT_EQ(t.src0_region, region(c0));
    EXPECT_EQ(t.src0_mods, (c0.bits >> 21) & 3);
    EXPECT_EQ(t.bit46, 0u);
    EXPECT_EQ(t.bit47, 1u);
    expect_operand(t.dst, cd, true);
    expect_operand(t.src0, c0, false);
    expect_operand(t.src1, c1, false);
    EXPECT_EQ(t.imm_type, dorik_code(imm_type) & 7);
    EXPECT_EQ(t.src1_region, region(c1));
    EXPECT_EQ(t.src1_mods, (c1.bits >> 21) & 3);
    EXPECT_EQ(t.src1_type, dorik_code(type_of(c1)) & 7);
    EXPECT_EQ(t.condition, (own.bits >> 24) & 0xF);
    EXPECT_EQ(t.immediate, imm.payload & 0xFFFF);
    EXPECT_SWEEP_CASE_CLEAN(r, n);
  }
  EXPECT_GT(encoded, 200);
}

// ---------------------------------------------------------------------------
// Refusals.

// Register fields outside the send form hold eight bits: r256 and above are
// refused in every destination and source, never cut to a low register.
TEST_P(ModernEncoderTest, RegistersAbove255AreRefusedOutsideTheSendForm) {
  const Modern& e = GetParam();
  z::CodeGenerator g(e.hw);
  e.reg_move(g, 97, z::DataType(0xa0), InstructionModifier(8), grf(1), grf(2));
  const Immediate imm32(7, z::DataType(0xa0));
  const char* limited = "This instruction only supports r0-r255";
  for (std::uint32_t high : {256u, 300u, 511u}) {
    expect_refused<z::limited_to_256_grf_exception>(
        g, [&] { e.reg_move(g, 97, z::DataType(0xa0), InstructionModifier(8), grf(high), grf(2)); }, limited);
    expect_refused<z::limited_to_256_grf_exception>(
        g, [&] { e.reg_move(g, 97, z::DataType(0xa0), InstructionModifier(8), grf(1), grf(high)); }, limited);
    expect_refused<z::limited_to_256_grf_exception>(
        g, [&] { e.imm_move(g, 97, z::DataType(0xa0), InstructionModifier(1), grf(high, 0xa0), imm32); }, limited);
    expect_refused<z::limited_to_256_grf_exception>(
        g, [&] { e.compare(g, 112, z::DataType(0x60), InstructionModifier(1), grf(high, 0xa0), grf(2, 0xa0), imm32); },
        limited);
    expect_refused<z::limited_to_256_grf_exception>(
        g, [&] { e.compare(g, 112, z::DataType(0x60), InstructionModifier(1), null_ud, grf(high, 0xa0), imm32); },
        limited);
    if (e.ternary) {
      const Immediate imm16(3, z::DataType(0x82));
      const InstructionModifier m8(8);
      expect_refused<z::limited_to_256_grf_exception>(
          g, [&] { e.ternary(g, m8, grf(high, 0xa0), grf(2, 0xa0), grf(3, 0xa0), imm16); }, limited);
      expect_refused<z::limited_to_256_grf_exception>(
          g, [&] { e.ternary(g, m8, grf(1, 0xa0), grf(high, 0xa0), grf(3, 0xa0), imm16); }, limited);
      expect_refused<z::limited_to_256_grf_exception>(
          g, [&] { e.ternary(g, m8, grf(1, 0xa0), grf(2, 0xa0), grf(high, 0xa0), imm16); }, limited);
    }
  }
  // r255 and the null register still encode.
  e.reg_move(g, 97, z::DataType(0xa0), InstructionModifier(8), grf(255), grf(255));
  e.compare(g, 112, z::DataType(0x60), InstructionModifier(1), null_ud, grf(255, 0xa0), imm32);
  EXPECT_EQ(g.top_stream().code.size(), 6u);
}

TEST_P(ModernEncoderTest, RefusalsLeaveTheStreamUnchanged) {
  const Modern& e = GetParam();
  z::CodeGenerator g(e.hw);
  e.reg_move(g, 97, z::DataType(0xa0), InstructionModifier(8), grf(1), grf(2));
  const RegisterOperand invalid;
  const Immediate imm32(7, z::DataType(0xa0)), imm64(7, z::DataType(0xc8)), imm128(7, z::DataType(0xe0));
  const char* object = "Object is invalid";
  expect_refused<z::invalid_object_exception>(
      g, [&] { e.reg_move(g, 97, z::DataType(0xa0), InstructionModifier(8), invalid, grf(2)); }, object);
  expect_refused<z::invalid_object_exception>(
      g, [&] { e.reg_move(g, 97, z::DataType(0xa0), InstructionModifier(8), grf(1), invalid); }, object);
  expect_refused<z::invalid_object_exception>(
      g, [&] { e.compare(g, 112, z::DataType(0x60), InstructionModifier(1), grf(1, 0xa0), invalid, imm32); }, object);
  expect_refused<z::missing_type_exception>(
      g, [&] { e.compare(g, 112, z::DataType(0x60), InstructionModifier(1), grf(1), grf(2, 0xa0), imm32); },
      "Operand is missing its type");
  expect_refused<z::invalid_immediate_exception>(
      g, [&] { e.compare(g, 112, z::DataType(0x60), InstructionModifier(1), grf(1, 0xa0), grf(2, 0xa0), imm64); },
      "Invalid immediate value");
  expect_refused<z::invalid_immediate_exception>(
      g, [&] { e.imm_move(g, 97, z::DataType(0xa0), InstructionModifier(1), grf(1, 0xa0), imm128); },
      "Invalid immediate value");
  expect_refused<z::invalid_modifiers_exception>(
      g, [&] { e.imm_move(g, 97, z::DataType(0xa0), InstructionModifier(0x1000001), grf(1, 0xc8), imm64); },
      "Invalid or conflicting modifiers");
  const char* limited = "This instruction only supports r0-r255";
  expect_refused<z::limited_to_256_grf_exception>(
      g, [&] { e.send(g, 49, InstructionModifier(1), 15, grf(256), grf(2), null_ud, 0, 0); }, limited);
  expect_refused<z::limited_to_256_grf_exception>(
      g, [&] { e.send(g, 49, InstructionModifier(1), 15, grf(1), grf(300), null_ud, 0, 0); }, limited);
  expect_refused<z::limited_to_256_grf_exception>(
      g, [&] { e.send(g, 49, InstructionModifier(1), 15, null_ud, grf(2), grf(256), 0, 0); }, limited);
  expect_refused<z::invalid_object_exception>(
      g, [&] { e.send(g, 49, InstructionModifier(1), 15, invalid, grf(2), null_ud, 0, 0); }, object);
  if (e.ternary) {
    OperandFields indirect{};
    indirect.indirect = true;
    indirect.type = 0xa0;
    indirect.vstride = 127;
    const Immediate imm16(3, z::DataType(0x82));
    const InstructionModifier m8(8);
    expect_refused<z::invalid_immediate_exception>(
        g, [&] { e.ternary(g, m8, grf(1, 0xa0), grf(2, 0xa0), grf(3, 0xa0), imm32); }, "Invalid immediate value");
    expect_refused<z::invalid_operand_exception>(
        g, [&] { e.ternary(g, m8, operand(indirect), grf(2, 0xa0), grf(3, 0xa0), imm16); },
        "Invalid operand to instruction");
    expect_refused<z::invalid_operand_exception>(
        g, [&] { e.ternary(g, m8, grf(1, 0xa0), grf(2, 0xa0), operand(indirect), imm16); },
        "Invalid operand to instruction");
    OperandFields bad_region{};
    bad_region.reg = 4;
    bad_region.type = 0xa0;
    bad_region.vstride = 2;
    bad_region.width = 8;  // width = execution size keeps the region, vertical stride stays 8 x 0 = 0
    bad_region.hstride = 0;
    OperandFields vs2{bad_region};
    vs2.width = 4;  // a width other than the execution size leaves 2/4/0 untouched
    expect_refused<z::invalid_region_exception>(
        g, [&] { e.ternary(g, m8, grf(1, 0xa0), operand(vs2), grf(3, 0xa0), imm16); }, "Unsupported register region");
    expect_refused<z::invalid_type_exception>(
        g, [&] { e.ternary(g, m8, grf(1, 0xa0), grf(2, 0xaa), grf(3, 0xa0), imm16); },
        "Instruction does not support this type or combination of types");
  }
  EXPECT_EQ(g.top_stream().code.size(), 2u);
}

INSTANTIATE_TEST_SUITE_P(Generations, ModernEncoderTest,
                         ::testing::Values(dorik(), gulon(), wide<7>("Harix", z::hw::harix),
                                           wide<8>("Jorva", z::hw::jorva), wide<9>("Lumet", z::hw::lumet)),
                         [](const auto& info) { return std::string(info.param.name); });
INSTANTIATE_TEST_SUITE_P(Generations, ThreeSourceEncoderTest,
                         ::testing::Values(gulon(), wide<7>("Harix", z::hw::harix), wide<8>("Jorva", z::hw::jorva),
                                           wide<9>("Lumet", z::hw::lumet)),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace zorn_test
