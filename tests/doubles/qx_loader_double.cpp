// Test double of the Nivolo driver loader. Built in several variants (see
// CMakeLists.txt); a variant that lacks an entry point hides it with a
// version script, so the library meets a real missing export.
#include "tests/doubles/qx_loader_double.h"

#include <cstring>
#include <mutex>
#include <set>

#include "tests/doubles/qx_property_chain.hpp"

namespace {

struct qx_double_object {
  int kind;
};
qx_double_object the_device{1};
qx_double_object the_context{2};
qx_double_object sub_devices[8] = {{3}, {3}, {3}, {3}, {3}, {3}, {3}, {3}};

// Modules a test created and never destroyed are reclaimed when the driver
// is unloaded, as a real driver does at process exit.
struct module_registry {
  std::set<qx_double_object*> live;
  ~module_registry() {
    for (qx_double_object* m : live) delete m;
  }
};
module_registry modules;

std::mutex double_mutex;
qez_qx_double_config_t config;
qez_qx_double_calls_t calls;
bool configured = false;

void ensure_configured() {
  if (!configured) {
    qez_qx_double_default_config(&config);
    configured = true;
  }
}

}  // namespace

extern "C" {

void qez_qx_double_default_config(qez_qx_double_config_t* out) {
  std::memset(out, 0, sizeof *out);
  out->device_type = QX_DEVICE_TYPE_GPU;
  out->vendor_id = 0x7A71u;
  out->core_clock_rate = 1300;
  out->sub_device_count = 2;
}

void qez_qx_double_set_config(const qez_qx_double_config_t* in) {
  std::lock_guard<std::mutex> lock(double_mutex);
  config = *in;
  configured = true;
}

const qez_qx_double_calls_t* qez_qx_double_calls(void) { return &calls; }

void qez_qx_double_reset_calls(void) {
  std::lock_guard<std::mutex> lock(double_mutex);
  const int live = calls.live_modules;
  std::memset(&calls, 0, sizeof calls);
  calls.live_modules = live;
}

qx_device_handle_t qez_qx_double_device(void) {
  return reinterpret_cast<qx_device_handle_t>(&the_device);
}
qx_context_handle_t qez_qx_double_context(void) {
  return reinterpret_cast<qx_context_handle_t>(&the_context);
}

// ---- the driver interface ----

qx_result_t qxInit(uint32_t flags) {
  std::lock_guard<std::mutex> lock(double_mutex);
  ensure_configured();
  ++calls.init_calls;
  calls.init_flags = flags;
  return config.init_result;
}

qx_result_t qxDeviceGetProperties(qx_device_handle_t device, qx_device_properties_t* properties) {
  std::lock_guard<std::mutex> lock(double_mutex);
  ensure_configured();
  ++calls.properties_calls;
  if (properties == nullptr || device == nullptr) return 0x78000004u;  // invalid null pointer
  calls.properties_stype = properties->stype;
  qx_device_ip_version_ext_t* extension = qez_qx_ip_version_extension(properties->pNext);
  calls.ip_version_ext_stype = extension ? extension->stype : 0;
  if (config.properties_result != QX_RESULT_SUCCESS) return config.properties_result;
  properties->type = config.device_type;
  properties->vendorId = config.vendor_id;
  properties->coreClockRate = config.core_clock_rate;
  std::strncpy(properties->name, "Nivolo test double", QX_MAX_DEVICE_NAME - 1);
  if (extension != nullptr && config.has_ip_version) extension->ipVersion = config.ip_version;
  return QX_RESULT_SUCCESS;
}

qx_result_t qxDeviceGetSubDevices(qx_device_handle_t, uint32_t* count,
                                  qx_device_handle_t* sub_device_handles) {
  std::lock_guard<std::mutex> lock(double_mutex);
  ensure_configured();
  ++calls.sub_devices_calls;
  if (config.sub_devices_result != QX_RESULT_SUCCESS) return config.sub_devices_result;
  if (count == nullptr) return 0x78000004u;
  if (sub_device_handles == nullptr) {
    *count = config.sub_device_count;
    return QX_RESULT_SUCCESS;
  }
  const uint32_t n = *count < config.sub_device_count ? *count : config.sub_device_count;
  for (uint32_t i = 0; i < n && i < 8; ++i)
    sub_device_handles[i] = reinterpret_cast<qx_device_handle_t>(&sub_devices[i]);
  *count = n;
  return QX_RESULT_SUCCESS;
}

qx_result_t qxModuleCreate(qx_context_handle_t context, qx_device_handle_t device,
                           const qx_module_desc_t* desc, qx_module_handle_t* module,
                           qx_module_build_log_handle_t* build_log) {
  std::lock_guard<std::mutex> lock(double_mutex);
  ensure_configured();
  ++calls.module_create_calls;
  calls.module_context = context;
  calls.module_device = device;
  calls.module_build_log_arg = build_log;
  if (desc != nullptr) {
    calls.module_desc = *desc;
    calls.module_build_flags = desc->pBuildFlags;
    if (desc->pInputModule != nullptr && desc->inputSize <= QEZ_QX_DOUBLE_MODULE_BYTES_MAX)
      std::memcpy(calls.module_bytes, desc->pInputModule, desc->inputSize);
  }
  if (config.module_create_result != QX_RESULT_SUCCESS) return config.module_create_result;
  if (module == nullptr) return 0x78000004u;
  if (config.module_create_gives_null) {
    *module = nullptr;
    return QX_RESULT_SUCCESS;
  }
  auto* created = new qx_double_object{4};
  modules.live.insert(created);
  *module = reinterpret_cast<qx_module_handle_t>(created);
  ++calls.live_modules;
  return QX_RESULT_SUCCESS;
}

qx_result_t qxModuleGetNativeBinary(qx_module_handle_t module, size_t* size, uint8_t* bytes) {
  std::lock_guard<std::mutex> lock(double_mutex);
  ensure_configured();
  ++calls.native_binary_calls;
  if (config.native_binary_result != QX_RESULT_SUCCESS) return config.native_binary_result;
  if (module == nullptr || size == nullptr) return 0x78000004u;
  if (bytes == nullptr) {
    *size = config.native_binary_size;
    return QX_RESULT_SUCCESS;
  }
  if (*size < config.native_binary_size) return 0x78000004u;
  if (config.native_binary_size > 0) std::memcpy(bytes, config.native_binary, config.native_binary_size);
  *size = config.native_binary_size;
  return QX_RESULT_SUCCESS;
}

qx_result_t qxModuleDestroy(qx_module_handle_t module) {
  std::lock_guard<std::mutex> lock(double_mutex);
  ensure_configured();
  ++calls.module_destroy_calls;
  if (config.module_destroy_result != QX_RESULT_SUCCESS) return config.module_destroy_result;
  if (module == nullptr) return 0x78000004u;
  auto* destroyed = reinterpret_cast<qx_double_object*>(module);
  modules.live.erase(destroyed);
  delete destroyed;
  --calls.live_modules;
  return QX_RESULT_SUCCESS;
}

qx_result_t qxKernelCreate(qx_module_handle_t module, const qx_kernel_desc_t* desc,
                           qx_kernel_handle_t* kernel) {
  std::lock_guard<std::mutex> lock(double_mutex);
  ensure_configured();
  ++calls.kernel_create_calls;
  if (desc != nullptr) {
    calls.kernel_desc_stype = desc->stype;
    calls.kernel_desc_next = desc->pNext;
    calls.kernel_desc_flags = desc->flags;
    if (desc->pKernelName != nullptr)
      std::strncpy(calls.kernel_name, desc->pKernelName, QEZ_QX_DOUBLE_KERNEL_NAME_MAX - 1);
  }
  if (config.kernel_create_result != QX_RESULT_SUCCESS) return config.kernel_create_result;
  if (module == nullptr || kernel == nullptr) return 0x78000004u;
  static qx_double_object the_kernel{5};
  *kernel = reinterpret_cast<qx_kernel_handle_t>(&the_kernel);
  return QX_RESULT_SUCCESS;
}

}  // extern "C"
