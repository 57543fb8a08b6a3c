// What the scoreboard analysis knows about one encoded instruction of the
// Dorik-and-newer formats: its opcode class, its pipe, and the register bytes
// each operand touches (DependencyRegion). Everything here only reads
// instruction words.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "gpu/zorn/code_generator.hpp"
#include "gpu/zorn/hw.hpp"

namespace ulmara::qez::zorn {

// ---------------------------------------------------------------------------
// The program: 16-byte instructions stored as pairs of 64-bit halves.

using Program = std::vector<std::uint64_t>;

inline std::size_t program_instruction_count(const Program& program) { return program.size() / 2; }
InstructionWords instruction_at(const Program& program, std::size_t index);
void store_instruction(Program& program, std::size_t index, const InstructionWords& words);
Program program_from_bytes(const std::vector<std::uint8_t>& code);

// Bit n of the 128-bit instruction.
constexpr bool instruction_bit(const InstructionWords& w, std::uint32_t n) {
  return ((w[n / 32] >> (n % 32)) & 1u) != 0;
}
// Bits lo..hi (inclusive) of dword `dword`.
constexpr std::uint32_t dword_bits(const InstructionWords& w, std::uint32_t dword, std::uint32_t lo,
                                   std::uint32_t hi) {
  const std::uint32_t width = hi - lo + 1;
  const std::uint32_t mask = width >= 32 ? 0xFFFFFFFFu : (1u << width) - 1u;
  return (w[dword] >> lo) & mask;
}
// Byte b of the instruction.
constexpr std::uint32_t instruction_byte(const InstructionWords& w, std::uint32_t b) {
  return dword_bits(w, b / 4, 8 * (b % 4), 8 * (b % 4) + 7);
}
constexpr std::uint32_t opcode_of(const InstructionWords& w) { return w[0] & 0x7Fu; }

// ---------------------------------------------------------------------------
// Opcodes the analysis distinguishes.

namespace opcode {
inline constexpr std::uint32_t empty = 0;
inline constexpr std::uint32_t sync = 1;
inline constexpr std::uint32_t branch_first = 0x20;
inline constexpr std::uint32_t branch_last = 0x2F;
inline constexpr std::uint32_t no_flush_branch = 0x26;
inline constexpr std::uint32_t send = 49;
inline constexpr std::uint32_t sendc = 50;
inline constexpr std::uint32_t split_send_first = 51;
inline constexpr std::uint32_t split_send_last = 53;
inline constexpr std::uint32_t math = 56;
inline constexpr std::uint32_t dpas = 89;
inline constexpr std::uint32_t dpasw = 90;
inline constexpr std::uint32_t doubled = 95;
inline constexpr std::uint32_t nop = 96;
inline constexpr std::uint32_t mov = 97;
inline constexpr std::uint32_t directive = 127;
}  // namespace opcode

constexpr bool is_branch(std::uint32_t o) { return o >= opcode::branch_first && o <= opcode::branch_last; }
constexpr bool is_send_family(std::uint32_t o) { return o >= opcode::send && o <= opcode::split_send_last; }
constexpr bool is_split_send(std::uint32_t o) { return o >= opcode::split_send_first && o <= opcode::split_send_last; }
constexpr bool is_matrix(std::uint32_t o) { return o == opcode::dpas || o == opcode::dpasw; }

// ---------------------------------------------------------------------------
// Pipe codes: a bit set for the in-order pipes, tagged values for the
// out-of-order units.

using PipeCode = std::uint16_t;
namespace pipe {
inline constexpr PipeCode none = 0;
inline constexpr PipeCode single = 1;
inline constexpr PipeCode float_pipe = 2;
inline constexpr PipeCode integer = 4;
inline constexpr PipeCode long_pipe = 8;
inline constexpr PipeCode math = 16;
inline constexpr PipeCode scalar = 32;
inline constexpr PipeCode send_base = 0x100;  // + shared-function id
inline constexpr PipeCode matrix = 0x200;
inline constexpr PipeCode other_out_of_order = 0x300;
inline constexpr PipeCode out_of_order_bits = 0x300;
}  // namespace pipe

// In-order pipe indexes: single, float, integer, long, math, scalar.
inline constexpr std::uint32_t in_order_pipe_indexes = 6;

constexpr bool is_out_of_order(PipeCode p) { return (p & pipe::out_of_order_bits) != 0; }
constexpr bool is_in_order(PipeCode p) { return p != pipe::none && !is_out_of_order(p); }
// Index of the highest set bit of the low byte.
constexpr std::uint32_t pipe_index(PipeCode p) { return log2_floor(p & 0xFFu); }
constexpr bool is_single_bit(std::uint32_t v) { return v != 0 && (v & (v - 1)) == 0; }

// ---------------------------------------------------------------------------
// DependencyRegion: the register bytes one operand touches.

inline constexpr std::uint32_t region_registers = 32;

namespace region_flag {
inline constexpr std::uint8_t whole_file = 1;
inline constexpr std::uint8_t partial_word = 2;  // Harix and newer only
inline constexpr std::uint8_t arf = 4;
inline constexpr std::uint8_t builder_bits = whole_file | partial_word | arf;
}  // namespace region_flag

struct DependencyRegion {
  std::uint16_t first_register = 0;
  std::uint16_t register_count = 0;
  std::uint8_t flags = region_flag::whole_file;
  HW hw = 0;
  // Before Harix bit b is byte b of the register; from Harix on the 2-byte
  // word b.
  std::array<std::uint32_t, region_registers> masks{};

