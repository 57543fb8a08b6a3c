// Kernel interface: argument records, payload placement, hidden arguments and
// lookups.
#include <gtest/gtest.h>

#include "gpu/zorn/code_generator.hpp"
#include "gpu/zorn/kernel_interface.hpp"

namespace zorn = ulmara::qez::zorn;
using zorn::ArgumentKind;
using zorn::DataType;
using zorn::KernelInterface;

namespace {

constexpr DataType u32{0xa0}, u16{0x82}, u8{0x61}, u64{0xc8};

struct Placement {
  unsigned reg, byte;
};
Placement placement(const KernelInterface& k, const std::string& name) {
  const zorn::RegisterOperand op = zorn::find_argument(k, name);
  return {op.register_number(), op.subregister_offset() * op.type().bytes()};
}

TEST(KernelInterface, InitialValues) {
  for (zorn::HW hw : {1, 3, 4, 6, 7, 8, 9}) {
    const KernelInterface k(hw);
    EXPECT_EQ(k.kernel_name, "default_kernel");
    EXPECT_EQ(k.simd_width, hw < 7 ? 8 : 16);
    EXPECT_EQ(k.inline_data_registers, hw == 6 ? 1 : 0);
    EXPECT_EQ(k.register_count, 128);
    EXPECT_TRUE(k.stateless_writes);
    EXPECT_EQ(k.walk_order, (std::array<std::int32_t, 3>{-1, -1, -1}));
    EXPECT_EQ(k.quantum_partition_dimension, -1);
    EXPECT_TRUE(k.argument_location_override.is_invalid());
    EXPECT_FALSE(k.finalized);
  }
}

struct StartCase {
  zorn::HW hw;
  std::uint32_t local_ids;
  std::int32_t simd;
  unsigned start;
};
const StartCase start_cases[] = {
    {1, 0, 8, 2},  {4, 0, 8, 2},   {5, 0, 8, 1},   {6, 0, 8, 1},   {9, 0, 16, 1}, {1, 3, 1, 2},  {9, 3, 1, 2},
    {4, 3, 32, 7}, {6, 3, 17, 7},  {7, 3, 32, 4},  {4, 3, 16, 4},  {4, 3, 8, 4},  {9, 3, 16, 4},
};

TEST(KernelInterface, PayloadStartRegister) {
  for (const StartCase& c : start_cases) {
    KernelInterface k(c.hw);
    k.local_ids = c.local_ids;
    k.simd_width = c.simd;
    EXPECT_EQ(k.payload_start_register(), c.start) << c.hw << " " << c.local_ids << " " << c.simd;
  }
}

TEST(KernelInterface, FirstArgumentLandsPastTheReservedBytes) {
  for (zorn::HW hw : {1, 3, 4, 6, 7, 8, 9}) {
    KernelInterface k(hw);
    zorn::interface_add_argument(k, "a", u32, ArgumentKind::scalar);
    zorn::finalize_interface(k);
    const unsigned s = k.payload_start_register();
    const Placement p = placement(k, "a");
    if (hw < 7) {
      EXPECT_EQ(p.reg, s + 1);
      EXPECT_EQ(p.byte, 0u);
    } else {
      EXPECT_EQ(p.reg, s);
      EXPECT_EQ(p.byte, 32u);
    }
  }
}

TEST(KernelInterface, SixtyFourBitArgumentIsAlignedToItsSize) {
  KernelInterface k(7);
  zorn::interface_add_argument(k, "a", u32, ArgumentKind::scalar);
  zorn::interface_add_argument(k, "b", u64, ArgumentKind::scalar);
  zorn::finalize_interface(k);
  EXPECT_EQ(placement(k, "a").byte, 32u);
  EXPECT_EQ(placement(k, "b").byte, 40u);
  EXPECT_EQ(zorn::find_argument(k, "b").subregister_offset(), 5u);
}

TEST(KernelInterface, NarrowScalarsTakeFourBytes) {
  KernelInterface k(9);
  zorn::interface_add_argument(k, "a", u16, ArgumentKind::scalar);
  zorn::interface_add_argument(k, "b", u8, ArgumentKind::scalar);
  zorn::interface_add_argument(k, "c", u32, ArgumentKind::scalar);
  zorn::finalize_interface(k);
  EXPECT_EQ(placement(k, "a").byte, 32u);
  EXPECT_EQ(placement(k, "b").byte, 36u);
  EXPECT_EQ(placement(k, "c").byte, 40u);
  EXPECT_EQ(zorn::find_argument(k, "a").subregister_offset(), 16u);  // 16-bit elements
  EXPECT_EQ(k.arguments[0].payload_bytes(), 4u);
  EXPECT_EQ(k.arguments[1].payload_bytes(), 4u);
}

TEST(KernelInterface, KindsArePlacedInPassOrderButKeepTheirIndices) {
  KernelInterface k(7);
  zorn::interface_add_argument(k, "scalar", u32, ArgumentKind::scalar);
  zorn::interface_add_argument(k, "global", u64, ArgumentKind::global_pointer);
  zorn::interface_add_argument(k, "local", u64, ArgumentKind::local_pointer);
  zorn::finalize_interface(k);
  EXPECT_EQ(placement(k, "local").byte, 32u);
  EXPECT_EQ(placement(k, "global").byte, 40u);
  EXPECT_EQ(placement(k, "scalar").byte, 48u);
  EXPECT_EQ(k.arguments[0].index, 0);
  EXPECT_EQ(k.arguments[1].index, 1);
  EXPECT_EQ(k.arguments[2].index, 2);
  EXPECT_EQ(k.arguments[2].access, 0u);  // local pointers record no access
}

TEST(KernelInterface, GlobalPointerAccessAndBindingTable) {
  for (zorn::HW hw : {4, 7}) {
    KernelInterface k(hw);
    zorn::interface_add_argument(k, "stateful_only", u64, ArgumentKind::global_pointer, zorn::argument_access::stateful);
    zorn::interface_add_argument(k, "default", u64, ArgumentKind::global_pointer);
    zorn::interface_add_argument(k, "stateless", u64, ArgumentKind::global_pointer, zorn::argument_access::stateless);
    zorn::interface_add_argument(k, "scalar", u32, ArgumentKind::scalar, zorn::argument_access::both);
    zorn::finalize_interface(k);
    EXPECT_EQ(k.arguments[0].access, 2u);
    EXPECT_EQ(k.arguments[1].access, hw < 7 ? 3u : 1u);
    EXPECT_EQ(k.arguments[2].access, 1u);
    EXPECT_EQ(k.arguments[3].access, 0u);
    // Indices count every global pointer.
    EXPECT_EQ(k.arguments[0].binding_table_index, 0u);
    EXPECT_EQ(k.arguments[1].binding_table_index, hw < 7 ? 1u : 128u);
    EXPECT_EQ(k.arguments[2].binding_table_index, 128u);
    // Stateful-only: payload bytes used but no location.
    EXPECT_THROW(zorn::find_argument(k, "stateful_only"), zorn::unknown_argument_exception);
    const unsigned first = hw < 7 ? 0u : 32u;
    EXPECT_EQ(placement(k, "default").byte, first + 8);
    EXPECT_EQ(placement(k, "stateless").byte, first + 16);
    EXPECT_EQ(zorn::binding_table_index_of(k, "default"), hw < 7 ? 1u : 128u);
    EXPECT_EQ(zorn::binding_table_index_of(k, "missing"), 128u);
  }
}

TEST(KernelInterface, EmptyInterfaceIsOneRegisterOfPayload) {
  for (zorn::HW hw : {1, 3, 4, 6, 7, 8, 9}) {
    KernelInterface k(hw);
    zorn::finalize_interface(k);
    EXPECT_EQ(k.payload_bytes, 32u) << hw;
    EXPECT_EQ(k.payload_registers, 1u) << hw;
    EXPECT_TRUE(k.finalized);
  }
}

TEST(KernelInterface, EnqueuedLocalSizesShareOneRegister) {
  // Harix: 4-byte scalars fill the start register up to byte 56 (> 64 - 12).
  KernelInterface k(7);
  k.local_size_needed = true;
  k.local_size_enqueued = true;
  for (const char* name : {"a", "b", "c", "d", "e", "f"}) zorn::interface_add_argument(k, name, u32, ArgumentKind::scalar);
  zorn::finalize_interface(k);
  ASSERT_EQ(k.arguments.size(), 9u);
  EXPECT_EQ(k.arguments[6].name, "__local_size0");
  EXPECT_EQ(k.arguments[6].index, 6);
  EXPECT_EQ(k.arguments[8].index, 8);
  const unsigned s = k.payload_start_register();
  for (int d = 0; d < 3; ++d) {
    const zorn::RegisterOperand op = zorn::get_local_size_argument(k, d);
    EXPECT_EQ(op.register_number(), s + 1) << d;
    EXPECT_EQ(op.subregister_offset(), static_cast<unsigned>(d)) << d;
    EXPECT_EQ(op.type(), DataType(160));
  }
  EXPECT_EQ(k.payload_bytes, 32u + 64u);
  EXPECT_EQ(k.payload_registers, 2u);
}

TEST(KernelInterface, EnqueuedLocalSizesStayWhenTheyFit) {
  KernelInterface k(7);
  k.local_size_needed = true;
  k.local_size_enqueued = true;
  zorn::interface_add_argument(k, "a", u32, ArgumentKind::scalar);  // 32..36
  zorn::finalize_interface(k);
  const unsigned s = k.payload_start_register();
  EXPECT_EQ(zorn::get_local_size_argument(k, 0).register_number(), s);
  EXPECT_EQ(zorn::get_local_size_argument(k, 0).subregister_offset(), 9u);   // byte 36
  EXPECT_EQ(zorn::get_local_size_argument(k, 2).subregister_offset(), 11u);  // byte 44
}

TEST(KernelInterface, FixedLocalSizesLiveInTheReservedBytes) {
  KernelInterface k(4);
  k.local_size_needed = true;
  zorn::interface_add_argument(k, "a", u32, ArgumentKind::scalar);
  zorn::finalize_interface(k);
  ASSERT_EQ(k.arguments.size(), 4u);
  const unsigned s = k.payload_start_register();
  for (int d = 0; d < 3; ++d) {
    const zorn::KernelArgument& a = k.arguments[1 + d];
    EXPECT_EQ(a.name, "__local_size" + std::to_string(d));
    EXPECT_EQ(a.index, -1);
    EXPECT_EQ(a.kind, ArgumentKind::hidden);
    EXPECT_EQ(a.access, 0u);
    EXPECT_EQ(a.binding_table_index, 128u);
    EXPECT_EQ(a.location.register_number(), s);
    EXPECT_EQ(a.location.subregister_offset() * 4, 12u + 4u * d);
  }
  // The fixed records are added after the payload size is computed.
  EXPECT_EQ(k.payload_bytes, 64u);
  EXPECT_EQ(k.next_argument_index, 1u);
}

TEST(KernelInterface, ScratchSizeIsAHiddenArgument) {
  KernelInterface k(9);
  k.scratch_size = 4096;
  zorn::finalize_interface(k);
  ASSERT_EQ(k.arguments.size(), 1u);
  EXPECT_EQ(k.arguments[0].name, "__scratch_size");
  EXPECT_EQ(k.arguments[0].type, DataType(200));
  EXPECT_EQ(placement(k, "__scratch_size").byte, 32u);
}

TEST(KernelInterface, LocationOverrideMovesTheCursor) {
  KernelInterface k(4);
  k.argument_location_override = zorn::RegisterOperand::grf(9, u32, 2);
  zorn::interface_add_argument(k, "a", u32, ArgumentKind::scalar);
  zorn::finalize_interface(k);
  EXPECT_EQ(placement(k, "a").reg, 9u);
  EXPECT_EQ(placement(k, "a").byte, 8u);
  // Payload counted from the start register r2 even so.
  EXPECT_EQ(k.payload_bytes, 32u + 7u * 32u);
}

TEST(KernelInterface, PayloadPastTheLastRegisterIsRefused) {
  KernelInterface k(4);
  k.argument_location_override = zorn::RegisterOperand::grf(511, u32, 6);
  zorn::interface_add_argument(k, "a", u32, ArgumentKind::scalar);  // r511 byte 24
  zorn::interface_add_argument(k, "b", u64, ArgumentKind::scalar);  // would be r512
  EXPECT_THROW(zorn::finalize_interface(k), zorn::invalid_range_exception);
}

TEST(KernelInterface, FinalisedOnceAndClosed) {
  KernelInterface k(7);
  zorn::finalize_interface(k);
  EXPECT_THROW(zorn::finalize_interface(k), zorn::interface_already_finalized);
  EXPECT_THROW(zorn::interface_add_argument(k, "late", u32, ArgumentKind::scalar), zorn::interface_already_finalized);
}

TEST(KernelInterface, LookupFailuresAndDuplicates) {
  zorn::CodeGenerator g(6);
  zorn::declare_argument(g, "x", u32);
  zorn::declare_argument(g, "x", u64);
  EXPECT_THROW(zorn::find_argument(g, "x"), zorn::unknown_argument_exception);  // not placed yet
  zorn::finalize_interface(g.interface);
  EXPECT_EQ(zorn::find_argument(g, "x").type(), u32);  // the first of two
  try {
    zorn::find_argument(g, "X");
    FAIL();
  } catch (const zorn::unknown_argument_exception& e) {
    EXPECT_STREQ(e.what(), "Argument not found");
  }
  EXPECT_THROW(zorn::find_argument(g, std::string("x\0", 2)), zorn::unknown_argument_exception);
  EXPECT_THROW(zorn::get_local_size_argument(g.interface, 0), zorn::unknown_argument_exception);
  EXPECT_THROW(zorn::get_local_size_argument(g.interface, 3), zorn::unknown_argument_exception);
  EXPECT_THROW(zorn::get_local_size_argument(g.interface, -1), zorn::unknown_argument_exception);
}

}  // namespace
