// Operand value types of the zorn generator: the data-type byte, register
// operands with their regions, immediates and the per-instruction modifier
// word; the per-generation hardware type codes; the completion of a register
// operand for one instruction (fixup_operand) and the pre-Dorik source field.
#pragma once

#include <cstdint>

#include "gpu/zorn/bit_fields.hpp"
#include "gpu/zorn/hw.hpp"
#include "gpu/zorn/swsb.hpp"

namespace ulmara::qez::zorn {

// ---------------------------------------------------------------------------
// DataType: one byte, bits 5-7 log2 of the element width in bits, bits 0-4 the
// type index that selects the hardware type code.

namespace data_type_field {
inline constexpr BitField index{0, 5};
inline constexpr BitField width_code{5, 3};
}  // namespace data_type_field

// Width codes (log2 of the width in bits).
enum class WidthCode : std::uint8_t { bits8 = 3, bits16 = 4, bits32 = 5, bits64 = 6, bits128 = 7 };

struct DataType {
  std::uint8_t value = 0x60;

  constexpr DataType() = default;
  constexpr explicit DataType(std::uint8_t byte) : value(byte) {}

  constexpr std::uint32_t width_code() const {
    return static_cast<std::uint32_t>(get_bits(value, data_type_field::width_code));
  }
  constexpr std::uint32_t index() const {
    return static_cast<std::uint32_t>(get_bits(value, data_type_field::index));
  }
  // log2 of the element size in bytes: max(width code - 3, 0).
  constexpr std::uint32_t log2_bytes() const { return width_code() > 3 ? width_code() - 3 : 0; }
  constexpr std::uint32_t bytes() const { return 1u << log2_bytes(); }
  // The no-type value 0x60: "not given", completed from a default type.
  constexpr bool is_none() const;

  friend constexpr bool operator==(DataType a, DataType b) { return a.value == b.value; }
  friend constexpr bool operator!=(DataType a, DataType b) { return a.value != b.value; }
};
static_assert(sizeof(DataType) == 1, "DataType is one byte");

namespace data_type {
inline constexpr DataType none{0x60};
inline constexpr DataType uw{0x82};      // 16-bit, index 2
inline constexpr DataType ud{0xa0};      // 32-bit, index 0
inline constexpr DataType d{0xa1};       // 32-bit, index 1
inline constexpr DataType uq{0xc8};      // 64-bit, index 8
}  // namespace data_type

constexpr bool DataType::is_none() const { return value == data_type::none.value; }

// Hardware type-code tables (4-bit codes written into instruction type fields).
enum class TypeCodeTable : std::uint8_t {
  vemra_register,   // low four bits of the type index
  vemra_immediate,
  sutal,            // registers and immediates alike
  dorik,            // Dorik and every later format; all five index bits
};
std::uint32_t hardware_type_code(TypeCodeTable table, DataType type);

// ---------------------------------------------------------------------------
// RegisterOperand: base word (bits 0-31) and region word (bits 32-63).

namespace operand_field {
inline constexpr BitField register_number{0, 9};
inline constexpr BitField arf_kind{4, 5};           // ARF operands
inline constexpr BitField address_subregister{0, 4};  // indirect operands
inline constexpr BitField arf{9, 1};
inline constexpr BitField subregister_offset{10, 11};
inline constexpr BitField address_immediate{10, 10};  // indirect operands
inline constexpr BitField source_modifiers{21, 2};
inline constexpr BitField type{23, 8};
inline constexpr BitField indirect{31, 1};
inline constexpr BitField vertical_stride{32, 7};
inline constexpr BitField width{39, 5};
inline constexpr BitField horizontal_stride{44, 6};
inline constexpr BitField kept{50, 13};
inline constexpr BitField invalid{63, 1};
}  // namespace operand_field

// Vertical stride of an indirect operand whose region comes per address register.
inline constexpr std::uint32_t vertical_stride_per_address = 127;
// Register numbers of the GRF field; ARF numbers of the ARF kinds used here.
inline constexpr std::uint32_t max_register_number = 511;
inline constexpr std::uint32_t arf_null = 0x00;
inline constexpr std::uint32_t arf_ip = 0xA0;

class RegisterOperand {
 public:
  static constexpr std::uint64_t invalid_bits = std::uint64_t{1} << 63;

  std::uint64_t bits = invalid_bits;

