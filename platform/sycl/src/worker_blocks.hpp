// SYCL stand-in: allocations owned by thread-local objects of host workers.
#pragma once

#if defined(__SANITIZE_ADDRESS__)
#define QEZ_WORKER_BLOCKS_LSAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define QEZ_WORKER_BLOCKS_LSAN 1
#endif
#endif
#ifdef QEZ_WORKER_BLOCKS_LSAN
#include <sanitizer/lsan_interface.h>
#endif

namespace sycl {
inline namespace _V1 {
namespace detail {

// The pool's workers are detached and still alive when the process exits, so
// the blocks their thread-local caches hold (fiber stacks, local memory, SLM)
// are reachable only through the threads' storage. Sanitizer runs need
// LeakSanitizer's use_tls=0 (the OpenCL driver's dynamic TLS), which hides
// those roots; allocations made in this scope are left out of the leak check.
// Without sanitizers this does nothing.
class worker_block_scope {
 public:
#ifdef QEZ_WORKER_BLOCKS_LSAN
  worker_block_scope() { __lsan_disable(); }
  ~worker_block_scope() { __lsan_enable(); }
#else
  // User-provided, so that a scope variable is not reported as unused.
  worker_block_scope() {}
  ~worker_block_scope() {}
#endif
  worker_block_scope(const worker_block_scope&) = delete;
  worker_block_scope& operator=(const worker_block_scope&) = delete;
};

}  // namespace detail
}  // namespace _V1
}  // namespace sycl
