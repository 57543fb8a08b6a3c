// Support of the binary-kernel probe tests: the profile a process runs
// under, calls of the probe with standard output captured, and the device
// record the probe caches its answer in.
#pragma once

#include <string>
#include <vector>

#include <sycl/sycl.hpp>

#include "gpu/service/qez_gpu_types.h"

namespace probe_test {

// The driver warning, character for character.
constexpr const char* driver_warning =
    "QEZ Warning: Incompatible OpenCL driver version. GPU performance may be reduced.\n";

// The GPU profile of this process (STANDIN_GPU_PROFILE, "gulon" when unset)
// and the architecture number it presents.
std::string profile_name();
qez_gpu_arch_t profile_architecture();
// Whether the code generator has a generator for the profile's generation.
bool profile_has_generator();

struct ProbeCall {
  bool answer;
  std::string output;  // standard output during the call
};
ProbeCall probe(sycl::queue& queue, int* status);
ProbeCall probe(sycl::queue& queue);

// Answers of `callers` threads that probe at once, each through a queue of
// its own on the device of `queue`; standard output of them all in `output`.
struct ConcurrentProbes {
  std::vector<int> answers;  // 1 true, 0 false
  std::string output;
};
ConcurrentProbes probe_from_threads(sycl::queue& queue, int callers);

qez_gpu_device_record_t* record_of(sycl::queue& queue);
// Whether the record's lock word is free.
bool record_unlocked(sycl::queue& queue);

// Text of the skip when a case meets a device already probed in its process.
constexpr const char* needs_own_process = "needs an unprobed device: run the case alone (as CTest does)";

}  // namespace probe_test