  // An operand that was never set.
  constexpr RegisterOperand() = default;
  static constexpr RegisterOperand from_bits(std::uint64_t word) {
    RegisterOperand op;
    op.bits = word;
    return op;
  }
  // GRF register `number`, element `offset` of `type`, no region given.
  // Throws invalid_range_exception when the number or offset does not fit.
  static RegisterOperand grf(std::uint32_t number, DataType type = data_type::none,
                             std::uint32_t offset = 0);
  // ARF register `arf_number` (kind in bits 4-8).
  static RegisterOperand arf(std::uint32_t arf_number, DataType type = data_type::none);
  // The null register of `type` with horizontal stride 1.
  static RegisterOperand null(DataType type);
  // Register-indirect operand through address sub-register `subregister`.
  static RegisterOperand indirect(std::uint32_t subregister, std::int32_t address_immediate,
                                  DataType type = data_type::none);

  constexpr std::uint32_t base_word() const { return static_cast<std::uint32_t>(bits); }
  constexpr std::uint32_t region_word() const { return static_cast<std::uint32_t>(bits >> 32); }

  constexpr std::uint32_t register_number() const { return field(operand_field::register_number); }
  constexpr bool is_arf() const { return field(operand_field::arf) != 0; }
  constexpr std::uint32_t subregister_offset() const { return field(operand_field::subregister_offset); }
  constexpr std::uint32_t address_subregister() const { return field(operand_field::address_subregister); }
  constexpr std::uint32_t address_immediate() const { return field(operand_field::address_immediate); }
  constexpr std::uint32_t source_modifiers() const { return field(operand_field::source_modifiers); }
  constexpr DataType type() const { return DataType(static_cast<std::uint8_t>(field(operand_field::type))); }
  constexpr bool is_indirect() const { return field(operand_field::indirect) != 0; }
  constexpr std::uint32_t vertical_stride() const { return field(operand_field::vertical_stride); }
  constexpr std::uint32_t width() const { return field(operand_field::width); }
  constexpr std::uint32_t horizontal_stride() const { return field(operand_field::horizontal_stride); }
  constexpr bool is_invalid() const { return field(operand_field::invalid) != 0; }
  // ARF flag set and ARF kind 0.
  constexpr bool is_null() const { return is_arf() && field(operand_field::arf_kind) == 0; }
  // Byte offset of the first element inside its register.
  constexpr std::uint32_t byte_offset() const { return subregister_offset() << type().log2_bytes(); }

  // Checked setters: a value that does not fit its field throws
  // invalid_range_exception (register, offset) or invalid_region_exception
  // (strides, width) instead of being cut.
  RegisterOperand& set_register_number(std::uint32_t number);
  RegisterOperand& set_subregister_offset(std::uint32_t offset);
  RegisterOperand& set_type(DataType type);
  RegisterOperand& set_source_modifiers(std::uint32_t modifiers);
  RegisterOperand& set_region(std::uint32_t vertical_stride, std::uint32_t width,
                              std::uint32_t horizontal_stride);
  RegisterOperand& set_vertical_stride(std::uint32_t stride);
  RegisterOperand& set_width(std::uint32_t width);
  RegisterOperand& set_horizontal_stride(std::uint32_t stride);
  RegisterOperand& set_invalid(bool invalid);

  friend constexpr bool operator==(RegisterOperand a, RegisterOperand b) { return a.bits == b.bits; }
  friend constexpr bool operator!=(RegisterOperand a, RegisterOperand b) { return a.bits != b.bits; }

 private:
  constexpr std::uint32_t field(BitField f) const { return static_cast<std::uint32_t>(get_bits(bits, f)); }
};
static_assert(sizeof(RegisterOperand) == 8, "RegisterOperand is one 64-bit word");

// Base-word bits kept when a new offset and type are applied: register,
// ARF flag, source modifiers and indirect flag.
inline constexpr std::uint32_t retype_kept_base_mask = 0x806003ffu;

// The operand with base-word bits 0-9, 21-22 and 31 and the region word kept,
// sub-register offset `offset` and type `type`. Throws invalid_range_exception
// when the offset does not fit its 11 bits.
RegisterOperand with_offset_and_type(RegisterOperand operand, std::uint32_t offset, DataType type);

// The operand viewed as `view` type: element `element` of the new type counted
// from the operand's first byte (the element offset rescaled by the sizes).
RegisterOperand element_view(RegisterOperand operand, DataType view, std::uint32_t element);

// ---------------------------------------------------------------------------
// Immediate: a 64-bit payload followed by its type.

struct Immediate {
  std::uint64_t payload = 0;
  DataType type = data_type::none;

