// Program build on OpenCL and Nivolo devices.
#include "gpu/service/program_build.hpp"

#include <atomic>
#include <cstdio>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include "gpu/service/device_registry.hpp"
#include "gpu/service/kernel_cache.hpp"
#include "gpu/service/nivolo_interop.hpp"
#include "gpu/service/nivolo_loader.hpp"
#include "gpu/service/opencl_loader.hpp"
#include "gpu/service/safe_routines.hpp"
#include "gpu/service/service_errors.hpp"
#include "qez_service.h"

namespace ulmara::qez::gpu {
namespace {

constexpr qx_result_t nivolo_module_build_failure = 0x70000004;
constexpr int opencl_device_not_in_program = -30;
constexpr int binary_alignment = 16;

std::atomic<std::uint64_t> builds{0};

struct domain_prefix {
  std::int32_t domain;
  const char* prefix;
};
constexpr domain_prefix domain_prefixes[] = {
    {domain_blas, "ulmara::qez::blas::"},
    {domain_dft, "ulmara::qez::dft::"},
    {domain_lapack, "ulmara::qez::lapack::"},
};

bool is_complex_or_double_letter(char c) { return c == 'd' || c == 'z'; }

std::string device_name_of(sycl::queue* queue) {
  return queue ? queue->get_device().get_info<sycl::info::device::name>() : std::string();
}

bool device_lacks_double(sycl::queue* queue) {
  return queue && queue->get_device().get_info<sycl::info::device::double_fp_config>().empty();
}

[[noreturn]] void throw_runtime(const std::string& message) {
  throw sycl::exception(sycl::make_error_code(sycl::errc::runtime), message);
}

std::string kernel_label(std::int32_t domain, const char* kernel_name) {
  return std::string(domain_message_prefix(domain)) + (kernel_name ? kernel_name : "");
}

std::string build_log(cl_program program, cl_device_id device) {
  std::size_t size = 0;
  if (ocl::clGetProgramBuildInfo(program, device, CL_PROGRAM_BUILD_LOG, 0, nullptr, &size) != CL_SUCCESS ||
      size <= 1)
    return std::string();
  std::vector<char> log(size);
  if (ocl::clGetProgramBuildInfo(program, device, CL_PROGRAM_BUILD_LOG, size, log.data(), nullptr) != CL_SUCCESS)
    return std::string();
  return std::string(log.data(), strnlen(log.data(), size));
}

// The compiler's log of the last failed build of each thread; the exception
// carries only the message, callers who want the diagnostics ask for this.
// The logs live in one process-wide table, not in thread-local strings: heap
// blocks whose only owner is a thread's storage look leaked to a leak
// checker that cannot walk the driver's thread-local storage. A thread's
// entry goes when the thread ends.
class failed_build_logs {
public:
  // Never destroyed: threads may end after the process's static destructors.
  static failed_build_logs& table() {
    static failed_build_logs* const logs = new failed_build_logs;
    return *logs;
  }
  void keep(std::string log) {
    static thread_local entry_eraser eraser;  // owns no memory; erases at thread exit
    std::lock_guard<std::mutex> guard(lock_);
    logs_[std::this_thread::get_id()] = std::move(log);
  }
  std::string of_this_thread() {
    std::lock_guard<std::mutex> guard(lock_);
    const auto found = logs_.find(std::this_thread::get_id());
    return found == logs_.end() ? std::string() : found->second;
  }

private:
  struct entry_eraser {
    ~entry_eraser() { table().erase_this_thread(); }
  };
  void erase_this_thread() {
    std::lock_guard<std::mutex> guard(lock_);
    logs_.erase(std::this_thread::get_id());
  }

