// Message descriptors of the legacy store and of the 32-bit load and store
// forms, and the load message emitters.
#include "gpu/zorn/encoders/messages.hpp"

#include "gpu/zorn/encoders/encoder_core.hpp"
#include "gpu/zorn/encoders/encoders.hpp"
#include "gpu/zorn/exceptions.hpp"

namespace ulmara::qez::zorn {
namespace {

// ---------------------------------------------------------------------------
// Descriptor and extended-descriptor fields.

namespace desc_field {
inline constexpr BitField surface_index{0, 8};           // legacy store
inline constexpr BitField legacy_simd16{8, 1};           // legacy store, surface variant
inline constexpr BitField legacy_element_count{10, 2};   // legacy store
inline constexpr BitField legacy_flat_simd16{12, 1};     // legacy store, flat variant
inline constexpr BitField operation{0, 6};               // 32-bit forms
inline constexpr BitField store_flag{2, 1};
inline constexpr BitField address_size{7, 2};
inline constexpr BitField block_flag{15, 1};
inline constexpr BitField response_length{20, 5};
inline constexpr BitField message_length{25, 4};
inline constexpr BitField address_type{29, 2};
inline constexpr BitField legacy_cleared_high{29, 3};
inline constexpr BitField top_bit{31, 1};
}  // namespace desc_field

namespace ex_field {
inline constexpr BitField shared_function{0, 5};
inline constexpr BitField data_length{6, 5};
inline constexpr BitField offset_and_index{12, 20};  // bits 12-31
inline constexpr BitField bti_offset{12, 12};
inline constexpr BitField bti_index{24, 8};
inline constexpr BitField surface_offset_index{6, 26};
}  // namespace ex_field

// Bits of the caller's extended descriptor a surface-offset model keeps:
// bits 0-3 and 5.
constexpr std::uint32_t surface_offset_kept_bits = 0x2F;

// Constant bits of the legacy store: message type 11 and bit 9 for a surface,
// message type 26 and bit 8 for flat 64-bit addresses.
constexpr std::uint32_t legacy_surface_constant = 0x2C200;
constexpr std::uint32_t legacy_flat_constant = 0x68100;
// Model bits that make the legacy store take its surface variant.
constexpr std::uint8_t legacy_surface_model_bits = 0x13;

constexpr std::uint32_t address_size_32 = 2;
constexpr std::uint32_t address_size_64 = 3;

enum class AddressType : std::uint32_t { flat = 0, surface_offset_1 = 1, surface_offset_2 = 2, bti = 3 };

constexpr std::uint32_t stateless_index = 255;

constexpr std::int32_t bti_offset_min = -2048;
constexpr std::int32_t bti_offset_max = 2047;
constexpr std::int32_t flat_offset_min = -524288;
constexpr std::int32_t flat_offset_max = 524287;

// Register (GRF) sizes and lane shifts of the address payload.
constexpr std::uint32_t store_grf_bytes = 64;
constexpr std::uint32_t store_lane_shift = 5;
constexpr std::uint32_t narrow_lane_shift = 4;
constexpr std::uint32_t wide_lane_shift = 5;

constexpr std::uint32_t legacy_lane_shift = 4;
constexpr std::uint32_t legacy_lane_mask = 15;
constexpr std::uint32_t store_lane_mask = 7;

bool is_read_only(std::uint8_t model) { return model == model_read_only_a || model == model_read_only_b; }

template <class Word>
void put(Word& word, BitField field, std::uint64_t value) {
  set_bits(word, field, value);
}

// ---------------------------------------------------------------------------
// 32-bit forms.

struct Descriptors {
  std::uint32_t descriptor;
  std::uint32_t extended_descriptor;
};

// How many registers of addresses and data one message carries.
struct PayloadSizes {
  std::uint32_t message_length;
  std::uint32_t data_length;
};

// Address part of the descriptors (steps shared by load and store).
Descriptors address_descriptors(std::uint32_t extended_in, const MessageDataShape& shape, MessageAddress address,
                                std::int32_t offset) {
  std::uint8_t model = address.model();
  std::uint32_t index = address.index();
  Descriptors out{shape.desc_template, extended_in};
  put(out.extended_descriptor, ex_field::shared_function,
      model == model_slm ? shared_function::local_memory : shared_function::memory);
  put(out.descriptor, desc_field::top_bit, 0);
  put(out.descriptor, desc_field::address_size, model == model_flat64 ? address_size_64 : address_size_32);

  if (model == model_stateless) {
    model = model_bti;
    index = stateless_index;
  }
  AddressType type = AddressType::flat;
  switch (model) {
    case model_bti:
      if (offset < bti_offset_min || offset > bti_offset_max) throw invalid_address_modifier_exception();
      type = AddressType::bti;
      put(out.extended_descriptor, ex_field::offset_and_index, 0);
      put(out.extended_descriptor, ex_field::bti_index, index);
      put(out.extended_descriptor, ex_field::bti_offset, static_cast<std::uint32_t>(offset));
      break;
    case model_flat64:
    case model_slm:
      if (offset < flat_offset_min || offset > flat_offset_max) throw invalid_address_modifier_exception();
      type = AddressType::flat;
      put(out.extended_descriptor, ex_field::offset_and_index, static_cast<std::uint32_t>(offset));
      break;
    case model_surface_offset_1:
    case model_surface_offset_2:
      type = model == model_surface_offset_1 ? AddressType::surface_offset_1 : AddressType::surface_offset_2;
      out.extended_descriptor &= surface_offset_kept_bits;
      put(out.extended_descriptor, ex_field::surface_offset_index, index);
      break;
    default:
      throw invalid_model_exception();
  }
  put(out.descriptor, desc_field::address_type, static_cast<std::uint32_t>(type));
  return out;
}

bool is_block_message(std::uint32_t desc_template) {
  return get_bits(desc_template, desc_field::block_flag) != 0 && get_bits(desc_template, desc_field::operation) == 0;
}

std::uint32_t ceil_div(std::uint32_t a, std::uint32_t b) { return (a + b - 1) / b; }

// `registers_per_address`: address registers of one element row (n).
PayloadSizes payload_sizes(const MessageDataShape& shape, MessageAddress address, std::uint32_t grf_bytes,
                           std::uint32_t registers_per_address) {
  const std::uint32_t count = shape.count == 0 ? 1 : shape.count;
  if (is_block_message(shape.desc_template)) return {1, ceil_div(count * shape.element_bytes, grf_bytes)};
  const std::uint32_t n = registers_per_address;
  const std::uint32_t message_length = address.model() == model_flat64 ? n << 1 : n;
  const std::uint32_t data_length = count * ((shape.element_bytes >> 3) + 1u) * n;
  return {message_length, data_length};
}

std::uint32_t lane_shift_of(HW hw) { return hw < first_wide_grf_hw ? narrow_lane_shift : wide_lane_shift; }

// ---------------------------------------------------------------------------
// Load message emitters.

void emit_load_message(CodeGenerator& generator, HW hw, bool caller_function, std::uint32_t target,
                       InstructionModifier modifier, RegisterOperand destination, const MessageDataShape& shape,
                       MessageAddress address, AddressOperand address_operand) {
  std::uint32_t descriptor = 0;
  std::uint32_t extended = 0;
  if (caller_function) put(extended, ex_field::shared_function, target);
  encode_load_descriptor(hw, descriptor, extended, static_cast<std::uint8_t>(modifier.execution_size()), destination,
                         shape, address, address_operand);
  if (caller_function) put(extended, ex_field::shared_function, target);
  const auto function = static_cast<std::uint8_t>(get_bits(extended, ex_field::shared_function));
  const RegisterOperand null_src1 = RegisterOperand::from_bits(null_register_ud_word);
  constexpr std::uint64_t unused_argument = ~std::uint64_t{0};
  switch (hw) {
    case hw::gulon:
      encode_send_hw6(generator, encoders::opcode::send, modifier, function, destination, address_operand.reg, null_src1,
                      extended, descriptor);
      break;
    case hw::harix:
    case hw::jorva:
      encode_send_hw7(generator, encoders::opcode::send, modifier, function, destination, address_operand.reg, null_src1,
                      unused_argument, extended, descriptor);
      break;
    default:
      encode_send_hw9(generator, encoders::opcode::send, modifier, function, destination, address_operand.reg, null_src1,
                      unused_argument, extended, descriptor);
      break;
  }
}

}  // namespace

// ---------------------------------------------------------------------------

void encode_store_descriptor_legacy(std::uint32_t& descriptor, std::uint32_t& extended_descriptor,
                                    std::uint32_t modifier, std::uint8_t count, MessageAddress address) {
  const std::uint8_t model = address.model();
  if (is_read_only(model)) throw read_only_exception();
  const std::uint32_t n = ((modifier >> legacy_lane_shift) & legacy_lane_mask) + 1;
  const bool flat = model == model_flat64;
  const std::uint32_t simd16 = (modifier >> legacy_lane_shift) & 1;

  std::uint32_t desc = 0;
  put(desc, desc_field::surface_index, address.index());
  put(desc, desc_field::response_length, n * count);
  put(desc, desc_field::message_length, flat ? n << 1 : n);
  std::uint32_t function = 0;
  if (flat) {
    desc |= legacy_flat_constant;
    put(desc, desc_field::legacy_flat_simd16, simd16);
    function = shared_function::legacy_flat;
  } else {
    if ((model & legacy_surface_model_bits) == 0) throw invalid_model_exception();
    desc |= legacy_surface_constant;
    put(desc, desc_field::legacy_simd16, simd16);
    function = shared_function::legacy_data_port;
  }
  put(desc, desc_field::legacy_element_count, count == 0 ? 0 : log2_floor(count));

  std::uint32_t extended = extended_descriptor;
  put(extended, ex_field::shared_function, function);
  put(extended, ex_field::data_length, get_bits(desc, desc_field::response_length));
  // The data length lives only in the extended descriptor.
  put(desc, desc_field::response_length, 0);
  put(desc, desc_field::legacy_cleared_high, 0);

  descriptor = desc;
  extended_descriptor = extended;
}

void encode_load_descriptor(HW hw, std::uint32_t& descriptor, std::uint32_t& extended_descriptor,
                            std::uint8_t execution_size, RegisterOperand destination, const MessageDataShape& shape,
                            MessageAddress address, AddressOperand address_operand) {
  Descriptors out = address_descriptors(extended_descriptor, shape, address, address_operand.offset);
  const std::uint32_t n = (std::uint32_t{execution_size} >> lane_shift_of(hw)) + 1;
  const PayloadSizes sizes = payload_sizes(shape, address, grf_bytes(hw), n);
  put(out.descriptor, desc_field::message_length, sizes.message_length);
  put(out.descriptor, desc_field::response_length, sizes.data_length);
  if (destination.is_null()) {
    put(out.descriptor, desc_field::response_length, 0);
    put(out.descriptor, desc_field::top_bit, 0);
  }
  descriptor = out.descriptor;
  extended_descriptor = out.extended_descriptor;
}

void encode_store_descriptor(std::uint32_t& descriptor, std::uint32_t& extended_descriptor, std::uint32_t modifier,
                             const MessageDataShape& shape, MessageAddress address, AddressOperand address_operand) {
  if (is_read_only(address.model())) throw read_only_exception();
  Descriptors out = address_descriptors(extended_descriptor, shape, address, address_operand.offset);
  const std::uint32_t n = ((modifier >> store_lane_shift) & store_lane_mask) + 1;
  const PayloadSizes sizes = payload_sizes(shape, address, store_grf_bytes, n);
  put(out.descriptor, desc_field::message_length, sizes.message_length);
  put(out.extended_descriptor, ex_field::data_length, sizes.data_length);
  put(out.descriptor, desc_field::response_length, 0);
  put(out.descriptor, desc_field::top_bit, 0);
  put(out.descriptor, desc_field::store_flag, 1);
  descriptor = out.descriptor;
  extended_descriptor = out.extended_descriptor;
}

void encode_message_hw6(CodeGenerator& generator, std::uint8_t target, InstructionModifier modifier,
                        RegisterOperand destination, const MessageDataShape& shape, MessageAddress address,
                        AddressOperand address_operand) {
  emit_load_message(generator, hw::gulon, target != choose_shared_function_hw6, target, modifier, destination, shape,
                    address, address_operand);
}

namespace {
void emit_wide_message(CodeGenerator& generator, HW hw, std::int8_t target, InstructionModifier modifier,
                       RegisterOperand destination, const MessageDataShape& shape, MessageAddress address,
                       AddressOperand address_operand) {
  emit_load_message(generator, hw, target != choose_shared_function_hw7, static_cast<std::uint8_t>(target), modifier,
                    destination, shape, address, address_operand);
}
}  // namespace

void encode_message_hw7(CodeGenerator& generator, std::int8_t target, InstructionModifier modifier,
                        RegisterOperand destination, const MessageDataShape& shape, MessageAddress address,
                        AddressOperand address_operand) {
  emit_wide_message(generator, hw::harix, target, modifier, destination, shape, address, address_operand);
}
void encode_message_hw8(CodeGenerator& generator, std::int8_t target, InstructionModifier modifier,
                        RegisterOperand destination, const MessageDataShape& shape, MessageAddress address,
                        AddressOperand address_operand) {
  emit_wide_message(generator, hw::jorva, target, modifier, destination, shape, address, address_operand);
}
void encode_message_hw9(CodeGenerator& generator, std::int8_t target, InstructionModifier modifier,
                        RegisterOperand destination, const MessageDataShape& shape, MessageAddress address,
                        AddressOperand address_operand) {
  emit_wide_message(generator, hw::lumet, target, modifier, destination, shape, address, address_operand);
}

}  // namespace ulmara::qez::zorn
