// Two-factor backend: its workspace (one twiddle table per served direction,
// forward first) and the tables, made on the host and uploaded.
//
// Table format, one per direction, T elements, SG = 8, H = 4 and
// PF1 = FACT1 + PADFACT1: PF1/H blocks of 2*SG*FACT0 elements, one block per
// group of H columns, one run of 2*SG elements per row. Row i, column j
// (o = (j/H)*2*SG*FACT0 + i*2*SG + 2*(j%H), a = -2ij/N in T, s the scale):
// t[o] = t[o+1] = s*cospi(a), t[o+SG] = s*sinpi(a), t[o+SG+1] = -t[o+SG].
// Lane 2p of a sub-group reads (t[o], t[o+SG]), lane 2p+1 (t[o+1], t[o+SG+1]).
#pragma once

#include <cstdint>
#include <vector>

#include <sycl/sycl.hpp>

#include "dft/api/descriptor_record.hpp"
#include "dft/gpu/backends/1d_basic/two_factor/plan.hpp"

namespace ulmara::qez::dft::two_factor {

// What bkd_free_buffers releases.
enum free_mode : std::uint32_t {
  free_twiddles = 0,  // views, events and the internal table area
  free_scratch = 1,   // the internal scratch area
  free_everything = 2,
};

// Offset of a table element (see above).
inline std::int64_t table_offset(std::int64_t fact0, std::int64_t row, std::int64_t column) {
  constexpr std::int64_t h = subgroup_size / 2;
  return (column / h) * (2 * subgroup_size * fact0) + row * 2 * subgroup_size + 2 * (column % h);
}

// The scaled twiddle pair {s*cospi(a), s*sinpi(a)} of row i, column j.
template <class T>
void twiddle_pair(std::int64_t n, std::int64_t row, std::int64_t column, T scale, T* cos_part,
                  T* sin_part);

// add_workspace<T>, create_and_initialize_internal_workspaces<T> and
// bkd_free_buffers<T>.
QEZ_DECLARE_BLOCK_WORKSPACE_ENTRIES()

// Submits the table writes of every served direction; 11 when a direction's
// view is missing.
template <class T>
int bkd_write_twiddle_table_on_device(block<T>* b);

}  // namespace ulmara::qez::dft::two_factor
