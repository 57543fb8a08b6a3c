// Generator core: streams, labels and label resolution.
#include "gpu/zorn/code_generator.hpp"

#include <cstring>
#include <limits>

namespace ulmara::qez::zorn {
namespace {

// Byte positions are stored in signed 32-bit fixups and unsigned 32-bit
// targets whose all-ones value means "unplaced": code stays below 2 GiB.
constexpr std::uint64_t max_code_bytes = static_cast<std::uint64_t>(std::numeric_limits<std::int32_t>::max());

std::uint32_t checked_label_id(const Label& label, const LabelManager& manager) {
  const auto id = static_cast<std::uint32_t>(label.handle);
  // A handle that no manager of this generator handed out would index past
  // the target table.
  if (id >= manager.targets.size()) throw invalid_object_exception();
  return id;
}

}  // namespace

// ---------------------------------------------------------------------------
// Labels

std::uint32_t LabelManager::target(std::uint32_t id) const {
  return id < targets.size() ? targets[id] : unplaced;
}

std::uint32_t label_id(Label& label, LabelManager& manager) {
  if (label.is_used()) return checked_label_id(label, manager);
  manager.targets.push_back(LabelManager::unplaced);
  const std::uint32_t id = manager.next_id++;
  label.handle = static_cast<std::int32_t>(id & 0x7FFFFFFFu);
  return id;
}

// ---------------------------------------------------------------------------
// Streams

std::uint32_t InstructionStream::code_size_bytes() const {
  const std::uint64_t bytes = std::uint64_t{code.size()} * sizeof(std::uint64_t);
  if (bytes > max_code_bytes) throw invalid_range_exception();
  return static_cast<std::uint32_t>(bytes);
}

std::vector<std::uint8_t> InstructionStream::code_bytes() const {
  std::vector<std::uint8_t> bytes(code.size() * sizeof(std::uint64_t));
  for (std::size_t w = 0; w < code.size(); ++w)
    for (std::size_t b = 0; b < sizeof(std::uint64_t); ++b)
      bytes[w * 8 + b] = static_cast<std::uint8_t>(code[w] >> (8 * b));
  return bytes;
}

std::uint32_t InstructionStream::dword(std::size_t index) const {
  return static_cast<std::uint32_t>(code.at(index / 2) >> (32 * (index % 2)));
}

void InstructionStream::set_dword(std::size_t index, std::uint32_t value) {
  std::uint64_t& word = code.at(index / 2);
  const unsigned shift = 32 * (index % 2);
  word = (word & ~(std::uint64_t{0xFFFFFFFFu} << shift)) | (std::uint64_t{value} << shift);
}

// ---------------------------------------------------------------------------
// Generator

CodeGenerator::CodeGenerator(HW hw)
    : product_code(generator_product_code(hw)), interface(hw), hw_(hw) {
  streams_.push_back(std::make_unique<InstructionStream>());
}

void CodeGenerator::append_instruction(std::uint64_t low, std::uint64_t high) {
  InstructionStream& stream = top_stream();
  if (std::uint64_t{stream.code.size() + 2} * sizeof(std::uint64_t) > max_code_bytes)
    throw invalid_range_exception();
  stream.code.push_back(low);
  stream.code.push_back(high);
}

InstructionStream& CodeGenerator::push_stream() {
  streams_.push_back(std::make_unique<InstructionStream>());
  return *streams_.back();
}

std::unique_ptr<InstructionStream> CodeGenerator::pop_stream() {
  if (streams_.size() <= 1) throw invalid_object_exception();
  std::unique_ptr<InstructionStream> top = std::move(streams_.back());
  streams_.pop_back();
  return top;
}

void mark_label(CodeGenerator& generator, Label& label) {
  InstructionStream& stream = generator.top_stream();
  const std::uint32_t id = label_id(label, generator.labels);
  if (generator.labels.targets[id] != LabelManager::unplaced) throw multiple_label_exception();
  generator.labels.targets[id] = stream.code_size_bytes();
  stream.placed_labels.push_back(id);
}

void push_label_fixup(CodeGenerator& generator, Label& label, std::int32_t position, std::int32_t field_offset) {
  const std::uint32_t id = label_id(label, generator.labels);
  generator.top_stream().fixups.push_back(LabelFixup{id, position, field_offset});
}

std::vector<std::uint8_t> resolve_label_fixups(CodeGenerator& generator) {
  if (generator.stream_depth() > 1) throw unfinished_stream_exception();
  InstructionStream& root = generator.root_stream();
  const std::int64_t code_bytes = root.code_size_bytes();
  for (const LabelFixup& fixup : root.fixups) {
    const std::uint32_t target = generator.labels.target(fixup.label);
    if (target == LabelManager::unplaced) throw dangling_label_exception();
    const std::int64_t field = std::int64_t{fixup.position} + fixup.field_offset;
    // The distance field is one aligned dword of a jump in this stream.
    if (field < 0 || field + 4 > code_bytes || field % 4 != 0) throw invalid_object_exception();
    const std::uint32_t distance = target - static_cast<std::uint32_t>(fixup.position);
    root.set_dword(static_cast<std::size_t>(field / 4), distance);
  }
  return root.code_bytes();
}

}  // namespace ulmara::qez::zorn
