// Status codes exchanged between the descriptor front end, the CPU engine, the
// GPU descriptor core and the backends.
#pragma once

#include <cstdint>

namespace ulmara::qez::dft {

enum status_code : std::int32_t {
  status_success = 0,
  status_allocation_failed = 1,
  status_invalid_configuration = 2,
  status_invalid_descriptor = 3,   // also: no backend of the list applies
  status_bad_descriptor = 5,
  status_unimplemented = 6,
  status_internal_error = 7,
  status_no_workspace = 11,        // workspace missing at compute
  status_not_handled = 100,        // this backend does not apply; try the next
};

}  // namespace ulmara::qez::dft