  std::mutex lock_;
  std::unordered_map<std::thread::id, std::string> logs_;
};

// The two messages of a failed creation or build: the double-precision text
// when a double-precision kernel fails to build on a device without double
// precision, otherwise the OpenCL text with the code.
[[noreturn]] void raise_opencl_failure(int code, sycl::queue* queue, const char* kernel_name, std::int32_t domain) {
  const std::string device = device_name_of(queue);
  if (code == CL_BUILD_PROGRAM_FAILURE && device_lacks_double(queue) && is_double_precision_kernel(domain, kernel_name))
    throw_runtime(double_precision_message(device, domain, kernel_name));
  throw_runtime(opencl_build_message(code, device, domain, kernel_name));
}

cl_program create_ocl_program(cl_device_id device, cl_context context, const void* data, std::size_t size,
                              char format, cl_int* error) {
  switch (format) {
    case format_spirv:
      return ocl::clCreateProgramWithIL(context, data, size, error);
    case format_binary: {
      const auto* bytes = static_cast<const unsigned char*>(data);
      return ocl::clCreateProgramWithBinary(context, 1, &device, &size, &bytes, nullptr, error);
    }
    default: {
      const char* source = static_cast<const char*>(data);
      return ocl::clCreateProgramWithSource(context, 1, &source, nullptr, error);
    }
  }
}

// ---- Nivolo ----

void* build_nivolo_module(sycl::queue* queue, void* device, void* native_context, std::int32_t domain,
                          const char* kernel_name, const void* data, std::size_t size, char format,
                          const char* options) {
  if (load_qx_loader() != 0) throw_runtime(nivolo_build_message(QX_RESULT_ERROR_UNINITIALIZED,
                                                                device_name_of(queue), domain, kernel_name));
  const qx_module_desc_t description = {
      QX_STRUCTURE_TYPE_MODULE_DESC, nullptr,
      format == format_spirv ? QX_MODULE_FORMAT_IL_SPIRV : QX_MODULE_FORMAT_NATIVE, size,
      static_cast<const std::uint8_t*>(data), options, nullptr};
  qx_module_handle_t module = nullptr;
  const qx_result_t result = qez_qxModuleCreate(static_cast<qx_context_handle_t>(native_context),
                                                static_cast<qx_device_handle_t>(device), &description, &module,
                                                nullptr);
  if (result != QX_RESULT_SUCCESS) {
    const std::string name = device_name_of(queue);
    if (result == nivolo_module_build_failure && device_lacks_double(queue) &&
        is_double_precision_kernel(domain, kernel_name))
      throw_runtime(double_precision_message(name, domain, kernel_name));
    throw_runtime(nivolo_build_message(result, name, domain, kernel_name));
  }
  return make_nivolo_program(module, queue->get_context());
}

// OpenCL C for a Nivolo device: by the SYCL runtime's kernel compiler when
// the device has one, else through the OpenCL twin's binary.
void* build_nivolo_from_source(int* status, sycl::queue* queue, void* device, void* native_context,
                               std::int32_t domain, const char* kernel_name, const char* source,
                               const char* options, std::uint8_t* release_flag) {
  if (runtime_can_compile_opencl(queue->get_device())) {
    ++builds;
    return compile_nivolo_program(source, options, queue->get_context());
  }
  std::uint8_t* binary = nullptr;
  std::size_t binary_size = 0;
  cl_program program = compile_source_on_ocl_device(status, device, domain, kernel_name, source, options,
                                                    release_flag, true, &binary, &binary_size, queue);
  if (*status != 0 || program == nullptr || binary == nullptr) {
    qez_serv_free(binary);
    return nullptr;
  }
  if (release_flag && *release_flag) {
    const cl_int released = ocl::clReleaseProgram(program);
    if (released != CL_SUCCESS) *status = released;
  }
  void* built = nullptr;
  try {
    if (*status == 0)
      built = build_nivolo_module(queue, device, native_context, domain, kernel_name, binary, binary_size,
                                  format_binary, options);
  } catch (...) {
    qez_serv_free(binary);
    throw;
  }
  qez_serv_free(binary);
  return built;
}

// ---- program binaries ----

bool program_devices(cl_program program, std::vector<cl_device_id>* devices) {
  cl_uint count = 0;
  cl_int result = ocl::clGetProgramInfo(program, CL_PROGRAM_NUM_DEVICES, sizeof count, &count, nullptr);
  if (result != CL_SUCCESS) throw_opencl_error(result);
  devices->resize(count);
  result = ocl::clGetProgramInfo(program, CL_PROGRAM_DEVICES, count * sizeof(cl_device_id), devices->data(),
                                 nullptr);
  if (result != CL_SUCCESS) throw_opencl_error(result);
  return true;
}

}  // namespace

const char* domain_message_prefix(std::int32_t domain) {
  for (const domain_prefix& row : domain_prefixes)
    if (row.domain == domain) return row.prefix;
  return "";
}

bool is_double_precision_kernel(std::int32_t domain, const char* name) {
  if (name == nullptr) return false;
  switch (domain) {
    case domain_blas:
      return is_complex_or_double_letter(name[0]) || (name[0] == 'i' && is_complex_or_double_letter(name[1]));
    case domain_dft: {
      const std::size_t n = safe_strnlen(name, safe_string_limit);
      return n >= 2 && name[n - 2] == '_' && name[n - 1] == 'd';
    }
    case domain_lapack:
      return is_complex_or_double_letter(name[0]);
    default:
      return false;
  }
}

std::string double_precision_message(const std::string& device_name, std::int32_t domain, const char* kernel_name) {
  return "error: double type is not supported on this device: '" + device_name + "' \nin kernel: " +
         kernel_label(domain, kernel_name) + "\ninternal error: kernel failed to build.\n";
}

std::string opencl_build_message(int code, const std::string& device_name, std::int32_t domain,
                                 const char* kernel_name) {
  return "OpenCL error " + std::to_string(code) + "\nOn device: '" + device_name + "'\nin kernel: " +
         kernel_label(domain, kernel_name);
}

std::string nivolo_build_message(std::uint32_t result, const std::string& device_name, std::int32_t domain,
                                 const char* kernel_name) {
  char digits[16];
  std::snprintf(digits, sizeof digits, "%x", static_cast<unsigned>(result));
  return std::string("Nivolo error:") + digits + "\nOn device: '" + device_name + "'\nin kernel: " +
         kernel_label(domain, kernel_name);
}

std::uint64_t program_build_count() { return builds.load(); }

std::string last_failed_build_log() { return failed_build_logs::table().of_this_thread(); }

cl_program build_ocl_program(cl_device_id device, cl_context context, const void* data, std::size_t size,
                             char format, const char* options, sycl::queue* queue, const char* kernel_name,
                             std::int32_t domain) {
  cl_int error = CL_SUCCESS;
  cl_program program = create_ocl_program(device, context, data, size, format, &error);
  if (error != CL_SUCCESS) {
    failed_build_logs::table().keep(std::string());
    raise_opencl_failure(error, queue, kernel_name, domain);
  }
  ++builds;
  const cl_int built = ocl::clBuildProgram(program, 1, &device, options, nullptr, nullptr);
  if (built == CL_SUCCESS) return program;
  failed_build_logs::table().keep(build_log(program, device));
  ocl::clReleaseProgram(program);
  raise_opencl_failure(built, queue, kernel_name, domain);
}

void* build_program(int* status, sycl::queue* queue, void* device, void* native_context, std::int32_t domain,
                    const char* kernel_name, const void* data, std::size_t size, char format, const char* options,
                    std::uint8_t* release_flag) {
  switch (get_queue_backend(queue)) {
    case QEZ_GPU_BACKEND_OPENCL:
      return build_ocl_program(static_cast<cl_device_id>(device), static_cast<cl_context>(native_context), data,
                               size, format, options, queue, kernel_name, domain);
    case QEZ_GPU_BACKEND_NIVOLO:
      if (format == format_source)
        return build_nivolo_from_source(status, queue, device, native_context, domain, kernel_name,
                                        static_cast<const char*>(data), options, release_flag);
      return build_nivolo_module(queue, device, native_context, domain, kernel_name, data, size, format, options);
    default:
      return nullptr;
  }
}

cl_program compile_source_on_ocl_device(int* status, void* nivolo_device, std::int32_t domain,
                                        const char* kernel_name, const char* source, const char* options,
                                        std::uint8_t* release_flag, bool use_cache, std::uint8_t** binary,
                                        std::size_t* binary_size, sycl::queue* queue) {
  void* twin_device = nullptr;
  void* twin_context = nullptr;
  match_cl_device_context(status, nivolo_device, &twin_device, &twin_context);
  if (*status != 0) return nullptr;
  const std::size_t options_length = safe_strnlen(options, safe_string_limit);
  void* program = nullptr;
  if (use_cache) {
    const char* name = kernel_name;
    kernel_cache_lookup(nullptr, twin_device, twin_context, domain, &name, options, options_length, &program, nullptr,
                        nullptr, nullptr);
    if (program != nullptr && release_flag) *release_flag = 0;
  }
  if (program == nullptr) {
    program = build_ocl_program(static_cast<cl_device_id>(twin_device), static_cast<cl_context>(twin_context), source,
                                0, format_source, options, queue, kernel_name, domain);
    kernel_cache_insert(status, nullptr, program, twin_device, twin_context, domain, kernel_name, options,
                        options_length, nullptr, 0);
    if (*status != 0) throw_opencl_error(*status);
  }
  if (binary != nullptr) {
    *binary = nullptr;
    if (binary_size) *binary_size = 0;
    get_program_binary(status, static_cast<cl_program>(program), static_cast<cl_device_id>(twin_device), binary,
                       binary_size);
  }
  return static_cast<cl_program>(program);
}

void get_program_binary(int*, cl_program program, cl_device_id device, std::uint8_t** binary, std::size_t* size) {
  *binary = nullptr;
  *size = 0;
  std::vector<cl_device_id> devices;
  program_devices(program, &devices);
  std::size_t position = 0;
  while (position < devices.size() && devices[position] != device) ++position;
  if (position == devices.size()) throw_opencl_error(opencl_device_not_in_program);
  std::vector<std::size_t> sizes(devices.size());
  if (ocl::clGetProgramInfo(program, CL_PROGRAM_BINARY_SIZES, sizes.size() * sizeof(std::size_t), sizes.data(),
                            nullptr) != CL_SUCCESS)
    return;
  std::vector<unsigned char*> binaries(devices.size(), nullptr);
  bool allocated = true;
  for (std::size_t i = 0; i < binaries.size() && allocated; ++i) {
    binaries[i] = static_cast<unsigned char*>(qez_serv_malloc(sizes[i] ? sizes[i] : 1, binary_alignment));
    allocated = binaries[i] != nullptr;
  }
  const bool queried = allocated && ocl::clGetProgramInfo(program, CL_PROGRAM_BINARIES,
                                                          binaries.size() * sizeof(unsigned char*), binaries.data(),
                                                          nullptr) == CL_SUCCESS;
  for (std::size_t i = 0; i < binaries.size(); ++i) {
    if (queried && i == position) continue;
    qez_serv_free(binaries[i]);
  }
  if (!queried) return;
  *binary = binaries[position];
  *size = sizes[position];
}

}  // namespace ulmara::qez::gpu
