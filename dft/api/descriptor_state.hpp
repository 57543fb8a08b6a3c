// What the front end's operations share about a descriptor object without
// needing SYCL: the moved-from refusal every operation starts with.
#pragma once

#include "dft/api/descriptor_record.hpp"

namespace ulmara::qez::dft {

constexpr const char* moved_from_text =
    "This moved-from descriptor must be re-assigned before reuse.";

// Throws ulmara::qez::uninitialized ("dft", operation, moved_from_text)
// when the descriptor has no record.
void ensure_initialized(const DFTI_DESCRIPTOR* record, const char* operation);

}  // namespace ulmara::qez::dft
