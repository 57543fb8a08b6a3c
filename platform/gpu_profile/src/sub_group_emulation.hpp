// STANDIN_GPU_SUB_GROUPS=emulate: the device reports the vendor sub-group
// extensions, and every program made from source gets a prelude that
// implements their built-ins on a device without sub-groups (PoCL).
#pragma once

#include <string>
#include <vector>

#include "profile_internal.hpp"

namespace qez_profile {

// Whether STANDIN_GPU_SUB_GROUPS asks for the emulation (read once).
bool sub_groups_emulated();

// The extension names the emulating device adds to CL_DEVICE_EXTENSIONS.
const char* emulated_sub_group_extensions();

// The prelude that goes ahead of every source of a program.
const std::string& sub_group_prelude();

// clBuildProgram under the emulation: a program that carries the prelude is
// built as OpenCL C 2.0 (3.0 without the generic address space on Oclgrind),
// for its program-scope variables, with the size of its
// emulated sub-groups (the size its kernels require, else the profile's
// smallest). A callback runs once the build is done.
cl_int build_emulating_sub_groups(cl_program program, cl_uint num_devices, const cl_device_id* devices,
                                  const std::string& options, void(CL_CALLBACK* notify)(cl_program, void*),
                                  void* user_data);

// PoCL runs each work-group on one of its worker threads, which it starts
// without attributes of its own (so with the default stack: the process's
// stack limit at start-up, 8 MiB as a rule). Its work-item loops keep every
// value that lives across a barrier in an array of the work-group's size on
// that stack, and each emulated shuffle adds four barriers: a double-precision
// 6561-point kernel of 768 work-items takes 8.5 MiB. Under the emulation,
// threads started from here on without attributes get at least 32 KiB of
// stack per work-item of the profile's largest work-group. Called before the
// ICD loader is opened, so before PoCL starts its threads.
void give_device_threads_emulation_stacks();

}  // namespace qez_profile
