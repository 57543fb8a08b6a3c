// Reading encoded instructions for the scoreboard analysis: regions of every
// operand, pipes, type codes and message response lengths.
#include "gpu/zorn/scoreboard/instruction_model.hpp"

#include <algorithm>
#include <initializer_list>

#include "gpu/zorn/exceptions.hpp"
#include "gpu/zorn/operands.hpp"

namespace ulmara::qez::zorn {

// ---------------------------------------------------------------------------
// Program access.

InstructionWords instruction_at(const Program& program, std::size_t index) {
  const std::uint64_t lo = program[2 * index];
  const std::uint64_t hi = program[2 * index + 1];
  return {static_cast<std::uint32_t>(lo), static_cast<std::uint32_t>(lo >> 32), static_cast<std::uint32_t>(hi),
          static_cast<std::uint32_t>(hi >> 32)};
}

void store_instruction(Program& program, std::size_t index, const InstructionWords& words) {
  program[2 * index] = low_half(words);
  program[2 * index + 1] = high_half(words);
}

Program program_from_bytes(const std::vector<std::uint8_t>& code) {
  Program program(code.size() / 8);
  for (std::size_t i = 0; i < program.size(); ++i)
    for (std::size_t b = 0; b < 8; ++b) program[i] |= std::uint64_t{code[8 * i + b]} << (8 * b);
  return program;
}

// ---------------------------------------------------------------------------
// Regions.

namespace {

constexpr bool is_one_of(std::uint32_t value, std::initializer_list<std::uint32_t> set) {
  for (std::uint32_t v : set)
    if (v == value) return true;
  return false;
}

std::uint32_t bits_of(std::uint64_t word, std::uint32_t lo, std::uint32_t hi) {
  return static_cast<std::uint32_t>((word >> lo) & ((std::uint64_t{1} << (hi - lo + 1)) - 1));
}

std::int32_t sign_extend(std::uint32_t value, std::uint32_t bits) {
  const std::uint32_t sign = 1u << (bits - 1);
  return static_cast<std::int32_t>((value ^ sign)) - static_cast<std::int32_t>(sign);
}

// 2^k consecutive bits every e bits, `elements` times, below bit 64.
std::uint64_t row_mask(std::uint32_t k, std::uint32_t e, std::uint32_t elements) {
  std::uint64_t m = 0;
  const std::uint64_t element = (std::uint64_t{1} << (1u << k)) - 1;
  for (std::uint32_t j = 0; j < elements; ++j) {
    const std::uint64_t at = std::uint64_t{j} * e;
    if (at < 64) m |= element << at;
  }
  return m;
}

// Folds a 64-bit byte mask to 32 word bits; reports half-covered words.
std::uint32_t fold_to_words(std::uint64_t bytes, bool& partial) {
  std::uint32_t words = 0;
  for (std::uint32_t b = 0; b < 32; ++b) {
    const std::uint64_t pair = (bytes >> (2 * b)) & 3u;
    if (pair != 0) words |= 1u << b;
    if (pair == 1 || pair == 2) partial = true;
  }
  return words;
}

}  // namespace

bool DependencyRegion::masks_zero() const {
  return std::all_of(masks.begin(), masks.end(), [](std::uint32_t m) { return m == 0; });
}

void DependencyRegion::make_empty() {
  first_register = 0;
  register_count = 0;
  flags = 0;
  masks.fill(0);
}

void DependencyRegion::make_whole_file() {
  first_register = 0;
  register_count = 0;
  flags = static_cast<std::uint8_t>((flags & ~region_flag::builder_bits) | region_flag::whole_file);
  masks.fill(0);
}

DependencyRegion empty_region(HW hw) {
  DependencyRegion r;
  r.make_empty();
  r.hw = hw;
  return r;
}

DependencyRegion whole_file_region(HW hw) {
  DependencyRegion r;
  r.hw = hw;
  return r;
}

DependencyRegion::DependencyRegion(HW region_hw, std::uint32_t exec, std::uint64_t word) {
  first_register = static_cast<std::uint16_t>(bits_of(word, 0, 8));
  flags = static_cast<std::uint8_t>(bits_of(word, 9, 9) != 0 ? region_flag::arf : 0);
  hw = region_hw;
  const bool wide = hw >= first_wide_grf_hw;
  const std::int32_t g = wide ? 6 : 5;
  const std::uint32_t k = std::max<std::uint32_t>(bits_of(word, 28, 30), 3) - 3;
  const std::uint32_t w = std::max<std::uint32_t>(bits_of(word, 39, 43), 1);
  const std::uint32_t vs = bits_of(word, 32, 38);
  const std::uint32_t hs = std::max<std::uint32_t>(bits_of(word, 44, 49), 1);

  const std::int32_t start = sign_extend(bits_of(word, 10, 20), 11) * (1 << k);
  const std::int32_t row_step = static_cast<std::int32_t>(vs << k);
  const std::int32_t rows = vs != 0 ? static_cast<std::int32_t>(exec / w) : 1;
  const std::uint64_t m = row_mask(k, hs << k, w);

  bool partial = false;
  for (std::int32_t r = 0; r < rows; ++r) {
    const std::int32_t o = start + r * row_step;
    const std::int32_t reg = o >> g;
    if (reg < 0 || reg >= static_cast<std::int32_t>(region_registers)) continue;  // outside the model
    const std::uint64_t shifted = m << (o & ((1 << g) - 1));
    masks[static_cast<std::size_t>(reg)] |= wide ? fold_to_words(shifted, partial) : static_cast<std::uint32_t>(shifted);
  }
  if (partial) flags |= region_flag::partial_word;
  const std::int32_t count = ((start + rows * row_step - row_step) >> g) + 1;
  register_count = static_cast<std::uint16_t>(std::clamp<std::int32_t>(count, 0, region_registers));
}

GRFRange make_grf_range(std::uint64_t start_operand, std::uint32_t end_register) {
  const std::int32_t start = static_cast<std::int32_t>(start_operand & 0x1FF);
  const std::int32_t end = static_cast<std::int32_t>(end_register & 0x1FF);
  const std::int32_t count = end - start + 1;
  if (count < 0) throw invalid_range_exception();
  return GRFRange{static_cast<std::uint16_t>(start), static_cast<std::uint16_t>(count)};
}

void dependency_region_from_range(DependencyRegion& region, HW hw, std::uint32_t packed_range) {
  if (packed_range >= pack_range(0, region_registers + 1)) throw invalid_region_exception();
  region.hw = hw;
  region.first_register = static_cast<std::uint16_t>(packed_range & 0xFFFF);
  region.register_count = static_cast<std::uint16_t>(packed_range >> 16);
  region.flags = static_cast<std::uint8_t>(region.flags & ~region_flag::builder_bits);
  for (std::uint32_t i = 0; i < region_registers; ++i) region.masks[i] = i < region.register_count ? 0xFFFFFFFFu : 0;
}

// ---------------------------------------------------------------------------
// Operand decoding.

namespace {

enum class Twin { narrow, wide };  // before Harix / Harix and newer

// Hardware type code -> DataType byte.
constexpr std::array<std::uint8_t, 16> type_of_code{0x64, 0x82, 0xA0, 0xC8, 0x65, 0x83, 0xA1, 0xC9,
                                                    0x6C, 0x8A, 0xA7, 0xC6, 0x71, 0x8B, 0xB0, 0x60};

constexpr bool is_three_source(std::uint32_t o) { return is_one_of(o, {82, 88, 91, 93, 107, 114, 120, 122}); }
constexpr bool has_no_registers(std::uint32_t o) { return is_one_of(o, {0, 34, 36, 37, 39, 40, 41, 46, 47, 96}); }

std::uint32_t execution_size(const InstructionWords& w, Twin twin) {
  return 1u << (twin == Twin::wide ? dword_bits(w, 0, 18, 20) : dword_bits(w, 0, 16, 18));
}

bool set_range(DependencyRegion& region, std::uint32_t first, std::uint32_t count) {
  dependency_region_from_range(region, region.hw, pack_range(first, count));
  return true;
}

bool set_whole_file(DependencyRegion& region) {
  region.make_whole_file();
  return true;
}

// Region of a RegisterOperand word completed for the instruction. An operand
// the completion refuses is taken as the whole file: the analysis then orders
// it against everything instead of failing the build.
bool set_operand_region(DependencyRegion& region, std::uint32_t exec, std::uint64_t word, int operand) {
  RegisterOperand op = RegisterOperand::from_bits(word);
  try {
    fixup_operand(op, region.hw, exec, 0, data_type::none, operand, 2);
  } catch (const std::runtime_error&) {
    return set_whole_file(region);
  }
  const std::uint8_t kept = static_cast<std::uint8_t>(region.flags & ~region_flag::builder_bits);
  const HW hw = region.hw;
  region = DependencyRegion(hw, exec, op.bits);
  region.flags |= kept;
  return true;
}

void double_region(DependencyRegion& region) {
  const std::uint32_t count = region.register_count;
  for (std::uint32_t i = 0; i < count && count + i < region_registers; ++i) region.masks[count + i] = region.masks[i];
  region.register_count = static_cast<std::uint16_t>(std::min<std::uint32_t>(2 * count, region_registers));
}

// The fields of a register operand as the general and three-source forms
// spread them.
struct OperandFields {
  std::uint32_t f;     // operand field F
  std::uint32_t type;  // hardware type code t
  std::uint32_t v;     // vertical code (three-source sources 0 and 1)
};

enum class Form { general, three_source };

bool read_operand_fields(const InstructionWords& w, Form form, int operand, OperandFields& out) {
  const std::uint32_t o = opcode_of(w);
  if (form == Form::three_source) {
    const std::uint32_t high = dword_bits(w, 1, 7, 7) << 3;
    switch (operand) {
      case destination_number: out = {dword_bits(w, 1, 16, 31), high | dword_bits(w, 1, 4, 6), 0}; break;
      case 0:
        if (dword_bits(w, 1, 14, 14) != 0) return false;
        out = {w[2], high | dword_bits(w, 1, 8, 10), (dword_bits(w, 1, 11, 11) ? 3u : 0u) + dword_bits(w, 1, 3, 3)};
        break;
      case 1:
        out = {w[3], high | dword_bits(w, 2, 24, 26), (dword_bits(w, 2, 27, 27) ? 3u : 0u) + dword_bits(w, 2, 19, 19)};
        break;
      default:
        if (dword_bits(w, 1, 15, 15) != 0) return false;
        out = {dword_bits(w, 3, 16, 31), high | (instruction_byte(w, 10) & 7u), 0};
        break;
    }
    if (o == 93) out.f &= 0xFF07u;
    return true;
  }
  switch (operand) {
    case destination_number: out = {dword_bits(w, 1, 16, 31), dword_bits(w, 1, 4, 7), 0}; break;
    case 0:
      if (dword_bits(w, 1, 14, 14) != 0) return false;
      out = {dword_bits(w, 2, 0, 23), dword_bits(w, 1, 8, 11), 0};
      break;
    case 1:
      if (instruction_byte(w, 5) > 63) return false;
      out = {dword_bits(w, 3, 0, 23), instruction_byte(w, 11) & 0xFu, 0};
      break;
    default: return false;
  }
  if (o == opcode::math && dword_bits(w, 2, 29, 31) == 7) out.f &= 0xFEFF07u;
  return true;
}

// Region word (bits 32-63 of the operand) of one operand.
std::uint64_t region_word_of(const OperandFields& fields, Form form, int operand, Twin twin) {
  const std::uint32_t f = fields.f;
  const std::uint32_t code = f & 3u;
  std::uint32_t vs = 0, width = 0, hs = 0;
  if (operand == destination_number) {
    vs = form == Form::three_source ? (1u << code) : ((1u << code) >> 1);
    width = 1;
  } else {
    hs = (1u << code) >> 1;
    if (form == Form::three_source && operand <= 1) {
      const std::uint32_t s = (1u << fields.v) >> 1;
      vs = s;
      width = hs != 0 ? (s >> (code - 1)) : (s == 0 ? 1 : s);
      width &= 0x1Fu;
    } else if (form == Form::general) {
      width = (1u << bits_of(f, 17, 19)) & 0x1Fu;
      const std::uint32_t vcode = twin == Twin::wide ? bits_of(f, 20, 22) : bits_of(f, 20, 24);
      vs = ((std::uint64_t{1} << vcode) >> 1) & 0x7Fu;
    }
  }
  return std::uint64_t{vs} | (std::uint64_t{width} << 7) | (std::uint64_t{hs} << 12);
}

// True when an ARF register is one the analysis tracks.
bool tracked_arf(std::uint32_t reg, HW hw) {
  const std::uint32_t kind = reg >> 4;
  return kind == 1 || kind == 2 || (hw >= hw::lumet && kind == 6);
}

bool decode_register_operand(const InstructionWords& w, DependencyRegion& region, int operand, Form form,
                             Twin twin) {
  OperandFields fields{};
  if (!read_operand_fields(w, form, operand, fields)) return false;
  if ((fields.f >> 16) & 1u) return set_whole_file(region);
  const DataType type(type_of_code[fields.type & 0xFu]);
  const std::uint32_t reg = bits_of(fields.f, 8, 15);
  std::uint32_t byte_offset = bits_of(fields.f, 3, 7);
  if (twin == Twin::wide) {
    byte_offset *= 2;
    if (form == Form::general) byte_offset += bits_of(fields.f, 23, 23);
  }
  std::uint64_t word = reg | (std::uint64_t{byte_offset >> type.log2_bytes()} << 10) |
                       (std::uint64_t{type.value} << 23) |
                       (region_word_of(fields, form, operand, twin) << 32);
  if (((fields.f >> 2) & 1u) == 0) {
    if (!tracked_arf(reg, region.hw)) return false;
    word |= 1u << 9;
  }
  set_operand_region(region, execution_size(w, twin), word, operand);
  if (opcode_of(w) == opcode::doubled) double_region(region);
  return true;
}

bool decode_send(const InstructionWords& w, DependencyRegion& region, int operand) {
  const HW hw = region.hw;
  if (operand == destination_number) {
    if (dword_bits(w, 1, 18, 18) == 0) return false;
    if (dword_bits(w, 1, 16, 16) != 0) return set_whole_file(region);
    std::uint32_t c = dword_bits(w, 1, 19, 23);
    if (c == 0) return false;
    if (c == 31) c = 32;
    return set_range(region, dword_bits(w, 1, 24, 31), c);
  }
  if (operand > 1) return false;
  const bool register_payload = dword_bits(w, 2, 2, 2) != 0 || hw < hw::lumet;
  if (operand == 0) {
    if (!register_payload) return set_whole_file(region);
    if (dword_bits(w, 2, 2, 2) == 0) return false;
    if (instruction_bit(w, 48)) return set_whole_file(region);
    const std::uint32_t c = dword_bits(w, 2, 3, 6);
    return c != 0 && set_range(region, dword_bits(w, 2, 8, 15), c);
  }
  if (!register_payload) {
    const std::uint64_t word = ((std::uint64_t{w[3]} << 8) & 0xF800u) | 0x32000360u;
    region = DependencyRegion(hw, dword_bits(w, 2, 3, 6), word);
    return true;
  }
  if (dword_bits(w, 3, 2, 2) == 0) return false;
  if (instruction_bit(w, 49)) return set_whole_file(region);
  const std::uint32_t c = dword_bits(w, 3, 3, 7);
  return c != 0 && set_range(region, dword_bits(w, 3, 8, 15), c);
}

bool decode_split_send(const InstructionWords& w, DependencyRegion& region, int operand) {
  const std::uint32_t o = opcode_of(w);
  if (operand == destination_number) {
    if (o != 53 && dword_bits(w, 1, 1, 1) == 0) return false;
    std::uint64_t message = 0;
    decode_send_message(w, message);
    const int c = message_response_grfs(message, region.hw, 1 << dword_bits(w, 0, 16, 18), dword_bits(w, 2, 28, 31));
    std::uint32_t r = dword_bits(w, 1, 24, 31);
    if (o == 53 && dword_bits(w, 1, 1, 1) != 0) r += 256;
    if (r > 510) return false;
    if (c < 0) return set_whole_file(region);
    return set_range(region, r, static_cast<std::uint32_t>(c));
  }
  if (operand > 1) return false;
  const std::uint32_t d = operand == 0 ? w[2] : w[3];
  if (o == 53) {
    const std::uint32_t r = bits_of(d, 8, 15) + (bits_of(d, 2, 2) ? 256u : 0u);
    if (r > 510) return false;
    return set_range(region, r, bits_of(d, 3, 7));
  }
  if ((w[2] & 0xF004u) != 0x6000u) {
    if (bits_of(d, 2, 2) == 0) return false;
    return set_range(region, bits_of(d, 8, 15), bits_of(d, 3, 7));
  }
  if (operand == 0) return set_whole_file(region);
  const std::uint64_t word = std::uint64_t{w[2] & 0xF00u} * 8 + 0x32000360u;
  region = DependencyRegion(region.hw, dword_bits(w, 2, 3, 7), word);
  return true;
}

bool decode_matrix(const InstructionWords& w, DependencyRegion& region, int operand, Twin twin) {
  const std::uint32_t n = dword_bits(w, 1, 11, 13) + 1;
  std::uint32_t reg = 0, count = 0;
  switch (operand) {
    case destination_number: {
      const std::uint32_t t = dword_bits(w, 1, 4, 5);
      reg = dword_bits(w, 1, 24, 31);
      count = t == 3 ? n : ((n << t) + 3) >> 2;
      break;
    }
    case 0: {
      const std::uint32_t t = dword_bits(w, 1, 8, 9);
      reg = dword_bits(w, 2, 8, 15);
      count = t < 3 ? ((n << t) + 3) >> 2 : n;
      break;
    }
    case 1:
      reg = dword_bits(w, 3, 8, 15);
      count = 1u << dword_bits(w, 1, 16, 17);
      break;
    default: {
      const std::uint32_t m = opcode_of(w) == opcode::dpasw ? (n + 1) >> 1 : n;
      const std::uint32_t scaled = m << dword_bits(w, 1, 16, 17) << 2;
      reg = dword_bits(w, 3, 24, 31);
      if (dword_bits(w, 2, 16, 17) == 3) count = m;
      else if (twin == Twin::wide) count = (dword_bits(w, 3, 19, 23) * 2 + scaled + 62) >> 6;
      else count = (dword_bits(w, 3, 19, 23) + scaled + 31) >> 5;
      break;
    }
  }
  region.first_register = static_cast<std::uint16_t>(reg);
  region.register_count = static_cast<std::uint16_t>(std::min<std::uint32_t>(count, region_registers));
  region.flags = static_cast<std::uint8_t>(region.flags & ~region_flag::builder_bits);
  for (std::uint32_t i = 0; i < region_registers; ++i) region.masks[i] = i < count ? 0xFFFFFFFFu : 0;
  return true;
}

bool decode_directive(const InstructionWords& w, DependencyRegion& region, int operand) {
  if (operand == destination_number) {
    const std::uint64_t word = 0x30000000u | instruction_byte(w, 7) | (std::uint64_t{1} << 44);
    region = DependencyRegion(region.hw, 1, word);
    return true;
  }
  if (operand != 0) return false;
  const GRFRange range = make_grf_range(instruction_byte(w, 9), instruction_byte(w, 13));
  dependency_region_from_range(region, region.hw, pack_range(range.base, range.count));
  return true;
}

bool decode_dependencies(const InstructionWords& w, DependencyRegion& region, int operand, Twin twin) {
  const std::uint32_t o = opcode_of(w);
  if (has_no_registers(o)) return false;
  if (o == opcode::send || o == opcode::sendc) return decode_send(w, region, operand);
  if (is_split_send(o)) return decode_split_send(w, region, operand);
  if (is_matrix(o)) return decode_matrix(w, region, operand, twin);
  if (o == opcode::directive) return decode_directive(w, region, operand);
  return decode_register_operand(w, region, operand, is_three_source(o) ? Form::three_source : Form::general, twin);
}

}  // namespace

bool decode_instruction_dependencies(const InstructionWords& instruction, DependencyRegion& region, int operand) {
  return decode_dependencies(instruction, region, operand, Twin::narrow);
}

bool decode_instruction_dependencies_hw7(const InstructionWords& instruction, DependencyRegion& region,
                                         int operand) {
  return decode_dependencies(instruction, region, operand, Twin::wide);
}

// ---------------------------------------------------------------------------
// Instruction classes.

int instruction_operand_field(const InstructionWords& w, int source) {
  const std::uint32_t o = opcode_of(w);
  if (is_one_of(o, {0, 49, 50, 88, 89, 90, 96})) return 0;
  if (is_one_of(o, {82, 91, 93, 107, 114, 120, 122})) {
    const std::uint32_t high = dword_bits(w, 1, 7, 7) << 3;
    const std::uint32_t low = source == 0   ? dword_bits(w, 1, 8, 10)
                              : source == 1 ? instruction_byte(w, 11) & 7u
                                            : instruction_byte(w, 10) & 7u;
    return static_cast<int>(high | low);
  }
  if (source == 0) return static_cast<int>(dword_bits(w, 1, 8, 11));
  if (source == 1) return static_cast<int>(instruction_byte(w, 11) & 0xFu);
  return 0;
}

bool instruction_operand_arf_kind(const InstructionWords& w, std::uint32_t& code, int operand, HW hw) {
  const std::uint32_t o = opcode_of(w);
  if (is_one_of(o, {0, 18, 24, 26, 49, 50, 82, 88, 89, 90, 91, 93, 107, 126})) return false;
  if (operand > 1) return false;
  if (operand == 1 && instruction_byte(w, 5) > 63) return false;
  if (operand == 0 && (instruction_byte(w, 5) & 0x40u) != 0) return false;
  const std::uint32_t field = operand == destination_number ? dword_bits(w, 1, 16, 31) : w[operand == 0 ? 2 : 3];
  if ((field & 0x4u) != 0 || (field & 0x10000u) != 0) return false;
  code = bits_of(field, 12, 15);
  if (code == 6 && hw >= hw::lumet) code = 22;
  return true;
}

namespace {

constexpr std::uint32_t long_type_code = 11;

bool out_of_order_class(HW hw, const InstructionWords& w) {
  const std::uint32_t o = opcode_of(w);
  if (is_matrix(o) || is_send_family(o)) return true;
  if (o == opcode::math && hw < hw::harix) return true;
  return hw == hw::gulon && (instruction_operand_field(w, 0) == static_cast<int>(long_type_code) ||
                             dword_bits(w, 1, 4, 7) == long_type_code);
}

PipeCode out_of_order_code(const InstructionWords& w) {
  const std::uint32_t o = opcode_of(w);
  if (is_send_family(o)) return static_cast<PipeCode>(pipe::send_base + dword_bits(w, 2, 28, 31));
  return is_matrix(o) ? pipe::matrix : pipe::other_out_of_order;
}

bool long_pipe(HW hw, const InstructionWords& w) {
  const std::uint32_t dst = dword_bits(w, 1, 4, 7);
  if (hw >= hw::harix) return (dst & 0xBu) == 0xBu;
  if ((dst & 3u) == 3u) return true;
  return (instruction_operand_field(w, 0) & 3) == 3 || (instruction_operand_field(w, 1) & 3) == 3;
}

}  // namespace

void pipe_of_instruction(PipeCode& result, HW hw, const InstructionWords& w, bool with_out_of_order) {
  const std::uint32_t o = opcode_of(w);
  if (is_branch(o) || o < 2 || o == opcode::nop || o == opcode::directive) {
    result = pipe::none;
    return;
  }
  if (out_of_order_class(hw, w)) {
    result = with_out_of_order ? out_of_order_code(w) : pipe::none;
    return;
  }
  if (o == opcode::math) {
    result = pipe::math;
    return;
  }
  if (hw < hw::fenwa) {
    result = pipe::single;
    return;
  }
  PipeCode p = long_pipe(hw, w) ? pipe::long_pipe : dword_bits(w, 1, 7, 7) ? pipe::float_pipe : pipe::integer;
  if (p != pipe::long_pipe && hw >= hw::nopra && (o == opcode::mov || o == 84) &&
      static_cast<int>(dword_bits(w, 1, 4, 7)) != instruction_operand_field(w, 0))
    p = pipe::integer;
  std::uint32_t kind = 0;
  if (hw >= hw::lumet && instruction_operand_arf_kind(w, kind, destination_number, hw) && kind == 22) p = pipe::scalar;
  result = p;
}

// ---------------------------------------------------------------------------
// Messages.

void decode_send_message(const InstructionWords& w, std::uint64_t& word) {
  word = std::uint64_t{dword_bits(w, 3, 16, 31)} | (std::uint64_t{dword_bits(w, 2, 16, 27)} << 16) |
         (std::uint64_t{dword_bits(w, 3, 0, 1)} << 28) | (std::uint64_t{dword_bits(w, 2, 0, 1)} << 30) |
         (std::uint64_t{dword_bits(w, 1, 16, 23)} << 32) | (std::uint64_t{dword_bits(w, 1, 4, 5)} << 40);
  if (dword_bits(w, 1, 3, 3) == 0) word |= std::uint64_t{dword_bits(w, 1, 6, 10)} << 42;
}

int message_response_grfs(std::uint64_t word, HW hw, std::int32_t execution_size, std::uint32_t shared_function) {
  if (shared_function == 3) return (word & 0x3B) == 8 ? 1 : -1;
  if (!is_one_of(shared_function, {6, 13, 14, 15})) return -1;
  static constexpr std::array<int, 8> data_bytes{1, 2, 4, 8, 4, 4, 0, 0};
  static constexpr std::array<int, 8> vector_sizes{1, 2, 3, 4, 8, 16, 32, 64};
  const int grf = static_cast<int>(grf_bytes(hw));
  const int r = (execution_size >> (hw >= hw::harix ? 5 : 4)) + 1;
  const std::uint32_t t = bits_of(word, 0, 5);
  const int bytes = data_bytes[bits_of(word, 11, 13)];
  const int vector = vector_sizes[bits_of(word, 7, 9)];
  const int f = bytes == 8 ? 2 : 1;
  if (is_one_of(t, {8, 9, 10}) || (t >= 12 && t <= 26)) return f * r;
  if (t == 0) return bits_of(word, 10, 10) ? (vector * bytes + grf - 1) / grf : f * vector * r;
  if (t == 2) {
    int channels = 0;
    for (std::uint32_t b = 7; b <= 10; ++b) channels += static_cast<int>((word >> b) & 1u);
    return channels * r;
  }
  return t == 31 ? 1 : -1;
}

}  // namespace ulmara::qez::zorn
