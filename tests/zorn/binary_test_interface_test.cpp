// The binary_test kernel's interface on every generation: argument offsets,
// payload registers, binding-table indices and the local-size arguments.
#include <gtest/gtest.h>

#include <map>

#include "gpu/zorn/kernel_interface.hpp"
#include "tests/zorn/binary_test_interface.hpp"

namespace zorn = ulmara::qez::zorn;
using zorn::ArgumentKind;
using zorn::DataType;

namespace zorn_test {

std::unique_ptr<zorn::CodeGenerator> make_binary_test_interface(zorn::HW hw) {
  auto g = std::make_unique<zorn::CodeGenerator>(hw);
  g->interface.kernel_name = "binary_test";
  const DataType u32{0xa0}, u64{0xc8}, u16{0x82};
  zorn::declare_argument(*g, "src0", u32);
  zorn::declare_argument(*g, "src1", u64);
  zorn::declare_argument(*g, "src2", u16);
  zorn::declare_argument(*g, "src3", u16);
  zorn::declare_argument(*g, "src4", u64);
  zorn::declare_argument(*g, "src5", u64);
  zorn::interface_add_argument(g->interface, "src_ptr", u64, ArgumentKind::global_pointer,
                               zorn::argument_access::default_access);
  zorn::interface_add_argument(g->interface, "ok", u64, ArgumentKind::global_pointer,
                               zorn::argument_access::default_access);
  g->default_modifier.bits |= 1ull << zorn::modifier_bit::auto_swsb;
  g->interface.simd_width = hw < zorn::hw::harix ? 8 : 16;
  g->interface.local_ids = 3;
  g->interface.local_size_needed = true;
  zorn::finalize_interface(g->interface);
  return g;
}

}  // namespace zorn_test

