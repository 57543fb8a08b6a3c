// Device registry: queue-to-device ring, device records, Nivolo-to-OpenCL map.
#include "gpu/service/device_registry.hpp"

#include <cstddef>
#include <cstring>
#include <new>

#include "gpu/service/architecture.hpp"
#include "gpu/service/native_handles.hpp"
#include "gpu/service/nivolo_loader.hpp"
#include "gpu/service/opencl_loader.hpp"
#include "gpu/service/service_errors.hpp"
#include "gpu/service/service_lock.hpp"
#include "gpu/service/sycl_destructor_registry.hpp"
#include "qez_service.h"

namespace ulmara::qez::gpu {
namespace {

constexpr int record_alignment = 64;
constexpr std::int32_t pointer_array_step = 8;
constexpr std::uint32_t empty_ring_index = 0xFFFFFFFFu;
constexpr int opencl_no_device = -1;  // CL_DEVICE_NOT_FOUND

// Grows an array of pointers by eight slots; false (array kept) on failure.
template <class T>
bool grow_pointer_array(T*** array, std::int32_t* capacity) {
  const std::size_t bytes = static_cast<std::size_t>(*capacity) * sizeof(T*) + pointer_array_step * sizeof(T*);
  void* grown = qez_serv_realloc(*array, bytes);
  if (grown == nullptr) return false;
  *array = static_cast<T**>(grown);
  *capacity += pointer_array_step;
  return true;
}

// ---- queue-to-device-id ring ----

struct device_id_entry {
  std::uint64_t device_id;
  const void* queue_identity;
  sycl::ext::ulmara::weak_object<sycl::queue> queue;
};

struct device_id_table {
  device_id_entry** entries;
  std::int32_t capacity;
  std::int32_t count;
  std::uint32_t next_ring_index;
  std::uint32_t last_index;
  volatile std::uint32_t lock_word;
};
device_id_table id_table = {nullptr, 0, 0, 0, empty_ring_index, 0};

const void* identity_of(const sycl::queue& queue) { return sycl::detail::get_impl(queue).get(); }

std::uint32_t ring_step_back(std::uint32_t index) {
  return (index + device_id_ring_limit - 1) % device_id_ring_limit;
}

bool find_device_id(const sycl::queue& queue, std::uint64_t* device_id) {
  service_lock_guard guard(&id_table.lock_word);
  const void* identity = identity_of(queue);
  std::uint32_t index = id_table.last_index;
  for (std::int32_t seen = 0; seen < id_table.count; ++seen, index = ring_step_back(index)) {
    const device_id_entry* entry = id_table.entries[index];
    if (!entry->queue.expired() && entry->queue_identity == identity) {
      *device_id = entry->device_id;
      return true;
    }
  }
  return false;
}

void fill_entry(device_id_entry* entry, std::uint64_t device_id, const sycl::queue& queue) {
  entry->device_id = device_id;
  entry->queue_identity = identity_of(queue);
  entry->queue = queue;
}

void reuse_oldest_entry(std::uint64_t device_id, const sycl::queue& queue) {
  fill_entry(id_table.entries[id_table.next_ring_index], device_id, queue);
  id_table.last_index = id_table.next_ring_index;
  id_table.next_ring_index = (id_table.next_ring_index + 1) % device_id_ring_limit;
}

void append_entry(std::uint64_t device_id, const sycl::queue& queue) {
  void* block = qez_serv_malloc(sizeof(device_id_entry), record_alignment);
  if (block == nullptr) return;
  auto* entry = new (block) device_id_entry{device_id, nullptr, {}};
  fill_entry(entry, device_id, queue);
  id_table.last_index = (id_table.last_index + 1) % device_id_ring_limit;
  id_table.entries[id_table.last_index] = entry;
  ++id_table.count;
}

// A failed growth or allocation leaves the id unremembered.
void remember_device_id(std::uint64_t device_id, const sycl::queue& queue) {
  service_lock_guard guard(&id_table.lock_word);
  if (id_table.count >= device_id_ring_limit) {
    reuse_oldest_entry(device_id, queue);
    return;
  }
  if (id_table.count == id_table.capacity && !grow_pointer_array(&id_table.entries, &id_table.capacity))
    return;
  append_entry(device_id, queue);
}

void free_device_id_table() {
  service_lock_guard guard(&id_table.lock_word);
  for (std::int32_t i = 0; i < id_table.count; ++i) {
    id_table.entries[i]->~device_id_entry();
    qez_serv_free(id_table.entries[i]);
  }
  qez_serv_free(id_table.entries);
  // Field by field: the lock word is held here and only the guard writes it.
  id_table.entries = nullptr;
  id_table.capacity = id_table.count = 0;
  id_table.next_ring_index = 0;
  id_table.last_index = empty_ring_index;
}

// ---- device records ----

struct device_record_table {
  qez_gpu_device_record_t** records;
  std::int32_t capacity;
  std::int32_t count;
  std::uint8_t registered;
  volatile std::uint32_t lock_word;
};
device_record_table record_table = {nullptr, 0, 0, 0, 0};

template <class Value>
bool query_device(cl_device_id device, cl_device_info parameter, Value* value) {
  return ocl::clGetDeviceInfo(device, parameter, sizeof(Value), value, nullptr) == CL_SUCCESS;
}

void describe_opencl_device(qez_gpu_device_record_t* record) {
  const auto device = reinterpret_cast<cl_device_id>(record->device_id);
  record->backend = QEZ_GPU_BACKEND_OPENCL;
  cl_uint tiles = 0, compute_units = 0;
  std::size_t work_group = 0;
  if (query_device(device, CL_DEVICE_PARTITION_MAX_SUB_DEVICES, &tiles)) record->tile_count = tiles ? tiles : 1;
  if (query_device(device, CL_DEVICE_MAX_COMPUTE_UNITS, &compute_units)) record->eu_count = compute_units;
  if (query_device(device, CL_DEVICE_MAX_WORK_GROUP_SIZE, &work_group))
    record->max_work_group_size = static_cast<std::uint32_t>(work_group);
}

void describe_nivolo_device(qez_gpu_device_record_t* record, const sycl::device& device) {
  record->backend = QEZ_GPU_BACKEND_NIVOLO;
  if (load_qx_loader() == 0) {
    std::uint32_t sub_devices = 0;
    if (qez_qxDeviceGetSubDevices(reinterpret_cast<qx_device_handle_t>(record->device_id), &sub_devices,
                                  nullptr) == QX_RESULT_SUCCESS)
      record->tile_count = sub_devices ? sub_devices : 1;
  }
  record->max_work_group_size =
      static_cast<std::uint32_t>(device.get_info<sycl::info::device::max_work_group_size>());
  record->eu_count = device.get_info<sycl::info::device::max_compute_units>();
}

qez_gpu_device_record_t* new_device_record(std::uint64_t device_id, const sycl::device& device) {
  void* block = qez_serv_malloc(sizeof(qez_gpu_device_record_t), record_alignment);
  if (block == nullptr) return nullptr;
  auto* record = static_cast<qez_gpu_device_record_t*>(block);
  *record = qez_gpu_device_record_t{};
  record->device_id = device_id;
  record->tile_count = 1;
  record->backend = QEZ_GPU_BACKEND_OTHER;
  switch (device.get_backend()) {
    case sycl::backend::opencl:
      describe_opencl_device(record);
      break;
    case sycl::backend::ext_ulmara_nivolo:
      describe_nivolo_device(record, device);
      break;
    default:
      break;
  }
  return record;
}

qez_gpu_device_record_t* find_record(std::uint64_t device_id) {
  for (std::int32_t i = 0; i < record_table.count; ++i)
    if (record_table.records[i]->device_id == device_id) return record_table.records[i];
  return nullptr;
}

void free_record_table() {
  service_lock_guard guard(&record_table.lock_word);
  for (std::int32_t i = 0; i < record_table.count; ++i) qez_serv_free(record_table.records[i]);
  qez_serv_free(record_table.records);
  record_table.records = nullptr;
  record_table.capacity = record_table.count = 0;
}

// ---- Nivolo device to OpenCL device and context ----

struct cl_twin {
  void* nivolo_device;
  cl_device_id device;
  cl_context context;
};

struct cl_twin_table {
  cl_twin* twins;
  std::int32_t count;
  std::int32_t capacity;
  std::uint8_t registered;
  volatile std::uint32_t lock_word;
};
cl_twin_table twin_table = {nullptr, 0, 0, 0, 0};

constexpr std::int32_t first_twin_capacity = 16;
constexpr cl_uint max_platforms = 16;
constexpr cl_uint max_devices_per_platform = 16;

void grow_twin_table() {
  const std::int32_t capacity = twin_table.capacity ? twin_table.capacity * 2 : first_twin_capacity;
  void* grown = qez_serv_realloc(twin_table.twins, static_cast<std::size_t>(capacity) * sizeof(cl_twin));
  if (grown == nullptr) return;
  twin_table.twins = static_cast<cl_twin*>(grown);
  twin_table.capacity = capacity;
}

bool same_hardware(cl_device_id device, const qx_device_properties_t& properties) {
  cl_uint vendor = 0, clock = 0;
  return query_device(device, CL_DEVICE_VENDOR_ID, &vendor) && vendor == properties.vendorId &&
         query_device(device, CL_DEVICE_MAX_CLOCK_FREQUENCY, &clock) && clock == properties.coreClockRate;
}

bool twin_on_platform(cl_platform_id platform, const qx_device_properties_t& properties, cl_twin* twin) {
  cl_device_id devices[max_devices_per_platform];
  cl_uint count = 0;
  if (ocl::clGetDeviceIDs(platform, CL_DEVICE_TYPE_GPU, max_devices_per_platform, devices, &count) != CL_SUCCESS)
    return false;
  for (cl_uint i = 0; i < count && i < max_devices_per_platform; ++i) {
    if (!same_hardware(devices[i], properties)) continue;
    cl_int error = CL_SUCCESS;
    cl_context context = ocl::clCreateContext(nullptr, 1, &devices[i], nullptr, nullptr, &error);
    if (error != CL_SUCCESS || context == nullptr) continue;
    twin->device = devices[i];
    twin->context = context;
    return true;
  }
  return false;
}

bool find_cl_twin(void* nivolo_device, cl_twin* twin) {
  if (load_qx_loader() != 0 || load_opencl_library() != 0) return false;
  qx_device_properties_t properties = {};
  properties.stype = QX_STRUCTURE_TYPE_DEVICE_PROPERTIES;
  if (qez_qxDeviceGetProperties(static_cast<qx_device_handle_t>(nivolo_device), &properties) != QX_RESULT_SUCCESS ||
      properties.type != QX_DEVICE_TYPE_GPU)
    return false;
  cl_platform_id platforms[max_platforms];
  cl_uint count = 0;
  if (ocl::clGetPlatformIDs(max_platforms, platforms, &count) != CL_SUCCESS) return false;
  twin->nivolo_device = nivolo_device;
  for (cl_uint i = 0; i < count && i < max_platforms; ++i)
    if (twin_on_platform(platforms[i], properties, twin)) return true;
  return false;
}

const cl_twin* find_stored_twin(void* nivolo_device) {
  for (std::int32_t i = 0; i < twin_table.count; ++i)
    if (twin_table.twins[i].nivolo_device == nivolo_device) return &twin_table.twins[i];
  return nullptr;
}

void hand_out(const cl_twin& twin, void** cl_device, void** cl_context) {
  if (cl_device) *cl_device = twin.device;
  if (cl_context) *cl_context = twin.context;
}

// Copies the record but not its lock word: threads waiting for the lock
// compare-and-swap that word while the copy is taken, so it is never read
// as plain memory.
void copy_record(const qez_gpu_device_record_t& record, qez_gpu_device_info_t* info) {
  constexpr std::size_t lock_at = offsetof(qez_gpu_device_record_t, record_lock);
  constexpr std::size_t after_lock = lock_at + sizeof(qez_gpu_device_record_t::record_lock);
  const auto* from = reinterpret_cast<const unsigned char*>(&record);
  auto* to = reinterpret_cast<unsigned char*>(info);
  std::memcpy(to, from, lock_at);
  std::memcpy(to + after_lock, from + after_lock, sizeof(qez_gpu_device_record_t) - after_lock);
  info->record_lock = 0;
}

}  // namespace

// ---- exported operations ----

void* get_device_id(int*, sycl::queue* queue) {
  std::uint64_t device_id = 0;
  if (find_device_id(*queue, &device_id)) return reinterpret_cast<void*>(device_id);
  device_id = reinterpret_cast<std::uint64_t>(native_device_handle(queue));
  remember_device_id(device_id, *queue);
  return reinterpret_cast<void*>(device_id);
}

qez_gpu_device_record_t* get_device_record(int* status, sycl::queue* queue) {
  const auto device_id = reinterpret_cast<std::uint64_t>(get_device_id(status, queue));
  service_lock_guard guard(&record_table.lock_word);
  if (!record_table.registered) {
    register_sycl_destructor(free_device_registry);
    record_table.registered = 1;
  }
  if (qez_gpu_device_record_t* record = find_record(device_id)) return record;
  qez_gpu_device_record_t* record = nullptr;
  if (record_table.count < record_table.capacity ||
      grow_pointer_array(&record_table.records, &record_table.capacity))
    record = new_device_record(device_id, queue->get_device());
  if (record == nullptr) {
    guard.unlock();
    throw_opencl_error(opencl_out_of_host_memory);
  }
  record_table.records[record_table.count++] = record;
  return record;
}

int get_tile_count(sycl::queue* queue) {
  int status = 0;
  return static_cast<int>(get_device_record(&status, queue)->tile_count);
}

int get_eu_count(sycl::queue* queue) {
  int status = 0;
  return static_cast<int>(get_device_record(&status, queue)->eu_count);
}

int qez_gpu_get_max_workgroup_size(sycl::queue* queue) {
  int status = 0;
  return static_cast<int>(get_device_record(&status, queue)->max_work_group_size);
}

qez_gpu_backend_t get_queue_backend(sycl::queue* queue) {
  int status = 0;
  return get_device_record(&status, queue)->backend;
}

int get_device_info(sycl::queue* queue, qez_gpu_device_info_t* info) {
  int status = 0;
  qez_gpu_device_record_t* record = get_device_record(&status, queue);
  service_lock_guard guard(&record->record_lock);
  copy_record(*record, info);
  return 0;
}

int get_device_info_with_arch(sycl::queue* queue, qez_gpu_device_info_t* info) {
  int status = 0;
  qez_gpu_device_record_t* record = get_device_record(&status, queue);
  if (!architecture_published(*record)) ensure_architecture(queue, record);
  return get_device_info(queue, info);
}

void qez_gpu_get_cl_device_context(int* status, sycl::queue* queue, void** cl_device, void** cl_context) {
  void* device = nullptr;
  void* context = nullptr;
  switch (get_queue_backend(queue)) {
    case QEZ_GPU_BACKEND_NIVOLO:
      match_cl_device_context(status, get_device_id(status, queue), &device, &context);
      break;
    case QEZ_GPU_BACKEND_OPENCL:
      device = get_device_id(status, queue);
      context = native_context_handle(nullptr, queue, backend_of_queue);
      break;
    default:
      break;
  }
  if (cl_device) *cl_device = device;
  if (cl_context) *cl_context = context;
}

void match_cl_device_context(int*, void* nivolo_device, void** cl_device, void** cl_context) {
  service_lock_guard guard(&twin_table.lock_word);
  if (!twin_table.registered) {
    register_sycl_destructor(free_cl_device_context_map);
    twin_table.registered = 1;
  }
  if (const cl_twin* stored = find_stored_twin(nivolo_device)) {
    hand_out(*stored, cl_device, cl_context);
    return;
  }
  if (twin_table.count == twin_table.capacity) grow_twin_table();
  cl_twin twin = {};
  if (twin_table.count == twin_table.capacity || !find_cl_twin(nivolo_device, &twin)) {
    // Without room the context could not be kept; it is never made.
    guard.unlock();
    throw_opencl_error(opencl_no_device);
  }
  twin_table.twins[twin_table.count++] = twin;
  hand_out(twin, cl_device, cl_context);
}

void free_device_registry() {
  free_record_table();
  free_device_id_table();
}

void free_cl_device_context_map() {
  service_lock_guard guard(&twin_table.lock_word);
  for (std::int32_t i = 0; i < twin_table.count; ++i) ocl::clReleaseContext(twin_table.twins[i].context);
  qez_serv_free(twin_table.twins);
  twin_table.twins = nullptr;
  twin_table.count = twin_table.capacity = 0;
}

std::int32_t device_id_ring_count() {
  service_lock_guard guard(&id_table.lock_word);
  return id_table.count;
}

std::int32_t device_record_count() {
  service_lock_guard guard(&record_table.lock_word);
  return record_table.count;
}

}  // namespace ulmara::qez::gpu
