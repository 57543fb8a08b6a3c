// The backend's twiddle tables and the values each writer work-item stores.
//
// Main table (one per prepared direction, scaled by the direction's scale):
// K x MAX_FACT blocks of 2S values, block (g, r) holding for lane l the real
// part at l and the imaginary part at S + l of s * exp(-2 pi i r c / N),
// c = g S/2 + l/2, the imaginary part negated on odd lanes (a lane pair
// reads it as its own multiplier). Columns past N / MAX_FACT hold zeros.
// Simple tables (areas 1 and 2): entry a x F + k = exp(-2 pi i a k / (A F))
// as (re, im).
#pragma once

#include <cmath>
#include <cstdint>
#include <tuple>

#include <sycl/sycl.hpp>

#include "dft/gpu/backends/1d_slm_large/n_facts_slm/plan.hpp"
#include "dft/gpu/core/twiddle_angles.hpp"

namespace ulmara::qez::dft::n_facts_slm {

// One work-item (a, k) of a simple-table writer.
template <class T>
struct simple_table_writer {
  std::int64_t points;  // A x F
  std::int64_t width;   // F

  auto key_fields() const { return std::make_tuple(points, width); }

  void write(T* table, std::int64_t a, std::int64_t k) const {
    const T theta = static_cast<T>(-2 * a * k) / static_cast<T>(points);
    T* entry = table + 2 * (a * width + k);
    entry[0] = cospi_of(theta);
    entry[1] = sinpi_of(theta);
  }
};

// One work-item (g, r) of a main-table writer: block (g, r).
template <class T>
struct main_table_writer {
  std::int64_t block_stride;  // MAX_FACT x S x 2
  std::int64_t subgroup_size;
  std::int64_t length;
  std::int64_t columns;       // N / MAX_FACT
  T scale;

  auto key_fields() const { return std::make_tuple(block_stride, subgroup_size, length, columns, scale); }

  void write(T* table, std::int64_t g, std::int64_t r) const {
    const std::int64_t s = subgroup_size;
    T* run = table + g * block_stride + r * 2 * s;
    for (std::int64_t k = 0; k < s / 2; ++k) {
      const std::int64_t c = g * s / 2 + k;
      T re = 0, im = 0;
      if (c < columns) {
        const T theta = static_cast<T>(-2 * r * c) / static_cast<T>(length);
        re = cospi_of(theta) * scale;
        im = sinpi_of(theta) * scale;
      }
      run[2 * k] = re;
      run[2 * k + 1] = re;
      run[s + 2 * k] = im;
      run[s + 2 * k + 1] = -im;
    }
  }
};

// Submissions that fill one table; each returns the event of its work.
template <class T>
sycl::event init_or_copy_simple_twiddles_on_device(void* table, std::uint32_t kind, std::int64_t a,
                                                   std::int64_t f, sycl::queue& q);
template <class T>
sycl::event init_or_copy_main_twiddle_on_device(void* table, std::uint32_t kind, T scale, const block<T>& b,
                                                sycl::queue& q);

}  // namespace ulmara::qez::dft::n_facts_slm
