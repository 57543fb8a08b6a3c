// SYCL destructor registry: at most 32 callbacks, run in reverse order of
// registration each time the table is run.
#include "gpu/service/sycl_destructor_registry.hpp"

#include <atomic>

#include "gpu/service/service_lock.hpp"
#include "qez_core.h"
#include "qez_service.h"

namespace ulmara::qez::gpu {
namespace {

constexpr int table_full_exit_code = 1;

// A slot is written once, under the lock, before the count that covers it
// is stored with release; the local run reads the count with acquire and no
// lock, and sees every slot below it whole.
struct sycl_destructor_table {
  sycl_destructor_callback callbacks[sycl_destructor_capacity];
  std::atomic<std::int32_t> callback_count;
  std::uint8_t core_registered;
  volatile std::uint32_t table_lock;
};

sycl_destructor_table table = {};

void run_callbacks() {
  for (int slot = table.callback_count.load(std::memory_order_acquire) - 1; slot >= 0; --slot)
    if (table.callbacks[slot] != nullptr) table.callbacks[slot]();
}

// The table's lock is released before a full table ends the process: the
// exit runs the shutdown callbacks, and qez_sycl_destructor among them takes
// this lock.
[[noreturn]] void end_process_table_full(service_lock_guard& guard) {
  guard.unlock();
  qez_serv_print(0, QEZ_SERV_MSG_DESTRUCTOR_TABLE_FULL, 0);
  qez_serv_exit(table_full_exit_code);
}

void register_under_lock(sycl_destructor_callback callback) {
  service_lock_guard guard(&table.table_lock);
  if (!table.core_registered) {
    qez_serv_core_register_sycl_destructor(qez_sycl_destructor);
    table.core_registered = 1;
  }
  const std::int32_t count = table.callback_count.load(std::memory_order_relaxed);
  if (count >= sycl_destructor_capacity) end_process_table_full(guard);
  table.callbacks[count] = callback;
  table.callback_count.store(count + 1, std::memory_order_release);
}

}  // namespace

void register_sycl_destructor(sycl_destructor_callback callback) { register_under_lock(callback); }

void register_sycl_destructor_unlocked(sycl_destructor_callback callback) {
  register_under_lock(callback);
}

int registered_sycl_destructor_count() {
  service_lock_guard guard(&table.table_lock);
  return table.callback_count.load(std::memory_order_relaxed);
}

}  // namespace ulmara::qez::gpu

extern "C" {

__attribute__((visibility("default"))) void qez_sycl_destructor(void) {
  using namespace ulmara::qez::gpu;
  service_lock_guard guard(&table.table_lock);
  run_callbacks();
}

__attribute__((visibility("default"))) void qez_sycl_destructor_local(void) {
  ulmara::qez::gpu::run_callbacks();
}

}  // extern "C"
