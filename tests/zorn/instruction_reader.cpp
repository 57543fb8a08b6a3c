// Test-side instruction reader.
#include "tests/zorn/instruction_reader.hpp"

#include <stdexcept>

namespace zorn_test {

std::uint32_t Instruction128::bits(unsigned low, unsigned count) const {
  std::uint32_t value = 0;
  for (unsigned i = 0; i < count; ++i) {
    const unsigned n = low + i;
    const unsigned bit = (bytes[n / 8] >> (n % 8)) & 1u;
    value |= static_cast<std::uint32_t>(bit) << i;
  }
  return value;
}

Instruction128 instruction_at(const std::vector<std::uint8_t>& code, std::size_t index) {
  if ((index + 1) * 16 > code.size()) throw std::out_of_range("instruction index past the code");
  Instruction128 instruction{};
  for (unsigned b = 0; b < 16; ++b) instruction.bytes[b] = code[index * 16 + b];
  return instruction;
}

std::vector<std::uint8_t> bytes_of_words(const std::vector<std::uint64_t>& words) {
  std::vector<std::uint8_t> bytes;
  for (std::uint64_t w : words)
    for (unsigned b = 0; b < 8; ++b) bytes.push_back(static_cast<std::uint8_t>(w >> (8 * b)));
  return bytes;
}

}  // namespace zorn_test
