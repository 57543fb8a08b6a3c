// Kernel entry points over the kernel cache and program build.
#include "gpu/service/kernel_entry_points.hpp"

#include <atomic>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <set>
#include <string>

#include "gpu/service/device_registry.hpp"
#include "gpu/service/kernel_cache.hpp"
#include "gpu/service/native_handles.hpp"
#include "gpu/service/opencl_loader.hpp"
#include "gpu/service/program_build.hpp"
#include "gpu/service/program_package.hpp"
#include "gpu/service/safe_routines.hpp"
#include "gpu/service/service_errors.hpp"
#include "qez_service.h"

namespace ulmara::qez::gpu {
namespace {

constexpr int handle_alignment = 64;

// ---- builds in flight, one slot per cache key ----

// A thread that misses in the cache claims the key's slot before it builds;
// other threads asking for the same key wait for the slot and then find the
// program in the cache, while threads with other keys build at the same
// time. The lock guards only the set of keys and is never held through a
// build.
class build_slots {
public:
  // Holds the slot of one key until destroyed; waiters are woken then.
  class claim {
  public:
    claim(build_slots* slots, std::string key) : slots_(slots), key_(std::move(key)) {}
    ~claim() { slots_->release(key_); }
    claim(const claim&) = delete;
    claim& operator=(const claim&) = delete;

  private:
    build_slots* slots_;
    std::string key_;
  };

  // Waits while another thread holds the slot of `key`, then takes it.
  std::unique_ptr<claim> acquire(std::string key) {
    std::unique_lock<std::mutex> guard(lock_);
    if (building_.count(key) != 0) {
      ++waiting_;
      freed_.wait(guard, [&] { return building_.count(key) == 0; });
      --waiting_;
    }
    building_.insert(key);
    return std::make_unique<claim>(this, std::move(key));
  }

  std::size_t waiting() {
    std::lock_guard<std::mutex> guard(lock_);
    return waiting_;
  }

private:
  void release(const std::string& key) {
    {
      std::lock_guard<std::mutex> guard(lock_);
      building_.erase(key);
    }
    freed_.notify_all();
  }

