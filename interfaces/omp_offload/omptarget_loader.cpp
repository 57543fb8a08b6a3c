#include "interfaces/omp_offload/omptarget_loader.hpp"

#include <atomic>

#include "gpu/service/service_lock.hpp"
#include "platform/win/win_shim.hpp"
#include "qez_core.h"
#include "qez_service.h"

namespace ulmara::qez::omp {
namespace {

constexpr const char* runtime_module = "omptarget.dll";
constexpr win::DWORD LOAD_LIBRARY_SAFE_CURRENT_DIRS = 0x00002000;
constexpr int missing_function_exit_code = 2;

// The runtime's functions, resolved in this order.
enum runtime_slot : int {
  slot_get_interop_int,
  slot_get_interop_ptr,
  slot_get_interop_str,
  slot_add_completion_callback,
  runtime_slot_count
};

struct runtime_function {
  const char* name;
  const char* quoted_name;  // argument of the missing-symbol message
};
constexpr runtime_function runtime_functions[runtime_slot_count] = {
    {"omp_get_interop_int", "'omp_get_interop_int'"},
    {"omp_get_interop_ptr", "'omp_get_interop_ptr'"},
    {"omp_get_interop_str", "'omp_get_interop_str'"},
    {"ompx_interop_add_completion_callback", "'ompx_interop_add_completion_callback'"},
};

enum load_state : std::int32_t { load_not_tried = 0, load_done = 1, load_failed = -1 };

// Process-wide loader state. Slots are written once, during the one load
// attempt, and read without the lock afterwards.
struct loader_state {
  std::uint32_t lock = 0;
  std::int32_t state = load_not_tried;
  std::int32_t result = -1;
  std::int32_t attempts = 0;
  std::atomic<win::FARPROC> slots[runtime_slot_count] = {};
};
loader_state loader;

// Fills the slots in order and stops at the first missing name.
bool resolve_all(win::HMODULE module) {
  for (int s = 0; s < runtime_slot_count; ++s) {
    win::FARPROC address = win::GetProcAddress(module, runtime_functions[s].name);
    loader.slots[s].store(address, std::memory_order_release);
    if (address == nullptr) return false;
  }
  return true;
}

int load_under_lock() {
  ++loader.attempts;
  // The module handle is not kept: the runtime is never unloaded.
  win::HMODULE module = win::LoadLibraryExA(runtime_module, nullptr, LOAD_LIBRARY_SAFE_CURRENT_DIRS);
  if (module != nullptr && resolve_all(module)) loader.result = 0;
  loader.state = loader.result == 0 ? load_done : load_failed;
  return loader.result;
}

// The slot's function, loading the runtime first when the slot is empty;
// ends the process when the runtime does not provide it.
template <class Function>
Function slot_function(runtime_slot s) {
  if (loader.slots[s].load(std::memory_order_acquire) == nullptr) load_omptarget_library();
  win::FARPROC address = loader.slots[s].load(std::memory_order_acquire);
  if (address == nullptr) {
    qez_serv_print(0, QEZ_SERV_MSG_MISSING_ENTRY_POINT, 1, runtime_functions[s].quoted_name);
    qez_serv_exit(missing_function_exit_code);
  }
  return reinterpret_cast<Function>(address);
}

}  // namespace

int load_omptarget_library() {
  gpu::service_lock_guard guard(&loader.lock);
  if (loader.state != load_not_tried) {
    loader.result = loader.state == load_done ? 0 : -1;
    return loader.result;
  }
  return load_under_lock();
}

std::int32_t omptarget_load_attempts() {
  gpu::service_lock_guard guard(&loader.lock);
  return loader.attempts;
}

int omp_get_interop_int(omp_interop_t interop, int property, int* ret_code) {
  using function = std::intptr_t (*)(omp_interop_t, int, int*);
  return static_cast<int>(slot_function<function>(slot_get_interop_int)(interop, property, ret_code));
}

void* omp_get_interop_ptr(omp_interop_t interop, int property, int* ret_code) {
  using function = void* (*)(omp_interop_t, int, int*);
  return slot_function<function>(slot_get_interop_ptr)(interop, property, ret_code);
}

const char* omp_get_interop_str(omp_interop_t interop, int property, int* ret_code) {
  using function = const char* (*)(omp_interop_t, int, int*);
  return slot_function<function>(slot_get_interop_str)(interop, property, ret_code);
}

int ompx_interop_add_completion_callback(void* interop, void* callback, void* data) {
  using function = int (*)(void*, void*, void*);
  return slot_function<function>(slot_add_completion_callback)(interop, callback, data);
}

}  // namespace ulmara::qez::omp
