// Every OpenCL entry point of CL/cl.h, exported under its own name (symbol
// version QEZ_GPU_PROFILE_1, see exports.map) and forwarded to the system's
// ICD loader, which is opened privately (RTLD_LOCAL) and never called by
// name, so the two libraries never resolve into each other.
//
// A driver may still bind to these exports: one whose dispatch table names
// its own entry points by symbol (Oclgrind's does for the 2.0+ ones) gets
// them relocated to ours when this library comes first in the global scope,
// so the loader's dispatch leads straight back here. An export entered again
// on the same thread while it is forwarding is that case; it then calls the
// driver's own definition, looked up in the library that holds the object's
// dispatch table.
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

// The first argument of an entry point when it is a pointer (the OpenCL
// object whose dispatch table the loader follows), else null.
inline const void* first_pointer() { return nullptr; }
template <class T, class... Rest>
const void* first_pointer(T first, Rest...) {
  if constexpr (std::is_pointer_v<T>) return first;
  else return nullptr;
}

// Base address of the shared object holding `address` (null when none).
void* object_base(const void* address) {
  Dl_info info{};
  return dladdr(address, &info) != 0 ? info.dli_fbase : nullptr;
}

// The definition of `name` in the driver library that holds the dispatch
// table `object` starts with; null when it cannot be found or would lead
// back into this library.
void* driver_own_entry(const void* object, const char* name) {
  if (object == nullptr) return nullptr;
  const void* dispatch = *static_cast<const void* const*>(object);
  Dl_info info{};
  if (dladdr(dispatch, &info) == 0 || info.dli_fname == nullptr) return nullptr;
  void* driver = dlopen(info.dli_fname, RTLD_LAZY | RTLD_NOLOAD);
  if (driver == nullptr) return nullptr;
  void* fn = dlsym(driver, name);
  dlclose(driver);
  const void* this_library = object_base(reinterpret_cast<const void*>(&object_base));
  return fn != nullptr && object_base(fn) != this_library ? fn : nullptr;
}

// Marks an export as forwarding on this thread for the scope of the call.
class forwarding_mark {
 public:
  explicit forwarding_mark(bool& flag) : flag_(flag) { flag_ = true; }
  ~forwarding_mark() { flag_ = false; }
  forwarding_mark(const forwarding_mark&) = delete;
  forwarding_mark& operator=(const forwarding_mark&) = delete;

 private:
  bool& flag_;
};

}  // namespace

const cl_api& next() { return loaded().next; }
const cl_api& entry() { return loaded().entry; }

}  // namespace qez_profile

extern "C" {
#define QEZ_CL_FN(ret, name, params, args)                                        \
  QEZ_PROFILE_EXPORT ret CL_API_CALL name params {                                \
    using fn_type = ret(CL_API_CALL*) params;                                     \
    static thread_local bool forwarding = false;                                  \
    if (forwarding) {                                                             \
      auto own = reinterpret_cast<fn_type>(                                       \
          qez_profile::driver_own_entry(qez_profile::first_pointer args, #name)); \
      if (!own) return qez_profile::missing<ret>();                               \
      return own args;                                                            \
    }                                                                             \
    auto fn = qez_profile::entry().name;                                          \
    if (!fn) return qez_profile::missing<ret>();                                  \
    qez_profile::forwarding_mark mark(forwarding);                                \
    return fn args;                                                               \
  }
#include "cl_api_table.inc"
#undef QEZ_CL_FN
}
