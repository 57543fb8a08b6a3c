// Operand value types: hardware type codes, checked operand construction,
// operand completion (fixup_operand) and the pre-Dorik source field.
#include "gpu/zorn/operands.hpp"

#include <algorithm>
#include <array>

#include "gpu/zorn/exceptions.hpp"

namespace ulmara::qez::zorn {
namespace {

// ---------------------------------------------------------------------------
// Hardware type codes by type index.

constexpr std::array<std::uint8_t, 16> vemra_immediate_codes{0, 1, 2, 3, 2, 3, 10, 7, 8, 9, 11, 0, 0, 4, 6, 5};
constexpr std::array<std::uint8_t, 16> sutal_codes{0, 1, 2, 3, 4, 5, 10, 9, 6, 7, 8, 0, 0, 4, 5, 11};
constexpr std::array<std::uint8_t, 32> dorik_codes{
    2, 6, 1, 5, 0, 4, 11, 10, 3, 7, 9, 13, 8, 0, 4, 8,  // 0-15
    14, 12, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 0, 4, 0, 4,   // 16-31
};
constexpr std::uint32_t low_index_mask = 0xF;

// ---------------------------------------------------------------------------
// Pre-Dorik source field (bit positions of the 25-bit value).

namespace source_field {
constexpr BitField byte_offset{0, 5};
constexpr BitField register_number{5, 8};
constexpr BitField address_immediate{0, 9};
constexpr BitField address_subregister{9, 4};
constexpr BitField source_modifiers{13, 2};
constexpr BitField indirect{15, 1};
constexpr BitField horizontal_stride{16, 2};
constexpr BitField width{18, 3};
constexpr BitField vertical_stride{21, 4};
}  // namespace source_field

// Base-word field of the indirect address immediate that the pre-Dorik
// source field carries (bits 10-18).
constexpr BitField legacy_address_immediate{10, 9};
constexpr std::uint32_t legacy_grf_bytes = grf_bytes_narrow;
constexpr std::uint32_t all_ones_vertical_code = 15;
constexpr std::uint32_t elements_base_bytes = 32;  // rows of a region span 32 bytes
constexpr std::uint32_t max_region_width = 16;

constexpr std::uint32_t base_bits(std::uint32_t base_word, BitField f) {
  return static_cast<std::uint32_t>(get_bits(std::uint64_t{base_word}, f));
}

void require_fits(BitField field, std::uint64_t value) {
  if (!field.fits(value)) throw invalid_range_exception();
}
void require_region_fits(BitField field, std::uint64_t value) {
  if (!field.fits(value)) throw invalid_region_exception();
}

// The region of a source or destination that does not give one: a scalar
// region for one channel, otherwise rows of at most 32 bytes (and at most
// 16 elements) at the operand's horizontal stride.
void complete_region(RegisterOperand& operand, HW hw, std::uint32_t execution_size, int source_number,
                     int arity) {
  if (execution_size == 1) {
    operand.set_region(0, 1, 0);
    return;
  }
  const std::uint32_t h = operand.horizontal_stride();
  if (operand.width() == 0) {
    std::uint32_t width = 1;
    if (h != 0) {
      const auto per_row = static_cast<std::uint8_t>(elements_base_bytes >> operand.type().log2_bytes());
      width = std::min({static_cast<std::uint32_t>(static_cast<std::uint8_t>(per_row / h)), execution_size,
                        max_region_width});
    }
    const std::uint32_t vertical = width * h;
    const bool three_source_pair_rule = arity == 3 && hw >= hw::dorik && vertical == 2 && source_number <= 1;
    if (three_source_pair_rule) {
      if (h != 1) throw invalid_region_exception();
      operand.set_region(1, width, 0);
    } else {
      operand.set_region(vertical, width, h);
    }
  } else if (operand.width() == execution_size) {
    // A vertical stride past its 7-bit field would wrap to a different region.
    operand.set_vertical_stride(execution_size * h);
  }
}

// A destination without horizontal stride spans the widest element of the
// instruction.
void complete_destination_stride(RegisterOperand& operand, std::uint32_t widest_element_bytes) {
  if (operand.horizontal_stride() != 0) return;
  const std::uint32_t k = operand.type().log2_bytes();
  const std::uint32_t stride = widest_element_bytes > (1u << k) ? (widest_element_bytes >> k) % 64 : 1;
  operand.set_horizontal_stride(stride);
}

}  // namespace

std::uint32_t hardware_type_code(TypeCodeTable table, DataType type) {
  const std::uint32_t index = type.index();
  switch (table) {
    case TypeCodeTable::vemra_register: return index & low_index_mask;
    case TypeCodeTable::vemra_immediate: return vemra_immediate_codes[index & low_index_mask];
    case TypeCodeTable::sutal: return sutal_codes[index & low_index_mask];
    case TypeCodeTable::dorik: return dorik_codes[index];
  }
  throw invalid_type_exception();
}

// ---------------------------------------------------------------------------
// RegisterOperand

RegisterOperand RegisterOperand::grf(std::uint32_t number, DataType type, std::uint32_t offset) {
  RegisterOperand op = from_bits(0);
  op.set_register_number(number).set_subregister_offset(offset).set_type(type);
  return op;
}

RegisterOperand RegisterOperand::arf(std::uint32_t arf_number, DataType type) {
  RegisterOperand op = grf(arf_number, type);
  set_bits(op.bits, operand_field::arf, 1);
  return op;
}

RegisterOperand RegisterOperand::null(DataType type) {
  RegisterOperand op = arf(arf_null, type);
  op.set_horizontal_stride(1);
  return op;
}

RegisterOperand RegisterOperand::indirect(std::uint32_t subregister, std::int32_t address_immediate,
                                          DataType type) {
  constexpr std::int32_t min_immediate = -(1 << (operand_field::address_immediate.width - 1));
  constexpr std::int32_t max_immediate = (1 << (operand_field::address_immediate.width - 1)) - 1;
  if (address_immediate < min_immediate || address_immediate > max_immediate) throw invalid_range_exception();
  require_fits(operand_field::address_subregister, subregister);
  RegisterOperand op = from_bits(0);
  set_bits(op.bits, operand_field::address_subregister, subregister);
  set_bits(op.bits, operand_field::address_immediate, static_cast<std::uint32_t>(address_immediate));
  set_bits(op.bits, operand_field::indirect, 1);
  op.set_type(type);
  return op;
}

RegisterOperand& RegisterOperand::set_register_number(std::uint32_t number) {
  require_fits(operand_field::register_number, number);
  set_bits(bits, operand_field::register_number, number);
  return *this;
}

RegisterOperand& RegisterOperand::set_subregister_offset(std::uint32_t offset) {
  require_fits(operand_field::subregister_offset, offset);
  set_bits(bits, operand_field::subregister_offset, offset);
  return *this;
}

RegisterOperand& RegisterOperand::set_type(DataType type) {
  set_bits(bits, operand_field::type, type.value);
  return *this;
}

RegisterOperand& RegisterOperand::set_source_modifiers(std::uint32_t modifiers) {
  require_fits(operand_field::source_modifiers, modifiers);
  set_bits(bits, operand_field::source_modifiers, modifiers);
  return *this;
}

RegisterOperand& RegisterOperand::set_region(std::uint32_t vertical_stride, std::uint32_t width,
                                             std::uint32_t horizontal_stride) {
  require_region_fits(operand_field::vertical_stride, vertical_stride);
  require_region_fits(operand_field::width, width);
  require_region_fits(operand_field::horizontal_stride, horizontal_stride);
  set_bits(bits, operand_field::vertical_stride, vertical_stride);
  set_bits(bits, operand_field::width, width);
  set_bits(bits, operand_field::horizontal_stride, horizontal_stride);
  return *this;
}

RegisterOperand& RegisterOperand::set_vertical_stride(std::uint32_t stride) {
  return set_region(stride, width(), horizontal_stride());
}

RegisterOperand& RegisterOperand::set_width(std::uint32_t new_width) {
  return set_region(vertical_stride(), new_width, horizontal_stride());
}

RegisterOperand& RegisterOperand::set_horizontal_stride(std::uint32_t stride) {
  return set_region(vertical_stride(), width(), stride);
}

RegisterOperand& RegisterOperand::set_invalid(bool invalid) {
  set_bits(bits, operand_field::invalid, invalid ? 1 : 0);
  return *this;
}

RegisterOperand with_offset_and_type(RegisterOperand operand, std::uint32_t offset, DataType type) {
  require_fits(operand_field::subregister_offset, offset);
  const std::uint64_t region = operand.bits & 0xFFFFFFFF00000000ull;
  RegisterOperand result = RegisterOperand::from_bits(region | (operand.base_word() & retype_kept_base_mask));
  set_bits(result.bits, operand_field::subregister_offset, offset);
  result.set_type(type);
  return result;
}

RegisterOperand element_view(RegisterOperand operand, DataType view, std::uint32_t element) {
  if (operand.is_invalid()) throw invalid_object_exception();
  const std::uint32_t byte = operand.byte_offset();
  // A view must start on an element of the new type; rounding would move it.
  if (byte % view.bytes() != 0) throw invalid_range_exception();
  return with_offset_and_type(operand, byte / view.bytes() + element, view);
}

// ---------------------------------------------------------------------------
// fixup_operand

void fixup_operand(RegisterOperand& operand, HW hw, std::uint32_t execution_size,
                   std::uint32_t widest_element_bytes, DataType default_type, int source_number, int arity) {
  if (operand.is_invalid()) throw invalid_object_exception();
  if (operand.type().is_none()) {
    if (default_type.is_none()) throw missing_type_exception();
    operand.set_type(default_type);
  }
  if (operand.is_indirect() && operand.vertical_stride() == vertical_stride_per_address) return;
  complete_region(operand, hw, execution_size, source_number, arity);
  if (source_number < 0) complete_destination_stride(operand, widest_element_bytes);
}

// ---------------------------------------------------------------------------
// encode_source_operand

std::uint32_t encode_source_operand(std::uint32_t base_word, std::uint32_t region_word) {
  const RegisterOperand op = RegisterOperand::from_bits(std::uint64_t{region_word} << 32 | base_word);
  if (op.is_invalid()) throw invalid_object_exception();

  std::uint32_t field = 0;
  if (op.is_indirect()) {
    set_bits(field, source_field::address_immediate, base_bits(base_word, legacy_address_immediate));
    set_bits(field, source_field::address_subregister, op.address_subregister());
    set_bits(field, source_field::indirect, 1);
    const std::uint32_t vs = op.vertical_stride();
    set_bits(field, source_field::vertical_stride,
             vs == vertical_stride_per_address ? all_ones_vertical_code : stride_code(vs));
  } else {
    // The legacy field holds register bits 0-7 and a byte offset inside a
    // 32-byte register; anything beyond would be cut to another register.
    if (!source_field::register_number.fits(op.register_number())) throw limited_to_256_grf_exception();
    if (op.byte_offset() >= legacy_grf_bytes) throw invalid_range_exception();
    set_bits(field, source_field::byte_offset, op.byte_offset());
    set_bits(field, source_field::register_number, op.register_number());
    set_bits(field, source_field::vertical_stride, stride_code(op.vertical_stride()));
  }
  set_bits(field, source_field::source_modifiers, op.source_modifiers());
  const std::uint32_t h_code = stride_code(op.horizontal_stride());
  if (!source_field::horizontal_stride.fits(h_code)) throw invalid_region_exception();
  set_bits(field, source_field::horizontal_stride, h_code);
  set_bits(field, source_field::width, width_code(op.width()));
  return field;
}

}  // namespace ulmara::qez::zorn
