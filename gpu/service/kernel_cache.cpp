// Kernel cache: hash table, lookup, insert, pooled kernel handles, teardown.
#include "gpu/service/kernel_cache.hpp"

#include <cstring>
#include <new>
#include <optional>

#include "gpu/service/device_registry.hpp"
#include "gpu/service/native_handles.hpp"
#include "gpu/service/nivolo_interop.hpp"
#include "gpu/service/opencl_loader.hpp"
#include "gpu/service/safe_routines.hpp"
#include "gpu/service/service_errors.hpp"
#include "gpu/service/service_lock.hpp"
#include "gpu/service/sycl_destructor_registry.hpp"
#include "qez_service.h"

namespace ulmara::qez::gpu {

struct kernel_cache_entry {
  std::uint64_t device_id;
  sycl::ext::ulmara::weak_object<sycl::context> context;
  void* native_context;
  qez_gpu_backend_t backend;
  std::int32_t domain;
  char* name;
  std::uint8_t* options;
  std::uint64_t options_length;
  std::uint8_t* extra;
  std::uint64_t extra_length;
  void* program;
  kernel_cache_entry* next;
  qez_gpu_kernel_struct_t* instances;
};

namespace {

constexpr int entry_alignment = 16;
constexpr int copy_alignment = 64;
constexpr int bucket_alignment = 128;
constexpr std::int64_t hash_weight = 69;
constexpr std::int32_t domain_weight = 35;
constexpr std::size_t hashed_characters = 64;

struct kernel_cache_table {
  kernel_cache_entry** buckets;
  std::uint64_t bucket_count;
  volatile std::uint32_t lock_word;
  std::uint8_t registered;
};
kernel_cache_table cache = {nullptr, 0, 0, 0};

// What a lookup or an insert compares, computed before the lock is taken.
struct cache_key {
  std::optional<sycl::context> context;  // set when the key comes with a queue
  void* native_context;
  std::uint64_t device_id;
  std::int32_t domain;
  const char** name;
  const std::uint8_t* options;
  std::size_t options_length;

