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

}  // namespace ulmara::qez::dft
