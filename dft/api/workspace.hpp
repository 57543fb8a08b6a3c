// Attachment of a caller-provided workspace to a committed descriptor, as a
// SYCL buffer or as a USM pointer.
#pragma once

#include <cstddef>

#include "dft/api/descriptor_access.hpp"

namespace ulmara::qez::dft {

// Bytes of external workspace the committed backend needs.
inline std::uint64_t required_workspace_bytes(const DFTI_DESCRIPTOR* record) {
  return record->workspace_bytes[0] + record->workspace_bytes[1];
}

// `workspace` is the caller's buffer seen as bytes (its range is the byte
// count); `is_sub_buffer` tells whether the caller's buffer is a sub-buffer.
void set_buffer_workspace(DFTI_DESCRIPTOR* record, sycl::buffer<char, 1>& workspace,
                          bool is_sub_buffer);
void set_usm_workspace(DFTI_DESCRIPTOR* record, void* workspace);

}  // namespace ulmara::qez::dft
