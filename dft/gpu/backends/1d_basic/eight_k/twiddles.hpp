// The three twiddle-table classes of the 8192-point backend and the element
// each work-item of their writers produces.
//
// Every entry is one complex twiddle stored as four elements in the order in
// which a sub-group of s = 8 lanes reads it (even lanes real, odd lanes
// imaginary): runs of 2*s elements hold a = s/2 entries as the pairs (c, c)
// followed by the pairs (v, -v).
//
// Classes 1 and 2 (M = F0 x F1 points: 128 = 16 x 8, 64 = 8 x 8): entry
// (i, j), i < F1 the sub-sequence and j < F0 the frequency of the first
// factor, is exp(-2 pi I i j / M) at
//   (i / a) * (4 a F0) + 4 a j + 2 (i % a).
// Class 3 (between the passes, scaled): entry (i, j), j < N1 the column and
// i < N0 a position in pass 1's registers, is scale * exp(-2 pi I j k / N)
// with k = frequency_of_position(i), at 4 N0 j + 4 a (i / a) + 2 (i % a).
#pragma once

#include <cstdint>
#include <tuple>

#include "dft/gpu/backends/1d_basic/eight_k/plan.hpp"
#include "dft/gpu/core/twiddle_angles.hpp"

namespace ulmara::qez::dft::eight_k {

constexpr std::int64_t lanes_per_entry_run = subgroup_size / 2;  // a

// The frequency k0 of pass 1's 128-point DFT that position i of a column's
// class-3 block serves: register r = 8h + k_b of lane pair m of sub-group s
// sits at i = 64 s + 4 r + m and holds k0 = 8h + 4s + m + 16 k_b.
constexpr std::int64_t frequency_of_position(std::int64_t i) {
  constexpr std::int64_t s = subgroup_size, a = lanes_per_entry_run;
  constexpr std::int64_t run = n0_fact1 * s / 2;
  constexpr std::int64_t offsets[4] = {0, s, s / 2, 3 * s / 2};
  return offsets[i / run] + ((i % run) / a) * n0_fact0 + i % a;
}

// One work-item of a class-1 or class-2 writer (range {F0, F1}).
template <class T>
struct factor_table_writer {
  std::int64_t m, f0;
  auto key_fields() const { return std::make_tuple(m, f0); }

  void write(T* t, std::int64_t j, std::int64_t i) const {
    constexpr std::int64_t s = subgroup_size, a = lanes_per_entry_run;
    const T angle = static_cast<T>(-2 * (i * j)) / static_cast<T>(m);
    const T c = cospi_of(angle), v = sinpi_of(angle);
    const std::int64_t base = (i / a) * (4 * a * f0) + 4 * a * j + 2 * (i % a);
    t[base] = c;
    t[base + 1] = c;
    t[base + s] = v;
    t[base + s + 1] = -v;
  }
};

// One work-item of a class-3 writer (range {N1, N0}).
template <class T>
struct inter_pass_table_writer {
  T scale;

  auto key_fields() const { return std::make_tuple(scale); }
  void write(T* t, std::int64_t j, std::int64_t i) const {
    constexpr std::int64_t s = subgroup_size, a = lanes_per_entry_run;
    const std::int64_t k = frequency_of_position(i);
    const T angle = static_cast<T>(-2 * (j * k)) / static_cast<T>(transform_length);
    const T c = scale * cospi_of(angle), v = scale * sinpi_of(angle);
    const std::int64_t base = 4 * n0 * j + 4 * a * (i / a) + 2 * (i % a);
    t[base] = c;
    t[base + 1] = c;
    t[base + s] = v;
    t[base + s + 1] = -v;
  }
};

}  // namespace ulmara::qez::dft::eight_k
