// Shared helpers of the encoder tests: raw operand words, operand sweeps and
// a check that a refused call leaves the stream as it was.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "gpu/zorn/code_generator.hpp"
#include "gpu/zorn/exceptions.hpp"
#include "gpu/zorn/operands.hpp"

namespace zorn_test {

namespace z = ulmara::qez::zorn;

// Operand word from its fields, laid out as the operand description gives
// them (bits 0-8 register, 9 ARF, 10-20 offset, 21-22 modifiers, 23-30 type,
// 31 indirect, 32-38 vertical stride, 39-43 width, 44-49 horizontal stride).
struct OperandFields {
  std::uint32_t reg = 0;
  bool arf = false;
  std::uint32_t offset = 0;
  std::uint32_t modifiers = 0;
  std::uint8_t type = 0x60;
  bool indirect = false;
  std::uint32_t vstride = 0, width = 0, hstride = 0;
};
inline z::RegisterOperand operand(const OperandFields& s) {
  std::uint64_t w = 0;
  w |= std::uint64_t{s.reg & 0x1FF};
  w |= std::uint64_t{s.arf ? 1u : 0u} << 9;
  w |= std::uint64_t{s.offset & 0x7FF} << 10;
  w |= std::uint64_t{s.modifiers & 3} << 21;
  w |= std::uint64_t{s.type} << 23;
  w |= std::uint64_t{s.indirect ? 1u : 0u} << 31;
  w |= std::uint64_t{s.vstride & 0x7F} << 32;
  w |= std::uint64_t{s.width & 0x1F} << 39;
  w |= std::uint64_t{s.hstride & 0x3F} << 44;
  return z::RegisterOperand::from_bits(w);
}
inline z::RegisterOperand grf(std::uint32_t reg, std::uint8_t type = 0x60, std::uint32_t hstride = 1) {
  return operand({reg, false, 0, 0, type, false, 0, 0, hstride});
}

inline const z::RegisterOperand null_ud = z::RegisterOperand::from_bits(0x100050000200);
inline const z::RegisterOperand null_uw = z::RegisterOperand::from_bits(0x100041000200);

// Code words of the top stream.
inline std::vector<std::uint64_t> code_of(const z::CodeGenerator& g) { return g.top_stream().code; }

// Element size and codes as the operand description defines them.
inline std::uint32_t element_bytes(std::uint8_t type) {
  const std::uint32_t width_code = type >> 5;
  return 1u << (width_code > 3 ? width_code - 3 : 0);
}
inline std::uint32_t log2u(std::uint32_t v) {
  std::uint32_t r = 0;
  while (v > 1) v >>= 1, ++r;
  return r;
}
inline std::uint32_t stride_code(std::uint32_t s) { return s == 0 ? 0 : log2u(s) + 1; }
inline std::uint32_t width_code(std::uint32_t w) { return w == 0 ? 0 : log2u(w); }

// The operand as the encoder sees it after completion for its instruction.
inline z::RegisterOperand completed(z::RegisterOperand op, z::HW hw, std::uint32_t exec, std::uint32_t widest,
                                    std::uint8_t default_type, int source, int arity) {
  z::fixup_operand(op, hw, exec, widest, z::DataType(default_type), source, arity);
  return op;
}
inline std::uint32_t type_of(z::RegisterOperand op) { return static_cast<std::uint32_t>((op.bits >> 23) & 0xFF); }
inline std::uint32_t offset_of(z::RegisterOperand op) { return static_cast<std::uint32_t>((op.bits >> 10) & 0x7FF); }
inline std::uint32_t byte_offset_of(z::RegisterOperand op) {
  return offset_of(op) << log2u(element_bytes(static_cast<std::uint8_t>(type_of(op))));
}
inline std::uint32_t vstride_of(z::RegisterOperand op) { return static_cast<std::uint32_t>((op.bits >> 32) & 0x7F); }
inline std::uint32_t width_of(z::RegisterOperand op) { return static_cast<std::uint32_t>((op.bits >> 39) & 0x1F); }
inline std::uint32_t hstride_of(z::RegisterOperand op) { return static_cast<std::uint32_t>((op.bits >> 44) & 0x3F); }

// Runs `call`, expects exception E with its fixed message, and checks that
// the stream did not change.
template <class E, class Call>
void expect_refused(z::CodeGenerator& g, Call call, const std::string& message) {
  const std::vector<std::uint64_t> before = code_of(g);
  try {
    call();
    ADD_FAILURE() << "expected an exception with message: " << message;
  } catch (const E& e) {
    EXPECT_EQ(std::string(e.what()), message);
  } catch (const std::exception& e) {
    ADD_FAILURE() << "unexpected exception: " << e.what();
  }
  EXPECT_EQ(code_of(g), before) << "the stream changed although the call was refused";
}

// Fixed-seed operand sweeps.
struct Sweep {
  std::mt19937_64 rng{20261207};
  std::uint32_t pick(std::initializer_list<std::uint32_t> values) {
    std::uniform_int_distribution<std::size_t> d(0, values.size() - 1);
    return *(values.begin() + d(rng));
  }
  std::uint64_t bits64() { return rng(); }
  std::uint32_t below(std::uint32_t n) { return static_cast<std::uint32_t>(rng() % n); }
};

}  // namespace zorn_test
