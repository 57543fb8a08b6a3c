// Presenting the platform's first device as two GPUs (STANDIN_GPU_DEVICE_COUNT=2).
#pragma once

#include <vector>

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
// 0 or 1 for the first or second half, -1 for any other device.
int presented_half_index(cl_device_id d);

// The device underneath answers for a context or program of halves with the
// whole device it split; these keep the devices each context was made of, so
// that contexts and programs can answer with the GPUs their caller knows.
// Records a new context when one of `devices` is a half (forgotten when the
// context is destroyed).
void remember_context_devices(cl_context context, cl_uint count, const cl_device_id* devices);
// The devices `context` was made of, when it was recorded.
bool presented_context_devices(cl_context context, std::vector<cl_device_id>* devices);

}  // namespace qez_profile
