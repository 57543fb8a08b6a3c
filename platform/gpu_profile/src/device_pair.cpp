// Two GPUs out of one device: with STANDIN_GPU_DEVICE_COUNT=2 the first
// device of the platform is split into two halves (OpenCL sub-devices), and
// those two are what device enumeration presents, each as a root GPU of the
// profile. Callers that list GPUs (the verbose header, device registries)
// can so be exercised with more than one device on a machine that has one.
// Contexts and programs of halves name the devices their context was made
// of (PoCL names the whole device there), and the second half reports a
// clock of its own, so a caller that tells GPUs apart by their clock can.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>

#include "device_pair.hpp"

namespace qez_profile {
namespace {

struct presented_pair {
  bool ready = false;
  cl_device_id devices[2] = {nullptr, nullptr};
};

// The halves of the platform's first device, made once per process and kept
// for its life; `ready` stays false when the device cannot be split.
const presented_pair& pair_of(cl_platform_id platform) {
  static presented_pair pair;
  static std::once_flag once;
  std::call_once(once, [platform] {
    cl_device_id whole = nullptr;
    if (next().clGetDeviceIDs(platform, CL_DEVICE_TYPE_ALL, 1, &whole, nullptr) != CL_SUCCESS) return;
    cl_uint units = 0;
    if (next().clGetDeviceInfo(whole, CL_DEVICE_MAX_COMPUTE_UNITS, sizeof units, &units, nullptr) != CL_SUCCESS ||
        units < 2 || next().clCreateSubDevices == nullptr)
      return;
    const cl_device_partition_property halves[] = {
        CL_DEVICE_PARTITION_EQUALLY, static_cast<cl_device_partition_property>(units / 2), 0};
    cl_device_id parts[8] = {};
    cl_uint made = 0;
    if (next().clCreateSubDevices(whole, halves, 8, parts, &made) != CL_SUCCESS || made < 2) return;
    for (cl_uint k = 2; k < made && k < 8; ++k) next().clReleaseDevice(parts[k]);
    pair.devices[0] = parts[0];
    pair.devices[1] = parts[1];
    pair.ready = true;
  });
  return pair;
}

// Contexts that hold a half, with the devices they were made of.
struct context_devices {
  std::mutex m;
  std::map<cl_context, std::vector<cl_device_id>> of;
};

context_devices& recorded_contexts() {
  static auto* table = new context_devices;  // destructor callbacks may come at exit
  return *table;
}

void CL_CALLBACK forget_context(cl_context context, void*) {
  context_devices& table = recorded_contexts();
  std::lock_guard<std::mutex> lock(table.m);
  table.of.erase(context);
}

}  // namespace

unsigned presented_device_count() {
  const char* v = std::getenv(QEZ_GPU_PROFILE_ENV_DEVICE_COUNT);
  return v != nullptr && std::strcmp(v, "2") == 0 ? 2u : 1u;
}

bool presented_pair_devices(cl_platform_id platform, cl_device_id out[2]) {
  if (presented_device_count() != 2) return false;
  const presented_pair& pair = pair_of(platform);
  if (!pair.ready) return false;
  out[0] = pair.devices[0];
  out[1] = pair.devices[1];
  return true;
}

bool is_presented_half(cl_device_id d) {
  if (d == nullptr || presented_device_count() != 2) return false;
  cl_platform_id platform = nullptr;
  if (next().clGetDeviceInfo(d, CL_DEVICE_PLATFORM, sizeof platform, &platform, nullptr) != CL_SUCCESS) return false;
  cl_device_id pair[2] = {};
  return presented_pair_devices(platform, pair) && (d == pair[0] || d == pair[1]);
}

int presented_half_index(cl_device_id d) {
  if (!is_presented_half(d)) return -1;
  cl_platform_id platform = nullptr;
  next().clGetDeviceInfo(d, CL_DEVICE_PLATFORM, sizeof platform, &platform, nullptr);
  cl_device_id pair[2] = {};
  presented_pair_devices(platform, pair);
  return d == pair[0] ? 0 : 1;
}

void remember_context_devices(cl_context context, cl_uint count, const cl_device_id* devices) {
  if (context == nullptr || devices == nullptr || std::none_of(devices, devices + count, is_presented_half)) return;
  // Without the callback a destroyed context's entry could outlive it and
  // answer for a later context at the same address.
  if (next().clSetContextDestructorCallback == nullptr ||
      next().clSetContextDestructorCallback(context, forget_context, nullptr) != CL_SUCCESS)
    return;
  context_devices& table = recorded_contexts();
  std::lock_guard<std::mutex> lock(table.m);
  table.of[context].assign(devices, devices + count);
}

bool presented_context_devices(cl_context context, std::vector<cl_device_id>* devices) {
  context_devices& table = recorded_contexts();
  std::lock_guard<std::mutex> lock(table.m);
  auto it = table.of.find(context);
  if (it == table.of.end()) return false;
  *devices = it->second;
  return true;
}

}  // namespace qez_profile
