// Nivolo loader: open "qx_loader.dll" from the system directory, initialise
// the driver, resolve the forwarded entry points; and the forwarders.
#include "gpu/service/nivolo_loader.hpp"

#include <atomic>

#include "gpu/service/service_lock.hpp"
#include "platform/win/win_shim.hpp"
#include "qez_core.h"
#include "qez_service.h"

namespace ulmara::qez::gpu {
namespace {

constexpr const char* qx_loader_library_name = "qx_loader.dll";
constexpr std::uint32_t qx_init_flags = 0;
constexpr int missing_entry_exit_code = 2;

enum class nivolo_entry : int {
#define QEZ_NIVOLO_FORWARDED(name, parameters, arguments) name,
  QEZ_NIVOLO_FORWARDED_ENTRIES
#undef QEZ_NIVOLO_FORWARDED
  count
};
constexpr int nivolo_entry_count = static_cast<int>(nivolo_entry::count);

constexpr const char* nivolo_entry_names[] = {
#define QEZ_NIVOLO_FORWARDED(name, parameters, arguments) #name,
    QEZ_NIVOLO_FORWARDED_ENTRIES
#undef QEZ_NIVOLO_FORWARDED
};

struct nivolo_loader_record {
  std::atomic<qxInit_fn> init;
  std::atomic<win::FARPROC> entries[nivolo_entry_count];
  volatile std::uint32_t lock_word;
  std::int32_t load_state;
};

nivolo_loader_record loader = {{nullptr}, {}, 0, nivolo_not_loaded};

// Open, initialise and resolve; false at the first failing step. Pointers
// stored before a failure stay set.
bool open_and_resolve() {
  win::HMODULE module =
      win::LoadLibraryExA(qx_loader_library_name, nullptr, win::LOAD_LIBRARY_SEARCH_SYSTEM32);
  if (module == nullptr) return false;
  auto init = reinterpret_cast<qxInit_fn>(win::GetProcAddress(module, "qxInit"));
  if (init == nullptr) return false;
  loader.init.store(init, std::memory_order_release);
  if (init(qx_init_flags) != QX_RESULT_SUCCESS) return false;
  for (int i = 0; i < nivolo_entry_count; ++i) {
    win::FARPROC address = win::GetProcAddress(module, nivolo_entry_names[i]);
    if (address == nullptr) return false;
    loader.entries[i].store(address, std::memory_order_release);
  }
  return true;
}

template <class Function>
Function* forwarded_entry(nivolo_entry entry) {
  auto& entry_slot = loader.entries[static_cast<int>(entry)];
  win::FARPROC address = entry_slot.load(std::memory_order_acquire);
  if (address == nullptr) {
    load_qx_loader();
    address = entry_slot.load(std::memory_order_acquire);
  }
  return reinterpret_cast<Function*>(address);
}

void report_missing_entry(const char* quoted_name) {
  qez_serv_print(0, QEZ_SERV_MSG_MISSING_ENTRY_POINT, 1, quoted_name);
  qez_serv_exit(missing_entry_exit_code);
}

}  // namespace

int load_qx_loader() {
  service_lock_guard guard(&loader.lock_word);
  if (loader.load_state == nivolo_not_loaded)
    loader.load_state = open_and_resolve() ? nivolo_loaded : nivolo_load_failed;
  return loader.load_state == nivolo_loaded ? 0 : -1;
}

nivolo_load_state qx_loader_load_state() {
  service_lock_guard guard(&loader.lock_word);
  return static_cast<nivolo_load_state>(loader.load_state);
}

}  // namespace ulmara::qez::gpu

// ---- exported forwarders ----
extern "C" {
#define QEZ_NIVOLO_FORWARDED(name, parameters, arguments)                                     \
  __attribute__((visibility("default"))) qx_result_t qez_##name parameters {                  \
    using namespace ulmara::qez::gpu;                                                         \
    auto* entry = forwarded_entry<qx_result_t parameters>(nivolo_entry::name);               \
    if (entry == nullptr) {                                                                   \
      report_missing_entry("'" #name "'");                                                    \
      return QX_RESULT_ERROR_UNINITIALIZED;                                                   \
    }                                                                                         \
    return entry arguments;                                                                   \
  }
QEZ_NIVOLO_FORWARDED_ENTRIES
#undef QEZ_NIVOLO_FORWARDED
}
