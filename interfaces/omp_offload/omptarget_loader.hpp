// Run-time loading of the OpenMP offload runtime ("omptarget.dll") and the
// call-through functions through which the library reaches its interop
// functions. The library never links against the runtime, so it stays
// loadable where the runtime is absent; only the OpenMP-offload entry points
// and the interop caches need it.
#pragma once

#include <cstdint>

#include "interfaces/omp_offload/interop_properties.hpp"

namespace ulmara::qez::omp {

// 0 when the runtime is loaded and all four interop functions were found,
// -1 otherwise. Only the first call tries; later calls return its result.
int load_omptarget_library();

// Call-throughs bearing the runtime's names. A function the runtime does not
// provide ends the process (exit code 2) after the service layer's
// missing-symbol message.
int omp_get_interop_int(omp_interop_t interop, int property, int* ret_code);
void* omp_get_interop_ptr(omp_interop_t interop, int property, int* ret_code);
const char* omp_get_interop_str(omp_interop_t interop, int property, int* ret_code);
int ompx_interop_add_completion_callback(void* interop, void* callback, void* data);

// How many times the module was looked for (0 or 1 in the life of a process).
std::int32_t omptarget_load_attempts();

}  // namespace ulmara::qez::omp
