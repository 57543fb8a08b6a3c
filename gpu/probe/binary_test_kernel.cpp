// The "binary_test" program. One instruction sequence for every generation
// (emit_program); a table per generation says which encoder emits each kind
// of instruction in it.
#include "gpu/probe/binary_test_kernel.hpp"

#include <array>

#include "gpu/zorn/encoders/encoders.hpp"
#include "gpu/zorn/encoders/messages.hpp"
#include "gpu/zorn/exceptions.hpp"
#include "gpu/zorn/jumps.hpp"
#include "gpu/zorn/kernel_interface.hpp"
#include "gpu/zorn/prologues.hpp"

namespace ulmara::qez::gpu {
namespace {

using zorn::CodeGenerator;
using zorn::DataType;
using zorn::HW;
using zorn::Immediate;
using zorn::InstructionModifier;
using zorn::Label;
using zorn::RegisterOperand;
namespace data_type = zorn::data_type;
namespace hw = zorn::hw;

// ---------------------------------------------------------------------------
// Opcodes, registers and modifiers of the program.

enum class Opcode : std::uint32_t { mov_legacy = 1, send = 49, sendc = 51, mov = 97, cmp = 112 };
constexpr std::uint32_t op(Opcode opcode) { return static_cast<std::uint32_t>(opcode); }

// Operand words: r30 as a 32-bit scalar (region 0/1/0); the others untyped
// with horizontal stride 1; the null register as 32-bit and 16-bit.
const RegisterOperand result_value = RegisterOperand::from_bits(0x805000001E);
const RegisterOperand store_data = RegisterOperand::from_bits(0x10003000001E);
const RegisterOperand loaded_word = RegisterOperand::from_bits(0x10003000001F);
const RegisterOperand message_address = RegisterOperand::from_bits(0x100030000040);
const RegisterOperand thread_header = RegisterOperand::from_bits(0x100030000000);
const RegisterOperand thread_end_payload = RegisterOperand::from_bits(0x10003000007F);
const RegisterOperand null_ud = RegisterOperand::from_bits(0x100050000200);
const RegisterOperand null_uw = RegisterOperand::from_bits(0x100041000200);

namespace modifier {
constexpr InstructionModifier one_channel{0x1};
constexpr InstructionModifier compare{0x1000001};            // conditional modifier equal, flag f0.0
constexpr InstructionModifier compare_loaded{0x80000001000001};  // ... and wait for token 0
constexpr InstructionModifier jump_if_different{0x110001};   // predicated on f0.0, inverted
constexpr InstructionModifier pointer_move{0x200002};        // two channels
constexpr InstructionModifier load{0x1C0000000000001};       // token 0, distance 1
constexpr InstructionModifier store{0x1C2000000000001};      // token 2, distance 1
constexpr InstructionModifier fence{0xC2000400000001};       // token 2, bit 34
constexpr InstructionModifier copy_header{0x600008};         // eight channels
constexpr InstructionModifier thread_end{0x1C2000000000000};  // token 2, distance 1
}  // namespace modifier

constexpr std::uint64_t auto_scoreboard_bit = std::uint64_t{1} << zorn::modifier_bit::auto_swsb;
constexpr std::uint64_t kernel_code_bit = std::uint64_t{1} << 34;

constexpr std::int32_t narrow_simd_width = 8;
constexpr std::int32_t wide_simd_width = 16;
constexpr std::uint32_t local_id_dimensions = 3;

// The legacy data-port load of the input word: shared function 12,
// scattered read with 64-bit addresses, response length 1 unless the
// destination is the null register.
constexpr std::uint32_t legacy_load_extended_descriptor = 0x0C;
constexpr std::uint8_t legacy_load_shared_function = 12;
constexpr std::uint32_t legacy_load_descriptor = 0x040401FF;
constexpr std::uint32_t legacy_load_response_bit = 1u << 20;

// 32-bit loads and stores through a flat 64-bit pointer.
constexpr zorn::MessageDataShape one_dword{0x400, 1, 4};
constexpr zorn::MessageAddress flat_pointer{zorn::model_flat64, 255};
constexpr std::uint8_t memory_shared_function = 15;
constexpr std::uint32_t shared_function_mask = 0x1F;

// Fence descriptors: bits 12-14 are 6 on Gulon and 0 from Harix on.
constexpr std::uint32_t fence_descriptor_gulon = 0x0210671F;
constexpr std::uint32_t fence_descriptor_wide = 0x0210071F;

constexpr std::uint64_t unused_send_argument = ~std::uint64_t{0};

// ---------------------------------------------------------------------------
// The arguments and the thirteen checks.

struct ArgumentDeclaration {
  const char* name;
  DataType type;
  bool pointer;
};
const std::array<ArgumentDeclaration, 8> arguments{{
    {"src0", data_type::ud, false},
    {"src1", data_type::uq, false},
    {"src2", data_type::uw, false},
    {"src3", data_type::uw, false},
    {"src4", data_type::uq, false},
    {"src5", data_type::uq, false},
    {binary_test_input_name, data_type::uq, true},
    {binary_test_output_name, data_type::uq, true},
}};

// A 16-bit immediate holds its value in both halves of its low 32 bits.
constexpr std::uint64_t both_halves(std::uint16_t value) { return (std::uint64_t{value} << 16) | value; }
constexpr std::uint32_t low_dword(std::uint64_t value) { return static_cast<std::uint32_t>(value); }
constexpr std::uint32_t high_dword(std::uint64_t value) { return static_cast<std::uint32_t>(value >> 32); }

// What one check compares.
enum class CheckPart { whole, low_half, high_half };
struct ArgumentCheck {
  int argument;  // index into binary_test_scalar_names
  CheckPart part;
  bool sixteen_bit;
  Immediate expected;
};
const std::array<ArgumentCheck, 9> argument_checks{{
    {0, CheckPart::whole, false, {binary_test_src0, data_type::ud}},
    {1, CheckPart::low_half, false, {low_dword(binary_test_src1), data_type::ud}},
    {1, CheckPart::high_half, false, {high_dword(binary_test_src1), data_type::ud}},
    {2, CheckPart::whole, true, {both_halves(binary_test_src2), data_type::uw}},
    {3, CheckPart::whole, true, {both_halves(binary_test_src3), data_type::uw}},
    {4, CheckPart::low_half, false, {low_dword(binary_test_src4), data_type::ud}},
    {4, CheckPart::high_half, false, {high_dword(binary_test_src4), data_type::ud}},
    {5, CheckPart::low_half, false, {low_dword(binary_test_src5), data_type::ud}},
    {5, CheckPart::high_half, false, {high_dword(binary_test_src5), data_type::ud}},
}};

// ---------------------------------------------------------------------------
// The encoders of each generation.

enum class Family { legacy, dorik, gulon, wide };

using MovImmediate = void (*)(CodeGenerator&, DataType, InstructionModifier, RegisterOperand, Immediate);
using CompareImmediate = void (*)(CodeGenerator&, InstructionModifier, RegisterOperand, RegisterOperand, Immediate);
using JumpEmitter = void (*)(CodeGenerator&, InstructionModifier, Label&);
using RegisterMove = void (*)(CodeGenerator&, InstructionModifier, RegisterOperand, RegisterOperand);
using InputLoad = void (*)(CodeGenerator&, InstructionModifier);
using StoreSend = void (*)(CodeGenerator&, InstructionModifier, std::uint32_t extended_descriptor,
                           std::uint32_t descriptor);
using FenceSend = void (*)(CodeGenerator&, InstructionModifier, std::uint32_t descriptor);
using ThreadEnd = void (*)(CodeGenerator&, InstructionModifier, RegisterOperand);
using Prologue = void (*)(CodeGenerator&);

struct ProgramEncoders {
  HW hw;
  Family family;
  MovImmediate mov_immediate;
  CompareImmediate compare;
  JumpEmitter jump;
  RegisterMove move;
  InputLoad load;
  StoreSend store;
  FenceSend fence;  // null: no fence
  ThreadEnd thread_end;
  Prologue prologue;  // null: no prologue
};

// mov with an immediate.
void mov_imm_hw1(CodeGenerator& g, DataType t, InstructionModifier m, RegisterOperand d, Immediate i) {
  zorn::encode_op_imm_hw1(g, op(Opcode::mov_legacy), t, m, d, i);
}
void mov_imm_hw3(CodeGenerator& g, DataType t, InstructionModifier m, RegisterOperand d, Immediate i) {
  zorn::encode_op_imm_hw3(g, op(Opcode::mov_legacy), t, m, d, i);
}
void mov_imm_hw4(CodeGenerator& g, DataType t, InstructionModifier m, RegisterOperand d, Immediate i) {
  zorn::encode_op_imm_hw4(g, op(Opcode::mov), t, m, d, i);
}
void mov_imm_hw6(CodeGenerator& g, DataType t, InstructionModifier m, RegisterOperand d, Immediate i) {
  zorn::encode_op_imm_hw6(g, op(Opcode::mov), t, m, d, i);
}
void mov_imm_hw7(CodeGenerator& g, DataType, InstructionModifier m, RegisterOperand d, Immediate i) {
  zorn::encode_op_imm_mod_hw7(g, m, d, i);
}
void mov_imm_hw8(CodeGenerator& g, DataType, InstructionModifier m, RegisterOperand d, Immediate i) {
  zorn::encode_op_imm_mod_hw8(g, m, d, i);
}
void mov_imm_hw9(CodeGenerator& g, DataType, InstructionModifier m, RegisterOperand d, Immediate i) {
  zorn::encode_op_imm_mod_hw9(g, m, d, i);
}

// Compare with an immediate; the untyped default leaves the types to the operands.
void cmp_hw6(CodeGenerator& g, InstructionModifier m, RegisterOperand d, RegisterOperand s, Immediate i) {
  zorn::encode_binary_op_hw6(g, op(Opcode::cmp), data_type::none, m, d, s, i);
}
void cmp_hw7(CodeGenerator& g, InstructionModifier m, RegisterOperand d, RegisterOperand s, Immediate i) {
  zorn::encode_binary_op_hw7(g, op(Opcode::cmp), data_type::none, m, d, s, i);
}
void cmp_hw8(CodeGenerator& g, InstructionModifier m, RegisterOperand d, RegisterOperand s, Immediate i) {
  zorn::encode_binary_op_hw8(g, op(Opcode::cmp), data_type::none, m, d, s, i);
}
void cmp_hw9(CodeGenerator& g, InstructionModifier m, RegisterOperand d, RegisterOperand s, Immediate i) {
  zorn::encode_binary_op_hw9(g, op(Opcode::cmp), data_type::none, m, d, s, i);
}

// mov with a register source.
void mov_hw6(CodeGenerator& g, InstructionModifier m, RegisterOperand d, RegisterOperand s) {
  zorn::encode_unary_op_hw6(g, op(Opcode::mov), data_type::ud, m, d, s);
}
void mov_hw7(CodeGenerator& g, InstructionModifier m, RegisterOperand d, RegisterOperand s) {
  zorn::encode_unary_op_hw7(g, op(Opcode::mov), data_type::ud, m, d, s);
}
void mov_hw8(CodeGenerator& g, InstructionModifier m, RegisterOperand d, RegisterOperand s) {
  zorn::encode_unary_op_hw8(g, op(Opcode::mov), data_type::ud, m, d, s);
}
void mov_hw9(CodeGenerator& g, InstructionModifier m, RegisterOperand d, RegisterOperand s) {
  zorn::encode_unary_op_hw9(g, op(Opcode::mov), data_type::ud, m, d, s);
}

// The load of the input word that the program compares with its known value.
constexpr std::uint32_t legacy_load_descriptor_for(RegisterOperand destination) {
  return legacy_load_descriptor | (destination.is_null() ? 0 : legacy_load_response_bit);
}
void load_hw1(CodeGenerator& g, InstructionModifier m) {
  zorn::encode_send_hw1(g, m, loaded_word, message_address, legacy_load_extended_descriptor,
                        legacy_load_descriptor_for(loaded_word));
}
void load_hw3(CodeGenerator& g, InstructionModifier m) {
  zorn::encode_send_hw3(g, m, loaded_word, message_address, legacy_load_extended_descriptor,
                        legacy_load_descriptor_for(loaded_word));
}
void load_hw4(CodeGenerator& g, InstructionModifier m) {
  zorn::encode_send_hw4(g, op(Opcode::send), m, loaded_word, message_address, null_ud,
                        legacy_load_extended_descriptor, legacy_load_descriptor_for(loaded_word));
}
void load_hw6(CodeGenerator& g, InstructionModifier m) {
  zorn::encode_send_hw6(g, op(Opcode::send), m, legacy_load_shared_function, loaded_word, message_address, null_ud,
                        legacy_load_extended_descriptor, legacy_load_descriptor_for(loaded_word));
}
void load_hw7(CodeGenerator& g, InstructionModifier m) {
  zorn::encode_message_hw7(g, zorn::choose_shared_function_hw7, m, loaded_word, one_dword, flat_pointer,
                           {message_address, 0});
}
void load_hw8(CodeGenerator& g, InstructionModifier m) {
  zorn::encode_message_hw8(g, zorn::choose_shared_function_hw7, m, loaded_word, one_dword, flat_pointer,
                           {message_address, 0});
}
void load_hw9(CodeGenerator& g, InstructionModifier m) {
  zorn::encode_message_hw9(g, zorn::choose_shared_function_hw7, m, loaded_word, one_dword, flat_pointer,
                           {message_address, 0});
}

// The send that stores the pass or fail word. Vemra and Sutal build a split send in place from
// the default modifier M: opcode 51, shared function in bits 24-27, source
// 1 r30, null destination.
zorn::InstructionWords split_send_words(InstructionModifier m, std::uint32_t ex, std::uint32_t desc) {
  const std::uint32_t source0 = zorn::encode_source_operand(message_address);
  const auto m_low = static_cast<std::uint32_t>(m.bits);
  const auto m_high = static_cast<std::uint32_t>(m.bits >> 32);
  return {((ex & 0xF) << 24) + (m_low & 0xF0FFFF00u) + op(Opcode::sendc),
          (m_high & 0x9E7u) | 0x1E010u,
          (ex & 0xFFFF0000u) | ((ex >> 6) & 0xFu) | (source0 & 0xDFF0u),
          (((ex >> 5) & 1u) << 31) | (desc & 0x7FFFFFFFu)};
}
void store_split_send(CodeGenerator& g, InstructionModifier, std::uint32_t ex, std::uint32_t desc) {
  g.append_instruction(split_send_words(g.default_modifier, ex, desc));
}
void store_hw4(CodeGenerator& g, InstructionModifier m, std::uint32_t ex, std::uint32_t desc) {
  zorn::encode_send_hw4(g, op(Opcode::sendc), m, null_ud, message_address, store_data, ex, desc);
}
void store_hw6(CodeGenerator& g, InstructionModifier m, std::uint32_t ex, std::uint32_t desc) {
  zorn::encode_send_hw6(g, op(Opcode::send), m, static_cast<std::uint8_t>(ex & shared_function_mask), null_ud,
                        message_address, store_data, ex, desc);
}
void store_hw7(CodeGenerator& g, InstructionModifier m, std::uint32_t ex, std::uint32_t desc) {
  zorn::encode_send_hw7(g, op(Opcode::send), m, memory_shared_function, null_ud, message_address, store_data,
                        unused_send_argument, ex, desc);
}
void store_hw9(CodeGenerator& g, InstructionModifier m, std::uint32_t ex, std::uint32_t desc) {
  zorn::encode_send_hw9(g, op(Opcode::send), m, memory_shared_function, null_ud, message_address, store_data,
                        unused_send_argument, ex, desc);
}

// The memory fence after the store, on the generations that need one.
void fence_hw6(CodeGenerator& g, InstructionModifier m, std::uint32_t desc) {
  zorn::encode_send_hw6(g, op(Opcode::send), m, memory_shared_function, message_address, thread_header, null_ud, 0,
                        desc);
}
void fence_hw7(CodeGenerator& g, InstructionModifier m, std::uint32_t desc) {
  zorn::encode_send_hw7(g, op(Opcode::send), m, memory_shared_function, message_address, thread_header, null_ud,
                        unused_send_argument, 0, desc);
}
void fence_hw9(CodeGenerator& g, InstructionModifier m, std::uint32_t desc) {
  zorn::encode_send_hw9(g, op(Opcode::send), m, memory_shared_function, message_address, thread_header, null_ud,
                        unused_send_argument, 0, desc);
}

// The Dorik thread end is a plain send with the end-of-thread bits.
void thread_end_hw4(CodeGenerator& g, InstructionModifier m, RegisterOperand payload) {
  zorn::encode_send_hw4(g, op(Opcode::send), m | InstructionModifier(zorn::closing_message::thread_end_modifier),
                        null_ud, payload, null_ud, zorn::closing_message::legacy_extended_descriptor,
                        zorn::closing_message::descriptor);
}

const std::array<ProgramEncoders, 7> program_encoders{{
    {hw::vemra, Family::legacy, mov_imm_hw1, zorn::encode_cmp_imm_hw1, zorn::emit_jmpi_hw1, zorn::encode_mov_hw1,
     load_hw1, store_split_send, nullptr, zorn::encode_thread_end_hw1, nullptr},
    {hw::sutal, Family::legacy, mov_imm_hw3, zorn::encode_cmp_imm_hw3, zorn::emit_jmpi_hw3, zorn::encode_mov_hw3,
     load_hw3, store_split_send, nullptr, zorn::encode_thread_end_hw3, nullptr},
    {hw::dorik, Family::dorik, mov_imm_hw4, zorn::encode_cmp_imm_hw4, zorn::emit_jmpi_hw4, zorn::encode_mov_hw4,
     load_hw4, store_hw4, nullptr, thread_end_hw4, nullptr},
    {hw::gulon, Family::gulon, mov_imm_hw6, cmp_hw6, zorn::emit_jmpi_hw4, mov_hw6, load_hw6, store_hw6, fence_hw6,
     zorn::encode_send_select_hw6, zorn::emit_prologue_hw6},
    {hw::harix, Family::wide, mov_imm_hw7, cmp_hw7, zorn::emit_jmpi_hw7, mov_hw7, load_hw7, store_hw7, fence_hw7,
     zorn::encode_send_select_hw7, zorn::emit_prologue_hw7},
    {hw::jorva, Family::wide, mov_imm_hw8, cmp_hw8, zorn::emit_jmpi_hw7, mov_hw8, load_hw8, store_hw7, fence_hw7,
     zorn::encode_send_select_hw8, zorn::emit_prologue_hw8},
    {hw::lumet, Family::wide, mov_imm_hw9, cmp_hw9, zorn::emit_jmpi_hw7, mov_hw9, load_hw9, store_hw9, fence_hw9,
     zorn::encode_send_select_hw9, zorn::emit_prologue_hw9},
}};

const ProgramEncoders& encoders_of(HW generation) {
  for (const ProgramEncoders& row : program_encoders)
    if (row.hw == generation) return row;
  throw zorn::invalid_object_exception();
}

// ---------------------------------------------------------------------------
// The pieces the constructor puts together.

void declare_interface(CodeGenerator& g) {
  g.interface.kernel_name = binary_test_kernel_name;
  for (const ArgumentDeclaration& argument : arguments) {
    if (argument.pointer)
      zorn::interface_add_argument(g.interface, argument.name, argument.type, zorn::ArgumentKind::global_pointer);
    else
      zorn::declare_argument(g, argument.name, argument.type);
  }
  g.default_modifier.bits |= auto_scoreboard_bit;
  g.interface.simd_width = g.hw() < hw::harix ? narrow_simd_width : wide_simd_width;
  g.interface.local_ids = local_id_dimensions;
  g.interface.local_size_needed = true;
  zorn::finalize_interface(g.interface);
}

// Argument locations the program reads.
struct ArgumentLocations {
  std::array<RegisterOperand, 6> scalars;
  RegisterOperand input_pointer;
  std::uint32_t output_binding_table_index = zorn::no_binding_table_index;
};

ArgumentLocations look_up_arguments(const CodeGenerator& g, Family family) {
  ArgumentLocations locations;
  for (std::size_t i = 0; i < locations.scalars.size(); ++i)
    locations.scalars[i] = zorn::find_argument(g, binary_test_scalar_names[i]);
  locations.input_pointer = zorn::find_argument(g, binary_test_input_name);
  if (family != Family::wide)
    locations.output_binding_table_index = zorn::binding_table_index_of(g.interface, binary_test_output_name);
  zorn::find_argument(g, binary_test_output_name);
  return locations;
}

// A pointer argument read as 32-bit elements with horizontal stride 1 and no
// vertical stride or width; region-word bits 50-62 are kept.
RegisterOperand pointer_source(RegisterOperand location, DataType view) {
  RegisterOperand source = zorn::element_view(location, view, 0);
  const std::uint64_t kept = source.bits & (std::uint64_t{0x1FFF} << zorn::operand_field::kept.low);
  source = RegisterOperand::from_bits((source.bits & 0xFFFFFFFFull) | kept);
  return source.set_horizontal_stride(1);
}

RegisterOperand checked_operand(const ArgumentLocations& locations, const ArgumentCheck& check) {
  const RegisterOperand location = locations.scalars[static_cast<std::size_t>(check.argument)];
  switch (check.part) {
    case CheckPart::low_half: return zorn::element_view(location, data_type::ud, 0);
    case CheckPart::high_half: return zorn::element_view(location, data_type::ud, 1);
    case CheckPart::whole: break;
  }
  return location;
}

void compare_and_jump(CodeGenerator& g, const ProgramEncoders& e, Label& fail, InstructionModifier compare,
                      RegisterOperand destination, RegisterOperand operand, Immediate expected) {
  e.compare(g, compare, destination, operand, expected);
  e.jump(g, modifier::jump_if_different, fail);
}

void emit_argument_checks(CodeGenerator& g, const ProgramEncoders& e, Label& fail, const ArgumentLocations& locations) {
  for (const ArgumentCheck& check : argument_checks)
    compare_and_jump(g, e, fail, modifier::compare, check.sixteen_bit ? null_uw : null_ud,
                     checked_operand(locations, check), check.expected);
}

void emit_input_check(CodeGenerator& g, const ProgramEncoders& e, Label& fail, const ArgumentLocations& locations) {
  e.move(g, modifier::pointer_move, message_address, pointer_source(locations.input_pointer, data_type::ud));
  e.load(g, modifier::load);
  const RegisterOperand word = RegisterOperand::grf(loaded_word.register_number(), data_type::ud).set_region(0, 1, 0);
  compare_and_jump(g, e, fail, modifier::compare_loaded, null_ud, word, {binary_test_input_word, data_type::ud});
}

void emit_local_size_checks(CodeGenerator& g, const ProgramEncoders& e, Label& fail) {
  for (int dimension = 0; dimension < 3; ++dimension) {
    const std::uint16_t size = static_cast<std::uint16_t>(binary_test_local_size[dimension]);
    compare_and_jump(g, e, fail, modifier::compare, null_ud, zorn::get_local_size_argument(g.interface, dimension),
                     {both_halves(size), data_type::uw});
  }
}

void emit_result_store(CodeGenerator& g, const ProgramEncoders& e, const ArgumentLocations& locations) {
  std::uint32_t descriptor = 0;
  std::uint32_t extended = 0;
  if (e.family == Family::wide) {
    const RegisterOperand output = zorn::find_argument(g, binary_test_output_name);
    e.move(g, modifier::pointer_move, message_address, pointer_source(output, data_type::d));
    extended = memory_shared_function;
    zorn::encode_store_descriptor(descriptor, extended, static_cast<std::uint32_t>(modifier::store.bits), one_dword,
                                  flat_pointer, {message_address, 0});
    extended = (extended & ~shared_function_mask) | memory_shared_function;
  } else {
    e.mov_immediate(g, data_type::ud, modifier::one_channel, message_address, {0, data_type::uw});
    zorn::encode_store_descriptor_legacy(descriptor, extended, static_cast<std::uint32_t>(modifier::one_channel.bits),
                                         1, {zorn::model_bti, locations.output_binding_table_index});
  }
  e.store(g, modifier::store, extended, descriptor);
}

void emit_fence(CodeGenerator& g, const ProgramEncoders& e) {
  g.fence_destination = message_address;
  g.fence_label.reset();
  zorn::mark_label(g, g.fence_label);
  e.fence(g, modifier::fence, e.family == Family::gulon ? fence_descriptor_gulon : fence_descriptor_wide);
}

void emit_program(CodeGenerator& g, const ProgramEncoders& e, const ArgumentLocations& locations) {
  Label fail;
  e.mov_immediate(g, data_type::none, modifier::one_channel, result_value, {both_halves(binary_test_failed), data_type::uw});
  emit_argument_checks(g, e, fail, locations);
  emit_input_check(g, e, fail, locations);
  emit_local_size_checks(g, e, fail);
  e.mov_immediate(g, data_type::none, modifier::one_channel, result_value, {both_halves(binary_test_passed), data_type::uw});
  zorn::mark_label(g, fail);
  emit_result_store(g, e, locations);
  if (e.fence) emit_fence(g, e);
  e.move(g, modifier::copy_header, thread_end_payload, thread_header);
  e.thread_end(g, modifier::thread_end, thread_end_payload);
}

}  // namespace

BinaryTestKernel::BinaryTestKernel(zorn::HW generation) : CodeGenerator(generation) {
  const ProgramEncoders& e = encoders_of(generation);
  declare_interface(*this);
  const ArgumentLocations locations = look_up_arguments(*this, e.family);
  if (e.prologue)
    e.prologue(*this);
  else if (!interface.finalized)
    throw zorn::interface_not_finalized();
  default_modifier.bits |= kernel_code_bit;
  emit_program(*this, e, locations);
}

static_assert(sizeof(BinaryTestKernel) == sizeof(zorn::CodeGenerator), "the test kernel adds no state");

}  // namespace ulmara::qez::gpu
