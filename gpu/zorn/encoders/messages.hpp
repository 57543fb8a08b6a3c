// Message descriptors and addressing models: the 32-bit message descriptor
// and extended descriptor of a memory send, built from an addressing model,
// a surface index, an address offset and the shape of the data; and the load
// message emitters of Gulon, Harix, Jorva and Lumet.
#pragma once

#include <cstdint>

#include "gpu/zorn/bit_fields.hpp"
#include "gpu/zorn/code_generator.hpp"
#include "gpu/zorn/hw.hpp"
#include "gpu/zorn/operands.hpp"

namespace ulmara::qez::zorn {

// Addressing models (the model byte of a MessageAddress).
enum AddressingModel : std::uint8_t {
  model_bti = 0x01,
  model_stateless = 0x02,
  model_flat64 = 0x04,
  model_slm = 0x08,
  model_read_only_a = 0x10,
  model_read_only_b = 0x20,
  model_surface_offset_1 = 0x80,
  model_surface_offset_2 = 0x81,
};

namespace message_address_field {
inline constexpr BitField index{0, 32};
inline constexpr BitField model{32, 8};
}  // namespace message_address_field

// Where a message goes: surface index in bits 0-31, model in bits 32-39.
struct MessageAddress {
  std::uint64_t bits = 0;

  constexpr MessageAddress() = default;
  constexpr MessageAddress(std::uint8_t model, std::uint32_t index)
      : bits((std::uint64_t{model} << message_address_field::model.low) | index) {}
  static constexpr MessageAddress from_bits(std::uint64_t word) {
    MessageAddress address;
    address.bits = word;
    return address;
  }
  constexpr std::uint32_t index() const { return static_cast<std::uint32_t>(get_bits(bits, message_address_field::index)); }
  constexpr std::uint8_t model() const { return static_cast<std::uint8_t>(get_bits(bits, message_address_field::model)); }
};
static_assert(sizeof(MessageAddress) == 8, "MessageAddress is one 64-bit value");

// What is moved per address.
struct MessageDataShape {
  std::uint32_t desc_template = 0;  // descriptor bits of the 32-bit form (operation, sizes, block flag)
  std::uint8_t count = 0;           // elements per address; 0 counts as 1 in the 32-bit forms
  std::uint8_t element_bytes = 0;
};

// The address part of a load or store.
struct AddressOperand {
  RegisterOperand reg;       // register that holds the addresses
  std::int32_t offset = 0;   // immediate address offset in bytes
};

// Shared-function ids the descriptor builders choose.
namespace shared_function {
inline constexpr std::uint32_t legacy_data_port = 10;
inline constexpr std::uint32_t legacy_flat = 12;
inline constexpr std::uint32_t local_memory = 14;
inline constexpr std::uint32_t memory = 15;
}  // namespace shared_function

// ---------------------------------------------------------------------------
// Descriptor builders. They write their outputs only when they succeed; an
// exception leaves both descriptors as the caller passed them.

// The legacy store (Vemra, Sutal, Dorik, Gulon kernel programs). `modifier`
// holds the execution size in its low byte; `count` is the element count.
// Throws read_only_exception for the read-only models and
// invalid_model_exception for a model without a surface or flat variant.
void encode_store_descriptor_legacy(std::uint32_t& descriptor, std::uint32_t& extended_descriptor,
                                    std::uint32_t modifier, std::uint8_t count, MessageAddress address);

// The 32-bit-form load of generation `hw` (6 Gulon; 7, 8, 9 the wide
// formats). Throws invalid_model_exception and
// invalid_address_modifier_exception.
void encode_load_descriptor(HW hw, std::uint32_t& descriptor, std::uint32_t& extended_descriptor,
                            std::uint8_t execution_size, RegisterOperand destination, const MessageDataShape& shape,
                            MessageAddress address, AddressOperand address_operand);

// The 32-bit-form store (64-byte registers). Throws read_only_exception
// first, then as the load.
void encode_store_descriptor(std::uint32_t& descriptor, std::uint32_t& extended_descriptor, std::uint32_t modifier,
                             const MessageDataShape& shape, MessageAddress address, AddressOperand address_operand);

// ---------------------------------------------------------------------------
// Load message emitters: one send per call.

// Gulon; `target` 255 lets the descriptor builder choose the shared function.
inline constexpr std::uint8_t choose_shared_function_hw6 = 255;
void encode_message_hw6(CodeGenerator& generator, std::uint8_t target, InstructionModifier modifier,
                        RegisterOperand destination, const MessageDataShape& shape, MessageAddress address,
                        AddressOperand address_operand);

// Harix, Jorva, Lumet; `target` -1 lets the descriptor builder choose.
inline constexpr std::int8_t choose_shared_function_hw7 = -1;
void encode_message_hw7(CodeGenerator& generator, std::int8_t target, InstructionModifier modifier,
                        RegisterOperand destination, const MessageDataShape& shape, MessageAddress address,
                        AddressOperand address_operand);
void encode_message_hw8(CodeGenerator& generator, std::int8_t target, InstructionModifier modifier,
                        RegisterOperand destination, const MessageDataShape& shape, MessageAddress address,
                        AddressOperand address_operand);
void encode_message_hw9(CodeGenerator& generator, std::int8_t target, InstructionModifier modifier,
                        RegisterOperand destination, const MessageDataShape& shape, MessageAddress address,
                        AddressOperand address_operand);

}  // namespace ulmara::qez::zorn
