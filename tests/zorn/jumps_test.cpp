// Jump-to-label encodings of the three forms, read back bit by bit, and
// jump distances over sweeps of label positions.
#include <gtest/gtest.h>

#include "gpu/zorn/code_generator.hpp"
#include "gpu/zorn/jumps.hpp"
#include "tests/zorn/instruction_reader.hpp"

namespace zorn = ulmara::qez::zorn;
using zorn::CodeGenerator;
using zorn::InstructionModifier;
using zorn::Label;
using zorn_test::bit_of;
using zorn_test::bits_of;
using zorn_test::Instruction128;

namespace {

enum class Form { hw1, hw3, hw4, hw7 };

struct FormCase {
  const char* name;
  Form form;
  zorn::HW hw;
  bool counted_from_next;  // Vemra and Sutal count from the next instruction
};

const FormCase form_cases[] = {
    {"Vemra", Form::hw1, zorn::hw::vemra, true}, {"Sutal", Form::hw3, zorn::hw::sutal, true},
    {"Dorik", Form::hw4, zorn::hw::dorik, false}, {"Gulon", Form::hw4, zorn::hw::gulon, false},
    {"Harix", Form::hw7, zorn::hw::harix, false}, {"Jorva", Form::hw7, zorn::hw::jorva, false},
    {"Lumet", Form::hw7, zorn::hw::lumet, false},
};

void emit(const FormCase& c, CodeGenerator& g, InstructionModifier m, Label& label) {
  switch (c.form) {
    case Form::hw1: zorn::emit_jmpi_hw1(g, m, label); break;
    case Form::hw3: zorn::emit_jmpi_hw3(g, m, label); break;
    case Form::hw4: zorn::emit_jmpi_hw4(g, m, label); break;
    case Form::hw7: zorn::emit_jmpi_hw7(g, m, label); break;
  }
}

void append_filler(CodeGenerator& g, unsigned count) {
  for (unsigned i = 0; i < count; ++i) g.append_instruction(zorn::InstructionWords{0xA5A5A5A5u, i, ~i, 0x5A5A5A5Au});
}

// Deterministic modifier words covering every bit.
std::vector<std::uint64_t> modifier_sweep() {
  std::vector<std::uint64_t> values{0, ~0ull, 0x1, 0x110001, 0x1000001, 0x80000001000001ull, 0x1C2000000000001ull};
  for (unsigned n = 0; n < 64; ++n) values.push_back(1ull << n);
  std::uint64_t state = 0x9E3779B97F4A7C15ull;
  for (int i = 0; i < 600; ++i) {
    state ^= state << 13;
    state ^= state >> 7;
    state ^= state << 17;
    values.push_back(state);
  }
  return values;
}

// --- Expected fields, read from the modifier as the form tables list them ---

unsigned test_log2(unsigned v) {
  unsigned r = 0;
  while (v > 1) v >>= 1, ++r;
  return r;
}

// Source field of the instruction pointer for the legacy jump with
// execution size e: a 32-bit ARF 0xA0 operand, stride 1, no width given.
std::uint32_t expected_legacy_ip_source(unsigned e) {
  unsigned vs = 0, width = 1, hs = 0;
  if (e != 1) {
    hs = 1;
    width = std::min(8u, e);  // eight 32-bit elements in 32 bytes, at most 16
    vs = width * hs;
  }
  const unsigned v_code = vs == 0 ? 0 : test_log2(vs) + 1;
  const unsigned h_code = hs == 0 ? 0 : test_log2(hs) + 1;
  const unsigned w_code = width == 0 ? 0 : test_log2(width);
  return (0xA0u << 5) | (h_code << 16) | (w_code << 18) | (v_code << 21);
}

void check_legacy_form(const Instruction128& j, std::uint64_t m) {
  EXPECT_EQ(j.bits(0, 8), 0x20u);
  EXPECT_EQ(j.bits(8, 24), bits_of(m, 8, 24));
  // Dword 1: M32..M40 with bit 2 forced, 0, M43..M47, 0x3400.
  for (unsigned b = 0; b < 9; ++b) EXPECT_EQ(j.bit(32 + b), b == 2 ? 1u : bit_of(m, 32 + b)) << b;
  EXPECT_EQ(j.bits(32 + 9, 2), 0u);
  EXPECT_EQ(j.bits(32 + 11, 5), bits_of(m, 43, 5));
  EXPECT_EQ(j.bits(32 + 16, 16), 0x3400u);
  EXPECT_EQ(j.dword(2), expected_legacy_ip_source(bits_of(m, 0, 8)) | 0x0E000000u);
  EXPECT_EQ(j.dword(3), 0u);
}

unsigned expected_s8(std::uint64_t m) {
  const unsigned D = bits_of(m, 56, 4), Q = bits_of(m, 54, 2), d = bits_of(m, 56, 3), t4 = bits_of(m, 48, 4);
  const unsigned c_by_p3[8] = {0, 1, 2, 3, 10, 0, 0, 0};
  if (D && Q) return 0x80 + 16 * d + t4;
  if (D) return 8 * c_by_p3[bits_of(m, 60, 3)] + d;
  if (Q == 2) return t4 + 0x20;  // M55 only
  if (Q == 1) return t4 + 0x30;  // M54 only
  if (Q == 3) return t4 + 0x40;
  return 0;
}

unsigned expected_s10(std::uint64_t m) {
  const unsigned D = bits_of(m, 56, 4), Q = bits_of(m, 54, 2), d = bits_of(m, 56, 3), t5 = bits_of(m, 48, 5);
  const unsigned p4 = bits_of(m, 60, 4);
  if (D && Q) {
    const unsigned x = Q == 3 ? (p4 == 2 ? 0x200 : p4 == 3 ? 0x300 : 0x100) : Q == 1 ? 0x200 : (p4 == 1 ? 0x300 : 0x100);
    return 32 * d + t5 + x;
  }
  if (D) return d + 8 * p4;
  if (Q == 2) return t5 + 0x80;
  if (Q == 1) return t5 + 0xA0;
  if (Q == 3) return t5 + 0xC0;
  return bit_of(m, 53) ? 0xF0 : 0;
}

void check_common_words_1_to_3(const Instruction128& j, std::uint64_t m) {
  EXPECT_EQ(j.bit(32 + 0), bit_of(m, 14));
  EXPECT_EQ(j.bit(32 + 1), bit_of(m, 28));
  EXPECT_EQ(j.bit(32 + 2), bit_of(m, 31));
  EXPECT_EQ(j.bit(32 + 14), 1u);
  EXPECT_EQ(j.dword(1) & ~((1u << 0) | (1u << 1) | (1u << 2) | (1u << 14)), 0u);
  EXPECT_EQ(j.dword(2), 0u);
  EXPECT_EQ(j.dword(3), 0u);
}

void check_hw4_form(const Instruction128& j, std::uint64_t m) {
  EXPECT_EQ(j.bits(0, 7), 0x20u);
  EXPECT_EQ(j.bit(7), bit_of(m, 45));
  EXPECT_EQ(j.bits(8, 8), expected_s8(m));
  EXPECT_EQ(j.bits(16, 3), bits_of(m, 21, 3));
  EXPECT_EQ(j.bits(19, 3), bits_of(m, 11, 3));
  EXPECT_EQ(j.bits(22, 2), bits_of(m, 32, 2));
  EXPECT_EQ(j.bits(24, 5), bits_of(m, 16, 5));
  EXPECT_EQ(j.bits(29, 2), bits_of(m, 29, 2));
  EXPECT_EQ(j.bit(31), 1u);
  check_common_words_1_to_3(j, m);
}

void check_hw7_form(const Instruction128& j, std::uint64_t m) {
  EXPECT_EQ(j.bits(0, 7), 0x20u);
  EXPECT_EQ(j.bit(7), bit_of(m, 45));
  EXPECT_EQ(j.bits(8, 10), expected_s10(m));
  EXPECT_EQ(j.bits(18, 3), bits_of(m, 21, 3));
  EXPECT_EQ(j.bits(21, 2), bits_of(m, 32, 2));
  EXPECT_EQ(j.bit(23), bit_of(m, 44));
  EXPECT_EQ(j.bits(24, 2), bits_of(m, 12, 2));
  EXPECT_EQ(j.bits(26, 2), bits_of(m, 16, 2));
  EXPECT_EQ(j.bit(28), bit_of(m, 20));
  EXPECT_EQ(j.bits(29, 2), bits_of(m, 29, 2));
  EXPECT_EQ(j.bit(31), 1u);
  check_common_words_1_to_3(j, m);
}

void check_form(const FormCase& c, const Instruction128& j, std::uint64_t m) {
  switch (c.form) {
    case Form::hw1:
    case Form::hw3: check_legacy_form(j, m); break;
    case Form::hw4: check_hw4_form(j, m); break;
    case Form::hw7: check_hw7_form(j, m); break;
  }
}

class JumpForm : public ::testing::TestWithParam<FormCase> {};

TEST_P(JumpForm, FieldsOverModifierSweep) {
  const FormCase& c = GetParam();
  for (std::uint64_t m : modifier_sweep()) {
    CodeGenerator g(c.hw);
    Label label;
    emit(c, g, InstructionModifier(m), label);
    const Instruction128 j = zorn_test::instruction_at(zorn_test::bytes_of_words(g.root_stream().code), 0);
    SCOPED_TRACE(::testing::Message() << std::hex << "modifier 0x" << m);
    check_form(c, j, m);
    if (::testing::Test::HasFailure()) return;
  }
}

TEST_P(JumpForm, DefaultModifierIsOredIn) {
  const FormCase& c = GetParam();
  const std::uint64_t defaults[] = {1ull << 45 | 1ull << 34, 0x0000F0F000000000ull, 0x1C2000000000000ull};
  const std::uint64_t calls[] = {0x110001, 0x1000001, 0x8};
  for (std::uint64_t d : defaults)
    for (std::uint64_t m : calls) {
      CodeGenerator g(c.hw);
      g.default_modifier = InstructionModifier(d);
      Label label;
      emit(c, g, InstructionModifier(m), label);
      const Instruction128 j = zorn_test::instruction_at(zorn_test::bytes_of_words(g.root_stream().code), 0);
      check_form(c, j, d | m);
      EXPECT_EQ(g.default_modifier.bits, d);
    }
}

// Jump at instruction `before`, label at instruction `label_at` (forward or
// backward), fillers elsewhere; the distance counts from the jump itself or
// from the instruction after it.
TEST_P(JumpForm, DistanceSweep) {
  const FormCase& c = GetParam();
  for (unsigned before = 0; before < 24; before += 3)
    for (unsigned label_at = 0; label_at < 48; ++label_at) {
      CodeGenerator g(c.hw);
      Label label;
      const unsigned jump_at = before;
      for (unsigned i = 0; i <= std::max(jump_at, label_at); ++i) {
        if (i == label_at) zorn::mark_label(g, label);
        if (i == jump_at)
          emit(c, g, InstructionModifier(0x110001), label);
        else
          append_filler(g, 1);
      }
      const std::vector<std::uint8_t> code = zorn::resolve_label_fixups(g);
      const std::int64_t origin = (jump_at + (c.counted_from_next ? 1 : 0)) * 16;
      const std::int64_t expected = std::int64_t{label_at} * 16 - origin;
      ASSERT_EQ(zorn_test::instruction_at(code, jump_at).dword(3), static_cast<std::uint32_t>(expected))
          << "jump " << jump_at << " label " << label_at;
      // Nothing else of the jump changed.
      CodeGenerator fresh(c.hw);
      Label other;
      emit(c, fresh, InstructionModifier(0x110001), other);
      const Instruction128 alone = zorn_test::instruction_at(fresh.root_stream().code_bytes(), 0);
      for (unsigned k = 0; k < 3; ++k) ASSERT_EQ(zorn_test::instruction_at(code, jump_at).dword(k), alone.dword(k));
    }
}

TEST_P(JumpForm, SeveralJumpsToOneLabel) {
  const FormCase& c = GetParam();
  CodeGenerator g(c.hw);
  Label fail;
  for (int i = 0; i < 13; ++i) {
    append_filler(g, 1);
    emit(c, g, InstructionModifier(0x110001), fail);
  }
  append_filler(g, 1);
  zorn::mark_label(g, fail);
  append_filler(g, 2);
  EXPECT_EQ(g.root_stream().fixups.size(), 13u);
  const std::vector<std::uint8_t> code = zorn::resolve_label_fixups(g);
  const std::uint32_t target = 27 * 16;
  for (unsigned i = 0; i < 13; ++i) {
    const unsigned jump_at = 2 * i + 1;
    const std::uint32_t origin = (jump_at + (c.counted_from_next ? 1 : 0)) * 16;
    EXPECT_EQ(zorn_test::instruction_at(code, jump_at).dword(3), target - origin) << i;
  }
}

INSTANTIATE_TEST_SUITE_P(Zorn, JumpForm, ::testing::ValuesIn(form_cases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
