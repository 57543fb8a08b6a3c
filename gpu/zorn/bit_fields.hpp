// Generic bit-field access for packed words: one setter and one getter that
// every layout table of zorn (operands, modifiers, instruction formats) uses.
#pragma once

#include <cstdint>
#include <type_traits>

namespace ulmara::qez::zorn {

// A field of `width` bits starting at bit `low` of a word.
struct BitField {
  std::uint32_t low;
  std::uint32_t width;

  template <class Word>
  constexpr Word mask() const {
    static_assert(std::is_unsigned_v<Word>, "bit fields live in unsigned words");
    return width >= sizeof(Word) * 8 ? ~Word{0} : static_cast<Word>(((Word{1} << width) - 1) << low);
  }
  // Largest value the field can hold.
  constexpr std::uint64_t max_value() const {
    return width >= 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << width) - 1;
  }
  constexpr bool fits(std::uint64_t value) const { return value <= max_value(); }
};

template <class Word>
constexpr std::uint64_t get_bits(Word word, BitField field) {
  return static_cast<std::uint64_t>((word & field.mask<Word>()) >> field.low);
}

// Writes the low `field.width` bits of `value`; callers that must not lose
// bits check `field.fits(value)` first.
template <class Word>
constexpr void set_bits(Word& word, BitField field, std::uint64_t value) {
  const Word m = field.mask<Word>();
  word = static_cast<Word>((word & ~m) | ((static_cast<Word>(value) << field.low) & m));
}

template <class Word>
constexpr bool get_bit(Word word, std::uint32_t bit) {
  return ((word >> bit) & 1u) != 0;
}

// Index of the highest set bit; 0 for 0.
constexpr std::uint32_t log2_floor(std::uint64_t value) {
  std::uint32_t result = 0;
  while (value > 1) {
    value >>= 1;
    ++result;
  }
  return result;
}

}  // namespace ulmara::qez::zorn
