// Data types, type-code tables, register operands, fixup_operand and the
// pre-Dorik source field.
#include <gtest/gtest.h>

#include <map>

#include "gpu/zorn/exceptions.hpp"
#include "gpu/zorn/operands.hpp"
#include "tests/zorn/instruction_reader.hpp"

namespace zorn = ulmara::qez::zorn;
using zorn::DataType;
using zorn::RegisterOperand;
using zorn_test::bits_of;

namespace {

// --- Data types -------------------------------------------------------------

TEST(DataTypes, WidthCodeIndexAndElementSize) {
  EXPECT_EQ(DataType(0xa0).width_code(), 5u);
  EXPECT_EQ(DataType(0xa0).index(), 0u);
  EXPECT_EQ(DataType(0xa0).bytes(), 4u);
  EXPECT_EQ(DataType(0x82).bytes(), 2u);
  EXPECT_EQ(DataType(0x82).index(), 2u);
  EXPECT_EQ(DataType(0xc8).bytes(), 8u);
  EXPECT_EQ(DataType(0xc8).index(), 8u);
  EXPECT_EQ(DataType(0x60).bytes(), 1u);
  EXPECT_EQ(DataType(0xe0).bytes(), 16u);
  // Width codes below 3 still count as one byte.
  EXPECT_EQ(DataType(0x20).bytes(), 1u);
  EXPECT_TRUE(DataType(0x60).is_none());
  EXPECT_FALSE(DataType(0x61).is_none());
}

// Rows of the hardware type-code table: index, Vemra register, Vemra
// immediate, Sutal, Dorik and later.
struct TypeCodeRow {
  unsigned index, vemra_register, vemra_immediate, sutal, dorik;
};
const TypeCodeRow type_code_rows[] = {
    {0, 0, 0, 0, 2},      {1, 1, 1, 1, 6},      {2, 2, 2, 2, 1},      {3, 3, 3, 3, 5},    {4, 4, 2, 4, 0},
    {5, 5, 3, 5, 4},      {6, 6, 10, 10, 11},   {7, 7, 7, 9, 10},     {8, 8, 8, 6, 3},    {9, 9, 9, 7, 7},
    {10, 10, 11, 8, 9},   {11, 11, 0, 0, 13},   {12, 12, 0, 0, 8},    {13, 13, 4, 4, 0},  {14, 14, 6, 5, 4},
    {15, 15, 5, 11, 8},   {16, 0, 0, 0, 14},    {17, 1, 1, 1, 12},    {18, 2, 2, 2, 2},   {19, 3, 3, 3, 2},
    {20, 4, 2, 4, 2},     {21, 5, 3, 5, 2},     {22, 6, 10, 10, 2},   {23, 7, 7, 9, 2},   {24, 8, 8, 6, 2},
    {25, 9, 9, 7, 2},     {26, 10, 11, 8, 2},   {27, 11, 0, 0, 2},    {28, 12, 0, 0, 0},  {29, 13, 4, 4, 4},
    {30, 14, 6, 5, 0},    {31, 15, 5, 11, 4},
};

TEST(DataTypes, HardwareTypeCodesOfEveryIndexAndWidth) {
  for (const TypeCodeRow& row : type_code_rows) {
    for (unsigned width = 0; width < 8; ++width) {
      const DataType type(static_cast<std::uint8_t>(width << 5 | row.index));
      EXPECT_EQ(zorn::hardware_type_code(zorn::TypeCodeTable::vemra_register, type), row.vemra_register) << row.index;
      EXPECT_EQ(zorn::hardware_type_code(zorn::TypeCodeTable::vemra_immediate, type), row.vemra_immediate)
          << row.index;
      EXPECT_EQ(zorn::hardware_type_code(zorn::TypeCodeTable::sutal, type), row.sutal) << row.index;
      EXPECT_EQ(zorn::hardware_type_code(zorn::TypeCodeTable::dorik, type), row.dorik) << row.index;
    }
  }
}

// --- Register operands -------------------------------------------------------

TEST(RegisterOperands, FieldsOfTheOperandWord) {
  // r30, type 0xa0, region 0/1/0.
  const RegisterOperand r30 = RegisterOperand::from_bits(0x805000001Eull);
  EXPECT_EQ(r30.register_number(), 30u);
  EXPECT_FALSE(r30.is_arf());
  EXPECT_EQ(r30.type(), DataType(0xa0));
  EXPECT_EQ(r30.vertical_stride(), 0u);
  EXPECT_EQ(r30.width(), 1u);
  EXPECT_EQ(r30.horizontal_stride(), 0u);
  EXPECT_FALSE(r30.is_invalid());
  // r64 untyped with horizontal stride 1.
  const RegisterOperand r64 = RegisterOperand::from_bits(0x100030000040ull);
  EXPECT_EQ(r64.register_number(), 64u);
  EXPECT_TRUE(r64.type().is_none());
  EXPECT_EQ(r64.horizontal_stride(), 1u);
  EXPECT_EQ(r64.width(), 0u);
}

TEST(RegisterOperands, NullRegisterWords) {
  EXPECT_EQ(RegisterOperand::null(DataType(0xa0)).bits, 0x100050000200ull);
  EXPECT_EQ(RegisterOperand::null(DataType(0x82)).bits, 0x100041000200ull);
  EXPECT_TRUE(RegisterOperand::from_bits(0x100050000200ull).is_null());
  // ARF kind other than 0 is no null register; a GRF r0 neither.
  EXPECT_FALSE(RegisterOperand::arf(0xA0, DataType(0xa0)).is_null());
  EXPECT_FALSE(RegisterOperand::grf(0, DataType(0xa0)).is_null());
  // Register-within-kind bits do not matter.
  EXPECT_TRUE(RegisterOperand::arf(0x0F, DataType(0xa0)).is_null());
}

TEST(RegisterOperands, DefaultIsInvalid) {
  EXPECT_EQ(RegisterOperand().bits, 0x8000000000000000ull);
  EXPECT_TRUE(RegisterOperand().is_invalid());
}

TEST(RegisterOperands, BuildersAndCheckedFields) {
  const RegisterOperand r = RegisterOperand::grf(511, DataType(0xa0), 2047);
  EXPECT_EQ(bits_of(r.bits, 0, 9), 511u);
  EXPECT_EQ(bits_of(r.bits, 10, 11), 2047u);
  EXPECT_EQ(bits_of(r.bits, 23, 8), 0xa0u);
  EXPECT_EQ(bits_of(r.bits, 63, 1), 0u);
  // Beyond the field: refused, never cut.
  EXPECT_THROW(RegisterOperand::grf(512), zorn::invalid_range_exception);
  EXPECT_THROW(RegisterOperand::grf(1, DataType(0xa0), 2048), zorn::invalid_range_exception);
  RegisterOperand op = RegisterOperand::grf(3);
  EXPECT_THROW(op.set_register_number(1u << 9), zorn::invalid_range_exception);
  EXPECT_THROW(op.set_subregister_offset(1u << 11), zorn::invalid_range_exception);
  EXPECT_THROW(op.set_vertical_stride(128), zorn::invalid_region_exception);
  EXPECT_THROW(op.set_width(32), zorn::invalid_region_exception);
  EXPECT_THROW(op.set_horizontal_stride(64), zorn::invalid_region_exception);
  EXPECT_THROW(op.set_source_modifiers(4), zorn::invalid_range_exception);
  EXPECT_EQ(op.bits, RegisterOperand::grf(3).bits);  // unchanged after the refusals
  op.set_region(127, 31, 63);
  EXPECT_EQ(bits_of(op.bits, 32, 7), 127u);
  EXPECT_EQ(bits_of(op.bits, 39, 5), 31u);
  EXPECT_EQ(bits_of(op.bits, 44, 6), 63u);
}

TEST(RegisterOperands, IndirectOperand) {
  const RegisterOperand op = RegisterOperand::indirect(3, -1, DataType(0xa0));
  EXPECT_EQ(bits_of(op.bits, 0, 4), 3u);
  EXPECT_EQ(bits_of(op.bits, 10, 10), 0x3FFu);
  EXPECT_EQ(bits_of(op.bits, 31, 1), 1u);
  EXPECT_EQ(RegisterOperand::indirect(0, 511).address_immediate(), 511u);
  EXPECT_EQ(RegisterOperand::indirect(0, -512).address_immediate(), 0x200u);
  EXPECT_THROW(RegisterOperand::indirect(0, 512), zorn::invalid_range_exception);
  EXPECT_THROW(RegisterOperand::indirect(0, -513), zorn::invalid_range_exception);
  EXPECT_THROW(RegisterOperand::indirect(16, 0), zorn::invalid_range_exception);
}

TEST(RegisterOperands, NewOffsetAndTypeKeepTheMaskedBits) {
  // Every base-word bit set except the invalid-region ones: bits 0-9, 21-22
  // and 31 survive, offset and type are rewritten, the region word is kept.
  const RegisterOperand all = RegisterOperand::from_bits(0x7FFFFFFFFFFFFFFFull);
  const RegisterOperand result = zorn::with_offset_and_type(all, 5, DataType(0xa0));
  EXPECT_EQ(result.base_word(), (0xFFFFFFFFu & 0x806003ffu) | (5u << 10) | (0xa0u << 23));
  EXPECT_EQ(result.region_word(), 0x7FFFFFFFu);
  EXPECT_THROW(zorn::with_offset_and_type(all, 2048, DataType(0xa0)), zorn::invalid_range_exception);
}

TEST(RegisterOperands, ElementViewOfA64BitArgument) {
  // r5 element 3 of a 64-bit type (byte 24), viewed as 32-bit halves.
  const RegisterOperand q = RegisterOperand::grf(5, DataType(0xc8), 3).set_horizontal_stride(1);
  const RegisterOperand low = zorn::element_view(q, DataType(0xa0), 0);
  const RegisterOperand high = zorn::element_view(q, DataType(0xa0), 1);
  EXPECT_EQ(low.register_number(), 5u);
  EXPECT_EQ(low.subregister_offset(), 6u);
  EXPECT_EQ(high.subregister_offset(), 7u);
  EXPECT_EQ(low.type(), DataType(0xa0));
  EXPECT_EQ(low.region_word(), q.region_word());
  EXPECT_THROW(zorn::element_view(RegisterOperand(), DataType(0xa0), 0), zorn::invalid_object_exception);
  // A view that would not start on an element boundary is refused.
  EXPECT_THROW(zorn::element_view(RegisterOperand::grf(5, DataType(0x82), 1), DataType(0xa0), 0),
               zorn::invalid_range_exception);
}

// --- fixup_operand -------------------------------------------------------------

struct Region {
  unsigned vertical, width, horizontal;
};
Region region_of(RegisterOperand op) {
  return {bits_of(op.bits, 32, 7), bits_of(op.bits, 39, 5), bits_of(op.bits, 44, 6)};
}

TEST(FixupOperand, InvalidOperandThrows) {
  RegisterOperand op;
  EXPECT_THROW(zorn::fixup_operand(op, 1, 8, 4, DataType(0xa0), 0, 1), zorn::invalid_object_exception);
}

TEST(FixupOperand, MissingTypeThrowsAndDefaultTypeFills) {
  RegisterOperand op = RegisterOperand::grf(3);
  EXPECT_THROW(zorn::fixup_operand(op, 1, 8, 4, DataType(0x60), 0, 1), zorn::missing_type_exception);
  zorn::fixup_operand(op, 1, 8, 4, DataType(0xa1), 0, 1);
  EXPECT_EQ(bits_of(op.bits, 23, 8), 0xa1u);
  // A type already given is kept.
  RegisterOperand typed = RegisterOperand::grf(3, DataType(0x82));
  zorn::fixup_operand(typed, 1, 8, 4, DataType(0xa1), 0, 1);
  EXPECT_EQ(bits_of(typed.bits, 23, 8), 0x82u);
}

TEST(FixupOperand, ExecutionSizeOneSourceBecomesScalarRegion) {
  for (unsigned vs : {0u, 4u, 8u, 16u})
    for (unsigned w : {0u, 1u, 4u, 8u})
      for (unsigned h : {0u, 1u, 2u}) {
        RegisterOperand op = RegisterOperand::grf(7, DataType(0xa0)).set_region(vs, w, h);
        op.bits |= 0x1FFFull << 50;  // kept bits
        zorn::fixup_operand(op, 4, 1, 4, DataType(0xa0), 0, 2);
        const Region r = region_of(op);
        EXPECT_EQ(r.vertical, 0u);
        EXPECT_EQ(r.width, 1u);
        EXPECT_EQ(r.horizontal, 0u);
        EXPECT_EQ(bits_of(op.bits, 50, 13), 0x1FFFu);
      }
}

TEST(FixupOperand, ExecutionSizeOneDestinationGetsStrideFromWidestElement) {
  // 32-bit destination in a 4-byte instruction: stride 1.
  RegisterOperand d32 = RegisterOperand::grf(7, DataType(0xa0)).set_region(8, 8, 1);
  zorn::fixup_operand(d32, 1, 1, 4, DataType(0xa0), zorn::destination_operand, 1);
  EXPECT_EQ(region_of(d32).vertical, 0u);
  EXPECT_EQ(region_of(d32).width, 1u);
  EXPECT_EQ(region_of(d32).horizontal, 1u);
}

TEST(FixupOperand, SixteenBitSourceWithoutWidth) {
  RegisterOperand op = RegisterOperand::grf(7, DataType(0x82)).set_horizontal_stride(1);
  RegisterOperand op32 = op;
  zorn::fixup_operand(op, 4, 16, 2, DataType(0x60), 0, 1);
  EXPECT_EQ(region_of(op).width, 16u);
  EXPECT_EQ(region_of(op).vertical, 16u);
  EXPECT_EQ(region_of(op).horizontal, 1u);
  zorn::fixup_operand(op32, 4, 32, 2, DataType(0x60), 0, 1);
  EXPECT_EQ(region_of(op32).width, 16u);
  EXPECT_EQ(region_of(op32).vertical, 16u);
}

TEST(FixupOperand, ThirtyTwoBitSourceStrideTwoInEightChannels) {
  RegisterOperand op = RegisterOperand::grf(7, DataType(0xa0)).set_horizontal_stride(2);
  zorn::fixup_operand(op, 1, 8, 4, DataType(0x60), 0, 2);
  EXPECT_EQ(region_of(op).width, 4u);
  EXPECT_EQ(region_of(op).vertical, 8u);
  EXPECT_EQ(region_of(op).horizontal, 2u);
}

TEST(FixupOperand, NoStrideGivesWidthOne) {
  RegisterOperand op = RegisterOperand::grf(7, DataType(0xa0));
  zorn::fixup_operand(op, 1, 8, 4, DataType(0x60), 0, 1);
  EXPECT_EQ(region_of(op).width, 1u);
  EXPECT_EQ(region_of(op).vertical, 0u);
}

TEST(FixupOperand, DestinationStrideFromWidestElement) {
  // 16-bit destination without stride, widest operand 4 bytes: stride 2.
  RegisterOperand w = RegisterOperand::grf(7, DataType(0x82));
  zorn::fixup_operand(w, 1, 8, 4, DataType(0x60), zorn::destination_operand, 1);
  EXPECT_EQ(region_of(w).horizontal, 2u);
  // Byte destination of a move: stride 4.
  RegisterOperand b = RegisterOperand::grf(7, DataType(0x61));  // 8-bit, index 1
  zorn::fixup_operand(b, 1, 8, 4, DataType(0x60), zorn::destination_operand, 1);
  EXPECT_EQ(region_of(b).horizontal, 4u);
  // Callers that pass 0 get stride 1.
  RegisterOperand z = RegisterOperand::grf(7, DataType(0x82));
  zorn::fixup_operand(z, 1, 8, 0, DataType(0x60), zorn::destination_operand, 1);
  EXPECT_EQ(region_of(z).horizontal, 1u);
  // A stride already given is kept.
  RegisterOperand k = RegisterOperand::grf(7, DataType(0x82)).set_horizontal_stride(4);
  zorn::fixup_operand(k, 1, 8, 4, DataType(0x60), zorn::destination_operand, 1);
  EXPECT_EQ(region_of(k).horizontal, 4u);
}

TEST(FixupOperand, GivenWidthEqualToExecutionSize) {
  RegisterOperand op = RegisterOperand::grf(7, DataType(0xa0)).set_region(3, 8, 2);
  zorn::fixup_operand(op, 1, 8, 4, DataType(0x60), 0, 1);
  EXPECT_EQ(region_of(op).vertical, 16u);
  // A different width leaves the region alone.
  RegisterOperand other = RegisterOperand::grf(7, DataType(0xa0)).set_region(3, 4, 2);
  zorn::fixup_operand(other, 1, 8, 4, DataType(0x60), 0, 1);
  EXPECT_EQ(region_of(other).vertical, 3u);
  EXPECT_EQ(region_of(other).width, 4u);
  // A vertical stride past its seven bits is refused rather than wrapped.
  RegisterOperand wide = RegisterOperand::grf(7, DataType(0x82)).set_region(0, 16, 8);
  EXPECT_THROW(zorn::fixup_operand(wide, 4, 16, 4, DataType(0x60), 0, 1), zorn::invalid_region_exception);
  RegisterOperand widest = RegisterOperand::grf(7, DataType(0x82)).set_region(0, 16, 7);
  zorn::fixup_operand(widest, 4, 16, 4, DataType(0x60), 0, 1);
  EXPECT_EQ(region_of(widest).vertical, 112u);
}

TEST(FixupOperand, ThreeSourcePairRule) {
  // Source 0 of a three-source Dorik instruction with two channels, stride 1:
  // width 2, vertical stride 2 becomes region 1/2/0.
  RegisterOperand op = RegisterOperand::grf(7, DataType(0xa0)).set_horizontal_stride(1);
  zorn::fixup_operand(op, 4, 2, 4, DataType(0x60), 0, 3);
  EXPECT_EQ(region_of(op).vertical, 1u);
  EXPECT_EQ(region_of(op).width, 2u);
  EXPECT_EQ(region_of(op).horizontal, 0u);
  // 64-bit, stride 2: four elements per 32 bytes, width 2, vertical 4: no rule.
  RegisterOperand q = RegisterOperand::grf(7, DataType(0xc8)).set_horizontal_stride(2);
  zorn::fixup_operand(q, 4, 8, 8, DataType(0x60), 1, 3);
  EXPECT_EQ(region_of(q).vertical, 4u);
  EXPECT_EQ(region_of(q).width, 2u);
  EXPECT_EQ(region_of(q).horizontal, 2u);
}

TEST(FixupOperand, ThreeSourcePairRuleRefusesStrideOtherThanOne) {
  // Width 1 at stride 2 needs (32 >> log2 bytes) / 2 == 1: a 16-byte element
  // type; the vertical stride is then 2.
  RegisterOperand op = RegisterOperand::grf(7, DataType(0xe0)).set_horizontal_stride(2);
  EXPECT_THROW(zorn::fixup_operand(op, 4, 2, 16, DataType(0x60), 1, 3), zorn::invalid_region_exception);
  // Source 2, or hw below 4, or arity 2 escape the rule.
  RegisterOperand src2 = RegisterOperand::grf(7, DataType(0xe0)).set_horizontal_stride(2);
  EXPECT_NO_THROW(zorn::fixup_operand(src2, 4, 2, 16, DataType(0x60), 2, 3));
  EXPECT_EQ(region_of(src2).vertical, 2u);
  RegisterOperand old = RegisterOperand::grf(7, DataType(0xe0)).set_horizontal_stride(2);
  EXPECT_NO_THROW(zorn::fixup_operand(old, 3, 2, 16, DataType(0x60), 0, 3));
  RegisterOperand two = RegisterOperand::grf(7, DataType(0xe0)).set_horizontal_stride(2);
  EXPECT_NO_THROW(zorn::fixup_operand(two, 4, 2, 16, DataType(0x60), 0, 2));
}

TEST(FixupOperand, IndirectPerAddressRegionUntouched) {
  RegisterOperand op = RegisterOperand::indirect(1, 4, DataType(0xa0)).set_region(127, 3, 5);
  const std::uint64_t before = op.bits;
  zorn::fixup_operand(op, 1, 8, 4, DataType(0x60), zorn::destination_operand, 1);
  EXPECT_EQ(op.bits, before);
  zorn::fixup_operand(op, 1, 1, 4, DataType(0x60), 0, 1);
  EXPECT_EQ(op.bits, before);
}

// --- encode_source_operand ----------------------------------------------------------

struct LegacySource {
  unsigned byte_offset, reg, address_immediate, address_subregister, modifiers, indirect, h_code, w_code, v_code;
};
LegacySource read_legacy_source(std::uint32_t f) {
  return {bits_of(f, 0, 5),  bits_of(f, 5, 8),   bits_of(f, 0, 9),   bits_of(f, 9, 4),  bits_of(f, 13, 2),
          bits_of(f, 15, 1), bits_of(f, 16, 2), bits_of(f, 18, 3), bits_of(f, 21, 4)};
}

TEST(LegacySourceField, Example) {
  // r3.2 of a 32-bit type with region 8/8/1.
  const RegisterOperand op = RegisterOperand::grf(3, DataType(0xa0), 2).set_region(8, 8, 1);
  const std::uint32_t f = zorn::encode_source_operand(op);
  const LegacySource s = read_legacy_source(f);
  EXPECT_EQ(s.byte_offset, 8u);
  EXPECT_EQ(s.reg, 3u);
  EXPECT_EQ(s.v_code, 4u);
  EXPECT_EQ(s.w_code, 3u);
  EXPECT_EQ(s.h_code, 1u);
  EXPECT_EQ(s.indirect, 0u);
  EXPECT_EQ(f >> 25, 0u);
}

// One suite case per type; registers, offsets and regions swept inside.
class LegacySourceSweep : public ::testing::TestWithParam<unsigned> {};

TEST_P(LegacySourceSweep, DirectFields) {
  const DataType type(static_cast<std::uint8_t>(GetParam()));
  const unsigned bytes = type.bytes();
  // Stride codes and width codes by value, from the region encoding rules.
  const std::map<unsigned, unsigned> stride_codes{{0, 0}, {1, 1}, {2, 2}, {4, 3}, {8, 4}, {16, 5}, {32, 6}};
  const std::map<unsigned, unsigned> width_codes{{0, 0}, {1, 0}, {2, 1}, {4, 2}, {8, 3}, {16, 4}};
  for (unsigned reg : {0u, 1u, 127u, 200u, 255u})
    for (unsigned offset = 0; offset * bytes < 32; ++offset)
      for (const auto& [vs, vs_code] : stride_codes)
        for (const auto& [w, w_code] : width_codes)
          for (unsigned hs : {0u, 1u, 2u, 4u})
            for (unsigned mods = 0; mods < 4; ++mods) {
              const RegisterOperand op =
                  RegisterOperand::grf(reg, type, offset).set_region(vs, w, hs).set_source_modifiers(mods);
              const std::uint32_t f = zorn::encode_source_operand(op.base_word(), op.region_word());
              const LegacySource s = read_legacy_source(f);
              ASSERT_EQ(s.byte_offset, offset * bytes);
              ASSERT_EQ(s.reg, reg);
              ASSERT_EQ(s.modifiers, mods);
              ASSERT_EQ(s.v_code, vs_code);
              ASSERT_EQ(s.w_code, w_code);
              ASSERT_EQ(s.h_code, stride_codes.at(hs));
              ASSERT_EQ(s.indirect, 0u);
              ASSERT_EQ(f >> 25, 0u);
            }
}

INSTANTIATE_TEST_SUITE_P(Zorn, LegacySourceSweep, ::testing::Values(0x60u, 0x82u, 0xa0u, 0xc8u));

TEST(LegacySourceField, IndirectFields) {
  for (int imm : {0, 1, 100, 255, 256, 511, -1, -512})
    for (unsigned sub : {0u, 3u, 15u})
      for (unsigned vs : {0u, 4u, 127u}) {
        const RegisterOperand op = RegisterOperand::indirect(sub, imm, DataType(0xa0)).set_region(vs, 4, 1);
        const LegacySource s = read_legacy_source(zorn::encode_source_operand(op));
        const unsigned ten_bits = static_cast<unsigned>(imm) & 0x3FF;
        EXPECT_EQ(s.address_immediate, ten_bits & 0x1FF);
        EXPECT_EQ(s.address_subregister, sub);
        EXPECT_EQ(s.indirect, 1u);
        EXPECT_EQ(s.v_code, vs == 0 ? 0u : vs == 127 ? 15u : 3u);
        EXPECT_EQ(s.w_code, 2u);
        EXPECT_EQ(s.h_code, 1u);
      }
}

TEST(LegacySourceField, Refusals) {
  EXPECT_THROW(zorn::encode_source_operand(0x30000040u, 0x80001000u), zorn::invalid_object_exception);
  // r256 and up do not fit the eight register bits.
  EXPECT_THROW(zorn::encode_source_operand(RegisterOperand::grf(256, DataType(0xa0)).set_horizontal_stride(1)),
               zorn::limited_to_256_grf_exception);
  // A byte offset past the 32-byte register.
  EXPECT_THROW(zorn::encode_source_operand(RegisterOperand::grf(3, DataType(0xa0), 8)), zorn::invalid_range_exception);
  // A horizontal stride whose code needs more than two bits.
  EXPECT_THROW(zorn::encode_source_operand(RegisterOperand::grf(3, DataType(0xa0)).set_horizontal_stride(8)),
               zorn::invalid_region_exception);
}

TEST(LegacySourceField, InstructionPointerOperand) {
  // ARF 0xA0, type 0xa0, stride 1, completed as source 0 of a two-source
  // one-channel instruction.
  RegisterOperand ip = RegisterOperand::from_bits(0x00001000500002A0ull);
  zorn::fixup_operand(ip, 1, 1, 0, DataType(0xa1), 0, 2);
  const LegacySource s = read_legacy_source(zorn::encode_source_operand(ip));
  EXPECT_EQ(s.reg, 0xA0u);
  EXPECT_EQ(s.byte_offset, 0u);
  EXPECT_EQ(s.v_code, 0u);
  EXPECT_EQ(s.w_code, 0u);
  EXPECT_EQ(s.h_code, 0u);
}

// --- Modifier fields ------------------------------------------------------------

TEST(InstructionModifiers, NamedFieldsOfTheKernelProgramModifiers) {
  const zorn::InstructionModifier cmp(0x1000001ull);
  EXPECT_EQ(cmp.execution_size(), 1u);
  EXPECT_EQ(cmp.conditional_modifier(), 1u);
  const zorn::InstructionModifier jump(0x110001ull);
  EXPECT_EQ(jump.predicate_control(), 1u);
  EXPECT_TRUE(jump.predicate_invert());
  const zorn::InstructionModifier eight(0x600008ull);
  EXPECT_EQ(eight.execution_size(), 8u);
  EXPECT_EQ(eight.execution_size_code(), 3u);
  const zorn::InstructionModifier wait(0x80000001000001ull);
  EXPECT_TRUE(wait.swsb().dst());
  EXPECT_FALSE(wait.swsb().src());
  EXPECT_EQ(wait.swsb().token(), 0u);
}

}  // namespace
