// OpenCL loader: the entry table, its one-time load and the stubs.
#include "gpu/service/opencl_loader.hpp"

#include <atomic>

#include "gpu/service/safe_routines.hpp"
#include "gpu/service/service_lock.hpp"
#include "qez_service.h"

namespace ulmara::qez::gpu {
namespace {

constexpr win::DWORD load_library_safe_current_dirs = 0x00002000;
constexpr win::UINT ansi_code_page = 0;
constexpr int max_path_characters = 260;
constexpr std::uint32_t missing_entry_exit_code = 2;
constexpr const char* opencl_library_name = "OpenCL.dll";

constexpr const char* entry_names[] = {
#define QEZ_OPENCL_ENTRY(result, name, parameters, arguments) #name,
#include "gpu/service/opencl_entry_points.inc"
#undef QEZ_OPENCL_ENTRY
};
static_assert(sizeof(entry_names) / sizeof(entry_names[0]) == opencl_entry_count,
              "one name per entry");

// Slots are written under the lock before the load state changes; stubs read
// them without the lock.
struct opencl_loader_record {
  std::atomic<win::FARPROC> entries[opencl_entry_count];
  volatile std::uint32_t lock_word;
  std::int32_t load_state;
  std::int32_t load_result;
};

opencl_loader_record loader = {{}, 0, opencl_not_loaded, -1};

std::atomic<win::FARPROC>& slot(opencl_entry entry) {
  return loader.entries[static_cast<int>(entry)];
}

// Resolves the names in order and stops at the first one the library lacks.
bool resolve_entry_points(win::HMODULE module) {
  for (int i = 0; i < opencl_entry_count; ++i) {
    win::FARPROC address = win::GetProcAddress(module, entry_names[i]);
    if (address == nullptr) return false;
    loader.entries[i].store(address, std::memory_order_release);
  }
  return true;
}

[[noreturn]] void end_process_for_missing_entry(const char* quoted_name) {
  qez_serv_print(0, QEZ_SERV_MSG_MISSING_ENTRY_POINT, 1, quoted_name);
  fatal_exit(missing_entry_exit_code);
}

// The slot of an entry, loading the library on first use; ends the process
// when the entry point cannot be had.
template <class Function>
Function* resolved_entry(opencl_entry entry, const char* quoted_name) {
  win::FARPROC address = slot(entry).load(std::memory_order_acquire);
  if (address == nullptr) {
    load_opencl_library();
    address = slot(entry).load(std::memory_order_acquire);
  }
  if (address == nullptr) end_process_for_missing_entry(quoted_name);
  return reinterpret_cast<Function*>(address);
}

}  // namespace

int load_opencl_library() {
  service_lock_guard guard(&loader.lock_word);
  if (loader.load_state != opencl_not_loaded) {
    loader.load_result = loader.load_state == opencl_loaded ? 0 : -1;
    return loader.load_result;
  }
  if (win::HMODULE module = open_library(opencl_library_name)) {
    if (resolve_entry_points(module)) loader.load_result = 0;
  }
  loader.load_state = loader.load_result == 0 ? opencl_loaded : opencl_load_failed;
  return loader.load_result;
}

win::HMODULE open_library(const char* name) {
  wchar_t wide[max_path_characters] = {};
  const int converted =
      win::MultiByteToWideChar(ansi_code_page, 0, name, -1, wide, max_path_characters);
  if (converted <= 0 || converted >= max_path_characters) wide[0] = L'\0';
  if (win::HMODULE module = win::LoadLibraryExW(wide, nullptr, load_library_safe_current_dirs))
    return module;
  return win::LoadLibraryExA(name, nullptr, load_library_safe_current_dirs);
}

const char* opencl_entry_name(opencl_entry entry) {
  const int index = static_cast<int>(entry);
  return index >= 0 && index < opencl_entry_count ? entry_names[index] : nullptr;
}

win::FARPROC opencl_entry_address(opencl_entry entry) {
  const int index = static_cast<int>(entry);
  if (index < 0 || index >= opencl_entry_count) return nullptr;
  return slot(entry).load(std::memory_order_acquire);
}

opencl_load_state opencl_library_load_state() {
  service_lock_guard guard(&loader.lock_word);
  return static_cast<opencl_load_state>(loader.load_state);
}

// ---- call-through stubs, one per entry point ----
namespace ocl {
#define QEZ_OPENCL_ENTRY(result, name, parameters, arguments)                              \
  result name parameters {                                                                 \
    return resolved_entry<result parameters>(opencl_entry::name, "'" #name "'") arguments; \
  }
#include "gpu/service/opencl_entry_points.inc"
#undef QEZ_OPENCL_ENTRY
}  // namespace ocl

}  // namespace ulmara::qez::gpu