  constexpr Immediate() = default;
  constexpr Immediate(std::uint64_t value, DataType t) : payload(value), type(t) {}
  constexpr std::uint32_t low32() const { return static_cast<std::uint32_t>(payload); }
  constexpr std::uint32_t high32() const { return static_cast<std::uint32_t>(payload >> 32); }
  constexpr bool is_64bit() const { return type.width_code() == static_cast<std::uint32_t>(WidthCode::bits64); }
};

// ---------------------------------------------------------------------------
// InstructionModifier: one 64-bit word per instruction.

namespace modifier_field {
inline constexpr BitField execution_size{0, 8};
inline constexpr BitField legacy_dword0{9, 23};   // bits 9-31
inline constexpr BitField predicate_control{16, 4};
inline constexpr BitField predicate_invert{20, 1};
inline constexpr BitField execution_size_code{21, 3};
inline constexpr BitField conditional_modifier{24, 4};
inline constexpr BitField legacy_dword1{32, 16};  // bits 32-47
inline constexpr BitField swsb{48, 16};
}  // namespace modifier_field

namespace modifier_bit {
inline constexpr std::uint32_t auto_swsb = 45;     // request for automatic scoreboard handling
inline constexpr std::uint32_t end_of_thread = 47;
}  // namespace modifier_bit

struct InstructionModifier {
  std::uint64_t bits = 0;

  constexpr InstructionModifier() = default;
  constexpr explicit InstructionModifier(std::uint64_t value) : bits(value) {}

  constexpr bool bit(std::uint32_t n) const { return get_bit(bits, n); }
  constexpr std::uint32_t field(BitField f) const { return static_cast<std::uint32_t>(get_bits(bits, f)); }
  constexpr std::uint32_t execution_size() const { return field(modifier_field::execution_size); }
  constexpr std::uint32_t predicate_control() const { return field(modifier_field::predicate_control); }
  constexpr bool predicate_invert() const { return bit(modifier_field::predicate_invert.low); }
  constexpr std::uint32_t execution_size_code() const { return field(modifier_field::execution_size_code); }
  constexpr std::uint32_t conditional_modifier() const { return field(modifier_field::conditional_modifier); }
  constexpr SwsbInfo swsb() const { return SwsbInfo(static_cast<std::uint16_t>(field(modifier_field::swsb))); }

  constexpr InstructionModifier& operator|=(InstructionModifier other) {
    bits |= other.bits;
    return *this;
  }
  friend constexpr InstructionModifier operator|(InstructionModifier a, InstructionModifier b) {
    return InstructionModifier(a.bits | b.bits);
  }
  friend constexpr bool operator==(InstructionModifier a, InstructionModifier b) { return a.bits == b.bits; }
  friend constexpr bool operator!=(InstructionModifier a, InstructionModifier b) { return a.bits != b.bits; }
};
static_assert(sizeof(InstructionModifier) == 8, "InstructionModifier is one 64-bit word");

// ---------------------------------------------------------------------------
// Region codes shared by all encoders.

// Stride s: 0 for 0, log2(s) + 1 otherwise.
constexpr std::uint32_t stride_code(std::uint32_t stride) { return stride == 0 ? 0 : log2_floor(stride) + 1; }
// Width w: log2(w), 0 when no width was given.
constexpr std::uint32_t width_code(std::uint32_t width) { return width == 0 ? 0 : log2_floor(width); }

// Source number of the destination in fixup_operand.
inline constexpr int destination_operand = -1;

// Completes a register operand for one instruction: fills the type from
// `default_type`, derives the region from the execution size, sets the
// destination's horizontal stride. Throws invalid_object_exception,
// missing_type_exception or invalid_region_exception.
void fixup_operand(RegisterOperand& operand, HW hw, std::uint32_t execution_size,
                   std::uint32_t widest_element_bytes, DataType default_type, int source_number,
                   int arity);

// The pre-Dorik 25-bit source-operand field of the Vemra and Sutal formats.
// Throws invalid_object_exception for an invalid operand,
// limited_to_256_grf_exception for a register the 8-bit field cannot hold,
// invalid_range_exception for a byte offset outside the 32-byte register and
// invalid_region_exception for a horizontal stride its 2-bit code cannot hold.
std::uint32_t encode_source_operand(std::uint32_t base_word, std::uint32_t region_word);
inline std::uint32_t encode_source_operand(RegisterOperand operand) {
  return encode_source_operand(operand.base_word(), operand.region_word());
}

}  // namespace ulmara::qez::zorn
