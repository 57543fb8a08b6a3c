// A block's queue at commit: the record's queue, and whether the block may
// rely on its order.
#pragma once

#include <sycl/sycl.hpp>

#include "dft/api/descriptor_record.hpp"

namespace ulmara::qez::dft {

// The block takes the record's queue and counts on in-order execution only
// without offload and on an in-order queue. false: the record has no queue.
template <class Block>
bool take_record_queue(Block* block, const DFTI_DESCRIPTOR* record) {
  block->queue = static_cast<sycl::queue*>(record->queue);
  if (block->queue == nullptr) return false;
  block->in_order = record->offload_mode == 0 && block->queue->is_in_order();
  return true;
}

// A one-dimensional block's first facts from the record: whether the
// transform is in place, its length, and the queue as take_record_queue
// takes it. false: the record has no queue.
template <class Block>
bool take_record_basics(Block* block, const DFTI_DESCRIPTOR* record) {
  block->in_place = record->placement == dfti_inplace;
  block->length = record->work_lengths.records[0].length;
  return take_record_queue(block, record);
}

}  // namespace ulmara::qez::dft
