// Generic instruction builders over the format tables.
#include "gpu/zorn/encoders/encoder_core.hpp"

#include <algorithm>

#include "gpu/zorn/exceptions.hpp"
#include "gpu/zorn/swsb.hpp"

namespace ulmara::qez::zorn::encoders {

// ---------------------------------------------------------------------------
// Generations.

namespace {

constexpr std::array<GenerationTraits, generation_count> generation_traits{{
    {hw::vemra, Generation::vemra, Family::legacy, TypeCodeTable::vemra_register, TypeCodeTable::vemra_immediate},
    {hw::sutal, Generation::sutal, Family::legacy, TypeCodeTable::sutal, TypeCodeTable::sutal},
    {hw::dorik, Generation::dorik, Family::dorik, TypeCodeTable::dorik, TypeCodeTable::dorik},
    {hw::gulon, Generation::gulon, Family::dorik, TypeCodeTable::dorik, TypeCodeTable::dorik},
    {hw::harix, Generation::harix, Family::wide, TypeCodeTable::dorik, TypeCodeTable::dorik},
    {hw::jorva, Generation::jorva, Family::wide, TypeCodeTable::dorik, TypeCodeTable::dorik},
    {hw::lumet, Generation::lumet, Family::wide, TypeCodeTable::dorik, TypeCodeTable::dorik},
}};

// The pipe value and mode that make the wide scoreboard field take 0x300 for
// a destination-only token wait with a distance, besides pipe 1.
constexpr std::uint32_t wide_dst_wait_pipe = 1;
constexpr std::uint32_t wide_dst_wait_default = 0x100;
constexpr std::uint32_t wide_dst_wait_long = 0x300;

// A field's "all ones": the indirect vertical stride 127.
constexpr std::uint64_t all_ones = ~std::uint64_t{0};

std::uint32_t modifier_bits(InstructionModifier m, BitField field) { return m.field(field); }

std::uint64_t flag(bool value) { return value ? 1 : 0; }

std::uint32_t vertical_stride_code(RegisterOperand operand) {
  return operand.vertical_stride() == vertical_stride_per_address && operand.is_indirect()
             ? static_cast<std::uint32_t>(all_ones)
             : stride_code(operand.vertical_stride());
}

// Stride code of a three-source destination: log2(stride), 0 for stride 0.
std::uint32_t three_source_destination_stride_code(std::uint32_t stride) {
  return stride == 0 ? 0 : log2_floor(stride);
}

void check_valid(RegisterOperand operand) {
  if (operand.is_invalid()) throw invalid_object_exception();
}

// Register fields outside the send form hold eight bits: a higher GRF number
// would be cut to another register.
void check_register_fits(RegisterOperand operand) {
  if (is_grf_above_255(operand)) throw limited_to_256_grf_exception();
}

// The GRF flag, byte offset and number of the register a direct operand
// names, in the fields of one form.
template <class Field>
void write_direct_register(Instruction128& instruction, Generation g, RegisterOperand operand, Field grf_flag,
                          Field byte_offset, Field register_number) {
  put(instruction, grf_flag, g, flag(!operand.is_arf()));
  put(instruction, byte_offset, g, operand.byte_offset());
  put(instruction, register_number, g, operand.register_number());
}

// Bit 3 of a type code: the class of the type (integer or float family).
constexpr std::uint32_t type_class_bit = 3;

}  // namespace

Generation generation_of(HW hw) { return traits_of(hw).column; }

HW hw_of(Generation generation) { return generation_traits[static_cast<std::size_t>(generation)].hw; }

GenerationTraits traits_of(HW hw) {
  for (const GenerationTraits& traits : generation_traits)
    if (traits.hw == hw) return traits;
  throw invalid_object_exception();
}

InstructionModifier merged_modifier(const CodeGenerator& generator, InstructionModifier argument) {
  generator.apply_default_modifier(argument);
  return argument;
}

std::uint32_t widest_element_bytes(std::initializer_list<DataType> types, std::uint32_t at_least) {
  std::uint32_t widest = at_least;
  for (DataType type : types) widest = std::max(widest, type.bytes());
  return widest;
}

bool is_grf_above_255(RegisterOperand operand) {
  constexpr std::uint32_t first_high_register = 256;
  return !operand.is_arf() && operand.register_number() >= first_high_register;
}

void append(CodeGenerator& generator, const Instruction128& instruction) {
  generator.append_instruction(instruction.half[0], instruction.half[1]);
}

Instruction128 from_words(const InstructionWords& words) {
  Instruction128 instruction;
  instruction.half[0] = low_half(words);
  instruction.half[1] = high_half(words);
  return instruction;
}

// ---------------------------------------------------------------------------
// Control fields.

std::uint32_t scoreboard_value(Family family, SwsbInfo swsb, std::uint32_t opcode_value) {
  switch (family) {
    case Family::legacy:
      return 0;
    case Family::dorik:
      return encode_scoreboard_byte_hw4(swsb);
    case Family::wide: {
      std::uint32_t field = encode_scoreboard_field_hw7(swsb);
      // A destination-only token wait with a distance takes the long-pipe
      // offset for opcode 89 as well as for pipe 1.
      const bool dst_only_wait = swsb.has_distance() && swsb.dst() && !swsb.src();
      if (dst_only_wait && opcode_value == opcode::dpas_like_89 && swsb.pipe() != wide_dst_wait_pipe)
        field += wide_dst_wait_long - wide_dst_wait_default;
      return field;
    }
  }
  return 0;
}

void write_control(Instruction128& instruction, const GenerationTraits& traits, std::uint32_t opcode_value,
                   InstructionModifier merged) {
  const Generation g = traits.column;
  for (std::size_t row = 0; row < control_modifier_source.size(); ++row) {
    const auto field = static_cast<ControlField>(row);
    std::uint64_t value = 0;
    if (field == ControlField::opcode) {
      value = opcode_value;
    } else if (field == ControlField::scoreboard) {
      value = scoreboard_value(traits.family, merged.swsb(), opcode_value);
    } else {
      value = modifier_bits(merged, control_modifier_source[row]);
    }
    put(instruction, field, g, value);
  }
}

// ---------------------------------------------------------------------------
// Regular forms.

namespace {

// The fields of one register operand of a regular form.
struct RegularOperandFields {
  RegularField register_file, type, address_immediate, address_subregister, grf_flag, byte_offset, register_number;
};
constexpr RegularOperandFields regular_destination_fields{
    RegularField::dst_register_file, RegularField::dst_type,        RegularField::dst_address_immediate,
    RegularField::dst_address_subregister, RegularField::dst_grf_flag, RegularField::dst_byte_offset,
    RegularField::dst_register};
constexpr RegularOperandFields regular_source0_fields{
    RegularField::src0_register_file, RegularField::src0_type,        RegularField::src0_address_immediate,
    RegularField::src0_address_subregister, RegularField::src0_grf_flag, RegularField::src0_byte_offset,
    RegularField::src0_register};

// The legacy register-file code and the hardware type code of an operand,
// once it is known to be valid and to name a register the fields can hold.
void write_checked_file_and_type(Instruction128& instruction, const GenerationTraits& traits,
                                 RegisterOperand operand, const RegularOperandFields& fields) {
  check_valid(operand);
  check_register_fits(operand);
  put(instruction, fields.register_file, traits.column, operand.is_arf() ? legacy_file_arf : legacy_file_grf);
  put(instruction, fields.type, traits.column, hardware_type_code(traits.register_types, operand.type()));
}

// Where an operand's register is: the address immediate and subregister of
// an indirect one, else its GRF flag, byte offset and number.
void write_register_address(Instruction128& instruction, Generation g, RegisterOperand operand,
                            const RegularOperandFields& fields) {
  if (operand.is_indirect()) {
    put(instruction, fields.address_immediate, g, operand.subregister_offset());
    put(instruction, fields.address_subregister, g, operand.address_subregister());
  } else {
    write_direct_register(instruction, g, operand, fields.grf_flag, fields.byte_offset, fields.register_number);
  }
}

// The fields of an immediate source: the register file that says
// "immediate", the flag and the type.
struct ImmediateSourceFields {
  RegularField register_file, is_immediate, type;
};

void write_immediate_source(Instruction128& instruction, const GenerationTraits& traits, Immediate immediate,
                            const ImmediateSourceFields& fields) {
  put(instruction, fields.register_file, traits.column, legacy_file_immediate);
  put(instruction, fields.is_immediate, traits.column, 1);
  put(instruction, fields.type, traits.column, hardware_type_code(traits.immediate_types, immediate.type));
}

}  // namespace

void write_regular_destination(Instruction128& instruction, const GenerationTraits& traits, RegisterOperand dst) {
  write_checked_file_and_type(instruction, traits, dst, regular_destination_fields);
  const Generation g = traits.column;
  using F = RegularField;
  put(instruction, F::dst_indirect, g, flag(dst.is_indirect()));
  put(instruction, F::dst_horizontal_stride, g, stride_code(dst.horizontal_stride()));
  write_register_address(instruction, g, dst, regular_destination_fields);
}

void write_regular_source0(Instruction128& instruction, const GenerationTraits& traits, RegisterOperand src0) {
  write_checked_file_and_type(instruction, traits, src0, regular_source0_fields);
  const Generation g = traits.column;
  using F = RegularField;
  if (field_of(F::src0_legacy_field, g).present()) {
    put(instruction, F::src0_legacy_field, g, encode_source_operand(src0));
    if (src0.is_indirect()) put(instruction, F::src0_legacy_address_immediate_bit9, g, src0.subregister_offset());
  }
  put(instruction, F::src0_modifiers, g, src0.source_modifiers());
  put(instruction, F::src0_horizontal_stride, g, stride_code(src0.horizontal_stride()));
  put(instruction, F::src0_indirect, g, flag(src0.is_indirect()));
  put(instruction, F::src0_width, g, width_code(src0.width()));
  put(instruction, F::src0_vertical_stride, g, vertical_stride_code(src0));
  write_register_address(instruction, g, src0, regular_source0_fields);
}

void write_immediate_source0(Instruction128& instruction, const GenerationTraits& traits, Immediate immediate) {
  write_immediate_source(instruction, traits, immediate,
                         {RegularField::src0_register_file, RegularField::src0_is_immediate, RegularField::src0_type});
}

void write_immediate_source1(Instruction128& instruction, const GenerationTraits& traits, Immediate immediate) {
  write_immediate_source(instruction, traits, immediate,
                         {RegularField::src1_register_file, RegularField::src1_is_immediate, RegularField::src1_type});
}

void write_regular_modifiers(Instruction128& instruction, const GenerationTraits& traits, std::uint32_t opcode_value,
                             InstructionModifier merged, RegisterOperand dst) {
  const Generation g = traits.column;
  using F = RegularField;
  put(instruction, F::modifier_28, g, flag(merged.bit(28)));
  put(instruction, F::modifier_31, g, flag(merged.bit(31)));
  // The legacy bit 47 carries address bit 9 of an indirect destination instead.
  if (!dst.is_indirect()) put(instruction, F::modifier_47, g, flag(merged.bit(47)));
  // Written after the destination: on wide formats it replaces byte-offset bit 0.
  if (opcode_value == opcode::dpas_like_89) put(instruction, F::modifier_28_opcode_89, g, flag(merged.bit(28)));
}

namespace {

void fixup(RegisterOperand& operand, const GenerationTraits& traits, InstructionModifier merged,
           std::uint32_t widest, DataType default_type, int source_number, int arity) {
  fixup_operand(operand, traits.hw, merged.execution_size(), widest, default_type, source_number, arity);
}

void write_conditional_modifier(Instruction128& instruction, const GenerationTraits& traits,
                                InstructionModifier own) {
  put(instruction, RegularField::conditional_modifier, traits.column, own.conditional_modifier());
}

constexpr int arity_one = 1;
constexpr int arity_two = 2;
constexpr int arity_three = 3;

}  // namespace

Instruction128 build_register_move(const CodeGenerator& generator, const GenerationTraits& traits,
                                   const RegularRequest& request, RegisterOperand dst, RegisterOperand src0) {
  const InstructionModifier merged = merged_modifier(generator, request.argument);
  fixup(dst, traits, merged, request.widest_bytes, request.default_type, destination_operand, arity_one);
  fixup(src0, traits, merged, request.widest_bytes, request.default_type, 0, arity_one);

  Instruction128 instruction;
  write_control(instruction, traits, request.opcode, merged);
  write_regular_destination(instruction, traits, dst);
  write_regular_source0(instruction, traits, src0);
  write_conditional_modifier(instruction, traits, request.argument);
  write_regular_modifiers(instruction, traits, request.opcode, merged, dst);
  return instruction;
}

Instruction128 build_immediate_move(const CodeGenerator& generator, const GenerationTraits& traits,
                                    const RegularRequest& request, RegisterOperand dst, Immediate immediate,
                                    std::uint32_t max_width_code) {
  const InstructionModifier merged = merged_modifier(generator, request.argument);
  fixup(dst, traits, merged, request.widest_bytes, request.default_type, destination_operand, arity_one);
  if (immediate.type.width_code() > max_width_code) throw invalid_immediate_exception();

  Instruction128 instruction;
  write_control(instruction, traits, request.opcode, merged);
  write_regular_destination(instruction, traits, dst);
  write_immediate_source0(instruction, traits, immediate);
  const Generation g = traits.column;
  // Where the conditional modifier has its own field, a 64-bit immediate's
  // high half takes that dword.
  const bool has_condition_field = field_of(RegularField::conditional_modifier, g).present();
  if (has_condition_field && immediate.is_64bit() && request.argument.conditional_modifier() != 0)
    throw invalid_modifiers_exception();
  write_conditional_modifier(instruction, traits, request.argument);
  if (immediate.is_64bit())
    put(instruction, RegularField::immediate64, g, immediate.payload);
  else
    put(instruction, RegularField::immediate32, g, immediate.low32());
  write_regular_modifiers(instruction, traits, request.opcode, merged, dst);
  return instruction;
}

Instruction128 build_compare_immediate(const CodeGenerator& generator, const GenerationTraits& traits,
                                       const RegularRequest& request, RegisterOperand dst, RegisterOperand src0,
                                       Immediate immediate) {
  const InstructionModifier merged = merged_modifier(generator, request.argument);
  fixup(dst, traits, merged, request.widest_bytes, request.default_type, destination_operand, arity_two);
  fixup(src0, traits, merged, request.widest_bytes, request.default_type, 0, arity_two);
  if (immediate.type.width_code() > width_code_32) throw invalid_immediate_exception();

  Instruction128 instruction;
  write_control(instruction, traits, request.opcode, merged);
  write_regular_destination(instruction, traits, dst);
  write_regular_source0(instruction, traits, src0);
  write_immediate_source1(instruction, traits, immediate);
  write_conditional_modifier(instruction, traits, request.argument);
  put(instruction, RegularField::immediate32, traits.column, immediate.low32());
  write_regular_modifiers(instruction, traits, request.opcode, merged, dst);
  return instruction;
}

// ---------------------------------------------------------------------------
// Three-source form.

std::uint32_t three_source_region_code(RegisterOperand source) {
  switch (source.vertical_stride()) {
    case 0: return 0;
    case 1: return 1;
    case 4: return 2;
    case 8: return 3;
    default:
      if (source.horizontal_stride() == 0) throw invalid_region_exception();
      return 3;
  }
}

void check_three_source_operand(RegisterOperand operand) {
  check_valid(operand);
  if (operand.is_indirect()) throw invalid_operand_exception();
  check_register_fits(operand);
}

namespace {

// The fields of one register source of the three-source form; a source
// whose type goes in later (src1, checked with the others) has `type`
// TernaryField::count.
struct ThreeSourceFields {
  TernaryField region, type, modifiers, horizontal_stride, grf_flag, byte_offset, register_number;
};

void write_three_source_operand(Instruction128& instruction, const GenerationTraits& traits, RegisterOperand source,
                                const ThreeSourceFields& fields) {
  check_three_source_operand(source);
  const std::uint32_t region = three_source_region_code(source);
  const Generation g = traits.column;
  put(instruction, fields.region, g, region);
  if (fields.type != TernaryField::count)
    put(instruction, fields.type, g, hardware_type_code(traits.register_types, source.type()));
  put(instruction, fields.modifiers, g, source.source_modifiers());
  put(instruction, fields.horizontal_stride, g, stride_code(source.horizontal_stride()));
  write_direct_register(instruction, g, source, fields.grf_flag, fields.byte_offset, fields.register_number);
}

}  // namespace

void write_three_source_src0(Instruction128& instruction, const GenerationTraits& traits, RegisterOperand src0) {
  using F = TernaryField;
  write_three_source_operand(instruction, traits, src0,
                             {F::src0_region, F::src0_type, F::src0_modifiers, F::src0_horizontal_stride,
                              F::src0_grf_flag, F::src0_byte_offset, F::src0_register});
}

void write_three_source_src1(Instruction128& instruction, const GenerationTraits& traits, RegisterOperand src1) {
  using F = TernaryField;
  write_three_source_operand(instruction, traits, src1,
                             {F::src1_region, F::count, F::src1_modifiers, F::src1_horizontal_stride,
                              F::src1_grf_flag, F::src1_byte_offset, F::src1_register});
}

Instruction128 build_three_source(const CodeGenerator& generator, const GenerationTraits& traits,
                                  InstructionModifier argument, RegisterOperand dst, RegisterOperand src0,
                                  RegisterOperand src1, Immediate src2) {
  const DataType default_type = data_type::ud;
  const InstructionModifier merged = merged_modifier(generator, argument);
  const std::uint32_t widest = widest_element_bytes(
      {default_type, src2.type, dst.type(), src0.type(), src1.type()}, minimum_widest_bytes_register_move);
  fixup(dst, traits, merged, widest, default_type, destination_operand, arity_three);
  fixup(src0, traits, merged, widest, default_type, 0, arity_three);
  fixup(src1, traits, merged, widest, default_type, 1, arity_three);
  if (src2.type.width_code() > width_code_16) throw invalid_immediate_exception();

  Instruction128 instruction;
  write_control(instruction, traits, opcode::mad, merged);
  check_three_source_operand(dst);
  write_three_source_src0(instruction, traits, src0);

  const Generation g = traits.column;
  using F = TernaryField;
  put(instruction, F::modifier_28, g, flag(merged.bit(28)));
  put(instruction, F::modifier_31, g, flag(merged.bit(31)));
  const std::uint32_t dst_type = hardware_type_code(traits.register_types, dst.type());
  put(instruction, F::dst_type, g, dst_type);
  put(instruction, F::dst_horizontal_stride, g, three_source_destination_stride_code(dst.horizontal_stride()));
  write_direct_register(instruction, g, dst, F::dst_grf_flag, F::dst_byte_offset, F::dst_register);
  put(instruction, F::src2_is_immediate, g, 1);

  write_three_source_src1(instruction, traits, src1);
  put(instruction, F::immediate16, g, src2.low32());

  const std::uint32_t codes[] = {dst_type, hardware_type_code(traits.register_types, src0.type()),
                                 hardware_type_code(traits.register_types, src1.type()),
                                 hardware_type_code(traits.immediate_types, src2.type)};
  const bool type_class = get_bit(codes[0], type_class_bit);
  for (std::uint32_t code : codes)
    if (get_bit(code, type_class_bit) != type_class) throw invalid_type_exception();

  put(instruction, F::src2_type, g, codes[3]);
  put(instruction, F::src1_type, g, codes[2]);
  put(instruction, F::conditional_modifier, g, argument.conditional_modifier());
  return instruction;
}

// ---------------------------------------------------------------------------
// Send form.

namespace {

// ARF kinds that stand in for an indirect message source on Lumet.
constexpr std::uint32_t arf_kind_shift = 4;
constexpr std::uint32_t lumet_indirect_arf_high = 22u << arf_kind_shift;  // register bit 8 set
constexpr std::uint32_t lumet_indirect_arf_low = 1u << arf_kind_shift;
constexpr std::uint32_t register_bit_8 = 0x100;
constexpr std::uint32_t register_low_byte = 0xFF;

// The untyped ARF operand that replaces an indirect message source, and its
// sub-register offset.
RegisterOperand lumet_indirect_source(RegisterOperand src0) {
  const std::uint32_t number = src0.register_number();
  RegisterOperand replacement =
      RegisterOperand::arf((number & register_bit_8) ? lumet_indirect_arf_high : lumet_indirect_arf_low);
  return with_offset_and_type(replacement, number & register_low_byte, data_type::none);
}

void write_legacy_send_destination(Instruction128& instruction, const GenerationTraits& traits,
                                   RegisterOperand dst) {
  check_register_fits(dst);
  const Generation g = traits.column;
  using F = SendField;
  put(instruction, F::dst_register_file, g, dst.is_arf() ? legacy_file_arf : legacy_file_grf);
  put(instruction, F::dst_type, g, hardware_type_code(traits.register_types, dst.type()));
  if (dst.is_indirect()) {
    put(instruction, F::dst_indirect, g, 1);
    put(instruction, F::dst_indirect_horizontal_stride, g, stride_code(dst.horizontal_stride()));
    put(instruction, F::dst_address_immediate, g, dst.subregister_offset());
    put(instruction, F::dst_address_subregister, g, dst.address_subregister());
  } else {
    put(instruction, F::dst_horizontal_stride, g, stride_code(dst.horizontal_stride()));
    put(instruction, F::dst_byte_offset, g, dst.byte_offset());
    put(instruction, F::dst_register, g, dst.register_number());
  }
}

}  // namespace

Instruction128 build_send(const CodeGenerator& generator, const GenerationTraits& traits, const SendRequest& request) {
  const InstructionModifier merged = merged_modifier(generator, request.argument);
  const Generation g = traits.column;
  using F = SendField;
  const bool legacy = traits.family == Family::legacy;

  check_valid(request.dst);
  check_valid(request.src0);
  if (!legacy) check_valid(request.src1);

  RegisterOperand src0 = request.src0;
  const bool replace_indirect_source = src0.is_indirect() && field_of(F::indirect_src0_subregister, g).present();
  std::uint32_t indirect_subregister = 0;
  if (replace_indirect_source) {
    src0 = lumet_indirect_source(src0);
    indirect_subregister = src0.subregister_offset();
  }

  Instruction128 instruction;
  write_control(instruction, traits, request.opcode, merged);
  put(instruction, F::modifier_8, g, flag(merged.bit(8)));
  put(instruction, F::shared_function, g, request.shared_function);
  put(instruction, F::modifier_36, g, flag(merged.bit(36)));
  put(instruction, F::modifier_43_47, g, merged.field(BitField{43, 5}));
  put(instruction, F::modifier_46, g, flag(merged.bit(46)));

  if (legacy) {
    write_legacy_send_destination(instruction, traits, request.dst);
    put(instruction, F::src0_register_file, g, src0.is_arf() ? legacy_file_arf : legacy_file_grf);
    put(instruction, F::src0_legacy_field, g, encode_source_operand(src0));
    put(instruction, F::src1_register_file, g, legacy_file_immediate);
  } else {
    put(instruction, F::dst_grf_flag, g, flag(!request.dst.is_arf()));
    put(instruction, F::dst_register, g, request.dst.register_number());
    put(instruction, F::src0_grf_flag, g, flag(!src0.is_arf()));
    put(instruction, F::src0_register, g, src0.register_number());
    put(instruction, F::src1_grf_flag, g, flag(!request.src1.is_arf()));
    put(instruction, F::src1_register, g, request.src1.register_number());
  }

  put(instruction, F::extended_descriptor, g, request.extended_descriptor);
  if (replace_indirect_source)
    put(instruction, F::indirect_src0_subregister, g, indirect_subregister);
  else
    put(instruction, F::extended_descriptor_6_10, g, request.extended_descriptor);
  put(instruction, F::descriptor, g, request.descriptor);

  if (!legacy && (is_grf_above_255(request.dst) || is_grf_above_255(src0) || is_grf_above_255(request.src1)))
    throw limited_to_256_grf_exception();
  return instruction;
}

}  // namespace ulmara::qez::zorn::encoders
