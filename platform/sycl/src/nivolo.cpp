// SYCL stand-in: the Nivolo backend. With STANDIN_SYCL_GPU_BACKEND=nivolo the
// runtime loads the Nivolo driver ("qx_loader", from the system directory
// STANDIN_SYSTEM_DIR, as the library does) and lists its GPUs on a platform
// of their own, ahead of the OpenCL platform that presents the same
// hardware. Contexts, queues, modules and kernels of that platform are the
// driver's; the driver names the OpenCL objects that carry their memory and
// work on this machine, so the rest of the runtime runs them as it runs
// OpenCL ones.
#include <dlfcn.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "runtime.hpp"

namespace sycl {
inline namespace _V1 {
namespace detail {
namespace {

constexpr const char* backend_variable = "STANDIN_SYCL_GPU_BACKEND";
constexpr const char* system_directory_variable = "STANDIN_SYSTEM_DIR";
constexpr const char* driver_file = "libqez_qx_loader.so";

bool nivolo_requested() {
  const char* value = std::getenv(backend_variable);
  return value != nullptr && std::strcmp(value, "nivolo") == 0;
}

// Null unless every entry resolves and the driver initialises.
nivolo_driver* load_driver() {
  const char* dir = std::getenv(system_directory_variable);
  if (dir == nullptr) return nullptr;
  const std::string path = std::string(dir) + "/" + driver_file;
  void* module = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (module == nullptr) return nullptr;
  auto* driver = new nivolo_driver{};
#define QEZ_NIVOLO_RUNTIME_ENTRY(name, parameters)                                  \
  driver->name = reinterpret_cast<name##_fn>(dlsym(module, #name));                 \
  if (driver->name == nullptr) {                                                    \
    delete driver;                                                                  \
    return nullptr;                                                                 \
  }
  QEZ_NIVOLO_RUNTIME_ENTRIES
#undef QEZ_NIVOLO_RUNTIME_ENTRY
  if (driver->qxInit(0) != QX_RESULT_SUCCESS) {
    delete driver;
    return nullptr;
  }
  return driver;  // the module stays loaded for the life of the process
}

// The OpenCL presentation of the hardware behind a Nivolo device.
const device_impl* opencl_twin(const std::vector<std::shared_ptr<platform_impl>>& platforms, cl_device_id cl) {
  for (const auto& p : platforms)
    if (!p->nivolo)
      for (const auto& d : p->devices)
        if (d->cl == cl) return d.get();
  return nullptr;
}

// A Nivolo device; its information is that of its OpenCL twin.
std::shared_ptr<device_impl> nivolo_device(const nivolo_driver& driver, qx_device_handle_t handle,
                                           platform_impl* platform, const device_impl& twin) {
  auto d = std::make_shared<device_impl>();
  d->cl = twin.cl;
  d->nivolo = handle;
  d->platform = platform;
  d->info = twin.info;
  uint32_t tiles = 0;
  if (driver.qxDeviceGetSubDevices(handle, &tiles, nullptr) == QX_RESULT_SUCCESS)
    d->info.partition_max_sub_devices = tiles;
  return d;
}

}  // namespace

// A process that asks for the Nivolo backend must not run on another one
// unnoticed: without the driver it stops here.
const nivolo_driver* loaded_nivolo_driver() {
  static const nivolo_driver* driver = [] () -> const nivolo_driver* {
    if (!nivolo_requested()) return nullptr;
    if (const nivolo_driver* loaded = load_driver()) return loaded;
    std::fprintf(stderr, "%s=nivolo: no Nivolo driver %s in %s=%s that initialises\n", backend_variable, driver_file,
                 system_directory_variable, std::getenv(system_directory_variable) ? std::getenv(system_directory_variable) : "(unset)");
    std::abort();
  }();
  return driver;
}

void check_qx(const char* call, qx_result_t result) {
  if (result == QX_RESULT_SUCCESS) return;
  char text[32];
  std::snprintf(text, sizeof text, "%x", static_cast<unsigned>(result));
  throw_error(result == QX_RESULT_ERROR_OUT_OF_HOST_MEMORY ? errc::memory_allocation : errc::runtime,
              std::string(call) + ": Nivolo error " + text);
}

std::shared_ptr<platform_impl> make_nivolo_platform(const nivolo_driver& driver,
                                                    const std::vector<std::shared_ptr<platform_impl>>& opencl) {
  uint32_t count = 0;
  if (driver.qxDeviceGet(&count, nullptr) != QX_RESULT_SUCCESS || count == 0) return nullptr;
  std::vector<qx_device_handle_t> handles(count);
  if (driver.qxDeviceGet(&count, handles.data()) != QX_RESULT_SUCCESS) return nullptr;
  auto p = std::make_shared<platform_impl>();
  p->nivolo = true;
  p->name = "Nivolo (SYCL stand-in)";
  p->vendor = "qez";
  p->version = "1.0";
  p->profile = "FULL_PROFILE";
  for (uint32_t i = 0; i < count; ++i) {
    cl_device_id cl = nullptr;
    if (driver.qxextDeviceGetOpenCL(handles[i], &cl) != QX_RESULT_SUCCESS) continue;
    if (const device_impl* twin = opencl_twin(opencl, cl))
      p->devices.push_back(nivolo_device(driver, handles[i], p.get(), *twin));
  }
  if (p->devices.empty()) return nullptr;
  return p;
}

const std::vector<std::shared_ptr<device_impl>>& nivolo_sub_devices(device_impl& d) {
  std::lock_guard<std::mutex> lk(d.sub_devices_m);
  if (!d.sub_devices.empty()) return d.sub_devices;
  const nivolo_driver& driver = *loaded_nivolo_driver();
  uint32_t count = 0;
  check_qx("qxDeviceGetSubDevices", driver.qxDeviceGetSubDevices(d.nivolo, &count, nullptr));
  if (count < 2) throw_error(errc::feature_not_supported, "the device cannot be partitioned");
  std::vector<qx_device_handle_t> handles(count);
  check_qx("qxDeviceGetSubDevices", driver.qxDeviceGetSubDevices(d.nivolo, &count, handles.data()));
  for (uint32_t i = 0; i < count; ++i) {
    auto sub = nivolo_device(driver, handles[i], d.platform, d);
    sub->root = false;
    sub->info.partition_max_sub_devices = 0;
    sub->info.max_compute_units = std::max<uint32_t>(1, d.info.max_compute_units / count);
    d.sub_devices.push_back(std::move(sub));
  }
  return d.sub_devices;
}

// ---- Objects of the driver held by runtime objects ----------------------------------

context_impl::context_impl(qx_context_handle_t native, bool owns_handle, std::vector<std::shared_ptr<device_impl>> devs,
                           async_handler h)
    : owns(owns_handle), devices(std::move(devs)), handler(std::move(h)) {
  if (devices.empty()) throw_error(errc::invalid, "a context needs at least one device");
  platform = devices.front()->platform;
  open_nivolo(native);
}

void context_impl::open_nivolo(qx_context_handle_t native) {
  const nivolo_driver& driver = *loaded_nivolo_driver();
  for (const auto& d : devices)
    if (!d->nivolo) throw_error(errc::invalid, "the devices of a Nivolo context must be Nivolo devices");
  if (native == nullptr) {
    std::vector<qx_device_handle_t> handles;
    for (const auto& d : devices) handles.push_back(d->nivolo);
    check_qx("qxContextCreate",
             driver.qxContextCreate(static_cast<uint32_t>(handles.size()), handles.data(), &native));
    owns = true;
  }
  cl = nivolo_carrier(native, owns, driver.qxextContextGetOpenCL, driver.qxContextDestroy, "qxextContextGetOpenCL");
  nivolo = native;
  clRetainContext(cl);  // released by the destructor; the driver keeps its own
}

void context_impl::close_nivolo() {
  clReleaseContext(cl);
  if (owns) loaded_nivolo_driver()->qxContextDestroy(nivolo);
}

kernel_bundle_impl::~kernel_bundle_impl() {
  if (!owns_modules) return;
  for (qx_module_handle_t m : modules) loaded_nivolo_driver()->qxModuleDestroy(m);
}

}  // namespace detail
}  // namespace _V1
}  // namespace sycl
