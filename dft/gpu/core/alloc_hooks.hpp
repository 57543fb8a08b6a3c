// Process-wide memory operations through which the descriptor core and every
// GPU backend allocate descriptor records, dimension arrays and private
// blocks.
#pragma once

#include <cstddef>
#include <cstdint>

namespace ulmara::qez::dft {

struct alloc_hooks {
  void* (*alloc)(std::size_t size, int alignment, void* context);
  void* (*zeroing_alloc)(std::size_t count, std::size_t size, int alignment, void* context);
  void* (*reserve)(std::size_t size, int alignment, void* context);
  void (*free)(void* block);
  void (*deallocate)(void* block);
  std::uint32_t installed;
  std::uint32_t lock_word;
};

constexpr int record_alignment = 64;

// Installs the service-allocator hooks once per process; later calls keep
// the first installation. No caller passes an arena.
void install_alloc_hooks(void* arena);

// The installed hooks (installing them on first use).
const alloc_hooks& hooks();

void* hook_serv_malloc(std::size_t size, int alignment, void* context);
void* hook_serv_calloc(std::size_t count, std::size_t size, int alignment, void* context);
void* hook_serv_allocate(std::size_t size, int alignment, void* context);
void hook_serv_free(void* block);
void hook_serv_deallocate(void* block);

// Zero-filled block of `size` bytes for a record or a backend's private
// block, 64-byte aligned; null when memory runs out.
inline void* allocate_zeroed_block(std::size_t size) {
  return hooks().zeroing_alloc(1, size, record_alignment, nullptr);
}
inline void free_block(void* block) { hooks().free(block); }

}  // namespace ulmara::qez::dft
