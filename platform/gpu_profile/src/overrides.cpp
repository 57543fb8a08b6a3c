// The calls in which the profile differs from the device underneath: device
// type and enumeration, the devices of contexts and programs of two presented
// GPUs, device information, kernel work-group limits, build options and, on a
// device without double precision, program sources.
#include <algorithm>
#include <cctype>
#include <cstring>
#include <string>
#include <vector>

#include "device_pair.hpp"
#include "profile_internal.hpp"
#include "sub_group_emulation.hpp"

namespace qez_profile {
namespace {

const qez_gpu_profile_t& profile() { return *qez_gpu_profile_active(); }

// The second of two presented GPUs runs this much faster than the first (the
// device underneath), so the two can be told apart by their clocks.
constexpr cl_uint second_gpu_clock_step_mhz = 100;

// Device types a caller may ask for that the profile's devices (all GPUs) match.
bool type_matches_gpu(cl_device_type type) {
  return type == CL_DEVICE_TYPE_ALL || (type & (CL_DEVICE_TYPE_GPU | CL_DEVICE_TYPE_DEFAULT)) != 0;
}

// Copies an answer of `n` bytes the way clGetDeviceInfo does.
cl_int answer(const void* data, size_t n, size_t size, void* value, size_t* size_ret) {
  if (value) {
    if (size < n) return CL_INVALID_VALUE;
    std::memcpy(value, data, n);
  }
  if (size_ret) *size_ret = n;
  return CL_SUCCESS;
}
template <class T>
cl_int answer_value(T v, size_t size, void* value, size_t* size_ret) {
  return answer(&v, sizeof v, size, value, size_ret);
}
cl_int answer_string(const std::string& s, size_t size, void* value, size_t* size_ret) {
  return answer(s.c_str(), s.size() + 1, size, value, size_ret);
}

// The real device's answer of a fixed-size value.
template <class T>
cl_int real_value(cl_device_id d, cl_device_info p, T* out) {
  return next().clGetDeviceInfo(d, p, sizeof(T), out, nullptr);
}
// A cl_ulong size the profile may lower: the real answer, or `cap` when that
// is set (non-zero) and smaller.
cl_int answer_capped_size(cl_device_id d, cl_device_info p, cl_ulong cap, size_t size, void* value,
                          size_t* size_ret) {
  cl_ulong real = 0;
  if (cl_int err = real_value(d, p, &real)) return err;
  return answer_value<cl_ulong>(cap != 0 ? std::min(real, cap) : real, size, value, size_ret);
}
cl_int real_bytes(cl_device_id d, cl_device_info p, std::vector<char>* out) {
  size_t n = 0;
  cl_int err = next().clGetDeviceInfo(d, p, 0, nullptr, &n);
  if (err != CL_SUCCESS) return err;
  out->assign(n, 0);
  return next().clGetDeviceInfo(d, p, n, out->data(), nullptr);
}

// ---- double precision switched off ----

constexpr const char* fp64_extension = "cl_khr_fp64";
constexpr const char* fp64_feature = "__opencl_c_fp64";

bool fp64_off() { return profile().has_fp64 == 0; }

// The space-separated list `list` without the word `word`.
std::string without_word(const std::string& list, const std::string& word) {
  std::string out;
  size_t i = 0;
  while (i < list.size()) {
    const size_t end = std::min(list.find(' ', i), list.size());
    if (end > i && list.compare(i, end - i, word) != 0) out += list.substr(i, end - i) + " ";
    i = end + 1;
  }
  return out;
}

// A name-and-version array (CL_DEVICE_EXTENSIONS_WITH_VERSION,
// CL_DEVICE_OPENCL_C_FEATURES) without the entry `name`.
cl_int answer_without_entry(const std::vector<char>& real, const char* name, size_t size, void* value,
                            size_t* size_ret) {
  std::vector<cl_name_version> entries(real.size() / sizeof(cl_name_version));
  std::memcpy(entries.data(), real.data(), entries.size() * sizeof(cl_name_version));
  entries.erase(std::remove_if(entries.begin(), entries.end(),
                               [name](const cl_name_version& e) { return std::strcmp(e.name, name) == 0; }),
                entries.end());
  return answer(entries.data(), entries.size() * sizeof(cl_name_version), size, value, size_ret);
}

// PoCL compiles double whatever the device reports and ignores the disabling
// pragma, so each source gets a prelude: the extension's macros go, and the
// double types become a name no declaration has, so a program that uses
// double fails to build (CL_BUILD_PROGRAM_FAILURE, the compiler's log names
// the type) as it would on a device without fp64. `#line 1` keeps the
// line numbers of the caller's text.
constexpr const char* no_fp64_prelude =
    "#undef cl_khr_fp64\n"
    "#undef __opencl_c_fp64\n"
    "#define double double_needs_cl_khr_fp64\n"
    "#define double2 double_needs_cl_khr_fp64\n"
    "#define double3 double_needs_cl_khr_fp64\n"
    "#define double4 double_needs_cl_khr_fp64\n"
    "#define double8 double_needs_cl_khr_fp64\n"
    "#define double16 double_needs_cl_khr_fp64\n"
    "#line 1\n";

cl_program CL_API_CALL create_program_with_source(cl_context context, cl_uint count, const char** strings,
                                                  const size_t* lengths, cl_int* errcode_ret) {
  if ((!fp64_off() && !sub_groups_emulated()) || count == 0 || strings == nullptr)
    return next().clCreateProgramWithSource(context, count, strings, lengths, errcode_ret);
  std::vector<const char*> all;
  std::vector<size_t> all_lengths;
  if (sub_groups_emulated()) {
    all.push_back(sub_group_prelude().c_str());
    all_lengths.push_back(sub_group_prelude().size());
  }
  if (fp64_off()) {
    all.push_back(no_fp64_prelude);
    all_lengths.push_back(std::strlen(no_fp64_prelude));
  }
  for (cl_uint i = 0; i < count; ++i) {
    all.push_back(strings[i]);
    all_lengths.push_back(lengths ? lengths[i] : 0);
  }
  return next().clCreateProgramWithSource(context, static_cast<cl_uint>(all.size()), all.data(), all_lengths.data(),
                                          errcode_ret);
}

// ---- enumeration and device information ----

cl_int CL_API_CALL get_platform_ids(cl_uint num_entries, cl_platform_id* platforms, cl_uint* num_platforms) {
  if (!qez_gpu_profile_active()) {
    if (num_platforms) *num_platforms = 0;
    return CL_PLATFORM_NOT_FOUND_KHR;
  }
  return next().clGetPlatformIDs(num_entries, platforms, num_platforms);
}

cl_int CL_API_CALL get_device_ids(cl_platform_id platform, cl_device_type type, cl_uint num_entries,
                                  cl_device_id* devices, cl_uint* num_devices) {
  if (!type_matches_gpu(type)) {
    if ((num_entries == 0 && devices) || (!devices && !num_devices)) return CL_INVALID_VALUE;
    if (num_devices) *num_devices = 0;
    return CL_DEVICE_NOT_FOUND;
  }
  cl_device_id pair[2] = {};
  if (presented_pair_devices(platform, pair)) {
    if ((num_entries == 0 && devices) || (!devices && !num_devices)) return CL_INVALID_VALUE;
    if (devices) std::copy(pair, pair + std::min<cl_uint>(num_entries, 2), devices);
    if (num_devices) *num_devices = 2;
    return CL_SUCCESS;
  }
  return next().clGetDeviceIDs(platform, CL_DEVICE_TYPE_ALL, num_entries, devices, num_devices);
}

// The platform a context's properties name, else the first platform.
cl_platform_id platform_of(const cl_context_properties* properties) {
  for (const cl_context_properties* p = properties; p != nullptr && p[0] != 0; p += 2)
    if (p[0] == CL_CONTEXT_PLATFORM) return reinterpret_cast<cl_platform_id>(p[1]);
  cl_platform_id first = nullptr;
  next().clGetPlatformIDs(1, &first, nullptr);
  return first;
}

// The presented halves are root devices that live with the process.
cl_int CL_API_CALL retain_device(cl_device_id d) {
  return is_presented_half(d) ? CL_SUCCESS : next().clRetainDevice(d);
}
cl_int CL_API_CALL release_device(cl_device_id d) {
  return is_presented_half(d) ? CL_SUCCESS : next().clReleaseDevice(d);
}

cl_context CL_API_CALL create_context(const cl_context_properties* properties, cl_uint num_devices,
                                      const cl_device_id* devices,
                                      void(CL_CALLBACK* notify)(const char*, const void*, size_t, void*),
                                      void* user_data, cl_int* errcode_ret) {
  cl_context context = next().clCreateContext(properties, num_devices, devices, notify, user_data, errcode_ret);
  remember_context_devices(context, num_devices, devices);
  return context;
}

cl_context CL_API_CALL create_context_from_type(const cl_context_properties* properties, cl_device_type type,
                                                void(CL_CALLBACK* notify)(const char*, const void*, size_t, void*),
                                                void* user_data, cl_int* errcode_ret) {
  if (!type_matches_gpu(type)) {
    if (errcode_ret) *errcode_ret = CL_DEVICE_NOT_FOUND;
    return nullptr;
  }
  cl_device_id pair[2] = {};
  if (presented_pair_devices(platform_of(properties), pair))
    return create_context(properties, 2, pair, notify, user_data, errcode_ret);
  return next().clCreateContextFromType(properties, CL_DEVICE_TYPE_ALL, notify, user_data, errcode_ret);
}

// ---- contexts and programs of the presented halves ----

cl_int CL_API_CALL get_context_info(cl_context context, cl_context_info p, size_t size, void* value,
                                    size_t* size_ret) {
  std::vector<cl_device_id> shown;
  if ((p == CL_CONTEXT_NUM_DEVICES || p == CL_CONTEXT_DEVICES) && presented_context_devices(context, &shown)) {
    if (p == CL_CONTEXT_NUM_DEVICES) return answer_value<cl_uint>(static_cast<cl_uint>(shown.size()), size, value, size_ret);
    return answer(shown.data(), shown.size() * sizeof(cl_device_id), size, value, size_ret);
  }
  return next().clGetContextInfo(context, p, size, value, size_ret);
}

bool is_per_device_program_info(cl_program_info p) {
  return p == CL_PROGRAM_NUM_DEVICES || p == CL_PROGRAM_DEVICES || p == CL_PROGRAM_BINARY_SIZES ||
         p == CL_PROGRAM_BINARIES;
}

// The devices of the program's context, when they include a half (the
// program's devices then: a program made for some of them only answers for
// all of the context's).
bool presented_program_devices(cl_program program, std::vector<cl_device_id>* devices) {
  cl_context context = nullptr;
  return next().clGetProgramInfo(program, CL_PROGRAM_CONTEXT, sizeof context, &context, nullptr) == CL_SUCCESS &&
         presented_context_devices(context, devices);
}

// The device underneath's own list of a program's devices and their binary sizes.
cl_int real_program_devices(cl_program program, std::vector<cl_device_id>* devices, std::vector<size_t>* sizes) {
  cl_uint count = 0;
  if (cl_int err = next().clGetProgramInfo(program, CL_PROGRAM_NUM_DEVICES, sizeof count, &count, nullptr)) return err;
  devices->assign(count, nullptr);
  sizes->assign(count, 0);
  if (cl_int err = next().clGetProgramInfo(program, CL_PROGRAM_DEVICES, count * sizeof(cl_device_id),
                                           devices->data(), nullptr))
    return err;
  return next().clGetProgramInfo(program, CL_PROGRAM_BINARY_SIZES, count * sizeof(size_t), sizes->data(), nullptr);
}

// Where `device` is in the real list: its own entry or that of the whole
// device it is a half of; the list's size when neither is there.
size_t real_entry(cl_device_id device, const std::vector<cl_device_id>& real) {
  cl_device_id parent = nullptr;
  next().clGetDeviceInfo(device, CL_DEVICE_PARENT_DEVICE, sizeof parent, &parent, nullptr);
  size_t i = 0;
  while (i < real.size() && real[i] != device && real[i] != parent) ++i;
  return i;
}

// The binaries of the real list, copied to the caller's array of one
// pointer per shown device (a null pointer skips its device).
cl_int copy_binaries(cl_program program, const std::vector<cl_device_id>& shown,
                     const std::vector<cl_device_id>& real, const std::vector<size_t>& real_sizes,
                     unsigned char* const* out) {
  std::vector<std::vector<unsigned char>> bytes(real.size());
  std::vector<unsigned char*> pointers(real.size());
  for (size_t i = 0; i < real.size(); ++i) {
    bytes[i].resize(real_sizes[i]);
    pointers[i] = bytes[i].data();
  }
  if (cl_int err = next().clGetProgramInfo(program, CL_PROGRAM_BINARIES, pointers.size() * sizeof(unsigned char*),
                                           pointers.data(), nullptr))
    return err;
  for (size_t i = 0; i < shown.size(); ++i) {
    const size_t e = real_entry(shown[i], real);
    if (out[i] != nullptr && e < real.size()) std::memcpy(out[i], bytes[e].data(), bytes[e].size());
  }
  return CL_SUCCESS;
}

cl_int answer_per_shown_device(cl_program program, cl_program_info p, const std::vector<cl_device_id>& shown,
                               size_t size, void* value, size_t* size_ret) {
  if (p == CL_PROGRAM_NUM_DEVICES) return answer_value<cl_uint>(static_cast<cl_uint>(shown.size()), size, value, size_ret);
  if (p == CL_PROGRAM_DEVICES) return answer(shown.data(), shown.size() * sizeof(cl_device_id), size, value, size_ret);
  std::vector<cl_device_id> real;
  std::vector<size_t> real_sizes;
  if (cl_int err = real_program_devices(program, &real, &real_sizes)) return err;
  if (p == CL_PROGRAM_BINARY_SIZES) {
    std::vector<size_t> sizes(shown.size(), 0);
    for (size_t i = 0; i < shown.size(); ++i) {
      const size_t e = real_entry(shown[i], real);
      if (e < real.size()) sizes[i] = real_sizes[e];
    }
    return answer(sizes.data(), sizes.size() * sizeof(size_t), size, value, size_ret);
  }
  const size_t n = shown.size() * sizeof(unsigned char*);
  if (value) {
    if (size < n) return CL_INVALID_VALUE;
    if (cl_int err = copy_binaries(program, shown, real, real_sizes, static_cast<unsigned char* const*>(value)))
      return err;
  }
  if (size_ret) *size_ret = n;
  return CL_SUCCESS;
}

cl_int CL_API_CALL get_program_info(cl_program program, cl_program_info p, size_t size, void* value,
                                    size_t* size_ret) {
  std::vector<cl_device_id> shown;
  if (is_per_device_program_info(p) && presented_program_devices(program, &shown))
    return answer_per_shown_device(program, p, shown, size, value, size_ret);
  return next().clGetProgramInfo(program, p, size, value, size_ret);
}

cl_int CL_API_CALL get_device_info(cl_device_id d, cl_device_info p, size_t size, void* value, size_t* size_ret) {
  const qez_gpu_profile_t& prof = profile();
  switch (p) {
    case CL_DEVICE_PARENT_DEVICE:
      if (is_presented_half(d)) return answer_value<cl_device_id>(nullptr, size, value, size_ret);
      break;
    case CL_DEVICE_MAX_CLOCK_FREQUENCY: {
      if (presented_half_index(d) != 1) break;
      cl_uint real = 0;
      if (cl_int err = real_value(d, p, &real)) return err;
      return answer_value<cl_uint>(real + second_gpu_clock_step_mhz, size, value, size_ret);
    }
    case CL_DEVICE_TYPE: {
      cl_device_type real = 0;  // validates the handle
      if (cl_int err = real_value(d, p, &real)) return err;
      return answer_value<cl_device_type>(CL_DEVICE_TYPE_GPU, size, value, size_ret);
    }
    case CL_DEVICE_NAME:
    case CL_DEVICE_VENDOR: {
      std::vector<char> real;
      if (cl_int err = real_bytes(d, p, &real)) return err;
      return answer_string(p == CL_DEVICE_NAME ? prof.device_name : QEZ_GPU_PROFILE_VENDOR_NAME, size, value,
                           size_ret);
    }
    case CL_DEVICE_VENDOR_ID: {
      cl_uint real = 0;
      if (cl_int err = real_value(d, p, &real)) return err;
      return answer_value<cl_uint>(QEZ_GPU_PROFILE_VENDOR_ID, size, value, size_ret);
    }
    case CL_DEVICE_MAX_COMPUTE_UNITS: {
      cl_uint real = 0;
      if (cl_int err = real_value(d, p, &real)) return err;
      return answer_value<cl_uint>(prof.eu_count, size, value, size_ret);
    }
    case CL_DEVICE_MAX_WORK_GROUP_SIZE: {
      size_t real = 0;
      if (cl_int err = real_value(d, p, &real)) return err;
      return answer_value<size_t>(std::min(real, prof.max_work_group_size), size, value, size_ret);
    }
    case CL_DEVICE_MAX_WORK_ITEM_SIZES: {
      std::vector<char> real;
      if (cl_int err = real_bytes(d, p, &real)) return err;
      size_t n = real.size() / sizeof(size_t);
      std::vector<size_t> sizes(n);
      std::memcpy(sizes.data(), real.data(), n * sizeof(size_t));
      for (size_t& s : sizes) s = std::min(s, prof.max_work_group_size);
      return answer(sizes.data(), n * sizeof(size_t), size, value, size_ret);
    }
    case CL_DEVICE_LOCAL_MEM_SIZE:
      return answer_capped_size(d, p, prof.local_mem_size, size, value, size_ret);
    case CL_DEVICE_MAX_MEM_ALLOC_SIZE:
      return answer_capped_size(d, p, prof.max_mem_alloc_size, size, value, size_ret);
    case CL_DEVICE_GLOBAL_MEM_CACHE_SIZE:
      return answer_capped_size(d, p, prof.global_mem_cache_size, size, value, size_ret);
    case CL_DEVICE_LOCAL_MEM_TYPE: {
      cl_device_local_mem_type real = 0;
      if (cl_int err = real_value(d, p, &real)) return err;
      return answer_value<cl_device_local_mem_type>(CL_LOCAL, size, value, size_ret);
    }
    case CL_DEVICE_PARTITION_MAX_SUB_DEVICES: {
      cl_uint real = 0;
      if (cl_int err = real_value(d, p, &real)) return err;
      return answer_value<cl_uint>(prof.tile_count > 1 ? prof.tile_count : 0, size, value, size_ret);
    }
    case CL_DEVICE_PARTITION_PROPERTIES: {
      if (prof.tile_count > 1) break;
      std::vector<char> real;
      if (cl_int err = real_bytes(d, p, &real)) return err;
      return answer_value<cl_device_partition_property>(0, size, value, size_ret);
    }
    case CL_DEVICE_EXTENSIONS: {
      std::vector<char> real;
      if (cl_int err = real_bytes(d, p, &real)) return err;
      std::string ext(real.data());
      if (fp64_off()) ext = without_word(ext, fp64_extension);
      while (!ext.empty() && ext.back() == ' ') ext.pop_back();
      ext += " " QEZ_GPU_PROFILE_EXTENSION " ";
      if (sub_groups_emulated()) ext += std::string(emulated_sub_group_extensions()) + " ";
      return answer_string(ext, size, value, size_ret);
    }
    case CL_DEVICE_EXTENSIONS_WITH_VERSION:
    case CL_DEVICE_OPENCL_C_FEATURES: {
      if (!fp64_off()) break;
      std::vector<char> real;
      if (cl_int err = real_bytes(d, p, &real)) return err;
      return answer_without_entry(real, p == CL_DEVICE_OPENCL_C_FEATURES ? fp64_feature : fp64_extension, size,
                                  value, size_ret);
    }
    case CL_DEVICE_DOUBLE_FP_CONFIG: {
      if (!fp64_off()) break;
      cl_device_fp_config real = 0;
      if (cl_int err = real_value(d, p, &real)) return err;
      return answer_value<cl_device_fp_config>(0, size, value, size_ret);
    }
    case CL_DEVICE_PREFERRED_VECTOR_WIDTH_DOUBLE:
    case CL_DEVICE_NATIVE_VECTOR_WIDTH_DOUBLE: {
      if (!fp64_off()) break;
      cl_uint real = 0;
      if (cl_int err = real_value(d, p, &real)) return err;
      return answer_value<cl_uint>(0, size, value, size_ret);
    }
    case QEZ_CL_DEVICE_SUB_GROUP_SIZES: {
      cl_device_type real = 0;
      if (cl_int err = real_value(d, CL_DEVICE_TYPE, &real)) return err;
      return answer(prof.sub_group_sizes, prof.num_sub_group_sizes * sizeof(size_t), size, value, size_ret);
    }
    case QEZ_CL_DEVICE_IP_VERSION:
    case QEZ_CL_DEVICE_ID:
    case QEZ_CL_DEVICE_NUM_SLICES:
    case QEZ_CL_DEVICE_NUM_SUB_SLICES_PER_SLICE:
    case QEZ_CL_DEVICE_NUM_EUS_PER_SUB_SLICE:
    case QEZ_CL_DEVICE_NUM_THREADS_PER_EU: {
      cl_device_type real = 0;
      if (cl_int err = real_value(d, CL_DEVICE_TYPE, &real)) return err;
      cl_uint v = 0;
      switch (p) {
        case QEZ_CL_DEVICE_IP_VERSION:
          if (!prof.has_ip_version) return CL_INVALID_VALUE;
          v = prof.ip_version;
          break;
        case QEZ_CL_DEVICE_ID: v = prof.pci_device_id; break;
        case QEZ_CL_DEVICE_NUM_SLICES: v = prof.slices; break;
        case QEZ_CL_DEVICE_NUM_SUB_SLICES_PER_SLICE: v = prof.sub_slices_per_slice; break;
        case QEZ_CL_DEVICE_NUM_EUS_PER_SUB_SLICE: v = prof.eus_per_sub_slice; break;
        default: v = prof.threads_per_eu; break;
      }
      return answer_value<cl_uint>(v, size, value, size_ret);
    }
    default: break;
  }
  return next().clGetDeviceInfo(d, p, size, value, size_ret);
}

cl_int CL_API_CALL get_kernel_work_group_info(cl_kernel kernel, cl_device_id d, cl_kernel_work_group_info p,
                                              size_t size, void* value, size_t* size_ret) {
  if (p == CL_KERNEL_WORK_GROUP_SIZE) {
    size_t real = 0;
    cl_int err = next().clGetKernelWorkGroupInfo(kernel, d, p, sizeof real, &real, nullptr);
    if (err != CL_SUCCESS) return err;
    return answer_value<size_t>(std::min(real, profile().max_work_group_size), size, value, size_ret);
  }
  return next().clGetKernelWorkGroupInfo(kernel, d, p, size, value, size_ret);
}

// Removes every option token that starts with the vendor prefix; everything
// else (including quoted parts) stays as written.
std::string filter_options(const char* options) {
  if (!options) return std::string();
  const std::string in(options);
  const std::string prefix = QEZ_GPU_PROFILE_VENDOR_OPTION_PREFIX;
  std::string out;
  size_t i = 0;
  while (i < in.size()) {
    if (std::isspace(static_cast<unsigned char>(in[i]))) {
      out += in[i++];
      continue;
    }
    size_t j = i;
    bool quoted = false;
    while (j < in.size() && (quoted || !std::isspace(static_cast<unsigned char>(in[j])))) {
      if (in[j] == '"') quoted = !quoted;
      ++j;
    }
    if (in.compare(i, prefix.size(), prefix) != 0) out.append(in, i, j - i);
    i = j;
  }
  return out;
}

cl_int CL_API_CALL build_program(cl_program program, cl_uint num_devices, const cl_device_id* devices,
                                 const char* options, void(CL_CALLBACK* notify)(cl_program, void*), void* user_data) {
  const std::string filtered = filter_options(options);
  if (sub_groups_emulated()) return build_emulating_sub_groups(program, num_devices, devices, filtered, notify, user_data);
  return next().clBuildProgram(program, num_devices, devices, options ? filtered.c_str() : nullptr, notify,
                               user_data);
}

cl_int CL_API_CALL compile_program(cl_program program, cl_uint num_devices, const cl_device_id* devices,
                                   const char* options, cl_uint num_headers, const cl_program* headers,
                                   const char** header_names, void(CL_CALLBACK* notify)(cl_program, void*),
                                   void* user_data) {
  const std::string filtered = filter_options(options);
  return next().clCompileProgram(program, num_devices, devices, options ? filtered.c_str() : nullptr, num_headers,
                                 headers, header_names, notify, user_data);
}

cl_program CL_API_CALL link_program(cl_context context, cl_uint num_devices, const cl_device_id* devices,
                                    const char* options, cl_uint num_programs, const cl_program* programs,
                                    void(CL_CALLBACK* notify)(cl_program, void*), void* user_data,
                                    cl_int* errcode_ret) {
  const std::string filtered = filter_options(options);
  return next().clLinkProgram(context, num_devices, devices, options ? filtered.c_str() : nullptr, num_programs,
                              programs, notify, user_data, errcode_ret);
}

}  // namespace

void install_overrides(cl_api& api) {
  // An override is installed only where the loader has the entry point.
  if (api.clGetPlatformIDs) api.clGetPlatformIDs = get_platform_ids;
  if (api.clGetDeviceIDs) api.clGetDeviceIDs = get_device_ids;
  if (api.clRetainDevice) api.clRetainDevice = retain_device;
  if (api.clReleaseDevice) api.clReleaseDevice = release_device;
  if (api.clCreateContext) api.clCreateContext = create_context;
  if (api.clCreateContextFromType) api.clCreateContextFromType = create_context_from_type;
  if (api.clGetContextInfo) api.clGetContextInfo = get_context_info;
  if (api.clGetProgramInfo) api.clGetProgramInfo = get_program_info;
  if (api.clGetDeviceInfo) api.clGetDeviceInfo = get_device_info;
  if (api.clGetKernelWorkGroupInfo) api.clGetKernelWorkGroupInfo = get_kernel_work_group_info;
  if (api.clCreateProgramWithSource) api.clCreateProgramWithSource = create_program_with_source;
  if (api.clBuildProgram) api.clBuildProgram = build_program;
  if (api.clCompileProgram) api.clCompileProgram = compile_program;
  if (api.clLinkProgram) api.clLinkProgram = link_program;
}

}  // namespace qez_profile
