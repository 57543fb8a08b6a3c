// What the OpenMP-offload commit and compute share: the failure class of the
// OpenMP side, the runtime-id query and the turning of an interop object
// into the SYCL queue a descriptor runs on.
#pragma once

#include <cstdint>
#include <exception>
#include <string>

#include <sycl/sycl.hpp>

#include "interfaces/omp_offload/interop_properties.hpp"

namespace ulmara::qez::omp {

// A failure of the OpenMP runtime or of the interop queue resolution; the
// entry points turn it into status 83.
class dft_omp_offload_exception : public std::exception {
public:
  explicit dft_omp_offload_exception(const std::string& message) : message_(message) {}
  const char* what() const noexcept override { return message_.c_str(); }

private:
  std::string message_;
};

// The interop's foreign runtime id; throws dft_omp_offload_exception when
// the query reports an error.
std::int32_t query_runtime_id(omp_interop_t interop);

// The queue behind the interop for runtime ids 3 (OpenCL), 4 (SYCL) and 6
// (Nivolo); null for any other id, for which no device or context query is
// made. A failing pointer query throws dft_omp_offload_exception with
// `queue_message`.
//
// The queue returned is owned by the library and lives until process exit,
// so a descriptor (and a backend that keeps the record's queue) never holds
// a queue that goes away with the interop: OpenCL and Nivolo queues come
// from the interop caches; the SYCL queue of runtime 4 is adopted (below).
sycl::queue* resolve_interop_queue(omp_interop_t interop, std::int32_t runtime_id,
                                   const char* queue_message);

// A library-owned queue equal to `borrowed` (a copy refers to the same
// underlying queue), one per distinct queue, kept until process exit.
sycl::queue* adopt_sycl_interop_queue(const sycl::queue& borrowed);

}  // namespace ulmara::qez::omp
