// Kernel prologues: one procedure for Gulon, Harix, Jorva and Lumet that
// differs only in the encoders it calls and in the constants that follow
// from the register size (32 bytes on Gulon, 64 from Harix on).
#include "gpu/zorn/prologues.hpp"

#include <algorithm>

#include "gpu/zorn/encoders/encoders.hpp"
#include "gpu/zorn/encoders/messages.hpp"
#include "gpu/zorn/exceptions.hpp"

namespace ulmara::qez::zorn {
namespace {

enum class PrologueOpcode : std::uint32_t { add = 64, nop = 96, bitwise_and = 101 };

constexpr std::uint32_t op(PrologueOpcode opcode) { return static_cast<std::uint32_t>(opcode); }

// Every prologue instruction is a scalar: execution size 1.
constexpr InstructionModifier scalar_modifier{1};

// Slot of the thread: bits 0-7 of r0's 16-bit element 4.
constexpr std::uint32_t thread_slot_element = 4;
constexpr std::uint32_t thread_slot_mask = 0xFF;
// r127.2 holds the per-thread data base, r127.0 the address being loaded.
constexpr std::uint32_t base_element = 2;
constexpr std::uint32_t address_element = 0;
constexpr std::uint32_t first_local_id_register = 1;
constexpr std::uint32_t register_numbers = 512;
constexpr std::uint32_t largest_cross_thread_load = 8;

// Loads go stateless through surface 255.
constexpr MessageAddress stateless_address{model_stateless, 255};

// ---------------------------------------------------------------------------
// Per-generation encoders.

using BinaryOp = void (*)(CodeGenerator&, std::uint32_t, DataType, InstructionModifier, RegisterOperand,
                          RegisterOperand, Immediate);
using TernaryOp = void (*)(CodeGenerator&, InstructionModifier, RegisterOperand, RegisterOperand, RegisterOperand,
                           Immediate);
using LoadMessage = void (*)(CodeGenerator&, InstructionModifier, RegisterOperand, const MessageDataShape&,
                             MessageAddress, AddressOperand);

enum class RegisterFile { narrow, wide };  // 32-byte (Gulon) or 64-byte registers

struct PrologueEncoders {
  RegisterFile file;
  BinaryOp binary_op;
  TernaryOp ternary;
  LoadMessage load;
};

void load_hw6(CodeGenerator& g, InstructionModifier m, RegisterOperand dst, const MessageDataShape& shape,
              MessageAddress address, AddressOperand operand) {
  encode_message_hw6(g, choose_shared_function_hw6, m, dst, shape, address, operand);
}
void load_hw7(CodeGenerator& g, InstructionModifier m, RegisterOperand dst, const MessageDataShape& shape,
              MessageAddress address, AddressOperand operand) {
  encode_message_hw7(g, choose_shared_function_hw7, m, dst, shape, address, operand);
}
void load_hw8(CodeGenerator& g, InstructionModifier m, RegisterOperand dst, const MessageDataShape& shape,
              MessageAddress address, AddressOperand operand) {
  encode_message_hw8(g, choose_shared_function_hw7, m, dst, shape, address, operand);
}
void load_hw9(CodeGenerator& g, InstructionModifier m, RegisterOperand dst, const MessageDataShape& shape,
              MessageAddress address, AddressOperand operand) {
  encode_message_hw9(g, choose_shared_function_hw7, m, dst, shape, address, operand);
}

constexpr PrologueEncoders gulon_encoders{RegisterFile::narrow, encode_binary_op_hw6, encode_ternary_hw6, load_hw6};
constexpr PrologueEncoders harix_encoders{RegisterFile::wide, encode_binary_op_hw7, encode_ternary_hw7, load_hw7};
constexpr PrologueEncoders jorva_encoders{RegisterFile::wide, encode_binary_op_hw8, encode_ternary_hw8, load_hw8};
constexpr PrologueEncoders lumet_encoders{RegisterFile::wide, encode_binary_op_hw9, encode_ternary_hw9, load_hw9};

// ---------------------------------------------------------------------------
// Constants that depend on the register size. W is the SIMD width, L the
// number of local-ID dimensions; s is 1 for SIMD widths above 16.

std::uint32_t simd32_shift(std::int32_t simd_width) { return simd_width >= 17 ? 1 : 0; }

// Bytes of one thread's block of per-thread data.
std::uint32_t per_thread_block_bytes(RegisterFile file, std::int32_t simd_width) {
  if (file == RegisterFile::wide) return simd_width == 1 ? 64 : 192;
  return simd_width == 1 ? 32 : 96u << simd32_shift(simd_width);
}

MessageDataShape first_local_id_shape(RegisterFile file, std::int32_t simd_width, std::uint32_t local_ids) {
  if (simd_width == 1) return {0x8B400, 4, 4};
  if (file == RegisterFile::wide) return local_ids == 1 ? MessageDataShape{0x8D400, 16, 4} : MessageDataShape{0x8E400, 32, 4};
  const std::uint32_t s = simd32_shift(simd_width);
  const std::uint32_t two_dimensions = local_ids == 1 ? 0 : 1;
  return {((s + two_dimensions) << 12) | 0x8C400, static_cast<std::uint8_t>(((two_dimensions + 1) * 8) << s), 4};
}

// The third local-ID dimension: address step, shape and register.
struct ThirdDimensionLoad {
  std::uint32_t address_step;
  MessageDataShape shape;
  std::uint32_t destination;
};

ThirdDimensionLoad third_dimension_load(RegisterFile file, std::int32_t simd_width) {
  if (file == RegisterFile::wide) return {128, {0x8D400, 16, 4}, 3};
  const std::uint32_t s = simd32_shift(simd_width);
  return {64u << s, {(s << 12) | 0x8C400, static_cast<std::uint8_t>(8u << s), 4}, 3 + 2 * s};
}

// One cross-thread block load of m registers, k = floor(log2 N).
MessageDataShape cross_thread_shape(RegisterFile file, std::uint32_t k, std::uint32_t registers) {
  const std::uint32_t size_code = std::min<std::uint32_t>(k, 3);
  if (file == RegisterFile::wide) return {(size_code << 12) | 0x8C600, static_cast<std::uint8_t>(8 * registers), 8};
  return {((size_code + 3) << 12) | 0x88600, static_cast<std::uint8_t>(4 * registers), 8};
}

std::uint32_t cross_thread_address_step(RegisterFile file, std::uint32_t k) {
  const std::uint32_t size_code = std::min<std::uint32_t>(k, 3);
  return (file == RegisterFile::wide ? 64u : 32u) << size_code;
}

// ---------------------------------------------------------------------------
// Operands.

RegisterOperand element(std::uint32_t reg, DataType type, std::uint32_t offset) {
  return RegisterOperand::grf(reg, type, offset);
}

RegisterOperand untyped(std::uint32_t reg) { return RegisterOperand::grf(reg); }

AddressOperand address_register() {
  return AddressOperand{RegisterOperand::grf(prologue_address_register).set_horizontal_stride(1), 0};
}

constexpr std::uint32_t largest_immediate16 = 0xFFFF;

// A value a 16-bit immediate cannot hold would be cut to another value.
void require_immediate16(std::uint32_t value) {
  if (value > largest_immediate16) throw invalid_immediate_exception();
}

// A 16-bit immediate carries its value in both halves of the low 32 bits.
Immediate immediate16(std::uint32_t value) {
  require_immediate16(value);
  return Immediate(value | (value << 16), data_type::uw);
}

// ---------------------------------------------------------------------------
// Helpers of both parts.

// Restores the generator's default modifier when a part ends, also when an
// encoder throws.
class PrologueModifierScope {
 public:
  explicit PrologueModifierScope(CodeGenerator& generator)
      : generator_(generator), saved_(generator.default_modifier) {
    generator_.default_modifier |= InstructionModifier(prologue_modifier_bits);
  }
  ~PrologueModifierScope() { generator_.default_modifier = saved_; }
  PrologueModifierScope(const PrologueModifierScope&) = delete;
  PrologueModifierScope& operator=(const PrologueModifierScope&) = delete;

