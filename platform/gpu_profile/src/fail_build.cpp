// Builds that fail on demand (STANDIN_GPU_FAIL_BUILD=<text>): a program whose
// source or build options contain <text> is not handed to the compiler; the
// build fails as a compiler error would (CL_BUILD_PROGRAM_FAILURE from
// clBuildProgram, CL_COMPILE_PROGRAM_FAILURE from clCompileProgram,
// CL_LINK_PROGRAM_FAILURE from clLinkProgram), the program's build status
// is CL_BUILD_ERROR and its build log says why. The variable is read at
// every build, so a test process may change it between builds.
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "profile_internal.hpp"

namespace qez_profile {
namespace {

// The calls the failing builds stand in front of (the profile's own
// overrides, or the loader's).
struct inner_calls {
  decltype(cl_api::clBuildProgram) build = nullptr;
  decltype(cl_api::clCompileProgram) compile = nullptr;
  decltype(cl_api::clLinkProgram) link = nullptr;
  decltype(cl_api::clGetProgramBuildInfo) build_info = nullptr;
  decltype(cl_api::clCreateProgramWithSource) create_with_source = nullptr;
  decltype(cl_api::clCreateProgramWithIL) create_with_il = nullptr;
  decltype(cl_api::clCreateProgramWithBinary) create_with_binary = nullptr;
  decltype(cl_api::clCreateProgramWithBuiltInKernels) create_with_built_ins = nullptr;
};
inner_calls inner;

// Programs whose last build failed on demand, with their build logs. A new
// program may reuse the handle of a released one: creation forgets it.
std::mutex failed_mutex;
std::map<cl_program, std::string> failed_logs;

void remember_failure(cl_program p, const std::string& log) {
  std::lock_guard<std::mutex> lock(failed_mutex);
  failed_logs[p] = log;
}
void forget_failure(cl_program p) {
  std::lock_guard<std::mutex> lock(failed_mutex);
  failed_logs.erase(p);
}
bool failure_log(cl_program p, std::string* log) {
  std::lock_guard<std::mutex> lock(failed_mutex);
  const auto it = failed_logs.find(p);
  if (it == failed_logs.end()) return false;
  *log = it->second;
  return true;
}

// The text that makes builds fail; empty when none is set.
std::string requested_text() {
  const char* v = std::getenv(QEZ_GPU_PROFILE_ENV_FAIL_BUILD);
  return v ? std::string(v) : std::string();
}

// The log of a build that failed on demand.
std::string failure_message(const std::string& text, const char* where) {
  return "error: build failed on request: the program's " + std::string(where) + " contain \"" + text + "\" (" +
         QEZ_GPU_PROFILE_ENV_FAIL_BUILD + ")\n";
}

// Where `text` occurs in a build: "source" or "options"; null when nowhere.
const char* match(const std::string& text, const std::vector<cl_program>& programs, const char* options) {
  if (text.empty()) return nullptr;
  if (options != nullptr && std::strstr(options, text.c_str()) != nullptr) return "options";
  for (cl_program p : programs)
    if (program_source(p).find(text) != std::string::npos) return "source";
  return nullptr;
}

// Checks a build of `programs` with `options`; true (and each program's
// failure remembered) when it is to fail.
bool fails_on_request(const std::vector<cl_program>& programs, const char* options, cl_program log_holder) {
  const std::string text = requested_text();
  const char* where = match(text, programs, options);
  if (where == nullptr) return false;
  if (log_holder != nullptr) remember_failure(log_holder, failure_message(text, where));
  return true;
}

cl_int CL_API_CALL build_program(cl_program program, cl_uint num_devices, const cl_device_id* devices,
                                 const char* options, void(CL_CALLBACK* notify)(cl_program, void*), void* user_data) {
  forget_failure(program);
  if (program != nullptr && fails_on_request({program}, options, program)) {
    if (notify) notify(program, user_data);
    return CL_BUILD_PROGRAM_FAILURE;
  }
  return inner.build(program, num_devices, devices, options, notify, user_data);
}

cl_int CL_API_CALL compile_program(cl_program program, cl_uint num_devices, const cl_device_id* devices,
                                   const char* options, cl_uint num_headers, const cl_program* headers,
                                   const char** header_names, void(CL_CALLBACK* notify)(cl_program, void*),
                                   void* user_data) {
  forget_failure(program);
  std::vector<cl_program> sources{program};
  for (cl_uint i = 0; headers != nullptr && i < num_headers; ++i) sources.push_back(headers[i]);
  if (program != nullptr && fails_on_request(sources, options, program)) {
    if (notify) notify(program, user_data);
    return CL_COMPILE_PROGRAM_FAILURE;
  }
  return inner.compile(program, num_devices, devices, options, num_headers, headers, header_names, notify,
                       user_data);
}

// A link of inputs one of which (or the options) holds the text gives no
// program, as a link whose inputs cannot be linked does.
cl_program CL_API_CALL link_program(cl_context context, cl_uint num_devices, const cl_device_id* devices,
                                    const char* options, cl_uint num_programs, const cl_program* programs,
                                    void(CL_CALLBACK* notify)(cl_program, void*), void* user_data,
                                    cl_int* errcode_ret) {
  const std::vector<cl_program> inputs(programs, programs + (programs != nullptr ? num_programs : 0));
  if (!inputs.empty() && fails_on_request(inputs, options, nullptr)) {
    if (errcode_ret) *errcode_ret = CL_LINK_PROGRAM_FAILURE;
    return nullptr;
  }
  return inner.link(context, num_devices, devices, options, num_programs, programs, notify, user_data,
                    errcode_ret);
}

cl_int answer_bytes(const void* data, size_t n, size_t size, void* value, size_t* size_ret) {
  if (value) {
    if (size < n) return CL_INVALID_VALUE;
    std::memcpy(value, data, n);
  }
  if (size_ret) *size_ret = n;
  return CL_SUCCESS;
}

cl_int CL_API_CALL get_program_build_info(cl_program program, cl_device_id device, cl_program_build_info what,
                                          size_t size, void* value, size_t* size_ret) {
  std::string log;
  if (!failure_log(program, &log)) return inner.build_info(program, device, what, size, value, size_ret);
  switch (what) {
    case CL_PROGRAM_BUILD_STATUS: {
      const cl_build_status error = CL_BUILD_ERROR;
      return answer_bytes(&error, sizeof error, size, value, size_ret);
    }
    case CL_PROGRAM_BUILD_LOG:
      return answer_bytes(log.c_str(), log.size() + 1, size, value, size_ret);
    default:
      return inner.build_info(program, device, what, size, value, size_ret);
  }
}

// Creation forgets an earlier program that had the same handle.
cl_program forgotten(cl_program p) {
  if (p != nullptr) forget_failure(p);
  return p;
}

cl_program CL_API_CALL create_with_source(cl_context context, cl_uint count, const char** strings,
                                          const size_t* lengths, cl_int* errcode_ret) {
  return forgotten(inner.create_with_source(context, count, strings, lengths, errcode_ret));
}
cl_program CL_API_CALL create_with_il(cl_context context, const void* il, size_t length, cl_int* errcode_ret) {
  return forgotten(inner.create_with_il(context, il, length, errcode_ret));
}
cl_program CL_API_CALL create_with_binary(cl_context context, cl_uint num_devices, const cl_device_id* devices,
                                          const size_t* lengths, const unsigned char** binaries,
                                          cl_int* binary_status, cl_int* errcode_ret) {
  return forgotten(inner.create_with_binary(context, num_devices, devices, lengths, binaries, binary_status,
                                            errcode_ret));
}
cl_program CL_API_CALL create_with_built_ins(cl_context context, cl_uint num_devices, const cl_device_id* devices,
                                             const char* names, cl_int* errcode_ret) {
  return forgotten(inner.create_with_built_ins(context, num_devices, devices, names, errcode_ret));
}

}  // namespace

void install_fail_build_overrides(cl_api& api) {
  stand_in_front(api.clBuildProgram, inner.build, build_program);
  stand_in_front(api.clCompileProgram, inner.compile, compile_program);
  stand_in_front(api.clLinkProgram, inner.link, link_program);
  stand_in_front(api.clGetProgramBuildInfo, inner.build_info, get_program_build_info);
  stand_in_front(api.clCreateProgramWithSource, inner.create_with_source, create_with_source);
  stand_in_front(api.clCreateProgramWithIL, inner.create_with_il, create_with_il);
  stand_in_front(api.clCreateProgramWithBinary, inner.create_with_binary, create_with_binary);
  stand_in_front(api.clCreateProgramWithBuiltInKernels, inner.create_with_built_ins, create_with_built_ins);
}

}  // namespace qez_profile
