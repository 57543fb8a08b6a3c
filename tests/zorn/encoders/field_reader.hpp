// Test-side reader of encoded instructions, written from the format
// descriptions (dword and bit ranges) independently of the encoders' tables.
// Every read marks its bits; `stray_bits` reports the bits that are set but
// were never read, so a test sees any bit the descriptions do not name.
#pragma once

#include <array>
#include <cstdint>

#include "gpu/zorn/code_generator.hpp"

namespace zorn_test {

using Words = std::array<std::uint32_t, 4>;

class Reader {
 public:
  explicit Reader(const Words& words) : words_(words) {}

  // Bits lo..hi (inclusive) of dword `dword`.
  std::uint32_t operator()(int dword, int lo, int hi) {
    const int width = hi - lo + 1;
    const std::uint32_t mask = width >= 32 ? 0xFFFFFFFFu : ((1u << width) - 1u);
    named_[dword] |= mask << lo;
    return (words_[dword] >> lo) & mask;
  }
  std::uint32_t bit(int dword, int n) { return (*this)(dword, n, n); }
  // Instruction bits lo..hi (0-127) that stay inside one dword.
  std::uint32_t at(int lo, int hi) { return (*this)(lo / 32, lo % 32, hi - 32 * (lo / 32)); }

  Words stray_bits() const {
    Words stray{};
    for (int i = 0; i < 4; ++i) stray[i] = words_[i] & ~named_[i];
    return stray;
  }
  bool clean() const {
    const Words s = stray_bits();
    return (s[0] | s[1] | s[2] | s[3]) == 0;
  }

