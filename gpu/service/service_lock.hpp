// Scoped hold of a service lock word: every registry of the GPU service layer
// takes its lock through this guard, so an exception or an early return never
// leaves a registry locked.
#pragma once

#include <cstdint>

#include "qez_service.h"

namespace ulmara::qez::gpu {

class service_lock_guard {
public:
  explicit service_lock_guard(volatile std::uint32_t* word) : word_(word) { qez_serv_lock(word_); }
  ~service_lock_guard() { unlock(); }
  service_lock_guard(const service_lock_guard&) = delete;
  service_lock_guard& operator=(const service_lock_guard&) = delete;

  // Releases the lock before the end of the scope (before an exit or a
  // throw that must not happen under the lock); later calls do nothing.
  void unlock() {
    if (word_ != nullptr) {
      qez_serv_unlock(word_);
      word_ = nullptr;
    }
  }

private:
  volatile std::uint32_t* word_;
};

}  // namespace ulmara::qez::gpu