  std::mutex lock_;
  std::condition_variable freed_;
  std::set<std::string> building_;
  std::size_t waiting_ = 0;
};

build_slots& slots() {
  static build_slots instance;
  return instance;
}

std::atomic<kernel_build_hook> build_hook{nullptr};

template <class T>
void append_bytes(std::string* key, const T& value) {
  key->append(reinterpret_cast<const char*>(&value), sizeof value);
}

void raise_on_status(int status) {
  if (status != 0) throw_opencl_error(status);
}

// The caller's reference to a program it built; dropped at the end of the
// scope (the cache and the kernel objects hold their own).
class program_reference {
public:
  program_reference(int backend, void* program) : backend_(backend), program_(program) {}
  ~program_reference() noexcept(false) {
    if (program_ == nullptr) return;
    int status = 0;
    if (std::uncaught_exceptions()) {
      try {
        release_program(&status, backend_, program_);
      } catch (...) {
      }
    } else {
      release_program(&status, backend_, program_);
    }
  }
  program_reference(const program_reference&) = delete;
  program_reference& operator=(const program_reference&) = delete;

private:
  int backend_;
  void* program_;
};

qez_gpu_kernel_struct_t* new_owned_handle(sycl::kernel* kernel) {
  void* block = qez_serv_malloc(sizeof(qez_gpu_kernel_struct_t), handle_alignment);
  if (block == nullptr) {
    int status = 0;
    release_kernel_obj(&status, kernel);
    throw_opencl_error(opencl_out_of_host_memory);
  }
  auto* handle = static_cast<qez_gpu_kernel_struct_t*>(block);
  *handle = qez_gpu_kernel_struct_t{nullptr, kernel_owned, kernel};
  return handle;
}

// A kernel handle for (program, kernel name): pooled in `entry` when asked
// and possible, else owned by the caller.
qez_gpu_kernel_struct_t* wrap_kernel_struct(sycl::queue* queue, void* program, const char* kernel_name,
                                            kernel_cache_entry* entry, bool pooled) {
  int status = 0;
  sycl::kernel* kernel = create_kernel_object(&status, queue, program, kernel_name);
  raise_on_status(status);
  if (pooled && entry != nullptr)
    if (qez_gpu_kernel_struct_t* handle = kernel_cache_add_instance(entry, kernel)) return handle;
  return new_owned_handle(kernel);
}

struct kernel_request {
  std::int32_t domain;
  const char* cache_name;
  const void* data;
  std::size_t size;
  char format;
  const char* kernel_name;
  const char* build_options;
  const void* key_options;
  std::size_t key_options_length;
  const void* extra;
  std::size_t extra_length;
  bool look_up;
  bool pooled;
  // When set, makes the source (`data`) just before a build.
  const source_maker* make_source = nullptr;
};

// The bytes that tell the cache keys of a request apart, as far as builds
// in flight need: device, native context, domain, name (left out of a binary
// key) and key options. Different SYCL contexts over one native context
// share a slot; that only orders their builds.
std::string build_slot_key(void* device, void* native_context, const kernel_request& request) {
  std::string key;
  append_bytes(&key, device);
  append_bytes(&key, native_context);
  append_bytes(&key, request.domain);
  if (!is_binary_key(request.key_options, request.key_options_length) && request.cache_name != nullptr)
    key.append(request.cache_name, safe_strnlen(request.cache_name, cached_name_limit));
  key.push_back('\0');
  if (request.key_options_length > 0)
    key.append(static_cast<const char*>(request.key_options), request.key_options_length);
  return key;
}

qez_gpu_kernel_struct_t* get_kernel_common(int* status, sycl::queue* queue, const kernel_request& request) {
  void* device = get_device_id(status, queue);
  raise_on_status(*status);
  void* native_context = native_context_handle(nullptr, queue, backend_of_queue);
  raise_on_status(*status);
  const char* cache_name = request.cache_name;
  // Builds of one key must not race: the first caller builds, the others
  // wait for its slot and then find its program in the cache.
  std::unique_ptr<build_slots::claim> slot;
  for (int attempt = 0; request.look_up && attempt < 2; ++attempt) {
    if (attempt == 1) slot = slots().acquire(build_slot_key(device, native_context, request));
    void* program = nullptr;
    qez_gpu_kernel_struct_t* instance = nullptr;
    kernel_cache_entry* entry =
        kernel_cache_lookup(queue, device, native_context, request.domain, &cache_name, request.key_options,
                            request.key_options_length, &program, request.pooled ? &instance : nullptr, nullptr,
                            nullptr);
    if (instance != nullptr) return instance;
    if (entry != nullptr) return wrap_kernel_struct(queue, program, request.kernel_name, entry, request.pooled);
  }
  if (kernel_build_hook hook = build_hook.load()) hook(request.cache_name);
  std::uint8_t release_flag = 1;
  const std::string made_source = request.make_source != nullptr ? (*request.make_source)() : std::string();
  const void* data = request.make_source != nullptr ? made_source.c_str() : request.data;
  void* program = build_program(status, queue, device, native_context, request.domain, request.cache_name, data,
                                request.size, request.format, request.build_options, &release_flag);
  raise_on_status(*status);
  const int backend = get_queue_backend(queue);
  program_reference ours(backend == QEZ_GPU_BACKEND_OPENCL ? backend : QEZ_GPU_BACKEND_OTHER, program);
  kernel_cache_entry* entry =
      kernel_cache_insert(status, queue, program, device, native_context, request.domain, request.cache_name,
                          request.key_options, request.key_options_length, request.extra, request.extra_length);
  raise_on_status(*status);
  return wrap_kernel_struct(queue, program, request.kernel_name, entry, request.pooled);
}

kernel_request source_request(std::int32_t domain, const char* cache_name, const char* source,
                              const char* kernel_name, const char* options, bool pooled) {
  return {domain, cache_name, source, 0, format_source, kernel_name, options, options,
          safe_strnlen(options, safe_string_limit), nullptr, 0, true, pooled};
}

// ---- native binary with source: the driver's package, spliced ----

struct package_bytes {
  std::uint8_t* bytes = nullptr;
  std::size_t size = 0;
  ~package_bytes() { qez_serv_free(bytes); }
};

// The driver's program package for the source; the OpenCL program stays
// with `program` for the caller to release.
void compile_package(int* status, sycl::queue* queue, void* device, void* native_context, std::int32_t domain,
                     const qez_gpu_binary_kernel_t* binary, const char* kernel_name, std::uint8_t* release_flag,
                     void** program, package_bytes* package) {
  const char* options = binary->source_options ? binary->source_options : "";
  switch (get_queue_backend(queue)) {
    case QEZ_GPU_BACKEND_NIVOLO: {
      const bool fresh = std::strcmp(kernel_name, binary_probe_kernel_name) == 0;
      *program = compile_source_on_ocl_device(status, device, domain, kernel_name, binary->source, options,
                                              fresh ? nullptr : release_flag, !fresh, &package->bytes,
                                              &package->size, queue);
      if (fresh && *program != nullptr) *release_flag = 1;
      break;
    }
    case QEZ_GPU_BACKEND_OPENCL:
      *program = build_program(status, queue, device, native_context, domain, kernel_name, binary->source, 0,
                               format_source, options, nullptr);
      raise_on_status(*status);
      get_program_binary(status, static_cast<cl_program>(*program), static_cast<cl_device_id>(device),
                         &package->bytes, &package->size);
      break;
    default:
      *status = binary_road_no_package;
      break;
  }
}

qez_gpu_kernel_struct_t* binary_kernel_with_source(int* status, sycl::queue* queue, std::int32_t domain,
                                                   const qez_gpu_binary_kernel_t* binary, const char* kernel_name,
                                                   const void* key_options, std::size_t key_options_length,
                                                   const void* extra, std::size_t extra_length) {
  void* device = get_device_id(status, queue);
  raise_on_status(*status);
  void* native_context = native_context_handle(nullptr, queue, backend_of_queue);
  raise_on_status(*status);
  const char* name = kernel_name;
  void* cached = nullptr;
  qez_gpu_kernel_struct_t* instance = nullptr;
  if (kernel_cache_entry* entry = kernel_cache_lookup(queue, device, native_context, domain, &name, key_options,
                                                      key_options_length, &cached, &instance, nullptr, nullptr))
    return instance ? instance : wrap_kernel_struct(queue, cached, kernel_name, entry, true);

  std::uint8_t release_flag = 1;
  void* program = nullptr;
  package_bytes package;
  qez_gpu_kernel_struct_t* handle = nullptr;
  try {
    compile_package(status, queue, device, native_context, domain, binary, kernel_name, &release_flag, &program,
                    &package);
    if (*status == 0 && package.bytes == nullptr) *status = binary_road_no_package;
    if (*status == 0) {
      package_bytes spliced;
      const int result = splice_binary_into_package(package.bytes, package.size,
                                                    static_cast<const std::uint8_t*>(binary->data), binary->size,
                                                    nullptr, 0, &spliced.bytes, &spliced.size);
      if (result != splice_done) {
        *status = result + binary_road_status_base;
      } else {
        const kernel_request request = {domain,       kernel_name, spliced.bytes, spliced.size,
                                        format_binary, kernel_name, "",           key_options,
                                        key_options_length, extra, extra_length, false, true};
        handle = get_kernel_common(status, queue, request);
      }
    }
  } catch (...) {
    if (program != nullptr && release_flag) ocl::clReleaseProgram(static_cast<cl_program>(program));
    throw;
  }
  if (program != nullptr && release_flag) {
    const cl_int released = ocl::clReleaseProgram(static_cast<cl_program>(program));
    if (released != CL_SUCCESS)
      throw sycl::exception(sycl::make_error_code(sycl::errc::runtime),
                            opencl_build_message(released, queue->get_device().get_info<sycl::info::device::name>(),
                                                 domain, kernel_name));
  }
  raise_on_status(*status);
  return handle;
}

}  // namespace

qez_gpu_kernel_struct_t* get_OCL_kernel(int* status, sycl::queue* queue, std::int32_t domain, const char* source,
                                        const char* kernel_name, const char* options) {
  return get_kernel_common(status, queue, source_request(domain, kernel_name, source, kernel_name, options, true));
}

namespace {

// The kernel of an owned handle, the handle freed.
sycl::kernel* kernel_of_owned_handle(qez_gpu_kernel_struct_t* handle) {
  sycl::kernel* kernel = handle->kernel;
  qez_serv_free(handle);
  return kernel;
}

}  // namespace

sycl::kernel* get_OCL_kernel_by_progname(int* status, sycl::queue* queue, std::int32_t domain,
                                         const char* program_name, const char* source, const char* kernel_name,
                                         const char* options) {
  return kernel_of_owned_handle(
      get_kernel_common(status, queue, source_request(domain, program_name, source, kernel_name, options, false)));
}

sycl::kernel* get_OCL_kernel_by_progname(int* status, sycl::queue* queue, std::int32_t domain,
                                         const char* program_name, const source_maker& make_source,
                                         const char* kernel_name, const char* options) {
  kernel_request request = source_request(domain, program_name, nullptr, kernel_name, options, false);
  request.make_source = &make_source;
  return kernel_of_owned_handle(get_kernel_common(status, queue, request));
}

qez_gpu_kernel_struct_t* qez_gpu_get_spirv_kernel(int* status, sycl::queue* queue, std::int32_t domain,
                                                  const qez_gpu_spirv_kernel_t* spirv, const char* kernel_name,
                                                  const char* options) {
  const kernel_request request = {domain,      kernel_name, spirv->data, static_cast<std::size_t>(spirv->size),
                                  format_spirv, kernel_name, options,     options,
                                  safe_strnlen(options, safe_string_limit), nullptr, 0, true, true};
  return get_kernel_common(status, queue, request);
}

qez_gpu_kernel_struct_t* get_binary_kernel(int* status, sycl::queue* queue, std::int32_t domain,
                                           const qez_gpu_binary_kernel_t* binary, const char* kernel_name) {
  return qez_gpu_get_binary_kernel_ext(status, queue, domain, binary, kernel_name, "", 0, nullptr, 0);
}

qez_gpu_kernel_struct_t* qez_gpu_get_binary_kernel_ext(int* status, sycl::queue* queue, std::int32_t domain,
                                                       const qez_gpu_binary_kernel_t* binary,
                                                       const char* kernel_name, const void* key_options,
                                                       std::size_t key_options_length, const void* extra,
                                                       std::size_t extra_length) {
  if (binary->source != nullptr)
    return binary_kernel_with_source(status, queue, domain, binary, kernel_name, key_options, key_options_length,
                                     extra, extra_length);
  const kernel_request request = {domain,        kernel_name, binary->data, static_cast<std::size_t>(binary->size),
                                  format_binary, kernel_name, "",           key_options,
                                  key_options_length, extra,  extra_length, true, true};
  return get_kernel_common(status, queue, request);
}

qez_gpu_kernel_struct_t* qez_gpu_get_cached_kernel(int* status, sycl::queue* queue, std::int32_t domain,
                                                   const char* kernel_name, const void* key_options,
                                                   std::size_t key_options_length, void** extra,
                                                   std::size_t* extra_length) {
  void* device = get_device_id(status, queue);
  raise_on_status(*status);
  void* native_context = native_context_handle(nullptr, queue, backend_of_queue);
  raise_on_status(*status);
  const char* name = kernel_name;
  void* program = nullptr;
  qez_gpu_kernel_struct_t* instance = nullptr;
  kernel_cache_entry* entry = kernel_cache_lookup(queue, device, native_context, domain, &name, key_options,
                                                  key_options_length, &program, &instance, extra, extra_length);
  if (entry == nullptr) return nullptr;
  if (instance != nullptr) return instance;
  return wrap_kernel_struct(queue, program, name, entry, true);
}

kernel_build_hook set_kernel_build_hook(kernel_build_hook hook) { return build_hook.exchange(hook); }

std::size_t kernel_builds_waiting() { return slots().waiting(); }

void release_kernel(int* status, qez_gpu_kernel_struct_t* handle) {
  if (handle == nullptr) return;
  switch (handle->state) {
    case kernel_owned:
      release_kernel_obj(status, handle->kernel);
      qez_serv_free(handle);
      break;
    case kernel_pooled_in_use:
      __atomic_store_n(&handle->state, static_cast<std::uint32_t>(kernel_pooled_free), __ATOMIC_RELEASE);
      break;
    default:
      break;
  }
}

}  // namespace ulmara::qez::gpu