 private:
  Words words_;
  Words named_{};
};

// ---------------------------------------------------------------------------
// Operand fields.

// The 25-bit source field of the legacy format.
struct LegacySource {
  bool indirect;
  std::uint32_t byte_offset, reg;          // direct
  std::uint32_t address_imm, subregister;  // indirect (address bits 0-8)
  std::uint32_t modifiers, h_code, width_code, v_code;
};
inline LegacySource read_legacy_source(std::uint32_t f) {
  auto b = [f](int lo, int hi) { return (f >> lo) & ((1u << (hi - lo + 1)) - 1u); };
  LegacySource s{};
  s.indirect = b(15, 15) != 0;
  if (s.indirect) {
    s.address_imm = b(0, 8);
    s.subregister = b(9, 12);
  } else {
    s.byte_offset = b(0, 4);
    s.reg = b(5, 12);
  }
  s.modifiers = b(13, 14);
  s.h_code = b(16, 17);
  s.width_code = b(18, 20);
  s.v_code = b(21, 24);
  return s;
}

// Destination field of the legacy format (16 bits).
struct LegacyDestination {
  bool indirect;
  std::uint32_t byte_offset, reg, address_imm, subregister, h_code;
};

// ---------------------------------------------------------------------------
// Legacy one- and two-source forms.

struct LegacyRegular {
  std::uint32_t opcode, bit8, control;       // control: modifier bits 9-31
  std::uint32_t modifier_32_34, dst_file, dst_type, src0_file, src0_type, bit15;
  LegacyDestination dst;
  std::uint32_t src0_field, src1_file, src1_type, dword2_bit31, dword3;
};
inline LegacyRegular read_legacy_regular(Reader& r) {
  LegacyRegular i{};
  i.opcode = r(0, 0, 7);
  i.bit8 = r(0, 8, 8);
  i.control = r(0, 9, 31);
  i.modifier_32_34 = r(1, 0, 2);
  i.dst_file = r(1, 3, 4);
  i.dst_type = r(1, 5, 8);
  i.src0_file = r(1, 9, 10);
  i.src0_type = r(1, 11, 14);
  i.bit15 = r(1, 15, 15);
  i.dst.indirect = r(1, 31, 31) != 0;
  if (i.dst.indirect) {
    i.dst.address_imm = r(1, 16, 24);
    i.dst.subregister = r(1, 25, 28);
  } else {
    i.dst.byte_offset = r(1, 16, 20);
    i.dst.reg = r(1, 21, 28);
  }
  i.dst.h_code = r(1, 29, 30);
  i.src0_field = r(2, 0, 24);
  i.src1_file = r(2, 25, 26);
  i.src1_type = r(2, 27, 30);
  i.dword2_bit31 = r(2, 31, 31);
  i.dword3 = r(3, 0, 31);
  return i;
}

// Legacy send.
struct LegacySend {
  std::uint32_t opcode, modifier_8, control_9_23, shared_function, control_28_31;
  std::uint32_t modifier_32_34, dst_file, modifier_36, dst_type, src0_file, modifier_43_47;
  LegacyDestination dst;
  std::uint32_t src0_field_4_15, src1_file, extended, descriptor;
};
inline LegacySend read_legacy_send(Reader& r) {
  LegacySend s{};
  s.opcode = r(0, 0, 7);
  s.modifier_8 = r(0, 8, 8);
  s.control_9_23 = r(0, 9, 23);
  s.shared_function = r(0, 24, 27);
  s.control_28_31 = r(0, 28, 31);
  s.modifier_32_34 = r(1, 0, 2);
  s.dst_file = r(1, 3, 3);
  s.modifier_36 = r(1, 4, 4);
  s.dst_type = r(1, 5, 8);
  s.src0_file = r(1, 9, 10);
  s.modifier_43_47 = r(1, 11, 15);
  s.dst.indirect = r(1, 31, 31) != 0;
  if (s.dst.indirect) {
    s.dst.address_imm = r(1, 16, 24) | (r(1, 30, 30) << 9);
    s.dst.subregister = r(1, 25, 28);
    s.dst.h_code = r(1, 29, 29);
  } else {
    s.dst.byte_offset = r(1, 16, 20);
    s.dst.reg = r(1, 21, 28);
    s.dst.h_code = r(1, 29, 30);
  }
  s.extended = (r(2, 0, 3) << 16) | (r(2, 16, 19) << 20) | (r(2, 21, 24) << 24) | (r(2, 27, 30) << 28) |
               (r(3, 31, 31) << 5);
  s.src0_field_4_15 = r(2, 4, 15) << 4;
  r(2, 20, 20);  // named as 0
  s.src1_file = r(2, 25, 26);
  r(2, 31, 31);  // named as 0
  s.descriptor = r(3, 0, 30);
  return s;
}

// ---------------------------------------------------------------------------
// Dorik-format and wide control dwords.

struct Control {
  std::uint32_t opcode, marker, scoreboard;
  std::uint32_t exec_code, mod_11_13, mod_32_33, predicate, invert, mod_29_30, mod_34, mod_44;
};
inline Control read_dorik_control(Reader& r) {
  Control c{};
  c.opcode = r(0, 0, 6);
  c.marker = r(0, 7, 7);
  c.scoreboard = r(0, 8, 15);
  c.exec_code = r(0, 16, 18);
  c.mod_11_13 = r(0, 19, 21);
  c.mod_32_33 = r(0, 22, 23);
  c.predicate = r(0, 24, 27);
  c.invert = r(0, 28, 28);
  c.mod_29_30 = r(0, 29, 30);
  c.mod_34 = r(0, 31, 31);
  return c;
}
// mod_11_13 holds modifier bits 12-13 shifted to their place (bit 11 is not carried);
// predicate holds modifier bits 16-17.
inline Control read_wide_control(Reader& r) {
  Control c{};
  c.opcode = r(0, 0, 6);
  c.marker = r(0, 7, 7);
  c.scoreboard = r(0, 8, 17);
  c.exec_code = r(0, 18, 20);
  c.mod_32_33 = r(0, 21, 22);
  c.mod_44 = r(0, 23, 23);
  c.mod_11_13 = r(0, 24, 25) << 1;
  c.predicate = r(0, 26, 27);
  c.invert = r(0, 28, 28);
  c.mod_29_30 = r(0, 29, 30);
  c.mod_34 = r(0, 31, 31);
  return c;
}

// ---------------------------------------------------------------------------
// Dorik-format and wide one- and two-source forms. Byte offsets and address
// immediates are reassembled whole (the wide format keeps bit 0 apart).

struct ModernOperand {
  bool indirect;
  std::uint32_t h_code, grf, byte_offset, reg, address_imm, subregister, width_code, v_code;
};
struct ModernRegular {
  Control control;
  std::uint32_t mod_14, bit33, mod_31, dst_mode, dst_type, src0_type, src0_mods, src0_imm, src1_imm;
  ModernOperand dst, src0;
  std::uint32_t src1_type, condition, dword2, dword3;
};

// `wide`: the Harix/Jorva/Lumet layout; `src0_register`: source 0 is a
// register (not an immediate).
inline ModernRegular read_modern_regular(Reader& r, bool wide, bool src0_register) {
  ModernRegular i{};
  i.control = wide ? read_wide_control(r) : read_dorik_control(r);
  i.mod_14 = r(1, 0, 0);
  i.bit33 = r(1, 1, 1);
  i.mod_31 = r(1, 2, 2);
  i.dst_mode = r(1, 3, 3);
  i.dst_type = r(1, 4, 7);
  i.src0_type = r(1, 8, 11);
  i.src0_mods = r(1, 12, 13);
  i.src0_imm = r(1, 14, 14);
  i.src1_imm = r(1, 15, 15);
  i.dst.indirect = i.dst_mode != 0;
  i.dst.h_code = r(1, 16, 17);
  const std::uint32_t low_bit = wide ? i.bit33 : 0;
  if (i.dst.indirect) {
    i.dst.address_imm = wide ? (r(1, 18, 27) << 1) | low_bit : r(1, 18, 27);
    i.dst.subregister = r(1, 28, 31);
  } else {
    i.dst.grf = r(1, 18, 18);
    i.dst.byte_offset = wide ? (r(1, 19, 23) << 1) | low_bit : r(1, 19, 23);
    i.dst.reg = r(1, 24, 31);
  }
  if (src0_register) {
    i.src0.h_code = r(2, 0, 1);
    i.src0.indirect = r(2, 16, 16) != 0;
    const std::uint32_t src_low_bit = wide ? r(2, 23, 23) : 0;
    if (i.src0.indirect) {
      i.src0.address_imm = wide ? (r(2, 2, 11) << 1) | src_low_bit : r(2, 2, 11);
      i.src0.subregister = r(2, 12, 15);
    } else {
      i.src0.grf = r(2, 2, 2);
      i.src0.byte_offset = wide ? (r(2, 3, 7) << 1) | src_low_bit : r(2, 3, 7);
      i.src0.reg = r(2, 8, 15);
    }
    i.src0.width_code = r(2, 17, 19);
    i.src0.v_code = wide ? r(2, 20, 22) : r(2, 20, 23);
  }
  i.src1_type = r(2, 24, 27);
  i.condition = r(2, 28, 31);
  i.dword3 = r(3, 0, 31);
  return i;
}

// ---------------------------------------------------------------------------
// Three-source form (Gulon, wide). Destination field with the three-source
// stride code; sources without byte-offset bit 0 on wide formats.

struct ThreeSourceOperand {
  std::uint32_t h_code, grf, byte_offset, reg;
};
struct ThreeSource {
  Control control;
  std::uint32_t mod_14, bit33, mod_31, dst_type, src0_type, src0_region, src0_mods, bit46, bit47;
  ThreeSourceOperand dst, src0, src1;
  std::uint32_t imm_type, src1_region, src1_mods, src1_type, condition, immediate;
};
inline ThreeSourceOperand read_three_source_operand(Reader& r, int dword, int lo) {
  ThreeSourceOperand o{};
  o.h_code = r(dword, lo, lo + 1);
  o.grf = r(dword, lo + 2, lo + 2);
  o.byte_offset = r(dword, lo + 3, lo + 7);
  o.reg = r(dword, lo + 8, lo + 15);
  return o;
}
inline ThreeSource read_three_source(Reader& r, bool wide) {
  ThreeSource t{};
  t.control = wide ? read_wide_control(r) : read_dorik_control(r);
  t.mod_14 = r(1, 0, 0);
  t.bit33 = r(1, 1, 1);
  t.mod_31 = r(1, 2, 2);
  t.src0_region = r(1, 3, 3) | (r(1, 11, 11) << 1);
  t.dst_type = r(1, 4, 7);
  t.src0_type = r(1, 8, 10);
  t.src0_mods = r(1, 12, 13);
  t.bit46 = r(1, 14, 14);
  t.bit47 = r(1, 15, 15);
  t.dst = read_three_source_operand(r, 1, 16);
  t.src0 = read_three_source_operand(r, 2, 0);
  t.imm_type = r(2, 16, 18);
  t.src1_region = r(2, 19, 19) | (r(2, 27, 27) << 1);
  r(2, 20, 21);  // named as 0
  t.src1_mods = r(2, 22, 23);
  t.src1_type = r(2, 24, 26);
  t.condition = r(2, 28, 31);
  t.src1 = read_three_source_operand(r, 3, 0);
  t.immediate = r(3, 16, 31);
  if (wide) {  // byte-offset bit 0 of the destination in instruction bit 33; sources carry bits 1-5
    t.dst.byte_offset = (t.dst.byte_offset << 1) | t.bit33;
    t.src0.byte_offset <<= 1;
    t.src1.byte_offset <<= 1;
  }
  return t;
}

// ---------------------------------------------------------------------------
// Dorik-format and wide send.

struct ModernSend {
  Control control;
  std::uint32_t mod_14, mod_46, dst_grf, dst_reg, src0_grf, src0_reg, src1_grf, src1_reg;
  std::uint32_t shared_function, extended_without_6_10, extended_6_10, descriptor;
};
inline ModernSend read_modern_send(Reader& r, bool wide) {
  ModernSend s{};
  s.control = wide ? read_wide_control(r) : read_dorik_control(r);
  s.mod_14 = r(1, 0, 0);
  s.mod_46 = r(1, 1, 1);
  s.extended_without_6_10 = (r(1, 2, 2) << 5) | (r(1, 3, 15) << 11) | (r(2, 0, 1) << 24) | (r(3, 0, 1) << 26) |
                            (r(3, 28, 31) << 28);
  r(1, 16, 17);  // named as 0
  s.dst_grf = r(1, 18, 18);
  s.descriptor = (r(1, 19, 23) << 20) | (r(2, 3, 7) << 25) | r(2, 17, 27) | (r(3, 17, 25) << 11) |
                 (r(3, 26, 27) << 30);
  s.dst_reg = r(1, 24, 31);
  s.src0_grf = r(2, 2, 2);
  s.src0_reg = r(2, 8, 15);
  r(2, 16, 16);  // named as 0
  s.shared_function = r(2, 28, 31);
  s.src1_grf = r(3, 2, 2);
  s.extended_6_10 = r(3, 3, 7);
  s.src1_reg = r(3, 8, 15);
  r(3, 16, 16);  // named as 0
  return s;
}

inline Words last_instruction(const ulmara::qez::zorn::CodeGenerator& generator) {
  const auto& code = generator.top_stream().code;
  const std::uint64_t lo = code[code.size() - 2];
  const std::uint64_t hi = code[code.size() - 1];
  return {static_cast<std::uint32_t>(lo), static_cast<std::uint32_t>(lo >> 32), static_cast<std::uint32_t>(hi),
          static_cast<std::uint32_t>(hi >> 32)};
}

// ---------------------------------------------------------------------------
// Hardware type codes by type index, as the format descriptions list them.

inline constexpr std::array<std::uint32_t, 16> vemra_immediate_codes{0, 1, 2, 3, 2, 3, 10, 7, 8, 9, 11, 0, 0, 4, 6, 5};
inline constexpr std::array<std::uint32_t, 16> sutal_codes{0, 1, 2, 3, 4, 5, 10, 9, 6, 7, 8, 0, 0, 4, 5, 11};
inline constexpr std::array<std::uint32_t, 32> dorik_codes{2,  6,  1, 5, 0, 4, 11, 10, 3, 7, 9, 13, 8, 0, 4, 8,
                                                           14, 12, 2, 2, 2, 2, 2,  2,  2, 2, 2, 2,  0, 4, 0, 4};
inline std::uint32_t vemra_register_code(std::uint8_t type) { return type & 0xF; }

}  // namespace zorn_test

// The end of one case of an encoder sweep: every set bit of the instruction
// was read back through `reader`, and the sweep stops at its first failing
// case, naming it.
#define EXPECT_SWEEP_CASE_CLEAN(reader, n) \
  EXPECT_TRUE(reader.clean());             \
  if (HasFailure()) {                      \
    ADD_FAILURE() << "case " << n;         \
    return;                                \
  }
