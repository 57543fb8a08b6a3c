#include "interfaces/omp_offload/interop_queue_resolution.hpp"

#include <map>
#include <memory>

#include "interfaces/omp_offload/interop_caches.hpp"
#include "interfaces/omp_offload/interop_rw_lock.hpp"
#include "interfaces/omp_offload/omptarget_loader.hpp"

namespace ulmara::qez::omp {
namespace {

constexpr const char* runtime_id_message = "Failed to retrieve the required runtime id.";

// ---------------------------------------------------------------------------
// SYCL queues of runtime-4 interops, adopted by the library. Keys are copies,
// so a key's queue cannot go away and another queue cannot take its identity.

struct owner_order {
  bool operator()(const sycl::queue& a, const sycl::queue& b) const {
    return a.ext_ulmara_owner_before(b);
  }
};
using adopted_map = std::map<sycl::queue, std::unique_ptr<sycl::queue>, owner_order>;

struct adopted_queues {
  adopted_map* map = new adopted_map;  // freed at exit with the other caches' objects
  gpu::interop_rw_lock lock;
};
adopted_queues adopted;

struct free_adopted_at_exit {
  free_adopted_at_exit() {
    std::atexit([] {
      delete adopted.map;
      adopted.map = nullptr;
    });
  }
};
const free_adopted_at_exit adopted_clean_up;

sycl::queue* find_adopted(const sycl::queue& queue) {
  auto it = adopted.map->find(queue);
  return it == adopted.map->end() ? nullptr : it->second.get();
}

// ---------------------------------------------------------------------------
// Interop queries.

void* pointer_property(omp_interop_t interop, int property, const char* failure_message) {
  int code = omp_irc_success;
  void* value = omp_get_interop_ptr(interop, property, &code);
  if (code != omp_irc_success) throw dft_omp_offload_exception(failure_message);
  return value;
}

sycl::queue* native_interop_queue(omp_interop_t interop, std::int32_t runtime_id, void* targetsync,
                                  const char* queue_message) {
  void* device = pointer_property(interop, omp_ipr_device, queue_message);
  void* context = pointer_property(interop, omp_ipr_device_context, queue_message);
  if (runtime_id == foreign_runtime_nivolo) {
    sycl::device sycl_device = gpu::get_sycl_device_from_native(device);
    sycl::context* c = gpu::lookup_and_cache_ovrax_context(context, device, QEZ_GPU_BACKEND_NIVOLO,
                                                           &sycl_device);
    return gpu::lookup_and_cache_ovrax_queue(targetsync, QEZ_GPU_BACKEND_NIVOLO, *c, interop);
  }
  sycl::context* c = gpu::lookup_and_cache_ovrax_context(context, device, QEZ_GPU_BACKEND_OPENCL, nullptr);
  return gpu::lookup_and_cache_ovrax_queue(targetsync, QEZ_GPU_BACKEND_OPENCL, *c, interop);
}

}  // namespace

std::int32_t query_runtime_id(omp_interop_t interop) {
  int code = omp_irc_empty;
  const std::int32_t id = omp_get_interop_int(interop, omp_ipr_fr_id, &code);
  if (code != omp_irc_success) throw dft_omp_offload_exception(runtime_id_message);
  return id;
}

sycl::queue* resolve_interop_queue(omp_interop_t interop, std::int32_t runtime_id,
                                   const char* queue_message) {
  switch (runtime_id) {
    case foreign_runtime_sycl: {
      void* targetsync = pointer_property(interop, omp_ipr_targetsync, queue_message);
      if (targetsync == nullptr) throw dft_omp_offload_exception(queue_message);
      return adopt_sycl_interop_queue(*static_cast<sycl::queue*>(targetsync));
    }
    case foreign_runtime_opencl:
    case foreign_runtime_nivolo: {
      void* targetsync = pointer_property(interop, omp_ipr_targetsync, queue_message);
      return native_interop_queue(interop, runtime_id, targetsync, queue_message);
    }
    default: return nullptr;
  }
}

sycl::queue* adopt_sycl_interop_queue(const sycl::queue& borrowed) {
  {
    gpu::read_lock_guard guard(adopted.lock);
    if (sycl::queue* hit = find_adopted(borrowed)) return hit;
  }
  gpu::write_lock_guard guard(adopted.lock);
  if (sycl::queue* hit = find_adopted(borrowed)) return hit;
  auto owned = std::make_unique<sycl::queue>(borrowed);
  sycl::queue* result = owned.get();
  adopted.map->emplace(borrowed, std::move(owned));
  return result;
}

}  // namespace ulmara::qez::omp
