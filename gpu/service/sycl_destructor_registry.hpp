// Process-wide table of teardown callbacks for registries that hold SYCL
// objects. The core library calls qez_sycl_destructor at shutdown, while the
// SYCL runtime is still alive; it runs the callbacks, latest first.
#pragma once

#include <cstdint>

namespace ulmara::qez::gpu {

using sycl_destructor_callback = void (*)();

constexpr int sycl_destructor_capacity = 32;

// Both forms take the table's own lock: the unlocked form is for callers that
// hold another registry's lock, and the table must stay consistent when such
// a registration meets one from another thread.
void register_sycl_destructor(sycl_destructor_callback callback);
void register_sycl_destructor_unlocked(sycl_destructor_callback callback);

// Number of callbacks registered so far (diagnostics and tests).
int registered_sycl_destructor_count();

}  // namespace ulmara::qez::gpu

extern "C" {
void qez_sycl_destructor(void);
void qez_sycl_destructor_local(void);
}
