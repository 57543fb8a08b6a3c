#include "dft/api/descriptor_state.hpp"

#include "ulmara/qez/exceptions.hpp"

namespace ulmara::qez::dft {

void ensure_initialized(const DFTI_DESCRIPTOR* record, const char* operation) {
  if (record == nullptr) throw ulmara::qez::uninitialized("dft", operation, moved_from_text);
}

}  // namespace ulmara::qez::dft
