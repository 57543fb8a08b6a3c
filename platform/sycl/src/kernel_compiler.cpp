// SYCL stand-in: the runtime's kernel compiler (detail/kernel_compiler.hpp).
// Nivolo devices have one unless STANDIN_SYCL_KERNEL_COMPILER=0 (read at
// every call, so a test may switch it between calls). It compiles OpenCL C
// for a device on the OpenCL device that carries the device's work, takes
// the binary and hands it to the driver as a native module, as a runtime
// hands its compiler's output to the driver.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "runtime.hpp"

namespace sycl {
inline namespace _V1 {
namespace detail {
namespace {

using ext::ulmara::experimental::source_language;

constexpr const char* compiler_variable = "STANDIN_SYCL_KERNEL_COMPILER";

bool compiler_switched_on() {
  const char* value = std::getenv(compiler_variable);
  return value == nullptr || std::strcmp(value, "0") != 0;
}

bool can_compile(const device_impl& d, source_language lang) {
  return d.nivolo != nullptr && lang == source_language::opencl && compiler_switched_on();
}

struct program_release {
  void operator()(cl_program p) const { clReleaseProgram(p); }
};
using program_ptr = std::unique_ptr<std::remove_pointer_t<cl_program>, program_release>;

std::string joined(const std::vector<std::string>& options) {
  std::string text;
  for (const std::string& option : options) {
    if (!text.empty()) text += ' ';
    text += option;
  }
  return text;
}

std::string build_log(cl_program program, cl_device_id device) {
  size_t size = 0;
  if (clGetProgramBuildInfo(program, device, CL_PROGRAM_BUILD_LOG, 0, nullptr, &size) != CL_SUCCESS) return {};
  std::string log(size, '\0');
  if (clGetProgramBuildInfo(program, device, CL_PROGRAM_BUILD_LOG, size, log.data(), nullptr) != CL_SUCCESS) return {};
  log.resize(std::strlen(log.c_str()));
  return log;
}

// The program's binary for `device`, one of the devices of its context (a
// context of several GPUs gives a program one binary slot per GPU).
std::vector<unsigned char> program_binary(cl_program program, cl_device_id device) {
  cl_uint count = 0;
  check_cl("clGetProgramInfo", clGetProgramInfo(program, CL_PROGRAM_NUM_DEVICES, sizeof count, &count, nullptr));
  std::vector<cl_device_id> devices(count);
  check_cl("clGetProgramInfo",
           clGetProgramInfo(program, CL_PROGRAM_DEVICES, count * sizeof(cl_device_id), devices.data(), nullptr));
  const auto slot = std::find(devices.begin(), devices.end(), device);
  if (slot == devices.end()) check_cl("clGetProgramInfo", CL_INVALID_DEVICE);
  std::vector<size_t> sizes(count);
  check_cl("clGetProgramInfo",
           clGetProgramInfo(program, CL_PROGRAM_BINARY_SIZES, count * sizeof(size_t), sizes.data(), nullptr));
  const auto index = static_cast<std::size_t>(slot - devices.begin());
  std::vector<std::vector<unsigned char>> binaries(count);
  std::vector<unsigned char*> pointers(count);
  for (std::size_t k = 0; k < count; ++k) {
    binaries[k].resize(sizes[k]);
    pointers[k] = binaries[k].data();
  }
  check_cl("clGetProgramInfo",
           clGetProgramInfo(program, CL_PROGRAM_BINARIES, count * sizeof(unsigned char*), pointers.data(), nullptr));
  return std::move(binaries[index]);
}

// Compiles `source` for device `d` of context `ctx` into a driver module.
// The compiler's log goes to `log` (appended) when asked for.
qx_module_handle_t compile_module(const context_impl& ctx, const device_impl& d, const std::string& source,
                                  const std::string& options, std::string* log) {
  const char* text = source.c_str();
  cl_int error = CL_SUCCESS;
  program_ptr program(clCreateProgramWithSource(ctx.cl, 1, &text, nullptr, &error));
  check_cl("clCreateProgramWithSource", error);
  const cl_int built = clBuildProgram(program.get(), 1, &d.cl, options.c_str(), nullptr, nullptr);
  const std::string compiler_log = build_log(program.get(), d.cl);
  if (log != nullptr) *log += compiler_log;
  if (built != CL_SUCCESS)
    throw_error(errc::build, "build: the OpenCL C source failed to build for '" + d.info.name + "':\n" + compiler_log);
  const std::vector<unsigned char> binary = program_binary(program.get(), d.cl);
  const qx_module_desc_t desc = {QX_STRUCTURE_TYPE_MODULE_DESC, nullptr, QX_MODULE_FORMAT_NATIVE, binary.size(),
                                 binary.data(), options.c_str(), nullptr};
  qx_module_handle_t module = nullptr;
  check_qx("qxModuleCreate", loaded_nivolo_driver()->qxModuleCreate(ctx.nivolo, d.nivolo, &desc, &module, nullptr));
  return module;
}

}  // namespace

std::shared_ptr<kernel_bundle_impl> bundle_from_source(const context& ctx, source_language lang,
                                                       const std::string& source) {
  const auto& c = get_impl(ctx);
  for (const auto& d : c->devices)
    if (!can_compile(*d, lang))
      throw_error(errc::invalid, "create_kernel_bundle_from_source: a device of the context cannot compile the source");
  auto b = std::make_shared<kernel_bundle_impl>();
  b->ctx = c;
  b->devices = c->devices;
  b->state = bundle_state::ext_ulmara_source;
  b->source = source;
  return b;
}

std::shared_ptr<kernel_bundle_impl> bundle_build_source(const kernel_bundle_impl& source,
                                                        const std::vector<device>& devs,
                                                        const ext::ulmara::experimental::properties& props) {
  auto b = std::make_shared<kernel_bundle_impl>();
  b->ctx = source.ctx;
  b->state = bundle_state::executable;
  b->owns_modules = true;  // a failure on a later device destroys the modules made so far
  const std::string options = joined(props.options());
  if (props.log() != nullptr) props.log()->clear();
  for (const device& d : devs) {
    const auto& di = get_impl(d);
    if (!holds_device(source.devices, di.get()))
      throw_error(errc::invalid, "build: a device is not one of the bundle's devices");
    b->modules.push_back(compile_module(*source.ctx, *di, source.source, options, props.log()));
    b->devices.push_back(di);
  }
  return b;
}

}  // namespace detail

bool device::ext_ulmara_can_compile(ext::ulmara::experimental::source_language lang) const {
  return detail::can_compile(*impl_, lang);
}

}  // namespace _V1
}  // namespace sycl
