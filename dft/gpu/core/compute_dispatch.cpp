#include "dft/gpu/core/compute_dispatch.hpp"

#include "dft/api/status_codes.hpp"

namespace ulmara::qez::dft {

int workspace_status_before_compute(const DFTI_DESCRIPTOR* record, const void* internal_persistent,
                                    const void* internal_scratch, bool caller_workspace_given) {
  const std::uint64_t* bytes = record->workspace_bytes;
  if (record->workspace_internal != 0) {
    const bool missing = (bytes[0] != 0 && internal_persistent == nullptr) ||
                         (bytes[1] != 0 && internal_scratch == nullptr);
    return missing ? status_bad_descriptor : status_success;
  }
  return bytes[0] + bytes[1] != 0 && !caller_workspace_given ? status_no_workspace : status_success;
}

int workspace_status(const DFTI_DESCRIPTOR* record, const void* internal_persistent, const void* internal_scratch,
                     std::uint32_t recorded_kind) {
  const bool given = (recorded_kind & (container_word_buffer_bit | container_word_usm_bit)) != 0;
  return workspace_status_before_compute(record, internal_persistent, internal_scratch, given);
}

}  // namespace ulmara::qez::dft
