// Numbers of the OpenMP interop interface the library reads: properties,
// foreign runtime ids and the return codes of the interop queries.
#pragma once

#include <cstdint>

namespace ulmara::qez::omp {

using omp_interop_t = void*;

// Properties of an interop object.
enum interop_property : int {
  omp_ipr_fr_id = -1,           // foreign runtime id (integer)
  omp_ipr_device = -7,          // native device handle (pointer)
  omp_ipr_device_context = -8,  // native context handle (pointer)
  omp_ipr_targetsync = -9,      // native queue, or the sycl::queue of runtime 4
  // Implementation property: non-zero when the target-synchronisation handle
  // of a Nivolo interop is an immediate command list.
  interop_queue_property = 10,
};

// Foreign runtimes an interop may belong to.
enum foreign_runtime : std::int32_t {
  foreign_runtime_opencl = 3,
  foreign_runtime_sycl = 4,
  foreign_runtime_nivolo = 6,
};

// Return codes of the queries: 0 success; the library presets -1 before the
// runtime-id query and 0 before pointer queries, and treats anything but 0
// after the call as failure.
enum interop_return_code : int {
  omp_irc_success = 0,
  omp_irc_empty = -1,
};

}  // namespace ulmara::qez::omp
