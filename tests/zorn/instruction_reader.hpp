// Test-side reader of zorn instructions, written from the instruction
// layouts independently of the generator's own field tables: instruction bit
// n is bit n of the 128-bit little-endian value of the 16 instruction bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace zorn_test {

struct Instruction128 {
  std::uint8_t bytes[16];

  // Bits [low, low + count) of the instruction (count <= 32).
  std::uint32_t bits(unsigned low, unsigned count) const;
  bool bit(unsigned n) const { return bits(n, 1) != 0; }
  // Little-endian dword k (bits 32k .. 32k + 31).
  std::uint32_t dword(unsigned k) const { return bits(32 * k, 32); }
};

// Instruction `index` of a code byte vector.
Instruction128 instruction_at(const std::vector<std::uint8_t>& code, std::size_t index);

// Code bytes of 64-bit words stored low byte first.
std::vector<std::uint8_t> bytes_of_words(const std::vector<std::uint64_t>& words);

// Bit n of a 64-bit word.
constexpr std::uint32_t bit_of(std::uint64_t word, unsigned n) { return static_cast<std::uint32_t>((word >> n) & 1u); }
// Bits [low, low + count) of a 64-bit word.
constexpr std::uint32_t bits_of(std::uint64_t word, unsigned low, unsigned count) {
  return static_cast<std::uint32_t>((word >> low) & ((count >= 64 ? ~0ull : (1ull << count)) - 1));
}

}  // namespace zorn_test
