// Run-time loader of the OpenCL library: "OpenCL.dll" is opened on first use
// and a fixed list of entry points is resolved into one table. Every OpenCL
// call of the library goes through a call-through stub in namespace `ocl`
// with the name and signature of the OpenCL function; a stub whose entry
// point cannot be had prints its quoted name and ends the process with exit
// code 2.
#pragma once

#include <cstdint>

#include "gpu/service/opencl_types.hpp"
#include "platform/win/win_shim.hpp"

namespace ulmara::qez::gpu {

// One enumerator per entry point, in resolution order.
enum class opencl_entry : int {
#define QEZ_OPENCL_ENTRY(result, name, parameters, arguments) name,
#include "gpu/service/opencl_entry_points.inc"
#undef QEZ_OPENCL_ENTRY
  count
};
constexpr int opencl_entry_count = static_cast<int>(opencl_entry::count);
static_assert(opencl_entry_count == 98, "the loader resolves 98 entry points");

enum opencl_load_state : std::int32_t {
  opencl_not_loaded = 0,
  opencl_loaded = 1,
  opencl_load_failed = -1,
};

// 0 when every entry point is resolved, -1 otherwise. Only the first call
// does work; later calls report the outcome of the first.
int load_opencl_library();

// Opens a library by its target name with the safe-current-directory search.
win::HMODULE open_library(const char* name);

// Introspection of the loader record (used by tests and diagnostics).
const char* opencl_entry_name(opencl_entry entry);
win::FARPROC opencl_entry_address(opencl_entry entry);
opencl_load_state opencl_library_load_state();

namespace ocl {
#define QEZ_OPENCL_ENTRY(result, name, parameters, arguments) result name parameters;
#include "gpu/service/opencl_entry_points.inc"
#undef QEZ_OPENCL_ENTRY
}  // namespace ocl

}  // namespace ulmara::qez::gpu
