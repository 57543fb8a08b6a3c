// Process-wide caches that turn the native handles of an OpenMP interop
// object (OpenCL or Nivolo context, device and queue) into SYCL contexts and
// queues, once per handle. Returned pointers stay valid until process exit
// and are never freed by callers.
#pragma once

#include <cstddef>
#include <cstdint>

#include <sycl/sycl.hpp>

#include "gpu/service/qez_gpu_types.h"

namespace ulmara::qez::gpu {

// The SYCL context for {native_context, native_device}, made on first use.
// `device` is read only when a Nivolo context is made.
sycl::context* lookup_and_cache_ovrax_context(void* native_context, void* native_device,
                                              qez_gpu_backend_t backend, sycl::device* device);

// The SYCL queue for a native queue, made on `context` on first use. A
// native queue is cached by its handle alone. `interop` is read only when a
// Nivolo queue is made.
sycl::queue* lookup_and_cache_ovrax_queue(void* native_queue, qez_gpu_backend_t backend,
                                          sycl::context context, void* interop);

// Both steps from the interop object alone; null when an interop query fails
// or the interop belongs to neither OpenCL nor Nivolo.
sycl::queue* lookup_and_cache_ovrax_queue_and_context(void* interop);

// The SYCL device whose native Nivolo handle is `native_device`; throws
// sycl::exception (errc::invalid) when no Nivolo platform exposes it.
sycl::device get_sycl_device_from_native(void* native_device);

// FNV-1a 64 over the eight bytes of a pointer value, lowest byte first.
std::uint64_t interop_handle_hash(const void* handle);

// Entries held (diagnostics and tests).
std::size_t ovrax_context_cache_size();
std::size_t ovrax_queue_cache_size();

}  // namespace ulmara::qez::gpu
