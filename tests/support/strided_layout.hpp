// Test-side description of where the elements of a batch of transforms lie in
// a caller's array (offset, one stride per dimension, distance), and the
// copies between that array and the packed row-major order of the reference.
// Written independently of the library's own layout code.
#pragma once

#include <algorithm>
#include <cstdint>
#include <vector>

namespace qez_test {

struct strided_layout {
  std::int64_t offset = 0;
  std::vector<std::int64_t> strides;  // slowest dimension first
  std::int64_t distance = 0;

  // Position of element `index` (packed row-major over `extents`) of
  // transform `t`.
  std::int64_t position(const std::vector<std::int64_t>& extents, std::int64_t index,
                        std::int64_t t) const {
    std::int64_t pos = offset + t * distance;
    for (std::size_t k = extents.size(); k-- > 0;) {
      pos += (index % extents[k]) * strides[k];
      index /= extents[k];
    }
    return pos;
  }

  // Elements an array needs to hold every position.
  std::int64_t span(const std::vector<std::int64_t>& extents, std::int64_t batch) const {
    std::int64_t last = offset + (batch - 1) * distance;
    for (std::size_t k = 0; k < extents.size(); ++k) last += (extents[k] - 1) * strides[k];
    return last + 1;
  }
};

inline std::int64_t element_count(const std::vector<std::int64_t>& extents) {
  std::int64_t n = 1;
  for (std::int64_t e : extents) n *= e;
  return n;
}

// Packed row-major layout, optionally with every stride scaled by `spread`
// and `pad` unused elements after each row and each transform.
inline strided_layout make_layout(const std::vector<std::int64_t>& extents, std::int64_t spread = 1,
                                  std::int64_t pad = 0, std::int64_t offset = 0) {
  strided_layout l;
  l.offset = offset;
  l.strides.assign(extents.size(), 0);
  std::int64_t stride = spread;
  for (std::size_t k = extents.size(); k-- > 0;) {
    l.strides[k] = stride;
    stride = stride * extents[k] + pad;
  }
  l.distance = stride;
  return l;
}

template <class Dst, class Src>
void place(const std::vector<Src>& packed, const std::vector<std::int64_t>& extents,
           std::int64_t batch, const strided_layout& layout, Dst* array) {
  const std::int64_t n = element_count(extents);
  for (std::int64_t t = 0; t < batch; ++t)
    for (std::int64_t i = 0; i < n; ++i)
      array[layout.position(extents, i, t)] = static_cast<Dst>(packed[t * n + i]);
}

template <class Dst, class Src>
std::vector<Dst> collect(const Src* array, const std::vector<std::int64_t>& extents,
                         std::int64_t batch, const strided_layout& layout) {
  const std::int64_t n = element_count(extents);
  std::vector<Dst> packed(static_cast<std::size_t>(n * batch));
  for (std::int64_t t = 0; t < batch; ++t)
    for (std::int64_t i = 0; i < n; ++i)
      packed[t * n + i] = static_cast<Dst>(array[layout.position(extents, i, t)]);
  return packed;
}

// The conjugate-even extents of real lengths: the last dimension halved.
inline std::vector<std::int64_t> conjugate_even_extents(std::vector<std::int64_t> lengths) {
  lengths.back() = lengths.back() / 2 + 1;
  return lengths;
}

}  // namespace qez_test