  bool binary() const { return is_binary_key(options, options_length); }
};

cache_key make_key(sycl::queue* queue, void* device_id, void* native_context, std::int32_t domain,
                   const char** name, const void* options, std::size_t options_length) {
  cache_key key{std::nullopt, nullptr, reinterpret_cast<std::uint64_t>(device_id), domain, name,
                static_cast<const std::uint8_t*>(options), options_length};
  if (queue != nullptr)
    key.context = queue->get_context();
  else
    key.native_context = native_context;
  return key;
}

std::uint64_t weighted_sum(const std::int8_t* bytes, std::size_t count) {
  std::uint64_t sum = 0;
  for (std::size_t i = 0; i < count; ++i)
    sum += static_cast<std::uint64_t>(static_cast<std::int64_t>(bytes[i]) * hash_weight * static_cast<std::int64_t>(i));
  return sum;
}

std::uint64_t name_length_for_hash(const char* name) {
  std::size_t length = 0;
  while (length < hashed_characters && name[length] != '\0') ++length;
  return length;
}

std::uint64_t bucket_of(const cache_key& key) {
  const char* name = key.name ? *key.name : nullptr;
  return kernel_cache_bucket(key.domain, reinterpret_cast<void*>(key.device_id), name, key.options,
                             key.options_length);
}

// Owner-equivalence of the entry's context and the key's. A key without a
// queue and without a native context matches no entry made with a queue.
bool same_context(const kernel_cache_entry& entry, const cache_key& key) {
  if (entry.native_context != key.native_context) return false;
  if (key.native_context != nullptr) return true;
  if (!key.context) return false;
  const sycl::ext::ulmara::weak_object<sycl::context> key_context(*key.context);
  return !entry.context.owner_before(key_context) && !key_context.owner_before(entry.context);
}

bool same_options(const kernel_cache_entry& entry, const cache_key& key) {
  if (entry.options_length != key.options_length) return false;
  if (key.options_length == 0) return true;
  int difference = 0;
  return safe_memcmp(entry.options, entry.options_length, key.options, key.options_length, &difference) == 0 &&
         difference == 0;
}

bool same_name(const kernel_cache_entry& entry, const cache_key& key) {
  const char* name = key.name ? *key.name : nullptr;
  if (name == nullptr) return false;
  const std::size_t length = safe_strnlen(name, cached_name_limit);
  return safe_strnlen(entry.name, cached_name_limit) == length && std::strncmp(entry.name, name, length) == 0;
}

kernel_cache_entry* match_in_chain(kernel_cache_entry* entry, const cache_key& key) {
  for (; entry != nullptr; entry = entry->next) {
    if (entry->device_id != key.device_id || !same_context(*entry, key) || entry->domain != key.domain ||
        !same_options(*entry, key))
      continue;
    if (key.binary()) {
      if (key.name && *key.name == nullptr) *key.name = entry->name;
      return entry;
    }
    if (same_name(*entry, key)) return entry;
  }
  return nullptr;
}

// Called under the cache's lock. release_kernel frees a pooled handle with a
// release store and without the lock, so the state is read with acquire: the
// last holder's use of the kernel happens before the next holder's.
qez_gpu_kernel_struct_t* take_free_instance(kernel_cache_entry* entry) {
  for (qez_gpu_kernel_struct_t* handle = entry->instances; handle; handle = handle->next) {
    if (__atomic_load_n(&handle->state, __ATOMIC_ACQUIRE) == kernel_pooled_free) {
      __atomic_store_n(&handle->state, static_cast<std::uint32_t>(kernel_pooled_in_use), __ATOMIC_RELAXED);
      return handle;
    }
  }
  return nullptr;
}

// Makes the table when there is none; called under the cache's lock, which
// guards every read and write of the table, so no thread looks at it before
// it is whole.
bool ensure_table_locked() {
  if (cache.bucket_count != 0) return true;
  cache.buckets = static_cast<kernel_cache_entry**>(
      qez_serv_calloc(kernel_cache_bucket_count, sizeof(kernel_cache_entry*), bucket_alignment));
  if (cache.buckets == nullptr) return false;
  cache.bucket_count = kernel_cache_bucket_count;
  if (!cache.registered) {
    register_sycl_destructor_unlocked(free_kernel_cache);
    cache.registered = 1;
  }
  return true;
}

// Copies that belong to an entry; null members were not asked for.
struct entry_copies {
  char* name = nullptr;
  std::uint8_t* options = nullptr;
  std::uint8_t* extra = nullptr;

