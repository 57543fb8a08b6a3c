// create_and_initialize_internal_workspaces of a backend whose block keeps
// its two internal areas in members of its own and records the workspace
// kind add_workspace was handed in `workspace_kind`.
#pragma once

#include "dft/api/descriptor_record.hpp"
#include "dft/api/status_codes.hpp"
#include "dft/gpu/core/plan_basics.hpp"
#include "dft/gpu/core/workspace_slices.hpp"

namespace ulmara::qez::dft {

// Why a backend's create_and_initialize_internal_workspaces cannot make
// the workspace: outside internal workspace mode, status_bad_descriptor;
// without a block, status_invalid_configuration; otherwise 0.
inline int internal_workspace_refusal(const DFTI_DESCRIPTOR* record, const void* block) {
  if (record->workspace_internal == 0) return status_bad_descriptor;
  return block == nullptr ? status_invalid_configuration : status_success;
}

// The refusal above, or the two-part internal workspace of `block` (see
// create_two_part_internal_workspace), its areas kept in the members
// `first` (tables) and `second` (scratch).
template <class Block, class Slot>
int create_block_internal_workspace(DFTI_DESCRIPTOR* record, Block* block, add_workspace_entry add, Slot Block::*first,
                                    Slot Block::*second) {
  const int refused = internal_workspace_refusal(record, block);
  if (refused != status_success) return refused;
  return create_two_part_internal_workspace(record, block->queue, add, block->*first, block->*second,
                                            block->workspace_kind, plan_basics::workspace_internal);
}

}  // namespace ulmara::qez::dft
