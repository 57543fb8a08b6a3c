// Message descriptors for every addressing model, and the load message
// emitters.
#include <gtest/gtest.h>

#include "gpu/zorn/encoders/encoders.hpp"
#include "gpu/zorn/encoders/messages.hpp"
#include "tests/zorn/encoders/field_reader.hpp"
#include "tests/zorn/encoders/test_support.hpp"

namespace zorn_test {
namespace {

using z::AddressOperand;
using z::MessageAddress;
using z::MessageDataShape;

// Fields of the 32-bit-form descriptors, as the descriptor tables give them.
std::uint32_t response_length(std::uint32_t d) { return (d >> 20) & 31; }
std::uint32_t message_length(std::uint32_t d) { return (d >> 25) & 15; }
std::uint32_t address_type(std::uint32_t d) { return (d >> 29) & 3; }
std::uint32_t address_size(std::uint32_t d) { return (d >> 7) & 3; }
std::uint32_t data_length(std::uint32_t ex) { return (ex >> 6) & 31; }

struct Descriptors {
  std::uint32_t desc = 0, ex = 0;
};
Descriptors load(z::HW hw, std::uint8_t exec, MessageDataShape shape, MessageAddress address, std::int32_t offset = 0,
                 z::RegisterOperand dst = grf(31)) {
  Descriptors d;
  z::encode_load_descriptor(hw, d.desc, d.ex, exec, dst, shape, address, AddressOperand{grf(64), offset});
  return d;
}
Descriptors store(std::uint32_t modifier, MessageDataShape shape, MessageAddress address, std::int32_t offset = 0,
                  std::uint32_t ex = 15) {
  Descriptors d;
  d.ex = ex;
  z::encode_store_descriptor(d.desc, d.ex, modifier, shape, address, AddressOperand{grf(64), offset});
  return d;
}

// ---------------------------------------------------------------------------
// Legacy store.

TEST(LegacyStoreDescriptor, KernelResultStore) {
  std::uint32_t desc = 0, ex = 0;
  z::encode_store_descriptor_legacy(desc, ex, 1, 1, MessageAddress(z::model_bti, 1));
  EXPECT_EQ(desc, 0x0202C201u);  // index 1, bit 9, message type 11, message length 1
  EXPECT_EQ(ex, 0x4Au);          // function 10, data length 1
}

TEST(LegacyStoreDescriptor, ElementCountCodes) {
  std::uint32_t desc = 0, ex = 0;
  z::encode_store_descriptor_legacy(desc, ex, 1, 4, MessageAddress(z::model_bti, 7));
  EXPECT_EQ((desc >> 10) & 3, 2u);
  EXPECT_EQ(data_length(ex), 4u);
  z::encode_store_descriptor_legacy(desc, ex, 1, 0, MessageAddress(z::model_bti, 7));
  EXPECT_EQ((desc >> 10) & 3, 0u);
  EXPECT_EQ(data_length(ex), 0u);
}

TEST(LegacyStoreDescriptor, EveryModel) {
  struct Case {
    std::uint8_t model;
    std::uint32_t desc, ex;
  };
  // modifier 0x10: execution size 16, so n = 2 and the SIMD-16 flag is set;
  // count 2, index 0x1234 (low byte 0x34 always written); ex starts with bit 5.
  const Case cases[] = {
      {z::model_bti, 0x34 | 0x100 | 0x200 | (1u << 10) | (11u << 14) | (2u << 25), 0x20 | 10 | (4u << 6)},
      {z::model_stateless, 0x34 | 0x100 | 0x200 | (1u << 10) | (11u << 14) | (2u << 25), 0x20 | 10 | (4u << 6)},
      {z::model_surface_offset_2, 0x34 | 0x100 | 0x200 | (1u << 10) | (11u << 14) | (2u << 25), 0x20 | 10 | (4u << 6)},
      {z::model_flat64, 0x34 | 0x100 | (1u << 10) | (1u << 12) | (26u << 14) | (4u << 25), 0x20 | 12 | (4u << 6)},
  };
  for (const Case& c : cases) {
    std::uint32_t desc = 0xFFFFFFFF, ex = 0x20;
    z::encode_store_descriptor_legacy(desc, ex, 0x10, 2, MessageAddress(c.model, 0x1234));
    EXPECT_EQ(desc, c.desc) << "model " << int(c.model);
    EXPECT_EQ(ex, c.ex) << "model " << int(c.model);
  }
  for (std::uint8_t model : {std::uint8_t{z::model_slm}, std::uint8_t{z::model_surface_offset_1}, std::uint8_t{0}, std::uint8_t{0x40}}) {
    std::uint32_t desc = 5, ex = 6;
    EXPECT_THROW(z::encode_store_descriptor_legacy(desc, ex, 1, 1, MessageAddress(model, 0)),
                 z::invalid_model_exception);
    EXPECT_EQ(desc, 5u);
    EXPECT_EQ(ex, 6u);
  }
  for (std::uint8_t model : {z::model_read_only_a, z::model_read_only_b}) {
    std::uint32_t desc = 0, ex = 0;
    try {
      z::encode_store_descriptor_legacy(desc, ex, 1, 1, MessageAddress(model, 0));
      ADD_FAILURE();
    } catch (const z::read_only_exception& e) {
      EXPECT_STREQ(e.what(), "Memory model is read-only");
    }
  }
}

// ---------------------------------------------------------------------------
// 32-bit forms.

TEST(LoadDescriptor, KernelInputLoadOnWideFormats) {
  for (z::HW hw : {z::hw::harix, z::hw::jorva, z::hw::lumet}) {
    const Descriptors d = load(hw, 1, {0x400, 1, 4}, MessageAddress(z::model_flat64, 255));
    EXPECT_EQ(d.desc, 0x04100580u);
    EXPECT_EQ(d.ex, 0x0Fu);
  }
}

TEST(LoadDescriptor, StatelessIsBindingTable255) {
  for (std::uint32_t index : {0u, 1u, 77u, 0xFFFFFFFFu}) {
    const Descriptors d = load(z::hw::gulon, 8, {0x400, 1, 4}, MessageAddress(z::model_stateless, index), 0x123);
    EXPECT_EQ(d.ex >> 24, 255u);
    EXPECT_EQ((d.ex >> 12) & 0xFFF, 0x123u);
    EXPECT_EQ(address_type(d.desc), 3u);
    EXPECT_EQ(address_size(d.desc), 2u);
    EXPECT_EQ(d.ex & 31, 15u);
  }
}

TEST(LoadDescriptor, EveryModel) {
  const MessageDataShape shape{0x1400, 2, 4};  // template bits passed through: 0x1400
  struct Case {
    std::uint8_t model;
    std::uint32_t index;
    std::int32_t offset;
    std::uint32_t desc, ex;
  };
  // Gulon, execution size 16: n = 2 address registers; data length 2 x 1 x 2 = 4.
  const Case cases[] = {
      {z::model_bti, 0x1AB, -1, 0x1400 | (2u << 7) | (4u << 20) | (2u << 25) | (3u << 29), 15 | (0xFFFu << 12) | (0xABu << 24)},
      {z::model_stateless, 9, 16, 0x1400 | (2u << 7) | (4u << 20) | (2u << 25) | (3u << 29), 15 | (16u << 12) | (255u << 24)},
      {z::model_flat64, 9, -2, 0x1400 | (3u << 7) | (4u << 20) | (4u << 25), 15 | (0xFFFFEu << 12)},
      {z::model_slm, 9, 0x12345, 0x1400 | (2u << 7) | (4u << 20) | (2u << 25), 14 | (0x12345u << 12)},
      {z::model_surface_offset_1, 0x3FFFFFF, 99, 0x1400 | (2u << 7) | (4u << 20) | (2u << 25) | (1u << 29), 15 | (0x3FFFFFFu << 6)},
      {z::model_surface_offset_2, 0x41, 0, 0x1400 | (2u << 7) | (4u << 20) | (2u << 25) | (2u << 29), 15 | (0x41u << 6)},
  };
  for (const Case& c : cases) {
    const Descriptors d = load(z::hw::gulon, 16, shape, MessageAddress(c.model, c.index), c.offset);
    EXPECT_EQ(d.desc, c.desc) << "model " << int(c.model);
    EXPECT_EQ(d.ex, c.ex) << "model " << int(c.model);
  }
  for (std::uint8_t model : {std::uint8_t{z::model_read_only_a}, std::uint8_t{z::model_read_only_b}, std::uint8_t{0}, std::uint8_t{0x40}}) {
    std::uint32_t desc = 5, ex = 6;
    try {
      z::encode_load_descriptor(z::hw::gulon, desc, ex, 8, grf(31), shape, MessageAddress(model, 0),
                                AddressOperand{grf(64), 0});
      ADD_FAILURE();
    } catch (const z::invalid_model_exception& e) {
      EXPECT_STREQ(e.what(), "Invalid addressing model specified");
    }
    EXPECT_EQ(desc, 5u);
    EXPECT_EQ(ex, 6u);
  }
}

TEST(LoadDescriptor, OffsetLimits) {
  auto loads = [](std::uint8_t model, std::int32_t offset) {
    try {
      load(z::hw::harix, 16, {0x400, 1, 4}, MessageAddress(model, 3), offset);
      return true;
    } catch (const z::invalid_address_modifier_exception& e) {
      EXPECT_STREQ(e.what(), "Invalid address offset or scaling factor");
      return false;
    }
  };
  EXPECT_TRUE(loads(z::model_bti, -2048));
  EXPECT_TRUE(loads(z::model_bti, 2047));
  EXPECT_FALSE(loads(z::model_bti, 2048));
  EXPECT_FALSE(loads(z::model_bti, -2049));
  for (std::uint8_t model : {z::model_flat64, z::model_slm}) {
    EXPECT_TRUE(loads(model, -524288));
    EXPECT_TRUE(loads(model, 524287));
    EXPECT_FALSE(loads(model, 524288));
    EXPECT_FALSE(loads(model, -524289));
  }
  EXPECT_TRUE(loads(z::model_surface_offset_1, 1 << 30)) << "surface-offset models ignore the offset";
}

TEST(LoadDescriptor, NullDestinationHasNoResponse) {
  const Descriptors d = load(z::hw::gulon, 8, {0x400, 1, 4}, MessageAddress(z::model_flat64, 0), 0, null_ud);
  EXPECT_EQ(response_length(d.desc), 0u);
  EXPECT_EQ(d.desc >> 31, 0u);
  EXPECT_EQ(message_length(d.desc), 2u);
}

TEST(LoadDescriptor, BlockMessages) {
  const Descriptors gulon = load(z::hw::gulon, 1, {0x8000, 16, 4}, MessageAddress(z::model_flat64, 0));
  EXPECT_EQ(message_length(gulon.desc), 1u);
  EXPECT_EQ(response_length(gulon.desc), 2u);
  // Prologue load of 32 four-byte elements on Harix: stateless, block.
  const Descriptors harix = load(z::hw::harix, 1, {0x8E400, 32, 4}, MessageAddress(z::model_stateless, 255));
  EXPECT_EQ(harix.desc, 0x6228E500u);
  EXPECT_EQ(harix.ex, 0xFF00000Fu);
}

TEST(LoadDescriptor, AddressRegistersFollowTheRegisterSize) {
  // 32 lanes: two address registers of 32-bit addresses on 32-byte registers
  // ... (32 >> 4) + 1 = 3 on Gulon, (32 >> 5) + 1 = 2 from Harix on.
  EXPECT_EQ(message_length(load(z::hw::gulon, 32, {0x400, 1, 4}, MessageAddress(z::model_bti, 0)).desc), 3u);
  EXPECT_EQ(message_length(load(z::hw::harix, 32, {0x400, 1, 4}, MessageAddress(z::model_bti, 0)).desc), 2u);
  // 8-byte elements double the data per address.
  EXPECT_EQ(response_length(load(z::hw::harix, 16, {0x400, 3, 8}, MessageAddress(z::model_bti, 0)).desc), 6u);
}

TEST(StoreDescriptor, KernelResultStoreOnWideFormats) {
  const Descriptors d = store(1, {0x400, 1, 4}, MessageAddress(z::model_flat64, 255));
  EXPECT_EQ(d.ex, 0x4Fu);
  EXPECT_EQ(d.desc, 0x04000584u);
}

TEST(StoreDescriptor, EveryModel) {
  // modifier 32: n = 2; data length 1 x 1 x 2 = 2.
  const MessageDataShape shape{0x400, 1, 4};
  EXPECT_EQ(store(32, shape, MessageAddress(z::model_bti, 5), 4).ex, 15 | (2u << 6) | (4u << 12) | (5u << 24));
  EXPECT_EQ(store(32, shape, MessageAddress(z::model_stateless, 5)).ex, 15 | (2u << 6) | (255u << 24));
  EXPECT_EQ(store(32, shape, MessageAddress(z::model_flat64, 5), -1).ex, 15 | (2u << 6) | (0xFFFFFu << 12));
  EXPECT_EQ(store(32, shape, MessageAddress(z::model_slm, 5)).ex, 14 | (2u << 6));
  // Surface-offset models: the index shifted by 6, then the data length over bits 6-10.
  EXPECT_EQ(store(32, shape, MessageAddress(z::model_surface_offset_1, 0x7FF)).ex, 15 | (0x7FFu << 6 & ~(31u << 6)) | (2u << 6));
  const Descriptors so2 = store(32, shape, MessageAddress(z::model_surface_offset_2, 1));
  EXPECT_EQ(address_type(so2.desc), 2u);
  EXPECT_EQ(so2.desc & 4, 4u) << "stores set descriptor bit 2";
  EXPECT_EQ(message_length(store(32, shape, MessageAddress(z::model_flat64, 0)).desc), 4u);
  EXPECT_EQ(data_length(store(1, {0x8000, 16, 4}, MessageAddress(z::model_flat64, 0)).ex), 1u);
  for (std::uint8_t model : {z::model_read_only_a, z::model_read_only_b}) {
    std::uint32_t desc = 1, ex = 2;
    EXPECT_THROW(z::encode_store_descriptor(desc, ex, 1, shape, MessageAddress(model, 0), AddressOperand{grf(64), 0}),
                 z::read_only_exception);
    EXPECT_EQ(desc, 1u);
    EXPECT_EQ(ex, 2u);
  }
}

// ---------------------------------------------------------------------------
// Load message emitters.

TEST(MessageEmitter, GulonPicksOrTakesTheSharedFunction) {
  z::CodeGenerator g(z::hw::gulon);
  z::encode_message_hw6(g, z::choose_shared_function_hw6, z::InstructionModifier(1), grf(1),
                        {0x8000, 16, 4}, MessageAddress(z::model_slm, 0), AddressOperand{grf(127), 0});
  Reader r(last_instruction(g));
  ModernSend s = read_modern_send(r, false);
  EXPECT_EQ(s.shared_function, 14u);
  EXPECT_EQ(s.src0_reg, 127u);
  EXPECT_EQ(s.src1_grf, 0u);
  EXPECT_EQ(s.control.opcode, 49u);
  z::encode_message_hw6(g, 7, z::InstructionModifier(1), grf(1), {0x8000, 16, 4}, MessageAddress(z::model_slm, 0),
                        AddressOperand{grf(127), 0});
  Reader r2(last_instruction(g));
  EXPECT_EQ(read_modern_send(r2, false).shared_function, 7u);
}

TEST(MessageEmitter, RefusedDescriptorAppendsNothing) {
  z::CodeGenerator g(z::hw::harix);
  expect_refused<z::invalid_model_exception>(
      g,
      [&] {
        z::encode_message_hw7(g, -1, z::InstructionModifier(1), grf(1), {0x400, 1, 4},
                              MessageAddress(z::model_read_only_a, 0), AddressOperand{grf(64), 0});
      },
      "Invalid addressing model specified");
  expect_refused<z::invalid_address_modifier_exception>(
      g,
      [&] {
        z::encode_message_hw9(g, -1, z::InstructionModifier(1), grf(1), {0x400, 1, 4},
                              MessageAddress(z::model_bti, 0), AddressOperand{grf(64), 4096});
      },
      "Invalid address offset or scaling factor");
  expect_refused<z::limited_to_256_grf_exception>(
      g,
      [&] {
        z::encode_message_hw8(g, -1, z::InstructionModifier(1), grf(300), {0x400, 1, 4},
                              MessageAddress(z::model_bti, 0), AddressOperand{grf(64), 0});
      },
      "This instruction only supports r0-r255");
  EXPECT_TRUE(g.top_stream().code.empty());
}

}  // namespace
}  // namespace zorn_test
