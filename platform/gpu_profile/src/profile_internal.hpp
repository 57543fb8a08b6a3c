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

#include <cstring>
#include <string>

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
// Makes the builds, compiles and links of `api` (the loader's) take turns
// with every other one of the same program on the machine (build_lock.cpp).
void install_build_locks(cl_api& api);

// Installs `mine` in front of the call in `slot`, keeping that call in `kept`.
template <class Fn>
void stand_in_front(Fn& slot, Fn& kept, Fn mine) {
  if (slot == nullptr) return;
  kept = slot;
  slot = mine;
}

// A string that `query(size, value, size_ret)` answers, up to its first
// null; empty when the query fails.
template <class Query>
std::string text_info(Query query) {
  size_t n = 0;
  if (query(0, nullptr, &n) != CL_SUCCESS || n == 0) return {};
  std::string text(n, '\0');
  if (query(n, text.data(), nullptr) != CL_SUCCESS) return {};
  text.resize(std::strlen(text.c_str()));
  return text;
}

// The source text of a program as the device underneath holds it (empty
// for programs made from IL or binaries).
inline std::string program_source(cl_program p) {
  return text_info([p](size_t n, void* v, size_t* r) { return next().clGetProgramInfo(p, CL_PROGRAM_SOURCE, n, v, r); });
}

}  // namespace qez_profile