  void free_all() {
    qez_serv_free(name);
    qez_serv_free(options);
    qez_serv_free(extra);
  }
};

template <class T>
T* copy_bytes(const void* source, std::size_t length, int alignment) {
  void* block = qez_serv_malloc(length, alignment);
  if (block != nullptr) safe_memcpy(block, length, source, length);
  return static_cast<T*>(block);
}

bool copy_key_data(const char* name, const cache_key& key, const void* extra, std::size_t extra_length,
                   entry_copies* copies) {
  const char* stored_name = name ? name : "";
  const std::size_t name_bytes = safe_strnlen(stored_name, cached_name_limit) + 1;
  copies->name = copy_bytes<char>(stored_name, name_bytes, copy_alignment);
  if (copies->name == nullptr) return false;
  copies->name[name_bytes - 1] = '\0';
  if (key.options_length > 0) {
    copies->options = copy_bytes<std::uint8_t>(key.options, key.options_length, copy_alignment);
    if (copies->options == nullptr) return false;
  }
  if (extra != nullptr && extra_length != 0) {
    copies->extra = copy_bytes<std::uint8_t>(extra, extra_length, copy_alignment);
    if (copies->extra == nullptr) return false;
  }
  return true;
}

kernel_cache_entry* new_entry(const cache_key& key, qez_gpu_backend_t backend, void* program, const char* name,
                              const void* extra, std::size_t extra_length) {
  entry_copies copies;
  void* block = qez_serv_malloc(sizeof(kernel_cache_entry), entry_alignment);
  if (block == nullptr || !copy_key_data(name, key, extra, extra_length, &copies)) {
    copies.free_all();
    qez_serv_free(block);
    return nullptr;
  }
  auto* entry = new (block) kernel_cache_entry{};
  entry->device_id = key.device_id;
  if (key.context) entry->context = *key.context;
  entry->native_context = key.native_context;
  entry->backend = backend;
  entry->domain = key.domain;
  entry->name = copies.name;
  entry->options = copies.options;
  entry->options_length = key.options_length;
  entry->extra = copies.extra;
  entry->extra_length = copies.extra ? extra_length : 0;
  entry->program = program;
  return entry;
}

// Releases a program without letting an error escape (teardown and the
// error roads of insert).
void release_quietly(int backend, void* program) {
  try {
    int status = 0;
    release_program(&status, backend, program);
  } catch (...) {
  }
}

void free_entry(kernel_cache_entry* entry) {
  release_quietly(entry->backend, entry->program);
  for (qez_gpu_kernel_struct_t* handle = entry->instances; handle != nullptr;) {
    qez_gpu_kernel_struct_t* next = handle->next;
    int status = 0;
    release_kernel_obj(&status, handle->kernel);
    qez_serv_free(handle);
    handle = next;
  }
  qez_serv_free(entry->name);
  qez_serv_free(entry->options);
  qez_serv_free(entry->extra);
  entry->~kernel_cache_entry();
  qez_serv_free(entry);
}

}  // namespace

std::uint64_t kernel_cache_bucket(std::int32_t domain, void* device_id, const char* name, const void* options,
                                  std::size_t options_length) {
  const auto scaled_domain = static_cast<std::int32_t>(static_cast<std::uint32_t>(domain) * domain_weight);
  std::uint64_t h = static_cast<std::uint64_t>(static_cast<std::int64_t>(scaled_domain)) ^
                    (reinterpret_cast<std::uint64_t>(device_id) & 0xFFFFFFFFu);
  if (name != nullptr && !is_binary_key(options, options_length)) h += weighted_sum(reinterpret_cast<const std::int8_t*>(name), name_length_for_hash(name));
  const std::size_t hashed_options = options_length < hashed_characters ? options_length : hashed_characters;
  if (hashed_options > 0) h += weighted_sum(static_cast<const std::int8_t*>(options), hashed_options);
  return h % kernel_cache_bucket_count;
}

kernel_cache_entry* kernel_cache_entry_matches(kernel_cache_entry* first, sycl::queue* queue, void* device_id,
                                               void* native_context, std::int32_t domain, const char** name,
                                               const void* options, std::size_t options_length) {
  return match_in_chain(first, make_key(queue, device_id, native_context, domain, name, options, options_length));
}

kernel_cache_entry* kernel_cache_lookup(sycl::queue* queue, void* device_id, void* native_context,
                                        std::int32_t domain, const char** name, const void* options,
                                        std::size_t options_length, void** program,
                                        qez_gpu_kernel_struct_t** instance, void** extra,
                                        std::size_t* extra_length) {
  const cache_key key = make_key(queue, device_id, native_context, domain, name, options, options_length);
  kernel_cache_entry* entry = nullptr;
  void* found_program = nullptr;
  qez_gpu_kernel_struct_t* found_instance = nullptr;
  void* found_extra = nullptr;
  std::size_t found_extra_length = 0;
  {
    service_lock_guard guard(&cache.lock_word);
    if (cache.bucket_count != 0) entry = match_in_chain(cache.buckets[bucket_of(key)], key);
    if (entry != nullptr) {
      found_program = entry->program;
      found_extra = entry->extra;
      found_extra_length = entry->extra_length;
      if (instance) found_instance = take_free_instance(entry);
    }
  }
  if (program) *program = found_program;
  if (instance) *instance = found_instance;
  if (extra) *extra = found_extra;
  if (extra_length) *extra_length = found_extra_length;
  return entry;
}

kernel_cache_entry* kernel_cache_insert(int* status, sycl::queue* queue, void* program, void* device_id,
                                        void* native_context, std::int32_t domain, const char* name,
                                        const void* options, std::size_t options_length, const void* extra,
                                        std::size_t extra_length) {
  const qez_gpu_backend_t backend = queue ? get_queue_backend(queue) : QEZ_GPU_BACKEND_OPENCL;
  const char* key_name = name;
  const cache_key key = make_key(queue, device_id, native_context, domain, &key_name, options, options_length);
  retain_program(status, backend, program);

  kernel_cache_entry* entry = nullptr;
  bool stored = false;
  {
    service_lock_guard guard(&cache.lock_word);
    if (ensure_table_locked()) {
      kernel_cache_entry** bucket = &cache.buckets[bucket_of(key)];
      entry = match_in_chain(*bucket, key);
      if (entry == nullptr && (entry = new_entry(key, backend, program, name, extra, extra_length)) != nullptr) {
        entry->next = *bucket;
        *bucket = entry;
        stored = true;
      }
    }
  }
  // Another thread stored the same key first: its program stays (lookups may
  // be using it without a reference of their own), and the reference taken
  // for ours goes back; the caller keeps its own. The same when no table or
  // no entry could be made.
  if (!stored) release_quietly(backend, program);
  return entry;
}

qez_gpu_kernel_struct_t* kernel_cache_add_instance(kernel_cache_entry* entry, sycl::kernel* kernel) {
  void* block = qez_serv_malloc(sizeof(qez_gpu_kernel_struct_t), copy_alignment);
  if (block == nullptr) return nullptr;
  auto* handle = static_cast<qez_gpu_kernel_struct_t*>(block);
  handle->state = kernel_pooled_in_use;
  handle->kernel = kernel;
  service_lock_guard guard(&cache.lock_word);
  handle->next = entry->instances;
  entry->instances = handle;
  return handle;
}

void free_kernel_cache() {
  service_lock_guard guard(&cache.lock_word);
  for (std::uint64_t b = 0; b < cache.bucket_count; ++b) {
    for (kernel_cache_entry* entry = cache.buckets[b]; entry != nullptr;) {
      kernel_cache_entry* next = entry->next;
      free_entry(entry);
      entry = next;
    }
  }
  qez_serv_free(cache.buckets);
  cache.buckets = nullptr;
  cache.bucket_count = 0;
}

void retain_program(int*, int backend, void* program) {
  if (backend != QEZ_GPU_BACKEND_OPENCL) return;
  const cl_int result = ocl::clRetainProgram(static_cast<cl_program>(program));
  if (result != CL_SUCCESS) throw_opencl_error(result);
}

void release_program(int*, int backend, void* program) {
  if (backend == QEZ_GPU_BACKEND_NIVOLO) {
    destroy_nivolo_program(static_cast<nivolo_program*>(program));
  } else if (backend == QEZ_GPU_BACKEND_OPENCL) {
    const cl_int result = ocl::clReleaseProgram(static_cast<cl_program>(program));
    if (result != CL_SUCCESS) throw_opencl_error(result);
  }
}

std::size_t kernel_cache_entry_count() {
  service_lock_guard guard(&cache.lock_word);
  std::size_t count = 0;
  for (std::uint64_t b = 0; b < cache.bucket_count; ++b)
    for (kernel_cache_entry* entry = cache.buckets[b]; entry != nullptr; entry = entry->next) ++count;
  return count;
}

std::size_t kernel_cache_instance_count(const kernel_cache_entry* entry) {
  service_lock_guard guard(&cache.lock_word);
  std::size_t count = 0;
  for (const qez_gpu_kernel_struct_t* handle = entry->instances; handle; handle = handle->next) ++count;
  return count;
}

void* kernel_cache_entry_program(const kernel_cache_entry* entry) {
  service_lock_guard guard(&cache.lock_word);
  return entry->program;
}

}  // namespace ulmara::qez::gpu
