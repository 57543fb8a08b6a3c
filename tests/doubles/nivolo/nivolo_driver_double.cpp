// Driver double of the Nivolo driver over OpenCL (see nivolo_driver_double.h).
#include "tests/doubles/nivolo/nivolo_driver_double.h"

#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "qez_gpu_profile.h"
#include "tests/doubles/qx_property_chain.hpp"

// The handles are pointers to these records; a record's kind tells a handle
// of one type from another, so a wrong or dangling handle is refused.
struct qx_device_object {
  cl_device_id cl;
  std::vector<std::unique_ptr<qx_device_object>> sub_devices;  // made on first request
};
struct qx_context_object {
  cl_context cl;
  std::vector<qx_device_handle_t> devices;
};
struct qx_command_queue_object {
  cl_command_queue cl;
};
struct qx_module_object {
  cl_program cl;
  cl_device_id device;
};
struct qx_kernel_object {
  cl_kernel cl;
};

namespace {

enum : qx_result_t {
  success = QX_RESULT_SUCCESS,
  uninitialized = QX_RESULT_ERROR_UNINITIALIZED,
  out_of_host_memory = QX_RESULT_ERROR_OUT_OF_HOST_MEMORY,
  module_build_failure = QX_RESULT_ERROR_MODULE_BUILD_FAILURE,
  invalid_null_handle = QX_RESULT_ERROR_INVALID_NULL_HANDLE,
  invalid_argument = QX_RESULT_ERROR_INVALID_ARGUMENT,
  invalid_kernel_name = QX_RESULT_ERROR_INVALID_KERNEL_NAME,
  device_lost = QX_RESULT_ERROR_DEVICE_LOST,
};

struct driver_state {
  std::mutex m;
  bool initialised = false;
  std::vector<std::unique_ptr<qx_device_object>> devices;  // never freed, as a driver's devices
  struct failure {
    qx_result_t result;
    int remaining;  // calls still to fail; negative: every call
  };
  std::map<std::string, failure> failures;
  std::map<std::string, int> calls;
  std::set<const void*> contexts, queues, modules, kernels;
};

driver_state& state() {
  static auto* s = new driver_state;  // outlives every static destructor that may call in
  return *s;
}

// Counts the call; the injected result of the entry, or success.
qx_result_t enter(driver_state& s, const char* name) {
  ++s.calls[name];
  auto it = s.failures.find(name);
  if (it == s.failures.end()) return success;
  const qx_result_t result = it->second.result;
  if (it->second.remaining > 0 && --it->second.remaining == 0) s.failures.erase(it);
  return result;
}

void find_gpu_devices(driver_state& s) {
  cl_uint platform_count = 0;
  if (clGetPlatformIDs(0, nullptr, &platform_count) != CL_SUCCESS || platform_count == 0) return;
  std::vector<cl_platform_id> platforms(platform_count);
  clGetPlatformIDs(platform_count, platforms.data(), nullptr);
  for (cl_platform_id platform : platforms) {
    cl_uint count = 0;
    if (clGetDeviceIDs(platform, CL_DEVICE_TYPE_GPU, 0, nullptr, &count) != CL_SUCCESS || count == 0) continue;
    std::vector<cl_device_id> ids(count);
    clGetDeviceIDs(platform, CL_DEVICE_TYPE_GPU, count, ids.data(), nullptr);
    for (cl_device_id id : ids) s.devices.push_back(std::make_unique<qx_device_object>(qx_device_object{id, {}}));
  }
}

bool is_device(const driver_state& s, qx_device_handle_t device) {
  for (const auto& root : s.devices) {
    if (root.get() == device) return true;
    for (const auto& sub : root->sub_devices)
      if (sub.get() == device) return true;
  }
  return false;
}

template <class T>
bool known(const std::set<const void*>& live, T* handle) {
  return handle != nullptr && live.count(handle) != 0;
}

// A new object over its OpenCL carrier, counted alive and handed out.
template <class Object, class Carrier>
qx_result_t hand_out(std::set<const void*>& live, Carrier carrier, Object** out) {
  auto* made = new Object{carrier};
  live.insert(made);
  *out = made;
  return success;
}

// Destroys a live object and releases its OpenCL carrier.
template <class Object, class Carrier>
qx_result_t destroy(std::set<const void*>& live, Object* object, cl_int (*release)(Carrier)) {
  if (!known(live, object)) return invalid_null_handle;
  live.erase(object);
  release(object->cl);
  delete object;
  return success;
}

template <class T>
cl_uint device_number(cl_device_id device, cl_device_info what) {
  T value = 0;
  if (clGetDeviceInfo(device, what, sizeof value, &value, nullptr) != CL_SUCCESS) return 0;
  return static_cast<cl_uint>(value);
}

void fill_properties(cl_device_id device, qx_device_properties_t* properties) {
  cl_device_type type = 0;
  clGetDeviceInfo(device, CL_DEVICE_TYPE, sizeof type, &type, nullptr);
  properties->type = (type & CL_DEVICE_TYPE_GPU) ? QX_DEVICE_TYPE_GPU : QX_DEVICE_TYPE_CPU;
  properties->vendorId = device_number<cl_uint>(device, CL_DEVICE_VENDOR_ID);
  properties->deviceId = device_number<cl_uint>(device, QEZ_CL_DEVICE_ID);
  properties->coreClockRate = device_number<cl_uint>(device, CL_DEVICE_MAX_CLOCK_FREQUENCY);
  properties->numEUsPerSubslice = device_number<cl_uint>(device, QEZ_CL_DEVICE_NUM_EUS_PER_SUB_SLICE);
  properties->numSubslicesPerSlice = device_number<cl_uint>(device, QEZ_CL_DEVICE_NUM_SUB_SLICES_PER_SLICE);
  properties->numSlices = device_number<cl_uint>(device, QEZ_CL_DEVICE_NUM_SLICES);
  std::memset(properties->name, 0, sizeof properties->name);
  clGetDeviceInfo(device, CL_DEVICE_NAME, sizeof properties->name - 1, properties->name, nullptr);
  if (qx_device_ip_version_ext_t* extension = qez_qx_ip_version_extension(properties->pNext)) {
    cl_uint ip = 0;
    extension->ipVersion =
        clGetDeviceInfo(device, QEZ_CL_DEVICE_IP_VERSION, sizeof ip, &ip, nullptr) == CL_SUCCESS ? ip : 0;
  }
}

// Creates and builds the program a module description holds.
qx_result_t build_module_program(cl_context context, cl_device_id device, const qx_module_desc_t* desc,
                                 cl_program* out) {
  cl_int error = CL_SUCCESS;
  cl_program program = nullptr;
  if (desc->format == QX_MODULE_FORMAT_NATIVE) {
    const unsigned char* bytes = desc->pInputModule;
    const size_t size = desc->inputSize;
    program = clCreateProgramWithBinary(context, 1, &device, &size, &bytes, nullptr, &error);
  } else if (desc->format == QX_MODULE_FORMAT_IL_SPIRV) {
    program = clCreateProgramWithIL(context, desc->pInputModule, desc->inputSize, &error);
  } else {
    return invalid_argument;
  }
  if (error != CL_SUCCESS || program == nullptr) return module_build_failure;
  if (clBuildProgram(program, 1, &device, desc->pBuildFlags ? desc->pBuildFlags : "", nullptr, nullptr) !=
      CL_SUCCESS) {
    clReleaseProgram(program);
    return module_build_failure;
  }
  *out = program;
  return success;
}

qx_result_t program_binary(const qx_module_object& module, std::vector<unsigned char>* binary) {
  cl_uint count = 0;
  if (clGetProgramInfo(module.cl, CL_PROGRAM_NUM_DEVICES, sizeof count, &count, nullptr) != CL_SUCCESS)
    return device_lost;
  std::vector<cl_device_id> devices(count);
  std::vector<size_t> sizes(count);
  clGetProgramInfo(module.cl, CL_PROGRAM_DEVICES, count * sizeof(cl_device_id), devices.data(), nullptr);
  if (clGetProgramInfo(module.cl, CL_PROGRAM_BINARY_SIZES, count * sizeof(size_t), sizes.data(), nullptr) !=
      CL_SUCCESS)
    return device_lost;
  std::vector<std::vector<unsigned char>> bytes(count);
  std::vector<unsigned char*> pointers(count);
  for (cl_uint i = 0; i < count; ++i) {
    bytes[i].resize(sizes[i]);
    pointers[i] = bytes[i].data();
  }
  if (clGetProgramInfo(module.cl, CL_PROGRAM_BINARIES, count * sizeof(unsigned char*), pointers.data(), nullptr) !=
      CL_SUCCESS)
    return device_lost;
  for (cl_uint i = 0; i < count; ++i)
    if (devices[i] == module.device) {
      *binary = std::move(bytes[i]);
      return success;
    }
  return device_lost;
}

}  // namespace

