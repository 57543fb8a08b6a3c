// Two GPUs out of one device: with STANDIN_GPU_DEVICE_COUNT=2 the first
// device of the platform is split into two halves (OpenCL sub-devices), and
// those two are what device enumeration presents, each as a root GPU of the
// profile. Callers that list GPUs (the verbose header, device registries)
// can so be exercised with more than one device on a machine that has one.
#include <cstdlib>
#include <cstring>
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

}  // namespace qez_profile