namespace {

// Where each argument lands, worked out by hand from the placement rules:
// start register r4 (local IDs, SIMD up to 16), 32 bytes left free,
// pointers first, then scalars.
struct Expected {
  const char* name;
  unsigned reg, byte;
};

// 32-byte registers: r4 is full after the reserved 32 bytes.
const Expected narrow[] = {
    {"src_ptr", 5, 0}, {"ok", 5, 8},    {"src0", 5, 16},  {"src1", 5, 24},
    {"src2", 6, 0},    {"src3", 6, 4},  {"src4", 6, 8},   {"src5", 6, 16},
};
// 64-byte registers: the payload continues in r4 after byte 32.
const Expected wide[] = {
    {"src_ptr", 4, 32}, {"ok", 4, 40},  {"src0", 4, 48}, {"src1", 4, 56},
    {"src2", 5, 0},     {"src3", 5, 4}, {"src4", 5, 8},  {"src5", 5, 16},
};

class BinaryTestInterface : public ::testing::TestWithParam<zorn::HW> {};

TEST_P(BinaryTestInterface, ArgumentLocations) {
  const zorn::HW hw = GetParam();
  const auto g = zorn_test::make_binary_test_interface(hw);
  const zorn::KernelInterface& k = g->interface;
  EXPECT_EQ(k.payload_start_register(), 4u);
  const bool is_wide = hw >= zorn::hw::harix;
  for (const Expected& e : is_wide ? wide : narrow) {
    const zorn::RegisterOperand op = zorn::find_argument(*g, e.name);
    EXPECT_EQ(op.register_number(), e.reg) << e.name;
    EXPECT_EQ(op.subregister_offset() * op.type().bytes(), e.byte) << e.name;
    EXPECT_FALSE(op.is_arf());
    EXPECT_FALSE(op.is_indirect());
    EXPECT_EQ(op.region_word(), 0u) << e.name;
  }
  EXPECT_EQ(zorn::find_argument(*g, "src2").type(), DataType(0x82));
  EXPECT_EQ(zorn::find_argument(*g, "src2").subregister_offset(), 0u);
  EXPECT_EQ(zorn::find_argument(*g, "src3").subregister_offset(), 2u);
  EXPECT_EQ(zorn::find_argument(*g, "src1").type(), DataType(0xc8));
}

TEST_P(BinaryTestInterface, PayloadSize) {
  const auto g = zorn_test::make_binary_test_interface(GetParam());
  // Last byte used: 24 of the third payload register (narrow) or of the
  // second (wide): 32 + 2 x 32 or 32 + 1 x 64 bytes.
  EXPECT_EQ(g->interface.payload_bytes, 96u);
  EXPECT_EQ(g->interface.payload_registers, GetParam() >= zorn::hw::harix ? 2u : 3u);
}

TEST_P(BinaryTestInterface, AccessAndBindingTable) {
  const zorn::HW hw = GetParam();
  const auto g = zorn_test::make_binary_test_interface(hw);
  const zorn::KernelInterface& k = g->interface;
  ASSERT_EQ(k.arguments.size(), 11u);
  for (int i = 0; i < 8; ++i) EXPECT_EQ(k.arguments[i].index, i);
  for (int i = 0; i < 6; ++i) EXPECT_EQ(k.arguments[i].access, 0u);
  if (hw < zorn::hw::harix) {
    EXPECT_EQ(k.arguments[6].access, 3u);
    EXPECT_EQ(k.arguments[7].access, 3u);
    EXPECT_EQ(zorn::binding_table_index_of(k, "src_ptr"), 0u);
    EXPECT_EQ(zorn::binding_table_index_of(k, "ok"), 1u);
  } else {
    EXPECT_EQ(k.arguments[6].access, 1u);
    EXPECT_EQ(k.arguments[7].access, 1u);
    EXPECT_EQ(zorn::binding_table_index_of(k, "src_ptr"), 128u);
    EXPECT_EQ(zorn::binding_table_index_of(k, "ok"), 128u);
  }
}

TEST_P(BinaryTestInterface, LocalSizeArguments) {
  const auto g = zorn_test::make_binary_test_interface(GetParam());
  for (int d = 0; d < 3; ++d) {
    const zorn::RegisterOperand op = zorn::get_local_size_argument(g->interface, d);
    EXPECT_EQ(op.register_number(), 4u) << d;
    EXPECT_EQ(op.subregister_offset(), 3u + d) << d;
    EXPECT_EQ(op.type(), DataType(0xa0)) << d;
    const zorn::KernelArgument& record = g->interface.arguments[8 + d];
    EXPECT_EQ(record.name, "__local_size" + std::to_string(d));
    EXPECT_EQ(record.index, -1);
  }
  // The fixed local sizes leave the hidden-argument count alone.
  EXPECT_EQ(g->interface.next_argument_index, 8u);
}

TEST_P(BinaryTestInterface, GeneratorState) {
  const zorn::HW hw = GetParam();
  const auto g = zorn_test::make_binary_test_interface(hw);
  const std::map<zorn::HW, zorn::ProductFamily> product{{1, 1}, {3, 3}, {4, 4}, {6, 6}, {7, 10}, {8, 13}, {9, 14}};
  EXPECT_EQ(g->product_code, product.at(hw));
  EXPECT_EQ(g->register_count, 128);
  EXPECT_EQ(g->default_modifier.bits, 1ull << 45);
  EXPECT_EQ(g->interface.kernel_name, "binary_test");
  EXPECT_TRUE(g->interface.finalized);
}

std::string generation_name(const ::testing::TestParamInfo<zorn::HW>& info) {
  const std::map<zorn::HW, std::string> names{{1, "Vemra"}, {3, "Sutal"}, {4, "Dorik"}, {6, "Gulon"},
                                              {7, "Harix"}, {8, "Jorva"}, {9, "Lumet"}};
  return names.at(info.param);
}

INSTANTIATE_TEST_SUITE_P(Zorn, BinaryTestInterface, ::testing::Values(1, 3, 4, 6, 7, 8, 9), generation_name);

}  // namespace