extern "C" {

// ---- test controls ----

void qez_nivolo_double_fail(const char* name, qx_result_t result) {
  driver_state& s = state();
  std::lock_guard<std::mutex> lock(s.m);
  if (result == success) s.failures.erase(name);
  else s.failures[name] = {result, -1};
}

void qez_nivolo_double_fail_next(const char* name, qx_result_t result) {
  driver_state& s = state();
  std::lock_guard<std::mutex> lock(s.m);
  s.failures[name] = {result, 1};
}

void qez_nivolo_double_clear_failures(void) {
  driver_state& s = state();
  std::lock_guard<std::mutex> lock(s.m);
  s.failures.clear();
}

int qez_nivolo_double_calls(const char* name) {
  driver_state& s = state();
  std::lock_guard<std::mutex> lock(s.m);
  auto it = s.calls.find(name);
  return it == s.calls.end() ? 0 : it->second;
}

#define QEZ_LIVE_COUNT(what)                      \
  int qez_nivolo_double_live_##what(void) {       \
    driver_state& s = state();                    \
    std::lock_guard<std::mutex> lock(s.m);        \
    return static_cast<int>(s.what.size());       \
  }
QEZ_LIVE_COUNT(contexts)
QEZ_LIVE_COUNT(queues)
QEZ_LIVE_COUNT(modules)
QEZ_LIVE_COUNT(kernels)
#undef QEZ_LIVE_COUNT

