// OpenMP offload runtime double: interop objects over SYCL, OpenCL or Nivolo
// handles, answered through the runtime's interop functions.
#include "tests/doubles/omptarget/omptarget_double.h"

#define CL_TARGET_OPENCL_VERSION 300
#include <CL/cl.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <set>
#include <thread>

namespace {

enum property : int {
  property_fr_id = -1,
  property_device = -7,
  property_device_context = -8,
  property_targetsync = -9,
  property_immediate_list = 10,
};
constexpr int lowest_counted_property = -16;
constexpr int counted_properties = 32;

struct interop {
  std::int32_t runtime_id = 0;
  void* targetsync = nullptr;
  void* device = nullptr;
  void* context = nullptr;
  std::int64_t property_10 = 0;
  bool owns_queue = false;
  bool owns_context = false;
  std::set<int> failing;
};

std::atomic<std::int64_t> query_counts[counted_properties];
std::atomic<std::int64_t> callback_calls{0};

// Stand-ins for the objects of a Nivolo driver: only their addresses matter.
struct nivolo_object {
  char tag;
};
nivolo_object nivolo_device{'d'}, nivolo_context{'c'}, nivolo_queue{'q'};

// With QEZ_OMP_DOUBLE_SLOW_LOAD set, loading takes a while, so that threads
// racing to load the runtime meet inside the load.
struct slow_load {
  slow_load() {
    if (std::getenv("QEZ_OMP_DOUBLE_SLOW_LOAD") != nullptr)
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
};
const slow_load slow_load_at_start;

void count(int property) {
  const int slot = property - lowest_counted_property;
  if (slot >= 0 && slot < counted_properties) query_counts[slot].fetch_add(1);
}

// The interop's answer to a query, or null with the return code of a failure.
interop* answerable(void* handle, int property, int* ret_code) {
  count(property);
  auto* i = static_cast<interop*>(handle);
  int code = QEZ_OMP_IRC_SUCCESS;
  if (i == nullptr) code = QEZ_OMP_IRC_EMPTY;
  else if (i->failing.count(property) != 0) code = QEZ_OMP_IRC_OTHER;
  if (ret_code != nullptr) *ret_code = code;
  return code == QEZ_OMP_IRC_SUCCESS ? i : nullptr;
}

void set_code(int* ret_code, int code) {
  if (ret_code != nullptr) *ret_code = code;
}

cl_device_id first_gpu() {
  cl_platform_id platform = nullptr;
  if (clGetPlatformIDs(1, &platform, nullptr) != CL_SUCCESS) return nullptr;
  cl_device_id device = nullptr;
  if (clGetDeviceIDs(platform, CL_DEVICE_TYPE_GPU, 1, &device, nullptr) != CL_SUCCESS) return nullptr;
  return device;
}

interop* opencl_interop_on(cl_context context, cl_device_id device) {
  cl_int err = CL_SUCCESS;
  cl_command_queue queue = clCreateCommandQueueWithProperties(context, device, nullptr, &err);
  if (err != CL_SUCCESS) return nullptr;
  auto* i = new interop;
  i->runtime_id = 3;
  i->targetsync = queue;
  i->device = device;
  i->context = context;
  i->owns_queue = true;
  i->owns_context = true;
  return i;
}

}  // namespace

// ---------------------------------------------------------------------------
// The runtime's interop functions.

extern "C" std::intptr_t omp_get_interop_int(void* handle, int property, int* ret_code) {
  interop* i = answerable(handle, property, ret_code);
  // The value of a failed query is no answer: a failed query of property 10
  // still gives the value set, so only its return code tells the failure.
  if (property == property_immediate_list && handle != nullptr)
    return static_cast<std::intptr_t>(static_cast<interop*>(handle)->property_10);
  if (i == nullptr) return 0;
  if (property == property_fr_id) return i->runtime_id;
  set_code(ret_code, QEZ_OMP_IRC_OUT_OF_RANGE);
  return 0;
}

extern "C" void* omp_get_interop_ptr(void* handle, int property, int* ret_code) {
  interop* i = answerable(handle, property, ret_code);
  if (i == nullptr) return nullptr;
  switch (property) {
    case property_targetsync: return i->targetsync;
    case property_device: return i->device;
    case property_device_context: return i->context;
    default: set_code(ret_code, QEZ_OMP_IRC_OUT_OF_RANGE); return nullptr;
  }
}

extern "C" const char* omp_get_interop_str(void* handle, int property, int* ret_code) {
  return answerable(handle, property, ret_code) != nullptr ? "omptarget double" : nullptr;
}

extern "C" int ompx_interop_add_completion_callback(void*, void*, void*) {
  callback_calls.fetch_add(1);
  return 0;
}

// ---------------------------------------------------------------------------
// Test controls.

extern "C" void* qez_omp_double_sycl_interop(void* sycl_queue) {
  return qez_omp_double_interop_with(4, sycl_queue, nullptr, nullptr);
}

extern "C" void* qez_omp_double_opencl_interop(void) {
  cl_device_id device = first_gpu();
  if (device == nullptr) return nullptr;
  cl_int err = CL_SUCCESS;
  cl_context context = clCreateContext(nullptr, 1, &device, nullptr, nullptr, &err);
  if (err != CL_SUCCESS) return nullptr;
  interop* i = opencl_interop_on(context, device);
  if (i == nullptr) clReleaseContext(context);
  return i;
}

extern "C" void* qez_omp_double_opencl_interop_sharing_context(void* other) {
  auto* o = static_cast<interop*>(other);
  auto context = static_cast<cl_context>(o->context);
  if (clRetainContext(context) != CL_SUCCESS) return nullptr;
  interop* i = opencl_interop_on(context, static_cast<cl_device_id>(o->device));
  if (i == nullptr) clReleaseContext(context);
  return i;
}

extern "C" void* qez_omp_double_nivolo_interop(void) {
  return qez_omp_double_interop_with(6, &nivolo_queue, &nivolo_device, &nivolo_context);
}

extern "C" void* qez_omp_double_interop_with(int32_t runtime_id, void* targetsync, void* device,
                                             void* context) {
  auto* i = new interop;
  i->runtime_id = runtime_id;
  i->targetsync = targetsync;
  i->device = device;
  i->context = context;
  return i;
}

extern "C" void qez_omp_double_destroy_interop(void* handle) {
  auto* i = static_cast<interop*>(handle);
  if (i == nullptr) return;
  if (i->owns_queue) clReleaseCommandQueue(static_cast<cl_command_queue>(i->targetsync));
  if (i->owns_context) clReleaseContext(static_cast<cl_context>(i->context));
  delete i;
}

extern "C" void qez_omp_double_fail_property(void* handle, int property) {
  static_cast<interop*>(handle)->failing.insert(property);
}

extern "C" void qez_omp_double_set_property_10(void* handle, int64_t value) {
  static_cast<interop*>(handle)->property_10 = value;
}

extern "C" void* qez_omp_double_targetsync(void* handle) { return static_cast<interop*>(handle)->targetsync; }
extern "C" void* qez_omp_double_device(void* handle) { return static_cast<interop*>(handle)->device; }
extern "C" void* qez_omp_double_context(void* handle) { return static_cast<interop*>(handle)->context; }

extern "C" int64_t qez_omp_double_query_count(int property) {
  const int slot = property - lowest_counted_property;
  return slot >= 0 && slot < counted_properties ? query_counts[slot].load() : 0;
}

extern "C" void qez_omp_double_reset_counts(void) {
  for (auto& c : query_counts) c.store(0);
}

extern "C" int64_t qez_omp_double_callback_count(void) { return callback_calls.load(); }
