// The zorn code generator: one CodeGenerator per kernel and generation owns
// the instruction streams the encoders append to, the labels and jump fixups
// of those streams, and the kernel interface. Label resolution at
// finalisation lives here too; the jump emitters are in jumps.hpp.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <vector>

#include "gpu/zorn/exceptions.hpp"
#include "gpu/zorn/hw.hpp"
#include "gpu/zorn/kernel_interface.hpp"
#include "gpu/zorn/operands.hpp"

namespace ulmara::qez::zorn {

// ---------------------------------------------------------------------------
// Instructions: 16 bytes, four little-endian dwords; appended to a stream as
// two 64-bit halves, dwords 0-1 first.

inline constexpr std::uint32_t instruction_bytes = 16;
using InstructionWords = std::array<std::uint32_t, 4>;

constexpr std::uint64_t low_half(const InstructionWords& words) {
  return std::uint64_t{words[0]} | (std::uint64_t{words[1]} << 32);
}
constexpr std::uint64_t high_half(const InstructionWords& words) {
  return std::uint64_t{words[2]} | (std::uint64_t{words[3]} << 32);
}

// ---------------------------------------------------------------------------
// Labels.

// A label handle held by the code that uses it: negative until first used,
// then its id.
struct Label {
  static constexpr std::int32_t unused = -1;
  std::int32_t handle = unused;

  constexpr bool is_used() const { return handle >= 0; }
  constexpr void reset() { handle = unused; }
};

struct LabelFixup {
  std::uint32_t label;         // label id
  std::int32_t position;       // byte position the distance is counted from
  std::int32_t field_offset;   // where the distance goes, relative to position
};
static_assert(sizeof(LabelFixup) == 12, "LabelFixup is three 32-bit fields");

// Field offsets of the two jump forms: the distance always lands in bytes
// 12-15 of the jump.
inline constexpr std::int32_t fixup_offset_after_jump = -4;
inline constexpr std::int32_t fixup_offset_at_jump = 12;

struct LabelManager {
  static constexpr std::uint32_t unplaced = 0xFFFFFFFFu;

  std::uint32_t next_id = 0;
  std::vector<std::uint32_t> targets;  // byte position per label id

  // Target of a label id; `unplaced` when it has none yet.
  std::uint32_t target(std::uint32_t id) const;
};

// Returns the label's id, giving it the next id on first use.
std::uint32_t label_id(Label& label, LabelManager& manager);

// ---------------------------------------------------------------------------
// Instruction streams.

struct InstructionStream {
  std::vector<std::uint64_t> code;           // two words per instruction
  std::vector<LabelFixup> fixups;            // in jump order
  std::vector<std::uint32_t> placed_labels;  // label ids in placing order

  // Current size of the code in bytes (a multiple of 8).
  std::uint32_t code_size_bytes() const;
  // The code as little-endian bytes.
  std::vector<std::uint8_t> code_bytes() const;
  // Dword `index` of the code (4-byte units).
  std::uint32_t dword(std::size_t index) const;
  void set_dword(std::size_t index, std::uint32_t value);
  // Number of 16-byte instructions.
  std::size_t instruction_count() const { return code.size() / 2; }
};

// ---------------------------------------------------------------------------
// The generator.

class CodeGenerator {
 public:
  // A generator of generation `hw`. Throws invalid_object_exception for a
  // generation without a generator.
  explicit CodeGenerator(HW hw);
  CodeGenerator(const CodeGenerator&) = delete;
  CodeGenerator& operator=(const CodeGenerator&) = delete;

  ProductFamily product_code;
  std::int32_t register_count = 128;
  Label per_thread_skip_label;
  Label prologue_end_label;
  Label fence_label;
  RegisterOperand fence_destination;  // invalid at first
  InstructionModifier default_modifier;
  LabelManager labels;
  KernelInterface interface;

  HW hw() const { return hw_; }

  // The encoders' entry: appends one 16-byte instruction to the top stream.
  void append_instruction(std::uint64_t low_half, std::uint64_t high_half);
  void append_instruction(const InstructionWords& words) {
    append_instruction(low_half(words), high_half(words));
  }
  // ORs the default modifier into an encoder's modifier argument.
  void apply_default_modifier(InstructionModifier& modifier) const { modifier |= default_modifier; }

  InstructionStream& root_stream() { return *streams_.front(); }
  const InstructionStream& root_stream() const { return *streams_.front(); }
  // Instructions, fixups and label placements always go to the top stream.
  InstructionStream& top_stream() { return *streams_.back(); }
  const InstructionStream& top_stream() const { return *streams_.back(); }
  std::size_t stream_depth() const { return streams_.size(); }

  // Pushes a new, empty stream owned by the generator and returns it.
  InstructionStream& push_stream();
  // Removes the top stream and hands it to the caller; the root stream cannot
  // be popped (invalid_object_exception).
  std::unique_ptr<InstructionStream> pop_stream();

 private:
  HW hw_;
  std::vector<std::unique_ptr<InstructionStream>> streams_;  // [0] is the root
};

// Places the label at the current end of the top stream. Throws
// multiple_label_exception when it already has a location.
void mark_label(CodeGenerator& generator, Label& label);

// Pushes a fixup for a jump to `label` onto the top stream.
void push_label_fixup(CodeGenerator& generator, Label& label, std::int32_t position,
                      std::int32_t field_offset);

// The label step of finalisation: patches every jump distance of the root
// stream and returns the code as bytes. Throws unfinished_stream_exception
// when more than the root stream is on the stack (before writing anything)
// and dangling_label_exception for a label without a location.
std::vector<std::uint8_t> resolve_label_fixups(CodeGenerator& generator);

}  // namespace ulmara::qez::zorn
