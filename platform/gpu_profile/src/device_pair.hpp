// Presenting the platform's first device as two GPUs (STANDIN_GPU_DEVICE_COUNT=2).
#pragma once

#include "profile_internal.hpp"

namespace qez_profile {

// 2 when STANDIN_GPU_DEVICE_COUNT is "2", else 1.
unsigned presented_device_count();
// The two halves that stand for the platform's devices; false when one
// device is presented or the device cannot be split (then the real list is).
bool presented_pair_devices(cl_platform_id platform, cl_device_id out[2]);
// Whether `d` is one of the two halves (they answer as root devices and
// live as long as the process: retain and release leave them alone).
bool is_presented_half(cl_device_id d);

}  // namespace qez_profile
