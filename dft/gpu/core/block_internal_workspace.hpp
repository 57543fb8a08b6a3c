// create_and_initialize_internal_workspaces of a backend whose block keeps
// its two internal areas in members of its own and records the workspace
// kind add_workspace was handed in `workspace_kind`.
#pragma once

#include "dft/api/descriptor_record.hpp"
#include "dft/api/status_codes.hpp"
#include "dft/gpu/core/plan_basics.hpp"
#include "dft/gpu/core/workspace_slices.hpp"

namespace ulmara::qez::dft {

// Outside internal workspace mode: status_bad_descriptor; without a block:
// status_invalid_configuration. Otherwise the two-part internal workspace
// of `block` (see create_two_part_internal_workspace), its areas kept in
// the members `first` (tables) and `second` (scratch).
template <class Block, class Slot>
int create_block_internal_workspace(DFTI_DESCRIPTOR* record, Block* block, add_workspace_entry add, Slot Block::*first,
                                    Slot Block::*second) {
  if (record->workspace_internal == 0) return status_bad_descriptor;
  if (block == nullptr) return status_invalid_configuration;
  return create_two_part_internal_workspace(record, block->queue, add, block->*first, block->*second,
                                            block->workspace_kind, plan_basics::workspace_internal);
}

}  // namespace ulmara::qez::dft