// ---- the driver interface ----

#define QEZ_DRIVER_ENTRY(name)                                    \
  driver_state& s = state();                                      \
  std::lock_guard<std::mutex> lock(s.m);                          \
  if (const qx_result_t injected = enter(s, #name)) return injected;
#define QEZ_REQUIRE_INIT() \
  if (!s.initialised) return uninitialized;

qx_result_t qxInit(uint32_t) {
  QEZ_DRIVER_ENTRY(qxInit)
  if (!s.initialised) find_gpu_devices(s);
  s.initialised = true;
  return success;
}

qx_result_t qxDeviceGet(uint32_t* count, qx_device_handle_t* devices) {
  QEZ_DRIVER_ENTRY(qxDeviceGet)
  QEZ_REQUIRE_INIT()
  if (count == nullptr) return invalid_null_handle;
  const uint32_t available = static_cast<uint32_t>(s.devices.size());
  if (devices == nullptr) {
    *count = available;
    return success;
  }
  const uint32_t n = *count < available ? *count : available;
  for (uint32_t i = 0; i < n; ++i) devices[i] = s.devices[i].get();
  *count = n;
  return success;
}

qx_result_t qxDeviceGetProperties(qx_device_handle_t device, qx_device_properties_t* properties) {
  QEZ_DRIVER_ENTRY(qxDeviceGetProperties)
  QEZ_REQUIRE_INIT()
  if (properties == nullptr || !is_device(s, device)) return invalid_null_handle;
  if (properties->stype != QX_STRUCTURE_TYPE_DEVICE_PROPERTIES) return invalid_argument;
  fill_properties(device->cl, properties);
  return success;
}

// The sub-devices of a device are its tiles: as many as the profile's
// partition count (none for one tile), each on the same OpenCL device.
qx_result_t qxDeviceGetSubDevices(qx_device_handle_t device, uint32_t* count, qx_device_handle_t* sub_devices) {
  QEZ_DRIVER_ENTRY(qxDeviceGetSubDevices)
  QEZ_REQUIRE_INIT()
  if (count == nullptr || !is_device(s, device)) return invalid_null_handle;
  if (device->sub_devices.empty()) {
    const cl_uint tiles = device_number<cl_uint>(device->cl, CL_DEVICE_PARTITION_MAX_SUB_DEVICES);
    for (cl_uint i = 0; tiles > 1 && i < tiles; ++i)
      device->sub_devices.push_back(std::make_unique<qx_device_object>(qx_device_object{device->cl, {}}));
  }
  const uint32_t available = static_cast<uint32_t>(device->sub_devices.size());
  if (sub_devices == nullptr) {
    *count = available;
    return success;
  }
  const uint32_t n = *count < available ? *count : available;
  for (uint32_t i = 0; i < n; ++i) sub_devices[i] = device->sub_devices[i].get();
  *count = n;
  return success;
}

qx_result_t qxContextCreate(uint32_t device_count, const qx_device_handle_t* devices, qx_context_handle_t* context) {
  QEZ_DRIVER_ENTRY(qxContextCreate)
  QEZ_REQUIRE_INIT()
  if (context == nullptr || devices == nullptr || device_count == 0) return invalid_null_handle;
  std::vector<cl_device_id> ids;
  for (uint32_t i = 0; i < device_count; ++i) {
    if (!is_device(s, devices[i])) return invalid_null_handle;
    ids.push_back(devices[i]->cl);
  }
  cl_int error = CL_SUCCESS;
  cl_context cl = clCreateContext(nullptr, static_cast<cl_uint>(ids.size()), ids.data(), nullptr, nullptr, &error);
  if (error != CL_SUCCESS || cl == nullptr) return out_of_host_memory;
  auto* made = new qx_context_object{cl, std::vector<qx_device_handle_t>(devices, devices + device_count)};
  s.contexts.insert(made);
  *context = made;
  return success;
}

qx_result_t qxContextDestroy(qx_context_handle_t context) {
  QEZ_DRIVER_ENTRY(qxContextDestroy)
  return destroy(s.contexts, context, clReleaseContext);
}

qx_result_t qxCommandQueueCreate(qx_context_handle_t context, qx_device_handle_t device, uint32_t flags,
                                 qx_command_queue_handle_t* queue) {
  QEZ_DRIVER_ENTRY(qxCommandQueueCreate)
  if (queue == nullptr || !known(s.contexts, context) || !is_device(s, device)) return invalid_null_handle;
  cl_queue_properties bits = 0;
  if (!(flags & QX_COMMAND_QUEUE_FLAG_IN_ORDER)) bits |= CL_QUEUE_OUT_OF_ORDER_EXEC_MODE_ENABLE;
  if (flags & QX_COMMAND_QUEUE_FLAG_PROFILING) bits |= CL_QUEUE_PROFILING_ENABLE;
  const cl_queue_properties properties[] = {CL_QUEUE_PROPERTIES, bits, 0};
  cl_int error = CL_SUCCESS;
  cl_command_queue cl = clCreateCommandQueueWithProperties(context->cl, device->cl, properties, &error);
  if (error != CL_SUCCESS || cl == nullptr) return out_of_host_memory;
  return hand_out(s.queues, cl, queue);
}

qx_result_t qxCommandQueueDestroy(qx_command_queue_handle_t queue) {
  QEZ_DRIVER_ENTRY(qxCommandQueueDestroy)
  return destroy(s.queues, queue, clReleaseCommandQueue);
}

qx_result_t qxModuleCreate(qx_context_handle_t context, qx_device_handle_t device, const qx_module_desc_t* desc,
                           qx_module_handle_t* module, qx_module_build_log_handle_t*) {
  QEZ_DRIVER_ENTRY(qxModuleCreate)
  QEZ_REQUIRE_INIT()
  if (module == nullptr || desc == nullptr || desc->pInputModule == nullptr || !known(s.contexts, context) ||
      !is_device(s, device))
    return invalid_null_handle;
  if (desc->stype != QX_STRUCTURE_TYPE_MODULE_DESC) return invalid_argument;
  cl_program program = nullptr;
  if (const qx_result_t built = build_module_program(context->cl, device->cl, desc, &program)) return built;
  auto* made = new qx_module_object{program, device->cl};
  s.modules.insert(made);
  *module = made;
  return success;
}

qx_result_t qxModuleGetNativeBinary(qx_module_handle_t module, size_t* size, uint8_t* bytes) {
  QEZ_DRIVER_ENTRY(qxModuleGetNativeBinary)
  if (size == nullptr || !known(s.modules, module)) return invalid_null_handle;
  std::vector<unsigned char> binary;
  if (const qx_result_t result = program_binary(*module, &binary)) return result;
  if (bytes == nullptr) {
    *size = binary.size();
    return success;
  }
  if (*size < binary.size()) return invalid_argument;
  std::memcpy(bytes, binary.data(), binary.size());
  *size = binary.size();
  return success;
}

qx_result_t qxModuleDestroy(qx_module_handle_t module) {
  QEZ_DRIVER_ENTRY(qxModuleDestroy)
  return destroy(s.modules, module, clReleaseProgram);  // its kernels hold their own references
}

qx_result_t qxKernelCreate(qx_module_handle_t module, const qx_kernel_desc_t* desc, qx_kernel_handle_t* kernel) {
  QEZ_DRIVER_ENTRY(qxKernelCreate)
  if (kernel == nullptr || desc == nullptr || desc->pKernelName == nullptr || !known(s.modules, module))
    return invalid_null_handle;
  if (desc->stype != QX_STRUCTURE_TYPE_KERNEL_DESC) return invalid_argument;
  cl_int error = CL_SUCCESS;
  cl_kernel cl = clCreateKernel(module->cl, desc->pKernelName, &error);
  if (error != CL_SUCCESS || cl == nullptr) return invalid_kernel_name;
  return hand_out(s.kernels, cl, kernel);
}

qx_result_t qxKernelDestroy(qx_kernel_handle_t kernel) {
  QEZ_DRIVER_ENTRY(qxKernelDestroy)
  return destroy(s.kernels, kernel, clReleaseKernel);
}

// Waits outside the lock: other threads keep calling while one waits.
qx_result_t qxextEventHostSynchronize(cl_event event) {
  {
    QEZ_DRIVER_ENTRY(qxextEventHostSynchronize)
    if (event == nullptr) return invalid_null_handle;
  }
  return clWaitForEvents(1, &event) == CL_SUCCESS ? success : device_lost;
}

qx_result_t qxextDeviceGetOpenCL(qx_device_handle_t device, cl_device_id* out) {
  QEZ_DRIVER_ENTRY(qxextDeviceGetOpenCL)
  if (out == nullptr || !is_device(s, device)) return invalid_null_handle;
  *out = device->cl;
  return success;
}

// The OpenCL object that carries a context, queue or kernel.
#define QEZ_OPENCL_CARRIER(name, handle_type, live, carrier_type)      \
  qx_result_t name(handle_type handle, carrier_type* out) {            \
    QEZ_DRIVER_ENTRY(name)                                             \
    if (out == nullptr || !known(s.live, handle)) return invalid_null_handle; \
    *out = handle->cl;                                                 \
    return success;                                                    \
  }
QEZ_OPENCL_CARRIER(qxextContextGetOpenCL, qx_context_handle_t, contexts, cl_context)
QEZ_OPENCL_CARRIER(qxextCommandQueueGetOpenCL, qx_command_queue_handle_t, queues, cl_command_queue)
QEZ_OPENCL_CARRIER(qxextKernelGetOpenCL, qx_kernel_handle_t, kernels, cl_kernel)
#undef QEZ_OPENCL_CARRIER

#undef QEZ_REQUIRE_INIT
#undef QEZ_DRIVER_ENTRY

}  // extern "C"
