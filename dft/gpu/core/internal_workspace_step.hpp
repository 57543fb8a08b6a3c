// The commit step that makes a backend's internal workspace: once the
// workspace sizes are published, a record in internal workspace mode gets
// its library-owned workspace (tables written) before the kernels are built.
#pragma once

#include "dft/api/descriptor_record.hpp"
#include "dft/api/status_codes.hpp"

namespace ulmara::qez::dft {

// `create(record)` in internal workspace mode, else nothing: 0, or the
// status `create` failed with.
inline int create_internal_workspace_if_asked(DFTI_DESCRIPTOR* record, int (*create)(DFTI_DESCRIPTOR*)) {
  return record->workspace_internal != 0 ? create(record) : status_success;
}

// The end of a commit whose plan and workspace sizes are in place: the
// internal workspace when asked for, then the block's kernels (its
// build_kernels, found beside the block's type). 0, or the first failing
// status.
template <class Block>
int make_workspace_and_kernels(DFTI_DESCRIPTOR* record, Block* block, int (*create)(DFTI_DESCRIPTOR*)) {
  const int made = create_internal_workspace_if_asked(record, create);
  if (made != status_success) return made;
  return build_kernels(block);
}

}  // namespace ulmara::qez::dft
