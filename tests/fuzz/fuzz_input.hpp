// Reads a fuzzer's input front to back as the values a harness needs; once
// the input runs out every read gives zero bytes, so a harness never reads
// past the end whatever it asks for.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <type_traits>
#include <vector>

namespace qez_fuzz {

class fuzz_input {
public:
  fuzz_input(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

  bool empty() const { return size_ == 0; }

  // The next sizeof(T) bytes as a T (zero-filled past the end).
  template <class T>
  T take() {
    static_assert(std::is_trivially_copyable_v<T>, "plain values only");
    T value{};
    const std::size_t count = std::min(sizeof value, size_);
    std::memcpy(&value, data_, count);
    data_ += count;
    size_ -= count;
    return value;
  }

  std::uint8_t byte() { return take<std::uint8_t>(); }

  // A value in [0, count).
  unsigned below(unsigned count) { return count == 0 ? 0 : byte() % count; }

  // Mostly a small value (so that the fuzzer meets the edges near zero
  // often), otherwise any 64-bit value.
  std::int64_t integer() {
    const std::uint8_t form = byte();
    if (form < 0xc0) return static_cast<std::int8_t>(byte());
    if (form < 0xe0) return take<std::int32_t>();
    return take<std::int64_t>();
  }

private:
  const std::uint8_t* data_;
  std::size_t size_;
};

// One axis of a strided layout: `count` indices `stride` elements apart.
struct axis {
  std::int64_t count;
  std::int64_t stride;
};

// The lowest and highest element index a strided layout reaches from
// `offset`; nothing when an axis is empty or negative or the sums overflow.
struct index_range {
  std::int64_t lowest;
  std::int64_t highest;
};

inline std::optional<index_range> reach(std::int64_t offset, const std::vector<axis>& axes) {
  index_range r{offset, offset};
  for (const axis& a : axes) {
    if (a.count < 1) return std::nullopt;
    std::int64_t span = 0;
    std::int64_t& end = a.stride < 0 ? r.lowest : r.highest;
    if (__builtin_mul_overflow(a.count - 1, a.stride, &span) || __builtin_add_overflow(end, span, &end))
      return std::nullopt;
  }
  return r;
}

// Elements a buffer needs to hold every index of the layout, when that is
// at most `bound` and no index is negative.
inline std::optional<std::int64_t> elements_within(std::int64_t offset, const std::vector<axis>& axes,
                                                   std::int64_t bound) {
  const std::optional<index_range> r = reach(offset, axes);
  if (!r || r->lowest < 0 || r->highest >= bound) return std::nullopt;
  return r->highest + 1;
}

// Guard zones around arrays a transform writes: `bytes` of data between
// two zones of guard_bytes that hold a pattern; any change of the pattern
// is a write out of bounds and stops the run.
constexpr std::size_t guard_bytes = 256;
constexpr std::uint8_t guard_pattern = 0xa5;

inline void fill_guarded(std::uint8_t* base, std::size_t bytes) {
  std::memset(base, guard_pattern, guard_bytes);
  std::memset(base + guard_bytes, 0, bytes);
  std::memset(base + guard_bytes + bytes, guard_pattern, guard_bytes);
}

inline void check_guards(const std::uint8_t* base, std::size_t bytes) {
  for (std::size_t i = 0; i < guard_bytes; ++i)
    if (base[i] != guard_pattern || base[guard_bytes + bytes + i] != guard_pattern) __builtin_trap();
}

}  // namespace qez_fuzz
