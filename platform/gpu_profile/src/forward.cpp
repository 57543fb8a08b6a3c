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
//
// A driver may keep thread-local state that a thread's thread-local
// destructors free as it ends: Oclgrind's runtime enters every call in such a
// record (the stack of API calls its reports name). The exiting thread runs
// those destructors before the process's exit handlers, so a call made there
// (the library's exit-time release of its kernel cache) or by a later
// thread-local destructor would write into freed memory. A call made on a
// thread after its thread-local state is gone runs on a thread of its own.
#include <dlfcn.h>

#include <cstdio>
#include <system_error>
#include <thread>
#include <type_traits>

#include "profile_internal.hpp"
#include "sub_group_emulation.hpp"

namespace qez_profile {
namespace {

struct tables {
  cl_api next;
  cl_api entry;
};

const tables& loaded() {
  static const tables t = [] {
    tables r;
    give_device_threads_emulation_stacks();
    void* loader = dlopen("libOpenCL.so.1", RTLD_NOW | RTLD_LOCAL);
    if (!loader) {
      std::fprintf(stderr, "qez_gpu_profile: cannot open the OpenCL ICD loader libOpenCL.so.1: %s\n", dlerror());
    } else {
#define QEZ_CL_FN(ret, name, params, args) \
  r.next.name = reinterpret_cast<ret(CL_API_CALL*) params>(dlsym(loader, #name));
#include "cl_api_table.inc"
#undef QEZ_CL_FN
    }
    install_build_locks(r.next);
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

// Whether this thread's thread-local destructors have run past the driver's.
// Plain data, so it stays readable until the thread is gone.
thread_local bool thread_torn_down = false;

// Made on a thread's first call, before the call enters the driver, so that
// it is destroyed after every thread-local object the driver makes then.
struct teardown_mark {
  ~teardown_mark() { thread_torn_down = true; }
};

// True when the calling thread's thread-local state is gone; otherwise makes
// sure its teardown will be noted.
bool thread_state_gone() {
  if (thread_torn_down) return true;
  static thread_local teardown_mark mark;
  (void)mark;
  return false;
}

// Runs `call` on a new thread and returns its result; in place when no
// thread can be started.
template <class F>
auto on_own_thread(F call) -> decltype(call()) {
  using R = decltype(call());
  try {
    if constexpr (std::is_void_v<R>) {
      std::thread(call).join();
    } else {
      R result{};
      std::thread([&result, &call] { result = call(); }).join();
      return result;
    }
  } catch (const std::system_error&) {
    return call();
  }
}

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
    if (qez_profile::thread_state_gone())                                         \
      return qez_profile::on_own_thread([&] { return name args; });               \
    qez_profile::forwarding_mark mark(forwarding);                                \
    return fn args;                                                               \
  }
#include "cl_api_table.inc"
#undef QEZ_CL_FN
}
