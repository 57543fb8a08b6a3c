// The 128-bit instruction value and the generic field setter and getter that
// every instruction-format table of the encoders drives.
//
// A field of a format is a list of pieces: each piece puts `width` bits of the
// field's value, starting at value bit `value_low`, at instruction bit `at`.
// Most fields are one piece; fields the hardware scatters (descriptor bits in
// a send, the low byte-offset bit of the wide-register formats) are several.
// A field whose first piece has width 0 is absent from that generation.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "gpu/zorn/bit_fields.hpp"
#include "gpu/zorn/code_generator.hpp"
#include "gpu/zorn/hw.hpp"

namespace ulmara::qez::zorn::encoders {

// ---------------------------------------------------------------------------
// The instruction value: bit n is bit n of the little-endian 128-bit number,
// held as two 64-bit halves (bits 0-63, bits 64-127).

inline constexpr std::uint32_t instruction_bits = 128;
inline constexpr std::uint32_t half_bits = 64;

struct Instruction128 {
  std::array<std::uint64_t, 2> half{0, 0};

  constexpr std::uint32_t dword(std::size_t index) const {
    return static_cast<std::uint32_t>(half[index / 2] >> (32 * (index % 2)));
  }
  InstructionWords words() const { return {dword(0), dword(1), dword(2), dword(3)}; }
  friend constexpr bool operator==(const Instruction128& a, const Instruction128& b) {
    return a.half[0] == b.half[0] && a.half[1] == b.half[1];
  }
};

// ---------------------------------------------------------------------------
// Field layouts.

struct FieldPiece {
  std::uint8_t at = 0;         // first instruction bit
  std::uint8_t width = 0;      // 0 = no piece
  std::uint8_t value_low = 0;  // first value bit this piece carries
};

inline constexpr std::size_t max_field_pieces = 5;

struct FieldLayout {
  std::array<FieldPiece, max_field_pieces> pieces{};

  constexpr bool present() const { return pieces[0].width != 0; }
  // Instruction bits covered by the field, as a mask per half.
  constexpr std::array<std::uint64_t, 2> coverage() const {
    std::array<std::uint64_t, 2> mask{0, 0};
    for (const FieldPiece& p : pieces) {
      if (p.width == 0) continue;
      const BitField bits{static_cast<std::uint32_t>(p.at % half_bits), p.width};
      mask[p.at / half_bits] |= bits.mask<std::uint64_t>();
    }
    return mask;
  }
};

// The absent field.
inline constexpr FieldLayout absent{};

// A one-piece field of `width` bits at instruction bit `at`.
constexpr FieldLayout bits(std::uint8_t at, std::uint8_t width) { return FieldLayout{{FieldPiece{at, width, 0}}}; }

// A field built from explicit pieces {at, width, value_low}.
template <class... Pieces>
constexpr FieldLayout pieces(Pieces... p) {
  static_assert(sizeof...(Pieces) <= max_field_pieces, "too many pieces for one field");
  return FieldLayout{{p...}};
}

// A piece may not leave its 64-bit half nor the instruction, and a value bit
// may not land twice.
constexpr bool well_formed(const FieldLayout& field) {
  std::uint64_t value_bits_seen = 0;
  bool ended = false;
  for (const FieldPiece& p : field.pieces) {
    if (p.width == 0) {
      ended = true;
      continue;
    }
    if (ended) return false;  // pieces are packed from the front
    if (p.at + p.width > instruction_bits) return false;
    if (p.at / half_bits != (p.at + p.width - 1) / half_bits) return false;
    if (p.value_low + p.width > 64) return false;
    const std::uint64_t value_bits = BitField{p.value_low, p.width}.mask<std::uint64_t>();
    if ((value_bits & value_bits_seen) != 0) return false;
    value_bits_seen |= value_bits;
  }
  return true;
}

// Writes the field's bits of `value`; value bits no piece carries are dropped.
constexpr void put_field(Instruction128& instruction, const FieldLayout& field, std::uint64_t value) {
  for (const FieldPiece& p : field.pieces) {
    if (p.width == 0) continue;
    const std::uint64_t piece_value = get_bits(value, BitField{p.value_low, p.width});
    set_bits(instruction.half[p.at / half_bits], BitField{static_cast<std::uint32_t>(p.at % half_bits), p.width},
             piece_value);
  }
}

// Reads the field back; value bits no piece carries read as 0.
constexpr std::uint64_t get_field(const Instruction128& instruction, const FieldLayout& field) {
  std::uint64_t value = 0;
  for (const FieldPiece& p : field.pieces) {
    if (p.width == 0) continue;
    const std::uint64_t piece_value =
        get_bits(instruction.half[p.at / half_bits], BitField{static_cast<std::uint32_t>(p.at % half_bits), p.width});
    value |= piece_value << p.value_low;
  }
  return value;
}

// ---------------------------------------------------------------------------
// Generation columns of the format tables: one per generation with a
// generator.

enum class Generation : std::uint8_t { vemra, sutal, dorik, gulon, harix, jorva, lumet, count };
inline constexpr std::size_t generation_count = static_cast<std::size_t>(Generation::count);

// Column of a generation; throws invalid_object_exception for a generation
// without a generator.
Generation generation_of(HW hw);
HW hw_of(Generation generation);

template <class Row>
using FieldTable = std::array<std::array<FieldLayout, generation_count>, static_cast<std::size_t>(Row::count)>;

// Row helpers: the legacy (Vemra, Sutal), Dorik-format (Dorik, Gulon) and
// wide-register (Harix, Jorva, Lumet) layouts, optionally with a Lumet column
// of its own.
constexpr std::array<FieldLayout, generation_count> by_family(FieldLayout legacy, FieldLayout dorik, FieldLayout wide) {
  return {legacy, legacy, dorik, dorik, wide, wide, wide};
}
constexpr std::array<FieldLayout, generation_count> by_family(FieldLayout legacy, FieldLayout dorik, FieldLayout wide,
                                                            FieldLayout lumet) {
  return {legacy, legacy, dorik, dorik, wide, wide, lumet};
}

template <class Row>
constexpr const FieldLayout& field_of(const FieldTable<Row>& table, Row row, Generation generation) {
  return table[static_cast<std::size_t>(row)][static_cast<std::size_t>(generation)];
}

template <class Table>
constexpr bool table_well_formed(const Table& table) {
  for (const auto& row : table)
    for (const FieldLayout& field : row)
      if (!well_formed(field)) return false;
  return true;
}

}  // namespace ulmara::qez::zorn::encoders
