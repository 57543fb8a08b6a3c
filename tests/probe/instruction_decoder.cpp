#include "tests/probe/instruction_decoder.hpp"

namespace zorn_test {

namespace {

constexpr std::uint32_t jmpi = 0x20;
constexpr std::uint32_t legacy_mov = 1, legacy_cmp = 16, modern_mov = 97, modern_cmp = 112;
constexpr std::uint32_t send = 49, split_send = 51;
constexpr std::uint32_t legacy_grf_file = 1, legacy_immediate_file = 3;

bool is_legacy(InstructionFormat format) {
  return format == InstructionFormat::vemra || format == InstructionFormat::sutal;
}

// Legacy control dword: modifier bits 8-31 stay in place.
void read_legacy_control(Reader& r, DecodedInstruction& d) {
  d.opcode = r(0, 0, 7);
  d.predicate = r(0, 16, 19);
  d.invert = r(0, 20, 20);
  d.exec_code = r(0, 21, 23);
  d.condition = r(0, 24, 27);
}

void read_control(const Control& c, DecodedInstruction& d) {
  d.opcode = c.opcode;
  d.exec_code = c.exec_code;
  d.predicate = c.predicate;
  d.invert = c.invert;
}

DecodedRegister legacy_source(std::uint32_t field, std::uint32_t file, std::uint32_t type_code) {
  const LegacySource s = read_legacy_source(field);
  return {file == legacy_grf_file, s.reg, s.byte_offset, type_code};
}

DecodedInstruction decode_legacy_regular(Reader& r) {
  DecodedInstruction d;
  read_legacy_control(r, d);
  const LegacyRegular i = read_legacy_regular(r);
  d.dst = {i.dst_file == legacy_grf_file, i.dst.reg, i.dst.byte_offset, i.dst_type};
  if (i.src0_file == legacy_immediate_file) {
    d.immediate_source = true;
    d.immediate_type_code = i.src0_type;
    d.immediate = i.dword3;
  } else {
    d.src0 = legacy_source(i.src0_field, i.src0_file, i.src0_type);
  }
  if (i.src1_file == legacy_immediate_file) {
    d.immediate_source = true;
    d.immediate_type_code = i.src1_type;
    d.immediate = i.dword3;
  }
  return d;
}

DecodedInstruction decode_legacy_jump(Reader& r) {
  DecodedInstruction d;
  read_legacy_control(r, d);
  d.distance = static_cast<std::int32_t>(r(3, 0, 31));
  return d;
}

DecodedInstruction decode_legacy_send(Reader& r) {
  DecodedInstruction d;
  read_legacy_control(r, d);
  d.condition = 0;  // bits 24-27 carry the shared function
  const LegacySend s = read_legacy_send(r);
  d.shared_function = s.shared_function;
  d.extended = s.extended & ~0x1Fu;
  d.descriptor = s.descriptor;
  d.dst = {s.dst_file == legacy_grf_file, s.dst.reg, s.dst.byte_offset, s.dst_type};
  d.src0 = {s.src0_file == legacy_grf_file, (s.src0_field_4_15 >> 5) & 0xFFu, 0, 0};
  return d;
}

// The legacy split send: shared function in dword 0 bits 24-27, source 1 in
// dword 1 bits 12-19, the extended descriptor's data length in dword 2 bits
// 0-3 and its bit 5 in dword 3 bit 31.
DecodedInstruction decode_legacy_split_send(Reader& r) {
  DecodedInstruction d;
  d.opcode = r(0, 0, 7);
  d.exec_code = r(0, 21, 23);
  d.shared_function = r(0, 24, 27);
  d.dst = {r(1, 3, 4) == legacy_grf_file, r(1, 21, 28), r(1, 16, 20), 0};
  // Both sources of the split send are general registers; the form has no
  // register-file field for them.
  d.src1 = {true, r(1, 12, 19), 0, 0};
  d.src0 = {true, r(2, 5, 12), 0, 0};
  d.extended = (r(2, 16, 31) << 16) | (r(2, 0, 3) << 6) | (r(3, 31, 31) << 5);
  d.descriptor = r(3, 0, 30);
  return d;
}

DecodedRegister modern_register(const ModernOperand& o, std::uint32_t type_code) {
  return {o.grf != 0, o.reg, o.byte_offset, type_code};
}

DecodedInstruction decode_modern_regular(Reader& r, bool wide, bool src0_register) {
  DecodedInstruction d;
  const ModernRegular i = read_modern_regular(r, wide, src0_register);
  read_control(i.control, d);
  d.condition = i.condition;
  d.dst = modern_register(i.dst, i.dst_type);
  if (src0_register) d.src0 = modern_register(i.src0, i.src0_type);
  if (i.src0_imm) {
    d.immediate_source = true;
    d.immediate_type_code = i.src0_type;
    d.immediate = i.dword3;
  }
  if (i.src1_imm) {
    d.immediate_source = true;
    d.immediate_type_code = i.src1_type;
    d.immediate = i.dword3;
  }
  return d;
}

DecodedInstruction decode_modern_jump(Reader& r, bool wide) {
  DecodedInstruction d;
  read_control(wide ? read_wide_control(r) : read_dorik_control(r), d);
  d.distance = static_cast<std::int32_t>(r(3, 0, 31));
  return d;
}

DecodedInstruction decode_modern_send(Reader& r, bool wide) {
  DecodedInstruction d;
  const ModernSend s = read_modern_send(r, wide);
  read_control(s.control, d);
  d.shared_function = s.shared_function;
  d.extended = (s.extended_without_6_10 | (s.extended_6_10 << 6)) & ~0x1Fu;
  d.descriptor = s.descriptor;
  d.dst = {s.dst_grf != 0, s.dst_reg, 0, 0};
  d.src0 = {s.src0_grf != 0, s.src0_reg, 0, 0};
  d.src1 = {s.src1_grf != 0, s.src1_reg, 0, 0};
  return d;
}

}  // namespace

InstructionFormat format_of(ulmara::qez::zorn::HW hw) {
  if (hw <= 1) return InstructionFormat::vemra;
  if (hw <= 3) return InstructionFormat::sutal;
  if (hw <= 6) return InstructionFormat::dorik;
  return InstructionFormat::wide;
}

std::uint32_t grf_bytes(InstructionFormat format) { return format == InstructionFormat::wide ? 64 : 32; }

Kind kind_of(InstructionFormat format, std::uint32_t opcode) {
  const bool legacy = is_legacy(format);
  if (opcode == (legacy ? legacy_mov : modern_mov)) return Kind::move;
  if (opcode == (legacy ? legacy_cmp : modern_cmp)) return Kind::compare;
  if (opcode == jmpi) return Kind::jump;
  if (opcode == send || opcode == split_send) return Kind::send;
  return Kind::other;
}

DecodedInstruction decode_instruction(InstructionFormat format, const Words& words) {
  Reader r(words);
  const bool legacy = is_legacy(format), wide = format == InstructionFormat::wide;
  const std::uint32_t opcode = legacy ? (words[0] & 0xFFu) : (words[0] & 0x7Fu);
  switch (kind_of(format, opcode)) {
    case Kind::move: {
      // An immediate move has source 0 in the immediate file (legacy) or
      // instruction bit 46 set.
      const bool immediate = legacy ? ((words[1] >> 9) & 3u) == legacy_immediate_file : ((words[1] >> 14) & 1u) != 0;
      return legacy ? decode_legacy_regular(r) : decode_modern_regular(r, wide, !immediate);
    }
    case Kind::compare: return legacy ? decode_legacy_regular(r) : decode_modern_regular(r, wide, true);
    case Kind::jump: return legacy ? decode_legacy_jump(r) : decode_modern_jump(r, wide);
    case Kind::send:
      if (legacy) return opcode == split_send ? decode_legacy_split_send(r) : decode_legacy_send(r);
      return decode_modern_send(r, wide);
    case Kind::other: break;
  }
  DecodedInstruction d;
  d.opcode = opcode;
  return d;
}

std::uint32_t register_type_code(InstructionFormat format, std::uint8_t type) {
  switch (format) {
    case InstructionFormat::vemra: return vemra_register_code(type);
    case InstructionFormat::sutal: return sutal_codes[type & 0xFu];
    default: return dorik_codes[type & 0x1Fu];
  }
}

std::uint32_t immediate_type_code(InstructionFormat format, std::uint8_t type) {
  return format == InstructionFormat::vemra ? vemra_immediate_codes[type & 0xFu] : register_type_code(format, type);
}

}  // namespace zorn_test
