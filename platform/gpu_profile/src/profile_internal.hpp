// Internal declarations of the GPU profile library.
#pragma once

#ifndef CL_TARGET_OPENCL_VERSION
#define CL_TARGET_OPENCL_VERSION 300
#endif
#define CL_USE_DEPRECATED_OPENCL_1_0_APIS
#define CL_USE_DEPRECATED_OPENCL_1_1_APIS
#define CL_USE_DEPRECATED_OPENCL_1_2_APIS
#define CL_USE_DEPRECATED_OPENCL_2_0_APIS
#include <CL/cl.h>
#include <CL/cl_ext.h>

#include "qez_gpu_profile.h"

#define QEZ_PROFILE_EXPORT __attribute__((visibility("default")))

namespace qez_profile {

// One pointer per OpenCL entry point (the X-macro table of cl_api_table.inc).
struct cl_api {
#define QEZ_CL_FN(ret, name, params, args) ret(CL_API_CALL* name) params = nullptr;
#include "cl_api_table.inc"
#undef QEZ_CL_FN
};

// The system ICD loader's entry points (null where it has none).
const cl_api& next();
// What the exported functions call: `next()` except for the overrides.
const cl_api& entry();
// Installs the overrides of overrides.cpp into `api`.
void install_overrides(cl_api& api);
// Puts the builds that fail on request (fail_build.cpp) in front of the
// program calls of `api`.
void install_fail_build_overrides(cl_api& api);

}  // namespace qez_profile
