// Twiddle tables of the four-factor passes, made on the host and uploaded
// into a USM area or a byte (sub-)buffer:
//   sub-length table of L = F0 x F1 points (table A of pass 0, table B of
//   pass 1): entry j*F0 + k = exp(-2 pi i j k / L), j < F1, k < F0;
//   cross table of pass 1, laid out for sub-group block reads: per pass-1
//   work-group g, sub-group s < F1' and row r < F0', 2 S scalars: the real
//   slots sigma cos(a) on every lane, then the imaginary slots -sigma sin(a)
//   on even lanes and +sigma sin(a) on odd lanes, where a = 2 pi v c / N for
//   row v = s + F1' r and column c = g S/2 + lane/2, sigma the direction's
//   scale.
// Other backends that run the same passes use these writers too.
#pragma once

#include <cstdint>
#include <tuple>

#include <sycl/sycl.hpp>

#include "dft/gpu/backends/1d_factorised/4_facts/plan.hpp"

namespace ulmara::qez::dft::four_factor {

// Where a table goes: a USM address, or a byte buffer (kind 1).
struct table_view {
  std::uint32_t kind;
  void* pointer;
  byte_buffer* buffer;

  bool present() const { return kind == workspace_buffer ? buffer != nullptr : pointer != nullptr; }
};

// The shape of a pass-1 cross table.
struct cross_table_shape {
  std::int64_t work_groups;     // of pass 1
  std::int64_t sub_group_size;  // S
  std::int64_t fact0;           // F0' >= F1', the factors of N2
  std::int64_t fact1;
  std::int64_t length;          // N

  auto key_fields() const { return std::make_tuple(work_groups, sub_group_size, fact0, fact1, length); }
};
cross_table_shape cross_shape_of(const pass_plan& pass2, std::int64_t length);

// Index of the real slot of (work-group g, sub-group s, row r, lane l); the
// imaginary slot follows S scalars later.
inline std::int64_t cross_slot(const cross_table_shape& c, std::int64_t g, std::int64_t s, std::int64_t r,
                               std::int64_t l) {
  return ((g * c.fact1 + s) * c.fact0 + r) * 2 * c.sub_group_size + l;
}

// Upload a sub-length table of fact0 x fact1 points.
template <class T>
sycl::event write_sub_length_table(sycl::queue& queue, const table_view& view, std::int64_t fact0,
                                   std::int64_t fact1);

// Upload a cross table with the direction's scale.
template <class T>
sycl::event write_cross_table(sycl::queue& queue, const table_view& view, const cross_table_shape& shape, T scale);

}  // namespace ulmara::qez::dft::four_factor
