// Every OpenCL entry point of CL/cl.h, exported under its own name (symbol
// version QEZ_GPU_PROFILE_1, see exports.map) and forwarded to the system's
// ICD loader, which is opened privately (RTLD_LOCAL) and never called by
// name, so the two libraries never resolve into each other.
#include <dlfcn.h>

#include <cstdio>
#include <type_traits>

#include "profile_internal.hpp"

namespace qez_profile {
namespace {

struct tables {
  cl_api next;
  cl_api entry;
};

const tables& loaded() {
  static const tables t = [] {
    tables r;
    void* loader = dlopen("libOpenCL.so.1", RTLD_NOW | RTLD_LOCAL);
    if (!loader) {
      std::fprintf(stderr, "qez_gpu_profile: cannot open the OpenCL ICD loader libOpenCL.so.1: %s\n", dlerror());
    } else {
#define QEZ_CL_FN(ret, name, params, args) \
  r.next.name = reinterpret_cast<ret(CL_API_CALL*) params>(dlsym(loader, #name));
#include "cl_api_table.inc"
#undef QEZ_CL_FN
    }
    r.entry = r.next;
    install_overrides(r.entry);
    install_fail_build_overrides(r.entry);
    return r;
  }();
  return t;
}

// Result of an entry point that the loader lacks.
template <class R>
R missing() {
  if constexpr (std::is_pointer_v<R>) return nullptr;
  else return static_cast<R>(CL_INVALID_OPERATION);
}
template <>
void missing<void>() {}

}  // namespace

const cl_api& next() { return loaded().next; }
const cl_api& entry() { return loaded().entry; }

}  // namespace qez_profile

extern "C" {
#define QEZ_CL_FN(ret, name, params, args)                          \
  QEZ_PROFILE_EXPORT ret CL_API_CALL name params {                  \
    auto fn = qez_profile::entry().name;                            \
    if (!fn) return qez_profile::missing<ret>();                    \
    return fn args;                                                 \
  }
#include "cl_api_table.inc"
#undef QEZ_CL_FN
}
