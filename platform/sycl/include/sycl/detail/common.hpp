// SYCL stand-in: shared definitions (export macro, code location, enumerations).
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#define QEZ_SYCL_EXPORT __attribute__((visibility("default")))

// The OpenCL handle structures, declared where CL/cl.h declares them (the
// global namespace), so that the OpenCL backend's native types below are
// cl_platform_id, cl_device_id, cl_context and kin themselves, whether or not
// CL/cl.h comes first.
struct _cl_platform_id;
struct _cl_device_id;
struct _cl_context;
struct _cl_command_queue;
struct _cl_kernel;
struct _cl_event;

namespace sycl {
inline namespace _V1 {

// Backends. OpenCL and the Nivolo driver interface keep the numbers the
// library tests (1, 2); the host CPU device has its own.
enum class backend : int { opencl = 1, ext_ulmara_nivolo = 2, ext_ulmara_host = 3 };

enum class aspect : int {
  cpu = 1,
  gpu = 2,
  accelerator = 3,
  custom = 4,
  emulated = 5,
  host_debuggable = 6,
  fp16 = 7,
  fp64 = 8,
  atomic64 = 9,
  image = 10,
  online_compiler = 11,
  online_linker = 12,
  queue_profiling = 13,
  usm_device_allocations = 14,
  usm_host_allocations = 15,
  usm_atomic_host_allocations = 16,
  usm_shared_allocations = 17,
  usm_atomic_shared_allocations = 18,
  usm_system_allocations = 19,
  // The device answers sycl::ext::tavir::info::device::gpu_* queries.
  ext_tavir_device_info = 35,
};

namespace access {
enum class mode { read = 1024, write, read_write, discard_write, discard_read_write, atomic };
enum class target {
  device = 2014,
  global_buffer = device,
  constant_buffer = 2015,
  local = 2016,
  image = 2017,
  host_buffer = 2018,
  host_image = 2019,
  image_array = 2020,
  host_task = 2021,
};
enum class placeholder { false_t, true_t };
enum class fence_space : char { local_space, global_space, global_and_local };
enum class address_space : int { private_space, global_space, constant_space, local_space, generic_space };
enum class decorated : int { no, yes, legacy };
}  // namespace access
using access_mode = access::mode;
using target = access::target;

namespace usm {
enum class alloc : char { host = 0, device = 1, shared = 2, unknown = 3 };
}

namespace info {
enum class device_type : unsigned { cpu = 1, gpu = 2, accelerator = 4, custom = 8, automatic = 16, host = 32, all = 0xFFFF };
enum class local_mem_type : int { none, local, global };
enum class partition_property : int {
  no_partition,
  partition_equally,
  partition_by_counts,
  partition_by_affinity_domain
};
enum class partition_affinity_domain : int {
  not_applicable,
  numa,
  L4_cache,
  L3_cache,
  L2_cache,
  L1_cache,
  next_partitionable
};
enum class fp_config : int {
  denorm,
  inf_nan,
  round_to_nearest,
  round_to_zero,
  round_to_inf,
  fma,
  correctly_rounded_divide_sqrt,
  soft_float
};
enum class event_command_status : int { submitted, running, complete };
}  // namespace info

class platform;
class device;
class context;
class queue;
class event;
class handler;
class kernel;
class interop_handle;

namespace detail {
class platform_impl;
class device_impl;
class context_impl;
class queue_impl;
class event_impl;
class kernel_impl;
class buffer_storage;
class buffer_allocation;
class buffer_handle;
class handler_impl;

// Where a call of the SYCL API came from. Captured implicitly by default
// arguments, as SYCL runtimes do, so library code names no location itself.
class code_location {
 public:
  static constexpr code_location current(const char* file = __builtin_FILE(),
                                         const char* function = __builtin_FUNCTION(),
                                         unsigned long line = __builtin_LINE(),
                                         unsigned long column = 0) noexcept {
    return code_location(file, function, line, column);
  }
  constexpr code_location(const char* file, const char* function, unsigned long line, unsigned long column) noexcept
      : file_(file), function_(function), line_(line), column_(column) {}
  constexpr code_location() noexcept : file_(nullptr), function_(nullptr), line_(0), column_(0) {}
  constexpr const char* fileName() const noexcept { return file_; }
  constexpr const char* functionName() const noexcept { return function_; }
  constexpr unsigned long lineNumber() const noexcept { return line_; }
  constexpr unsigned long columnNumber() const noexcept { return column_; }

 private:
  const char* file_;
  const char* function_;
  unsigned long line_;
  unsigned long column_;
};

// Native handles travel as integers through the detail interop entry points.
using native_handle_t = std::uintptr_t;

template <class T>
T make_from_impl(std::shared_ptr<typename T::impl_type> impl) {
  return T(std::move(impl));
}
template <class T>
const std::shared_ptr<typename T::impl_type>& get_impl(const T& obj) {
  return obj.impl_;
}

}  // namespace detail
}  // namespace _V1
}  // namespace sycl
