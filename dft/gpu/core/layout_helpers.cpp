#include "dft/gpu/core/layout_helpers.hpp"

namespace ulmara::qez::dft {

void copy_batch_layout(batch_layout_row* rows, const DFTI_DESCRIPTOR* desc) {
  const dim_list& batch = desc->work_batch;
  for (std::int32_t i = 0; i < batch.count; ++i) {
    const dim_record& from = batch.records[i];
    batch_layout_row& to = rows[i];
    to.howmany = from.length;
    to.io_distances = io_distances_given(from);
    to.fwd_distance = from.forward;
    to.bwd_distance = from.backward;
    to.in_distance = from.input;
    to.out_distance = from.output;
  }
}

direction_distances distances_of(const batch_layout_row& row, bool forward) {
  if (row.io_distances) return {row.in_distance, row.out_distance};
  return forward ? direction_distances{row.fwd_distance, row.bwd_distance}
                 : direction_distances{row.bwd_distance, row.fwd_distance};
}

}  // namespace ulmara::qez::dft
