#include "dft/gpu/core/alloc_hooks.hpp"

#include <atomic>

#include "qez_service.h"

namespace ulmara::qez::dft {
namespace {

alloc_hooks process_hooks{};

std::atomic<std::uint32_t>& installed_flag() {
  static_assert(sizeof(std::atomic<std::uint32_t>) == sizeof(std::uint32_t), "plain u32 flag");
  return *reinterpret_cast<std::atomic<std::uint32_t>*>(&process_hooks.installed);
}

// Holds the hooks' service lock for one scope.
class hooks_lock {
public:
  hooks_lock() { qez_serv_lock(&process_hooks.lock_word); }
  ~hooks_lock() { qez_serv_unlock(&process_hooks.lock_word); }
  hooks_lock(const hooks_lock&) = delete;
  hooks_lock& operator=(const hooks_lock&) = delete;
};

}  // namespace

void* hook_serv_malloc(std::size_t size, int alignment, void*) {
  return qez_serv_malloc(size, alignment);
}
void* hook_serv_calloc(std::size_t count, std::size_t size, int alignment, void*) {
  return qez_serv_calloc(count, size, alignment);
}
void* hook_serv_allocate(std::size_t size, int alignment, void* context) {
  return qez_serv_allocate(size, alignment, context);
}
void hook_serv_free(void* block) { qez_serv_free(block); }
void hook_serv_deallocate(void* block) { qez_serv_deallocate(block); }

void install_alloc_hooks(void* /*arena*/) {
  if (installed_flag().load(std::memory_order_acquire)) return;
  hooks_lock lock;
  if (installed_flag().load(std::memory_order_relaxed)) return;
  process_hooks.alloc = hook_serv_malloc;
  process_hooks.zeroing_alloc = hook_serv_calloc;
  process_hooks.reserve = hook_serv_allocate;
  process_hooks.free = hook_serv_free;
  process_hooks.deallocate = hook_serv_deallocate;
  installed_flag().store(1, std::memory_order_release);
}

const alloc_hooks& hooks() {
  install_alloc_hooks(nullptr);
  return process_hooks;
}

}  // namespace ulmara::qez::dft
