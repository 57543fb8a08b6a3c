// Architecture detection at run time.
#include "gpu/service/architecture.hpp"

#include <memory>
#include <mutex>
#include <vector>

#include "gpu/service/device_registry.hpp"
#include "gpu/service/hw_detect_exceptions.hpp"
#include "gpu/service/nivolo_interop.hpp"
#include "gpu/service/nivolo_loader.hpp"
#include "gpu/service/opencl_interop.hpp"
#include "gpu/service/service_errors.hpp"
#include "gpu/service/service_lock.hpp"
#include "platform/win/win_shim.hpp"
#include "ulmara/qez/exceptions.hpp"

namespace ulmara::qez::gpu {

// SPIR-V 1.0, OpenCL memory model, one kernel "entry" without arguments.
const std::uint32_t hw_detect_spirv[] = {
    0x07230203, 0x00010000, 0x00000000, 6, 0,     // header: magic, version, generator, bound, schema
    0x00020011, 4, 0x00020011, 6,                 // OpCapability Addresses, Kernel
    0x00020011, 11, 0x00020011, 39, 0x00020011, 22,  // OpCapability Int64, Int8, Int16
    0x0005000B, 5, 0x6E65704F, 0x732E4C43, 0x00006474,  // %5 = OpExtInstImport "OpenCL.std"
    0x0003000E, 2, 2,                             // OpMemoryModel Physical64 OpenCL
    0x0005000F, 6, 1, 0x72746E65, 0x00000079,     // OpEntryPoint Kernel %1 "entry"
    0x00030003, 3, 120000,                        // OpSource OpenCL_C 1.2
    0x00040005, 1, 0x72746E65, 0x00000079,        // OpName %1 "entry"
    0x00020013, 2,                                // %2 = OpTypeVoid
    0x00030021, 3, 2,                             // %3 = OpTypeFunction %2
    0x00050036, 2, 1, 0, 3,                       // %1 = OpFunction %2 None %3
    0x000200F8, 4,                                // %4 = OpLabel
    0x000100FD,                                   // OpReturn
    0x00010038,                                   // OpFunctionEnd
};
static_assert(sizeof(hw_detect_spirv) == hw_detect_spirv_bytes, "the built-in module is 196 bytes");

namespace {

constexpr int opencl_entry_missing = -1001;
constexpr cl_device_info device_ip_version = 0x4250;
constexpr const char* unknown_architecture_text = "unknown GPU architecture";

// ---- OpenCL entry points of detection, taken from the loaded library ----

#define QEZ_DETECT_OPENCL_ENTRIES(X) \
  X(clGetDeviceInfo)                 \
  X(clReleaseContext)                \
  X(clCreateProgramWithSource)       \
  X(clBuildProgram)                  \
  X(clGetProgramInfo)                \
  X(clReleaseProgram)

struct detect_opencl_api {
#define QEZ_DETECT_FIELD(name) decltype(::name)* name = nullptr;
  QEZ_DETECT_OPENCL_ENTRIES(QEZ_DETECT_FIELD)
#undef QEZ_DETECT_FIELD
};

template <class Function>
void resolve(win::HMODULE module, const char* name, Function** slot) {
  *slot = module ? reinterpret_cast<Function*>(win::GetProcAddress(module, name)) : nullptr;
}

const detect_opencl_api& opencl_api() {
  static const detect_opencl_api api = [] {
    detect_opencl_api resolved;
    const win::HMODULE module = win::GetModuleHandleA("OpenCL.dll");
#define QEZ_DETECT_RESOLVE(name) resolve(module, #name, &resolved.name);
    QEZ_DETECT_OPENCL_ENTRIES(QEZ_DETECT_RESOLVE)
#undef QEZ_DETECT_RESOLVE
    return resolved;
  }();
  return api;
}
#undef QEZ_DETECT_OPENCL_ENTRIES

template <class Function>
Function& entry(Function* const& slot) {
  if (slot == nullptr) throw zorn::opencl_error(opencl_entry_missing);
  return *slot;
}

void check_opencl(cl_int result) {
  if (result != CL_SUCCESS) throw zorn::opencl_error(result);
}

void check_nivolo(qx_result_t result) {
  if (result != QX_RESULT_SUCCESS) throw zorn::nivolo_error(result);
}

struct program_releaser {
  void operator()(cl_program program) const { entry(opencl_api().clReleaseProgram)(program); }
};
using program_holder = std::unique_ptr<std::remove_pointer_t<cl_program>, program_releaser>;

// The binary the driver builds for `device` from the trivial kernel.
std::vector<std::uint8_t> trivial_opencl_binary(cl_context context, cl_device_id device) {
  const detect_opencl_api& api = opencl_api();
  const char* source = hw_detect_opencl_source;
  cl_int error = CL_SUCCESS;
  cl_program created = entry(api.clCreateProgramWithSource)(context, 1, &source, nullptr, &error);
  check_opencl(error);
  if (created == nullptr) throw zorn::opencl_error(0);
  program_holder program(created);
  check_opencl(entry(api.clBuildProgram)(program.get(), 1, &device, "", nullptr, nullptr));
  cl_uint device_count = 0;
  check_opencl(entry(api.clGetProgramInfo)(program.get(), CL_PROGRAM_NUM_DEVICES, sizeof device_count,
                                           &device_count, nullptr));
  std::vector<cl_device_id> devices(device_count);
  check_opencl(entry(api.clGetProgramInfo)(program.get(), CL_PROGRAM_DEVICES, devices.size() * sizeof(cl_device_id),
                                           devices.data(), nullptr));
  std::size_t position = 0;
  while (position < devices.size() && devices[position] != device) ++position;
  if (position == devices.size()) throw zorn::opencl_error(0);
  std::vector<std::size_t> sizes(device_count);
  check_opencl(entry(api.clGetProgramInfo)(program.get(), CL_PROGRAM_BINARY_SIZES, sizes.size() * sizeof(std::size_t),
                                           sizes.data(), nullptr));
  std::vector<std::vector<std::uint8_t>> binaries(device_count);
  std::vector<unsigned char*> pointers(device_count);
  for (std::size_t i = 0; i < device_count; ++i) {
    binaries[i].resize(sizes[i]);
    pointers[i] = binaries[i].data();
  }
  check_opencl(entry(api.clGetProgramInfo)(program.get(), CL_PROGRAM_BINARIES, pointers.size() * sizeof(unsigned char*),
                                           pointers.data(), nullptr));
  check_opencl(entry(api.clReleaseProgram)(program.release()));
  return std::move(binaries[position]);
}

void identify_from_binary(const std::vector<std::uint8_t>& binary, hw_identity* id) {
  parse_compat_note(binary.data(), binary.size(), &id->generation, &id->family, &id->stepping);
}

// Detection on an OpenCL device; the reference that taking the native
// context added is released whatever the outcome.
void detect_on_opencl_queue(const sycl::context& context, const sycl::device& device, hw_identity* id) {
  cl_context native = native_cl_context(context);
  try {
    detect_on_opencl(native, native_cl_device(device), id);
  } catch (...) {
    entry(opencl_api().clReleaseContext)(native);
    throw;
  }
  check_opencl(entry(opencl_api().clReleaseContext)(native));
}

template <class Object>
void require_backend(const Object& object, sycl::backend backend) {
  if (object.get_backend() != backend) throw_backends_mismatch();
}

void detect_on_queue(sycl::queue* queue, hw_identity* id) {
  const sycl::device device = queue->get_device();
  const sycl::context context = queue->get_context();
  switch (device.get_backend()) {
    case sycl::backend::ext_ulmara_nivolo:
      require_backend(context, sycl::backend::ext_ulmara_nivolo);
      detect_on_nivolo(nivolo_native_context(context), nivolo_native_device(device), id);
      return;
    case sycl::backend::opencl:
      require_backend(context, sycl::backend::opencl);
      detect_on_opencl_queue(context, device, id);
      return;
    default:
      throw zorn::unsupported_sycl_device();
  }
}

void store_detection(qez_gpu_device_record_t* record, int status, std::uint32_t architecture,
                     std::uint32_t stepping, std::uint32_t flags) {
  const bool detected = status == 0;
  record->architecture = detected ? architecture : 0;
  record->stepping = detected ? stepping : 0;
  record->device_flags = detected ? flags : 0;
  __atomic_store_n(&record->architecture_detected, std::uint32_t{1}, __ATOMIC_RELEASE);
}

// The record of a queue, or null when the registry cannot give one.
qez_gpu_device_record_t* record_of(int* status, sycl::queue* queue) {
  if (*status != 0) return nullptr;
  qez_gpu_device_record_t* record = get_device_record(status, queue);
  return *status == 0 ? record : nullptr;
}

}  // namespace

void detect_on_nivolo(qx_context_handle_t context, qx_device_handle_t device, hw_identity* id) {
  check_nivolo(load_qx_loader() == 0 ? QX_RESULT_SUCCESS : QX_RESULT_ERROR_UNINITIALIZED);
  qx_device_ip_version_ext_t ip_version = {QX_STRUCTURE_TYPE_DEVICE_IP_VERSION_EXT, nullptr, 0};
  qx_device_properties_t properties = {};
  properties.stype = QX_STRUCTURE_TYPE_DEVICE_PROPERTIES;
  properties.pNext = &ip_version;
  if (qez_qxDeviceGetProperties(device, &properties) == QX_RESULT_SUCCESS &&
      decode_ip_version(ip_version.ipVersion, id))
    return;
  const qx_module_desc_t description = {QX_STRUCTURE_TYPE_MODULE_DESC, nullptr, QX_MODULE_FORMAT_IL_SPIRV,
                                        hw_detect_spirv_bytes,
                                        reinterpret_cast<const std::uint8_t*>(hw_detect_spirv), nullptr, nullptr};
  qx_module_handle_t module = nullptr;
  check_nivolo(qez_qxModuleCreate(context, device, &description, &module, nullptr));
  if (module == nullptr) throw zorn::nivolo_error(0);
  std::size_t size = 0;
  std::vector<std::uint8_t> binary;
  qx_result_t result = qez_qxModuleGetNativeBinary(module, &size, nullptr);
  if (result == QX_RESULT_SUCCESS) {
    binary.resize(size);
    result = qez_qxModuleGetNativeBinary(module, &size, binary.data());
  }
  const qx_result_t destroyed = qez_qxModuleDestroy(module);
  check_nivolo(result);
  check_nivolo(destroyed);
  identify_from_binary(binary, id);
}

void detect_on_opencl(cl_context context, cl_device_id device, hw_identity* id) {
  cl_uint ip_version = 0;
  if (entry(opencl_api().clGetDeviceInfo)(device, device_ip_version, sizeof ip_version, &ip_version, nullptr) ==
          CL_SUCCESS &&
      decode_ip_version(ip_version, id))
    return;
  identify_from_binary(trivial_opencl_binary(context, device), id);
}

void detect_hw_and_stepping(int*, sycl::queue* queue, std::uint32_t* architecture, std::uint32_t* stepping,
                            std::uint32_t* flags, int) {
  hw_identity id;
  try {
    detect_on_queue(queue, &id);
    if (id.generation == 0 && id.family != 0) id.generation = generation_of_family(id.family);
    if (id.generation != 0 && id.family == 0) id.family = family_of_generation(id.generation);
  } catch (...) {
    id = hw_identity{};
  }
  *architecture = architecture_of_generation(id.generation);
  *stepping = id.stepping;
  *flags = device_flags_of(id.generation, id.family);
}

bool architecture_published(const qez_gpu_device_record_t& record) {
  return __atomic_load_n(&record.architecture_detected, __ATOMIC_ACQUIRE) != 0;
}

void ensure_architecture(sycl::queue* queue, qez_gpu_device_record_t* record) {
  {
    service_lock_guard guard(&record->record_lock);
    if (!record->architecture_detected) {
      int status = 0;
      std::uint32_t architecture = 0, stepping = 0, flags = 0;
      try {
        const int backend = get_queue_backend(queue);
        detect_hw_and_stepping(&status, queue, &architecture, &stepping, &flags, backend);
      } catch (...) {
        status = -1;
      }
      store_detection(record, status, architecture, stepping, flags);
    }
  }
  if (queue->get_device().is_gpu() && record->architecture == QEZ_GPU_ARCH_UNKNOWN)
    throw ulmara::qez::exception("service", "qez_gpu_get_architecture", unknown_architecture_text);
}

qez_gpu_arch_t get_architecture(int* status, sycl::queue* queue) {
  qez_gpu_device_record_t* record = record_of(status, queue);
  if (record == nullptr) return QEZ_GPU_ARCH_UNKNOWN;
  ensure_architecture(queue, record);
  return record->architecture;
}

std::uint32_t get_device_flags(int* status, sycl::queue* queue) {
  qez_gpu_device_record_t* record = record_of(status, queue);
  if (record == nullptr) return 0;
  ensure_architecture(queue, record);
  return record->device_flags;
}

void get_architecture_and_stepping(int* status, sycl::queue* queue, qez_gpu_arch_t* architecture,
                                   std::uint32_t* stepping) {
  if (architecture) *architecture = QEZ_GPU_ARCH_UNKNOWN;
  if (stepping) *stepping = 0;
  qez_gpu_device_record_t* record = record_of(status, queue);
  if (record == nullptr) return;
  ensure_architecture(queue, record);
  if (architecture) *architecture = record->architecture;
  if (stepping) *stepping = record->stepping;
}

}  // namespace ulmara::qez::gpu
