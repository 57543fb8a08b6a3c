// Records the GPU service layer shares with the product's other libraries:
// kernel handles, kernel inputs, kernel-argument records and event lists.
#pragma once

#include <cstddef>
#include <cstdint>

#include <sycl/sycl.hpp>

namespace ulmara::qez::gpu {

// ---- kernel handles ----

enum kernel_handle_state : std::uint32_t {
  kernel_pooled_free = 0,
  kernel_pooled_in_use = 1,
  kernel_owned = 2,
};

// A built kernel as the service layer hands it out: owned by the caller, or
// pooled in a kernel-cache entry (linked through `next`).
struct qez_gpu_kernel_struct_t {
  qez_gpu_kernel_struct_t* next;
  std::uint32_t state;  // kernel_handle_state
  sycl::kernel* kernel;
};
static_assert(offsetof(qez_gpu_kernel_struct_t, state) == 8, "kernel handle layout");
static_assert(offsetof(qez_gpu_kernel_struct_t, kernel) == 16, "kernel handle layout");

struct qez_gpu_spirv_kernel_t {
  std::uint64_t size;
  const void* data;
};

// A native device binary, optionally with the OpenCL C source (and its
// options) from which the driver's program package is made.
struct qez_gpu_binary_kernel_t {
  std::uint64_t size;
  const void* data;
  const char* source;
  const char* source_options;
};
static_assert(sizeof(qez_gpu_binary_kernel_t) == 32, "binary kernel layout");

// Calling product domains.
enum product_domain : std::int32_t {
  domain_blas = 1,
  domain_dft = 2,
  domain_lapack = 5,
};

// Program code formats.
enum program_format : char {
  format_source = 'S',
  format_spirv = 'V',
  format_binary = 'B',
};

// ---- kernel arguments ----

enum qez_gpu_access_t : std::uint32_t {
  qez_gpu_access_read = 0,
  qez_gpu_access_write = 1,
  qez_gpu_access_read_write = 2,
};

enum qez_gpu_argument_kind : std::uint32_t {
  argument_scalar = 0,
  argument_buffer = 1,
  argument_usm = 2,
  argument_local = 3,
};

// One kernel argument; arrays of records have a 20-byte stride.
#pragma pack(push, 4)
struct qez_gpu_argument_t {
  std::uint8_t value[8];  // scalar bytes, buffer pointer, USM pointer or local byte count
  std::uint32_t kind;     // qez_gpu_argument_kind
  std::uint8_t size;      // scalar byte count; 8 for the other kinds
  std::uint32_t access;   // qez_gpu_access_t, for buffers
};
#pragma pack(pop)
static_assert(offsetof(qez_gpu_argument_t, kind) == 8, "argument record layout");
static_assert(offsetof(qez_gpu_argument_t, size) == 12, "argument record layout");
static_assert(offsetof(qez_gpu_argument_t, access) == 16, "argument record layout");
static_assert(sizeof(qez_gpu_argument_t) == 20, "argument records have a 20-byte stride");

// ---- event lists ----

struct qez_gpu_event_list_t {
  sycl::event** events;
  std::int32_t count;
  std::uint8_t no_dependencies;
};

}  // namespace ulmara::qez::gpu
