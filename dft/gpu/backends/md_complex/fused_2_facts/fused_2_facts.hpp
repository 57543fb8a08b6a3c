// Planning pieces and table writers of the fused two-factor line kernels
// (program family kernels::family_c2c_3d_2_facts), shared by the 3D main backend (cubic
// 135^3 in double) and the 2D main backend (square 128^2 and 192^2):
// the two-factor split of a line, the padding of factors to multiples of 4,
// the work-group search, the build options, and the twiddle-table writers.
#pragma once

#include <cmath>
#include <cstdint>
#include <string>
#include <tuple>

#include <sycl/sycl.hpp>

#include "dft/gpu/core/kernel_arguments.hpp"
#include "dft/gpu/core/table_upload.hpp"

namespace ulmara::qez::dft::fused_2_facts {

// The kernels work on lane pairs of sub-groups of this size.
constexpr std::int64_t subgroup_size = 8;
// Largest local memory a line kernel may ask for, and largest group count.
constexpr std::int64_t max_local_bytes = 65536;
constexpr std::int64_t max_group_count = 32;

// The two factors of a line: fact0 >= fact1, both in 2..64, as close as
// possible (ties keep the split with the larger first divisor). {0, 0} when
// the length has no such split (primes above 64, lengths 1 and 2).
struct factor_pair {
  std::int64_t fact0 = 0;
  std::int64_t fact1 = 0;
  bool found() const { return fact0 != 0; }
};
factor_pair two_factor_split(std::int64_t length);

// What a factor lacks to a multiple of 4.
constexpr std::int64_t pad_to_four(std::int64_t factor) { return factor % 4 == 0 ? 0 : 4 - factor % 4; }

// Sub-groups of the row kernel: q1 = (fact1 + pad1) / 4 column groups must
// run at once; the (fact0 + pad0) / 4 row groups are shared out in rounds.
struct row_groups {
  std::int64_t groups = 0;      // sub-groups per work-group
  std::int64_t loop_bound = 0;  // rounds of row groups per sub-group
};
row_groups row_group_count(std::int64_t fact0, std::int64_t pad0, std::int64_t fact1, std::int64_t pad1);

// Local memory of a line kernel: fact0 x (fact1 + pad1) complex elements.
constexpr std::int64_t line_local_bytes(std::int64_t fact0, std::int64_t fact1, std::int64_t pad1,
                                        std::int64_t element_bytes) {
  return fact0 * (fact1 + pad1) * element_bytes;
}

// Factors, pads and local bytes of the line of `d.length` points into `d`
// (a backend's dimension record with those members); false when the length
// has no two-factor split.
template <class Dimension>
bool factor_line(Dimension& d, std::int64_t element_bytes) {
  const factor_pair f = two_factor_split(d.length);
  if (!f.found()) return false;
  d.fact0 = f.fact0;
  d.fact1 = f.fact1;
  d.pad0 = pad_to_four(d.fact0);
  d.pad1 = pad_to_four(d.fact1);
  d.local_bytes = line_local_bytes(d.fact0, d.fact1, d.pad1, element_bytes);
  return true;
}

// Bytes of the row table (scale included) and of a column table.
constexpr std::int64_t row_table_bytes(std::int64_t fact0, std::int64_t fact1, std::int64_t pad1,
                                       std::int64_t element_bytes) {
  return fact0 * (fact1 + pad1) * 2 * element_bytes;
}
constexpr std::int64_t column_table_bytes(std::int64_t fact0, std::int64_t fact1, std::int64_t element_bytes) {
  return fact0 * fact1 * subgroup_size * element_bytes;
}

// Column groups of four complex values along x: ceil(N0 / 4).
constexpr std::int64_t column_blocks(std::int64_t n0) { return (2 * n0 + 7) / 8; }

// "fft_<length>_rowbatch_<s|d>_dir<pass>" and the codelet name into 64-byte fields.
void pass_kernel_name(char (&name)[64], std::int64_t length, const char* precision_letter, int pass);
void codelet_name(char (&name)[64], std::int64_t factor);

// The values of one build-option line. The row kernel's factors and
// geometry; the column kernels take theirs from the same line.
struct option_values {
  bool long_subgroups = true;  // leading "-Dcl_tavir_subgroups_long " (double)
  std::int64_t fact0 = 0, pad0 = 0, fact1 = 0, pad1 = 0;
  const char* kernel_func0 = "";
  const char* fact0_func = "";
  const char* fact1_func = "";
  int forward = 1;  // FWD_DIR; BWD_DIR is 1 - forward
  std::int64_t batch_per_group = 1, batch_for_last_group = 1;
  std::int64_t n0 = 0, n1 = 0, n2 = 1;  // n2 1 for square transforms
  std::int64_t work_group_size = 0, loop_bound = 0;
  std::int64_t batch_dist = 0;  // elements between transforms
  const char* kernel_func1 = "";
  const char* kernel_func2 = nullptr;  // the depth kernel, cubic transforms only
  std::int64_t transforms = 1;
};
// The option line (at most 2047 characters).
std::string format_options(const option_values& v);

// ---------------------------------------------------------------------------
// Twiddle tables, made on the host and uploaded. Angles are reduced exactly
// (r c mod n) and evaluated in long double before rounding to T.

template <class T>
void unit_root(std::int64_t n, std::uint64_t r, std::uint64_t c, T* cos_part, T* sin_part) {
  const std::uint64_t m = (r * c) % static_cast<std::uint64_t>(n);
  const long double turns = 2.0L * static_cast<long double>(m) / static_cast<long double>(n);
  const long double pi = 3.141592653589793238462643383279502884L;
  *cos_part = static_cast<T>(std::cos(pi * turns));
  *sin_part = static_cast<T>(std::sin(pi * turns));
}

// Row table: entry (c, r), c < fact0, r < fact1; block of 2S reals per
// (column group r / (S/2), c), lane pair r mod (S/2): (cos, cos) at 2l and
// (-sin, +sin) at S + 2l, all times the scale.
template <class T>
struct row_table_writer {
  std::int64_t half, fact0, n, sg;
  T scale;
  auto key_fields() const { return std::make_tuple(half, fact0, n, sg, scale); }
  // Reals of the table over {fact0, fact1}.
  std::size_t values(sycl::range<2> range) const {
    const std::size_t groups = (range[1] + static_cast<std::size_t>(half) - 1) / static_cast<std::size_t>(half);
    return groups * static_cast<std::size_t>(2 * sg * fact0);
  }
  void write(T* t, std::int64_t c, std::int64_t r) const {
    const std::int64_t base = (r / half) * 2 * sg * fact0 + 2 * sg * c + 2 * (r % half);
    T cs, sn;
    unit_root<T>(n, r, c, &cs, &sn);
    t[base] = t[base + 1] = scale * cs;
    t[base + sg] = -(scale * sn);
    t[base + sg + 1] = scale * sn;
  }
};

// Column table: entry (r, c), r < fact1, c < fact0; block of 2S reals
// at 2S (fact0 r + c): S cosines, then -sin, +sin, ... No scale.
template <class T>
struct column_table_writer {
  std::int64_t fact0, sg, n;
  auto key_fields() const { return std::make_tuple(fact0, sg, n); }
  // Reals of the table over {fact1, fact0}.
  std::size_t values(sycl::range<2> range) const { return range.size() * static_cast<std::size_t>(2 * sg); }
  void write(T* t, std::int64_t r, std::int64_t c) const {
    const std::int64_t base = 2 * sg * (fact0 * r + c);
    T cs, sn;
    unit_root<T>(n, r, c, &cs, &sn);
    for (std::int64_t k = 0; k < sg; ++k) {
      t[base + k] = cs;
      t[base + sg + k] = (k % 2 == 0) ? -sn : sn;
    }
  }
};

// Where a table lives: a USM address, or a byte sub-buffer of a buffer
// workspace.
struct table_target {
  void* usm = nullptr;
  byte_buffer* view = nullptr;
  bool present() const { return usm != nullptr || view != nullptr; }
};

// Makes the table of `writer` over `range` on the host and uploads it into
// `target` (code location "bkd_write_twiddle_table_on_device").
template <class T, class Writer>
sycl::event upload_line_table(sycl::queue& queue, const Writer& writer, sycl::range<2> range,
                              const table_target& target) {
  const bool into_buffer = target.usm == nullptr;
  void* destination = into_buffer ? static_cast<void*>(target.view) : target.usm;
  return upload_host_table<T>(queue, destination, into_buffer, writer, range, writer.values(range));
}

// A byte sub-buffer of a buffer workspace; SYCL refuses a sub-buffer of a
// sub-buffer and one beyond the parent's end.
byte_buffer* table_view(byte_buffer* workspace, std::uint64_t offset, std::uint64_t bytes);

}  // namespace ulmara::qez::dft::fused_2_facts
