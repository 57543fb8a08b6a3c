// Process-wide kernel cache: one chained hash table of 1021 buckets keyed by
// device, context, calling domain, program name and key options. Each entry
// keeps one built program (an OpenCL program, or a Nivolo program) and a pool
// of kernel handles made from it. Every operation takes the cache lock
// inside and never raises or calls into the SYCL runtime or a driver while
// it holds it.
#pragma once

#include <cstddef>
#include <cstdint>

#include <sycl/sycl.hpp>

#include "gpu/service/kernel_types.hpp"
#include "gpu/service/qez_gpu_types.h"

namespace ulmara::qez::gpu {

constexpr std::uint64_t kernel_cache_bucket_count = 1021;
// Options whose first byte is this make a binary key: the name does not count.
constexpr std::uint8_t binary_key_marker = 0xFF;
inline bool is_binary_key(const void* options, std::size_t options_length) {
  return options_length > 0 && static_cast<const std::uint8_t*>(options)[0] == binary_key_marker;
}
// Bound of program names in the cache.
constexpr std::size_t cached_name_limit = 260;

struct kernel_cache_entry;

// The entry for the key, or null. With `instance`, a free pooled handle of
// the entry is handed out (null when none is free). Under a binary key with
// a null *name, *name receives the stored name. Every out pointer may be null.
kernel_cache_entry* kernel_cache_lookup(sycl::queue* queue, void* device_id, void* native_context,
                                        std::int32_t domain, const char** name, const void* options,
                                        std::size_t options_length, void** program,
                                        qez_gpu_kernel_struct_t** instance, void** extra,
                                        std::size_t* extra_length);

// The first entry of the chain starting at `first` that matches the key.
kernel_cache_entry* kernel_cache_entry_matches(kernel_cache_entry* first, sycl::queue* queue, void* device_id,
                                               void* native_context, std::int32_t domain, const char** name,
                                               const void* options, std::size_t options_length);

// Puts `program` under the key (the cache takes its own reference) and
// returns the entry for the key. When the key is already present the entry
// keeps the program it has (programs in the cache are never replaced, so a
// program handed out by a lookup stays valid) and takes no reference to
// `program`. Null when the table or the entry cannot be made; the cache then
// holds no reference either. The caller's own reference is never touched.
kernel_cache_entry* kernel_cache_insert(int* status, sycl::queue* queue, void* program, void* device_id,
                                        void* native_context, std::int32_t domain, const char* name,
                                        const void* options, std::size_t options_length, const void* extra,
                                        std::size_t extra_length);

// A new pooled handle (in use) of the entry holding `kernel`; null when it
// cannot be allocated (the kernel then stays the caller's).
qez_gpu_kernel_struct_t* kernel_cache_add_instance(kernel_cache_entry* entry, sycl::kernel* kernel);

// Teardown callback.
void free_kernel_cache();

// Program references by backend (qez_gpu_backend_t); OpenCL failures raise
// "OpenCL error " and the code.
void retain_program(int* status, int backend, void* program);
void release_program(int* status, int backend, void* program);

// Bucket of a key (exposed for tests of the hash).
std::uint64_t kernel_cache_bucket(std::int32_t domain, void* device_id, const char* name, const void* options,
                                  std::size_t options_length);
// Entries in the table and pooled handles of one entry (diagnostics).
std::size_t kernel_cache_entry_count();
std::size_t kernel_cache_instance_count(const kernel_cache_entry* entry);
void* kernel_cache_entry_program(const kernel_cache_entry* entry);

}  // namespace ulmara::qez::gpu
