// Layout helpers the backends share while they commit: the
// batch layout of a committed record copied into a backend's private block,
// and (from the descriptor core) the padding of workspace slices to the
// device's base-address alignment.
#pragma once

#include <cstdint>

#include "dft/api/descriptor_record.hpp"
#include "dft/gpu/core/base_address_alignment.hpp"

namespace ulmara::qez::dft {

// The batch record gives input/output distances (and no domain distances),
// which are then the ones in use.
inline bool io_distances_given(const dim_record& batch) {
  return batch.forward == 0 && batch.backward == 0 && batch.input != 0 && batch.output != 0;
}

// A backend block's batch distances (its members io_distances,
// forward_distance, backward_distance, input_distance and output_distance)
// from the working batch record, in the block's own integer types.
template <class Block>
void copy_batch_distances(Block& b, const dim_record& batch) {
  using distance = decltype(b.forward_distance);
  b.io_distances = io_distances_given(batch);
  b.forward_distance = static_cast<distance>(batch.forward);
  b.backward_distance = static_cast<distance>(batch.backward);
  b.input_distance = static_cast<distance>(batch.input);
  b.output_distance = static_cast<distance>(batch.output);
}

// One batch dimension as a backend reads it.
struct batch_layout_row {
  std::int64_t howmany;       // number of transforms
  std::int64_t io_distances;  // 1: the input/output distances are the ones in force
  std::int64_t fwd_distance;
  std::int64_t bwd_distance;
  std::int64_t in_distance;
  std::int64_t out_distance;
};
static_assert(sizeof(batch_layout_row) == 6 * sizeof(std::int64_t), "six 64-bit values");

// Row i of `rows` from row i of the record's working batch list, for every
// batch dimension; an empty list leaves `rows` untouched.
void copy_batch_layout(batch_layout_row* rows, const DFTI_DESCRIPTOR* desc);

// The distances of one direction, in complex elements: the input/output
// pair when it is in force, else forward and backward domain swapped by
// direction.
struct direction_distances {
  std::int64_t idist;
  std::int64_t odist;
};
direction_distances distances_of(const batch_layout_row& row, bool forward);

}  // namespace ulmara::qez::dft
