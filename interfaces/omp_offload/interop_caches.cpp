#include "interfaces/omp_offload/interop_caches.hpp"

#include <cstdlib>
#include <optional>
#include <unordered_map>
#include <vector>

#include "gpu/service/nivolo_interop.hpp"
#include "gpu/service/opencl_loader.hpp"
#include "gpu/service/service_errors.hpp"
#include "interfaces/omp_offload/interop_rw_lock.hpp"
#include "interfaces/omp_offload/omptarget_loader.hpp"

namespace ulmara::qez::gpu {
namespace {

constexpr std::uint64_t fnv_offset_basis = 0xcbf29ce484222325ull;
constexpr std::uint64_t fnv_prime = 0x100000001b3ull;
constexpr std::size_t initial_buckets = 8;
constexpr const char* native_device_not_exposed = "Native device isn't exposed to SYCL.";

// Kinds of native queue handle of the Nivolo backend.
enum nivolo_queue_kind : std::int32_t { nivolo_command_queue = 0, nivolo_immediate_list = 1 };

// ---------------------------------------------------------------------------
// The two maps.

struct interop_context_key {
  void* native_context;
  void* native_device;
  bool operator==(const interop_context_key& other) const {
    return native_context == other.native_context && native_device == other.native_device;
  }
};
struct interop_context_key_hash {
  std::size_t operator()(const interop_context_key& k) const {
    return interop_handle_hash(k.native_context) ^ interop_handle_hash(k.native_device);
  }
};
struct interop_queue_key_hash {
  std::size_t operator()(void* native_queue) const { return interop_handle_hash(native_queue); }
};

// Nodes of an unordered map never move, so a value's address stays valid
// while the map grows.
using context_map = std::unordered_map<interop_context_key, sycl::context, interop_context_key_hash>;
using queue_map = std::unordered_map<void*, sycl::queue, interop_queue_key_hash>;

template <class Map>
struct guarded_cache {
  Map* map = nullptr;
  interop_rw_lock lock;
};
guarded_cache<context_map> context_cache;
guarded_cache<queue_map> queue_cache;

template <class Map>
void clear_at_exit(guarded_cache<Map>& cache) {
  delete cache.map;
  cache.map = nullptr;
}
void clear_context_cache() { clear_at_exit(context_cache); }
void clear_queue_cache() { clear_at_exit(queue_cache); }

// Made empty at start-up; the exit clean-ups run queue cache first, then
// context cache, so no cached queue outlives its context.
struct init_ovrax_caches {
  init_ovrax_caches() {
    context_cache.map = new context_map(initial_buckets);
    std::atexit(clear_context_cache);
    queue_cache.map = new queue_map(initial_buckets);
    std::atexit(clear_queue_cache);
  }
};
const init_ovrax_caches ovrax_caches_initialiser;

template <class Map, class Key>
typename Map::mapped_type* find_in(Map& map, const Key& key) {
  auto it = map.find(key);
  return it == map.end() ? nullptr : &it->second;
}

// ---------------------------------------------------------------------------
// Native OpenCL references held by cached SYCL objects. The cache takes a
// reference of its own and hands it to the SYCL object, which gives it back
// once at exit: the interop's own reference stays the runtime's, so nothing
// is released twice, and a cached handle stays alive, so its address cannot
// be reused by a later handle that would then match a stale entry.

template <class Handle, cl_int (*Retain)(Handle), cl_int (*Release)(Handle)>
class opencl_reference {
public:
  explicit opencl_reference(void* handle) : handle_(static_cast<Handle>(handle)) {
    if (Retain(handle_) != CL_SUCCESS) throw_opencl_error(CL_INVALID_VALUE);
  }
  ~opencl_reference() {
    if (handle_ != nullptr) Release(handle_);
  }
  opencl_reference(const opencl_reference&) = delete;
  opencl_reference& operator=(const opencl_reference&) = delete;
  // The SYCL object made from the handle owns the reference from now on.
  void hand_over() { handle_ = nullptr; }

private:
  Handle handle_;
};
using opencl_context_reference =
    opencl_reference<cl_context, ocl::clRetainContext, ocl::clReleaseContext>;
using opencl_queue_reference =
    opencl_reference<cl_command_queue, ocl::clRetainCommandQueue, ocl::clReleaseCommandQueue>;

// ---------------------------------------------------------------------------
// Creation recipes.

sycl::context make_opencl_context(void* native_context) {
  opencl_context_reference reference(native_context);
  sycl::context context = sycl::detail::make_context(
      reinterpret_cast<sycl::detail::native_handle_t>(native_context), sycl::async_handler{},
      sycl::backend::opencl, /*keep_ownership=*/false, {});
  reference.hand_over();
  return context;
}

// Nivolo handles carry no reference count: the runtime keeps ownership.
sycl::context make_nivolo_context(void* native_context, const sycl::device* device) {
  const std::vector<sycl::device> devices{*device};
  return sycl::detail::make_context(reinterpret_cast<sycl::detail::native_handle_t>(native_context),
                                    sycl::async_handler{}, sycl::backend::ext_ulmara_nivolo,
                                    /*keep_ownership=*/true, devices);
}

sycl::context make_context_for(void* native_context, qez_gpu_backend_t backend,
                               const sycl::device* device) {
  if (backend == QEZ_GPU_BACKEND_NIVOLO) return make_nivolo_context(native_context, device);
  return make_opencl_context(native_context);
}

sycl::queue make_opencl_queue(void* native_queue, const sycl::context& context) {
  opencl_queue_reference reference(native_queue);
  sycl::queue queue = sycl::detail::make_queue(
      reinterpret_cast<sycl::detail::native_handle_t>(native_queue), 0, context, nullptr,
      /*keep_ownership=*/false, sycl::property_list{}, sycl::async_handler{}, sycl::backend::opencl);
  reference.hand_over();
  return queue;
}

std::int32_t nivolo_queue_kind_of(void* interop) {
  int code = omp::omp_irc_empty;
  const int immediate = omp::omp_get_interop_int(interop, omp::interop_queue_property, &code);
  return immediate != 0 && code == omp::omp_irc_success ? nivolo_immediate_list : nivolo_command_queue;
}

sycl::queue make_nivolo_queue(void* native_queue, const sycl::context& context, void* interop) {
  const std::int32_t kind = nivolo_queue_kind_of(interop);
  const sycl::device device = context.get_devices().front();
  return sycl::detail::make_queue(reinterpret_cast<sycl::detail::native_handle_t>(native_queue), kind,
                                  context, &device, /*keep_ownership=*/true, sycl::property_list{},
                                  sycl::async_handler{}, sycl::backend::ext_ulmara_nivolo);
}

sycl::queue make_queue_for(void* native_queue, qez_gpu_backend_t backend, const sycl::context& context,
                           void* interop) {
  if (backend == QEZ_GPU_BACKEND_NIVOLO) return make_nivolo_queue(native_queue, context, interop);
  return make_opencl_queue(native_queue, context);
}

// ---------------------------------------------------------------------------
// Lookups. Creation runs under the write lock, so a handle is turned into a
// SYCL object at most once; a creation that throws inserts nothing and the
// guard releases the lock.

sycl::context* cached_context(const interop_context_key& key) {
  read_lock_guard guard(context_cache.lock);
  return find_in(*context_cache.map, key);
}

sycl::context* context_entry(const interop_context_key& key, qez_gpu_backend_t backend,
                             const sycl::device* device) {
  if (sycl::context* hit = cached_context(key)) return hit;
  write_lock_guard guard(context_cache.lock);
  if (sycl::context* hit = find_in(*context_cache.map, key)) return hit;
  sycl::context made = make_context_for(key.native_context, backend, device);
  return &context_cache.map->emplace(key, std::move(made)).first->second;
}

sycl::queue* cached_queue(void* native_queue) {
  read_lock_guard guard(queue_cache.lock);
  return find_in(*queue_cache.map, native_queue);
}

sycl::queue* queue_entry_under_write_lock(void* native_queue, qez_gpu_backend_t backend,
                                          const sycl::context& context, void* interop) {
  write_lock_guard guard(queue_cache.lock);
  if (sycl::queue* hit = find_in(*queue_cache.map, native_queue)) return hit;
  sycl::queue made = make_queue_for(native_queue, backend, context, interop);
  return &queue_cache.map->emplace(native_queue, std::move(made)).first->second;
}

// ---------------------------------------------------------------------------
// Native Nivolo devices.

std::optional<sycl::device> find_native_device(const sycl::device& device, void* native_device) {
  if (device.get_backend() != sycl::backend::ext_ulmara_nivolo) throw_backends_mismatch();
  if (nivolo_native_device(device) == static_cast<qx_device_handle_t>(native_device)) return device;
  // Sub-devices of a partitionable device would be searched here; the SYCL
  // runtime this library is built against offers no device partitioning.
  return std::nullopt;
}

[[noreturn]] void throw_not_exposed() {
  throw sycl::exception(sycl::make_error_code(sycl::errc::invalid), native_device_not_exposed);
}

// ---------------------------------------------------------------------------
// Handles of an interop object.

struct interop_handles {
  qez_gpu_backend_t backend = QEZ_GPU_BACKEND_OTHER;
  void* context = nullptr;
  void* queue = nullptr;
  void* device = nullptr;
};

bool query_pointer(void* interop, int property, void** value) {
  int code = omp::omp_irc_success;
  *value = omp::omp_get_interop_ptr(interop, property, &code);
  return code == omp::omp_irc_success;
}

bool read_interop_handles(void* interop, interop_handles* h) {
  int code = omp::omp_irc_success;
  const std::int32_t runtime = omp::omp_get_interop_int(interop, omp::omp_ipr_fr_id, &code);
  if (code != omp::omp_irc_success) return false;
  if (!query_pointer(interop, omp::omp_ipr_device_context, &h->context)) return false;
  if (runtime == omp::foreign_runtime_nivolo) {
    h->backend = QEZ_GPU_BACKEND_NIVOLO;
    return query_pointer(interop, omp::omp_ipr_targetsync, &h->queue) &&
           query_pointer(interop, omp::omp_ipr_device, &h->device);
  }
  if (runtime == omp::foreign_runtime_opencl) {
    h->backend = QEZ_GPU_BACKEND_OPENCL;
    return query_pointer(interop, omp::omp_ipr_targetsync, &h->queue);
  }
  return false;
}

}  // namespace

std::uint64_t interop_handle_hash(const void* handle) {
  auto value = reinterpret_cast<std::uintptr_t>(handle);
  std::uint64_t hash = fnv_offset_basis;
  for (std::size_t byte = 0; byte < sizeof value; ++byte) {
    hash ^= static_cast<std::uint64_t>(value & 0xff);
    hash *= fnv_prime;
    value >>= 8;
  }
  return hash;
}

sycl::context* lookup_and_cache_ovrax_context(void* native_context, void* native_device,
                                              qez_gpu_backend_t backend, sycl::device* device) {
  return context_entry(interop_context_key{native_context, native_device}, backend, device);
}

sycl::queue* lookup_and_cache_ovrax_queue(void* native_queue, qez_gpu_backend_t backend,
                                          sycl::context context, void* interop) {
  if (sycl::queue* hit = cached_queue(native_queue)) return hit;
  return queue_entry_under_write_lock(native_queue, backend, context, interop);
}

sycl::queue* lookup_and_cache_ovrax_queue_and_context(void* interop) {
  interop_handles h;
  if (!read_interop_handles(interop, &h)) return nullptr;
  if (sycl::queue* hit = cached_queue(h.queue)) return hit;
  std::optional<sycl::device> device;
  if (h.backend == QEZ_GPU_BACKEND_NIVOLO) device = get_sycl_device_from_native(h.device);
  const sycl::context* context =
      context_entry(interop_context_key{h.context, h.device}, h.backend, device ? &*device : nullptr);
  return queue_entry_under_write_lock(h.queue, h.backend, *context, interop);
}

sycl::device get_sycl_device_from_native(void* native_device) {
  const std::vector<sycl::platform> platforms = sycl::platform::get_platforms();
  if (platforms.empty()) throw_not_exposed();
  for (const sycl::platform& platform : platforms) {
    if (platform.get_backend() != sycl::backend::ext_ulmara_nivolo) continue;
    for (const sycl::device& device : platform.get_devices(sycl::info::device_type::all))
      if (std::optional<sycl::device> found = find_native_device(device, native_device)) return *found;
  }
  throw_not_exposed();
}

std::size_t ovrax_context_cache_size() {
  read_lock_guard guard(context_cache.lock);
  return context_cache.map->size();
}

std::size_t ovrax_queue_cache_size() {
  read_lock_guard guard(queue_cache.lock);
  return queue_cache.map->size();
}

}  // namespace ulmara::qez::gpu
