// Test double of the OpenCL library, built under the file name of the GPU
// profile library into a directory of its own, so that a test executable in
// that directory opens it as "OpenCL.dll". Every entry point of the loader's
// list records its name and returns a marker result; the partial variant
// hides clEnqueueSVMUnmap with a version script.
#include <cstdint>
#include <type_traits>

#include "gpu/service/opencl_types.hpp"
#include "tests/doubles/opencl_double.h"

namespace {

const char* last_call = "";
int call_count = 0;

template <class Result>
Result marker_result() {
  if constexpr (std::is_void_v<Result>) {
    return;
  } else if constexpr (std::is_pointer_v<Result>) {
    return reinterpret_cast<Result>(static_cast<std::uintptr_t>(QEZ_OPENCL_DOUBLE_MARKER_HANDLE));
  } else {
    return static_cast<Result>(QEZ_OPENCL_DOUBLE_MARKER_RESULT);
  }
}

void record_call(const char* name) {
  last_call = name;
  ++call_count;
}

}  // namespace

extern "C" {

const char* qez_opencl_double_last_call(void) { return last_call; }
int qez_opencl_double_call_count(void) { return call_count; }

#define QEZ_OPENCL_ENTRY(result, name, parameters, arguments) \
  result name parameters {                                    \
    record_call(#name);                                       \
    return marker_result<result>();                           \
  }
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wunused-parameter"
#include "gpu/service/opencl_entry_points.inc"
#pragma GCC diagnostic pop
#undef QEZ_OPENCL_ENTRY

}  // extern "C"
