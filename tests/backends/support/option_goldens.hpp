// The build options the backends' planning gives for the plans their tests
// pin, character for character, in one table (option_goldens.cpp) by
// backend, precision and plan.
#pragma once

#include "tests/backends/support/run_words.hpp"

namespace backend_test {

// The golden options of `plan` of `backend` in precision `p`; a test
// failure, and "", when the table has no such entry.
const char* golden_options(const char* backend, precision p, const char* plan);

}  // namespace backend_test