 private:
  CodeGenerator& generator_;
  InstructionModifier saved_;
};

void require_finalized(const CodeGenerator& generator) {
  if (!generator.interface.finalized) throw interface_not_finalized();
}

bool is_placed(const CodeGenerator& generator, const Label& label) {
  return label.is_used() &&
         generator.labels.target(static_cast<std::uint32_t>(label.handle)) != LabelManager::unplaced;
}

void place_label_once(CodeGenerator& generator, Label& label) {
  if (!is_placed(generator, label)) mark_label(generator, label);
}

// A nop goes in as raw words: no encoder, no modifier bits.
void append_nop(CodeGenerator& generator) { generator.append_instruction(op(PrologueOpcode::nop), 0); }

void add_to_address(CodeGenerator& generator, const PrologueEncoders& encoders, std::uint32_t bytes) {
  const RegisterOperand address = element(prologue_address_register, data_type::ud, address_element);
  encoders.binary_op(generator, op(PrologueOpcode::add), data_type::ud, scalar_modifier, address, address,
                     immediate16(bytes));
}

// ---------------------------------------------------------------------------
// Per-thread part.

void emit_local_id_loads(CodeGenerator& generator, const PrologueEncoders& encoders) {
  const KernelInterface& k = generator.interface;
  const std::uint32_t r127 = prologue_address_register;
  const RegisterOperand base = element(r127, data_type::ud, base_element);
  const RegisterOperand slot = element(r127, data_type::uw, address_element);
  const RegisterOperand address = element(r127, data_type::ud, address_element);

  PrologueModifierScope scope(generator);
  encoders.binary_op(generator, op(PrologueOpcode::bitwise_and), data_type::ud, scalar_modifier, base,
                     element(0, data_type::ud, 0), Immediate(cross_thread_address_mask, data_type::ud));
  encoders.binary_op(generator, op(PrologueOpcode::bitwise_and), data_type::uw, scalar_modifier, slot,
                     element(0, data_type::uw, thread_slot_element), immediate16(thread_slot_mask));
  encoders.binary_op(generator, op(PrologueOpcode::add), data_type::ud, scalar_modifier, base, base,
                     immediate16(k.payload_bytes));
  encoders.ternary(generator, scalar_modifier, address, base, slot,
                   immediate16(per_thread_block_bytes(encoders.file, k.simd_width)));
  encoders.load(generator, scalar_modifier, untyped(first_local_id_register),
                first_local_id_shape(encoders.file, k.simd_width, k.local_ids), stateless_address, address_register());
  if (k.local_ids == 3 && k.simd_width != 1) {
    const ThirdDimensionLoad third = third_dimension_load(encoders.file, k.simd_width);
    add_to_address(generator, encoders, third.address_step);
    encoders.load(generator, scalar_modifier, untyped(third.destination), third.shape, stateless_address,
                  address_register());
  }
}

void emit_per_thread_part(CodeGenerator& generator, const PrologueEncoders& encoders) {
  require_finalized(generator);
  // Checked before the first instruction, so that a refusal appends nothing.
  require_immediate16(generator.interface.payload_bytes);
  const std::size_t start = generator.top_stream().instruction_count();
  emit_local_id_loads(generator, encoders);
  while (generator.top_stream().instruction_count() - start < per_thread_prologue_instructions)
    append_nop(generator);
  place_label_once(generator, generator.per_thread_skip_label);
}

// ---------------------------------------------------------------------------
// Cross-thread part.

std::uint32_t floor_log2(std::int64_t value) {
  std::uint32_t k = 0;
  while ((value >> (k + 1)) != 0) ++k;
  return k;
}

void emit_payload_loads(CodeGenerator& generator, const PrologueEncoders& encoders, std::uint32_t destination,
                        std::int64_t remaining) {
  PrologueModifierScope scope(generator);
  encoders.binary_op(generator, op(PrologueOpcode::bitwise_and), data_type::ud, scalar_modifier,
                     element(prologue_address_register, data_type::ud, address_element), element(0, data_type::ud, 0),
                     Immediate(cross_thread_address_mask, data_type::ud));
  for (;;) {
    const std::uint32_t k = floor_log2(remaining);
    const std::uint32_t registers = remaining == 1 ? 1 : std::min(1u << k, largest_cross_thread_load);
    encoders.load(generator, scalar_modifier, untyped(destination), cross_thread_shape(encoders.file, k, registers),
                  stateless_address, address_register());
    destination = (destination + registers) % register_numbers;
    remaining -= registers;
    if (remaining <= 0) break;
    add_to_address(generator, encoders, cross_thread_address_step(encoders.file, k));
  }
}

void emit_cross_thread_part(CodeGenerator& generator, const PrologueEncoders& encoders) {
  require_finalized(generator);
  const KernelInterface& k = generator.interface;
  const std::int64_t inline_registers = k.inline_data ? 1 : k.inline_data_registers;
  const std::int64_t remaining = std::int64_t{k.payload_registers} - inline_registers;
  if (remaining <= 0) return;
  const std::int64_t first = (std::int64_t{k.payload_start_register()} + inline_registers) % register_numbers;
  const auto destination = static_cast<std::uint32_t>(first < 0 ? first + register_numbers : first);
  emit_payload_loads(generator, encoders, destination, remaining);
  place_label_once(generator, generator.prologue_end_label);
}

void emit_prologue(CodeGenerator& generator, const PrologueEncoders& encoders) {
  if (generator.interface.local_ids != 0) emit_per_thread_part(generator, encoders);
  emit_cross_thread_part(generator, encoders);
}

}  // namespace

void emit_prologue_hw6(CodeGenerator& generator) { emit_prologue(generator, gulon_encoders); }
void emit_prologue_hw7(CodeGenerator& generator) { emit_prologue(generator, harix_encoders); }
void emit_prologue_hw8(CodeGenerator& generator) { emit_prologue(generator, jorva_encoders); }
void emit_prologue_hw9(CodeGenerator& generator) { emit_prologue(generator, lumet_encoders); }

}  // namespace ulmara::qez::zorn
