// Binary-kernel probe: whether native GPU binaries made by the library's own
// code generator load and run correctly on a device.
#pragma once

#include <sycl/sycl.hpp>

namespace ulmara {
namespace qez {
namespace gpu {

// Answers once per device and process, by running a small generated test
// kernel on `queue` with known arguments and checking what it writes; later
// calls for the same device return the cached answer. False for a device
// without a code generator, and false (with a warning on standard output)
// when a binary was built but did not run correctly. `status` receives only
// what the architecture query writes; a queue recording into a command
// graph keeps recording into it, and the test's own commands are not
// recorded.
bool have_binary_kernels(int* status, sycl::queue* queue);

}  // namespace gpu
}  // namespace qez
}  // namespace ulmara
