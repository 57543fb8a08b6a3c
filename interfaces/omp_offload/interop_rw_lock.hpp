// Reader-preferring spin lock of one 32-bit word: bit 0 marks a writer, the
// other bits count readers in steps of 2. Waiting spins with the processor's
// pause hint; it never sleeps. Not re-entrant, and a read lock is never
// upgraded.
#pragma once

#include <atomic>
#include <cstdint>

namespace ulmara::qez::gpu {

class interop_rw_lock {
public:
  void lock_shared() {
    word_.fetch_add(reader_step, std::memory_order_acquire);
    while (word_.load(std::memory_order_acquire) & writer_bit) pause();
  }
  void unlock_shared() { word_.fetch_sub(reader_step, std::memory_order_release); }

  void lock() {
    std::uint32_t expected = 0;
    while (!word_.compare_exchange_weak(expected, writer_bit, std::memory_order_acquire,
                                        std::memory_order_relaxed)) {
      expected = 0;
      pause();
    }
  }
  void unlock() { word_.fetch_sub(writer_bit, std::memory_order_release); }

  std::uint32_t word() const { return word_.load(std::memory_order_relaxed); }

private:
  static constexpr std::uint32_t writer_bit = 1;
  static constexpr std::uint32_t reader_step = 2;
  static void pause() { __builtin_ia32_pause(); }

  std::atomic<std::uint32_t> word_{0};
};

class read_lock_guard {
public:
  explicit read_lock_guard(interop_rw_lock& lock) : lock_(lock) { lock_.lock_shared(); }
  ~read_lock_guard() { lock_.unlock_shared(); }
  read_lock_guard(const read_lock_guard&) = delete;
  read_lock_guard& operator=(const read_lock_guard&) = delete;

private:
  interop_rw_lock& lock_;
};

class write_lock_guard {
public:
  explicit write_lock_guard(interop_rw_lock& lock) : lock_(lock) { lock_.lock(); }
  ~write_lock_guard() { lock_.unlock(); }
  write_lock_guard(const write_lock_guard&) = delete;
  write_lock_guard& operator=(const write_lock_guard&) = delete;

private:
  interop_rw_lock& lock_;
};

}  // namespace ulmara::qez::gpu