  // The whole-file region.
  DependencyRegion() = default;
  // The region of a RegisterOperand word for an instruction of `exec` channels.
  DependencyRegion(HW hw, std::uint32_t exec, std::uint64_t operand_word);

  bool is_whole_file() const { return (flags & region_flag::whole_file) != 0; }
  bool is_arf() const { return (flags & region_flag::arf) != 0; }
  bool is_partial() const { return (flags & region_flag::partial_word) != 0; }
  bool masks_zero() const;
  // Not whole-file and covering no byte.
  bool is_empty() const { return !is_whole_file() && (register_count == 0 || masks_zero()); }
  // Makes this the empty region (hw kept).
  void make_empty();
  void make_whole_file();
};

DependencyRegion empty_region(HW hw);
DependencyRegion whole_file_region(HW hw);

struct InstructionRegions {
  DependencyRegion destination;
  std::array<DependencyRegion, 3> sources;

  // Operand -1 is the destination, 0-2 the sources.
  DependencyRegion& operand(int number) { return number < 0 ? destination : sources[static_cast<std::size_t>(number)]; }
  const DependencyRegion& operand(int number) const {
    return number < 0 ? destination : sources[static_cast<std::size_t>(number)];
  }
};

struct GRFRange {
  std::uint16_t base = 0;
  std::uint16_t count = 0;
};

// Range from the start operand's register (bits 0-8) to `end_register`
// (low 9 bits), inclusive. Throws invalid_range_exception when the end lies
// below start - 1.
GRFRange make_grf_range(std::uint64_t start_operand, std::uint32_t end_register);
// Region of a packed range (first register in bits 0-15, count in 16 and up).
// Throws invalid_region_exception for more than 32 registers.
void dependency_region_from_range(DependencyRegion& region, HW hw, std::uint32_t packed_range);
constexpr std::uint32_t pack_range(std::uint32_t first, std::uint32_t count) { return first | (count << 16); }

// ---------------------------------------------------------------------------
// Operand decoding and instruction classes.

inline constexpr int destination_number = -1;

// Fills `region` (whose hw the caller sets) with the registers the operand
// reads or writes. False when it touches no tracked register.
bool decode_instruction_dependencies(const InstructionWords& instruction, DependencyRegion& region, int operand);
// The Harix, Jorva and Lumet twin.
bool decode_instruction_dependencies_hw7(const InstructionWords& instruction, DependencyRegion& region,
                                         int operand);

void pipe_of_instruction(PipeCode& pipe, HW hw, const InstructionWords& instruction, bool with_out_of_order);
inline PipeCode pipe_of(HW hw, const InstructionWords& instruction, bool with_out_of_order) {
  PipeCode p = 0;
  pipe_of_instruction(p, hw, instruction, with_out_of_order);
  return p;
}

// Direct ARF operand and its kind (22 for kind 6 from Lumet on).
bool instruction_operand_arf_kind(const InstructionWords& instruction, std::uint32_t& code, int operand, HW hw);
// 4-bit hardware type code of source 0, 1 or 2.
int instruction_operand_field(const InstructionWords& instruction, int source);

// The 47-bit message word of a split send (opcodes 51-53).
void decode_send_message(const InstructionWords& instruction, std::uint64_t& word);
// Registers a message writes back, or -1 when the message is not sized.
int message_response_grfs(std::uint64_t word, HW hw, std::int32_t execution_size, std::uint32_t shared_function);

}  // namespace ulmara::qez::zorn
