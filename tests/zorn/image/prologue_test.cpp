// Kernel prologues: the instruction sequence of every generation, each
// instruction compared with the encoder call the prologue stands for, the
// nop padding, the two labels and the default modifier.
#include <gtest/gtest.h>

#include <vector>

#include "gpu/zorn/encoders/encoders.hpp"
#include "gpu/zorn/encoders/messages.hpp"
#include "gpu/zorn/exceptions.hpp"
#include "gpu/zorn/prologues.hpp"
#include "tests/zorn/instruction_reader.hpp"

namespace zorn = ulmara::qez::zorn;
using zorn::CodeGenerator;
using zorn::Immediate;
using zorn::InstructionModifier;
using zorn::MessageDataShape;
using zorn::RegisterOperand;

namespace {

// Opcodes as the Dorik-and-newer formats carry them in bits 0-6.
enum Op : std::uint32_t { op_add = 64, op_mad = 91, op_nop = 96, op_and = 101, op_send = 49 };

const zorn::DataType ud{0xa0}, uw{0x82};

// --- The reference: each instruction as the encoder call it stands for ---------

struct Encoders {
  void (*binary)(CodeGenerator&, std::uint32_t, zorn::DataType, InstructionModifier, RegisterOperand, RegisterOperand,
                 Immediate);
  void (*ternary)(CodeGenerator&, InstructionModifier, RegisterOperand, RegisterOperand, RegisterOperand, Immediate);
  int load_hw;
};

Encoders encoders_for(zorn::HW hw) {
  switch (hw) {
    case 6: return {zorn::encode_binary_op_hw6, zorn::encode_ternary_hw6, 6};
    case 7: return {zorn::encode_binary_op_hw7, zorn::encode_ternary_hw7, 7};
    case 8: return {zorn::encode_binary_op_hw8, zorn::encode_ternary_hw8, 8};
    default: return {zorn::encode_binary_op_hw9, zorn::encode_ternary_hw9, 9};
  }
}

void reference_load(CodeGenerator& r, int hw, std::uint32_t destination, MessageDataShape shape) {
  const InstructionModifier one(1);
  const RegisterOperand dst = RegisterOperand::grf(destination);
  const zorn::MessageAddress address = zorn::MessageAddress::from_bits(0x2000000FFull);
  const zorn::AddressOperand a{RegisterOperand::from_bits(0x10003000007Full), 0};
  switch (hw) {
    case 6: zorn::encode_message_hw6(r, 255, one, dst, shape, address, a); break;
    case 7: zorn::encode_message_hw7(r, -1, one, dst, shape, address, a); break;
    case 8: zorn::encode_message_hw8(r, -1, one, dst, shape, address, a); break;
    default: zorn::encode_message_hw9(r, -1, one, dst, shape, address, a); break;
  }
}

Immediate imm16(std::uint32_t v) { return Immediate((v << 16) | v, uw); }

RegisterOperand r(std::uint32_t reg, zorn::DataType type, std::uint32_t offset) {
  return RegisterOperand::grf(reg, type, offset);
}

void reference_add_address(CodeGenerator& g, const Encoders& e, std::uint32_t bytes) {
  e.binary(g, op_add, ud, InstructionModifier(1), r(127, ud, 0), r(127, ud, 0), imm16(bytes));
}

// The per-thread instructions written out from the prologue's step list.
void reference_per_thread(CodeGenerator& g, zorn::HW hw, int simd, int local_ids, std::uint32_t payload_bytes,
                          std::uint32_t factor, MessageDataShape first, bool third, std::uint32_t third_step,
                          MessageDataShape third_shape, std::uint32_t third_register) {
  (void)hw;
  const Encoders e = encoders_for(hw);
  const InstructionModifier one(1);
  e.binary(g, op_and, ud, one, r(127, ud, 2), r(0, ud, 0), Immediate(0xFFFFFFE0u, ud));
  e.binary(g, op_and, uw, one, r(127, uw, 0), r(0, uw, 4), imm16(0xFF));
  e.binary(g, op_add, ud, one, r(127, ud, 2), r(127, ud, 2), imm16(payload_bytes));
  e.ternary(g, one, r(127, ud, 0), r(127, ud, 2), r(127, uw, 0), imm16(factor));
  reference_load(g, e.load_hw, 1, first);
  if (third) {
    reference_add_address(g, e, third_step);
    reference_load(g, e.load_hw, third_register, third_shape);
  }
  (void)simd;
  (void)local_ids;
}

// --- Generators under test -------------------------------------------------------

struct PrologueSetup {
  zorn::HW hw;
  int simd;
  int local_ids;
};

// A finalised interface with one 64-bit scalar; payload fields as finalised.
std::unique_ptr<CodeGenerator> finalised(const PrologueSetup& s) {
  auto g = std::make_unique<CodeGenerator>(s.hw);
  zorn::declare_argument(*g, "x", zorn::DataType(0xc8));
  g->interface.simd_width = s.simd;
  g->interface.local_ids = static_cast<std::uint32_t>(s.local_ids);
  zorn::finalize_interface(g->interface);
  return g;
}

void emit(CodeGenerator& g) {
  switch (g.hw()) {
    case 6: zorn::emit_prologue_hw6(g); break;
    case 7: zorn::emit_prologue_hw7(g); break;
    case 8: zorn::emit_prologue_hw8(g); break;
    default: zorn::emit_prologue_hw9(g); break;
  }
}

std::vector<std::uint32_t> opcodes_of(const CodeGenerator& g) {
  const std::vector<std::uint8_t> code = g.root_stream().code_bytes();
  std::vector<std::uint32_t> ops;
  for (std::size_t i = 0; i < code.size() / 16; ++i) ops.push_back(zorn_test::instruction_at(code, i).bits(0, 7));
  return ops;
}

std::uint32_t target_of(const CodeGenerator& g, const zorn::Label& label) {
  return label.is_used() ? g.labels.target(static_cast<std::uint32_t>(label.handle)) : zorn::LabelManager::unplaced;
}

// A reference generator whose default modifier is the prologue's.
std::unique_ptr<CodeGenerator> reference_generator(zorn::HW hw) {
  auto ref = std::make_unique<CodeGenerator>(hw);
  ref->default_modifier = InstructionModifier(0x200400000000ull);
  return ref;
}

void append_nops(CodeGenerator& g, std::size_t until) {
  while (g.root_stream().instruction_count() < until) g.append_instruction(96, 0);
}

// --- Sequences per generation ----------------------------------------------------

TEST(Prologue, HarixSimd16ThreeDimensions) {
  auto g = finalised({7, 16, 3});
  emit(*g);
  // and, and, add, mad, load, add, load, 5 nops; then the cross-thread part:
  // and and one load of the single payload register r4.
  const std::vector<std::uint32_t> expected_ops{op_and, op_and,  op_add, op_mad, op_send, op_add, op_send,
                                                op_nop, op_nop,  op_nop, op_nop, op_nop,  op_and, op_send};
  EXPECT_EQ(opcodes_of(*g), expected_ops);
  EXPECT_EQ(target_of(*g, g->per_thread_skip_label), 192u);
  EXPECT_EQ(target_of(*g, g->prologue_end_label), 14u * 16);
  EXPECT_EQ(g->interface.payload_registers, 1u);

  auto ref = reference_generator(7);
  reference_per_thread(*ref, 7, 16, 3, g->interface.payload_bytes, 192, {0x8E400, 32, 4}, true, 128,
                       {0x8D400, 16, 4}, 3);
  ref->default_modifier = InstructionModifier();
  append_nops(*ref, 12);
  ref->default_modifier = InstructionModifier(0x200400000000ull);
  encoders_for(7).binary(*ref, op_and, ud, InstructionModifier(1), r(127, ud, 0), r(0, ud, 0),
                         Immediate(0xFFFFFFE0u, ud));
  reference_load(*ref, 7, 4, {0x8C600, 8, 8});
  EXPECT_EQ(g->root_stream().code, ref->root_stream().code);
}

TEST(Prologue, NopsCarryNoModifierBits) {
  auto g = finalised({8, 16, 3});
  emit(*g);
  const auto code = g->root_stream().code_bytes();
  for (std::size_t i = 7; i < 12; ++i) {
    const auto ins = zorn_test::instruction_at(code, i);
    EXPECT_EQ(ins.dword(0), 96u);
    EXPECT_EQ(ins.dword(1), 0u);
    EXPECT_EQ(ins.dword(2), 0u);
    EXPECT_EQ(ins.dword(3), 0u);
  }
  // The encoded instructions carry the automatic-scoreboard marker.
  for (std::size_t i : {0u, 1u, 2u, 3u, 4u, 5u, 6u, 12u, 13u}) EXPECT_TRUE(zorn_test::instruction_at(code, i).bit(7)) << i;
}

TEST(Prologue, HarixSimd1) {
  auto g = finalised({7, 1, 3});
  emit(*g);
  const auto ops = opcodes_of(*g);
  ASSERT_GE(ops.size(), 12u);
  EXPECT_EQ(std::vector<std::uint32_t>(ops.begin(), ops.begin() + 5),
            (std::vector<std::uint32_t>{op_and, op_and, op_add, op_mad, op_send}));
  for (std::size_t i = 5; i < 12; ++i) EXPECT_EQ(ops[i], op_nop) << i;
  EXPECT_EQ(target_of(*g, g->per_thread_skip_label), 192u);

  auto ref = reference_generator(7);
  reference_per_thread(*ref, 7, 1, 3, g->interface.payload_bytes, 64, {0x8B400, 4, 4}, false, 0, {}, 0);
  const auto& code = g->root_stream().code;
  const auto& expected = ref->root_stream().code;
  EXPECT_EQ(std::vector<std::uint64_t>(code.begin(), code.begin() + 10), expected);
}

TEST(Prologue, HarixOneDimension) {
  auto g = finalised({9, 16, 1});
  emit(*g);
  auto ref = reference_generator(9);
  reference_per_thread(*ref, 9, 16, 1, g->interface.payload_bytes, 192, {0x8D400, 16, 4}, false, 0, {}, 0);
  const auto& code = g->root_stream().code;
  EXPECT_EQ(std::vector<std::uint64_t>(code.begin(), code.begin() + 10), ref->root_stream().code);
  EXPECT_EQ(opcodes_of(*g)[5], op_nop);
}

struct GulonCase {
  int simd, local_ids;
  std::uint32_t factor;
  MessageDataShape first;
  bool third;
  std::uint32_t third_step;
  MessageDataShape third_shape;
  std::uint32_t third_register;
};

class GulonPrologue : public ::testing::TestWithParam<GulonCase> {};

TEST_P(GulonPrologue, PerThreadPart) {
  const GulonCase c = GetParam();
  auto g = finalised({6, c.simd, c.local_ids});
  emit(*g);
  auto ref = reference_generator(6);
  reference_per_thread(*ref, 6, c.simd, c.local_ids, g->interface.payload_bytes, c.factor, c.first, c.third,
                       c.third_step, c.third_shape, c.third_register);
  const std::size_t n = ref->root_stream().instruction_count();
  const auto& code = g->root_stream().code;
  EXPECT_EQ(std::vector<std::uint64_t>(code.begin(), code.begin() + static_cast<long>(2 * n)), ref->root_stream().code);
  const auto ops = opcodes_of(*g);
  for (std::size_t i = n; i < 12; ++i) EXPECT_EQ(ops[i], op_nop) << i;
  EXPECT_EQ(target_of(*g, g->per_thread_skip_label), 192u);
}

INSTANTIATE_TEST_SUITE_P(
    Zorn, GulonPrologue,
    ::testing::Values(GulonCase{8, 3, 96, {0x8D400, 16, 4}, true, 64, {0x8C400, 8, 4}, 3},
                      GulonCase{16, 1, 96, {0x8C400, 8, 4}, false, 0, {}, 0},
                      GulonCase{32, 3, 192, {0x8E400, 32, 4}, true, 128, {0x8D400, 16, 4}, 5},
                      GulonCase{32, 2, 192, {0x8E400, 32, 4}, false, 0, {}, 0},
                      GulonCase{1, 3, 32, {0x8B400, 4, 4}, false, 0, {}, 0}));

// --- Cross-thread part ----------------------------------------------------------

TEST(Prologue, NoLocalIdsStartsAtR1) {
  auto g = finalised({7, 16, 0});
  g->interface.payload_registers = 3;
  emit(*g);
  EXPECT_FALSE(g->per_thread_skip_label.is_used());
  // N = 3: loads of 2 and 1 registers into r1 and r3, address step 128.
  auto ref = reference_generator(7);
  const Encoders e = encoders_for(7);
  e.binary(*ref, op_and, ud, InstructionModifier(1), r(127, ud, 0), r(0, ud, 0), Immediate(0xFFFFFFE0u, ud));
  reference_load(*ref, 7, 1, {0x8D600, 16, 8});
  reference_add_address(*ref, e, 128);
  reference_load(*ref, 7, 3, {0x8C600, 8, 8});
  EXPECT_EQ(g->root_stream().code, ref->root_stream().code);
  EXPECT_EQ(target_of(*g, g->prologue_end_label), 4u * 16);
}

TEST(Prologue, ThirteenPayloadRegistersOnHarix) {
  auto g = finalised({7, 16, 0});
  g->interface.payload_registers = 13;
  emit(*g);
  auto ref = reference_generator(7);
  const Encoders e = encoders_for(7);
  e.binary(*ref, op_and, ud, InstructionModifier(1), r(127, ud, 0), r(0, ud, 0), Immediate(0xFFFFFFE0u, ud));
  reference_load(*ref, 7, 1, {0x8F600, 64, 8});  // 8 registers, k = 3
  reference_add_address(*ref, e, 512);
  reference_load(*ref, 7, 9, {0x8E600, 32, 8});  // 4 registers, k = 2
  reference_add_address(*ref, e, 256);
  reference_load(*ref, 7, 13, {0x8C600, 8, 8});  // 1 register, k = 0
  EXPECT_EQ(g->root_stream().code, ref->root_stream().code);
  EXPECT_EQ(opcodes_of(*g), (std::vector<std::uint32_t>{op_and, op_send, op_add, op_send, op_add, op_send}));
}

TEST(Prologue, GulonCrossThreadAfterInlineRegister) {
  auto g = finalised({6, 8, 0});
  g->interface.payload_registers = 4;  // one arrives inline: N = 3 from r2
  emit(*g);
  auto ref = reference_generator(6);
  const Encoders e = encoders_for(6);
  e.binary(*ref, op_and, ud, InstructionModifier(1), r(127, ud, 0), r(0, ud, 0), Immediate(0xFFFFFFE0u, ud));
  reference_load(*ref, 6, 2, {0x8C600, 8, 8});  // 2 registers: ((1 + 3) << 12) | 0x88600
  reference_add_address(*ref, e, 64);
  reference_load(*ref, 6, 4, {0x8B600, 4, 8});  // 1 register: (3 << 12) | 0x88600
  EXPECT_EQ(g->root_stream().code, ref->root_stream().code);
}

TEST(Prologue, NothingToLoadLeavesEndLabelUnplaced) {
  auto gulon = finalised({6, 8, 0});
  gulon->interface.payload_registers = 1;  // the inline register only
  emit(*gulon);
  EXPECT_EQ(gulon->root_stream().instruction_count(), 0u);
  EXPECT_EQ(target_of(*gulon, gulon->prologue_end_label), zorn::LabelManager::unplaced);

  auto harix = finalised({7, 16, 0});
  harix->interface.inline_data = true;
  harix->interface.payload_registers = 1;
  emit(*harix);
  EXPECT_EQ(harix->root_stream().instruction_count(), 0u);
  EXPECT_FALSE(harix->prologue_end_label.is_used());
}

TEST(Prologue, DefaultModifierRestored) {
  auto g = finalised({8, 16, 3});
  g->default_modifier = InstructionModifier(1ull << 45);
  emit(*g);
  EXPECT_EQ(g->default_modifier.bits, 1ull << 45);
}

TEST(Prologue, NotFinalisedAppendsNothing) {
  for (zorn::HW hw : {6, 7, 8, 9}) {
    CodeGenerator g(hw);
    g.interface.local_ids = 3;
    try {
      emit(g);
      FAIL() << hw;
    } catch (const zorn::interface_not_finalized& e) {
      EXPECT_STREQ(e.what(), "Interface has not been finalized");
    }
    EXPECT_EQ(g.root_stream().instruction_count(), 0u);
    EXPECT_FALSE(g.per_thread_skip_label.is_used());

    CodeGenerator no_ids(hw);
    EXPECT_THROW(emit(no_ids), zorn::interface_not_finalized);
    EXPECT_EQ(no_ids.root_stream().instruction_count(), 0u);
  }
}

// The payload size goes into a 16-bit immediate: a larger size is refused
// before the first instruction, the largest that fits is emitted as it is.
TEST(Prologue, PayloadBeyondSixteenBitsIsRefusedAndAppendsNothing) {
  for (zorn::HW hw : {6, 7, 8, 9}) {
    auto g = finalised({hw, 16, 3});
    g->interface.payload_bytes = 0x10000;
    try {
      emit(*g);
      ADD_FAILURE() << hw;
    } catch (const zorn::invalid_immediate_exception& e) {
      EXPECT_STREQ(e.what(), "Invalid immediate value");
    }
    EXPECT_EQ(g->root_stream().instruction_count(), 0u) << hw;
    EXPECT_FALSE(g->per_thread_skip_label.is_used()) << hw;

    auto largest = finalised({hw, 16, 3});
    largest->interface.payload_bytes = 0xFFFF;
    emit(*largest);
    const std::vector<std::uint8_t> code = largest->root_stream().code_bytes();
    // The third instruction adds the payload size; its immediate is dword 3.
    EXPECT_EQ(zorn_test::instruction_at(code, 2).bits(0, 7), op_add) << hw;
    EXPECT_EQ(zorn_test::instruction_at(code, 2).dword(3), 0xFFFFFFFFu) << hw;
  }
}

TEST(Prologue, PlacedLabelKeepsItsPosition) {
  auto g = finalised({7, 16, 3});
  zorn::mark_label(*g, g->per_thread_skip_label);
  emit(*g);
  EXPECT_EQ(target_of(*g, g->per_thread_skip_label), 0u);
  EXPECT_EQ(target_of(*g, g->prologue_end_label), 14u * 16);
}

TEST(Prologue, SameProgramOnJorvaAndLumetThroughTheirEncoders) {
  for (zorn::HW hw : {8, 9}) {
    auto g = finalised({hw, 16, 3});
    emit(*g);
    auto ref = reference_generator(hw);
    reference_per_thread(*ref, hw, 16, 3, g->interface.payload_bytes, 192, {0x8E400, 32, 4}, true, 128,
                         {0x8D400, 16, 4}, 3);
    const auto& code = g->root_stream().code;
    EXPECT_EQ(std::vector<std::uint64_t>(code.begin(), code.begin() + 14), ref->root_stream().code) << hw;
    EXPECT_EQ(g->root_stream().instruction_count(), 14u) << hw;
  }
}

}  // namespace
