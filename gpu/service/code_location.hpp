// The code location a submission of the service layer names: the name of
// the exported function that submits.
#pragma once

#include <sycl/sycl.hpp>

namespace ulmara::qez::gpu {

inline sycl::detail::code_location submitted_by(const char* function, const char* file = __builtin_FILE(),
                                                unsigned long line = __builtin_LINE()) {
  return sycl::detail::code_location(file, function, line, 0);
}

}  // namespace ulmara::qez::gpu
